// Meshes of polygons, hulls and Delaunay triangulations, and the operations on
// built meshes: scaling, orientation thinning and border tracing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "mesh_helpers.h"
#include "orvik/foundation/Exception.h"
#include "orvik/foundation/qe/Triangulation.h"
#include "orvik/matrix/ssematrix.h"
#include "orvik/triangulation/H2DDelaunay.h"
#include "orvik/triangulation/HConvexHull3D.h"
#include "orvik/triangulation/HTriangulation.h"
#include "support/fields.h"
#include "support/polygons.h"

using namespace testpolygons;

namespace {

double signedArea(const t_htriangle& t) {
  const SSEPoint &a = *t.corner[0], &b = *t.corner[1], &c = *t.corner[2];
  return 0.5 * ((double(b.x) - a.x) * (double(c.y) - a.y) - (double(c.x) - a.x) * (double(b.y) - a.y));
}

double totalArea(const CHTriangulation& m) {
  double s = 0;
  for (int i = 0; i < m.GetNumTriangles(); ++i) s += signedArea(*m.GetTriangle(i));
  return s;
}

Ring circle(int n, double r, double cx = 0, double cy = 0) {
  Ring ring;
  for (int i = 0; i < n; ++i)
    ring.push_back({float(cx + r * std::cos(2 * M_PI * i / n)), float(cy + r * std::sin(2 * M_PI * i / n))});
  return ring;
}

using Edge = std::pair<std::pair<float, float>, std::pair<float, float>>;
Edge undirected(float ax, float ay, float bx, float by) {
  const std::pair<float, float> a{ax, ay}, b{bx, by};
  return a < b ? Edge{a, b} : Edge{b, a};
}

// The border polygon's edges (consecutive points, closed) as one multiset,
// and the open edges of the mesh (edges used by one triangle, xy) as another.
std::multiset<Edge> polygonEdges(const CSSE3dPolygon& p) {
  std::multiset<Edge> e;
  const int n = p.GetNumPoints();
  for (int i = 0; i < n; ++i) {
    float ax = 0, ay = 0, az = 0, bx = 0, by = 0, bz = 0;
    p.GetPoint(i, ax, ay, az);
    p.GetPoint((i + 1) % n, bx, by, bz);
    e.insert(undirected(ax, ay, bx, by));
  }
  return e;
}

std::multiset<Edge> openEdges(const CHTriangulation& m) {
  std::map<Edge, int> uses;
  for (int i = 0; i < m.GetNumTriangles(); ++i)
    for (int k = 0; k < 3; ++k) {
      const SSEPoint &a = *m.GetTriangle(i)->corner[k], &b = *m.GetTriangle(i)->corner[(k + 1) % 3];
      ++uses[undirected(a.x, a.y, b.x, b.y)];
    }
  std::multiset<Edge> open;
  for (const auto& [e, n] : uses)
    if (n == 1) open.insert(e);
  return open;
}

}  // namespace

