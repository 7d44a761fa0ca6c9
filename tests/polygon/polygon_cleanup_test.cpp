#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "orvik/polygon/SSE3dPolygon.h"
#include "support/polygons.h"

using namespace testpolygons;

TEST(PolygonCleanup, RemoveEqualPointsAgainstAllPairs) {
  // A point within city-block distance 1 of an earlier one goes, unless the point before it went.
  const auto withoutEqualPoints = [](const Ring& in) {
    Ring out;
    bool previousRemoved = false;
    for (std::size_t i = 0; i < in.size(); ++i) {
      bool near = false;
      for (std::size_t j = 0; j < i && !near; ++j)
        near = std::fabs(in[j].x - in[i].x) + std::fabs(in[j].y - in[i].y) < 1.0f;
      if (!(previousRemoved = near && !previousRemoved)) out.push_back(in[i]);
    }
    return out;
  };
  // Distances of exactly 1 on a quarter grid (few points are compared directly, many through cells), an
  // outline run again half a unit beside, non-finite points.
  Ring quarterGrid = randomRing(3000, 11, -8, 8), twice;
  for (Pt& p : quarterGrid) p.x = std::round(p.x * 4) / 4, p.y = std::round(p.y * 4) / 4;
  for (int i = 0; i < 300; ++i) twice.push_back({float(i % 100), float(i / 100) * 0.5f});
  const Ring huge = {{1e30f, 0},    {1e30f, 0.5f}, {NAN, 0},    {INFINITY, 0},
                     {INFINITY, 0}, {-3e38f, 1},   {-3e38f, 1}, {0, 0}};
  for (const Ring& in : {Ring{{0, 0}, {0.5f, 0}, {0.6f, 0}, {5, 5}}, quarterGrid,
                         Ring(quarterGrid.begin(), quarterGrid.begin() + 200), randomRing(3000, 12, -5, 5),
                         randomRing(3000, 13, -60, 60), twice, huge}) {
    SCOPED_TRACE(in.size());
    EXPECT_TRUE(
        sameBits(after(in, [](CSSE3dPolygon& p) { p.RemoveEqualPointsXY(); }), withoutEqualPoints(in)));
  }
}

TEST(PolygonCleanup, LoopRemoval) {
  // A square whose top edge ties a small clockwise knot; a figure eight whose cut-off part, started inside
  // the small lobe, is the big lobe, and stays.
  const Ring knot = {{0, 0}, {10, 0}, {10, 10}, {4, 10}, {4, 12}, {6, 12}, {6, 8}, {0, 8}};
  const Ring eight = {{0, 0}, {4, 0}, {6, 2}, {7, 2}, {7, 1}, {6, 1}, {4, 3}, {0, 3}};
  for (auto [in, firstStart, expected] :
       {std::tuple{knot, 2, Ring{{0, 0}, {10, 0}, {10, 10}, {6, 8}, {0, 8}}},
        {eight, 1, Ring{{0, 0}, {4, 0}, {4, 3}, {0, 3}}},
        {rotated(eight, 3), 0, Ring{{4, 3}, {0, 3}, {0, 0}, {4, 0}}}}) {
    CSSE3dPolygon p = polygonOf(in);
    int start = 0;
    ASSERT_TRUE(p.RemoveLoopInXYPlane(start));
    EXPECT_EQ(start, firstStart);
    EXPECT_EQ(pointsOf(p), expected);
    EXPECT_EQ(after(in, [](CSSE3dPolygon& q) { q.RemoveAllLoopsInXYPlane(); }), expected);
  }
  // A simple ring has nothing to remove; a start beyond the knot finds nothing.
  CSSE3dPolygon simple = polygonOf(star(30, 4, 10.0f)), k = polygonOf(knot);
  int start = 0;
  EXPECT_FALSE(simple.RemoveLoopInXYPlane(start));
  start = 5;
  EXPECT_FALSE(k.RemoveLoopInXYPlane(start));
  EXPECT_EQ(pointsOf(k), knot);
}

