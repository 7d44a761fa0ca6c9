#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "orvik/matrix/UxCSSEMatrixIterator.h"

namespace {

using Visits = std::vector<std::pair<int, int>>;
using It = UxCSSEMatrixIteratorBase<0>;

// The elements visited; each must be the element the iterator names. Const
// iterators step by post-increment, whose copy still names the element left.
template <int C>
Visits walk(CSSEMatrix& m, UxCSSEMatrixIteratorBase<C> it) {
  Visits v;
  for (const UxCSSEMatrixIteratorBase<C> end; it != end && v.size() < 10000;) {
    v.emplace_back(it.GetX(), it.GetY());
    EXPECT_EQ(&*(C ? it++ : it), m.GetPointAddressUnsafe(v.back().first, v.back().second));
    if (!C) ++it;
  }
  return v;
}

// Memory order: lines, then columns, then the rows of the line.
Visits expected(int x0, int x1, int y0, int y1) {
  Visits v;
  for (int g = y0 >> 2; g <= y1 >> 2; ++g)
    for (int x = x0; x <= x1; ++x)
      for (int y = std::max(4 * g, y0); y <= std::min(4 * g + 3, y1); ++y) v.emplace_back(x, y);
  return v;
}

TEST(Iterator, VisitsTheClippedRangeInMemoryOrder) {
  CSSEMatrix m;
  for (int sizeY : {1, 3, 4, 5, 6, 8, 9}) {
    m.Create(3, sizeY);
    EXPECT_EQ(walk(m, UxCSSEMatrixIteratorBase<1>(&m)), expected(0, 2, 0, sizeY - 1)) << sizeY;
  }
  m.Create(6, 11);
  const int ranges[][4] = {{0, 5, 2, 10},  {1, 3, 2, 6},   {2, 2, 5, 5},
                           {-4, 2, -3, 4}, {4, 99, 7, 99}, {0, 0, 3, 4}};
  for (const auto& r : ranges)
    EXPECT_EQ(walk(m, It(&m, r[0], r[1], r[2], r[3])),
              expected(std::max(r[0], 0), std::min(r[1], 5), std::max(r[2], 0), std::min(r[3], 10)))
        << r[0] << ".." << r[1] << ", " << r[2] << ".." << r[3];
  // Lane 2 of every column of the first line, then lane 0 of the next.
  EXPECT_EQ(walk(m, UxCSSEMatrixIteratorBase<1>(It(&m, 0, 1, 2, 4))),
            (Visits{{0, 2}, {0, 3}, {1, 2}, {1, 3}, {0, 4}, {1, 4}}));
  CSSEMatrix empty;
  EXPECT_TRUE(walk(empty, It(&empty)).empty());
  EXPECT_TRUE(walk(empty, It(static_cast<CSSEMatrix*>(nullptr))).empty());
}

TEST(Iterator, InvertedRangesThrowEmptyOnesEnd) {
  CSSEMatrix m;
  m.Create(6, 8);
  try {
    It it(&m, 5, 3, 0, 7);
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
  // x0 = x1 + 1, y0 = y1 + 1, x0 at and beyond size X, y0 at size Y.
  const int ends[][4] = {{3, 2, 0, 7}, {0, 5, 4, 3}, {6, 9, 0, 7}, {20, 30, 0, 7}, {0, 5, 8, 9}};
  for (const auto& r : ends) EXPECT_EQ(It(&m, r[0], r[1], r[2], r[3]), It()) << r[0] << " " << r[2];
  m.FreeImageMemoryOnly();  // sized without memory: nothing to visit
  EXPECT_EQ(It(&m), It());
  EXPECT_EQ(It(&m, 0, 1, 0, 1), It());
}

}  // namespace
