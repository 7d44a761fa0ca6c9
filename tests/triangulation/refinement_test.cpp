#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "orvik/triangulation/HPolygonTriangulationRefinement.h"
#include "orvik/triangulation/HPolygonTriangulator.h"
#include "support/polygons.h"

using namespace testpolygons;

namespace {

using Key = std::pair<float, float>;
struct Tri {
  SSEPoint c[3];
};

std::vector<Tri> read(CHPolygonTriangulationRefinement& r) {
  std::vector<Tri> v;
  Tri t;
  for (bool ok = r.GetFirstTriangle3D(t.c[0], t.c[1], t.c[2]); ok; ok = r.GetNextTriangle3D(t.c[0], t.c[1], t.c[2]))
    v.push_back(t);
  return v;
}

// Conforming (V - E + F = 1 for a disc, no corner inside another triangle's
// edge), counter-clockwise, covering the ring's area, heights finite and one
// per point; returns the longest squared edge.
float expectConformingMesh(const std::vector<Tri>& tris, double ringArea2) {
  std::set<Key> vertices;
  std::set<std::pair<Key, Key>> edges;
  std::map<Key, float> height;
  double sum = 0;
  float longest = 0;
  for (const Tri& t : tris) {
    const Pt a{t.c[0].x, t.c[0].y}, b{t.c[1].x, t.c[1].y}, c{t.c[2].x, t.c[2].y};
    const double A = orient(a, b, c);
    EXPECT_GT(A, 0.0);
    sum += A;
    for (int k = 0; k < 3; ++k) {
      const SSEPoint &p = t.c[k], &q = t.c[(k + 1) % 3];
      const Key kp{p.x, p.y}, kq{q.x, q.y};
      vertices.insert(kp);
      edges.insert(std::minmax(kp, kq));
      EXPECT_TRUE(std::isfinite(p.z));
      const auto [it, fresh] = height.emplace(kp, p.z);
      if (!fresh) {
        EXPECT_EQ(it->second, p.z) << p.x << ", " << p.y;
      }
      longest = std::max(longest, (q.x - p.x) * (q.x - p.x) + (q.y - p.y) * (q.y - p.y));
    }
  }
  EXPECT_EQ(static_cast<long>(vertices.size()) - static_cast<long>(edges.size()) + static_cast<long>(tris.size()), 1);
  EXPECT_NEAR(sum, ringArea2, 1e-5 * ringArea2);
  // No hanging corner: none lies inside an edge.
  for (const auto& [p, q] : edges)
    for (const Key& v : vertices) {
      if (v == p || v == q) continue;
      const Pt a{p.first, p.second}, b{q.first, q.second}, c{v.first, v.second};
      const double len2 = (double(b.x) - a.x) * (b.x - a.x) + (double(b.y) - a.y) * (b.y - a.y);
      const double along = ((double(c.x) - a.x) * (b.x - a.x) + (double(c.y) - a.y) * (b.y - a.y)) / len2;
      EXPECT_FALSE(std::fabs(orient(a, b, c)) < 1e-6 * len2 && along > 1e-4 && along < 1 - 1e-4)
          << v.first << ", " << v.second;
    }
  return longest;
}

}  // namespace

TEST(PolygonRefinement, ConformingWithinTheBound) {
  struct Case {
    std::string name;
    Ring ring;
    float r;
    int passes;
  };
  const Case cases[] = {{"square", {{0, 0}, {10, 0}, {10, 10}, {0, 10}}, 1.0f, 30},
                        {"L", {{0, 0}, {20, 0}, {20, 10}, {10, 10}, {10, 20}, {0, 20}}, 1.5f, 30},
                        {"comb", comb(5, 8), 0.5f, 30},
                        {"star", star(40, 3, 30.0f), 2.0f, 40},
                        {"star clockwise", reversed(star(25, 8, 30.0f)), 2.5f, 40}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSSE3dPolygon p = toPolygon(c.ring, 1.0f);
    CHPolygonTriangulator t(&p, 1, 1, 1, 0.01f, false);
    CHPolygonTriangulationRefinement r(&t, c.r, c.passes);
    const std::vector<Tri> tris = read(r);
    ASSERT_EQ(static_cast<int>(tris.size()), r.GetNumTriangles());
    EXPECT_GT(r.GetNumTriangles(), t.GetNumTriangles());
    const float longest = expectConformingMesh(tris, std::fabs(area2(c.ring)));
    EXPECT_LE(longest, (2 * c.r) * (2 * c.r));
    std::set<Key> corners;
    for (const Tri& tri : tris)
      for (const SSEPoint& q : tri.c) corners.insert({q.x, q.y});
    EXPECT_EQ(r.GetNum2dPoints(), static_cast<int>(corners.size()));
    // Polygon vertices keep their own heights, in split triangles too.
    for (const Tri& tri : tris)
      for (const SSEPoint& q : tri.c)
        for (int i = 0; i < p.GetNumPoints(); ++i) {
          float x, y, z;
          p.GetPoint(i, x, y, z);
          if (x == q.x && y == q.y) {
            EXPECT_EQ(q.z, z);
          }
        }
    // The boundary ring is the polygon's outline, running the same way.
    CSSE3dPolygon border;
    r.GetBorderLinePolygon(&border);
    EXPECT_NEAR(border.CalcXYArea(), std::fabs(area2(c.ring)), 1e-3 * std::fabs(area2(c.ring)));
  }
}

