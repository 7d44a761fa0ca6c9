#include "orvik/triangulation/HConvexHull3D.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <utility>
#include <vector>

#include "orvik/foundation/Exception.h"

namespace {

using i128 = __int128;

constexpr std::int64_t c_limit3D = std::int64_t{1} << 39;
constexpr std::int64_t c_limit2D = std::int64_t{1} << 19;

// floor(v + 0.5) as an integer, or false when it is not finite or beyond the limit.
bool quantise(double v, std::int64_t limit, std::int64_t& out) {
  const double r = std::floor(v + 0.5);
  if (!(r >= -double(limit) && r <= double(limit))) return false;
  out = static_cast<std::int64_t>(r);
  return true;
}

int sign(i128 v) { return v > 0 ? 1 : v < 0 ? -1 : 0; }

// Circular doubly linked lists: insert before the head (at the end), unlink.
template <class T>
void add(T*& head, T* p) {
  if (head) {
    p->next = head;
    p->prev = head->prev;
    head->prev = p;
    p->prev->next = p;
  } else {
    head = p;
    head->next = head->prev = p;
  }
}

template <class T>
void unlink(T*& head, T* p) {
  if (head == p && p->next == p) {
    head = nullptr;
  } else {
    if (head == p) head = p->next;
    p->next->prev = p->prev;
    p->prev->next = p->next;
  }
  delete p;
}

template <class T>
void freeAll(T*& head) {
  while (head) unlink(head, head);
}

template <class T>
int countList(T* head) {
  int n = 0;
  if (T* p = head) do {
      ++n;
      p = p->next;
    } while (p != head);
  return n;
}

[[noreturn]] void degenerate(int line) { throw CbException("HConvexHull3D", line, "CHConvexHull3D::DoubleTriangle"); }

}  // namespace

std::size_t CHConvexHull3D::KeyHash::operator()(const std::array<std::int64_t, 3>& k) const noexcept {
  std::uint64_t h = static_cast<std::uint64_t>(k[0]) * 0x9E3779B97F4A7C15ull;
  h ^= static_cast<std::uint64_t>(k[1]) * 0xC2B2AE3D27D4EB4Full + (h >> 29);
  h ^= static_cast<std::uint64_t>(k[2]) * 0x165667B19E3779F9ull + (h >> 31);
  return static_cast<std::size_t>(h ^ (h >> 32));
}

CHConvexHull3D::CHConvexHull3D() = default;

CHConvexHull3D::~CHConvexHull3D() {
  freeAll(m_pFaces);
  freeAll(m_pEdges);
  freeAll(m_pVertices);
}

int CHConvexHull3D::VolumeSign(tFaceStructure* f, tVertexStructure* p) {
  const std::int64_t* a = f->vertex[0]->v;
  const std::int64_t* b = f->vertex[1]->v;
  const std::int64_t* c = f->vertex[2]->v;
  const std::int64_t* q = p->v;
  // Differences stay below 2^41 and are exact as doubles. The determinant in
  // doubles has the exact sign unless it lies within the error bound of the
  // orientation test (7.8e-16 of the sum of the terms' magnitudes); only
  // then is it computed exactly in 128 bits.
  const double ax = double(a[0] - q[0]), ay = double(a[1] - q[1]), az = double(a[2] - q[2]);
  const double bx = double(b[0] - q[0]), by = double(b[1] - q[1]), bz = double(b[2] - q[2]);
  const double cx = double(c[0] - q[0]), cy = double(c[1] - q[1]), cz = double(c[2] - q[2]);
  const double m1 = by * cz, m2 = bz * cy, m3 = bz * cx, m4 = bx * cz, m5 = bx * cy, m6 = by * cx;
  const double det = ax * (m1 - m2) + ay * (m3 - m4) + az * (m5 - m6);
  const double bound = 7.8e-16 * (std::fabs(ax) * (std::fabs(m1) + std::fabs(m2)) +
                                   std::fabs(ay) * (std::fabs(m3) + std::fabs(m4)) +
                                   std::fabs(az) * (std::fabs(m5) + std::fabs(m6)));
  if (det > bound) return 1;
  if (det < -bound) return -1;
  const i128 Ax = a[0] - q[0], Ay = a[1] - q[1], Az = a[2] - q[2];
  const i128 Bx = b[0] - q[0], By = b[1] - q[1], Bz = b[2] - q[2];
  const i128 Cx = c[0] - q[0], Cy = c[1] - q[1], Cz = c[2] - q[2];
  return sign(Ax * (By * Cz - Bz * Cy) + Ay * (Bz * Cx - Bx * Cz) + Az * (Bx * Cy - By * Cx));
}

