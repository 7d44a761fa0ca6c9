#pragma once
// The 2D Delaunay triangulation as the lower hull of the points lifted onto
// the paraboloid z = x^2 + y^2 (exact on the quantised grid of ten units per
// world unit), with the border lines of two meshes, the filter that keeps the
// faces between them, and the lift back to the meshes' corners.
#include "orvik/polygon/SSE2dPolygon.h"
#include "orvik/triangulation/HConvexHull3D.h"

class CHTriangulation;
class CSSE3dPolygon;

class CH2DDelaunay : public CHConvexHull3D {
public:
  CH2DDelaunay() = default;

  void AppendVertex(float x, float y, int index, bool flag) { AppendVertex2D(x, y, index, flag); }

  // The lower faces, clockwise seen from +z. Three points, or points all on
  // one circle (whose lift is flat), are triangulated as a fan from the first
  // listed vertex. Only collinear input throws CbException ("HConvexHull3D",
  // line 294 for fewer than three points, else 332). A second call does nothing.
  void CalcDelaunayTriangulation();

  // The corners of the mesh's border triangles (mark 13, area above a tenth
  // of its smallest scale) on one side of its centre in x (side false: right
  // of it, true: left or on it), projected to (y, z) and appended numbered by
  // their corner position 3i + k; the top points carry flag false, the
  // bottom points true. The border line receives exactly the vertices this
  // call added, as their integer (x, y).
  void GetBorderPointsTop(CHTriangulation* mesh, bool side);
  void GetBorderPointsBottom(CHTriangulation* mesh, bool side);
  // Removes every face with an edge point (at a third, half, two thirds)
  // above the top line or below the bottom line by more than `tolerance`
  // (integer units), judged at the line point closest in x; recounts.
  void RemoveFacesOutOfBorderLines(float tolerance);
  // Moves every vertex to floor(10 c) of its corner c: corner k of triangle
  // i for vertex number 3i + k, of mesh a when the vertex's flag is set,
  // else of mesh b. Numbers beyond a mesh leave the vertex where it is.
  void LoftWith3DTriangulation(CHTriangulation* a, CHTriangulation* b);
  // The strip between two closed space curves: both unrolled by arc length
  // in x-y into (s, z), triangulated together, the faces outside the strip
  // removed, and every vertex lifted back to floor(10 x) of its curve point.
  // The last argument has no effect.
  void CreateTriangulationFromTwoBorderPolygons(CSSE3dPolygon* p, CSSE3dPolygon* q, bool);

  const CSSE2dPolygon& GetTopLine() const { return m_TopLine; }
  const CSSE2dPolygon& GetBottomLine() const { return m_BottomLine; }

protected:
  // Keeps the faces whose normal points down and frees the others; links of
  // edges to a freed face are cleared.
  void LowerFaces();
  // The z component of (b - a) x (c - a) of the face (a, b, c).
  std::int64_t NormZ(tFaceStructure* f);
  // Unlinks and frees a face, clearing the links of its edges to it.
  void removeFace(tFaceStructure* f);

private:
  // True when some vertex lies off the plane of the first non-collinear
  // triple's lift (so the hull has volume); throws when the points lie on one line.
  bool liftHasVolume();
  // The triangulation of points on one circle: a fan from the first vertex.
  void triangulateCocircular();
  void borderPoints(CHTriangulation* mesh, bool side, bool bottom, CSSE2dPolygon& line);

protected:
  CSSE2dPolygon m_TopLine;
  CSSE2dPolygon m_BottomLine;
};
