#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>
#include <vector>

#include "library_helpers.h"

namespace {

using Grid = std::vector<std::vector<float>>;  // [y][x]

void fromGrid(CSSEMatrix& m, const Grid& g) {
  m.Create(static_cast<int>(g[0].size()), static_cast<int>(g.size()));
  for (int y = 0; y < m.GetSizeY(); ++y)
    for (int x = 0; x < m.GetSizeX(); ++x) m.SetPoint(x, y, g[y][x]);
}

Grid toGrid(const CSSEMatrix& m) {
  Grid g(m.GetSizeY(), std::vector<float>(m.GetSizeX()));
  for (int y = 0; y < m.GetSizeY(); ++y)
    for (int x = 0; x < m.GetSizeX(); ++x) g[y][x] = m.GetPoint(x, y);
  return g;
}

// The in-painting written out directly: initial values of the marked cells
// given, then Jacobi sweeps of the four-neighbour mean inside the region,
// unmarked cells fixed.
Grid jacobi(Grid v, const Grid& mask, int iterations, int x0, int x1, int y0, int y1) {
  for (int i = 0; i < iterations; ++i) {
    Grid next = v;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) {
        if (mask[y][x] == 0.0f) continue;
        double sum = 0.0;
        int n = 0;
        const int nx[4] = {x - 1, x + 1, x, x}, ny[4] = {y, y, y - 1, y + 1};
        for (int k = 0; k < 4; ++k)
          if (nx[k] >= x0 && nx[k] < x1 && ny[k] >= y0 && ny[k] < y1) {
            sum += v[ny[k]][nx[k]];
            ++n;
          }
        next[y][x] = n ? static_cast<float>(sum / n) : 0.0f;
      }
    v = next;
  }
  return v;
}

void expectNear(const Grid& actual, const Grid& expected, float tolerance) {
  for (std::size_t y = 0; y < expected.size(); ++y)
    for (std::size_t x = 0; x < expected[y].size(); ++x)
      ASSERT_NEAR(actual[y][x], expected[y][x], tolerance) << "at " << x << ", " << y;
}

Grid randomMask(int sizeX, int sizeY, double density, unsigned seed) {
  std::mt19937 random(seed);
  std::bernoulli_distribution marked(density);
  Grid g(sizeY, std::vector<float>(sizeX));
  for (auto& row : g)
    for (float& v : row) v = marked(random) ? 1.0f : 0.0f;
  return g;
}

}  // namespace

TEST(LibraryMasks, CellOperationsTouchLogicalCellsOnly) {
  CSSEMatrix source, mask;
  fromGrid(source, {{1, 2, 3}, {-1, 5, -1}, {7, -1, 9}});
  source.GetMatrixDataDirectly()[0][0][3] = -1.0f;  // a spare lane holding the value
  Lib::createMask(source, mask, -1.0f);
  EXPECT_EQ(toGrid(mask), (Grid{{0, 0, 0}, {1, 0, 1}, {0, 1, 0}}));
  EXPECT_EQ(mask.GetMatrixDataDirectly()[0][0][3], 0.0f) << "spare lanes are not cells";

  CSSEMatrix masked(source);
  ASSERT_TRUE(Lib::applyMask(masked, mask, 42.0f));
  EXPECT_EQ(toGrid(masked), (Grid{{1, 2, 3}, {42, 5, 42}, {7, 42, 9}}));
  EXPECT_EQ(masked.GetMatrixDataDirectly()[0][0][3], -1.0f);

  CSSEMatrix fallback, result;
  fromGrid(fallback, {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}});
  ASSERT_TRUE(Lib::assembleMatrix(fallback, source, result, -1.0f));
  EXPECT_EQ(toGrid(result), (Grid{{1, 2, 3}, {40, 5, 60}, {7, 80, 9}}));

  CSSEMatrix wide, keep;
  wide.Create(4, 3);
  keep = source;
  EXPECT_FALSE(Lib::applyMask(keep, wide, 1.0f));
  EXPECT_FALSE(Lib::assembleMatrix(wide, source, result, -1.0f));
  EXPECT_EQ(toGrid(keep), toGrid(source));
}

