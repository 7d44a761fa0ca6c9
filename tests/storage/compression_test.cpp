#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>

#include "orvik/foundation/codecs/ImageCodecs.h"
#include "orvik/foundation/qe/JPEGWriter.h"
#include "orvik/foundation/qe/Quantization.h"
#include "support/fields.h"
#include "support/storage.h"

using orvik::detail::DecodeImage;

namespace {

// Offsets of a multi-pass stream: 13 header bytes, the pass count, then the
// first pass's quantiser header.
constexpr std::size_t c_passCount = 13, c_minimum = 17, c_maximum = 21, c_scale = 25, c_hasInvalid = 29,
                      c_invalid = 30;

CSSEMatrix::UxSCompressionParameters& params(CSSEMatrix& m) { return m.GetCompressionParameters(); }

// The quantiser headers and image blocks of a stream of passes, as the reader meets them.
struct Pass {
  float scale;
  bool hasInvalid;
  Bytes image;
};
std::vector<Pass> passesOf(const Bytes& b) {
  CbStreamReadBinaryBuffer in(b.data() + c_passCount, b.size() - c_passCount);
  std::vector<Pass> passes(in.ReadUInt32());
  for (Pass& p : passes) {
    in.ReadFloat();
    in.ReadFloat();
    p.scale = in.ReadFloat();
    p.hasInvalid = in.ReadUInt8() != 0;
    if (p.hasInvalid) in.ReadFloat();
    p.image.resize(in.ReadUInt32());
    in.ReadBuffer(p.image.data(), p.image.size());
  }
  EXPECT_EQ(in.GetRemaining(), 0u);
  return passes;
}

bool isJpeg(const Bytes& image) { return image.size() > 3 && image[0] == 0xFF && image[1] == 0xD8; }
bool isPng(const Bytes& image) { return image.size() > 8 && image[0] == 0x89 && image[1] == 'P'; }

}  // namespace

TEST(Quantizers, MapAndUnmapContract) {
  const float minimum = -3.25f, maximum = 7.5f, scale = (1.0f / (maximum - minimum)) * 253.999f;
  const QeFloatingPointQuantizationUniform uniform(minimum, maximum, (1.0f / (maximum - minimum)) * 254.999f);
  const QeFloatingPointQuantizationUniformWithInvalid withInvalid(minimum, maximum, scale, -999.0f);
  for (int i = 0; i <= 10000; ++i) {
    const float v = minimum + (maximum - minimum) * i / 10000.0f;
    const unsigned int a = uniform.Map(v), b = withInvalid.Map(v);
    ASSERT_LE(a, 255u) << v;
    ASSERT_LE(b, 254u) << v;
    ASSERT_LE(std::fabs(uniform.Unmap(a) - v), 0.5f / uniform.GetScale() * 1.0001f) << v;
    ASSERT_LE(std::fabs(withInvalid.Unmap(b) - v), 0.5f / scale * 1.0001f) << v;
  }
  EXPECT_EQ(uniform.Map(minimum), 0u);
  EXPECT_EQ(uniform.Map(maximum), 255u);
  EXPECT_EQ(withInvalid.Map(maximum), 254u);
  EXPECT_EQ(withInvalid.Map(-999.0f), 255u);
  EXPECT_EQ(withInvalid.Unmap(255), -999.0f);
  // Values outside the range and NaN stay within the codes.
  EXPECT_EQ(uniform.Map(-1e30f), 0u);
  EXPECT_EQ(uniform.Map(1e30f), 255u);
  EXPECT_EQ(uniform.Map(NAN), 0u);
  EXPECT_EQ(withInvalid.Map(1e30f), 254u);
  // An invalid value inside the range keeps its own code.
  const QeFloatingPointQuantizationUniformWithInvalid inside(0.0f, 10.0f, 25.3999f, 5.0f);
  EXPECT_EQ(inside.Map(5.0f), 255u);
  EXPECT_EQ(inside.Unmap(255), 5.0f);
  EXPECT_NE(inside.Map(5.01f), 255u);
}

