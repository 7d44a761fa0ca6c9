#include <immintrin.h>

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "orvik/polygon/SSE3dPolygon.h"
#include "orvik/triangulation/HSimpleBasisFcns.h"

namespace {

constexpr float c_fFarAway = 10000000.0f;
constexpr float c_fNoDistance = 1000000.0f;

// The first index in from, from + stride, ... below end with the strictly
// smallest measure.
template <class Measure>
int closestBy(int end, int stride, Measure measure) {
  float best = c_fFarAway;
  int found = -1;
  for (int i = 0; i < end; i += stride) {
    const float d = measure(i);
    if (d < best) best = d, found = i;
  }
  return found;
}

// Minimum (and maximum) of the distances from q to whole blocks of four
// normalized points: block 0, then every (skip + 1)-th. `dims` is 2 or 3.
struct BlockDistances {
  __m128 min = _mm_set1_ps(c_fNoDistance);
  __m128 max = _mm_set1_ps(-c_fNoDistance);
};

BlockDistances blockDistances(const float* x, const float* y, const float* z, int n, float qx, float qy, float qz,
                              int skip, bool withZ) {
  BlockDistances r;
  const __m128 px = _mm_set1_ps(qx), py = _mm_set1_ps(qy), pz = _mm_set1_ps(qz);
  const long long stride = 4LL * (std::max(skip, 0) + 1LL);
  for (long long i = 0; i + 4 <= n; i += stride) {
    const __m128 dx = _mm_sub_ps(_mm_load_ps(x + i), px), dy = _mm_sub_ps(_mm_load_ps(y + i), py);
    __m128 d2 = _mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy));
    if (withZ) {
      const __m128 dz = _mm_sub_ps(_mm_load_ps(z + i), pz);
      d2 = _mm_add_ps(d2, _mm_mul_ps(dz, dz));
    }
    const __m128 d = _mm_sqrt_ps(d2);
    r.min = _mm_min_ps(d, r.min);
    r.max = _mm_max_ps(d, r.max);
  }
  return r;
}

float pointDistance(float dx, float dy, float dz) { return std::sqrt(dx * dx + dy * dy + dz * dz); }

}  // namespace

int CSSE3dPolygon::ClosestPoint(SSEPoint& p) {
  return closestBy(m_iNumPoints, 1, [&](int i) {
    return CSSEFns::euclideandistance(SSEPoint(m_pfX[i], m_pfY[i], m_pfZ[i], 0.0f), p);
  });
}

int CSSE3dPolygon::ClosestPointX(float x) {
  return closestBy(m_iNumPoints - 1, 2, [&](int i) { return std::fabs(m_pfX[i] - x); });
}

int CSSE3dPolygon::ClosestPointY(float y) {
  return closestBy(m_iNumPoints - 1, 2, [&](int i) { return std::fabs(m_pfY[i] - y); });
}

int CSSE3dPolygon::ClosestPointZ(float z) {
  return closestBy(m_iNumPoints - 1, 2, [&](int i) { return std::fabs(m_pfZ[i] - z); });
}

int CSSE3dPolygon::ClosestPointXWithZLimitation(float x, float zMin) {
  return closestBy(m_iNumPoints - 1, 2,
                   [&](int i) { return m_pfZ[i] > zMin ? std::fabs(m_pfX[i] - x) : c_fFarAway; });
}

int CSSE3dPolygon::ClosestPointYZ(float y, float z) {
  return closestBy(m_iNumPoints - 1, 2, [&](int i) {
    const float dy = m_pfY[i] - y, dz = m_pfZ[i] - z;
    return dy * dy + dz * dz;
  });
}

int CSSE3dPolygon::ClosestPointXY(float x, float y, int step) const {
  return closestBy(m_iNumPoints - 1, std::max(step, 1), [&](int i) {
    const float dx = m_pfX[i] - x, dy = m_pfY[i] - y;
    return dx * dx + dy * dy;
  });
}

int CSSE3dPolygon::ClosestPointXYWithLast(float x, float y, int step) {
  return closestBy(m_iNumPoints, std::max(step, 1), [&](int i) {
    const float dx = m_pfX[i] - x, dy = m_pfY[i] - y;
    return dx * dx + dy * dy;
  });
}

