#pragma once
// The Graham scan over the points of a polygon: the lowest point first, the
// others sorted by angle about it, then one pass with a stack. Orientation is
// judged with the tolerance of CHSimpleBasisFcns, so points within it of an
// edge are dropped.
#include <cstdint>

class CSSE2dPolygon;
class CSSE3dPolygon;

struct tPointStruc {
  std::int32_t vnum;  // position in the input
  float x, y, z;
  std::int32_t del;  // marked for removal by the sort
};
static_assert(sizeof(tPointStruc) == 20);

struct tStackCell {
  tPointStruc* p;
  tStackCell* next;  // the cell below
};

class CHConvexHull2D {
public:
  explicit CHConvexHull2D(CSSE3dPolygon* polygon);
  // The hull of the points (z = 0).
  explicit CHConvexHull2D(CSSE2dPolygon* polygon);
  CHConvexHull2D(const CHConvexHull2D&) = delete;
  CHConvexHull2D& operator=(const CHConvexHull2D&) = delete;
  ~CHConvexHull2D();

  // The hull counter-clockwise from the lowest point, with z.
  void ObtainConvexHull3D(CSSE3dPolygon* out) const;
  // The hull clockwise, ending at the lowest point.
  void ObtainConvexHull2D(CSSE2dPolygon* out) const;
  // The number of hull points (0 for an empty or degenerate hull).
  int GetNumHullPoints() const;

protected:
  void FindLowest();
  // -1: pi first, 1: pj first, 0: the same point. Collinear pairs mark the
  // nearer point (or the lower number of equal points) deleted.
  int Compare(tPointStruc* pi, tPointStruc* pj);
  // Sorts positions 1 .. n-1; a merge sort, safe with a comparison whose
  // tolerance makes it inconsistent.
  void QuickSort();
  void Swap(int i, int j);
  void Copy(int from, int to);
  void Squash();
  void Graham();
  void Push(tPointStruc* p);
  void Pop();

private:
  void build();
  void discardInterior();
  void freeStack();

  std::int32_t m_iNumPoints = 0;
  std::int32_t m_iNumDeleted = 0;
  tPointStruc* m_pPoints = nullptr;
  tStackCell* m_pTop = nullptr;
};
