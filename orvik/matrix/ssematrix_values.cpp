// Point and patch setters, whole-matrix replacements and thresholds, scalar and
// two-matrix arithmetic. Whole-matrix operations are one pass over the SSE
// lines, four rows per vector, spare lanes included.
#include <algorithm>
#include <cfloat>
#include <cmath>

#include "orvik/chain/SSEcharMatrix.h"
#include "orvik/foundation/SSEPoint.h"
#include "orvik/matrix/ssematrix.h"
#include "orvik/matrix/kernels/MatrixKernels.h"
#include "orvik/matrix/ssematrix_lanes.h"

namespace {

using orvik::detail::absolute;
using orvik::detail::EValueOp;
using orvik::detail::select;

// Applies f to every vector of every line, spare lanes included.
template <class F>
void eachVector(CSSEMatrix& m, F f) {
  if (!m.HasMemory()) return;
  __m128** lines = m.GetMatrixDataDirectly();
  const int sizeX = m.GetSSESizeX();
  for (int g = 0; g < m.GetSSESizeY(); ++g) {
    float* p = reinterpret_cast<float*>(lines[g]);
    for (int x = 0; x < sizeX; ++x, p += 4) _mm_store_ps(p, f(_mm_load_ps(p)));
  }
}

// Applies f(value, other) over the lines and vectors both matrices have. This is
// also the extent of the operations documented on the target's extent: where the
// other matrix is smaller, its missing part is treated as absent.
template <class F>
void eachPair(CSSEMatrix& m, const CSSEMatrix& other, F f) {
  if (!m.HasMemory() || !other.HasMemory()) return;
  __m128** lines = m.GetMatrixDataDirectly();
  const __m128* const* otherLines = other.GetMatrixDataDirectly();
  const int lineCount = std::min(m.GetSSESizeY(), other.GetSSESizeY());
  const int sizeX = std::min(m.GetSSESizeX(), other.GetSSESizeX());
  for (int g = 0; g < lineCount; ++g) {
    float* p = reinterpret_cast<float*>(lines[g]);
    const float* o = reinterpret_cast<const float*>(otherLines[g]);
    for (int x = 0; x < sizeX; ++x, p += 4, o += 4) _mm_store_ps(p, f(_mm_load_ps(p), _mm_load_ps(o)));
  }
}

// The operations with a kernel per instruction-set level, over the same
// vectors as eachVector and eachPair.
void eachVector(CSSEMatrix& m, EValueOp op, float a, float b = 0.0f) {
  if (!m.HasMemory()) return;
  const auto values = orvik::detail::matrixKernels().values;
  for (int g = 0; g < m.GetSSESizeY(); ++g)
    values(op, m.GetMatrixDataDirectly()[g], nullptr, m.GetSSESizeX(), a, b);
}

void eachPair(CSSEMatrix& m, const CSSEMatrix& other, EValueOp op) {
  if (!m.HasMemory() || !other.HasMemory()) return;
  const auto values = orvik::detail::matrixKernels().values;
  const int lineCount = std::min(m.GetSSESizeY(), other.GetSSESizeY());
  const int sizeX = std::min(m.GetSSESizeX(), other.GetSSESizeX());
  for (int g = 0; g < lineCount; ++g)
    values(op, m.GetMatrixDataDirectly()[g], other.GetMatrixDataDirectly()[g], sizeX, 0.0f, 0.0f);
}

// sqrt(a^2 + b^2) as single-precision arithmetic gives it, except in lanes where
// the sum of squares overflows or falls below the normal range: there it is
// recomputed in double precision, which holds every float square exactly
// enough. Ordinary lanes are therefore bit for bit the plain formula.
inline __m128 hypotLanes(__m128 a, __m128 b) {
  const __m128 sum = _mm_add_ps(_mm_mul_ps(a, a), _mm_mul_ps(b, b));
  __m128 r = _mm_sqrt_ps(sum);
  const __m128 outside = _mm_or_ps(_mm_cmpgt_ps(sum, _mm_set1_ps(FLT_MAX)), _mm_cmplt_ps(sum, _mm_set1_ps(FLT_MIN)));
  if (_mm_movemask_ps(outside)) {
    const __m128d aLo = _mm_cvtps_pd(a), bLo = _mm_cvtps_pd(b);
    const __m128d aHi = _mm_cvtps_pd(_mm_movehl_ps(a, a)), bHi = _mm_cvtps_pd(_mm_movehl_ps(b, b));
    const __m128d lo = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(aLo, aLo), _mm_mul_pd(bLo, bLo)));
    const __m128d hi = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(aHi, aHi), _mm_mul_pd(bHi, bHi)));
    r = select(outside, _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi)), r);
  }
  return r;
}

}  // namespace