bool CHConvexHull3D::Collinear(tVertexStructure* a, tVertexStructure* b, tVertexStructure* c) {
  const i128 bx = b->v[0] - a->v[0], by = b->v[1] - a->v[1], bz = b->v[2] - a->v[2];
  const i128 cx = c->v[0] - a->v[0], cy = c->v[1] - a->v[1], cz = c->v[2] - a->v[2];
  return by * cz - bz * cy == 0 && bz * cx - bx * cz == 0 && bx * cy - by * cx == 0;
}

tVertexStructure* CHConvexHull3D::appendVertex(std::int64_t x, std::int64_t y, std::int64_t z) {
  if (!m_listed.insert({x, y, z}).second) return nullptr;
  tVertexStructure* v = MakeNullVertex();
  v->v[0] = x;
  v->v[1] = y;
  v->v[2] = z;
  ++m_iVertexCounter;
  return v;
}

void CHConvexHull3D::AppendVertex3D(float x, float y, float z, float scale) {
  if (m_bBuilt) return;
  std::int64_t q[3];
  if (!quantise(double(x * scale), c_limit3D, q[0]) || !quantise(double(y * scale), c_limit3D, q[1]) ||
      !quantise(double(z * scale), c_limit3D, q[2]))
    throw CbException("HConvexHull3D", __LINE__, "CHConvexHull3D::AppendVertex3D", "coordinate out of range");
  if (tVertexStructure* v = appendVertex(q[0], q[1], q[2])) v->vnum = 0;
}

void CHConvexHull3D::AppendVertex2D(float x, float y, int index, bool flag) {
  if (m_bBuilt) return;
  std::int64_t X, Y;
  if (!quantise(double(x * 10.0f), c_limit2D, X) || !quantise(double(y * 10.0f), c_limit2D, Y))
    throw CbException("HConvexHull3D", __LINE__, "CHConvexHull3D::AppendVertex2D", "coordinate out of range");
  const int number = index == -1 ? m_iVertexCounter : index;
  if (tVertexStructure* v = appendVertex(X, Y, X * X + Y * Y)) {
    v->vnum = number;
    v->flag = flag;
  }
}

tVertexStructure* CHConvexHull3D::MakeNullVertex() {
  auto* v = new tVertexStructure{{0, 0, 0}, 0, nullptr, nullptr, nullptr, false, false, false};
  add(m_pVertices, v);
  return v;
}

tEdgeStructure* CHConvexHull3D::MakeNullEdge() {
  auto* e = new tEdgeStructure{{nullptr, nullptr}, {nullptr, nullptr}, nullptr, nullptr, nullptr, false};
  add(m_pEdges, e);
  return e;
}

tFaceStructure* CHConvexHull3D::MakeNullFace() {
  auto* f = new tFaceStructure{{nullptr, nullptr, nullptr}, {nullptr, nullptr, nullptr}, nullptr, nullptr, false};
  add(m_pFaces, f);
  return f;
}

void CHConvexHull3D::DeleteVertex(tVertexStructure* v) { unlink(m_pVertices, v); }
void CHConvexHull3D::DeleteEdge(tEdgeStructure* e) { unlink(m_pEdges, e); }
void CHConvexHull3D::DeleteFace(tFaceStructure* f) { unlink(m_pFaces, f); }

tFaceStructure* CHConvexHull3D::MakeFace(tVertexStructure* v0, tVertexStructure* v1, tVertexStructure* v2,
                                         tFaceStructure* fold) {
  tVertexStructure* v[3] = {v0, v1, v2};
  tEdgeStructure* e[3];
  for (int k = 0; k < 3; ++k) e[k] = fold ? fold->edge[2 - k] : MakeNullEdge();  // fold's edges run the other way
  tFaceStructure* f = MakeNullFace();
  for (int k = 0; k < 3; ++k) {
    e[k]->endpts[0] = v[k];
    e[k]->endpts[1] = v[(k + 1) % 3];
    e[k]->adjface[0] = f;
    f->edge[k] = e[k];
    f->vertex[k] = v[k];
  }
  return f;
}

