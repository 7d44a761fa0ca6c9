#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>
#include <string>

#include "orvik/chain/SSEcharMatrix.h"
#include "orvik/foundation/ThreadPool.h"
#include "orvik/matrix/ssematrix.h"
#include "support/fields.h"
#include "support/lanes.h"
#include "support/polygons.h"

using namespace testpolygons;

namespace {

struct Shape {
  std::string name;
  Ring points;
};

// Stars, self-crossing rings on floats and integers, edges through pixel centres, a ring partly outside.
std::vector<Shape> shapes() {
  return {{"star", star(40, 1, 22.0f, {30.3f, 25.7f})},
          {"dense star", star(700, 2, 24.0f, {31.0f, 27.0f})},
          {"scribble", randomRing(25, 3, -3.0f, 60.0f)},
          {"lattice", randomRing(30, 4, 2, 50, true)},
          {"lattice square", rect(10, 10, 20, 20)},
          {"triangle", {{5.5f, 4.0f}, {48.25f, 30.0f}, {9.0f, 51.5f}}},
          {"partly outside", star(30, 5, 18.0f, {2.0f, 50.0f})}};
}

CSSE3dPolygon flat(Ring r) {
  for (Pt& v : r) v.z = 0.0f;
  CSSE3dPolygon p = polygonOf(r);
  p.CalcBoundingBox();
  return p;
}

// The polygons' inside test: within the xy box, bounds included, and odd.
bool insideOf(CSSE3dPolygon& p, float x, float y) {
  p.CalcBoundingBox();
  const SSEPoint lo = p.GetBottomLeft(), hi = p.GetTopRight();
  return lo.x <= x && x <= hi.x && lo.y <= y && y <= hi.y && inside(pointsOf(p), x, y);
}

// The fills test a copy (subsampled by 5 if asked, equal points removed) on the polygon's box clamped into
// the matrix, rows limited to yFrom .. yTo, widened by five pixels; every inside pixel is written at its
// clamped position.
void referenceFill(CSSE3dPolygon& p, int w, int h, bool subsample, float yFrom, float yTo,
                   const std::function<void(int, int)>& write) {
  CSSE3dPolygon copy;
  copy.CreateSimilar(&p);
  if (subsample) copy.Subsample(5, true);
  copy.RemoveEqualPointsXY();
  float lx, ly, lz, hx, hy, hz;
  p.CalcBoundingBox();
  p.GetBoundingBox3D(lx, ly, lz, hx, hy, hz);
  const int q = std::min(std::max(int(ly), int(yFrom)), int(hy));
  const int r0 = std::clamp(q, 0, h - 1), r1 = std::clamp(std::max(std::min(int(hy), int(yTo)), q), 0, h - 1);
  const int c0 = std::clamp(int(lx), 0, w - 1), c1 = std::clamp(int(hx), 0, w - 1);
  for (int r = r0 - 5; r < r1 + 5; ++r)
    for (int c = c0 - 5; c < c1 + 5; ++c)
      if (insideOf(copy, float(c), float(r))) write(std::clamp(c, 0, w - 1), std::clamp(r, 0, h - 1));
}

}  // namespace

