// 3D convex hulls of points in a cube and on a sphere against CGAL's
// convex_hull_3 and qhull, on the same points in the same run. The hull is
// incremental with a conflict graph; the sphere (every point on the hull)
// runs at several sizes to show the growth.
#include <benchmark/benchmark.h>

#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Surface_mesh.h>
#include <CGAL/convex_hull_3.h>

#include <cmath>
#include <random>
#include <vector>

#include "orvik/triangulation/HConvexHull3D.h"

#ifdef ORVIK_HAVE_QHULL
extern "C" {
#include <libqhull_r/qhull_ra.h>
}
#endif

namespace {

using K = CGAL::Exact_predicates_inexact_constructions_kernel;

// Coordinates on a grid of 0.001 within +-100 (the hull quantises by 1000).
std::vector<float> points(int n, bool sphere) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> u(-100, 100);
  std::normal_distribution<double> g;
  std::vector<float> p(3 * n);
  for (int i = 0; i < n; ++i) {
    double x, y, z;
    if (sphere) {
      x = g(rng), y = g(rng), z = g(rng);
      const double r = 100 / std::sqrt(x * x + y * y + z * z);
      x *= r, y *= r, z *= r;
    } else {
      x = u(rng), y = u(rng), z = u(rng);
    }
    p[3 * i] = float(std::round(x * 1000) / 1000);
    p[3 * i + 1] = float(std::round(y * 1000) / 1000);
    p[3 * i + 2] = float(std::round(z * 1000) / 1000);
  }
  return p;
}

void BM_Orvik(benchmark::State& state, bool sphere) {
  const auto p = points(int(state.range(0)), sphere);
  for (auto _ : state) {
    CHConvexHull3D hull;
    for (std::size_t i = 0; i < p.size(); i += 3) hull.AppendVertex3D(p[i], p[i + 1], p[i + 2], 1000.0f);
    hull.CalcConvexHull();
    state.counters["faces"] = hull.GetNumFaces();
  }
}

void BM_CGAL(benchmark::State& state, bool sphere) {
  const auto p = points(int(state.range(0)), sphere);
  std::vector<K::Point_3> pts;
  for (std::size_t i = 0; i < p.size(); i += 3) pts.emplace_back(p[i], p[i + 1], p[i + 2]);
  for (auto _ : state) {
    CGAL::Surface_mesh<K::Point_3> mesh;
    CGAL::convex_hull_3(pts.begin(), pts.end(), mesh);
    state.counters["faces"] = double(mesh.number_of_faces());
  }
}

#ifdef ORVIK_HAVE_QHULL
void BM_Qhull(benchmark::State& state, bool sphere) {
  const auto p = points(int(state.range(0)), sphere);
  std::vector<coordT> pts(p.begin(), p.end());
  for (auto _ : state) {
    qhT qh_qh;
    qhT* qh = &qh_qh;
    QHULL_LIB_CHECK
    qh_zero(qh, nullptr);
    char options[] = "qhull Qt Q12";
    const int failed = qh_new_qhull(qh, 3, int(pts.size() / 3), pts.data(), False, options, nullptr, nullptr);
    state.counters["faces"] = failed ? -1 : qh->num_facets;
    qh_freeqhull(qh, !qh_ALL);
    int curlong, totlong;
    qh_memfreeshort(qh, &curlong, &totlong);
  }
}
BENCHMARK_CAPTURE(BM_Qhull, cube, false)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Qhull, sphere, true)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_CAPTURE(BM_Orvik, cube, false)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CGAL, cube, false)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Orvik, sphere, true)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CGAL, sphere, true)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
