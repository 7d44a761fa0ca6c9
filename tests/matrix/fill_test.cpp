#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "orvik/chain/SSEcharMatrix.h"
#include "orvik/foundation/Exception.h"
#include "orvik/matrix/ssematrix.h"
#include "support/fields.h"

TEST(Fill, FillArea) {
  CSSEMatrix m;
  m.Create(10, 10);
  {
    SCOPED_TRACE("a rectangle inside the matrix");
    m.FillArea(2, 1, 5, 6, 9.0f);
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x)
        EXPECT_EQ(m.GetPoint(x, y), (x >= 2 && x < 5 && y >= 1 && y < 6) ? 9.0f : 0.0f) << x << "," << y;
  }
  {
    SCOPED_TRACE("the last column is never filled; rows reach the spare lanes");
    m.Fill(0.0f);
    m.FillArea(-5, -5, 100, 100, 1.0f);
    const auto l = lanes(m);
    for (int g = 0; g < 3; ++g)
      for (int x = 0; x < 10; ++x)
        for (int k = 0; k < 4; ++k) EXPECT_EQ(l[g * 40 + 4 * x + k], x < 9 ? 1.0f : 0.0f);
  }
  {
    SCOPED_TRACE("nothing on an empty range");
    m.Fill(0.0f);
    m.FillArea(5, 3, 5, 8, 1.0f);
    m.FillArea(2, 4, 8, 4, 1.0f);
    EXPECT_EQ(m.NumValuesAbove(0.0f), 0);
  }
}

TEST(Fill, CopyAreaOfMatrix) {
  CSSEMatrix src;
  src.Create(9, 21);
  pattern(src, 3.0f);
  {
    SCOPED_TRACE("every row offset against an element-by-element copy");
    for (int y0 = 0; y0 < 8; ++y0)
      for (int height : {1, 3, 4, 5, 8, 13}) {
        SCOPED_TRACE(testing::Message() << "y0 " << y0 << " height " << height);
        CSSEMatrix w;
        ASSERT_TRUE(w.CopyAreaOfMatrix(src, 2, y0, 6, height));
        ASSERT_EQ(w.GetSizeX(), 6);
        ASSERT_EQ(w.GetSizeY(), height);
        const auto l = lanes(w);
        for (int g = 0; g < w.GetSSESizeY(); ++g)
          for (int x = 0; x < 6; ++x)
            for (int k = 0; k < 4; ++k) {
              const int y = 4 * g + k;
              const float expected = y < height ? src.GetPointUnsafe(x + 2, y + y0) : 0.0f;
              EXPECT_EQ(l[g * 24 + 4 * x + k], expected) << x << "," << y;
            }
      }
  }
  {
    SCOPED_TRACE("the window reaching the bottom row of the source");
    CSSEMatrix w;
    ASSERT_TRUE(w.CopyAreaOfMatrix(src, 0, 17, 9, 4));
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 9; ++x) EXPECT_EQ(w.GetPoint(x, y), src.GetPoint(x, y + 17));
  }
  {
    SCOPED_TRACE("refusals leave the target unchanged");
    CSSEMatrix w, none;
    w.Create(2, 2);
    w.Fill(5.0f);
    EXPECT_FALSE(w.CopyAreaOfMatrix(src, 0, 0, 0, 3));
    EXPECT_FALSE(w.CopyAreaOfMatrix(src, 0, 0, 3, 0));
    EXPECT_FALSE(w.CopyAreaOfMatrix(src, -1, 0, 3, 3));
    EXPECT_FALSE(w.CopyAreaOfMatrix(src, 0, -1, 3, 3));
    EXPECT_FALSE(w.CopyAreaOfMatrix(src, 7, 0, 3, 3));
    EXPECT_FALSE(w.CopyAreaOfMatrix(src, 0, 19, 3, 3));
    EXPECT_FALSE(w.CopyAreaOfMatrix(none, 0, 0, 1, 1));
    EXPECT_EQ(w.GetSizeX(), 2);
    EXPECT_EQ(lanes(w), std::vector<float>(8, 5.0f));
  }
  {
    SCOPED_TRACE("a window of the matrix itself");
    CSSEMatrix w(src);
    ASSERT_TRUE(w.CopyAreaOfMatrix(w, 1, 3, 4, 6));
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 4; ++x) EXPECT_EQ(w.GetPoint(x, y), src.GetPoint(x + 1, y + 3));
  }
}

