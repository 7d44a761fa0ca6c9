#pragma once
// A complete octree over a cube, every level allocated when the tree is built.
// Bricks collect triangle numbers of a CHTriangulation in up to four entry
// lists; a triangle goes into the smallest brick that holds its bounding box,
// so a brick's list says which triangles lie wholly within it and no deeper.
//
// The bricks cover the cube of edge E (the largest extent of the box) centred
// on the box, so a box that is not a cube is extended in its shorter
// directions. Memory grows as 8^depth: the cell size must keep the depth small.
#include <cstdint>

#include "orvik/foundation/SSEPoint.h"

class CHTriangulation;
struct t_htriangle;

// One block of an entry list; blocks are allocated zeroed one at a time and
// chained. The last slot of `entries` is never filled.
struct t_hoctreeentry {
  std::int32_t entries[10];
  std::int32_t count;
  t_hoctreeentry* next;
};

// A brick. Children 0 ... 3 form the lower half (-z) and 4 ... 7 the upper
// half, each quartet counter-clockwise from (+x, +y) seen from +z.
struct t_hoctreeelement {
  SSEPoint centre;
  SSEPoint maxCorner;
  SSEPoint minCorner;
  float halfEdge;
  t_hoctreeelement* parent;
  t_hoctreeelement* children[8];  // null on the last level
  t_hoctreeentry* lists[4];       // the first block of each list
  std::int32_t level;             // 0 for the root
};

class CHOctree {
public:
  static constexpr int c_iNumLists = 4;
  // The brick counts are 32-bit: eleven levels hold 1 227 133 513 bricks, a
  // twelfth would overflow them.
  static constexpr int c_iMaxDepth = 11;

  // depth = round(log2(E / cell)) levels, at least 0 (a tree without bricks
  // when the box is smaller than about 1.4 cells). A cell that is not positive
  // or not finite throws CbException. A tree whose brick count does not fit
  // 32 bits, or whose bricks would take more than the machine's physical
  // memory, throws CMemoryException before anything is allocated: every brick
  // is written while the tree is built, so a larger tree could never be used.
  CHOctree(SSEPoint& maxPt, SSEPoint& minPt, float cell);
  // Copies bricks and entry lists; the copy's links point into its own bricks.
  CHOctree(const CHOctree& other);
  CHOctree& operator=(const CHOctree& other);
  ~CHOctree();

  t_hoctreeelement* GetStem() const { return m_pStem; }
  int GetNumBricks() const { return m_iNumBricks; }
  int GetDepth() const { return m_iDepth; }
  float GetEdgeLength() const { return m_fEdgeLength; }
  float GetCellSize() const { return m_fCellSize; }

  // Every operation below given a list number outside 0 ... 3, or a null
  // brick, does nothing (returns false or -1).
  //
  // Every triangle of the mesh, in order, inserted from the root; those whose
  // bounds do not fit the root are left out. The per-triangle bounds must be
  // current (CalcBoundingBox).
  void CalculateOctreeEntries(CHTriangulation* mesh, int list);
  // False when the triangle's bounds do not fit the brick (in x, y and z).
  // Otherwise the children are tried in order and the first that takes it
  // ends the search; if none does, this brick keeps it.
  bool InsertTriangleIntoOctree(t_htriangle* t, t_hoctreeelement* brick, int list);
  // Appends the triangle's index to the brick's list and sets its mark from
  // the brick's level (level 1 -> 4, 2 -> 2, 3 -> 3, 4 ... 10 -> level + 1,
  // 11 -> -1, the root and anything else -> 1).
  void InsertTriangleIntoOctreeElement(t_htriangle* t, t_hoctreeelement* brick, int list);
  void AppendEntryToOctreeElement(t_hoctreeelement* brick, int list, int entry);
  // The i-th entry of the list in insertion order, or -1 when there is none.
  int GetEntryFromOctreeElement(t_hoctreeelement* brick, int list, int i) const;
  // Frees all four lists of the brick.
  void RemoveAllEntriesFromOctreeElement(t_hoctreeelement* brick);
  // Zeroes the whole brick record (its lists are not freed).
  void ClearEntry(t_hoctreeelement& brick);
  // Depth first, children 0 ... 7 before the brick itself: the lane-wise
  // maximum and minimum of maxPt / minPt with the bounds of every triangle in
  // the list. The caller initialises both points. Entries that are not
  // triangles of `mesh` are skipped.
  void FindMinMaxPointTriangulation(CHTriangulation* mesh, SSEPoint& maxPt, SSEPoint& minPt, t_hoctreeelement* brick,
                                    int list);
  // Centres the brick on `centre`, sets its corners and positions its subtree.
  void PositionReferenceOctree(t_hoctreeelement* brick, SSEPoint* centre);

protected:
  // The centre of the box (the root's centre, also when there is no root).
  SSEPoint boxCentre() const;

private:
  void copyFrom(const CHOctree& other);
  void release() noexcept;
  void appendEntry(t_hoctreeentry*& tail, t_hoctreeelement* brick, int list, int entry);

  t_hoctreeelement* m_pStem = nullptr;
  // All bricks lie in one 16-byte aligned block, level by level; m_pLevels[L]
  // is level L's array of 8^L bricks.
  t_hoctreeelement* m_pLevels[c_iMaxDepth] = {};
  std::int32_t m_iNumBricksInLevel[c_iMaxDepth] = {};
  std::int32_t m_iDepth = 0;
  float m_fEdgeLength = 0.0f;
  float m_fMinX = 0.0f, m_fMaxX = 0.0f, m_fMinY = 0.0f, m_fMaxY = 0.0f, m_fMinZ = 0.0f, m_fMaxZ = 0.0f;
  float m_fCellSize = 0.0f;
  std::int32_t m_iNumBricks = 0;
};
