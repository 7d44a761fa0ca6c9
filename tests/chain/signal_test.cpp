#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "orvik/chain/SSEcharMatrix.h"
#include "orvik/foundation/Alloc.h"
#include "orvik/matrix/ssematrix.h"

namespace {

// Every lane of every SSE line, spare lanes included: lane l of column x in
// line g is "row" 16 g + l here.
int laneRows(const CSSEcharMatrix& m) { return 16 * m.GetSSESizeY(); }

signed char lane(const CSSEcharMatrix& m, int x, int r) {
  return reinterpret_cast<const signed char*>(m.GetMatrixDataDirectly()[r >> 4] + x)[r & 15];
}

void setLane(CSSEcharMatrix& m, int x, int r, int v) {
  reinterpret_cast<signed char*>(m.GetMatrixDataDirectly()[r >> 4] + x)[r & 15] = static_cast<signed char>(v);
}

void randomize(CSSEcharMatrix& m, unsigned seed) {
  std::mt19937 rng(seed);
  for (int x = 0; x < m.GetSizeX(); ++x)
    for (int r = 0; r < laneRows(m); ++r) setLane(m, x, r, static_cast<int>(rng() % 256) - 128);
}

// Every lane of column x := v.
void setColumn(CSSEcharMatrix& m, int x, int v) {
  for (int r = 0; r < laneRows(m); ++r) setLane(m, x, r, v);
}

int saturate(int v) { return std::clamp(v, -128, 127); }
int wrap(int v) { return static_cast<signed char>(static_cast<unsigned char>(v & 0xFF)); }

}  // namespace

TEST(ByteSignal, DerivativeAndPD) {
  {
    SCOPED_TRACE("ramp and saturation");
    CSSEcharMatrix m(5, 5);
    const int columns[5] = {0, 100, 120, -100, 100};
    for (int x = 0; x < 5; ++x) setColumn(m, x, columns[x]);
    m.CalcDerivative();
    for (int r = 0; r < laneRows(m); ++r) {
      EXPECT_EQ(lane(m, 0, r), 0);
      EXPECT_EQ(lane(m, 1, r), 120);
      EXPECT_EQ(lane(m, 2, r), -128);  // -100 - 100
      EXPECT_EQ(lane(m, 3, r), -20);
      EXPECT_EQ(lane(m, 4, r), 0);
    }
    setColumn(m, 0, -100);
    setColumn(m, 2, 100);
    m.CalcDerivative();
    EXPECT_EQ(lane(m, 1, 7), 127);
  }
  {
    SCOPED_TRACE("PD: wrapping difference, saturating sum");
    CSSEcharMatrix m(3, 1);
    setColumn(m, 0, 100);
    setColumn(m, 1, 100);
    setColumn(m, 2, -100);
    m.CalcPDResult();  // -100 - 100 wraps to 56; 100 + 56 saturates
    EXPECT_EQ(lane(m, 1, 3), 127);
    EXPECT_EQ(lane(m, 0, 3), 100);
    EXPECT_EQ(lane(m, 2, 3), -100);
  }
  {
    SCOPED_TRACE("random matrices against a scalar reference");
    CSSEcharMatrix m(37, 41);
    randomize(m, 7);
    const CSSEcharMatrix source(m);
    CSSEcharMatrix d(m);
    d.CalcDerivative();
    m.CalcPDResult();
    for (int x = 0; x < 37; ++x)
      for (int r = 0; r < laneRows(m); ++r) {
        const bool outer = x == 0 || x == 36;
        const int l = outer ? 0 : lane(source, x - 1, r), h = outer ? 0 : lane(source, x + 1, r);
        ASSERT_EQ(lane(d, x, r), outer ? 0 : saturate(h - l)) << x << "," << r;
        const int s = lane(source, x, r);
        ASSERT_EQ(lane(m, x, r), outer ? s : saturate(s + wrap(h - l))) << x << "," << r;
      }
  }
}

