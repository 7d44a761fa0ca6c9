// Statistics of a height field: extremes, counts, sums, interpolation and the
// bounding box of the values passing a threshold.
#include <algorithm>

#include "orvik/foundation/SSEPoint.h"
#include "orvik/matrix/ssematrix.h"
#include "orvik/matrix/ssematrix_lanes.h"

namespace {

constexpr float c_fStartMax = -1000000.0f;
constexpr float c_fStartMin = 1000000.0f;

using orvik::detail::absolute;
using orvik::detail::select;

template <class F>
void eachVector(const CSSEMatrix& m, F f) {
  if (!m.HasMemory()) return;
  const __m128* const* lines = m.GetMatrixDataDirectly();
  for (int g = 0; g < m.GetSSESizeY(); ++g) {
    const float* p = reinterpret_cast<const float*>(lines[g]);
    for (int x = 0; x < m.GetSSESizeX(); ++x, p += 4) f(_mm_load_ps(p));
  }
}

inline float maxLane(__m128 v) {
  v = _mm_max_ps(v, _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 0, 3, 2)));
  return _mm_cvtss_f32(_mm_max_ps(v, _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 3, 0, 1))));
}

inline float minLane(__m128 v) {
  v = _mm_min_ps(v, _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 0, 3, 2)));
  return _mm_cvtss_f32(_mm_min_ps(v, _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 3, 0, 1))));
}

inline int sumLanes(__m128i c) {
  alignas(16) int l[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(l), c);
  return l[0] + l[1] + l[2] + l[3];
}

// Extremes over the logical rows: the lines above the last vector by vector,
// the rows of the last line one by one. `counts` selects the lanes that take
// part. The accumulator is the second operand of every max/min, so a NaN value
// never replaces it.
template <class Counts>
void minMax(const CSSEMatrix& m, float* pMax, float* pMin, Counts counts) {
  float mx = c_fStartMax, mn = c_fStartMin;
  if (m.HasMemory() && m.GetSizeX() > 0) {
    const __m128* const* lines = m.GetMatrixDataDirectly();
    const int last = m.GetSSESizeY() - 1;
    __m128 vmax = _mm_set1_ps(c_fStartMax), vmin = _mm_set1_ps(c_fStartMin);
    for (int g = 0; g < last; ++g) {
      const float* p = reinterpret_cast<const float*>(lines[g]);
      for (int x = 0; x < m.GetSSESizeX(); ++x, p += 4) {
        const __m128 v = _mm_load_ps(p);
        const __m128 use = counts(v);
        vmax = _mm_max_ps(select(use, v, vmax), vmax);
        vmin = _mm_min_ps(select(use, v, vmin), vmin);
      }
    }
    mx = maxLane(vmax);
    mn = minLane(vmin);
    for (int y = 4 * last; y < m.GetSizeY(); ++y)
      for (int x = 0; x < m.GetSizeX(); ++x) {
        const float v = m.GetPointUnsafe(x, y);
        if (_mm_movemask_ps(counts(_mm_set1_ps(v))) == 0) continue;
        mx = v > mx ? v : mx;
        mn = v < mn ? v : mn;
      }
  }
  if (pMax) *pMax = mx;
  if (pMin) *pMin = mn;
}

// The patch statistics scan SSE lines (yFrom >> 2) + 1 .. (yTo >> 2) - 2 and
// vectors xFrom + 3 .. xTo - 4 after clamping the bounds into the matrix: the
// border lines and vectors of the patch are left out.
template <class Op>
__m128 patchScan(const CSSEMatrix& m, int xFrom, int xTo, int yFrom, int yTo, __m128 acc, Op op) {
  if (!m.HasMemory() || m.IsEmpty()) return acc;
  xFrom = std::clamp(xFrom, 0, m.GetSizeX() - 1);
  xTo = std::clamp(xTo, 0, m.GetSizeX() - 1);
  yFrom = std::clamp(yFrom, 0, m.GetSizeY() - 1);
  yTo = std::clamp(yTo, 0, m.GetSizeY() - 1);
  const __m128* const* lines = m.GetMatrixDataDirectly();
  for (int g = (yFrom >> 2) + 1; g < (yTo >> 2) - 1; ++g)
    for (int x = xFrom + 3; x < xTo - 3; ++x) acc = op(_mm_load_ps(reinterpret_cast<const float*>(lines[g] + x)), acc);
  return acc;
}

}  // namespace

void CSSEMatrix::CalcMinMaxValues(float* pMax, float* pMin) const {
  minMax(*this, pMax, pMin, [](__m128) { return _mm_castsi128_ps(_mm_set1_epi32(-1)); });
}

