// Ear clipping of simple polygons of 100, 1,000 and 10,000 points (random star
// polygons, and the outline traced around the preparation of the orvik
// program's example, thinned to about those counts) against CGAL's constrained
// Delaunay triangulation of the same polygon with its faces marked inside or
// outside, which is what the same result costs a caller of CGAL. Both give
// n - 2 triangles; the counters show them.
#include <benchmark/benchmark.h>

#include <CGAL/Constrained_Delaunay_triangulation_2.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Triangulation_face_base_with_info_2.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <random>
#include <vector>

#include "Example.h"
#include "orvik/chain/PixelChain.h"
#include "orvik/matrix/ssematrix.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "orvik/triangulation/HPolygonTriangulator.h"

namespace {

struct FaceInfo {
  int nesting = -1;
};
using K = CGAL::Exact_predicates_inexact_constructions_kernel;
using Fb = CGAL::Constrained_triangulation_face_base_2<K, CGAL::Triangulation_face_base_with_info_2<FaceInfo, K>>;
using Tds = CGAL::Triangulation_data_structure_2<CGAL::Triangulation_vertex_base_2<K>, Fb>;
using CDT = CGAL::Constrained_Delaunay_triangulation_2<K, Tds, CGAL::Exact_predicates_tag>;

// Nesting depth of every face from the infinite face across constrained
// edges; the faces at odd depth are inside. Returns their number.
int markInside(CDT& cdt) {
  for (auto f = cdt.all_faces_begin(); f != cdt.all_faces_end(); ++f) f->info().nesting = -1;
  std::deque<std::pair<CDT::Face_handle, int>> seeds{{cdt.infinite_face(), 0}};
  int inside = 0;
  while (!seeds.empty()) {
    const auto [seed, level] = seeds.front();
    seeds.pop_front();
    if (seed->info().nesting != -1) continue;
    std::deque<CDT::Face_handle> queue{seed};
    while (!queue.empty()) {
      const CDT::Face_handle f = queue.front();
      queue.pop_front();
      if (f->info().nesting != -1) continue;
      f->info().nesting = level;
      if (level % 2 == 1 && !cdt.is_infinite(f)) ++inside;
      for (int i = 0; i < 3; ++i) {
        const CDT::Face_handle n = f->neighbor(i);
        if (n->info().nesting != -1) continue;
        if (cdt.is_constrained(CDT::Edge(f, i)))
          seeds.emplace_back(n, level + 1);
        else
          queue.push_back(n);
      }
    }
  }
  return inside;
}

struct Input {
  CSSE3dPolygon polygon;
  std::vector<K::Point_2> points;
};

Input inputOf(const std::vector<std::pair<float, float>>& ring) {
  Input in;
  in.polygon.Create(static_cast<int>(ring.size()));
  for (int i = 0; i < in.polygon.GetNumPoints(); ++i) {
    in.polygon.SetPoint(i, ring[i].first, ring[i].second, 0.0f);
    in.points.emplace_back(ring[i].first, ring[i].second);
  }
  return in;
}

const Input& star(int n) {
  static std::map<int, Input> cache;
  auto found = cache.find(n);
  if (found != cache.end()) return found->second;
  std::mt19937 rng(n);
  std::uniform_real_distribution<double> angle(0.0, 2 * M_PI), radius(300.0, 1000.0);
  std::vector<double> a(n);
  for (double& v : a) v = angle(rng);
  std::sort(a.begin(), a.end());
  std::vector<std::pair<float, float>> ring;
  for (double t : a) {
    const double r = radius(rng);
    ring.emplace_back(static_cast<float>(r * std::cos(t)), static_cast<float>(r * std::sin(t)));
  }
  return cache.emplace(n, inputOf(ring)).first->second;
}

// The border of the example's preparation mask as the orvik program's demo
// makes it (median filter, heights 0.3 mm above the base, eroded by 4 cells),
// on a 6144 x 6144 field: about 11,000 pixels, thinned by a step.
const Input& outline(int n) {
  static CPixelChain chain;
  if (chain.GetCount() == 0) {
    constexpr int size = 6144;
    CSSEMatrix mask;
    orvik::tool::MakeExampleStump(mask, size);
    mask.SimpleMedianFilter();
    mask.TresholdAbove(1.3f, 1.0f);
    mask.Erode(4.0f, 0.0f, 1.0f, 0, size - 1, 0, size - 1, false, 0);
    for (int y = 0, found = 0; y < size && !found; ++y)
      for (int x = 0; x < size && !found; ++x)
        if (mask.GetPointUnsafe(x, y) > 0.5f) {
          chain.CreatePixelChain(&mask, 0.5f, x, y, 10000000, true, true, 0);
          found = 1;
        }
  }
  static std::map<int, Input> cache;
  auto found = cache.find(n);
  if (found != cache.end()) return found->second;
  const CSSE3dPolygon thinned(chain, std::max(1, chain.GetCount() / n));
  std::vector<std::pair<float, float>> ring;
  for (int i = 0; i < thinned.GetNumPoints(); ++i) {
    float x = 0, y = 0;
    thinned.GetPointXY(i, x, y);
    ring.emplace_back(x, y);
  }
  return cache.emplace(n, inputOf(ring)).first->second;
}

void earClipping(benchmark::State& state, const Input& in) {
  CSSE3dPolygon polygon(in.polygon);
  int triangles = 0;
  for (auto _ : state) {
    CHPolygonTriangulator t(&polygon, 1, 1.0f, 1.0f, 1.0f, false);
    triangles = t.GetNumTriangles();
    benchmark::DoNotOptimize(triangles);
  }
  state.counters["points"] = polygon.GetNumPoints();
  state.counters["triangles"] = triangles;
}

void cgal(benchmark::State& state, const Input& in) {
  int triangles = 0;
  for (auto _ : state) {
    CDT cdt;
    cdt.insert_constraint(in.points.begin(), in.points.end(), true);
    triangles = markInside(cdt);
    benchmark::DoNotOptimize(triangles);
  }
  state.counters["points"] = static_cast<double>(in.points.size());
  state.counters["triangles"] = triangles;
}

void BM_EarClippingStar(benchmark::State& state) { earClipping(state, star(state.range(0))); }
void BM_CgalStar(benchmark::State& state) { cgal(state, star(state.range(0))); }
void BM_EarClippingOutline(benchmark::State& state) { earClipping(state, outline(state.range(0))); }
void BM_CgalOutline(benchmark::State& state) { cgal(state, outline(state.range(0))); }

}  // namespace

BENCHMARK(BM_EarClippingStar)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CgalStar)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EarClippingOutline)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CgalOutline)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
