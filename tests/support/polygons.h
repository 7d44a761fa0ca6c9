#pragma once
// Rings of points, the shapes the suites share, and brute-force references (area, distances, crossings, the
// even-odd inside test) in double or exact arithmetic.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <ostream>
#include <random>
#include <vector>

#include "orvik/polygon/SSE3dPolygon.h"

namespace testpolygons {

struct Pt {
  float x, y, z = 0.0f;
  bool operator==(const Pt&) const = default;
};
using Ring = std::vector<Pt>;

inline std::ostream& operator<<(std::ostream& os, const Pt& p) {
  return os << "(" << p.x << ", " << p.y << ", " << p.z << ")";
}

// The polygon of exactly these points.
inline CSSE3dPolygon polygonOf(const Ring& r) {
  CSSE3dPolygon p;
  p.Create(static_cast<int>(r.size()));
  for (int i = 0; i < p.GetNumPoints(); ++i) p.SetPoint(i, r[i].x, r[i].y, r[i].z);
  return p;
}

// The ring's xy with heights z0, z0 + 0.25, ...: a lost or swapped vertex shows in the heights.
inline CSSE3dPolygon toPolygon(const Ring& r, float z0 = 0.0f) {
  CSSE3dPolygon p;
  p.Create(static_cast<int>(r.size()));
  for (int i = 0; i < p.GetNumPoints(); ++i) p.SetPoint(i, r[i].x, r[i].y, z0 + 0.25f * i);
  return p;
}

inline Ring pointsOf(const CSSE3dPolygon& p) {
  Ring v(p.GetNumPoints());
  for (int i = 0; i < p.GetNumPoints(); ++i) p.GetPoint(i, v[i].x, v[i].y, v[i].z);
  return v;
}

// Equal point for point, NaN included.
inline bool sameBits(const Ring& a, const Ring& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Pt)) == 0);
}

// The largest distance between corresponding points: infinite for rings of other sizes, NaN for a NaN.
inline double maxDistance(const Ring& a, const Ring& b) {
  double d = a.size() == b.size() ? 0.0 : INFINITY;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    const double e = std::hypot(double(a[i].x) - b[i].x, double(a[i].y) - b[i].y, double(a[i].z) - b[i].z);
    d = std::isnan(d) || e <= d ? d : e;
  }
  return d;
}

// The points of the polygon of `r` after op(polygon).
template <class Op>
Ring after(const Ring& r, Op op) {
  CSSE3dPolygon p = polygonOf(r);
  op(p);
  return pointsOf(p);
}

inline Ring square() { return {{0, 0}, {1, 0}, {1, 1}, {0, 1}}; }
inline Ring rect(float x0, float y0, float x1, float y1) { return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}; }
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

// Simple and counter-clockwise: random angles in order about `centre`, radii in [0.3, 1] radius.
inline Ring star(int n, unsigned seed, float radius = 100.0f, Pt centre = {}) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> angle(0.0, 2 * M_PI), r(0.3, 1.0);
  std::vector<double> a(n);
  for (double& v : a) v = angle(rng);
  std::sort(a.begin(), a.end());
  Ring ring;
  for (int i = 0; i < n; ++i) {
    if (i > 0 && a[i] - a[i - 1] < 1e-6) continue;
    const double rr = radius * r(rng);
    ring.push_back({float(centre.x + rr * std::cos(a[i])), float(centre.y + rr * std::sin(a[i]))});
  }
  return ring;
}

// Points uniform in [lo, hi]^3, integers when `integral`: a ring that crosses itself, and on integers passes
// through vertices, pixel centres and repeated points.
inline Ring randomRing(int n, unsigned seed, float lo, float hi, bool integral = false) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(lo, hi);
  std::uniform_int_distribution<int> k{int(lo), int(hi)};
  Ring v(n);
  for (Pt& p : v) p = integral ? Pt{float(k(rng)), float(k(rng)), float(k(rng))} : Pt{u(rng), u(rng), u(rng)};
  return v;
}

// The ring started at its k-th point, 0 <= k < size.
inline Ring rotated(Ring r, int k) {
  std::rotate(r.begin(), r.begin() + k, r.end());
  return r;
}

inline Ring reversed(Ring r) {
  std::reverse(r.begin(), r.end());
  return r;
}

inline double orient(const Pt& a, const Pt& b, const Pt& c) {
  return (double(b.x) - a.x) * (double(c.y) - a.y) - (double(c.x) - a.x) * (double(b.y) - a.y);
}

// Twice the signed xy area of the closed ring.
inline double area2(const Ring& r) {
  double s = 0;
  for (std::size_t i = 0, j = r.size() - 1; i < r.size(); j = i++)
    s += double(r[j].x) * r[i].y - double(r[i].x) * r[j].y;
  return s;
}

// The even-odd crossing count (without the closing edge when not `closed`) in the precision of the query
// point: an edge counts when x1 < px <= x2 and toggles when it passes strictly beyond the point in +y. In
// float this is the polygons' own rule to the last bit; on small integers it is exact.
template <class T>
bool inside(const Ring& r, T px, T py, bool closed = true) {
  bool in = false;
  for (std::size_t i = closed ? 0 : 1, j = closed ? r.size() - 1 : 0; i < r.size(); j = i++) {
    const Pt& a = r[j].x < r[i].x ? r[j] : r[i];
    const Pt& b = r[j].x < r[i].x ? r[i] : r[j];
    if (!(T(a.x) < px && px <= T(b.x))) continue;
    if ((T(b.y) - T(a.y)) * (px - T(a.x)) > (T(b.x) - T(a.x)) * (py - T(a.y))) in = !in;
  }
  return in;
}

inline bool onSegment(const Pt& a, const Pt& b, const Pt& c) {
  return orient(a, b, c) == 0 && std::min(a.x, b.x) <= c.x && c.x <= std::max(a.x, b.x) &&
         std::min(a.y, b.y) <= c.y && c.y <= std::max(a.y, b.y);
}

// a-b and c-d cross at a point interior to both.
inline bool properCross(const Pt& a, const Pt& b, const Pt& c, const Pt& d) {
  const double o1 = orient(a, b, c), o2 = orient(a, b, d), o3 = orient(c, d, a), o4 = orient(c, d, b);
  return ((o1 > 0 && o2 < 0) || (o1 < 0 && o2 > 0)) && ((o3 > 0 && o4 < 0) || (o3 < 0 && o4 > 0));
}

// a-b and c-d share a point, ends included (exact on integers).
inline bool segmentsMeet(const Pt& a, const Pt& b, const Pt& c, const Pt& d) {
  return properCross(a, b, c, d) || onSegment(a, b, c) || onSegment(a, b, d) || onSegment(c, d, a) ||
         onSegment(c, d, b);
}

// The xy distance from (x, y) to the segment a-b.
inline double distanceToSegment(const Pt& a, const Pt& b, double x, double y) {
  const double dx = double(b.x) - a.x, dy = double(b.y) - a.y, len2 = dx * dx + dy * dy;
  const double t = len2 > 0 ? std::clamp(((x - a.x) * dx + (y - a.y) * dy) / len2, 0.0, 1.0) : 0.0;
  return std::hypot(a.x + t * dx - x, a.y + t * dy - y);
}

// The xy distance from (x, y) to the closed ring's nearest edge.
inline double distanceToRing(const Ring& r, double x, double y) {
  double best = INFINITY;
  for (std::size_t i = 0; i < r.size(); ++i)
    best = std::min(best, distanceToSegment(r[i], r[(i + 1) % r.size()], x, y));
  return best;
}

}  // namespace testpolygons
