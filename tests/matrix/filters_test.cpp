#include "orvik/matrix/Filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "orvik/foundation/ThreadPool.h"
#include "orvik/matrix/ssematrix.h"
#include "support/fields.h"
#include "support/reference.h"

TEST(Median, KnownValuesOfTheExchangeRule) {
  CSSEMatrix m, out;
  m.Create(3, 3);
  out.Create(3, 3);
  const float down[9] = {9, 8, 7, 6, 5, 4, 3, 2, 1};
  for (int i = 0; i < 9; ++i) m.SetPoint(i % 3, i / 3, down[i]);
  CFilters::Median3x3(m, out, 0, 3, 0, 3);
  EXPECT_EQ(out.GetPoint(1, 1), 3.0f);  // two passes, not the true median
  EXPECT_EQ(out.GetPoint(0, 0), 9.0f);  // border copied
  EXPECT_EQ(out.GetPoint(2, 2), 1.0f);
  for (int i = 0; i < 9; ++i) m.SetPoint(i % 3, i / 3, static_cast<float>(i + 1));
  CFilters::Median3x3(m, out, 0, 3, 0, 3);
  EXPECT_EQ(out.GetPoint(1, 1), 5.0f);
}

TEST(Median, MatchesThePlainRuleOnRectangles) {
  struct Case {
    int sx, sy, xFrom, xTo, yFrom, yTo, levels;
  };
  const Case cases[] = {{9, 9, 0, 9, 0, 9, 0},     {17, 13, 2, 15, 1, 12, 3}, {12, 16, 1, 12, 3, 16, 0},
                        {23, 30, 4, 20, 5, 27, 2}, {8, 7, 0, 8, 2, 7, 0},     {40, 21, 0, 40, 0, 21, 5}};
  for (int h = 1; h <= 2; ++h)
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message() << "half " << h << " size " << c.sx << "x" << c.sy << " rect "
                                        << c.xFrom << ".." << c.xTo << ", " << c.yFrom << ".." << c.yTo);
      CSSEMatrix src, got, want;
      src.Create(c.sx, c.sy);
      randomize(src, c.sx * 31 + c.sy, c.levels);
      got.Create(c.sx, c.sy);
      randomize(got, 7);  // the filter clears it first
      want.Create(c.sx, c.sy);
      if (h == 1)
        CFilters::Median3x3(src, got, c.xFrom, c.xTo, c.yFrom, c.yTo);
      else
        CFilters::Median5x5(src, got, c.xFrom, c.xTo, c.yFrom, c.yTo);
      reference::median(src, want, h, c.xFrom, c.xTo, c.yFrom, c.yTo);
      EXPECT_TRUE(sameLanes(got, want));
    }
  CSSEMatrix m, want;
  m.Create(19, 14);
  randomize(m, 5);
  want.Create(19, 14);
  reference::median(m, want, 1, 0, 19, 0, 14);
  m.SimpleMedianFilter();
  EXPECT_TRUE(sameLanes(m, want));
}

TEST(CrossFilters, MaximumAndMinimumAgainstThePlainRule) {
  for (int sy : {3, 4, 7, 8, 13}) {
    SCOPED_TRACE(::testing::Message() << "size Y " << sy);
    CSSEMatrix src;
    src.Create(11, sy);
    randomize(src, sy, sy == 3 ? 0 : 4);
    for (bool max : {true, false}) {
      CSSEMatrix got(src), want;
      want.Create(11, sy);
      for (int y = 1; y <= sy - 2; ++y)
        for (int x = 1; x <= 9; ++x) {
          const float n[4] = {src.GetPoint(x, y - 1), src.GetPoint(x, y + 1), src.GetPoint(x - 1, y),
                              src.GetPoint(x + 1, y)};
          const float v = src.GetPoint(x, y);
          const float e = max ? *std::max_element(n, n + 4) : *std::min_element(n, n + 4);
          want.SetPoint(x, y, max ? (e > v ? e : v) : (e < v ? e : v));
        }
      max ? got.SimpleMaximumFilter() : got.SimpleMinimumFilter();
      EXPECT_TRUE(sameLanes(got, want)) << (max ? "maximum" : "minimum");
    }
  }
}