TEST(Compression, QuantiserHeaders) {
  CSSEMatrix ramp, back;  // values 0 .. 10
  ramp.Create(11, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 11; ++x) ramp.SetPoint(x, y, static_cast<float>(x));
  params(ramp).m_iMethod = 2;
  struct Case {
    const char* name;
    float maxError, scale;
  };
  for (const Case& c :
       {Case{"finest scale 25.4999", 0.0f, (1.0f / 10.0f) * 254.999f},
        Case{"the error limit when coarser", 0.1f, 0.5f / 0.1f},
        Case{"an error limit finer than the range allows", 0.001f, (1.0f / 10.0f) * 254.999f}}) {
    SCOPED_TRACE(c.name);
    params(ramp).m_fMaxError = c.maxError;
    const Bytes b = serialize(ramp);
    EXPECT_EQ(u32(b, c_passCount), 1u);
    EXPECT_EQ(f32(b, c_minimum), 0.0f);
    EXPECT_EQ(f32(b, c_maximum), 10.0f);
    EXPECT_EQ(f32(b, c_scale), c.scale);
    EXPECT_EQ(b[c_hasInvalid], 0);
  }
  params(ramp).m_fMaxError = 0.0f;
  {
    SCOPED_TRACE("all values equal: scale 1");
    CSSEMatrix flat;
    flat.Create(4, 4);
    flat.Fill(2.5f);
    params(flat).m_iMethod = 2;
    const Bytes b = serialize(flat);
    EXPECT_EQ(std::vector<float>({f32(b, c_minimum), f32(b, c_maximum), f32(b, c_scale)}),
              std::vector<float>({2.5f, 2.5f, 1.0f}));
    deserialize(back, b);
    EXPECT_EQ(back.GetPoint(3, 3), 2.5f);
    EXPECT_EQ(flat.GetMaxAbsCompressionError(), 0.0f);
  }
  for (int method : {2, 3}) {
    SCOPED_TRACE(testing::Message() << "invalid value, method " << method
                                    << ": out of the range, factor 253.999");
    CSSEMatrix m(ramp);
    m.SetPoint(4, 1, -50.0f);
    m.SetPoint(10, 2, -50.0f);
    params(m).m_iMethod = method;
    params(m).m_bUseInvalidValue = true;
    params(m).m_fInvalidValue = -50.0f;
    params(m).m_uiNumberOfPasses = 3;
    const Bytes b = serialize(m);
    EXPECT_EQ(std::vector<float>({f32(b, c_minimum), f32(b, c_maximum), f32(b, c_scale), f32(b, c_invalid)}),
              std::vector<float>({0.0f, 10.0f, (1.0f / 10.0f) * 253.999f, -50.0f}));
    EXPECT_EQ(b[c_hasInvalid], 1);
    EXPECT_FALSE(passesOf(b)[1].hasInvalid);  // later passes keep the invalid cells frozen
    deserialize(back, b);
    EXPECT_EQ(back.GetPoint(4, 1), -50.0f);
    EXPECT_EQ(back.GetPoint(10, 2), -50.0f);
    EXPECT_NEAR(maxAbsDifference(m, back), m.GetMaxAbsCompressionError(), 1e-4f);
  }
  {
    SCOPED_TRACE("method 1 never carries an invalid value");
    CSSEMatrix m(ramp);
    params(m).m_iMethod = 1;
    params(m).m_bUseInvalidValue = true;
    params(m).m_fInvalidValue = 3.0f;
    params(m).m_uiNumberOfPasses = 2;
    for (const Pass& p : passesOf(serialize(m))) EXPECT_FALSE(p.hasInvalid);
  }
  params(ramp).m_uiNumberOfPasses = 0;  // no passes: only the count; zeros come back
  const Bytes b = serialize(ramp);
  EXPECT_EQ(b.size(), 17u);
  EXPECT_EQ(ramp.GetMaxAbsCompressionError(), 10.0f);
  back.Fill(1.0f);
  deserialize(back, b);
  EXPECT_EQ(back.GetPoint(10, 2), 0.0f);
}

