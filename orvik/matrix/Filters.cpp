#include "orvik/matrix/Filters.h"

#include <algorithm>
#include <vector>

#include "orvik/matrix/ssematrix.h"
#include "orvik/matrix/ssematrix_lanes.h"

namespace {

using orvik::detail::alignLanes;

// One exchange of neighbours: the larger value moves right. A strict
// greater-than exchanges, so equal values and NaN stay where they are.
inline void exchange(__m128& a, __m128& b) {
  const __m128 lo = _mm_min_ps(b, a);  // b < a ? b : a
  b = _mm_max_ps(a, b);                // a > b ? a : b
  a = lo;
}

// The middle element after the passes, four rows at once. The second pass only
// matters up to the middle position, and only in the lanes whose first pass
// exchanged its last pair.
template <int N>
inline __m128 exchangeMedian(__m128 (&v)[N]) {
  constexpr int m = N / 2;
  for (int i = 0; i < N - 2; ++i) exchange(v[i], v[i + 1]);
  const __m128 again = _mm_cmpgt_ps(v[N - 2], v[N - 1]);
  exchange(v[N - 2], v[N - 1]);
  const __m128 once = v[m];
  for (int i = 0; i < m; ++i) exchange(v[i], v[i + 1]);
  const __m128 twice = _mm_min_ps(v[m + 1], v[m]);
  return _mm_blendv_ps(once, twice, again);
}

// Filters the columns xa .. xb of one SSE line into target, in the lanes of
// keep, from the source lines above, at and below it (the lines are read whole
// before target is written, so target may be the line `cur` came from when
// `cur` is a copy). rows is scratch of D * (xb - xa + 1 + 2H) vectors.
template <int H>
void medianLine(const __m128* prev, const __m128* cur, const __m128* next, __m128* target, int xa, int xb,
                __m128 keep, orvik::detail::VectorBuffer& rows) {
  constexpr int D = 2 * H + 1;
  const std::size_t width = static_cast<std::size_t>(xb - xa + 1 + 2 * H);
  // Window r holds rows 4g + lane - H + r.
  for (int x = xa - H, i = 0; x <= xb + H; ++x, ++i) {
    if constexpr (H == 2) {
      rows[i] = alignLanes(prev[x], cur[x], 2);
      rows[width + i] = alignLanes(prev[x], cur[x], 3);
      rows[2 * width + i] = cur[x];
      rows[3 * width + i] = alignLanes(cur[x], next[x], 1);
      rows[4 * width + i] = alignLanes(cur[x], next[x], 2);
    } else {
      rows[i] = alignLanes(prev[x], cur[x], 3);
      rows[width + i] = cur[x];
      rows[2 * width + i] = alignLanes(cur[x], next[x], 1);
    }
  }
  for (int x = xa, i = 0; x <= xb; ++x, ++i) {
    __m128 v[D * D];
    for (int r = 0; r < D; ++r)
      for (int c = 0; c < D; ++c) v[r * D + c] = rows[r * width + i + c];
    target[x] = _mm_blendv_ps(target[x], exchangeMedian(v), keep);
  }
}

template <int H>
void medianFilter(const CSSEMatrix& src, CSSEMatrix& dst, int xFrom, int xTo, int yFrom, int yTo) {
  constexpr int D = 2 * H + 1;
  dst.SetAllPixelValuesToZero();
  if (!src.HasMemory() || !dst.HasMemory() || src.IsEmpty() || dst.IsEmpty()) return;
  for (int b = 0; b < H; ++b) {
    for (int x = xFrom; x < xTo; ++x) {
      dst.SetPoint(x, yFrom + b, src.GetPoint(x, yFrom + b));
      dst.SetPoint(x, yTo - 1 - b, src.GetPoint(x, yTo - 1 - b));
    }
    for (int y = yFrom; y < yTo; ++y) {
      dst.SetPoint(xFrom + b, y, src.GetPoint(xFrom + b, y));
      dst.SetPoint(xTo - 1 - b, y, src.GetPoint(xTo - 1 - b, y));
    }
  }
  const int sizeX = std::min(src.GetSizeX(), dst.GetSizeX());
  const int sizeY = std::min(src.GetSizeY(), dst.GetSizeY());
  const int xa = std::max(xFrom + H, H), xb = std::min(xTo - 1 - H, sizeX - 1 - H);
  const int ya = std::max(yFrom + H, H), yb = std::min(yTo - 1 - H, sizeY - 1 - H);
  if (xa > xb || ya > yb) return;

  const __m128* const* in = src.GetMatrixDataDirectly();
  __m128** out = dst.GetMatrixDataDirectly();
  const int lines = src.GetSSESizeY();
  orvik::detail::VectorBuffer rows(static_cast<std::size_t>(D) * (xb - xa + 1 + 2 * H));
  for (int g = ya >> 2; g <= yb >> 2; ++g)
    medianLine<H>(in[g > 0 ? g - 1 : g], in[g], in[g + 1 < lines ? g + 1 : g], out[g], xa, xb,
                  orvik::detail::rowRangeMask(g, ya, yb + 1), rows);
}

}  // namespace

void CFilters::Median3x3(CSSEMatrix& src, CSSEMatrix& dst, int xFrom, int xTo, int yFrom, int yTo) {
  medianFilter<1>(src, dst, xFrom, xTo, yFrom, yTo);
}

void CFilters::Median5x5(CSSEMatrix& src, CSSEMatrix& dst, int xFrom, int xTo, int yFrom, int yTo) {
  medianFilter<2>(src, dst, xFrom, xTo, yFrom, yTo);
}

// Median3x3 of the whole matrix into itself, the same values as through a
// temporary of the same size (borders kept, spare lanes 0.0) without the
// temporary: the source lines above and at the current one are kept as
// copies, the line below is still unfiltered when it is read. It lives here
// with the kernel it shares.
void CSSEMatrix::SimpleMedianFilter() {
  if (!HasMemory() || IsEmpty()) return;
  const int sizeX = GetSizeX(), sizeY = GetSizeY(), lines = GetSSESizeY();
  __m128** data = GetMatrixDataDirectly();
  orvik::detail::VectorBuffer above(sizeX), here(sizeX);
  orvik::detail::VectorBuffer rows(static_cast<std::size_t>(3) * sizeX);
  for (int g = 0; g < lines; ++g) {
    std::copy(data[g], data[g] + sizeX, here.data());
    const __m128* next = g + 1 < lines ? data[g + 1] : here.data();
    const __m128 keep = orvik::detail::rowRangeMask(g, 1, sizeY - 1);
    if (sizeX > 2 && _mm_movemask_ps(keep))
      medianLine<1>(g > 0 ? above.data() : here.data(), here.data(), next, data[g], 1, sizeX - 2, keep, rows);
    const __m128 rowsOfMatrix = orvik::detail::rowRangeMask(g, 0, sizeY);
    if (_mm_movemask_ps(rowsOfMatrix) != 0xF)
      for (int x = 0; x < sizeX; ++x) data[g][x] = _mm_and_ps(data[g][x], rowsOfMatrix);
    above.swap(here);
  }
}
