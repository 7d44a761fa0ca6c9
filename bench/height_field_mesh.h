#pragma once
// The height-field mesh of the mesh benchmarks, built once per size.
#include <array>
#include <cmath>
#include <memory>
#include <unordered_map>

#include "orvik/triangulation/HTriangulation.h"

namespace bench_meshes {

// A height-field mesh of about n triangles: two per grid cell, scale 0.05.
inline const CHTriangulation& heightFieldMesh(int n) {
  static std::unordered_map<int, std::unique_ptr<CHTriangulation>> cache;
  auto& mesh = cache[n];
  if (mesh) return *mesh;
  const int side = static_cast<int>(std::sqrt(n / 2.0));
  mesh = std::make_unique<CHTriangulation>(2 * side * side, 0.05f, 0.05f, 1.0f);
  auto h = [](int x, int y) { return SSEPoint(0.05f * x, 0.05f * y, 2.0f * std::sin(0.05f * x) * std::cos(0.03f * y)); };
  int t = 0;
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      const SSEPoint a = h(x, y), b = h(x + 1, y), c = h(x, y + 1), d = h(x + 1, y + 1);
      for (const auto& tri : {std::array{a, b, d}, std::array{a, d, c}}) {
        for (int k = 0; k < 3; ++k) *mesh->GetTriangle(t)->corner[k] = tri[k];
        ++t;
      }
    }
  mesh->CalcSTV();
  mesh->CalcNormalsFromVertices();
  mesh->CalcBoundingBox();
  return *mesh;
}

}  // namespace bench_meshes
