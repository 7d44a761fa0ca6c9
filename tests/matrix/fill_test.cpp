#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "orvik/chain/SSEcharMatrix.h"
#include "orvik/foundation/Exception.h"
#include "orvik/matrix/ssematrix.h"
#include "support/fields.h"

using Floats = std::vector<float>;
using Ints = std::vector<int>;

TEST(Fill, FillArea) {
  CSSEMatrix m = filled(10, 10);
  m.FillArea(2, 1, 5, 6, 9.0f);
  EXPECT_TRUE(fieldIs(m, [](int x, int y) { return (x >= 2 && x < 5 && y >= 1 && y < 6) ? 9.0f : 0.0f; }));
  // The last column is never filled; rows reach the spare lanes.
  m.Fill(0.0f);
  m.FillArea(-5, -5, 100, 100, 1.0f);
  EXPECT_TRUE(lanesAre(m, [](int x, int) { return x < 9 ? 1.0f : 0.0f; }));
  // Nothing on an empty range.
  m.Fill(0.0f);
  m.FillArea(5, 3, 5, 8, 1.0f);
  m.FillArea(2, 4, 8, 4, 1.0f);
  EXPECT_EQ(m.NumValuesAbove(0.0f), 0);
}

TEST(Fill, CopyAreaOfMatrix) {
  CSSEMatrix src = filled(9, 21);
  pattern(src, 3.0f);
  for (int y0 = 0; y0 < 8; ++y0)
    for (int height : {1, 3, 4, 5, 8, 13}) {
      SCOPED_TRACE(testing::Message() << "y0 " << y0 << " height " << height);
      CSSEMatrix w;
      ASSERT_TRUE(w.CopyAreaOfMatrix(src, 2, y0, 6, height));
      ASSERT_EQ(w.GetSizeX(), 6);
      ASSERT_EQ(w.GetSizeY(), height);
      EXPECT_TRUE(
          lanesAre(w, [&](int x, int y) { return y < height ? src.GetPointUnsafe(x + 2, y + y0) : 0.0f; }));
    }
  // The window reaching the bottom row of the source.
  CSSEMatrix w;
  ASSERT_TRUE(w.CopyAreaOfMatrix(src, 0, 17, 9, 4));
  EXPECT_TRUE(fieldIs(w, [&](int x, int y) { return src.GetPoint(x, y + 17); }));
  // Refusals leave the target unchanged.
  w = filled(2, 2, 5.0f);
  CSSEMatrix none;
  for (const Ints& r :
       {Ints{0, 0, 0, 3}, {0, 0, 3, 0}, {-1, 0, 3, 3}, {0, -1, 3, 3}, {7, 0, 3, 3}, {0, 19, 3, 3}})
    EXPECT_FALSE(w.CopyAreaOfMatrix(src, r[0], r[1], r[2], r[3]))
        << r[0] << " " << r[1] << " " << r[2] << " " << r[3];
  EXPECT_FALSE(w.CopyAreaOfMatrix(none, 0, 0, 1, 1));
  EXPECT_EQ(lanes(w), Floats(8, 5.0f));
}

TEST(Fill, FillAreaExactAndApprox) {
  CSSEMatrix m = filled(7, 13, 1.0f);
  // An exact rectangle keeps the other lanes of partial lines.
  m.FillAreaExact(-3, 2, 100, 9, 5.0f);
  EXPECT_TRUE(lanesAre(m, [](int, int r) { return (r >= 2 && r < 9) ? 5.0f : 1.0f; }));
  // Half-planes with a normal along an axis.
  m.Fill(0.0f);
  m.FillAreaExact(CbVector2f(3.7f, 2.2f), CbVector2f(0.0f, 1.0f), 4.0f);
  EXPECT_TRUE(lanesAre(m, [](int, int r) { return (r >= 2 && r < 13) ? 4.0f : 0.0f; }));
  m.Fill(0.0f);
  m.FillAreaExact(CbVector2f(3.7f, 2.2f), CbVector2f(-2.0f, 0.00001f), 4.0f);  // columns 0 .. 2
  EXPECT_EQ(m.NumValuesAbove(1.0f), 3 * 13);
  for (CbVector2f n :
       {CbVector2f(1.0f, 1.0f), CbVector2f(-1.0f, 2.0f), CbVector2f(0.5f, -1.5f), CbVector2f(-3.0f, -1.0f)}) {
    SCOPED_TRACE(testing::Message() << "oblique half-plane " << n.x << "," << n.y);
    m.Fill(0.0f);
    const CbVector2f p(3.5f, 6.25f);
    m.FillAreaExact(p, n, 1.0f);
    const float len = std::sqrt(n.x * n.x + n.y * n.y), nx = n.x / len, ny = n.y / len;
    const float s = nx / (0.0f - ny), c = p.y - s * p.x;
    EXPECT_TRUE(fieldIs(m, [&](int x, int y) {
      const int b = static_cast<int>((static_cast<float>(y) - c) / s);
      return (nx < 0 ? x <= b : x >= b) ? 1.0f : 0.0f;
    }));
  }
  try {
    CSSEMatrix().FillAreaExact(CbVector2f(1, 1), CbVector2f(0, 1), 1.0f);
    FAIL() << "an empty matrix throws";
  } catch (const CbException& e) {
    EXPECT_STREQ(e.GetFile(), "ssematrix");
    EXPECT_EQ(e.GetLine(), 8097);
    EXPECT_STREQ(e.GetFunction(), "CSSEMatrix::FillAreaExact");
  }
  // The approximate fill never touches the first and last line.
  CSSEMatrix a = filled(6, 20);  // 6 lines
  a.FillAreaApprox(1, -100, 4, 100, 2.0f);
  EXPECT_TRUE(lanesAre(a, [](int x, int r) { return (r >= 4 && r < 20 && x >= 1 && x < 4) ? 2.0f : 0.0f; }));
  a.Fill(0.0f);
  a.FillAreaApprox(0, 9, 6, 9, 2.0f);  // from line 1 + 1 up to line 3: line 2 only, the last column left
  EXPECT_TRUE(lanesAre(a, [](int x, int r) { return (r >= 8 && r < 12 && x < 5) ? 2.0f : 0.0f; }));
}

