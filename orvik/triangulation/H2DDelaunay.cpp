#include "orvik/triangulation/H2DDelaunay.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>
#include <vector>

#include "orvik/foundation/Exception.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "orvik/triangulation/HTriangulation.h"

namespace {

using i128 = __int128;

// Orientation of c against the line a -> b in the plane: > 0 counter-clockwise.
int orient2D(const tVertexStructure* a, const tVertexStructure* b, const tVertexStructure* c) {
  const i128 d = i128(b->v[0] - a->v[0]) * (c->v[1] - a->v[1]) - i128(b->v[1] - a->v[1]) * (c->v[0] - a->v[0]);
  return d > 0 ? 1 : d < 0 ? -1 : 0;
}

// floor(v) as an integer, clamped so that no value is out of range.
std::int64_t truncated(float v) {
  const double r = std::floor(double(v));
  return r != r ? 0 : r < -9e18 ? std::int64_t(-9e18) : r > 9e18 ? std::int64_t(9e18) : static_cast<std::int64_t>(r);
}

void moveVertex(tVertexStructure* v, float x, float y, float z) {
  v->v[0] = truncated(10.0f * x);
  v->v[1] = truncated(10.0f * y);
  v->v[2] = truncated(10.0f * z);
}

}  // namespace

std::int64_t CH2DDelaunay::NormZ(tFaceStructure* f) {
  const tVertexStructure *a = f->vertex[0], *b = f->vertex[1], *c = f->vertex[2];
  const i128 z = i128(b->v[0] - a->v[0]) * (c->v[1] - a->v[1]) - i128(b->v[1] - a->v[1]) * (c->v[0] - a->v[0]);
  // Only the sign matters to the callers; keep it where the value would not fit.
  return z > INT64_MAX ? INT64_MAX : z < -INT64_MAX ? -INT64_MAX : static_cast<std::int64_t>(z);
}

void CH2DDelaunay::removeFace(tFaceStructure* f) {
  for (tEdgeStructure* e : f->edge)
    for (auto& adj : e->adjface)
      if (adj == f) adj = nullptr;
  DeleteFace(f);
}

void CH2DDelaunay::LowerFaces() {
  std::vector<tFaceStructure*> upper;
  if (tFaceStructure* f = m_pFaces) do {
      f->visible = NormZ(f) < 0;
      if (!f->visible) upper.push_back(f);
      f = f->next;
    } while (f != m_pFaces);
  for (tFaceStructure* f : upper) removeFace(f);
}

bool CH2DDelaunay::liftHasVolume() {
  tVertexStructure* a = m_pVertices;
  if (!a) DoubleTriangle();  // throws: no points
  while (Collinear(a, a->next, a->next->next))
    if ((a = a->next) == m_pVertices) DoubleTriangle();  // throws: all on one line
  tFaceStructure plane{{}, {a, a->next, a->next->next}, nullptr, nullptr, false};
  tVertexStructure* v = m_pVertices;
  bool collinear = true;  // in the plane, as the lift of points on a line is flat too
  do {
    if (VolumeSign(&plane, v) != 0) return true;
    collinear = collinear && orient2D(a, a->next, v) == 0;
    v = v->next;
  } while (v != m_pVertices);
  if (collinear) throw CbException("HConvexHull3D", 332, "CHConvexHull3D::DoubleTriangle");
  return false;
}

void CH2DDelaunay::triangulateCocircular() {
  // Points on a circle are in convex position; seen from the first one the
  // others lie within a half-turn, so their orientation orders them.
  tVertexStructure* a = m_pVertices;
  std::vector<tVertexStructure*> ring;
  for (tVertexStructure* v = a->next; v != a; v = v->next) ring.push_back(v);
  std::sort(ring.begin(), ring.end(), [&](auto* p, auto* q) { return orient2D(a, p, q) > 0; });
  std::map<std::pair<tVertexStructure*, tVertexStructure*>, tEdgeStructure*> edges;
  auto edge = [&](tVertexStructure* p, tVertexStructure* q, tFaceStructure* f) {
    auto key = p < q ? std::make_pair(p, q) : std::make_pair(q, p);
    tEdgeStructure*& e = edges[key];
    if (!e) {
      e = MakeNullEdge();
      e->endpts[0] = p;
      e->endpts[1] = q;
    }
    e->adjface[e->adjface[0] ? 1 : 0] = f;
    return e;
  };
  for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
    tFaceStructure* f = MakeNullFace();
    tVertexStructure* vs[3] = {a, ring[i + 1], ring[i]};  // clockwise, as lower faces are
    for (int k = 0; k < 3; ++k) {
      f->vertex[k] = vs[k];
      f->edge[k] = edge(vs[k], vs[(k + 1) % 3], f);
    }
    f->visible = true;
  }
  tVertexStructure* v = m_pVertices;
  do {
    v->processed = true;
    v = v->next;
  } while (v != m_pVertices);
}

void CH2DDelaunay::CalcDelaunayTriangulation() {
  if (built()) return;
  if (liftHasVolume()) {
    DoubleTriangle();
    ConstructHull();
    EdgeOrderOnFaces();
    LowerFaces();
  } else {
    triangulateCocircular();
  }
  CalcNumFaces();
  CalcNumEdges();
  CalcNumVertices();
  setBuilt();
}

