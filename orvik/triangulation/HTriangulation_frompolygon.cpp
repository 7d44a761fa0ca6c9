// Meshes of polygons (ear clipping, fans, ribbons) and of hulls and Delaunay
// triangulations.
#include <cmath>
#include <cstdint>
#include <vector>

#include "orvik/foundation/Exception.h"
#include "orvik/matrix/ssematrix.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "orvik/triangulation/H2DDelaunay.h"
#include "orvik/triangulation/HConvexHull3D.h"
#include "orvik/triangulation/HPolygonTriangulationRefinement.h"
#include "orvik/triangulation/HPolygonTriangulator.h"
#include "orvik/triangulation/HTriangulation.h"

namespace {

void setCorners(CHTriangulation& mesh, int i, const SSEPoint& a, const SSEPoint& b, const SSEPoint& c) {
  t_htriangle* t = mesh.GetTriangle(i);
  *t->corner[0] = a;
  *t->corner[1] = b;
  *t->corner[2] = c;
}

// Ribbons between consecutive rings of equal point counts N, 2N triangles
// each, corners scaled lane-wise; pair 0 closes the ring.
void ribbons(CHTriangulation& mesh, const std::vector<const CSSE3dPolygon*>& rings, const SSEPoint& scale) {
  mesh.FreeTriangulation();
  if (rings.size() < 2) return;
  const int n = rings.front()->GetNumPoints();
  for (const CSSE3dPolygon* r : rings)
    if (r->GetNumPoints() != n) return;
  if (n < 1) return;
  const std::int64_t count = 2 * std::int64_t(n) * std::int64_t(rings.size() - 1);  // checked by the caller
  mesh.CreateTriangulation(static_cast<int>(count));
  auto point = [&](const CSSE3dPolygon* r, int i) {
    SSEPoint p;
    r->GetPointSSE(i, p);
    return SSEPoint(_mm_mul_ps(p.v, scale.v));
  };
  int t = 0;
  for (std::size_t j = 0; j + 1 < rings.size(); ++j) {
    const CSSE3dPolygon *a = rings[j], *b = rings[j + 1];
    for (int k = 0; k < n; ++k) {
      const int prev = k == 0 ? n - 1 : k - 1;
      const SSEPoint ap = point(a, prev), ak = point(a, k), bp = point(b, prev), bk = point(b, k);
      setCorners(mesh, t++, ap, ak, bp);
      setCorners(mesh, t++, bp, ak, bk);
    }
  }
}

// What the constructors of meshes built in unscaled units run afterwards.
void scaledFollowUp(CHTriangulation& mesh) {
  mesh.ScaleTriangulation();
  mesh.CalcSTV();
  mesh.CalcNormalsFromVertices();
  mesh.CalcBoundingBox();
}

}  // namespace

void CHTriangulation::CreateTriangulationFromPolygon(CSSE3dPolygon* polygon, int step, float refinement, bool refine) {
  FreeTriangulation();
  if (!polygon) return;
  CHPolygonTriangulator triangulator(polygon, step, 1.0f, 1.0f, 1.0f, true);
  SSEPoint a, b, c;
  if (!refine) {
    CreateTriangulation(triangulator.GetNumTriangles());
    for (int i = 0; i < m_nNumTriangles; ++i)
      if (triangulator.GetTriangle3D(i, a, b, c)) setCorners(*this, i, a, b, c);
    return;
  }
  CHPolygonTriangulationRefinement refined(&triangulator, refinement, 14);
  CreateTriangulation(refined.GetNumTriangles());
  for (int i = 0; i < m_nNumTriangles; ++i)
    if (i == 0 ? refined.GetFirstTriangle3D(a, b, c) : refined.GetNextTriangle3D(a, b, c)) setCorners(*this, i, a, b, c);
}

void CHTriangulation::CreateSimpleFanTriangulationFromPolygon(CSSE3dPolygon* polygon) {
  FreeTriangulation();
  if (!polygon || polygon->GetNumPoints() < 3) return;
  CSSE3dPolygon copy(*polygon);
  copy.CalcGeometricCenter();
  SSEPoint centre;
  copy.GetGeometricCenter(centre);
  centre.w = 0.0f;
  const int n = copy.GetNumPoints();
  CreateTriangulation(n);
  SSEPoint prev, p;
  copy.GetPointSSE(n - 1, prev);
  for (int i = 0; i < n; ++i) {
    copy.GetPointSSE(i, p);
    setCorners(*this, i, prev, p, centre);
    prev = p;
  }
}

