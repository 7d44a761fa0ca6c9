#include <cmath>

#include "orvik/triangulation/HTriangulation.h"

void CHTriangulation::ScaleTriangulation() {
  const __m128 f = _mm_setr_ps(m_fScaleX, m_fScaleY, m_fScaleZ, 0.0f);
  for (std::size_t i = 0; i < 3 * std::size_t(m_nNumTriangles); ++i) m_pEdgeArray[i].v = _mm_mul_ps(m_pEdgeArray[i].v, f);
}

void CHTriangulation::ScaleTriangulationXY() {
  const __m128 f = _mm_setr_ps(m_fScaleX, m_fScaleY, 1.0f, 0.0f);
  for (std::size_t i = 0; i < 3 * std::size_t(m_nNumTriangles); ++i) m_pEdgeArray[i].v = _mm_mul_ps(m_pEdgeArray[i].v, f);
}

void CHTriangulation::ReScaleTriangulation(float scaleX, float scaleY, float scaleZ) {
  m_fScaleX = scaleX;
  m_fScaleY = scaleY;
  m_fScaleZ = scaleZ;
  ScaleTriangulation();
  calcBoundsFromCorners();
  CalcSTV();
}

void CHTriangulation::ShiftTriangulation(float dx, float dy, float dz) {
  const __m128 d = _mm_setr_ps(dx, dy, dz, 0.0f);
  for (std::size_t i = 0; i < 3 * std::size_t(m_nNumTriangles); ++i) m_pEdgeArray[i].v = _mm_add_ps(m_pEdgeArray[i].v, d);
  for (int i = 0; i < m_nNumTriangles; ++i) {
    m_pMinPointArray[i].v = _mm_add_ps(m_pMinPointArray[i].v, d);
    m_pMaxPointArray[i].v = _mm_add_ps(m_pMaxPointArray[i].v, d);
  }
  m_pMinPoint->v = _mm_add_ps(m_pMinPoint->v, d);
  m_pMaxPoint->v = _mm_add_ps(m_pMaxPoint->v, d);
}

void CHTriangulation::TransformVertices(CbMatrix4Rf& m) {
  const __m128 c0 = _mm_loadu_ps(m.GetColumn(0)), c1 = _mm_loadu_ps(m.GetColumn(1));
  const __m128 c2 = _mm_loadu_ps(m.GetColumn(2)), c3 = _mm_loadu_ps(m.GetColumn(3));
  for (std::size_t i = 0; i < 3 * std::size_t(m_nNumTriangles); ++i) {
    SSEPoint& p = m_pEdgeArray[i];
    const SSEPoint q = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(p.x), c0), _mm_mul_ps(_mm_set1_ps(p.y), c1)),
                                             _mm_mul_ps(_mm_set1_ps(p.z), c2)),
                                  c3);
    p.x = q.x / q.w;
    p.y = q.y / q.w;
    p.z = q.z / q.w;
  }
  calcBoundsFromCorners();
  CalcSTV();
}

void CHTriangulation::rotate(const t_ssematrix3& r, const SSEPoint& centre) {
  for (std::size_t i = 0; i < 3 * std::size_t(m_nNumTriangles); ++i) {
    const SSEPoint p = _mm_sub_ps(m_pEdgeArray[i].v, centre.v);
    m_pEdgeArray[i].v = _mm_add_ps(CSSEFns::transform(p, r).v, centre.v);
  }
  calcBoundsFromCorners();
  CalcSTV();
}

namespace {

t_ssematrix3 rotation(float a, float b, float c) {
  const float ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b);
  const float cc = std::cos(c), sc = std::sin(c);
  t_ssematrix3 r;
  r.row[0] = SSEPoint(ca * cb, cc * sa - sc * sb * ca, ca * sb * cc + sc * sa, 0.0f);
  r.row[1] = SSEPoint(-sa * cb, sa * sb * sc + cc * ca, sc * ca - cc * sa * sb, 0.0f);
  r.row[2] = SSEPoint(-sb, -sc * cb, cc * cb, 0.0f);
  return r;
}

t_ssematrix3 rotation(float a, float b) {
  const float ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b);
  t_ssematrix3 r;
  r.row[0] = SSEPoint(ca * cb, sa, ca * sb, 0.0f);
  r.row[1] = SSEPoint(-sa * cb, ca, -sa * sb, 0.0f);
  r.row[2] = SSEPoint(-sb, 0.0f, cb, 0.0f);
  return r;
}

}  // namespace

void CHTriangulation::TransformVertices(float a, float b, float c) { rotate(rotation(a, b, c), SSEPoint()); }

void CHTriangulation::TransformVertices(float a, float b) { rotate(rotation(a, b), SSEPoint()); }

void CHTriangulation::TransformVerticesAboutPoint(float a, float b, SSEPoint& centre) { rotate(rotation(a, b), centre); }

void CHTriangulation::TransformVerticesAboutPoint(float a, float b, float c, SSEPoint& centre) {
  rotate(rotation(a, b, c), centre);
}

void CHTriangulation::keepTriangles(bool (*keep)(const t_htriangle&, float, float), float a, float b) {
  int kept = 0;
  for (int i = 0; i < m_nNumTriangles; ++i) kept += keep(m_pTriangles[i], a, b) ? 1 : 0;
  CHTriangulation result(kept, m_fScaleX, m_fScaleY, m_fScaleZ);
  for (int i = 0, j = 0; i < m_nNumTriangles; ++i)
    if (keep(m_pTriangles[i], a, b)) result.copyTriangle(j++, *this, i);
  for (int i = 0; i < 3; ++i) result.m_pMinPoint[i] = m_pMinPoint[i];
  takeTriangles(result);
  CalcNeighbours();
}

void CHTriangulation::RemoveTrianglesAboveZ(float z) {
  keepTriangles([](const t_htriangle& t, float z, float) {
    return t.corner[0]->z < z || t.corner[1]->z < z || t.corner[2]->z < z;
  }, z, 0.0f);
}

void CHTriangulation::RemoveTrianglesBelowZ(float z) {
  keepTriangles([](const t_htriangle& t, float z, float) {
    return t.corner[0]->z > z || t.corner[1]->z > z || t.corner[2]->z > z;
  }, z, 0.0f);
}

void CHTriangulation::RemoveTrianglesBetweenZ(float zLow, float zHigh) {
  keepTriangles([](const t_htriangle& t, float low, float high) {
    for (const SSEPoint* c : t.corner)
      if (c->z >= low && c->z <= high) return false;
    return true;
  }, zLow, zHigh);
}
