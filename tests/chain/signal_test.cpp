#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "orvik/chain/SSEcharMatrix.h"
#include "orvik/foundation/Alloc.h"
#include "orvik/matrix/ssematrix.h"
#include "support/fields.h"

namespace {

using Ints = std::vector<int>;

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

// The logical rows, one after the other.
Ints grid(const CSSEcharMatrix& m) {
  Ints g;
  for (int y = 0; y < m.GetSizeY(); ++y)
    for (int x = 0; x < m.GetSizeX(); ++x) g.push_back(m.GetPoint(x, y));
  return g;
}

int saturate(int v) { return std::clamp(v, -128, 127); }
int wrap(int v) { return static_cast<signed char>(static_cast<unsigned char>(v & 0xFF)); }

}  // namespace

TEST(ByteSignal, DerivativePDAndTimeVarianceAgainstScalarReference) {
  CSSEcharMatrix steps(5, 5), m(37, 41);
  const int columns[5] = {0, 100, 120, -100, 100}, ramp[5] = {0, 120, -128, -20, 0};  // saturated
  for (int x = 0; x < 5; ++x) setColumn(steps, x, columns[x]);
  steps.CalcDerivative();
  EXPECT_TRUE(lanesAre(steps, [&](int x, int) { return ramp[x]; }));
  randomize(m, 7);
  for (int x = 0; x < 37; ++x) lane(m, x, 5) = 17;  // a constant lane: variance -63
  const CSSEcharMatrix source(m);
  CSSEcharMatrix d(m), v(m);
  d.CalcDerivative();
  m.CalcPDResult();       // wrapping difference, saturating sum
  v.CalcTimeVariance(v);  // in place
  const auto at = [&](int x, int r) -> int { return lane(source, x, r); };
  const auto difference = [&](int x, int r) { return at(x + 1, r) - at(x - 1, r); };
  EXPECT_TRUE(lanesAre(d, [&](int x, int r) { return x == 0 || x == 36 ? 0 : saturate(difference(x, r)); }));
  EXPECT_TRUE(lanesAre(m, [&](int x, int r) {
    return x == 0 || x == 36 ? at(x, r) : saturate(at(x, r) + wrap(difference(x, r)));
  }));
  EXPECT_TRUE(lanesAre(v, [&](int x, int r) {
    if (x < 2 || x >= 35) return 0;
    const double dev =
        at(x - 2, r) - (at(x - 2, r) + at(x - 1, r) + at(x, r) + at(x + 1, r) + at(x + 2, r)) / 5;
    return std::clamp(static_cast<int>(std::sqrt(5.0 * dev * dev)) - 63, -63, 63);
  }));
}

TEST(ByteSignal, IntegralVectorAndSyllables) {
  CSSEcharMatrix m(2, 20);  // two SSE lines, 32 lanes
  setColumn(m, 0, 10);
  setColumn(m, 1, 100);
  // Column sums of the whole lines chosen, less the offset, divided by all lanes.
  const auto integral = [](const CSSEcharMatrix& s, int offset, int lines) {
    t_intvector v = s.GetIntegralVectorFromMatrix(offset, lines);
    Ints out(v.values, v.values + v.count);
    SafeFree(v.values);
    return out;
  };
  EXPECT_EQ(integral(m, 3, 32), (Ints{7, 97}));
  EXPECT_EQ(integral(m, -41, 16), (Ints{25, -57}));  // 100 + 41 wraps to -115; 16 * 51 / 32 = 25.5
  EXPECT_EQ(integral(m, 0, 15), (Ints{0, 0})) << "no whole line";
  EXPECT_TRUE(integral(CSSEcharMatrix(), 0, 16).empty());

  // Columns of byte -40 are silence, bursts of twelve columns of h - 40 sound of level h. The
  // threshold is a fifth of the range; the unsmoothed first column at 87 widens the range.
  using Bursts = std::vector<std::pair<int, int>>;
  for (auto [bursts, firstColumn, count] : {std::tuple{Bursts{{20, 100}, {45, 100}, {70, 100}}, -40, 3},
                                            {Bursts{{40, 60}}, -40, 1},
                                            {Bursts{}, -40, 0},
                                            {Bursts{{20, 100}, {50, 40}}, -40, 2},
                                            {Bursts{{20, 100}, {50, 25}}, -40, 2},
                                            {Bursts{{20, 100}, {50, 24}}, 87, 1},
                                            {Bursts{{20, 100}, {50, 24}}, -40, 2}}) {
    CSSEcharMatrix s(100, 30);
    s.Clear(-40);
    for (const auto& [start, level] : bursts)
      for (int x = start; x < start + 12; ++x) setColumn(s, x, level - 40);
    setColumn(s, 0, firstColumn);
    EXPECT_EQ(s.CalcNumSyllables(), count) << bursts.size() << " bursts, first column " << firstColumn;
  }
  EXPECT_EQ(CSSEcharMatrix(3, 3).CalcNumSyllables(), 0);
}

