// Column-wise signal operations, resampling, framing and the shift correlation
// of CSSEcharMatrix.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "orvik/chain/SSEcharMatrix.h"
#include "orvik/foundation/Alloc.h"
#include "orvik/matrix/ssematrix.h"

namespace {

constexpr int c_iNoError = 2000000000;

// Sign-extends lanes 4Q .. 4Q+3 of sixteen bytes to four int32.
template <int Q>
__m128i quarter(__m128i v) {
  return _mm_cvtepi8_epi32(_mm_srli_si128(v, 4 * Q));
}

// One quarter of the time variance: five neighbouring columns, four lanes.
template <int Q>
__m128i timeVariance(const __m128i* s) {
  const __m128i a0 = quarter<Q>(_mm_load_si128(s - 2));
  const __m128i sum = _mm_add_epi32(
      _mm_add_epi32(_mm_add_epi32(a0, quarter<Q>(_mm_load_si128(s - 1))), quarter<Q>(_mm_load_si128(s))),
      _mm_add_epi32(quarter<Q>(_mm_load_si128(s + 1)), quarter<Q>(_mm_load_si128(s + 2))));
  // |sum| <= 640: the float quotient truncates exactly as integer division does.
  const __m128i mean = _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(sum), _mm_set1_ps(5.0f)));
  const __m128i diff = _mm_sub_epi32(a0, mean);
  const __m128i square5 = _mm_mullo_epi32(_mm_mullo_epi32(diff, diff), _mm_set1_epi32(5));
  const __m128i root = _mm_cvttps_epi32(_mm_sqrt_ps(_mm_cvtepi32_ps(square5)));
  const __m128i r = _mm_sub_epi32(root, _mm_set1_epi32(63));
  return _mm_max_epi32(_mm_min_epi32(r, _mm_set1_epi32(63)), _mm_set1_epi32(-63));
}

long long horizontalSum64(__m128i v) {
  return _mm_cvtsi128_si64(v) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(v, v));
}

// The correlation errors e(s) for the shifts s0 .. s1 - 1. The sizes are
// checked by the caller: pattern as tall as m, s1 - 1 + its width <= m's width.
std::vector<int> correlationErrors(const CSSEcharMatrix& m, const CSSEcharMatrix& pattern, int s0, int s1) {
  const int width = pattern.GetSizeX();
  std::vector<long long> sums(s1 - s0, 0);
  const __m128i zero = _mm_setzero_si128();
  for (int g = 0; g < m.GetSSESizeY(); ++g) {
    const __m128i* line = m.GetMatrixDataDirectly()[g];
    const __m128i* p = pattern.GetMatrixDataDirectly()[g];
    for (int s = s0; s < s1; ++s) {
      const __m128i* a = line + s;
      __m128i acc = zero;
      // |d| of a saturated difference is at most 128 and is summed as such
      // (unsigned); reading it as a signed byte would turn the largest
      // mismatch into the smallest error.
      for (int k = 0; k < width; ++k) {
        const __m128i d = _mm_abs_epi8(_mm_subs_epi8(_mm_load_si128(p + k), _mm_load_si128(a + k)));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(d, zero));
      }
      sums[s - s0] += horizontalSum64(acc);
    }
  }
  std::vector<int> e(sums.size());
  for (std::size_t i = 0; i < sums.size(); ++i) e[i] = static_cast<int>(sums[i] / width);
  return e;
}

// Index of the first smallest error.
int firstMinimum(const std::vector<int>& e) {
  return static_cast<int>(std::min_element(e.begin(), e.end()) - e.begin());
}

// Blanks `radius` shifts on either side of each minimum with the largest
// error and sums how far each following minimum lies above the best one.
int ambiguityOf(std::vector<int> e, int centre, int radius, int passes) {
  const int largest = *std::max_element(e.begin(), e.end());
  const int best = e[centre];
  const int last = static_cast<int>(e.size()) - 1;
  int ambiguity = 0;
  for (int pass = 0; pass < passes; ++pass) {
    for (int s = std::max(0, centre - radius); s <= std::min(last, centre + radius); ++s) e[s] = largest;
    centre = firstMinimum(e);
    ambiguity += std::abs(e[centre] - best);
  }
  return ambiguity;
}

}  // namespace