TEST(PolygonCleanup, Blowing) {
  // 2 then 0.5 about the origin and 1 about the centre give the points back exactly, also where a point is
  // much smaller than the centre (near 50).
  const Ring pts = randomRing(9, 5, 0, 100);
  CSSE3dPolygon p = polygonOf(pts);
  p.BlowLine(2, 2, 1, false);
  p.BlowLine(0.5f, 0.5f, 1, false);
  p.BlowLineAroundCenter(1, 1, 1, false);
  EXPECT_EQ(pointsOf(p), pts);
  p.BlowLineAroundCenter(3, -1, 0, false);
  SSEPoint c;
  p.GetGeometricCenter(c);
  Ring blown = pts;
  for (Pt& v : blown) v = {c.x + 3 * (v.x - c.x), c.y - (v.y - c.y), c.z};
  EXPECT_LT(maxDistance(pointsOf(p), blown), 1e-3);
  for (const Pt& v : pointsOf(p)) EXPECT_EQ(v.z, c.z);
  // Blown, then resampled at 0.6.
  EXPECT_EQ(after({{0, 0}, {2, 0}, {2, 2}}, [](CSSE3dPolygon& q) { q.BlowLine(2, 2, 1, true); }),
            after({{0, 0}, {4, 0}, {4, 4}}, [](CSSE3dPolygon& q) { q.ReParametrize(0.6f); }));
}

TEST(PolygonCleanup, PixelStaircases) {
  const auto traced = [](const Ring& corners) {
    Ring v;
    for (std::size_t i = 0; i < corners.size(); ++i) {
      const Pt a = corners[i], b = corners[(i + 1) % corners.size()];
      const int len = int(std::fabs(b.x - a.x) + std::fabs(b.y - a.y));
      for (int s = 0; s < len; ++s) v.push_back({a.x + (b.x - a.x) * s / len, a.y + (b.y - a.y) * s / len});
    }
    return v;
  };
  // A right triangle whose hypotenuse is a staircase of runs 2 and rises 1.
  Ring stairs = {{0, 0}, {12, 0}};
  for (int k = 0; k < 6; ++k)
    stairs.push_back({12.0f - 2 * k, float(k + 1)}), stairs.push_back({10.0f - 2 * k, float(k + 1)});
  stairs.back() = {0, 6};
  // Corners are no stairs: a rectangle keeps its area, a lone stair beside a corner is the corner. Read as
  // runs of 1 and steps of 2, each run loses its end corner.
  for (auto [in, window, area, points] :
       {std::tuple{traced(rect(0, 0, 10, 20)), 2, 400.0, 5},
        {traced({{0, 0}, {10, 0}, {10, 19}, {9, 19}, {9, 20}, {0, 20}}), 2, 398.0, 7},
        {stairs, 2, 74.0, 9},
        {stairs, 1, area2(stairs), int(stairs.size())}}) {
    SCOPED_TRACE(testing::Message() << in.size() << " points, window " << window);
    const Ring got = after(in, [w = window](CSSE3dPolygon& p) { p.SmoothPixelCausedSteps(w, 1.5f); });
    EXPECT_DOUBLE_EQ(area2(got), area);
    EXPECT_EQ(int(got.size()), points);
    for (const Pt& q : got) EXPECT_LT(distanceToRing(in, q.x, q.y), 1e-9);
  }
  // Stairs of too different heights (ratio 3 against 1.5) are not followed.
  const Ring uneven = {{0, 0}, {16, 0}, {16, 1}, {14, 1}, {14, 4}, {8, 4}, {8, 5}, {6, 5}, {6, 8}, {0, 8}};
  EXPECT_EQ(after(uneven, [](CSSE3dPolygon& p) { p.SmoothPixelCausedSteps(2, 1.5f); }), uneven);
}

TEST(PolygonCleanup, RoundPolygonOutward) {
  Ring ellipse;
  for (int i = 0; i < 37; ++i)
    ellipse.push_back({float(20.3 + 10.37 * std::cos(2 * M_PI * i / 37)),
                       float(-7.6 + 6.21 * std::sin(2 * M_PI * i / 37)), float(i)});
  for (const Ring& ring : {ellipse, reversed(ellipse)}) {
    for (bool reparametrize : {false, true}) {
      SCOPED_TRACE(testing::Message()
                   << (ring == ellipse ? "counter-clockwise" : "clockwise") << reparametrize);
      const Ring got = after(ring, [&](CSSE3dPolygon& p) { p.RoundPolygon(reparametrize); });
      ASSERT_GE(got.size(), 8u);
      for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_TRUE(got[i].x == std::round(got[i].x) && got[i].y == std::round(got[i].y)) << got[i];
        EXPECT_FALSE(got[i].x == got[(i + 1) % got.size()].x && got[i].y == got[(i + 1) % got.size()].y);
        EXPECT_LT(distanceToRing(ring, got[i].x, got[i].y), 2.5);
      }
      EXPECT_GE(std::fabs(area2(got)), std::fabs(area2(ring)));  // on the outer side
    }
  }
}

