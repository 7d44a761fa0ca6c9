#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "orvik/foundation/platform/Archive.h"
#include "orvik/foundation/platform/File.h"
#include "storage_helpers.h"

using namespace storage_test;

namespace {

// Gives every lane of the matrix, spare lanes included, a value of its own.
void markAllLanes(CSSEMatrix& m) {
  for (int g = 0; g < m.GetSSESizeY(); ++g) {
    float* p = reinterpret_cast<float*>(m.GetMatrixDataDirectly()[g]);
    for (int k = 0; k < 4 * m.GetSSESizeX(); ++k) p[k] = 1000.0f * g + k + 0.25f;
  }
}

std::string tempPath(const char* name) {
  return std::string(::testing::TempDir()) + "orvik_" + std::to_string(::getpid()) + "_" + name;
}

Bytes archiveBytes(const CSSEMatrix& m) {
  CMemFile file;
  CArchive ar(&file, CArchive::store);
  const_cast<CSSEMatrix&>(m).Serialize(ar);
  ar.Close();
  return file.GetData();
}

void loadArchive(CSSEMatrix& m, const Bytes& bytes) {
  CMemFile file(bytes);
  CArchive ar(&file, CArchive::load);
  m.Serialize(ar);
}

}  // namespace

TEST(MatrixStream, RawBodyLayoutWithSpareLanes) {
  CSSEMatrix m;
  m.Create(3, 5);
  markAllLanes(m);
  const Bytes b = serialize(m);
  ASSERT_EQ(b.size(), 4u + 4 + 4 + 1 + 3 * 2 * 4 * 4);
  EXPECT_EQ(u32(b, 0), 4u);
  EXPECT_EQ(u32(b, 4), 3u);
  EXPECT_EQ(u32(b, 8), 5u);
  EXPECT_EQ(b[12], 0);
  // Column by column, each column through both SSE lines, spare rows 5..7 included.
  std::size_t at = 13;
  for (int x = 0; x < 3; ++x)
    for (int g = 0; g < 2; ++g)
      for (int l = 0; l < 4; ++l, at += 4) {
        SCOPED_TRACE("x " + std::to_string(x) + " line " + std::to_string(g) + " lane " + std::to_string(l));
        EXPECT_EQ(f32(b, at), 1000.0f * g + 4 * x + l + 0.25f);
      }
  EXPECT_EQ(m.GetMaxAbsCompressionError(), 0.0f);

  CSSEMatrix back;
  deserialize(back, b);
  ASSERT_EQ(back.GetSizeX(), 3);
  ASSERT_EQ(back.GetSizeY(), 5);
  for (int g = 0; g < 2; ++g)
    EXPECT_EQ(std::memcmp(back.GetMatrixDataDirectly()[g], m.GetMatrixDataDirectly()[g], 3 * 16), 0) << g;
}

TEST(MatrixStream, ReadingKeepsMemoryOfTheSameSizeAndRecreatesOtherwise) {
  CSSEMatrix m;
  m.Create(6, 9);
  markAllLanes(m);
  const Bytes b = serialize(m);
  {
    SCOPED_TRACE("same size");
    CSSEMatrix target;
    target.Create(6, 9);
    const __m128* before = target.GetMatrixDataDirectly()[0];
    deserialize(target, b);
    EXPECT_EQ(target.GetMatrixDataDirectly()[0], before);
    EXPECT_EQ(target.GetPoint(5, 8), m.GetPoint(5, 8));
  }
  {
    SCOPED_TRACE("other size, parameters other than the method kept");
    CSSEMatrix target;
    target.Create(2, 2);
    target.GetCompressionParameters().m_iMethod = 3;
    target.GetCompressionParameters().m_fJPEGQuality = 0.5f;
    deserialize(target, b);
    EXPECT_EQ(target.GetSizeX(), 6);
    EXPECT_EQ(target.GetSizeY(), 9);
    EXPECT_EQ(target.GetCompressionParameters().m_iMethod, 0);
    EXPECT_EQ(target.GetCompressionParameters().m_fJPEGQuality, 0.5f);
    EXPECT_EQ(target.GetPoint(3, 7), m.GetPoint(3, 7));
  }
}

