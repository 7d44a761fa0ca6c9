#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "orvik/chain/SSEcharMatrix.h"
#include "orvik/foundation/Alloc.h"
#include "orvik/matrix/ssematrix.h"
#include "support/fields.h"

namespace {

void setColumn(CSSEcharMatrix& m, int x, int v) {
  for (int r = 0; r < laneRows(m); ++r) lane(m, x, r) = static_cast<signed char>(v);
}

// Rows y of column x hold base + y + 50 (x & 1).
CSSEcharMatrix rows(int width, int height, int base) {
  CSSEcharMatrix m(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) m.SetPoint(x, y, static_cast<char>(base + y + 50 * (x & 1)));
  return m;
}

using Grid = std::vector<std::vector<int>>;
Grid grid(const CSSEcharMatrix& m) {
  Grid g(m.GetSizeY(), std::vector<int>(m.GetSizeX()));
  for (int y = 0; y < m.GetSizeY(); ++y)
    for (int x = 0; x < m.GetSizeX(); ++x) g[y][x] = m.GetPoint(x, y);
  return g;
}

int saturate(int v) { return std::clamp(v, -128, 127); }
int wrap(int v) { return static_cast<signed char>(static_cast<unsigned char>(v & 0xFF)); }

}  // namespace

TEST(ByteSignal, DerivativeAndPDAgainstScalarReference) {
  {
    SCOPED_TRACE("ramp and saturation");
    CSSEcharMatrix m(5, 5);
    const int columns[5] = {0, 100, 120, -100, 100};
    for (int x = 0; x < 5; ++x) setColumn(m, x, columns[x]);
    m.CalcDerivative();
    for (int r = 0; r < laneRows(m); ++r)
      for (int x = 0; x < 5; ++x) ASSERT_EQ(lane(m, x, r), (std::vector<int>{0, 120, -128, -20, 0}[x])) << x;
    setColumn(m, 0, -100);
    setColumn(m, 2, 100);
    m.CalcDerivative();
    EXPECT_EQ(lane(m, 1, 7), 127);
  }
  CSSEcharMatrix m(37, 41);
  randomize(m, 7);
  const CSSEcharMatrix source(m);
  CSSEcharMatrix d(m);
  d.CalcDerivative();
  m.CalcPDResult();  // wrapping difference, saturating sum
  for (int x = 0; x < 37; ++x)
    for (int r = 0; r < laneRows(m); ++r) {
      const bool outer = x == 0 || x == 36;
      const int l = outer ? 0 : lane(source, x - 1, r), h = outer ? 0 : lane(source, x + 1, r);
      const int s = lane(source, x, r);
      ASSERT_EQ(lane(d, x, r), outer ? 0 : saturate(h - l)) << x << "," << r;
      ASSERT_EQ(lane(m, x, r), outer ? s : saturate(s + wrap(h - l))) << x << "," << r;
    }
}

TEST(ByteSignal, TimeVarianceAgainstScalarReference) {
  CSSEcharMatrix m(23, 20);
  randomize(m, 11);
  for (int x = 0; x < 23; ++x) lane(m, x, 5) = 17;  // a constant lane: -63
  const CSSEcharMatrix s(m);
  m.CalcTimeVariance(m);  // in place
  for (int x = 0; x < 23; ++x)
    for (int r = 0; r < laneRows(s); ++r) {
      int expected = 0;
      if (x >= 2 && x < 21) {
        int sum = 0;
        for (int k = -2; k <= 2; ++k) sum += lane(s, x + k, r);
        const double dev = lane(s, x - 2, r) - sum / 5;  // mean toward zero
        expected = std::clamp(static_cast<int>(std::sqrt(5.0 * dev * dev)) - 63, -63, 63);
      }
      ASSERT_EQ(lane(m, x, r), expected) << x << "," << r;
    }
}

