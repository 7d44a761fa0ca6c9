#include "orvik/matrix/Filters.h"

#include <algorithm>

#include "orvik/matrix/ssematrix.h"
#include "orvik/matrix/kernels/MatrixKernels.h"
#include "orvik/matrix/ssematrix_lanes.h"

namespace {

using orvik::detail::rowRangeMask;

template <int H>
void medianFilter(const CSSEMatrix& src, CSSEMatrix& dst, int xFrom, int xTo, int yFrom, int yTo) {
  if (&src == &dst) {
    // The filter reads the unfiltered source throughout.
    const CSSEMatrix copy(src);
    medianFilter<H>(copy, dst, xFrom, xTo, yFrom, yTo);
    return;
  }
  if (!dst.HasMemory()) return;
  const int sizeX = std::min(src.GetSizeX(), dst.GetSizeX());
  const int sizeY = std::min(src.GetSizeY(), dst.GetSizeY());
  const int xa = std::max(xFrom + H, H), xb = std::min(xTo - 1 - H, sizeX - 1 - H);
  const int ya = std::max(yFrom + H, H), yb = std::min(yTo - 1 - H, sizeY - 1 - H);
  const bool filter = src.HasMemory() && !src.IsEmpty() && !dst.IsEmpty() && xa <= xb && ya <= yb;
  __m128** out = dst.GetMatrixDataDirectly();
  if (filter) {
    // Cleared is whatever the median does not write: the lines outside its
    // rows, its first and last line (partly written), and the columns outside.
    const int g0 = ya >> 2, g1 = yb >> 2;
    const __m128 zero = _mm_setzero_ps();
    for (int g = 0; g < dst.GetSSESizeY(); ++g) {
      const bool whole = g <= g0 || g >= g1;
      for (int x = 0; x < dst.GetSSESizeX(); ++x)
        if (whole || x < xa || x > xb) out[g][x] = zero;
    }
    const auto& kernels = orvik::detail::matrixKernels();
    const auto line = H == 2 ? kernels.median5 : kernels.median3;
    const __m128* const* in = src.GetMatrixDataDirectly();
    const int lines = src.GetSSESizeY();
    orvik::detail::VectorBuffer rows(static_cast<std::size_t>(2 * H + 1) * (xb - xa + 1 + 2 * H));
    for (int g = g0; g <= g1; ++g)
      line(in[g > 0 ? g - 1 : g], in[g], in[g + 1 < lines ? g + 1 : g], out[g], xa, xb, rowRangeMask(g, ya, yb + 1),
           rows.data());
  } else {
    dst.SetAllPixelValuesToZero();
    if (!src.HasMemory() || src.IsEmpty() || dst.IsEmpty()) return;
  }
  // The frame the median leaves: positions outside its rows and columns (an
  // outside position is clamped onto an edge, which the median never writes).
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
// temporary: the kernel leaves the unfiltered line in its scratch, which
// serves as the line above for the next one; the line below is still
// unfiltered when it is read. It lives here with the filter it shares.
void CSSEMatrix::SimpleMedianFilter() {
  if (!HasMemory() || IsEmpty()) return;
  const int sizeX = GetSizeX(), sizeY = GetSizeY(), lines = GetSSESizeY();
  __m128** data = GetMatrixDataDirectly();
  const auto median3 = orvik::detail::matrixKernels().median3;
  orvik::detail::VectorBuffer rows(static_cast<std::size_t>(3) * sizeX), before(rows.size());
  for (int g = 0; g < lines; ++g) {
    if (sizeX > 2) {
      const __m128* above = g > 0 ? before.data() + sizeX : data[g];
      median3(above, data[g], g + 1 < lines ? data[g + 1] : data[g], data[g], 1, sizeX - 2,
              rowRangeMask(g, 1, sizeY - 1), rows.data());
      rows.swap(before);
    }
    const __m128 rowsOfMatrix = rowRangeMask(g, 0, sizeY);
    if (_mm_movemask_ps(rowsOfMatrix) != 0xF)
      for (int x = 0; x < sizeX; ++x) data[g][x] = _mm_and_ps(data[g][x], rowsOfMatrix);
  }
}
