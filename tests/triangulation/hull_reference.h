#pragma once
// The 2D hull by the monotone chain, the reference the library's hulls are
// checked against.
#include <algorithm>
#include <vector>

namespace hull_reference {

struct Pt {
  float x, y;
  bool operator==(const Pt&) const = default;
};

inline double cross(const Pt& o, const Pt& a, const Pt& b) {
  return (double(a.x) - o.x) * (double(b.y) - o.y) - (double(a.y) - o.y) * (double(b.x) - o.x);
}

// The monotone chain without collinear points, counter-clockwise from the
// lowest point (smallest y, then smallest x).
inline std::vector<Pt> monotoneChain(std::vector<Pt> p) {
  std::sort(p.begin(), p.end(), [](const Pt& a, const Pt& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
  p.erase(std::unique(p.begin(), p.end()), p.end());
  if (p.size() < 3) return p;
  std::vector<Pt> h(2 * p.size());
  std::size_t k = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    while (k >= 2 && cross(h[k - 2], h[k - 1], p[i]) <= 0) --k;
    h[k++] = p[i];
  }
  for (std::size_t i = p.size() - 1, t = k + 1; i-- > 0;) {
    while (k >= t && cross(h[k - 2], h[k - 1], p[i]) <= 0) --k;
    h[k++] = p[i];
  }
  h.resize(k - 1);
  auto lowest = std::min_element(h.begin(), h.end(), [](const Pt& a, const Pt& b) { return a.y < b.y || (a.y == b.y && a.x < b.x); });
  std::rotate(h.begin(), lowest, h.end());
  return h;
}

}  // namespace hull_reference
