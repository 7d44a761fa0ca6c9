#include <algorithm>
#include <cmath>
#include <cstdint>

#include "orvik/polygon/SSE3dPolygon.h"

namespace {

float median3(float a, float b, float c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); }

// The 15-bit linear congruential generator the noise amplitude is scaled
// for: a fixed sequence whatever the platform's RAND_MAX, and no effect on
// the caller's rand().
class NoiseGenerator {
public:
  int next() {
    m_state = m_state * 214013u + 2531011u;
    return static_cast<int>((m_state >> 16) & 0x7fffu);
  }

private:
  std::uint32_t m_state = 43211u;
};

}  // namespace

void CSSE3dPolygon::FilterZValues() {
  const int n = m_iNumPoints;
  for (int i = 0; i < n; ++i) m_pfZ[(i + 1) % n] = (m_pfZ[i] + m_pfZ[(i + 1) % n] + m_pfZ[(i + 2) % n]) / 3.0f;
  m_bBoundingBoxCalculated = false;
}

void CSSE3dPolygon::FilterMedian3() { filterZ3(median3); }

void CSSE3dPolygon::FilterMaximum3() {
  filterZ3([](float a, float b, float c) { return std::max(std::max(a, b), c); });
}

void CSSE3dPolygon::FilterMinimum3() {
  filterZ3([](float a, float b, float c) { return std::min(std::min(a, b), c); });
}

void CSSE3dPolygon::filterZ3(float (*f)(float, float, float)) {
  const int n = m_iNumPoints;
  if (n == 0) return;
  const std::vector<float> z(m_pfZ, m_pfZ + n);
  for (int i = 0; i < n; ++i) m_pfZ[i] = f(z[(i + n - 1) % n], z[i], z[(i + 1) % n]);
  m_bBoundingBoxCalculated = false;
}

void CSSE3dPolygon::AdaptToHighestZValue() {
  CalcBoundingBox();
  std::fill(m_pfZ, m_pfZ + m_iNumPoints, m_pTopRight->z);
  m_bBoundingBoxCalculated = false;
}

void CSSE3dPolygon::AdaptToLowestZValue() {
  CalcBoundingBox();
  std::fill(m_pfZ, m_pfZ + m_iNumPoints, m_pBottomLeft->z);
  m_bBoundingBoxCalculated = false;
}

void CSSE3dPolygon::AddNoiseXY(float a) {
  NoiseGenerator g;
  for (int i = 0; i < m_iNumPoints; ++i) {
    m_pfX[i] += static_cast<float>(g.next() - 16383) / 32767.0f * a;
    m_pfY[i] += static_cast<float>(g.next() - 16383) / 32767.0f * a;
  }
  m_bBoundingBoxCalculated = false;
}

void CSSE3dPolygon::MoveTowardsPolygon(CSSE3dPolygon* other, float t) {
  const int m = other ? other->m_iNumPoints : 0;
  for (int i = 0; i < m_iNumPoints; ++i) {
    const bool q = i < m;
    m_pfX[i] = (1.0f - t) * m_pfX[i] + t * (q ? other->m_pfX[i] : 0.0f);
    m_pfY[i] = (1.0f - t) * m_pfY[i] + t * (q ? other->m_pfY[i] : 0.0f);
    m_pfZ[i] = (1.0f - t) * m_pfZ[i] + t * (q ? other->m_pfZ[i] : 0.0f);
  }
  m_bBoundingBoxCalculated = false;
}

// k = floor(t) keeps every new point on the edge k -> k + 1 of the old ring;
// rounding t to the nearest integer would give negative f and points beyond
// the corner, off the outline.
void CSSE3dPolygon::AdaptPolygons(CSSE3dPolygon* other) {
  if (!other || other == this || m_iNumPoints == 0 || other->m_iNumPoints == 0) return;
  if (m_iNumPoints == other->m_iNumPoints) return;
  CSSE3dPolygon& fewer = m_iNumPoints < other->m_iNumPoints ? *this : *other;
  const int m = fewer.m_iNumPoints;
  const int n = std::max(m_iNumPoints, other->m_iNumPoints);
  CSSE3dPolygon temp;
  temp.Create(n);
  for (int i = 0; i < n; ++i) {
    const double t = double(i) * m / n;
    const int k = static_cast<int>(std::floor(t));
    const int k1 = (k + 1) % m;
    const float f = static_cast<float>(t - k);
    temp.m_pfX[i] = fewer.m_pfX[k] * (1.0f - f) + fewer.m_pfX[k1] * f;
    temp.m_pfY[i] = fewer.m_pfY[k] * (1.0f - f) + fewer.m_pfY[k1] * f;
    temp.m_pfZ[i] = fewer.m_pfZ[k] * (1.0f - f) + fewer.m_pfZ[k1] * f;
  }
  fewer.takePointsFrom(temp);
}

void CSSE3dPolygon::FindClosedStartPointAndChange(CSSE3dPolygon* other, int* map) {
  const int n = m_iNumPoints;
  if (n == 0) return;
  SSEPoint q;
  if (other) other->GetPointSSE(0, q);
  CSSE3dPolygon fine(*this);
  std::vector<int> index(n);
  fine.ReParametrize(0.2f, index.data());
  const int k = fine.ClosestPoint(q);
  for (int i = 0; i < n; ++i) {
    const int j = (i + 1) % n;
    if (!(index[i] <= k && (i == n - 1 || k <= index[j]))) continue;
    SSEPoint pi, pj;
    GetPointSSE(i, pi);
    GetPointSSE(j, pj);
    ChangeStartPoint(CSSEFns::euclideandistance(pi, q) < CSSEFns::euclideandistance(pj, q) ? i : j, map);
    return;
  }
}
