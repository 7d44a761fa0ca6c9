// Conversion to and from the host's polylines and splines.
#include "orvik/foundation/qe/HermiteSpline.h"
#include "orvik/foundation/qe/Polyline3D.h"
#include "orvik/polygon/SSE3dPolygon.h"

CSSE3dPolygon::CSSE3dPolygon(const QePolyline3D* polyline, float step, bool reparametrize, bool counterClockwise)
    : CSSE3dPolygon() {
  CreateFromPolyline(polyline, step, reparametrize, counterClockwise);
}

CSSE3dPolygon::CSSE3dPolygon(QeHermiteSpline* spline, float step, bool reparametrize, bool counterClockwise)
    : CSSE3dPolygon() {
  if (!spline) return;
  spline->SubdivideByLength();
  const CbSmartPointer<QePolyline3D> polyline = spline->GetSubdivision();
  CreateFromPolyline(polyline.Get(), step, reparametrize, counterClockwise);
}

QePolyline3D* CSSE3dPolygon::ConvertToPolyline() const {
  auto* polyline = new QePolyline3D;
  for (int i = 0; i < m_iNumPoints; ++i) polyline->AppendVertexTail(CbVector3f(m_pfX[i], m_pfY[i], m_pfZ[i]));
  polyline->SetClosed();
  return polyline;
}

bool CSSE3dPolygon::IsPolylineValid(const QePolyline3D* polyline) const {
  const IPolyline3D& line = *polyline;
  if (line.GetVertexCount() < 2) return true;
  const CbVector3f a = line.GetPosition(line.GetVertexHead()), b = line.GetPosition(line.GetVertexTail());
  const float dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
  return dx * dx + dy * dy + dz * dz > 1.1920929e-7f;
}

// Called from the constructors only, on an empty polygon.
void CSSE3dPolygon::CreateFromPolyline(const QePolyline3D* polyline, float step, bool reparametrize,
                                       bool counterClockwise) {
  if (!polyline) return;
  const IPolyline3D& line = *polyline;
  int n = line.GetVertexCount();
  if (!IsPolylineValid(polyline)) --n;
  Create(n);
  // A clockwise closed outline is read backwards so that it comes out
  // counter-clockwise; an open one keeps its direction.
  const bool backwards = counterClockwise && !polyline->IsOpen() && !(polyline->ComputeArea({0.0f, 0.0f, 1.0f}) > 0.0f);
  QePolylineVertex v = backwards ? line.GetVertexTail() : line.GetVertexHead();
  for (int k = 0; k < n; ++k) {
    const CbVector3f p = line.GetPosition(v);
    m_pfX[k] = p.x, m_pfY[k] = p.y, m_pfZ[k] = p.z;
    v = backwards ? line.GetVertexBefore(v) : line.GetVertexAfter(v);
  }
  if (reparametrize) ReParametrize(step);
}