TEST(PolygonFill, PerPixelFillsMatchThePointwiseCrossingTest) {
  using Fill = std::function<void(CSSE3dPolygon&, CSSEMatrix&, bool, float, float)>;
  // Each fill, and what it makes of an inside pixel's value.
  const std::vector<std::pair<Fill, float (*)(float)>> ops = {
      {[](CSSE3dPolygon& p, CSSEMatrix& m, bool sub, float from, float to) {
         p.DrawInMatrixAndFillFine(3.5f, &m, false, sub, from, to, false, false);
       },
       [](float) { return 3.5f; }},
      {[](CSSE3dPolygon& p, CSSEMatrix& m, bool sub, float from, float to) {
         p.DrawInMatrixAndFillFineMax(2.0f, &m, sub, from, to);
       },
       [](float v) { return std::max(v, 2.0f); }},
      {[](CSSE3dPolygon& p, CSSEMatrix& m, bool sub, float from, float to) {
         p.DrawInMatrixAndFillFineMin(2.0f, &m, sub, from, to);
       },
       [](float v) { return std::min(v, 2.0f); }},
      {[](CSSE3dPolygon& p, CSSEMatrix& m, bool sub, float from, float to) {
         p.DrawSubInMatrixAndFill(1.0f, &m, 1.5f, sub, from, to);
       },
       [](float v) { return 1.5f > v - 1.0f ? 0.0f : v; }},
  };
  for (const Shape& s : shapes()) {
    CSSE3dPolygon p = flat(s.points);
    // What is left outside, at pixel positions moved by the offset.
    for (float offset : {0.0f, 0.5f, -0.25f}) {
      SCOPED_TRACE(s.name + " outside, offset " + std::to_string(offset));
      CSSEMatrix m = filled(61, 57, 2.0f);
      p.DrawOutsidePixels(m, 9.0f, offset);
      for (int r = 0; r < 57; ++r)
        for (int c = 0; c < 61; ++c)
          ASSERT_EQ(m.GetPoint(c, r), insideOf(p, c + offset, r + offset) ? 2.0f : 9.0f) << c << "," << r;
      EXPECT_EQ(lane(m, 0, 57), 2.0f) << "spare lanes are no pixels";
    }
    for (const auto& [from, to] : {std::pair{-1e9f, 1e9f}, {20.0f, 33.0f}, {40.0f, 41.0f}, {-30.0f, 5.0f}}) {
      for (bool subsample : {false, true}) {
        SCOPED_TRACE(s.name + " rows " + std::to_string(from) + ".." + std::to_string(to) +
                     (subsample ? " subsampled" : ""));
        CSSEMatrix start = filled(61, 57);
        randomize(start, 7, 5);
        for (std::size_t k = 0; k < ops.size(); ++k) {
          SCOPED_TRACE(k);
          CSSEMatrix got(start), expected(start);
          ops[k].first(p, got, subsample, from, to);
          referenceFill(p, 61, 57, subsample, from, to, [&](int x, int y) {
            expected.SetPoint(x, y, ops[k].second(expected.GetPoint(x, y)));
          });
          ASSERT_TRUE(sameLanes(got, expected));
        }
        // The row bands on worker threads equal the per-pixel fill for any count.
        CSSEMatrix fine(start);
        ops[0].first(p, fine, subsample, from, to);
        for (int processors : {1, 2, 3, 5, 8, 13, 64}) {
          CSSEMatrix t(start);
          CbCPU::SetCount(processors);
          p.DrawInMatrixAndFillFineForLoop(3.5f, &t, subsample, from, to);
          CbCPU::SetCount(0);
          ASSERT_TRUE(sameLanes(t, fine)) << processors << " processors";
        }
        CSSEcharMatrix bytes(61, 57), expected(61, 57);
        p.DrawInCharMatrixAndFillFine(9, &bytes, subsample, from, to);
        referenceFill(p, 61, 57, subsample, from, to, [&](int x, int y) { expected.SetPoint(x, y, 9); });
        for (int y = 0; y < 57; ++y)
          for (int x = 0; x < 61; ++x)
            ASSERT_EQ(bytes.GetPoint(x, y), expected.GetPoint(x, y)) << x << "," << y;
      }
    }
  }
  // Two points leave the whole matrix outside.
  CSSEMatrix m = filled(8, 6);
  flat({{1, 1}, {5, 5}}).DrawOutsidePixels(m, 1.0f, 0.0f);
  EXPECT_EQ(m.NumValuesAbove(0.5f), 48);
  // Wholly left of the matrix within the margin: its rows land on column 0.
  CSSEMatrix n = filled(10, 12);
  flat(rect(-4.5f, 3, -0.5f, 8)).DrawInMatrixAndFillFine(1.0f, &n, false, false, -1e9f, 1e9f, false, false);
  for (int y = 0; y < 12; ++y)
    EXPECT_EQ(std::pair(n.GetPoint(0, y), n.GetPoint(1, y)), std::pair(y >= 3 && y < 8 ? 1.0f : 0.0f, 0.0f))
        << y;
}

