#pragma once
// The 2D Delaunay triangulation as the lower hull of the points lifted onto
// the paraboloid z = x^2 + y^2 (exact on the quantised grid of ten units per
// world unit), with the border lines of two meshes, the filter that keeps the
// faces between them, and the lift back to the meshes' corners.
#include "orvik/triangulation/HConvexHull3D.h"

class CH2DDelaunay : public CHConvexHull3D {
public:
  CH2DDelaunay() = default;

  void AppendVertex(float x, float y, int index, bool flag) { AppendVertex2D(x, y, index, flag); }

  // The lower faces, clockwise seen from +z. Three points, or points all on
  // one circle (whose lift is flat), are triangulated as a fan from the first
  // listed vertex. Only collinear input throws CbException ("HConvexHull3D",
  // line 294 for fewer than three points, else 332). A second call does nothing.
  void CalcDelaunayTriangulation();

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
};
