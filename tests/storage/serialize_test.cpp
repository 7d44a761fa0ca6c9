#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <tuple>

#include "orvik/foundation/Exception.h"
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
  // Wider than one block of columns, every lane a value of its own, spare lanes included.
  CSSEMatrix m = filled(67, 5);
  for (int row = 0; row < 8; ++row)
    for (int x = 0; x < 67; ++x) lane(m, x, row) = 1000.0f * (row >> 2) + 4 * x + (row & 3) + 0.25f;
  const Bytes b = serialize(m);
  ASSERT_EQ(b.size(), 13u + 67 * 2 * 4 * 4);
  EXPECT_EQ((Ints{int(u32(b, 0)), int(u32(b, 4)), int(u32(b, 8)), b[12]}), (Ints{4, 67, 5, 0}));
  EXPECT_EQ(m.GetMaxAbsCompressionError(), 0.0f);
  // Column by column, each column through both SSE lines.
  for (int x = 0; x < 67; ++x)
    for (int row = 0; row < 8; ++row)
      ASSERT_EQ(f32(b, 13 + 4 * (8 * x + row)), lane(m, x, row)) << x << " " << row;
  // Read back into a matrix of the same size its memory is kept; one of another
  // size is recreated, parameters other than the method kept.
  CSSEMatrix same = filled(67, 5), other = filled(2, 2);
  const __m128* memory = same.GetMatrixDataDirectly()[0];
  other.GetCompressionParameters().m_iMethod = 3;
  other.GetCompressionParameters().m_fJPEGQuality = 0.5f;
  deserialize(same, b);
  deserialize(other, b);
  EXPECT_EQ(same.GetMatrixDataDirectly()[0], memory);
  EXPECT_TRUE(sameLanes(same, m));
  EXPECT_TRUE(sameLanes(other, m));
  EXPECT_EQ(described(other), (Ints{67, 5, 0}));
  EXPECT_EQ(other.GetCompressionParameters().m_fJPEGQuality, 0.5f);
}