namespace {

void setRow(CSSEMatrix& m, int y, const std::vector<float>& v) {
  for (int x = 0; x < static_cast<int>(v.size()); ++x) m.SetPoint(x, y, v[x]);
}

std::vector<float> row(const CSSEMatrix& m, int y) {
  std::vector<float> out;
  for (int x = 0; x < m.GetSizeX(); ++x) out.push_back(m.GetPoint(x, y));
  return out;
}
}  // namespace

TEST(Fill, FillAreaExactAndApprox) {
  CSSEMatrix m;
  m.Create(7, 13);
  {
    SCOPED_TRACE("exact rectangle keeps the other lanes of partial lines");
    m.Fill(1.0f);
    m.FillAreaExact(-3, 2, 100, 9, 5.0f);
    for (int r = 0; r < 16; ++r)
      for (int x = 0; x < 7; ++x) EXPECT_EQ(lane(m, x, r), (r >= 2 && r < 9) ? 5.0f : 1.0f) << x << "," << r;
  }
  {
    SCOPED_TRACE("half-plane with a normal along y");
    m.Fill(0.0f);
    m.FillAreaExact(CbVector2f(3.7f, 2.2f), CbVector2f(0.0f, 1.0f), 4.0f);
    for (int r = 0; r < 16; ++r) EXPECT_EQ(lane(m, 3, r), (r >= 2 && r < 13) ? 4.0f : 0.0f) << r;
    m.Fill(0.0f);
    m.FillAreaExact(CbVector2f(3.7f, 2.2f), CbVector2f(-2.0f, 0.00001f), 4.0f);  // columns 0 .. 2
    EXPECT_EQ(m.NumValuesAbove(1.0f), 3 * 13);
  }
  {
    SCOPED_TRACE("oblique half-planes against the boundary formula");
    for (CbVector2f n : {CbVector2f(1.0f, 1.0f), CbVector2f(-1.0f, 2.0f), CbVector2f(0.5f, -1.5f), CbVector2f(-3.0f, -1.0f)}) {
      m.Fill(0.0f);
      const CbVector2f p(3.5f, 6.25f);
      m.FillAreaExact(p, n, 1.0f);
      const float len = std::sqrt(n.x * n.x + n.y * n.y);
      const float nx = n.x / len, ny = n.y / len;
      const float s = nx / (0.0f - ny), c = p.y - s * p.x;
      for (int y = 0; y < 13; ++y) {
        const int b = static_cast<int>((static_cast<float>(y) - c) / s);
        for (int x = 0; x < 7; ++x) {
          const bool in = nx < 0 ? x <= b : x >= b;
          EXPECT_EQ(m.GetPoint(x, y), in ? 1.0f : 0.0f) << n.x << "," << n.y << " at " << x << "," << y;
        }
      }
    }
  }
  {
    SCOPED_TRACE("an empty matrix throws");
    CSSEMatrix empty;
    try {
      empty.FillAreaExact(CbVector2f(1, 1), CbVector2f(0, 1), 1.0f);
      FAIL() << "no exception";
    } catch (const CbException& e) {
      EXPECT_STREQ(e.GetFile(), "ssematrix");
      EXPECT_EQ(e.GetLine(), 8097);
      EXPECT_STREQ(e.GetFunction(), "CSSEMatrix::FillAreaExact");
    }
  }
  {
    SCOPED_TRACE("approximate fill never touches the first and last line");
    CSSEMatrix a;
    a.Create(6, 20);  // 6 lines
    a.FillAreaApprox(1, -100, 4, 100, 2.0f);
    for (int r = 0; r < 24; ++r)
      for (int x = 0; x < 6; ++x) EXPECT_EQ(lane(a, x, r), (r >= 4 && r < 20 && x >= 1 && x < 4) ? 2.0f : 0.0f);
    a.Fill(0.0f);
    a.FillAreaApprox(0, 9, 6, 9, 2.0f);  // from line 1 + 1 up to line 3: line 2 only
    for (int r = 0; r < 24; ++r) EXPECT_EQ(lane(a, 0, r), (r >= 8 && r < 12) ? 2.0f : 0.0f) << r;
  }
}

