// Filling rectangles, half-planes, cylinder profiles and rows; closing narrow
// holes; column and row searches; drawing up to a surface; window copies.
#include <algorithm>
#include <cmath>
#include <vector>

#include "orvik/chain/SSEcharMatrix.h"
#include "orvik/foundation/Exception.h"
#include "orvik/matrix/ssematrix.h"
#include "orvik/matrix/ssematrix_lanes.h"

using orvik::detail::select;

// ---------------------------------------------------------------------------
// Filling

void CSSEMatrix::FillArea(int x0, int y0, int x1, int y1, float v) {
  if (!HasMemory() || IsEmpty()) return;
  x0 = std::clamp(x0, 0, m_iSizeX - 1);
  x1 = std::clamp(x1, 0, m_iSizeX - 1);
  const int g0 = std::clamp(y0 >> 2, 0, m_iSSESizeY - 1);
  const int g1 = std::clamp(y1 >> 2, 0, m_iSSESizeY - 1);
  const __m128 value = _mm_set1_ps(v);
  for (int g = g0; g <= g1; ++g) {
    const __m128 rows = orvik::detail::rowRangeMask(g, y0, y1);
    if (!_mm_movemask_ps(rows)) continue;
    float* p = reinterpret_cast<float*>(m_ppLines[g] + x0);
    for (int x = x0; x < x1; ++x, p += 4) _mm_store_ps(p, select(rows, value, _mm_load_ps(p)));
  }
}

// ---------------------------------------------------------------------------
// Window copies

bool CSSEMatrix::CopyAreaOfMatrix(const CSSEMatrix& src, int x0, int y0, int width, int height) {
  if (width < 1 || height < 1 || x0 < 0 || y0 < 0 || !src.HasMemory()) return false;
  if (x0 > src.GetSizeX() - width || y0 > src.GetSizeY() - height) return false;
  if (this == &src) {
    // Create would release the source before it is read.
    CSSEMatrix window;
    window.CopyAreaOfMatrix(src, x0, y0, width, height);
    CopyFromSSEMatrix(window);
    return true;
  }
  Create(width, height);
  const __m128* const* from = src.GetMatrixDataDirectly();
  const int shift = y0 & 3;
  const int srcLines = src.GetSSESizeY();
  // Only lines holding logical rows are copied; the rest stays as Create left it.
  const int lines = (height + 3) >> 2;
  for (int g = 0; g < lines; ++g) {
    const int a = (y0 >> 2) + g;
    const float* lo = reinterpret_cast<const float*>(from[a] + x0);
    float* out = reinterpret_cast<float*>(m_ppLines[g]);
    if (shift == 0) {
      std::copy(lo, lo + 4 * width, out);
      continue;
    }
    const float* hi = a + 1 < srcLines ? reinterpret_cast<const float*>(from[a + 1] + x0) : nullptr;
    for (int x = 0; x < width; ++x) {
      const __m128 next = hi ? _mm_load_ps(hi + 4 * x) : _mm_setzero_ps();
      _mm_store_ps(out + 4 * x, orvik::detail::alignLanes(_mm_load_ps(lo + 4 * x), next, shift));
    }
  }
  if (height & 3) {
    // The last copied line carries source rows below the window in its spare lanes.
    const __m128 rows = orvik::detail::rowRangeMask(lines - 1, 0, height);
    float* p = reinterpret_cast<float*>(m_ppLines[lines - 1]);
    for (int x = 0; x < width; ++x, p += 4) _mm_store_ps(p, _mm_and_ps(rows, _mm_load_ps(p)));
  }
  return true;
}

