#pragma once
// The closed outline of the polygon offset benchmarks, built once per size.
#include <cmath>
#include <map>

#include "orvik/polygon/SSE3dPolygon.h"

namespace bench_outlines {

// n points about 0.65 apart on a circle with seven waves of 8 % of its
// radius: the density and gentle bends of a traced margin.
inline const CSSE3dPolygon& wavyOutline(int n) {
  static std::map<int, CSSE3dPolygon> made;
  auto [it, added] = made.try_emplace(n);
  if (!added) return it->second;
  const double radius = 0.65 * n / (2 * M_PI);
  it->second.Create(n);
  for (int i = 0; i < n; ++i) {
    const double a = 2 * M_PI * i / n, rr = radius * (1.0 + 0.08 * std::sin(7 * a));
    it->second.SetPoint(i, float(rr * std::cos(a)), float(rr * std::sin(a)), 0.0f);
  }
  return it->second;
}

}  // namespace bench_outlines
