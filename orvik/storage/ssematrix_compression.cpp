// Lossy storage of a matrix: uniform quantisation to bytes, coded as 8-bit grey
// PNG or JPEG images in one or more passes, and the validity mask coded as a
// bi-level CCITT group 4 TIFF. Every image is coded in memory.
#include <algorithm>
#include <cfloat>
#include <cmath>

#include "orvik/foundation/Exception.h"
#include "orvik/foundation/codecs/ImageCodecs.h"
#include "orvik/foundation/qe/JPEGWriter.h"
#include "orvik/foundation/qe/Quantization.h"
#include "orvik/matrix/ssematrix.h"

namespace {

// Lanes of an SSE line that hold logical rows: all four except in the last
// line, whose lanes from size Y upward are spare.
int rowsInLine(const CSSEMatrix& m, int g) { return std::clamp(m.GetSizeY() - 4 * g, 0, 4); }

__m128 laneMask(int rows) {
  const __m128i lane = _mm_setr_epi32(0, 1, 2, 3);
  return _mm_castsi128_ps(_mm_cmplt_epi32(lane, _mm_set1_epi32(rows)));
}

bool hasPixels(const CSSEMatrix& m) { return m.GetSizeX() > 0 && m.GetSizeY() > 0; }

// The largest residual left in a matrix, as the minimum and maximum of its
// logical rows give it.
float maxAbsValue(const CSSEMatrix& m) {
  if (!hasPixels(m)) return 0.0f;
  float maximum = 0.0f, minimum = 0.0f;
  m.CalcMinMaxValues(&maximum, &minimum);
  return std::max(std::fabs(minimum), std::fabs(maximum));
}

// Folds one decoded pass into `target`: where `done` is still 0 the pass is
// subtracted (encoding: what the reader still lacks) or added (decoding); a
// pass value equal to the invalid value then freezes its pixel for all later
// passes. `pass` has the size of `target`; `done` is created at that size the
// first time a pass carries an invalid value, and counts as all 0 before.
void mergePass(CSSEMatrix& target, const CSSEMatrix& pass, CSSEMatrix& done, bool hasInvalid, float invalidValue,
               bool subtract) {
  if (hasInvalid && !done.HasMemory()) done.Create(target.GetSizeX(), target.GetSizeY());
  const __m128 zero = _mm_setzero_ps();
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128 invalid = _mm_set1_ps(invalidValue);
  __m128** t = target.GetMatrixDataDirectly();
  const __m128* const* p = pass.GetMatrixDataDirectly();
  __m128** d = done.GetMatrixDataDirectly();
  for (int g = 0; g < target.GetSSESizeY(); ++g) {
    for (int x = 0; x < target.GetSSESizeX(); ++x) {
      float* tp = reinterpret_cast<float*>(t[g] + x);
      float* dp = d ? reinterpret_cast<float*>(d[g] + x) : nullptr;
      const __m128 value = _mm_load_ps(tp);
      const __m128 contribution = _mm_load_ps(reinterpret_cast<const float*>(p[g] + x));
      __m128 mask = dp ? _mm_load_ps(dp) : zero;
      const __m128 merged = subtract ? _mm_sub_ps(value, contribution) : _mm_add_ps(contribution, value);
      _mm_store_ps(tp, _mm_blendv_ps(value, merged, _mm_cmpeq_ps(mask, zero)));
      if (hasInvalid) {
        mask = _mm_or_ps(mask, _mm_and_ps(_mm_cmpeq_ps(contribution, invalid), one));
        _mm_store_ps(dp, mask);
      }
    }
  }
}

// Whether the first pass of a multi-pass method can carry the invalid value:
// method 1 codes every pass as JPEG, and NaN never compares equal to itself.
bool passesCarryInvalid(const CSSEMatrix::UxSCompressionParameters& p, unsigned int method) {
  return method != 1 && p.m_bUseInvalidValue && !std::isnan(p.m_fInvalidValue);
}

// Calls f(value) for each logical element until it returns true.
template <typename F>
bool anyElement(const CSSEMatrix& m, F f) {
  for (int y = 0; y < m.GetSizeY(); ++y)
    for (int x = 0; x < m.GetSizeX(); ++x)
      if (f(m.GetPointUnsafe(x, y))) return true;
  return false;
}

[[noreturn]] void corrupt(int line, const char* function, const char* detail) {
  throw CbException("ssematrix", line, function, detail);
}

}  // namespace

