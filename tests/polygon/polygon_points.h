#pragma once
// Polygons from point lists and back, for the polygon suites.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "orvik/polygon/SSE3dPolygon.h"

namespace polytest {

struct P3 {
  float x, y, z;
};

inline CSSE3dPolygon polygonOf(const std::vector<P3>& points) {
  CSSE3dPolygon p;
  p.Create(static_cast<int>(points.size()));
  for (int i = 0; i < p.GetNumPoints(); ++i) p.SetPoint(i, points[i].x, points[i].y, points[i].z);
  return p;
}

inline std::vector<P3> pointsOf(const CSSE3dPolygon& p) {
  std::vector<P3> v(p.GetNumPoints());
  for (int i = 0; i < p.GetNumPoints(); ++i) p.GetPoint(i, v[i].x, v[i].y, v[i].z);
  return v;
}

inline bool same(const std::vector<P3>& a, const std::vector<P3>& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const P3& p, const P3& q) {
           return p.x == q.x && p.y == q.y && p.z == q.z;
         });
}

inline std::vector<P3> randomPoints(int n, unsigned seed, float range) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-range, range);
  std::vector<P3> v(n);
  for (P3& p : v) p = {u(rng), u(rng), u(rng)};
  return v;
}

// A star-shaped ring about the origin, counter-clockwise: random radii in
// [0.3, 1] radius at increasing angles, on integers when `integral`.
inline std::vector<P3> starRing(int n, unsigned seed, float radius, bool integral = false) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> r(0.3, 1.0);
  std::vector<P3> v;
  for (int i = 0; i < n; ++i) {
    const double a = 2 * M_PI * i / n, rr = radius * r(rng);
    P3 p{float(rr * std::cos(a)), float(rr * std::sin(a)), float(i % 7)};
    if (integral) p.x = std::round(p.x), p.y = std::round(p.y);
    if (v.empty() || p.x != v.back().x || p.y != v.back().y) v.push_back(p);
  }
  return v;
}

// The xy distance from (x, y) to the segment a-b, in double.
inline double distanceToSegment(const P3& a, const P3& b, double x, double y) {
  const double dx = double(b.x) - a.x, dy = double(b.y) - a.y, len2 = dx * dx + dy * dy;
  const double t = len2 > 0 ? std::clamp(((x - a.x) * dx + (y - a.y) * dy) / len2, 0.0, 1.0) : 0.0;
  return std::hypot(a.x + t * dx - x, a.y + t * dy - y);
}

// The xy distance from (x, y) to the closed ring's nearest edge.
inline double distanceToRing(const std::vector<P3>& ring, double x, double y) {
  double best = INFINITY;
  for (std::size_t i = 0; i < ring.size(); ++i)
    best = std::min(best, distanceToSegment(ring[i], ring[(i + 1) % ring.size()], x, y));
  return best;
}

// The ring started at point k: new point i = old point (i + k) mod n.
inline std::vector<P3> rotated(const std::vector<P3>& v, int k) {
  std::vector<P3> out(v.size());
  for (std::size_t i = 0; i < v.size(); ++i) out[i] = v[(i + k) % v.size()];
  return out;
}

inline std::vector<P3> reversedRing(std::vector<P3> r) {
  std::reverse(r.begin(), r.end());
  return r;
}

// Twice the signed xy area of the closed ring, in double.
inline double area2(const std::vector<P3>& ring) {
  double s = 0.0;
  for (std::size_t i = 0; i < ring.size(); ++i) {
    const P3& a = ring[i];
    const P3& b = ring[(i + 1) % ring.size()];
    s += double(a.x) * b.y - double(b.x) * a.y;
  }
  return s;
}

}  // namespace polytest
