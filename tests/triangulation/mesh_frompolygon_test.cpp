// Meshes of polygons, hulls and Delaunay triangulations, and the operations on built meshes: orientation
// thinning and border tracing.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
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

using Edge = std::pair<std::pair<float, float>, std::pair<float, float>>;
Edge undirected(float ax, float ay, float bx, float by) {
  return std::minmax(std::pair{ax, ay}, std::pair{bx, by});
}

// The edges used by one triangle only, xy.
std::multiset<Edge> openEdges(const CHTriangulation& m) {
  std::map<Edge, int> uses;
  for (int i = 0; i < 3 * m.GetNumTriangles(); ++i) {
    const SSEPoint &a = m.GetEdgeArray()[i], &b = m.GetEdgeArray()[i % 3 == 2 ? i - 2 : i + 1];
    ++uses[undirected(a.x, a.y, b.x, b.y)];
  }
  std::multiset<Edge> open;
  for (const auto& [e, n] : uses)
    if (n == 1) open.insert(e);
  return open;
}

}  // namespace

// Ear clipping gives n - 2 counter-clockwise triangles of the polygon's points (either orientation),
// refinement covers the same area with more, and the constructor scales lane by lane.
TEST(MeshFromPolygon, EarClippingAndRefinement) {
  for (const Ring& ring : {lShape(), comb(5, 4.0f), reversed(star(41, 9))}) {
    SCOPED_TRACE(ring.size());
    CSSE3dPolygon p = toPolygon(ring);
    const double area = std::fabs(area2(ring)) / 2;
    CHTriangulation mesh, refined;
    mesh.CreateTriangulationFromPolygon(&p, 1, 0.0f, false);
    refined.CreateTriangulationFromPolygon(&p, 1, 0.2f, true);
    ASSERT_EQ(mesh.GetNumTriangles(), int(ring.size()) - 2);
    for (int i = 0; i < mesh.GetNumTriangles(); ++i) EXPECT_GT(signedArea(*mesh.GetTriangle(i)), 0.0) << i;
    for (int i = 0; i < 3 * mesh.GetNumTriangles(); ++i) {
      const SSEPoint& c = mesh.GetEdgeArray()[i];
      EXPECT_EQ((Pt{c.x, c.y}), ring.at(std::size_t(c.z * 4))) << i;  // point i has height i / 4
    }
    EXPECT_NEAR(totalArea(mesh), area, 2e-4 * area);
    EXPECT_TRUE(area <= 50 ||
                refined.GetNumTriangles() > mesh.GetNumTriangles());  // short edges are never split
    EXPECT_NEAR(totalArea(refined), totalArea(mesh), 2e-4 * area);
    CHTriangulation scaled(&p, 2.0f, 3.0f, 0.5f, 1, 0.0f, false, false);
    const SSEPoint &c = scaled.GetEdgeArray()[0], &u = mesh.GetEdgeArray()[0];
    EXPECT_TRUE(c.x == 2 * u.x && c.y == 3 * u.y && c.z == 0.5f * u.z);
  }
}

// A fan of N triangles around the centre, the first closing the ring; with a field, the polygon's mesh is
// raised onto it.
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

// The ribbon between two rings covers the band between them: its open edges are the two outlines;
// intermediate rings split it further. Rings of different counts give nothing.
TEST(MeshFromPolygon, RibbonsCoverBothOutlines) {
  const int n = 24;
  Ring rings[2];
  std::multiset<Edge> outlines;
  for (int r = 0; r < 2; ++r)
    for (int i = 0; i < n; ++i)
      rings[r].push_back(
          {float((3 + 4 * r) * std::cos(2 * M_PI * i / n)), float((3 + 4 * r) * std::sin(2 * M_PI * i / n))});
  for (const Ring& r : rings)
    for (int i = 0; i < n; ++i)
      outlines.insert(undirected(r[i].x, r[i].y, r[(i + 1) % n].x, r[(i + 1) % n].y));
  Ring fewer = rings[1];
  fewer.pop_back();
  CSSE3dPolygon inner = toPolygon(rings[0]), outer = toPolygon(rings[1]), shorter = toPolygon(fewer);
  for (int between : {0, 1, 3}) {
    SCOPED_TRACE(between);
    CHTriangulation ribbon = between == 0 ? CHTriangulation(&inner, &outer, 1, 1, 1, false, false)
                                          : CHTriangulation(&inner, &outer, 1, 1, 1, between, false, false);
    ASSERT_EQ(ribbon.GetNumTriangles(), 2 * n * (between + 1));
    for (int i = 0; i < ribbon.GetNumTriangles(); ++i)
      EXPECT_LT(signedArea(*ribbon.GetTriangle(i)), 0.0) << i;
    EXPECT_NEAR(-totalArea(ribbon), (area2(rings[1]) - area2(rings[0])) / 2, 1e-3);
    EXPECT_EQ(openEdges(ribbon), outlines);
  }
  EXPECT_EQ(CHTriangulation(&inner, &outer, 2, 2, 2, false, false).GetEdgeArray()[1].x,
            2 * 3.0f);  // a_0 scaled
  EXPECT_EQ(CHTriangulation(&inner, &shorter, 1, 1, 1, false, false).GetNumTriangles(), 0);
  EXPECT_EQ(CHTriangulation(&inner, &shorter, 1, 1, 1, 2, false, false).GetNumTriangles(), 0);
}