std::unique_ptr<QeFloatingPointQuantization> CSSEMatrix::createAndEncodeQuantizer(bool withInvalid,
                                                                                  CbStreamWriteBinary& stream) const {
  const UxSCompressionParameters& p = m_compressionParameters;
  float minimum = FLT_MAX, maximum = -FLT_MAX;
  if (p.m_bFixedRange) {
    minimum = p.m_fRangeMin;
    maximum = p.m_fRangeMax;
  } else {
    const __m128 invalid = _mm_set1_ps(p.m_fInvalidValue);
    const __m128 high = _mm_set1_ps(FLT_MAX), low = _mm_set1_ps(-FLT_MAX);
    __m128 lo = high, hi = low;
    for (int g = 0; g < m_iSSESizeY; ++g) {
      const __m128 rows = laneMask(rowsInLine(*this, g));
      for (int x = 0; x < m_iSSESizeX; ++x) {
        const __m128 v = _mm_load_ps(reinterpret_cast<const float*>(m_ppLines[g] + x));
        __m128 take = rows;
        if (withInvalid) take = _mm_and_ps(take, _mm_cmpneq_ps(v, invalid));
        // The candidate goes first: a NaN candidate leaves the running value.
        lo = _mm_min_ps(_mm_blendv_ps(high, v, take), lo);
        hi = _mm_max_ps(_mm_blendv_ps(low, v, take), hi);
      }
    }
    alignas(16) float l[4], h[4];
    _mm_store_ps(l, lo);
    _mm_store_ps(h, hi);
    minimum = std::min({l[0], l[1], l[2], l[3]});
    maximum = std::max({h[0], h[1], h[2], h[3]});
  }
  const float factor = withInvalid ? 253.999f : 254.999f;
  float scale = minimum == maximum ? 1.0f : (1.0f / (maximum - minimum)) * factor;
  const float limit = p.m_fMaxError == 0.0f ? FLT_MAX : 0.5f / p.m_fMaxError;
  if (limit <= scale) scale = limit;

  stream.WriteFloat(minimum);
  stream.WriteFloat(maximum);
  stream.WriteFloat(scale);
  stream.WriteUInt8(withInvalid ? 1 : 0);
  if (withInvalid) {
    stream.WriteFloat(p.m_fInvalidValue);
    return std::make_unique<QeFloatingPointQuantizationUniformWithInvalid>(minimum, maximum, scale, p.m_fInvalidValue);
  }
  return std::make_unique<QeFloatingPointQuantizationUniform>(minimum, maximum, scale);
}

std::unique_ptr<QeFloatingPointQuantization> CSSEMatrix::createQuantizer(CbStreamReadBinary& stream,
                                                                         unsigned int version, bool& hasInvalid,
                                                                         float& invalidValue) const {
  hasInvalid = false;
  invalidValue = 0.0f;
  if (version < 2) return std::make_unique<QeFloatingPointQuantizationUniform>(0.0f, 0.0f, 1.0f);
  const float minimum = stream.ReadFloat();
  const float maximum = stream.ReadFloat();
  const float scale = stream.ReadFloat();
  const bool withInvalid = version >= 3 && stream.ReadUInt8() != 0;
  if (!withInvalid) return std::make_unique<QeFloatingPointQuantizationUniform>(minimum, maximum, scale);
  invalidValue = stream.ReadFloat();
  hasInvalid = true;
  return std::make_unique<QeFloatingPointQuantizationUniformWithInvalid>(minimum, maximum, scale, invalidValue);
}