TEST(Fill, ProfilesRowsAndHoles) {
  {
    SCOPED_TRACE("cylinder profile");
    CSSEMatrix m;
    m.Create(8, 16);  // 5 lines
    m.FillAreaZylindrical(2, 0, 6, 100, 1.0f, 1.0f, true);
    const float r = 2.0f;
    const float u[4] = {1.0f, 0.0f, -1.0f, -2.0f};
    for (int x = 0; x < 8; ++x)
      for (int rr = 0; rr < 20; ++rr) {
        float expected = 0.0f;
        if (x >= 2 && x < 6 && rr < 16) expected = 0.0f - std::sqrt(std::max(0.0f, r * r - u[x - 2] * u[x - 2]));
        EXPECT_EQ(lane(m, x, rr), expected) << x << "," << rr;
      }
  }
  {
    SCOPED_TRACE("processed row copied downwards");
    CSSEMatrix m;
    m.Create(3, 9);
    for (int r = 0; r < 12; ++r)
      for (int x = 0; x < 3; ++x) lane(m, x, r) = static_cast<float>(10 * r + x);
    m.SetRowProcessed(5);
    m.FillMatrixWithProcessedRow();
    for (int r = 0; r < 12; ++r)
      for (int x = 0; x < 3; ++x) EXPECT_EQ(lane(m, x, r), static_cast<float>(10 * std::min(r, 5) + x)) << x << "," << r;
    m.SetRowProcessed(-4);  // clamped to row 0
    m.FillMatrixWithProcessedRow();
    EXPECT_EQ(lane(m, 2, 11), 2.0f);
  }
  {
    SCOPED_TRACE("restoration holes");
    CSSEMatrix m;
    m.Create(6, 4);
    m.Fill(7.0f);
    setRow(m, 0, {5, 2, 2, 5, 9, 9});
    setRow(m, 1, {5, 2, 2, 2, 2, 5});
    setRow(m, 2, {9, 9, 9, 9, 5, 2});  // a hole reaching the end of the row
    setRow(m, 3, {1, 1, 1, 1, 1, 1});
    m.FillRestorationHoles(1.0f);
    EXPECT_EQ(row(m, 0), (std::vector<float>{5, 5, 5, 5, 9, 9}));
    EXPECT_EQ(row(m, 1), (std::vector<float>{5, 2, 2, 2, 2, 5}));
    EXPECT_EQ(row(m, 2), (std::vector<float>{9, 9, 9, 9, 5, 2}));
    EXPECT_EQ(row(m, 3), (std::vector<float>{1, 1, 1, 1, 1, 1}));
  }
  {
    SCOPED_TRACE("a pin area grows until the steps are small");
    CSSEMatrix m;
    m.Create(5, 5);
    for (int y = 0; y < 5; ++y) setRow(m, y, {0, 0, 0, 0, 0});
    setRow(m, 0, {9, 9, 9, 9, 9});
    m.SetPoint(4, 3, 9.0f);
    m.FindSuitableAreaForAPin(CbVector3f(12.0f, 12.0f, 0.0f), CbVector2f(10.0f, 10.0f), 0.5f, 1.0f);
    // Column pass: row 0 jumps by 9 from row 1 and becomes 0.5; (4, 3) becomes
    // 0.5 from below; then (4, 4) no longer differs by more than 1.
    EXPECT_EQ(row(m, 0), (std::vector<float>{0.5f, 0.5f, 0.5f, 0.5f, 0.5f}));
    EXPECT_EQ(row(m, 3), (std::vector<float>{0, 0, 0, 0, 0.5f}));
    EXPECT_EQ(row(m, 4), (std::vector<float>{0, 0, 0, 0, 0}));
  }
}

