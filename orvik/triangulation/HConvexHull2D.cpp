#include "orvik/triangulation/HConvexHull2D.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "orvik/foundation/Alloc.h"
#include "orvik/polygon/SSE2dPolygon.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "orvik/triangulation/HSimpleBasisFcns.h"

namespace {

t_h2dpoint xy(const tPointStruc* p) { return {p->x, p->y}; }

}  // namespace

CHConvexHull2D::CHConvexHull2D(CSSE3dPolygon* polygon) {
  m_iNumPoints = polygon->GetNumPoints();
  m_pPoints = static_cast<tPointStruc*>(SafeCalloc(static_cast<std::size_t>(m_iNumPoints), sizeof(tPointStruc)));
  for (int i = 0; i < m_iNumPoints; ++i) {
    m_pPoints[i].vnum = i;
    polygon->GetPoint(i, m_pPoints[i].x, m_pPoints[i].y, m_pPoints[i].z);
  }
  build();
}

CHConvexHull2D::CHConvexHull2D(CSSE2dPolygon* polygon) {
  m_iNumPoints = polygon->GetNumPoints();
  m_pPoints = static_cast<tPointStruc*>(SafeCalloc(static_cast<std::size_t>(m_iNumPoints), sizeof(tPointStruc)));
  for (int i = 0; i < m_iNumPoints; ++i) {
    m_pPoints[i].vnum = i;
    polygon->GetPoint(i, m_pPoints[i].x, m_pPoints[i].y);
  }
  build();
}

CHConvexHull2D::~CHConvexHull2D() {
  freeStack();
  SafeFree(m_pPoints);
}

void CHConvexHull2D::build() {
  if (m_iNumPoints == 0) return;
  FindLowest();
  discardInterior();
  QuickSort();
  Squash();
  Graham();
}

void CHConvexHull2D::freeStack() {
  while (m_pTop) Pop();
}

void CHConvexHull2D::Push(tPointStruc* p) { m_pTop = new tStackCell{p, m_pTop}; }

void CHConvexHull2D::Pop() {
  tStackCell* cell = m_pTop;
  m_pTop = cell->next;
  delete cell;
}

void CHConvexHull2D::Swap(int i, int j) { std::swap(m_pPoints[i], m_pPoints[j]); }

void CHConvexHull2D::Copy(int from, int to) { m_pPoints[to] = m_pPoints[from]; }

void CHConvexHull2D::discardInterior() {
  // The octagon of the extreme points in eight directions lies inside the
  // hull; a point inside it by more than the collinearity tolerance can
  // neither be a hull point nor decide which hull points stay, so it leaves
  // before the sort. Uniformly spread points lose most of their number.
  if (m_iNumPoints < 9) return;
  static constexpr double c_dir[8][2] = {{0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}};
  int extreme[8] = {};
  double best[8];
  for (int k = 0; k < 8; ++k) best[k] = c_dir[k][0] * m_pPoints[0].x + c_dir[k][1] * m_pPoints[0].y;
  for (int i = 1; i < m_iNumPoints; ++i)
    for (int k = 0; k < 8; ++k)
      if (const double d = c_dir[k][0] * m_pPoints[i].x + c_dir[k][1] * m_pPoints[i].y; d > best[k]) {
        best[k] = d;
        extreme[k] = i;
      }
  // The distinct corners, counter-clockwise.
  double cx[8], cy[8];
  int corners = 0;
  for (int k = 0; k < 8; ++k) {
    const double x = m_pPoints[extreme[k]].x, y = m_pPoints[extreme[k]].y;
    if (corners == 0 || x != cx[corners - 1] || y != cy[corners - 1]) cx[corners] = x, cy[corners++] = y;
  }
  while (corners > 1 && cx[corners - 1] == cx[0] && cy[corners - 1] == cy[0]) --corners;
  if (corners < 3) return;
  constexpr double margin = 2 * CHSimpleBasisFcns::c_dTolerance;
  int kept = 1;
  for (int i = 1; i < m_iNumPoints; ++i) {
    const double x = m_pPoints[i].x, y = m_pPoints[i].y;
    bool inside = true;
    for (int k = 0; k < corners && inside; ++k) {
      const int j = (k + 1) % corners;
      inside = (cx[j] - cx[k]) * (y - cy[k]) - (cy[j] - cy[k]) * (x - cx[k]) > margin;
    }
    if (!inside) Copy(i, kept++);
  }
  m_iNumPoints = kept;
}

