// Octree and containment against CGAL in the same run.
//
// Build: the octree of a height-field mesh (10^5 and 10^6 triangles, 6 and 7
// levels) filled with every triangle, against CGAL's AABB_tree built over the
// same triangles.
//
// Containment: every vertex of a 10^4-triangle sphere tested against a
// 10^5-triangle convex sphere, inside and shifted half out, against CGAL's
// Side_of_triangle_mesh on the same vertices (its tree built in the loop, as
// ours is). Before timing, single points farther than 1e-3 from the surface
// are classified by both; the counter "mismatches" must stay 0.
#include <benchmark/benchmark.h>

#include <CGAL/AABB_traits.h>
#include <CGAL/AABB_tree.h>
#include <CGAL/AABB_triangle_primitive.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Side_of_triangle_mesh.h>
#include <CGAL/Surface_mesh.h>

#include <cmath>
#include <random>
#include <vector>

#include "bench/height_field_mesh.h"
#include "orvik/foundation/qe/Triangulation.h"
#include "orvik/triangulation/HDecideQeTriInQeTri.h"
#include "orvik/triangulation/HOctree.h"
#include "tests/support/host_meshes.h"

namespace {

using K = CGAL::Exact_predicates_inexact_constructions_kernel;
using Triangles = std::vector<K::Triangle_3>;
using Primitive = CGAL::AABB_triangle_primitive<K, Triangles::const_iterator>;
using Tree = CGAL::AABB_tree<CGAL::AABB_traits<K, Primitive>>;
using Mesh = CGAL::Surface_mesh<K::Point_3>;

void BM_OrvikOctreeBuild(benchmark::State& state) {
  CHTriangulation mesh(const_cast<CHTriangulation*>(&bench_meshes::heightFieldMesh(int(state.range(0)))));
  SSEPoint lo, hi;
  mesh.GetMinPoint(lo);
  mesh.GetMaxPoint(hi);
  float edge = 0;
  CSSEFns::max_of_m128(_mm_sub_ps(hi.v, lo.v), &edge);
  const float cell = edge / float(1 << state.range(1));
  for (auto _ : state) {
    CHOctree tree(hi, lo, cell);
    tree.CalculateOctreeEntries(&mesh, 0);
    state.counters["bricks"] = tree.GetNumBricks();
  }
}

void BM_CGALAABBTreeBuild(benchmark::State& state) {
  const CHTriangulation& mesh = bench_meshes::heightFieldMesh(int(state.range(0)));
  Triangles triangles;
  for (int t = 0; t < mesh.GetNumTriangles(); ++t) {
    const t_htriangle* tri = mesh.GetTriangle(t);
    auto p = [&](int k) { return K::Point_3(tri->corner[k]->x, tri->corner[k]->y, tri->corner[k]->z); };
    triangles.emplace_back(p(0), p(1), p(2));
  }
  for (auto _ : state) {
    Tree tree(triangles.begin(), triangles.end());
    tree.build();
    benchmark::DoNotOptimize(tree.size());
  }
}

using Sphere = test_support::HostMesh;

Mesh cgalMesh(const Sphere& s) {
  Mesh m;
  std::vector<Mesh::Vertex_index> v;
  for (const CbVector3f& p : s.v) v.push_back(m.add_vertex(K::Point_3(p.x, p.y, p.z)));
  for (const auto& t : s.t) m.add_face(v[t[0]], v[t[1]], v[t[2]]);
  return m;
}

// 10^5 triangles of radius 1000 and 10^4 of radius 500, centred or shifted by 700.
const Sphere& block() {
  static const Sphere s = test_support::LatitudeSphere(1000, 201, 250);
  return s;
}

const Sphere& restoration(bool shifted) {
  static const Sphere inside = test_support::LatitudeSphere(500, 51, 100),
                      out = test_support::LatitudeSphere(500, 51, 100, 700);
  return shifted ? out : inside;
}

// Single points away from the surface, classified by both.
int mismatches(const Sphere& blockSphere) {
  const Geometry::CTriangulation b = blockSphere.build();
  QeTriangulationStatic bs(b);
  const Mesh m = cgalMesh(blockSphere);
  CGAL::Side_of_triangle_mesh<Mesh, K> side(m);
  Triangles triangles;
  for (const auto& t : blockSphere.t) {
    auto p = [&](unsigned k) { return K::Point_3(blockSphere.v[k].x, blockSphere.v[k].y, blockSphere.v[k].z); };
    triangles.emplace_back(p(t[0]), p(t[1]), p(t[2]));
  }
  Tree distances(triangles.begin(), triangles.end());
  distances.accelerate_distance_queries();
  std::mt19937 rng(41);
  std::uniform_real_distribution<float> u(-1100, 1100);
  int wrong = 0;
  for (int tested = 0; tested < 300;) {
    const CbVector3f p(u(rng), u(rng), u(rng));
    const K::Point_3 q(p.x, p.y, p.z);
    if (distances.squared_distance(q) <= 1e-6) continue;
    ++tested;
    const Geometry::CTriangulation one(1, 0, {&p, 1}, {}, {});
    QeTriangulationStatic os(one);
    const bool ours = CHDecideQeTriInQeTri(&bs, &os, 1).GetTriSmallInTriLarge() == 1;
    wrong += ours != (side(q) == CGAL::ON_BOUNDED_SIDE);
  }
  return wrong;
}

void BM_OrvikContainment(benchmark::State& state) {
  const Geometry::CTriangulation b = block().build(), r = restoration(state.range(0)).build();
  QeTriangulationStatic bs(b), rs(r);
  int inside = 0;
  for (auto _ : state) inside = CHDecideQeTriInQeTri(&bs, &rs, 1).GetTriSmallInTriLarge();
  state.counters["inside"] = inside;
  state.counters["mismatches"] = mismatches(block());
}

void BM_CGALContainment(benchmark::State& state) {
  const Mesh m = cgalMesh(block());
  std::vector<K::Point_3> points;
  for (const CbVector3f& p : restoration(state.range(0)).v) points.emplace_back(p.x, p.y, p.z);
  std::size_t inside = 0;
  for (auto _ : state) {
    CGAL::Side_of_triangle_mesh<Mesh, K> side(m);
    inside = 0;
    for (const K::Point_3& p : points) inside += side(p) == CGAL::ON_BOUNDED_SIDE;
  }
  state.counters["inside"] = inside == points.size();
}

}  // namespace

BENCHMARK(BM_OrvikOctreeBuild)->Args({100000, 6})->Args({1000000, 6})->Args({1000000, 7})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CGALAABBTreeBuild)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrvikContainment)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CGALContainment)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