TEST(MatrixStream, OlderVersionsAndUnknownMethods) {
  {
    SCOPED_TRACE("version 0: nothing after the version word");
    CbStreamWriteBinaryBuffer out;
    out.WriteVersion(0);
    out.WriteUInt32(0xDEADBEEF);  // must stay unread
    CSSEMatrix m;
    m.Create(4, 4);
    CbStreamReadBinaryBuffer in(out.GetArray());
    m.Serialize(in);
    EXPECT_EQ(m.GetSizeX(), 0);
    EXPECT_EQ(m.GetSizeY(), 0);
    EXPECT_EQ(in.GetRemaining(), 4u);
  }
  {
    SCOPED_TRACE("version 1: sizes and raw body, no method byte");
    CbStreamWriteBinaryBuffer out;
    out.WriteVersion(1);
    out.WriteInt32(2);
    out.WriteInt32(3);
    for (int i = 0; i < 2 * 4; ++i) out.WriteFloat(0.5f * i);
    CSSEMatrix m;
    m.GetCompressionParameters().m_iMethod = 2;
    CbStreamReadBinaryBuffer in(out.GetArray());
    m.Serialize(in);
    EXPECT_EQ(m.GetCompressionParameters().m_iMethod, 0);
    EXPECT_EQ(m.GetPoint(0, 2), 1.0f);
    EXPECT_EQ(m.GetPoint(1, 0), 2.0f);
    EXPECT_EQ(m.GetPoint(1, 2), 3.0f);
    EXPECT_EQ(in.GetRemaining(), 0u);
  }
  for (int method : {7, -1, 300}) {
    SCOPED_TRACE("method " + std::to_string(method));
    CSSEMatrix m;
    surface(m, 5, 7);
    m.GetCompressionParameters().m_iMethod = method;
    const Bytes b = serialize(m);
    ASSERT_EQ(b.size(), 13u);  // header only
    EXPECT_EQ(b[12], static_cast<std::uint8_t>(method));
    CSSEMatrix back;
    back.Create(5, 7);
    back.Fill(3.0f);
    deserialize(back, b);
    EXPECT_EQ(back.GetCompressionParameters().m_iMethod, static_cast<std::uint8_t>(method));
    EXPECT_EQ(back.GetSizeX(), 5);
    EXPECT_EQ(back.GetPoint(2, 3), 3.0f);  // same size: kept, nothing read
    CSSEMatrix fresh;
    deserialize(fresh, b);
    EXPECT_EQ(fresh.GetPoint(2, 3), 0.0f);
  }
  {
    SCOPED_TRACE("a value whose low byte names a body is coded as that body");
    CSSEMatrix m;
    surface(m, 8, 8);
    m.GetCompressionParameters().m_iMethod = 256 + 2;
    const Bytes b = serialize(m);
    EXPECT_EQ(b[12], 2);
    CSSEMatrix back;
    deserialize(back, b);
    EXPECT_LE(maxAbsDifference(m, back), m.GetMaxAbsCompressionError() * 1.0001f + 1e-6f);
    EXPECT_GT(m.GetMaxAbsCompressionError(), 0.0f);
  }
}

TEST(MatrixStream, RefusedInputs) {
  {
    SCOPED_TRACE("newer version");
    CbStreamWriteBinaryBuffer out;
    out.WriteVersion(5);
    CSSEMatrix m;
    CbStreamReadBinaryBuffer in(out.GetArray());
    EXPECT_THROW(m.Serialize(in), CbException);
  }
  struct Case {
    const char* name;
    std::int32_t sizeX, sizeY;
    std::uint8_t method;
  };
  for (const Case& c : {Case{"negative size X", -1, 4, 0}, Case{"negative size Y", 4, -5, 7},
                        Case{"raw body beyond the data", 1000, 1000, 0},
                        Case{"size beyond any field", 0x7FFFFFFF, 0x7FFFFFFF, 7},
                        Case{"size beyond any field, no spare line to spare", 0x40000000, 0, 7},
                        Case{"no columns but a line table beyond any field", 0, 0x7FFFFFF0, 2}}) {
    SCOPED_TRACE(c.name);
    CbStreamWriteBinaryBuffer out;
    out.WriteVersion(4);
    out.WriteInt32(c.sizeX);
    out.WriteInt32(c.sizeY);
    out.WriteUInt8(c.method);
    CSSEMatrix m;
    CbStreamReadBinaryBuffer in(out.GetArray());
    EXPECT_THROW(m.Serialize(in), CbException);
  }
}

