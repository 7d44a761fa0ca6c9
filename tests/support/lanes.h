#pragma once
// The memory of a matrix as the tests read and write it: every lane of every
// SSE line, spare lanes included. "Row" r of column x is lane r % 4 of line
// r / 4 for height fields (r % 16 of line r / 16 for byte matrices), so rows at
// and beyond the size Y are the spare lanes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "orvik/chain/SSEcharMatrix.h"
#include "orvik/matrix/ssematrix.h"

inline int laneRows(const CSSEMatrix& m) { return 4 * m.GetSSESizeY(); }
inline int laneRows(const CSSEcharMatrix& m) { return 16 * m.GetSSESizeY(); }

// Writable through a const reference too, so that const matrices read the same way.
inline float& lane(const CSSEMatrix& m, int x, int row) {
  return reinterpret_cast<float*>(
      const_cast<__m128*>(m.GetMatrixDataDirectly()[row >> 2]))[4 * x + (row & 3)];
}
inline signed char& lane(const CSSEcharMatrix& m, int x, int row) {
  return reinterpret_cast<signed char*>(
      const_cast<__m128i*>(m.GetMatrixDataDirectly()[row >> 4] + x))[row & 15];
}

// Every lane in line order: line by line, column by column, four lanes each.
inline std::vector<float> lanes(const CSSEMatrix& m) {
  std::vector<float> out;
  for (int g = 0; g < m.GetSSESizeY(); ++g) {
    const float* p = reinterpret_cast<const float*>(m.GetMatrixDataDirectly()[g]);
    out.insert(out.end(), p, p + 4 * m.GetSSESizeX());
  }
  return out;
}

// Same sizes and every lane equal bit for bit; names the first lane that differs.
// anyNaN: every NaN equals every NaN. Which NaN a commutative add or multiply of
// two NaN operands returns follows the operand order the compiler picks, so
// only the other values are defined bit for bit.
inline ::testing::AssertionResult sameLanes(const CSSEMatrix& a, const CSSEMatrix& b, bool anyNaN = false) {
  if (a.GetSizeX() != b.GetSizeX() || a.GetSizeY() != b.GetSizeY())
    return ::testing::AssertionFailure() << "sizes differ";
  for (int row = 0; row < laneRows(a); ++row)
    for (int x = 0; x < a.GetSizeX(); ++x)
      if (std::memcmp(&lane(a, x, row), &lane(b, x, row), sizeof(float)) != 0 &&
          !(anyNaN && std::isnan(lane(a, x, row)) && std::isnan(lane(b, x, row))))
        return ::testing::AssertionFailure()
               << "lane (" << x << ", " << row << "): " << lane(a, x, row) << " vs " << lane(b, x, row);
  return ::testing::AssertionSuccess();
}

// Every element (x, y) of the logical rows equals want(x, y); names the first that differs.
template <class Want>
::testing::AssertionResult fieldIs(const CSSEMatrix& m, Want want) {
  for (int y = 0; y < m.GetSizeY(); ++y)
    for (int x = 0; x < m.GetSizeX(); ++x)
      if (const float w = want(x, y); !(m.GetPoint(x, y) == w))
        return ::testing::AssertionFailure()
               << "(" << x << ", " << y << "): " << m.GetPoint(x, y) << " vs " << w;
  return ::testing::AssertionSuccess();
}

// The same over every lane of a height field or byte matrix: row runs over the
// spare lanes too.
template <class Matrix, class Want>
::testing::AssertionResult lanesAre(const Matrix& m, Want want) {
  for (int row = 0; row < laneRows(m); ++row)
    for (int x = 0; x < m.GetSizeX(); ++x)
      if (const auto w = want(x, row); !(lane(m, x, row) == w))
        return ::testing::AssertionFailure()
               << "lane (" << x << ", " << row << "): " << +lane(m, x, row) << " vs " << +w;
  return ::testing::AssertionSuccess();
}