TEST(ByteSignal, IntegralVectorAndSyllables) {
  CSSEcharMatrix m(2, 20);  // two SSE lines, 32 lanes
  setColumn(m, 0, 10);
  setColumn(m, 1, 100);
  const auto integral = [](const CSSEcharMatrix& s, int offset, int lines) {
    t_intvector v = s.GetIntegralVectorFromMatrix(offset, lines);
    std::vector<int> out(v.values, v.values + v.count);
    SafeFree(v.values);
    return out;
  };
  // Column sums over the chosen lines, divided by all lanes.
  EXPECT_EQ(integral(m, 3, 32), (std::vector<int>{7, 97}));
  EXPECT_EQ(integral(m, -41, 16),
            (std::vector<int>{25, -57}));  // 100 + 41 wraps to -115; 16 * 51 / 32 = 25.5
  EXPECT_EQ(integral(m, 0, 15), (std::vector<int>{0, 0})) << "no whole line";
  EXPECT_TRUE(integral(CSSEcharMatrix(), 0, 16).empty());

  // Columns of byte -40 read as silence (0), bursts of twelve columns of
  // byte h - 40 as sound of level h.
  const auto syllables = [](std::vector<std::pair<int, int>> bursts, int firstColumn = -40) {
    CSSEcharMatrix s(100, 30);
    s.Clear(-40);
    for (const auto& [start, level] : bursts)
      for (int x = start; x < start + 12; ++x) setColumn(s, x, level - 40);
    setColumn(s, 0, firstColumn);
    return s.CalcNumSyllables();
  };
  EXPECT_EQ(syllables({{20, 100}, {45, 100}, {70, 100}}), 3);
  EXPECT_EQ(syllables({{40, 60}}), 1);
  EXPECT_EQ(syllables({}), 0);
  EXPECT_EQ(CSSEcharMatrix(3, 3).CalcNumSyllables(), 0);
  // The threshold is a fifth of the range: a burst of 40 next to one of 100 counts.
  EXPECT_EQ(syllables({{20, 100}, {50, 40}}), 2);
  // A burst of 25 rises by 5 above the threshold of 20, over two columns: the
  // slope summed over three columns reaches 10, enough for a rise.
  EXPECT_EQ(syllables({{20, 100}, {50, 25}}), 2);
  // The first column is not smoothed and widens the range to 127: the
  // threshold of 25 swallows a burst of 24.
  EXPECT_EQ(syllables({{20, 100}, {50, 24}}, 87), 1);
  EXPECT_EQ(syllables({{20, 100}, {50, 24}}), 2);
}