// Ear clipping gives n - 2 counter-clockwise triangles covering the polygon
// (either orientation of the ring), refinement covers the same area with
// more triangles, and the constructor scales the corners.
TEST(MeshFromPolygon, EarClippingAndRefinement) {
  for (const Ring& ring : {square(), lShape(), comb(5, 4.0f), star(60, 3), reversed(star(41, 9))}) {
    CSSE3dPolygon p = toPolygon(ring);
    SCOPED_TRACE(ring.size());
    CHTriangulation mesh;
    mesh.CreateTriangulationFromPolygon(&p, 1, 0.0f, false);
    ASSERT_EQ(mesh.GetNumTriangles(), int(ring.size()) - 2);
    for (int i = 0; i < mesh.GetNumTriangles(); ++i) EXPECT_GT(signedArea(*mesh.GetTriangle(i)), 0.0) << i;
    EXPECT_NEAR(totalArea(mesh), std::fabs(area2(ring)) / 2, 1e-4 * std::fabs(area2(ring)));
    // Every corner is a polygon point with its height.
    std::set<std::tuple<float, float, float>> points;
    for (int i = 0; i < p.GetNumPoints(); ++i) {
      float x, y, z;
      p.GetPoint(i, x, y, z);
      points.insert({x, y, z});
    }
    for (int i = 0; i < 3 * mesh.GetNumTriangles(); ++i) {
      const SSEPoint& c = mesh.GetEdgeArray()[i];
      EXPECT_TRUE(points.count({c.x, c.y, c.z})) << i;
    }

    CHTriangulation refined;
    refined.CreateTriangulationFromPolygon(&p, 1, 0.2f, true);
    // (Edges whose square is not above 4 are never split.)
    if (std::fabs(area2(ring)) > 100) {
      EXPECT_GT(refined.GetNumTriangles(), mesh.GetNumTriangles());
    }
    EXPECT_NEAR(totalArea(refined), totalArea(mesh), 1e-4 * std::fabs(area2(ring)));

    CHTriangulation scaled(&p, 2.0f, 3.0f, 0.5f, 1, 0.0f, false, false);
    ASSERT_EQ(scaled.GetNumTriangles(), mesh.GetNumTriangles());
    EXPECT_NEAR(totalArea(scaled), 6 * totalArea(mesh), 1e-4 * 6 * std::fabs(area2(ring)));
    const SSEPoint& c = scaled.GetEdgeArray()[0];
    const SSEPoint& u = mesh.GetEdgeArray()[0];
    EXPECT_TRUE(c.x == 2 * u.x && c.y == 3 * u.y && c.z == 0.5f * u.z);
  }
}

// A fan of N triangles around the centre, the first closing the ring; with a
// field, the polygon's mesh is raised onto it.
TEST(MeshFromPolygon, FanAndFieldConstrained) {
  CSSE3dPolygon sq = toPolygon({{0, 0}, {4, 0}, {4, 4}, {0, 4}}, 1.0f);
  CHTriangulation fan(&sq, 1, 1, 1, 1, 0.0f, true, false);
  ASSERT_EQ(fan.GetNumTriangles(), 4);
  const SSEPoint& c0 = *fan.GetTriangle(0)->corner[0];
  EXPECT_TRUE(c0.x == 0 && c0.y == 4 && c0.z == 1.75f);  // p3
  for (int i = 0; i < 4; ++i) {
    const SSEPoint& centre = *fan.GetTriangle(i)->corner[2];
    EXPECT_TRUE(centre.x == 2 && centre.y == 2 && centre.z == 1.375f) << i;
    EXPECT_DOUBLE_EQ(signedArea(*fan.GetTriangle(i)), 4.0);
  }
  CSSE3dPolygon two = toPolygon({{0, 0}, {1, 1}});
  CHTriangulation none(&two, 1, 1, 1, 1, 0.0f, true, false);
  EXPECT_EQ(none.GetNumTriangles(), 0);

  CSSEMatrix f = filled(8, 8, 5.0f);
  CHTriangulation raised(&sq, 1, 1, 2, &f, false, 0.5f, 1, 0.0f, false);
  ASSERT_EQ(raised.GetNumTriangles(), 2);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(raised.GetEdgeArray()[i].z, 11.0f);  // max(z, 5.5), then scaled by 2
}

