#pragma once
// Median filters over a rectangle of a height field.
class CSSEMatrix;

class CFilters {
 public:
  CFilters() = default;
  ~CFilters() = default;

  // dst is cleared; over the rectangle xFrom .. xTo-1, yFrom .. yTo-1 the
  // outermost row and column (two for 5x5) are copied from src and every
  // interior element gets the median rule of its 3x3 (5x5) neighbourhood: the
  // values, row by row, go through one pass that carries the larger value of
  // each neighbouring pair to the right, a second pass when the last pair of
  // the first one was exchanged, and the middle position is taken. That is the
  // true median for many inputs but not all (9, 8, ..., 1 gives 3). Interior
  // elements whose neighbourhood leaves either matrix are not written.
  static void Median3x3(CSSEMatrix& src, CSSEMatrix& dst, int xFrom, int xTo, int yFrom, int yTo);
  static void Median5x5(CSSEMatrix& src, CSSEMatrix& dst, int xFrom, int xTo, int yFrom, int yTo);
};
