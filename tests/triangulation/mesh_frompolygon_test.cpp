// Meshes of polygons, hulls and Delaunay triangulations, and the operations on
// built meshes: scaling, orientation thinning and border tracing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "mesh_helpers.h"
#include "orvik/foundation/Exception.h"
#include "orvik/foundation/qe/Triangulation.h"
#include "orvik/triangulation/H2DDelaunay.h"
#include "orvik/triangulation/HConvexHull3D.h"
#include "orvik/triangulation/HTriangulation.h"
#include "support/fields.h"
#include "support/polygons.h"

using namespace testpolygons;
using namespace mesh_test;

namespace {

Ring circle(int n, double r) {
  Ring ring;
  for (int i = 0; i < n; ++i)
    ring.push_back({float(r * std::cos(2 * M_PI * i / n)), float(r * std::sin(2 * M_PI * i / n))});
  return ring;
}

using Edge = std::pair<std::pair<float, float>, std::pair<float, float>>;
Edge undirected(float ax, float ay, float bx, float by) { return std::minmax(std::pair{ax, ay}, std::pair{bx, by}); }

// The edges of closed polygons (consecutive points, xy) as one multiset.
std::multiset<Edge> polygonEdges(std::initializer_list<const CSSE3dPolygon*> polygons) {
  std::multiset<Edge> e;
  for (const CSSE3dPolygon* p : polygons)
    for (int i = 0, n = p->GetNumPoints(); i < n; ++i) {
      float ax = 0, ay = 0, bx = 0, by = 0;
      p->GetPointXY(i, ax, ay);
      p->GetPointXY((i + 1) % n, bx, by);
      e.insert(undirected(ax, ay, bx, by));
    }
  return e;
}

// The open edges of the mesh: those used by one triangle, xy.
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
// (either orientation of the ring) with its points as corners, refinement
// covers the same area with more triangles, and the constructor scales.
TEST(MeshFromPolygon, EarClippingAndRefinement) {
  for (const Ring& ring : {square(), lShape(), comb(5, 4.0f), star(60, 3), reversed(star(41, 9))}) {
    CSSE3dPolygon p = toPolygon(ring);
    SCOPED_TRACE(ring.size());
    const double area = std::fabs(area2(ring)) / 2;
    CHTriangulation mesh;
    mesh.CreateTriangulationFromPolygon(&p, 1, 0.0f, false);
    ASSERT_EQ(mesh.GetNumTriangles(), int(ring.size()) - 2);
    for (int i = 0; i < mesh.GetNumTriangles(); ++i) EXPECT_GT(signedArea(*mesh.GetTriangle(i)), 0.0) << i;
    EXPECT_NEAR(totalArea(mesh), area, 2e-4 * area);
    std::set<std::tuple<float, float, float>> points;
    for (int i = 0; i < p.GetNumPoints(); ++i) {
      SSEPoint q;
      p.GetPointSSE(i, q);
      points.insert({q.x, q.y, q.z});
    }
    for (int i = 0; i < 3 * mesh.GetNumTriangles(); ++i) {
      const SSEPoint& c = mesh.GetEdgeArray()[i];
      EXPECT_TRUE(points.count({c.x, c.y, c.z})) << i;
    }
    CHTriangulation refined;
    refined.CreateTriangulationFromPolygon(&p, 1, 0.2f, true);
    EXPECT_TRUE(area <= 50 || refined.GetNumTriangles() > mesh.GetNumTriangles());  // short edges are never split
    EXPECT_NEAR(totalArea(refined), totalArea(mesh), 2e-4 * area);
    CHTriangulation scaled(&p, 2.0f, 3.0f, 0.5f, 1, 0.0f, false, false);
    ASSERT_EQ(scaled.GetNumTriangles(), mesh.GetNumTriangles());
    EXPECT_NEAR(totalArea(scaled), 6 * totalArea(mesh), 12e-4 * area);
    const SSEPoint &c = scaled.GetEdgeArray()[0], &u = mesh.GetEdgeArray()[0];
    EXPECT_TRUE(c.x == 2 * u.x && c.y == 3 * u.y && c.z == 0.5f * u.z);
  }
}

// A fan of N triangles around the centre, the first closing the ring; with a
// field, the polygon's mesh is raised onto it.
TEST(MeshFromPolygon, FanAndFieldConstrained) {
  CSSE3dPolygon sq = toPolygon({{0, 0}, {4, 0}, {4, 4}, {0, 4}}, 1.0f), two = toPolygon({{0, 0}, {1, 1}});
  CHTriangulation fan(&sq, 1, 1, 1, 1, 0.0f, true, false);
  ASSERT_EQ(fan.GetNumTriangles(), 4);
  EXPECT_TRUE(sameXYZ(*fan.GetTriangle(0)->corner[0], SSEPoint(0, 4, 1.75f)));  // p3
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(sameXYZ(*fan.GetTriangle(i)->corner[2], SSEPoint(2, 2, 1.375f))) << i;
    EXPECT_DOUBLE_EQ(signedArea(*fan.GetTriangle(i)), 4.0);
  }
  EXPECT_EQ(CHTriangulation(&two, 1, 1, 1, 1, 0.0f, true, false).GetNumTriangles(), 0);
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
  CSSE3dPolygon inner = toPolygon(circle(n, 3)), outer = toPolygon(circle(n, 7)), shorter = toPolygon(circle(n - 1, 7));
  for (int rings : {0, 1, 3}) {
    SCOPED_TRACE(rings);
    CHTriangulation ribbon = rings == 0 ? CHTriangulation(&inner, &outer, 1, 1, 1, false, false)
                                        : CHTriangulation(&inner, &outer, 1, 1, 1, rings, false, false);
    ASSERT_EQ(ribbon.GetNumTriangles(), 2 * n * (rings + 1));
    for (int i = 0; i < ribbon.GetNumTriangles(); ++i) EXPECT_LT(signedArea(*ribbon.GetTriangle(i)), 0.0) << i;
    EXPECT_NEAR(-totalArea(ribbon), (area2(circle(n, 7)) - area2(circle(n, 3))) / 2, 1e-3);
    EXPECT_EQ(openEdges(ribbon), polygonEdges({&inner, &outer}));
  }
  EXPECT_EQ(CHTriangulation(&inner, &outer, 2, 2, 2, false, false).GetEdgeArray()[1].x, 2 * 3.0f);  // a_0 scaled
  EXPECT_EQ(CHTriangulation(&inner, &shorter, 1, 1, 1, false, false).GetNumTriangles(), 0);
  EXPECT_EQ(CHTriangulation(&inner, &shorter, 1, 1, 1, 2, false, false).GetNumTriangles(), 0);
}