TEST(Compression, FixedRangeClampsOnlyValidValues) {
  CSSEMatrix m, back;
  m.Create(6, 2);
  const float values[6] = {-5.0f, 0.0f, 1.0f, 2.0f, 9.0f, -100.0f};
  for (int k = 0; k < 12; ++k) m.SetPoint(k % 6, k / 6, values[k % 6]);
  params(m).m_iMethod = 2;
  params(m).m_bFixedRange = true;
  params(m).m_fRangeMin = 0.0f;
  params(m).m_fRangeMax = 2.0f;
  Bytes b = serialize(m);  // without an invalid value every value is clamped
  EXPECT_EQ(f32(b, c_minimum), 0.0f);
  EXPECT_EQ(f32(b, c_maximum), 2.0f);
  deserialize(back, b);
  const float clamped[6] = {0.0f, 0.0f, 1.0f, 2.0f, 2.0f, 0.0f};
  for (int x = 0; x < 6; ++x) EXPECT_NEAR(back.GetPoint(x, 1), clamped[x], 0.5f / f32(b, c_scale)) << x;
  EXPECT_NEAR(m.GetMaxAbsCompressionError(), 100.0f, 0.01f);

  params(m).m_bUseInvalidValue = true;  // the invalid value keeps its code even outside the range
  params(m).m_fInvalidValue = -100.0f;
  b = serialize(m);
  deserialize(back, b);
  EXPECT_EQ(back.GetPoint(5, 0), -100.0f);
  EXPECT_EQ(back.GetPoint(5, 1), -100.0f);
  EXPECT_NEAR(back.GetPoint(0, 0), 0.0f, 0.5f / f32(b, c_scale));
  EXPECT_NEAR(m.GetMaxAbsCompressionError(), 7.0f, 0.01f);  // 9 clamped to 2
}

TEST(Compression, MultiPassRoundTripsWithinTheReportedError) {
  CSSEMatrix m;
  surface(m, 67, 45, 12.0f);
  params(m).m_fJPEGQuality = 0.8f;
  for (int method : {1, 2, 3})
    for (unsigned passes = 1; passes <= 4; ++passes)
      for (float maxError : {0.0f, 0.01f, 0.2f}) {
        SCOPED_TRACE(testing::Message()
                     << "method " << method << ", passes " << passes << ", max error " << maxError);
        params(m).m_iMethod = method;
        params(m).m_uiNumberOfPasses = passes;
        params(m).m_fMaxError = maxError;
        const Bytes b = serialize(m);
        const float reported = m.GetMaxAbsCompressionError();
        CSSEMatrix back;
        deserialize(back, b);
        ASSERT_EQ(back.GetSizeX(), 67);
        ASSERT_EQ(back.GetSizeY(), 45);
        EXPECT_EQ(back.GetCompressionParameters().m_iMethod, method);
        // The encoder measured its residual against the decoded passes, so the
        // reported error is the real one, up to float rounding.
        EXPECT_NEAR(maxAbsDifference(m, back), reported, 1e-4f);
        const std::vector<Pass> p = passesOf(b);
        ASSERT_EQ(p.size(), passes);
        for (unsigned i = 0; i < passes; ++i) {
          const bool jpeg = method == 1 || (method == 3 && i > 0);
          EXPECT_TRUE(jpeg ? isJpeg(p[i].image) : isPng(p[i].image)) << i;
        }
        if (method != 2) continue;
        // PNG coding is lossless for the bytes: only the last quantiser's half-step remains.
        EXPECT_LE(reported, 0.5f / p.back().scale * 1.001f);
        if (maxError > 0.0f) {
          EXPECT_LE(reported, std::max(maxError, 0.5f / p.back().scale) * 1.001f);
        } else if (passes > 1) {  // a later pass refines what the first one left, far below its step
          EXPECT_LT(reported, 0.05f * (0.5f / p[0].scale));
        }
      }
}