void CHConvexHull3D::DoubleTriangle() {
  tVertexStructure* v0 = m_pVertices;
  if (!v0) degenerate(294);
  while (Collinear(v0, v0->next, v0->next->next))
    if ((v0 = v0->next) == m_pVertices) degenerate(294);
  tVertexStructure* v1 = v0->next;
  tVertexStructure* v2 = v1->next;
  v0->processed = v1->processed = v2->processed = true;
  tFaceStructure* f0 = MakeFace(v0, v1, v2, nullptr);
  MakeFace(v2, v1, v0, f0);
  // The second face took the shared edges as their first face.
  for (tEdgeStructure* e : f0->edge) e->adjface[1] = f0;
  tVertexStructure* v3 = v2->next;
  while (VolumeSign(f0, v3) == 0)
    if ((v3 = v3->next) == v0) degenerate(332);
  m_pVertices = v3;
}

// The conflict graph: which unprocessed vertices see which faces. A vertex
// sees exactly the faces listed for it (that are still alive), so an
// addition finds its visible faces without testing every face, and only the
// faces it touches are cleaned up. A new cone face can only be seen by a
// vertex that saw one of the two faces of its horizon edge, so only those
// are tested. The faces are those of testing every face: the same sets are
// visible at every step.
struct CHConvexHull3D::Conflicts {
  std::unordered_map<const tFaceStructure*, std::uint32_t> id;   // live faces
  std::vector<tFaceStructure*> face;                             // by id; null once deleted
  std::vector<std::vector<std::uint32_t>> seenBy;                // by face id: vertex numbers
  // The unprocessed vertices get dense numbers for their lists.
  std::vector<tVertexStructure*> vertex;
  std::unordered_map<const tVertexStructure*, std::uint32_t> number;
  std::vector<std::vector<std::uint32_t>> sees;                  // by vertex number: face ids
  std::unordered_map<const tVertexStructure*, int> degree;       // live edges at a vertex
  // What the current addition touched.
  std::vector<tFaceStructure*> visible;
  std::vector<tEdgeStructure*> horizon, interior;
  std::vector<tVertexStructure*> cone;  // vertices whose duplicate edge was set
  tVertexStructure* added = nullptr;
  std::vector<tVertexStructure*> inside;  // may have lost their last edge

  std::uint32_t enter(tFaceStructure* f) {
    const auto i = static_cast<std::uint32_t>(face.size());
    id[f] = i;
    face.push_back(f);
    seenBy.emplace_back();
    return i;
  }
  void link(std::uint32_t f, std::uint32_t v) {
    auto& list = sees[v];
    if (!list.empty() && list.back() == f) return;  // already listed through the other face
    list.push_back(f);
    seenBy[f].push_back(v);
  }
};

void CHConvexHull3D::ConstructHull() {
  m_conflicts = std::make_unique<Conflicts>();
  Conflicts& c = *m_conflicts;
  tFaceStructure* f = m_pFaces;
  do {
    c.enter(f);
    f = f->next;
  } while (f != m_pFaces);
  tEdgeStructure* e = m_pEdges;
  do {
    ++c.degree[e->endpts[0]];
    ++c.degree[e->endpts[1]];
    e = e->next;
  } while (e != m_pEdges);
  // The double triangle is flat: a point in its plane sees neither face yet
  // may see the faces built on its edges. So the lists start once the first
  // point (the head, off that plane) has made a solid of it.
  {
    tVertexStructure* u = m_pVertices;
    do {
      if (!u->processed) {
        c.number[u] = static_cast<std::uint32_t>(c.vertex.size());
        c.vertex.push_back(u);
      }
      u = u->next;
    } while (u != m_pVertices);
    c.sees.resize(c.vertex.size());
  }
  auto listAll = [&] {
    for (std::uint32_t n = 0; n < c.vertex.size(); ++n)
      if (!c.vertex[n]->processed)
        for (std::uint32_t i = 0; i < c.face.size(); ++i)
          if (c.face[i] && VolumeSign(c.face[i], c.vertex[n]) < 0) c.link(i, n);
  };
  for (std::uint32_t i = 0; i < c.face.size(); ++i)
    if (VolumeSign(c.face[i], m_pVertices) < 0) c.link(i, c.number[m_pVertices]);
  bool listed = false;
  tVertexStructure* v = m_pVertices;
  do {
    tVertexStructure* vnext = v->next;
    if (!v->processed) {
      v->processed = true;
      AddOne(v);
      CleanUp(&vnext);
      if (!listed) {
        listAll();
        listed = true;
      }
      if (m_bCheck && !Checks()) {
        m_conflicts.reset();
        throw CbException("HConvexHull3D", __LINE__, "CHConvexHull3D::ConstructHull", "hull invariant broken");
      }
    }
    v = vnext;
  } while (v != m_pVertices);
  m_conflicts.reset();
}