CbArray<unsigned char> CSSEMatrix::quantize(const QeFloatingPointQuantization& quantizer) const {
  const UxSCompressionParameters& p = m_compressionParameters;
  // With a fixed range only valid values are clamped: an invalid value clamped
  // into the range would come back as an ordinary height.
  const auto* withInvalid = dynamic_cast<const QeFloatingPointQuantizationUniformWithInvalid*>(&quantizer);
  CbArray<unsigned char> bytes(static_cast<std::size_t>(m_iSizeX) * m_iSizeY);
  for (int g = 0; g < m_iSSESizeY; ++g) {
    const int rows = rowsInLine(*this, g);
    for (int x = 0; x < m_iSizeX; ++x) {
      alignas(16) float v[4];
      _mm_store_ps(v, _mm_load_ps(reinterpret_cast<const float*>(m_ppLines[g] + x)));
      for (int l = 0; l < rows; ++l) {
        float value = v[l];
        if (p.m_bFixedRange && !(withInvalid && value == withInvalid->GetInvalidValue())) {
          if (value > p.m_fRangeMax) value = p.m_fRangeMax;
          if (p.m_fRangeMin > value) value = p.m_fRangeMin;
        }
        bytes[static_cast<std::size_t>(4 * g + l) * m_iSizeX + x] = static_cast<unsigned char>(quantizer.Map(value));
      }
    }
  }
  return bytes;
}

void CSSEMatrix::deQuantize(const QeFloatingPointQuantization& quantizer, const CbArray<unsigned char>& bytes) {
  if (static_cast<std::size_t>(m_iSizeX) * m_iSizeY != bytes.GetCount() || m_iSizeY < 1) return;
  float table[256];
  for (unsigned int code = 0; code < 256; ++code) table[code] = quantizer.Unmap(code);
  const unsigned char* b = bytes.GetData();
  const std::size_t stride = m_iSizeX;
  for (int g = 0; g < m_iSSESizeY; ++g) {
    const int rows = rowsInLine(*this, g);
    const unsigned char* row = b + static_cast<std::size_t>(4 * g) * stride;
    for (int x = 0; x < m_iSizeX; ++x) {
      float* out = reinterpret_cast<float*>(m_ppLines[g] + x);
      if (rows == 4) {
        _mm_store_ps(out, _mm_setr_ps(table[row[x]], table[row[stride + x]], table[row[2 * stride + x]],
                                      table[row[3 * stride + x]]));
      } else {
        for (int l = 0; l < rows; ++l) out[l] = table[row[l * stride + x]];
      }
    }
  }
}

void CSSEMatrix::encode(const CbArray<unsigned char>& pixels, CbStreamWriteBinary& stream, EImageContainer container,
                        unsigned int bitsPerPixel) const {
  // No image format holds an image without pixels; such a matrix writes an
  // empty block, which reads back as a pass or mask that changes nothing.
  if (!hasPixels(*this)) {
    stream.WriteUInt32(0);
    return;
  }
  CbArray<unsigned char> file;
  try {
    if (container == EImageContainer::Png && bitsPerPixel == 8)
      file = orvik::detail::EncodePngGray8(pixels.GetData(), m_iSizeX, m_iSizeY);
    else if (container == EImageContainer::TiffG4 && bitsPerPixel == 1)
      file = orvik::detail::EncodeTiffG4(pixels.GetData(), m_iSizeX, m_iSizeY);
    else
      throw CbException("ssematrix", __LINE__, "CSSEMatrix::encode", "unsupported pixel format");
  } catch (const CbException& e) {
    // A block that was not written would leave a stream no reader can follow.
    throw CbException("ssematrix", __LINE__, "CSSEMatrix::encode", e.GetDetail());
  }
  if (file.GetCount() > UINT32_MAX) throw CbException("ssematrix", __LINE__, "CSSEMatrix::encode", "image too large");
  stream.WriteUInt32(static_cast<std::uint32_t>(file.GetCount()));
  stream.WriteBuffer(file.GetData(), file.GetCount());
}