namespace {
// Truncation towards zero of a float that may lie far outside [lo, hi] or be
// NaN (then lo): clamped first, so the conversion is always defined and the
// clamped result is what the callers' own clamping would give.
int truncClamped(float f, int lo, int hi) {
  if (!(f >= static_cast<float>(lo))) return lo;
  if (f >= static_cast<float>(hi)) return hi;
  return static_cast<int>(f);
}

// Every lane of columns x0 .. x1 - 1 of lines g0 .. g1 - 1 becomes v.
void fillLines(CSSEMatrix& m, int g0, int g1, int x0, int x1, float v) {
  const __m128 value = _mm_set1_ps(v);
  for (int g = g0; g < g1; ++g)
    for (int x = x0; x < x1; ++x) _mm_store_ps(reinterpret_cast<float*>(m.GetMatrixDataDirectly()[g] + x), value);
}

// The line range of the approximate fills: from line min(max((y0 >> 2) - 1, 0),
// L - 1) + 1 up to but not including min(max((y1 >> 2) + 1, 0), L - 1).
void approxLines(const CSSEMatrix& m, int y0, int y1, int& g0, int& g1) {
  const int last = m.GetSSESizeY() - 1;
  g0 = std::min(std::max((y0 >> 2) - 1, 0), last);
  g1 = std::min(std::max((y1 >> 2) + 1, 0), last);
}
}  // namespace

void CSSEMatrix::FillAreaApprox(int x0, int y0, int x1, int y1, float v) {
  if (!HasMemory() || IsEmpty()) return;
  int g0, g1;
  approxLines(*this, y0, y1, g0, g1);
  fillLines(*this, g0 + 1, g1, std::clamp(x0, 0, m_iSizeX - 1), std::clamp(x1, 0, m_iSizeX - 1), v);
}

void CSSEMatrix::FillAreaExact(int x0, int y0, int x1, int y1, float v) {
  if (!HasMemory() || IsEmpty()) return;
  x0 = std::clamp(x0, 0, m_iSizeX);
  x1 = std::clamp(x1, 0, m_iSizeX);
  y0 = std::clamp(y0, 0, m_iSizeY);
  y1 = std::clamp(y1, 0, m_iSizeY);
  if (x0 >= x1 || y0 >= y1) return;
  const __m128 value = _mm_set1_ps(v);
  for (int g = y0 >> 2; g <= (y1 - 1) >> 2; ++g) {
    const __m128 rows = orvik::detail::rowRangeMask(g, y0, y1);
    float* p = reinterpret_cast<float*>(m_ppLines[g] + x0);
    for (int x = x0; x < x1; ++x, p += 4) _mm_store_ps(p, select(rows, value, _mm_load_ps(p)));
  }
}

void CSSEMatrix::FillAreaExact(CbVector2f point, CbVector2f normal, float v) {
  if (static_cast<long long>(m_iSizeX) * m_iSizeY < 1)
    throw CbException("ssematrix", 8097, "CSSEMatrix::FillAreaExact");
  if (!HasMemory()) return;
  const float length2 = normal.x * normal.x + normal.y * normal.y;
  if (length2 <= 1.1754944e-38f) {
    normal = CbVector2f(0.0f, 0.0f);
  } else {
    const float length = std::sqrt(length2);
    normal = CbVector2f(normal.x / length, normal.y / length);
  }
  const int px = truncClamped(point.x, -1, m_iSizeX + 1);
  const int py = truncClamped(point.y, -1, m_iSizeY + 1);
  if (std::fabs(normal.x) <= 0.0001f) {
    if (normal.y > 0.0f) FillAreaExact(0, py, m_iSizeX, m_iSizeY, v);
    else if (normal.y < 0.0f) FillAreaExact(0, 0, m_iSizeX, py, v);
    return;
  }
  if (std::fabs(normal.y) <= 0.0001f) {
    if (normal.x > 0.0f) FillAreaExact(px, 0, m_iSizeX, m_iSizeY, v);
    else FillAreaExact(0, 0, px, m_iSizeY, v);
    return;
  }
  const float s = normal.x / (0.0f - normal.y);
  const float c = point.y - s * point.x;
  for (int y = 0; y < m_iSizeY; ++y) {
    const float b = (static_cast<float>(y) - c) / s;
    if (b != b) continue;
    const int column = truncClamped(b, -1, m_iSizeX);
    const int from = normal.x < 0.0f ? 0 : std::max(column, 0);
    const int to = normal.x < 0.0f ? std::min(column, m_iSizeX - 1) : m_iSizeX - 1;
    for (int x = from; x <= to; ++x) *pointer(x, y) = v;
  }
}

