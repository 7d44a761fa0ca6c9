#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>
#include <vector>

#include "orvik/polygon/SSE3dPolygon.h"
#include "support/polygons.h"

using namespace testpolygons;

namespace {

SSEPoint sse(const Pt& p) { return SSEPoint(p.x, p.y, p.z); }

// The first index of 0, stride, ... below end with the strictly smallest measure, of those below 1e7.
template <class Measure>
int firstSmallest(int end, int stride, Measure measure) {
  int best = -1;
  for (int i = 0; i < end; i += stride)
    if (measure(i) < 1e7f && (best < 0 || measure(i) < measure(best))) best = i;
  return best;
}

}  // namespace

TEST(PolygonQueries, ClosestPointsAgainstBruteForce) {
  CSSE3dPolygon line = polygonOf({{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}});
  EXPECT_EQ(line.ClosestPointXYWithLast(4.1f, 0, 1), 4);
  EXPECT_EQ(line.ClosestPointXY(4.1f, 0, -2), 3);  // steps below 1 act as 1
  SSEPoint origin;
  EXPECT_EQ(CSSE3dPolygon().ClosestPoint(origin), -1);
  EXPECT_EQ(polygonOf({{1, 1, 1}}).ClosestPointXYWithLast(1, 1, 1), 0);

  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(-60.0f, 60.0f);
  const Ring pts = randomRing(37, 8, -50, 50);
  CSSE3dPolygon p = polygonOf(pts);
  const int n = int(pts.size());
  for (int trial = 0; trial < 200; ++trial) {
    SCOPED_TRACE(trial);
    const float x = u(rng), y = u(rng), z = u(rng), tol = std::fabs(u(rng)) / 4;
    const int step = 1 + trial % 5;
    const auto d = [](float a, float b) { return (a - b) * (a - b); };
    const auto xy = [&](int i) { return d(pts[i].x, x) + d(pts[i].y, y); };
    SSEPoint q(x, y, z);
    EXPECT_EQ(p.ClosestPoint(q),
              firstSmallest(n, 1, [&](int i) { return std::sqrt(xy(i) + d(pts[i].z, z)); }));
    EXPECT_EQ(p.ClosestPointX(x), firstSmallest(n - 1, 2, [&](int i) { return std::fabs(pts[i].x - x); }));
    EXPECT_EQ(p.ClosestPointY(y), firstSmallest(n - 1, 2, [&](int i) { return std::fabs(pts[i].y - y); }));
    EXPECT_EQ(p.ClosestPointZ(z), firstSmallest(n - 1, 2, [&](int i) { return std::fabs(pts[i].z - z); }));
    EXPECT_EQ(p.ClosestPointXWithZLimitation(x, z),
              firstSmallest(n - 1, 2, [&](int i) { return pts[i].z > z ? std::fabs(pts[i].x - x) : 1e7f; }));
    EXPECT_EQ(p.ClosestPointYZ(y, z),
              firstSmallest(n - 1, 2, [&](int i) { return d(pts[i].y, y) + d(pts[i].z, z); }));
    EXPECT_EQ(p.ClosestPointXY(x, y, step), firstSmallest(n - 1, step, xy));
    EXPECT_EQ(p.ClosestPointXYWithLast(x, y, step), firstSmallest(n, step, xy));
    EXPECT_EQ(p.FindIndexOfPoint(q), firstSmallest(n, 1, [&](int i) { return std::sqrt(xy(i)); }));
    // Of the points within tol of x in x, the highest and the lowest.
    const auto nearX = [&](float sign) {
      return firstSmallest(n, 1,
                           [&](int i) { return std::fabs(pts[i].x - x) < tol ? sign * pts[i].y : 1e7f; });
    };
    EXPECT_EQ(p.ClosestPointXWithMaximalY(x, tol), nearX(-1));
    EXPECT_EQ(p.ClosestPointXWithMinimalY(x, tol), nearX(1));
  }
}

