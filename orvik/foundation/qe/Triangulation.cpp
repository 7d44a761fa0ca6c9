#include "orvik/foundation/qe/Triangulation.h"

#include <cmath>
#include <limits>

#include "orvik/foundation/Exception.h"

namespace Geometry {

CTriangulation::CTriangulation(unsigned vertexCount, unsigned triangleCount, SMemoryBlock<CbVector3f> vertices,
                               SMemoryBlock<Triangle> triangles, SMemoryBlock<unsigned int> removed,
                               SMemoryBlock<Triangle>) {
  if (vertices.GetCount() < vertexCount || triangles.GetCount() < triangleCount)
    throw CbException("Triangulation", __LINE__, "Geometry::CTriangulation::CTriangulation", "block too short");
  for (unsigned t = 0; t < triangleCount; ++t)
    for (unsigned v : triangles.GetData()[t])
      if (v >= vertexCount)
        throw CbException("Triangulation", __LINE__, "Geometry::CTriangulation::CTriangulation",
                          "vertex index out of range");
  for (std::size_t i = 0; i < removed.GetCount(); ++i)
    if (removed.GetData()[i] >= triangleCount)
      throw CbException("Triangulation", __LINE__, "Geometry::CTriangulation::CTriangulation",
                        "removed triangle out of range");
  m_vertices.assign(vertices.GetData(), vertices.GetData() + vertexCount);
  m_triangles.assign(triangles.GetData(), triangles.GetData() + triangleCount);
  m_removed.assign(triangleCount, false);
  for (std::size_t i = 0; i < removed.GetCount(); ++i) m_removed[removed.GetData()[i]] = true;
}

unsigned CTriangulation::GetLiveTriangleCount() const {
  unsigned live = 0;
  for (bool r : m_removed) live += r ? 0 : 1;
  return live;
}

}  // namespace Geometry

void QeMpTriangulationNormals::Compute(Geometry::CTriangulation& mesh) {
  std::vector<double> sum(3 * std::size_t{mesh.GetVertexCount()}, 0.0);
  for (unsigned t = 0; t < mesh.GetTriangleCount(); ++t) {
    if (mesh.IsTriangleRemoved(t)) continue;
    const auto& tri = mesh.GetTriangle(t);
    const CbVector3f &a = mesh.GetVertex(tri[0]), &b = mesh.GetVertex(tri[1]), &c = mesh.GetVertex(tri[2]);
    const double sx = double(b.x) - a.x, sy = double(b.y) - a.y, sz = double(b.z) - a.z;
    const double tx = double(c.x) - a.x, ty = double(c.y) - a.y, tz = double(c.z) - a.z;
    // The cross product's length is twice the area: the weighting comes free.
    const double n[3] = {sy * tz - sz * ty, sz * tx - sx * tz, sx * ty - sy * tx};
    for (unsigned v : tri)
      for (int k = 0; k < 3; ++k) sum[3 * std::size_t{v} + k] += n[k];
  }
  std::vector<CbVector3f> normals(mesh.GetVertexCount());
  for (std::size_t v = 0; v < normals.size(); ++v) {
    const double* s = &sum[3 * v];
    const double len = std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
    if (len > 0.0 && std::isfinite(len))
      normals[v] = {float(s[0] / len), float(s[1] / len), float(s[2] / len)};
  }
  mesh.SetVertexNormals(std::move(normals));
}

QeBoundingBox QeMpTriangulationBoundingBox::Compute(const Geometry::CTriangulation& mesh) {
  constexpr float inf = std::numeric_limits<float>::infinity();
  QeBoundingBox box{{inf, inf, inf}, {-inf, -inf, -inf}};
  for (unsigned t = 0; t < mesh.GetTriangleCount(); ++t) {
    if (mesh.IsTriangleRemoved(t)) continue;
    for (unsigned v : mesh.GetTriangle(t)) {
      const CbVector3f& p = mesh.GetVertex(v);
      box.min = {std::fmin(box.min.x, p.x), std::fmin(box.min.y, p.y), std::fmin(box.min.z, p.z)};
      box.max = {std::fmax(box.max.x, p.x), std::fmax(box.max.y, p.y), std::fmax(box.max.z, p.z)};
    }
  }
  return box;
}
