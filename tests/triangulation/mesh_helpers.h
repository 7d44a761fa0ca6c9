#pragma once
// Meshes for the triangulation tests: built from corner lists, jittered grids
// with random diagonals and orientation, and the closed octahedron.
#include <algorithm>
#include <array>
#include <random>
#include <vector>

#include "orvik/triangulation/HTriangulation.h"

namespace mesh_test {

using Tri = std::array<SSEPoint, 3>;

inline void fill(CHTriangulation& mesh, const std::vector<Tri>& tris) {
  mesh.CreateTriangulation(static_cast<int>(tris.size()));
  for (std::size_t i = 0; i < tris.size(); ++i)
    for (int k = 0; k < 3; ++k) *mesh.GetTriangle(static_cast<int>(i))->corner[k] = tris[i][k];
  mesh.CalcSTV();
}

// An nx x ny grid of cells, two triangles per cell with a random diagonal,
// counter-clockwise, then shuffled and each triangle's corners rotated (and
// reversed when `flip`) at random. jitter 0 and flat give the plain flat grid
// of a height field.
inline std::vector<Tri> grid(int nx, int ny, float jitter, bool flat, bool flip, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-jitter, jitter), h(0.0f, 5.0f);
  std::vector<SSEPoint> p((nx + 1) * (ny + 1));
  for (int y = 0; y <= ny; ++y)
    for (int x = 0; x <= nx; ++x)
      p[y * (nx + 1) + x] = SSEPoint(x + u(rng), y + u(rng), flat ? 0.0f : h(rng), 0.0f);
  std::vector<Tri> tris;
  for (int y = 0; y < ny; ++y)
    for (int x = 0; x < nx; ++x) {
      const SSEPoint a = p[y * (nx + 1) + x], b = p[y * (nx + 1) + x + 1];
      const SSEPoint c = p[(y + 1) * (nx + 1) + x], d = p[(y + 1) * (nx + 1) + x + 1];
      if (rng() & 1) {
        tris.push_back({a, b, d});
        tris.push_back({a, d, c});
      } else {
        tris.push_back({a, b, c});
        tris.push_back({b, d, c});
      }
    }
  std::shuffle(tris.begin(), tris.end(), rng);
  for (Tri& t : tris) {
    std::rotate(t.begin(), t.begin() + rng() % 3, t.end());
    if (flip && (rng() & 1)) std::swap(t[0], t[2]);
  }
  return tris;
}

inline std::vector<Tri> octahedron() {
  const SSEPoint px(1, 0, 0), nx(-1, 0, 0), py(0, 1, 0), ny(0, -1, 0), pz(0, 0, 1), nz(0, 0, -1);
  return {{px, py, pz}, {py, nx, pz}, {nx, ny, pz}, {ny, px, pz},
          {py, px, nz}, {nx, py, nz}, {ny, nx, nz}, {px, ny, nz}};
}

}  // namespace mesh_test
