#pragma once
// CHPolygonTriangulator: ear-clipping triangulation of a simple polygon in the
// plane. Every step-th polygon point is a vertex, scaled by (sx, sy). The ring
// is clipped counter-clockwise whatever the orientation of the input, so the
// triangles are always counter-clockwise in the scaled plane; a simple ring of
// n vertices gives n - 2 triangles. Input that is not simple (crossing edges,
// repeated points) may end the clipping early with the triangles found so far;
// clean such rings up first.
//
// The triangulator reads the polygon it was built on (GetTriangle3D) and does
// not own it: keep the polygon alive while the triangulator is in use.
#include <cstdint>
#include <memory>
#include <vector>

#include "orvik/foundation/SSEPoint.h"
#include "orvik/polygon/SSE2dPolygon.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "orvik/triangulation/HSimpleBasisFcns.h"

namespace orvik::detail {
class EdgeGrid;
}

class CHPolygonTriangulator {
public:
  // A diagonal cut off with an ear: its two end vertices and whether the
  // polygon was convex at each when the ear was clipped.
  struct t_hdiagonal {
    bool exists;
    std::int32_t first;
    bool firstConvex;
    std::int32_t second;
    bool secondConvex;
  };

  // With is3D the search for an ear starts one vertex after the ring's head.
  // A step below 1, fewer than three points or fewer than three vertices give
  // no triangles. The 2D form has a z scale of 1.
  CHPolygonTriangulator(CSSE3dPolygon* polygon, int step, float sx, float sy, float sz, bool is3D);
  CHPolygonTriangulator(CSSE2dPolygon* polygon, int step, float sx, float sy, bool is3D);
  ~CHPolygonTriangulator();
  CHPolygonTriangulator(const CHPolygonTriangulator&) = delete;
  CHPolygonTriangulator& operator=(const CHPolygonTriangulator&) = delete;

  int GetNumTriangles() const { return m_iNumTriangles; }
  int GetNumVertices() const { return m_iNumVertices; }
  // The vertex numbers of triangle i, counter-clockwise; false for a bad index.
  bool GetTriangleIndices(int i, int& a, int& b, int& c) const;
  // The 3D polygon's points of triangle i (point step * v for vertex v);
  // false, outputs untouched, for a bad index or a 2D polygon.
  bool GetTriangle3D(int i, SSEPoint& a, SSEPoint& b, SSEPoint& c) const;
  // Scaled vertex i; false, outputs untouched, for a bad index.
  bool GetPoint(int i, float& x, float& y) const;
  bool DiagonalExists(int i) const;
  // The scaled end points of diagonal i; false, outputs untouched, when it
  // does not exist.
  bool GetDiagonalPoints(int i, float& x1, float& y1, float& x2, float& y2) const;
  int GetNumDiagonals() const { return m_iNumDiagonals; }
  int GetStep() const { return m_iStep; }
  float GetScaleZ() const { return m_fScaleZ; }
  bool Is3DTriangulation() const { return m_bIs3D; }
  const CSSE3dPolygon* Get3dPolygon() const { return m_p3dPolygon; }

private:
  template <typename Polygon>
  void build(const Polygon& polygon);
  void triangulate();
  void earInit();
  bool diagonal(const t_hvertex* a, const t_hvertex* b) const;
  bool diagonalie(const t_hvertex* a, const t_hvertex* b) const;
  t_hvertex* findEar(t_hvertex* start, int remaining) const;
  void clip(t_hvertex* ear, bool updateNeighbours);

  CSSE3dPolygon* m_p3dPolygon = nullptr;
  CSSE2dPolygon* m_p2dPolygon = nullptr;
  std::int32_t m_iNumVertices = 0;
  std::int32_t m_iStep = 1;
  std::int32_t m_iNumDiagonals = 0;
  float m_fScaleX = 1.0f;
  float m_fScaleY = 1.0f;
  float m_fScaleZ = 1.0f;
  std::vector<t_hvertex> m_vertices;
  std::vector<t_hdiagonal> m_diagonals;
  t_hvertex* m_pHead = nullptr;
  std::vector<std::int32_t> m_triangles;  // three vertex numbers per triangle
  std::int32_t m_iNumTriangles = 0;
  bool m_bIs3D = false;
  // While clipping: the ring's edges by position, so that a diagonal is tested
  // against the edges near it only, and the vertices already cut off.
  std::unique_ptr<orvik::detail::EdgeGrid> m_pGrid;
  std::vector<char> m_clipped;
};
