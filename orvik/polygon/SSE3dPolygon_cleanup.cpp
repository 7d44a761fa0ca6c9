#include <immintrin.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>

#include "orvik/polygon/RingArea.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "orvik/triangulation/HConvexHull2D.h"
#include "orvik/triangulation/HSimpleBasisFcns.h"

namespace {

// Up to this many points the earlier points are compared directly, which
// costs less than the lookups of the cells.
constexpr int c_iDirectCompare = 256;

// Points by the unit cell they lie in: an open-addressing table from a cell
// to the most recent point in it, the points of a cell chained through
// `next`. Two points closer than 1 in |dx| + |dy| lie at most one cell apart
// on each axis, so the 3 x 3 cells around a point hold every candidate.
// A row of cells hashes to neighbouring slots, so that the three cells of a
// row mostly share a cache line, and an outline, which moves from cell to
// neighbouring cell, keeps revisiting the same lines.
class CellIndex {
public:
  explicit CellIndex(int n) : m_next(n, -1) {
    std::size_t size = 16;
    while (size < 2 * static_cast<std::size_t>(n)) size *= 2;
    m_keys.resize(size);
    m_heads.assign(size, -1);
  }

  // Cell of a finite coordinate. The clamp keeps a cell and its neighbours
  // within 32 bits and is monotone, so neighbours stay neighbours.
  static std::int64_t cellOf(float v) {
    constexpr double limit = 1073741824.0;  // 2^30
    return static_cast<std::int64_t>(std::clamp(std::floor(double(v)), -limit, limit));
  }

  int first(std::int64_t cx, std::int64_t cy) const { return m_heads[find(cx, cy)]; }
  int next(int i) const { return m_next[i]; }

  void insert(std::int64_t cx, std::int64_t cy, int i) {
    const std::size_t k = find(cx, cy);
    m_next[i] = m_heads[k];
    m_heads[k] = i;
    m_keys[k] = key(cx, cy);
  }

private:
  static std::uint64_t key(std::int64_t cx, std::int64_t cy) {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(cx)) << 32 | static_cast<std::uint32_t>(cy);
  }

  std::size_t find(std::int64_t cx, std::int64_t cy) const {
    const std::uint64_t k = key(cx, cy);
    const std::size_t mask = m_keys.size() - 1;
    const std::uint64_t row = (static_cast<std::uint64_t>(cy) * 0x9E3779B97F4A7C15ull) >> 20;
    for (std::size_t s = (row + static_cast<std::uint64_t>(cx)) & mask;; s = (s + 1) & mask)
      if (m_heads[s] < 0 || m_keys[s] == k) return s;
  }

  std::vector<std::uint64_t> m_keys;
  std::vector<int> m_heads;  // -1: an empty slot
  std::vector<int> m_next;
};

double signedArea(const std::vector<t_h2dpoint>& p, const std::vector<int>& ring) {
  return orvik::detail::twiceSignedArea(ring.size(),
                                        [&](std::size_t k) -> const t_h2dpoint& { return p[ring[k]]; });
}

int signOf(double v) { return (v > 0.0) - (v < 0.0); }

}  // namespace

void CSSE3dPolygon::RemoveEqualPointsXY() {
  const int n = m_iNumPoints;
  if (n == 0) return;
  CellIndex index(n);
  std::vector<char> keep(n, 1);
  bool previousRemoved = false;
  const __m128 one = _mm_set1_ps(1.0f), sign = _mm_set1_ps(-0.0f);
  for (int i = 0; i < n; ++i) {
    const float x = m_pfX[i], y = m_pfY[i];
    // A point with a non-finite coordinate is never within 1 of another.
    bool near = false;
    if (n <= c_iDirectCompare) {
      // Every earlier point, four at a time; a non-finite difference is
      // never below 1.
      const __m128 px = _mm_set1_ps(x), py = _mm_set1_ps(y);
      __m128 hit = _mm_setzero_ps();
      int j = 0;
      for (; j + 4 <= i; j += 4) {
        const __m128 dx = _mm_andnot_ps(sign, _mm_sub_ps(_mm_loadu_ps(m_pfX + j), px));
        const __m128 dy = _mm_andnot_ps(sign, _mm_sub_ps(_mm_loadu_ps(m_pfY + j), py));
        hit = _mm_or_ps(hit, _mm_cmplt_ps(_mm_add_ps(dx, dy), one));
      }
      near = _mm_movemask_ps(hit) != 0;
      for (; j < i && !near; ++j) near = std::fabs(m_pfX[j] - x) + std::fabs(m_pfY[j] - y) < 1.0f;
    } else if (std::isfinite(x) && std::isfinite(y)) {
      const std::int64_t cx = CellIndex::cellOf(x), cy = CellIndex::cellOf(y);
      // The point's own cell first: it nearly always settles the question.
      for (int k = 0; k < 10 && !near; ++k) {
        const int dx = k == 0 ? 0 : (k - 1) % 3 - 1, dy = k == 0 ? 0 : (k - 1) / 3 - 1;
        if (k > 0 && dx == 0 && dy == 0) continue;
        for (int j = index.first(cx + dx, cy + dy); j >= 0 && !near; j = index.next(j))
          near = std::fabs(m_pfX[j] - x) + std::fabs(m_pfY[j] - y) < 1.0f;
      }
      index.insert(cx, cy, i);
    }
    const bool remove = near && !previousRemoved;
    keep[i] = !remove;
    previousRemoved = remove;
  }
  keepPoints(keep);
}

