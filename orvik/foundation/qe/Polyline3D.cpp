#include "orvik/foundation/qe/Polyline3D.h"

#include <cmath>

float QePolyline3DBase::ComputeArea(CbVector3f axis) const {
  const double length = std::sqrt(double(axis.x) * axis.x + double(axis.y) * axis.y + double(axis.z) * axis.z);
  if (length == 0.0 || m_points.size() < 3) return 0.0f;
  // Half the sum of the cross products of consecutive positions, taken about
  // the first position so that large offsets do not cancel.
  const CbVector3f& o = m_points[0];
  double cx = 0.0, cy = 0.0, cz = 0.0;
  for (std::size_t i = 1; i + 1 < m_points.size(); ++i) {
    const double ax = double(m_points[i].x) - o.x, ay = double(m_points[i].y) - o.y, az = double(m_points[i].z) - o.z;
    const double bx = double(m_points[i + 1].x) - o.x, by = double(m_points[i + 1].y) - o.y,
                 bz = double(m_points[i + 1].z) - o.z;
    cx += ay * bz - az * by;
    cy += az * bx - ax * bz;
    cz += ax * by - ay * bx;
  }
  return static_cast<float>(0.5 * (cx * axis.x + cy * axis.y + cz * axis.z) / length);
}