TEST(BoxFilter, MatchesThePlainTwoPassRule) {
  struct Case {
    int tx, ty, sx, sy;
  };
  const Case cases[] = {{10, 8, 10, 8}, {10, 7, 10, 7}, {9, 5, 9, 5}, {12, 6, 12, 6},
                        {8, 12, 10, 4}, {10, 4, 7, 13}, {6, 1, 6, 1}};
  for (bool shiftDown : {false, true})
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message() << "target " << c.tx << "x" << c.ty << " src " << c.sx << "x" << c.sy
                                        << " shift " << shiftDown);
      CSSEMatrix src, got, want;
      src.Create(c.sx, c.sy);
      randomize(src, c.sx + 3 * c.sy);
      got.Create(c.tx, c.ty);
      randomize(got, 99);
      want.CopyFromSSEMatrix(got);
      const int lines = std::min(src.GetSSESizeY(), want.GetSSESizeY());
      const int width = std::min(c.sx, c.tx);
      for (int row = 0; row < 4 * lines; ++row)
        for (int x = 1; x < width - 1; ++x)
          lane(want, x, row) = ((lane(src, x + 1, row) + lane(src, x, row)) + lane(src, x - 1, row)) / 3.0f;
      for (int r = 0; r <= 4 * lines - 5; ++r)
        for (int x = 0; x < width; ++x)
          want.SetPoint(
              x, r + (shiftDown ? 2 : 1),
              ((lane(src, x, r) + lane(src, x, r + 1)) + lane(src, x, r + 2)) + lane(src, x, r + 3));
      got.BoxFilter(src, shiftDown);
      EXPECT_TRUE(sameLanes(got, want));
    }
}

TEST(MaskFilter, SingleThreadedMatchesThePlainCorrelation) {
  struct Case {
    int sx, sy, mW, mH;
    bool normalise;
  };
  const Case cases[] = {{64, 64, 5, 5, true}, {37, 23, 4, 3, false},  {29, 18, 6, 6, true},
                        {20, 9, 1, 1, false}, {31, 30, 15, 15, true}, {13, 17, 2, 7, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.sx << "x" << c.sy << " mask " << c.mW << "x" << c.mH);
    CSSEMatrix target, mask, got, want;
    target.Create(c.sx, c.sy);
    randomize(target, c.sx * c.sy);
    mask.Create(c.mW, c.mH);
    for (int j = 0; j < c.mH; ++j)
      for (int i = 0; i < c.mW; ++i) mask.SetPoint(i, j, static_cast<float>((i * 7 + j * 3) % 5) - 1.5f);
    float sum = 0.0f;
    for (int j = 0; j < c.mH; ++j)
      for (int i = 0; i < c.mW; ++i) sum += std::abs(mask.GetPoint(i, j));
    got.Create(c.sx, c.sy);
    randomize(got, 3);  // kept where the mask does not fit
    want.CopyFromSSEMatrix(got);
    reference::maskCorrelation(target, want, mask, c.normalise, sum);
    target.MaskFilter(got, mask, c.normalise, false);
    EXPECT_TRUE(sameLanes(got, want));
  }
}

