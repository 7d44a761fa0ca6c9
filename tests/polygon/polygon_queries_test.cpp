#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <random>
#include <vector>

#include "orvik/polygon/SSE3dPolygon.h"
#include "polygon/polygon_points.h"

namespace {

using namespace polytest;

// Exact predicates on integer coordinates.
long long orient(const P3& a, const P3& b, const P3& c) {
  return (static_cast<long long>(b.x) - a.x) * (static_cast<long long>(c.y) - a.y) -
         (static_cast<long long>(b.y) - a.y) * (static_cast<long long>(c.x) - a.x);
}

bool onSegment(const P3& a, const P3& b, const P3& c) {
  return orient(a, b, c) == 0 && std::min(a.x, b.x) <= c.x && c.x <= std::max(a.x, b.x) &&
         std::min(a.y, b.y) <= c.y && c.y <= std::max(a.y, b.y);
}

bool segmentsMeet(const P3& a, const P3& b, const P3& c, const P3& d) {
  const long long o1 = orient(a, b, c), o2 = orient(a, b, d), o3 = orient(c, d, a), o4 = orient(c, d, b);
  if (((o1 > 0 && o2 < 0) || (o1 < 0 && o2 > 0)) && ((o3 > 0 && o4 < 0) || (o3 < 0 && o4 > 0))) return true;
  return onSegment(a, b, c) || onSegment(a, b, d) || onSegment(c, d, a) || onSegment(c, d, b);
}

std::vector<P3> integerRing(std::mt19937& rng, int n, int range) {
  std::uniform_int_distribution<int> u(-range, range);
  std::vector<P3> v(n);
  for (P3& p : v) p = {float(u(rng)), float(u(rng)), float(u(rng))};
  return v;
}

SSEPoint sse(const P3& p) { return SSEPoint(p.x, p.y, p.z); }

// The even-odd rule as stated, in exact integer arithmetic: an edge counts
// when px is in its half-open x interval and toggles when it passes strictly
// beyond p in +y.
bool crossingInside(const std::vector<std::pair<P3, P3>>& edges, const P3& p) {
  bool inside = false;
  for (const auto& [a, b] : edges) {
    if ((p.x > b.x) != (a.x >= p.x)) continue;
    const P3& l = a.x < b.x ? a : b;
    const P3& r = a.x < b.x ? b : a;
    if ((static_cast<long long>(r.y) - l.y) * (static_cast<long long>(p.x) - l.x) >
        (static_cast<long long>(r.x) - l.x) * (static_cast<long long>(p.y) - l.y))
      inside = !inside;
  }
  return inside;
}

}  // namespace

