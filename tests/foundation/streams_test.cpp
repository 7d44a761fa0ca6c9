#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "orvik/foundation/Stream.h"
#include "orvik/foundation/platform/Archive.h"

namespace {

using Bytes = std::vector<unsigned char>;

TEST(Streams, TypedValuesRoundTripInLittleEndian) {
  CbStreamWriteBinaryBuffer out;
  out.WriteVersion(4);
  out.WriteBool(true);
  out.WriteInt8(-2);
  out.WriteInt32(-123456);
  out.WriteUInt32(0xDEADBEEF);
  out.WriteUInt64(0x0102030405060708ull);
  out.WriteFloat(1.5f);
  out.WriteString(CString("Höhe"));
  const unsigned char raw[3] = {9, 8, 7};
  out.WriteBuffer(raw, 3);
  // Version word, bool, int8, int32, uint32 and uint64 low byte first, float,
  // string as its UTF-8 byte length and bytes, raw block.
  const Bytes bytes(out.GetData(), out.GetData() + out.GetCount());
  EXPECT_EQ(bytes,
            (Bytes{4, 0, 0, 0, 1, 0xFE, 0xC0, 0x1D, 0xFE, 0xFF, 0xEF, 0xBE, 0xAD, 0xDE, 8,   7,   6, 5, 4,
                   3, 2, 1, 0, 0, 0xC0, 0x3F, 5,    0,    0,    0,    'H',  0xC3, 0xB6, 'h', 'e', 9, 8, 7}));

  CbStreamReadBinaryBuffer in(out.GetArray());
  EXPECT_EQ(in.ReadAndCompareVersion(4), 4u);
  EXPECT_TRUE(in.ReadBool());
  EXPECT_EQ(in.ReadInt8(), -2);
  EXPECT_EQ(in.ReadInt32(), -123456);
  EXPECT_EQ(in.ReadUInt32(), 0xDEADBEEFu);
  EXPECT_EQ(in.ReadUInt64(), 0x0102030405060708ull);
  EXPECT_EQ(in.ReadFloat(), 1.5f);
  EXPECT_EQ(in.ReadString(), CString("Höhe"));
  unsigned char back[3] = {};
  in.ReadBuffer(back, 3);
  EXPECT_EQ(std::memcmp(back, raw, 3), 0);
  EXPECT_EQ(in.GetRemaining(), 0u);
}

TEST(Streams, ReadingPastTheEndThrowsAndNeverReadsOutside) {
  const unsigned char data[7] = {1, 0, 0, 0, 0xFF, 0xFF, 0xFF};
  CbStreamReadBinaryBuffer in(data, sizeof data);
  EXPECT_EQ(in.ReadInt32(), 1);
  EXPECT_THROW(in.ReadInt32(), CbException) << "int32 with three bytes left";
  EXPECT_EQ(in.GetPosition(), 4u);  // a failed read consumes nothing
  EXPECT_EQ(in.ReadUInt8(), 0xFF);
  unsigned char big[16];
  CbStreamReadBinaryBuffer whole(data, sizeof data);
  EXPECT_THROW(whole.ReadBuffer(big, sizeof big), CbException) << "raw block beyond the end";
  const unsigned char s[6] = {0xFF, 0xFF, 0xFF, 0x7F, 'a', 'b'};
  CbStreamReadBinaryBuffer text(s, sizeof s);
  EXPECT_THROW(text.ReadString(), CbException) << "string whose length exceeds the data";
  // A version above the maximum was written by a newer library.
  CbStreamWriteBinaryBuffer out;
  out.WriteVersion(5);
  CbStreamReadBinaryBuffer newer(out.GetArray());
  try {
    newer.ReadAndCompareVersion(4);
    FAIL() << "a version above the maximum must throw";
  } catch (const CbException& e) {
    EXPECT_STREQ(e.GetFunction(), "CbStreamRead::ReadAndCompareVersion");
  }
}

TEST(Archive, TypedValuesAndEndOfFile) {
  CMemFile file;
  {
    CArchive ar(&file, CArchive::store);
    ar << std::int32_t(-7) << 2.5f << std::uint8_t(200) << 1.25;
    ar.Close();
  }
  EXPECT_EQ(file.GetData().size(), 4u + 4 + 1 + 8);
  EXPECT_EQ(file.GetData()[0], 0xF9);
  file.Seek(0, CFile::begin);
  CArchive ar(&file, CArchive::load);
  std::int32_t i = 0;
  float f = 0;
  std::uint8_t b = 0;
  double d = 0;
  ar >> i >> f >> b >> d;
  EXPECT_TRUE(i == -7 && f == 2.5f && b == 200 && d == 1.25);
  EXPECT_EQ(ar.GetRemaining(), 0u);
  try {
    ar >> i;
    FAIL() << "reading past the end must throw";
  } catch (const CArchiveException& e) {
    EXPECT_EQ(e.m_cause, CArchiveException::endOfFile);
  }
}

TEST(Archive, UnicodeStringForm) {
  CMemFile file;
  {
    CArchive ar(&file, CArchive::store);
    ar << CString("CSSEMatrix");
  }
  const Bytes& bytes = file.GetData();
  ASSERT_EQ(bytes.size(), 4u + 20);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 8), (Bytes{0xFF, 0xFE, 0xFF, 0x0A, 'C', 0, 'S', 0}));
  file.Seek(0, CFile::begin);
  CArchive ar(&file, CArchive::load);
  CString s;
  ar >> s;
  EXPECT_EQ(s, CString("CSSEMatrix"));
  {
    SCOPED_TRACE("long strings switch to the 16-bit length");
    CMemFile f2;
    CArchive w(&f2, CArchive::store);
    AfxWriteStringLength(w, 300, true);
    EXPECT_EQ(f2.GetData(), (Bytes{0xFF, 0xFE, 0xFF, 0xFF, 0x2C, 0x01}));
    f2.Seek(0, CFile::begin);
    CArchive r(&f2, CArchive::load);
    int charSize = 0;
    EXPECT_EQ(AfxReadStringLength(r, charSize), 300u);
    EXPECT_EQ(charSize, 2);
  }
  // A length beyond the data ends in endOfFile.
  const unsigned char bad[] = {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 'a', 0};
  CMemFile f3(bad, sizeof bad);
  CArchive r(&f3, CArchive::load);
  EXPECT_THROW(r >> s, CArchiveException);
}

}  // namespace
