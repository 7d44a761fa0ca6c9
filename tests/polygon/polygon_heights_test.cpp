#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "orvik/polygon/SSE3dPolygon.h"
#include "polygon/polygon_points.h"

using namespace polytest;

TEST(PolygonHeights, ThreePointFilters) {
  const std::vector<P3> pts = {{0, 1, 3}, {1, 2, 9}, {2, 3, 6}, {3, 4, 0}, {4, 5, 12}};
  // The running mean uses the values already filtered: z1 = (3 + 9 + 6) / 3 = 6,
  // z2 = (6 + 6 + 0) / 3 = 4, z3 = (4 + 0 + 12) / 3, z4 = (z3 + 12 + 3) / 3,
  // z0 = (z4 + 3 + 6) / 3.
  const float z3 = 16.0f / 3.0f, z4 = (z3 + 12.0f + 3.0f) / 3.0f, z0 = (z4 + 3.0f + 6.0f) / 3.0f;
  struct Case {
    const char* name;
    void (CSSE3dPolygon::*filter)();
    std::vector<float> z;
  };
  const std::vector<Case> cases = {
      {"mean", &CSSE3dPolygon::FilterZValues, {z0, 6, 4, z3, z4}},
      {"median", &CSSE3dPolygon::FilterMedian3, {9, 6, 6, 6, 3}},
      {"maximum", &CSSE3dPolygon::FilterMaximum3, {12, 9, 9, 12, 12}},
      {"minimum", &CSSE3dPolygon::FilterMinimum3, {3, 3, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSSE3dPolygon p = polygonOf(pts);
    (p.*c.filter)();
    const std::vector<P3> got = pointsOf(p);
    for (std::size_t i = 0; i < pts.size(); ++i) {
      EXPECT_EQ(got[i].x, pts[i].x);
      EXPECT_EQ(got[i].y, pts[i].y);
      EXPECT_FLOAT_EQ(got[i].z, c.z[i]);
    }
    CSSE3dPolygon flat = polygonOf({{0, 0, 2.5f}, {1, 0, 2.5f}, {1, 1, 2.5f}});
    (flat.*c.filter)();
    EXPECT_TRUE(same(pointsOf(flat), {{0, 0, 2.5f}, {1, 0, 2.5f}, {1, 1, 2.5f}}));
  }
  CSSE3dPolygon p = polygonOf(pts);
  p.AdaptToHighestZValue();
  for (const P3& q : pointsOf(p)) EXPECT_EQ(q.z, 12.0f);
  p = polygonOf(pts);
  p.AdaptToLowestZValue();
  for (const P3& q : pointsOf(p)) EXPECT_EQ(q.z, 0.0f);
}

TEST(PolygonHeights, NoiseIsReproducibleAndPrivate) {
  const std::vector<P3> pts = randomPoints(50, 7, 30.0f);
  CSSE3dPolygon zero = polygonOf(pts);
  zero.AddNoiseXY(0.0f);
  EXPECT_TRUE(same(pointsOf(zero), pts));

  std::srand(5);
  const int expectedRand = std::rand();
  std::srand(5);
  CSSE3dPolygon a = polygonOf(pts), b = polygonOf(pts);
  a.AddNoiseXY(2.0f);
  EXPECT_EQ(std::rand(), expectedRand);
  b.AddNoiseXY(2.0f);
  EXPECT_TRUE(same(pointsOf(a), pointsOf(b)));
  // The generator's first outputs from seed 43211: 10075, 3475, 1407, 8110.
  const std::vector<P3> got = pointsOf(a);
  EXPECT_EQ(got[0].x, pts[0].x + float(10075 - 16383) / 32767.0f * 2.0f);
  EXPECT_EQ(got[0].y, pts[0].y + float(3475 - 16383) / 32767.0f * 2.0f);
  EXPECT_EQ(got[1].x, pts[1].x + float(1407 - 16383) / 32767.0f * 2.0f);
  EXPECT_EQ(got[1].y, pts[1].y + float(8110 - 16383) / 32767.0f * 2.0f);
  for (std::size_t i = 0; i < pts.size(); ++i) {
    EXPECT_LE(std::fabs(got[i].x - pts[i].x), 1.0001f);
    EXPECT_LE(std::fabs(got[i].y - pts[i].y), 1.0001f);
    EXPECT_EQ(got[i].z, pts[i].z);
  }
}

TEST(PolygonHeights, PairingTwoPolygons) {
  const std::vector<P3> a = {{0, 0, 0}, {4, 0, 4}, {4, 4, 8}, {0, 4, 4}};
  const std::vector<P3> b = {{2, 2, 2}, {6, 2, 2}};
  CSSE3dPolygon p = polygonOf(a), q = polygonOf(b);
  p.MoveTowardsPolygon(&q, 0.25f);
  EXPECT_TRUE(same(pointsOf(p), {{0.5f, 0.5f, 0.5f}, {4.5f, 0.5f, 3.5f}, {3, 3, 6}, {0, 3, 3}}));

  std::vector<P3> eight;
  for (int i = 0; i < 8; ++i) eight.push_back({float(i), float(i * i), 1});
  for (bool fewerIsThis : {true, false}) {
    SCOPED_TRACE(fewerIsThis ? "this has fewer points" : "the argument has fewer points");
    CSSE3dPolygon four = polygonOf(a), many = polygonOf(eight);
    if (fewerIsThis)
      four.AdaptPolygons(&many);
    else
      many.AdaptPolygons(&four);
    EXPECT_TRUE(same(pointsOf(many), eight));
    // Every new point on the old outline: corners at even places, edge
    // midpoints at odd ones.
    EXPECT_TRUE(same(pointsOf(four), {{0, 0, 0}, {2, 0, 2}, {4, 0, 4}, {4, 2, 6}, {4, 4, 8}, {2, 4, 6}, {0, 4, 4},
                                      {0, 2, 2}}));
  }
  // Ratios that are not whole: points stay on the outline all the same.
  CSSE3dPolygon five = polygonOf(a), seven = polygonOf(randomPoints(7, 1, 5.0f));
  five.AdaptPolygons(&seven);
  for (const P3& q5 : pointsOf(five)) EXPECT_LT(distanceToRing(a, q5.x, q5.y), 1e-6);
  CSSE3dPolygon empty, full = polygonOf(a);
  full.AdaptPolygons(&empty);
  empty.AdaptPolygons(&full);
  EXPECT_EQ(empty.GetNumPoints(), 0);
  EXPECT_TRUE(same(pointsOf(full), a));
}

TEST(PolygonHeights, StartNearAnotherPolygon) {
  const std::vector<P3> ring = {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}};
  struct Case {
    const char* name;
    P3 first;
    int start;
  };
  const std::vector<Case> cases = {
      {"near a vertex", {9.5f, 9.8f, 0}, 2},
      {"on an edge, nearer its end", {10, 7, 0}, 2},
      {"on an edge, nearer its start", {10, 3, 0}, 1},
      {"on the closing edge", {0, 1, 0}, 0},
      {"on the closing edge, nearer its start", {0, 9, 0}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSSE3dPolygon p = polygonOf(ring), other = polygonOf({c.first, {50, 50, 0}});
    std::vector<int> map = {10, 11, 12, 13};
    p.FindClosedStartPointAndChange(&other, map.data());
    std::vector<P3> expected(ring.begin() + c.start, ring.end());
    expected.insert(expected.end(), ring.begin(), ring.begin() + c.start);
    EXPECT_TRUE(same(pointsOf(p), expected));
    EXPECT_EQ(map[0], 10 + c.start);
  }
}