TEST(Fill, Searches) {
  {
    SCOPED_TRACE("margins: 40 columns are never searched");
    CSSEMatrix m;
    m.Create(40, 100);
    m.Fill(5.0f);
    int x = -1, y = -1;
    m.FindFirstPoint(x, y, 1.0f, true);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
  }
  CSSEMatrix m;
  m.Create(60, 100);  // 26 lines: FindFirstPoint scans lines 5 .. 20 (rows 20 .. 83)
  m.SetPoint(25, 30, 1.0f);
  m.SetPoint(25, 31, 1.0f);
  m.SetPoint(30, 22, 1.0f);
  m.SetPoint(19, 40, 1.0f);  // left of the margin
  m.SetPoint(33, 90, 2.0f);
  int x = -1, y = -1;
  {
    SCOPED_TRACE("first point");
    m.FindFirstPoint(x, y, 1.0f, true);
    EXPECT_EQ(x, 25);
    EXPECT_EQ(y, 30);
    m.FindFirstPointSpecial(x, y, 1.0f, true);
    EXPECT_EQ(x, 30);
    EXPECT_EQ(y, 22);
    m.FindFirstPoint(x, y, 1.0f, false);  // <= 1 everywhere: the first vector
    EXPECT_EQ(x, 20);
    EXPECT_EQ(y, 20);
  }
  {
    SCOPED_TRACE("last point, strict test, lines down to 2");
    m.FindLastPoint(x, y, 1.0f, true);
    EXPECT_EQ(x, 33);
    EXPECT_EQ(y, 90);
    m.FindLastPoint(x, y, 2.0f, true);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    m.FindFirstPointLined(25, y, 0.5f, true);
    EXPECT_EQ(y, 30);
    m.FindFirstPointLined(33, y, 0.5f, true);
    EXPECT_EQ(y, 90);
    m.FindFirstPointLinedSpecial(33, y, 0.5f, true);
    EXPECT_EQ(y, 0);  // line 22 lies beyond lines 5 .. 20
    m.FindFirstPointLinedSpecial(25, y, 0.5f, true);
    EXPECT_EQ(y, 30);
  }
  {
    SCOPED_TRACE("row searches");
    CSSEMatrix r;
    r.Create(10, 2);
    r.Fill(1.0f);
    EXPECT_EQ(r.FindFirstUnequalPointFromLeft(0, 9, 0, 1.0f), 9);
    r.SetPoint(3, 1, NAN);
    r.SetPoint(6, 1, 2.0f);
    EXPECT_EQ(r.FindFirstUnequalPointFromLeft(0, 9, 1, 1.0f), 3);
    EXPECT_EQ(r.FindFirstUnequalPointFromRight(9, 0, 5, 1.0f), 6);  // row clamped to 1
    EXPECT_EQ(r.FindPointFromRight(20, 0, 1, 1.5f, true), 6);
    EXPECT_EQ(r.FindPointFromRight(5, 0, 1, 1.5f, true), 0);
    EXPECT_EQ(r.FindPointFromRight(9, 0, 1, 1.5f, false), 9);
    EXPECT_EQ(r.FindPointFromRight(1, 4, 1, 1.5f, false), 4);
  }
}

