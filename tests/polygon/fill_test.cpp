#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "orvik/chain/SSEcharMatrix.h"
#include "orvik/foundation/ThreadPool.h"
#include "orvik/matrix/ssematrix.h"
#include "raster_helpers.h"
#include "support/fields.h"
#include "support/lanes.h"

using namespace raster_test;

namespace {

// The fill region of the fills: the polygon's box clamped into the matrix,
// rows limited to yFrom .. yTo, five pixels of margin before and four after.
struct Window {
  int c0, c1, r0, r1;  // [c0, c1) x [r0, r1)
};

Window window(CSSE3dPolygon& p, int w, int h, float yFrom, float yTo) {
  float lx, ly, lz, hx, hy, hz;
  p.CalcBoundingBox();
  p.GetBoundingBox3D(lx, ly, lz, hx, hy, hz);
  const int c0 = std::clamp(int(lx), 0, w - 1), c1 = std::clamp(int(hx), 0, w - 1);
  const int q = std::min(std::max(int(ly), int(yFrom)), int(hy));
  const int r0 = std::clamp(q, 0, h - 1), r1 = std::clamp(std::max(std::min(int(hy), int(yTo)), q), 0, h - 1);
  return {c0 - 5, c1 + 5, r0 - 5, r1 + 5};
}

// The working copy the fills test against.
CSSE3dPolygon workingCopy(const CSSE3dPolygon& p, bool subsample) {
  CSSE3dPolygon copy;
  copy.CreateSimilar(&p);
  if (subsample) copy.Subsample(5, true);
  copy.RemoveEqualPointsXY();
  copy.CalcBoundingBox();
  return copy;
}

// Every window pixel inside the copy gets write(x, y) at its clamped position.
void referenceFill(CSSE3dPolygon& p, CSSEMatrix& m, bool subsample, float yFrom, float yTo,
                   const std::function<void(int, int)>& write) {
  const Window win = window(p, m.GetSizeX(), m.GetSizeY(), yFrom, yTo);
  CSSE3dPolygon copy = workingCopy(p, subsample);
  for (int r = win.r0; r < win.r1; ++r)
    for (int c = win.c0; c < win.c1; ++c)
      if (inside(copy, float(c), float(r)))
        write(std::clamp(c, 0, m.GetSizeX() - 1), std::clamp(r, 0, m.GetSizeY() - 1));
}

struct Limits {
  float from, to;
};
const Limits c_limits[] = {{-1e9f, 1e9f}, {20.0f, 33.0f}, {40.0f, 41.0f}, {-30.0f, 5.0f}};

}  // namespace

TEST(PolygonFill, PerPixelFillsMatchThePointwiseCrossingTest) {
  for (const Shape& s : shapes()) {
    for (const Limits& l : c_limits) {
      for (bool subsample : {false, true}) {
        SCOPED_TRACE(s.name + " rows " + std::to_string(l.from) + ".." + std::to_string(l.to) +
                     (subsample ? " subsampled" : ""));
        CSSE3dPolygon p = polygon(s.points);
        CSSE3dPolygon copy = workingCopy(p, subsample);
        // The crossing test agrees with the polygon's own inside test.
        for (int r = -3; r < 60; r += 7)
          for (int c = -3; c < 62; c += 3) ASSERT_EQ(inside(copy, c, r), copy.PointInLineInnerArea(c, r, 1));

        CSSEMatrix start;
        start.Create(61, 57);
        randomize(start, 7, 5);
        struct Op {
          const char* name;
          std::function<void(CSSE3dPolygon&, CSSEMatrix&)> fill;
          std::function<void(CSSEMatrix&, int, int)> write;
        };
        const Op ops[] = {
            {"fine", [&](CSSE3dPolygon& q, CSSEMatrix& m) { q.DrawInMatrixAndFillFine(3.5f, &m, false, subsample, l.from, l.to, false, false); },
             [](CSSEMatrix& m, int x, int y) { m.SetPoint(x, y, 3.5f); }},
            {"max", [&](CSSE3dPolygon& q, CSSEMatrix& m) { q.DrawInMatrixAndFillFineMax(2.0f, &m, subsample, l.from, l.to); },
             [](CSSEMatrix& m, int x, int y) { m.SetPoint(x, y, std::max(m.GetPoint(x, y), 2.0f)); }},
            {"min", [&](CSSE3dPolygon& q, CSSEMatrix& m) { q.DrawInMatrixAndFillFineMin(2.0f, &m, subsample, l.from, l.to); },
             [](CSSEMatrix& m, int x, int y) { m.SetPoint(x, y, std::min(m.GetPoint(x, y), 2.0f)); }},
            {"sub", [&](CSSE3dPolygon& q, CSSEMatrix& m) { q.DrawSubInMatrixAndFill(1.0f, &m, 1.5f, subsample, l.from, l.to); },
             [](CSSEMatrix& m, int x, int y) {
               if (1.5f > m.GetPoint(x, y) - 1.0f) m.SetPoint(x, y, 0.0f);
             }},
        };
        for (const Op& op : ops) {
          SCOPED_TRACE(op.name);
          CSSEMatrix got(start), expected(start);
          op.fill(p, got);
          referenceFill(p, expected, subsample, l.from, l.to, [&](int x, int y) { op.write(expected, x, y); });
          ASSERT_TRUE(sameLanes(got, expected));
        }

        CSSEcharMatrix bytes, bytesExpected;
        bytes.Create(61, 57);
        bytesExpected.Create(61, 57);
        p.DrawInCharMatrixAndFillFine(9, &bytes, subsample, l.from, l.to);
        CSSEMatrix shape;
        shape.Create(61, 57);
        referenceFill(p, shape, subsample, l.from, l.to, [&](int x, int y) { bytesExpected.SetPoint(x, y, 9); });
        for (int y = 0; y < 57; ++y)
          for (int x = 0; x < 61; ++x) ASSERT_EQ(bytes.GetPoint(x, y), bytesExpected.GetPoint(x, y)) << x << "," << y;
      }
    }
  }
}