// The ribbon between two rings covers the band between them exactly: its open
// edges are the two outlines; intermediate rings split the band further.
// Rings of different counts give nothing.
TEST(MeshFromPolygon, RibbonsCoverBothOutlines) {
  const int n = 24;
  CSSE3dPolygon inner = toPolygon(circle(n, 3)), outer = toPolygon(circle(n, 7));
  for (int rings : {0, 1, 3}) {
    SCOPED_TRACE(rings);
    CHTriangulation ribbon = rings == 0 ? CHTriangulation(&inner, &outer, 1, 1, 1, false, false)
                                        : CHTriangulation(&inner, &outer, 1, 1, 1, rings, false, false);
    ASSERT_EQ(ribbon.GetNumTriangles(), 2 * n * (rings + 1));
    double area = 0;
    for (int i = 0; i < ribbon.GetNumTriangles(); ++i) {
      EXPECT_LT(signedArea(*ribbon.GetTriangle(i)), 0.0) << i;  // one orientation throughout
      area -= signedArea(*ribbon.GetTriangle(i));
    }
    EXPECT_NEAR(area, (area2(circle(n, 7)) - area2(circle(n, 3))) / 2, 1e-3);
    std::multiset<Edge> both = polygonEdges(inner);
    for (const Edge& e : polygonEdges(outer)) both.insert(e);
    EXPECT_EQ(openEdges(ribbon), both);
  }
  CHTriangulation scaled(&inner, &outer, 2, 2, 2, false, false);
  EXPECT_EQ(scaled.GetEdgeArray()[1].x, 2 * 3.0f);  // a_0 scaled
  CSSE3dPolygon shorter = toPolygon(circle(n - 1, 7));
  CHTriangulation refused(&inner, &shorter, 1, 1, 1, false, false), refusedRings(&inner, &shorter, 1, 1, 1, 2, false, false);
  EXPECT_EQ(refused.GetNumTriangles(), 0);
  EXPECT_EQ(refusedRings.GetNumTriangles(), 0);
}

// Delaunay faces become triangles of mark 14 in world units, clockwise,
// covering the points' hull; hull faces enclose its volume.
TEST(MeshFromPolygon, DelaunayAndHull) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> u(0, 400);
  CH2DDelaunay d;
  for (int i = 0; i < 60; ++i) d.AppendVertex(u(rng) / 10.0f, u(rng) / 10.0f, -1, false);
  d.AppendVertex(0, 0, -1, false);
  d.AppendVertex(40, 0, -1, false);
  d.AppendVertex(40, 40, -1, false);
  d.AppendVertex(0, 40, -1, false);
  d.CalcDelaunayTriangulation();
  for (bool flat : {false, true}) {
    CHTriangulation mesh(&d, 1, 1, 1, flat);
    ASSERT_EQ(mesh.GetNumTriangles(), d.GetNumFaces());
    for (int i = 0; i < mesh.GetNumTriangles(); ++i) {
      EXPECT_EQ(mesh.GetTriangle(i)->mark, 14);
      EXPECT_LT(signedArea(*mesh.GetTriangle(i)), 0.0);
      for (const SSEPoint* c : mesh.GetTriangle(i)->corner) {
        const long x = std::lround(c->x * 10), y = std::lround(c->y * 10);  // the quantised vertex
        EXPECT_EQ(c->x, float(x) / 10.0f);
        EXPECT_EQ(c->z, flat ? 0.0f : float(x * x + y * y) / 10.0f) << i;
      }
    }
    EXPECT_NEAR(totalArea(mesh), -1600.0, 1e-3);
  }

  CHConvexHull3D hull;
  std::uniform_real_distribution<float> inside(-0.9f, 0.9f);
  for (int i = 0; i < 50; ++i) hull.AppendVertex3D(inside(rng), inside(rng), inside(rng), 100.0f);
  for (int c = 0; c < 8; ++c) hull.AppendVertex3D(c & 1 ? 1 : -1, c & 2 ? 1 : -1, c & 4 ? 1 : -1, 100.0f);
  hull.CalcConvexHull();
  CHTriangulation box(&hull, 1, 1, 1, 100.0f);
  ASSERT_EQ(box.GetNumTriangles(), hull.GetNumFaces());
  double volume = 0;
  for (int i = 0; i < box.GetNumTriangles(); ++i) {
    const t_htriangle& t = *box.GetTriangle(i);
    volume += CSSEFns::volume(*t.corner[0], *t.corner[1], *t.corner[2]) / 6.0;
    for (const SSEPoint* c : t.corner) EXPECT_TRUE(std::fabs(c->x) == 1 && std::fabs(c->y) == 1 && std::fabs(c->z) == 1);
  }
  EXPECT_NEAR(volume, 8.0, 1e-4);
  CHTriangulation empty;
  EXPECT_THROW(empty.CreateTriangulationFromHull3D(&hull, 0.0f), CbException);
}