void CSSEMatrix::FillAreaZylindrical(int x0, int y0, int x1, int y1, float step, float scale, bool negative) {
  if (!HasMemory() || IsEmpty()) return;
  x0 = std::clamp(x0, 0, m_iSizeX - 1);
  x1 = std::clamp(x1, 0, m_iSizeX - 1);
  if (x0 >= x1) return;
  int g0, g1;
  approxLines(*this, y0, y1, g0, g1);
  const float r = static_cast<float>(x1 - x0) * scale * 0.5f;
  float u = r;
  for (int x = x0; x < x1; ++x) {
    u -= step;
    float value = std::sqrt(std::max(0.0f, r * r - u * u));
    if (negative) value = 0.0f - value;
    fillLines(*this, g0, g1, x, x + 1, value);
  }
}

void CSSEMatrix::FillMatrixWithProcessedRow() {
  if (!HasMemory() || IsEmpty()) return;
  const int r = std::max(std::min(m_iRowProcessed, m_iSizeY - 1), 0);
  float* line = reinterpret_cast<float*>(m_ppLines[r >> 2]);
  for (int lane = (r & 3) + 1; lane < 4; ++lane)
    for (int x = 0; x < m_iSizeX; ++x) line[4 * x + lane] = line[4 * x + lane - 1];
  for (int x = 0; x < m_iSizeX; ++x) fillLines(*this, (r >> 2) + 1, m_iSSESizeY, x, x + 1, line[4 * x + (r & 3)]);
}

void CSSEMatrix::FillRestorationHoles(float depth) {
  if (!HasMemory() || IsEmpty()) return;
  int holes[4];
  for (int y = 0; y < m_iSizeY; ++y) {
    float ref = *pointer(0, y);
    int count = 0;
    for (int x = 1; x < m_iSizeX; ++x) {
      const float v = *pointer(x, y);
      if (ref - depth > v) {
        if (count < 4) holes[count++] = x;
        continue;
      }
      // A hole of one to three columns closed again: fill it with the level before it.
      if (count > 0 && count < 4)
        for (int i = 0; i < count; ++i) *pointer(holes[i], y) = ref;
      count = 0;
      ref = v;
    }
  }
}

void CSSEMatrix::ClearRow(int y, float v) {
  if (!HasMemory() || IsEmpty()) return;
  y = clampY(y);
  for (int x = 0; x < m_iSizeX; ++x) *pointer(x, y) = v;
}

void CSSEMatrix::ReplaceLineAbove(float t, float v, int y) {
  if (!HasMemory() || IsEmpty()) return;
  y = clampY(y);
  for (int x = 0; x < m_iSizeX; ++x)
    if (*pointer(x, y) > t) *pointer(x, y) = v;
}

void CSSEMatrix::FindSuitableAreaForAPin(const CbVector3f& pin, const CbVector2f& origin, float v, float maxStep) {
  if (!HasMemory() || IsEmpty()) return;
  const int px = truncClamped(pin.x - origin.x, -1, m_iSizeX);
  const int py = truncClamped(pin.y - origin.y, -1, m_iSizeY);
  // Each comparison sees the replacements made before it, so a replacement
  // travels away from the pin until a neighbour lies within maxStep of v.
  auto step = [&](int x, int y, int nx, int ny) {
    if (std::fabs(*pointer(x, y) - *pointer(nx, ny)) > maxStep) *pointer(nx, ny) = v;
  };
  for (int x = 0; x < m_iSizeX; ++x) {
    for (int y = std::min(py, m_iSizeY - 1); y >= 1; --y) step(x, y, x, y - 1);
    for (int y = std::max(py, 0); y <= m_iSizeY - 2; ++y) step(x, y, x, y + 1);
  }
  for (int y = 0; y < m_iSizeY; ++y) {
    for (int x = std::min(px, m_iSizeX - 1); x >= 1; --x) step(x, y, x - 1, y);
    for (int x = std::max(px, 0); x <= m_iSizeX - 2; ++x) step(x, y, x + 1, y);
  }
}