TEST(MatrixArchive, TagBytesRoundTripAndTaglessForm) {
  CSSEMatrix m;
  m.Create(3, 5);
  markAllLanes(m);
  const Bytes b = archiveBytes(m);
  {
    SCOPED_TRACE("Unicode length marker and UTF-16 tag, then the stream form");
    ASSERT_GE(b.size(), 24u + 13u);
    EXPECT_EQ(b[0], 0xFF);
    EXPECT_EQ(b[1], 0xFE);
    EXPECT_EQ(b[2], 0xFF);
    EXPECT_EQ(b[3], 0x0A);
    const char* tag = "CSSEMatrix";
    for (int i = 0; i < 10; ++i) {
      EXPECT_EQ(b[4 + 2 * i], static_cast<unsigned char>(tag[i]));
      EXPECT_EQ(b[5 + 2 * i], 0);
    }
    EXPECT_EQ(Bytes(b.begin() + 24, b.end()), serialize(m));
  }
  {
    SCOPED_TRACE("loaded back");
    CSSEMatrix back;
    loadArchive(back, b);
    EXPECT_EQ(back.GetSizeX(), 3);
    EXPECT_EQ(back.GetPoint(2, 4), m.GetPoint(2, 4));
  }
  {
    SCOPED_TRACE("tagless version-1 body");
    CbStreamWriteBinaryBuffer out;
    out.WriteInt32(2);
    out.WriteInt32(3);
    for (int i = 0; i < 2 * 4; ++i) out.WriteFloat(1.0f + i);
    CSSEMatrix back;
    loadArchive(back, Bytes(out.GetData(), out.GetData() + out.GetCount()));
    EXPECT_EQ(back.GetSizeX(), 2);
    EXPECT_EQ(back.GetSizeY(), 3);
    EXPECT_EQ(back.GetPoint(0, 0), 1.0f);
    EXPECT_EQ(back.GetPoint(1, 2), 7.0f);
  }
  {
    SCOPED_TRACE("an empty wide string is no tag: the bytes are read as a tagless body");
    CSSEMatrix back;
    const Bytes emptyTag = {0xFF, 0xFE, 0xFF, 0x00, 1, 0, 0, 0};
    EXPECT_THROW(loadArchive(back, emptyTag), CbException);
  }
  {
    SCOPED_TRACE("tag without a body ends at the archive's end");
    CSSEMatrix back;
    EXPECT_THROW(loadArchive(back, Bytes(b.begin(), b.begin() + 26)), CArchiveException);
  }
}

TEST(MatrixArchive, LoadAndStoreFiles) {
  const std::string path = tempPath("matrix.bin");
  CSSEMatrix m;
  surface(m, 17, 11);
  m.GetCompressionParameters().m_iMethod = 2;
  m.GetCompressionParameters().m_uiNumberOfPasses = 2;
  ASSERT_TRUE(m.Store(path.c_str()));
  {
    SCOPED_TRACE("stored file starts with the tag");
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    unsigned char head[6] = {};
    ASSERT_EQ(std::fread(head, 1, 6, f), 6u);
    std::fclose(f);
    EXPECT_EQ(head[0], 0xFF);
    EXPECT_EQ(head[3], 0x0A);
    EXPECT_EQ(head[4], 'C');
  }
  CSSEMatrix back;
  ASSERT_TRUE(back.Load(path.c_str()));
  EXPECT_EQ(back.GetSizeX(), 17);
  EXPECT_EQ(back.GetCompressionParameters().m_iMethod, 2);
  EXPECT_LE(maxAbsDifference(m, back), m.GetMaxAbsCompressionError() * 1.0001f + 1e-6f);
  {
    SCOPED_TRACE("storing again truncates");
    CSSEMatrix small;
    small.Create(1, 1);
    small.SetPoint(0, 0, 42.0f);
    ASSERT_TRUE(small.Store(path.c_str()));
    ASSERT_TRUE(back.Load(path.c_str()));
    EXPECT_EQ(back.GetSizeX(), 1);
    EXPECT_EQ(back.GetPoint(0, 0), 42.0f);
  }
  std::remove(path.c_str());
  {
    SCOPED_TRACE("missing file");
    CSSEMatrix kept;
    kept.Create(2, 2);
    kept.Fill(7.0f);
    kept.GetCompressionParameters().m_iMethod = 4;
    EXPECT_FALSE(kept.Load(path.c_str()));
    EXPECT_EQ(kept.GetSizeX(), 2);
    EXPECT_EQ(kept.GetPoint(1, 1), 7.0f);
    EXPECT_EQ(kept.GetCompressionParameters().m_iMethod, 4);
    EXPECT_FALSE(kept.Store((tempPath("no_such_dir") + "/x.bin").c_str()));
  }
}