TEST(MaskFilter, ThreadedEqualsSingleThreadedForAnyProcessorCount) {
  struct Case {
    int sx, sy, mW, mH;
  };
  const Case cases[] = {{64, 64, 5, 5}, {50, 21, 4, 3}, {41, 16, 6, 2}, {33, 40, 3, 9}, {12, 12, 5, 5}};
  for (const Case& c : cases)
    for (int cpus : {1, 2, 3, 5, 8}) {
      SCOPED_TRACE(::testing::Message()
                   << c.sx << "x" << c.sy << " mask " << c.mW << "x" << c.mH << " cpus " << cpus);
      CSSEMatrix target, mask, single, threaded;
      target.Create(c.sx, c.sy);
      randomize(target, c.sx + c.sy);
      mask.Create(c.mW, c.mH);
      randomize(mask, c.mW * 10 + c.mH, 5);
      single.Create(c.sx, c.sy);
      randomize(single, 11);
      threaded.Create(c.sx, c.sy);
      randomize(threaded, 12);
      target.MaskFilter(single, mask, true, false);
      CbCPU::SetCount(cpus);
      target.MaskFilter(threaded, mask, true, true);
      CbCPU::SetCount(0);
      const int hW = (c.mW - 1) / 2, hH = (c.mH - 1) / 2;
      for (int y = 0; y < c.sy; ++y)
        for (int x = 0; x < c.sx; ++x) {
          const bool interior = x >= hW && x <= c.sx - c.mW + hW && y >= hH && y <= c.sy - c.mH + hH;
          ASSERT_EQ(threaded.GetPoint(x, y), interior ? single.GetPoint(x, y) : 0.0f) << x << ", " << y;
        }
    }
  // Ones 5x5: the interior is the plain mean (S = 25).
  CSSEMatrix target, mask, result;
  target.Create(64, 64);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) target.SetPoint(x, y, static_cast<float>(x + 2 * y));
  mask.Create(5, 5);
  mask.Fill(1.0f);
  // The spare lanes of the mask count in the weight sum; keep them at 0.
  for (int x = 0; x < 5; ++x) lane(mask, x, 5) = lane(mask, x, 6) = lane(mask, x, 7) = 0.0f;
  target.MaskFilter(result, mask, true, true);
  EXPECT_FLOAT_EQ(result.GetPoint(10, 20), 50.0f);
  EXPECT_EQ(result.GetPoint(1, 20), 0.0f);
  // A mask as wide as the target leaves result alone.
  CSSEMatrix wide, untouched;
  wide.Create(64, 3);
  untouched.Create(2, 2);
  target.MaskFilter(untouched, wide, false, true);
  EXPECT_EQ(untouched.GetSizeX(), 2);
}

TEST(Derivatives, ForwardDifferencesKeepTheLastRowAndColumn) {
  for (int sy : {7, 8, 5, 4}) {
    SCOPED_TRACE(::testing::Message() << "size Y " << sy);
    CSSEMatrix m;
    m.Create(6, sy);
    for (int y = 0; y < sy; ++y)
      for (int x = 0; x < 6; ++x) m.SetPoint(x, y, static_cast<float>(x * x + 10 * y * y));
    CSSEMatrix dy(m);
    dy.CalcDerivativeY();
    // Rows of the last SSE line keep their values, and so does the last row.
    const int changed = 4 * (sy >> 2) - ((sy & 3) == 0 ? 1 : 0);
    for (int y = 0; y < sy; ++y)
      for (int x = 0; x < 6; ++x)
        ASSERT_EQ(dy.GetPoint(x, y), y < changed ? 10.0f * (2 * y + 1) : m.GetPoint(x, y)) << x << ", " << y;
    CSSEMatrix dx(m);
    dx.CalcDerivativeX();
    for (int y = 0; y < sy; ++y)
      for (int x = 0; x < 6; ++x)
        ASSERT_EQ(dx.GetPoint(x, y), x < 5 ? static_cast<float>(2 * x + 1) : m.GetPoint(x, y))
            << x << ", " << y;
  }
}

