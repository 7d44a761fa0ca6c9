// The outline of a mesh of 10^6 vertices seen along y (a height field
// standing on its side, so that the profile has many points near the hull)
// against cv::convexHull of the same vertices' (x, z) in the same run. The
// outline includes what a caller of OpenCV does before: the mesh's box and
// gathering the vertices of live triangles.
#include <benchmark/benchmark.h>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <vector>

#include "orvik/foundation/qe/Triangulation.h"
#include "orvik/triangulation/UxQeTriangulationTo2DHull.h"

namespace {

// side x side vertices on a wavy surface, two triangles per grid cell.
Geometry::CTriangulation heightFieldHostMesh(int side) {
  std::vector<CbVector3f> v;
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x)
      v.push_back({0.05f * x, 0.05f * y, 2.0f * std::sin(0.05f * x) * std::cos(0.03f * y) + 0.01f * ((x * 7 + y * 13) % 17)});
  std::vector<Geometry::CTriangulation::Triangle> t;
  for (int y = 0; y + 1 < side; ++y)
    for (int x = 0; x + 1 < side; ++x) {
      const unsigned a = y * side + x, b = a + 1, c = a + side, d = c + 1;
      t.push_back({a, b, d});
      t.push_back({a, d, c});
    }
  return Geometry::CTriangulation(unsigned(v.size()), unsigned(t.size()), {v.data(), v.size()}, {t.data(), t.size()}, {});
}

const Geometry::CTriangulation& mesh() {
  static const Geometry::CTriangulation m = heightFieldHostMesh(1000);
  return m;
}

void BM_OrvikOutline(benchmark::State& state) {
  Geometry::CTriangulation& m = const_cast<Geometry::CTriangulation&>(mesh());
  for (auto _ : state) {
    const UxQeTriangulationTo2DHull outline(m);
    state.counters["hull"] = outline.GetConvexPolygon().GetNumPoints();
  }
}

void BM_OpenCVConvexHull(benchmark::State& state) {
  std::vector<cv::Point2f> points;
  for (unsigned i = 0; i < mesh().GetVertexCount(); ++i) points.emplace_back(mesh().GetVertex(i).x, mesh().GetVertex(i).z);
  for (auto _ : state) {
    std::vector<cv::Point2f> hull;
    cv::convexHull(points, hull);
    state.counters["hull"] = double(hull.size());
  }
}

}  // namespace

BENCHMARK(BM_OrvikOutline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCVConvexHull)->Unit(benchmark::kMillisecond);
