#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>

#include "orvik/foundation/codecs/ImageCodecs.h"
#include "orvik/foundation/qe/JPEGWriter.h"
#include "orvik/foundation/qe/Quantization.h"
#include "storage_helpers.h"

using namespace storage_test;

namespace {

// Offsets of a multi-pass stream: 13 header bytes, the pass count, then the
// first pass's quantiser header.
constexpr std::size_t c_passCount = 13, c_minimum = 17, c_maximum = 21, c_scale = 25, c_hasInvalid = 29,
                      c_invalid = 30;

CSSEMatrix::UxSCompressionParameters& params(CSSEMatrix& m) { return m.GetCompressionParameters(); }

// Runs a serialised stream of passes and returns the quantiser headers and image
// blocks it holds, as the reader meets them.
struct Pass {
  float minimum, maximum, scale;
  bool hasInvalid;
  Bytes image;
};
std::vector<Pass> passesOf(const Bytes& b) {
  CbStreamReadBinaryBuffer in(b.data(), b.size());
  in.ReadUInt32();
  in.ReadInt32();
  in.ReadInt32();
  in.ReadUInt8();
  std::vector<Pass> passes(in.ReadUInt32());
  for (Pass& p : passes) {
    p.minimum = in.ReadFloat();
    p.maximum = in.ReadFloat();
    p.scale = in.ReadFloat();
    p.hasInvalid = in.ReadUInt8() != 0;
    if (p.hasInvalid) in.ReadFloat();
    p.image.resize(in.ReadUInt32());
    in.ReadBuffer(p.image.data(), p.image.size());
  }
  EXPECT_EQ(in.GetRemaining(), 0u);
  return passes;
}

bool isPng(const Bytes& image) { return image.size() > 8 && image[0] == 0x89 && image[1] == 'P'; }
bool isJpeg(const Bytes& image) { return image.size() > 3 && image[0] == 0xFF && image[1] == 0xD8; }

}  // namespace

TEST(Quantizers, MapAndUnmapContract) {
  const float minimum = -3.25f, maximum = 7.5f;
  const float scale = (1.0f / (maximum - minimum)) * 253.999f;
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
  {
    SCOPED_TRACE("values outside the range and NaN stay within the codes");
    EXPECT_EQ(uniform.Map(-1e30f), 0u);
    EXPECT_EQ(uniform.Map(1e30f), 255u);
    EXPECT_EQ(uniform.Map(NAN), 0u);
    EXPECT_EQ(withInvalid.Map(1e30f), 254u);
  }
  {
    SCOPED_TRACE("an invalid value inside the range keeps its own code");
    const QeFloatingPointQuantizationUniformWithInvalid inside(0.0f, 10.0f, 25.3999f, 5.0f);
    EXPECT_EQ(inside.Map(5.0f), 255u);
    EXPECT_EQ(inside.Unmap(inside.Map(5.0f)), 5.0f);
    EXPECT_NE(inside.Map(5.01f), 255u);
  }
}