TEST(ScaleMatrix, BilinearRuleAtEveryTargetElement) {
  // The last sizes span several fields of lines, before and after.
  const int sizes[][4] = {{10, 7, 20, 14}, {16, 16, 8, 8}, {13, 9, 5, 22}, {7, 12, 7, 12}, {9, 11, 4, 3},
                          {40, 150, 37, 290}, {33, 260, 20, 9}};
  for (const auto& s : sizes) {
    SCOPED_TRACE(::testing::Message() << s[0] << "x" << s[1] << " to " << s[2] << "x" << s[3]);
    CSSEMatrix src;
    src.Create(s[0], s[1]);
    randomize(src, s[0] * s[2]);
    const float sx = static_cast<float>(s[0]) / static_cast<float>(s[2]);
    const float sy = static_cast<float>(s[1]) / static_cast<float>(s[3]);
    CSSEMatrix want;
    want.Create(s[2], s[3]);
    want.Fill(src.GetPoint(0, 0));
    for (int y = 0; y < s[3]; ++y)
      for (int x = 0; x < s[2]; ++x) {
        const float fy = static_cast<float>(y) * sy, fx = static_cast<float>(x) * sx;
        const int iy = static_cast<int>(fy), ix = static_cast<int>(fx);
        const float wy = fy - static_cast<float>(iy), wx = fx - static_cast<float>(ix);
        want.SetPoint(
            x, y,
            ((src.GetPoint(ix + 1, iy) * wx * (1 - wy) + (1 - wx) * src.GetPoint(ix, iy) * (1 - wy)) +
             (1 - wx) * src.GetPoint(ix, iy + 1) * wy) +
                src.GetPoint(ix + 1, iy + 1) * wx * wy);
      }
    CSSEMatrix a(src), b(src);
    a.GetCompressionParameters().m_iMethod = 3;
    a.SetRowProcessed(5);
    a.ScaleMatrix(s[2], s[3]);
    b.ScaleMatrix_SSE(s[2], s[3]);
    EXPECT_TRUE(sameLanes(a, want));
    EXPECT_TRUE(sameLanes(b, want));
    // The new values replace the old; what describes the matrix stays.
    EXPECT_EQ(a.GetCompressionParameters().m_iMethod, 3);
    EXPECT_EQ(a.GetRowProcessed(), 5);
  }
  CSSEMatrix m;
  m.Create(4, 4);
  randomize(m, 1);
  CSSEMatrix before(m);
  m.ScaleMatrix(0, 5);
  m.ScaleMatrix_SSE(3, -1);
  EXPECT_TRUE(sameLanes(m, before));
  m.ScaleMatrix(8, 8);
  EXPECT_EQ(m.GetPoint(0, 0), before.GetPoint(0, 0));
}

TEST(Steps, RemoveDownAndUpSteps) {
  CSSEMatrix m;
  m.Create(5, 2);
  const float row[5] = {5, 5, 3.5f, 5, 4.5f};
  for (int x = 0; x < 5; ++x) {
    m.SetPoint(x, 0, row[x]);
    m.SetPoint(4 - x, 1, row[x]);  // mirrored for the up steps
  }
  CSSEMatrix up(m);
  m.RemoveDownStepsX(1.0f, 0.0f);
  const float want[5] = {5, 5, 0, 5, 4.5f};
  for (int x = 0; x < 5; ++x) EXPECT_EQ(m.GetPoint(x, 0), want[x]) << x;
  up.RemoveUpStepsX(1.0f, 0.0f);
  for (int x = 0; x < 5; ++x) EXPECT_EQ(up.GetPoint(4 - x, 1), want[x]) << x;
}

TEST(Elongate, NewColumnsTakeTheCornerValue) {
  CSSEMatrix m;
  m.Create(3, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 3; ++x) m.SetPoint(x, y, static_cast<float>(10 * x + y + 1));
  m.GetCompressionParameters().m_iMethod = 2;
  CSSEMatrix left(m), right(m);
  left.ElongateLeft(2);
  right.ElongateRight(3);
  ASSERT_EQ(left.GetSizeX(), 5);
  ASSERT_EQ(right.GetSizeX(), 6);
  EXPECT_EQ(left.GetCompressionParameters().m_iMethod, 2);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 5; ++x) EXPECT_EQ(left.GetPoint(x, y), x < 2 ? 1.0f : m.GetPoint(x - 2, y));
    for (int x = 0; x < 6; ++x) EXPECT_EQ(right.GetPoint(x, y), x < 3 ? m.GetPoint(x, y) : 21.0f);
  }
}
