#include <gtest/gtest.h>

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
  out.WriteString(CString("Höhe"));  // its UTF-8 byte length, then the bytes
  out.WriteBuffer(Bytes{9, 8, 7}.data(), 3);
  EXPECT_EQ(Bytes(out.GetData(), out.GetData() + out.GetCount()),
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
  Bytes back(3);
  in.ReadBuffer(back.data(), 3);
  EXPECT_EQ(back, (Bytes{9, 8, 7}));
  EXPECT_EQ(in.GetRemaining(), 0u);
}

TEST(Streams, ReadingPastTheEndThrowsAndNeverReadsOutside) {
  const Bytes data = {1, 0, 0, 0, 0xFF, 0xFF, 0xFF};
  CbStreamReadBinaryBuffer in(data.data(), data.size());
  EXPECT_EQ(in.ReadInt32(), 1);
  EXPECT_THROW(in.ReadInt32(), CbException) << "int32 with three bytes left";
  EXPECT_EQ(in.GetPosition(), 4u);  // a failed read consumes nothing
  Bytes big(16);
  CbStreamReadBinaryBuffer whole(data.data(), data.size());
  EXPECT_THROW(whole.ReadBuffer(big.data(), big.size()), CbException) << "raw block beyond the end";
  const Bytes s = {0xFF, 0xFF, 0xFF, 0x7F, 'a', 'b'};
  CbStreamReadBinaryBuffer text(s.data(), s.size());
  EXPECT_THROW(text.ReadString(), CbException) << "string whose length exceeds the data";
  CbStreamWriteBinaryBuffer out;  // a version above the maximum was written by a newer library
  out.WriteVersion(5);
  CbStreamReadBinaryBuffer newer(out.GetArray());
  try {
    newer.ReadAndCompareVersion(4);
    FAIL() << "a version above the maximum must throw";
  } catch (const CbException& e) {
    EXPECT_STREQ(e.GetFunction(), "CbStreamRead::ReadAndCompareVersion");
  }
}

TEST(Archive, TypedValuesStringsAndEndOfFile) {
  CMemFile file;
  {
    CArchive ar(&file, CArchive::store);
    ar << std::int32_t(-7) << 2.5f << std::uint8_t(200) << 1.25 << CString("CSSEMatrix");
    AfxWriteStringLength(ar, 300, true);  // long strings switch to the 16-bit length
  }
  const Bytes& bytes = file.GetData();
  ASSERT_EQ(bytes.size(), 17u + 24 + 6);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 4), (Bytes{0xF9, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Bytes(bytes.begin() + 17, bytes.begin() + 25), (Bytes{0xFF, 0xFE, 0xFF, 0x0A, 'C', 0, 'S', 0}));
  EXPECT_EQ(Bytes(bytes.end() - 6, bytes.end()), (Bytes{0xFF, 0xFE, 0xFF, 0xFF, 0x2C, 0x01}));
  file.Seek(0, CFile::begin);
  CArchive ar(&file, CArchive::load);
  std::int32_t i = 0;
  float f = 0;
  std::uint8_t b = 0;
  double d = 0;
  CString s;
  int charSize = 0;
  ar >> i >> f >> b >> d >> s;
  EXPECT_TRUE(i == -7 && f == 2.5f && b == 200 && d == 1.25 && s == CString("CSSEMatrix"));
  EXPECT_EQ(AfxReadStringLength(ar, charSize), 300u);
  EXPECT_EQ(charSize, 2);
  EXPECT_EQ(ar.GetRemaining(), 0u);
  try {
    ar >> i;
    FAIL() << "reading past the end must throw";
  } catch (const CArchiveException& e) {
    EXPECT_EQ(e.m_cause, CArchiveException::endOfFile);
  }
  CMemFile badFile(Bytes{0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 'a', 0});
  CArchive r(&badFile, CArchive::load);
  EXPECT_THROW(r >> s, CArchiveException) << "a string length beyond the data";
}

}  // namespace