// ---------------------------------------------------------------------------
// Searches

namespace {
inline int testMask(__m128 v, __m128 t, bool above, bool inclusive) {
  if (inclusive) return _mm_movemask_ps(above ? _mm_cmpge_ps(v, t) : _mm_cmple_ps(v, t));
  return _mm_movemask_ps(above ? _mm_cmpgt_ps(v, t) : _mm_cmplt_ps(v, t));
}
}  // namespace

void CSSEMatrix::FindFirstPoint(int& x, int& y, float t, bool above) {
  x = y = 0;
  if (!HasMemory()) return;
  const __m128 tt = _mm_set1_ps(t);
  for (int c = 20; c <= m_iSizeX - 21; ++c)
    for (int g = 5; g <= m_iSSESizeY - 6; ++g)
      if (const int hit = testMask(_mm_load_ps(reinterpret_cast<const float*>(m_ppLines[g] + c)), tt, above, true)) {
        x = c;
        y = 4 * g + __builtin_ctz(hit);
        return;
      }
}

void CSSEMatrix::FindFirstPointSpecial(int& x, int& y, float t, bool above) {
  x = y = 0;
  if (!HasMemory()) return;
  const __m128 tt = _mm_set1_ps(t);
  for (int g = 5; g <= m_iSSESizeY - 6; ++g)
    for (int c = 20; c <= m_iSizeX - 21; ++c)
      if (const int hit = testMask(_mm_load_ps(reinterpret_cast<const float*>(m_ppLines[g] + c)), tt, above, true)) {
        x = c;
        y = 4 * g + __builtin_ctz(hit);
        return;
      }
}

void CSSEMatrix::FindLastPoint(int& x, int& y, float t, bool above) {
  x = y = 0;
  if (!HasMemory()) return;
  const __m128 tt = _mm_set1_ps(t);
  for (int c = m_iSizeX - 21; c >= 20; --c)
    for (int g = m_iSSESizeY - 2; g >= 2; --g)
      if (const int hit = testMask(_mm_load_ps(reinterpret_cast<const float*>(m_ppLines[g] + c)), tt, above, false)) {
        x = c;
        y = 4 * g + __builtin_ctz(hit);
        return;
      }
}

void CSSEMatrix::FindFirstPointLined(int x, int& y, float t, bool above) {
  y = 0;
  if (!HasMemory() || x < 0 || x >= m_iSizeX) return;
  const __m128 tt = _mm_set1_ps(t);
  for (int g = m_iSSESizeY - 2; g >= 2; --g)
    if (const int hit = testMask(_mm_load_ps(reinterpret_cast<const float*>(m_ppLines[g] + x)), tt, above, false)) {
      y = 4 * g + __builtin_ctz(hit);
      return;
    }
}

void CSSEMatrix::FindFirstPointLinedSpecial(int x, int& y, float t, bool above) {
  y = 0;
  if (!HasMemory() || x < 0 || x >= m_iSizeX) return;
  const __m128 tt = _mm_set1_ps(t);
  for (int g = 5; g <= m_iSSESizeY - 6; ++g)
    if (const int hit = testMask(_mm_load_ps(reinterpret_cast<const float*>(m_ppLines[g] + x)), tt, above, false)) {
      y = 4 * g + __builtin_ctz(hit);
      return;
    }
}

