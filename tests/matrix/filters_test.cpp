#include "orvik/matrix/Filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "orvik/foundation/ThreadPool.h"
#include "orvik/matrix/ssematrix.h"
#include "support/fields.h"
#include "support/reference.h"

TEST(Median, KnownValuesOfTheExchangeRule) {
  CSSEMatrix out = filled(3, 3), m = field(3, 3, [](int x, int y) { return 9 - x - 3 * y; });
  CFilters::Median3x3(m, out, 0, 3, 0, 3);
  // Two passes, not the true median; the border copied.
  EXPECT_EQ((std::vector<float>{out.GetPoint(1, 1), out.GetPoint(0, 0), out.GetPoint(2, 2)}),
            (std::vector<float>{3, 9, 1}));
  m = field(3, 3, [](int x, int y) { return 1 + x + 3 * y; });
  CFilters::Median3x3(m, out, 0, 3, 0, 3);
  EXPECT_EQ(out.GetPoint(1, 1), 5.0f);
}

TEST(Median, MatchesThePlainRuleOnRectangles) {
  // Size X, size Y, the rectangle xFrom, xTo, yFrom, yTo, and the levels of the values (0: any).
  const int cases[][7] = {{9, 9, 0, 9, 0, 9, 0},     {17, 13, 2, 15, 1, 12, 3}, {12, 16, 1, 12, 3, 16, 0},
                          {23, 30, 4, 20, 5, 27, 2}, {8, 7, 0, 8, 2, 7, 0},     {40, 21, 0, 40, 0, 21, 5}};
  for (int h = 1; h <= 2; ++h)
    for (const auto& c : cases) {
      SCOPED_TRACE(::testing::Message() << "half " << h << " size " << c[0] << "x" << c[1] << " rect " << c[2]
                                        << ".." << c[3] << ", " << c[4] << ".." << c[5]);
      CSSEMatrix src = filled(c[0], c[1]), got = filled(c[0], c[1]), want = filled(c[0], c[1]);
      randomize(src, c[0] * 31 + c[1], c[6]);
      randomize(got, 7);  // the filter clears it first
      (h == 1 ? CFilters::Median3x3 : CFilters::Median5x5)(src, got, c[2], c[3], c[4], c[5]);
      reference::median(src, want, h, c[2], c[3], c[4], c[5]);
      EXPECT_TRUE(sameLanes(got, want));
    }
  CSSEMatrix m = filled(19, 14), want = filled(19, 14);
  randomize(m, 5);
  reference::median(m, want, 1, 0, 19, 0, 14);
  m.SimpleMedianFilter();
  EXPECT_TRUE(sameLanes(m, want));
}

TEST(CrossFilters, MaximumAndMinimumAgainstThePlainRule) {
  for (int sy : {3, 4, 7, 8, 13})
    for (bool max : {true, false}) {
      SCOPED_TRACE(::testing::Message() << "size Y " << sy << (max ? " maximum" : " minimum"));
      CSSEMatrix src = filled(11, sy);
      randomize(src, sy, sy == 3 ? 0 : 4);
      CSSEMatrix got(src), want = filled(11, sy);
      for (int y = 1; y <= sy - 2; ++y)
        for (int x = 1; x <= 9; ++x) {
          const float n[4] = {src.GetPoint(x, y - 1), src.GetPoint(x, y + 1), src.GetPoint(x - 1, y),
                              src.GetPoint(x + 1, y)};
          const float v = src.GetPoint(x, y),
                      e = max ? *std::max_element(n, n + 4) : *std::min_element(n, n + 4);
          want.SetPoint(x, y, max ? (e > v ? e : v) : (e < v ? e : v));
        }
      max ? got.SimpleMaximumFilter() : got.SimpleMinimumFilter();
      EXPECT_TRUE(sameLanes(got, want));
    }
}

