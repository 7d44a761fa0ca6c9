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
using Floats = std::vector<float>;

namespace {

// Offsets of a multi-pass stream: 13 header bytes, the pass count, then the
// first pass's quantiser header.
constexpr std::size_t c_passCount = 13, c_minimum = 17, c_maximum = 21, c_scale = 25, c_hasInvalid = 29,
                      c_invalid = 30;

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

}  // namespace

TEST(Quantizers, MapAndUnmapContract) {
  const float minimum = -3.25f, maximum = 7.5f, scale = (1.0f / (maximum - minimum)) * 253.999f;
  const QeFloatingPointQuantizationUniform uniform(minimum, maximum, (1.0f / (maximum - minimum)) * 254.999f);
  const QeFloatingPointQuantizationUniformWithInvalid withInvalid(minimum, maximum, scale, -999.0f);
  for (int i = 0; i <= 10000; ++i) {
    const float v = minimum + (maximum - minimum) * i / 10000.0f;
    const unsigned int a = uniform.Map(v), b = withInvalid.Map(v);
    ASSERT_TRUE(a <= 255u && b <= 254u) << v;
    ASSERT_LE(std::fabs(uniform.Unmap(a) - v), 0.5f / uniform.GetScale() * 1.0001f) << v;
    ASSERT_LE(std::fabs(withInvalid.Unmap(b) - v), 0.5f / scale * 1.0001f) << v;
  }
  // The ends of the range, values outside it and NaN stay within the codes;
  // the invalid value has its own, also inside the range.
  const QeFloatingPointQuantizationUniformWithInvalid inside(0.0f, 10.0f, 25.3999f, 5.0f);
  EXPECT_EQ((std::vector<unsigned>{uniform.Map(minimum), uniform.Map(maximum), withInvalid.Map(maximum),
                                   withInvalid.Map(-999.0f), uniform.Map(-1e30f), uniform.Map(1e30f),
                                   uniform.Map(NAN), withInvalid.Map(1e30f), inside.Map(5.0f)}),
            (std::vector<unsigned>{0, 255, 254, 255, 0, 255, 0, 254, 255}));
  EXPECT_EQ((Floats{withInvalid.Unmap(255), inside.Unmap(255)}), (Floats{-999.0f, 5.0f}));
  EXPECT_NE(inside.Map(5.01f), 255u);
}

TEST(Compression, QuantiserHeaders) {
  CSSEMatrix ramp = field(11, 3, [](int x, int) { return x; });  // values 0 .. 10
  coding(ramp, 2);
  // The finest scale, the error limit when coarser, an error limit finer than the range allows.
  for (const auto& [maxError, scale] :
       {std::pair{0.0f, (1.0f / 10.0f) * 254.999f}, std::pair{0.1f, 0.5f / 0.1f},
        std::pair{0.001f, (1.0f / 10.0f) * 254.999f}}) {
    SCOPED_TRACE(maxError);
    ramp.GetCompressionParameters().m_fMaxError = maxError;
    const Bytes b = serialize(ramp);
    EXPECT_EQ((Floats{float(u32(b, c_passCount)), f32(b, c_minimum), f32(b, c_maximum), f32(b, c_scale),
                      float(b[c_hasInvalid])}),
              (Floats{1.0f, 0.0f, 10.0f, scale, 0.0f}));
  }
  ramp.GetCompressionParameters().m_fMaxError = 0.0f;
  CSSEMatrix flat = filled(4, 4, 2.5f);  // all values equal: scale 1
  const Bytes fb = serialize(coding(flat, 2));
  EXPECT_EQ((Floats{f32(fb, c_minimum), f32(fb, c_maximum), f32(fb, c_scale), readBack(fb).GetPoint(3, 3),
                    flat.GetMaxAbsCompressionError()}),
            (Floats{2.5f, 2.5f, 1.0f, 2.5f, 0.0f}));
  for (int method : {2, 3}) {
    SCOPED_TRACE(testing::Message() << "invalid value, method " << method
                                    << ": out of the range, factor 253.999");
    CSSEMatrix m(ramp);
    m.SetPoint(4, 1, -50.0f);
    m.SetPoint(10, 2, -50.0f);
    const Bytes b = serialize(coding(m, method, 3, -50.0f));
    EXPECT_EQ((Floats{f32(b, c_minimum), f32(b, c_maximum), f32(b, c_scale), f32(b, c_invalid),
                      float(b[c_hasInvalid])}),
              (Floats{0.0f, 10.0f, (1.0f / 10.0f) * 253.999f, -50.0f, 1.0f}));
    EXPECT_FALSE(passesOf(b)[1].hasInvalid);  // later passes keep the invalid cells frozen
    const CSSEMatrix back = readBack(b);
    EXPECT_EQ((Floats{back.GetPoint(4, 1), back.GetPoint(10, 2)}), (Floats{-50.0f, -50.0f}));
    EXPECT_NEAR(maxAbsDifference(m, back), m.GetMaxAbsCompressionError(), 1e-4f);
  }
  CSSEMatrix m(ramp);
  for (const Pass& p : passesOf(serialize(coding(m, 1, 2, 3.0f)))) EXPECT_FALSE(p.hasInvalid) << "method 1";
  // No passes: only the count; zeros come back.
  const Bytes b = serialize(coding(ramp, 2, 0));
  EXPECT_EQ((Floats{float(b.size()), ramp.GetMaxAbsCompressionError()}), (Floats{17.0f, 10.0f}));
  CSSEMatrix back = filled(11, 3, 1.0f);
  deserialize(back, b);
  EXPECT_EQ(back.GetPoint(10, 2), 0.0f);
}

