#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "orvik/chain/PixelChain.h"
#include "orvik/foundation/Exception.h"
#include "orvik/polygon/SSE2dPolygon.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "support/polygons.h"

using namespace testpolygons;

TEST(PolygonCore, StorageCopiesAndAppending) {
  CSSE3dPolygon p;
  for (auto [n, capacity] : {std::pair{0, 0}, {1, 4}, {5, 8}, {8, 8}, {9, 12}}) {
    p.Create(n);
    EXPECT_EQ(p.GetCapacity(), capacity) << n;
  }
  p = polygonOf(square());
  EXPECT_THROW(p.Create(-1), CbException);
  EXPECT_EQ(p.GetNumPoints(), 0);
  // Copies are deep, take the normalized points, and start with a stale box.
  const Ring pts = randomRing(7, 1, -50, 50), more = randomRing(6, 3, -10, 10);
  CSSE3dPolygon a = polygonOf(pts);
  a.SetPointNormalized(3, 7, 8, 9);
  a.CalcBoundingBox();
  CSSE3dPolygon b(a), c;
  a.SetPoint(0, 99, 99, 99);
  b = b;  // NOLINT: self-assignment keeps the points
  c.CreateSimilar(&a);
  float nx = 0, ny = 0, nz = 0;
  b.GetPointNormalized(3, nx, ny, nz);
  EXPECT_EQ(pointsOf(b), pts);
  EXPECT_EQ(nx + ny + nz, 24.0f);
  EXPECT_FALSE(b.IsBoundingBoxCalculated());
  EXPECT_EQ(pointsOf(c), pointsOf(a));
  // Appending, the polygon to itself included; an empty tail keeps the box.
  const auto joined = [](Ring r, const Ring& s) { return r.insert(r.end(), s.begin(), s.end()), r; };
  for (const auto& [first, second] : {std::pair{pts, more}, {Ring{}, more}, {pts, Ring{}}}) {
    CSSE3dPolygon q = polygonOf(first), r = polygonOf(second);
    q.CalcBoundingBox();
    q.AppendPoints(r);
    EXPECT_EQ(pointsOf(q), joined(first, second));
    EXPECT_EQ(q.IsBoundingBoxCalculated(), second.empty());
  }
  EXPECT_EQ(after(pts, [](CSSE3dPolygon& q) { q.AppendPoints(q); }), joined(pts, pts));

  // From a pixel chain: pixels 0, step, ... up to 10 - step; step 1 for steps below 1.
  CPixelChain chain;
  for (int i = 0; i < 10; ++i) chain.AddPoint(i, 100 - i, 5.0f);
  for (int step : {3, 1, -4, 5, 10, 11}) {
    Ring expected;
    for (int i = 0; i <= 10 - std::max(step, 1); i += std::max(step, 1))
      expected.push_back({float(i), float(100 - i)});
    EXPECT_EQ(pointsOf(CSSE3dPolygon(chain, step)), expected) << step;
  }
}