TEST(Compression, ValidityMask) {
  CSSEMatrix m, back;
  m.Create(9, 6);
  double sum = 0.0;
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 9; ++x) {
      const bool invalid = (x == 8 && y == 0) || (x == 0 && y == 5) || (x == 3 && y == 2);
      m.SetPoint(x, y, invalid ? -1.0f : static_cast<float>(x + y));
      sum += invalid ? 0.0 : x + y;
    }
  const float mean = static_cast<float>(sum / 51.0);
  params(m).m_iMethod = 4;
  params(m).m_fInvalidValue = -1.0f;  // counts whatever m_bUseInvalidValue says
  const Bytes b = serialize(m);
  EXPECT_EQ(f32(b, 13), mean);
  EXPECT_EQ(f32(b, 17), -1.0f);
  // The block is a 9 x 6 one-bit TIFF; pixel 8 is the top bit of a row's second byte.
  const Bytes image(b.begin() + 25, b.end());
  ASSERT_EQ(u32(b, 21), image.size());
  EXPECT_TRUE(image[0] == 'I' || image[0] == 'M');
  unsigned width = 0, height = 0;
  const CbArray<unsigned char> bits = DecodeImage(image.data(), image.size(), 1, width, height);
  EXPECT_EQ(width, 9u);
  EXPECT_EQ(height, 6u);
  EXPECT_EQ(Bytes(bits.GetData(), bits.GetData() + bits.GetCount()),
            (Bytes{0x00, 0x80, 0, 0, 0x10, 0, 0, 0, 0, 0, 0x80, 0x00}));
  deserialize(back, b);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 9; ++x) EXPECT_EQ(back.GetPoint(x, y), m.GetPoint(x, y) == -1.0f ? -1.0f : mean);
  EXPECT_NEAR(m.GetMaxAbsCompressionError(), std::max(mean, 13.0f - mean), 1e-5f);
  // No invalid value: every value becomes the mean.
  m.Create(5, 5);
  m.SetPoint(2, 2, 25.0f);
  deserialize(back, serialize(m));
  EXPECT_EQ(back.GetPoint(0, 0), 1.0f);
  EXPECT_EQ(back.GetPoint(2, 2), 1.0f);
}

TEST(Compression, PassLimitsAndEmptyMatrices) {
  CSSEMatrix m;
  surface(m, 4, 4);
  params(m).m_iMethod = 2;
  params(m).m_uiNumberOfPasses = 256;  // refused before anything is written
  CbStreamWriteBinaryBuffer out;
  EXPECT_THROW(m.Serialize(out), CbException);
  EXPECT_EQ(out.GetCount(), 0u);
  // A stored pass count of 256 is refused, though all 256 passes follow.
  params(m).m_uiNumberOfPasses = 1;
  const Bytes one = serialize(m);
  Bytes b(one.begin(), one.begin() + c_passCount);
  b.insert(b.end(), {0, 1, 0, 0});
  for (int i = 0; i < 256; ++i) b.insert(b.end(), one.begin() + c_passCount + 4, one.end());
  EXPECT_FALSE(accepted(deserialize, b));

  for (int method : {1, 2, 3, 4}) {
    SCOPED_TRACE("empty matrix, method " + std::to_string(method));
    CSSEMatrix empty, back;
    empty.Create(0, 5);
    params(empty).m_iMethod = method;
    params(empty).m_uiNumberOfPasses = 2;
    deserialize(back, serialize(empty));
    EXPECT_EQ(back.GetSizeX(), 0);
    EXPECT_EQ(back.GetSizeY(), 5);
    EXPECT_EQ(empty.GetMaxAbsCompressionError(), 0.0f);
  }
}