TEST(Compression, FixedRangeClampsOnlyValidValues) {
  const float values[6] = {-5.0f, 0.0f, 1.0f, 2.0f, 9.0f, -100.0f}, clamped[6] = {0, 0, 1, 2, 2, 0};
  CSSEMatrix m = field(6, 2, [&](int x, int) { return values[x]; });
  auto& p = coding(m, 2).GetCompressionParameters();
  p.m_bFixedRange = true;
  p.m_fRangeMin = 0.0f;
  p.m_fRangeMax = 2.0f;
  Bytes b = serialize(m);  // without an invalid value every value is clamped
  EXPECT_EQ((Floats{f32(b, c_minimum), f32(b, c_maximum)}), (Floats{0.0f, 2.0f}));
  CSSEMatrix back = readBack(b);
  for (int x = 0; x < 6; ++x) EXPECT_NEAR(back.GetPoint(x, 1), clamped[x], 0.5f / f32(b, c_scale)) << x;
  EXPECT_NEAR(m.GetMaxAbsCompressionError(), 100.0f, 0.01f);
  // The invalid value keeps its code even outside the range.
  b = serialize(coding(m, 2, 1, -100.0f));
  back = readBack(b);
  EXPECT_EQ((Floats{back.GetPoint(5, 0), back.GetPoint(5, 1)}), (Floats{-100.0f, -100.0f}));
  EXPECT_NEAR(back.GetPoint(0, 0), 0.0f, 0.5f / f32(b, c_scale));
  EXPECT_NEAR(m.GetMaxAbsCompressionError(), 7.0f, 0.01f);  // 9 clamped to 2
}