// The host mesh's triangles whose corners all lie inside the polygon.
TEST(MeshFromPolygon, HostMeshInsideAPolygon) {
  CHTriangulation grid;
  mesh_test::fill(grid, mesh_test::grid(10, 10, 0.0f, true, false, 4));
  Geometry::CTriangulation* host = grid.CreateCTriangulationFromHTriangulation();
  CSSE3dPolygon window = toPolygon({{2.5f, 2.5f}, {7.5f, 2.5f}, {7.5f, 6.5f}, {2.5f, 6.5f}});
  CHTriangulation inside(host, &window, 1, 1, 1);
  EXPECT_EQ(inside.GetNumTriangles(), 2 * 4 * 3);  // the cells with corners 3 .. 7 by 3 .. 6
  EXPECT_NEAR(totalArea(inside), 12.0, 1e-6);
  delete host;
}

// Scaling multiplies the corners and renews bounds and S, T, V; normals stay.
TEST(MeshFromPolygon, BlowTriangulation) {
  CHTriangulation mesh;
  mesh_test::fill(mesh, mesh_test::grid(4, 3, 0.2f, false, true, 1));
  mesh.CalcNormalsFromVertices();
  const CHTriangulation before(mesh);
  mesh.BlowTriangulation(2, -1, 0.5f);
  SSEPoint lo, hi, wantLo(1e6f, 1e6f, 1e6f, 1e6f), wantHi(-1e6f, -1e6f, -1e6f, -1e6f);
  for (int i = 0; i < 3 * mesh.GetNumTriangles(); ++i) {
    wantLo.v = _mm_min_ps(wantLo.v, mesh.GetEdgeArray()[i].v);
    wantHi.v = _mm_max_ps(wantHi.v, mesh.GetEdgeArray()[i].v);
  }
  mesh.GetMinPoint(lo);
  mesh.GetMaxPoint(hi);
  EXPECT_EQ(std::memcmp(&lo, &wantLo, 16), 0);
  EXPECT_EQ(std::memcmp(&hi, &wantHi, 16), 0);
  EXPECT_LT(wantHi.y, 0.5f);  // y negated
  for (int i = 0; i < mesh.GetNumTriangles(); ++i) {
    for (int k = 0; k < 3; ++k) {
      const SSEPoint &c = mesh.GetEdgeArray()[3 * i + k], &o = before.GetEdgeArray()[3 * i + k];
      EXPECT_TRUE(c.x == 2 * o.x && c.y == -o.y && c.z == 0.5f * o.z);
      EXPECT_EQ(std::memcmp(&mesh.GetNormalArray()[3 * i + k], &before.GetNormalArray()[3 * i + k], 16), 0);
    }
    EXPECT_EQ(mesh.GetSArray()[i].x, mesh.GetEdgeArray()[3 * i + 1].x - mesh.GetEdgeArray()[3 * i].x);
    EXPECT_EQ(mesh.GetMinPointArray()[i].y, std::min({mesh.GetEdgeArray()[3 * i].y, mesh.GetEdgeArray()[3 * i + 1].y,
                                                      mesh.GetEdgeArray()[3 * i + 2].y}));
  }
}