TEST(PolygonRefinement, NothingToSplitAndReadingPastTheEnd) {
  const Ring ring = star(30, 4, 10.0f);
  CSSE3dPolygon p = toPolygon(ring, 3.0f);
  CHPolygonTriangulator t(&p, 1, 1, 1, 1, false);
  // (2r)^2 above every squared edge: the triangulator's triangles, in reverse order.
  CHPolygonTriangulationRefinement r(&t, 11.0f, 5);
  ASSERT_EQ(r.GetNumTriangles(), t.GetNumTriangles());
  const std::vector<Tri> tris = read(r);
  for (int i = 0; i < t.GetNumTriangles(); ++i) {
    SSEPoint a, b, c;
    t.GetTriangle3D(t.GetNumTriangles() - 1 - i, a, b, c);
    EXPECT_TRUE(a.x == tris[i].c[0].x && b.y == tris[i].c[1].y && c.z == tris[i].c[2].z);
    EXPECT_EQ(r.GetTriangle(i)->index, t.GetNumTriangles() - 1 - i);
  }
  EXPECT_EQ(r.Refinement(), 0);
  SSEPoint a(7, 7, 7, 7), b, c;
  EXPECT_FALSE(r.GetNextTriangle3D(a, b, c));
  EXPECT_FALSE(r.GetTriangle3D(r.GetNumTriangles(), a, b, c));
  EXPECT_EQ(r.GetTriangle(-1), nullptr);
  EXPECT_EQ(a.x, 7.0f);

  CSSE3dPolygon none;
  CHPolygonTriangulator empty(&none, 1, 1, 1, 1, false);
  CHPolygonTriangulationRefinement e(&empty, 1.0f, 3);
  EXPECT_EQ(e.GetNumTriangles(), 0);
  EXPECT_FALSE(e.GetFirstTriangle3D(a, b, c));
  EXPECT_FALSE(e.GetNextTriangle3D(a, b, c));
  EXPECT_EQ(a.x, 7.0f);
  CSSE3dPolygon border = toPolygon(square());
  e.GetBorderLinePolygon(&border);
  EXPECT_EQ(border.GetNumPoints(), 0);
}

TEST(PolygonRefinement, HeightsOfNewPoints) {
  // Four points: too few for every eighth, yet the new points get heights
  // between the polygon's.
  CSSE3dPolygon small;
  small.Create(4);
  const float zs[4] = {1, 2, 3, 4};
  for (int i = 0; i < 4; ++i) small.SetPoint(i, (i == 1 || i == 2) ? 8.f : 0.f, i >= 2 ? 8.f : 0.f, zs[i]);
  CHPolygonTriangulator t(&small, 1, 1, 1, 0.01f, true);
  CHPolygonTriangulationRefinement r(&t, 1.0f, 20);
  const std::vector<Tri> tris = read(r);
  expectConformingMesh(tris, 128.0);
  for (const Tri& tri : tris)
    for (const SSEPoint& q : tri.c) {
      EXPECT_GE(q.z, 1.0f);
      EXPECT_LE(q.z, 4.0f);
    }
  // Over a plane polygon every height is 0.
  CSSE2dPolygon flat;
  flat.Create(4);
  for (int i = 0; i < 4; ++i) flat.SetPoint(i, (i == 1 || i == 2) ? 8.f : 0.f, i >= 2 ? 8.f : 0.f);
  CHPolygonTriangulator t2(&flat, 1, 1, 1, false);
  CHPolygonTriangulationRefinement r2(&t2, 1.0f, 20);
  const std::vector<Tri> flatTris = read(r2);
  EXPECT_EQ(flatTris.size(), tris.size());
  for (const Tri& tri : flatTris)
    for (const SSEPoint& q : tri.c) EXPECT_EQ(q.z, 0.0f);
  EXPECT_EQ(r2.CollapseSlivers(), 0);
}
