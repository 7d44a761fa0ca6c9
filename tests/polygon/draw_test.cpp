#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <utility>

#include "orvik/matrix/ssematrix.h"
#include "raster_helpers.h"
#include "support/lanes.h"

using namespace raster_test;

namespace {

using Pixels = std::set<std::pair<int, int>>;

// The pixels of m that differ from `background`.
Pixels changed(const CSSEMatrix& m, float background) {
  Pixels out;
  for (int y = 0; y < m.GetSizeY(); ++y)
    for (int x = 0; x < m.GetSizeX(); ++x)
      if (m.GetPoint(x, y) != background) out.insert({x, y});
  return out;
}

CSSEMatrix field(int w, int h, float v) {
  CSSEMatrix m;
  m.Create(w, h);
  m.Fill(v);
  return m;
}

}  // namespace

TEST(PolygonDraw, OutsidePixelsMatchThePointwiseCrossingTest) {
  for (const Shape& s : shapes()) {
    for (float offset : {0.0f, 0.5f, -0.25f}) {
      SCOPED_TRACE(s.name + " offset " + std::to_string(offset));
      CSSE3dPolygon p = polygon(s.points);
      CSSEMatrix m = field(61, 57, 2.0f);
      p.DrawOutsidePixels(m, 9.0f, offset);
      for (int r = 0; r < 57; ++r)
        for (int c = 0; c < 61; ++c)
          ASSERT_EQ(m.GetPoint(c, r), inside(p, c + offset, r + offset) ? 2.0f : 9.0f) << c << "," << r;
      EXPECT_EQ(lane(m, 0, 57), 2.0f) << "spare lanes are no pixels";
    }
  }
  CSSE3dPolygon two = polygon({{1, 1}, {5, 5}});
  CSSEMatrix m = field(8, 6, 0.0f);
  two.DrawOutsidePixels(m, 1.0f, 0.0f);
  EXPECT_EQ(changed(m, 0.0f).size(), 48u);
}

TEST(PolygonDraw, VertexPlotsRoundAndClamp) {
  CSSE3dPolygon p;
  p.Create(4);
  p.SetPoint(0, 2.5f, 3.49f, 7.0f);                                  // rounds to (3, 3)
  p.SetPoint(1, 5.2f, 1.7f, 8.0f);                                   // four: (5..6, 1..2)
  p.SetPoint(2, 1e12f, -1e12f, 9.0f);                                // clamps to (9, 0)
  p.SetPoint(3, std::numeric_limits<float>::quiet_NaN(), 4.0f, 6.0f);  // clamps to column 0
  CSSEMatrix a = field(10, 8, 0.0f);
  p.DrawInMatrix(&a, false);
  EXPECT_EQ(changed(a, 0.0f), (Pixels{{3, 3}, {5, 2}, {9, 0}, {0, 4}}));
  EXPECT_EQ(a.GetPoint(3, 3), 7.0f);
  CSSEMatrix b = field(10, 8, 0.0f);
  p.DrawInMatrix(&b, true);
  EXPECT_TRUE(changed(b, 0.0f).count({6, 1}) && changed(b, 0.0f).count({5, 2}) && changed(b, 0.0f).count({2, 3}));

  // 3x3 stamps from x and y, x and z, and single pixels from z and y.
  CSSE3dPolygon q;
  q.Create(1);
  q.SetPoint(0, 4.0f, 3.0f, 6.0f);
  struct Case {
    bool zy, xz;
    Pixels expected;
  };
  for (const Case& c : {Case{false, false, {}}, Case{true, false, {{6, 3}}}, Case{false, true, {}}}) {
    CSSEMatrix m = field(10, 10, 0.0f);
    q.DrawInMatrix(5.0f, &m, c.zy, 1.0f, 0.0f, c.xz);
    const Pixels got = changed(m, 0.0f);
    if (!c.expected.empty()) {
      EXPECT_EQ(got, c.expected);
      continue;
    }
    const int cy = c.xz ? 6 : 3;
    Pixels box;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) box.insert({5 + dx, cy + dy});
    EXPECT_EQ(got, box);
  }
}