TEST(PolygonCore, PointAccessOutOfRangeAndWrapped) {
  CSSE3dPolygon p = polygonOf({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
  p.CalcBoundingBox();
  for (int i : {-1, 3, std::numeric_limits<int>::min()}) {
    float x = -7, y = -7, z = -7;
    p.GetPoint(i, x, y, z);
    SSEPoint s(9, 9, 9, 9);
    p.GetPointSSE(i, s);
    p.SetPoint(i, 0, 0, 0);
    EXPECT_EQ(x + y + z, -21.0f) << i;
    EXPECT_EQ(s.x + s.y + s.z + s.w, 0.0f) << i;
    EXPECT_TRUE(p.IsBoundingBoxCalculated());
  }
  // Closed keeps the sign of the remainder; modulo wraps from the end.
  for (auto [i, closedX, moduloX] : {std::tuple{-1, 0, 7}, {-3, 1, 1}, {-2, 0, 4}, {4, 4, 4}, {8, 7, 7}}) {
    SSEPoint s;
    p.GetPointSSEClosed(i, s);
    EXPECT_EQ(s.x, float(closedX)) << i;
    p.GetPointSSEModulo(i, s);
    EXPECT_EQ(s.x, float(moduloX)) << i;
  }
  SSEPoint s(1, 1, 1, 1);
  CSSE3dPolygon().GetPointSSEModulo(-1, s);
  EXPECT_EQ(s.x + s.y + s.z + s.w, 0.0f);
  // Argument order of the mixed forms.
  p.SetPointZY(1, 60, 50);
  p.SetPointXZ(2, 70, 90);
  EXPECT_EQ(pointsOf(p), (Ring{{1, 2, 3}, {4, 50, 60}, {70, 8, 90}}));
  EXPECT_FALSE(p.IsBoundingBoxCalculated());
}

TEST(PolygonCore, MeasuresAgainstDoubleSums) {
  for (auto [pts, area, closed, open] : {std::tuple{square(), 1.0f, 4.0f, 3.0f},
                                         {reversed(square()), -1.0f, 4.0f, 3.0f},
                                         {Ring{}, 0.0f, 0.0f, 0.0f},
                                         {Ring{{0, 0}, {3, 4}}, 0.0f, 10.0f, 5.0f}}) {
    CSSE3dPolygon p = polygonOf(pts);
    EXPECT_EQ(p.CalcXYArea(), 2 * area);
    EXPECT_EQ(p.CalcCircumference(), closed);
    EXPECT_EQ(p.CalcCircumferenceOpen(), open);
  }
  // Every remainder of the four-point blocks, and one long ring.
  for (int n : {3, 4, 5, 6, 7, 8, 9, 13, 100003}) {
    SCOPED_TRACE(n);
    const Ring pts = randomRing(n, n, -1000, 1000);
    CSSE3dPolygon p = polygonOf(pts);
    const auto shoelace = [&](float Pt::*a, float Pt::*b) {
      double s = 0, magnitude = 0;
      for (int i = 0; i < n; ++i) {
        const double t =
            double(pts[i].*a) * (pts[(i + 1) % n].*b) - double(pts[(i + 1) % n].*a) * (pts[i].*b);
        s += t, magnitude += std::fabs(t);
      }
      return std::pair{s, 1e-6 * magnitude + 1e-3};
    };
    for (auto [got, want] : {std::pair{p.CalcXYArea(), shoelace(&Pt::x, &Pt::y)},
                             {p.CalcXZArea(), shoelace(&Pt::x, &Pt::z)},
                             {p.CalcYZArea(), shoelace(&Pt::y, &Pt::z)}})
      EXPECT_NEAR(got, want.first, want.second);
    double open = 0, closed = 0, cx = 0;
    Pt lo{1e6f, 1e6f, 1e6f}, hi{-1e6f, -1e6f, -1e6f};
    for (int i = 0; i < n; ++i) {
      const Pt &u = pts[i], &v = pts[(i + 1) % n];
      closed += std::sqrt(std::pow(double(v.x) - u.x, 2) + std::pow(double(v.y) - u.y, 2) +
                          std::pow(double(v.z) - u.z, 2));
      open = i + 2 == n ? closed : open;
      lo = {std::min(lo.x, u.x), std::min(lo.y, u.y), std::min(lo.z, u.z)};
      hi = {std::max(hi.x, u.x), std::max(hi.y, u.y), std::max(hi.z, u.z)};
      cx += u.x;
    }
    EXPECT_NEAR(p.CalcCircumferenceOpen(), open, 1e-6 * open);
    EXPECT_NEAR(p.CalcCircumference(), closed, 1e-6 * closed);
    p.CalcBoundingBox();
    p.CalcGeometricCenter();
    const SSEPoint bl = p.GetBottomLeft(), tr = p.GetTopRight();
    EXPECT_EQ((Ring{{bl.x, bl.y, bl.z}, {tr.x, tr.y, tr.z}}), (Ring{lo, hi}));
    EXPECT_EQ(bl.w + tr.w, 0.0f);
    SSEPoint c;
    p.GetGeometricCenter(c);
    EXPECT_NEAR(c.x, cx / n, 1e-3);
  }
}

TEST(PolygonCore, BoundingBoxCacheAndLimits) {
  CSSE3dPolygon p = polygonOf({{2e6f, -3.7f, 1}, {3e6f, 5.9f, -2}, {1.5e6f, 0.5f, 0}});
  p.CalcBoundingBox();
  EXPECT_EQ(p.GetBottomLeft().x, 1e6f);  // the start value limits the box
  int x0, y0, x1, y1;
  p.GetBoundingBox2D(x0, y0, x1, y1);
  EXPECT_EQ(std::pair(y0, y1), std::pair(-3, 5));  // truncated toward zero
  p.SetPointY(0, -50.0f);
  EXPECT_EQ(p.GetBottomLeft().y, -3.7f);  // the cache stands until recalculated
  float lx, ly, lz, hx, hy, hz;
  p.GetBoundingBox3D(lx, ly, lz, hx, hy, hz);
  EXPECT_EQ(ly, -50.0f);
  // NaN coordinates are passed over, wherever they fall in a block.
  for (int at = 0; at < 6; ++at) {
    Ring pts = randomRing(6, 9, -10, 10);
    pts[at].x = NAN;
    float lo = 1e6f;
    for (int i = 0; i < 6; ++i)
      if (i != at) lo = std::min(lo, pts[i].x);
    CSSE3dPolygon q = polygonOf(pts);
    q.CalcBoundingBox();
    EXPECT_EQ(q.GetBottomLeft().x, lo) << at;
  }
  CSSE3dPolygon empty;
  empty.ShiftLine(1, 1, 1);
  EXPECT_EQ(empty.GetTopRight().y, -1e6f);
  SSEPoint c(5, 5, 5, 5);
  empty.CalcGeometricCenter();
  empty.GetGeometricCenter(c);
  EXPECT_EQ(c.x + c.y + c.z + c.w, 0.0f);
}

TEST(PolygonCore, NormalizeShiftAndReorder) {
  const Ring pts = randomRing(5, 6, -10, 10);
  CSSE3dPolygon p = polygonOf(pts);
  t_resolutiondata res{{0.5f, 2.0f, -1.0f}};
  p.NormalizeXYZ(res);
  p.ShiftLine(1, -2, 3);
  for (int i = 0; i < 5; ++i) {
    float x = 0, y = 0, z = 0;
    p.GetPointNormalized(i, x, y, z);
    EXPECT_EQ((Pt{x, y, z}), (Pt{pts[i].x * 0.5f, pts[i].y * 2.0f, -pts[i].z}));
    EXPECT_EQ(pointsOf(p)[i], (Pt{pts[i].x + 1, pts[i].y - 2, pts[i].z + 3}));
  }
  for (int k = -11; k <= 11; ++k) {
    std::vector<int> ids = {10, 11, 12, 13, 14}, expected;
    const int s = ((k % 5) + 5) % 5;
    for (int i = 0; i < 5; ++i) expected.push_back(10 + (s + i) % 5);
    EXPECT_EQ(after(pts, [&](CSSE3dPolygon& q) { q.ChangeStartPoint(k, ids.data()); }), rotated(pts, s)) << k;
    EXPECT_EQ(after(pts, [&](CSSE3dPolygon& q) { q.RotatePolygonIndices(k); }), rotated(pts, s)) << k;
    EXPECT_EQ(ids, expected);
  }
  EXPECT_EQ(after(pts, [](CSSE3dPolygon& q) { q.InvertPolygonDirection(); }), reversed(pts));
}

TEST(PolygonCore, InterpolateZ) {
  const Ring pts = randomRing(11, 5, -10, 10);
  CSSE3dPolygon p = polygonOf(pts);
  const auto brute = [&](float x, float y, int step, bool power2) {
    double sz = 0, sw = 0;
    for (int i = 0; i < 11 - step + 1; i += step) {
      const double d2 = double(pts[i].x - x) * (pts[i].x - x) + double(pts[i].y - y) * (pts[i].y - y);
      const double w = power2 ? 1 / d2 : 1 / std::sqrt(d2);
      sz += pts[i].z * w, sw += w;
    }
    return sz / sw;
  };
  for (int step : {1, 2, 3, 5}) {
    SCOPED_TRACE(step);
    EXPECT_NEAR(p.InterpolateZ(0.3f, -0.7f, step, 1e-6f), brute(0.3f, -0.7f, step, true), 1e-4);
    EXPECT_NEAR(p.InterpolateZLow(0.3f, -0.7f, step, 1e-6f), brute(0.3f, -0.7f, step, false), 1e-4);
    // Within sqrt(eps) of an examined point: that point's height exactly.
    EXPECT_EQ(p.InterpolateZ(pts[step].x + 0.05f, pts[step].y, step, 0.01f), pts[step].z);
    EXPECT_EQ(p.InterpolateZLow(pts[step].x, pts[step].y - 0.05f, step, 0.01f), pts[step].z);
  }
  EXPECT_EQ(p.InterpolateZ(1, 1, -5, 0), p.InterpolateZ(1, 1, 1, 0));
  EXPECT_TRUE(std::isnan(p.InterpolateZ(1, 1, 12, 0)));  // no point examined
}

TEST(PolygonCore, HeightFilters) {
  const Ring pts = {{0, 1, 3}, {1, 2, 9}, {2, 3, 6}, {3, 4, 0}, {4, 5, 12}};
  // The running mean uses the values already filtered, the ring closes.
  const float z3 = 16.0f / 3.0f, z4 = (z3 + 12.0f + 3.0f) / 3.0f, z0 = (z4 + 3.0f + 6.0f) / 3.0f;
  for (auto [filter, z] : {std::pair{&CSSE3dPolygon::FilterZValues, std::vector<float>{z0, 6, 4, z3, z4}},
                           {&CSSE3dPolygon::FilterMedian3, {9, 6, 6, 6, 3}},
                           {&CSSE3dPolygon::FilterMaximum3, {12, 9, 9, 12, 12}},
                           {&CSSE3dPolygon::FilterMinimum3, {3, 3, 0, 0, 0}},
                           {&CSSE3dPolygon::AdaptToHighestZValue, {12, 12, 12, 12, 12}},
                           {&CSSE3dPolygon::AdaptToLowestZValue, {0, 0, 0, 0, 0}}}) {
    const Ring got = after(pts, [f = filter](CSSE3dPolygon& p) { (p.*f)(); });
    for (std::size_t i = 0; i < pts.size(); ++i) {
      EXPECT_EQ(got[i].x + got[i].y, pts[i].x + pts[i].y);
      EXPECT_FLOAT_EQ(got[i].z, z[i]) << i;
    }
  }
  // Noise is the library's own generator: rand() stays untouched. Its first outputs from seed 43211 are
  // 10075, 3475.
  std::srand(5);
  const int expectedRand = std::rand();
  std::srand(5);
  const Ring noisy = after(pts, [](CSSE3dPolygon& p) { p.AddNoiseXY(2.0f); });
  EXPECT_EQ(std::rand(), expectedRand);
  EXPECT_EQ(after(pts, [](CSSE3dPolygon& p) { p.AddNoiseXY(2.0f); }), noisy);
  EXPECT_EQ(noisy[0],
            (Pt{float(10075 - 16383) / 32767.0f * 2.0f, 1 + float(3475 - 16383) / 32767.0f * 2.0f, 3}));
}

TEST(PolygonCore, PairingTwoPolygons) {
  const Ring a = {{0, 0, 0}, {4, 0, 4}, {4, 4, 8}, {0, 4, 4}};
  CSSE3dPolygon p = polygonOf(a), q = polygonOf({{2, 2, 2}, {6, 2, 2}});
  p.MoveTowardsPolygon(&q, 0.25f);
  EXPECT_EQ(pointsOf(p), (Ring{{0.5f, 0.5f, 0.5f}, {4.5f, 0.5f, 3.5f}, {3, 3, 6}, {0, 3, 3}}));
  Ring eight;
  for (int i = 0; i < 8; ++i) eight.push_back({float(i), float(i * i), 1});
  for (bool fewerIsThis : {true, false}) {
    CSSE3dPolygon four = polygonOf(a), many = polygonOf(eight);
    fewerIsThis ? four.AdaptPolygons(&many) : many.AdaptPolygons(&four);
    EXPECT_EQ(pointsOf(many), eight);
    // Corners at even places, edge midpoints at odd ones.
    EXPECT_EQ(pointsOf(four),
              (Ring{{0, 0, 0}, {2, 0, 2}, {4, 0, 4}, {4, 2, 6}, {4, 4, 8}, {2, 4, 6}, {0, 4, 4}, {0, 2, 2}}));
  }
  CSSE3dPolygon five = polygonOf(a), seven = polygonOf(randomRing(7, 1, -5, 5)), empty;
  five.AdaptPolygons(&seven);
  for (const Pt& v : pointsOf(five)) EXPECT_LT(distanceToRing(a, v.x, v.y), 1e-6);
  five.AdaptPolygons(&empty);
  EXPECT_EQ(five.GetNumPoints(), 7);
  // The start moves to the vertex nearest the other's first point, or the nearer end of the edge it lies on.
  const Ring ring = rect(0, 0, 10, 10);
  for (auto [first, start] :
       {std::pair{Pt{9.5f, 9.8f}, 2}, {Pt{10, 7}, 2}, {Pt{10, 3}, 1}, {Pt{0, 1}, 0}, {Pt{0, 9}, 3}}) {
    CSSE3dPolygon r = polygonOf(ring), other = polygonOf({first, {50, 50}});
    std::vector<int> map = {10, 11, 12, 13};
    r.FindClosedStartPointAndChange(&other, map.data());
    EXPECT_EQ(pointsOf(r), rotated(ring, start)) << first;
    EXPECT_EQ(map[0], 10 + start);
  }
}

TEST(Polygon2d, PointsAndQueries) {
  CSSE2dPolygon p;
  EXPECT_EQ(p.ClosestPointX(0), -1);
  EXPECT_EQ(p.GetMinEuclDistance(0, 0), 1e6f);
  EXPECT_THROW(p.Create(-2), CbException);
  p.Create(6);
  const float xs[6] = {5, 1, 3, 0.5f, 3, 9}, ys[6] = {0, 0, 2, 2, 4, 4};
  for (int i = 0; i < 6; ++i) p.SetPoint(i, xs[i], ys[i]);
  p.SetPoint(6, 100, 100);
  t_h2dpoint q{-1, -1};
  p.GetPoint(6, q);
  EXPECT_EQ(q.x, -1.0f);
  // Only even indices below n - 1 count (0, 2, 4); ties go to the first.
  for (auto [v, x, y] :
       {std::tuple{0.6f, 2, 0}, {9.0f, 0, 4}, {3.0f, 2, 2}, {-20.0f, 2, 0}, {2e7f, -1, -1}}) {
    EXPECT_EQ(p.ClosestPointX(v), x) << v;
    EXPECT_EQ(p.ClosestPointY(v), y) << v;
  }
  CSSE2dPolygon copy(p);
  p.Free();
  EXPECT_EQ(copy.GetNumPoints(), 6);
  CSSE2dPolygon two;
  two.Create(2);
  EXPECT_EQ(two.CalcArea(), 0.0);
}