TEST(LibraryMasks, EnforceMatrixSizeAboutTheCentre) {
  CSSEMatrix m;
  Grid g4(4, std::vector<float>(4));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) g4[y][x] = static_cast<float>(10 * y + x);
  const float fill = -5.0f;
  {
    SCOPED_TRACE("4 x 4 to 6 x 6 with a fill: a one-cell border");
    fromGrid(m, g4);
    ASSERT_TRUE(Lib::enforceMatrixSize(m, 6, 6, &fill));
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 6; ++x) {
        const bool inside = x >= 1 && x <= 4 && y >= 1 && y <= 4;
        EXPECT_EQ(m.GetPoint(x, y), inside ? g4[y - 1][x - 1] : fill) << x << ", " << y;
      }
    SCOPED_TRACE("and back to 4 x 4: columns and rows 1 to 4");
    ASSERT_TRUE(Lib::enforceMatrixSize(m, 4, 4, nullptr));
    EXPECT_EQ(toGrid(m), g4);
  }
  {
    SCOPED_TRACE("odd sizes: target (x, y) reads (x - 8/2 + 5/2, y - 2/2 + 7/2)");
    Grid g(7, std::vector<float>(5));
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 5; ++x) g[y][x] = static_cast<float>(100 + 10 * y + x);
    fromGrid(m, g);
    ASSERT_TRUE(Lib::enforceMatrixSize(m, 8, 2, &fill));
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 8; ++x) {
        const int sx = x - 4 + 2, sy = y - 1 + 3;
        EXPECT_EQ(m.GetPoint(x, y), sx >= 0 && sx < 5 ? g[sy][sx] : fill) << x << ", " << y;
      }
  }
  {
    SCOPED_TRACE("the same size changes nothing, also with a fill");
    fromGrid(m, g4);
    m.GetMatrixDataDirectly()[0][0] = _mm_set1_ps(7.0f);
    const CSSEMatrix before(m);
    ASSERT_TRUE(Lib::enforceMatrixSize(m, 4, 4, &fill));
    EXPECT_EQ(maxAbsDifference(m, before), 0.0f);
  }
  {
    SCOPED_TRACE("without a fill the border grows from the matrix, within its range");
    fromGrid(m, g4);
    ASSERT_TRUE(Lib::enforceMatrixSize(m, 10, 9, nullptr));
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 10; ++x) {
        const float v = m.GetPoint(x, y);
        EXPECT_TRUE(v >= 0.0f && v <= 33.0f) << v << " at " << x << ", " << y;
      }
    EXPECT_EQ(m.GetPoint(3, 2), g4[0][0]);
    EXPECT_EQ(m.GetPoint(6, 5), g4[3][3]);
  }
  EXPECT_FALSE(Lib::enforceMatrixSize(m, -1, 4, &fill));
}

TEST(LibraryMasks, ExtrapolateCarriesTheLastUnmarkedValue) {
  const float M = 1.0f;
  CSSEMatrix values, mask;
  fromGrid(values, {{9, 5, 9, 9}, {1, 2, 3, 4}});
  fromGrid(mask, {{M, 0, M, M}, {0, M, 0, M}});
  ASSERT_TRUE(Lib::extrapolate(values, mask, true, true, 0, 4, 0, 2));
  EXPECT_EQ(toGrid(values), (Grid{{9, 5, 5, 5}, {1, 1, 3, 3}}));
  EXPECT_EQ(toGrid(mask), (Grid{{M, 0, 0, 0}, {0, 0, 0, 0}}));
  ASSERT_TRUE(Lib::extrapolate(values, mask, true, false, 0, 4, 0, 2));
  EXPECT_EQ(toGrid(values), (Grid{{5, 5, 5, 5}, {1, 1, 3, 3}}));

  SCOPED_TRACE("columns, downward, over a region reaching past the matrix");
  fromGrid(values, {{1, 2}, {9, 9}, {3, 9}});
  fromGrid(mask, {{0, 0}, {M, M}, {0, M}});
  ASSERT_TRUE(Lib::extrapolate(values, mask, false, false, -3, 1, -1, 100));
  EXPECT_EQ(toGrid(values), (Grid{{1, 2}, {3, 9}, {3, 9}}));
  ASSERT_TRUE(Lib::extrapolate(values, mask, false, true, 1, 2, 0, 3));
  EXPECT_EQ(toGrid(values), (Grid{{1, 2}, {3, 2}, {3, 2}}));

  CSSEMatrix other;
  other.Create(2, 2);
  EXPECT_FALSE(Lib::extrapolate(values, other, true, true, 0, 2, 0, 2));
}

