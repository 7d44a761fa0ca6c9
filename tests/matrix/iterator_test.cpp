#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "orvik/matrix/UxCSSEMatrixIterator.h"

namespace {

using Visits = std::vector<std::pair<int, int>>;

template <int C>
Visits walk(UxCSSEMatrixIteratorBase<C> it) {
  Visits v;
  for (const UxCSSEMatrixIteratorBase<C> end; it != end && v.size() < 10000; ++it)
    v.emplace_back(it.GetX(), it.GetY());
  return v;
}

// The documented memory order, computed independently: lines, then columns, then rows.
Visits expected(int x0, int x1, int y0, int y1) {
  Visits v;
  for (int g = y0 >> 2; g <= y1 >> 2; ++g)
    for (int x = x0; x <= x1; ++x)
      for (int y = std::max(4 * g, y0); y <= std::min(4 * g + 3, y1); ++y) v.emplace_back(x, y);
  return v;
}

TEST(Iterator, WholeMatrixInMemoryOrder) {
  CSSEMatrix m;
  m.Create(3, 6);
  EXPECT_EQ(walk(UxCSSEMatrixIteratorBase<0>(&m)), expected(0, 2, 0, 5));
  EXPECT_EQ(walk(UxCSSEMatrixIteratorBase<0>(&m)).at(12), std::make_pair(0, 4));  // column 0 of the second line
  for (int sizeY : {1, 3, 4, 5, 8, 9}) {
    m.Create(2, sizeY);
    EXPECT_EQ(walk(UxCSSEMatrixIteratorBase<1>(&m)), expected(0, 1, 0, sizeY - 1)) << sizeY;
  }
  CSSEMatrix empty;
  EXPECT_TRUE(walk(UxCSSEMatrixIteratorBase<0>(&empty)).empty());
  EXPECT_TRUE(walk(UxCSSEMatrixIteratorBase<0>(static_cast<CSSEMatrix*>(nullptr))).empty());
}

TEST(Iterator, WritesReachEveryElementOnce) {
  CSSEMatrix m;
  m.Create(5, 7);
  float n = 0;
  for (UxCSSEMatrixIteratorBase<0> it(&m, 1, 3, 2, 5), end; it != end; ++it) *it += ++n;
  float sum = 0;
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 5; ++x) {
      EXPECT_TRUE((x >= 1 && x <= 3 && y >= 2 && y <= 5) || m.GetPoint(x, y) == 0.0f) << x << "," << y;
      sum += m.GetPoint(x, y);
    }
  EXPECT_EQ(n, 12.0f);
  EXPECT_EQ(sum, 12.0f * 13.0f / 2.0f);
}

TEST(Iterator, RangesStartAtTheirLaneAndClip) {
  CSSEMatrix m;
  m.Create(6, 11);
  const int ranges[][4] = {{0, 5, 2, 10},  {1, 3, 2, 6},   {2, 2, 5, 5},
                           {-4, 2, -3, 4}, {4, 99, 7, 99}, {0, 0, 3, 4}};
  for (const auto& r : ranges)
    EXPECT_EQ(walk(UxCSSEMatrixIteratorBase<0>(&m, r[0], r[1], r[2], r[3])),
              expected(std::max(r[0], 0), std::min(r[1], 5), std::max(r[2], 0), std::min(r[3], 10)))
        << r[0] << ".." << r[1] << ", " << r[2] << ".." << r[3];
  // y0 = 2: lane 2 of every column of the first line, then lane 0 of the next.
  EXPECT_EQ(walk(UxCSSEMatrixIteratorBase<0>(&m, 0, 1, 2, 4)),
            (Visits{{0, 2}, {0, 3}, {1, 2}, {1, 3}, {0, 4}, {1, 4}}));
}

TEST(Iterator, InvertedRangesThrowEmptyOnesEnd) {
  CSSEMatrix m;
  m.Create(6, 8);
  try {
    UxCSSEMatrixIteratorBase<0> it(&m, 5, 3, 0, 7);
    FAIL();
  } catch (const CbException& e) {
    EXPECT_STREQ(e.GetFile(), "UxCSSEMatrixIterator");
    EXPECT_EQ(e.GetLine(), 116);
    EXPECT_STREQ(e.GetFunction(), "UxCSSEMatrixIteratorBase<0>::UxCSSEMatrixIteratorBase");
  }
  try {
    UxCSSEMatrixIteratorBase<1> it(&m, 0, 5, 7, 2);
    FAIL();
  } catch (const CbException& e) {
    EXPECT_EQ(e.GetLine(), 123);
    EXPECT_STREQ(e.GetFunction(), "UxCSSEMatrixIteratorBase<1>::UxCSSEMatrixIteratorBase");
  }
  const UxCSSEMatrixIteratorBase<0> end;
  EXPECT_EQ(UxCSSEMatrixIteratorBase<0>(&m, 3, 2, 0, 7), end);    // x0 = x1 + 1
  EXPECT_EQ(UxCSSEMatrixIteratorBase<0>(&m, 0, 5, 4, 3), end);    // y0 = y1 + 1
  EXPECT_EQ(UxCSSEMatrixIteratorBase<0>(&m, 6, 9, 0, 7), end);    // starts at size X
  EXPECT_EQ(UxCSSEMatrixIteratorBase<0>(&m, 20, 30, 0, 7), end);  // beyond size X
  EXPECT_EQ(UxCSSEMatrixIteratorBase<0>(&m, 0, 5, 8, 9), end);    // starts at size Y
  m.FreeImageMemoryOnly();                                        // sized without memory: nothing to visit
  EXPECT_EQ(UxCSSEMatrixIteratorBase<0>(&m), end);
  EXPECT_EQ(UxCSSEMatrixIteratorBase<0>(&m, 0, 1, 0, 1), end);
}

TEST(Iterator, ConstFromMutableAndPostIncrement) {
  CSSEMatrix m;
  m.Create(2, 5);
  m.SetPoint(0, 1, 7.0f);
  UxCSSEMatrixIteratorBase<0> it(&m);
  const UxCSSEMatrixIteratorBase<0> before = it++;
  EXPECT_EQ(before.GetY(), 0);
  EXPECT_EQ(it.GetY(), 1);
  const UxCSSEMatrixIteratorBase<1> c(it);
  const UxCSSEMatrixIteratorBase<0> copy = it;
  EXPECT_TRUE(c == UxCSSEMatrixIteratorBase<1>(copy));
  EXPECT_EQ(*c, 7.0f);
  EXPECT_TRUE(before != it);
}

}  // namespace