int CSSEMatrix::FindPointFromRight(int xFrom, int xTo, int y, float t, bool above) {
  if (!HasMemory() || IsEmpty() || xFrom < xTo) return xTo;
  y = clampY(y);
  for (int x = std::min(xFrom, m_iSizeX - 1); x >= std::max(xTo, 0); --x) {
    const float v = *pointer(x, y);
    if (above ? v > t : v < t) return x;
  }
  return xTo;
}

int CSSEMatrix::FindFirstUnequalPointFromLeft(int xFrom, int xTo, int y, float v) {
  if (!HasMemory() || IsEmpty() || xFrom > xTo) return xTo;
  y = clampY(y);
  for (int x = std::max(xFrom, 0); x <= std::min(xTo, m_iSizeX - 1); ++x)
    if (!(*pointer(x, y) == v)) return x;
  return xTo;
}

int CSSEMatrix::FindFirstUnequalPointFromRight(int xFrom, int xTo, int y, float v) {
  if (!HasMemory() || IsEmpty() || xFrom < xTo) return xTo;
  y = clampY(y);
  for (int x = std::min(xFrom, m_iSizeX - 1); x >= std::max(xTo, 0); --x)
    if (!(*pointer(x, y) == v)) return x;
  return xTo;
}

// ---------------------------------------------------------------------------
// Drawing up to a surface

namespace {
// Handles a line of the upward column scan whose hit lanes are `hit`: the hit
// nearest the bottom decides the row; the lanes below it are drawn.
void drawBelowHit(float* lanes, int line, int hit, float v, bool draw, int& y) {
  const int lane = 31 - __builtin_clz(hit);
  if (draw)
    for (int k = lane + 1; k < 4; ++k) lanes[k] = v;
  y = 4 * line + lane;
}
}  // namespace

void CSSEMatrix::DrawFirstPointLined(int x, float t, bool above, float v, int& y, int yMin, bool draw) {
  if (!HasMemory() || IsEmpty() || x < 0 || x >= m_iSizeX) return;
  const int stop = (clampY(yMin) >> 2) + 1;
  const __m128 tt = _mm_set1_ps(t), value = _mm_set1_ps(v);
  for (int g = m_iSSESizeY - 2; g > stop; --g) {
    float* lanes = reinterpret_cast<float*>(m_ppLines[g] + x);
    const int hit = testMask(_mm_load_ps(lanes), tt, above, false);
    if (hit) {
      drawBelowHit(lanes, g, hit, v, draw, y);
      return;
    }
    if (draw) _mm_store_ps(lanes, value);
    else y = 4 * g;
  }
}

void CSSEMatrix::DrawFirstPointLinedUseMask(int x, float t, bool above, float v, int& y, CSSEMatrix& mask, int yMin) {
  if (!HasMemory() || IsEmpty() || x < 0 || x >= m_iSizeX) return;
  const int stop = (clampY(yMin) >> 2) + 1;
  const __m128 tt = _mm_set1_ps(t), value = _mm_set1_ps(v), wall = _mm_set1_ps(500.0f);
  // Lines or columns the mask lacks hold no wall.
  const bool maskColumn = mask.HasMemory() && x < mask.GetSSESizeX();
  for (int g = m_iSSESizeY - 2; g > stop; --g) {
    float* lanes = reinterpret_cast<float*>(m_ppLines[g] + x);
    const __m128 e = _mm_load_ps(lanes);
    const __m128 m = maskColumn && g < mask.GetSSESizeY()
                         ? _mm_load_ps(reinterpret_cast<const float*>(mask.GetMatrixDataDirectly()[g] + x))
                         : _mm_setzero_ps();
    const __m128 walls = _mm_cmpgt_ps(m, wall);
    if (above) {
      if (const int hit = _mm_movemask_ps(_mm_or_ps(_mm_cmpgt_ps(e, tt), walls))) {
        drawBelowHit(lanes, g, hit, v, true, y);
        return;
      }
    } else if (_mm_movemask_ps(_mm_or_ps(_mm_cmple_ps(e, tt), walls))) {
      y = 4 * g;
      return;
    }
    _mm_store_ps(lanes, value);
  }
}