TEST(PolygonFill, CoarseFillStampsEveryThirdInsidePixel) {
  for (const Shape& s : shapes()) {
    SCOPED_TRACE(s.name);
    CSSE3dPolygon p = flat(s.points);
    CSSEMatrix got = filled(61, 57), expected = filled(61, 57);
    p.DrawInMatrixAndFillCoarse(4.0f, &got, false, 12.0f, 40.0f);
    float lx, ly, lz, hx, hy, hz;
    p.GetBoundingBox3D(lx, ly, lz, hx, hy, hz);
    CSSE3dPolygon copy;
    copy.CreateSimilar(&p);
    copy.RemoveEqualPointsXY();
    const int q = std::min(int(hy), std::max(int(ly), 12));
    for (int r = q - 9; r < std::max(q, std::min(int(hy), 40)) + 9; r += 3)
      for (int c = int(lx) - 9; c < int(hx) + 9; c += 3)
        if (insideOf(copy, c, r)) expected.Set3x3BoxPoint(c, r, 4.0f);
    ASSERT_TRUE(sameLanes(got, expected));
  }
}

// Away from the outline the outline method agrees with the per-pixel fill, or with `invert` its complement:
// the flood leaves no outside pixel unvisited.
TEST(PolygonFill, OutlineMethodStaysWithinItsBand) {
  const std::vector<Shape> cases = {
      {"star", star(300, 11, 40.0f, {60.0f, 45.0f})},
      {"wide triangle", {{5.5f, 4.0f}, {110.25f, 30.0f}, {9.0f, 80.5f}}},
      {"cut corner", {{10, 11}, {11, 10}, {70, 10}, {70, 30}, {10, 30}}},
      {"partly outside", star(200, 12, 45.0f, {100.0f, 10.0f})},
      {"triangle", {{2, 2}, {90, 5}, {10, 40}}},
  };
  for (const Shape& s : cases) {
    for (bool invert : {false, true}) {
      SCOPED_TRACE(s.name + (invert ? " inverted" : ""));
      CSSE3dPolygon p = flat(s.points);
      CSSEMatrix perPixel = filled(120, 90), outline = filled(120, 90);
      p.DrawInMatrixAndFillFine(1.0f, &perPixel, false, false, -1e9f, 1e9f, false, false);
      p.DrawInMatrixAndFillFine(1.0f, &outline, false, false, -1e9f, 1e9f, true, invert);
      int checked = 0;
      for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 120; ++x) {
          if (distanceToRing(s.points, x, y) < 1.5) continue;  // the outline's band
          ++checked;
          ASSERT_EQ(outline.GetPoint(x, y), (perPixel.GetPoint(x, y) == 1.0f) != invert ? 1.0f : 0.0f)
              << x << "," << y;
        }
      EXPECT_GT(checked, 1000);
    }
  }
  // The corner pixel cut off by the 45 degree edge is outside; wholly above the matrix, nothing is filled.
  CSSEMatrix m = filled(80, 40), e = filled(100, 50);
  flat(cases[2].points).DrawInMatrixAndFillFine(1.0f, &m, false, false, -1e9f, 1e9f, true, false);
  EXPECT_EQ(m.GetPoint(10, 10), 0.0f);
  EXPECT_EQ(m.GetPoint(40, 20), 1.0f);
  flat({{2, -90}, {90, -85}, {10, -60}})
      .DrawInMatrixAndFillFine(1.0f, &e, false, false, -1e9f, 1e9f, true, false);
  EXPECT_EQ(e.NumValuesAbove(0.5f), 0);
}