TEST(Compression, QuantiserHeaders) {
  CSSEMatrix ramp;  // values 0 .. 10
  ramp.Create(11, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 11; ++x) ramp.SetPoint(x, y, static_cast<float>(x));
  params(ramp).m_iMethod = 2;
  {
    SCOPED_TRACE("finest scale 25.4999, or the error limit when it is coarser");
    Bytes b = serialize(ramp);
    EXPECT_EQ(u32(b, c_passCount), 1u);
    EXPECT_EQ(f32(b, c_minimum), 0.0f);
    EXPECT_EQ(f32(b, c_maximum), 10.0f);
    EXPECT_EQ(f32(b, c_scale), (1.0f / 10.0f) * 254.999f);
    EXPECT_EQ(b[c_hasInvalid], 0);
    params(ramp).m_fMaxError = 0.1f;
    b = serialize(ramp);
    EXPECT_EQ(f32(b, c_scale), 0.5f / 0.1f);
    params(ramp).m_fMaxError = 0.001f;  // finer than the range allows: no effect
    b = serialize(ramp);
    EXPECT_EQ(f32(b, c_scale), (1.0f / 10.0f) * 254.999f);
    params(ramp).m_fMaxError = 0.0f;
  }
  {
    SCOPED_TRACE("all values equal");
    CSSEMatrix flat;
    flat.Create(4, 4);
    flat.Fill(2.5f);
    params(flat).m_iMethod = 2;
    const Bytes b = serialize(flat);
    EXPECT_EQ(f32(b, c_minimum), 2.5f);
    EXPECT_EQ(f32(b, c_maximum), 2.5f);
    EXPECT_EQ(f32(b, c_scale), 1.0f);
    CSSEMatrix back;
    deserialize(back, b);
    EXPECT_EQ(back.GetPoint(3, 3), 2.5f);
    EXPECT_EQ(flat.GetMaxAbsCompressionError(), 0.0f);
  }
  {
    SCOPED_TRACE("invalid value: left out of the range, factor 253.999");
    CSSEMatrix m(ramp);
    m.SetPoint(4, 1, -50.0f);
    params(m).m_bUseInvalidValue = true;
    params(m).m_fInvalidValue = -50.0f;
    const Bytes b = serialize(m);
    EXPECT_EQ(f32(b, c_minimum), 0.0f);
    EXPECT_EQ(f32(b, c_maximum), 10.0f);
    EXPECT_EQ(f32(b, c_scale), (1.0f / 10.0f) * 253.999f);
    EXPECT_EQ(b[c_hasInvalid], 1);
    EXPECT_EQ(f32(b, c_invalid), -50.0f);
    CSSEMatrix back;
    deserialize(back, b);
    EXPECT_EQ(back.GetPoint(4, 1), -50.0f);
  }
  {
    SCOPED_TRACE("method 1 never carries an invalid value");
    CSSEMatrix m(ramp);
    params(m).m_iMethod = 1;
    params(m).m_bUseInvalidValue = true;
    params(m).m_fInvalidValue = 3.0f;
    params(m).m_uiNumberOfPasses = 2;
    for (const Pass& p : passesOf(serialize(m))) {
      EXPECT_FALSE(p.hasInvalid);
      EXPECT_TRUE(isJpeg(p.image));
    }
  }
  {
    SCOPED_TRACE("no passes: only the count; zeros come back");
    CSSEMatrix m(ramp);
    params(m).m_uiNumberOfPasses = 0;
    const Bytes b = serialize(m);
    EXPECT_EQ(b.size(), 17u);
    EXPECT_EQ(m.GetMaxAbsCompressionError(), 10.0f);
    CSSEMatrix back;
    back.Create(11, 3);
    back.Fill(1.0f);
    deserialize(back, b);
    EXPECT_EQ(back.GetPoint(10, 2), 0.0f);
  }
}

TEST(Compression, FixedRangeClampsOnlyValidValues) {
  CSSEMatrix m;
  m.Create(6, 2);
  const float values[6] = {-5.0f, 0.0f, 1.0f, 2.0f, 9.0f, -100.0f};
  for (int x = 0; x < 6; ++x) {
    m.SetPoint(x, 0, values[x]);
    m.SetPoint(x, 1, values[x]);
  }
  params(m).m_iMethod = 2;
  params(m).m_bFixedRange = true;
  params(m).m_fRangeMin = 0.0f;
  params(m).m_fRangeMax = 2.0f;
  {
    SCOPED_TRACE("without an invalid value every value is clamped");
    const Bytes b = serialize(m);
    EXPECT_EQ(f32(b, c_minimum), 0.0f);
    EXPECT_EQ(f32(b, c_maximum), 2.0f);
    CSSEMatrix back;
    deserialize(back, b);
    const float expected[6] = {0.0f, 0.0f, 1.0f, 2.0f, 2.0f, 0.0f};
    for (int x = 0; x < 6; ++x) EXPECT_NEAR(back.GetPoint(x, 1), expected[x], 0.5f / f32(b, c_scale)) << x;
    EXPECT_NEAR(m.GetMaxAbsCompressionError(), 100.0f, 0.01f);
  }
  {
    SCOPED_TRACE("the invalid value keeps its code even outside the range");
    params(m).m_bUseInvalidValue = true;
    params(m).m_fInvalidValue = -100.0f;
    const Bytes b = serialize(m);
    CSSEMatrix back;
    deserialize(back, b);
    EXPECT_EQ(back.GetPoint(5, 0), -100.0f);
    EXPECT_EQ(back.GetPoint(5, 1), -100.0f);
    EXPECT_NEAR(back.GetPoint(0, 0), 0.0f, 0.5f / f32(b, c_scale));
    EXPECT_NEAR(m.GetMaxAbsCompressionError(), 7.0f, 0.01f);  // 9 clamped to 2
  }
}