TEST(PolygonQueries, ClosestPointsAgainstBruteForce) {
  // The documented examples first.
  CSSE3dPolygon line = polygonOf({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}});
  EXPECT_EQ(line.ClosestPointX(3.2f), 2);  // even indices only
  EXPECT_EQ(line.ClosestPointXYWithLast(4.1f, 0, 1), 4);
  EXPECT_EQ(line.ClosestPointXY(4.1f, 0, 1), 3);
  EXPECT_EQ(line.ClosestPointXY(4.1f, 0, 0), 3);  // a step of 0 acts as 1
  EXPECT_EQ(line.ClosestPointXY(4.1f, 0, -2), 3);
  CSSE3dPolygon empty, one = polygonOf({{1, 1, 1}});
  SSEPoint origin;
  EXPECT_EQ(empty.ClosestPoint(origin), -1);
  EXPECT_EQ(one.ClosestPointX(1), -1);
  EXPECT_EQ(one.ClosestPointXYWithLast(1, 1, 1), 0);

  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(-60.0f, 60.0f);
  const std::vector<P3> pts = randomPoints(37, 8, 50.0f);
  CSSE3dPolygon p = polygonOf(pts);
  const int n = int(pts.size());
  for (int trial = 0; trial < 200; ++trial) {
    const float x = u(rng), y = u(rng), z = u(rng), tol = std::fabs(u(rng)) / 4;
    const int step = 1 + trial % 5;
    // The first index of the set with the strictly smallest measure.
    const auto first = [&](int end, int stride, auto measure) {
      int best = -1;
      for (int i = 0; i < end; i += stride)
        if (measure(i) < 1e7f && (best < 0 || measure(i) < measure(best))) best = i;
      return best;
    };
    SCOPED_TRACE(trial);
    SSEPoint q(x, y, z);
    EXPECT_EQ(p.ClosestPoint(q), first(n, 1, [&](int i) {
      return std::sqrt((pts[i].x - x) * (pts[i].x - x) + (pts[i].y - y) * (pts[i].y - y) +
                       (pts[i].z - z) * (pts[i].z - z));
    }));
    EXPECT_EQ(p.ClosestPointX(x), first(n - 1, 2, [&](int i) { return std::fabs(pts[i].x - x); }));
    EXPECT_EQ(p.ClosestPointY(y), first(n - 1, 2, [&](int i) { return std::fabs(pts[i].y - y); }));
    EXPECT_EQ(p.ClosestPointZ(z), first(n - 1, 2, [&](int i) { return std::fabs(pts[i].z - z); }));
    EXPECT_EQ(p.ClosestPointXWithZLimitation(x, z), first(n - 1, 2, [&](int i) {
      return pts[i].z > z ? std::fabs(pts[i].x - x) : 1e7f;
    }));
    const auto yz = [&](int i) { return (pts[i].y - y) * (pts[i].y - y) + (pts[i].z - z) * (pts[i].z - z); };
    const auto xy = [&](int i) { return (pts[i].x - x) * (pts[i].x - x) + (pts[i].y - y) * (pts[i].y - y); };
    EXPECT_EQ(p.ClosestPointYZ(y, z), first(n - 1, 2, yz));
    EXPECT_EQ(p.ClosestPointXY(x, y, step), first(n - 1, step, xy));
    EXPECT_EQ(p.ClosestPointXYWithLast(x, y, step), first(n, step, xy));
    int maxY = -1, minY = -1;
    for (int i = 0; i < n; ++i) {
      if (!(std::fabs(pts[i].x - x) < tol)) continue;
      if (maxY < 0 || pts[i].y > pts[maxY].y) maxY = i;
      if (minY < 0 || pts[i].y < pts[minY].y) minY = i;
    }
    EXPECT_EQ(p.ClosestPointXWithMaximalY(x, tol), maxY);
    EXPECT_EQ(p.ClosestPointXWithMinimalY(x, tol), minY);
    EXPECT_EQ(p.FindIndexOfPoint(q), first(n, 1, [&](int i) { return std::hypot(pts[i].x - x, pts[i].y - y); }));
  }
}