TEST(LibraryMasks, SmoothIsJacobiOverTheMarkedCells) {
  const float M = 1.0f;
  {
    SCOPED_TRACE("zero iterations: marked cells take the mean of the unmarked ones");
    CSSEMatrix v, mask;
    fromGrid(v, {{1, 100, 2}, {3, 100, 6}});
    fromGrid(mask, {{0, M, 0}, {0, M, 0}});
    ASSERT_TRUE(Lib::smooth(v, mask, 0, false));
    EXPECT_EQ(toGrid(v), (Grid{{1, 3, 2}, {3, 3, 6}}));
  }
  {
    SCOPED_TRACE("a row 0, m, m, 3 by hand");
    CSSEMatrix v, mask;
    fromGrid(v, {{0, 7, 7, 3}});
    fromGrid(mask, {{0, M, M, 0}});
    ASSERT_TRUE(Lib::smooth(v, mask, 0, false));
    EXPECT_EQ(toGrid(v), (Grid{{0, 1.5f, 1.5f, 3}}));
    // From 1.5, 1.5: (0 + 1.5) / 2 = 0.75 and (1.5 + 3) / 2 = 2.25, then 1.125, 1.875.
    fromGrid(v, {{0, 7, 7, 3}});
    ASSERT_TRUE(Lib::smooth(v, mask, 2, false));
    EXPECT_EQ(toGrid(v), (Grid{{0, 1.125f, 1.875f, 3}}));
  }
  {
    SCOPED_TRACE("no unmarked cell and no extrapolation: the first sweep reads the values as they are");
    CSSEMatrix v, mask;
    fromGrid(v, {{4, 8}, {0, 2}});
    fromGrid(mask, {{M, M}, {M, M}});
    ASSERT_TRUE(Lib::smooth(v, mask, 1, false));
    EXPECT_EQ(toGrid(v), (Grid{{4, 3}, {3, 4}}));
  }
  {
    SCOPED_TRACE("a single marked cell alone in its region becomes 0");
    CSSEMatrix v, mask;
    fromGrid(v, {{4, 8}, {5, 2}});
    fromGrid(mask, {{M, 0}, {0, 0}});
    ASSERT_TRUE(Lib::smooth(v, mask, 3, false, 0, 1, 0, 1));
    EXPECT_EQ(toGrid(v), (Grid{{0, 8}, {5, 2}}));
  }
  for (const auto& [iterations, extrapolateFirst, x0, x1, y0, y1] :
       std::vector<std::tuple<int, bool, int, int, int, int>>{{1, false, 0, 23, 0, 17},
                                                              {2, false, 3, 19, 2, 11},
                                                              {7, true, 0, 23, 0, 17},
                                                              {100, true, -4, 30, 5, 40}}) {
    SCOPED_TRACE(testing::Message() << iterations << " iterations, region " << x0 << ".." << x1 << " x " << y0
                                    << ".." << y1);
    CSSEMatrix v, mask;
    surface(v, 23, 17);
    fromGrid(mask, randomMask(23, 17, 0.4, iterations));
    // Initial values as the operation sets them (zero sweeps), then the
    // reference sweeps from there.
    CSSEMatrix start(v);
    ASSERT_TRUE(Lib::smooth(start, mask, 0, extrapolateFirst, x0, x1, y0, y1));
    const Grid expected = jacobi(toGrid(start), toGrid(mask), iterations, std::max(x0, 0), std::min(x1, 23),
                                 std::max(y0, 0), std::min(y1, 17));
    ASSERT_TRUE(Lib::smooth(v, mask, iterations, extrapolateFirst, x0, x1, y0, y1));
    expectNear(toGrid(v), expected, 1e-5f);
  }
}

TEST(LibraryMasks, InpaintingKeepsKnownValuesAndStaysInTheirRange) {
  CSSEMatrix field, mask;
  surface(field, 61, 45, 3.0f);
  Grid holes = randomMask(61, 45, 0.0, 0);
  for (int y = 10; y < 25; ++y)
    for (int x = 20; x < 41; ++x) holes[y][x] = 1.0f;  // a large hole
  const Grid scattered = randomMask(61, 45, 0.2, 7);
  for (int y = 0; y < 45; ++y)
    for (int x = 0; x < 61; ++x) holes[y][x] = std::max(holes[y][x], scattered[y][x]);
  fromGrid(mask, holes);
  CSSEMatrix filled(field);
  ASSERT_TRUE(Lib::smooth(filled, mask, Lib::c_iNumberOfSmoothingIterations, true));
  float lo = FLT_MAX, hi = -FLT_MAX;
  for (int y = 0; y < 45; ++y)
    for (int x = 0; x < 61; ++x)
      if (holes[y][x] == 0.0f) {
        lo = std::min(lo, field.GetPoint(x, y));
        hi = std::max(hi, field.GetPoint(x, y));
      }
  for (int y = 0; y < 45; ++y)
    for (int x = 0; x < 61; ++x) {
      if (holes[y][x] == 0.0f)
        ASSERT_EQ(filled.GetPoint(x, y), field.GetPoint(x, y)) << x << ", " << y;
      else
        ASSERT_TRUE(filled.GetPoint(x, y) >= lo && filled.GetPoint(x, y) <= hi) << x << ", " << y;
    }
}

