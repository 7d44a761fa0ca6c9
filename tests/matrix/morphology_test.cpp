#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "orvik/foundation/ThreadPool.h"
#include "orvik/matrix/ssematrix.h"
#include "support/fields.h"
#include "support/reference.h"

namespace {

// Erode on `cpus` processors against the disc test of every element.
::testing::AssertionResult erodesAsDiscTest(CSSEMatrix m, float radius, float bg, float value, int xFrom,
                                            int xTo, int yFrom, int yTo, bool vector, int cpus) {
  CSSEMatrix want(m);
  reference::erode(want, radius, bg, value, xFrom, xTo, yFrom, yTo, vector);
  CbCPU::SetCount(cpus);
  m.Erode(radius, bg, value, xFrom, xTo, yFrom, yTo, vector, 0);
  CbCPU::SetCount(0);
  return sameLanes(m, want);
}

}  // namespace

TEST(Erode, BlockShrinksAndDilateIsTheSameCall) {
  CSSEMatrix m = field(9, 9, [](int x, int y) { return x >= 2 && x <= 6 && y >= 2 && y <= 6; });
  CSSEMatrix d(m);
  m.Erode(1.0f, 0.0f, 7.0f, 0, 8, 0, 8, false, 0);
  d.Dilate(1.0f, 7.0f, 0.0f, 0, 8, 0, 8, false, 0);
  EXPECT_TRUE(fieldIs(m, [](int x, int y) { return x >= 3 && x <= 5 && y >= 3 && y <= 5 ? 7.0f : 0.0f; }));
  EXPECT_TRUE(sameLanes(d, m));
  // An empty or inverted area changes nothing.
  d.Erode(2.0f, 0.0f, 5.0f, 6, 3, 0, 8, false, 0);
  d.Erode(2.0f, 0.0f, 5.0f, 0, 8, 20, 30, true, 0);
  d.Erode(2.0f, 0.0f, 5.0f, -5, -1, 0, 8, false, 0);
  EXPECT_TRUE(sameLanes(d, m));
}

TEST(Erode, EqualsTheDiscTestForRadiiAndAreas) {
  const int areas[][4] = {{0, 60, 0, 45}, {5, 52, 3, 41}, {13, 13, 6, 30}, {-4, 70, 9, 10}, {20, 44, 2, 2}};
  unsigned seed = 1;
  for (float radius :
       {0.5f, 1.0f, 1.5f, 1.9999999f, 2.0f, 2.3f, 3.0f, 4.7f, 6.0f, 8.5f, 12.0f, -1.0f, 100.0f})
    for (const auto& a : areas)
      for (bool vector : {false, true}) {
        const int cpus = 1 + static_cast<int>(seed % 3);
        SCOPED_TRACE(::testing::Message()
                     << "radius " << radius << " area " << a[0] << ".." << a[1] << ", " << a[2] << ".."
                     << a[3] << " vector " << vector << " cpus " << cpus);
        CSSEMatrix m = filled(61, 46);
        blobs(m, seed++, 14, 9);
        EXPECT_TRUE(erodesAsDiscTest(m, radius, 0.0f, 5.0f, a[0], a[1], a[2], a[3], vector, cpus));
      }
  // Wide areas go through the distances in several column chunks, the last
  // one with or without a partial group of four columns; the radii reach the
  // ways of finding the disc's extent at each distance.
  for (float radius : {2.0f, 5.5f, 12.0f, 15.0f, 20.5f, 40.0f, 75.0f})
    for (int xTo : {290, 287}) {
      SCOPED_TRACE(::testing::Message() << "wide, radius " << radius << " to column " << xTo);
      CSSEMatrix m = filled(300, 21);
      blobs(m, static_cast<unsigned>(radius * 10), 30, 8);
      EXPECT_TRUE(erodesAsDiscTest(m, radius, 0.0f, 5.0f, 3, xTo, 1, 19, xTo == 287, 1));
    }
  // Background 1.0 grows the 1.0 blobs instead.
  CSSEMatrix m = filled(40, 33);
  blobs(m, 77, 6, 5);
  EXPECT_TRUE(erodesAsDiscTest(m, 3.5f, 1.0f, 9.0f, 0, 39, 0, 32, false, 2));
}

