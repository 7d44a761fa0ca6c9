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

TEST(Erode, BlockShrinksAndDilateIsTheSameCall) {
  CSSEMatrix m;
  m.Create(9, 9);
  for (int y = 2; y <= 6; ++y)
    for (int x = 2; x <= 6; ++x) m.SetPoint(x, y, 1.0f);
  CSSEMatrix d(m);
  m.Erode(1.0f, 0.0f, 7.0f, 0, 8, 0, 8, false, 0);
  d.Dilate(1.0f, 7.0f, 0.0f, 0, 8, 0, 8, false, 0);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 9; ++x) {
      const bool inner = x >= 3 && x <= 5 && y >= 3 && y <= 5;
      EXPECT_EQ(m.GetPoint(x, y), inner ? 7.0f : 0.0f) << x << ", " << y;
      EXPECT_EQ(d.GetPoint(x, y), m.GetPoint(x, y));
    }
  // An empty or inverted area changes nothing.
  CSSEMatrix before(d);
  d.Erode(2.0f, 0.0f, 5.0f, 6, 3, 0, 8, false, 0);
  d.Erode(2.0f, 0.0f, 5.0f, 0, 8, 20, 30, true, 0);
  d.Erode(2.0f, 0.0f, 5.0f, -5, -1, 0, 8, false, 0);
  EXPECT_TRUE(sameLanes(d, before));
}

TEST(Erode, EqualsTheDiscTestForRadiiAndAreas) {
  const float radii[] = {0.5f, 1.0f, 1.5f, 1.9999999f, 2.0f, 2.3f, 3.0f, 4.7f, 6.0f, 8.5f, 12.0f, -1.0f, 100.0f};
  struct Area {
    int xFrom, xTo, yFrom, yTo;
  };
  const Area areas[] = {{0, 60, 0, 45}, {5, 52, 3, 41}, {13, 13, 6, 30}, {-4, 70, 9, 10}, {20, 44, 2, 2}};
  unsigned seed = 1;
  for (float radius : radii)
    for (const Area& a : areas)
      for (bool vector : {false, true}) {
        const int cpus = 1 + static_cast<int>(seed % 3);
        SCOPED_TRACE(::testing::Message()
                     << "radius " << radius << " area " << a.xFrom << ".." << a.xTo << ", " << a.yFrom << ".."
                     << a.yTo << " vector " << vector << " cpus " << cpus);
        CSSEMatrix m;
        m.Create(61, 46);
        blobs(m, seed++, 14, 9);
        CSSEMatrix want(m);
        reference::erode(want, radius, 0.0f, 5.0f, a.xFrom, a.xTo, a.yFrom, a.yTo, vector);
        CbCPU::SetCount(cpus);
        m.Erode(radius, 0.0f, 5.0f, a.xFrom, a.xTo, a.yFrom, a.yTo, vector, 0);
        CbCPU::SetCount(0);
        EXPECT_TRUE(sameLanes(m, want));
      }
  // Wide areas go through the distances in several column chunks, the last
  // one with or without a partial group of four columns; the radii reach the
  // ways of finding the disc's extent at each distance.
  for (float radius : {2.0f, 5.5f, 12.0f, 15.0f, 20.5f, 40.0f, 75.0f})
    for (int xTo : {290, 287}) {
      SCOPED_TRACE(::testing::Message() << "wide, radius " << radius << " to column " << xTo);
      CSSEMatrix m;
      m.Create(300, 21);
      blobs(m, static_cast<unsigned>(radius * 10), 30, 8);
      CSSEMatrix want(m);
      reference::erode(want, radius, 0.0f, 5.0f, 3, xTo, 1, 19, xTo == 287);
      CbCPU::SetCount(1);
      m.Erode(radius, 0.0f, 5.0f, 3, xTo, 1, 19, xTo == 287, 0);
      CbCPU::SetCount(0);
      EXPECT_TRUE(sameLanes(m, want));
    }
  // Background 1.0 grows the 1.0 blobs instead.
  CSSEMatrix m;
  m.Create(40, 33);
  blobs(m, 77, 6, 5);
  CSSEMatrix want(m);
  reference::erode(want, 3.5f, 1.0f, 9.0f, 0, 39, 0, 32, false);
  m.Dilate(3.5f, 9.0f, 1.0f, 0, 39, 0, 32, false, 0);
  EXPECT_TRUE(sameLanes(m, want));
}