TEST(Compression, MultiPassRoundTripsWithinTheReportedError) {
  CSSEMatrix m;
  surface(m, 67, 45, 12.0f);
  for (int method : {1, 2, 3}) {
    for (unsigned passes = 1; passes <= 4; ++passes) {
      for (float maxError : {0.0f, 0.01f, 0.2f}) {
        SCOPED_TRACE("method " + std::to_string(method) + ", passes " + std::to_string(passes) + ", max error " +
                     std::to_string(maxError));
        params(m).m_iMethod = method;
        params(m).m_uiNumberOfPasses = passes;
        params(m).m_fMaxError = maxError;
        params(m).m_fJPEGQuality = 0.8f;
        const Bytes b = serialize(m);
        const float reported = m.GetMaxAbsCompressionError();
        CSSEMatrix back;
        deserialize(back, b);
        ASSERT_EQ(back.GetSizeX(), 67);
        ASSERT_EQ(back.GetSizeY(), 45);
        EXPECT_EQ(back.GetCompressionParameters().m_iMethod, method);
        // The encoder measured its residual against the decoded passes, so the
        // reported error is the real one, up to float rounding.
        const float real = maxAbsDifference(m, back);
        EXPECT_NEAR(real, reported, 1e-4f);

        const std::vector<Pass> p = passesOf(b);
        ASSERT_EQ(p.size(), passes);
        for (unsigned i = 0; i < passes; ++i) {
          const bool jpeg = method == 1 || (method == 3 && i > 0);
          EXPECT_EQ(isJpeg(p[i].image), jpeg) << i;
          EXPECT_EQ(isPng(p[i].image), !jpeg) << i;
        }
        if (method == 2) {
          // PNG coding is lossless for the bytes: only the last quantiser's
          // half-step remains.
          EXPECT_LE(reported, 0.5f / p.back().scale * 1.001f);
          if (maxError > 0.0f) {
            EXPECT_LE(reported, std::max(maxError, 0.5f / p.back().scale) * 1.001f);
          } else if (passes > 1) {
            // A later pass refines what the first one left, far below its step.
            EXPECT_LT(reported, 0.05f * (0.5f / p[0].scale));
          }
        }
      }
    }
  }
}

TEST(Compression, InvalidPixelsStayFrozenAcrossPasses) {
  CSSEMatrix m;
  surface(m, 40, 23, 3.0f);
  for (int y = 5; y < 12; ++y)
    for (int x = 10; x < 30; ++x) m.SetPoint(x, y, 0.0f);
  m.SetPoint(0, 22, 0.0f);
  params(m).m_bUseInvalidValue = true;
  params(m).m_fInvalidValue = 0.0f;
  for (int method : {2, 3}) {
    SCOPED_TRACE("method " + std::to_string(method));
    params(m).m_iMethod = method;
    params(m).m_uiNumberOfPasses = 3;
    const Bytes b = serialize(m);
    const std::vector<Pass> p = passesOf(b);
    EXPECT_TRUE(p[0].hasInvalid);
    EXPECT_FALSE(p[1].hasInvalid);
    CSSEMatrix back;
    deserialize(back, b);
    for (int y = 5; y < 12; ++y)
      for (int x = 10; x < 30; ++x) ASSERT_EQ(back.GetPoint(x, y), 0.0f) << x << "," << y;
    EXPECT_EQ(back.GetPoint(0, 22), 0.0f);
    EXPECT_NEAR(maxAbsDifference(m, back), m.GetMaxAbsCompressionError(), 1e-4f);
  }
}