TEST(Fill, DrawingUpToASurface) {
  {
    SCOPED_TRACE("hit in lane 1 of a line");
    CSSEMatrix m;
    m.Create(3, 24);  // 7 lines; the scan starts at line 5
    m.SetPoint(1, 9, 3.0f);  // line 2, lane 1
    int y = -1;
    m.DrawFirstPointLined(1, 2.0f, true, 8.0f, y, 0, true);
    EXPECT_EQ(y, 9);
    for (int r = 0; r < 28; ++r) EXPECT_EQ(lane(m, 1, r), r == 9 ? 3.0f : (r >= 10 && r < 24 ? 8.0f : 0.0f)) << r;
    m.Fill(0.0f);
    m.SetPoint(1, 9, 3.0f);
    m.DrawFirstPointLined(1, 2.0f, true, 8.0f, y, 0, false);
    EXPECT_EQ(y, 9);
    EXPECT_EQ(m.IntegrateMatrix(), 3.0f);
  }
  {
    SCOPED_TRACE("no hit: the scan stops above line (yMin >> 2) + 1");
    CSSEMatrix m;
    m.Create(3, 24);
    int y = -1;
    m.DrawFirstPointLined(0, 2.0f, true, 8.0f, y, 8, false);
    EXPECT_EQ(y, 16);  // lines 5, 4 scanned; line 3 stops
    m.DrawFirstPointLined(0, 2.0f, true, 8.0f, y, 8, true);
    EXPECT_EQ(y, 16);
    EXPECT_EQ(m.IntegrateMatrix(), 8.0f * 8);
  }
  {
    SCOPED_TRACE("a float mask wall stops the scan");
    CSSEMatrix m, mask;
    m.Create(2, 24);
    mask.Create(2, 24);
    mask.SetPoint(0, 14, 600.0f);  // line 3, lane 2
    int y = -1;
    m.DrawFirstPointLinedUseMask(0, 2.0f, true, 8.0f, y, mask, 0);
    EXPECT_EQ(y, 14);
    EXPECT_EQ(m.IntegrateMatrix(), 8.0f * 9);  // rows 15 .. 23
    m.Fill(5.0f);
    m.SetPoint(0, 13, 1.0f);
    m.DrawFirstPointLinedUseMask(0, 2.0f, false, 8.0f, y, mask, 0);
    EXPECT_EQ(y, 12);
    for (int r = 0; r < 28; ++r) EXPECT_EQ(lane(m, 0, r), r >= 16 && r < 24 ? 8.0f : (r == 13 ? 1.0f : 5.0f)) << r;
  }
  {
    SCOPED_TRACE("byte mask variant");
    CSSEMatrix m;
    CSSEcharMatrix mask;
    m.Create(2, 10);
    mask.Create(2, 10);
    mask.SetPoint(1, 4, 3);
    int y = -1;
    m.DrawFirstPointLinedUseMask(1, 1.0f, true, 8.0f, y, mask, 0, true);
    EXPECT_EQ(y, 4);
    for (int r = 0; r < 10; ++r) EXPECT_EQ(m.GetPoint(1, r), r > 4 ? 8.0f : 0.0f) << r;
    m.Fill(0.0f);
    m.SetPoint(1, 6, 2.0f);
    m.DrawFirstPointLinedUseMask(1, 1.0f, true, 8.0f, y, mask, 0, false);
    EXPECT_EQ(y, 6);
    m.DrawFirstPointLinedUseMask(1, 1.0f, true, 8.0f, y, mask, 8, false);
    EXPECT_EQ(y, 9);  // rows above 8 are not scanned
  }
}