TEST(Erode, SparseBackgroundAtEveryDistance) {
  // A few background elements in a field of foreground: rows meet their
  // nearest background at every distance up to the radius.
  for (float radius : {3.0f, 14.5f, 15.0f, 20.5f, 31.0f, 40.0f, 62.0f, 70.0f})
    for (bool vector : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "radius " << radius << " vector " << vector);
      CSSEMatrix m;
      m.Create(100, 72);
      m.Fill(1.0f);
      std::mt19937 rng(static_cast<unsigned>(radius * 10));
      // Large discs keep a single background element decisive at every distance.
      for (int k = 0; k < (radius > 30.0f ? 1 : 5); ++k)
        m.SetPoint(static_cast<int>(rng() % 100), static_cast<int>(rng() % 72), 0.0f);
      CSSEMatrix want(m);
      reference::erode(want, radius, 0.0f, 5.0f, 2, 97, 3, 70, vector);
      CbCPU::SetCount(2);
      m.Erode(radius, 0.0f, 5.0f, 2, 97, 3, 70, vector, 0);
      CbCPU::SetCount(0);
      EXPECT_TRUE(sameLanes(m, want));
    }
}

TEST(DistanceTransform, ExactCityBlockDistanceWithinTheRectangle) {
  CSSEMatrix m, dist;
  m.Create(6, 6);
  m.SetPoint(2, 2, 1.0f);
  m.DistanceTransform(dist, 0, 6, 0, 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x)
      EXPECT_EQ(dist.GetPoint(x, y), static_cast<float>(std::abs(x - 2) + std::abs(y - 2)));

  // A seed in the corner spreads along the first row and column too.
  m.Create(8, 8);
  m.SetPoint(0, 0, 0.995f);
  m.DistanceTransform(dist, 0, 8, 0, 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(dist.GetPoint(x, y), static_cast<float>(x + y));

  struct Rect {
    int xFrom, xTo, yFrom, yTo;
  };
  const Rect rects[] = {{0, 33, 0, 27}, {3, 30, 5, 22}, {-2, 50, 1, 40},
                        {7, 8, 2, 26},  {4, 31, 9, 10}, {10, 20, 13, 14}};
  for (const Rect& r : rects) {
    SCOPED_TRACE(::testing::Message() << r.xFrom << ".." << r.xTo << ", " << r.yFrom << ".." << r.yTo);
    CSSEMatrix src, got;
    src.Create(33, 27);
    std::mt19937 rng(r.xFrom * 100 + r.yFrom);
    for (int i = 0; i < 6; ++i)
      src.SetPoint(static_cast<int>(rng() % 33), static_cast<int>(rng() % 27), 1.0f);
    src.SetPoint(0, 26, 0.99f);  // not above 0.99
    src.DistanceTransform(got, r.xFrom, r.xTo, r.yFrom, r.yTo);
    const int x0 = std::max(r.xFrom, 0), x1 = std::min(r.xTo, 33), y0 = std::max(r.yFrom, 0),
              y1 = std::min(r.yTo, 27);
    const float fill = static_cast<float>(std::max(x1 - x0, y1 - y0) + 1);
    for (int y = 0; y < 27; ++y)
      for (int x = 0; x < 33; ++x) {
        float want = fill;
        if (x >= x0 && x < x1 && y >= y0 && y < y1) {
          int best = -1;
          for (int yy = y0; yy < y1; ++yy)
            for (int xx = x0; xx < x1; ++xx)
              if (src.GetPoint(xx, yy) > 0.99) {
                const int d = std::abs(xx - x) + std::abs(yy - y);
                if (best < 0 || d < best) best = d;
              }
          if (best >= 0) want = static_cast<float>(best);
        }
        ASSERT_EQ(got.GetPoint(x, y), want) << x << ", " << y;
      }
  }
}

TEST(Chamfer, ThreeFourDistanceInsideTheFrame) {
  CSSEMatrix m;
  m.Create(20, 20);
  m.SetPoint(10, 10, 1.0f);
  m.Chamfer();
  EXPECT_EQ(m.GetPoint(10, 10), 0.0f);
  EXPECT_EQ(m.GetPoint(9, 10), 3.0f);
  EXPECT_EQ(m.GetPoint(10, 11), 3.0f);
  EXPECT_EQ(m.GetPoint(11, 9), 4.0f);
  EXPECT_EQ(m.GetPoint(9, 11), 4.0f);
  EXPECT_EQ(m.GetPoint(8, 12), 8.0f);
  // Frame: columns 0..3 and 15..19, rows 0..3 and 16..19.
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) {
      const bool frame = x < 4 || x > 14 || y < 4 || y > 15;
      const int ax = std::abs(x - 10), ay = std::abs(y - 10);
      const float want =
          frame ? 0.0f : static_cast<float>(4 * std::min(ax, ay) + 3 * (std::max(ax, ay) - std::min(ax, ay)));
      EXPECT_EQ(m.GetPoint(x, y), want) << x << ", " << y;
    }
}