TEST(PolygonQueries, PointLookups) {
  CSSE3dPolygon p = polygonOf({{0, 0, 0}, {5, 5, 1}, {5, 5, 2}, {2, 3, 0}, {9, 9, 0}});
  EXPECT_EQ(p.FindIndexOfPoint(SSEPoint(5, 5, 9)), 1);  // the first exact hit ends the search
  // The first `count` points are looked at, never the last.
  for (auto [count, q, tol, expected] : {std::tuple{5, Pt{9, 9}, 0.5f, false},
                                         {4, Pt{2.2f, 3.2f}, 0.5f, true},
                                         {4, Pt{2.3f, 3.3f}, 0.5f, false},
                                         {3, Pt{2, 3}, 0.5f, false},
                                         {-4, Pt{0, 0}, 1.0f, false},
                                         {1, Pt{0.1f, 0.1f}, 1.0f, true}}) {
    SSEPoint s = sse(q);
    EXPECT_EQ(p.PointAlreadyThereInArrayXY(count, s, tol), expected) << count << " " << q;
  }
  std::vector<int> out(5, -1);
  int count = -1;
  SSEPoint upper(9, 9, 0), lower(0, 0, 0);
  p.GetPointsInPatch(upper, lower, out.data(), count);
  EXPECT_EQ(out, (std::vector<int>{1, 2, 3, -1, -1}));
}

TEST(PolygonQueries, DistancesToNormalizedPoints) {
  const Ring pts = randomRing(23, 9, -40, 40);
  CSSE3dPolygon p = polygonOf(pts);
  t_resolutiondata res{{0.5f, 2.0f, 1.5f}};
  p.NormalizeXYZ(res);
  const auto dist = [&](int i, float x, float y, float z, bool withZ) {
    const float dx = pts[i].x * 0.5f - x, dy = pts[i].y * 2.0f - y, dz = withZ ? pts[i].z * 1.5f - z : 0.0f;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
  };
  std::mt19937 rng(4);
  std::uniform_real_distribution<float> u(-50.0f, 50.0f);
  // Whole blocks of four, skip blocks passed over after each; the tail only when asked.
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
    EXPECT_EQ(std::pair(mn, mx), std::pair(blocksXY, maxXY));
  }
  // The tail's first point counts.
  EXPECT_EQ(p.GetMinEuclDistance(pts[20].x * 0.5f, pts[20].y * 2.0f, pts[20].z * 1.5f, 0, true), 0.0f);
  // Fewer than four points: no whole block, unless the tail is asked for.
  CSSE3dPolygon three = polygonOf({{0, 0}, {1, 0}, {0, 1}});
  three.NormalizeXYZ(res = t_resolutiondata());
  EXPECT_EQ(three.GetMinEuclDistance(5, 5, 0, 0, false), 1e6f);
  EXPECT_EQ(three.GetMinEuclDistance(1, 0, 0, 0, true), 0.0f);
  float mn, mx;
  three.GetMinMaxEuclDistanceXY(0, 0, 0, mn, mx);
  EXPECT_EQ(std::pair(mn, mx), std::pair(1e6f, -1e6f));
  // With an index every point counts, and of equal distances the later wins.
  CSSE3dPolygon twins = polygonOf({{3, 3, 0}, {1, 0, 0}, {9, 9, 9}, {-1, 0, 0}, {0, 0, 5}});
  twins.NormalizeXYZ(res);
  int index = -5;
  EXPECT_EQ(twins.GetMinEuclDistance(0, 0, 0, 0, false, &index), 1.0f);
  EXPECT_EQ(index, 3);
  EXPECT_EQ(CSSE3dPolygon().GetMinEuclDistance(0, 0, 0, 0, true, &index), 1e6f);
  EXPECT_EQ(index, -1);

  // One point moved away is seen when it is sampled: 40 parts sample all, 4 parts points 0, 10, 20, 30.
  const Ring many = randomRing(40, 10, -40, 40);
  CSSE3dPolygon a = polygonOf(many), moved = polygonOf(many);
  a.NormalizeXYZ(res);
  for (int parts : {-3, 0, 1, 4, 40, 1000})
    EXPECT_FALSE(a.IsDifferentFromOtherPolygon(&a, parts, 0.001f)) << parts;
  moved.SetPoint(13, 500, 500, 500);
  EXPECT_TRUE(moved.IsDifferentFromOtherPolygon(&a, 40, 1.0f));
  EXPECT_FALSE(moved.IsDifferentFromOtherPolygon(&a, 4, 1.0f));
  EXPECT_TRUE(CSSE3dPolygon().IsDifferentFromOtherPolygon(&a, 4, 1.0f));
}

