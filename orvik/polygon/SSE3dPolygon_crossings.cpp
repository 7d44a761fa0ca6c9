#include <algorithm>
#include <cfloat>
#include <climits>

#include "orvik/polygon/RingEdgeIndex.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "orvik/triangulation/HSimpleBasisFcns.h"

namespace {

constexpr float c_fRayLength = 100000.0f;

void xyBox(const float* x, const float* y, int n, float& minX, float& minY, float& maxX, float& maxY) {
  minX = minY = FLT_MAX;
  maxX = maxY = -FLT_MAX;
  for (int i = 0; i < n; ++i) {
    minX = std::min(minX, x[i]), maxX = std::max(maxX, x[i]);
    minY = std::min(minY, y[i]), maxY = std::max(maxY, y[i]);
  }
}

}  // namespace

bool CSSE3dPolygon::FindIntersection(const SSEPoint& a, const SSEPoint& b, SSEPoint& out, int& index) const {
  const int n = m_iNumPoints;
  for (int i = 0; i < n; ++i) {
    const int j = i + 1 < n ? i + 1 : 0;
    const SSEPoint p(m_pfX[i], m_pfY[i], m_pfZ[i]), q(m_pfX[j], m_pfY[j], m_pfZ[j]);
    if (CHSimpleBasisFcns::GetIntersection(p, q, a, b, out)) {
      index = i + 1;
      return true;
    }
  }
  return false;
}

int CSSE3dPolygon::FindNearestPointOnLine(SSEPoint p, bool up) {
  const int n = m_iNumPoints;
  const SSEPoint end(p.x, up ? p.y + c_fRayLength : p.y - c_fRayLength, 0.0f);
  float best = up ? -FLT_MAX : FLT_MAX;
  int found = -1;
  for (int i = 0; i < n; ++i) {
    const int j = i + 1 < n ? i + 1 : 0;
    SSEPoint hit;
    if (!CHSimpleBasisFcns::GetIntersection(SSEPoint(m_pfX[i], m_pfY[i], 0.0f), SSEPoint(m_pfX[j], m_pfY[j], 0.0f),
                                            p, end, hit))
      continue;
    if (up ? hit.y > best : hit.y < best) best = hit.y, found = i;
  }
  return found;
}

int CSSE3dPolygon::FindNearestPointOnLineX(SSEPoint p, bool closed) {
  const int n = m_iNumPoints;
  const SSEPoint end(p.x + c_fRayLength, p.y, 0.0f);
  float best = FLT_MAX;
  int found = INT_MAX;
  for (int i = 0; i < (closed ? n : n - 1); ++i) {
    const int j = i + 1 < n ? i + 1 : 0;
    SSEPoint hit;
    if (!CHSimpleBasisFcns::GetIntersection(SSEPoint(m_pfX[i], m_pfY[i], 0.0f), SSEPoint(m_pfX[j], m_pfY[j], 0.0f),
                                            p, end, hit) ||
        !(hit.x > p.x))
      continue;
    const float d = CHSimpleBasisFcns::GetDistance(hit, p);
    if (d < best) best = d, found = i;
  }
  return found;
}

bool CSSE3dPolygon::IntersectsPolygonWithCylinderXYPlane(const CbVector3f& a, const CbVector3f& b, float r) const {
  const t_vector d{a.x - b.x, a.y - b.y, 0.0f};
  if (d.x * d.x + d.y * d.y == 0.0f) return true;
  t_vector o;
  CHSimpleBasisFcns::FindOrthogonal(d, o);
  const float ta = a.x * d.x + a.y * d.y, tb = b.x * d.x + b.y * d.y;
  const float qa = a.x * o.x + a.y * o.y, qb = b.x * o.x + b.y * o.y;
  const float tLo = std::min(ta, tb), tHi = std::max(ta, tb);
  const float qLo = std::min(qa, qb) - r, qHi = std::max(qa, qb) + r;
  for (int i = 0; i < m_iNumPoints; ++i) {
    const float t = m_pfX[i] * d.x + m_pfY[i] * d.y, q = m_pfX[i] * o.x + m_pfY[i] * o.y;
    if (tLo <= t && t <= tHi && qLo < q && q < qHi) return true;
  }
  return false;
}

bool CSSE3dPolygon::FindIntersectionWithAnotherPolygon(const CSSE3dPolygon& other, SSEPoint& out) const {
  const int n = m_iNumPoints, m = other.m_iNumPoints;
  if (n == 0 || m == 0) return false;
  float ax0, ay0, ax1, ay1, bx0, by0, bx1, by1;
  xyBox(m_pfX, m_pfY, n, ax0, ay0, ax1, ay1);
  xyBox(other.m_pfX, other.m_pfY, m, bx0, by0, bx1, by1);
  constexpr float tol = 0.0001f;
  if (ax0 > bx1 + tol || bx0 > ax1 + tol || ay0 > by1 + tol || by0 > ay1 + tol) return false;
  orvik::detail::RingEdgeIndex edges(other.m_pfX, other.m_pfY, m);
  for (int i = 0; i < n; ++i) {
    const int i1 = i + 1 < n ? i + 1 : 0;
    const t_h2dpoint p{m_pfX[i], m_pfY[i]}, q{m_pfX[i1], m_pfY[i1]};
    int first = INT_MAX;
    t_h2dpoint hit;
    edges.forEachNear(p, q, [&](int j) {
      t_h2dpoint h{FLT_MAX, FLT_MAX};
      if (j < first && CHSimpleBasisFcns::GetIntersection(&p, &q, &edges.point(j), &edges.point(edges.next(j)), &h))
        first = j, hit = h;
      return false;
    });
    if (first != INT_MAX) {
      out = SSEPoint(hit.x, hit.y, 0.0f);
      return true;
    }
  }
  return false;
}