void CSSEcharMatrix::takeOver(CSSEcharMatrix& other) noexcept {
  std::swap(m_ppLines, other.m_ppLines);
  m_fields.swap(other.m_fields);
  std::swap(m_iSizeX, other.m_iSizeX);
  std::swap(m_iSizeY, other.m_iSizeY);
  std::swap(m_iSSESizeX, other.m_iSSESizeX);
  std::swap(m_iSSESizeY, other.m_iSSESizeY);
  std::swap(m_iFields, other.m_iFields);
}

void CSSEcharMatrix::CalcDerivative() {
  if (!m_ppLines || m_iSizeX < 1) return;
  const int last = m_iSizeX - 1;
  for (int g = 0; g < m_iSSESizeY; ++g) {
    __m128i* c = m_ppLines[g];
    // The column to the left is kept from before it was overwritten.
    __m128i left = _mm_load_si128(c);
    for (int x = 1; x < last; ++x) {
      const __m128i here = _mm_load_si128(c + x);
      _mm_store_si128(c + x, _mm_subs_epi8(_mm_load_si128(c + x + 1), left));
      left = here;
    }
    _mm_store_si128(c, _mm_setzero_si128());
    _mm_store_si128(c + last, _mm_setzero_si128());
  }
}

void CSSEcharMatrix::CalcPDResult() {
  if (!m_ppLines) return;
  for (int g = 0; g < m_iSSESizeY; ++g) {
    __m128i* c = m_ppLines[g];
    if (m_iSizeX < 3) break;
    __m128i left = _mm_load_si128(c);
    for (int x = 1; x < m_iSizeX - 1; ++x) {
      const __m128i here = _mm_load_si128(c + x);
      const __m128i d = _mm_sub_epi8(_mm_load_si128(c + x + 1), left);
      _mm_store_si128(c + x, _mm_adds_epi8(here, d));
      left = here;
    }
  }
}

void CSSEcharMatrix::CalcTimeVariance(const CSSEcharMatrix& source) {
  if (&source == this) {
    const CSSEcharMatrix copy(source);
    CalcTimeVariance(copy);
    return;
  }
  Create(source.GetSizeX(), source.GetSizeY());
  if (!source.m_ppLines) return;
  for (int g = 0; g < m_iSSESizeY; ++g) {
    const __m128i* s = source.m_ppLines[g];
    __m128i* t = m_ppLines[g];
    for (int x = 2; x < m_iSizeX - 2; ++x) {
      const __m128i low = _mm_packs_epi32(timeVariance<0>(s + x), timeVariance<1>(s + x));
      const __m128i high = _mm_packs_epi32(timeVariance<2>(s + x), timeVariance<3>(s + x));
      _mm_store_si128(t + x, _mm_packs_epi16(low, high));
    }
  }
}

t_intvector CSSEcharMatrix::GetIntegralVectorFromMatrix(int offset, int rows) const {
  t_intvector result;
  if (!m_ppLines || m_iSizeX < 1) return result;
  const int lines = std::clamp(rows / 16, 0, m_iSSESizeY);
  // Flipping the sign bit maps a signed byte b to the unsigned b + 128, which
  // the sum of absolute differences against zero adds up eight at a time.
  const __m128i off = _mm_set1_epi8(static_cast<char>(offset));
  const __m128i sign = _mm_set1_epi8(static_cast<char>(0x80));
  const __m128i zero = _mm_setzero_si128();
  std::vector<long long> sums(m_iSizeX, 0);
  for (int g = 0; g < lines; ++g) {
    const __m128i* c = m_ppLines[g];
    for (int x = 0; x < m_iSizeX; ++x) {
      const __m128i v = _mm_xor_si128(_mm_sub_epi8(_mm_load_si128(c + x), off), sign);
      sums[x] += horizontalSum64(_mm_sad_epu8(v, zero));
    }
  }
  result.count = m_iSizeX;
  result.values = static_cast<std::int32_t*>(SafeMalloc(sizeof(std::int32_t) * m_iSizeX));
  const long long lanes = 16LL * m_iSSESizeY;
  for (int x = 0; x < m_iSizeX; ++x)
    result.values[x] = static_cast<std::int32_t>((sums[x] - 128LL * 16 * lines) / lanes);
  return result;
}

