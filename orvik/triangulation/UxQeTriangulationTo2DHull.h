#pragma once
// The outline of a host mesh seen along its y axis: the convex hull of its
// vertices in the x-z plane, as a polygon in space whose points carry the
// mesh's y range. The first half of the points (rounded down) lie at the
// box's minimum y and the others at its maximum y, so the polygon describes
// the outline on both faces of the box.
#include "orvik/polygon/SSE3dPolygon.h"

namespace Geometry {
class CTriangulation;
}

class UxQeTriangulationTo2DHull {
public:
  // Over the vertices of live triangles. When their hull has no points (all
  // of them on one line), the outline is the x-z rectangle of the mesh's box.
  // A mesh without such vertices gives an empty polygon.
  explicit UxQeTriangulationTo2DHull(Geometry::CTriangulation& mesh);

  CSSE3dPolygon GetConvexPolygon() const { return m_polygon; }

private:
  CSSE3dPolygon m_polygon;
};
