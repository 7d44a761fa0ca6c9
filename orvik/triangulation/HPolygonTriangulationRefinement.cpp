#include "orvik/triangulation/HPolygonTriangulationRefinement.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <unordered_set>
#include <vector>

#include "orvik/triangulation/HPolygonTriangulator.h"

namespace {

constexpr float c_fEqualTolerance = 0.0005f;
constexpr float c_fAcceptance = 0.9f;

// Exact position as a key; -0 and +0 are one position.
std::uint64_t keyOf(const t_h2dpoint& p) {
  const float x = p.x + 0.0f, y = p.y + 0.0f;
  std::uint32_t bx, by;
  std::memcpy(&bx, &x, 4);
  std::memcpy(&by, &y, 4);
  return (std::uint64_t{bx} << 32) | by;
}

float squared(const t_h2dpoint& a, const t_h2dpoint& b) {
  const float dx = b.x - a.x, dy = b.y - a.y;
  return dx * dx + dy * dy;
}

t_h2dpoint midpoint(const t_h2dpoint& a, const t_h2dpoint& b) {
  return {a.x + (b.x - a.x) * 0.5f, a.y + (b.y - a.y) * 0.5f};
}

// Cells of the size of the corner tolerance: corners equal within it lie in
// the same or adjacent cells. Huge or non-finite positions share one cell.
std::int64_t cellOf(float v) {
  const double q = std::floor(double(v) / c_fEqualTolerance);
  return (q > -1e15 && q < 1e15) ? static_cast<std::int64_t>(q) : std::int64_t{1} << 52;
}

std::uint64_t cellKey(std::int64_t cx, std::int64_t cy) {
  return static_cast<std::uint64_t>(cx) * 0x9E3779B97F4A7C15ull ^ static_cast<std::uint64_t>(cy);
}

}  // namespace

CHPolygonTriangulationRefinement::CHPolygonTriangulationRefinement(CHPolygonTriangulator* triangulator, float r,
                                                                   int passes)
    : m_pTriangulator(triangulator), m_fSquaredLimit((2.0f * r) * (2.0f * r)) {
  if (!triangulator) return;
  m_fScaleZ = triangulator->GetScaleZ();
  m_fFourScaleZ = 4.0f * m_fScaleZ;
  m_p3dPolygon = triangulator->Get3dPolygon();
  std::vector<t_h2dpoint> vertices(triangulator->GetNumVertices());
  for (int v = 0; v < triangulator->GetNumVertices(); ++v) {
    triangulator->GetPoint(v, vertices[v].x, vertices[v].y);
    m_vertexAt.emplace(keyOf(vertices[v]), v);
  }
  for (int i = 0; i < triangulator->GetNumTriangles(); ++i) {
    int a, b, c;
    triangulator->GetTriangleIndices(i, a, b, c);
    AppendOwnTriangle(vertices[a], vertices[b], vertices[c], i);
  }
  CalcNeighbours();
  for (int pass = 0; pass < passes; ++pass) Refinement();
}

CHPolygonTriangulationRefinement::~CHPolygonTriangulationRefinement() { RemoveTriangles(); }

t_hdynamictriangle* CHPolygonTriangulationRefinement::CreateTriangle() { return new t_hdynamictriangle{}; }

void CHPolygonTriangulationRefinement::FreeTriangle(t_hdynamictriangle* t) { delete t; }

void CHPolygonTriangulationRefinement::RemoveTriangles() {
  while (m_pHead) {
    t_hdynamictriangle* next = m_pHead->next;
    FreeTriangle(m_pHead);
    m_pHead = next;
  }
  m_pCursor = nullptr;
  m_iNumTriangles = 0;
}

void CHPolygonTriangulationRefinement::AppendTriangle(t_hdynamictriangle* t) {
  t->prev = nullptr;
  t->next = m_pHead;
  if (m_pHead) m_pHead->prev = t;
  m_pHead = t;
  ++m_iNumTriangles;
}

t_hdynamictriangle* CHPolygonTriangulationRefinement::AppendOwnTriangle(const t_h2dpoint& a, const t_h2dpoint& b,
                                                                        const t_h2dpoint& c, int index) {
  t_hdynamictriangle* t = CreateTriangle();
  t->p[0] = a, t->p[1] = b, t->p[2] = c;
  t->index = index;
  AppendTriangle(t);
  return t;
}