TEST(ByteSignal, TimeVariance) {
  {
    SCOPED_TRACE("known lanes");
    CSSEcharMatrix s(7, 3);
    setLane(s, 0, 0, 10);  // mean 2, deviation 8: trunc(sqrt(320)) - 63 = -46
    setLane(s, 0, 1, -7);  // mean -1 (toward zero), deviation -6: trunc(sqrt(180)) - 63 = -50
    setLane(s, 0, 2, 127);
    for (int x = 1; x < 5; ++x) setLane(s, x, 2, -128);  // mean -77, deviation 204: 456 - 63 limited to 63
    CSSEcharMatrix t;
    t.CalcTimeVariance(s);
    ASSERT_EQ(t.GetSizeX(), 7);
    EXPECT_EQ(lane(t, 2, 0), -46);
    EXPECT_EQ(lane(t, 2, 1), -50);
    EXPECT_EQ(lane(t, 2, 2), 63);
    EXPECT_EQ(lane(t, 2, 3), -63);  // constant lanes
    EXPECT_EQ(lane(t, 1, 0), 0);
    EXPECT_EQ(lane(t, 5, 0), 0);
  }
  {
    SCOPED_TRACE("random matrix against a scalar reference, in place");
    CSSEcharMatrix m(23, 20);
    randomize(m, 11);
    const CSSEcharMatrix s(m);
    m.CalcTimeVariance(m);
    for (int x = 0; x < 23; ++x)
      for (int r = 0; r < laneRows(s); ++r) {
        int expected = 0;
        if (x >= 2 && x < 21) {
          int sum = 0;
          for (int k = -2; k <= 2; ++k) sum += lane(s, x + k, r);
          const int mean = sum / 5;
          const double dev = lane(s, x - 2, r) - mean;
          expected = std::clamp(static_cast<int>(std::sqrt(5.0 * dev * dev)) - 63, -63, 63);
        }
        ASSERT_EQ(lane(m, x, r), expected) << x << "," << r;
      }
  }
}

TEST(ByteSignal, IntegralVectorAndSyllables) {
  {
    SCOPED_TRACE("column sums over the chosen lines, divided by all lanes");
    CSSEcharMatrix m(2, 20);  // two SSE lines, 32 lanes
    setColumn(m, 0, 10);
    setColumn(m, 1, 100);
    t_intvector v = m.GetIntegralVectorFromMatrix(3, 32);
    ASSERT_EQ(v.count, 2);
    EXPECT_EQ(v.values[0], 7);
    EXPECT_EQ(v.values[1], 97);
    SafeFree(v.values);
    v = m.GetIntegralVectorFromMatrix(-41, 16);  // one line; 100 + 41 wraps to -115
    EXPECT_EQ(v.values[0], 25);                  // 16 * 51 / 32 = 25.5
    EXPECT_EQ(v.values[1], -57);                 // 16 * -115 / 32 = -57.5
    SafeFree(v.values);
    v = m.GetIntegralVectorFromMatrix(0, 15);  // no whole line
    EXPECT_EQ(v.values[0], 0);
    SafeFree(v.values);
    v = CSSEcharMatrix().GetIntegralVectorFromMatrix(0, 16);
    EXPECT_EQ(v.count, 0);
    EXPECT_EQ(v.values, nullptr);
  }
  // Columns of byte -40 read as silence (0), bursts of twelve columns of
  // byte h - 40 as sound of level h.
  struct Burst {
    int start, level;
  };
  const auto bursts = [](const std::vector<Burst>& list, int firstColumn = -40) {
    CSSEcharMatrix m(100, 30);
    m.Clear(-40);
    for (const Burst& b : list)
      for (int x = b.start; x < b.start + 12; ++x) setColumn(m, x, b.level - 40);
    setColumn(m, 0, firstColumn);
    return m;
  };
  {
    SCOPED_TRACE("syllables");
    EXPECT_EQ(bursts({{20, 100}, {45, 100}, {70, 100}}).CalcNumSyllables(), 3);
    EXPECT_EQ(bursts({{40, 60}}).CalcNumSyllables(), 1);
    EXPECT_EQ(bursts({}).CalcNumSyllables(), 0);
    EXPECT_EQ(CSSEcharMatrix(3, 3).CalcNumSyllables(), 0);
    // The threshold is a fifth of the range: a burst of 40 next to one of 100 counts.
    EXPECT_EQ(bursts({{20, 100}, {50, 40}}).CalcNumSyllables(), 2);
    // A burst of 25 rises by 5 above the threshold of 20, over two columns:
    // the slope summed over three columns reaches 10, enough for a rise.
    EXPECT_EQ(bursts({{20, 100}, {50, 25}}).CalcNumSyllables(), 2);
    // The first column is not smoothed and widens the range to 127: the
    // threshold of 25 swallows a burst of 24.
    EXPECT_EQ(bursts({{20, 100}, {50, 24}}, 87).CalcNumSyllables(), 1);
    EXPECT_EQ(bursts({{20, 100}, {50, 24}}).CalcNumSyllables(), 2);
  }
}

