#include "orvik/triangulation/H2DDelaunay.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "orvik/foundation/Exception.h"

namespace {

using i128 = __int128;

// Orientation of c against the line a -> b in the plane: > 0 counter-clockwise.
int orient2D(const tVertexStructure* a, const tVertexStructure* b, const tVertexStructure* c) {
  const i128 d = i128(b->v[0] - a->v[0]) * (c->v[1] - a->v[1]) - i128(b->v[1] - a->v[1]) * (c->v[0] - a->v[0]);
  return d > 0 ? 1 : d < 0 ? -1 : 0;
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
