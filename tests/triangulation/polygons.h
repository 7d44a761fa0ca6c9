#pragma once
// Simple polygons for the triangulation tests, counter-clockwise with y up.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "orvik/polygon/SSE3dPolygon.h"

namespace testpolygons {

struct Pt {
  float x, y;
};
using Ring = std::vector<Pt>;

inline Ring square() { return {{0, 0}, {1, 0}, {1, 1}, {0, 1}}; }
inline Ring lShape() { return {{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}}; }

// k teeth of width 1 and height h on a base of height 1, gaps of width 1.
inline Ring comb(int k, float h) {
  Ring r = {{0, 0}, {float(2 * k - 1), 0}};
  for (int j = k - 1; j >= 0; --j) {
    if (j < k - 1) r.push_back({float(2 * j + 1), 1});
    r.push_back({float(2 * j + 1), h});
    r.push_back({float(2 * j), h});
    if (j > 0) r.push_back({float(2 * j), 1});
  }
  return r;
}

// Star-shaped about the origin: random angles in order, random radii.
inline Ring star(int n, unsigned seed, float radius = 100.0f) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> angle(0.0, 2 * M_PI), r(0.3, 1.0);
  std::vector<double> a(n);
  for (double& v : a) v = angle(rng);
  std::sort(a.begin(), a.end());
  Ring ring;
  for (int i = 0; i < n; ++i) {
    if (i > 0 && a[i] - a[i - 1] < 1e-6) continue;
    const double rr = radius * r(rng);
    ring.push_back({float(rr * std::cos(a[i])), float(rr * std::sin(a[i]))});
  }
  return ring;
}

inline Ring reversed(Ring r) {
  std::reverse(r.begin(), r.end());
  return r;
}

inline CSSE3dPolygon toPolygon(const Ring& r, float z0 = 0.0f) {
  CSSE3dPolygon p;
  p.Create(static_cast<int>(r.size()));
  for (int i = 0; i < p.GetNumPoints(); ++i) p.SetPoint(i, r[i].x, r[i].y, z0 + 0.25f * i);
  return p;
}

inline double orient(const Pt& a, const Pt& b, const Pt& c) {
  return (double(b.x) - a.x) * (double(c.y) - a.y) - (double(c.x) - a.x) * (double(b.y) - a.y);
}

inline double area2(const Ring& r) {
  double s = 0;
  for (std::size_t i = 0, j = r.size() - 1; i < r.size(); j = i++) s += double(r[j].x) * r[i].y - double(r[i].x) * r[j].y;
  return s;
}

// Crossing-number test; points on the boundary may go either way.
inline bool inside(const Ring& r, double x, double y) {
  bool in = false;
  for (std::size_t i = 0, j = r.size() - 1; i < r.size(); j = i++)
    if ((r[i].y > y) != (r[j].y > y) && x < (double(r[j].x) - r[i].x) * (y - r[i].y) / (double(r[j].y) - r[i].y) + r[i].x)
      in = !in;
  return in;
}

// a-b and c-d cross at a point interior to both.
inline bool properCross(const Pt& a, const Pt& b, const Pt& c, const Pt& d) {
  const double o1 = orient(a, b, c), o2 = orient(a, b, d), o3 = orient(c, d, a), o4 = orient(c, d, b);
  return ((o1 > 0 && o2 < 0) || (o1 < 0 && o2 > 0)) && ((o3 > 0 && o4 < 0) || (o3 < 0 && o4 > 0));
}

}  // namespace testpolygons
