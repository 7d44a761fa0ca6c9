#include "orvik/foundation/qe/HermiteSpline.h"

#include <algorithm>
#include <cmath>

CbVector3f QeHermiteSpline::tangent(int i) const {
  const int n = GetControlPointCount();
  const int before = m_closed ? (i + n - 1) % n : std::max(i - 1, 0);
  const int after = m_closed ? (i + 1) % n : std::min(i + 1, n - 1);
  const CbVector3f& a = m_points[before];
  const CbVector3f& b = m_points[after];
  const float f = (after - before == 2 || m_closed) ? 0.5f : 1.0f;
  return {f * (b.x - a.x), f * (b.y - a.y), f * (b.z - a.z)};
}

void QeHermiteSpline::SubdivideByLength() {
  CbSmartPointer<QePolyline3D> out = new QePolyline3D;
  const int n = GetControlPointCount();
  const int segments = n < 2 ? 0 : (m_closed ? n : n - 1);
  for (int i = 0; i < segments; ++i) {
    const CbVector3f& p0 = m_points[i];
    const CbVector3f& p1 = m_points[(i + 1) % n];
    const CbVector3f m0 = tangent(i), m1 = tangent((i + 1) % n);
    const float chord = std::sqrt((p1.x - p0.x) * (p1.x - p0.x) + (p1.y - p0.y) * (p1.y - p0.y) +
                                  (p1.z - p0.z) * (p1.z - p0.z));
    const int steps = std::max(1, static_cast<int>(std::ceil(chord / m_length)));
    for (int k = 0; k < steps; ++k) {
      const float t = static_cast<float>(k) / steps, t2 = t * t, t3 = t2 * t;
      const float h00 = 2 * t3 - 3 * t2 + 1, h10 = t3 - 2 * t2 + t, h01 = -2 * t3 + 3 * t2, h11 = t3 - t2;
      out->AppendVertexTail({h00 * p0.x + h10 * m0.x + h01 * p1.x + h11 * m1.x,
                             h00 * p0.y + h10 * m0.y + h01 * p1.y + h11 * m1.y,
                             h00 * p0.z + h10 * m0.z + h01 * p1.z + h11 * m1.z});
    }
  }
  if (n == 1 || (n >= 2 && !m_closed)) out->AppendVertexTail(m_points[n - 1]);
  out->SetClosed(m_closed);
  m_subdivision = out;
}
