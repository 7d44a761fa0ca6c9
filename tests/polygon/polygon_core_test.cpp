#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "orvik/chain/PixelChain.h"
#include "orvik/foundation/Exception.h"
#include "orvik/polygon/SSE2dPolygon.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "polygon/polygon_points.h"

namespace {

using namespace polytest;

const std::vector<P3> c_square = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};

}  // namespace

TEST(PolygonCore, LifetimeAndCopies) {
  CSSE3dPolygon p;
  EXPECT_EQ(p.GetNumPoints(), 0);
  EXPECT_FALSE(p.IsBoundingBoxCalculated());
  for (auto [n, capacity] : {std::pair{0, 0}, {1, 4}, {5, 8}, {8, 8}, {9, 12}}) {
    p.Create(n);
    EXPECT_EQ(p.GetNumPoints(), n);
    EXPECT_EQ(p.GetCapacity(), capacity);
  }
  p = polygonOf(c_square);
  EXPECT_THROW(p.Create(-1), CbException);
  EXPECT_EQ(p.GetNumPoints(), 0);

  const std::vector<P3> pts = randomPoints(7, 1, 50.0f);
  CSSE3dPolygon a = polygonOf(pts);
  a.SetPointNormalized(3, 7, 8, 9);
  a.CalcBoundingBox();
  a.CalcGeometricCenter();
  // The copy is deep, takes the normalized points and the cached values, and
  // starts with a stale box.
  CSSE3dPolygon b(a);
  a.SetPoint(0, 99, 99, 99);
  EXPECT_TRUE(same(pointsOf(b), pts));
  float nx = 0, ny = 0, nz = 0;
  b.GetPointNormalized(3, nx, ny, nz);
  EXPECT_EQ(nx + ny + nz, 24.0f);
  EXPECT_FALSE(b.IsBoundingBoxCalculated());
  SSEPoint ca, cb;
  a.GetGeometricCenter(ca);
  b.GetGeometricCenter(cb);
  EXPECT_EQ(ca.x, cb.x);
  EXPECT_EQ(a.GetTopRight().y, b.GetTopRight().y);

  b = b;  // NOLINT: self-assignment is part of the contract
  EXPECT_TRUE(same(pointsOf(b), pts));
  b = a;
  EXPECT_EQ(pointsOf(b)[0].x, 99.0f);

  CSSE3dPolygon c;
  b.SetPoint(0, 1, 2, 3);
  b.CalcBoundingBox();
  c.CreateSimilar(&b);
  EXPECT_TRUE(same(pointsOf(c), pointsOf(b)));
  EXPECT_TRUE(c.IsBoundingBoxCalculated());
  EXPECT_EQ(c.GetBottomLeft().x, b.GetBottomLeft().x);
  c.CreateSimilar(&c);
  EXPECT_TRUE(same(pointsOf(c), pointsOf(b)));
}

TEST(PolygonCore, AppendPoints) {
  const std::vector<P3> a = randomPoints(5, 2, 10.0f), b = randomPoints(6, 3, 10.0f);
  struct Case {
    const char* name;
    std::vector<P3> first, second;
  };
  for (const Case& c : {Case{"both", a, b}, Case{"empty first", {}, b}, Case{"empty second", a, {}}}) {
    SCOPED_TRACE(c.name);
    CSSE3dPolygon p = polygonOf(c.first), q = polygonOf(c.second);
    p.CalcBoundingBox();
    p.AppendPoints(q);
    std::vector<P3> expected = c.first;
    expected.insert(expected.end(), c.second.begin(), c.second.end());
    EXPECT_TRUE(same(pointsOf(p), expected));
    EXPECT_EQ(p.IsBoundingBoxCalculated(), c.second.empty());
  }
  CSSE3dPolygon p = polygonOf(a);
  p.AppendPoints(p);
  std::vector<P3> twice = a;
  twice.insert(twice.end(), a.begin(), a.end());
  EXPECT_TRUE(same(pointsOf(p), twice));
}