// ---------------------------------------------------------------------------
// Point and patch setters

namespace {
// Clamps a patch centre so that the patch of the given radius fits; false when
// the matrix is too small (or has no memory) to hold the patch at all.
bool fitCentre(const CSSEMatrix& m, int& x, int& y, int rx, int ry) {
  if (!m.HasMemory() || m.GetSizeX() < 2 * rx + 1 || m.GetSizeY() < 2 * ry + 1) return false;
  x = std::clamp(x, rx, m.GetSizeX() - 1 - rx);
  y = std::clamp(y, ry, m.GetSizeY() - 1 - ry);
  return true;
}

template <class Op>
void applyBox(CSSEMatrix& m, int x, int y, int r, Op op) {
  if (!fitCentre(m, x, y, r, r)) return;
  for (int yy = y - r; yy <= y + r; ++yy)
    for (int xx = x - r; xx <= x + r; ++xx) {
      float* p = m.GetPointAddressUnsafe(xx, yy);
      *p = op(*p);
    }
}

template <class Op>
void applyCross(CSSEMatrix& m, int x, int y, Op op) {
  if (!fitCentre(m, x, y, 1, 1)) return;
  const int dx[5] = {0, -1, 1, 0, 0};
  const int dy[5] = {0, 0, 0, -1, 1};
  for (int i = 0; i < 5; ++i) {
    float* p = m.GetPointAddressUnsafe(x + dx[i], y + dy[i]);
    *p = op(*p);
  }
}

// The SSE rule: on equality or NaN the second operand, here the new value.
inline float keepLarger(float e, float v) { return e > v ? e : v; }
inline float keepSmaller(float e, float v) { return e < v ? e : v; }
}  // namespace

void CSSEMatrix::SetPointMax(int x, int y, float v) {
  if (!fitCentre(*this, x, y, 0, 0)) return;
  float* p = pointer(x, y);
  *p = keepLarger(*p, v);
}

void CSSEMatrix::SetPointMin(int x, int y, float v) {
  if (!fitCentre(*this, x, y, 0, 0)) return;
  float* p = pointer(x, y);
  *p = keepSmaller(*p, v);
}

void CSSEMatrix::SetPointAndLeftOfPoint(int x, int y, float v) {
  if (!HasMemory() || m_iSizeX < 2 || m_iSizeY < 1) return;
  x = std::clamp(x, 1, m_iSizeX - 1);
  y = clampY(y);
  *pointer(x, y) = v;
  *pointer(x - 1, y) = v;
}

void CSSEMatrix::SetPointAndRightOfPoint(int x, int y, float v) {
  if (!HasMemory() || m_iSizeX < 2 || m_iSizeY < 1) return;
  x = std::clamp(x, 0, m_iSizeX - 2);
  y = clampY(y);
  *pointer(x, y) = v;
  *pointer(x + 1, y) = v;
}

void CSSEMatrix::SetTriplePointMax(int x, int y, float v) {
  if (!fitCentre(*this, x, y, 1, 0)) return;
  for (int xx = x - 1; xx <= x + 1; ++xx) *pointer(xx, y) = keepLarger(*pointer(xx, y), v);
}

void CSSEMatrix::SetTriplePointMin(int x, int y, float v) {
  if (!fitCentre(*this, x, y, 1, 0)) return;
  for (int xx = x - 1; xx <= x + 1; ++xx) *pointer(xx, y) = keepSmaller(*pointer(xx, y), v);
}

