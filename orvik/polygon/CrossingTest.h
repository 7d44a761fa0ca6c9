#pragma once
// The edge rule of the even-odd crossing test, shared by the polygon's inside
// tests and the offsets that must agree with them point for point. Not part of
// the public interface.

namespace orvik::detail {

// Whether the edge a-b toggles the count of (px, py): px lies in the
// half-open x interval (min, max] of the edge, and the edge passes strictly
// beyond the point in +y. The same for a-b and b-a.
inline bool edgeTogglesCount(float xa, float ya, float xb, float yb, float px, float py) {
  if ((px > xb) != (xa >= px)) return false;
  const bool aFirst = xa < xb;
  const float x1 = aFirst ? xa : xb, y1 = aFirst ? ya : yb;
  const float x2 = aFirst ? xb : xa, y2 = aFirst ? yb : ya;
  return (y2 - y1) * (px - x1) > (x2 - x1) * (py - y1);
}

}  // namespace orvik::detail