TEST(PolygonQueries, CrossingsAgainstExactArithmetic) {
  std::mt19937 rng(12);
  std::uniform_int_distribution<int> u(-12, 12);
  // The first edge i of `ring` (with its end, i + 1) that meets one of `other`'s edges, or -1.
  const auto firstMeeting = [](const Ring& ring, const Ring& other, bool closedOther) {
    const int n = int(ring.size()), m = int(other.size());
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < (closedOther ? m : m - 1); ++j)
        if (segmentsMeet(ring[i], ring[(i + 1) % n], other[j], other[(j + 1) % m])) return i;
    return -1;
  };
  for (int trial = 0; trial < 300; ++trial) {
    SCOPED_TRACE(trial);
    const Ring ring = randomRing(3 + trial % 9, 2 * trial, -10, 10, true);
    const Ring other = randomRing(3 + trial % 7, 2 * trial + 1, -10, 10, true);
    const Pt a{float(u(rng)), float(u(rng))}, b{float(u(rng)), float(u(rng))};
    const int n = int(ring.size()), onAB = firstMeeting(ring, {a, b}, false),
              onOther = firstMeeting(ring, other, true);
    const CSSE3dPolygon p = polygonOf(ring);
    SSEPoint out;
    int index = -1;
    ASSERT_EQ(p.FindIntersection(sse(a), sse(b), out, index), onAB >= 0);
    if (onAB >= 0) {
      EXPECT_EQ(index, onAB + 1);
      EXPECT_LT(distanceToSegment(ring[onAB], ring[(onAB + 1) % n], out.x, out.y), 1e-4);
      EXPECT_LT(distanceToSegment(a, b, out.x, out.y), 1e-4);
      EXPECT_EQ(out.z, 0.0f);
    }
    ASSERT_EQ(p.FindIntersectionWithAnotherPolygon(polygonOf(other), out), onOther >= 0);
    if (onOther >= 0) {
      EXPECT_LT(distanceToSegment(ring[onOther], ring[(onOther + 1) % n], out.x, out.y), 1e-4);
      EXPECT_LT(distanceToRing(other, out.x, out.y), 1e-4);
    }
  }
  // Boxes apart by more than the tolerance: no crossing.
  SSEPoint out;
  EXPECT_FALSE(polygonOf(rect(0, 0, 10, 10))
                   .FindIntersectionWithAnotherPolygon(polygonOf({{10.001f, 0}, {20, 0}, {20, 10}}), out));
}

TEST(PolygonQueries, RaysAndBands) {
  CSSE3dPolygon square = polygonOf(rect(0, 0, 10, 10));
  // Edge index hit by the ray up (the farthest), down, right (closed, open).
  for (auto [p, up, down, right, rightOpen] : {std::tuple{Pt{3, 4}, 2, 0, 1, 1},
                                               {Pt{3, -4}, 2, -1, INT_MAX, INT_MAX},
                                               {Pt{-3, 4}, -1, -1, 3, 1},
                                               {Pt{13, 4}, -1, -1, INT_MAX, INT_MAX}}) {
    SCOPED_TRACE(testing::Message() << p);
    EXPECT_EQ(square.FindNearestPointOnLine(sse(p), true), up);
    EXPECT_EQ(square.FindNearestPointOnLine(sse(p), false), down);
    EXPECT_EQ(square.FindNearestPointOnLineX(sse(p), true), right);
    EXPECT_EQ(square.FindNearestPointOnLineX(sse(p), false), rightOpen);
  }
  for (const auto& [a, b, r, expected] :
       {std::tuple{CbVector3f(-5, 5, 0), CbVector3f(-1, 5, 0), 5.5f, false},  // the corners lie beyond b
        {CbVector3f(-5, 5, 0), CbVector3f(0, 5, 0), 5.5f, true},              // (0, 0) at the end of the band
        {CbVector3f(-5, 5, 0), CbVector3f(0, 5, 0), 5.0f, false},  // ... and exactly on its open side
        {CbVector3f(12, -1, 0), CbVector3f(-1, 12, 0), 0.5f, false},
        {CbVector3f(12, -1, 0), CbVector3f(-1, 12, 0), 1.0f, true},
        {CbVector3f(3, 3, 0), CbVector3f(3, 3, 7), 0.0f, true}})  // a zero-length segment
    EXPECT_EQ(square.IntersectsPolygonWithCylinderXYPlane(a, b, r), expected) << r;
}

