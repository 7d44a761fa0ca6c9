#include "orvik/triangulation/RestorationOctree.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float c_fSearchStart = 1e6f;

}  // namespace

void CRestorationOctree::searchQuarter(CHTriangulation* mesh, int list, int childFrom, int grandchildFrom,
                                       int grandchildTo, SSEPoint& maxPt, SSEPoint& minPt) {
  maxPt = _mm_set1_ps(-c_fSearchStart);
  minPt = _mm_set1_ps(c_fSearchStart);
  const t_hoctreeelement* root = GetStem();
  if (!root) return;
  for (int k = childFrom; k < childFrom + 4; ++k)
    if (const t_hoctreeelement* child = root->children[k])
      for (int g = grandchildFrom; g < grandchildTo; ++g)
        FindMinMaxPointTriangulation(mesh, maxPt, minPt, child->children[g], list);
}

float CRestorationOctree::radius(const SSEPoint& p) const {
  const SSEPoint c = boxCentre();
  const float dx = p.x - c.x, dy = p.y - c.y;
  return std::sqrt(dx * dx + dy * dy);
}

void CRestorationOctree::FindLowestZEntry(CHTriangulation* mesh, int list) {
  if (!GetStem()) return;
  SSEPoint maxPt, minPt;
  searchQuarter(mesh, list, 0, 0, 8, maxPt, minPt);
  m_fUpperZ = minPt.z;
  m_fUpperRadius = radius(minPt);
}

void CRestorationOctree::FindMaxRadiusBottomTriangulation(CHTriangulation* mesh, int list) {
  SSEPoint maxPt, minPt;
  searchQuarter(mesh, list, 0, 4, 8, maxPt, minPt);
  m_fLowerZ = maxPt.z;
  m_fLowerRadius = std::max(radius(maxPt), radius(minPt));
}

void CRestorationOctree::FindMinRadiusTopTriangulation(CHTriangulation* mesh, int list) {
  SSEPoint maxPt, minPt;
  searchQuarter(mesh, list, 4, 0, 4, maxPt, minPt);
  m_fUpperZ = minPt.z;
  m_fUpperRadius = std::min(radius(maxPt), radius(minPt));
}

float CRestorationOctree::CalcApproximateMaxRestorationAngle(CHTriangulation* mesh, int list) {
  FindMinRadiusTopTriangulation(mesh, list);
  FindMaxRadiusBottomTriangulation(mesh, list);
  return std::atan((m_fLowerRadius - m_fUpperRadius) / (m_fLowerZ - m_fUpperZ) + 0.0001f) + 0.0875f;
}
