#pragma once
// Twice the signed xy area of a closed ring (the shoelace sum), in double so
// that products of large coordinates keep their low bits. Not part of the
// public interface.
#include <cstddef>
#include <vector>

namespace orvik::detail {

// corner(i) gives corner i (anything with x and y) of a ring of n corners.
template <class Corner>
double twiceSignedArea(std::size_t n, Corner corner) {
  double s = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const auto &a = corner(i), &b = corner((i + 1) % n);
    s += double(a.x) * b.y - double(b.x) * a.y;
  }
  return s;
}

template <class Point>
double twiceSignedArea(const std::vector<Point>& ring) {
  return twiceSignedArea(ring.size(), [&](std::size_t i) -> const Point& { return ring[i]; });
}

}  // namespace orvik::detail
