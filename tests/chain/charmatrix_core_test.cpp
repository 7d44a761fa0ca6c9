#include <gtest/gtest.h>

#include <vector>

#include "orvik/chain/SSEcharMatrix.h"
#include "orvik/matrix/ssematrix.h"
#include "support/lanes.h"
#include "support/storage.h"

namespace {

TEST(CharMatrix, LayoutCopiesAndSubtraction) {
  CSSEcharMatrix m(3, 16);
  EXPECT_EQ(std::pair(m.GetSSESizeX(), m.GetSSESizeY()), std::pair(3, 2));
  EXPECT_EQ(CSSEcharMatrix(2, 16 * 40).GetSSESizeY(), 41);
  EXPECT_TRUE(lanesAre(m, [](int, int) { return 0; }));
  m.SetPoint(2, 17, 5);  // clamped to (2, 15): line 0, lane 15
  EXPECT_EQ(lane(m, 2, 15), 5);
  EXPECT_EQ(m.GetPoint(9, 99), 5);
  m.Clear(0x1FF);     // low byte: -1
  m.ClearRow(-5, 7);  // row -5 is clamped to row 0
  EXPECT_EQ(std::pair(m.GetPoint(1, 0), m.GetPoint(1, 1)), (std::pair<char, char>(7, -1)));
  CSSEMatrix f;
  f.Create(8, 33);
  m.CreateSimilar(f);
  EXPECT_EQ(std::pair(m.GetSizeX(), m.GetSSESizeY()), std::pair(8, 3));

  CSSEcharMatrix a(5, 20);
  for (int k = 0; k < 100; ++k) a.SetPoint(k % 5, k / 5, static_cast<char>(k % 5 * 20 + k / 5));
  EXPECT_EQ(CSSEcharMatrix(a).GetPoint(4, 19), 99);
  const CSSEcharMatrix c(a, 3, 10);  // columns 3 .. 10, x1 clamped to the source
  EXPECT_EQ((std::vector<int>{c.GetSizeX(), c.GetSizeY(), c.GetPoint(0, 5), c.GetPoint(1, 19)}),
            (std::vector<int>{2, 20, 65, 99}));
  EXPECT_FALSE(CSSEcharMatrix(a, 3, 2).HasMemory());
  CSSEcharMatrix d(3, 4), one(2, 4);  // wrapping subtraction over the common part
  d.Clear(-128);
  one.Clear(1);
  d.SubMatrix(one);
  EXPECT_EQ(std::pair(d.GetPoint(0, 0), d.GetPoint(2, 0)), (std::pair<char, char>(127, -128)));
}

// The archive form is 8 + X * Y bytes, row by row. Of the fuzz seeds, valid_* files read and
// store back to the same bytes; every other file ends in an archive exception.
TEST(CharMatrix, ArchiveFormAndSeedCorpus) {
  CSSEcharMatrix m(3, 2);
  for (int k = 0; k < 6; ++k) m.SetPoint(k % 3, k / 3, static_cast<char>(10 * (k / 3) + k % 3 - 5));
  EXPECT_EQ(storeArchive(m), (Bytes{3, 0, 0, 0, 2, 0, 0, 0, 0xFB, 0xFC, 0xFD, 5, 6, 7}));
  std::vector<std::pair<std::string, Bytes>> inputs = seedFiles("chain/charmatrix");
  inputs.push_back({"more bytes announced than follow", {0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0, 1, 2, 3}});
  inputs.push_back({"truncated size", {3, 0, 0}});
  inputs.push_back({"negative size Y", {2, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2}});
  ASSERT_GE(inputs.size(), 8u);
  for (const auto& [name, bytes] : inputs) {
    SCOPED_TRACE(name);
    CSSEcharMatrix back;
    try {
      loadArchive(back, bytes);
      EXPECT_TRUE(isValidSeed(name)) << "accepted";
      EXPECT_EQ(storeArchive(back), bytes);
    } catch (const CArchiveException& e) {  // a negative size is a bad schema, not a short file
      EXPECT_FALSE(isValidSeed(name));
      EXPECT_EQ(e.m_cause == CArchiveException::badSchema, name.find("negative") != std::string::npos);
    }
  }
}

}  // namespace