TEST(PolygonCore, FromPixelChain) {
  CPixelChain chain;
  for (int i = 0; i < 10; ++i) chain.AddPoint(i, 100 - i, 5.0f);
  struct Case {
    int step;
    std::vector<int> pixels;
  };
  const Case cases[] = {{3, {0, 3, 6}}, {1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}}, {-4, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
                        {5, {0, 5}},    {10, {0}},                            {11, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    CSSE3dPolygon p(chain, c.step);
    std::vector<P3> expected;
    for (int i : c.pixels) expected.push_back({float(i), float(100 - i), 0.0f});
    EXPECT_TRUE(same(pointsOf(p), expected));
  }
  CPixelChain none;
  EXPECT_EQ(CSSE3dPolygon(none, 1).GetNumPoints(), 0);
}

TEST(PolygonCore, PointAccessOutOfRangeAndWrapped) {
  CSSE3dPolygon p = polygonOf({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
  p.CalcBoundingBox();
  for (int i : {-1, 3, std::numeric_limits<int>::min()}) {
    SCOPED_TRACE(i);
    float x = -7, y = -7, z = -7;
    p.GetPoint(i, x, y, z);
    p.GetPointXY(i, x, y);
    p.GetPointZ(i, z);
    p.GetPointNormalized(i, x, y, z);
    EXPECT_EQ(x + y + z, -21.0f);
    SSEPoint s(9, 9, 9, 9);
    p.GetPointSSE(i, s);
    EXPECT_EQ(s.x + s.y + s.z + s.w, 0.0f);
    s = SSEPoint(9, 9, 9, 9);
    p.GetPointNormalizedSSE(i, s);
    EXPECT_EQ(s.x, 9.0f);
    p.SetPoint(i, 0, 0, 0);
    p.SetPointX(i, 0);
    EXPECT_TRUE(p.IsBoundingBoxCalculated());
  }
  // Closed keeps the sign of the remainder; modulo wraps from the end.
  struct Case {
    int i;
    float closedX, moduloX;
  };
  for (const Case& c : {Case{-1, 0, 7}, Case{-3, 1, 1}, Case{-2, 0, 4}, Case{-4, 0, 7}, Case{4, 4, 4}, Case{8, 7, 7}}) {
    SCOPED_TRACE(c.i);
    SSEPoint s;
    p.GetPointSSEClosed(c.i, s);
    EXPECT_EQ(s.x, c.closedX);
    p.GetPointSSEModulo(c.i, s);
    EXPECT_EQ(s.x, c.moduloX);
    EXPECT_EQ(s.w, 0.0f);
  }
  CSSE3dPolygon empty;
  SSEPoint s(1, 1, 1, 1);
  empty.GetPointSSEModulo(-1, s);
  EXPECT_EQ(s.x + s.y + s.z + s.w, 0.0f);
  s = SSEPoint(1, 1, 1, 1);
  empty.GetPointSSEClosed(2, s);
  EXPECT_EQ(s.x + s.y + s.z + s.w, 0.0f);

  // Argument order of the mixed forms, and every setter marks the box stale.
  p.SetPointZY(1, 60, 50);
  float z = 0, y = 0, x = 0;
  p.GetPointZY(1, z, y);
  EXPECT_EQ(z, 60.0f);
  EXPECT_EQ(y, 50.0f);
  p.SetPointXZ(2, 70, 90);
  p.GetPointXZ(2, x, z);
  EXPECT_EQ(x, 70.0f);
  EXPECT_EQ(z, 90.0f);
  SSEPoint q;
  p.GetPointXYSSE(2, q);
  EXPECT_EQ(q.z, 0.0f);
  EXPECT_EQ(q.y, 8.0f);
  EXPECT_FALSE(p.IsBoundingBoxCalculated());
  p.CalcBoundingBox();
  p.SetPointNormalizedSSE(0, SSEPoint(1, 2, 3));
  EXPECT_FALSE(p.IsBoundingBoxCalculated());
}

TEST(PolygonCore, MeasuresAgainstDoubleSums) {
  const std::vector<P3> square = c_square;
  std::vector<P3> reversed(square.rbegin(), square.rend());
  struct Known {
    std::vector<P3> pts;
    float area, closed, open;
  };
  for (const Known& k : {Known{square, 2, 4, 3}, Known{reversed, -2, 4, 3}, Known{{}, 0, 0, 0},
                         Known{{{3, 4, 5}}, 0, 0, 0}, Known{{{0, 0, 0}, {3, 4, 0}}, 0, 10, 5}}) {
    CSSE3dPolygon p = polygonOf(k.pts);
    EXPECT_EQ(p.CalcXYArea(), k.area);
    EXPECT_EQ(p.CalcCircumference(), k.closed);
    EXPECT_EQ(p.CalcCircumferenceOpen(), k.open);
  }

  for (int n : {3, 4, 5, 7, 8, 9, 13, 100, 1001, 100003}) {
    SCOPED_TRACE(n);
    const std::vector<P3> pts = randomPoints(n, n, 1000.0f);
    const CSSE3dPolygon p = polygonOf(pts);
    const auto shoelace = [&](float P3::*a, float P3::*b) {
      double s = 0, magnitude = 0;
      for (int i = 0; i < n; ++i) {
        const P3 &u = pts[i], &v = pts[(i + 1) % n];
        const double t = double(u.*a) * (v.*b) - double(v.*a) * (u.*b);
        s += t;
        magnitude += std::fabs(t);
      }
      return std::pair{s, magnitude};
    };
    const auto checkArea = [](float got, std::pair<double, double> want) {
      EXPECT_NEAR(got, want.first, 1e-6 * want.second + 1e-3);
    };
    checkArea(p.CalcXYArea(), shoelace(&P3::x, &P3::y));
    checkArea(p.CalcXZArea(), shoelace(&P3::x, &P3::z));
    checkArea(p.CalcYZArea(), shoelace(&P3::y, &P3::z));
    double open = 0;
    for (int i = 0; i + 1 < n; ++i)
      open += std::sqrt(std::pow(double(pts[i + 1].x) - pts[i].x, 2) + std::pow(double(pts[i + 1].y) - pts[i].y, 2) +
                        std::pow(double(pts[i + 1].z) - pts[i].z, 2));
    const double last = std::sqrt(std::pow(double(pts[0].x) - pts[n - 1].x, 2) +
                                  std::pow(double(pts[0].y) - pts[n - 1].y, 2) +
                                  std::pow(double(pts[0].z) - pts[n - 1].z, 2));
    EXPECT_NEAR(p.CalcCircumferenceOpen(), open, 1e-6 * open);
    EXPECT_NEAR(p.CalcCircumference(), open + last, 1e-6 * (open + last));

    CSSE3dPolygon q(p);
    q.CalcBoundingBox();
    q.CalcGeometricCenter();
    P3 lo{1e6f, 1e6f, 1e6f}, hi{-1e6f, -1e6f, -1e6f};
    double cx = 0, cy = 0, cz = 0;
    for (const P3& v : pts) {
      lo = {std::min(lo.x, v.x), std::min(lo.y, v.y), std::min(lo.z, v.z)};
      hi = {std::max(hi.x, v.x), std::max(hi.y, v.y), std::max(hi.z, v.z)};
      cx += v.x, cy += v.y, cz += v.z;
    }
    const SSEPoint bl = q.GetBottomLeft(), tr = q.GetTopRight();
    EXPECT_TRUE(bl.x == lo.x && bl.y == lo.y && bl.z == lo.z && bl.w == 0);
    EXPECT_TRUE(tr.x == hi.x && tr.y == hi.y && tr.z == hi.z && tr.w == 0);
    SSEPoint c;
    q.GetGeometricCenter(c);
    EXPECT_NEAR(c.x, cx / n, 1e-3);
    EXPECT_NEAR(c.y, cy / n, 1e-3);
    EXPECT_NEAR(c.z, cz / n, 1e-3);
  }
}

TEST(PolygonCore, BoundingBoxCacheAndLimits) {
  CSSE3dPolygon p = polygonOf({{2e6f, -3.7f, 1}, {3e6f, 5.9f, -2}, {1.5e6f, 0.5f, 0}});
  p.CalcBoundingBox();
  EXPECT_EQ(p.GetBottomLeft().x, 1e6f);  // the start value limits the box
  EXPECT_EQ(p.GetTopRight().x, 3e6f);
  int x0, y0, x1, y1;
  p.GetBoundingBox2D(x0, y0, x1, y1);
  EXPECT_EQ(y0, -3);  // truncated toward zero
  EXPECT_EQ(y1, 5);

  p.SetPointY(0, -50.0f);
  EXPECT_FALSE(p.IsBoundingBoxCalculated());
  EXPECT_EQ(p.GetBottomLeft().y, -3.7f);  // the cache stands until recalculated
  float lx, ly, lz, hx, hy, hz;
  p.GetBoundingBox3D(lx, ly, lz, hx, hy, hz);
  EXPECT_EQ(ly, -50.0f);
  EXPECT_EQ(lz, -2.0f);
  EXPECT_EQ(hz, 1.0f);
  EXPECT_TRUE(p.IsBoundingBoxCalculated());

  // NaN coordinates are passed over, wherever they fall in a block.
  for (int at = 0; at < 6; ++at) {
    std::vector<P3> pts = randomPoints(6, 9, 10.0f);
    pts[at].x = std::numeric_limits<float>::quiet_NaN();
    CSSE3dPolygon q = polygonOf(pts);
    q.CalcBoundingBox();
    float lo = 1e6f;
    for (int i = 0; i < 6; ++i)
      if (i != at) lo = std::min(lo, pts[i].x);
    EXPECT_EQ(q.GetBottomLeft().x, lo);
  }

  CSSE3dPolygon empty;
  empty.ShiftLine(1, 1, 1);
  EXPECT_TRUE(empty.IsBoundingBoxCalculated());
  EXPECT_EQ(empty.GetBottomLeft().z, 1e6f);
  EXPECT_EQ(empty.GetTopRight().y, -1e6f);
  SSEPoint c(5, 5, 5, 5);
  empty.CalcGeometricCenter();
  empty.GetGeometricCenter(c);
  EXPECT_EQ(c.x + c.y + c.z + c.w, 0.0f);
}

TEST(PolygonCore, NormalizeAndShift) {
  const std::vector<P3> pts = randomPoints(6, 4, 20.0f);
  CSSE3dPolygon p = polygonOf(pts);
  t_resolutiondata res{{0.5f, 2.0f, -1.0f}};
  p.NormalizeXYZ(res);
  EXPECT_FALSE(p.IsBoundingBoxCalculated());
  for (int i = 0; i < 6; ++i) {
    float x = 0, y = 0, z = 0;
    p.GetPointNormalized(i, x, y, z);
    EXPECT_TRUE(x == pts[i].x * 0.5f && y == pts[i].y * 2.0f && z == -pts[i].z);
  }
  p.ShiftLine(0, 0, 0);
  EXPECT_TRUE(same(pointsOf(p), pts));
  EXPECT_TRUE(p.IsBoundingBoxCalculated());
  p.ShiftLine(1, -2, 3);
  for (int i = 0; i < 6; ++i) {
    float x = 0, y = 0, z = 0;
    p.GetPoint(i, x, y, z);
    EXPECT_TRUE(x == pts[i].x + 1 && y == pts[i].y - 2 && z == pts[i].z + 3);
  }
  float lx, ly, lz, hx, hy, hz;
  p.GetBoundingBox3D(lx, ly, lz, hx, hy, hz);
  EXPECT_EQ(lz, std::min_element(pts.begin(), pts.end(), [](auto& a, auto& b) { return a.z < b.z; })->z + 3);
}

TEST(PolygonCore, InterpolateZ) {
  const std::vector<P3> pts = randomPoints(11, 5, 10.0f);
  const CSSE3dPolygon p = polygonOf(pts);
  const auto brute = [&](float x, float y, int step, bool power2) {
    double sz = 0, sw = 0;
    for (int i = 0; i < 11 - step + 1; i += step) {
      const double d2 = double(pts[i].x - x) * (pts[i].x - x) + double(pts[i].y - y) * (pts[i].y - y);
      const double w = power2 ? 1 / d2 : 1 / std::sqrt(d2);
      sz += pts[i].z * w;
      sw += w;
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
  EXPECT_EQ(p.InterpolateZ(1, 1, 0, 0), p.InterpolateZ(1, 1, 1, 0));
  EXPECT_EQ(p.InterpolateZ(1, 1, -5, 0), p.InterpolateZ(1, 1, 1, 0));
  EXPECT_TRUE(std::isnan(CSSE3dPolygon().InterpolateZ(1, 1, 1, 0)));
  EXPECT_TRUE(std::isnan(p.InterpolateZ(1, 1, 12, 0)));  // no point examined
}

TEST(PolygonCore, Reordering) {
  const std::vector<P3> pts = randomPoints(5, 6, 10.0f);
  for (int k = -11; k <= 11; ++k) {
    SCOPED_TRACE(k);
    CSSE3dPolygon p = polygonOf(pts), q = polygonOf(pts);
    int ids[5] = {10, 11, 12, 13, 14};
    p.ChangeStartPoint(k, ids);
    q.RotatePolygonIndices(k);
    const int s = ((k % 5) + 5) % 5;
    std::vector<P3> expected;
    for (int i = 0; i < 5; ++i) {
      expected.push_back(pts[(i + s) % 5]);
      EXPECT_EQ(ids[i], 10 + (i + s) % 5);
    }
    EXPECT_TRUE(same(pointsOf(p), expected));
    EXPECT_TRUE(same(pointsOf(q), expected));
  }
  CSSE3dPolygon p = polygonOf(pts);
  p.CalcBoundingBox();
  p.InvertPolygonDirection();
  EXPECT_TRUE(same(pointsOf(p), std::vector<P3>(pts.rbegin(), pts.rend())));
  EXPECT_FALSE(p.IsBoundingBoxCalculated());
  CSSE3dPolygon empty;
  empty.InvertPolygonDirection();
  empty.ChangeStartPoint(3, nullptr);
  EXPECT_EQ(empty.GetNumPoints(), 0);
}

TEST(Polygon2d, PointsAndQueries) {
  CSSE2dPolygon p;
  EXPECT_EQ(p.GetNumPoints(), 0);
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
  p.GetPoint(3, q);
  EXPECT_EQ(q.x, 0.5f);
  struct Case {
    float v;
    int x, y;
  };
  // Only even indices below n - 1 count (0, 2, 4); ties go to the first.
  for (const Case& c : {Case{0.6f, 2, 0}, Case{9, 0, 4}, Case{3, 2, 2}, Case{-20, 2, 0}, Case{2e7f, -1, -1}}) {
    SCOPED_TRACE(c.v);
    EXPECT_EQ(p.ClosestPointX(c.v), c.x);
    EXPECT_EQ(p.ClosestPointY(c.v), c.y);
  }
  EXPECT_FLOAT_EQ(p.GetMinEuclDistance(3, 2.5f), 0.5f);
  CSSE2dPolygon copy(p);
  p.Free();
  EXPECT_EQ(p.GetNumPoints(), 0);
  EXPECT_EQ(copy.GetNumPoints(), 6);

  CSSE2dPolygon square;
  square.Create(4);
  for (int i = 0; i < 4; ++i) square.SetPoint(i, c_square[i].x, c_square[i].y);
  EXPECT_EQ(square.CalcArea(), 1.0);
  square.Create(2);
  EXPECT_EQ(square.CalcArea(), 0.0);
}