TEST(PolygonQueries, PointLookups) {
  CSSE3dPolygon p = polygonOf({{0, 0, 0}, {5, 5, 1}, {5, 5, 2}, {2, 3, 0}, {9, 9, 0}});
  EXPECT_EQ(p.FindIndexOfPoint(SSEPoint(5, 5, 9)), 1);  // the first exact hit ends the search
  EXPECT_EQ(p.FindIndexOfPoint(SSEPoint(8.9f, 9, 0)), 4);
  struct Case {
    int count;
    P3 q;
    float tol;
    bool expected;
  };
  const std::vector<Case> cases = {
      {5, {9, 9, 0}, 0.5f, false},  // the last point is never looked at
      {4, {2.2f, 3.2f, 0}, 0.5f, true},   {4, {2.3f, 3.3f, 0}, 0.5f, false},
      {3, {2, 3, 0}, 0.5f, false},        {0, {0, 0, 0}, 1.0f, false},
      {-4, {0, 0, 0}, 1.0f, false},       {1, {0.1f, 0.1f, 0}, 1.0f, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    SSEPoint q = sse(c.q);
    EXPECT_EQ(p.PointAlreadyThereInArrayXY(c.count, q, c.tol), c.expected);
  }
  std::vector<int> out(5, -1);
  int count = -1;
  SSEPoint upper(9, 9, 0), lower(0, 0, 0);
  p.GetPointsInPatch(upper, lower, out.data(), count);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(out, (std::vector<int>{1, 2, 3, -1, -1}));
}

TEST(PolygonQueries, DistancesToNormalizedPoints) {
  const std::vector<P3> pts = randomPoints(23, 9, 40.0f);
  CSSE3dPolygon p = polygonOf(pts);
  t_resolutiondata res;
  res[0] = 0.5f, res[1] = 2.0f, res[2] = 1.5f;
  p.NormalizeXYZ(res);
  const auto dist = [&](int i, float x, float y, float z, bool withZ) {
    const float dx = pts[i].x * 0.5f - x, dy = pts[i].y * 2.0f - y, dz = withZ ? pts[i].z * 1.5f - z : 0.0f;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
  };
  std::mt19937 rng(4);
  std::uniform_real_distribution<float> u(-50.0f, 50.0f);
  for (int skip : {-1, 0, 1, 3, 7}) {
    SCOPED_TRACE(skip);
    const float x = u(rng), y = u(rng), z = u(rng);
    float blocks = 1e6f, blocksXY = 1e6f, maxXY = -1e6f, tail = 1e6f;
    for (int b = 0; 4 * b + 4 <= 23; b += std::max(skip, 0) + 1)
      for (int i = 4 * b; i < 4 * b + 4; ++i) {
        blocks = std::min(blocks, dist(i, x, y, z, true));
        blocksXY = std::min(blocksXY, dist(i, x, y, 0, false));
        maxXY = std::max(maxXY, dist(i, x, y, 0, false));
      }
    for (int i = 20; i < 23; ++i) tail = std::min(tail, dist(i, x, y, z, true));
    EXPECT_EQ(p.GetMinEuclDistance(x, y, z, skip, false), blocks);
    EXPECT_EQ(p.GetMinEuclDistance(x, y, z, skip, true), std::min(blocks, tail));
    EXPECT_EQ(p.GetMinEuclDistanceXY(x, y, skip), blocksXY);
    EXPECT_EQ(p.GetMinEuclDistanceSpecial(x, y, z, skip), blocks);
    EXPECT_EQ(p.GetMinEuclDistanceSpecial(x, y, 0.0005f, skip), blocksXY);
    float mn, mx;
    p.GetMinMaxEuclDistanceXY(x, y, skip, mn, mx);
    EXPECT_EQ(mn, blocksXY);
    EXPECT_EQ(mx, maxXY);
  }
  // Fewer than four points: no whole block, unless the tail is asked for.
  CSSE3dPolygon three = polygonOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  three.NormalizeXYZ(res = t_resolutiondata());
  EXPECT_EQ(three.GetMinEuclDistance(5, 5, 0, 0, false), 1e6f);
  EXPECT_EQ(three.GetMinEuclDistance(1, 0, 0, 0, true), 0.0f);
  float mn, mx;
  three.GetMinMaxEuclDistanceXY(0, 0, 0, mn, mx);
  EXPECT_EQ(mn, 1e6f);
  EXPECT_EQ(mx, -1e6f);
  // With an index every point counts, and of equal distances the later wins.
  CSSE3dPolygon twins = polygonOf({{3, 3, 0}, {1, 0, 0}, {9, 9, 9}, {-1, 0, 0}, {0, 0, 5}});
  twins.NormalizeXYZ(res);
  int index = -5;
  EXPECT_EQ(twins.GetMinEuclDistance(0, 0, 0, 0, false, &index), 1.0f);
  EXPECT_EQ(index, 3);
  CSSE3dPolygon none;
  EXPECT_EQ(none.GetMinEuclDistance(0, 0, 0, 0, true, &index), 1e6f);
  EXPECT_EQ(index, -1);
}

TEST(PolygonQueries, DifferenceBetweenPolygons) {
  const std::vector<P3> pts = randomPoints(40, 10, 40.0f);
  CSSE3dPolygon p = polygonOf(pts), moved = polygonOf(pts);
  t_resolutiondata one;
  p.NormalizeXYZ(one);
  for (int parts : {-3, 0, 1, 4, 40, 1000}) {
    SCOPED_TRACE(parts);
    EXPECT_FALSE(p.IsDifferentFromOtherPolygon(&p, parts, 0.001f));
  }
  // One point moved away is seen when it is sampled: parts 40 samples all.
  moved.SetPoint(13, 500, 500, 500);
  EXPECT_TRUE(moved.IsDifferentFromOtherPolygon(&p, 40, 1.0f));
  EXPECT_FALSE(moved.IsDifferentFromOtherPolygon(&p, 4, 1.0f));  // samples 0, 10, 20, 30
  CSSE3dPolygon empty;
  EXPECT_TRUE(empty.IsDifferentFromOtherPolygon(&p, 4, 1.0f));
}

TEST(PolygonQueries, CrossingsAgainstExactArithmetic) {
  std::mt19937 rng(12);
  std::uniform_int_distribution<int> u(-12, 12);
  for (int trial = 0; trial < 300; ++trial) {
    SCOPED_TRACE(trial);
    const std::vector<P3> ring = integerRing(rng, 3 + trial % 9, 10);
    const int n = int(ring.size());
    const CSSE3dPolygon p = polygonOf(ring);
    const P3 a{float(u(rng)), float(u(rng)), 0}, b{float(u(rng)), float(u(rng)), 0};
    int expected = -1;
    for (int i = 0; i < n && expected < 0; ++i)
      if (segmentsMeet(ring[i], ring[(i + 1) % n], a, b)) expected = i;
    SSEPoint out;
    int index = -1;
    ASSERT_EQ(p.FindIntersection(sse(a), sse(b), out, index), expected >= 0);
    if (expected >= 0) {
      EXPECT_EQ(index, expected + 1);
      EXPECT_LT(distanceToSegment(ring[expected], ring[(expected + 1) % n], out.x, out.y), 1e-4);
      EXPECT_LT(distanceToSegment(a, b, out.x, out.y), 1e-4);
      EXPECT_EQ(out.z, 0.0f);
    }

    // Another ring: whether any two edges meet, and the crossing returned
    // lies on the first edge of this ring that meets one.
    const std::vector<P3> other = integerRing(rng, 3 + trial % 7, 10);
    const int m = int(other.size());
    int firstEdge = -1;
    for (int i = 0; i < n && firstEdge < 0; ++i)
      for (int j = 0; j < m && firstEdge < 0; ++j)
        if (segmentsMeet(ring[i], ring[(i + 1) % n], other[j], other[(j + 1) % m])) firstEdge = i;
    SSEPoint cross;
    ASSERT_EQ(p.FindIntersectionWithAnotherPolygon(polygonOf(other), cross), firstEdge >= 0);
    if (firstEdge >= 0) {
      EXPECT_LT(distanceToSegment(ring[firstEdge], ring[(firstEdge + 1) % n], cross.x, cross.y), 1e-4);
      EXPECT_LT(distanceToRing(other, cross.x, cross.y), 1e-4);
    }
  }
  // The only crossing on the closing edge gives index n.
  const CSSE3dPolygon square = polygonOf({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}});
  SSEPoint out;
  int index = -1;
  EXPECT_TRUE(square.FindIntersection(SSEPoint(-5, 5, 0), SSEPoint(5, 5, 0), out, index));
  EXPECT_EQ(index, 4);
  EXPECT_EQ(out.x, 0.0f);
  EXPECT_EQ(out.y, 5.0f);
  // Boxes apart by more than the tolerance: no crossing.
  EXPECT_FALSE(square.FindIntersectionWithAnotherPolygon(
      polygonOf({{10.001f, 0, 0}, {20, 0, 0}, {20, 10, 0}}), out));
}

