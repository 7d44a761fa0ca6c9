#include "orvik/triangulation/UxQeTriangulationTo2DHull.h"

#include <vector>

#include "orvik/foundation/qe/Triangulation.h"
#include "orvik/triangulation/HConvexHull2D.h"

UxQeTriangulationTo2DHull::UxQeTriangulationTo2DHull(Geometry::CTriangulation& mesh) {
  const QeBoundingBox box = QeMpTriangulationBoundingBox::Compute(mesh);
  if (box.IsEmpty()) return;
  std::vector<bool> live(mesh.GetVertexCount(), false);
  int count = 0;
  for (unsigned t = 0; t < mesh.GetTriangleCount(); ++t)
    if (!mesh.IsTriangleRemoved(t))
      for (unsigned v : mesh.GetTriangle(t))
        if (!live[v]) {
          live[v] = true;
          ++count;
        }
  // The hull works in x and y: the mesh's z goes into y.
  CSSE3dPolygon outline;
  outline.Create(count);
  int i = 0;
  for (unsigned v = 0; v < live.size(); ++v)
    if (live[v]) {
      const CbVector3f& p = mesh.GetVertex(v);
      outline.SetPoint(i++, p.x, p.z, p.y);
    }
  CHConvexHull2D(&outline).ObtainConvexHull3D(&outline);
  if (outline.GetNumPoints() == 0) {
    outline.Create(4);
    outline.SetPoint(0, box.min.x, box.min.z, 0.0f);
    outline.SetPoint(1, box.max.x, box.min.z, 0.0f);
    outline.SetPoint(2, box.max.x, box.max.z, 0.0f);
    outline.SetPoint(3, box.min.x, box.max.z, 0.0f);
  }
  // Back into the mesh's axes; the y values come from the box.
  m_polygon = outline;
  m_polygon.SwapYandZCoord();
  const int n = m_polygon.GetNumPoints();
  for (int k = 0; k < n; ++k) {
    float x = 0.0f, y = 0.0f, z = 0.0f;
    m_polygon.GetPoint(k, x, y, z);
    m_polygon.SetPoint(k, x, k < n / 2 ? box.min.y : box.max.y, z);
  }
}
