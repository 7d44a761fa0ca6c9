#pragma once
// CHPolygonTriangulationRefinement: longest-edge bisection of an ear-clipping
// triangulation until no edge is longer than 2 r, as far as the given number
// of passes gets. A triangle's longest edge is split at its midpoint together
// with the neighbour across it, when that edge is the neighbour's longest too
// (within 10 %), so the mesh stays conforming: every split point is a corner
// of all the triangles around it.
//
// Corners of split triangles are in the triangulator's scaled plane; their
// heights are taken when the triangles are read: a corner at a vertex of the
// polygon keeps that point's z, any other is interpolated from the polygon's
// points. Over a plane polygon every height is 0. The refinement reads the
// triangulator and its polygon and owns neither; keep them alive while it is used.
#include <cstdint>
#include <unordered_map>

#include "orvik/foundation/SSEPoint.h"
#include "orvik/polygon/SSE2dPolygon.h"
#include "orvik/polygon/SSE3dPolygon.h"

class CHPolygonTriangulator;

// A triangle of the refinement, in a doubly linked list.
struct t_hdynamictriangle {
  t_h2dpoint p[3];
  float z[3];
  t_hdynamictriangle* next;
  t_hdynamictriangle* prev;
  // neighbour[k] lies across the edge from corner k to corner k + 1 (mod 3).
  t_hdynamictriangle* neighbour[3];
  std::int32_t index;  // the triangulator's triangle, -1 for one made by a split
  std::int32_t flag;
};

// The slot of a neighbour that points back at a triangle.
enum ESharedSide { eNoSharedSide = -1, eSharedSide0 = 0, eSharedSide1 = 1, eSharedSide2 = 2 };

class CHPolygonTriangulationRefinement {
public:
  static constexpr float c_fUnknownHeight = -999999.0f;

  CHPolygonTriangulationRefinement(CHPolygonTriangulator* triangulator, float r, int passes);
  ~CHPolygonTriangulationRefinement();
  CHPolygonTriangulationRefinement(const CHPolygonTriangulationRefinement&) = delete;
  CHPolygonTriangulationRefinement& operator=(const CHPolygonTriangulationRefinement&) = delete;

  int GetNumTriangles() const { return m_iNumTriangles; }
  // The number of distinct corner points.
  int GetNum2dPoints() const;
  // Triangle i in list order; null for a bad index.
  t_hdynamictriangle* GetTriangle(int i) const;

  // The triangles in list order, as points in space: triangles of the
  // triangulator as its GetTriangle3D gives them, split triangles with their
  // heights filled in. False, outputs untouched, past the last triangle.
  bool GetFirstTriangle3D(SSEPoint& a, SSEPoint& b, SSEPoint& c);
  bool GetNextTriangle3D(SSEPoint& a, SSEPoint& b, SSEPoint& c);
  bool GetTriangle3D(int i, SSEPoint& a, SSEPoint& b, SSEPoint& c);
  // The boundary (edges without a neighbour) as a ring of points with their
  // heights, followed from the first boundary edge of the list; the first
  // ring found when there are several. Empty when there are no triangles.
  void GetBorderLinePolygon(CSSE3dPolygon* out);

  // One pass of splits over the list; returns the number of triangles split.
  int Refinement();
  // Links every triangle to those sharing an edge with it (corners equal
  // within 0.0005); the last triangle of the list found wins a slot.
  void CalcNeighbours();
  // Sets a's neighbour slots for the edges it shares with b; true if any.
  static bool CheckNeighbourTriangle(t_hdynamictriangle* a, t_hdynamictriangle* b);
  static ESharedSide GetSharedSide(const t_hdynamictriangle* t, const t_hdynamictriangle* neighbour);
  static bool Equal(const t_h2dpoint& a, const t_h2dpoint& b);
  // Points t's slot that holds `old` at `replacement`; nothing for a null t.
  static void ExchangeNeighbour(t_hdynamictriangle* t, const t_hdynamictriangle* old,
                                t_hdynamictriangle* replacement);
  // Pushes t at the list head.
  void AppendTriangle(t_hdynamictriangle* t);
  // A new triangle with these corners and index, heights 0, pushed at the head.
  t_hdynamictriangle* AppendOwnTriangle(const t_h2dpoint& a, const t_h2dpoint& b, const t_h2dpoint& c, int index);
  // Pushes a and b and removes old: one triangle more.
  void AppendNewTrianglesAndRemoveOld(t_hdynamictriangle* a, t_hdynamictriangle* b, t_hdynamictriangle* old);
  static t_hdynamictriangle* CreateTriangle();
  static void FreeTriangle(t_hdynamictriangle* t);
  void RemoveTriangles();
  // Counts the slivers among the triangles with two or more neighbours: the
  // shortest squared edge below 0.25 times the longest. Changes nothing.
  int CollapseSlivers() const;

private:
  void unlink(t_hdynamictriangle* t);
  // Splits t across edge k, and u across its edge j when u is given.
  void split(t_hdynamictriangle* t, int k, t_hdynamictriangle* u, int j);
  float cornerHeight(const t_h2dpoint& p) const;
  void emit(t_hdynamictriangle* t, SSEPoint& a, SSEPoint& b, SSEPoint& c);

  CHPolygonTriangulator* m_pTriangulator = nullptr;
  std::int32_t m_iNumTriangles = 0;
  float m_fSquaredLimit = 0.0f;
  t_hdynamictriangle* m_pHead = nullptr;
  t_hdynamictriangle* m_pCursor = nullptr;
  float m_fScaleZ = 1.0f;
  float m_fFourScaleZ = 4.0f;
  const CSSE3dPolygon* m_p3dPolygon = nullptr;
  // The triangulator's scaled vertices, by exact position, to their numbers.
  std::unordered_map<std::uint64_t, int> m_vertexAt;
};