TEST(ByteSignal, StackingAndResizing) {
  {
    SCOPED_TRACE("CombineYDir with a shorter third");
    const CSSEcharMatrix first = rows(4, 5, 0), second = rows(3, 20, 10), third = rows(5, 2, -30);
    CSSEcharMatrix m;
    m.CombineYDir(first, second, &third);
    ASSERT_EQ(m.GetSizeX(), 3);
    ASSERT_EQ(m.GetSizeY(), 27);
    for (int x = 0; x < 3; ++x)
      for (int y = 0; y < 27; ++y) {
        const int expected = y < 5 ? y : (y < 25 ? 10 + y - 5 : -30 + y - 25);
        ASSERT_EQ(m.GetPoint(x, y), expected + 50 * (x & 1)) << x << "," << y;
      }
    CSSEcharMatrix a = rows(3, 4, 0);
    a.CombineYDir(a, second, nullptr);  // the first is the target itself
    ASSERT_EQ(a.GetSizeY(), 24);
    EXPECT_EQ(a.GetPoint(1, 3), 53);
    EXPECT_EQ(a.GetPoint(1, 4), 60);
    EXPECT_EQ(a.GetPoint(0, 23), 29);
  }
  {
    SCOPED_TRACE("CombineYDirFast keeps the first's spare lanes between");
    CSSEcharMatrix first = rows(2, 5, 0), m;
    for (int r = 5; r < 16; ++r) lane(first, 0, r) = 99;
    m.CombineYDirFast(first, rows(3, 3, 20));
    ASSERT_EQ(m.GetSizeX(), 2);
    ASSERT_EQ(m.GetSizeY(), 32);
    EXPECT_EQ((std::vector<int>{m.GetPoint(0, 4), m.GetPoint(0, 5), m.GetPoint(0, 15), m.GetPoint(0, 16),
                                m.GetPoint(1, 18), m.GetPoint(0, 19)}),
              (std::vector<int>{4, 99, 99, 20, 72, 0}));
  }
  {
    SCOPED_TRACE("InterpolateUp");
    CSSEcharMatrix m(2, 2);
    for (int k = 0; k < 4; ++k) m.SetPoint(k % 2, k / 2, std::vector<char>{8, 100, 50, -101}[k]);
    m.InterpolateUp(4, 4);
    EXPECT_EQ(grid(m),
              (Grid{{8, 54, 100, 100}, {29, 14, 0, 0}, {50, -25, -101, -101}, {50, -25, -101, -101}}));
    EXPECT_EQ(lane(m, 3, 15), 8);  // spare lanes take the first value
  }
  {
    SCOPED_TRACE("ElongateLeft and ElongateRight");
    CSSEcharMatrix m = rows(3, 2, 1);
    m.ElongateLeft(2);
    for (int r = 0; r < 16; ++r) ASSERT_TRUE(lane(m, 0, r) == 1 && lane(m, 1, r) == 1) << r;
    m.ElongateRight(1);
    m.ElongateLeft(0);
    m.ElongateRight(-3);
    EXPECT_EQ(grid(m), (Grid{{1, 1, 1, 51, 1, 1}, {1, 1, 2, 52, 2, 1}}));
  }
  {
    SCOPED_TRACE("EmbedinValueFrame(1, 2, 7)");
    CSSEcharMatrix m = rows(3, 3, -5);
    m.EmbedinValueFrame(1, 2, 7);
    EXPECT_EQ(grid(m), (Grid{{7, 7, 7, 7, 7, 7, 7},
                             {7, 7, -5, 45, -5, 7, 7},
                             {7, 7, -4, 46, -4, 7, 7},
                             {7, 7, -3, 47, -3, 7, 7},
                             {7, 7, 7, 7, 7, 7, 7}}));
    EXPECT_EQ(lane(m, 3, 15), 7);
  }
}

TEST(ByteSignal, ThresholdFromHeightField) {
  CSSEMatrix f;
  f.Create(5, 37);
  std::mt19937 rng(3);
  for (int y = 0; y < 37; ++y)
    for (int x = 0; x < 5; ++x) f.SetPoint(x, y, static_cast<float>(rng() % 9));
  for (int x = 0; x < 5; ++x)  // spare lanes of the height field must not leak in
    for (int y = 37; y < 40; ++y) f.GetMatrixDataDirectly()[y >> 2][x][y & 3] = 100.0f;
  for (const bool above : {true, false}) {
    SCOPED_TRACE(above ? "above" : "below");
    CSSEcharMatrix m;
    above ? m.CopyAndTresholdAbove(f, 4.0f, -3) : m.CopyAndTresholdBelow(f, 4.0f, -3);
    ASSERT_EQ(m.GetSizeX(), 5);
    ASSERT_EQ(m.GetSizeY(), 37);
    for (int x = 0; x < 5; ++x)
      for (int r = 0; r < laneRows(m); ++r) {
        const float v = r < 37 ? f.GetPoint(x, r) : 4.0f;
        ASSERT_EQ(lane(m, x, r), (above ? v > 4.0f : v < 4.0f) ? -3 : 0) << x << "," << r;
      }
  }
}