void CHTriangulation::CreateTriangulationFrom2DDelaunay(CH2DDelaunay* delaunay, bool flat) {
  FreeTriangulation();
  if (!delaunay) return;
  // The face list may hold fewer faces than counted only if it is broken;
  // the mesh then ends where the list does.
  int n = 0;
  for (tFaceStructure* f = delaunay->GetFaces(); f && n < delaunay->GetNumFaces(); f = f->next) ++n;
  CreateTriangulation(n);
  tFaceStructure* f = delaunay->GetFaces();
  for (int i = 0; i < n; ++i, f = f->next) {
    SSEPoint c[3];
    for (int k = 0; k < 3; ++k) {
      c[k] = delaunay->GetVertexFromFace(f, k);
      if (flat) c[k].z = 0.0f;
    }
    setCorners(*this, i, c[0], c[1], c[2]);
    m_pTriangles[i].mark = 14;
  }
}

void CHTriangulation::CreateTriangulationFromHull3D(CHConvexHull3D* hull, float divisor) {
  FreeTriangulation();
  if (!hull) return;
  if (!(divisor != 0.0f) || !std::isfinite(divisor))
    throw CbException("HTriangulation", __LINE__, "CHTriangulation::CreateTriangulationFromHull3D",
                      "the divisor must be finite and not zero");
  SSEPoint d(divisor, divisor, divisor, 1.0f);
  int n = 0;
  for (tFaceStructure* f = hull->GetFaces(); f && n < hull->GetNumFaces(); f = f->next) ++n;
  CreateTriangulation(n);
  tFaceStructure* f = hull->GetFaces();
  for (int i = 0; i < n; ++i, f = f->next)
    setCorners(*this, i, hull->GetVertexFromFace3D(f, 0, d), hull->GetVertexFromFace3D(f, 1, d),
               hull->GetVertexFromFace3D(f, 2, d));
}

CHTriangulation::CHTriangulation(CSSE3dPolygon* polygon, float sx, float sy, float sz, int step, float refinement,
                                 bool fan, bool refine) {
  BaseInitialization(sx, sy, sz);
  if (fan)
    CreateSimpleFanTriangulationFromPolygon(polygon);
  else
    CreateTriangulationFromPolygon(polygon, step, refinement, refine);
  if (m_nNumTriangles < 1) return;
  scaledFollowUp(*this);
}

CHTriangulation::CHTriangulation(CSSE3dPolygon* polygon, float sx, float sy, float sz, CSSEMatrix* field,
                                 bool fromAbove, float offset, int step, float refinement, bool refine) {
  BaseInitialization(sx, sy, sz);
  CreateTriangulationFromPolygon(polygon, step, refinement, refine);
  if (m_nNumTriangles < 1) return;
  ConstrainWithHeightField(fromAbove, field, offset);
  scaledFollowUp(*this);
}

CHTriangulation::CHTriangulation(CSSE3dPolygon* a, CSSE3dPolygon* b, float sx, float sy, float sz, bool, bool)
    : CHTriangulation(a, b, sx, sy, sz, 0, false, false) {}

CHTriangulation::CHTriangulation(CSSE3dPolygon* a, CSSE3dPolygon* b, float sx, float sy, float sz, int rings, bool,
                                 bool) {
  BaseInitialization(sx, sy, sz);
  if (!a || !b) return;
  if (rings < 0 || a->GetNumPoints() != b->GetNumPoints()) rings = 0;
  if (2 * std::int64_t(a->GetNumPoints()) * (std::int64_t(rings) + 1) > INT32_MAX)
    throw CbException("HTriangulation", __LINE__, "CHTriangulation::CHTriangulation", "too many triangles");
  // Intermediate ring j is a moved towards b by j / (rings + 1).
  std::vector<CSSE3dPolygon> between(static_cast<std::size_t>(rings), *a);
  std::vector<const CSSE3dPolygon*> chain{a};
  for (int j = 0; j < rings; ++j) {
    between[j].MoveTowardsPolygon(b, float(j + 1) / float(rings + 1));
    chain.push_back(&between[j]);
  }
  chain.push_back(b);
  ribbons(*this, chain, SSEPoint(sx, sy, sz, 0.0f));
  if (m_nNumTriangles < 1) return;
  calcBoundsFromCorners();
  CalcSTV();
  CalcNormalsFromVertices();
}

CHTriangulation::CHTriangulation(CH2DDelaunay* delaunay, float sx, float sy, float sz, bool flat) {
  BaseInitialization(sx, sy, sz);
  CreateTriangulationFrom2DDelaunay(delaunay, flat);
  if (m_nNumTriangles < 1) return;
  scaledFollowUp(*this);
}

CHTriangulation::CHTriangulation(CHConvexHull3D* hull, float sx, float sy, float sz, float divisor) {
  BaseInitialization(sx, sy, sz);
  CreateTriangulationFromHull3D(hull, divisor);
  if (m_nNumTriangles < 1) return;
  scaledFollowUp(*this);
}
