// Delaunay triangulations of 10^3 and 10^4 random points against CGAL's
// Delaunay_triangulation_2 on the same points in the same run. The points lie
// on the grid of 0.1 that the triangulation quantises to, in general position
// (checked: the triangle sets agree, reported as the counter "equal").
#include <benchmark/benchmark.h>

#include <CGAL/Delaunay_triangulation_2.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>

#include <algorithm>
#include <array>
#include <random>
#include <set>
#include <vector>

#include "orvik/triangulation/H2DDelaunay.h"

namespace {

using K = CGAL::Exact_predicates_inexact_constructions_kernel;
using Triangle = std::array<std::pair<long, long>, 3>;

std::vector<std::pair<long, long>> points(int n) {
  std::mt19937 rng(23);
  std::uniform_int_distribution<long> u(0, 500000);
  std::set<std::pair<long, long>> unique;
  while (int(unique.size()) < n) unique.insert({u(rng), u(rng)});
  std::vector<std::pair<long, long>> p(unique.begin(), unique.end());
  std::shuffle(p.begin(), p.end(), rng);
  return p;
}

Triangle sorted(Triangle t) {
  std::sort(t.begin(), t.end());
  return t;
}

std::set<Triangle> orvik(const std::vector<std::pair<long, long>>& p, int* faces) {
  CH2DDelaunay d;
  for (const auto& [x, y] : p) d.AppendVertex(float(x) / 10, float(y) / 10, -1, false);
  d.CalcDelaunayTriangulation();
  *faces = d.GetNumFaces();
  std::set<Triangle> out;
  tFaceStructure* f = d.GetFaces();
  do {
    Triangle t;
    for (int k = 0; k < 3; ++k) t[k] = {f->vertex[k]->v[0], f->vertex[k]->v[1]};
    out.insert(sorted(t));
    f = f->next;
  } while (f != d.GetFaces());
  return out;
}

std::set<Triangle> cgal(const std::vector<std::pair<long, long>>& p, int* faces) {
  std::vector<K::Point_2> pts;
  for (const auto& [x, y] : p) pts.emplace_back(double(x), double(y));
  CGAL::Delaunay_triangulation_2<K> dt(pts.begin(), pts.end());
  *faces = int(dt.number_of_faces());
  std::set<Triangle> out;
  for (auto f = dt.finite_faces_begin(); f != dt.finite_faces_end(); ++f) {
    Triangle t;
    for (int k = 0; k < 3; ++k) t[k] = {long(f->vertex(k)->point().x()), long(f->vertex(k)->point().y())};
    out.insert(sorted(t));
  }
  return out;
}

void BM_Orvik(benchmark::State& state) {
  const auto p = points(int(state.range(0)));
  int faces = 0, ignored = 0;
  state.counters["equal"] = orvik(p, &faces) == cgal(p, &ignored);
  for (auto _ : state) {
    CH2DDelaunay d;
    for (const auto& [x, y] : p) d.AppendVertex(float(x) / 10, float(y) / 10, -1, false);
    d.CalcDelaunayTriangulation();
    benchmark::DoNotOptimize(d.GetNumFaces());
  }
  state.counters["faces"] = faces;
}

void BM_CGAL(benchmark::State& state) {
  const auto p = points(int(state.range(0)));
  std::vector<K::Point_2> pts;
  for (const auto& [x, y] : p) pts.emplace_back(double(x), double(y));
  for (auto _ : state) {
    CGAL::Delaunay_triangulation_2<K> dt(pts.begin(), pts.end());
    benchmark::DoNotOptimize(dt.number_of_faces());
  }
}

}  // namespace

BENCHMARK(BM_Orvik)->Arg(1000)->Arg(3000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CGAL)->Arg(1000)->Arg(3000)->Arg(10000)->Unit(benchmark::kMillisecond);
