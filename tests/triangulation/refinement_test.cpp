#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <set>
#include <tuple>
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
  for (bool ok = r.GetFirstTriangle3D(t[0], t[1], t[2]); ok; ok = r.GetNextTriangle3D(t[0], t[1], t[2]))
    v.push_back(t);
  return v;
}

// Conforming (V - E + F = 1 for a disc, no corner inside another triangle's edge), counter-clockwise,
// covering the ring's area, one height per point, the polygon's own at its points, all within [zLow, zHigh];
// returns the longest squared edge.
float expectConformingMesh(CHPolygonTriangulationRefinement& r, double ringArea2, const CSSE3dPolygon* p,
                           float zLow, float zHigh) {
  const std::vector<Tri> tris = read(r);
  EXPECT_EQ(static_cast<int>(tris.size()), r.GetNumTriangles());
  std::map<Key, float> height;  // the polygon's points first: every one is a corner
  for (int i = 0; p && i < p->GetNumPoints(); ++i) {
    SSEPoint q;
    p->GetPointSSE(i, q);
    height[{q.x, q.y}] = q.z;
  }
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
      EXPECT_TRUE(a.z >= zLow && a.z <= zHigh) << a.z;
      EXPECT_EQ(height.emplace(Key{a.x, a.y}, a.z).first->second, a.z);
      longest = std::max(longest, (b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y));
    }
  }
  EXPECT_EQ(long(height.size()) - long(edges.size()) + long(tris.size()), 1);
  EXPECT_EQ(r.GetNum2dPoints(), static_cast<int>(height.size()));
  EXPECT_NEAR(sum, ringArea2, 1e-5 * ringArea2);
  for (const auto& [e0, e1] : edges)
    for (const auto& [v, z] : height) {
      const Pt a{e0.first, e0.second}, b{e1.first, e1.second};
      EXPECT_FALSE(v != e0 && v != e1 &&
                   distanceToSegment(a, b, v.first, v.second) < 1e-6 * std::hypot(b.x - a.x, b.y - a.y))
          << "a hanging corner at " << v.first << ", " << v.second;
    }
  return longest;
}

}  // namespace

// New points take heights between the polygon's, interpolated from every eighth point or, in a small polygon,
// from every point.
TEST(PolygonRefinement, ConformingWithinTheBound) {
  const std::tuple<const char*, Ring, float> cases[] = {
      {"square", {{0, 0}, {10, 0}, {10, 10}, {0, 10}}, 1.0f},
      {"L", {{0, 0}, {20, 0}, {20, 10}, {10, 10}, {10, 20}, {0, 20}}, 1.5f},
      {"comb", comb(5, 8), 0.5f},
      {"star", star(40, 3, 30.0f), 2.0f},
      {"star clockwise", reversed(star(25, 8, 30.0f)), 2.5f}};
  for (const auto& [name, ring, radius] : cases) {
    SCOPED_TRACE(name);
    CSSE3dPolygon p = toPolygon(ring, 1.0f);
    CHPolygonTriangulator t(&p, 1, 1, 1, 0.01f, false);
    CHPolygonTriangulationRefinement r(&t, radius, 40);
    EXPECT_GT(r.GetNumTriangles(), t.GetNumTriangles());
    const double area = std::fabs(area2(ring));
    EXPECT_LE(expectConformingMesh(r, area, &p, 1.0f, 1.0f + 0.25f * (ring.size() - 1)),
              (2 * radius) * (2 * radius));
    // The boundary ring is the polygon's outline, running the same way.
    CSSE3dPolygon border;
    r.GetBorderLinePolygon(&border);
    EXPECT_NEAR(border.CalcXYArea(), area, 1e-3 * area);
  }
  // Over a plane polygon the same mesh lies at height 0, without slivers.
  const Ring sq = {{0, 0}, {8, 0}, {8, 8}, {0, 8}};
  CSSE3dPolygon p = toPolygon(sq, 1.0f);
  CSSE2dPolygon flat;
  flat.Create(4);
  for (int i = 0; i < 4; ++i) flat.SetPoint(i, sq[i].x, sq[i].y);
  CHPolygonTriangulator t(&p, 1, 1, 1, 0.01f, true), t2(&flat, 1, 1, 1, false);
  CHPolygonTriangulationRefinement r(&t, 1.0f, 20), r2(&t2, 1.0f, 20);
  EXPECT_EQ(r2.GetNumTriangles(), r.GetNumTriangles());
  expectConformingMesh(r2, 128.0, nullptr, 0.0f, 0.0f);
  EXPECT_EQ(r2.CollapseSlivers(), 0);
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