void CSSEMatrix::DrawFirstPointLinedUseMask(int x, float t, bool above, float v, int& y, CSSEcharMatrix& mask, int yMin,
                                            bool draw) {
  if (!HasMemory() || IsEmpty() || x < 0 || x >= m_iSizeX) return;
  const bool masked = mask.HasMemory() && mask.GetSizeX() > 0 && mask.GetSizeY() > 0;
  const int stop = std::max(std::min(m_iSizeY - 1, yMin), 0);
  for (int row = m_iSizeY - 1; row > stop; --row) {
    float* p = pointer(x, row);
    const bool open = above ? *p <= t : *p >= t;
    const bool free = !masked || static_cast<signed char>(mask.GetPoint(x, row)) < 2;
    if (!(open && free)) {
      y = row;
      return;
    }
    if (draw) *p = v;
    else y = row;
  }
}

// ---------------------------------------------------------------------------
// Centred copies

namespace {
// Calls op(target lane vector, centred source vector, logical-row mask) for
// every vector of the target; src must be at least as large as the target, so
// that every centred position lies inside it.
template <class Op>
void centred(CSSEMatrix& m, const CSSEMatrix& src, Op op) {
  const int ox = (src.GetSizeX() >> 1) - (m.GetSizeX() >> 1);
  const int oy = (src.GetSizeY() >> 1) - (m.GetSizeY() >> 1);
  const __m128* const* from = src.GetMatrixDataDirectly();
  for (int g = 0; g < m.GetSSESizeY(); ++g) {
    const int d = 4 * g + oy;
    const int a = d >> 2, shift = d & 3;
    const __m128 rows = orvik::detail::rowRangeMask(g, 0, m.GetSizeY());
    if (!_mm_movemask_ps(rows)) continue;
    const float* lo = reinterpret_cast<const float*>(from[a] + ox);
    const float* hi = a + 1 < src.GetSSESizeY() ? reinterpret_cast<const float*>(from[a + 1] + ox) : nullptr;
    float* t = reinterpret_cast<float*>(m.GetMatrixDataDirectly()[g]);
    for (int x = 0; x < m.GetSSESizeX(); ++x) {
      const __m128 s = orvik::detail::alignLanes(_mm_load_ps(lo + 4 * x), hi ? _mm_load_ps(hi + 4 * x) : _mm_setzero_ps(), shift);
      _mm_store_ps(t + 4 * x, op(_mm_load_ps(t + 4 * x), s, rows));
    }
  }
}

bool coversCentred(const CSSEMatrix& m, const CSSEMatrix& src) {
  return m.HasMemory() && src.HasMemory() && !m.IsEmpty() && src.GetSizeX() >= m.GetSizeX() &&
         src.GetSizeY() >= m.GetSizeY();
}
}  // namespace

void CSSEMatrix::CopyFromSSEMatrixCentered(CSSEMatrix& src) {
  if (&src == this) {  // the clearing below would erase the source
    CSSEMatrix copy(src);
    CopyFromSSEMatrixCentered(copy);
    return;
  }
  SetAllPixelValuesToZero();
  if (!coversCentred(*this, src)) return;
  centred(*this, src, [](__m128, __m128 s, __m128 rows) { return _mm_and_ps(rows, s); });
}

void CSSEMatrix::CopyFromSSEMatrixCenteredMaximum(CSSEMatrix& src) {
  if (!coversCentred(*this, src)) return;
  centred(*this, src, [](__m128 t, __m128 s, __m128 rows) { return select(_mm_and_ps(rows, _mm_cmpgt_ps(s, t)), s, t); });
}

void CSSEMatrix::CopyFromSSEMatrixCenteredMinimum(CSSEMatrix& src) {
  if (!coversCentred(*this, src)) return;
  centred(*this, src, [](__m128 t, __m128 s, __m128 rows) { return select(_mm_and_ps(rows, _mm_cmplt_ps(s, t)), s, t); });
}