int CSSEcharMatrix::CalcNumSyllables() const {
  t_intvector integral = GetIntegralVectorFromMatrix(-40, 2000000000);
  const int n = integral.count;
  std::vector<int> v(integral.values, integral.values + n);
  SafeFree(integral.values);
  if (n < 1) return 0;

  // Moving average over five columns. The first column keeps its sum and the
  // second becomes 0, so both take part in the range below as they are.
  std::vector<int> w(n, 0);
  for (int i = 2; i < n - 2; ++i) w[i] = (v[i - 2] + v[i - 1] + v[i] + v[i + 1] + v[i + 2]) / 5;
  for (int i = 1; i < n; ++i) v[i] = w[i];

  int lo = 1000000, hi = -1000000;
  for (int x : v) {
    lo = std::min(lo, x);
    hi = std::max(hi, x);
  }
  const int threshold = lo + (hi - lo) / 5;
  for (int& x : v) x = x >= threshold ? x - threshold : 0;

  int start = 0;
  for (int i = 3; i < n; ++i)
    if (v[i] > 2) {
      start = i;
      break;
    }
  start = std::max(start, 4);
  int end = n - 1;
  for (int i = n - 3; i >= 0; --i)
    if (v[i] > 2) {
      end = i;
      break;
    }
  end = std::min(end, n - 4);

  // Slope of the smoothed sums, summed over three columns: rising (2),
  // falling (-2) or flat (0). Every rise after a fall or at the start counts.
  const auto d = [&](int i) { return v[i + 1] - v[i - 1]; };
  int count = 0, state = 0;
  for (int i = start; i < end; ++i) {
    const int slope = d(i - 1) + d(i) + d(i + 1);
    const int s = slope >= 6 ? 2 : (slope / 3 < -1 ? -2 : 0);
    if ((state == 0 || state == 2) && s > 1) {
      ++count;
      state = 1;
    } else if (state == 1 && s < -1) {
      state = 2;
    }
  }
  return count;
}

void CSSEcharMatrix::CombineYDir(const CSSEcharMatrix& first, const CSSEcharMatrix& second,
                                 const CSSEcharMatrix* third) {
  const CSSEcharMatrix* sources[3] = {&first, &second, third};
  const int count = third ? 3 : 2;
  int width = first.m_iSizeX, height = 0;
  for (int i = 0; i < count; ++i) {
    if (!sources[i]->m_ppLines) return;
    width = std::min(width, sources[i]->m_iSizeX);
    height += sources[i]->m_iSizeY;
  }
  CSSEcharMatrix t(width, height);
  const std::size_t bytes = static_cast<std::size_t>(width) * sizeof(__m128i);
  for (int g = 0; g < first.m_iSSESizeY; ++g) std::memcpy(t.m_ppLines[g], first.m_ppLines[g], bytes);
  int row = first.m_iSizeY;
  for (int i = 1; i < count; ++i) {
    const CSSEcharMatrix& s = *sources[i];
    for (int y = 0; y < s.m_iSizeY; ++y, ++row)
      for (int x = 0; x < width; ++x) *t.pointer(x, row) = *s.pointer(x, y);
  }
  takeOver(t);
}