int CSSE3dPolygon::ClosestPointXWithMaximalY(float x, float tol) {
  float best = -c_fFarAway;
  int found = -1;
  for (int i = 0; i < m_iNumPoints; ++i)
    if (std::fabs(m_pfX[i] - x) < tol && m_pfY[i] > best) best = m_pfY[i], found = i;
  return found;
}

int CSSE3dPolygon::ClosestPointXWithMinimalY(float x, float tol) {
  float best = c_fFarAway;
  int found = -1;
  for (int i = 0; i < m_iNumPoints; ++i)
    if (std::fabs(m_pfX[i] - x) < tol && m_pfY[i] < best) best = m_pfY[i], found = i;
  return found;
}

int CSSE3dPolygon::FindIndexOfPoint(const SSEPoint& p) {
  float best = FLT_MAX;
  int found = -1;
  for (int i = 0; i < m_iNumPoints; ++i) {
    const float d = CHSimpleBasisFcns::GetDistance(SSEPoint(m_pfX[i], m_pfY[i], m_pfZ[i], 0.0f), p);
    if (d < best) best = d, found = i;
    if (d < 0.0001f) break;
  }
  return found;
}

bool CSSE3dPolygon::PointAlreadyThereInArrayXY(int count, SSEPoint& p, float tol) {
  const int k = std::clamp(count, 0, std::max(m_iNumPoints - 1, 0));
  for (int i = 0; i < k; ++i)
    if (std::fabs(m_pfX[i] - p.x) + std::fabs(m_pfY[i] - p.y) < tol) return true;
  return false;
}

void CSSE3dPolygon::GetPointsInPatch(SSEPoint& upper, SSEPoint& lower, int* out, int& count) {
  count = 0;
  for (int i = 0; i < m_iNumPoints; ++i)
    if (lower.x < m_pfX[i] && m_pfX[i] < upper.x && lower.y < m_pfY[i] && m_pfY[i] < upper.y) out[count++] = i;
}

float CSSE3dPolygon::GetMinEuclDistance(float x, float y, float z, int skip, bool withTail, int* index) {
  const int n = m_iNumPoints;
  float best = c_fNoDistance;
  if (index) {
    *index = -1;
    for (int i = 0; i < n; ++i) {
      const float d = pointDistance(m_pfNormX[i] - x, m_pfNormY[i] - y, m_pfNormZ[i] - z);
      best = std::min(d, best);
      if (std::fabs(d - best) <= 1.1920929e-7f) *index = i;
    }
    return best;
  }
  float blocks;
  CSSEFns::min_of_m128(blockDistances(m_pfNormX, m_pfNormY, m_pfNormZ, n, x, y, z, skip, true).min, &blocks);
  best = std::min(blocks, best);
  if (withTail)
    for (int i = n & ~3; i < n; ++i)
      best = std::min(pointDistance(m_pfNormX[i] - x, m_pfNormY[i] - y, m_pfNormZ[i] - z), best);
  return best;
}

float CSSE3dPolygon::GetMinEuclDistanceSpecial(float x, float y, float z, int skip) {
  const bool withZ = !(std::fabs(z) <= 0.001f);
  float d;
  CSSEFns::min_of_m128(blockDistances(m_pfNormX, m_pfNormY, m_pfNormZ, m_iNumPoints, x, y, z, skip, withZ).min, &d);
  return d;
}

float CSSE3dPolygon::GetMinEuclDistanceXY(float x, float y, int skip) {
  float d;
  CSSEFns::min_of_m128(blockDistances(m_pfNormX, m_pfNormY, m_pfNormZ, m_iNumPoints, x, y, 0.0f, skip, false).min,
                       &d);
  return d;
}

void CSSE3dPolygon::GetMinMaxEuclDistanceXY(float x, float y, int skip, float& min, float& max) {
  const BlockDistances r = blockDistances(m_pfNormX, m_pfNormY, m_pfNormZ, m_iNumPoints, x, y, 0.0f, skip, false);
  CSSEFns::min_of_m128(r.min, &min);
  CSSEFns::max_of_m128(r.max, &max);
}

bool CSSE3dPolygon::IsDifferentFromOtherPolygon(CSSE3dPolygon* other, int parts, float tol) {
  const int n = m_iNumPoints;
  if (n == 0 || !other) return true;
  const int step = std::max(n / std::max(parts, 1), 1);
  for (int i = 0; i < n; i += step)
    if (!(other->GetMinEuclDistance(m_pfX[i], m_pfY[i], m_pfZ[i], 0, false, nullptr) < tol)) return true;
  return false;
}
