// Distance transforms of CSSEMatrix: city-block and 3-4 chamfer.
#include <algorithm>
#include <limits>
#include <vector>

#include "orvik/matrix/ssematrix.h"
#include "orvik/matrix/kernels/MatrixKernels.h"
#include "orvik/matrix/ssematrix_lanes.h"

using orvik::detail::rowRangeMask;


// The city-block distance is separable: first the distance to the nearest
// foreground element of the same row (two passes along x, four rows per
// vector), then along each column the minimum of that distance plus the row
// offset (two passes down and up the SSE lines, carried across the four lanes
// of a vector by two shifts). Elements without foreground in the rectangle
// stay at infinity until they are given the fill value.
void CSSEMatrix::DistanceTransform(CSSEMatrix& dist, int xFrom, int xTo, int yFrom, int yTo) {
  if (xFrom > xTo || yFrom > yTo || !HasMemory()) return;
  const int x0 = std::max(xFrom, 0), x1 = std::min(xTo, m_iSizeX);
  const int y0 = std::max(yFrom, 0), y1 = std::min(yTo, m_iSizeY);
  if (&dist == this) {
    CSSEMatrix source(*this);
    source.DistanceTransform(dist, xFrom, xTo, yFrom, yTo);
    return;
  }
  if (!dist.HasMemory() || dist.m_iSizeX != m_iSizeX || dist.m_iSizeY != m_iSizeY)
    dist.Create(m_iSizeX, m_iSizeY);
  const float fillValue = static_cast<float>(std::max(y1 - y0, x1 - x0) + 1);
  dist.Fill(fillValue);
  if (x1 <= x0 || y1 <= y0) return;

  const int width = x1 - x0;
  const int g0 = y0 >> 2, g1 = (y1 - 1) >> 2, lines = g1 - g0 + 1;
  orvik::detail::VectorBuffer work(static_cast<std::size_t>(width) * lines);
  const __m128 inf = _mm_set1_ps(std::numeric_limits<float>::infinity());
  const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
  // (double)v > 0.99 holds exactly for the floats from 0.99f upwards.
  const __m128 threshold = _mm_set1_ps(0.99f);

  for (int q = 0; q < lines; ++q) {
    const __m128 inside = rowRangeMask(g0 + q, y0, y1);
    const __m128* src = m_ppLines[g0 + q] + x0;
    __m128* w = &work[static_cast<std::size_t>(q) * width];
    __m128 run = inf;
    for (int x = 0; x < width; ++x) {
      const __m128 foreground = _mm_and_ps(_mm_cmpge_ps(src[x], threshold), inside);
      run = _mm_blendv_ps(_mm_add_ps(run, one), zero, foreground);
      w[x] = run;
    }
    run = inf;
    for (int x = width - 1; x >= 0; --x) {
      run = _mm_min_ps(w[x], _mm_add_ps(run, one));
      w[x] = run;
    }
  }

  const auto& kernels = orvik::detail::matrixKernels();
  for (int q = 0; q < lines; ++q)
    kernels.distanceDown(&work[static_cast<std::size_t>(q) * width],
                         q > 0 ? &work[static_cast<std::size_t>(q - 1) * width] : nullptr, width,
                         rowRangeMask(g0 + q, y0, y1));
  for (int q = lines - 1; q >= 0; --q)
    kernels.distanceUp(&work[static_cast<std::size_t>(q) * width],
                       q + 1 < lines ? &work[static_cast<std::size_t>(q + 1) * width] : nullptr,
                       dist.m_ppLines[g0 + q] + x0, width, rowRangeMask(g0 + q, y0, y1), fillValue);
}

// Standard 3-4 chamfer masks: forwards the left element and the three above,
// backwards the right element and the three below. The passes run in place
// (the same values as on a copy), one SSE line at a time: its four rows are
// unpacked into plain rows. A row needs its left (right) neighbour and the
// finished row before it up to one column ahead, so the rows of a line are
// walked together, each two columns behind the one before it: the four
// dependency chains then overlap instead of running one after the other.
void CSSEMatrix::Chamfer() {
  if (!HasMemory() || IsEmpty()) return;
  ReplaceValueWithValue(0.0f, 99999.9f);
  ReplaceValueWithValue(1.0f, 0.0f);
  const int sx = m_iSizeX, sy = m_iSizeY;
  if (sx > 2 && sy > 2) {
    // rows[0 .. 3]: the line's rows; rows[4]: the finished neighbour row of
    // the previous line (above forwards, below backwards).
    std::vector<float> buffer(static_cast<std::size_t>(5) * sx);
    float* rows[5];
    for (int k = 0; k < 5; ++k) rows[k] = &buffer[static_cast<std::size_t>(k) * sx];
    auto unpack = [&](int g) {
      const float* p = reinterpret_cast<const float*>(m_ppLines[g]);
      for (int x = 0; x < sx; ++x, p += 4)
        for (int l = 0; l < 4; ++l) rows[l][x] = p[l];
    };
    auto pack = [&](int g) {
      float* p = reinterpret_cast<float*>(m_ppLines[g]);
      for (int x = 0; x < sx; ++x, p += 4)
        for (int l = 0; l < 4; ++l) p[l] = rows[l][x];
    };
    // The rows of line g inside the frame: lFrom .. lTo.
    auto firstRow = [&](int g) { return std::max(0, 1 - 4 * g); };
    auto lastRow = [&](int g) { return std::min(3, sy - 2 - 4 * g); };
    const int lastLine = (sy - 2) >> 2;
    for (int g = 0; g <= lastLine; ++g) {
      unpack(g);
      const int lFrom = firstRow(g), lTo = lastRow(g);
      for (int s = 1; s <= sx - 2 + 2 * (lTo - lFrom); ++s)
        for (int l = lFrom; l <= lTo; ++l) {
          const int x = s - 2 * (l - lFrom);
          if (x < 1 || x > sx - 2) continue;
          float* row = rows[l];
          const float* up = l > 0 ? rows[l - 1] : rows[4];
          const float terms =
              std::min(std::min(row[x], up[x] + 3.0f), std::min(up[x - 1] + 4.0f, up[x + 1] + 4.0f));
          row[x] = std::min(terms, row[x - 1] + 3.0f);
        }
      pack(g);
      std::copy(rows[3], rows[3] + sx, rows[4]);
    }
    for (int g = lastLine; g >= 0; --g) {
      unpack(g);
      if (4 * g + 4 < 4 * m_iSSESizeY && g == lastLine) {
        const float* p = reinterpret_cast<const float*>(m_ppLines[g + 1]);
        for (int x = 0; x < sx; ++x) rows[4][x] = p[4 * x];
      }
      const int lFrom = firstRow(g), lTo = lastRow(g);
      for (int s = sx - 2; s >= 1 - 2 * (lTo - lFrom); --s)
        for (int l = lTo; l >= lFrom; --l) {
          const int x = s + 2 * (lTo - l);
          if (x < 1 || x > sx - 2) continue;
          float* row = rows[l];
          const float* down = l < 3 ? rows[l + 1] : rows[4];
          const float terms =
              std::min(std::min(row[x], down[x] + 3.0f), std::min(down[x + 1] + 4.0f, down[x - 1] + 4.0f));
          row[x] = std::min(terms, row[x + 1] + 3.0f);
        }
      pack(g);
      std::copy(rows[0], rows[0] + sx, rows[4]);
    }
  }
  RemoveFrameArtefacts(4, 4, 0.0f);
}
