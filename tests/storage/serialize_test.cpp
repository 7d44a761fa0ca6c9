#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "support/fields.h"
#include "support/storage.h"


namespace {

// Gives every lane of the matrix, spare lanes included, a value of its own.
void markAllLanes(CSSEMatrix& m) {
  for (int g = 0; g < m.GetSSESizeY(); ++g) {
    float* p = reinterpret_cast<float*>(m.GetMatrixDataDirectly()[g]);
    for (int k = 0; k < 4 * m.GetSSESizeX(); ++k) p[k] = 1000.0f * g + k + 0.25f;
  }
}

// A stream of the given version word followed by 32-bit words and floats.
Bytes stream(std::uint32_t version, std::vector<std::int32_t> ints, std::vector<float> floats = {}) {
  CbStreamWriteBinaryBuffer out;
  out.WriteVersion(version);
  for (std::int32_t i : ints) out.WriteInt32(i);
  for (float f : floats) out.WriteFloat(f);
  return Bytes(out.GetData(), out.GetData() + out.GetCount());
}

}  // namespace

TEST(MatrixStream, RawBodyLayoutWithSpareLanes) {
  CSSEMatrix m;
  m.Create(3, 5);
  markAllLanes(m);
  const Bytes b = serialize(m);
  ASSERT_EQ(b.size(), 13u + 3 * 2 * 4 * 4);
  EXPECT_EQ(u32(b, 0), 4u);
  EXPECT_EQ(u32(b, 4), 3u);
  EXPECT_EQ(u32(b, 8), 5u);
  EXPECT_EQ(b[12], 0);
  // Column by column, each column through both SSE lines, spare rows 5..7 included.
  std::size_t at = 13;
  for (int x = 0; x < 3; ++x)
    for (int g = 0; g < 2; ++g)
      for (int l = 0; l < 4; ++l, at += 4)
        EXPECT_EQ(f32(b, at), 1000.0f * g + 4 * x + l + 0.25f) << x << g << l;
  EXPECT_EQ(m.GetMaxAbsCompressionError(), 0.0f);

  // Read back into a matrix of the same size: its memory is kept.
  CSSEMatrix back;
  back.Create(3, 5);
  const __m128* before = back.GetMatrixDataDirectly()[0];
  deserialize(back, b);
  EXPECT_EQ(back.GetMatrixDataDirectly()[0], before);
  for (int g = 0; g < 2; ++g)
    EXPECT_EQ(std::memcmp(back.GetMatrixDataDirectly()[g], m.GetMatrixDataDirectly()[g], 3 * 16), 0) << g;
  // Into one of another size: recreated, parameters other than the method kept.
  CSSEMatrix other;
  other.Create(2, 2);
  other.GetCompressionParameters().m_iMethod = 3;
  other.GetCompressionParameters().m_fJPEGQuality = 0.5f;
  deserialize(other, b);
  EXPECT_EQ(other.GetSizeX(), 3);
  EXPECT_EQ(other.GetSizeY(), 5);
  EXPECT_EQ(other.GetCompressionParameters().m_iMethod, 0);
  EXPECT_EQ(other.GetCompressionParameters().m_fJPEGQuality, 0.5f);
  EXPECT_EQ(other.GetPoint(2, 4), m.GetPoint(2, 4));
}