TEST(Chamfer, TwoPassesOnBlobsAgainstPlainArrays) {
  for (int sy : {19, 20, 23}) {
    SCOPED_TRACE(sy);
    CSSEMatrix m;
    m.Create(26, sy);
    std::mt19937 rng(sy);
    for (int y = 0; y < sy; ++y)
      for (int x = 0; x < 26; ++x) m.SetPoint(x, y, rng() % 23 == 0 ? 1.0f : (rng() % 17 == 0 ? 0.5f : 0.0f));
    std::vector<float> d(26 * sy);
    for (int y = 0; y < sy; ++y)
      for (int x = 0; x < 26; ++x) {
        const float v = m.GetPoint(x, y);
        d[y * 26 + x] = std::abs(v) < 0.002f ? 99999.9f : (std::abs(v - 1.0f) < 0.002f ? 0.0f : v);
      }
    auto at = [&](int x, int y) -> float& { return d[y * 26 + x]; };
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
    for (int y = 0; y < sy; ++y)
      for (int x = 0; x < 26; ++x) {
        const bool frame = x < 4 || x >= 21 || y < 4 || y >= 4 * (lines - 2);
        ASSERT_EQ(m.GetPoint(x, y), frame ? 0.0f : at(x, y)) << x << ", " << y;
      }
  }
}

TEST(ZhangSuen, IsolatedElementAndBlobsAgainstThePlainRule) {
  CSSEMatrix m;
  m.Create(7, 6);
  m.Fill(0.2f);
  m.SetPoint(3, 3, 0.9f);
  m.SetPoint(0, 2, 0.9f);  // border: always cleared
  m.ZhangSuen(0.5f);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 7; ++x) EXPECT_EQ(m.GetPoint(x, y), x == 3 && y == 3 ? 1.0f : 0.0f);

  for (unsigned seed : {3u, 4u, 5u}) {
    SCOPED_TRACE(seed);
    CSSEMatrix b;
    b.Create(45, 38);
    blobs(b, seed, 8, 8);
    const std::vector<int> want = reference::thinning(b, 0.5f);
    b.ZhangSuen(0.5f);
    int ones = 0;
    for (int y = 0; y < 38; ++y)
      for (int x = 0; x < 45; ++x) {
        ASSERT_EQ(b.GetPoint(x, y), static_cast<float>(want[y * 45 + x])) << x << ", " << y;
        ones += want[y * 45 + x];
      }
    EXPECT_GT(ones, 0);
  }
}

TEST(Frames, RemoveFrameArtefactsWritesWholeLines) {
  CSSEMatrix m;
  m.Create(10, 10);
  m.RemoveFrameArtefacts(2, 4, 3.0f);
  // Columns 0, 1 and 7, 8, 9; line 0 at the top and lines 1 and 2 at the
  // bottom, which on three lines is every row, spare lanes included.
  for (int row = 0; row < 12; ++row)
    for (int x = 0; x < 10; ++x) EXPECT_EQ(lane(m, x, row), 3.0f);
  // On six lines the middle ones stay.
  CSSEMatrix t;
  t.Create(10, 20);  // lines 0..5
  t.RemoveFrameArtefacts(2, 4, 3.0f);
  for (int row = 0; row < 24; ++row)
    for (int x = 0; x < 10; ++x) {
      const bool frame = x <= 1 || x >= 7 || row < 4 || row >= 16;
      EXPECT_EQ(lane(t, x, row), frame ? 3.0f : 0.0f) << x << ", " << row;
    }
}