TEST(Erode, SparseBackgroundAtEveryDistance) {
  // A few background elements in a field of foreground: rows meet their
  // nearest background at every distance up to the radius.
  for (float radius : {3.0f, 14.5f, 15.0f, 20.5f, 31.0f, 40.0f, 62.0f, 70.0f})
    for (bool vector : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "radius " << radius << " vector " << vector);
      CSSEMatrix m = filled(100, 72, 1.0f);
      std::mt19937 rng(static_cast<unsigned>(radius * 10));
      // Large discs keep a single background element decisive at every distance.
      for (int k = 0; k < (radius > 30.0f ? 1 : 5); ++k)
        m.SetPoint(static_cast<int>(rng() % 100), static_cast<int>(rng() % 72), 0.0f);
      EXPECT_TRUE(erodesAsDiscTest(m, radius, 0.0f, 5.0f, 2, 97, 3, 70, vector, 2));
    }
}

TEST(DistanceTransform, ExactCityBlockDistanceWithinTheRectangle) {
  CSSEMatrix dist, m = filled(6, 6);
  m.SetPoint(2, 2, 1.0f);
  m.DistanceTransform(dist, 0, 6, 0, 6);
  EXPECT_TRUE(fieldIs(dist, [](int x, int y) { return std::abs(x - 2) + std::abs(y - 2); }));
  // A seed in the corner spreads along the first row and column too.
  m = filled(8, 8);
  m.SetPoint(0, 0, 0.995f);
  m.DistanceTransform(dist, 0, 8, 0, 8);
  EXPECT_TRUE(fieldIs(dist, [](int x, int y) { return x + y; }));

  const int rects[][4] = {{0, 33, 0, 27}, {3, 30, 5, 22}, {-2, 50, 1, 40},
                          {7, 8, 2, 26},  {4, 31, 9, 10}, {10, 20, 13, 14}};
  for (const auto& r : rects) {
    SCOPED_TRACE(::testing::Message() << r[0] << ".." << r[1] << ", " << r[2] << ".." << r[3]);
    CSSEMatrix got, src = filled(33, 27);
    std::mt19937 rng(r[0] * 100 + r[2]);
    for (int i = 0; i < 6; ++i)
      src.SetPoint(static_cast<int>(rng() % 33), static_cast<int>(rng() % 27), 1.0f);
    src.SetPoint(7, 20, 1.0f);   // a seed in the one-column rectangle too
    src.SetPoint(0, 26, 0.99f);  // not above 0.99
    src.DistanceTransform(got, r[0], r[1], r[2], r[3]);
    const int x0 = std::max(r[0], 0), x1 = std::min(r[1], 33), y0 = std::max(r[2], 0),
              y1 = std::min(r[3], 27);
    const float fill = static_cast<float>(std::max(x1 - x0, y1 - y0) + 1);
    EXPECT_TRUE(fieldIs(got, [&](int x, int y) {
      const int d =
          x >= x0 && x < x1 && y >= y0 && y < y1 ? reference::cityBlock(src, x, y, x0, x1, y0, y1) : -1;
      return d >= 0 ? static_cast<float>(d) : fill;
    }));
  }
}

