#include "orvik/triangulation/HTriangulation.h"

namespace {

// The face normal of one triangle from its S and T: S x T over its length
// (all four lanes, w is 0), or zero for a degenerate triangle so that no NaN
// reaches storage or rendering.
SSEPoint faceNormal(const SSEPoint& s, const SSEPoint& t) {
  const SSEPoint n = CSSEFns::vectorproduct(s, t);
  const float length = CSSEFns::vectorlen(n);
  return length > 0.0f ? SSEPoint(_mm_div_ps(n.v, _mm_set1_ps(length))) : SSEPoint();
}

}  // namespace

void CHTriangulation::CalcSTV() {
  for (int i = 0; i < m_nNumTriangles; ++i) {
    const __m128 c0 = m_pEdgeArray[3 * std::size_t(i)].v, c1 = m_pEdgeArray[3 * std::size_t(i) + 1].v, c2 = m_pEdgeArray[3 * std::size_t(i) + 2].v;
    m_pSArray[i].v = _mm_sub_ps(c1, c0);
    m_pTArray[i].v = _mm_sub_ps(c2, c0);
    m_pVArray[i].v = _mm_sub_ps(c2, c1);
    m_pMinPointArray[i].v = _mm_min_ps(_mm_min_ps(c0, c1), c2);
    m_pMaxPointArray[i].v = _mm_max_ps(_mm_max_ps(c0, c1), c2);
  }
}

void CHTriangulation::CalcNormalsFromVertices() {
  for (int i = 0; i < m_nNumTriangles; ++i) {
    const SSEPoint n = faceNormal(m_pSArray[i], m_pTArray[i]);
    for (int k = 0; k < 3; ++k) m_pNormalArray[3 * std::size_t(i) + k] = n;
  }
}

void CHTriangulation::OrientTrianglesTowardsBBoxCenter() { CalcNormalsFromVertices(); }

void CHTriangulation::calcBoundsFromCorners() {
  __m128 lo = _mm_set1_ps(1e6f), hi = _mm_set1_ps(-1e6f);
  for (std::size_t i = 0; i < 3 * std::size_t(m_nNumTriangles); ++i) {
    lo = _mm_min_ps(lo, m_pEdgeArray[i].v);
    hi = _mm_max_ps(hi, m_pEdgeArray[i].v);
  }
  m_pMinPoint->v = lo;
  m_pMaxPoint->v = hi;
}

void CHTriangulation::CalcBoundingBox() { calcBoundsFromCorners(); }

void CHTriangulation::CalcCenterPoint() {
  if (m_nNumTriangles == 0) return;
  __m128 sum = _mm_setzero_ps();
  for (std::size_t i = 0; i < 3 * std::size_t(m_nNumTriangles); ++i) sum = _mm_add_ps(sum, m_pEdgeArray[i].v);
  m_pCenterPoint->v = _mm_div_ps(sum, _mm_set1_ps(3.0f * static_cast<float>(m_nNumTriangles)));
}
