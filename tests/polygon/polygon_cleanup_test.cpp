#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "orvik/polygon/SSE3dPolygon.h"
#include "polygon/polygon_points.h"

namespace {

using namespace polytest;

// Every earlier point against every later one, as the rule is stated.
std::vector<P3> withoutEqualPoints(const std::vector<P3>& in) {
  std::vector<P3> out;
  bool previousRemoved = false;
  for (std::size_t i = 0; i < in.size(); ++i) {
    bool near = false;
    for (std::size_t j = 0; j < i && !near; ++j)
      near = std::fabs(in[j].x - in[i].x) + std::fabs(in[j].y - in[i].y) < 1.0f;
    const bool remove = near && !previousRemoved;
    if (!remove) out.push_back(in[i]);
    previousRemoved = remove;
  }
  return out;
}

}  // namespace

TEST(PolygonCleanup, RemoveEqualPointsAgainstAllPairs) {
  std::mt19937 rng(11);
  const auto cloud = [&](int n, float range, float grid) {
    std::uniform_real_distribution<float> u(-range, range);
    std::vector<P3> v(n);
    for (P3& p : v) {
      p = {u(rng), u(rng), u(rng)};
      if (grid > 0) p.x = std::round(p.x / grid) * grid, p.y = std::round(p.y / grid) * grid;
    }
    return v;
  };
  // A traced outline that runs over itself: points a unit apart, then again
  // half a unit beside the first pass.
  std::vector<P3> twice;
  for (int i = 0; i < 300; ++i) twice.push_back({float(i % 100), float(i / 100) * 0.5f, 0});
  struct Case {
    const char* name;
    std::vector<P3> in;
  };
  const std::vector<Case> cases = {
      {"documented example", {{0, 0, 0}, {0.5f, 0, 0}, {0.6f, 0, 0}, {5, 5, 0}}},
      {"quarter grid: many distances of exactly 1", cloud(3000, 8.0f, 0.25f)},
      {"dense cloud", cloud(3000, 5.0f, 0.0f)},
      {"sparse cloud, negative and positive cells", cloud(3000, 60.0f, 0.0f)},
      {"outline traced twice", twice},
      {"huge and non-finite coordinates",
       {{1e30f, 0, 0}, {1e30f, 0.5f, 0}, {NAN, 0, 0}, {INFINITY, 0, 0}, {INFINITY, 0, 0}, {-3e38f, 1, 0},
        {-3e38f, 1, 0}, {0, 0, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSSE3dPolygon p = polygonOf(c.in);
    p.RemoveEqualPointsXY();
    const std::vector<P3> got = pointsOf(p), expected = withoutEqualPoints(c.in);
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin(), expected.end(), [](const P3& a, const P3& b) {
      return std::memcmp(&a, &b, sizeof(P3)) == 0;
    }));
  }
  EXPECT_EQ(withoutEqualPoints(cases[0].in).size(), 3u);
}

TEST(PolygonCleanup, LoopRemoval) {
  // A counter-clockwise square whose top edge ties a small clockwise knot:
  // the knot goes, the square stays.
  const std::vector<P3> knot = {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {4, 10, 0},
                                {4, 12, 0}, {6, 12, 0}, {6, 8, 0},  {0, 8, 0}};
  // A figure eight: the big counter-clockwise lobe and a small clockwise one.
  const std::vector<P3> eight = {{0, 0, 0}, {4, 0, 0}, {6, 2, 0}, {7, 2, 0},
                                 {7, 1, 0}, {6, 1, 0}, {4, 3, 0}, {0, 3, 0}};
  // The same eight started inside the small lobe: now the cut-off part is
  // the big lobe, and it is what stays.
  const std::vector<P3> eightRotated = {{7, 2, 0}, {7, 1, 0}, {6, 1, 0}, {4, 3, 0},
                                        {0, 3, 0}, {0, 0, 0}, {4, 0, 0}, {6, 2, 0}};
  struct Case {
    const char* name;
    std::vector<P3> in;
    int firstStart;
    std::vector<P3> expected;
  };
  const std::vector<Case> cases = {
      {"knot", knot, 2, {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {6, 8, 0}, {0, 8, 0}}},
      {"eight", eight, 1, {{0, 0, 0}, {4, 0, 0}, {4, 3, 0}, {0, 3, 0}}},
      {"eight from the small lobe", eightRotated, 0, {{4, 3, 0}, {0, 3, 0}, {0, 0, 0}, {4, 0, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSSE3dPolygon p = polygonOf(c.in);
    int start = 0;
    ASSERT_TRUE(p.RemoveLoopInXYPlane(start));
    EXPECT_EQ(start, c.firstStart);
    EXPECT_TRUE(same(pointsOf(p), c.expected));
    CSSE3dPolygon q = polygonOf(c.in);
    q.RemoveAllLoopsInXYPlane();
    EXPECT_TRUE(same(pointsOf(q), c.expected));
  }
  // A simple ring has nothing to remove; a start beyond the ring finds nothing.
  CSSE3dPolygon simple = polygonOf(starRing(30, 4, 10.0f));
  int start = 0;
  EXPECT_FALSE(simple.RemoveLoopInXYPlane(start));
  CSSE3dPolygon k = polygonOf(knot);
  start = 5;
  EXPECT_FALSE(k.RemoveLoopInXYPlane(start));
  EXPECT_TRUE(same(pointsOf(k), knot));
}

TEST(PolygonCleanup, Blowing) {
  const std::vector<P3> pts = randomPoints(9, 5, 100.0f);
  CSSE3dPolygon p = polygonOf(pts);
  p.BlowLine(2, 2, 1, false);
  p.BlowLine(0.5f, 0.5f, 1, false);
  EXPECT_TRUE(same(pointsOf(p), pts));
  p.BlowLineAroundCenter(1, 1, 1, false);
  EXPECT_TRUE(same(pointsOf(p), pts));
  p.BlowLineAroundCenter(3, -1, 0, false);
  SSEPoint c;
  p.GetGeometricCenter(c);
  const std::vector<P3> got = pointsOf(p);
  for (std::size_t i = 0; i < pts.size(); ++i) {
    EXPECT_NEAR(got[i].x, c.x + 3 * (pts[i].x - c.x), 1e-3);
    EXPECT_NEAR(got[i].y, c.y - (pts[i].y - c.y), 1e-3);
    EXPECT_EQ(got[i].z, c.z);
  }
  CSSE3dPolygon r = polygonOf({{0, 0, 0}, {2, 0, 0}, {2, 2, 0}});
  r.BlowLine(2, 2, 1, true);  // then resampled at 0.6
  EXPECT_TRUE(same(pointsOf(r), [] {
    CSSE3dPolygon s = polygonOf({{0, 0, 0}, {4, 0, 0}, {4, 4, 0}});
    s.ReParametrize(0.6f);
    return pointsOf(s);
  }()));
}

TEST(PolygonCleanup, PixelStaircases) {
  // One point per pixel along the outline of a polygon with corners c.
  const auto traced = [](const std::vector<P3>& corners) {
    std::vector<P3> v;
    for (std::size_t i = 0; i < corners.size(); ++i) {
      const P3 a = corners[i], b = corners[(i + 1) % corners.size()];
      const int len = int(std::fabs(b.x - a.x) + std::fabs(b.y - a.y));
      for (int s = 0; s < len; ++s)
        v.push_back({a.x + (b.x - a.x) * s / len, a.y + (b.y - a.y) * s / len, 0});
    }
    return v;
  };
  // A right triangle whose hypotenuse is a staircase of runs 2 and rises 1.
  std::vector<P3> stairs = {{0, 0, 0}, {12, 0, 0}};
  for (int k = 0; k < 6; ++k) {
    stairs.push_back({12.0f - 2 * k, float(k + 1), 0});
    stairs.push_back({10.0f - 2 * k, float(k + 1), 0});
  }
  stairs.pop_back();
  stairs.push_back({0, 6, 0});
  struct Case {
    const char* name;
    std::vector<P3> in;
    int window;
    double area2;  // twice the area after smoothing
    int points;
  };
  const std::vector<Case> cases = {
      // Corners are no stairs: a rectangle keeps its area whole.
      {"10 x 20 rectangle", traced({{0, 0, 0}, {10, 0, 0}, {10, 20, 0}, {0, 20, 0}}), 2, 400.0, 5},
      // A lone stair beside a corner is the corner itself: kept.
      {"lone stair at a corner", traced({{0, 0, 0}, {10, 0, 0}, {10, 19, 0}, {9, 19, 0}, {9, 20, 0}, {0, 20, 0}}),
       2, 398.0, 7},
      // Read as vertical runs of 1 and steps of 2, the staircase loses the
      // corner at the end of each run: the hypotenuse runs through (12 - 2k, k)
      // and the last stair ends at (2, 6).
      {"staircase", stairs, 2, 74.0, 9},
      {"window 1: chords only", stairs, 1, area2(stairs), int(stairs.size())},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSSE3dPolygon p = polygonOf(c.in);
    p.SmoothPixelCausedSteps(c.window, 1.5f);
    const std::vector<P3> got = pointsOf(p);
    EXPECT_DOUBLE_EQ(area2(got), c.area2);
    EXPECT_EQ(int(got.size()), c.points);
    for (const P3& q : got) EXPECT_LT(distanceToRing(c.in, q.x, q.y), 1e-9);
  }
  // Stairs of too different heights (ratio 3 against tol 1.5) in either
  // reading, runs along x or along y, are not followed.
  const std::vector<P3> uneven = {{0, 0, 0},  {16, 0, 0}, {16, 1, 0}, {14, 1, 0}, {14, 4, 0},
                                  {8, 4, 0},  {8, 5, 0},  {6, 5, 0},  {6, 8, 0},  {0, 8, 0}};
  CSSE3dPolygon u = polygonOf(uneven);
  u.SmoothPixelCausedSteps(2, 1.5f);
  EXPECT_TRUE(same(pointsOf(u), uneven));
}

TEST(PolygonCleanup, RoundPolygonOutward) {
  for (bool clockwise : {false, true}) {
    for (bool reparametrize : {false, true}) {
      SCOPED_TRACE(clockwise ? "clockwise" : "counter-clockwise");
      SCOPED_TRACE(reparametrize ? "resampled first" : "as it is");
      std::vector<P3> ring;
      for (int i = 0; i < 37; ++i) {
        const double a = 2 * M_PI * i / 37;
        ring.push_back({float(20.3 + 10.37 * std::cos(a)), float(-7.6 + 6.21 * std::sin(a)), float(i)});
      }
      if (clockwise) std::reverse(ring.begin(), ring.end());
      CSSE3dPolygon p = polygonOf(ring);
      p.RoundPolygon(reparametrize);
      const std::vector<P3> got = pointsOf(p);
      ASSERT_GE(got.size(), 8u);
      for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].x, std::round(got[i].x));
        EXPECT_EQ(got[i].y, std::round(got[i].y));
        const P3& n = got[(i + 1) % got.size()];
        EXPECT_FALSE(n.x == got[i].x && n.y == got[i].y);
        EXPECT_LT(distanceToRing(ring, got[i].x, got[i].y), 2.5);
      }
      // On the outer side: the rounded outline holds the ellipse's area.
      EXPECT_GE(std::fabs(area2(got)), std::fabs(area2(ring)));
    }
  }
}

TEST(PolygonCleanup, ConvexHullAgainstBruteForce) {
  std::mt19937 rng(17);
  std::uniform_int_distribution<int> u(-20, 20);
  // c in the closed triangle a, b, d (a segment when they are collinear).
  const auto orient = [](const P3& a, const P3& b, const P3& c) {
    return (long long)(b.x - a.x) * (long long)(c.y - a.y) - (long long)(b.y - a.y) * (long long)(c.x - a.x);
  };
  const auto inTriangle = [&](const P3& a, const P3& b, const P3& d, const P3& c) {
    const long long o1 = orient(a, b, c), o2 = orient(b, d, c), o3 = orient(d, a, c);
    const bool neg = o1 < 0 || o2 < 0 || o3 < 0, pos = o1 > 0 || o2 > 0 || o3 > 0;
    if (orient(a, b, d) != 0) return !(neg && pos);
    // Degenerate: on one of the three segments.
    const auto on = [&](const P3& p, const P3& q) {
      return orient(p, q, c) == 0 && std::min(p.x, q.x) <= c.x && c.x <= std::max(p.x, q.x) &&
             std::min(p.y, q.y) <= c.y && c.y <= std::max(p.y, q.y);
    };
    return on(a, b) || on(b, d) || on(d, a);
  };
  for (int trial = 0; trial < 30; ++trial) {
    SCOPED_TRACE(trial);
    std::vector<P3> pts;
    while (int(pts.size()) < 4 + trial) {
      const P3 q{float(u(rng)), float(u(rng)), float(u(rng))};
      if (std::none_of(pts.begin(), pts.end(), [&](const P3& r) { return r.x == q.x && r.y == q.y; }))
        pts.push_back(q);
    }
    std::vector<P3> extreme;
    for (std::size_t i = 0; i < pts.size(); ++i) {
      bool inside = false;
      for (std::size_t a = 0; a < pts.size() && !inside; ++a)
        for (std::size_t b = a + 1; b < pts.size() && !inside; ++b)
          for (std::size_t d = b + 1; d < pts.size() && !inside; ++d)
            if (a != i && b != i && d != i) inside = inTriangle(pts[a], pts[b], pts[d], pts[i]);
      if (!inside) extreme.push_back(pts[i]);
    }
    CSSE3dPolygon p = polygonOf(pts);
    p.ReplaceByConvexHullXY();
    const std::vector<P3> hull = pointsOf(p);
    ASSERT_EQ(hull.size(), extreme.size());
    for (std::size_t i = 0; i < hull.size(); ++i) {
      EXPECT_TRUE(std::any_of(extreme.begin(), extreme.end(), [&](const P3& e) {
        return e.x == hull[i].x && e.y == hull[i].y && e.z == hull[i].z;
      }));
      EXPECT_GT(orient(hull[i], hull[(i + 1) % hull.size()], hull[(i + 2) % hull.size()]), 0);
    }
  }
  // Fewer than two points stay.
  CSSE3dPolygon one = polygonOf({{3, 4, 5}});
  one.ReplaceByConvexHullXY();
  EXPECT_TRUE(same(pointsOf(one), {{3, 4, 5}}));
}