CbArray<unsigned char> CSSEMatrix::decode(CbStreamReadBinary& stream, unsigned int bitsPerPixel, unsigned int& width,
                                          unsigned int& height) {
  constexpr const char* function = "CSSEMatrix::decode";
  width = height = 0;
  const std::uint32_t size = stream.ReadUInt32();
  if (size == 0) return {};
  if (size > stream.GetRemaining()) corrupt(__LINE__, function, "image block longer than the data");
  // Read in bounded steps: a stream that cannot tell its length must not let a
  // corrupt count reserve memory the data never fills.
  CbArray<unsigned char> file;
  constexpr std::size_t chunk = std::size_t(1) << 20;
  for (std::size_t done = 0; done < size;) {
    const std::size_t n = std::min<std::size_t>(chunk, size - done);
    file.SetCount(done + n);
    stream.ReadBuffer(file.GetData() + done, n);
    done += n;
  }
  try {
    return orvik::detail::DecodeImage(file.GetData(), file.GetCount(), bitsPerPixel, width, height);
  } catch (const CbException& e) {
    throw CbException("ssematrix", __LINE__, function, e.GetDetail());
  }
}

void CSSEMatrix::decodeCompressed(CbStreamReadBinary& stream, unsigned int version, bool& hasInvalid,
                                  float& invalidValue) {
  const std::unique_ptr<QeFloatingPointQuantization> quantizer =
      createQuantizer(stream, version, hasInvalid, invalidValue);
  unsigned int width = 0, height = 0;
  const CbArray<unsigned char> bytes = decode(stream, 8, width, height);
  if (static_cast<std::uint64_t>(width) * ((height >> 2) + 1) > c_uMaxStoredVectors)
    corrupt(__LINE__, "CSSEMatrix::decodeCompressed", "image too large");
  Create(static_cast<int>(width), static_cast<int>(height));
  deQuantize(*quantizer, bytes);
}

void CSSEMatrix::encodePNG(CbStreamWriteBinary& stream) const {
  const std::unique_ptr<QeFloatingPointQuantization> quantizer =
      createAndEncodeQuantizer(m_compressionParameters.m_bUseInvalidValue, stream);
  encode(quantize(*quantizer), stream, EImageContainer::Png, 8);
}

void CSSEMatrix::encodeJPEG(CbStreamWriteBinary& stream) const {
  // A JPEG pass never carries an invalid value: its lossy decoding would not
  // give the invalid code back exactly.
  const std::unique_ptr<QeFloatingPointQuantization> quantizer = createAndEncodeQuantizer(false, stream);
  const CbArray<unsigned char> pixels = quantize(*quantizer);
  if (!hasPixels(*this)) {
    stream.WriteUInt32(0);
    return;
  }
  QeJPEGWriter writer(pixels, m_iSizeX, m_iSizeY);
  writer.SetQuality(m_compressionParameters.m_fJPEGQuality);
  CbStreamWriteBinaryBuffer file;
  writer.Serialize(file);
  if (file.GetCount() > UINT32_MAX) throw CbException("ssematrix", __LINE__, "CSSEMatrix::encodeJPEG", "image too large");
  stream.WriteUInt32(static_cast<std::uint32_t>(file.GetCount()));
  stream.WriteBuffer(file.GetData(), file.GetCount());
}

// A quantiser spans the range of the values: one infinity would stretch it to
// nothing and turn every value into NaN, and NaN has no code. So a non-finite
// height is stored as the invalid value where a pass can carry it, and refused
// before anything is written where none can.
void CSSEMatrix::checkQuantisable(unsigned int method) const {
  if (method < 1 || method > 3 || !HasMemory() || m_compressionParameters.m_uiNumberOfPasses == 0 ||
      passesCarryInvalid(m_compressionParameters, method))
    return;
  if (anyElement(*this, [](float v) { return !std::isfinite(v); }))
    throw CbException("ssematrix", __LINE__, "CSSEMatrix::Serialize",
                      "non-finite height: a quantised method stores it only as the invalid value");
}

