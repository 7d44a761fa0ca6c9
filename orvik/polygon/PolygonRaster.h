#pragma once
// Rasterisation helpers of the polygon drawing operations: pixel rounding that
// stays defined for any float, and the crossing test over a window.
//
// The crossing (even-odd) test of a closed ring answered for a whole window of
// pixels at once. Per pixel the test costs one pass over the ring; here every
// edge is visited once per column it spans, which makes filling a large
// outline cost its area plus its edges instead of their product.
//
// The answers are those of the per-point test, bit for bit: the point (c +
// offset, r + offset) is inside when it lies within the ring's xy box (bounds
// included) and an odd number of edges, taken with the half-open rule in x
// (x1 < p.x <= x2), pass strictly beyond it in +y, that is when
// (y2 - y1) * (p.x - x1) > (x2 - x1) * (p.y - y1) in single precision. For a
// fixed column the right-hand side never decreases with the row, so each edge
// is inside for a prefix of the rows; the prefix end is estimated and then
// settled by evaluating that very comparison.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class CSSE3dPolygon;
class CSSEMatrix;

namespace orvik::detail {

// trunc(v) as an int, saturating: far-away or non-number coordinates become
// the int limits (not a number the lower one), which every clamped write
// turns into the border they lie beyond.
inline int truncPixel(float v) {
  if (!(v > -2147483648.0f)) return INT_MIN;
  if (!(v < 2147483648.0f)) return INT_MAX;
  return static_cast<int>(v);
}
// The pixel of a coordinate: trunc(v + 0.5).
inline int roundPixel(float v) { return truncPixel(v + 0.5f); }

class CrossingRuns {
public:
  // The window is columns [c0, c1) and rows [r0, r1); the ring is the
  // polygon's, its box as last calculated (the caller calculates it).
  // With step >= 2 the ring is thinned as the per-point test thins it: point
  // n - 1, then points 0, step, 2 step ... up to n - step, closed back to
  // point n - 1; the box stays the polygon's. A step below 1 counts as 1.
  CrossingRuns(const CSSE3dPolygon& ring, int c0, int c1, int r0, int r1, float offset, int step = 1);

  // Calls f(c, from, to) for every run of inside rows [from, to) of the
  // columns c0, c0 + step, c0 + 2 step ..., columns ascending, runs ascending
  // within a column.
  template <class F>
  void forEachRun(F f, int step = 1) const {
    std::vector<int> flips, active;
    std::size_t next = 0;
    for (int c = m_c0; c < m_c1; ++c) {
      advance(c, active, next);
      if ((c - m_c0) % step != 0) continue;
      int parity = 0;
      if (!column(c, active, flips, parity)) continue;
      // Walk the sorted parity changes over the box's rows, joining runs
      // that meet where two changes cancel.
      std::size_t k = 0;
      for (; k < flips.size() && flips[k] <= m_boxR0; ++k) parity ^= 1;
      int pos = m_boxR0, from = 0;
      bool open = false;
      for (;;) {
        const int end = k < flips.size() ? std::min(flips[k], m_boxR1) : m_boxR1;
        if (parity && !open) open = true, from = pos;
        if (!parity && open) {
          f(c, from, pos);
          open = false;
        }
        if (end >= m_boxR1) break;
        pos = end;
        for (; k < flips.size() && flips[k] == pos; ++k) parity ^= 1;
      }
      if (open) f(c, from, m_boxR1);
    }
  }

private:
  struct Edge {
    float x1, y1, x2, y2;  // x1 < x2
    int first, last;       // candidate columns
  };
  struct Ring {
    const float* x;
    const float* y;
    int n;
    float minX, minY, maxX, maxY;  // the box the test admits points in
  };
  // The edges whose candidate columns begin by c join `active`, those that
  // ended leave.
  void advance(int c, std::vector<int>& active, std::size_t& next) const;
  // The rows of column c where the inside parity changes, sorted (a row may
  // appear twice), and the parity above the window; false when no row can be
  // inside.
  bool column(int c, const std::vector<int>& active, std::vector<int>& flips, int& parity) const;

  Ring m_ring;
  int m_c0, m_c1, m_r0, m_r1;
  int m_boxR0, m_boxR1;  // the window's rows whose test point lies within the box
  float m_offset;
  std::vector<Edge> m_edges;  // by first candidate column
  std::vector<float> m_thinX, m_thinY;
};

// Writes value on every pixel of m whose point (c + offset, r + offset) the
// crossing test (ring thinned by step) does not put inside; fewer than three
// points mark every pixel. Spare lanes are left alone.
void markOutside(const CSSE3dPolygon& ring, CSSEMatrix& m, float value, float offset, int step);

// A row-major byte raster of w x h pixels inside a frame: every row has
// c_iPad bytes before it and at least as many after it, and a row above and
// below the raster, all holding c_uWall. A wall is neither 0 nor 1, so scans,
// floods and neighbourhood tests stop at the border without testing for it,
// and 16 bytes may be read from any pixel on.
class ByteRaster {
public:
  static constexpr std::uint8_t c_uWall = 2;
  static constexpr int c_iPad = 16;

  // Every pixel 0. Sizes below 1 or beyond int reach throw CbException.
  ByteRaster(int w, int h);

  int width() const { return m_w; }
  int height() const { return m_h; }
  // Rows -1 and h are the walls.
  std::uint8_t* row(int y) { return m_data.get() + static_cast<std::size_t>(y + 1) * m_stride + c_iPad; }
  const std::uint8_t* row(int y) const {
    return m_data.get() + static_cast<std::size_t>(y + 1) * m_stride + c_iPad;
  }
  // Sets to 1 every 0 pixel that a 4-connected path of 0 pixels joins to the
  // border (the pixels on the border included).
  void floodFromBorder();

private:
  struct Free {
    void operator()(std::uint8_t* p) const noexcept;
  };
  int m_w, m_h;
  std::size_t m_stride;
  std::unique_ptr<std::uint8_t[], Free> m_data;
};

// The pixels DrawInMatrixAndFillFine(1, m, true, false, all rows, true,
// false) sets in a cleared matrix of the raster's sizes stay 0 in a cleared
// raster, every other pixel becomes 1. The outline method needs its box a
// pixel inside the raster and otherwise fills nothing; the per-pixel method
// is meant for small rasters.
void fillInside(CSSE3dPolygon& polygon, ByteRaster& r);

}  // namespace orvik::detail
