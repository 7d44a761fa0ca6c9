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
  CSSEcharMatrix steps(5, 5), m(37, 41);
  const int columns[5] = {0, 100, 120, -100, 100}, ramp[5] = {0, 120, -128, -20, 0};  // saturated
  for (int x = 0; x < 5; ++x) setColumn(steps, x, columns[x]);
  steps.CalcDerivative();
  EXPECT_TRUE(lanesAre(steps, [&](int x, int) { return ramp[x]; }));
  setColumn(steps, 0, -100);
  setColumn(steps, 2, 100);
  steps.CalcDerivative();
  EXPECT_EQ(lane(steps, 1, 7), 127);
  randomize(m, 7);
  const CSSEcharMatrix source(m);
  CSSEcharMatrix d(m);
  d.CalcDerivative();
  m.CalcPDResult();  // wrapping difference, saturating sum
  const auto difference = [&](int x, int r) { return lane(source, x + 1, r) - lane(source, x - 1, r); };
  EXPECT_TRUE(lanesAre(d, [&](int x, int r) { return x == 0 || x == 36 ? 0 : saturate(difference(x, r)); }));
  EXPECT_TRUE(lanesAre(m, [&](int x, int r) {
    return x == 0 || x == 36 ? lane(source, x, r) : saturate(lane(source, x, r) + wrap(difference(x, r)));
  }));
}

TEST(ByteSignal, TimeVarianceAgainstScalarReference) {
  CSSEcharMatrix m(23, 20);
  randomize(m, 11);
  for (int x = 0; x < 23; ++x) lane(m, x, 5) = 17;  // a constant lane: -63
  const CSSEcharMatrix s(m);
  m.CalcTimeVariance(m);  // in place
  EXPECT_TRUE(lanesAre(m, [&](int x, int r) {
    if (x < 2 || x >= 21) return 0;
    int sum = 0;
    for (int k = -2; k <= 2; ++k) sum += lane(s, x + k, r);
    const double dev = lane(s, x - 2, r) - sum / 5;  // mean toward zero
    return std::clamp(static_cast<int>(std::sqrt(5.0 * dev * dev)) - 63, -63, 63);
  }));
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
  using Bursts = std::vector<std::pair<int, int>>;
  const auto syllables = [](const Bursts& bursts, int firstColumn) {
    CSSEcharMatrix s(100, 30);
    s.Clear(-40);
    for (const auto& [start, level] : bursts)
      for (int x = start; x < start + 12; ++x) setColumn(s, x, level - 40);
    setColumn(s, 0, firstColumn);
    return s.CalcNumSyllables();
  };
  // The threshold is a fifth of the range: a burst of 40 next to one of 100
  // counts. A burst of 25 rises by 5 above the threshold of 20 over two
  // columns: the slope summed over three columns reaches 10, enough for a
  // rise. The first column is not smoothed; at 87 it widens the range to 127,
  // and the threshold of 25 swallows a burst of 24.
  for (auto [bursts, firstColumn, count] : {std::tuple{Bursts{{20, 100}, {45, 100}, {70, 100}}, -40, 3},
                                            {Bursts{{40, 60}}, -40, 1},
                                            {Bursts{}, -40, 0},
                                            {Bursts{{20, 100}, {50, 40}}, -40, 2},
                                            {Bursts{{20, 100}, {50, 25}}, -40, 2},
                                            {Bursts{{20, 100}, {50, 24}}, 87, 1},
                                            {Bursts{{20, 100}, {50, 24}}, -40, 2}})
    EXPECT_EQ(syllables(bursts, firstColumn), count)
        << bursts.size() << " bursts, first column " << firstColumn;
  EXPECT_EQ(CSSEcharMatrix(3, 3).CalcNumSyllables(), 0);
}