void CSSEcharMatrix::CombineYDirFast(const CSSEcharMatrix& first, const CSSEcharMatrix& second) {
  if (!first.m_ppLines || !second.m_ppLines) return;
  const int width = std::min(first.m_iSizeX, second.m_iSizeX);
  CSSEcharMatrix t(width, (first.m_iSSESizeY + second.m_iSSESizeY) * 16);
  const std::size_t bytes = static_cast<std::size_t>(width) * sizeof(__m128i);
  for (int g = 0; g < first.m_iSSESizeY; ++g) std::memcpy(t.m_ppLines[g], first.m_ppLines[g], bytes);
  for (int g = 0; g < second.m_iSSESizeY; ++g)
    std::memcpy(t.m_ppLines[first.m_iSSESizeY + g], second.m_ppLines[g], bytes);
  takeOver(t);
}

void CSSEcharMatrix::InterpolateUp(int newX, int newY) {
  CSSEcharMatrix t(newX, newY);
  t.Clear(GetPoint(0, 0));
  const float sx = static_cast<float>(m_iSizeX), sy = static_cast<float>(m_iSizeY);
  for (int y = 0; y < newY; ++y) {
    const float fy = static_cast<float>(y) * sy / static_cast<float>(newY);
    const int iy = static_cast<int>(fy);
    const float wy = fy - static_cast<float>(iy);
    for (int x = 0; x < newX; ++x) {
      const float fx = static_cast<float>(x) * sx / static_cast<float>(newX);
      const int ix = static_cast<int>(fx);
      const float wx = fx - static_cast<float>(ix);
      const float v = static_cast<float>(GetPoint(ix + 1, iy)) * wx * (1.0f - wy) +
                      static_cast<float>(GetPoint(ix, iy)) * (1.0f - wx) * (1.0f - wy) +
                      static_cast<float>(GetPoint(ix, iy + 1)) * (1.0f - wx) * wy +
                      static_cast<float>(GetPoint(ix + 1, iy + 1)) * wx * wy;
      *t.pointer(x, y) = static_cast<char>(std::clamp(static_cast<int>(v), -128, 127));
    }
  }
  takeOver(t);
}

void CSSEcharMatrix::ElongateLeft(int n) {
  if (n < 1 || !m_ppLines) return;
  CSSEcharMatrix t(m_iSizeX + n, m_iSizeY);
  t.Clear(GetPoint(0, 0));
  const std::size_t bytes = static_cast<std::size_t>(m_iSizeX) * sizeof(__m128i);
  for (int g = 0; g < m_iSSESizeY; ++g) std::memcpy(t.m_ppLines[g] + n, m_ppLines[g], bytes);
  takeOver(t);
}

void CSSEcharMatrix::ElongateRight(int n) {
  if (n < 1 || !m_ppLines) return;
  CSSEcharMatrix t(m_iSizeX + n, m_iSizeY);
  t.Clear(GetPoint(m_iSizeX - 1, 0));
  const std::size_t bytes = static_cast<std::size_t>(m_iSizeX) * sizeof(__m128i);
  for (int g = 0; g < m_iSSESizeY; ++g) std::memcpy(t.m_ppLines[g], m_ppLines[g], bytes);
  takeOver(t);
}

void CSSEcharMatrix::EmbedinValueFrame(int rows, int columns, char value) {
  if (rows < 0 || columns < 0 || !m_ppLines) return;
  CSSEcharMatrix t(m_iSizeX + 2 * columns, m_iSizeY + 2 * rows);
  t.Clear(value);
  // The row offset moves rows across vector lanes, so the copy goes by bytes.
  for (int y = 0; y < m_iSizeY; ++y)
    for (int x = 0; x < m_iSizeX; ++x) *t.pointer(x + columns, y + rows) = *pointer(x, y);
  takeOver(t);
}