// Delaunay faces become triangles of mark 14 in world units, clockwise,
// covering the points' hull; hull faces enclose its volume; the host mesh's
// triangles whose corners all lie inside a polygon.
TEST(MeshFromPolygon, DelaunayHullAndHostMesh) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> u(0, 400);
  CH2DDelaunay d;
  for (int i = 0; i < 60; ++i) d.AppendVertex(u(rng) / 10.0f, u(rng) / 10.0f, -1, false);
  for (int c = 0; c < 4; ++c) d.AppendVertex(c == 1 || c == 2 ? 40 : 0, c >= 2 ? 40 : 0, -1, false);
  d.CalcDelaunayTriangulation();
  for (bool flat : {false, true}) {
    CHTriangulation mesh(&d, 1, 1, 1, flat);
    ASSERT_EQ(mesh.GetNumTriangles(), d.GetNumFaces());
    for (int i = 0; i < mesh.GetNumTriangles(); ++i) {
      EXPECT_EQ(mesh.GetTriangle(i)->mark, 14);
      EXPECT_LT(signedArea(*mesh.GetTriangle(i)), 0.0);
      for (const SSEPoint* c : mesh.GetTriangle(i)->corner) {
        const long x = std::lround(c->x * 10), y = std::lround(c->y * 10);  // the quantised vertex
        EXPECT_TRUE(c->x == float(x) / 10.0f && c->z == (flat ? 0.0f : float(x * x + y * y) / 10.0f)) << i;
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

  CHTriangulation grid10;
  fill(grid10, grid(10, 10, 0.0f, true, false, 4));
  std::unique_ptr<Geometry::CTriangulation> host(grid10.CreateCTriangulationFromHTriangulation());
  CSSE3dPolygon window = toPolygon({{2.5f, 2.5f}, {7.5f, 2.5f}, {7.5f, 6.5f}, {2.5f, 6.5f}});
  CHTriangulation within(host.get(), &window, 1, 1, 1);
  EXPECT_EQ(within.GetNumTriangles(), 2 * 4 * 3);  // the cells with corners 3 .. 7 by 3 .. 6
  EXPECT_NEAR(totalArea(within), 12.0, 1e-6);
}

// Thinning by orientation keeps exactly the triangles no earlier one agrees
// with (all pairs compared), and the flat grid keeps its first triangle.
TEST(MeshFromPolygon, RemoveTrianglesWithSameOrientation) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> u(-0.3f, 0.3f);
  for (int trial = 0; trial < 4; ++trial) {
    CHTriangulation mesh(300, 1, 1, 1);
    for (int i = 0; i < 300; ++i) {
      *mesh.GetTriangle(i)->corner[1] = SSEPoint(float(i), 0, 0);  // identity through the rebuild
      *mesh.GetTriangle(i)->normal[0] = SSEPoint(u(rng), u(rng), trial == 3 ? 1.0f : u(rng), 0.0f);
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
    const int n = border.GetNumPoints();
    ASSERT_EQ(n, int(open.size()));
    // Consecutive points are neighbours on the grid; a jump is where one loop
    // ends and the next begins, and every loop's edges are open edges.
    std::multiset<Edge> walked;
    int start = 0, loops = 0;
    for (int i = 0; i < n; ++i) {
      float ax = 0, ay = 0, bx = 0, by = 0;
      border.GetPointXY(i, ax, ay);
      border.GetPointXY(i + 1 < n ? i + 1 : start, bx, by);
      if (std::max(std::fabs(ax - bx), std::fabs(ay - by)) != 0.5f || i + 1 == n) {  // no grid edge or diagonal
        border.GetPointXY(start, bx, by);  // the loop closes back to its start
        ++loops;
        start = i + 1;
      }
      walked.insert(undirected(ax, ay, bx, by));
    }
    EXPECT_EQ(walked, open);
    EXPECT_EQ(loops, c.holes.empty() ? 1 : 2);
  }
}