TEST(MatrixStream, OlderVersionsAndUnknownMethods) {
  {
    SCOPED_TRACE("version 0: nothing after the version word");
    const Bytes b = stream(0, {-1});
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
    SCOPED_TRACE("method " + std::to_string(method) + ": header only, nothing read");
    CSSEMatrix m;
    surface(m, 5, 7);
    m.GetCompressionParameters().m_iMethod = method;
    const Bytes b = serialize(m);
    ASSERT_EQ(b.size(), 13u);
    EXPECT_EQ(b[12], static_cast<std::uint8_t>(method));
    CSSEMatrix back = filled(5, 7, 3.0f), fresh;
    deserialize(back, b);
    deserialize(fresh, b);
    EXPECT_EQ(described(back), (Ints{5, 7, static_cast<std::uint8_t>(method)}));
    EXPECT_TRUE(lanesAre(back, [](int, int) { return 3.0f; }));
    EXPECT_TRUE(fresh.GetSizeX() == 5 && lanesAre(fresh, [](int, int) { return 0.0f; }));
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

TEST(MatrixArchive, TagBytesAndTaglessForm) {
  CSSEMatrix m = filled(3, 5), back;
  pattern(m);
  const Bytes b = storeArchive(m);
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
  EXPECT_THROW(loadArchive(back, Bytes(b.begin(), b.begin() + 26)), CArchiveException);
}

// One small stream of every body kind, invalid values where they apply: cut at
// every byte (and its archive form in steps) it is refused; flipped bytes end
// in a result or a documented exception.
TEST(CorruptInput, TruncatedAndFlippedStreams) {
  for (const auto& [method, passes, invalid] : std::vector<std::tuple<int, unsigned, bool>>{
           {0, 1, false}, {1, 2, false}, {2, 2, true}, {3, 2, true}, {4, 1, true}}) {
    SCOPED_TRACE(testing::Message() << "method " << method);
    CSSEMatrix m;
    surface(m, 13, 9, 4.0f);
    m.SetPoint(3, 3, -7.0f);
    m.SetPoint(12, 8, -7.0f);
    coding(m, method, passes, invalid ? -7.0f : NAN).GetCompressionParameters().m_fInvalidValue = -7.0f;
    const Bytes bytes = serialize(m);
    Bytes archive = archiveTag("CSSEMatrix");
    archive.insert(archive.end(), bytes.begin(), bytes.end());
    ASSERT_TRUE(accepted(deserialize<CSSEMatrix>, bytes) && accepted(loadArchive<CSSEMatrix>, archive));
    for (std::size_t n = 0; n < archive.size(); ++n) {
      ASSERT_FALSE(n < bytes.size() &&
                   accepted(deserialize<CSSEMatrix>, Bytes(bytes.begin(), bytes.begin() + n)))
          << n;
      ASSERT_FALSE(n % 3 == 0 &&
                   accepted(loadArchive<CSSEMatrix>, Bytes(archive.begin(), archive.begin() + n)))
          << n;
    }
    int refused = 0;
    for (std::size_t at = 0; at < bytes.size(); ++at) {
      if (at >= 4 && at < 12) continue;  // flipped sizes: large valid headers, covered by the size tests
      for (unsigned char flip : {0x01, 0x80, 0xFF}) {
        Bytes b = bytes;
        b[at] ^= flip;
        refused += accepted(deserialize<CSSEMatrix>, b) ? 0 : 1;
      }
    }
    EXPECT_GT(refused, 0);
  }
}

// Stretching a pass or mask image to the header would let a tiny file stand for a huge matrix.
TEST(CorruptInput, RefusedHeadersAndImageBlocksThatDoNotMatchThem) {
  const auto header = [](std::int32_t x, std::int32_t y, std::uint8_t method) {
    Bytes b = stream(4, {x, y});
    b.push_back(method);
    return b;
  };
  std::vector<std::pair<std::string, Bytes>> cases = {
      {"newer version", stream(5, {})},
      {"negative size X", header(-1, 4, 0)},
      {"negative size Y", header(4, -5, 7)},
      {"raw body beyond the data", header(1000, 1000, 0)},
      {"size beyond any field", header(0x7FFFFFFF, 0x7FFFFFFF, 7)},
      {"size beyond any field, no spare line to spare", header(0x40000000, 0, 7)},
      {"no columns but a line table beyond any field", header(0, 0x7FFFFFF0, 2)}};
  for (int method : {2, 4})
    for (const auto& [x, y] : {std::pair{13, 3}, std::pair{5, 9}, std::pair{13, 9}}) {
      CSSEMatrix m;
      surface(m, 5, 3, 4.0f);
      auto& [name, b] = cases.emplace_back(
          "method " + std::to_string(method) + ", " + std::to_string(x) + " x " + std::to_string(y),
          serialize(coding(m, method)));
      b[4] = static_cast<unsigned char>(x);
      b[8] = static_cast<unsigned char>(y);
    }
  for (const auto& [name, bytes] : cases) EXPECT_FALSE(accepted(deserialize<CSSEMatrix>, bytes)) << name;
}

// The fuzz targets' seed corpus: valid_* files must read and write back to the
// same values; the others are stored findings, refused or read without harm.
TEST(SeedCorpus, StreamsAndArchivesReplay) {
  for (const char* folder : {"stream", "archive"}) {
    const bool archive = folder[0] == 'a';
    for (const auto& [name, b] : seedFiles(std::string("storage/") + folder)) {
      SCOPED_TRACE(name);
      CSSEMatrix m, back;
      if (!isValidSeed(name)) {
        accepted(archive ? loadArchive<CSSEMatrix> : deserialize<CSSEMatrix>, b, m);
        continue;
      }
      ASSERT_NO_THROW(archive ? loadArchive(m, b) : deserialize(m, b));
      m.GetCompressionParameters().m_iMethod = 0;
      deserialize(back, serialize(m));
      EXPECT_EQ(maxAbsDifference(m, back), 0.0f);
      EXPECT_TRUE(!archive || m.GetSizeX() > 0);
    }
  }
}

// Heights that are not finite must never silently destroy a stored field.
TEST(NonFiniteHeights, EveryMethodKeepsTheFieldOrRefusesIt) {
  constexpr float c_inf = std::numeric_limits<float>::infinity(), c_invalid = -1000.0f;
  for (const float odd : {c_inf, -c_inf, std::numeric_limits<float>::quiet_NaN()})
    for (const int method : {0, 1, 2, 3, 4})
      for (const bool useInvalid : {false, true}) {
        SCOPED_TRACE(testing::Message()
                     << "value " << odd << ", method " << method << ", invalid " << useInvalid);
        CSSEMatrix m, back;
        surface(m, 37, 21);
        m.SetPoint(11, 7, odd);
        // The mask coding counts the invalid value whether or not it is in use.
        coding(m, method, 2, useInvalid ? c_invalid : NAN).GetCompressionParameters().m_fInvalidValue =
            c_invalid;
        if (method >= 1 && method <= 3 && !(useInvalid && method != 1)) {
          CbStreamWriteBinaryBuffer out;
          EXPECT_THROW(m.Serialize(out), CbException);
          EXPECT_EQ(out.GetCount(), 0u) << "bytes written before the refusal";
          continue;
        }
        deserialize(back, serialize(m));
        const float error = m.GetMaxAbsCompressionError(), got = back.GetPoint(11, 7);
        if (method == 4) {
          // Every valid pixel reads back as the mean of the finite ones; the
          // error honestly reports the distance to the odd value.
          EXPECT_TRUE(std::isfinite(back.GetPoint(0, 0)) && got == back.GetPoint(0, 0));
          EXPECT_EQ(error, std::isnan(odd) ? error : c_inf);
          continue;
        }
        EXPECT_TRUE(method == 0 ? got == odd || (std::isnan(got) && std::isnan(odd)) : got == c_invalid);
        back.SetPoint(11, 7, m.GetPoint(0, 0));
        m.SetPoint(11, 7, m.GetPoint(0, 0));
        EXPECT_LE(maxAbsDifference(m, back), error * 1.0001f + 1e-6f);
        EXPECT_LT(error, method == 0 ? 1e-30f : 0.1f);
      }
}