void CSSEMatrix::CalcMinMaxValuesExcludeZero(float* pMax, float* pMin) const {
  const __m128 lo = _mm_set1_ps(-0.002f), hi = _mm_set1_ps(0.002f);
  minMax(*this, pMax, pMin, [=](__m128 v) { return _mm_or_ps(_mm_cmple_ps(v, lo), _mm_cmpge_ps(v, hi)); });
}

void CSSEMatrix::CalcMaxValueOfPatch(float* out, int xFrom, int xTo, int yFrom, int yTo) const {
  const __m128 acc = patchScan(*this, xFrom, xTo, yFrom, yTo, _mm_set1_ps(c_fStartMax),
                               [](__m128 v, __m128 a) { return _mm_max_ps(v, a); });
  *out = maxLane(acc);
}

void CSSEMatrix::CalcMinValueOfPatch(float* out, int xFrom, int xTo, int yFrom, int yTo) const {
  const __m128 acc = patchScan(*this, xFrom, xTo, yFrom, yTo, _mm_set1_ps(c_fStartMin),
                               [](__m128 v, __m128 a) { return _mm_min_ps(v, a); });
  *out = minLane(acc);
}

void CSSEMatrix::CalcMinValueOfPatchExcludeZero(float* out, int xFrom, int xTo, int yFrom, int yTo) const {
  const __m128 lo = _mm_set1_ps(-0.005f), hi = _mm_set1_ps(0.005f), stand = _mm_set1_ps(999999.875f);
  const __m128 acc = patchScan(*this, xFrom, xTo, yFrom, yTo, _mm_set1_ps(c_fStartMin), [=](__m128 v, __m128 a) {
    const __m128 nearZero = _mm_and_ps(_mm_cmpgt_ps(v, lo), _mm_cmplt_ps(v, hi));
    return _mm_min_ps(select(nearZero, stand, v), a);
  });
  *out = minLane(acc);
}

int CSSEMatrix::NumValuesAbove(float t) const {
  const __m128 tt = _mm_set1_ps(t);
  __m128i count = _mm_setzero_si128();
  eachVector(*this, [&](__m128 v) { count = _mm_sub_epi32(count, _mm_castps_si128(_mm_cmpgt_ps(v, tt))); });
  return sumLanes(count);
}

int CSSEMatrix::NumValuesBelow(float t) const {
  const __m128 tt = _mm_set1_ps(t);
  __m128i count = _mm_setzero_si128();
  eachVector(*this, [&](__m128 v) { count = _mm_sub_epi32(count, _mm_castps_si128(_mm_cmplt_ps(v, tt))); });
  return sumLanes(count);
}

namespace {
// Counts lanes where cmp(value, other) holds, over the lines and vectors both
// matrices have: a smaller other contributes nothing beyond its extent.
template <class Cmp>
int countAgainst(const CSSEMatrix& m, const CSSEMatrix* other, Cmp cmp) {
  if (!other || !m.HasMemory() || !other->HasMemory()) return 0;
  const int lineCount = std::min(m.GetSSESizeY(), other->GetSSESizeY());
  const int sizeX = std::min(m.GetSSESizeX(), other->GetSSESizeX());
  __m128i count = _mm_setzero_si128();
  for (int g = 0; g < lineCount; ++g) {
    const float* p = reinterpret_cast<const float*>(m.GetMatrixDataDirectly()[g]);
    const float* o = reinterpret_cast<const float*>(other->GetMatrixDataDirectly()[g]);
    for (int x = 0; x < sizeX; ++x, p += 4, o += 4)
      count = _mm_sub_epi32(count, _mm_castps_si128(cmp(_mm_load_ps(p), _mm_load_ps(o))));
  }
  return sumLanes(count);
}
}  // namespace

int CSSEMatrix::NumValuesAbove(const CSSEMatrix* other) const {
  return countAgainst(*this, other, [](__m128 v, __m128 o) { return _mm_cmpgt_ps(v, o); });
}

int CSSEMatrix::NumValuesBelow(const CSSEMatrix* other) const {
  return countAgainst(*this, other, [](__m128 v, __m128 o) { return _mm_cmplt_ps(v, o); });
}

float CSSEMatrix::IntegrateMatrix() const {
  __m128 s = _mm_setzero_ps();
  eachVector(*this, [&](__m128 v) { s = _mm_add_ps(s, v); });
  return CSSEFns::internal_addition_of_m128(s);
}