// Thinning by orientation keeps exactly the triangles no earlier one agrees
// with (all pairs compared), and the flat grid keeps its first triangle.
TEST(MeshFromPolygon, RemoveTrianglesWithSameOrientation) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> u(-0.3f, 0.3f);
  for (int trial = 0; trial < 4; ++trial) {
    CHTriangulation mesh(300, 1, 1, 1);
    for (int i = 0; i < 300; ++i) {
      const SSEPoint n(u(rng), u(rng), trial == 3 ? 1.0f : u(rng), 0.0f);
      *mesh.GetTriangle(i)->corner[1] = SSEPoint(float(i), 0, 0);  // identity through the rebuild
      *mesh.GetTriangle(i)->normal[0] = n;
      if (i % 37 == 5) mesh.GetTriangle(i)->mark = 0;
    }
    std::vector<float> kept;
    for (int j = 0; j < 300; ++j) {
      bool agree = mesh.GetTriangle(j)->mark == 0;
      for (int i = 0; i < j && !agree; ++i) {
        const SSEPoint &a = *mesh.GetTriangle(i)->normal[0], &b = *mesh.GetTriangle(j)->normal[0];
        agree = std::fabs(a.x - b.x) <= 0.05f && std::fabs(a.y - b.y) <= 0.05f && std::fabs(a.z - b.z) <= 0.05f &&
                std::fabs(a.w - b.w) <= 0.05f;
      }
      if (!agree) kept.push_back(float(j));
    }
    mesh.RemoveTrianglesWithSameOrientation();
    ASSERT_EQ(mesh.GetNumTriangles(), int(kept.size())) << trial;
    for (int i = 0; i < mesh.GetNumTriangles(); ++i) EXPECT_EQ(mesh.GetTriangle(i)->corner[1]->x, kept[i]);
  }
  CSSEMatrix f = filled(6, 6, 1.0f);
  CHTriangulation flat(&f, 0.0f, true, 1, 1, 1, 1, 1);
  const SSEPoint first = *flat.GetTriangle(0)->corner[1];
  flat.RemoveTrianglesWithSameOrientation();
  ASSERT_EQ(flat.GetNumTriangles(), 1);
  EXPECT_EQ(flat.GetTriangle(0)->corner[1]->x, first.x);
}

// The border of meshes of height fields: one closed loop with a point per
// border edge around a full grid (corner triangles have two open edges),
// loops one after another for islands and holes; the stretch list ends empty.
TEST(MeshFromPolygon, FindBorderLine) {
  struct Case {
    const char* name;
    int w, h;
    std::vector<std::array<int, 4>> holes;  // x0, y0, x1, y1 of pixels below the threshold
  };
  for (const Case& c : std::vector<Case>{{"full grid", 9, 6, {}},
                                         {"hole", 12, 10, {{4, 4, 6, 6}}},
                                         {"two islands", 15, 6, {{7, 0, 7, 5}}}}) {
    SCOPED_TRACE(c.name);
    CSSEMatrix f = field(c.w, c.h, [&](int x, int y) {
      for (const auto& r : c.holes)
        if (x >= r[0] && x <= r[2] && y >= r[1] && y <= r[3]) return 0.0;
      return 1.0;
    });
    CHTriangulation mesh(&f, 0.5f, true, 0.5f, 0.5f, 1, 1, 1);
    mesh.CalcNeighbours();
    CSSE3dPolygon border;
    mesh.FindBorderLine(&border);
    EXPECT_EQ(mesh.GetStretchList(), nullptr);
    const std::multiset<Edge> open = openEdges(mesh);
    ASSERT_EQ(border.GetNumPoints(), int(open.size()));
    // Consecutive points are neighbours on the grid; a jump is where one loop
    // ends and the next begins, and every loop's edges are open edges.
    std::multiset<Edge> walked;
    int start = 0, loops = 0;
    const int n = border.GetNumPoints();
    for (int i = 0; i < n; ++i) {
      float ax = 0, ay = 0, az = 0, bx = 0, by = 0, bz = 0;
      border.GetPoint(i, ax, ay, az);
      border.GetPoint(i + 1 < n ? i + 1 : start, bx, by, bz);
      const bool step = std::max(std::fabs(ax - bx), std::fabs(ay - by)) == 0.5f;  // a grid edge or a diagonal
      if (!step || i + 1 == n) {
        border.GetPoint(start, bx, by, bz);  // the loop closes back to its start
        ++loops;
        start = i + 1;
      }
      walked.insert(undirected(ax, ay, bx, by));
    }
    EXPECT_EQ(walked, open);
    EXPECT_EQ(loops, c.holes.empty() ? 1 : 2);
  }
}