TEST(PolygonFill, KnownSquareAndTheLeftMargin) {
  // The half-open crossing rule: columns 10 < x <= 20, rows 10 <= y < 20.
  CSSE3dPolygon square = polygon({{10, 10}, {20, 10}, {20, 20}, {10, 20}});
  CSSEMatrix m;
  m.Create(30, 30);
  square.DrawInMatrixAndFillFine(1.0f, &m, false, false, -1e9f, 1e9f, false, false);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 30; ++x) ASSERT_EQ(m.GetPoint(x, y), x > 10 && x <= 20 && y >= 10 && y < 20 ? 1.0f : 0.0f);

  // Wholly left of the matrix within the margin: its rows land on column 0.
  CSSE3dPolygon left = polygon({{-4.5f, 3}, {-0.5f, 3}, {-0.5f, 8}, {-4.5f, 8}});
  CSSEMatrix n;
  n.Create(10, 12);
  left.DrawInMatrixAndFillFine(1.0f, &n, false, false, -1e9f, 1e9f, false, false);
  for (int y = 0; y < 12; ++y) {
    EXPECT_EQ(n.GetPoint(0, y), y >= 3 && y < 8 ? 1.0f : 0.0f) << y;
    EXPECT_EQ(n.GetPoint(1, y), 0.0f);
  }
}

TEST(PolygonFill, CoarseFillStampsEveryThirdInsidePixel) {
  for (const Shape& s : shapes()) {
    SCOPED_TRACE(s.name);
    CSSE3dPolygon p = polygon(s.points);
    CSSEMatrix got, expected;
    got.Create(61, 57);
    expected.Create(61, 57);
    p.DrawInMatrixAndFillCoarse(4.0f, &got, false, 12.0f, 40.0f);
    float lx, ly, lz, hx, hy, hz;
    p.GetBoundingBox3D(lx, ly, lz, hx, hy, hz);
    const CSSE3dPolygon copy = workingCopy(p, false);
    const int q = std::min(int(hy), std::max(int(ly), 12));
    for (int r = q - 9; r < std::max(q, std::min(int(hy), 40)) + 9; r += 3)
      for (int c = int(lx) - 9; c < int(hx) + 9; c += 3)
        if (inside(copy, c, r)) expected.Set3x3BoxPoint(c, r, 4.0f);
    ASSERT_TRUE(sameLanes(got, expected));
  }
}

TEST(PolygonFill, ThreadedFillEqualsThePerPixelFill) {
  const Limits limits[] = {{-1e9f, 1e9f}, {30.0f, 31.0f}, {50.0f, 50.0f}};
  for (int processors : {1, 2, 3, 4, 5, 6, 7, 8, 13, 64}) {
    for (const Limits& l : limits) {
      for (const Shape& s : shapes()) {
        SCOPED_TRACE(s.name + " on " + std::to_string(processors) + " rows " + std::to_string(l.from));
        CbCPU::SetCount(processors);
        CSSE3dPolygon p = polygon(s.points);
        CSSEMatrix serial, threaded;
        serial.Create(61, 57);
        randomize(serial, 3, 4);
        threaded = serial;
        p.DrawInMatrixAndFillFine(7.0f, &serial, false, false, l.from, l.to, false, false);
        p.DrawInMatrixAndFillFineForLoop(7.0f, &threaded, false, l.from, l.to);
        CbCPU::SetCount(0);
        ASSERT_TRUE(sameLanes(serial, threaded));
      }
    }
  }
}