bool CSSE3dPolygon::RemoveLoopInXYPlane(int& start) {
  const int n = m_iNumPoints;
  std::vector<t_h2dpoint> p(n);
  for (int i = 0; i < n; ++i) p[i] = {m_pfX[i], m_pfY[i]};
  const int s = signOf(CalcXYArea());
  for (int i = std::max(start, 0); i < n - 2; ++i) {
    for (int j = i + 2; j < n; ++j) {
      if (i == 0 && j == n - 1) continue;  // the closing edge touches edge 0
      if (!CHSimpleBasisFcns::Intersect(&p[i], &p[i + 1], &p[j], &p[(j + 1) % n])) continue;
      std::vector<int> loop, rest;
      for (int k = i + 1; k <= j; ++k) loop.push_back(k);
      for (int k = 0; k <= i; ++k) rest.push_back(k);
      for (int k = j + 1; k < n; ++k) rest.push_back(k);
      const int loopSign = signOf(signedArea(p, loop)), restSign = signOf(signedArea(p, rest));
      const bool keepLoop = loopSign == s && (restSign != s || loop.size() >= rest.size());
      std::vector<char> keep(n, 0);
      for (int k : keepLoop ? loop : rest) keep[k] = 1;
      keepPoints(keep);
      start = keepLoop ? 0 : i;
      return true;
    }
  }
  return false;
}

void CSSE3dPolygon::RemoveAllLoopsInXYPlane() {
  BlowLine(2.0f, 2.0f, 1.0f, false);
  int start = 0;
  while (RemoveLoopInXYPlane(start)) {
  }
  BlowLine(0.5f, 0.5f, 1.0f, false);
}

void CSSE3dPolygon::BlowLine(float sx, float sy, float sz, bool reparametrize) {
  for (int i = 0; i < m_iNumPoints; ++i) m_pfX[i] *= sx, m_pfY[i] *= sy, m_pfZ[i] *= sz;
  m_bBoundingBoxCalculated = false;
  if (reparametrize) ReParametrize(0.6f);
}

// c + (p - c) s is computed as p s + c (1 - s): the same value, but exact for
// a factor of 1 (the points stay) and of 0 (the points land on the centre).
void CSSE3dPolygon::BlowLineAroundCenter(float sx, float sy, float sz, bool reparametrize) {
  CalcGeometricCenter();
  const SSEPoint c = *m_pGeometricCenter;
  for (int i = 0; i < m_iNumPoints; ++i) {
    m_pfX[i] = m_pfX[i] * sx + c.x * (1.0f - sx);
    m_pfY[i] = m_pfY[i] * sy + c.y * (1.0f - sy);
    m_pfZ[i] = m_pfZ[i] * sz + c.z * (1.0f - sz);
  }
  m_bBoundingBoxCalculated = false;
  if (reparametrize) ReParametrize(0.6f);
}

