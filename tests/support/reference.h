#pragma once
// The matrix kernels written plainly, one element at a time, as the
// definitions say: what the vector code must equal bit for bit.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "orvik/matrix/ssematrix.h"

namespace reference {

// The exchange-pass median: bubble passes until the last pair of a pass
// stays, then the middle element (not always the true median).
inline float exchangeMedian(std::vector<float> v) {
  for (;;) {
    bool lastExchanged = false;
    for (std::size_t i = 0; i + 1 < v.size(); ++i) {
      lastExchanged = v[i] > v[i + 1];
      if (lastExchanged) std::swap(v[i], v[i + 1]);
    }
    if (!lastExchanged) return v[v.size() / 2];
  }
}

// Median of the (2h + 1)² window inside [xFrom, xTo) x [yFrom, yTo); a border
// of h copied from the source, zero outside the rectangle.
inline void median(const CSSEMatrix& src, CSSEMatrix& dst, int h, int xFrom, int xTo, int yFrom, int yTo) {
  dst.SetAllPixelValuesToZero();
  for (int y = yFrom; y < yTo; ++y)
    for (int x = xFrom; x < xTo; ++x) {
      std::vector<float> v;
      for (int j = -h; j <= h; ++j)
        for (int i = -h; i <= h; ++i) v.push_back(src.GetPoint(x + i, y + j));
      const bool border = x < xFrom + h || x >= xTo - h || y < yFrom + h || y >= yTo - h;
      dst.SetPoint(x, y, border ? src.GetPoint(x, y) : exchangeMedian(v));
    }
}

// Correlation with the mask wherever it fits, written at the mask's centre.
inline void maskCorrelation(const CSSEMatrix& target, CSSEMatrix& result, const CSSEMatrix& mask,
                            bool normalise, float sum) {
  const int mW = mask.GetSizeX(), mH = mask.GetSizeY();
  for (int x0 = 0; x0 <= target.GetSizeX() - mW; ++x0)
    for (int y0 = 0; y0 <= target.GetSizeY() - mH; ++y0) {
      float s = 0.0f;
      for (int i = 0; i < mW; ++i)
        for (int j = 0; j < mH; ++j) s += mask.GetPoint(i, j) * target.GetPoint(x0 + i, y0 + j);
      if (normalise) s /= sum;
      result.SetPoint(x0 + (mW - 1) / 2, y0 + (mH - 1) / 2, s);
    }
}

// The disc test of every element of the area: an element that is not
// background becomes background when the disc of `radius` around it holds
// background within the area (whole lines of four rows when `vector`), else `value`.
inline void erode(CSSEMatrix& m, float radius, float bg, float value, int xFrom, int xTo, int yFrom, int yTo,
                  bool vector) {
  xFrom = std::max(xFrom, 0);
  xTo = std::min(xTo, m.GetSizeX() - 1);
  yFrom = std::max(yFrom, 0);
  yTo = std::min(yTo, m.GetSizeY() - 1);
  const CSSEMatrix src(m);
  const int rowFrom = vector ? yFrom / 4 * 4 : yFrom, rowTo = vector ? yTo / 4 * 4 + 3 : yTo;
  const int reach = static_cast<int>(std::floor(radius));
  const float square = radius * radius;
  for (int y = yFrom; y <= yTo; ++y)
    for (int x = xFrom; x <= xTo; ++x) {
      if (src.GetPointUnsafe(x, y) == bg) continue;
      bool near = false;
      for (int dy = -reach; dy <= reach; ++dy)
        for (int dx = -reach; dx <= reach; ++dx) {
          const int xx = x + dx, yy = y + dy;
          if (xx < xFrom || xx > xTo || yy < rowFrom || yy > rowTo) continue;
          const bool inDisc = vector ? static_cast<float>(dx * dx + dy * dy) <= square
                                     : dx * dx + dy * dy <= static_cast<int>(std::floor(square));
          near |= inDisc && src.GetPointUnsafe(xx, yy) == bg;
        }
      m.SetPointUnsafe(x, y, near ? bg : value);
    }
}

// Two-pass thinning of the elements above `threshold`, row-major 0/1, the
// border cleared.
inline std::vector<int> thinning(const CSSEMatrix& m, float threshold) {
  const int sx = m.GetSizeX(), sy = m.GetSizeY();
  std::vector<int> a(static_cast<std::size_t>(sx) * sy);
  for (int y = 0; y < sy; ++y)
    for (int x = 0; x < sx; ++x) a[y * sx + x] = m.GetPointUnsafe(x, y) > threshold;
  auto at = [&](int x, int y) { return a[y * sx + x]; };
  for (int it = 0; it < 1000; ++it) {
    bool stop = false;
    for (int pass = 0; pass < 2 && !stop; ++pass) {
      std::vector<int> marks;
      for (int y = 1; y <= sy - 2; ++y)
        for (int x = 1; x <= sx - 2; ++x) {
          if (!at(x, y)) continue;
          const int p[8] = {at(x, y - 1), at(x + 1, y - 1), at(x + 1, y), at(x + 1, y + 1),
                            at(x, y + 1), at(x - 1, y + 1), at(x - 1, y), at(x - 1, y - 1)};
          int n = 0, t = 0;
          for (int k = 0; k < 8; ++k) {
            n += p[k];
            t += !p[k] && p[(k + 1) % 8];
          }
          const bool c = pass == 0 ? (p[0] * p[2] * p[4] == 0 && p[2] * p[4] * p[6] == 0)
                                   : (p[0] * p[2] * p[6] == 0 && p[0] * p[4] * p[6] == 0);
          if (t == 1 && n >= 3 && n <= 6 && c) marks.push_back(y * sx + x);
        }
      for (int i : marks) a[i] = 0;
      stop = marks.empty();
    }
    if (stop) break;
  }
  std::vector<int> out(static_cast<std::size_t>(sx) * sy, 0);
  for (int y = 1; y <= sy - 2; ++y)
    for (int x = 1; x <= sx - 2; ++x) out[y * sx + x] = a[y * sx + x];
  return out;
}

// City-block distance to the nearest element above 0.99 within the rectangle
// [x0, x1) x [y0, y1), or -1 when there is none.
inline int cityBlock(const CSSEMatrix& src, int x, int y, int x0, int x1, int y0, int y1) {
  int best = -1;
  for (int yy = y0; yy < y1; ++yy)
    for (int xx = x0; xx < x1; ++xx)
      if (src.GetPoint(xx, yy) > 0.99) {
        const int d = std::abs(xx - x) + std::abs(yy - y);
        if (best < 0 || d < best) best = d;
      }
  return best;
}

}  // namespace reference
