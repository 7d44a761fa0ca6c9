// A matrix without elements, and one whose allocation failed, must stay safe
// to use: reads give 0, writes do nothing, and the next Create works.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <new>
#include <vector>

#include "orvik/chain/SSEcharMatrix.h"
#include "orvik/matrix/ssematrix.h"

namespace {

using Ints = std::vector<int>;

TEST(MatrixReliability, AFailedCreateLeavesAnEmptyUsableMatrix) {
  // The first field of INT_MAX columns is a terabyte: refused by the allocator at once, never touched.
  for (const int sizeY : {200, 1}) {
    SCOPED_TRACE(sizeY);
    CSSEMatrix m;
    m.Create(3, 3);
    EXPECT_THROW(m.Create(INT_MAX, sizeY), std::bad_alloc);
    EXPECT_EQ((Ints{m.HasMemory(), m.GetSizeX(), m.GetSizeY(), m.GetSSESizeY(), m.GetFields()}), Ints(5, 0));
    m.Fill(1.0f);
    m.SetPoint(0, 0, 2.0f);
    EXPECT_EQ(m.GetPoint(0, 0), 0.0f);
    EXPECT_THROW(m.CreateNoClear(INT_MAX, sizeY), std::bad_alloc);
    EXPECT_EQ(m.GetSizeX(), 0);
    m.Create(5, 6);
    m.SetPoint(4, 5, 7.0f);
    EXPECT_EQ(m.GetPoint(9, 9), 7.0f);

    CSSEcharMatrix c(2, 2);
    EXPECT_THROW(c.Create(INT_MAX, sizeY * 4), std::bad_alloc);
    EXPECT_EQ((Ints{c.GetSizeX(), c.GetSizeY()}), Ints(2, 0));
    c.SetPoint(0, 0, 3);
    EXPECT_EQ(c.GetPoint(0, 0), 0);
    c.Create(4, 4);
    c.SetPoint(3, 3, 5);
    EXPECT_EQ(c.GetPoint(3, 3), 5);
  }
}

TEST(MatrixReliability, ClampingAccessorsOnMatricesWithoutElements) {
  const std::function<void(CSSEMatrix&)> shapes[] = {
      [](CSSEMatrix&) {},
      [](CSSEMatrix& m) { m.Create(0, 5); },
      [](CSSEMatrix& m) { m.Create(5, 0); },
      [](CSSEMatrix& m) { m.Create(0, 0); },
      [](CSSEMatrix& m) {
        m.Create(5, 5);
        m.FreeImageMemoryOnly();
      },
  };
  for (const auto& shape : shapes) {
    SCOPED_TRACE(&shape - shapes);
    CSSEMatrix m;
    shape(m);
    for (const int x : {-1, 0, 3, 9})
      for (const int y : {-1, 0, 3, 9}) {
        m.SetPoint(x, y, 4.0f);
        m.SetPointMax(x, y, 4.0f);
        m.Set11x11BoxPointMax(x, y, 4.0f);
        m.ClearRow(y, 4.0f);
        EXPECT_EQ(m.GetPointAddress(x, y), nullptr);
        EXPECT_EQ((std::vector<float>{m.GetPoint(x, y), m.GetPointValue(x, y), m.GetPointMax3x3(x, y),
                                      m.GetPixelPreciseFloat(float(x), float(y), false)}),
                  std::vector<float>(4, 0.0f));
      }
  }
}

}  // namespace