namespace {

// Sixteen rows of a byte vector come from four float lines; lanes past the
// last row stay 0.
template <bool Above>
void thresholdInto(CSSEcharMatrix& target, const CSSEMatrix& m, float threshold, char value) {
  const __m128* const* src = m.GetMatrixDataDirectly();
  const int floatLines = m.GetSSESizeY();
  const __m128 t = _mm_set1_ps(threshold);
  const __m128i v = _mm_set1_epi8(value);
  const __m128i laneIndex = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  for (int g = 0; g < target.GetSSESizeY(); ++g) {
    const int rowsHere = std::min(target.GetSizeY() - 16 * g, 16);
    if (rowsHere <= 0) break;
    const __m128i rowMask = _mm_cmplt_epi8(laneIndex, _mm_set1_epi8(static_cast<char>(rowsHere)));
    __m128i* line = target.GetMatrixDataDirectly()[g];
    for (int x = 0; x < target.GetSizeX(); ++x) {
      __m128i q[4];
      for (int k = 0; k < 4; ++k) {
        const int fl = 4 * g + k;
        if (fl >= floatLines) {
          q[k] = _mm_setzero_si128();
          continue;
        }
        const __m128 f = _mm_load_ps(reinterpret_cast<const float*>(src[fl] + x));
        q[k] = _mm_castps_si128(Above ? _mm_cmpgt_ps(f, t) : _mm_cmplt_ps(f, t));
      }
      const __m128i mask = _mm_packs_epi16(_mm_packs_epi32(q[0], q[1]), _mm_packs_epi32(q[2], q[3]));
      _mm_store_si128(line + x, _mm_and_si128(_mm_and_si128(mask, rowMask), v));
    }
  }
}

}  // namespace

void CSSEcharMatrix::CopyAndTresholdAbove(const CSSEMatrix& m, float threshold, char value) {
  Create(m.GetSizeX(), m.GetSizeY());
  if (m.HasMemory()) thresholdInto<true>(*this, m, threshold, value);
}

void CSSEcharMatrix::CopyAndTresholdBelow(const CSSEMatrix& m, float threshold, char value) {
  Create(m.GetSizeX(), m.GetSizeY());
  if (m.HasMemory()) thresholdInto<false>(*this, m, threshold, value);
}

int CSSEcharMatrix::Correlate(const CSSEcharMatrix& pattern, int& bestError, int maxError) {
  int ambiguity = 0;
  return correlate(pattern, bestError, ambiguity, maxError, 0, m_iSizeX - pattern.m_iSizeX, 0, 0);
}

int CSSEcharMatrix::CorrelateAmbiguity(const CSSEcharMatrix& pattern, int& bestError, int& ambiguity,
                                       int maxError) {
  return correlate(pattern, bestError, ambiguity, maxError, 0, m_iSizeX - pattern.m_iSizeX, 19, 3);
}

int CSSEcharMatrix::CorrelateAmbiguityStartEnd(const CSSEcharMatrix& pattern, int& bestError, int& ambiguity,
                                               int maxError, int start, int end) {
  if (!correlatable(pattern)) return -1;
  start = std::max(start, 0);
  end = std::min(end, m_iSizeX - pattern.m_iSizeX - 1);
  if (end - start < 1) {
    bestError = c_iNoError;
    ambiguity = 0;
    return -1;
  }
  return correlate(pattern, bestError, ambiguity, maxError, start, end, 7, 5);
}

bool CSSEcharMatrix::correlatable(const CSSEcharMatrix& pattern) const {
  return m_ppLines && pattern.m_ppLines && pattern.m_iSizeX >= 1 && pattern.m_iSizeX < m_iSizeX &&
         pattern.m_iSizeY == m_iSizeY;
}

int CSSEcharMatrix::correlate(const CSSEcharMatrix& pattern, int& bestError, int& ambiguity, int maxError,
                              int start, int end, int radius, int passes) {
  if (!correlatable(pattern)) return -1;
  const std::vector<int> e = correlationErrors(*this, pattern, start, end);
  const int best = firstMinimum(e);
  m_iLastCorrelationError = e[best];
  bestError = e[best];
  ambiguity = passes > 0 ? ambiguityOf(e, best, radius, passes) : 0;
  return e[best] < maxError ? start + best : -1;
}