void CSSEMatrix::SetCross(int x, int y, float v) {
  applyCross(*this, x, y, [v](float) { return v; });
}
void CSSEMatrix::SetCrossMax(int x, int y, float v) {
  applyCross(*this, x, y, [v](float e) { return keepLarger(e, v); });
}
void CSSEMatrix::SetCrossMin(int x, int y, float v) {
  applyCross(*this, x, y, [v](float e) { return keepSmaller(e, v); });
}
void CSSEMatrix::Set3x3BoxPoint(int x, int y, float v) {
  applyBox(*this, x, y, 1, [v](float) { return v; });
}
void CSSEMatrix::Set3x3BoxPointMax(int x, int y, float v) {
  applyBox(*this, x, y, 1, [v](float e) { return keepLarger(e, v); });
}
void CSSEMatrix::Set3x3BoxPointMin(int x, int y, float v) {
  applyBox(*this, x, y, 1, [v](float e) { return keepSmaller(e, v); });
}
void CSSEMatrix::Set5x5BoxPointMax(int x, int y, float v) {
  applyBox(*this, x, y, 2, [v](float e) { return keepLarger(e, v); });
}
void CSSEMatrix::Set5x5BoxPointMin(int x, int y, float v) {
  applyBox(*this, x, y, 2, [v](float e) { return keepSmaller(e, v); });
}
void CSSEMatrix::Set11x11BoxPointMax(int x, int y, float v) {
  applyBox(*this, x, y, 5, [v](float e) { return keepLarger(e, v); });
}

// ---------------------------------------------------------------------------
// Value replacement

namespace {
// value > t (or < t) ? v : 0 in one pass, with columns 0 .. n-1 of every line
// cleared whatever their value.
void threshold(CSSEMatrix& m, float t, float v, int n, EValueOp op) {
  if (!m.HasMemory()) return;
  n = std::clamp(n, 0, m.GetSSESizeX());
  const auto values = orvik::detail::matrixKernels().values;
  for (int g = 0; g < m.GetSSESizeY(); ++g) {
    __m128* line = m.GetMatrixDataDirectly()[g];
    std::fill(line, line + n, _mm_setzero_ps());
    values(op, line + n, nullptr, m.GetSSESizeX() - n, t, v);
  }
}
}  // namespace

void CSSEMatrix::TresholdAbove(float t, float v) { threshold(*this, t, v, 0, EValueOp::Threshold); }
void CSSEMatrix::TresholdAbove(float t, float v, int n) { threshold(*this, t, v, n, EValueOp::Threshold); }
void CSSEMatrix::TresholdBelow(float t, float v) { threshold(*this, t, v, 0, EValueOp::ThresholdBelow); }
void CSSEMatrix::TresholdBelow(float t, float v, int n) { threshold(*this, t, v, n, EValueOp::ThresholdBelow); }

void CSSEMatrix::TresholdAboveKeep(float t, float v) {
  const __m128 tt = _mm_set1_ps(t), vv = _mm_set1_ps(v);
  eachVector(*this, [=](__m128 a) { return select(_mm_cmpgt_ps(a, tt), vv, a); });
}

void CSSEMatrix::ResetPixelsGreaterWithValue(float t, float v) { TresholdAboveKeep(t, v); }

void CSSEMatrix::ResetPixelsLowerWithValue(float t, float v) {
  const __m128 tt = _mm_set1_ps(t), vv = _mm_set1_ps(v);
  eachVector(*this, [=](__m128 a) { return select(_mm_cmplt_ps(a, tt), vv, a); });
}

void CSSEMatrix::ResetPixelsInInterval(float a, float b, float v) {
  const __m128 lo = _mm_set1_ps(a), hi = _mm_set1_ps(b), vv = _mm_set1_ps(v);
  eachVector(*this, [=](__m128 e) {
    return select(_mm_and_ps(_mm_cmpgt_ps(e, lo), _mm_cmplt_ps(e, hi)), vv, e);
  });
}

void CSSEMatrix::ErasePixelsGreater(float t) {
  const __m128 tt = _mm_set1_ps(t);
  eachVector(*this, [=](__m128 a) { return _mm_andnot_ps(_mm_cmpgt_ps(a, tt), a); });
}

void CSSEMatrix::ErasePixelsLower(float t) {
  const __m128 tt = _mm_set1_ps(t);
  eachVector(*this, [=](__m128 a) { return _mm_andnot_ps(_mm_cmplt_ps(a, tt), a); });
}

void CSSEMatrix::EraseOtherValuePixels(float c, float tol) {
  const __m128 hi = _mm_set1_ps(c + tol), lo = _mm_set1_ps(c - tol);
  eachVector(*this, [=](__m128 a) {
    return _mm_andnot_ps(_mm_or_ps(_mm_cmpgt_ps(a, hi), _mm_cmplt_ps(a, lo)), a);
  });
}