TEST(Compression, ValidityMask) {
  CSSEMatrix m;
  m.Create(9, 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 9; ++x) m.SetPoint(x, y, static_cast<float>(x + y));
  m.SetPoint(8, 0, -1.0f);
  m.SetPoint(0, 5, -1.0f);
  m.SetPoint(3, 2, -1.0f);
  params(m).m_iMethod = 4;
  params(m).m_fInvalidValue = -1.0f;  // counts whatever m_bUseInvalidValue says
  double sum = 0.0;
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 9; ++x) sum += m.GetPoint(x, y) == -1.0f ? 0.0 : m.GetPoint(x, y);
  const float mean = static_cast<float>(sum / 51.0);

  const Bytes b = serialize(m);
  EXPECT_EQ(f32(b, 13), mean);
  EXPECT_EQ(f32(b, 17), -1.0f);
  {
    SCOPED_TRACE("the block is a 9 x 6 one-bit image; pixel 8 is the top bit of a row's second byte");
    const Bytes image(b.begin() + 25, b.end());
    ASSERT_EQ(u32(b, 21), image.size());
    EXPECT_TRUE(image[0] == 'I' || image[0] == 'M');
    unsigned width = 0, height = 0;
    const CbArray<unsigned char> bits = orvik::detail::DecodeImage(image.data(), image.size(), 1, width, height);
    EXPECT_EQ(width, 9u);
    EXPECT_EQ(height, 6u);
    ASSERT_EQ(bits.GetCount(), 12u);
    const unsigned char expected[12] = {0x00, 0x80, 0, 0, 0x10, 0, 0, 0, 0, 0, 0x80, 0x00};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(bits[i], expected[i]) << i;
  }
  CSSEMatrix back;
  deserialize(back, b);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 9; ++x) EXPECT_EQ(back.GetPoint(x, y), m.GetPoint(x, y) == -1.0f ? -1.0f : mean);
  EXPECT_NEAR(m.GetMaxAbsCompressionError(), std::max(mean, 13.0f - mean), 1e-5f);
  {
    SCOPED_TRACE("no invalid value: every value becomes the mean");
    CSSEMatrix flat;
    flat.Create(5, 5);
    flat.SetPoint(2, 2, 25.0f);
    params(flat).m_iMethod = 4;
    params(flat).m_fInvalidValue = -1.0f;
    CSSEMatrix r;
    deserialize(r, serialize(flat));
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 5; ++x) EXPECT_EQ(r.GetPoint(x, y), 1.0f);
  }
}

TEST(Compression, PassLimitsAndEmptyMatrices) {
  {
    SCOPED_TRACE("more than 255 passes is refused before anything is written");
    CSSEMatrix m;
    surface(m, 4, 4);
    params(m).m_iMethod = 2;
    params(m).m_uiNumberOfPasses = 256;
    CbStreamWriteBinaryBuffer out;
    EXPECT_THROW(m.Serialize(out), CbException);
    EXPECT_EQ(out.GetCount(), 0u);
  }
  {
    SCOPED_TRACE("a stored pass count above 255 is refused");
    CbStreamWriteBinaryBuffer out;
    out.WriteVersion(4);
    out.WriteInt32(2);
    out.WriteInt32(2);
    out.WriteUInt8(2);
    out.WriteUInt32(256);
    CSSEMatrix m;
    CbStreamReadBinaryBuffer in(out.GetArray());
    EXPECT_THROW(m.Serialize(in), CbException);
  }
  for (int method : {1, 2, 3, 4}) {
    SCOPED_TRACE("empty matrix, method " + std::to_string(method));
    CSSEMatrix m;
    m.Create(0, 5);
    params(m).m_iMethod = method;
    params(m).m_uiNumberOfPasses = 2;
    CSSEMatrix back;
    deserialize(back, serialize(m));
    EXPECT_EQ(back.GetSizeX(), 0);
    EXPECT_EQ(back.GetSizeY(), 5);
    EXPECT_EQ(m.GetMaxAbsCompressionError(), 0.0f);
  }
}