TEST(PolygonQueries, InsideTestsOnIntegerGrids) {
  CSSE3dPolygon unit = polygonOf(square());
  for (auto [q, status] : {std::pair{Pt{0.5f, 0.5f}, CSSE3dPolygon::ePointInside},
                           {Pt{0, 0}, CSSE3dPolygon::ePointOnVertex},
                           {Pt{0.5f, 0}, CSSE3dPolygon::ePointOnEdge},
                           {Pt{2, 2}, CSSE3dPolygon::ePointOutside}})
    EXPECT_EQ(unit.PointStatusWithRespectToPolygon(sse(q)), status) << q;
  EXPECT_EQ(CSSE3dPolygon().PointStatusWithRespectToPolygon(SSEPoint()), CSSE3dPolygon::ePointOutside);
  for (int trial = 0; trial < 40; ++trial) {
    SCOPED_TRACE(trial);
    // Star rings (simple) and random rings (self-crossing) on integers.
    Ring ring = randomRing(7, trial, -9, 9, true);
    if (trial % 2) {
      ring.clear();
      for (Pt v : star(5 + trial, trial, 12.0f))
        if (v = {std::round(v.x), std::round(v.y)}; ring.empty() || !(v == ring.back())) ring.push_back(v);
    }
    const int n = int(ring.size());
    CSSE3dPolygon p = polygonOf(ring);
    t_resolutiondata res{{2.0f, 2.0f, 1.0f}};
    p.NormalizeXYZ(res);
    const int step = 1 + trial % 3;
    const bool boxed = trial % 4 == 3;
    // The thinned ring: n - 1, then 0, step, ... (index <= n - step), closed back to n - 1 when step >= 2;
    // with the rectangle, outside vertices drop out.
    const Pt lo{-6, -7}, hi{8, 5};
    Ring thinned = {ring[n - 1]};
    for (int i = 0; i <= n - step; i += step)
      if (!boxed || (lo.x <= ring[i].x && ring[i].x <= hi.x && lo.y <= ring[i].y && ring[i].y <= hi.y))
        thinned.push_back(ring[i]);
    if (step >= 2) thinned.push_back(ring[n - 1]);
    Pt min{1e9f, 1e9f}, max{-1e9f, -1e9f};
    for (const Pt& v : ring)
      min = {std::min(min.x, v.x), std::min(min.y, v.y)}, max = {std::max(max.x, v.x), std::max(max.y, v.y)};
    for (int y = -14; y <= 14; ++y)
      for (int x = -14; x <= 14; ++x) {
        SCOPED_TRACE(testing::Message() << x << ", " << y);
        const Pt q{float(x), float(y)};
        const bool inBox = min.x <= x && x <= max.x && min.y <= y && y <= max.y;
        const bool odd = inside(thinned, q.x, q.y, false);
        if (boxed) {
          EXPECT_EQ(p.PointInLineInnerAreaBoxed(q.x, q.y, lo.x, lo.y, hi.x, hi.y, step), inBox && odd);
        } else {
          EXPECT_EQ(p.PointInLineInnerArea(q.x, q.y, step), inBox && odd);
          EXPECT_EQ(p.PointInLineInnerAreaNormalized(2 * q.x, 2 * q.y, step), odd);
        }
        // The status against exact vertex, edge and parity answers. Where two edges of a self-crossing ring
        // meet the parity is that of a point off the ring; such points are left out.
        bool onVertex = false;
        int onEdges = 0;
        for (int i = 0; i < n; ++i) {
          onVertex = onVertex || ring[i] == q;
          onEdges += onSegment(ring[i], ring[(i + 1) % n], q);
        }
        if (!onVertex && onEdges > 1) continue;
        const auto status = onVertex                 ? CSSE3dPolygon::ePointOnVertex
                            : onEdges == 1           ? CSSE3dPolygon::ePointOnEdge
                            : inside(ring, q.x, q.y) ? CSSE3dPolygon::ePointInside
                                                     : CSSE3dPolygon::ePointOutside;
        EXPECT_EQ(p.PointStatusWithRespectToPolygon(sse(q)), status);
      }
  }
}