TEST(PolygonFill, BowRunsAndFromToStampsStayInTheMatrix) {
  // Below each bow point, rows from y + s + offset on; a point far above clamps its run.
  CSSEMatrix m = filled(12, 20);
  m.SetRowProcessed(15);
  CSSE3dPolygon bow = flat({{3, 4}, {3.2f, 4}}), far = flat({{8, -2e9f}, {8.2f, -2e9f}});
  m.RemoveImageValuesLeftOfBow(bow, 7.0f, 2);  // s = 15 - 4 = 11: rows 17 ..
  for (int y = 0; y < 20; ++y) EXPECT_EQ(m.GetPoint(3, y), y >= 17 ? 7.0f : 0.0f) << y;
  CSSEMatrix n = filled(12, 20);
  n.RemoveImageValuesLeftOfBow(far, 7.0f, 0);  // every row of column 8
  for (int y = 0; y < 20; ++y) EXPECT_EQ(n.GetPoint(8, y), 7.0f) << y;
  EXPECT_EQ(n.NumValuesAbove(1.0f), 20);

  CSSEMatrix a = filled(20, 9);
  a.GetFromToArray().AllocArray(9);  // three lines, each (0, 999999)
  a.GetFromToArray().GetEntries()[1] = {6, 9};
  a.GetFromToArray().DrawInMatrix(a);
  EXPECT_EQ(a.GetPoint(6, 4), 20.0f);
  EXPECT_EQ(a.GetPoint(9, 5), 30.0f);
  EXPECT_EQ(a.GetPoint(1, 1), 20.0f);   // (0, 0) clamps its stamp to (1, 1)
  EXPECT_EQ(a.GetPoint(18, 7), 30.0f);  // (999999, 8) clamps to (18, 7)
}

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

}  // namespace

TEST(PolygonDraw, VertexPlotsRoundAndClamp) {
  // Rounded, four pixels for the neighbours, clamped, a NaN column to column 0.
  CSSE3dPolygon p = polygonOf({{2.5f, 3.49f, 7}, {5.2f, 1.7f, 8}, {1e12f, -1e12f, 9}, {NAN, 4, 6}});
  CSSEMatrix a = filled(10, 8), b = filled(10, 8);
  p.DrawInMatrix(&a, false);
  EXPECT_EQ(changed(a, 0.0f), (Pixels{{3, 3}, {5, 2}, {9, 0}, {0, 4}}));
  EXPECT_EQ(a.GetPoint(3, 3), 7.0f);
  p.DrawInMatrix(&b, true);
  EXPECT_TRUE(changed(b, 0.0f).count({6, 1}) && changed(b, 0.0f).count({5, 2}) &&
              changed(b, 0.0f).count({2, 3}));

  // 3 x 3 stamps from x and y, x and z, and single pixels from z and y.
  CSSE3dPolygon q = polygonOf({{4, 3, 6}});
  for (auto [zy, xz, expected] :
       {std::tuple{false, false, Pixels{}}, {true, false, Pixels{{6, 3}}}, {false, true, Pixels{}}}) {
    CSSEMatrix m = filled(10, 10);
    q.DrawInMatrix(5.0f, &m, zy, 1.0f, 0.0f, xz);
    if (expected.empty())
      for (int k = 0; k < 9; ++k) expected.insert({4 + k % 3, (xz ? 5 : 2) + k / 3});
    EXPECT_EQ(changed(m, 0.0f), expected);
  }
}