TEST(Fill, ProfilesRowsAndHoles) {
  {
    SCOPED_TRACE("cylinder profile");
    CSSEMatrix m = filled(8, 16);  // 5 lines
    m.FillAreaZylindrical(2, 0, 6, 100, 1.0f, 1.0f, true);
    const float u[4] = {1.0f, 0.0f, -1.0f, -2.0f};
    EXPECT_TRUE(lanesAre(m, [&](int x, int r) {
      return x >= 2 && x < 6 && r < 16 ? 0.0f - std::sqrt(std::max(0.0f, 4.0f - u[x - 2] * u[x - 2])) : 0.0f;
    }));
  }
  {
    SCOPED_TRACE("processed row copied downwards");
    CSSEMatrix m = filled(3, 9);
    for (int r = 0; r < 12; ++r)
      for (int x = 0; x < 3; ++x) lane(m, x, r) = static_cast<float>(10 * r + x);
    m.SetRowProcessed(5);
    m.FillMatrixWithProcessedRow();
    EXPECT_TRUE(lanesAre(m, [](int x, int r) { return static_cast<float>(10 * std::min(r, 5) + x); }));
    m.SetRowProcessed(-4);  // clamped to row 0
    m.FillMatrixWithProcessedRow();
    EXPECT_EQ(lane(m, 2, 11), 2.0f);
  }
  {
    SCOPED_TRACE("restoration holes");
    // Row 2: a hole reaching the end of the row.
    const Floats rows[4] = {{5, 2, 2, 5, 9, 9}, {5, 2, 2, 2, 2, 5}, {9, 9, 9, 9, 5, 2}, {1, 1, 1, 1, 1, 1}};
    CSSEMatrix m = field(6, 4, [&](int x, int y) { return rows[y][x]; });
    m.FillRestorationHoles(1.0f);
    EXPECT_TRUE(fieldIs(m, [&](int x, int y) { return y == 0 && (x == 1 || x == 2) ? 5.0f : rows[y][x]; }));
  }
  SCOPED_TRACE("a pin area grows until the steps are small");
  const auto edges = [](int x, int y, float v) { return y == 0 || (x == 4 && y == 3) ? v : 0.0f; };
  CSSEMatrix m = field(5, 5, [&](int x, int y) { return edges(x, y, 9.0f); });
  m.FindSuitableAreaForAPin(CbVector3f(12.0f, 12.0f, 0.0f), CbVector2f(10.0f, 10.0f), 0.5f, 1.0f);
  // Column pass: row 0 jumps by 9 from row 1 and becomes 0.5; (4, 3) becomes
  // 0.5 from below; then (4, 4) no longer differs by more than 1.
  EXPECT_TRUE(fieldIs(m, [&](int x, int y) { return edges(x, y, 0.5f); }));
}

