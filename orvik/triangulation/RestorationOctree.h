#pragma once
// An octree over a restoration that estimates how steeply its side walls
// rise: the outline just below the middle of the box against the outline just
// above it.
#include "orvik/triangulation/HOctree.h"

class CRestorationOctree : public CHOctree {
public:
  CRestorationOctree(SSEPoint& maxPt, SSEPoint& minPt, float cell) : CHOctree(maxPt, minPt, cell) {}

  // Over the list's triangles (CalculateOctreeEntries first): z_top and r_top
  // from the lowest quarter of the upper half (FindMinRadiusTopTriangulation),
  // z_bottom and r_bottom from the highest quarter of the lower half
  // (FindMaxRadiusBottomTriangulation); the result in radians is
  //   atan((r_bottom - r_top) / (z_bottom - z_top) + 0.0001) + 0.0875.
  // Equal heights are divided as they are: the floating-point quotient (an
  // infinity, or NaN when the radii are equal too) goes into atan. Missing
  // bricks count as empty, so a tree of depth 1 or 0 searches nothing and
  // works with the start points.
  float CalcApproximateMaxRestorationAngle(CHTriangulation* mesh, int list);

protected:
  // Radii are distances from the root's centre in the x-y plane. The searches
  // start from maxPt = -1e6 and minPt = 1e6 in every lane.
  //
  // The whole lower half (all children of the root's children 0 ... 3): the
  // lowest z and the radius of the minimum point, written into the upper-half
  // fields, where its callers read them; without a root nothing happens.
  void FindLowestZEntry(CHTriangulation* mesh, int list);
  // Children 4 ... 7 of the root's children 0 ... 3: the highest z and the
  // larger radius of the maximum and the minimum point (lower-half fields).
  void FindMaxRadiusBottomTriangulation(CHTriangulation* mesh, int list);
  // Children 0 ... 3 of the root's children 4 ... 7: the lowest z and the
  // smaller radius (upper-half fields).
  void FindMinRadiusTopTriangulation(CHTriangulation* mesh, int list);

  float m_fLowerZ = 0.0f;
  float m_fLowerRadius = 0.0f;
  float m_fUpperZ = 0.0f;
  float m_fUpperRadius = 0.0f;

private:
  // The bounds of the list's triangles in the given grandchildren of the
  // root's given children; missing bricks are skipped.
  void searchQuarter(CHTriangulation* mesh, int list, int childFrom, int grandchildFrom, int grandchildTo,
                     SSEPoint& maxPt, SSEPoint& minPt);
  float radius(const SSEPoint& p) const;
};