TEST(Frames, ValueFrameRoundTripAndWindows) {
  CSSEMatrix m;
  m.Create(5, 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 5; ++x) m.SetPoint(x, y, static_cast<float>(10 * y + x));
  m.GetCompressionParameters().m_iMethod = 3;
  CSSEMatrix f(m);
  f.EmbedinValueFrame(1, 2, -1.0f);
  ASSERT_EQ(f.GetSizeX(), 9);
  ASSERT_EQ(f.GetSizeY(), 8);
  EXPECT_EQ(f.GetPoint(0, 0), -1.0f);
  EXPECT_EQ(f.GetPoint(8, 7), -1.0f);
  EXPECT_EQ(f.GetPoint(2, 1), 0.0f);
  EXPECT_EQ(f.GetPoint(6, 6), 54.0f);
  EXPECT_EQ(f.GetCompressionParameters().m_iMethod, 3);
  ASSERT_TRUE(f.ExtractFromValueFrame_nonSSE(1, 2));
  ASSERT_EQ(f.GetSizeX(), 5);
  ASSERT_EQ(f.GetSizeY(), 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(f.GetPoint(x, y), m.GetPoint(x, y));
  EXPECT_FALSE(f.ExtractFromValueFrame_nonSSE(4, 0));
  EXPECT_FALSE(f.ExtractFromValueFrame_nonSSE(-1, 0));

  CSSEMatrix w(m);
  EXPECT_FALSE(w.ExtractFrame_nonSSE(3, 2, 3, 5));
  ASSERT_TRUE(w.ExtractFrame_nonSSE(1, 2, 9, 4));  // x1 clamped to 5
  ASSERT_EQ(w.GetSizeX(), 4);
  ASSERT_EQ(w.GetSizeY(), 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(w.GetPoint(x, y), m.GetPoint(x + 1, y + 2));
}

TEST(Embed, ThresholdOffsetsAndRefusal) {
  CSSEMatrix src;
  src.Create(4, 7);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 4; ++x) src.SetPoint(x, y, static_cast<float>((x + y) % 3) + 0.5f);
  for (int oy = 0; oy < 5; ++oy) {
    SCOPED_TRACE(oy);
    CSSEMatrix t;
    t.Create(9, 13);
    t.Fill(-2.0f);
    ASSERT_TRUE(t.EmbedMatrix(src, 3, oy, 1.0f));
    for (int row = 0; row < 16; ++row)
      for (int x = 0; x < 9; ++x) {
        const int sx = x - 3, sy = row - oy;
        const bool in = sx >= 0 && sx < 4 && sy >= 0 && sy < 7 && src.GetPoint(sx, sy) > 1.0f;
        EXPECT_EQ(lane(t, x, row), in ? src.GetPoint(sx, sy) : -2.0f) << x << ", " << row;
      }
  }
  CSSEMatrix t, wide;
  t.Create(4, 8);
  wide.Create(5, 2);
  wide.Fill(9.0f);
  EXPECT_FALSE(t.EmbedMatrix(wide, 0, 0, 0.0f));
  EXPECT_FALSE(t.EmbedMatrix(src, 0, 2, 0.0f));
  EXPECT_FALSE(t.EmbedMatrix(src, -1, 0, 0.0f));
  CSSEMatrix none;
  EXPECT_FALSE(t.EmbedMatrix(none, 0, 0, 0.0f));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(t.GetPoint(x, y), 0.0f);

  t.EmbedMatrix_nonSSE(&src, 1, -2);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 4; ++x) {
      const bool in = x + 1 < 4 && y - 2 >= 0 && y - 2 < 7;
      EXPECT_EQ(t.GetPoint(x, y), in ? src.GetPoint(x + 1, y - 2) : 0.0f) << x << ", " << y;
    }
}

TEST(Regions, EraseFrameAndRemoveThinAreas) {
  CSSEMatrix m, erased;
  m.Create(8, 8);
  erased.Create(8, 8);
  erased.Fill(-1.0f);
  for (int y = 1; y <= 5; ++y)
    for (int x = 1; x <= 6; ++x) m.SetPoint(x, y, static_cast<float>(x + y));
  m.SetPoint(0, 0, 4.0f);  // on the border: never touched
  CSSEMatrix before(m);
  m.EraseFrame(&erased);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool ring = before.GetPoint(x, y) != 0.0f && x >= 1 && x <= 6 && y >= 1 && y <= 5 &&
                        (x == 1 || x == 6 || y == 1 || y == 5);
      EXPECT_EQ(m.GetPoint(x, y), ring ? 0.0f : before.GetPoint(x, y)) << x << ", " << y;
      EXPECT_EQ(erased.GetPoint(x, y), ring ? before.GetPoint(x, y) : -1.0f) << x << ", " << y;
    }

  // Rows 3..8 hold five elements above 0.5, the others one.
  CSSEMatrix r;
  r.Create(6, 12);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 6; ++x) r.SetPoint(x, y, (y >= 3 && y <= 8 && x < 5) || x == 5 ? 1.0f : 0.0f);
  r.RemoveThinAreas(5, 3.0f, 0.5f);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 6; ++x) {
      // Filled: rows 9..10 and 0..1 (up to the first thin row above, 2, exclusive
      // of the fill's upper bound), columns 0..4; the last row and column stay.
      const bool filled = x < 5 && ((y >= 9 && y < 11) || y < 2);
      const float original = (y >= 3 && y <= 8 && x < 5) || x == 5 ? 1.0f : 0.0f;
      EXPECT_EQ(r.GetPoint(x, y), filled ? 0.5f : original) << x << ", " << y;
    }
}