TEST(Fill, Searches) {
  CSSEMatrix m = filled(40, 100, 5.0f);
  const auto find = [&m](void (CSSEMatrix::*f)(int&, int&, float, bool), float t, bool above) {
    int x = -1, y = -1;
    (m.*f)(x, y, t, above);
    return Ints{x, y};
  };
  EXPECT_EQ(find(&CSSEMatrix::FindFirstPoint, 1.0f, true), (Ints{0, 0}))
      << "margins: 40 columns are never searched";

  m = filled(60, 100);  // 26 lines: FindFirstPoint scans lines 5 .. 20 (rows 20 .. 83)
  for (const Ints& p : {Ints{25, 30}, {25, 31}, {30, 22}, {19, 40}, {22, 85}})
    m.SetPoint(p[0], p[1], 1.0f);  // 19: left of the margin; row 85: below the lines searched
  m.SetPoint(33, 90, 2.0f);
  // FindFirstPoint with <= 1 everywhere: the first vector; FindLastPoint: a strict test, lines down to 2.
  EXPECT_EQ(
      (std::vector<Ints>{
          find(&CSSEMatrix::FindFirstPoint, 1.0f, true), find(&CSSEMatrix::FindFirstPointSpecial, 1.0f, true),
          find(&CSSEMatrix::FindFirstPoint, 1.0f, false), find(&CSSEMatrix::FindLastPoint, 1.0f, true),
          find(&CSSEMatrix::FindLastPoint, 2.0f, true)}),
      (std::vector<Ints>{{25, 30}, {30, 22}, {20, 20}, {33, 90}, {0, 0}}));
  Ints lined;
  for (int column : {25, 33})
    for (auto f : {&CSSEMatrix::FindFirstPointLined, &CSSEMatrix::FindFirstPointLinedSpecial}) {
      int y = -1;
      (m.*f)(column, y, 0.5f, true);
      lined.push_back(y);
    }
  EXPECT_EQ(lined, (Ints{30, 30, 90, 0}));  // line 22 lies beyond lines 5 .. 20

  CSSEMatrix r = filled(10, 2, 1.0f);
  EXPECT_EQ(r.FindFirstUnequalPointFromLeft(0, 9, 0, 1.0f), 9);
  r.SetPoint(3, 1, NAN);
  r.SetPoint(6, 1, 2.0f);
  EXPECT_EQ((Ints{r.FindFirstUnequalPointFromLeft(0, 9, 1, 1.0f),
                  r.FindFirstUnequalPointFromRight(9, 0, 5, 1.0f),  // row clamped to 1
                  r.FindPointFromRight(20, 0, 1, 1.5f, true), r.FindPointFromRight(5, 0, 1, 1.5f, true),
                  r.FindPointFromRight(9, 0, 1, 1.5f, false), r.FindPointFromRight(1, 4, 1, 1.5f, false)}),
            (Ints{3, 6, 6, 0, 9, 4}));
}

TEST(Fill, DrawingUpToASurface) {
  int y = -1;
  {
    SCOPED_TRACE("hit in lane 1 of a line");
    CSSEMatrix m = filled(3, 24);  // 7 lines; the scan starts at line 5
    m.SetPoint(1, 9, 3.0f);        // line 2, lane 1
    m.DrawFirstPointLined(1, 2.0f, true, 8.0f, y, 0, true);
    EXPECT_EQ(y, 9);
    EXPECT_TRUE(lanesAre(m, [](int x, int r) {
      return x != 1 ? 0.0f : r == 9 ? 3.0f : (r >= 10 && r < 24 ? 8.0f : 0.0f);
    }));
    m.Fill(0.0f);
    m.SetPoint(1, 9, 3.0f);
    m.DrawFirstPointLined(1, 2.0f, true, 8.0f, y, 0, false);
    EXPECT_EQ(y, 9);
    EXPECT_EQ(m.IntegrateMatrix(), 3.0f);
  }
  {
    SCOPED_TRACE("no hit: the scan stops above line (yMin >> 2) + 1");
    CSSEMatrix m = filled(3, 24);
    m.DrawFirstPointLined(0, 2.0f, true, 8.0f, y, 8, false);
    EXPECT_EQ(y, 16);  // lines 5, 4 scanned; line 3 stops
    m.DrawFirstPointLined(0, 2.0f, true, 8.0f, y, 8, true);
    EXPECT_EQ(y, 16);
    EXPECT_EQ(m.IntegrateMatrix(), 8.0f * 8);
  }
  {
    SCOPED_TRACE("a float mask wall stops the scan");
    CSSEMatrix m = filled(2, 24), mask = filled(2, 24);
    mask.SetPoint(0, 14, 600.0f);  // line 3, lane 2
    m.DrawFirstPointLinedUseMask(0, 2.0f, true, 8.0f, y, mask, 0);
    EXPECT_EQ(y, 14);
    EXPECT_EQ(m.IntegrateMatrix(), 8.0f * 9);  // rows 15 .. 23
    m.Fill(5.0f);
    m.SetPoint(0, 13, 1.0f);
    m.DrawFirstPointLinedUseMask(0, 2.0f, false, 8.0f, y, mask, 0);
    EXPECT_EQ(y, 12);
    EXPECT_TRUE(lanesAre(m, [](int x, int r) {
      return x != 0 ? 5.0f : r >= 16 && r < 24 ? 8.0f : (r == 13 ? 1.0f : 5.0f);
    }));
  }
  SCOPED_TRACE("byte mask variant");
  CSSEMatrix m = filled(2, 10);
  CSSEcharMatrix mask;
  mask.Create(2, 10);
  mask.SetPoint(1, 4, 2);  // the lowest wall value
  m.DrawFirstPointLinedUseMask(1, 1.0f, true, 8.0f, y, mask, 0, true);
  EXPECT_EQ(y, 4);
  EXPECT_TRUE(fieldIs(m, [](int x, int r) { return x == 1 && r > 4 ? 8.0f : 0.0f; }));
  m.Fill(0.0f);
  m.SetPoint(1, 6, 2.0f);
  m.DrawFirstPointLinedUseMask(1, 1.0f, true, 8.0f, y, mask, 0, false);
  EXPECT_EQ(y, 6);
  m.DrawFirstPointLinedUseMask(1, 1.0f, true, 8.0f, y, mask, 8, false);
  EXPECT_EQ(y, 9);  // rows above 8 are not scanned
}