TEST(PolygonQueries, RaysAndBands) {
  CSSE3dPolygon square = polygonOf({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}});
  struct Case {
    const char* name;
    P3 p;
    int up, down, right, rightOpen;
  };
  const std::vector<Case> cases = {
      {"inside", {3, 4, 0}, 2, 0, 1, 1},
      // The ray up from below meets the bottom and the top: the farthest wins.
      {"below", {3, -4, 0}, 2, -1, INT_MAX, INT_MAX},
      {"left of it", {-3, 4, 0}, -1, -1, 3, 1},
      {"right of it", {13, 4, 0}, -1, -1, INT_MAX, INT_MAX},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(square.FindNearestPointOnLine(sse(c.p), true), c.up);
    EXPECT_EQ(square.FindNearestPointOnLine(sse(c.p), false), c.down);
    EXPECT_EQ(square.FindNearestPointOnLineX(sse(c.p), true), c.right);
    EXPECT_EQ(square.FindNearestPointOnLineX(sse(c.p), false), c.rightOpen);
  }
  struct Band {
    CbVector3f a, b;
    float r;
    bool expected;
  };
  const std::vector<Band> bands = {
      {{-5, 5, 0}, {-1, 5, 0}, 1.0f, false},
      {{-5, 5, 0}, {-1, 5, 0}, 5.5f, false},  // wide enough, but the corners lie beyond b
      {{-5, 5, 0}, {0, 5, 0}, 5.5f, true},    // (0, 0) at the end of the band
      {{-5, 5, 0}, {0, 5, 0}, 5.0f, false},   // ... and exactly on its open side
      {{12, -1, 0}, {-1, 12, 0}, 0.5f, false},  // x + y = 11 passes 0.71 from two corners
      {{12, -1, 0}, {-1, 12, 0}, 1.0f, true},
      {{3, 3, 0}, {3, 3, 7}, 0.0f, true},  // a zero-length segment
  };
  for (const Band& b : bands) {
    SCOPED_TRACE(b.r);
    EXPECT_EQ(square.IntersectsPolygonWithCylinderXYPlane(b.a, b.b, b.r), b.expected);
  }
  EXPECT_FALSE(CSSE3dPolygon().IntersectsPolygonWithCylinderXYPlane({0, 0, 0}, {1, 0, 0}, 5));
}