TEST(PolygonQueries, PolygonInPolygon) {
  CSSE3dPolygon big = polygonOf(rect(0, 0, 10, 10)), empty;
  CSSE3dPolygon small = polygonOf({{2, 2}, {5, 2}, {5, 5}}), across = polygonOf({{2, 2}, {12, 2}, {5, 5}});
  CSSE3dPolygon justOut = polygonOf({{2, 2}, {10.5f, 0.2f}, {5, 5}});
  t_resolutiondata one;
  big.NormalizeXYZ(one);
  EXPECT_TRUE(big.PolygonInThisPolygon(small));
  EXPECT_FALSE(big.PolygonInThisPolygon(across));
  EXPECT_FALSE(big.PolygonInThisPolygon(empty));
  EXPECT_FALSE(empty.PolygonInThisPolygon(small));
  // (10.5, 0.2) is 0.54 from the corner (10, 0): passes with delta 0.6, not 0.5.
  EXPECT_TRUE(big.PolygonInThisPolygonWithDeltaDistance(justOut, 0.6f));
  EXPECT_FALSE(big.PolygonInThisPolygonWithDeltaDistance(justOut, 0.5f));
  EXPECT_FALSE(big.PolygonInThisPolygonWithDeltaDistance(across, 0.6f));
}

TEST(PolygonQueries, ClipByCircleAndLine) {
  EXPECT_EQ(after({{3, 4, 7}, {6, 8, 7}, {-1, 0, 2}},
                  [](CSSE3dPolygon& p) { p.IntersectPolygonAreaWithCircle(5.0f); }),
            (Ring{{3, 4, 7}, {3, 4, 0}, {-1, 0, 2}}));
  const Ring sq = {{0, 0, 1}, {10, 0, 2}, {10, 10, 3}, {0, 10, 4}};
  // The line through a and b cuts, the side point's half stays.
  for (auto [a, b, side, expected] :
       {std::tuple{Pt{5, 4}, Pt{5, 6}, Pt{0, 5}, Ring{{0, 0, 1}, {5, 0}, {5, 10}, {0, 10, 4}}},
        {Pt{5, 4}, Pt{5, 6}, Pt{9, 5}, Ring{{10, 0, 2}, {10, 10, 3}, {5, 10}, {5, 0}}},
        {Pt{8, 10}, Pt{10, 8}, Pt{0, 0}, Ring{{0, 0, 1}, {10, 0, 2}, {10, 8}, {8, 10}, {0, 10, 4}}},
        {Pt{-1, 0}, Pt{-1, 1}, Pt{5, 5}, sq},
        {Pt{-1, 0}, Pt{-1, 1}, Pt{-5, 5}, sq},
        {Pt{3, 3}, Pt{3, 3}, Pt{-5, 5}, sq}}) {
    const SSEPoint sa = sse(a), sb = sse(b), ss = sse(side);
    EXPECT_EQ(after(sq, [&](CSSE3dPolygon& p) { p.IntersectPolygonAreaWithLine(sa, sb, ss); }), expected)
        << a << b;
  }
  // Random rings and lines: each half lies on its side, together they keep the area.
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(-30.0f, 30.0f);
  for (int trial = 0; trial < 50; ++trial) {
    SCOPED_TRACE(trial);
    const Ring ring = star(30, 100 + trial, 25.0f);
    const Pt a{u(rng), u(rng)}, b{u(rng), u(rng)};
    const double nx = -(b.y - a.y), ny = b.x - a.x;
    const auto side = [&](const Pt& q) { return ((q.x - a.x) * nx + (q.y - a.y) * ny) / std::hypot(nx, ny); };
    const auto cut = [&](double sign) {
      return after(ring, [&](CSSE3dPolygon& p) {
        p.IntersectPolygonAreaWithLine(sse(a), sse(b), {a.x + float(sign * nx), a.y + float(sign * ny), 0});
      });
    };
    const auto [lo, hi] =
        std::minmax_element(ring.begin(), ring.end(), [&](auto& p, auto& q) { return side(p) < side(q); });
    if (side(*lo) >= 0 || side(*hi) < 0) continue;  // one side keeps nothing and stays unchanged
    const Ring left = cut(1), right = cut(-1);
    for (const Pt& q : left) EXPECT_GE(side(q), -1e-3);
    for (const Pt& q : right) EXPECT_LE(side(q), 1e-3);
    EXPECT_NEAR(area2(left) + area2(right), area2(ring), 1e-3 * std::fabs(area2(ring)));
  }
}