TEST(PolygonDraw, EdgesCarryInterpolatedHeights) {
  // A segment of length 3 along x: both ends, then 6 samples half a pixel apart.
  CSSE3dPolygon p;
  p.Create(3);
  p.SetPoint(0, 2.0f, 2.0f, 0.0f);
  p.SetPoint(1, 5.0f, 2.0f, 6.0f);
  p.SetPoint(2, 5.2f, 2.1f, 100.0f);  // shorter than half a pixel: its ends only
  CSSEMatrix m = field(8, 5, -1.0f);
  p.DrawInMatrixFineZ(&m);
  // Samples at x = 2, 2.5, ..., 4.5 with z = 0, 1, ..., 5 (the later write wins).
  EXPECT_EQ(m.GetPoint(2, 2), 0.0f);
  EXPECT_EQ(m.GetPoint(3, 2), 2.0f);
  EXPECT_EQ(m.GetPoint(4, 2), 4.0f);
  EXPECT_EQ(m.GetPoint(5, 2), 100.0f);
  EXPECT_EQ(changed(m, -1.0f).size(), 4u);

  // Max never lowers a pixel and Min never raises one.
  CSSE3dPolygon q = polygon(star(30, 20.0f, 20.0f, 4.0f, 15.0f, 9), 0.0f);
  for (int i = 0; i < q.GetNumPoints(); ++i) q.SetPointZ(i, static_cast<float>(i % 7) - 3.0f);
  CSSEMatrix base = field(40, 40, 0.5f), hi = base, lo = base, plain = base;
  q.DrawInMatrixFineZMax(&hi);
  q.DrawInMatrixFineZMin(&lo);
  q.DrawInMatrixFineZ(&plain);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) {
      ASSERT_GE(hi.GetPoint(x, y), 0.5f);
      ASSERT_LE(lo.GetPoint(x, y), 0.5f);
      if (plain.GetPoint(x, y) != 0.5f) {
        ASSERT_TRUE(hi.GetPoint(x, y) != 0.5f || lo.GetPoint(x, y) != 0.5f);
      }
    }

  // A wild segment ends and lands on the border.
  CSSE3dPolygon wild;
  wild.Create(2);
  wild.SetPoint(0, 1.0f, 1.0f, 1.0f);
  wild.SetPoint(1, 1e30f, 1.0f, 1.0f);
  CSSEMatrix w = field(6, 4, 0.0f);
  wild.DrawInMatrixFineZ(&w);
  EXPECT_EQ(w.GetPoint(5, 1), 1.0f);
}

TEST(PolygonDraw, RunMarkingFillsTheInteriorOfADenseCounterClockwiseRing) {
  // The square 4 .. 12 traced one pixel apart, counter-clockwise with y up.
  std::vector<XY> ring;
  for (int x = 4; x < 12; ++x) ring.push_back({float(x), 4});
  for (int y = 4; y < 12; ++y) ring.push_back({12, float(y)});
  for (int x = 12; x > 4; --x) ring.push_back({float(x), 12});
  for (int y = 12; y > 4; --y) ring.push_back({4, float(y)});
  CSSE3dPolygon p = polygon(ring);
  ASSERT_GT(p.CalcXYArea(), 0.0f);
  CSSEMatrix m = field(18, 17, 0.0f);
  p.DrawInMatrixAndFill(1.0f, &m);
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 18; ++x) {
      const bool outline = ((x == 4 || x == 12) && y >= 4 && y <= 12) || ((y == 4 || y == 12) && x >= 4 && x <= 12);
      const bool interior = x > 4 && x < 12 && y > 4 && y < 12;
      ASSERT_EQ(m.GetPoint(x, y), outline ? 1.0f : interior ? 6.0f : 0.0f) << x << "," << y;
    }
  // Fewer than four points draw nothing.
  CSSE3dPolygon three = polygon({{2, 2}, {8, 2}, {2, 8}});
  CSSEMatrix e = field(10, 10, 0.0f);
  three.DrawInMatrixAndFill(1.0f, &e);
  EXPECT_TRUE(changed(e, 0.0f).empty());
}

TEST(PolygonDraw, OneSidedSweepsStampToTheMatrixEdge) {
  struct Case {
    const char* name;
    float x, y, z;
    bool front, useY;
    int minX, maxX, minY, maxY;  // the box of changed pixels; minX > maxX for none
  };
  const Case cases[] = {
      {"rows, front", 8, 5, 0, true, true, 1, 9, 3, 7},
      {"rows, back", 8, 5, 0, false, true, 7, 19, 3, 7},
      {"columns by z, front", 8, 0, 6, true, false, 6, 10, 1, 7},
      {"columns by z, back", 8, 0, 6, false, false, 6, 10, 5, 15},
      {"far right, front", 2e9f, 5, 0, true, true, 1, 19, 3, 7},
      {"far left, back", -2e9f, 5, 0, false, true, 0, 19, 3, 7},
      {"far left, front", -2e9f, 5, 0, true, true, 1, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSSE3dPolygon p;
    p.Create(1);
    p.SetPoint(0, c.x, c.y, c.z);
    CSSEMatrix m = field(20, 16, 0.0f);
    p.DrawInMatrixAndFillToOneSideFront(3.0f, &m, 0.0f, 0.0f, c.front, c.useY);
    const Pixels got = changed(m, 0.0f);
    Pixels expected;
    for (int y = c.minY; y <= c.maxY; ++y)
      for (int x = c.minX; x <= c.maxX; ++x) expected.insert({x, y});
    EXPECT_EQ(got, expected);
  }
}
