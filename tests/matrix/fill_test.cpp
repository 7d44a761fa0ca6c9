#include <gtest/gtest.h>

#include <vector>

#include "orvik/matrix/ssematrix.h"

namespace {

std::vector<float> lanes(const CSSEMatrix& m) {
  std::vector<float> out;
  for (int g = 0; g < m.GetSSESizeY(); ++g) {
    const float* p = reinterpret_cast<const float*>(m.GetMatrixDataDirectly()[g]);
    out.insert(out.end(), p, p + 4 * m.GetSSESizeX());
  }
  return out;
}

// Distinct values in every lane, spare lanes included.
void pattern(CSSEMatrix& m) {
  int i = 0;
  for (int g = 0; g < m.GetSSESizeY(); ++g) {
    float* p = reinterpret_cast<float*>(m.GetMatrixDataDirectly()[g]);
    for (int k = 0; k < 4 * m.GetSSESizeX(); ++k) p[k] = static_cast<float>(++i);
  }
}

}  // namespace

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
  pattern(src);
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
