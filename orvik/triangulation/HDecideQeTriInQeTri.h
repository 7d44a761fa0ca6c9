#pragma once
// Whether every vertex of a restoration lies inside a (convex) block: each
// tested block triangle (a, b, c), counter-clockwise seen from outside, must
// see every restoration vertex p on its inner side, that is with
//   det(a - p, b - p, c - p) >= -0.1
// computed in single precision (the tolerance lets vertices on or just
// outside a face pass). On the way it records the lowest block point and the
// highest restoration point.
#include <cstdint>

#include "orvik/foundation/Vectors.h"

class QeTriangulationStatic;

class CHDecideQeTriInQeTri {
public:
  // Block triangles 0, step, 2 step, ... while i < triangle count - step + 1
  // are tested; a step below 1 counts as 1. A step larger than the triangle
  // count tests nothing and reports "inside", the points keeping their start
  // values. Each tested triangle lowers the lowest block point to its three
  // vertices; then, vertex by vertex, the highest restoration point is raised
  // to the vertex and the vertex tested, and the first vertex outside ends
  // the triangle's test (the vertices after it are not visited for it). The
  // highest point starts at (0, 0, 0), so it never goes below 0, and the
  // lowest at (1e7, 1e7, 1e7).
  CHDecideQeTriInQeTri(QeTriangulationStatic* block, QeTriangulationStatic* restoration, int step);
  // The restoration's vertices moved by `m` first.
  CHDecideQeTriInQeTri(QeTriangulationStatic* block, QeTriangulationStatic* restoration, CbMatrix4Rf& m, int step);

  // 1 when every restoration vertex passed every tested triangle, else 0.
  int GetTriSmallInTriLarge() const { return m_iTriSmallInTriLarge; }
  CbVector3f GetLowestBlockPoint() const { return m_lowestBlockPoint; }
  CbVector3f GetHighestRestaurationPoint() const { return m_highestRestaurationPoint; }

private:
  void decide(QeTriangulationStatic* block, QeTriangulationStatic* restoration, const CbMatrix4Rf* m, int step);

  std::int32_t m_iTriSmallInTriLarge = 1;
  CbVector3f m_lowestBlockPoint{1e7f, 1e7f, 1e7f};
  CbVector3f m_highestRestaurationPoint{0.0f, 0.0f, 0.0f};
};
