#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "mesh_helpers.h"
#include "orvik/foundation/qe/Triangulation.h"
#include "orvik/triangulation/HDecideQeTriInQeTri.h"
#include "orvik/triangulation/UxQeTriangulationTo2DHull.h"
#include "support/host_meshes.h"

namespace {

using test_support::HostMesh;

// Faces -x, +x, -y, +y, -z, +z, two triangles each, counter-clockwise seen from outside.
HostMesh box(CbVector3f lo, CbVector3f hi) {
  HostMesh m;
  for (int k = 0; k < 8; ++k) m.v.push_back({k & 1 ? hi.x : lo.x, k & 2 ? hi.y : lo.y, k & 4 ? hi.z : lo.z});
  const unsigned f[6][4] = {{0, 4, 6, 2}, {1, 3, 7, 5}, {0, 1, 5, 4},
                            {2, 6, 7, 3}, {0, 2, 3, 1}, {4, 5, 7, 6}};
  for (const auto& q : f) m.t.insert(m.t.end(), {{q[0], q[1], q[2]}, {q[0], q[2], q[3]}});
  return m;
}

struct Decision {
  int inside;
  CbVector3f lowest, highest;
};

Decision decide(const HostMesh& block, const std::vector<CbVector3f>& points, int step,
                CbMatrix4Rf* m = nullptr) {
  const Geometry::CTriangulation b = block.build(), r = HostMesh{points, {}, {}}.build();
  QeTriangulationStatic bs(b), rs(r);
  const CHDecideQeTriInQeTri d =
      m ? CHDecideQeTriInQeTri(&bs, &rs, *m, step) : CHDecideQeTriInQeTri(&bs, &rs, step);
  return {d.GetTriSmallInTriLarge(), d.GetLowestBlockPoint(), d.GetHighestRestaurationPoint()};
}

// Triangle by triangle, vertex by vertex with early exit, the highest point raised before each test.
Decision sequential(const HostMesh& block, const std::vector<CbVector3f>& points, int step) {
  Decision d{1, {1e7f, 1e7f, 1e7f}, {0, 0, 0}};
  step = std::max(step, 1);
  for (long i = 0; i < long(block.t.size()) - step + 1; i += step) {
    const CbVector3f &A = block.v[block.t[i][0]], &B = block.v[block.t[i][1]], &C = block.v[block.t[i][2]];
    for (const CbVector3f* q : {&A, &B, &C})
      d.lowest = {std::min(q->x, d.lowest.x), std::min(q->y, d.lowest.y), std::min(q->z, d.lowest.z)};
    for (const CbVector3f& p : points) {
      d.highest = {d.highest.x > p.x ? d.highest.x : p.x, d.highest.y > p.y ? d.highest.y : p.y,
                   d.highest.z > p.z ? d.highest.z : p.z};
      const float ax = A.x - p.x, ay = A.y - p.y, az = A.z - p.z, bx = B.x - p.x, by = B.y - p.y,
                  bz = B.z - p.z;
      const float cx = C.x - p.x, cy = C.y - p.y, cz = C.z - p.z;
      if (ax * (by * cz - bz * cy) + ay * (bz * cx - bx * cz) + az * (bx * cy - by * cx) < -0.1f) {
        d.inside = 0;
        break;
      }
    }
  }
  return d;
}

void expectSame(const Decision& a, const Decision& b) {
  EXPECT_EQ(a.inside, b.inside);
  EXPECT_EQ(a.lowest, b.lowest);
  EXPECT_EQ(a.highest, b.highest);
}

}  // namespace

// Thousands of vertices with one out late pass through whole groups of vertices tested at once.
TEST(DecideQeTriInQeTri, PointsInsideConvexMeshesAgainstTheWalk) {
  struct Case {
    const char* name;
    HostMesh block;
    float reach;                                   // points within +-reach
    std::function<int(float, float, float)> side;  // 1 inside, 0 outside, -1 too close to call
  };
  const Case cases[] = {
      {"box", box({-5, -3, -2}, {5, 3, 2}), 6.0f,
       [](float x, float y, float z) {
         const float d = std::max({std::fabs(x) - 5, std::fabs(y) - 3, std::fabs(z) - 2});
         return std::fabs(d) < 0.2f ? -1 : d < 0;
       }},
      // Its faces lie between the radii 9.3 and 10.
      {"sphere", test_support::LatitudeSphere(10, 12, 24), 12.0f,
       [](float x, float y, float z) {
         const float r = std::sqrt(x * x + y * y + z * z);
         return r > 9.3f && r < 10.5f ? -1 : r <= 9.3f;
       }},
  };
  std::mt19937 rng(21);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::uniform_real_distribution<float> u(-c.reach, c.reach);
    std::vector<CbVector3f> inside, outside;
    while (inside.size() + outside.size() < 400) {
      const CbVector3f p(u(rng), u(rng), u(rng));
      const int side = c.side(p.x, p.y, p.z);
      if (side < 0) continue;
      EXPECT_EQ(decide(c.block, {p}, 1).inside, side) << p.x << " " << p.y << " " << p.z;
      (side ? inside : outside).push_back(p);
    }
    ASSERT_TRUE(inside.size() > 20 && outside.size() > 20);
    std::vector<CbVector3f> mixed = inside, many;
    mixed.insert(mixed.begin() + mixed.size() / 2, outside[0]);
    for (std::size_t i = 0; i < 3000; ++i) many.push_back(i == 2500 ? outside[1] : inside[i % inside.size()]);
    for (int step : {1, 2, 5, 0, -3}) {
      SCOPED_TRACE(step);
      const Decision all = decide(c.block, inside, step), one = decide(c.block, mixed, step);
      expectSame(all, sequential(c.block, inside, step));
      expectSame(one, sequential(c.block, mixed, step));
      expectSame(decide(c.block, many, step), sequential(c.block, many, step));
      EXPECT_TRUE(all.inside == 1 && (step >= 2 || one.inside == 0));
    }
    // Moved by a projective matrix (w = 2): the same as moving the points.
    CbMatrix4Rf m;
    m.m[3][0] = 0.5f, m.m[3][1] = -1.0f, m.m[3][2] = 2.0f, m.m[3][3] = 2.0f;
    std::vector<CbVector3f> moved;
    for (const CbVector3f& p : mixed) moved.push_back({(p.x + 0.5f) / 2, (p.y - 1.0f) / 2, (p.z + 2.0f) / 2});
    expectSame(decide(c.block, mixed, 1, &m), sequential(c.block, moved, 1));
  }
}

