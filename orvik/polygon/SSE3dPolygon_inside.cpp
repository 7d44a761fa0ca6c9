#include <immintrin.h>

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "orvik/polygon/CrossingTest.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "orvik/triangulation/HSimpleBasisFcns.h"

namespace {

struct Rect {
  float minX, minY, maxX, maxY;
  bool holds(float x, float y) const { return minX <= x && x <= maxX && minY <= y && y <= maxY; }
};

// The even-odd count on the ring n - 1, 0, step, 2 step, ... (index at most
// n - step), closed back to n - 1 when step >= 2. An edge counts when px lies
// in the half-open x interval between its ends, and toggles when it passes
// strictly beyond p in +y. With a rectangle, vertices outside it are passed
// over and the edge joins the accepted neighbours.
bool crossingCount(const float* x, const float* y, int n, float px, float py, int step, const Rect* rect) {
  if (n < 3) return false;
  step = std::max(step, 1);
  bool inside = false;
  const auto edge = [&](int a, int b) {
    if (orvik::detail::edgeTogglesCount(x[a], y[a], x[b], y[b], px, py)) inside = !inside;
  };
  int a = n - 1;
  for (long long i = 0; i <= n - step; i += step) {
    if (rect && !rect->holds(x[i], y[i])) continue;
    edge(a, static_cast<int>(i));
    a = static_cast<int>(i);
  }
  if (step >= 2) edge(a, n - 1);
  return inside;
}

}  // namespace

bool CSSE3dPolygon::PointInLineInnerArea(float x, float y, int step) {
  if (m_iNumPoints < 3) return false;
  if (!m_bBoundingBoxCalculated) CalcBoundingBox();
  if (!(m_pXYMin->x <= x && x <= m_pXYMax->x && m_pXYMin->y <= y && y <= m_pXYMax->y)) return false;
  return crossingCount(m_pfX, m_pfY, m_iNumPoints, x, y, step, nullptr);
}

bool CSSE3dPolygon::PointInLineInnerArea(SSEPoint& p, int step) { return PointInLineInnerArea(p.x, p.y, step); }

bool CSSE3dPolygon::PointInLineInnerAreaNormalized(float x, float y, int step) {
  return crossingCount(m_pfNormX, m_pfNormY, m_iNumPoints, x, y, step, nullptr);
}

bool CSSE3dPolygon::PointInLineInnerAreaNormalized(SSEPoint& p, int step) {
  return PointInLineInnerAreaNormalized(p.x, p.y, step);
}

bool CSSE3dPolygon::PointInLineInnerAreaBoxed(SSEPoint& p, float minX, float minY, float maxX, float maxY, int step) {
  if (m_iNumPoints < 3) return false;
  if (!m_bBoundingBoxCalculated) CalcBoundingBox();
  if (!(m_pXYMin->x <= p.x && p.x <= m_pXYMax->x && m_pXYMin->y <= p.y && p.y <= m_pXYMax->y)) return false;
  const Rect rect{minX, minY, maxX, maxY};
  return crossingCount(m_pfX, m_pfY, m_iNumPoints, p.x, p.y, step, &rect);
}

bool CSSE3dPolygon::PointInLineInnerAreaBoxed(float x, float y, float minX, float minY, float maxX, float maxY,
                                              int step) {
  SSEPoint p(x, y, 0.0f);
  return PointInLineInnerAreaBoxed(p, minX, minY, maxX, maxY, step);
}