void CSSEMatrix::ReplaceValueWithValue(float a, float b) { ReplaceValueWithValue(a, b, 0.002f); }

void CSSEMatrix::ReplaceValueWithValue(float a, float b, float tol) {
  const __m128 aa = _mm_set1_ps(a), bb = _mm_set1_ps(b);
  const __m128 hi = _mm_set1_ps(tol), lo = _mm_set1_ps(-tol);
  eachVector(*this, [=](__m128 e) {
    const __m128 d = _mm_sub_ps(aa, e);
    return select(_mm_and_ps(_mm_cmpgt_ps(d, lo), _mm_cmplt_ps(d, hi)), bb, e);
  });
}

void CSSEMatrix::BinarizeBackground(float background, float foreground) {
  float minimum = 0.0f;
  CalcMinMaxValues(nullptr, &minimum);
  OffsetMatrix(0.0f - minimum);
  TresholdAbove(0.0001f, foreground);
  ResetPixelsLowerWithValue(0.0001f, background);
}

// ---------------------------------------------------------------------------
// Arithmetic with scalars

void CSSEMatrix::Absolute() { eachVector(*this, [](__m128 a) { return absolute(a); }); }

void CSSEMatrix::InvertSign() {
  eachVector(*this, [](__m128 a) { return _mm_sub_ps(_mm_setzero_ps(), a); });
}

void CSSEMatrix::ScalarMultiply(float s) {
  const __m128 ss = _mm_set1_ps(s);
  eachVector(*this, [=](__m128 a) { return _mm_mul_ps(a, ss); });
}

void CSSEMatrix::OffsetMatrix(float a) { eachVector(*this, EValueOp::Offset, a); }

void CSSEMatrix::OffsetMatrixAbove(float t, float a) {
  const __m128 tt = _mm_set1_ps(t), aa = _mm_set1_ps(a);
  eachVector(*this, [=](__m128 e) { return _mm_add_ps(e, _mm_and_ps(_mm_cmpgt_ps(e, tt), aa)); });
}

void CSSEMatrix::OffsetMatrixBelow(float t, float a) {
  const __m128 tt = _mm_set1_ps(t), aa = _mm_set1_ps(a);
  eachVector(*this, [=](__m128 e) { return select(_mm_cmplt_ps(e, tt), _mm_add_ps(e, aa), e); });
}

void CSSEMatrix::LiftWhereNonZero(float a) { OffsetMatrixAbove(0.005f, a); }

// ---------------------------------------------------------------------------
// Arithmetic and combination with another matrix

void CSSEMatrix::AddMatrix(const CSSEMatrix& other) { eachPair(*this, other, EValueOp::Add); }

void CSSEMatrix::AddMatrixOffseted(const CSSEMatrix& other, float a) {
  const __m128 aa = _mm_set1_ps(a), zero = _mm_setzero_ps();
  eachPair(*this, other, [=](__m128 v, __m128 o) { return _mm_add_ps(v, _mm_max_ps(zero, _mm_sub_ps(o, aa))); });
}

void CSSEMatrix::AddMatrixOffsetedNormed(const CSSEMatrix& other, float a, float c) {
  const __m128 aa = _mm_set1_ps(a), cc = _mm_set1_ps(c), zero = _mm_setzero_ps();
  eachPair(*this, other, [=](__m128 v, __m128 o) {
    return _mm_add_ps(v, _mm_mul_ps(_mm_max_ps(zero, _mm_sub_ps(o, aa)), cc));
  });
}

void CSSEMatrix::AddMatrixOffsetedConstrained(const CSSEMatrix& other, float a, float b, float c) {
  const __m128 aa = _mm_set1_ps(a), bb = _mm_set1_ps(b), cc = _mm_set1_ps(c);
  const __m128 zero = _mm_setzero_ps(), small = _mm_set1_ps(0.001f);
  eachPair(*this, other, [=](__m128 v, __m128 o) {
    const __m128 oo = _mm_andnot_ps(_mm_cmplt_ps(v, small), o);
    return _mm_add_ps(_mm_mul_ps(_mm_max_ps(zero, _mm_sub_ps(oo, aa)), cc), _mm_mul_ps(v, bb));
  });
}

void CSSEMatrix::SubMatrix(const CSSEMatrix& other) {
  eachPair(*this, other, [](__m128 v, __m128 o) { return _mm_sub_ps(v, o); });
}