TEST(PolygonQueries, InsideTestsOnIntegerGrids) {
  // The documented cases.
  CSSE3dPolygon sq = polygonOf({{10, 10, 0}, {20, 10, 0}, {20, 20, 0}, {10, 20, 0}});
  EXPECT_TRUE(sq.PointInLineInnerArea(15, 10, 1));
  EXPECT_TRUE(sq.PointInLineInnerArea(20, 15, 1));
  EXPECT_FALSE(sq.PointInLineInnerArea(10, 15, 1));
  EXPECT_FALSE(sq.PointInLineInnerArea(15, 20, 1));
  CSSE3dPolygon unit = polygonOf({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
  EXPECT_EQ(unit.PointStatusWithRespectToPolygon(SSEPoint(0.5f, 0.5f, 0)), CSSE3dPolygon::ePointInside);
  EXPECT_EQ(unit.PointStatusWithRespectToPolygon(SSEPoint(0, 0, 0)), CSSE3dPolygon::ePointOnVertex);
  EXPECT_EQ(unit.PointStatusWithRespectToPolygon(SSEPoint(0.5f, 0, 0)), CSSE3dPolygon::ePointOnEdge);
  EXPECT_EQ(unit.PointStatusWithRespectToPolygon(SSEPoint(2, 2, 0)), CSSE3dPolygon::ePointOutside);
  EXPECT_EQ(CSSE3dPolygon().PointStatusWithRespectToPolygon(SSEPoint()), CSSE3dPolygon::ePointOutside);

  std::mt19937 rng(21);
  for (int trial = 0; trial < 40; ++trial) {
    SCOPED_TRACE(trial);
    // Star rings (simple) and random rings (self-crossing) on integers.
    const std::vector<P3> ring = trial % 2 ? starRing(5 + trial, trial, 12.0f, true) : integerRing(rng, 7, 9);
    const int n = int(ring.size());
    CSSE3dPolygon p = polygonOf(ring);
    t_resolutiondata res;
    res[0] = res[1] = 2.0f;
    p.NormalizeXYZ(res);
    const int step = 1 + trial % 3;
    const bool boxed = trial % 4 == 3;
    // The thinned ring: n - 1, then 0, step, ... (index <= n - step), back to
    // n - 1; with the rectangle, outside vertices drop out.
    const P3 lo{-6, -7, 0}, hi{8, 5, 0};
    std::vector<std::pair<P3, P3>> thinned;
    int last = n - 1;
    for (int i = 0; i <= n - step; i += step) {
      const P3& v = ring[i];
      if (boxed && !(lo.x <= v.x && v.x <= hi.x && lo.y <= v.y && v.y <= hi.y)) continue;
      thinned.push_back({ring[last], v});
      last = i;
    }
    if (step >= 2) thinned.push_back({ring[last], ring[n - 1]});
    std::vector<std::pair<P3, P3>> edges;
    for (int i = 0; i < n; ++i) edges.push_back({ring[i], ring[(i + 1) % n]});
    float minX = 1e9f, minY = 1e9f, maxX = -1e9f, maxY = -1e9f;
    for (const P3& v : ring)
      minX = std::min(minX, v.x), maxX = std::max(maxX, v.x), minY = std::min(minY, v.y), maxY = std::max(maxY, v.y);

    for (int y = -14; y <= 14; ++y)
      for (int x = -14; x <= 14; ++x) {
        const P3 q{float(x), float(y), 0};
        SCOPED_TRACE(testing::Message() << x << ", " << y);
        const bool inBox = minX <= x && x <= maxX && minY <= y && y <= maxY;
        const bool expected = inBox && crossingInside(thinned, q);
        if (boxed) {
          EXPECT_EQ(p.PointInLineInnerAreaBoxed(float(x), float(y), lo.x, lo.y, hi.x, hi.y, step), expected);
        } else {
          EXPECT_EQ(p.PointInLineInnerArea(float(x), float(y), step), expected);
          EXPECT_EQ(p.PointInLineInnerAreaNormalized(2.0f * x, 2.0f * y, step), crossingInside(thinned, q));
        }
        // The status against an exact vertex / edge / ray-parity answer. A
        // point where two edges of a self-crossing ring meet has the parity
        // of a point off the ring and is left out.
        CSSE3dPolygon::EPointStatus status = CSSE3dPolygon::ePointOutside;
        bool onVertex = false;
        int onEdges = 0;
        for (int i = 0; i < n; ++i) {
          onVertex = onVertex || (ring[i].x == q.x && ring[i].y == q.y);
          onEdges += onSegment(ring[i], ring[(i + 1) % n], q);
        }
        if (!onVertex && onEdges > 1) continue;
        if (onVertex)
          status = CSSE3dPolygon::ePointOnVertex;
        else if (onEdges == 1)
          status = CSSE3dPolygon::ePointOnEdge;
        else if (crossingInside(edges, q))
          status = CSSE3dPolygon::ePointInside;
        EXPECT_EQ(p.PointStatusWithRespectToPolygon(sse(q)), status);
      }
  }
}

TEST(PolygonQueries, PolygonInPolygon) {
  CSSE3dPolygon big = polygonOf({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}});
  t_resolutiondata one;
  big.NormalizeXYZ(one);
  CSSE3dPolygon small = polygonOf({{2, 2, 0}, {5, 2, 0}, {5, 5, 0}});
  CSSE3dPolygon across = polygonOf({{2, 2, 0}, {12, 2, 0}, {5, 5, 0}});
  CSSE3dPolygon justOut = polygonOf({{2, 2, 0}, {10.5f, 0.2f, 0}, {5, 5, 0}});
  CSSE3dPolygon empty;
  EXPECT_TRUE(big.PolygonInThisPolygon(small));
  EXPECT_FALSE(big.PolygonInThisPolygon(across));
  EXPECT_FALSE(big.PolygonInThisPolygon(empty));
  EXPECT_FALSE(empty.PolygonInThisPolygon(small));
  EXPECT_FALSE(small.PolygonInThisPolygon(big));
  // (10.5, 0.2) is 0.54 from the corner (10, 0): passes with delta 0.6, not 0.5.
  EXPECT_TRUE(big.PolygonInThisPolygonWithDeltaDistance(justOut, 0.6f));
  EXPECT_FALSE(big.PolygonInThisPolygonWithDeltaDistance(justOut, 0.5f));
  EXPECT_FALSE(big.PolygonInThisPolygonWithDeltaDistance(across, 0.6f));
}

TEST(PolygonQueries, ClipByCircleAndLine) {
  CSSE3dPolygon c = polygonOf({{3, 4, 7}, {6, 8, 7}, {-1, 0, 2}});
  c.IntersectPolygonAreaWithCircle(5.0f);
  EXPECT_TRUE(same(pointsOf(c), {{3, 4, 7}, {3, 4, 0}, {-1, 0, 2}}));

  const std::vector<P3> square = {{0, 0, 1}, {10, 0, 2}, {10, 10, 3}, {0, 10, 4}};
  struct Case {
    const char* name;
    P3 a, b, side;
    std::vector<P3> expected;
  };
  const std::vector<Case> cases = {
      // a-b is short and well inside the square: the line through it cuts.
      {"short segment, left half", {5, 4, 0}, {5, 6, 0}, {0, 5, 0},
       {{0, 0, 1}, {5, 0, 0}, {5, 10, 0}, {0, 10, 4}}},
      {"short segment, right half", {5, 4, 0}, {5, 6, 0}, {9, 5, 0},
       {{10, 0, 2}, {10, 10, 3}, {5, 10, 0}, {5, 0, 0}}},
      {"corner cut off", {8, 10, 0}, {10, 8, 0}, {0, 0, 0},
       {{0, 0, 1}, {10, 0, 2}, {10, 8, 0}, {8, 10, 0}, {0, 10, 4}}},
      {"everything kept", {-1, 0, 0}, {-1, 1, 0}, {5, 5, 0}, square},
      {"everything on the far side", {-1, 0, 0}, {-1, 1, 0}, {-5, 5, 0}, square},
      {"no line", {3, 3, 0}, {3, 3, 0}, {-5, 5, 0}, square},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CSSE3dPolygon p = polygonOf(square);
    p.IntersectPolygonAreaWithLine(sse(k.a), sse(k.b), sse(k.side));
    EXPECT_TRUE(same(pointsOf(p), k.expected));
  }
  // Random rings and lines: what remains lies on the kept side and no
  // larger than before; a ring cut in two halves keeps the whole area.
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(-30.0f, 30.0f);
  for (int trial = 0; trial < 50; ++trial) {
    SCOPED_TRACE(trial);
    const std::vector<P3> ring = starRing(30, 100 + trial, 25.0f);
    const P3 a{u(rng), u(rng), 0}, b{u(rng), u(rng), 0};
    const double nx = -(b.y - a.y), ny = b.x - a.x;
    CSSE3dPolygon left = polygonOf(ring), right = polygonOf(ring);
    left.IntersectPolygonAreaWithLine(sse(a), sse(b), {a.x + float(nx), a.y + float(ny), 0});
    right.IntersectPolygonAreaWithLine(sse(a), sse(b), {a.x - float(nx), a.y - float(ny), 0});
    const std::vector<P3> l = pointsOf(left), r = pointsOf(right);
    const auto side = [&](const P3& q) { return (q.x - a.x) * nx + (q.y - a.y) * ny; };
    bool allLeft = true, allRight = true;
    for (const P3& q : ring) allLeft = allLeft && side(q) >= 0, allRight = allRight && side(q) < 0;
    if (allLeft || allRight) continue;  // one side keeps nothing and stays unchanged
    const double scale = std::hypot(nx, ny);
    for (const P3& q : l) EXPECT_GE(side(q) / scale, -1e-3);
    for (const P3& q : r) EXPECT_LE(side(q) / scale, 1e-3);
    EXPECT_NEAR(area2(l) + area2(r), area2(ring), 1e-3 * std::fabs(area2(ring)));
  }
}