TEST(Codecs, ImagesRoundTripAndRefuseOtherInputs) {
  const unsigned w = 37, h = 21, stride = (w + 7) / 8;
  CbArray<unsigned char> grey(w * h), bits(stride * h);
  for (unsigned i = 0; i < w * h; ++i) grey[i] = static_cast<unsigned char>((i * 7) ^ (i >> 3));
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x)
      if ((x * x + y) % 5 == 0) bits[y * stride + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
  CbStreamWriteBinaryBuffer jpeg;
  QeJPEGWriter writer(grey, w, h);
  writer.SetQuality(1.0f);
  writer.Serialize(jpeg);
  const CbArray<unsigned char> files[3] = {orvik::detail::EncodePngGray8(grey.GetData(), w, h),
                                           jpeg.GetArray(),
                                           orvik::detail::EncodeTiffG4(bits.GetData(), w, h)};
  const CbArray<unsigned char>* images[3] = {&grey, &grey, &bits};
  const unsigned depth[3] = {8, 8, 1};
  for (int f = 0; f < 3; ++f) {
    SCOPED_TRACE(testing::Message() << "PNG, JPEG, TIFF: " << f);
    const CbArray<unsigned char>& file = files[f];
    const CbArray<unsigned char>& image = *images[f];
    unsigned dw = 0, dh = 0;
    const CbArray<unsigned char> back = DecodeImage(file.GetData(), file.GetCount(), depth[f], dw, dh);
    EXPECT_EQ(dw, w);
    EXPECT_EQ(dh, h);
    ASSERT_EQ(back.GetCount(), image.GetCount());
    int worst = 0;  // PNG and TIFF exact (padding bits clear), JPEG at full quality close
    for (unsigned i = 0; i < image.GetCount(); ++i) worst = std::max(worst, std::abs(back[i] - image[i]));
    EXPECT_LE(worst, f == 1 ? 2 : 0);
    EXPECT_THROW(DecodeImage(file.GetData(), file.GetCount(), 9 - depth[f], dw, dh), CbException)
        << "other depth";
    // Every truncated file is refused; a TIFF ends with the link to a next
    // directory, and without it the image may still be complete, then exact.
    for (std::size_t n = 0; n < file.GetCount(); ++n) try {
        const CbArray<unsigned char> cut = DecodeImage(file.GetData(), n, depth[f], dw, dh);
        ASSERT_EQ(f, 2) << n;
        ASSERT_GE(n + 4, file.GetCount());
        ASSERT_EQ(cut.GetCount(), bits.GetCount());
        ASSERT_EQ(std::memcmp(cut.GetData(), bits.GetData(), bits.GetCount()), 0) << n;
      } catch (const CbException&) {
      }
  }
  CbArray<unsigned char> tooFew(10);
  EXPECT_THROW(QeJPEGWriter(tooFew, w, h).Serialize(jpeg), CbException);
  const unsigned char junk[16] = {'G', 'I', 'F', '8'};
  unsigned dw = 0, dh = 0;
  EXPECT_THROW(DecodeImage(junk, sizeof junk, 8, dw, dh), CbException) << "unknown container";
}

// The codecs keep no shared state: matrices serialised on several threads at
// once give the bytes they give alone.
TEST(Compression, ConcurrentSerialisationMatchesSerial) {
  std::vector<CSSEMatrix> matrices(4);
  std::vector<Bytes> alone(4), together(4);
  for (int i = 0; i < 4; ++i) {
    surface(matrices[i], 31 + i, 17, 2.0f + i);
    params(matrices[i]).m_iMethod = 1 + i;  // JPEG, PNG, PNG + JPEG, mask
    params(matrices[i]).m_uiNumberOfPasses = 2;
    alone[i] = serialize(matrices[i]);
  }
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&, i] {
      CSSEMatrix back;
      for (int round = 0; round < 3; ++round) deserialize(back, together[i] = serialize(matrices[i]));
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(together, alone);
}
