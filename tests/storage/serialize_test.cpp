#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "support/fields.h"
#include "support/storage.h"

using Ints = std::vector<int>;

namespace {

// A stream of the given version word followed by 32-bit words and floats.
Bytes stream(std::uint32_t version, std::vector<std::int32_t> ints, std::vector<float> floats = {}) {
  CbStreamWriteBinaryBuffer out;
  out.WriteVersion(version);
  for (std::int32_t i : ints) out.WriteInt32(i);
  for (float f : floats) out.WriteFloat(f);
  return Bytes(out.GetData(), out.GetData() + out.GetCount());
}

// Size X, size Y and method of a matrix.
Ints described(const CSSEMatrix& m) {
  return {m.GetSizeX(), m.GetSizeY(), m.GetCompressionParameters().m_iMethod};
}

}  // namespace

TEST(MatrixStream, RawBodyLayoutWithSpareLanes) {
  CSSEMatrix m = filled(3, 5);
  for (int row = 0; row < 8; ++row)  // every lane a value of its own, spare lanes included
    for (int x = 0; x < 3; ++x) lane(m, x, row) = 1000.0f * (row >> 2) + 4 * x + (row & 3) + 0.25f;
  const Bytes b = serialize(m);
  ASSERT_EQ(b.size(), 13u + 3 * 2 * 4 * 4);
  EXPECT_EQ((Ints{int(u32(b, 0)), int(u32(b, 4)), int(u32(b, 8)), b[12]}), (Ints{4, 3, 5, 0}));
  // Column by column, each column through both SSE lines, spare rows 5..7 included.
  std::size_t at = 13;
  for (int x = 0; x < 3; ++x)
    for (int row = 0; row < 8; ++row, at += 4) EXPECT_EQ(f32(b, at), lane(m, x, row)) << x << " " << row;
  EXPECT_EQ(m.GetMaxAbsCompressionError(), 0.0f);

  // Read back into a matrix of the same size: its memory is kept.
  CSSEMatrix back = filled(3, 5);
  const __m128* before = back.GetMatrixDataDirectly()[0];
  deserialize(back, b);
  EXPECT_EQ(back.GetMatrixDataDirectly()[0], before);
  EXPECT_TRUE(sameLanes(back, m));
  // Into one of another size: recreated, parameters other than the method kept.
  CSSEMatrix other = filled(2, 2);
  other.GetCompressionParameters().m_iMethod = 3;
  other.GetCompressionParameters().m_fJPEGQuality = 0.5f;
  deserialize(other, b);
  EXPECT_EQ(described(other), (Ints{3, 5, 0}));
  EXPECT_EQ(other.GetCompressionParameters().m_fJPEGQuality, 0.5f);
  EXPECT_TRUE(sameLanes(other, m));
}

TEST(MatrixStream, OlderVersionsAndUnknownMethods) {
  {
    SCOPED_TRACE("version 0: nothing after the version word");
    const Bytes b = stream(0, {-1});  // the word after must stay unread
    CSSEMatrix m = filled(4, 4);
    CbStreamReadBinaryBuffer in(b.data(), b.size());
    m.Serialize(in);
    EXPECT_EQ((Ints{m.GetSizeX(), m.GetSizeY(), int(in.GetRemaining())}), (Ints{0, 0, 4}));
  }
  {
    SCOPED_TRACE("version 1: sizes and raw body, no method byte");
    CSSEMatrix m;
    m.GetCompressionParameters().m_iMethod = 2;
    deserialize(m, stream(1, {2, 3}, {0, 0.5f, 1, 1.5f, 2, 2.5f, 3, 3.5f}));
    EXPECT_EQ(described(m), (Ints{2, 3, 0}));
    EXPECT_TRUE(lanesAre(m, [](int x, int row) { return 2.0f * x + 0.5f * row; }));
  }
  for (int method : {7, -1, 300}) {
    SCOPED_TRACE("method " + std::to_string(method));
    CSSEMatrix m;
    surface(m, 5, 7);
    m.GetCompressionParameters().m_iMethod = method;
    const Bytes b = serialize(m);
    ASSERT_EQ(b.size(), 13u);  // header only
    EXPECT_EQ(b[12], static_cast<std::uint8_t>(method));
    CSSEMatrix back = filled(5, 7, 3.0f), fresh;
    deserialize(back, b);
    deserialize(fresh, b);
    EXPECT_EQ(described(back), (Ints{5, 7, static_cast<std::uint8_t>(method)}));
    EXPECT_TRUE(lanesAre(back, [](int, int) { return 3.0f; }));  // same size: kept, nothing read
    EXPECT_EQ(fresh.GetSizeX(), 5);
    EXPECT_TRUE(lanesAre(fresh, [](int, int) { return 0.0f; }));
  }
  SCOPED_TRACE("a value whose low byte names a body is coded as that body");
  CSSEMatrix m, back;
  surface(m, 8, 8);
  m.GetCompressionParameters().m_iMethod = 256 + 2;
  const Bytes b = serialize(m);
  EXPECT_EQ(b[12], 2);
  deserialize(back, b);
  EXPECT_GT(m.GetMaxAbsCompressionError(), 0.0f);
  EXPECT_LE(maxAbsDifference(m, back), m.GetMaxAbsCompressionError() * 1.0001f + 1e-6f);
}