void CSSEMatrix::SubMatrixValidate(const CSSEMatrix& other) {
  const __m128 zero = _mm_setzero_ps();
  eachPair(*this, other, [=](__m128 v, __m128 o) { return select(_mm_cmpgt_ps(v, zero), _mm_sub_ps(v, o), v); });
}

void CSSEMatrix::CombineAbsolute(const CSSEMatrix& other) {
  eachPair(*this, other, [](__m128 v, __m128 o) { return hypotLanes(o, v); });
}

void CSSEMatrix::CombineMultiplicative(const CSSEMatrix& other, bool absoluteValue) {
  if (absoluteValue)
    eachPair(*this, other, [](__m128 v, __m128 o) { return absolute(_mm_mul_ps(v, o)); });
  else
    eachPair(*this, other, [](__m128 v, __m128 o) { return _mm_mul_ps(v, o); });
}

void CSSEMatrix::MaximumOf(const CSSEMatrix& other) { eachPair(*this, other, EValueOp::Maximum); }

void CSSEMatrix::MinimumOf(const CSSEMatrix& other) { eachPair(*this, other, EValueOp::Minimum); }

void CSSEMatrix::CalcDifferenceMatrixConstrained(const CSSEMatrix& a, const CSSEMatrix& b, bool clearNegative,
                                                 bool clearPositive) {
  if (this == &a || this == &b) {
    // Create would release an operand before it is read.
    CSSEMatrix result;
    result.CalcDifferenceMatrixConstrained(a, b, clearNegative, clearPositive);
    CopyFromSSEMatrix(result);
    return;
  }
  Create(std::min(a.GetSizeX(), b.GetSizeX()), std::min(a.GetSizeY(), b.GetSizeY()));
  if (a.HasMemory() && b.HasMemory()) {
    const int lineCount = std::min(a.GetSSESizeY(), b.GetSSESizeY());
    for (int g = 0; g < lineCount; ++g)
      for (int x = 0; x < m_iSSESizeX; ++x)
        _mm_store_ps(reinterpret_cast<float*>(m_ppLines[g] + x),
                     _mm_sub_ps(_mm_load_ps(reinterpret_cast<const float*>(a.GetMatrixDataDirectly()[g] + x)),
                                _mm_load_ps(reinterpret_cast<const float*>(b.GetMatrixDataDirectly()[g] + x))));
  }
  if (clearNegative) ErasePixelsLower(0.0f);
  if (clearPositive) ErasePixelsGreater(0.0f);
}

// ---------------------------------------------------------------------------
// Window comparison

float CSSEMatrix::ComputeSumOfTwoMatrices(CSSEMatrix* other, int offsetY, int offsetX) {
  if (!other || offsetX < 0 || offsetY < 0) return 0.0f;
  if (other->GetSizeX() > m_iSizeX - offsetX || other->GetSizeY() > m_iSizeY - offsetY) return 0.0f;
  if (!HasMemory() || !other->HasMemory()) return 0.0f;
  const __m128 half = _mm_set1_ps(0.5f), zero = _mm_setzero_ps(), hundred = _mm_set1_ps(100.0f);
  const int shift = offsetY & 3;
  float sum = 0.0f;
  for (int g = 0; g < other->GetSSESizeY(); ++g) {
    // Line a always exists: the window lies inside this matrix.
    const int a = (offsetY >> 2) + g;
    const float* lo = reinterpret_cast<const float*>(m_ppLines[a] + offsetX);
    const float* hi = a + 1 < m_iSSESizeY ? reinterpret_cast<const float*>(m_ppLines[a + 1] + offsetX) : nullptr;
    const float* o = reinterpret_cast<const float*>(other->GetMatrixDataDirectly()[g]);
    for (int x = 0; x < other->GetSSESizeX(); ++x) {
      const __m128 t = orvik::detail::alignLanes(_mm_load_ps(lo + 4 * x), hi ? _mm_load_ps(hi + 4 * x) : zero, shift);
      const __m128 ov = _mm_load_ps(o + 4 * x);
      const __m128 set = _mm_cmpgt_ps(ov, half);
      if (_mm_movemask_ps(_mm_andnot_ps(_mm_cmpgt_ps(t, half), set))) return -1.0f;
      sum += CSSEFns::internal_addition_of_m128(_mm_and_ps(set, _mm_div_ps(_mm_max_ps(_mm_sub_ps(t, ov), zero), hundred)));
    }
  }
  return sum;
}