// Delaunay faces become clockwise triangles of mark 14 in world units covering the points' hull; hull faces
// enclose its volume; of a host mesh, the triangles with every corner inside a polygon.
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
    for (const SSEPoint* c : t.corner)
      EXPECT_TRUE(std::fabs(c->x) == 1 && std::fabs(c->y) == 1 && std::fabs(c->z) == 1);
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

// Thinning by orientation keeps exactly the triangles no earlier one agrees with (all pairs compared); of
// equal normals the first.
TEST(MeshFromPolygon, RemoveTrianglesWithSameOrientation) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> u(-0.3f, 0.3f);
  for (int trial = 0; trial < 5; ++trial) {
    CHTriangulation mesh(300, 1, 1, 1);
    std::vector<SSEPoint> normal(300);
    std::vector<float> kept;
    for (int j = 0; j < 300; ++j) {
      normal[j] = *mesh.GetTriangle(j)->normal[0] =
          trial == 4 ? SSEPoint(0, 0, 1, 0) : SSEPoint(u(rng), u(rng), trial == 3 ? 1.0f : u(rng), 0.0f);
      *mesh.GetTriangle(j)->corner[1] = SSEPoint(float(j), 0, 0);  // identity through the rebuild
      bool agree = j % 37 == 5;
      if (agree) mesh.GetTriangle(j)->mark = 0;
      for (int i = 0; i < j && !agree; ++i)
        agree = std::fabs(normal[i].x - normal[j].x) <= 0.05f &&
                std::fabs(normal[i].y - normal[j].y) <= 0.05f &&
                std::fabs(normal[i].z - normal[j].z) <= 0.05f;
      if (!agree) kept.push_back(float(j));
    }
    mesh.RemoveTrianglesWithSameOrientation();
    ASSERT_EQ(mesh.GetNumTriangles(), int(kept.size())) << trial;
    for (int i = 0; i < mesh.GetNumTriangles(); ++i) EXPECT_EQ(mesh.GetTriangle(i)->corner[1]->x, kept[i]);
  }
}

// The border of meshes of height fields walks every open edge once, a loop per outline: one around a full
// grid, two for an island or a hole; the stretch list ends empty.
TEST(MeshFromPolygon, FindBorderLine) {
  const std::pair<const char*, std::array<int, 6>> cases[] = {{"full grid", {9, 6, -1, -1, -1, -1}},
                                                              {"hole", {12, 10, 4, 4, 6, 6}},
                                                              {"two islands", {15, 6, 7, 0, 7, 5}}};
  for (const auto& [name, c] : cases) {  // width, height, and the pixels x0, y0 .. x1, y1 below the threshold
    SCOPED_TRACE(name);
    CSSEMatrix f = field(c[0], c[1], [&](int x, int y) {
      return x >= c[2] && x <= c[4] && y >= c[3] && y <= c[5] ? 0.0 : 1.0;
    });
    CHTriangulation mesh(&f, 0.5f, true, 0.5f, 0.5f, 1, 1, 1);
    mesh.CalcNeighbours();
    CSSE3dPolygon border;
    mesh.FindBorderLine(&border);
    EXPECT_EQ(mesh.GetStretchList(), nullptr);
    const std::multiset<Edge> open = openEdges(mesh);
    const int n = border.GetNumPoints();
    ASSERT_EQ(n, int(open.size()));
    // A step that is no grid edge or diagonal, or the last point, closes a loop.
    std::multiset<Edge> walked;
    int start = 0, loops = 0;
    for (int i = 0; i < n; ++i) {
      float ax = 0, ay = 0, bx = 0, by = 0;
      border.GetPointXY(i, ax, ay);
      border.GetPointXY(i + 1 < n ? i + 1 : start, bx, by);
      if (std::max(std::fabs(ax - bx), std::fabs(ay - by)) != 0.5f || i + 1 == n) {
        border.GetPointXY(start, bx, by);
        ++loops;
        start = i + 1;
      }
      walked.insert(undirected(ax, ay, bx, by));
    }
    EXPECT_EQ(walked, open);
    EXPECT_EQ(loops, c[2] < 0 ? 1 : 2);
  }
}