// The outline method fills the inside without the outline: away from the
// outline it agrees with the per-pixel fill, with `invert` it fills the
// complement, and the flood from the scratch border leaves no outside pixel
// unvisited.
TEST(PolygonFill, OutlineMethodStaysWithinItsBand) {
  const std::vector<Shape> cases = {
      {"star", star(300, 60.0f, 45.0f, 20.0f, 40.0f, 11)},
      {"wide triangle", {{5.5f, 4.0f}, {110.25f, 30.0f}, {9.0f, 80.5f}}},
      {"cut corner", {{10, 11}, {11, 10}, {70, 10}, {70, 30}, {10, 30}}},
      {"partly outside", star(200, 100.0f, 10.0f, 25.0f, 45.0f, 12)},
  };
  for (const Shape& s : cases) {
    for (bool invert : {false, true}) {
      SCOPED_TRACE(s.name + (invert ? " inverted" : ""));
      CSSE3dPolygon p = polygon(s.points);
      CSSEMatrix perPixel, outline;
      perPixel.Create(120, 90);
      outline.Create(120, 90);
      p.DrawInMatrixAndFillFine(1.0f, &perPixel, false, false, -1e9f, 1e9f, false, false);
      p.DrawInMatrixAndFillFine(1.0f, &outline, false, false, -1e9f, 1e9f, true, invert);
      int checked = 0;
      for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 120; ++x) {
          // Pixels within 1.5 of an edge belong to the outline's band.
          float nearest = 1e9f;
          const int n = p.GetNumPoints();
          for (int i = 0; i < n; ++i) {
            float ax = 0, ay = 0, bx = 0, by = 0;
            p.GetPointXY(i, ax, ay);
            p.GetPointXY((i + 1) % n, bx, by);
            const float dx = bx - ax, dy = by - ay, len2 = dx * dx + dy * dy;
            const float t = len2 > 0 ? std::clamp(((x - ax) * dx + (y - ay) * dy) / len2, 0.0f, 1.0f) : 0.0f;
            nearest = std::min(nearest, std::hypot(x - ax - t * dx, y - ay - t * dy));
          }
          if (nearest < 1.5f) continue;
          ++checked;
          const bool in = perPixel.GetPoint(x, y) == 1.0f;
          ASSERT_EQ(outline.GetPoint(x, y), in != invert ? 1.0f : 0.0f) << x << "," << y;
        }
      EXPECT_GT(checked, 1000);
    }
  }
  // The corner pixel cut off by the 45 degree edge is outside.
  CSSE3dPolygon cut = polygon({{10, 11}, {11, 10}, {70, 10}, {70, 30}, {10, 30}});
  CSSEMatrix m;
  m.Create(80, 40);
  cut.DrawInMatrixAndFillFine(1.0f, &m, false, false, -1e9f, 1e9f, true, false);
  EXPECT_EQ(m.GetPoint(10, 10), 0.0f);
  EXPECT_EQ(m.GetPoint(40, 20), 1.0f);
}

TEST(PolygonFill, OutlineMethodAcceptsTriangles) {
  // A triangle wider than 50 pixels takes the outline method and fills.
  CSSE3dPolygon t = polygon({{2, 2}, {90, 5}, {10, 40}});
  CSSEMatrix m;
  m.Create(100, 50);
  t.DrawInMatrixAndFillFine(1.0f, &m, false, false, -1e9f, 1e9f, true, false);
  EXPECT_EQ(m.GetPoint(20, 10), 1.0f);
  EXPECT_EQ(m.GetPoint(80, 40), 0.0f);
  // Wholly above the matrix: nothing.
  CSSE3dPolygon above = polygon({{2, -90}, {90, -85}, {10, -60}});
  CSSEMatrix e;
  e.Create(100, 50);
  above.DrawInMatrixAndFillFine(1.0f, &e, false, false, -1e9f, 1e9f, true, false);
  EXPECT_EQ(e.NumValuesAbove(0.5f), 0);
}

TEST(PolygonFill, BowRunsAndFromToStampsStayInTheMatrix) {
  // A bow of two points: below each, from row y + s + offset on, rows down to
  // the bottom; a point far above the matrix clamps its run instead of
  // walking it.
  CSSEMatrix m;
  m.Create(12, 20);
  m.SetRowProcessed(15);
  CSSE3dPolygon bow = polygon({{3, 4}, {3.2f, 4}});
  m.RemoveImageValuesLeftOfBow(bow, 7.0f, 2);  // s = 15 - 4 = 11: rows 17 ..
  for (int y = 0; y < 20; ++y) EXPECT_EQ(m.GetPoint(3, y), y >= 17 ? 7.0f : 0.0f) << y;
  CSSE3dPolygon far = polygon({{8, -2e9f}, {8.2f, -2e9f}});
  CSSEMatrix n;
  n.Create(12, 20);
  n.RemoveImageValuesLeftOfBow(far, 7.0f, 0);  // every row of column 8
  for (int y = 0; y < 20; ++y) EXPECT_EQ(n.GetPoint(8, y), 7.0f) << y;
  EXPECT_EQ(n.NumValuesAbove(1.0f), 20);

  CSSEMatrix a;
  a.Create(20, 9);
  a.GetFromToArray().AllocArray(9);  // three lines, each (0, 999999)
  a.GetFromToArray().GetEntries()[1] = {6, 9};
  a.GetFromToArray().DrawInMatrix(a);
  EXPECT_EQ(a.GetPoint(6, 4), 20.0f);
  EXPECT_EQ(a.GetPoint(9, 5), 30.0f);
  EXPECT_EQ(a.GetPoint(1, 1), 20.0f);   // (0, 0) clamps its stamp to (1, 1)
  EXPECT_EQ(a.GetPoint(18, 7), 30.0f);  // (999999, 8) clamps to (18, 7)
}