TEST(LibraryMasks, AveragesOfValuesNearTheFloatLimitStayFinite) {
  const float big = 3.0e38f;
  CSSEMatrix v, mask;
  fromGrid(v, {{big, 0, big}, {big, 0, big}});
  fromGrid(mask, {{0, 1, 0}, {0, 1, 0}});
  CSSEMatrix a(v), b(v);
  ASSERT_TRUE(Lib::smooth(a, mask, 0, false));
  EXPECT_EQ(a.GetPoint(1, 0), big);
  ASSERT_TRUE(Lib::smooth(b, mask, 5, true));
  EXPECT_EQ(b.GetPoint(1, 1), big);
  ASSERT_TRUE(Lib::smoothBlock(v, mask));
  EXPECT_EQ(v.GetPoint(1, 0), big);
}

TEST(LibraryMasks, SmoothBlockWorksBlockByBlock) {
  CSSEMatrix v, mask;
  surface(v, 21, 13);
  Grid g = randomMask(21, 13, 0.3, 3);
  for (int y = 0; y < 8; ++y)
    for (int x = 8; x < 16; ++x) g[y][x] = 1.0f;  // a block marked whole
  for (int y = 8; y < 13; ++y)
    for (int x = 16; x < 21; ++x) g[y][x] = 0.0f;  // the cut-off corner block: nothing marked
  fromGrid(mask, g);
  double sum = 0.0;
  int count = 0;
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 21; ++x)
      if (g[y][x] == 0.0f) {
        sum += v.GetPoint(x, y);
        ++count;
      }
  // Partial blocks: the block's own mean, then 50 sweeps inside the block.
  Grid expected = toGrid(v);
  for (int by = 0; by < 13; by += 8)
    for (int bx = 0; bx < 21; bx += 8) {
      const int x1 = std::min(bx + 8, 21), y1 = std::min(by + 8, 13);
      CSSEMatrix block(v);
      ASSERT_TRUE(Lib::smooth(block, mask, 0, false, bx, x1, by, y1));
      const Grid swept = jacobi(toGrid(block), g, 50, bx, x1, by, y1);
      for (int y = by; y < y1; ++y)
        for (int x = bx; x < x1; ++x) expected[y][x] = swept[y][x];
    }
  for (int y = 0; y < 8; ++y)
    for (int x = 8; x < 16; ++x) expected[y][x] = static_cast<float>(sum / count);
  ASSERT_TRUE(Lib::smoothBlock(v, mask));
  expectNear(toGrid(v), expected, 1e-5f);
  for (int y = 0; y < 8; ++y) EXPECT_EQ(v.GetPoint(9, y), static_cast<float>(sum / count));
}

TEST(LibraryMasks, HighEntropyMaskMarksTheBlocksAJpegSpoils) {
  // A smooth field with white noise in one block; the JPEG keeps the smooth
  // blocks within the threshold and spoils the noisy one.
  CSSEMatrix v, mask;
  v.Create(32, 24);
  std::mt19937 random(5);
  std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 32; ++x)
      v.SetPoint(x, y, 0.01f * x + 0.02f * y + (x >= 8 && x < 16 && y < 8 ? noise(random) : 0));
  Grid g = randomMask(32, 24, 0.0, 0);
  for (int y = 16; y < 24; ++y)
    for (int x = 0; x < 8; ++x) g[y][x] = 1.0f;  // a block without data
  g[3][10] = 1.0f;                               // one marked cell in the noisy block
  fromGrid(mask, g);
  CSSEMatrix::UxSCompressionParameters p;
  p.m_iMethod = 1;
  p.m_fJPEGQuality = 0.5f;
  CSSEMatrix high;
  ASSERT_TRUE(Lib::createHighEntropyMask(v, high, mask, p, 0.1f));
  EXPECT_TRUE(p.m_bFixedRange);
  EXPECT_LT(p.m_fRangeMin, p.m_fRangeMax);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 32; ++x) {
      const bool noisy = x >= 8 && x < 16 && y < 8 && g[y][x] == 0.0f;
      ASSERT_EQ(high.GetPoint(x, y), noisy ? 1.0f : 0.0f) << x << ", " << y;
    }
  CSSEMatrix other;
  other.Create(3, 3);
  EXPECT_FALSE(Lib::createHighEntropyMask(v, high, other, p, 0.1f));
}