TEST(Fill, CentredCopies) {
  CSSEMatrix src;
  src.Create(9, 14);
  pattern(src, 3.0f);
  for (int h : {3, 4, 7, 14})
    for (int w : {1, 4, 9}) {
      SCOPED_TRACE(testing::Message() << w << " x " << h);
      CSSEMatrix t, hi, lo;
      t.Create(w, h);
      t.Fill(3.0f);
      t.CopyFromSSEMatrixCentered(src);
      hi.Create(w, h);
      lo.Create(w, h);
      hi.Fill(60.0f);
      lo.Fill(60.0f);
      hi.CopyFromSSEMatrixCenteredMaximum(src);
      lo.CopyFromSSEMatrixCenteredMinimum(src);
      for (int r = 0; r < 4 * t.GetSSESizeY(); ++r)
        for (int x = 0; x < w; ++x) {
          if (r >= h) {
            EXPECT_EQ(lane(t, x, r), 0.0f);
            EXPECT_EQ(lane(hi, x, r), 60.0f);
            continue;
          }
          const float s = src.GetPoint(x - (w >> 1) + (9 >> 1), r - (h >> 1) + (14 >> 1));
          EXPECT_EQ(lane(t, x, r), s);
          EXPECT_EQ(lane(hi, x, r), std::max(s, 60.0f));
          EXPECT_EQ(lane(lo, x, r), std::min(s, 60.0f));
        }
    }
  {
    SCOPED_TRACE("a smaller source");
    CSSEMatrix t;
    t.Create(10, 3);
    t.Fill(3.0f);
    t.CopyFromSSEMatrixCenteredMaximum(src);
    EXPECT_EQ(t.NumValuesAbove(2.0f), 40);
    t.CopyFromSSEMatrixCentered(src);
    EXPECT_EQ(t.NumValuesAbove(0.0f), 0);
  }
}

TEST(Fill, FromToArray) {
  CImgFromToArray a;
  {
    SCOPED_TRACE("no entries");
    EXPECT_FALSE(a.IsPositionInArray(0, 0, 1));
    EXPECT_FALSE(a.IsPositionInArray(0, 0, 5));
  }
  {
    SCOPED_TRACE("one entry per SSE line, also when the rows are a multiple of 4");
    a.AllocArray(8);
    ASSERT_EQ(a.GetCount(), 3);
    a.AllocArray(7);
    ASSERT_EQ(a.GetCount(), 2);
    EXPECT_EQ(a.GetEntries()[1].from, 0);
    EXPECT_EQ(a.GetEntries()[1].to, 999999);
  }
  CSSEMatrix m;
  m.Create(12, 8);  // 3 lines
  m.FillArea(3, 0, 8, 4, 1.0f);  // line 0: step up at x = 3, down at x = 8
  m.SetPoint(5, 5, 1.0f);        // line 1: steps at 5 and 6
  a.CalcArray(m, 0, 11);
  ASSERT_EQ(a.GetCount(), 3);
  {
    SCOPED_TRACE("spans");
    EXPECT_EQ(a.GetEntries()[0].from, 3);
    EXPECT_EQ(a.GetEntries()[0].to, 8);
    EXPECT_EQ(a.GetEntries()[1].from, 5);
    EXPECT_EQ(a.GetEntries()[1].to, 6);
    EXPECT_EQ(a.GetEntries()[2].from, 0);
    EXPECT_EQ(a.GetEntries()[2].to, 999999);
  }
  {
    SCOPED_TRACE("queries");
    int from = -1, to = -1;
    a.GetFromToCoords(from, to, 6, 1);
    EXPECT_EQ(from, 5);
    EXPECT_EQ(to, 6);
    from = 0;
    to = 100;
    a.GetFromToCoords(from, to, 4, 4);  // lines 0 up to 2
    EXPECT_EQ(from, 3);
    EXPECT_EQ(to, 8);
    EXPECT_TRUE(a.IsPositionInArray(4, 2, 1));
    EXPECT_FALSE(a.IsPositionInArray(9, 2, 1));
    EXPECT_FALSE(a.IsPositionInArray(4, 4, 4));  // outside line 1's span
    EXPECT_TRUE(a.IsPositionInArray(5, 4, 4));
    EXPECT_TRUE(a.IsPositionInArray(100, 4, 0));  // empty line range
    m.GetFromToArray() = a;
    EXPECT_EQ(m.GetFromToArray().GetEntries()[1].to, 6);
  }
}
