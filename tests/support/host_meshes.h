#pragma once
// Closed meshes in the host's shared-vertex form, for tests and benchmarks.
#include <cmath>
#include <vector>

#include "orvik/foundation/qe/Triangulation.h"

namespace test_support {

struct HostMesh {
  std::vector<CbVector3f> v;
  std::vector<Geometry::CTriangulation::Triangle> t;
  std::vector<unsigned> removed;
  Geometry::CTriangulation build() const {
    return Geometry::CTriangulation(unsigned(v.size()), unsigned(t.size()), {v.data(), v.size()},
                                    {t.data(), t.size()}, {removed.data(), removed.size()});
  }
};

// A convex sphere about (shift, 0, 0), outward counter-clockwise: 2 * sectors * (rings - 1) triangles.
inline HostMesh LatitudeSphere(float r, int rings, int sectors, float shift = 0.0f) {
  HostMesh m;
  m.v.push_back({shift, 0, r});
  for (int i = 1; i < rings; ++i)
    for (int j = 0; j < sectors; ++j) {
      const double th = M_PI * i / rings, ph = 2 * M_PI * j / sectors;
      m.v.push_back({float(shift + r * std::sin(th) * std::cos(ph)), float(r * std::sin(th) * std::sin(ph)),
                     float(r * std::cos(th))});
    }
  m.v.push_back({shift, 0, -r});
  const unsigned south = unsigned(m.v.size() - 1);
  auto at = [&](int i, int j) { return unsigned(1 + (i - 1) * sectors + j % sectors); };
  for (int j = 0; j < sectors; ++j) {
    m.t.push_back({0, at(1, j), at(1, j + 1)});
    m.t.push_back({south, at(rings - 1, j + 1), at(rings - 1, j)});
    for (int i = 1; i + 1 < rings; ++i) {
      m.t.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1)});
      m.t.push_back({at(i, j), at(i + 1, j + 1), at(i, j + 1)});
    }
  }
  return m;
}

}  // namespace test_support