// ---------------------------------------------------------------------------
// Masking and stencils

void CSSEMatrix::MaskOut(const CSSEMatrix& mask) {
  const __m128 limit = _mm_set1_ps(0.1f), zero = _mm_setzero_ps();
  eachPair(*this, mask, [=](__m128 v, __m128 m) {
    return _mm_andnot_ps(_mm_or_ps(_mm_cmplt_ps(m, limit), _mm_cmplt_ps(v, zero)), v);
  });
}

void CSSEMatrix::MaskOutAndValidate(const CSSEMatrix& mask) {
  const __m128 limit = _mm_set1_ps(0.1f), zero = _mm_setzero_ps();
  eachPair(*this, mask, [=](__m128 v, __m128 m) {
    return _mm_andnot_ps(_mm_and_ps(_mm_cmplt_ps(m, limit), _mm_cmpgt_ps(v, zero)), v);
  });
}

void CSSEMatrix::StencilThreshAbove(const CSSEMatrix& stencil, float t) {
  const __m128 tt = _mm_set1_ps(t);
  eachPair(*this, stencil, [=](__m128 v, __m128 s) { return _mm_andnot_ps(_mm_cmplt_ps(s, tt), v); });
}

void CSSEMatrix::StencilThreshBelow(const CSSEMatrix& stencil, float t) { StencilThreshAbove(stencil, t); }

namespace {
// Position in the stencil of target coordinate c: trunc(c * scale + 0.5),
// clamped into 0 .. size - 1.
inline int stencilPosition(int c, float scale, int size) {
  const float p = static_cast<float>(c) * scale + 0.5f;
  if (!(p >= 0.0f)) return 0;
  if (p >= static_cast<float>(size)) return size - 1;
  return std::min(static_cast<int>(p), size - 1);
}
}  // namespace

void CSSEMatrix::Stencil(CSSEMatrix& stencil, float scaleX, float scaleY) {
  if (&stencil == this && !(scaleX == 1.0f && scaleY == 1.0f)) {  // scaled reads meet elements already cleared
    CSSEMatrix copy(stencil);
    Stencil(copy, scaleX, scaleY);
    return;
  }
  if (scaleX == 1.0f && scaleY == 1.0f) {
    const __m128 five = _mm_set1_ps(5.0f);
    eachPair(*this, stencil, [=](__m128 v, __m128 s) { return _mm_andnot_ps(_mm_cmplt_ps(s, five), v); });
    return;
  }
  if (!HasMemory() || !stencil.HasMemory() || stencil.IsEmpty()) return;
  for (int y = 0; y < m_iSizeY; ++y) {
    const int sy = stencilPosition(y, scaleY, stencil.GetSizeY());
    for (int x = 0; x < m_iSizeX; ++x)
      if (stencil.GetPointUnsafe(stencilPosition(x, scaleX, stencil.GetSizeX()), sy) < 5.0f) *pointer(x, y) = 0.0f;
  }
}

void CSSEMatrix::Stencil(CSSEcharMatrix& stencil, float scaleX, float scaleY) {
  if (!HasMemory() || !stencil.HasMemory() || stencil.GetSizeX() < 1 || stencil.GetSizeY() < 1) return;
  const bool same = scaleX == 1.0f && scaleY == 1.0f;
  for (int y = 0; y < m_iSizeY; ++y) {
    const int sy = same ? y : stencilPosition(y, scaleY, stencil.GetSizeY());
    for (int x = 0; x < m_iSizeX; ++x) {
      const int sx = same ? x : stencilPosition(x, scaleX, stencil.GetSizeX());
      if (static_cast<signed char>(stencil.GetPoint(sx, sy)) < 5) *pointer(x, y) = 0.0f;
    }
  }
}