TEST(Chamfer, TwoPassesOnBlobsAgainstPlainArrays) {
  // Size Y 0 stands for a single 1.0 at (10, 10) of a 26 x 20 field: steps of 3 along the axes, 4 along
  // the diagonals.
  for (int sy : {19, 20, 23, 0}) {
    SCOPED_TRACE(sy);
    std::mt19937 rng(sy);
    const bool single = sy == 0;
    sy = single ? 20 : sy;
    CSSEMatrix m = filled(26, sy);
    std::vector<float> d(26 * sy);
    auto at = [&](int x, int y) -> float& { return d[y * 26 + x]; };
    for (int y = 0; y < sy; ++y)
      for (int x = 0; x < 26; ++x) {
        const float v = single            ? x == 10 && y == 10
                        : rng() % 23 == 0 ? 1.0f
                                          : (rng() % 17 == 0 ? 0.5f : 0.0f);
        m.SetPoint(x, y, v);
        at(x, y) = std::abs(v) < 0.002f ? 99999.9f : (std::abs(v - 1.0f) < 0.002f ? 0.0f : v);
      }
    for (int y = 1; y <= sy - 2; ++y)
      for (int x = 1; x <= 24; ++x)
        at(x, y) = std::min(
            {at(x, y), at(x - 1, y) + 3, at(x, y - 1) + 3, at(x - 1, y - 1) + 4, at(x + 1, y - 1) + 4});
    for (int y = sy - 2; y >= 1; --y)
      for (int x = 24; x >= 1; --x)
        at(x, y) = std::min(
            {at(x, y), at(x + 1, y) + 3, at(x, y + 1) + 3, at(x + 1, y + 1) + 4, at(x - 1, y + 1) + 4});
    m.Chamfer();
    const int lines = (sy >> 2) + 1;
    EXPECT_TRUE(fieldIs(m, [&](int x, int y) {
      return x < 4 || x >= 21 || y < 4 || y >= 4 * (lines - 2) ? 0.0f : at(x, y);
    }));
  }
}

TEST(ZhangSuen, IsolatedElementAndBlobsAgainstThePlainRule) {
  CSSEMatrix m = filled(7, 6, 0.2f);
  m.SetPoint(3, 3, 0.9f);
  m.SetPoint(0, 2, 0.9f);  // border: always cleared
  m.ZhangSuen(0.5f);
  EXPECT_TRUE(fieldIs(m, [](int x, int y) { return x == 3 && y == 3; }));
  for (unsigned seed : {3u, 4u, 5u}) {
    SCOPED_TRACE(seed);
    CSSEMatrix b = filled(45, 38);
    blobs(b, seed, 8, 8);
    const std::vector<int> want = reference::thinning(b, 0.5f);
    b.ZhangSuen(0.5f);
    EXPECT_TRUE(fieldIs(b, [&](int x, int y) { return want[y * 45 + x]; }));
    EXPECT_GT(std::count(want.begin(), want.end(), 1), 0);
  }
}

TEST(Frames, RemoveFrameArtefactsWritesWholeLines) {
  // Columns 0, 1 and 7, 8, 9; line 0 at the top and lines 1 and 2 at the
  // bottom, which on three lines is every row, spare lanes included.
  CSSEMatrix m = filled(10, 10);
  m.RemoveFrameArtefacts(2, 4, 3.0f);
  EXPECT_TRUE(lanesAre(m, [](int, int) { return 3.0f; }));
  // On six lines the middle ones stay.
  CSSEMatrix t = filled(10, 20);
  t.RemoveFrameArtefacts(2, 4, 3.0f);
  EXPECT_TRUE(
      lanesAre(t, [](int x, int row) { return x <= 1 || x >= 7 || row < 4 || row >= 16 ? 3.0f : 0.0f; }));
}

TEST(Frames, ValueFrameRoundTripAndWindows) {
  CSSEMatrix m = field(5, 6, [](int x, int y) { return 10 * y + x; });
  m.GetCompressionParameters().m_iMethod = 3;
  CSSEMatrix f(m);
  f.EmbedinValueFrame(1, 2, -1.0f);
  ASSERT_EQ(f.GetSizeX(), 9);
  ASSERT_EQ(f.GetSizeY(), 8);
  EXPECT_TRUE(fieldIs(f, [&](int x, int y) {
    return x >= 2 && x < 7 && y >= 1 && y < 7 ? m.GetPoint(x - 2, y - 1) : -1.0f;
  }));
  EXPECT_EQ(f.GetCompressionParameters().m_iMethod, 3);
  ASSERT_TRUE(f.ExtractFromValueFrame_nonSSE(1, 2));
  EXPECT_TRUE(sameLanes(f, m));
  EXPECT_FALSE(f.ExtractFromValueFrame_nonSSE(4, 0) || f.ExtractFromValueFrame_nonSSE(-1, 0));

  CSSEMatrix w(m);
  EXPECT_FALSE(w.ExtractFrame_nonSSE(3, 2, 3, 5));
  ASSERT_TRUE(w.ExtractFrame_nonSSE(1, 2, 9, 4));  // x1 clamped to 5
  ASSERT_EQ(w.GetSizeX(), 4);
  ASSERT_EQ(w.GetSizeY(), 2);
  EXPECT_TRUE(fieldIs(w, [&](int x, int y) { return m.GetPoint(x + 1, y + 2); }));
}

