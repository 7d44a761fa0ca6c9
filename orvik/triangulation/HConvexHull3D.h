#pragma once
// The incremental 3D convex hull: points are added one at a time; the faces a
// new point sees are removed and the hole is closed with a cone of new faces
// to the point. Coordinates are quantised to integers and every predicate is
// exact, so the hull is the true hull of the quantised points whatever their
// degeneracies. Faces are oriented counter-clockwise seen from outside.
//
// Quantised coordinates must lie within +-2^39 (3D) and +-2^19 (2D, whose
// lifted z is X^2 + Y^2): within these bounds the 128-bit determinants are
// exact. AppendVertex3D/2D refuse points outside with CbException.
#include <array>
#include <cstdint>
#include <memory>
#include <unordered_set>

#include "orvik/foundation/SSEPoint.h"

struct tEdgeStructure;
struct tFaceStructure;

struct tVertexStructure {
  std::int64_t v[3];  // x, y, z
  std::int32_t vnum;
  tEdgeStructure* duplicate;  // the cone edge from this vertex during an addition
  tVertexStructure* next;
  tVertexStructure* prev;
  bool onhull;
  bool processed;
  bool flag;  // passed through from AppendVertex2D
};

struct tEdgeStructure {
  tFaceStructure* adjface[2];
  tVertexStructure* endpts[2];
  tFaceStructure* newface;  // the cone face attached during an addition
  tEdgeStructure* next;
  tEdgeStructure* prev;
  bool del;
};

struct tFaceStructure {
  tEdgeStructure* edge[3];  // edge k runs from vertex k to vertex k + 1 once the hull is built
  tVertexStructure* vertex[3];
  tFaceStructure* prev;
  tFaceStructure* next;
  bool visible;  // also the lower-face mark of the Delaunay triangulation
};

class CHConvexHull3D {
public:
  CHConvexHull3D();
  // A hull owns its lists; copies would share them.
  CHConvexHull3D(const CHConvexHull3D&) = delete;
  CHConvexHull3D& operator=(const CHConvexHull3D&) = delete;
  virtual ~CHConvexHull3D();

  // Exact orientation of p against the face's plane: 1 when p lies behind it
  // (inside a hull), -1 in front (p sees the face), 0 on the plane.
  virtual int VolumeSign(tFaceStructure* f, tVertexStructure* p);
  virtual bool Collinear(tVertexStructure* a, tVertexStructure* b, tVertexStructure* c);

  // (x, y, z) quantised to floor(c * scale + 0.5); a point equal to one
  // already listed is not added. Appending after a build does nothing.
  void AppendVertex3D(float x, float y, float z, float scale);
  // (x, y) quantised by 10 and lifted to z = X^2 + Y^2; `index` -1 numbers
  // the vertex with the running counter.
  void AppendVertex2D(float x, float y, int index, bool flag);

  // Builds the hull once; a second call does nothing. Fewer than three
  // non-collinear points throw CbException ("HConvexHull3D", line 294), all
  // points in one plane line 332.
  void CalcConvexHull();

  tFaceStructure* GetFaces() const { return m_pFaces; }
  tVertexStructure* GetVertices() const { return m_pVertices; }
  tEdgeStructure* GetEdges() const { return m_pEdges; }
  int GetNumFaces() const { return m_iNumFaces; }
  int GetNumEdges() const { return m_iNumEdges; }
  int GetNumVertices() const { return m_iNumVertices; }
  // Vertex k of a face, its integer coordinates divided by 10 (w = 0).
  SSEPoint GetVertexFromFace(tFaceStructure* f, int k) const;
  // The same divided lane by lane by `divisor` (w = 0).
  SSEPoint GetVertexFromFace3D(tFaceStructure* f, int k, SSEPoint& divisor) const;

  // With the check flag set, the invariants are verified after every added
  // point and a violation throws CbException.
  void SetCheck(bool check) { m_bCheck = check; }
  // The hull's invariants: every face has every listed vertex on or behind
  // it, and adjacent faces run through their shared edge in opposite directions.
  bool Checks();

protected:
  tVertexStructure* MakeNullVertex();
  tEdgeStructure* MakeNullEdge();
  tFaceStructure* MakeNullFace();
  tFaceStructure* MakeFace(tVertexStructure* v0, tVertexStructure* v1, tVertexStructure* v2, tFaceStructure* fold);
  tFaceStructure* MakeConeFace(tEdgeStructure* e, tVertexStructure* p);
  void MakeCcw(tFaceStructure* f, tEdgeStructure* e, tVertexStructure* p);
  bool AddOne(tVertexStructure* p);
  void DoubleTriangle();
  void ConstructHull();
  void CleanUp(tVertexStructure** pvnext);
  void CleanEdges();
  void CleanFaces();
  void CleanVertices(tVertexStructure** pvnext);
  void EdgeOrderOnFaces();
  void DeleteVertex(tVertexStructure* v);
  void DeleteEdge(tEdgeStructure* e);
  void DeleteFace(tFaceStructure* f);
  void CalcNumFaces();
  void CalcNumEdges();
  void CalcNumVertices();
  bool Consistency();
  bool Convexity();
  // Appends a vertex with the given coordinates unless it is listed already.
  tVertexStructure* appendVertex(std::int64_t x, std::int64_t y, std::int64_t z);
  bool built() const { return m_bBuilt; }
  void setBuilt() { m_bBuilt = true; }

  tVertexStructure* m_pVertices = nullptr;
  tEdgeStructure* m_pEdges = nullptr;
  tFaceStructure* m_pFaces = nullptr;
  bool m_bCheck = false;
  int m_iNumFaces = 0;
  int m_iNumEdges = 0;
  int m_iNumVertices = 0;
  int m_iVertexCounter = 0;

private:
  struct Conflicts;
  std::unique_ptr<Conflicts> m_conflicts;  // while ConstructHull runs
  struct KeyHash {
    std::size_t operator()(const std::array<std::int64_t, 3>& k) const noexcept;
  };
  std::unordered_set<std::array<std::int64_t, 3>, KeyHash> m_listed;
  bool m_bBuilt = false;
};