void CHConvexHull2D::FindLowest() {
  int lowest = 0;
  for (int i = 1; i < m_iNumPoints; ++i)
    if (m_pPoints[i].y < m_pPoints[lowest].y ||
        (m_pPoints[i].y == m_pPoints[lowest].y && m_pPoints[i].x < m_pPoints[lowest].x))
      lowest = i;
  Swap(0, lowest);
}

int CHConvexHull2D::Compare(tPointStruc* pi, tPointStruc* pj) {
  const t_h2dpoint p0 = xy(m_pPoints), a = xy(pi), b = xy(pj);
  const float area = CHSimpleBasisFcns::AreaSign(&p0, &a, &b);
  if (area > 0.001f) return -1;
  if (area < -0.001f) return 1;
  ++m_iNumDeleted;
  const float dx = std::fabs(pi->x - p0.x) - std::fabs(pj->x - p0.x);
  const float dy = std::fabs(pi->y - p0.y) - std::fabs(pj->y - p0.y);
  if (dx < 0 || dy < 0) {
    pi->del = 1;
    return -1;
  }
  if (dx > 0 || dy > 0) {
    pj->del = 1;
    return 1;
  }
  (pi->vnum <= pj->vnum ? pi : pj)->del = 1;
  return 0;
}

void CHConvexHull2D::QuickSort() {
  // Copies of the lowest point are dropped here: with a single other point no
  // comparison would meet them.
  for (int i = 1; i < m_iNumPoints; ++i)
    if (m_pPoints[i].x == m_pPoints[0].x && m_pPoints[i].y == m_pPoints[0].y) m_pPoints[i].del = 1;
  // Bottom-up merge sort of positions 1 .. n-1: every element stays within
  // the array whatever the comparison answers.
  const int n = m_iNumPoints - 1;
  if (n < 2) return;
  tPointStruc* a = m_pPoints + 1;
  std::vector<tPointStruc> buffer(n);
  tPointStruc* from = a;
  tPointStruc* to = buffer.data();
  for (int width = 1; width < n; width *= 2) {
    for (int lo = 0; lo < n; lo += 2 * width) {
      const int mid = std::min(lo + width, n), hi = std::min(lo + 2 * width, n);
      int i = lo, j = mid, k = lo;
      while (i < mid && j < hi) to[k++] = Compare(&from[j], &from[i]) < 0 ? from[j++] : from[i++];
      while (i < mid) to[k++] = from[i++];
      while (j < hi) to[k++] = from[j++];
    }
    std::swap(from, to);
  }
  if (from != a) std::copy(from, from + n, a);
}

void CHConvexHull2D::Squash() {
  int kept = 0;
  for (int i = 0; i < m_iNumPoints; ++i)
    if (!m_pPoints[i].del) Copy(i, kept++);
  m_iNumPoints = kept;
}

void CHConvexHull2D::Graham() {
  if (m_iNumPoints == 0) return;
  Push(&m_pPoints[0]);
  if (m_iNumPoints == 1) return;
  Push(&m_pPoints[1]);
  for (int i = 2; i < m_iNumPoints;) {
    if (!m_pTop->next) {
      std::fputs("Error\n", stdout);
      freeStack();
      return;
    }
    const t_h2dpoint below = xy(m_pTop->next->p), top = xy(m_pTop->p), next = xy(&m_pPoints[i]);
    if (CHSimpleBasisFcns::Left(&below, &top, &next))
      Push(&m_pPoints[i++]);
    else
      Pop();
  }
}

int CHConvexHull2D::GetNumHullPoints() const {
  int n = 0;
  for (const tStackCell* c = m_pTop; c; c = c->next) ++n;
  return n;
}

void CHConvexHull2D::ObtainConvexHull3D(CSSE3dPolygon* out) const {
  const int n = GetNumHullPoints();
  out->Create(n);
  int i = n;
  for (const tStackCell* c = m_pTop; c; c = c->next) out->SetPoint(--i, c->p->x, c->p->y, c->p->z);
}

void CHConvexHull2D::ObtainConvexHull2D(CSSE2dPolygon* out) const {
  out->Create(GetNumHullPoints());
  int i = 0;
  for (const tStackCell* c = m_pTop; c; c = c->next) out->SetPoint(i++, c->p->x, c->p->y);
}