TEST(Codecs, ImagesRoundTripAndRefuseOtherDepths) {
  const unsigned w = 37, h = 21;
  CbArray<unsigned char> grey(w * h);
  for (unsigned i = 0; i < w * h; ++i) grey[i] = static_cast<unsigned char>((i * 7) ^ (i >> 3));
  {
    SCOPED_TRACE("PNG is exact");
    const CbArray<unsigned char> file = orvik::detail::EncodePngGray8(grey.GetData(), w, h);
    unsigned dw = 0, dh = 0;
    const CbArray<unsigned char> back = orvik::detail::DecodeImage(file.GetData(), file.GetCount(), 8, dw, dh);
    EXPECT_EQ(dw, w);
    EXPECT_EQ(dh, h);
    ASSERT_EQ(back.GetCount(), grey.GetCount());
    EXPECT_EQ(std::memcmp(back.GetData(), grey.GetData(), grey.GetCount()), 0);
    EXPECT_THROW(orvik::detail::DecodeImage(file.GetData(), file.GetCount(), 1, dw, dh), CbException);
  }
  {
    SCOPED_TRACE("JPEG at full quality is close");
    CbArray<unsigned char> smooth(w * h);
    for (unsigned y = 0; y < h; ++y)
      for (unsigned x = 0; x < w; ++x) smooth[y * w + x] = static_cast<unsigned char>(4 * x + 3 * y);
    QeJPEGWriter writer(smooth, w, h);
    writer.SetQuality(1.0f);
    CbStreamWriteBinaryBuffer out;
    writer.Serialize(out);
    unsigned dw = 0, dh = 0;
    const CbArray<unsigned char> back = orvik::detail::DecodeImage(out.GetData(), out.GetCount(), 8, dw, dh);
    ASSERT_EQ(back.GetCount(), smooth.GetCount());
    int worst = 0;
    for (unsigned i = 0; i < w * h; ++i) worst = std::max(worst, std::abs(back[i] - smooth[i]));
    EXPECT_LE(worst, 2);
    EXPECT_THROW(orvik::detail::DecodeImage(out.GetData(), out.GetCount(), 1, dw, dh), CbException);
    CbArray<unsigned char> tooFew(10);
    EXPECT_THROW(QeJPEGWriter(tooFew, w, h).Serialize(out), CbException);
  }
  {
    SCOPED_TRACE("group 4 TIFF is exact, padding bits clear");
    const unsigned stride = (w + 7) / 8;
    CbArray<unsigned char> bits(stride * h);
    for (unsigned y = 0; y < h; ++y)
      for (unsigned x = 0; x < w; ++x)
        if ((x * x + y) % 5 == 0) bits[y * stride + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
    const CbArray<unsigned char> file = orvik::detail::EncodeTiffG4(bits.GetData(), w, h);
    unsigned dw = 0, dh = 0;
    const CbArray<unsigned char> back = orvik::detail::DecodeImage(file.GetData(), file.GetCount(), 1, dw, dh);
    EXPECT_EQ(dw, w);
    EXPECT_EQ(dh, h);
    ASSERT_EQ(back.GetCount(), bits.GetCount());
    EXPECT_EQ(std::memcmp(back.GetData(), bits.GetData(), bits.GetCount()), 0);
    EXPECT_THROW(orvik::detail::DecodeImage(file.GetData(), file.GetCount(), 8, dw, dh), CbException);
  }
  {
    SCOPED_TRACE("every truncated image file is refused or, for TIFF, still gives the whole image");
    const unsigned stride = (w + 7) / 8;
    CbArray<unsigned char> bits(stride * h);
    bits[3] = 0x5A;
    CbStreamWriteBinaryBuffer jpeg;
    QeJPEGWriter(grey, w, h).Serialize(jpeg);
    const CbArray<unsigned char> files[3] = {orvik::detail::EncodePngGray8(grey.GetData(), w, h), jpeg.GetArray(),
                                             orvik::detail::EncodeTiffG4(bits.GetData(), w, h)};
    const unsigned depth[3] = {8, 8, 1};
    for (int f = 0; f < 3; ++f)
      for (std::size_t n = 0; n < files[f].GetCount(); ++n) {
        unsigned dw = 0, dh = 0;
        if (f < 2) {
          ASSERT_THROW(orvik::detail::DecodeImage(files[f].GetData(), n, depth[f], dw, dh), CbException)
              << "file " << f << ", " << n << " bytes";
          continue;
        }
        // A TIFF ends with the link to a next directory; without it the image
        // is still complete, and then it must be the very image.
        try {
          const CbArray<unsigned char> back = orvik::detail::DecodeImage(files[f].GetData(), n, 1, dw, dh);
          ASSERT_EQ(back.GetCount(), bits.GetCount()) << n;
          ASSERT_EQ(std::memcmp(back.GetData(), bits.GetData(), bits.GetCount()), 0) << n;
          ASSERT_GE(n + 4, files[f].GetCount());
        } catch (const CbException&) {
        }
      }
  }
  {
    SCOPED_TRACE("unknown container");
    const unsigned char junk[16] = {'G', 'I', 'F', '8'};
    unsigned dw = 0, dh = 0;
    EXPECT_THROW(orvik::detail::DecodeImage(junk, sizeof junk, 8, dw, dh), CbException);
  }
}
