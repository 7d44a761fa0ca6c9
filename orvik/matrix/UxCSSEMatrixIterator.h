#pragma once
// Iterators over the elements of a CSSEMatrix, or of a rectangle of it, in
// memory order: SSE line by SSE line, within a line column by column, within a
// column the rows of that line. <0> is the mutable iterator, <1> the constant one.
// An iterator does not own its matrix; the caller keeps it alive.
#include <immintrin.h>

#include <algorithm>
#include <type_traits>

#include "orvik/foundation/Exception.h"
#include "orvik/matrix/ssematrix.h"

template <int IsConst>
class UxCSSEMatrixIteratorBase {
public:
  using Matrix = std::conditional_t<IsConst != 0, const CSSEMatrix, CSSEMatrix>;
  using Value = std::conditional_t<IsConst != 0, const float, float>;

  // An end iterator without matrix.
  UxCSSEMatrixIteratorBase() = default;

  // The whole matrix.
  explicit UxCSSEMatrixIteratorBase(Matrix* m) : m_pMatrix(m) {
    if (!m) return;
    m_iXEnd = m->GetSizeX();
    m_iYEnd = m->GetSizeY();
    m_iLaneEnd = m->GetSizeY() <= 3 ? m->GetSizeY() : 4;
    if (m->GetSizeX() >= 1 && m->GetSizeY() >= 1 && m->HasMemory()) m_pCurrent = reinterpret_cast<Value*>(m->GetMatrixDataDirectly()[0]);
  }

  // Columns x0 .. x1 and rows y0 .. y1, both inclusive, clipped to the matrix.
  // An empty range (x0 == x1 + 1 or y0 == y1 + 1) or one that starts beyond the
  // matrix is an end iterator; an inverted range throws CbException.
  UxCSSEMatrixIteratorBase(Matrix* m, int x0, int x1, int y0, int y1) : m_pMatrix(m) {
    if (!m || (m->GetSizeX() == 0 && m->GetSizeY() == 0)) return;
    m_iXFrom = std::max(x0, 0);
    m_iXEnd = std::min(m->GetSizeX(), x1 + 1);
    const int yFrom = std::max(y0, 0);
    m_iYEnd = std::min(m->GetSizeY(), y1 + 1);
    if (x0 > x1 + 1) throw CbException("UxCSSEMatrixIterator", 116, functionName());
    if (y0 > y1 + 1) throw CbException("UxCSSEMatrixIterator", 123, functionName());
    if (m_iXFrom >= m_iXEnd || yFrom >= m_iYEnd || !m->HasMemory()) return;
    m_iX = m_iXFrom;
    m_iLine = yFrom >> 2;
    m_iLane = m_iFirstLane = yFrom & 3;
    m_iLaneEnd = getYFineNextChange(m_iLine, m_iYEnd);
    m_pCurrent = reinterpret_cast<Value*>(m->GetMatrixDataDirectly()[m_iLine] + m_iXFrom);
  }

  // A constant iterator from a mutable one.
  template <int Other>
    requires(IsConst != 0 && Other == 0)
  UxCSSEMatrixIteratorBase(const UxCSSEMatrixIteratorBase<Other>& o)  // NOLINT: as for pointers
      : m_pMatrix(o.m_pMatrix), m_pCurrent(o.m_pCurrent), m_iX(o.m_iX), m_iLine(o.m_iLine), m_iLane(o.m_iLane),
        m_iFirstLane(o.m_iFirstLane), m_iLaneEnd(o.m_iLaneEnd), m_iXFrom(o.m_iXFrom), m_iXEnd(o.m_iXEnd),
        m_iYEnd(o.m_iYEnd) {}

  Value& operator*() const { return m_pCurrent[m_iLane]; }

  UxCSSEMatrixIteratorBase& operator++() {
    if (!m_pMatrix || !m_pCurrent) return *this;
    if (++m_iLane < m_iLaneEnd) return *this;
    if (++m_iX < m_iXEnd) {
      m_pCurrent += 4;
      m_iLane = m_iFirstLane;
      return *this;
    }
    ++m_iLine;
    m_iFirstLane = 0;
    if (m_iLine > (m_iYEnd - 1) >> 2) {
      m_pCurrent = nullptr;
      return *this;
    }
    m_iX = m_iXFrom;
    m_iLane = 0;
    m_iLaneEnd = getYFineNextChange(m_iLine, m_iYEnd);
    m_pCurrent = reinterpret_cast<Value*>(m_pMatrix->GetMatrixDataDirectly()[m_iLine] + m_iXFrom);
    return *this;
  }

  UxCSSEMatrixIteratorBase operator++(int) {
    UxCSSEMatrixIteratorBase before = *this;
    ++*this;
    return before;
  }

  bool operator==(const UxCSSEMatrixIteratorBase& o) const {
    if (!m_pCurrent && !o.m_pCurrent) return true;
    if (m_pCurrent != o.m_pCurrent) return false;
    return m_iLane == o.m_iLane && m_iXFrom == o.m_iXFrom && m_iXEnd == o.m_iXEnd && m_iYEnd == o.m_iYEnd;
  }
  bool operator!=(const UxCSSEMatrixIteratorBase& o) const { return !(*this == o); }

  int GetX() const { return m_iX; }
  int GetY() const { return 4 * m_iLine + m_iLane; }

private:
  template <int>
  friend class UxCSSEMatrixIteratorBase;

  static const char* functionName() {
    return IsConst ? "UxCSSEMatrixIteratorBase<1>::UxCSSEMatrixIteratorBase"
                   : "UxCSSEMatrixIteratorBase<0>::UxCSSEMatrixIteratorBase";
  }
  // One past the last lane to visit in `line` for rows below yEnd.
  static int getYFineNextChange(int line, int yEnd) { return line < (yEnd - 1) >> 2 ? 4 : yEnd - 4 * line; }

  Matrix* m_pMatrix = nullptr;
  // Lane 0 of the vector of the current column in the current line; null at the end.
  Value* m_pCurrent = nullptr;
  int m_iX = 0;
  int m_iLine = 0;
  int m_iLane = 0;
  int m_iFirstLane = 0;
  int m_iLaneEnd = 0;
  int m_iXFrom = 0;
  int m_iXEnd = 0;
  int m_iYEnd = 0;
};