void CH2DDelaunay::borderPoints(CHTriangulation* mesh, bool side, bool bottom, CSSE2dPolygon& line) {
  mesh->CalcCenterPoint();
  SSEPoint centre;
  mesh->GetCenterPoint(centre);
  const float threshold = 0.1f * std::min({mesh->GetScaleX(), mesh->GetScaleY(), mesh->GetScaleZ()});
  std::vector<tVertexStructure*> added;
  for (int i = 0; i < mesh->GetNumTriangles(); ++i) {
    const t_htriangle* t = mesh->GetTriangle(i);
    if (t->mark != CHTriangulation::c_iBorderMark || !(CSSEFns::vectorlen(CSSEFns::vectorproduct(*t->t, *t->s)) > threshold))
      continue;
    for (int k = 0; k < 3; ++k) {
      const SSEPoint& c = *t->corner[k];
      if (side ? !(c.x <= centre.x) : !(c.x > centre.x)) continue;
      tVertexStructure* before = m_pVertices ? m_pVertices->prev : nullptr;
      AppendVertex2D(c.y, c.z, 3 * i + k, bottom);
      if (m_pVertices && m_pVertices->prev != before) added.push_back(m_pVertices->prev);
    }
  }
  line.Create(static_cast<int>(added.size()));
  for (std::size_t i = 0; i < added.size(); ++i)
    line.SetPoint(static_cast<int>(i), float(added[i]->v[0]), float(added[i]->v[1]));
}

void CH2DDelaunay::GetBorderPointsTop(CHTriangulation* mesh, bool side) { borderPoints(mesh, side, false, m_TopLine); }

void CH2DDelaunay::GetBorderPointsBottom(CHTriangulation* mesh, bool side) {
  borderPoints(mesh, side, true, m_BottomLine);
}

void CH2DDelaunay::RemoveFacesOutOfBorderLines(float tolerance) {
  auto outside = [&](float px, float py) {
    const int b = m_BottomLine.ClosestPointX(px), t = m_TopLine.ClosestPointX(px);
    float x, yBottom = 0.0f, yTop = 0.0f;
    m_BottomLine.GetPoint(b, x, yBottom);
    m_TopLine.GetPoint(t, x, yTop);
    return (t >= 0 && py > yTop + tolerance) || (b >= 0 && py < yBottom - tolerance);
  };
  std::vector<tFaceStructure*> out;
  if (tFaceStructure* f = m_pFaces) do {
      bool remove = false;
      for (int k = 0; k < 3 && !remove; ++k) {
        const tVertexStructure *a = f->edge[k]->endpts[0], *b = f->edge[k]->endpts[1];
        const float ax = float(a->v[0]), ay = float(a->v[1]), bx = float(b->v[0]), by = float(b->v[1]);
        remove = outside((2 * ax + bx) / 3, (2 * ay + by) / 3) || outside((ax + bx) / 2, (ay + by) / 2) ||
                 outside((ax + 2 * bx) / 3, (ay + 2 * by) / 3);
      }
      if (remove) out.push_back(f);
      f = f->next;
    } while (f != m_pFaces);
  for (tFaceStructure* f : out) removeFace(f);
  CalcNumFaces();
}

void CH2DDelaunay::LoftWith3DTriangulation(CHTriangulation* a, CHTriangulation* b) {
  tVertexStructure* v = m_pVertices;
  if (!v) return;
  do {
    const CHTriangulation* mesh = v->flag ? a : b;
    const t_htriangle* t = v->vnum >= 0 ? mesh->GetTriangle(v->vnum / 3) : nullptr;
    if (t) {
      const SSEPoint& c = *t->corner[v->vnum % 3];
      moveVertex(v, c.x, c.y, c.z);
    }
    v = v->next;
  } while (v != m_pVertices);
}

void CH2DDelaunay::CreateTriangulationFromTwoBorderPolygons(CSSE3dPolygon* p, CSSE3dPolygon* q, bool) {
  if (built()) return;
  auto unroll = [&](CSSE3dPolygon* polygon, CSSE2dPolygon& line, bool flag) {
    const int n = polygon->GetNumPoints();
    line.Create(n > 0 ? n + 1 : 0);
    float s = 0.0f, px = 0.0f, py = 0.0f;
    for (int i = 0; i <= n && n > 0; ++i) {
      float x = 0.0f, y = 0.0f, z = 0.0f;
      polygon->GetPoint((i + n - 1) % n, x, y, z);  // ring point 0 is the last point
      if (i > 0) s += std::sqrt((x - px) * (x - px) + (y - py) * (y - py));
      px = x;
      py = y;
      line.SetPoint(i, 10.0f * s, 10.0f * z);
      AppendVertex2D(s, z, i, flag);
    }
  };
  unroll(p, m_BottomLine, true);
  unroll(q, m_TopLine, false);
  CalcDelaunayTriangulation();
  RemoveFacesOutOfBorderLines(250.0f);
  tVertexStructure* v = m_pVertices;
  do {
    CSSE3dPolygon* polygon = v->flag ? p : q;
    if (const int n = polygon->GetNumPoints(); n > 0) {
      float x = 0.0f, y = 0.0f, z = 0.0f;
      polygon->GetPoint(((v->vnum - 1) % n + n) % n, x, y, z);  // ring point i is point i - 1
      moveVertex(v, x, y, z);
    }
    v = v->next;
  } while (v != m_pVertices);
}