TEST(ByteSignal, StackingAndResizing) {
  const CSSEcharMatrix first = rows(4, 5, 0), second = rows(3, 20, 10), third = rows(5, 2, -30);
  CSSEcharMatrix m, a = rows(3, 4, 0), fast;
  m.CombineYDir(first, second, &third);  // as wide as the narrowest
  Ints want;
  for (int k = 0; k < 27 * 3; ++k)
    want.push_back((k < 15 ? k / 3 : (k < 75 ? 10 + k / 3 - 5 : -30 + k / 3 - 25)) + 50 * (k % 3 & 1));
  EXPECT_EQ(grid(m), want);
  a.CombineYDir(a, second, nullptr);  // the first is the target itself
  ASSERT_EQ(a.GetSizeY(), 24);
  EXPECT_EQ((Ints{a.GetPoint(1, 3), a.GetPoint(1, 4), a.GetPoint(0, 23)}), (Ints{53, 60, 29}));
  CSSEcharMatrix two = rows(2, 5, 0);  // CombineYDirFast keeps the first's spare lanes between
  for (int r = 5; r < 16; ++r) lane(two, 0, r) = 99;
  fast.CombineYDirFast(two, rows(3, 3, 20));
  EXPECT_EQ((Ints{fast.GetSizeX(), fast.GetSizeY(), fast.GetPoint(0, 4), fast.GetPoint(0, 5),
                  fast.GetPoint(0, 15), fast.GetPoint(0, 16), fast.GetPoint(1, 18), fast.GetPoint(0, 19)}),
            (Ints{2, 32, 4, 99, 99, 20, 72, 0}));

  CSSEcharMatrix up(2, 2);
  for (int k = 0; k < 4; ++k) up.SetPoint(k % 2, k / 2, std::vector<char>{8, 100, 50, -101}[k]);
  up.InterpolateUp(4, 4);
  EXPECT_EQ(grid(up), (Ints{8, 54, 100, 100, 29, 14, 0, 0, 50, -25, -101, -101, 50, -25, -101, -101}));
  EXPECT_EQ(lane(up, 3, 15), 8) << "spare lanes take the first value";

  CSSEcharMatrix e = rows(3, 2, 1);
  e.ElongateLeft(2);
  EXPECT_TRUE(lanesAre(CSSEcharMatrix(e, 0, 1), [](int, int) { return 1; }));
  e.ElongateRight(1);
  e.ElongateLeft(0);
  e.ElongateRight(-3);
  EXPECT_EQ(grid(e), (Ints{1, 1, 1, 51, 1, 1, 1, 1, 2, 52, 2, 1}));

  CSSEcharMatrix framed = rows(3, 3, -5);
  framed.EmbedinValueFrame(1, 2, 7);
  EXPECT_EQ(grid(framed), (Ints{7,  7, 7, 7, 7, 7,  7,  7,  7, -5, 45, -5, 7, 7, 7, 7, -4, 46,
                                -4, 7, 7, 7, 7, -3, 47, -3, 7, 7,  7,  7,  7, 7, 7, 7, 7}));
  EXPECT_EQ(lane(framed, 3, 15), 7);
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
    EXPECT_EQ((Ints{m.GetSizeX(), m.GetSizeY()}), (Ints{5, 37}));
    EXPECT_TRUE(lanesAre(m, [&](int x, int r) {
      const float v = r < 37 ? f.GetPoint(x, r) : 4.0f;
      return (above ? v > 4.0f : v < 4.0f) ? -3 : 0;
    }));
  }
}

TEST(ByteCorrelation, Correlate) {
  CSSEcharMatrix m(20, 20), pattern(6, 20);
  randomize(m, 5);
  randomize(pattern, 9);
  int best = -1;
  const auto correlate = [&](const CSSEcharMatrix& p, int limit) {  // shift, best error, last error
    const int shift = m.Correlate(p, best, limit);
    return Ints{shift, best, m.GetLastCorrelationError()};
  };
  EXPECT_EQ(correlate(CSSEcharMatrix(m, 5, 9), 10), (Ints{5, 0, 0})) << "exact copy of columns 5 to 9";
  EXPECT_EQ(correlate(CSSEcharMatrix(m, 5, 9), 0)[0], -1) << "0 is not below 0";
  best = 123;
  for (const CSSEcharMatrix& p : {m, CSSEcharMatrix(3, 19), CSSEcharMatrix(0, 20)})
    EXPECT_EQ(m.Correlate(p, best, 1000000), -1) << "as wide as the matrix, of other height, empty";
  EXPECT_EQ(best, 123);
  Ints e;  // the random pattern against the definition, |d| saturated
  for (int s = 0; s < 14; ++s) {
    long long sum = 0;
    for (int k = 0; k < 6 * laneRows(m); ++k)
      sum += std::abs(saturate(lane(pattern, k % 6, k / 6) - lane(m, k % 6 + s, k / 6)));
    e.push_back(static_cast<int>(sum / 6));
  }
  const int shift = static_cast<int>(std::min_element(e.begin(), e.end()) - e.begin());
  EXPECT_EQ(correlate(pattern, 2000000000), (Ints{shift, e[shift], e[shift]}));
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
  const auto result = [&](int shift) {
    return Ints{shift, best, ambiguity};
  };  // shift, best error, ambiguity
  const auto all = [&](int limit) { return result(m.CorrelateAmbiguity(pattern, best, ambiguity, limit)); };
  const auto between = [&](int limit, int start, int end) {
    return result(m.CorrelateAmbiguityStartEnd(pattern, best, ambiguity, limit, start, end));
  };
  // Three passes excluding 19 shifts around each minimum: the dip at 20 is excluded.
  EXPECT_EQ(all(1), (Ints{10, 0, 64 + 96 + 128}));
  EXPECT_EQ(all(0)[0], -1);
  // Start and end: the shift and error of the smallest error within start .. end - 1.
  EXPECT_EQ(between(1000, 30, 170)[0], 40);
  EXPECT_EQ(std::pair(best, m.GetLastCorrelationError()), std::pair(64, 64));
  EXPECT_EQ(between(1000, -50, 12)[0], 10);
  EXPECT_EQ(best, 0);
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