TEST(MatrixStream, OlderVersionsAndUnknownMethods) {
  {
    SCOPED_TRACE("version 0: nothing after the version word");
    const Bytes b = stream(0, {-1});  // the word after must stay unread
    CSSEMatrix m;
    m.Create(4, 4);
    CbStreamReadBinaryBuffer in(b.data(), b.size());
    m.Serialize(in);
    EXPECT_EQ(m.GetSizeX(), 0);
    EXPECT_EQ(m.GetSizeY(), 0);
    EXPECT_EQ(in.GetRemaining(), 4u);
  }
  {
    SCOPED_TRACE("version 1: sizes and raw body, no method byte");
    CSSEMatrix m;
    m.GetCompressionParameters().m_iMethod = 2;
    deserialize(m, stream(1, {2, 3}, {0, 0.5f, 1, 1.5f, 2, 2.5f, 3, 3.5f}));
    EXPECT_EQ(m.GetCompressionParameters().m_iMethod, 0);
    EXPECT_EQ(m.GetPoint(0, 2), 1.0f);
    EXPECT_EQ(m.GetPoint(1, 0), 2.0f);
    EXPECT_EQ(m.GetPoint(1, 2), 3.0f);
  }
  for (int method : {7, -1, 300}) {
    SCOPED_TRACE("method " + std::to_string(method));
    CSSEMatrix m;
    surface(m, 5, 7);
    m.GetCompressionParameters().m_iMethod = method;
    const Bytes b = serialize(m);
    ASSERT_EQ(b.size(), 13u);  // header only
    EXPECT_EQ(b[12], static_cast<std::uint8_t>(method));
    CSSEMatrix back, fresh;
    back.Create(5, 7);
    back.Fill(3.0f);
    deserialize(back, b);
    EXPECT_EQ(back.GetCompressionParameters().m_iMethod, static_cast<std::uint8_t>(method));
    EXPECT_EQ(back.GetPoint(2, 3), 3.0f);  // same size: kept, nothing read
    deserialize(fresh, b);
    EXPECT_EQ(fresh.GetSizeX(), 5);
    EXPECT_EQ(fresh.GetPoint(2, 3), 0.0f);
  }
  {
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
}

TEST(MatrixStream, RefusedHeaders) {
  struct Case {
    const char* name;
    Bytes bytes;
  };
  const auto header = [](std::int32_t x, std::int32_t y, std::uint8_t method) {
    Bytes b = stream(4, {x, y});
    b.push_back(method);
    return b;
  };
  for (const Case& c :
       {Case{"newer version", stream(5, {})}, Case{"negative size X", header(-1, 4, 0)},
        Case{"negative size Y", header(4, -5, 7)}, Case{"raw body beyond the data", header(1000, 1000, 0)},
        Case{"size beyond any field", header(0x7FFFFFFF, 0x7FFFFFFF, 7)},
        Case{"size beyond any field, no spare line to spare", header(0x40000000, 0, 7)},
        Case{"no columns but a line table beyond any field", header(0, 0x7FFFFFF0, 2)}}) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(accepted(deserialize, c.bytes));
  }
}

TEST(MatrixArchive, TagBytesAndTaglessForm) {
  CSSEMatrix m;
  m.Create(3, 5);
  markAllLanes(m);
  CMemFile file;
  {
    CArchive ar(&file, CArchive::store);
    m.Serialize(ar);
  }
  const Bytes b = file.GetData();
  // Unicode length marker and the UTF-16 tag, then the stream form.
  const Bytes head = archiveTag("CSSEMatrix");
  ASSERT_GE(b.size(), 24u);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 24), head);
  EXPECT_EQ(Bytes(b.begin() + 24, b.end()), serialize(m));
  CSSEMatrix back;
  loadArchive(back, b);
  EXPECT_EQ(back.GetSizeX(), 3);
  EXPECT_EQ(back.GetPoint(2, 4), m.GetPoint(2, 4));

  const Bytes tagless = stream(2, {3}, {1, 2, 3, 4, 5, 6, 7, 8});  // X = 2, Y = 3: a version-1 body
  loadArchive(back, tagless);
  EXPECT_EQ(back.GetSizeX(), 2);
  EXPECT_EQ(back.GetSizeY(), 3);
  EXPECT_EQ(back.GetPoint(0, 0), 1.0f);
  EXPECT_EQ(back.GetPoint(1, 2), 7.0f);
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
  EXPECT_EQ(back.GetSizeX(), 17);
  EXPECT_EQ(back.GetCompressionParameters().m_iMethod, 2);
  EXPECT_LE(maxAbsDifference(m, back), m.GetMaxAbsCompressionError() * 1.0001f + 1e-6f);
  std::remove(path.c_str());

  // A missing file returns false and changes nothing.
  CSSEMatrix kept;
  kept.Create(2, 2);
  kept.Fill(7.0f);
  kept.GetCompressionParameters().m_iMethod = 4;
  EXPECT_FALSE(kept.Load(path.c_str()));
  EXPECT_EQ(kept.GetSizeX(), 2);
  EXPECT_EQ(kept.GetPoint(1, 1), 7.0f);
  EXPECT_EQ(kept.GetCompressionParameters().m_iMethod, 4);
  EXPECT_FALSE(kept.Store((path + ".no_such_dir/x.bin").c_str()));
}