TEST(Compression, MultiPassRoundTripsWithinTheReportedError) {
  CSSEMatrix m;
  surface(m, 67, 45, 12.0f);
  m.GetCompressionParameters().m_fJPEGQuality = 0.8f;
  for (int method : {1, 2, 3})
    for (unsigned passes = 1; passes <= 4; ++passes)
      for (float maxError : {0.0f, 0.01f, 0.2f}) {
        SCOPED_TRACE(testing::Message()
                     << "method " << method << ", passes " << passes << ", max error " << maxError);
        coding(m, method, passes).GetCompressionParameters().m_fMaxError = maxError;
        const Bytes b = serialize(m);
        const float reported = m.GetMaxAbsCompressionError();
        const CSSEMatrix back = readBack(b);
        ASSERT_EQ((std::vector<int>{back.GetSizeX(), back.GetSizeY()}), (std::vector<int>{67, 45}));
        EXPECT_EQ(back.GetCompressionParameters().m_iMethod, method);
        // Measured against the decoded passes, the reported error is the real one.
        EXPECT_NEAR(maxAbsDifference(m, back), reported, 1e-4f);
        const std::vector<Pass> p = passesOf(b);
        ASSERT_EQ(p.size(), passes);
        for (unsigned i = 0; i < passes; ++i) {
          const bool jpeg = method == 1 || (method == 3 && i > 0);
          EXPECT_EQ(Bytes(p[i].image.begin(), p[i].image.begin() + 2),
                    (jpeg ? Bytes{0xFF, 0xD8} : Bytes{0x89, 'P'}))
              << i;
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
  const auto invalid = [](int x, int y) {
    return (x == 8 && y == 0) || (x == 0 && y == 5) || (x == 3 && y == 2);
  };
  CSSEMatrix m = field(9, 6, [&](int x, int y) { return invalid(x, y) ? -1.0f : static_cast<float>(x + y); });
  const float mean = static_cast<float>((9 * 6 * 6.5 - 8 - 5 - 5) / 51.0);
  coding(m, 4).GetCompressionParameters().m_fInvalidValue = -1.0f;  // counts whatever m_bUseInvalidValue says
  const Bytes b = serialize(m);
  EXPECT_EQ((Floats{f32(b, 13), f32(b, 17)}), (Floats{mean, -1.0f}));
  // The block is a 9 x 6 one-bit TIFF; pixel 8 is the top bit of a row's second byte.
  const Bytes image(b.begin() + 25, b.end());
  ASSERT_EQ(u32(b, 21), image.size());
  EXPECT_TRUE(image[0] == 'I' || image[0] == 'M');
  unsigned width = 0, height = 0;
  const CbArray<unsigned char> bits = DecodeImage(image.data(), image.size(), 1, width, height);
  EXPECT_EQ((std::vector<unsigned>{width, height}), (std::vector<unsigned>{9, 6}));
  EXPECT_EQ(Bytes(bits.GetData(), bits.GetData() + bits.GetCount()),
            (Bytes{0x00, 0x80, 0, 0, 0x10, 0, 0, 0, 0, 0, 0x80, 0x00}));
  EXPECT_TRUE(fieldIs(readBack(b), [&](int x, int y) { return invalid(x, y) ? -1.0f : mean; }));
  EXPECT_NEAR(m.GetMaxAbsCompressionError(), std::max(mean, 13.0f - mean), 1e-5f);
  // No invalid value: every value becomes the mean.
  m.Create(5, 5);
  m.SetPoint(2, 2, 25.0f);
  EXPECT_TRUE(fieldIs(readBack(serialize(m)), [](int, int) { return 1.0f; }));
}

TEST(Compression, PassLimitsAndEmptyMatrices) {
  CSSEMatrix m;
  surface(m, 4, 4);
  CbStreamWriteBinaryBuffer out;
  EXPECT_THROW(coding(m, 2, 256).Serialize(out), CbException);  // refused before anything is written
  EXPECT_EQ(out.GetCount(), 0u);
  // A stored pass count of 256 is refused, though all 256 passes follow.
  const Bytes one = serialize(coding(m, 2, 1));
  Bytes b(one.begin(), one.begin() + c_passCount);
  b.insert(b.end(), {0, 1, 0, 0});
  for (int i = 0; i < 256; ++i) b.insert(b.end(), one.begin() + c_passCount + 4, one.end());
  EXPECT_FALSE(accepted(deserialize<CSSEMatrix>, b));
  for (int method : {1, 2, 3, 4}) {
    CSSEMatrix empty = filled(0, 5);
    const CSSEMatrix back = readBack(serialize(coding(empty, method, 2)));
    EXPECT_EQ((Floats{float(back.GetSizeX()), float(back.GetSizeY()), empty.GetMaxAbsCompressionError()}),
              (Floats{0, 5, 0}))
        << "empty matrix, method " << method;
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
  for (int f = 0; f < 3; ++f) {
    SCOPED_TRACE(testing::Message() << "PNG, JPEG, TIFF: " << f);
    const CbArray<unsigned char>&file = files[f], &image = f < 2 ? grey : bits;
    const unsigned depth = f < 2 ? 8 : 1;
    unsigned dw = 0, dh = 0;
    const CbArray<unsigned char> back = DecodeImage(file.GetData(), file.GetCount(), depth, dw, dh);
    EXPECT_EQ((std::vector<unsigned>{dw, dh}), (std::vector<unsigned>{w, h}));
    ASSERT_EQ(back.GetCount(), image.GetCount());
    int worst = 0;  // PNG and TIFF exact (padding bits clear), JPEG at full quality close
    for (unsigned i = 0; i < image.GetCount(); ++i) worst = std::max(worst, std::abs(back[i] - image[i]));
    EXPECT_LE(worst, f == 1 ? 2 : 0);
    EXPECT_THROW(DecodeImage(file.GetData(), file.GetCount(), 9 - depth, dw, dh), CbException)
        << "other depth";
    // Every truncated file is refused; a TIFF ends with the link to a next
    // directory, and without it the image may still be complete, then exact.
    for (std::size_t n = 0; n < file.GetCount(); ++n) try {
        const CbArray<unsigned char> cut = DecodeImage(file.GetData(), n, depth, dw, dh);
        ASSERT_TRUE(f == 2 && n + 4 >= file.GetCount()) << n;
        ASSERT_TRUE(cut.GetCount() == bits.GetCount() &&
                    !std::memcmp(cut.GetData(), bits.GetData(), cut.GetCount()));
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
    alone[i] = serialize(coding(matrices[i], 1 + i, 2));  // JPEG, PNG, PNG + JPEG, mask
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