TEST(PolygonCleanup, ConvexHull) {
  // Points inside and on an edge go; the hull itself is checked in the triangulation suite.
  const Ring pts = {{1, 1, 5}, {0, 0, 1}, {2, 0, 6}, {4, 0, 2}, {2, 2, 8}, {4, 4, 3}, {0, 4, 4}};
  const Ring hull = after(pts, [](CSSE3dPolygon& p) { p.ReplaceByConvexHullXY(); });
  ASSERT_EQ(hull.size(), 4u);
  EXPECT_EQ(rotated(hull, std::find(hull.begin(), hull.end(), Pt{0, 0, 1}) - hull.begin()),
            (Ring{{0, 0, 1}, {4, 0, 2}, {4, 4, 3}, {0, 4, 4}}));
  EXPECT_EQ(after({{3, 4, 5}}, [](CSSE3dPolygon& p) { p.ReplaceByConvexHullXY(); }), (Ring{{3, 4, 5}}));
}

TEST(PolygonMerge, UnionOutlines) {
  // A C shape whose opening a bar closes: the hole goes, leaving 100 + 16.
  const Ring cShape = {{0, 0}, {10, 0}, {10, 2}, {2, 2}, {2, 8}, {10, 8}, {10, 10}, {0, 10}};
  for (auto [a, b, area, points] : {std::tuple{rect(0, 0, 10, 10), rect(5, 5, 15, 15), 350.0, 8},
                                    {rect(0, 0, 10, 10), reversed(rect(5, 5, 15, 15)), -350.0, 8},
                                    {rect(0, 4, 12, 8), rect(4, 0, 8, 12), 160.0, 12},
                                    {rect(0, 0, 10, 10), rect(10, 2, 14, 6), 232.0, 8},
                                    // Starts at the crossing (6, 0), which thinning keeps as the first point.
                                    {rect(0, 0, 10, 10), rect(6, 0, 14, 4), 232.0, 7},
                                    {rect(0, 0, 10, 10), Ring{{10, 10}, {-2, 10}, {-2, 5}, {0, 0}}, 230.0, 5},
                                    {cShape, rect(8, 1, 12, 9), 232.0, 8},
                                    {rect(0, 0, 10, 10), rect(2, 2, 4, 4), 200.0, 4},
                                    {rect(2, 2, 4, 4), rect(0, 0, 10, 10), 200.0, 4},
                                    {rect(0, 0, 1, 1), rect(5, 5, 7, 7), 2.0, 4},
                                    {rect(0, 0, 1, 1), Ring{}, 2.0, 4}}) {
    SCOPED_TRACE(testing::Message() << a.size() << " + " << b.size() << " points, area " << area / 2);
    CSSE3dPolygon p = polygonOf({{9, 9, 9}}), pa = polygonOf(a), pb = polygonOf(b);
    p.CreateMergePolygon(pa, pb);
    const Ring got = pointsOf(p);
    EXPECT_DOUBLE_EQ(area2(got), area);
    EXPECT_EQ(int(got.size()), points);
    for (const Pt& q : got)
      EXPECT_LT(std::min(distanceToRing(a, q.x, q.y), b.empty() ? 1e9 : distanceToRing(b, q.x, q.y)), 1e-5);
  }
  // Star rings whose union has no hole (a hole is dropped, which the count would miss): the merged outline
  // holds the union's area, counted on a grid.
  for (unsigned seed = 2; seed <= 13; ++seed) {
    SCOPED_TRACE(seed);
    const Ring a = star(40, seed, 20.0f), b = star(35, seed + 100, 18.0f, {6.0f, -3.0f});
    CSSE3dPolygon p, pa = polygonOf(a), pb = polygonOf(b);
    p.CreateMergePolygon(pa, pb);
    const Ring got = pointsOf(p);
    long count = 0;
    for (int y = -300; y < 300; ++y)
      for (int x = -300; x < 300; ++x) {
        const SSEPoint q(0.1f * x + 0.05f, 0.1f * y + 0.05f, 0.0f);
        count += pa.PointStatusWithRespectToPolygon(q) == CSSE3dPolygon::ePointInside ||
                 pb.PointStatusWithRespectToPolygon(q) == CSSE3dPolygon::ePointInside;
      }
    EXPECT_NEAR(area2(got), 2 * 0.01 * count, 0.02 * 0.01 * count);
    for (const Pt& q : got)
      EXPECT_LT(std::min(distanceToRing(a, q.x, q.y), distanceToRing(b, q.x, q.y)), 1e-4);
  }
}