TEST(BoxFilter, MatchesThePlainTwoPassRule) {
  // Target size, source size.
  const int cases[][4] = {{10, 8, 10, 8}, {10, 7, 10, 7}, {9, 5, 9, 5}, {12, 6, 12, 6},
                          {8, 12, 10, 4}, {10, 4, 7, 13}, {6, 1, 6, 1}};
  for (bool shiftDown : {false, true})
    for (const auto& c : cases) {
      SCOPED_TRACE(::testing::Message() << "target " << c[0] << "x" << c[1] << " src " << c[2] << "x" << c[3]
                                        << " shift " << shiftDown);
      CSSEMatrix src = filled(c[2], c[3]), got = filled(c[0], c[1]);
      randomize(src, c[2] + 3 * c[3]);
      randomize(got, 99);
      CSSEMatrix want(got);
      const int lines = std::min(src.GetSSESizeY(), want.GetSSESizeY()), width = std::min(c[2], c[0]);
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

TEST(MaskFilter, MatchesThePlainCorrelationOnAnyProcessorCount) {
  // Target size, mask size, normalised.
  const int cases[][5] = {{64, 64, 5, 5, 1},   {37, 23, 4, 3, 0}, {29, 18, 6, 6, 1}, {20, 9, 1, 1, 0},
                          {31, 30, 15, 15, 1}, {13, 17, 2, 7, 0}, {50, 21, 4, 3, 1}, {41, 16, 6, 2, 0},
                          {33, 40, 3, 9, 1},   {12, 12, 5, 5, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c[0] << "x" << c[1] << " mask " << c[2] << "x" << c[3]);
    CSSEMatrix target = filled(c[0], c[1]), got = filled(c[0], c[1]);
    randomize(target, c[0] * c[1]);
    CSSEMatrix mask =
        field(c[2], c[3], [](int i, int j) { return static_cast<float>((i * 7 + j * 3) % 5) - 1.5f; });
    float sum = 0.0f;
    for (int j = 0; j < c[3]; ++j)
      for (int i = 0; i < c[2]; ++i) sum += std::abs(mask.GetPoint(i, j));
    randomize(got, 3);  // kept where the mask does not fit
    CSSEMatrix want(got);
    reference::maskCorrelation(target, want, mask, c[4], sum);
    target.MaskFilter(got, mask, c[4], false);
    EXPECT_TRUE(sameLanes(got, want));
    // Threaded, the result is made afresh: zero where the mask does not fit.
    const int hW = (c[2] - 1) / 2, hH = (c[3] - 1) / 2;
    for (int cpus : {1, 2, 3, 5, 8}) {
      SCOPED_TRACE(::testing::Message() << "cpus " << cpus);
      CSSEMatrix threaded = filled(c[0], c[1]);
      randomize(threaded, 12);
      CbCPU::SetCount(cpus);
      target.MaskFilter(threaded, mask, c[4], true);
      CbCPU::SetCount(0);
      EXPECT_TRUE(fieldIs(threaded, [&](int x, int y) {
        const bool interior = x >= hW && x <= c[0] - c[2] + hW && y >= hH && y <= c[1] - c[3] + hH;
        return interior ? got.GetPoint(x, y) : 0.0f;
      }));
    }
  }
  // Ones 5x5: the interior is the plain mean (S = 25).
  CSSEMatrix result, target = field(64, 64, [](int x, int y) { return x + 2 * y; }),
                     mask = filled(5, 5, 1.0f);
  // The spare lanes of the mask count in the weight sum; keep them at 0.
  for (int x = 0; x < 5; ++x) lane(mask, x, 5) = lane(mask, x, 6) = lane(mask, x, 7) = 0.0f;
  target.MaskFilter(result, mask, true, true);
  EXPECT_FLOAT_EQ(result.GetPoint(10, 20), 50.0f);
  EXPECT_EQ(result.GetPoint(1, 20), 0.0f);
  // A mask as wide as the target leaves result alone.
  CSSEMatrix wide = filled(64, 3), untouched = filled(2, 2);
  target.MaskFilter(untouched, wide, false, true);
  EXPECT_EQ(untouched.GetSizeX(), 2);
}

TEST(Derivatives, ForwardDifferencesKeepTheLastRowAndColumn) {
  for (int sy : {7, 8, 5, 4}) {
    SCOPED_TRACE(::testing::Message() << "size Y " << sy);
    const CSSEMatrix m = field(6, sy, [](int x, int y) { return x * x + 10 * y * y; });
    CSSEMatrix dy(m), dx(m);
    dy.CalcDerivativeY();
    dx.CalcDerivativeX();
    // Rows of the last SSE line keep their values, and so does the last row.
    const int changed = 4 * (sy >> 2) - ((sy & 3) == 0 ? 1 : 0);
    EXPECT_TRUE(
        fieldIs(dy, [&](int x, int y) { return y < changed ? 10.0f * (2 * y + 1) : m.GetPoint(x, y); }));
    EXPECT_TRUE(
        fieldIs(dx, [&](int x, int y) { return x < 5 ? static_cast<float>(2 * x + 1) : m.GetPoint(x, y); }));
  }
}

TEST(ScaleMatrix, BilinearRuleAtEveryTargetElement) {
  // The last sizes span several fields of lines, before and after.
  const int sizes[][4] = {{10, 7, 20, 14}, {16, 16, 8, 8},     {13, 9, 5, 22},  {7, 12, 7, 12},
                          {9, 11, 4, 3},   {40, 150, 37, 290}, {33, 260, 20, 9}};
  for (const auto& s : sizes) {
    SCOPED_TRACE(::testing::Message() << s[0] << "x" << s[1] << " to " << s[2] << "x" << s[3]);
    CSSEMatrix src = filled(s[0], s[1]), want = filled(s[2], s[3]);
    randomize(src, s[0] * s[2]);
    const float sx = static_cast<float>(s[0]) / static_cast<float>(s[2]);
    const float sy = static_cast<float>(s[1]) / static_cast<float>(s[3]);
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
  CSSEMatrix m = filled(4, 4);
  randomize(m, 1);
  const CSSEMatrix before(m);
  m.ScaleMatrix(0, 5);
  m.ScaleMatrix_SSE(3, -1);
  EXPECT_TRUE(sameLanes(m, before));
  m.ScaleMatrix(8, 8);
  EXPECT_EQ(m.GetPoint(0, 0), before.GetPoint(0, 0));
}

TEST(Steps, RemoveDownAndUpSteps) {
  // A step of exactly the limit stays.
  const float row[5] = {5, 5, 3.5f, 5, 4.0f}, want[5] = {5, 5, 0, 5, 4.0f};
  // Row 1 mirrored for the up steps.
  CSSEMatrix m = field(5, 2, [&](int x, int y) { return row[y ? 4 - x : x]; }), up(m);
  m.RemoveDownStepsX(1.0f, 0.0f);
  up.RemoveUpStepsX(1.0f, 0.0f);
  for (int x = 0; x < 5; ++x) {
    EXPECT_EQ(m.GetPoint(x, 0), want[x]) << x;
    EXPECT_EQ(up.GetPoint(4 - x, 1), want[x]) << x;
  }
}

TEST(Elongate, NewColumnsTakeTheCornerValue) {
  CSSEMatrix m = field(3, 5, [](int x, int y) { return 10 * x + y + 1; });
  m.GetCompressionParameters().m_iMethod = 2;
  CSSEMatrix left(m), right(m);
  left.ElongateLeft(2);
  right.ElongateRight(3);
  ASSERT_EQ(left.GetSizeX(), 5);
  ASSERT_EQ(right.GetSizeX(), 6);
  EXPECT_EQ(left.GetCompressionParameters().m_iMethod, 2);
  EXPECT_TRUE(fieldIs(left, [&](int x, int y) { return x < 2 ? 1.0f : m.GetPoint(x - 2, y); }));
  EXPECT_TRUE(fieldIs(right, [&](int x, int y) { return x < 3 ? m.GetPoint(x, y) : 21.0f; }));
}