TEST(ByteSignal, StackingAndResizing) {
  const auto rows = [](int width, int height, int base) {
    CSSEcharMatrix m(width, height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) m.SetPoint(x, y, static_cast<char>(base + y + 50 * (x & 1)));
    return m;
  };
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
    a.CombineYDir(a, second, nullptr);
    ASSERT_EQ(a.GetSizeY(), 24);
    EXPECT_EQ(a.GetPoint(1, 3), 53);
    EXPECT_EQ(a.GetPoint(1, 4), 60);
    EXPECT_EQ(a.GetPoint(0, 23), 29);
  }
  {
    SCOPED_TRACE("CombineYDirFast keeps the first's spare lanes between");
    CSSEcharMatrix first = rows(2, 5, 0);
    for (int r = 5; r < 16; ++r) setLane(first, 0, r, 99);
    const CSSEcharMatrix second = rows(3, 3, 20);
    CSSEcharMatrix m;
    m.CombineYDirFast(first, second);
    ASSERT_EQ(m.GetSizeX(), 2);
    ASSERT_EQ(m.GetSizeY(), 32);
    EXPECT_EQ(m.GetPoint(0, 4), 4);
    EXPECT_EQ(m.GetPoint(0, 5), 99);
    EXPECT_EQ(m.GetPoint(0, 15), 99);
    EXPECT_EQ(m.GetPoint(0, 16), 20);
    EXPECT_EQ(m.GetPoint(1, 18), 72);
    EXPECT_EQ(m.GetPoint(0, 19), 0);
  }
  {
    SCOPED_TRACE("InterpolateUp");
    CSSEcharMatrix m(2, 2);
    m.SetPoint(0, 0, 8);
    m.SetPoint(1, 0, 100);
    m.SetPoint(0, 1, 50);
    m.SetPoint(1, 1, -101);
    m.InterpolateUp(4, 4);
    ASSERT_EQ(m.GetSizeX(), 4);
    ASSERT_EQ(m.GetSizeY(), 4);
    const int expected[4][4] = {{8, 54, 100, 100}, {29, 14, -0, -0}, {50, -25, -101, -101}, {50, -25, -101, -101}};
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) EXPECT_EQ(m.GetPoint(x, y), expected[y][x]) << x << "," << y;
    EXPECT_EQ(lane(m, 3, 15), 8);  // spare lanes take the first value
  }
  {
    SCOPED_TRACE("ElongateLeft and ElongateRight");
    CSSEcharMatrix m = rows(3, 2, 1);
    m.ElongateLeft(2);
    ASSERT_EQ(m.GetSizeX(), 5);
    for (int r = 0; r < 16; ++r) {
      EXPECT_EQ(lane(m, 0, r), 1);
      EXPECT_EQ(lane(m, 1, r), 1);
    }
    EXPECT_EQ(m.GetPoint(2, 1), 2);
    EXPECT_EQ(m.GetPoint(3, 0), 51);
    m.ElongateRight(1);
    ASSERT_EQ(m.GetSizeX(), 6);
    EXPECT_EQ(m.GetPoint(5, 1), 1);  // the value at (4, 0)
    EXPECT_EQ(m.GetPoint(4, 1), 2);
    m.ElongateLeft(0);
    m.ElongateRight(-3);
    EXPECT_EQ(m.GetSizeX(), 6);
  }
  {
    SCOPED_TRACE("EmbedinValueFrame(1, 2, 7)");
    CSSEcharMatrix m = rows(3, 3, -5);
    m.EmbedinValueFrame(1, 2, 7);
    ASSERT_EQ(m.GetSizeX(), 7);
    ASSERT_EQ(m.GetSizeY(), 5);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) {
        const bool inner = x >= 2 && x <= 4 && y >= 1 && y <= 3;
        EXPECT_EQ(m.GetPoint(x, y), inner ? -5 + (y - 1) + 50 * ((x - 2) & 1) : 7) << x << "," << y;
      }
    EXPECT_EQ(lane(m, 3, 15), 7);
  }
}