TEST(MatrixStream, RefusedHeaders) {
  const auto header = [](std::int32_t x, std::int32_t y, std::uint8_t method) {
    Bytes b = stream(4, {x, y});
    b.push_back(method);
    return b;
  };
  for (const auto& [name, bytes] : std::vector<std::pair<const char*, Bytes>>{
           {"newer version", stream(5, {})},
           {"negative size X", header(-1, 4, 0)},
           {"negative size Y", header(4, -5, 7)},
           {"raw body beyond the data", header(1000, 1000, 0)},
           {"size beyond any field", header(0x7FFFFFFF, 0x7FFFFFFF, 7)},
           {"size beyond any field, no spare line to spare", header(0x40000000, 0, 7)},
           {"no columns but a line table beyond any field", header(0, 0x7FFFFFF0, 2)}})
    EXPECT_FALSE(accepted(deserialize, bytes)) << name;
}

TEST(MatrixArchive, TagBytesAndTaglessForm) {
  CSSEMatrix m = filled(3, 5), back;
  pattern(m);
  CMemFile file;
  {
    CArchive ar(&file, CArchive::store);
    m.Serialize(ar);
  }
  // Unicode length marker and the UTF-16 tag, then the stream form.
  const Bytes b = file.GetData();
  ASSERT_GE(b.size(), 24u);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 24), archiveTag("CSSEMatrix"));
  EXPECT_EQ(Bytes(b.begin() + 24, b.end()), serialize(m));
  loadArchive(back, b);
  EXPECT_TRUE(sameLanes(back, m));

  loadArchive(back, stream(2, {3}, {1, 2, 3, 4, 5, 6, 7, 8}));  // X = 2, Y = 3: a version-1 body
  EXPECT_EQ((Ints{back.GetSizeX(), back.GetSizeY()}), (Ints{2, 3}));
  EXPECT_TRUE(lanesAre(back, [](int x, int row) { return 1 + 4 * x + row; }));
  // An empty wide string is no tag: the bytes are read as a tagless body.
  EXPECT_THROW(loadArchive(back, Bytes{0xFF, 0xFE, 0xFF, 0x00, 1, 0, 0, 0}), CbException);
  // A tag without a body ends at the archive's end.
  EXPECT_THROW(loadArchive(back, Bytes(b.begin(), b.begin() + 26)), CArchiveException);
}

TEST(MatrixArchive, LoadAndStoreFiles) {
  const std::string path =
      std::string(::testing::TempDir()) + "orvik_" + std::to_string(::getpid()) + "_m.bin";
  CSSEMatrix m, back;
  surface(m, 17, 11);
  m.GetCompressionParameters().m_iMethod = 2;
  m.GetCompressionParameters().m_uiNumberOfPasses = 2;
  ASSERT_TRUE(m.Store(path.c_str()));
  ASSERT_TRUE(back.Load(path.c_str()));
  EXPECT_EQ(described(back), (Ints{17, 11, 2}));
  EXPECT_LE(maxAbsDifference(m, back), m.GetMaxAbsCompressionError() * 1.0001f + 1e-6f);
  std::remove(path.c_str());
  // A missing file returns false and changes nothing.
  CSSEMatrix kept = filled(2, 2, 7.0f);
  kept.GetCompressionParameters().m_iMethod = 4;
  EXPECT_FALSE(kept.Load(path.c_str()));
  EXPECT_EQ(described(kept), (Ints{2, 2, 4}));
  EXPECT_TRUE(lanesAre(kept, [](int, int) { return 7.0f; }));
  EXPECT_FALSE(kept.Store((path + ".no_such_dir/x.bin").c_str()));
}