float CSSEMatrix::IntegrateMatrixAbsolute() const {
  __m128 s = _mm_setzero_ps();
  eachVector(*this, [&](__m128 v) { s = _mm_add_ps(s, absolute(v)); });
  return CSSEFns::internal_addition_of_m128(s);
}

float CSSEMatrix::IntegrateMatrixAbsolute(float a, float b) const {
  const __m128 area = _mm_set1_ps(a * b);
  __m128 s = _mm_setzero_ps();
  eachVector(*this, [&](__m128 v) { s = _mm_add_ps(s, _mm_mul_ps(absolute(v), area)); });
  return CSSEFns::internal_addition_of_m128(s);
}

float CSSEMatrix::IntegrateMatrixValid() const {
  if (!HasMemory()) return 0.0f;
  __m128 s = _mm_setzero_ps();
  const int last = m_iSSESizeY - 1;
  for (int g = 0; g < last; ++g)
    for (int x = 0; x < m_iSSESizeX; ++x) s = _mm_add_ps(s, _mm_load_ps(reinterpret_cast<const float*>(m_ppLines[g] + x)));
  const __m128 valid = orvik::detail::rowRangeMask(last, 0, m_iSizeY);
  for (int x = 0; x < m_iSSESizeX; ++x)
    s = select(valid, _mm_add_ps(s, _mm_load_ps(reinterpret_cast<const float*>(m_ppLines[last] + x))), s);
  return CSSEFns::internal_addition_of_m128(s);
}

float CSSEMatrix::GetPixelPreciseFloat(float fx, float fy, bool) const {
  if (!HasMemory() || IsEmpty()) return 0.0f;
  // Clamped as documented; the reads clamp again so that matrices narrower
  // than three elements stay inside.
  const int x0 = std::min(std::max(static_cast<int>(fx), 1), m_iSizeX - 2);
  const int y0 = std::min(std::max(static_cast<int>(fy), 1), m_iSizeY - 2);
  const float wx = std::max(0.0f, std::min(1.0f, fx - static_cast<float>(x0)));
  const float wy = std::max(0.0f, std::min(1.0f, fy - static_cast<float>(y0)));
  return (1 - wy) * (1 - wx) * GetPoint(x0, y0) + (1 - wx) * wy * GetPoint(x0, y0 + 1) +
         (1 - wy) * wx * GetPoint(x0 + 1, y0) + wy * wx * GetPoint(x0 + 1, y0 + 1);
}

float CSSEMatrix::GetPointMax3x3(int x, int y) const {
  if (!HasMemory() || IsEmpty()) return 0.0f;
  x = std::min(std::max(x, 1), m_iSizeX - 2);
  y = std::min(std::max(y, 1), m_iSizeY - 2);
  float m = GetPoint(x, y);
  m = std::max(m, GetPoint(x - 1, y));
  m = std::max(m, GetPoint(x + 1, y));
  m = std::max(m, GetPoint(x, y - 1));
  return std::max(m, GetPoint(x, y + 1));
}

void CSSEMatrix::CalcBoundingBox(int& xMin, int& yMin, int& xMax, int& yMax, float t, bool above) const {
  // One pass over the logical lanes yields the same box as scanning columns
  // and rows from each side for their first hit.
  int x0 = m_iSizeX, y0 = m_iSizeY, x1 = -1, y1 = -1;
  if (HasMemory()) {
    const __m128 tt = _mm_set1_ps(t);
    for (int g = 0; g < m_iSSESizeY; ++g) {
      const __m128 valid = orvik::detail::rowRangeMask(g, 0, m_iSizeY);
      int lanes = 0;
      for (int x = 0; x < m_iSSESizeX; ++x) {
        const __m128 v = _mm_load_ps(reinterpret_cast<const float*>(m_ppLines[g] + x));
        const int hit = _mm_movemask_ps(_mm_and_ps(valid, above ? _mm_cmpgt_ps(v, tt) : _mm_cmplt_ps(v, tt)));
        if (!hit) continue;
        lanes |= hit;
        x0 = std::min(x0, x);
        x1 = std::max(x1, x);
      }
      if (lanes) {
        y0 = std::min(y0, 4 * g + __builtin_ctz(lanes));
        y1 = std::max(y1, 4 * g + 31 - __builtin_clz(lanes));
      }
    }
  }
  xMin = x1 < 0 ? m_iSizeX - 1 : x0;
  yMin = y1 < 0 ? m_iSizeY - 1 : y0;
  yMax = y1 < 0 ? 0 : y1;
  xMax = x1 < 0 ? 0 : x1;
}
