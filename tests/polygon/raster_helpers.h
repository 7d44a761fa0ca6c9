#pragma once
// Polygons for the drawing tests and the inside test written plainly, one
// point at a time, as the crossing rule states it.
#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "orvik/polygon/SSE3dPolygon.h"

namespace raster_test {

struct XY {
  float x, y;
};

inline CSSE3dPolygon polygon(const std::vector<XY>& points, float z = 0.0f) {
  CSSE3dPolygon p;
  p.Create(static_cast<int>(points.size()));
  for (int i = 0; i < p.GetNumPoints(); ++i) p.SetPoint(i, points[i].x, points[i].y, z);
  p.CalcBoundingBox();
  return p;
}

// A star around (cx, cy): sorted angles, radii in [rMin, rMax].
inline std::vector<XY> star(int n, float cx, float cy, float rMin, float rMax, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> angle(0.0f, 6.2831853f), radius(rMin, rMax);
  std::vector<float> a(n);
  for (float& v : a) v = angle(rng);
  std::sort(a.begin(), a.end());
  std::vector<XY> out;
  for (float t : a) {
    const float r = radius(rng);
    out.push_back({cx + r * std::cos(t), cy + r * std::sin(t)});
  }
  return out;
}

// Random points: a self-intersecting ring.
inline std::vector<XY> scribble(int n, float lo, float hi, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(lo, hi);
  std::vector<XY> out(n);
  for (XY& p : out) p = {u(rng), u(rng)};
  return out;
}

// Integer points: edges through pixel centres, vertical and horizontal
// edges, repeated points.
inline std::vector<XY> lattice(int n, int lo, int hi, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> u(lo, hi);
  std::vector<XY> out(n);
  for (XY& p : out) p = {static_cast<float>(u(rng)), static_cast<float>(u(rng))};
  return out;
}

struct Shape {
  std::string name;
  std::vector<XY> points;
};

inline std::vector<Shape> shapes() {
  return {
      {"star", star(40, 30.3f, 25.7f, 6.0f, 22.0f, 1)},
      {"dense star", star(700, 31.0f, 27.0f, 12.0f, 24.0f, 2)},
      {"scribble", scribble(25, -3.0f, 60.0f, 3)},
      {"lattice", lattice(30, 2, 50, 4)},
      {"lattice square", {{10, 10}, {20, 10}, {20, 20}, {10, 20}}},
      {"triangle", {{5.5f, 4.0f}, {48.25f, 30.0f}, {9.0f, 51.5f}}},
      {"partly outside", star(30, 2.0f, 50.0f, 5.0f, 18.0f, 5)},
  };
}

// The crossing test of point (px, py): inside the polygon's xy box (bounds
// included) and an odd number of edges with x1 < px <= x2 passing strictly
// beyond the point in +y, in single precision.
inline bool inside(const CSSE3dPolygon& p, float px, float py) {
  const int n = p.GetNumPoints();
  if (n < 3) return false;
  const SSEPoint lo = p.GetBottomLeft(), hi = p.GetTopRight();
  if (!(lo.x <= px && px <= hi.x && lo.y <= py && py <= hi.y)) return false;
  bool odd = false;
  float ax, ay, bx, by;
  p.GetPointXY(n - 1, ax, ay);
  for (int i = 0; i < n; ++i, ax = bx, ay = by) {
    p.GetPointXY(i, bx, by);
    if ((px > bx) != (ax >= px)) continue;
    const bool aFirst = ax < bx;
    const float x1 = aFirst ? ax : bx, y1 = aFirst ? ay : by, x2 = aFirst ? bx : ax, y2 = aFirst ? by : ay;
    if ((y2 - y1) * (px - x1) > (x2 - x1) * (py - y1)) odd = !odd;
  }
  return odd;
}

}  // namespace raster_test