bool CHConvexHull3D::AddOne(tVertexStructure* p) {
  Conflicts& c = *m_conflicts;
  c.visible.clear();
  c.horizon.clear();
  c.interior.clear();
  c.cone.clear();
  c.added = p;
  const std::uint32_t self = c.number.at(p);
  for (std::uint32_t i : c.sees[self])
    if (tFaceStructure* f = c.face[i]) {
      f->visible = true;
      c.visible.push_back(f);
    }
  std::vector<std::uint32_t>().swap(c.sees[self]);
  if (c.visible.empty()) {
    p->onhull = false;
    return false;
  }
  for (tFaceStructure* f : c.visible)
    for (tEdgeStructure* e : f->edge) {
      if (e->adjface[0]->visible && e->adjface[1]->visible) {
        if (!e->del) c.interior.push_back(e);
        e->del = true;
        continue;
      }
      if (e->newface) continue;
      for (tVertexStructure* end : e->endpts)
        if (!end->duplicate) {
          c.cone.push_back(end);
          ++c.degree[end];
          ++c.degree[p];
        }
      e->newface = MakeConeFace(e, p);
      c.horizon.push_back(e);
      // Who may see the new face: those that saw either face of its edge.
      const std::uint32_t cone = c.enter(e->newface);
      for (const tFaceStructure* old : e->adjface)
        for (std::uint32_t q : c.seenBy[c.id[old]])
          if (q != self && VolumeSign(e->newface, c.vertex[q]) < 0) c.link(cone, q);
    }
  return true;
}

tFaceStructure* CHConvexHull3D::MakeConeFace(tEdgeStructure* e, tVertexStructure* p) {
  tEdgeStructure* newEdge[2];
  for (int i = 0; i < 2; ++i)
    if (!(newEdge[i] = e->endpts[i]->duplicate)) {
      newEdge[i] = MakeNullEdge();
      newEdge[i]->endpts[0] = e->endpts[i];
      newEdge[i]->endpts[1] = p;
      e->endpts[i]->duplicate = newEdge[i];
    }
  tFaceStructure* f = MakeNullFace();
  f->edge[0] = e;
  f->edge[1] = newEdge[0];
  f->edge[2] = newEdge[1];
  MakeCcw(f, e, p);
  for (auto* ne : newEdge)
    for (auto& adj : ne->adjface)
      if (!adj) {
        adj = f;
        break;
      }
  return f;
}

void CHConvexHull3D::MakeCcw(tFaceStructure* f, tEdgeStructure* e, tVertexStructure* p) {
  // The cone face runs through e as the visible face did, so that it runs
  // through it against the invisible face that stays.
  tFaceStructure* fv = e->adjface[0]->visible ? e->adjface[0] : e->adjface[1];
  int i = 0;
  while (fv->vertex[i] != e->endpts[0]) ++i;
  if (fv->vertex[(i + 1) % 3] != e->endpts[1]) {
    f->vertex[0] = e->endpts[1];
    f->vertex[1] = e->endpts[0];
  } else {
    f->vertex[0] = e->endpts[0];
    f->vertex[1] = e->endpts[1];
    std::swap(f->edge[1], f->edge[2]);
  }
  f->vertex[2] = p;
}

void CHConvexHull3D::CleanUp(tVertexStructure** pvnext) {
  CleanEdges();
  CleanFaces();
  CleanVertices(pvnext);
}

void CHConvexHull3D::CleanEdges() {
  Conflicts& c = *m_conflicts;
  for (tEdgeStructure* e : c.horizon) {
    (e->adjface[0]->visible ? e->adjface[0] : e->adjface[1]) = e->newface;
    e->newface = nullptr;
  }
  c.inside.assign(1, c.added);
  for (tEdgeStructure* e : c.interior) {
    for (tVertexStructure* v : e->endpts) {
      --c.degree[v];
      c.inside.push_back(v);
    }
    DeleteEdge(e);
  }
}