TEST(ByteSignal, ThresholdFromHeightField) {
  CSSEMatrix f;
  f.Create(5, 37);
  std::mt19937 rng(3);
  for (int y = 0; y < 37; ++y)
    for (int x = 0; x < 5; ++x) f.SetPoint(x, y, static_cast<float>(rng() % 9));
  // Spare lanes of the height field hold values that must not leak in.
  for (int x = 0; x < 5; ++x)
    for (int y = 37; y < 40; ++y) f.GetMatrixDataDirectly()[y >> 2][x][y & 3] = 100.0f;
  for (const bool above : {true, false}) {
    SCOPED_TRACE(above ? "above" : "below");
    CSSEcharMatrix m;
    if (above)
      m.CopyAndTresholdAbove(f, 4.0f, -3);
    else
      m.CopyAndTresholdBelow(f, 4.0f, -3);
    ASSERT_EQ(m.GetSizeX(), 5);
    ASSERT_EQ(m.GetSizeY(), 37);
    for (int x = 0; x < 5; ++x)
      for (int r = 0; r < laneRows(m); ++r) {
        int expected = 0;
        if (r < 37) {
          const float v = f.GetPoint(x, r);
          expected = (above ? v > 4.0f : v < 4.0f) ? -3 : 0;
        }
        ASSERT_EQ(lane(m, x, r), expected) << x << "," << r;
      }
  }
}

namespace {

// e(s) by the definition, with |d| of a saturated difference counted as 128 at most.
std::vector<int> referenceErrors(const CSSEcharMatrix& m, const CSSEcharMatrix& p) {
  std::vector<int> e;
  for (int s = 0; s < m.GetSizeX() - p.GetSizeX(); ++s) {
    long long sum = 0;
    for (int k = 0; k < p.GetSizeX(); ++k)
      for (int r = 0; r < laneRows(m); ++r) sum += std::abs(saturate(lane(p, k, r) - lane(m, k + s, r)));
    e.push_back(static_cast<int>(sum / p.GetSizeX()));
  }
  return e;
}

}  // namespace