void CHPolygonTriangulationRefinement::unlink(t_hdynamictriangle* t) {
  if (t->prev) t->prev->next = t->next;
  else m_pHead = t->next;
  if (t->next) t->next->prev = t->prev;
  if (m_pCursor == t) m_pCursor = nullptr;
  --m_iNumTriangles;
}

void CHPolygonTriangulationRefinement::AppendNewTrianglesAndRemoveOld(t_hdynamictriangle* a, t_hdynamictriangle* b,
                                                                     t_hdynamictriangle* old) {
  AppendTriangle(a);
  AppendTriangle(b);
  unlink(old);
  FreeTriangle(old);
}

bool CHPolygonTriangulationRefinement::Equal(const t_h2dpoint& a, const t_h2dpoint& b) {
  return std::fabs(a.x - b.x) < c_fEqualTolerance && std::fabs(a.y - b.y) < c_fEqualTolerance;
}

bool CHPolygonTriangulationRefinement::CheckNeighbourTriangle(t_hdynamictriangle* a, t_hdynamictriangle* b) {
  bool match[3];
  for (int k = 0; k < 3; ++k) match[k] = Equal(a->p[k], b->p[0]) || Equal(a->p[k], b->p[1]) || Equal(a->p[k], b->p[2]);
  bool any = false;
  for (int k = 0; k < 3; ++k)
    if (match[k] && match[(k + 1) % 3]) a->neighbour[k] = b, any = true;
  return any;
}

void CHPolygonTriangulationRefinement::CalcNeighbours() {
  // Only triangles with a corner in the same or an adjacent cell can share an
  // edge; they are examined in list order, as a scan of the whole list would.
  std::vector<t_hdynamictriangle*> list;
  for (t_hdynamictriangle* t = m_pHead; t; t = t->next) list.push_back(t);
  std::unordered_map<std::uint64_t, std::vector<int>> cells;
  for (int i = 0; i < static_cast<int>(list.size()); ++i)
    for (const t_h2dpoint& p : list[i]->p) cells[cellKey(cellOf(p.x), cellOf(p.y))].push_back(i);
  std::vector<int> candidates;
  for (int i = 0; i < static_cast<int>(list.size()); ++i) {
    t_hdynamictriangle* a = list[i];
    std::fill(a->neighbour, a->neighbour + 3, nullptr);
    candidates.clear();
    for (const t_h2dpoint& p : a->p) {
      const std::int64_t cx = cellOf(p.x), cy = cellOf(p.y);
      for (std::int64_t dx = -1; dx <= 1; ++dx)
        for (std::int64_t dy = -1; dy <= 1; ++dy) {
          const auto found = cells.find(cellKey(cx + dx, cy + dy));
          if (found != cells.end()) candidates.insert(candidates.end(), found->second.begin(), found->second.end());
        }
    }
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    for (int j : candidates)
      if (j != i) CheckNeighbourTriangle(a, list[j]);
  }
}

ESharedSide CHPolygonTriangulationRefinement::GetSharedSide(const t_hdynamictriangle* t,
                                                            const t_hdynamictriangle* neighbour) {
  for (int s = 0; s < 3; ++s)
    if (neighbour->neighbour[s] == t) return static_cast<ESharedSide>(s);
  return eNoSharedSide;
}

void CHPolygonTriangulationRefinement::ExchangeNeighbour(t_hdynamictriangle* t, const t_hdynamictriangle* old,
                                                         t_hdynamictriangle* replacement) {
  if (!t) return;
  for (t_hdynamictriangle*& n : t->neighbour)
    if (n == old) n = replacement;
}