TEST(Embed, ThresholdOffsetsAndRefusal) {
  const CSSEMatrix src = field(4, 7, [](int x, int y) { return static_cast<float>((x + y) % 3) + 0.5f; });
  for (int oy = 0; oy < 5; ++oy) {
    SCOPED_TRACE(oy);
    CSSEMatrix t = filled(9, 13, -2.0f);
    ASSERT_TRUE(t.EmbedMatrix(src, 3, oy, 1.5f));  // only values above it: 2.5, not 1.5
    EXPECT_TRUE(lanesAre(t, [&](int x, int row) {
      const int sx = x - 3, sy = row - oy;
      return sx >= 0 && sx < 4 && sy >= 0 && sy < 7 && src.GetPoint(sx, sy) > 1.5f ? src.GetPoint(sx, sy)
                                                                                   : -2.0f;
    }));
  }
  CSSEMatrix t = filled(4, 8), none;
  EXPECT_EQ((std::vector<int>{t.EmbedMatrix(filled(5, 2, 9.0f), 0, 0, 0.0f), t.EmbedMatrix(src, 0, 2, 0.0f),
                              t.EmbedMatrix(src, -1, 0, 0.0f), t.EmbedMatrix(none, 0, 0, 0.0f)}),
            std::vector<int>(4, 0));
  EXPECT_TRUE(fieldIs(t, [](int, int) { return 0.0f; }));
  t.EmbedMatrix_nonSSE(&src, 1, -2);
  EXPECT_TRUE(fieldIs(
      t, [&](int x, int y) { return x + 1 < 4 && y >= 2 && y < 9 ? src.GetPoint(x + 1, y - 2) : 0.0f; }));
}

TEST(Regions, EraseFrameAndRemoveThinAreas) {
  CSSEMatrix erased = filled(8, 8, -1.0f);
  CSSEMatrix m = field(8, 8, [](int x, int y) { return x >= 1 && x <= 6 && y >= 1 && y <= 5 ? x + y : 0; });
  m.SetPoint(0, 0, 4.0f);  // on the border: never touched
  m.SetPoint(3, 7, 4.0f);
  const CSSEMatrix before(m);
  m.EraseFrame(&erased);
  const auto ring = [&](int x, int y) {
    return before.GetPoint(x, y) != 0.0f && x >= 1 && x <= 6 && y >= 1 && y <= 5 &&
           (x == 1 || x == 6 || y == 1 || y == 5);
  };
  EXPECT_TRUE(fieldIs(m, [&](int x, int y) { return ring(x, y) ? 0.0f : before.GetPoint(x, y); }));
  EXPECT_TRUE(fieldIs(erased, [&](int x, int y) { return ring(x, y) ? before.GetPoint(x, y) : -1.0f; }));

  // Rows 3..8 hold five elements above 0.5, the others one.
  const auto original = [](int x, int y) { return (y >= 3 && y <= 8 && x < 5) || x == 5 ? 1.0f : 0.0f; };
  CSSEMatrix r = field(6, 12, original);
  r.RemoveThinAreas(5, 3.0f, 0.5f);
  // Filled: rows 9..10 and 0..1 (up to the first thin row above, 2, exclusive
  // of the fill's upper bound), columns 0..4; the last row and column stay.
  EXPECT_TRUE(fieldIs(
      r, [&](int x, int y) { return x < 5 && ((y >= 9 && y < 11) || y < 2) ? 0.5f : original(x, y); }));
}
