#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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
using Tri = std::array<SSEPoint, 3>;

std::vector<Tri> read(CHPolygonTriangulationRefinement& r) {
  std::vector<Tri> v;
  Tri t;
  for (bool ok = r.GetFirstTriangle3D(t[0], t[1], t[2]); ok; ok = r.GetNextTriangle3D(t[0], t[1], t[2])) v.push_back(t);
  return v;
}

// Conforming (V - E + F = 1 for a disc, no corner inside another triangle's
// edge), counter-clockwise, covering the ring's area, heights finite and one
// per point, those of polygon points their own, every height within
// [zLow, zHigh]; returns the longest squared edge.
float expectConformingMesh(const std::vector<Tri>& tris, double ringArea2, const CSSE3dPolygon* p, float zLow,
                           float zHigh) {
  std::map<Key, float> height;
  std::set<std::pair<Key, Key>> edges;
  double sum = 0;
  float longest = 0;
  for (const Tri& t : tris) {
    const double A = orient({t[0].x, t[0].y}, {t[1].x, t[1].y}, {t[2].x, t[2].y});
    EXPECT_GT(A, 0.0);
    sum += A;
    for (int k = 0; k < 3; ++k) {
      const SSEPoint &a = t[k], &b = t[(k + 1) % 3];
      edges.insert(std::minmax(Key{a.x, a.y}, Key{b.x, b.y}));
      EXPECT_TRUE(std::isfinite(a.z) && a.z >= zLow && a.z <= zHigh) << a.z;
      EXPECT_EQ(height.emplace(Key{a.x, a.y}, a.z).first->second, a.z);
      longest = std::max(longest, (b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y));
    }
  }
  EXPECT_EQ(long(height.size()) - long(edges.size()) + long(tris.size()), 1);
  EXPECT_NEAR(sum, ringArea2, 1e-5 * ringArea2);
  for (int i = 0; p && i < p->GetNumPoints(); ++i) {
    SSEPoint q;
    p->GetPointSSE(i, q);
    const auto it = height.find({q.x, q.y});
    EXPECT_TRUE(it == height.end() || it->second == q.z) << i;
  }
  // No hanging corner: none lies inside an edge.
  for (const auto& [e0, e1] : edges)
    for (const auto& [v, z] : height) {
      if (v == e0 || v == e1) continue;
      const Pt a{e0.first, e0.second}, b{e1.first, e1.second}, c{v.first, v.second};
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
    const float longest = expectConformingMesh(tris, std::fabs(area2(c.ring)), &p, -1e30f, 1e30f);
    EXPECT_LE(longest, (2 * c.r) * (2 * c.r));
    std::set<Key> corners;
    for (const Tri& tri : tris)
      for (const SSEPoint& q : tri) corners.insert({q.x, q.y});
    EXPECT_EQ(r.GetNum2dPoints(), static_cast<int>(corners.size()));
    // The boundary ring is the polygon's outline, running the same way.
    CSSE3dPolygon border;
    r.GetBorderLinePolygon(&border);
    EXPECT_NEAR(border.CalcXYArea(), std::fabs(area2(c.ring)), 1e-3 * std::fabs(area2(c.ring)));
  }
}

TEST(PolygonRefinement, NothingToSplitAndReadingPastTheEnd) {
  CSSE3dPolygon p = toPolygon(star(30, 4, 10.0f), 3.0f);
  CHPolygonTriangulator t(&p, 1, 1, 1, 1, false);
  // (2r)^2 above every squared edge: the triangulator's triangles, in reverse order.
  CHPolygonTriangulationRefinement r(&t, 11.0f, 5);
  const int n = t.GetNumTriangles();
  ASSERT_EQ(r.GetNumTriangles(), n);
  const std::vector<Tri> tris = read(r);
  for (int i = 0; i < n; ++i) {
    SSEPoint a, b, c;
    t.GetTriangle3D(n - 1 - i, a, b, c);
    EXPECT_TRUE(a.x == tris[i][0].x && b.y == tris[i][1].y && c.z == tris[i][2].z);
    EXPECT_EQ(r.GetTriangle(i)->index, n - 1 - i);
  }
  EXPECT_EQ(r.Refinement(), 0);
  SSEPoint a(7, 7, 7, 7), b, c;
  EXPECT_FALSE(r.GetNextTriangle3D(a, b, c));
  EXPECT_FALSE(r.GetTriangle3D(n, a, b, c));
  EXPECT_EQ(r.GetTriangle(-1), nullptr);

  CSSE3dPolygon none, border = toPolygon(square());
  CHPolygonTriangulator empty(&none, 1, 1, 1, 1, false);
  CHPolygonTriangulationRefinement e(&empty, 1.0f, 3);
  EXPECT_EQ(e.GetNumTriangles(), 0);
  EXPECT_FALSE(e.GetFirstTriangle3D(a, b, c) || e.GetNextTriangle3D(a, b, c));
  EXPECT_EQ(a.x, 7.0f);
  e.GetBorderLinePolygon(&border);
  EXPECT_EQ(border.GetNumPoints(), 0);
}

TEST(PolygonRefinement, HeightsOfNewPoints) {
  // Four points: too few for every eighth, yet the new points get heights
  // between the polygon's; over a plane polygon every height is 0.
  CSSE3dPolygon small;
  CSSE2dPolygon flat;
  small.Create(4);
  flat.Create(4);
  for (int i = 0; i < 4; ++i) {
    small.SetPoint(i, (i == 1 || i == 2) ? 8.f : 0.f, i >= 2 ? 8.f : 0.f, 1.0f + i);
    flat.SetPoint(i, (i == 1 || i == 2) ? 8.f : 0.f, i >= 2 ? 8.f : 0.f);
  }
  CHPolygonTriangulator t(&small, 1, 1, 1, 0.01f, true), t2(&flat, 1, 1, 1, false);
  CHPolygonTriangulationRefinement r(&t, 1.0f, 20), r2(&t2, 1.0f, 20);
  const std::vector<Tri> tris = read(r);
  expectConformingMesh(tris, 128.0, &small, 1.0f, 4.0f);
  EXPECT_EQ(read(r2).size(), tris.size());
  expectConformingMesh(read(r2), 128.0, nullptr, 0.0f, 0.0f);
  EXPECT_EQ(r2.CollapseSlivers(), 0);
}