int CHPolygonTriangulationRefinement::Refinement() {
  int splits = 0;
  for (t_hdynamictriangle* t = m_pHead; t;) {
    t_hdynamictriangle* next = t->next;
    const float e[3] = {squared(t->p[0], t->p[1]), squared(t->p[1], t->p[2]), squared(t->p[2], t->p[0])};
    const int k = (e[0] > e[1] && e[0] > e[2]) ? 0 : (e[1] > e[0] && e[1] > e[2]) ? 1 : 2;
    t_hdynamictriangle* u = t->neighbour[k];
    int j = eNoSharedSide;
    bool split = e[k] > m_fSquaredLimit;
    if (split && u) {
      j = GetSharedSide(t, u);
      // A neighbour that does not point back, or shares a second edge, marks
      // a degenerate corner of the mesh: splitting there could not stay conforming.
      split = j != eNoSharedSide && t->neighbour[(k + 1) % 3] != u && t->neighbour[(k + 2) % 3] != u;
      if (split) {
        const float s = squared(u->p[j], u->p[(j + 1) % 3]);
        const float o1 = squared(u->p[(j + 1) % 3], u->p[(j + 2) % 3]);
        const float o2 = squared(u->p[(j + 2) % 3], u->p[j]);
        split = !(c_fAcceptance * o1 > s || c_fAcceptance * o2 > s) && s > m_fFourScaleZ;
      }
    }
    if (split) {
      if (u && next == u) next = u->next;
      this->split(t, k, u, j);
      splits += u ? 2 : 1;
    }
    t = next;
  }
  return splits;
}

void CHPolygonTriangulationRefinement::split(t_hdynamictriangle* t, int k, t_hdynamictriangle* u, int j) {
  const auto make = [](const t_h2dpoint& a, const t_h2dpoint& b, const t_h2dpoint& c) {
    t_hdynamictriangle* n = CreateTriangle();
    n->p[0] = a, n->p[1] = b, n->p[2] = c;
    std::fill(n->z, n->z + 3, c_fUnknownHeight);
    n->index = -1;
    return n;
  };
  // One midpoint for both triangles at the edge, so that their halves meet
  // exactly whatever the rounding of either corner order.
  const t_h2dpoint m = midpoint(t->p[k], t->p[(k + 1) % 3]);
  t_hdynamictriangle* t1 = make(t->p[k], m, t->p[(k + 2) % 3]);
  t_hdynamictriangle* t2 = make(m, t->p[(k + 1) % 3], t->p[(k + 2) % 3]);
  t1->neighbour[1] = t2;
  t1->neighbour[2] = t->neighbour[(k + 2) % 3];
  t2->neighbour[1] = t->neighbour[(k + 1) % 3];
  t2->neighbour[2] = t1;
  ExchangeNeighbour(t1->neighbour[2], t, t1);
  ExchangeNeighbour(t2->neighbour[1], t, t2);
  if (u) {
    t_hdynamictriangle* u1 = make(u->p[j], m, u->p[(j + 2) % 3]);
    t_hdynamictriangle* u2 = make(m, u->p[(j + 1) % 3], u->p[(j + 2) % 3]);
    // u runs the shared edge the other way: its first half meets t's second.
    u1->neighbour[0] = t2, t2->neighbour[0] = u1;
    u2->neighbour[0] = t1, t1->neighbour[0] = u2;
    u1->neighbour[1] = u2;
    u1->neighbour[2] = u->neighbour[(j + 2) % 3];
    u2->neighbour[1] = u->neighbour[(j + 1) % 3];
    u2->neighbour[2] = u1;
    ExchangeNeighbour(u1->neighbour[2], u, u1);
    ExchangeNeighbour(u2->neighbour[1], u, u2);
    AppendNewTrianglesAndRemoveOld(u1, u2, u);
  }
  AppendNewTrianglesAndRemoveOld(t1, t2, t);
}

float CHPolygonTriangulationRefinement::cornerHeight(const t_h2dpoint& p) const {
  if (!m_p3dPolygon) return 0.0f;
  const auto vertex = m_vertexAt.find(keyOf(p));
  float z = 0.0f;
  if (vertex != m_vertexAt.end()) {
    m_p3dPolygon->GetPointZ(vertex->second * m_pTriangulator->GetStep(), z);
    return z;
  }
  // Every eighth point where there are enough, else every point, so that a
  // small polygon still gives a height.
  const int step = m_p3dPolygon->GetNumPoints() >= 8 ? 8 : 1;
  return m_p3dPolygon->InterpolateZ(p.x, p.y, step, m_fFourScaleZ);
}