TEST(PolygonDraw, EdgesCarryInterpolatedHeights) {
  // Length 3: both ends, then 6 samples at z = 0, 1, ..., 5 (the later write wins); an edge shorter than half
  // a pixel draws its ends only.
  CSSE3dPolygon p = polygonOf({{2, 2, 0}, {5, 2, 6}, {5.2f, 2.1f, 100}});
  CSSEMatrix m = filled(8, 5, -1.0f);
  p.DrawInMatrixFineZ(&m);
  EXPECT_EQ(changed(m, -1.0f), (Pixels{{2, 2}, {3, 2}, {4, 2}, {5, 2}}));
  EXPECT_EQ((std::vector<float>{m.GetPoint(2, 2), m.GetPoint(3, 2), m.GetPoint(4, 2), m.GetPoint(5, 2)}),
            (std::vector<float>{0, 2, 4, 100}));

  // Max never lowers a pixel and Min never raises one.
  Ring ring = star(30, 9, 15.0f, {20, 20});
  for (std::size_t i = 0; i < ring.size(); ++i) ring[i].z = float(i % 7) - 3.0f;
  CSSE3dPolygon q = polygonOf(ring);
  CSSEMatrix base = filled(40, 40, 0.5f), hi = base, lo = base, plain = base;
  q.DrawInMatrixFineZMax(&hi);
  q.DrawInMatrixFineZMin(&lo);
  q.DrawInMatrixFineZ(&plain);
  for (const auto& [x, y] : changed(plain, 0.5f))
    ASSERT_TRUE(hi.GetPoint(x, y) != 0.5f || lo.GetPoint(x, y) != 0.5f) << x << "," << y;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x)
      ASSERT_TRUE(hi.GetPoint(x, y) >= 0.5f && lo.GetPoint(x, y) <= 0.5f) << x << "," << y;

  // A wild segment ends and lands on the border.
  CSSEMatrix w = filled(6, 4);
  polygonOf({{1, 1, 1}, {1e30f, 1, 1}}).DrawInMatrixFineZ(&w);
  EXPECT_EQ(w.GetPoint(5, 1), 1.0f);
}

TEST(PolygonDraw, RunMarkingFillsTheInteriorOfADenseCounterClockwiseRing) {
  // The square 4 .. 12 traced one pixel apart, counter-clockwise with y up.
  Ring ring;
  for (int k = 0; k < 32; ++k) {
    const int s = k % 8, side = k / 8;
    const int along[4][2] = {{4 + s, 4}, {12, 4 + s}, {12 - s, 12}, {4, 12 - s}};
    ring.push_back({float(along[side][0]), float(along[side][1])});
  }
  CSSEMatrix m = filled(18, 17);
  polygonOf(ring).DrawInMatrixAndFill(1.0f, &m);
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 18; ++x) {
      const bool outline =
          ((x == 4 || x == 12) && y >= 4 && y <= 12) || ((y == 4 || y == 12) && x >= 4 && x <= 12);
      const bool interior = x > 4 && x < 12 && y > 4 && y < 12;
      ASSERT_EQ(m.GetPoint(x, y), outline ? 1.0f : interior ? 6.0f : 0.0f) << x << "," << y;
    }
  // Fewer than four points draw nothing.
  CSSEMatrix e = filled(10, 10);
  polygonOf({{2, 2}, {8, 2}, {2, 8}}).DrawInMatrixAndFill(1.0f, &e);
  EXPECT_TRUE(changed(e, 0.0f).empty());
}

TEST(PolygonDraw, OneSidedSweepsStampToTheMatrixEdge) {
  // Name, point, front, by y; the box of changed pixels, minX > maxX for none.
  for (const auto& [name, p, front, useY, minX, maxX, minY, maxY] :
       {std::tuple{"rows, front", Pt{8, 5, 0}, true, true, 1, 9, 3, 7},
        {"rows, back", Pt{8, 5, 0}, false, true, 7, 19, 3, 7},
        {"columns by z, front", Pt{8, 0, 6}, true, false, 6, 10, 1, 7},
        {"columns by z, back", Pt{8, 0, 6}, false, false, 6, 10, 5, 15},
        {"far right, front", Pt{2e9f, 5, 0}, true, true, 1, 19, 3, 7},
        {"far left, back", Pt{-2e9f, 5, 0}, false, true, 0, 19, 3, 7},
        {"far left, front", Pt{-2e9f, 5, 0}, true, true, 1, 0, 0, 0}}) {
    CSSEMatrix m = filled(20, 16);
    polygonOf({p}).DrawInMatrixAndFillToOneSideFront(3.0f, &m, 0.0f, 0.0f, front, useY);
    Pixels expected;
    for (int y = minY; y <= maxY; ++y)
      for (int x = minX; x <= maxX; ++x) expected.insert({x, y});
    EXPECT_EQ(changed(m, 0.0f), expected) << name;
  }
}