TEST(Fill, CentredCopies) {
  CSSEMatrix src = filled(9, 14);
  pattern(src, 3.0f);
  for (int h : {3, 4, 7, 14})
    for (int w : {1, 4, 9}) {
      SCOPED_TRACE(testing::Message() << w << " x " << h);
      CSSEMatrix t = filled(w, h, 3.0f), hi = filled(w, h, 60.0f), lo = filled(w, h, 60.0f);
      t.CopyFromSSEMatrixCentered(src);
      hi.CopyFromSSEMatrixCenteredMaximum(src);
      lo.CopyFromSSEMatrixCenteredMinimum(src);
      const auto s = [&](int x, int r) {
        return src.GetPoint(x - (w >> 1) + (9 >> 1), r - (h >> 1) + (14 >> 1));
      };
      EXPECT_TRUE(lanesAre(t, [&](int x, int r) { return r < h ? s(x, r) : 0.0f; }));
      EXPECT_TRUE(lanesAre(hi, [&](int x, int r) { return r < h ? std::max(s(x, r), 60.0f) : 60.0f; }));
      EXPECT_TRUE(fieldIs(lo, [&](int x, int r) { return std::min(s(x, r), 60.0f); }));
    }
  // A smaller source.
  CSSEMatrix t = filled(10, 3, 3.0f);
  t.CopyFromSSEMatrixCenteredMaximum(src);
  EXPECT_EQ(t.NumValuesAbove(2.0f), 40);
  t.CopyFromSSEMatrixCentered(src);
  EXPECT_EQ(t.NumValuesAbove(0.0f), 0);
}

TEST(Fill, FromToArray) {
  CImgFromToArray a;
  EXPECT_FALSE(a.IsPositionInArray(0, 0, 1)) << "no entries";
  EXPECT_FALSE(a.IsPositionInArray(0, 0, 5));
  // One entry per SSE line, also when the rows are a multiple of 4.
  a.AllocArray(8);
  ASSERT_EQ(a.GetCount(), 3);
  a.AllocArray(7);
  ASSERT_EQ(a.GetCount(), 2);
  EXPECT_EQ((Ints{a.GetEntries()[1].from, a.GetEntries()[1].to}), (Ints{0, 999999}));

  CSSEMatrix m = filled(12, 8);  // 3 lines
  m.FillArea(3, 0, 8, 4, 1.0f);  // line 0: step up at x = 3, down at x = 8
  m.SetPoint(5, 5, 1.0f);        // line 1: steps at 5 and 6
  a.CalcArray(m, 0, 11);
  ASSERT_EQ(a.GetCount(), 3);
  Ints spans;
  for (int g = 0; g < 3; ++g) spans.insert(spans.end(), {a.GetEntries()[g].from, a.GetEntries()[g].to});
  EXPECT_EQ(spans, (Ints{3, 8, 5, 6, 0, 999999}));
  int from = -1, to = -1;
  a.GetFromToCoords(from, to, 6, 1);
  EXPECT_EQ((Ints{from, to}), (Ints{5, 6}));
  from = 0;
  to = 100;
  a.GetFromToCoords(from, to, 4, 4);  // lines 0 up to 2
  EXPECT_EQ((Ints{from, to}), (Ints{3, 8}));
  EXPECT_TRUE(a.IsPositionInArray(4, 2, 1));
  EXPECT_FALSE(a.IsPositionInArray(9, 2, 1));
  EXPECT_FALSE(a.IsPositionInArray(4, 4, 4));  // outside line 1's span
  EXPECT_TRUE(a.IsPositionInArray(5, 4, 4));
  EXPECT_TRUE(a.IsPositionInArray(100, 4, 0));  // empty line range
  m.GetFromToArray() = a;
  EXPECT_EQ(m.GetFromToArray().GetEntries()[1].to, 6);
}