// The two-ray crossing count, four edges per step. Only the parities of the
// counts matter, so the lanes gather them by exclusive or. The crossing's x
// is the float numerator over the float denominator divided in double, as in
// the one-edge form below; two lanes at a time.
CSSE3dPolygon::EPointStatus CSSE3dPolygon::PointStatusWithRespectToPolygon(const SSEPoint& p) {
  const int n = m_iNumPoints;
  const __m128 px = _mm_set1_ps(p.x), py = _mm_set1_ps(p.y), zero = _mm_setzero_ps();
  __m128 right = zero, left = zero;
  int s = 0;
  for (; s + 4 < n; s += 4) {
    const __m128 ux = _mm_sub_ps(_mm_load_ps(m_pfX + s), px), uy = _mm_sub_ps(_mm_load_ps(m_pfY + s), py);
    const __m128 vx = _mm_sub_ps(_mm_loadu_ps(m_pfX + s + 1), px), vy = _mm_sub_ps(_mm_loadu_ps(m_pfY + s + 1), py);
    if (_mm_movemask_ps(_mm_and_ps(_mm_cmpeq_ps(ux, zero), _mm_cmpeq_ps(uy, zero)))) return ePointOnVertex;
    const __m128 rightRay = _mm_xor_ps(_mm_cmpgt_ps(uy, zero), _mm_cmpgt_ps(vy, zero));
    const __m128 leftRay = _mm_xor_ps(_mm_cmplt_ps(uy, zero), _mm_cmplt_ps(vy, zero));
    if (!_mm_movemask_ps(_mm_or_ps(rightRay, leftRay))) continue;
    const __m128 num = _mm_sub_ps(_mm_mul_ps(vy, ux), _mm_mul_ps(vx, uy)), den = _mm_sub_ps(vy, uy);
    const __m128d lo = _mm_div_pd(_mm_cvtps_pd(num), _mm_cvtps_pd(den));
    const __m128d hi = _mm_div_pd(_mm_cvtps_pd(_mm_movehl_ps(num, num)), _mm_cvtps_pd(_mm_movehl_ps(den, den)));
    const __m128d zd = _mm_setzero_pd();
    // Each double mask is two equal halves; lanes 0 and 2 of each pair give
    // the four float masks.
    const __m128 positive =
        _mm_shuffle_ps(_mm_castpd_ps(_mm_cmpgt_pd(lo, zd)), _mm_castpd_ps(_mm_cmpgt_pd(hi, zd)), _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 negative =
        _mm_shuffle_ps(_mm_castpd_ps(_mm_cmplt_pd(lo, zd)), _mm_castpd_ps(_mm_cmplt_pd(hi, zd)), _MM_SHUFFLE(2, 0, 2, 0));
    right = _mm_xor_ps(right, _mm_and_ps(rightRay, positive));
    left = _mm_xor_ps(left, _mm_and_ps(leftRay, negative));
  }
  int rightOdd = __builtin_popcount(_mm_movemask_ps(right)) & 1;
  int leftOdd = __builtin_popcount(_mm_movemask_ps(left)) & 1;
  for (; s < n; ++s) {
    const int e = s + 1 < n ? s + 1 : 0;
    const float ux = m_pfX[s] - p.x, uy = m_pfY[s] - p.y;
    const float vx = m_pfX[e] - p.x, vy = m_pfY[e] - p.y;
    if (ux == 0.0f && uy == 0.0f) return ePointOnVertex;
    const bool rightRay = (uy > 0.0f) != (vy > 0.0f), leftRay = (uy < 0.0f) != (vy < 0.0f);
    if (!rightRay && !leftRay) continue;
    const float num = vy * ux - vx * uy, den = vy - uy;
    const double cx = double(num) / double(den);
    rightOdd ^= rightRay && cx > 0.0;
    leftOdd ^= leftRay && cx < 0.0;
  }
  if (rightOdd != leftOdd) return ePointOnEdge;
  return rightOdd ? ePointInside : ePointOutside;
}

bool CSSE3dPolygon::PolygonInThisPolygon(CSSE3dPolygon& other) {
  if (m_iNumPoints == 0 || other.m_iNumPoints == 0) return false;
  for (int i = 0; i < other.m_iNumPoints; ++i)
    if (!PointInLineInnerArea(other.m_pfX[i], other.m_pfY[i], 1)) return false;
  return true;
}

bool CSSE3dPolygon::PolygonInThisPolygonWithDeltaDistance(CSSE3dPolygon& other, float delta) {
  if (m_iNumPoints == 0 || other.m_iNumPoints == 0) return false;
  for (int i = 0; i < other.m_iNumPoints; ++i) {
    const float x = other.m_pfX[i], y = other.m_pfY[i];
    if (!PointInLineInnerArea(x, y, 1) && !(GetMinEuclDistanceXY(x, y, 0) < delta)) return false;
  }
  return true;
}

void CSSE3dPolygon::IntersectPolygonAreaWithCircle(const float& r) {
  const SSEPoint origin;
  for (int i = 0; i < m_iNumPoints; ++i) {
    const SSEPoint p(m_pfX[i], m_pfY[i], m_pfZ[i]);
    if (!(CHSimpleBasisFcns::GetDistance(p, origin) > r)) continue;
    const float len = std::sqrt(p.x * p.x + p.y * p.y);
    m_pfX[i] = p.x * r / len, m_pfY[i] = p.y * r / len, m_pfZ[i] = 0.0f;
  }
  m_bBoundingBoxCalculated = false;
}

// Each edge is cut by the infinite line through a and b: cutting by the
// segment a-b alone would lose the crossings beyond a or b and cut corners off.
void CSSE3dPolygon::IntersectPolygonAreaWithLine(const SSEPoint& a, const SSEPoint& b, const SSEPoint& side) {
  const int n = m_iNumPoints;
  const t_vector d{b.x - a.x, b.y - a.y, 0.0f};
  if (n == 0 || (d.x == 0.0f && d.y == 0.0f)) return;
  t_vector o;
  CHSimpleBasisFcns::FindOrthogonal(d, o);
  const float c = o.x * a.x + o.y * a.y;
  const bool closedSide = o.x * side.x + o.y * side.y >= c;
  const auto kept = [&](int i) {
    return CHSimpleBasisFcns::IsPointInHalfeplain(o.x, o.y, c, closedSide, SSEPoint(m_pfX[i], m_pfY[i], 0.0f));
  };
  int k = 0;
  while (k < n && !kept(k)) ++k;
  if (k == n) return;

  CSSE3dPolygon temp;
  temp.Create(2 * n);
  int count = 0;
  const auto append = [&](float x, float y, float z) {
    temp.m_pfX[count] = x, temp.m_pfY[count] = y, temp.m_pfZ[count] = z;
    ++count;
  };
  // The edge p -> q meets the line where the cross product with d vanishes.
  const auto appendCut = [&](int p, int q) {
    const double ex = double(m_pfX[q]) - m_pfX[p], ey = double(m_pfY[q]) - m_pfY[p];
    const double denom = ex * d.y - ey * d.x;
    if (denom == 0.0) return;
    const double t = std::clamp(((double(a.x) - m_pfX[p]) * d.y - (double(a.y) - m_pfY[p]) * d.x) / denom, 0.0, 1.0);
    append(static_cast<float>(m_pfX[p] + t * ex), static_cast<float>(m_pfY[p] + t * ey), 0.0f);
  };
  bool previousKept = true;
  int previous = k;
  for (int s = 0; s < n; ++s) {
    const int i = (k + s) % n;
    const bool in = kept(i);
    if (in && !previousKept) appendCut(previous, i);
    if (in) append(m_pfX[i], m_pfY[i], m_pfZ[i]);
    if (!in && previousKept) appendCut(previous, i);
    previousKept = in;
    previous = i;
  }
  if (!previousKept) appendCut(previous, k);

  CSSE3dPolygon result;
  result.Create(count);
  std::copy(temp.m_pfX, temp.m_pfX + count, result.m_pfX);
  std::copy(temp.m_pfY, temp.m_pfY + count, result.m_pfY);
  std::copy(temp.m_pfZ, temp.m_pfZ + count, result.m_pfZ);
  takePointsFrom(result);
}