TEST(ByteCorrelation, Correlate) {
  CSSEcharMatrix m(20, 20);
  randomize(m, 5);
  int best = -1;
  EXPECT_EQ(m.Correlate(CSSEcharMatrix(m, 5, 9), best, 10), 5) << "exact copy of columns 5 to 9";
  EXPECT_EQ(best, 0);
  EXPECT_EQ(m.GetLastCorrelationError(), 0);
  best = -1;
  EXPECT_EQ(m.Correlate(CSSEcharMatrix(m, 5, 9), best, 0), -1) << "0 is not below 0";
  EXPECT_EQ(best, 0);
  best = 123;
  EXPECT_EQ(m.Correlate(m, best, 1000000), -1) << "pattern as wide as the matrix";
  EXPECT_EQ(m.Correlate(CSSEcharMatrix(3, 19), best, 1000000), -1);
  EXPECT_EQ(m.Correlate(CSSEcharMatrix(0, 20), best, 1000000), -1);
  EXPECT_EQ(best, 123);
  {
    SCOPED_TRACE("random pattern against the definition, |d| saturated");
    CSSEcharMatrix pattern(6, 20);
    randomize(pattern, 9);
    std::vector<int> e;
    for (int s = 0; s < 14; ++s) {
      long long sum = 0;
      for (int k = 0; k < 6; ++k)
        for (int r = 0; r < laneRows(m); ++r)
          sum += std::abs(saturate(lane(pattern, k, r) - lane(m, k + s, r)));
      e.push_back(static_cast<int>(sum / 6));
    }
    const int expectedShift = static_cast<int>(std::min_element(e.begin(), e.end()) - e.begin());
    EXPECT_EQ(m.Correlate(pattern, best, 2000000000), expectedShift);
    EXPECT_EQ(best, e[expectedShift]);
    EXPECT_EQ(m.GetLastCorrelationError(), e[expectedShift]);
  }
}

TEST(ByteCorrelation, Ambiguity) {
  // A pattern of one column of zeros against columns of constant c(x): e(x) =
  // 32 |c(x)| over the two SSE lines of a 16-row matrix.
  CSSEcharMatrix m(200, 16);
  m.Clear(100);
  for (const auto& [x, c] :
       std::vector<std::pair<int, int>>{{10, 0}, {20, 1}, {40, 2}, {80, 3}, {120, 4}, {160, 5}})
    setColumn(m, x, c);
  const CSSEcharMatrix pattern(1, 16);
  int best = -1, ambiguity = -1;
  // Three passes excluding 19 shifts around each minimum; the dip at 20 lies
  // within the first exclusion.
  EXPECT_EQ(m.CorrelateAmbiguity(pattern, best, ambiguity, 1), 10);
  EXPECT_EQ(best, 0);
  EXPECT_EQ(ambiguity, 64 + 96 + 128);
  EXPECT_EQ(m.CorrelateAmbiguity(pattern, best, ambiguity, 0), -1);
  // Start and end: five passes excluding 7 shifts; next minima 96, 128, 160,
  // then only the plateau of 3200 is left.
  EXPECT_EQ(m.CorrelateAmbiguityStartEnd(pattern, best, ambiguity, 1000, 30, 170), 40);
  EXPECT_EQ(best, 64);
  EXPECT_EQ(m.GetLastCorrelationError(), 64);
  EXPECT_EQ(ambiguity, 32 + 64 + 96 + 3136 + 3136);
  EXPECT_EQ(m.CorrelateAmbiguityStartEnd(pattern, best, ambiguity, 1000, -50, 12), 10);
  EXPECT_EQ(best, 0);
  EXPECT_EQ(m.CorrelateAmbiguityStartEnd(pattern, best, ambiguity, 64, 30, 170), -1);
  EXPECT_EQ(best, 64);
  // End is limited to the second-to-last shift; an empty range finds nothing.
  m.Clear(100);
  setColumn(m, 198, 0);
  setColumn(m, 197, 1);
  EXPECT_EQ(m.CorrelateAmbiguityStartEnd(pattern, best, ambiguity, 1000, 150, 1000), 197);
  EXPECT_EQ(best, 32);
  EXPECT_EQ(m.CorrelateAmbiguity(pattern, best, ambiguity, 1000), 198);
  EXPECT_EQ(m.CorrelateAmbiguityStartEnd(pattern, best, ambiguity, 1000, 60, 60), -1);
  EXPECT_EQ(ambiguity, 0);
}