// Each pass codes what the reader will still lack after the earlier passes,
// measured against their decoded result rather than against the input, so the
// lossy steps of one pass are corrected by the next. Every pass but the last
// uses the finest quantisation and the best JPEG quality.
void CSSEMatrix::encodeMultiPass(CbStreamWriteBinary& stream, unsigned int method) const {
  const UxSCompressionParameters& p = m_compressionParameters;
  const std::uint32_t passes = p.m_uiNumberOfPasses;
  stream.WriteUInt32(passes);
  CSSEMatrix residual(*this);
  if (passesCarryInvalid(p, method))
    for (int y = 0; y < m_iSizeY; ++y)
      for (int x = 0; x < m_iSizeX; ++x)
        if (!std::isfinite(residual.GetPointUnsafe(x, y))) residual.SetPointUnsafe(x, y, p.m_fInvalidValue);
  CSSEMatrix done;
  for (std::uint32_t pass = 0; pass < passes; ++pass) {
    UxSCompressionParameters& rp = residual.m_compressionParameters;
    const bool last = pass + 1 == passes;
    rp.m_fJPEGQuality = last ? p.m_fJPEGQuality : 1.0f;
    rp.m_fMaxError = last ? p.m_fMaxError : 0.0f;
    rp.m_bUseInvalidValue = pass == 0 && p.m_bUseInvalidValue;

    CbStreamWriteBinaryBuffer block;
    if (method == 1 || (method == 3 && pass > 0))
      residual.encodeJPEG(block);
    else
      residual.encodePNG(block);

    CbStreamReadBinaryBuffer reader(block.GetArray());
    bool hasInvalid = false;
    float invalidValue = 0.0f;
    CSSEMatrix decoded;
    decoded.decodeCompressed(reader, 3, hasInvalid, invalidValue);
    if (hasPixels(decoded)) mergePass(residual, decoded, done, hasInvalid, invalidValue, true);
    stream.WriteBuffer(block.GetData(), block.GetCount());
  }
  m_fMaxAbsCompressionError = maxAbsValue(residual);
}

// Every pass must be an image of the matrix's own size: the stored sizes are
// believed only once an image has shown them, so a small file cannot make the
// reader allocate a large matrix for a tiny pass.
void CSSEMatrix::decodeMultiPass(CbStreamReadBinary& stream, unsigned int version, int sizeX, int sizeY) {
  constexpr const char* function = "CSSEMatrix::decodeMultiPass";
  const std::uint32_t passes = version >= 2 ? stream.ReadUInt32() : 0;
  if (passes > 255) corrupt(__LINE__, function, "more than 255 passes");
  CSSEMatrix done;
  for (std::uint32_t pass = 0; pass < passes; ++pass) {
    bool hasInvalid = false;
    float invalidValue = 0.0f;
    CSSEMatrix decoded;
    decoded.decodeCompressed(stream, version, hasInvalid, invalidValue);
    const bool pixels = sizeX > 0 && sizeY > 0;
    if (pixels ? decoded.m_iSizeX != sizeX || decoded.m_iSizeY != sizeY : hasPixels(decoded))
      corrupt(__LINE__, function, "pass image of another size than the matrix");
    if (pass == 0) {
      ensureSize(sizeX, sizeY);
      Fill(0.0f);
    }
    if (pixels) mergePass(*this, decoded, done, hasInvalid, invalidValue, false);
  }
  if (passes == 0) {
    ensureSize(sizeX, sizeY);
    Fill(0.0f);
  }
}

