#pragma once
// The host's interpolating spline through control points (cubic Hermite
// segments with Catmull-Rom tangents), and its subdivision into a polyline.
#include <vector>

#include "orvik/foundation/ReferenceCounter.h"
#include "orvik/foundation/Vectors.h"
#include "orvik/foundation/qe/Polyline3D.h"

class QeHermiteSpline {
public:
  // `length` is the largest chord a subdivision step may span; values that are
  // not positive fall back to 1.
  explicit QeHermiteSpline(float length = 1.0f) { SetSubdivisionLength(length); }

  void AppendControlPoint(const CbVector3f& p) { m_points.push_back(p); }
  void SetClosed(bool closed = true) { m_closed = closed; }
  void SetSubdivisionLength(float length) { m_length = length > 0.0f ? length : 1.0f; }
  int GetControlPointCount() const { return static_cast<int>(m_points.size()); }

  // Samples every segment at steps no longer than the subdivision length; the
  // control points are among the samples. A closed spline gives a closed
  // polyline without a repeated first point.
  void SubdivideByLength();
  // The last subdivision; an empty polyline before the first.
  CbSmartPointer<QePolyline3D> GetSubdivision() const { return m_subdivision; }

private:
  CbVector3f tangent(int i) const;

  std::vector<CbVector3f> m_points;
  bool m_closed = false;
  float m_length = 1.0f;
  CbSmartPointer<QePolyline3D> m_subdivision = new QePolyline3D;
};