void CHPolygonTriangulationRefinement::emit(t_hdynamictriangle* t, SSEPoint& a, SSEPoint& b, SSEPoint& c) {
  if (t->index >= 0 && m_p3dPolygon && m_pTriangulator->GetTriangle3D(t->index, a, b, c)) return;
  for (int k = 0; k < 3; ++k) {
    if (!(t->z[k] < -999998.0f)) continue;
    t->z[k] = cornerHeight(t->p[k]);
    // Neighbours at the same corner need not compute it again.
    for (t_hdynamictriangle* n : t->neighbour)
      if (n)
        for (int s = 0; s < 3; ++s)
          if (n->p[s].x == t->p[k].x && n->p[s].y == t->p[k].y && n->z[s] < -999998.0f) n->z[s] = t->z[k];
  }
  a = SSEPoint(t->p[0].x, t->p[0].y, t->z[0], 0.0f);
  b = SSEPoint(t->p[1].x, t->p[1].y, t->z[1], 0.0f);
  c = SSEPoint(t->p[2].x, t->p[2].y, t->z[2], 0.0f);
}

bool CHPolygonTriangulationRefinement::GetFirstTriangle3D(SSEPoint& a, SSEPoint& b, SSEPoint& c) {
  m_pCursor = m_pHead;
  if (!m_pCursor) return false;
  emit(m_pCursor, a, b, c);
  return true;
}

bool CHPolygonTriangulationRefinement::GetNextTriangle3D(SSEPoint& a, SSEPoint& b, SSEPoint& c) {
  if (!m_pCursor || !m_pCursor->next) return false;
  m_pCursor = m_pCursor->next;
  emit(m_pCursor, a, b, c);
  return true;
}

t_hdynamictriangle* CHPolygonTriangulationRefinement::GetTriangle(int i) const {
  if (i < 0) return nullptr;
  t_hdynamictriangle* t = m_pHead;
  for (; t && i > 0; --i) t = t->next;
  return t;
}

bool CHPolygonTriangulationRefinement::GetTriangle3D(int i, SSEPoint& a, SSEPoint& b, SSEPoint& c) {
  t_hdynamictriangle* t = GetTriangle(i);
  if (!t) return false;
  emit(t, a, b, c);
  return true;
}

int CHPolygonTriangulationRefinement::GetNum2dPoints() const {
  std::unordered_set<std::uint64_t> points;
  for (const t_hdynamictriangle* t = m_pHead; t; t = t->next)
    for (const t_h2dpoint& p : t->p) points.insert(keyOf(p));
  return static_cast<int>(points.size());
}

void CHPolygonTriangulationRefinement::GetBorderLinePolygon(CSSE3dPolygon* out) {
  if (!out) return;
  // Boundary edges by their start point; a ring follows them end to start.
  std::unordered_map<std::uint64_t, t_h2dpoint> nextOf;
  const t_h2dpoint* first = nullptr;
  for (const t_hdynamictriangle* t = m_pHead; t; t = t->next)
    for (int k = 0; k < 3; ++k)
      if (!t->neighbour[k]) {
        nextOf.emplace(keyOf(t->p[k]), t->p[(k + 1) % 3]);
        if (!first) first = &t->p[k];
      }
  std::vector<t_h2dpoint> ring;
  if (first) {
    t_h2dpoint p = *first;
    const std::uint64_t start = keyOf(p);
    do {
      ring.push_back(p);
      const auto found = nextOf.find(keyOf(p));
      if (found == nextOf.end()) break;
      p = found->second;
    } while (keyOf(p) != start && ring.size() <= nextOf.size());
  }
  out->Create(static_cast<int>(ring.size()));
  for (int i = 0; i < out->GetNumPoints(); ++i) out->SetPoint(i, ring[i].x, ring[i].y, cornerHeight(ring[i]));
}

int CHPolygonTriangulationRefinement::CollapseSlivers() const {
  int slivers = 0;
  for (const t_hdynamictriangle* t = m_pHead; t; t = t->next) {
    const int neighbours = (t->neighbour[0] != nullptr) + (t->neighbour[1] != nullptr) + (t->neighbour[2] != nullptr);
    if (neighbours < 2) continue;
    const float e[3] = {squared(t->p[0], t->p[1]), squared(t->p[1], t->p[2]), squared(t->p[2], t->p[0])};
    if (*std::min_element(e, e + 3) < 0.25f * *std::max_element(e, e + 3)) ++slivers;
  }
  return slivers;
}