void CSSEMatrix::encodeCCITT4(CbStreamWriteBinary& stream) const {
  const float invalidValue = m_compressionParameters.m_fInvalidValue;
  const __m128 invalid = _mm_set1_ps(invalidValue);
  const std::size_t stride = (static_cast<std::size_t>(m_iSizeX) + 7) / 8;
  CbArray<unsigned char> bits(stride * m_iSizeY);
  // The mean of the valid values, summed in double so that millions of floats
  // do not lose their low bits. Non-finite values take no part: one NaN or
  // infinity would otherwise become the value of every valid pixel.
  __m128d sumLow = _mm_setzero_pd(), sumHigh = _mm_setzero_pd();
  std::uint64_t count = 0;
  for (int g = 0; g < m_iSSESizeY; ++g) {
    const int rows = rowsInLine(*this, g);
    const __m128 lanes = laneMask(rows);
    for (int x = 0; x < m_iSizeX; ++x) {
      const __m128 v = _mm_load_ps(reinterpret_cast<const float*>(m_ppLines[g] + x));
      const __m128 isInvalid = _mm_cmpeq_ps(v, invalid);
      const __m128 valid = _mm_andnot_ps(isInvalid, lanes);
      const __m128 finite = _mm_cmplt_ps(_mm_andnot_ps(_mm_set1_ps(-0.0f), v), _mm_set1_ps(INFINITY));
      const __m128 counted = _mm_and_ps(valid, finite);
      const __m128 kept = _mm_and_ps(v, counted);
      sumLow = _mm_add_pd(sumLow, _mm_cvtps_pd(kept));
      sumHigh = _mm_add_pd(sumHigh, _mm_cvtps_pd(_mm_movehl_ps(kept, kept)));
      count += __builtin_popcount(_mm_movemask_ps(counted));
      const int marks = _mm_movemask_ps(_mm_and_ps(isInvalid, lanes));
      for (int l = 0; l < rows; ++l)
        if (marks & (1 << l))
          bits[static_cast<std::size_t>(4 * g + l) * stride + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
    }
  }
  alignas(16) double sums[4];
  _mm_store_pd(sums, sumLow);
  _mm_store_pd(sums + 2, sumHigh);
  const double sum = (sums[0] + sums[1]) + (sums[2] + sums[3]);
  const float fill = count ? static_cast<float>(sum / static_cast<double>(count)) : 0.0f;

  CbStreamWriteBinaryBuffer block;
  block.WriteFloat(fill);
  block.WriteFloat(invalidValue);
  encode(bits, block, EImageContainer::TiffG4, 1);

  CSSEMatrix decoded;
  CbStreamReadBinaryBuffer reader(block.GetArray());
  decoded.decodeCCIT4(reader, m_iSizeX, m_iSizeY);
  CSSEMatrix error(*this);
  error.SubMatrix(decoded);
  m_fMaxAbsCompressionError = maxAbsValue(error);
  stream.WriteBuffer(block.GetData(), block.GetCount());
}

// As with the passes, the mask image must have the matrix's size before the
// matrix is created.
void CSSEMatrix::decodeCCIT4(CbStreamReadBinary& stream, int sizeX, int sizeY) {
  const float fill = stream.ReadFloat();
  const float invalidValue = stream.ReadFloat();
  unsigned int width = 0, height = 0;
  const CbArray<unsigned char> bits = decode(stream, 1, width, height);
  const bool pixels = sizeX > 0 && sizeY > 0;
  if (width != static_cast<unsigned int>(pixels ? sizeX : 0) || height != static_cast<unsigned int>(pixels ? sizeY : 0))
    corrupt(__LINE__, "CSSEMatrix::decodeCCIT4", "mask image of another size than the matrix");
  ensureSize(sizeX, sizeY);
  if (!pixels) return;
  const std::size_t stride = (static_cast<std::size_t>(width) + 7) / 8;
  const __m128 fillVector = _mm_set1_ps(fill), invalidVector = _mm_set1_ps(invalidValue);
  for (int g = 0; g < m_iSSESizeY; ++g) {
    const int rows = rowsInLine(*this, g);
    const unsigned char* row = bits.GetData() + static_cast<std::size_t>(4 * g) * stride;
    const __m128 lanes = laneMask(rows);
    for (int x = 0; x < m_iSizeX; ++x) {
      const int shift = 7 - (x % 8);
      alignas(16) std::int32_t set[4] = {};
      for (int l = 0; l < rows; ++l) set[l] = -((row[l * stride + x / 8] >> shift) & 1);
      const __m128 marks = _mm_load_ps(reinterpret_cast<const float*>(set));
      float* out = reinterpret_cast<float*>(m_ppLines[g] + x);
      // Spare lanes keep what they held.
      const __m128 value = _mm_blendv_ps(fillVector, invalidVector, marks);
      _mm_store_ps(out, _mm_blendv_ps(_mm_load_ps(out), value, lanes));
    }
  }
}