bool CSSEMatrix::MaskMatrix(const CSSEMatrix& mask, float padValue, int offsetX, int offsetY, float newValue,
                            float threshold) {
  if (&mask == this) {  // an offset mask would read elements already replaced
    const CSSEMatrix copy(mask);
    return MaskMatrix(copy, padValue, offsetX, offsetY, newValue, threshold);
  }
  if (offsetX > m_iSizeX || offsetY > m_iSizeY || m_iSizeX < 1 || m_iSizeY < 1) return false;
  if (!mask.HasMemory() || !HasMemory()) return false;
  // The mask covers all lanes of its lines; those below its last row read as
  // padValue (the mask itself is left alone).
  const int maskLines = mask.GetSSESizeY();
  const int maskRows = 4 * maskLines;
  if (offsetY <= -maskRows || offsetX <= -mask.GetSSESizeX()) return true;
  const int xBegin = std::max(0, offsetX);
  const int xEnd = std::min(m_iSSESizeX, mask.GetSSESizeX() + offsetX);
  const int gBegin = std::max(0, offsetY >> 2);
  const int gEnd = std::min(m_iSSESizeY, ((offsetY + maskRows - 1) >> 2) + 1);
  const __m128* const* maskLine = mask.GetMatrixDataDirectly();
  const auto kernel = orvik::detail::matrixKernels().maskLine;
  for (int g = gBegin; g < gEnd; ++g) {
    const int d = 4 * g - offsetY;  // mask row under lane 0 of this line
    const int a = d >> 2, shift = d & 3;
    const int mx = xBegin - offsetX;
    orvik::detail::MaskLine job{a >= 0 ? maskLine[a] + mx : nullptr,
                                a + 1 < maskLines ? maskLine[a + 1] + mx : nullptr,
                                orvik::detail::rowRangeMask(a, mask.GetSizeY(), maskRows),
                                orvik::detail::rowRangeMask(a + 1, mask.GetSizeY(), maskRows),
                                orvik::detail::rowRangeMask(g, offsetY, offsetY + maskRows),
                                m_ppLines[g] + xBegin,
                                xEnd - xBegin,
                                shift,
                                padValue,
                                newValue,
                                threshold};
    kernel(job);
  }
  return true;
}

void CSSEMatrix::MaskOutWithValue(const CSSEMatrix& mask, float offsetX, float offsetY, float threshold, float value,
                                  bool flag) {
  if (&mask == this) {  // an offset mask would read elements already replaced
    const CSSEMatrix copy(mask);
    MaskOutWithValue(copy, offsetX, offsetY, threshold, value, flag);
    return;
  }
  if (!mask.HasMemory() || !HasMemory() || IsEmpty() || mask.IsEmpty()) return;
  // Offsets beyond any matrix size cover nothing (and would not fit an int).
  if (!(std::fabs(offsetX) < 1e9f && std::fabs(offsetY) < 1e9f)) return;
  const int ox = static_cast<int>(offsetX), oy = static_cast<int>(offsetY);
  // Target element (x, y) meets mask element (x + ox, y + oy); only logical
  // rows of both take part.
  const int yBegin = std::max(0, -oy), yEnd = std::min(m_iSizeY, mask.GetSizeY() - oy);
  const int xBegin = std::max(0, -ox), xEnd = std::min(m_iSizeX, mask.GetSizeX() - ox);
  if (yBegin >= yEnd || xBegin >= xEnd) return;
  const __m128 limit = _mm_set1_ps(threshold), vv = _mm_set1_ps(value), zero = _mm_setzero_ps();
  const __m128* const* maskLine = mask.GetMatrixDataDirectly();
  for (int g = yBegin >> 2; g <= (yEnd - 1) >> 2; ++g) {
    const int d = 4 * g + oy;
    const int a = d >> 2, shift = d & 3;
    const __m128 cover = orvik::detail::rowRangeMask(g, yBegin, yEnd);
    const __m128* lo = a >= 0 && a < mask.GetSSESizeY() ? maskLine[a] : nullptr;
    const __m128* hi = a + 1 >= 0 && a + 1 < mask.GetSSESizeY() ? maskLine[a + 1] : nullptr;
    float* t = reinterpret_cast<float*>(m_ppLines[g]);
    for (int x = xBegin; x < xEnd; ++x) {
      const int mx = x + ox;
      const __m128 l = lo ? _mm_load_ps(reinterpret_cast<const float*>(lo + mx)) : zero;
      const __m128 h = hi ? _mm_load_ps(reinterpret_cast<const float*>(hi + mx)) : zero;
      const __m128 tv = _mm_load_ps(t + 4 * x);
      const __m128 diff = _mm_sub_ps(tv, orvik::detail::alignLanes(l, h, shift));
      const __m128 hit = flag ? _mm_cmple_ps(diff, limit) : _mm_cmpge_ps(diff, limit);
      _mm_store_ps(t + 4 * x, select(_mm_and_ps(cover, hit), vv, tv));
    }
  }
}