// After the chord thinning a pixel staircase is a sequence of corners: a run
// along one axis, a pure step along the other, a run in the same direction,
// and so on. A stair starts at point i when d1 = P(i+2) - P(i+1) is a pure
// step and the runs d0 and d2 on either side point the same way. Following
// stairs lie `window` points apart, step the same way and differ in height by
// a ratio below tol. Each followed stair loses the window - 1 points after its
// start (for window 2, the corner at the foot of its step), so the outline
// runs through one corner per stair. A lone stair is left alone: beside a
// corner of the outline it is the corner.
void CSSE3dPolygon::SmoothPixelCausedSteps(int window, float tol) {
  SubSampleAdaptive(0.9999f, FLT_MAX);
  if (window < 2) return;
  const int n = m_iNumPoints;
  struct Stair {
    float runSign, rise;
  };
  // axis 0: runs along x, steps along y; axis 1 the other way round.
  const auto stairAt = [&](long long i, int axis, Stair& st) {
    if (i + 3 >= n) return false;
    const float* a = axis == 0 ? m_pfX : m_pfY;
    const float* b = axis == 0 ? m_pfY : m_pfX;
    const float run0 = a[i + 1] - a[i], run2 = a[i + 3] - a[i + 2];
    const float stepA = a[i + 2] - a[i + 1], stepB = b[i + 2] - b[i + 1];
    if (stepA != 0.0f || stepB == 0.0f || !(run0 * run2 > 0.0f)) return false;
    st = {run0 > 0.0f ? 1.0f : -1.0f, stepB};
    return true;
  };
  std::vector<char> keep(n, 1);
  for (int i = 1; i + 3 < n;) {
    int followed = 0;
    for (int axis = 0; axis < 2 && followed == 0; ++axis) {
      Stair first, previous, next;
      if (!stairAt(i, axis, first)) continue;
      previous = first;
      while (stairAt(i + static_cast<long long>(followed + 1) * window, axis, next) &&
             next.runSign == first.runSign && (next.rise > 0.0f) == (first.rise > 0.0f)) {
        const float hi = std::max(std::fabs(next.rise), std::fabs(previous.rise));
        const float lo = std::min(std::fabs(next.rise), std::fabs(previous.rise));
        if (!(hi / lo < tol)) break;
        previous = next;
        ++followed;
      }
    }
    if (followed == 0) {
      ++i;
      continue;
    }
    const long long end = i + static_cast<long long>(followed + 1) * window;
    for (long long k = i; k < end; k += window)
      for (long long m = k + 1; m < k + window && m < n; ++m) keep[m] = 0;
    i = static_cast<int>(std::min<long long>(end, n));
  }
  keepPoints(keep);
}

void CSSE3dPolygon::RoundPolygon(bool reparametrizeFirst) {
  if (reparametrizeFirst) ReParametrize(3.0f);
  ReducePoints(true);
  const int n = m_iNumPoints;
  if (n == 0) return;
  CalcBoundingBox();
  const float mx = (m_pBottomLeft->x + m_pTopRight->x) / 2.0f;
  const float my = (m_pBottomLeft->y + m_pTopRight->y) / 2.0f;
  const bool clockwise = CalcXYArea() <= 0.0f;
  std::vector<t_h2dpoint> out(n);
  for (int i = 0; i < n; ++i) {
    const t_h2dpoint prev{m_pfX[(i + n - 1) % n], m_pfY[(i + n - 1) % n]};
    const t_h2dpoint p{m_pfX[i], m_pfY[i]};
    const t_h2dpoint next{m_pfX[(i + 1) % n], m_pfY[(i + 1) % n]};
    const bool lowX = p.x < mx, lowY = p.y < my;
    const float awayX = lowX ? -1.0f : 1.0f, awayY = lowY ? -1.0f : 1.0f;
    const t_h2dpoint a{lowX ? std::floor(p.x) : std::ceil(p.x), lowY ? std::floor(p.y) : std::ceil(p.y)};
    const t_h2dpoint b{lowX ? std::ceil(p.x) : std::floor(p.x), lowY ? std::ceil(p.y) : std::floor(p.y)};
    const t_h2dpoint candidates[6] = {a, b, {a.x + awayX, a.y}, {a.x, a.y + awayY}, {b.x - awayX, b.y},
                                      {b.x, b.y - awayY}};
    out[i] = p;
    for (const t_h2dpoint& q : candidates)
      if (CHSimpleBasisFcns::LeftOn(&prev, &p, &q) == clockwise ||
          CHSimpleBasisFcns::LeftOn(&p, &next, &q) == clockwise) {
        out[i] = q;
        break;
      }
  }
  for (int i = 0; i < n; ++i) m_pfX[i] = out[i].x, m_pfY[i] = out[i].y;
  m_bBoundingBoxCalculated = false;
  ReducePoints(true);
}

void CSSE3dPolygon::ReplaceByConvexHullXY() {
  if (m_iNumPoints < 2) return;
  const CHConvexHull2D hull(this);
  hull.ObtainConvexHull3D(this);
}
