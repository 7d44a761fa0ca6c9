#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "orvik/chain/SSEcharMatrix.h"
#include "orvik/foundation/platform/Archive.h"
#include "orvik/matrix/ssematrix.h"

namespace {

TEST(CharMatrix, LayoutSixteenRowsPerVector) {
  CSSEcharMatrix m;
  m.Create(3, 16);
  EXPECT_EQ(m.GetSSESizeY(), 2);
  EXPECT_EQ(m.GetSSESizeX(), 3);
  for (int g = 0; g < 2; ++g)
    for (int x = 0; x < 3; ++x) {
      const char* v = reinterpret_cast<const char*>(m.GetMatrixDataDirectly()[g] + x);
      for (int l = 0; l < 16; ++l) EXPECT_EQ(v[l], 0);
    }
  m.SetPoint(2, 17, 5);  // clamped to (2, 15): line 0, lane 15
  EXPECT_EQ(reinterpret_cast<const char*>(m.GetMatrixDataDirectly()[0] + 2)[15], 5);
  EXPECT_EQ(m.GetPoint(9, 99), 5);

  CSSEcharMatrix tall(2, 16 * 40);
  EXPECT_EQ(tall.GetSSESizeY(), 41);
  EXPECT_EQ(tall.GetFields(), 2);
  tall.SetPoint(1, 16 * 40 - 1, -3);
  EXPECT_EQ(tall.GetPoint(1, 10000), -3);

  m.Clear(0x1FF);  // low byte: -1
  EXPECT_EQ(m.GetPoint(0, 0), -1);
  m.ClearRow(-5, 7);
  EXPECT_EQ(m.GetPoint(1, 0), 7);
  EXPECT_EQ(m.GetPoint(1, 1), -1);

  CSSEMatrix f;
  f.Create(8, 33);
  CSSEcharMatrix similar;
  similar.CreateSimilar(f);
  EXPECT_EQ(similar.GetSizeX(), 8);
  EXPECT_EQ(similar.GetSSESizeY(), 3);
}

TEST(CharMatrix, CopiesAndSubtraction) {
  CSSEcharMatrix a(5, 20);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 5; ++x) a.SetPoint(x, y, static_cast<char>(x * 20 + y));
  const CSSEcharMatrix b(a);
  EXPECT_EQ(b.GetPoint(4, 19), 99);

  {
    SCOPED_TRACE("limited columns, x1 beyond the source clamps");
    CSSEcharMatrix c(a, 3, 10);
    EXPECT_EQ(c.GetSizeX(), 2);
    EXPECT_EQ(c.GetSizeY(), 20);
    EXPECT_EQ(c.GetPoint(0, 5), 65);
    EXPECT_EQ(c.GetPoint(1, 19), 99);
    CSSEcharMatrix d(a, 3, 2);
    EXPECT_FALSE(d.HasMemory());
  }
  {
    SCOPED_TRACE("wrapping subtraction over the common part");
    CSSEcharMatrix d(3, 4);
    d.Clear(-128);
    CSSEcharMatrix one(2, 4);
    one.Clear(1);
    d.SubMatrix(one);
    EXPECT_EQ(d.GetPoint(0, 0), 127);
    EXPECT_EQ(d.GetPoint(2, 0), -128);  // column 2 is outside the other matrix
  }
}

TEST(CharMatrix, ArchiveForm) {
  CSSEcharMatrix m(3, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) m.SetPoint(x, y, static_cast<char>(10 * y + x - 5));
  CMemFile file;
  {
    CArchive ar(&file, CArchive::store);
    m.Serialize(ar);
  }
  const std::vector<unsigned char> want = {3, 0, 0, 0, 2, 0, 0, 0, 0xFB, 0xFC, 0xFD, 5, 6, 7};
  EXPECT_EQ(file.GetData(), want);  // 8 + X * Y bytes, row by row

  file.Seek(0, CFile::begin);
  CSSEcharMatrix back;
  CArchive in(&file, CArchive::load);
  back.Serialize(in);
  EXPECT_EQ(back.GetSizeX(), 3);
  EXPECT_EQ(back.GetPoint(2, 1), 7);
  EXPECT_EQ(back.GetPoint(0, 0), -5);

  struct Bad {
    const char* what;
    std::vector<unsigned char> bytes;
  };
  const Bad bad[] = {
      {"negative width", {0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0}},
      {"more bytes announced than follow", {0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0, 1, 2, 3}},
      {"overflowing product", {0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F}},
      {"truncated size", {3, 0, 0}},
      {"one byte short", {2, 0, 0, 0, 2, 0, 0, 0, 1, 2, 3}},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.what);
    CMemFile f(b.bytes);
    CArchive ar(&f, CArchive::load);
    CSSEcharMatrix target;
    EXPECT_THROW(target.Serialize(ar), CArchiveException);
  }
}

// The fuzz target's seed corpus: files named valid_* read and store back to the
// same bytes; every other file ends in an archive exception.
TEST(CharMatrix, SeedCorpusReplays) {
  const char* root = std::getenv("ORVIK_TEST_DATA");
  ASSERT_NE(root, nullptr);
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(root) / "chain" / "charmatrix")) {
    SCOPED_TRACE(entry.path().filename().string());
    ++files;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
    CMemFile file(bytes);
    CArchive ar(&file, CArchive::load);
    CSSEcharMatrix m;
    if (entry.path().filename().string().rfind("valid_", 0) != 0) {
      EXPECT_THROW(m.Serialize(ar), CArchiveException);
      continue;
    }
    ASSERT_NO_THROW(m.Serialize(ar));
    CMemFile out;
    CArchive back(&out, CArchive::store);
    m.Serialize(back);
    EXPECT_EQ(out.GetData(), bytes);
  }
  EXPECT_GE(files, 6);
}

}  // namespace
