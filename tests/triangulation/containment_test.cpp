#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "hull_reference.h"
#include "orvik/foundation/qe/Triangulation.h"
#include "orvik/triangulation/HDecideQeTriInQeTri.h"
#include "orvik/triangulation/UxQeTriangulationTo2DHull.h"
#include "support/host_meshes.h"

namespace {

using Triangle = Geometry::CTriangulation::Triangle;

using test_support::HostMesh;

// Every triangle counter-clockwise seen from outside the convex mesh.
void orientOutwards(HostMesh& m) {
  CbVector3f c;
  for (const CbVector3f& p : m.v) c = {c.x + p.x / m.v.size(), c.y + p.y / m.v.size(), c.z + p.z / m.v.size()};
  for (Triangle& t : m.t) {
    const CbVector3f &a = m.v[t[0]], &b = m.v[t[1]], &d = m.v[t[2]];
    const double ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z, wx = d.x - a.x, wy = d.y - a.y, wz = d.z - a.z;
    const double nx = uy * wz - uz * wy, ny = uz * wx - ux * wz, nz = ux * wy - uy * wx;
    if (nx * (a.x - c.x) + ny * (a.y - c.y) + nz * (a.z - c.z) < 0) std::swap(t[1], t[2]);
  }
}

HostMesh box(CbVector3f lo, CbVector3f hi) {
  HostMesh m;
  for (int k = 0; k < 8; ++k) m.v.push_back({k & 1 ? hi.x : lo.x, k & 2 ? hi.y : lo.y, k & 4 ? hi.z : lo.z});
  // Faces -x, +x, -y, +y, -z, +z, two triangles each.
  const unsigned f[6][4] = {{0, 2, 6, 4}, {1, 3, 7, 5}, {0, 1, 5, 4}, {2, 3, 7, 6}, {0, 1, 3, 2}, {4, 5, 7, 6}};
  for (const auto& q : f) {
    m.t.push_back({q[0], q[1], q[2]});
    m.t.push_back({q[0], q[2], q[3]});
  }
  orientOutwards(m);
  return m;
}

// Inside by the parity of the crossings of a ray in a direction no face of
// these meshes is parallel to.
bool insideByParity(const HostMesh& m, const CbVector3f& p) {
  const double d[3] = {0.5772156649, 0.3183098862, 0.7536441};
  int crossings = 0;
  for (const Triangle& t : m.t) {
    double a[3], e1[3], e2[3], s[3];
    const CbVector3f &A = m.v[t[0]], &B = m.v[t[1]], &C = m.v[t[2]];
    a[0] = A.x, a[1] = A.y, a[2] = A.z;
    e1[0] = B.x - A.x, e1[1] = B.y - A.y, e1[2] = B.z - A.z;
    e2[0] = C.x - A.x, e2[1] = C.y - A.y, e2[2] = C.z - A.z;
    s[0] = p.x - a[0], s[1] = p.y - a[1], s[2] = p.z - a[2];
    const double h[3] = {d[1] * e2[2] - d[2] * e2[1], d[2] * e2[0] - d[0] * e2[2], d[0] * e2[1] - d[1] * e2[0]};
    const double det = e1[0] * h[0] + e1[1] * h[1] + e1[2] * h[2];
    const double u = (s[0] * h[0] + s[1] * h[1] + s[2] * h[2]) / det;
    const double q[3] = {s[1] * e1[2] - s[2] * e1[1], s[2] * e1[0] - s[0] * e1[2], s[0] * e1[1] - s[1] * e1[0]};
    const double v = (d[0] * q[0] + d[1] * q[1] + d[2] * q[2]) / det;
    const double dist = (e2[0] * q[0] + e2[1] * q[1] + e2[2] * q[2]) / det;
    crossings += u >= 0 && v >= 0 && u + v <= 1 && dist > 0;
  }
  return crossings % 2 == 1;
}

struct Decision {
  int inside;
  CbVector3f lowest, highest;
};

Decision decide(const HostMesh& block, const std::vector<CbVector3f>& points, int step) {
  const Geometry::CTriangulation b = block.build();
  const Geometry::CTriangulation r = HostMesh{points, {}, {}}.build();
  QeTriangulationStatic bs(b), rs(r);
  const CHDecideQeTriInQeTri d(&bs, &rs, step);
  return {d.GetTriSmallInTriLarge(), d.GetLowestBlockPoint(), d.GetHighestRestaurationPoint()};
}

// Vertex by vertex, with early exit, the highest point raised before each test.
Decision sequential(const HostMesh& block, const std::vector<CbVector3f>& points, int step) {
  Decision d{1, {1e7f, 1e7f, 1e7f}, {0, 0, 0}};
  step = std::max(step, 1);
  for (long i = 0; i < long(block.t.size()) - step + 1; i += step) {
    const CbVector3f &A = block.v[block.t[i][0]], &B = block.v[block.t[i][1]], &C = block.v[block.t[i][2]];
    for (const CbVector3f* q : {&A, &B, &C})
      d.lowest = {q->x < d.lowest.x ? q->x : d.lowest.x, q->y < d.lowest.y ? q->y : d.lowest.y,
                  q->z < d.lowest.z ? q->z : d.lowest.z};
    for (const CbVector3f& p : points) {
      d.highest = {d.highest.x > p.x ? d.highest.x : p.x, d.highest.y > p.y ? d.highest.y : p.y,
                   d.highest.z > p.z ? d.highest.z : p.z};
      const float ax = A.x - p.x, ay = A.y - p.y, az = A.z - p.z, bx = B.x - p.x, by = B.y - p.y, bz = B.z - p.z;
      const float cx = C.x - p.x, cy = C.y - p.y, cz = C.z - p.z;
      const float vol = ax * (by * cz - bz * cy) + ay * (bz * cx - bx * cz) + az * (bx * cy - by * cx);
      if (vol < -0.1f) {
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

TEST(DecideQeTriInQeTri, PointsInsideConvexMeshesByRayParity) {
  struct Case {
    const char* name;
    HostMesh block;
    float nearLow, nearHigh;  // radii (spheres) or distances to the faces (box) left out as too close to call
    float reach;              // points within +-reach
  };
  const Case cases[] = {
      {"box", box({-5, -3, -2}, {5, 3, 2}), 0.2f, 0.0f, 6.0f},
      {"sphere", test_support::LatitudeSphere(10, 12, 24), 9.3f, 10.5f, 12.0f},
  };
  std::mt19937 rng(21);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::uniform_real_distribution<float> u(-c.reach, c.reach);
    std::vector<CbVector3f> inside, outside;
    while (inside.size() + outside.size() < 400) {
      const CbVector3f p(u(rng), u(rng), u(rng));
      if (c.nearHigh > 0) {
        const float r = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
        if (r > c.nearLow && r < c.nearHigh) continue;
      } else {
        const float d = std::min({std::fabs(std::fabs(p.x) - 5), std::fabs(std::fabs(p.y) - 3),
                                  std::fabs(std::fabs(p.z) - 2)});
        if (d < c.nearLow) continue;
      }
      const bool in = insideByParity(c.block, p);
      EXPECT_EQ(decide(c.block, {p}, 1).inside, in ? 1 : 0) << p.x << " " << p.y << " " << p.z;
      (in ? inside : outside).push_back(p);
    }
    ASSERT_GT(inside.size(), 20u);
    ASSERT_GT(outside.size(), 20u);
    // Whole restorations: all inside, then one vertex out; the points reached
    // follow the vertex-by-vertex walk for every step.
    // Thousands of vertices, one out late among them, pass through whole
    // groups of vertices tested at once.
    std::vector<CbVector3f> mixed = inside, many;
    mixed.insert(mixed.begin() + mixed.size() / 2, outside[0]);
    for (std::size_t i = 0; i < 3000; ++i) many.push_back(i == 2500 ? outside[1] : inside[i % inside.size()]);
    for (int step : {1, 2, 5, 0, -3}) {
      SCOPED_TRACE(step);
      const Decision all = decide(c.block, inside, step), one = decide(c.block, mixed, step);
      expectSame(all, sequential(c.block, inside, step));
      expectSame(one, sequential(c.block, mixed, step));
      expectSame(decide(c.block, many, step), sequential(c.block, many, step));
      EXPECT_EQ(all.inside, 1);
      if (step < 2) {
        EXPECT_EQ(one.inside, 0);
      }
    }
    // Moved by a matrix: the same as moving the points.
    CbMatrix4Rf m;
    m.m[3][0] = 0.5f, m.m[3][1] = -1.0f, m.m[3][2] = 2.0f;
    std::vector<CbVector3f> moved;
    for (const CbVector3f& p : mixed) moved.push_back({p.x + 0.5f, p.y - 1.0f, p.z + 2.0f});
    const Geometry::CTriangulation b = c.block.build(), r = HostMesh{mixed, {}, {}}.build();
    QeTriangulationStatic bs(b), rs(r);
    const CHDecideQeTriInQeTri d(&bs, &rs, m, 1);
    expectSame({d.GetTriSmallInTriLarge(), d.GetLowestBlockPoint(), d.GetHighestRestaurationPoint()},
               sequential(c.block, moved, 1));
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
      {"0.05 beyond a face: within the tolerance", {{1.05f, 0.5f, 0.5f}}, 1, 1},
      {"0.3 beyond a face", {{1.3f, 0.5f, 0.5f}}, 1, 0},
      {"beyond -y, a face no tested triangle of step 3 belongs to", {{0.5f, -0.5f, 0.5f}}, 3, 1},
      {"the same at step 1", {{0.5f, -0.5f, 0.5f}}, 1, 0},
      {"a step beyond the triangle count tests nothing", {{5, 5, 5}}, 13, 1},
      {"no restoration vertices", {}, 1, 1},
      {"a vertex not a number fails no face", {{0.5f, 0.5f, 0.5f}, {NAN, 0.9f, 0.2f}, {0.2f, 0.7f, 0.1f}}, 1, 1},
      {"then one outside", {{0.5f, 0.5f, 0.5f}, {0.1f, NAN, 0.2f}, {1.5f, 0.5f, 0.5f}, {0.9f, 0.9f, 0.9f}}, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Decision d = decide(cube, c.points, c.step);
    EXPECT_EQ(d.inside, c.inside);
    expectSame(d, sequential(cube, c.points, c.step));
  }
  const Decision none = decide(cube, {{5, 5, 5}}, 13);
  EXPECT_EQ(none.lowest, CbVector3f(1e7f, 1e7f, 1e7f));
  EXPECT_EQ(none.highest, CbVector3f(0, 0, 0));
  // The highest point never drops below its start at the origin.
  EXPECT_EQ(decide(cube, {{0.5f, 0.5f, 0.5f}}, 1).highest, CbVector3f(0.5f, 0.5f, 0.5f));
  EXPECT_EQ(decide(box({-9, -9, -9}, {-1, -1, -1}), {{-5, -4, -3}}, 1).highest, CbVector3f(0, 0, 0));
}

TEST(QeTriangulationTo2DHull, OutlineIsTheHullOfTheLiveVerticesInXZ) {
  std::mt19937 rng(31);
  std::uniform_int_distribution<int> u(-40, 40);
  struct Case {
    const char* name;
    HostMesh mesh;
  };
  std::vector<Case> cases;
  for (int r = 0; r < 4; ++r) {
    HostMesh m;
    for (int i = 0; i < 150; ++i) m.v.push_back({float(u(rng)), float(u(rng)) / 4, float(u(rng))});
    for (int i = 0; i < 120; ++i) m.t.push_back({unsigned(rng() % 150), unsigned(rng() % 150), unsigned(rng() % 150)});
    m.removed = {0, 5, 9};
    // A vertex no live triangle uses stays out of the outline and the box.
    m.v.push_back({500, 500, 500});
    m.t.push_back({150, 150, 150});
    m.removed.push_back(120);
    cases.push_back({"random", m});
  }
  cases.push_back({"closed sphere", test_support::LatitudeSphere(20, 10, 16)});
  cases.push_back({"collinear in x-z: the two ends", {{{0, 1, 2}, {4, 3, 2}, {9, -1, 2}}, {{0, 1, 2}}, {}}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Geometry::CTriangulation mesh = c.mesh.build();
    std::vector<hull_reference::Pt> pts;
    float yMin = 1e30f, yMax = -1e30f;
    for (unsigned t = 0; t < mesh.GetTriangleCount(); ++t)
      if (!mesh.IsTriangleRemoved(t))
        for (unsigned v : mesh.GetTriangle(t)) {
          pts.push_back({mesh.GetVertex(v).x, mesh.GetVertex(v).z});
          yMin = std::min(yMin, mesh.GetVertex(v).y);
          yMax = std::max(yMax, mesh.GetVertex(v).y);
        }
    const std::vector<hull_reference::Pt> expected = hull_reference::monotoneChain(pts);
    const CSSE3dPolygon outline = UxQeTriangulationTo2DHull(mesh).GetConvexPolygon();
    ASSERT_EQ(outline.GetNumPoints(), int(expected.size()));
    const int n = outline.GetNumPoints();
    for (int i = 0; i < n; ++i) {
      float x = 0, y = 0, z = 0;
      outline.GetPoint(i, x, y, z);
      EXPECT_EQ(x, expected[i].x);
      EXPECT_EQ(z, expected[i].y);
      EXPECT_EQ(y, i < n / 2 ? yMin : yMax);
    }
  }

  // No live vertex: nothing.
  HostMesh removedOnly{{{0, 1, 2}, {4, 3, 5}, {9, -1, 2}}, {{0, 1, 2}}, {0}};
  HostMesh empty;
  for (HostMesh* m : {&removedOnly, &empty}) {
    Geometry::CTriangulation mesh = m->build();
    EXPECT_EQ(UxQeTriangulationTo2DHull(mesh).GetConvexPolygon().GetNumPoints(), 0);
  }
}
