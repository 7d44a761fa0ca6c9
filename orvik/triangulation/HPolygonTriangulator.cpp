#include "orvik/triangulation/HPolygonTriangulator.h"

#include "orvik/triangulation/EdgeGrid.h"

namespace {

void readXY(const CSSE3dPolygon& p, int i, float& x, float& y) { p.GetPointXY(i, x, y); }
void readXY(const CSSE2dPolygon& p, int i, float& x, float& y) { p.GetPoint(i, x, y); }

using F = CHSimpleBasisFcns;

constexpr int c_iGridFrom = 48;

}  // namespace

CHPolygonTriangulator::CHPolygonTriangulator(CSSE3dPolygon* polygon, int step, float sx, float sy, float sz,
                                             bool is3D)
    : m_p3dPolygon(polygon), m_iStep(step), m_fScaleX(sx), m_fScaleY(sy), m_fScaleZ(sz), m_bIs3D(is3D) {
  if (polygon) build(*polygon);
}

CHPolygonTriangulator::CHPolygonTriangulator(CSSE2dPolygon* polygon, int step, float sx, float sy, bool is3D)
    : m_p2dPolygon(polygon), m_iStep(step), m_fScaleX(sx), m_fScaleY(sy), m_bIs3D(is3D) {
  if (polygon) build(*polygon);
}

CHPolygonTriangulator::~CHPolygonTriangulator() = default;

template <typename Polygon>
void CHPolygonTriangulator::build(const Polygon& polygon) {
  const int points = polygon.GetNumPoints();
  if (points < 3 || m_iStep < 1) return;
  const int n = points / m_iStep;
  if (n < 3) return;
  m_iNumVertices = n;
  m_vertices.assign(n, t_hvertex{});
  double area = 0.0;
  for (int i = 0; i < n; ++i) {
    float x = 0.0f, y = 0.0f;
    readXY(polygon, i * m_iStep, x, y);
    t_hvertex& v = m_vertices[i];
    v.x = x * m_fScaleX;
    v.y = y * m_fScaleY;
    v.vnum = i;
    if (i > 0) area += double(m_vertices[i - 1].x) * v.y - double(v.x) * m_vertices[i - 1].y;
  }
  area += double(m_vertices[n - 1].x) * m_vertices[0].y - double(m_vertices[0].x) * m_vertices[n - 1].y;
  // The ear test assumes a counter-clockwise ring: a clockwise one is linked
  // backwards, so the triangles are those of the same polygon, counter-clockwise.
  const int forward = area >= 0.0 ? 1 : n - 1;
  for (int i = 0; i < n; ++i) {
    m_vertices[i].next = &m_vertices[(i + forward) % n];
    m_vertices[i].prev = &m_vertices[(i + n - forward) % n];
  }
  m_pHead = &m_vertices[0];
  triangulate();
}

void CHPolygonTriangulator::triangulate() {
  const int n = m_iNumVertices;
  m_diagonals.assign(n, t_hdiagonal{});
  m_triangles.reserve(3 * static_cast<std::size_t>(n - 2));
  // Small rings are quicker to test edge by edge than to file.
  if (n >= c_iGridFrom) {
    std::vector<const t_h2dpoint*> points(n);
    for (int i = 0; i < n; ++i) points[i] = &m_vertices[i];
    m_pGrid = std::make_unique<orvik::detail::EdgeGrid>();
    if (m_pGrid->Build(points.data(), n, CHSimpleBasisFcns::c_dTolerance)) {
      for (const t_hvertex& v : m_vertices) m_pGrid->Insert(&v, v.next, v.vnum, v.next->vnum);
      m_clipped.assign(n, 0);
    } else {
      m_pGrid.reset();
    }
  }
  earInit();
  int remaining = n;
  for (; remaining > 3; --remaining) {
    t_hvertex* ear = findEar(m_bIs3D ? m_pHead->next : m_pHead, remaining);
    if (!ear) break;
    clip(ear, true);
  }
  // Three vertices left are the last triangle; none of them needs to be an ear.
  if (remaining == 3) clip(m_bIs3D ? m_pHead->next : m_pHead, false);
  m_pGrid.reset();
  m_clipped.clear();
}