TEST(ByteSignal, StackingAndResizing) {
  {
    SCOPED_TRACE("CombineYDir with a shorter third");
    const CSSEcharMatrix first = rows(4, 5, 0), second = rows(3, 20, 10), third = rows(5, 2, -30);
    CSSEcharMatrix m;
    m.CombineYDir(first, second, &third);
    Grid want(27);
    for (int y = 0; y < 27; ++y)
      for (int x = 0; x < 3; ++x)
        want[y].push_back((y < 5 ? y : (y < 25 ? 10 + y - 5 : -30 + y - 25)) + 50 * (x & 1));
    EXPECT_EQ(grid(m), want);
    CSSEcharMatrix a = rows(3, 4, 0);
    a.CombineYDir(a, second, nullptr);  // the first is the target itself
    ASSERT_EQ(a.GetSizeY(), 24);
    EXPECT_EQ((std::vector<int>{a.GetPoint(1, 3), a.GetPoint(1, 4), a.GetPoint(0, 23)}),
              (std::vector<int>{53, 60, 29}));
  }
  {
    SCOPED_TRACE("CombineYDirFast keeps the first's spare lanes between");
    CSSEcharMatrix first = rows(2, 5, 0), m;
    for (int r = 5; r < 16; ++r) lane(first, 0, r) = 99;
    m.CombineYDirFast(first, rows(3, 3, 20));
    EXPECT_EQ((std::vector<int>{m.GetSizeX(), m.GetSizeY(), m.GetPoint(0, 4), m.GetPoint(0, 5),
                                m.GetPoint(0, 15), m.GetPoint(0, 16), m.GetPoint(1, 18), m.GetPoint(0, 19)}),
              (std::vector<int>{2, 32, 4, 99, 99, 20, 72, 0}));
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
    EXPECT_TRUE(lanesAre(CSSEcharMatrix(m, 0, 1), [](int, int) { return 1; }));
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
  CSSEMatrix f = filled(5, 37);
  randomize(f, 3, 9);
  for (int x = 0; x < 5; ++x)  // spare lanes of the height field must not leak in
    for (int y = 37; y < 40; ++y) lane(f, x, y) = 100.0f;
  for (const bool above : {true, false}) {
    SCOPED_TRACE(above ? "above" : "below");
    CSSEcharMatrix m;
    above ? m.CopyAndTresholdAbove(f, 4.0f, -3) : m.CopyAndTresholdBelow(f, 4.0f, -3);
    EXPECT_EQ((std::vector<int>{m.GetSizeX(), m.GetSizeY()}), (std::vector<int>{5, 37}));
    EXPECT_TRUE(lanesAre(m, [&](int x, int r) {
      const float v = r < 37 ? f.GetPoint(x, r) : 4.0f;
      return (above ? v > 4.0f : v < 4.0f) ? -3 : 0;
    }));
  }
}

TEST(ByteCorrelation, Correlate) {
  CSSEcharMatrix m(20, 20);
  randomize(m, 5);
  int best = -1;
  // Shift, best error, last error.
  const auto correlate = [&](const CSSEcharMatrix& p, int limit) {
    const int shift = m.Correlate(p, best, limit);
    return std::vector<int>{shift, best, m.GetLastCorrelationError()};
  };
  EXPECT_EQ(correlate(CSSEcharMatrix(m, 5, 9), 10), (std::vector<int>{5, 0, 0}))
      << "exact copy of columns 5 to 9";
  best = -1;
  EXPECT_EQ(correlate(CSSEcharMatrix(m, 5, 9), 0)[0], -1) << "0 is not below 0";
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
    EXPECT_EQ(correlate(pattern, 2000000000),
              (std::vector<int>{expectedShift, e[expectedShift], e[expectedShift]}));
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
  // Shift, best error, ambiguity.
  const auto all = [&](int limit) {
    const int shift = m.CorrelateAmbiguity(pattern, best, ambiguity, limit);
    return std::vector<int>{shift, best, ambiguity};
  };
  const auto between = [&](int limit, int start, int end) {
    const int shift = m.CorrelateAmbiguityStartEnd(pattern, best, ambiguity, limit, start, end);
    return std::vector<int>{shift, best, ambiguity};
  };
  // Three passes excluding 19 shifts around each minimum; the dip at 20 lies
  // within the first exclusion.
  EXPECT_EQ(all(1), (std::vector<int>{10, 0, 64 + 96 + 128}));
  EXPECT_EQ(all(0)[0], -1);
  // Start and end: five passes excluding 7 shifts; next minima 96, 128, 160,
  // then only the plateau of 3200 is left.
  EXPECT_EQ(between(1000, 30, 170), (std::vector<int>{40, 64, 32 + 64 + 96 + 3136 + 3136}));
  EXPECT_EQ(m.GetLastCorrelationError(), 64);
  EXPECT_EQ(between(1000, -50, 12)[0], 10);
  EXPECT_EQ(best, 0);
  EXPECT_EQ(between(64, 30, 170)[0], -1);
  EXPECT_EQ(best, 64);
  // End is limited to the second-to-last shift; an empty range finds nothing.
  m.Clear(100);
  setColumn(m, 198, 0);
  setColumn(m, 197, 1);
  EXPECT_EQ(between(1000, 150, 1000)[0], 197);
  EXPECT_EQ(best, 32);
  EXPECT_EQ(all(1000)[0], 198);
  EXPECT_EQ(between(1000, 60, 60)[0], -1);
  EXPECT_EQ(ambiguity, 0);
}