TEST(DecideQeTriInQeTri, ToleranceAndSteps) {
  const HostMesh cube = box({0, 0, 0}, {1, 1, 1});
  struct Case {
    const char* name;
    std::vector<CbVector3f> points;
    int step, inside;
  };
  const Case cases[] = {
      {"0.09 beyond a face: within the tolerance", {{1.09f, 0.5f, 0.5f}}, 1, 1},
      {"0.11 beyond a face", {{1.11f, 0.5f, 0.5f}}, 1, 0},
      {"beyond -y, a face no tested triangle of step 3 belongs to", {{0.5f, -0.5f, 0.5f}}, 3, 1},
      {"the same at step 1", {{0.5f, -0.5f, 0.5f}}, 1, 0},
      {"a step beyond the triangle count tests nothing", {{5, 5, 5}}, 13, 1},
      {"no restoration vertices", {}, 1, 1},
      {"a vertex not a number fails no face",
       {{0.5f, 0.5f, 0.5f}, {NAN, 0.9f, 0.2f}, {0.2f, 0.7f, 0.1f}},
       1,
       1},
      {"then one outside",
       {{0.5f, 0.5f, 0.5f}, {0.1f, NAN, 0.2f}, {1.5f, 0.5f, 0.5f}, {0.9f, 0.9f, 0.9f}},
       1,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Decision d = decide(cube, c.points, c.step);
    EXPECT_EQ(d.inside, c.inside);
    expectSame(d, sequential(cube, c.points, c.step));
  }
  // Nothing tested leaves the start points; the highest point never drops below its start at the origin.
  const Decision none = decide(cube, {{5, 5, 5}}, 13);
  EXPECT_TRUE(none.lowest == CbVector3f(1e7f, 1e7f, 1e7f) && none.highest == CbVector3f(0, 0, 0));
  EXPECT_EQ(decide(box({-9, -9, -9}, {-1, -1, -1}), {{-5, -4, -3}}, 1).highest, CbVector3f(0, 0, 0));
  // A single face: its one test reaches the first vertex outside (0.09 above is within the tolerance) only.
  const HostMesh face{{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}}, {}};
  expectSame(decide(face, {{0.2f, 0.2f, 0.09f}, {3, 4, 2}, {5, 5, 5}}, 1), {0, {0, 0, 0}, {3, 4, 2}});
}

TEST(QeTriangulationTo2DHull, OutlineIsTheHullOfTheLiveVerticesInXZ) {
  std::mt19937 rng(31);
  std::uniform_int_distribution<int> u(-40, 40);
  std::vector<HostMesh> cases;
  for (int r = 0; r < 4; ++r) {
    HostMesh m;
    for (int i = 0; i < 150; ++i) m.v.push_back({float(u(rng)), float(u(rng)) / 4, float(u(rng))});
    for (int i = 0; i < 120; ++i)
      m.t.push_back({unsigned(rng() % 150), unsigned(rng() % 150), unsigned(rng() % 150)});
    // A vertex only a removed triangle uses stays out of the outline and the box.
    m.v.push_back({500, 500, 500});
    m.t.push_back({150, 150, 150});
    m.removed = {0, 5, 9, 120};
    cases.push_back(m);
  }
  cases.push_back(test_support::LatitudeSphere(20, 10, 16));
  cases.push_back({{{0, 1, 2}, {4, 3, 2}, {9, -1, 2}}, {{0, 1, 2}}, {}});   // collinear in x-z: the two ends
  cases.push_back({{{0, 1, 2}, {4, 3, 5}, {9, -1, 2}}, {{0, 1, 2}}, {0}});  // no live vertex: nothing
  cases.push_back({});
  for (std::size_t c = 0; c < cases.size(); ++c) {
    SCOPED_TRACE(c);
    Geometry::CTriangulation mesh = cases[c].build();
    std::vector<mesh_test::PlanePt> pts;
    float yMin = 1e30f, yMax = -1e30f;
    for (unsigned t = 0; t < mesh.GetTriangleCount(); ++t)
      if (!mesh.IsTriangleRemoved(t))
        for (unsigned v : mesh.GetTriangle(t)) {
          pts.push_back({mesh.GetVertex(v).x, mesh.GetVertex(v).z});
          yMin = std::min(yMin, mesh.GetVertex(v).y);
          yMax = std::max(yMax, mesh.GetVertex(v).y);
        }
    const std::vector<mesh_test::PlanePt> expected = mesh_test::hullFromLowest(pts);
    const CSSE3dPolygon outline = UxQeTriangulationTo2DHull(mesh).GetConvexPolygon();
    const int n = outline.GetNumPoints();
    ASSERT_EQ(n, int(expected.size()));
    for (int i = 0; i < n; ++i) {
      float x = 0, y = 0, z = 0;
      outline.GetPoint(i, x, y, z);
      EXPECT_TRUE(x == expected[i][0] && z == expected[i][1] && y == (i < n / 2 ? yMin : yMax)) << i;
    }
  }
}
