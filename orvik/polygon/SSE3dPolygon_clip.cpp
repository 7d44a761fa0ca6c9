// Clipping to half-planes through the centre or against another polygon, and
// the choice of a start point by geometry.
#include <cmath>
#include <limits>
#include <vector>

#include "orvik/polygon/SSE3dPolygon.h"

namespace {

template <class Test>
std::vector<char> flags(int n, Test test) {
  std::vector<char> keep(n);
  for (int i = 0; i < n; ++i) keep[i] = test(i) ? 1 : 0;
  return keep;
}

// The first index with the strictly best score among the candidates, or 0.
template <class Candidate, class Score, class Better>
int bestIndex(int n, float start, Candidate candidate, Score score, Better better) {
  float best = start;
  int k = 0;
  for (int i = 0; i < n; ++i) {
    if (!candidate(i)) continue;
    const float s = score(i);
    if (better(s, best)) best = s, k = i;
  }
  return k;
}

bool smaller(float a, float b) { return a < b; }
bool greater(float a, float b) { return a > b; }

// Larger than any |asin|, so the first candidate always wins against it.
constexpr float c_fAngleStart = 31.415928f;

}  // namespace

// A point on the line through the centre belongs to neither side.
void CSSE3dPolygon::keepStrictSide(int axis, bool below) {
  CalcGeometricCenter();
  const float* a = axis == 0 ? m_pfX : axis == 1 ? m_pfY : m_pfZ;
  const float c = m_pGeometricCenter->f[axis];
  keepPoints(flags(m_iNumPoints, [&](int i) { return below ? a[i] < c : a[i] > c; }));
}

void CSSE3dPolygon::KeepLeftHalfPlaneX() { keepStrictSide(0, true); }
void CSSE3dPolygon::KeepRightHalfPlaneX() { keepStrictSide(0, false); }
void CSSE3dPolygon::KeepLowerHalfPlaneY() { keepStrictSide(1, true); }
void CSSE3dPolygon::KeepUpperHalfPlaneY() { keepStrictSide(1, false); }
void CSSE3dPolygon::KeepLowerHalfPlaneZ() { keepStrictSide(2, true); }
void CSSE3dPolygon::KeepUpperHalfPlaneZ() { keepStrictSide(2, false); }

void CSSE3dPolygon::KeepPointsBelow(CSSE3dPolygon& other) {
  // Without points in other there is nothing to be below.
  keepPoints(flags(m_iNumPoints, [&](int i) {
    SSEPoint p(m_pfX[i], m_pfY[i], m_pfZ[i], 0.0f);
    const int j = other.ClosestPoint(p);
    return j >= 0 && other.m_pfY[j] > p.y;
  }));
}

void CSSE3dPolygon::KeepPointsInInner(CSSE3dPolygon& other) {
  keepPoints(flags(m_iNumPoints, [&](int i) { return other.PointInLineInnerArea(m_pfX[i], m_pfY[i], 1); }));
}

void CSSE3dPolygon::RotateIndices() {
  CalcGeometricCenter();
  const SSEPoint c = *m_pGeometricCenter;
  RotatePolygonIndices(bestIndex(
      m_iNumPoints, std::fabs(c.y) + 999999.9f, [&](int i) { return m_pfX[i] > c.x; },
      [&](int i) { return std::fabs(m_pfY[i] - c.y); }, smaller));
}

void CSSE3dPolygon::RotateIndicesXZ(float tol) {
  CalcGeometricCenter();
  const SSEPoint c = *m_pGeometricCenter;
  RotatePolygonIndices(bestIndex(
      m_iNumPoints, -99999.9f, [&](int i) { return m_pfX[i] > c.x && std::fabs(m_pfZ[i] - c.z) < tol; },
      [&](int i) { return m_pfX[i]; }, greater));
}

void CSSE3dPolygon::RotateIndicesYZ(float tol) {
  CalcGeometricCenter();
  const SSEPoint c = *m_pGeometricCenter;
  RotatePolygonIndices(bestIndex(
      m_iNumPoints, -99999.9f, [&](int i) { return m_pfY[i] > c.y && std::fabs(m_pfZ[i] - c.z) < tol; },
      [&](int i) { return m_pfY[i]; }, greater));
}

void CSSE3dPolygon::RotateIndicesXY() {
  CalcGeometricCenter();
  const SSEPoint c = *m_pGeometricCenter;
  float spreadX = 0.0f, spreadY = 0.0f;
  for (int i = 0; i < m_iNumPoints; ++i) spreadX += std::fabs(m_pfX[i] - c.x), spreadY += std::fabs(m_pfY[i] - c.y);
  const bool alongX = spreadY < spreadX, alongY = spreadX < spreadY;
  RotatePolygonIndices(bestIndex(
      m_iNumPoints, c_fAngleStart,
      [&](int i) { return (alongX && m_pfX[i] > c.x) || (alongY && m_pfY[i] > c.y); },
      [&](int i) {
        const SSEPoint d(m_pfX[i] - c.x, m_pfY[i] - c.y, m_pfZ[i] - c.z, 0.0f);
        return std::fabs(std::asin(d.z / CSSEFns::vectorlen(d)));
      },
      smaller));
}

void CSSE3dPolygon::RotateIndicesXZ() {
  CalcGeometricCenter();
  const SSEPoint c = *m_pGeometricCenter;
  RotatePolygonIndices(bestIndex(
      m_iNumPoints, c_fAngleStart, [&](int i) { return m_pfX[i] > c.x; },
      [&](int i) {
        const float dx = m_pfX[i] - c.x, dz = m_pfZ[i] - c.z;
        return std::fabs(std::asin(dz / std::sqrt(dx * dx + dz * dz)));
      },
      smaller));
}

void CSSE3dPolygon::RotateIndicesYZ() {
  CalcGeometricCenter();
  const SSEPoint c = *m_pGeometricCenter;
  RotatePolygonIndices(bestIndex(
      m_iNumPoints, c_fAngleStart, [&](int i) { return m_pfY[i] > c.y; },
      [&](int i) {
        const float dy = m_pfY[i] - c.y, dz = m_pfZ[i] - c.z;
        return std::fabs(std::asin(dz / std::sqrt(dy * dy + dz * dz)));
      },
      smaller));
}

void CSSE3dPolygon::RotateIndices(CSSE3dPolygon* reference) {
  const int n = m_iNumPoints;
  if (!reference || reference->m_iNumPoints != n || n == 0) return;
  const float *rx = reference->m_pfX, *ry = reference->m_pfY, *rz = reference->m_pfZ;
  double best = std::numeric_limits<double>::infinity();
  int k = 0;
  for (int shift = 0; shift < n; ++shift) {
    double sum = 0.0;
    // A shift whose partial sum already exceeds the best cannot win.
    for (int i = 0, j = shift; i < n && sum < best; ++i, j = j + 1 == n ? 0 : j + 1) {
      const double dx = double(m_pfX[j]) - rx[i], dy = double(m_pfY[j]) - ry[i], dz = double(m_pfZ[j]) - rz[i];
      sum += dx * dx + dy * dy + dz * dz;
    }
    if (sum < best) best = sum, k = shift;
  }
  RotatePolygonIndices(k);
}