TEST(ByteCorrelation, Correlate) {
  CSSEcharMatrix m(20, 20);
  randomize(m, 5);
  {
    SCOPED_TRACE("exact copy of columns 5 to 9");
    const CSSEcharMatrix pattern(m, 5, 9);
    int best = -1;
    EXPECT_EQ(m.Correlate(pattern, best, 10), 5);
    EXPECT_EQ(best, 0);
    EXPECT_EQ(m.GetLastCorrelationError(), 0);
    best = -1;
    EXPECT_EQ(m.Correlate(pattern, best, 0), -1);  // 0 is not below 0
    EXPECT_EQ(best, 0);
  }
  {
    SCOPED_TRACE("unsuitable sizes");
    int best = 123;
    EXPECT_EQ(m.Correlate(m, best, 1000000), -1);
    EXPECT_EQ(m.Correlate(CSSEcharMatrix(3, 19), best, 1000000), -1);
    EXPECT_EQ(m.Correlate(CSSEcharMatrix(0, 20), best, 1000000), -1);
    EXPECT_EQ(best, 123);
  }
  {
    SCOPED_TRACE("random pattern against the definition");
    CSSEcharMatrix pattern(6, 20);
    randomize(pattern, 9);
    const std::vector<int> e = referenceErrors(m, pattern);
    ASSERT_EQ(e.size(), 14u);
    const int expectedShift = static_cast<int>(std::min_element(e.begin(), e.end()) - e.begin());
    int best = 0;
    EXPECT_EQ(m.Correlate(pattern, best, 2000000000), expectedShift);
    EXPECT_EQ(best, e[expectedShift]);
    EXPECT_EQ(m.GetLastCorrelationError(), e[expectedShift]);
  }
  {
    SCOPED_TRACE("the largest mismatch counts as the largest error");
    CSSEcharMatrix w(10, 4);
    w.Clear(100);
    setColumn(w, 3, -128);
    setColumn(w, 4, -128);
    CSSEcharMatrix pattern(2, 4);
    pattern.Clear(-128);
    int best = -1;
    EXPECT_EQ(w.Correlate(pattern, best, 1), 3);
    EXPECT_EQ(best, 0);
  }
}

TEST(ByteCorrelation, Ambiguity) {
  // A pattern of one column of zeros against columns of constant c(x): e(x) =
  // 32 |c(x)| over the two SSE lines of a 16-row matrix.
  CSSEcharMatrix m(200, 16);
  m.Clear(100);
  const int dips[][2] = {{10, 0}, {20, 1}, {40, 2}, {80, 3}, {120, 4}, {160, 5}};
  for (const auto& d : dips) setColumn(m, d[0], d[1]);
  const CSSEcharMatrix pattern(1, 16);
  {
    SCOPED_TRACE("three passes excluding 19 shifts around each minimum");
    int best = -1, ambiguity = -1;
    EXPECT_EQ(m.CorrelateAmbiguity(pattern, best, ambiguity, 1), 10);
    EXPECT_EQ(best, 0);
    EXPECT_EQ(ambiguity, 64 + 96 + 128);  // the dip at 20 lies within the first exclusion
    EXPECT_EQ(m.CorrelateAmbiguity(pattern, best, ambiguity, 0), -1);
  }
  {
    SCOPED_TRACE("start and end: five passes excluding 7 shifts");
    int best = -1, ambiguity = -1;
    EXPECT_EQ(m.CorrelateAmbiguityStartEnd(pattern, best, ambiguity, 1000, 30, 170), 40);
    EXPECT_EQ(best, 64);
    EXPECT_EQ(m.GetLastCorrelationError(), 64);
    // Next minima 96, 128, 160, then only the plateau of 3200 is left.
    EXPECT_EQ(ambiguity, 32 + 64 + 96 + 3136 + 3136);
    EXPECT_EQ(m.CorrelateAmbiguityStartEnd(pattern, best, ambiguity, 1000, -50, 12), 10);
    EXPECT_EQ(best, 0);
    EXPECT_EQ(m.CorrelateAmbiguityStartEnd(pattern, best, ambiguity, 64, 30, 170), -1);
    EXPECT_EQ(best, 64);
  }
  {
    SCOPED_TRACE("end is limited to the second-to-last shift; an empty range finds nothing");
    CSSEcharMatrix t(200, 16);
    t.Clear(100);
    setColumn(t, 198, 0);
    setColumn(t, 197, 1);
    int best = -1, ambiguity = -1;
    EXPECT_EQ(t.CorrelateAmbiguityStartEnd(pattern, best, ambiguity, 1000, 150, 1000), 197);
    EXPECT_EQ(best, 32);
    EXPECT_EQ(t.CorrelateAmbiguity(pattern, best, ambiguity, 1000), 198);
    EXPECT_EQ(t.CorrelateAmbiguityStartEnd(pattern, best, ambiguity, 1000, 60, 60), -1);
    EXPECT_EQ(ambiguity, 0);
  }
}