void CHPolygonTriangulator::earInit() {
  for (t_hvertex& v : m_vertices) v.ear = diagonal(v.prev, v.next);
}

bool CHPolygonTriangulator::diagonalie(const t_hvertex* a, const t_hvertex* b) const {
  if (m_pGrid) {
    const auto current = [this](int c, int c1) { return !m_clipped[c] && m_vertices[c].next == &m_vertices[c1]; };
    return !m_pGrid->AnyNear(a, b, current, [&](int ci, int c1i) {
      const t_hvertex* c = &m_vertices[ci];
      const t_hvertex* c1 = &m_vertices[c1i];
      return c != a && c1 != a && c != b && c1 != b && F::Intersect(a, b, c, c1);
    });
  }
  const t_hvertex* c = m_pHead;
  do {
    const t_hvertex* c1 = c->next;
    if (c != a && c1 != a && c != b && c1 != b && F::Intersect(a, b, c, c1)) return false;
    c = c1;
  } while (c != m_pHead);
  return true;
}

bool CHPolygonTriangulator::diagonal(const t_hvertex* a, const t_hvertex* b) const {
  return F::InCone(a, b) && F::InCone(b, a) && diagonalie(a, b);
}

t_hvertex* CHPolygonTriangulator::findEar(t_hvertex* start, int remaining) const {
  for (int k = 0; k < remaining; ++k, start = start->next)
    if (start->ear) return start;
  return nullptr;
}

void CHPolygonTriangulator::clip(t_hvertex* ear, bool updateNeighbours) {
  t_hvertex* p = ear->prev;
  t_hvertex* n = ear->next;
  m_diagonals[m_iNumDiagonals++] = {true, p->vnum, F::LeftOn(p, ear, p->prev), n->vnum, F::LeftOn(n, n->next, ear)};
  m_triangles.insert(m_triangles.end(), {p->vnum, ear->vnum, n->vnum});
  ++m_iNumTriangles;
  // Judged with the ear still in the ring: n's cone then reaches to the ear
  // instead of p, but a diagonal from p's predecessor through that wedge would
  // cross the edge p-ear, which the intersection test sees.
  if (updateNeighbours) {
    p->ear = diagonal(p->prev, n);
    n->ear = diagonal(p, n->next);
  }
  p->next = n;
  n->prev = p;
  m_pHead = n;
  if (m_pGrid) {
    m_clipped[ear->vnum] = 1;
    m_pGrid->Insert(p, n, p->vnum, n->vnum);
  }
}

bool CHPolygonTriangulator::GetTriangleIndices(int i, int& a, int& b, int& c) const {
  if (i < 0 || i >= m_iNumTriangles) return false;
  a = m_triangles[3 * i], b = m_triangles[3 * i + 1], c = m_triangles[3 * i + 2];
  return true;
}

bool CHPolygonTriangulator::GetTriangle3D(int i, SSEPoint& a, SSEPoint& b, SSEPoint& c) const {
  int v0, v1, v2;
  if (!m_p3dPolygon || !GetTriangleIndices(i, v0, v1, v2)) return false;
  m_p3dPolygon->GetPointSSE(v0 * m_iStep, a);
  m_p3dPolygon->GetPointSSE(v1 * m_iStep, b);
  m_p3dPolygon->GetPointSSE(v2 * m_iStep, c);
  return true;
}

bool CHPolygonTriangulator::GetPoint(int i, float& x, float& y) const {
  if (i < 0 || i >= m_iNumVertices) return false;
  x = m_vertices[i].x, y = m_vertices[i].y;
  return true;
}

bool CHPolygonTriangulator::DiagonalExists(int i) const {
  return i >= 0 && i < m_iNumDiagonals && m_diagonals[i].exists;
}

bool CHPolygonTriangulator::GetDiagonalPoints(int i, float& x1, float& y1, float& x2, float& y2) const {
  if (!DiagonalExists(i)) return false;
  const t_hvertex& a = m_vertices[m_diagonals[i].first];
  const t_hvertex& b = m_vertices[m_diagonals[i].second];
  x1 = a.x, y1 = a.y, x2 = b.x, y2 = b.y;
  return true;
}