void CHConvexHull3D::CleanFaces() {
  Conflicts& c = *m_conflicts;
  for (tFaceStructure* f : c.visible) {
    const auto it = c.id.find(f);
    c.face[it->second] = nullptr;
    std::vector<std::uint32_t>().swap(c.seenBy[it->second]);
    c.id.erase(it);
    DeleteFace(f);
  }
}

void CHConvexHull3D::CleanVertices(tVertexStructure** pvnext) {
  // The vertices that lost their last edge (the new point too, when it saw
  // no face) are inside the hull now.
  Conflicts& c = *m_conflicts;
  std::vector<tVertexStructure*>& inside = c.inside;
  auto drop = [&](tVertexStructure* v) {
    if (v == *pvnext) *pvnext = v->next;
    c.degree.erase(v);
    DeleteVertex(v);
  };
  std::sort(inside.begin(), inside.end());
  inside.erase(std::unique(inside.begin(), inside.end()), inside.end());
  for (tVertexStructure* v : inside)
    if (c.degree[v] == 0) drop(v);
  for (tVertexStructure* v : c.cone) v->duplicate = nullptr;
}

void CHConvexHull3D::EdgeOrderOnFaces() {
  tFaceStructure* f = m_pFaces;
  if (!f) return;
  do {
    for (int i = 0; i < 3; ++i) {
      auto joins = [&](const tEdgeStructure* e) {
        const tVertexStructure *a = f->vertex[i], *b = f->vertex[(i + 1) % 3];
        return (e->endpts[0] == a && e->endpts[1] == b) || (e->endpts[0] == b && e->endpts[1] == a);
      };
      if (joins(f->edge[i])) continue;
      for (int j = 0; j < 3; ++j)
        if (joins(f->edge[j])) {
          std::swap(f->edge[i], f->edge[j]);
          break;
        }
    }
    f = f->next;
  } while (f != m_pFaces);
}

void CHConvexHull3D::CalcNumFaces() { m_iNumFaces = countList(m_pFaces); }
void CHConvexHull3D::CalcNumEdges() { m_iNumEdges = countList(m_pEdges); }
void CHConvexHull3D::CalcNumVertices() { m_iNumVertices = countList(m_pVertices); }

void CHConvexHull3D::CalcConvexHull() {
  if (m_bBuilt) return;
  DoubleTriangle();
  ConstructHull();
  EdgeOrderOnFaces();
  CalcNumFaces();
  CalcNumEdges();
  CalcNumVertices();
  m_bBuilt = true;
}

bool CHConvexHull3D::Consistency() {
  tEdgeStructure* e = m_pEdges;
  if (!e) return true;
  do {
    // The two faces of an edge run through it in opposite directions.
    int i = 0, j = 0;
    const tFaceStructure *f0 = e->adjface[0], *f1 = e->adjface[1];
    if (!f0 || !f1) return false;
    while (i < 3 && f0->vertex[i] != e->endpts[0]) ++i;
    while (j < 3 && f1->vertex[j] != e->endpts[0]) ++j;
    if (i == 3 || j == 3) return false;
    if ((f0->vertex[(i + 1) % 3] == f1->vertex[(j + 1) % 3]) || (f0->vertex[(i + 2) % 3] == f1->vertex[(j + 2) % 3]))
      return false;
    e = e->next;
  } while (e != m_pEdges);
  return true;
}

bool CHConvexHull3D::Convexity() {
  tFaceStructure* f = m_pFaces;
  if (!f) return true;
  do {
    tVertexStructure* v = m_pVertices;
    do {
      if (v->processed && VolumeSign(f, v) < 0) return false;
      v = v->next;
    } while (v != m_pVertices);
    f = f->next;
  } while (f != m_pFaces);
  return true;
}

bool CHConvexHull3D::Checks() { return Consistency() && Convexity(); }

SSEPoint CHConvexHull3D::GetVertexFromFace(tFaceStructure* f, int k) const {
  const tVertexStructure* v = f->vertex[k];
  return _mm_div_ps(_mm_setr_ps(float(v->v[0]), float(v->v[1]), float(v->v[2]), 0.0f), _mm_set1_ps(10.0f));
}

SSEPoint CHConvexHull3D::GetVertexFromFace3D(tFaceStructure* f, int k, SSEPoint& divisor) const {
  const tVertexStructure* v = f->vertex[k];
  SSEPoint p = _mm_div_ps(_mm_setr_ps(float(v->v[0]), float(v->v[1]), float(v->v[2]), 0.0f), divisor.v);
  p.w = 0.0f;  // whatever the divisor's w
  return p;
}
