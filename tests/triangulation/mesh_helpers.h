#pragma once
// Meshes for the triangulation suites, plain measures, the reference plane hull and a walk over hull lists.
#include <algorithm>
#include <array>
#include <random>
#include <type_traits>
#include <utility>
#include <vector>

#include "orvik/triangulation/HTriangulation.h"

namespace mesh_test {

using Tri = std::array<SSEPoint, 3>;

inline void fill(CHTriangulation& mesh, const std::vector<Tri>& tris) {
  mesh.CreateTriangulation(static_cast<int>(tris.size()));
  for (std::size_t i = 0; i < tris.size(); ++i)
    for (int k = 0; k < 3; ++k) *mesh.GetTriangle(static_cast<int>(i))->corner[k] = tris[i][k];
  mesh.CalcSTV();
}

// An nx x ny grid of counter-clockwise cell halves on random diagonals, shuffled, corners rotated or flipped.
inline std::vector<Tri> grid(int nx, int ny, float jitter, bool flat, bool flip, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-jitter, jitter), h(0.0f, 5.0f);
  std::vector<SSEPoint> p((nx + 1) * (ny + 1));
  for (int y = 0; y <= ny; ++y)
    for (int x = 0; x <= nx; ++x)
      p[y * (nx + 1) + x] = SSEPoint(x + u(rng), y + u(rng), flat ? 0.0f : h(rng), 0.0f);
  std::vector<Tri> tris;
  for (int y = 0; y < ny; ++y)
    for (int x = 0; x < nx; ++x) {
      const SSEPoint a = p[y * (nx + 1) + x], b = p[y * (nx + 1) + x + 1];
      const SSEPoint c = p[(y + 1) * (nx + 1) + x], d = p[(y + 1) * (nx + 1) + x + 1];
      if (rng() & 1)
        tris.insert(tris.end(), {{a, b, d}, {a, d, c}});
      else
        tris.insert(tris.end(), {{a, b, c}, {b, d, c}});
    }
  std::shuffle(tris.begin(), tris.end(), rng);
  for (Tri& t : tris) {
    std::rotate(t.begin(), t.begin() + rng() % 3, t.end());
    if (flip && (rng() & 1)) std::swap(t[0], t[2]);
  }
  return tris;
}

inline std::vector<Tri> octahedron() {
  const SSEPoint px(1, 0, 0), nx(-1, 0, 0), py(0, 1, 0), ny(0, -1, 0), pz(0, 0, 1), nz(0, 0, -1);
  return {{px, py, pz}, {py, nx, pz}, {nx, ny, pz}, {ny, px, pz},
          {py, px, nz}, {nx, py, nz}, {ny, nx, nz}, {px, ny, nz}};
}

// Sign of the determinant of (a - d, b - d, c - d), exact on integer points: > 0 when d lies on the side the
// counter-clockwise normal of (a, b, c) points away from.
template <class P>
int orient(const P& a, const P& b, const P& c, const P& d) {
  __int128 m[3][3];
  for (int k = 0; k < 3; ++k) m[0][k] = a[k] - d[k], m[1][k] = b[k] - d[k], m[2][k] = c[k] - d[k];
  const __int128 det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  return det > 0 ? 1 : det < 0 ? -1 : 0;
}

inline bool sameXYZ(const SSEPoint& a, const SSEPoint& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

// Area in the xy plane, positive for counter-clockwise corners.
inline double signedArea(const t_htriangle& t) {
  const SSEPoint &a = *t.corner[0], &b = *t.corner[1], &c = *t.corner[2];
  return 0.5 * ((double(b.x) - a.x) * (double(c.y) - a.y) - (double(c.x) - a.x) * (double(b.y) - a.y));
}

inline double totalArea(const CHTriangulation& m) {
  double s = 0;
  for (int i = 0; i < m.GetNumTriangles(); ++i) s += signedArea(*m.GetTriangle(i));
  return s;
}

// A record no cell wrote: every corner lane 0.
inline bool blank(const t_htriangle& t) {
  for (const SSEPoint* c : t.corner)
    if (c->x != 0.0f || c->y != 0.0f || c->z != 0.0f || c->w != 0.0f) return false;
  return true;
}

// Twice the signed area of (o, a, b), exact on integer points: > 0 when b lies left of o -> a.
template <class P>
auto cross(const P& o, const P& a, const P& b) {
  using W = std::conditional_t<std::is_integral_v<typename P::value_type>, __int128, double>;
  return (W(a[0]) - o[0]) * (W(b[1]) - o[1]) - (W(a[1]) - o[1]) * (W(b[0]) - o[0]);
}

// The monotone chain hull of points (x, y), counter-clockwise from the first point in sort order, points on
// its edges kept when `keepCollinear`.
template <class P>
std::vector<P> monotoneChain(std::vector<P> p, bool keepCollinear) {
  std::sort(p.begin(), p.end());
  p.erase(std::unique(p.begin(), p.end()), p.end());
  if (p.size() < 3) return p;
  const auto right = [&](const P& o, const P& a, const P& b) {
    return keepCollinear ? cross(o, a, b) < 0 : cross(o, a, b) <= 0;
  };
  std::vector<P> h(2 * p.size());
  std::size_t k = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    while (k >= 2 && right(h[k - 2], h[k - 1], p[i])) --k;
    h[k++] = p[i];
  }
  for (std::size_t i = p.size() - 1, t = k + 1; i-- > 0;) {
    while (k >= t && right(h[k - 2], h[k - 1], p[i])) --k;
    h[k++] = p[i];
  }
  h.resize(k - 1);
  return h;
}

using PlanePt = std::array<float, 2>;

// The hull without collinear points from the lowest point (smallest y, then x).
inline std::vector<PlanePt> hullFromLowest(const std::vector<PlanePt>& pts) {
  std::vector<PlanePt> h = monotoneChain(pts, false);
  const auto lower = [](const PlanePt& a, const PlanePt& b) {
    return std::pair(a[1], a[0]) < std::pair(b[1], b[0]);
  };
  if (h.size() >= 3) std::rotate(h.begin(), std::min_element(h.begin(), h.end(), lower), h.end());
  return h;
}

// Calls f for every element of a circular list (a hull's faces or vertices).
template <class T, class F>
void forEach(T* head, F f) {
  if (T* p = head) do {
      f(p);
      p = p->next;
    } while (p != head);
}

}  // namespace mesh_test
