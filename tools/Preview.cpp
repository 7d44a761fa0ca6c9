#include "Preview.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "orvik/polygon/SSE3dPolygon.h"

namespace orvik::tool {

namespace {
// Seven stops of a perceptually ordered map, evenly spaced; linear between.
constexpr unsigned char c_stops[7][3] = {{48, 18, 59},  {65, 105, 225}, {30, 170, 200}, {60, 200, 100},
                                         {190, 220, 50}, {250, 180, 40}, {250, 240, 150}};

// Values are rounded by adding one half and truncating: they are never
// negative, and a preview does not need a library call per channel.
void colourOf(float t, unsigned char* rgb) {
  t = std::clamp(t, 0.0f, 1.0f) * 6.0f;
  const int i = std::min(static_cast<int>(t), 5);
  const float f = t - static_cast<float>(i);
  for (int c = 0; c < 3; ++c)
    rgb[c] = static_cast<unsigned char>(c_stops[i][c] + f * (c_stops[i + 1][c] - c_stops[i][c]) + 0.5f);
}
}  // namespace

Picture RenderHeights(const CSSEMatrix& m, bool colour) {
  Picture p;
  p.width = m.GetSizeX();
  p.height = m.GetSizeY();
  p.channels = colour ? 3 : 1;
  p.pixels.assign(static_cast<std::size_t>(p.width) * p.height * p.channels, 0);
  if (!m.HasMemory() || m.IsEmpty()) return p;
  float lo = std::numeric_limits<float>::max(), hi = std::numeric_limits<float>::lowest();
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const float v = m.GetPointUnsafe(x, y);
      if (!std::isfinite(v)) continue;
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  const float span = hi > lo ? hi - lo : 1.0f;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const float v = m.GetPointUnsafe(x, y);
      unsigned char* px = &p.pixels[(static_cast<std::size_t>(y) * p.width + x) * p.channels];
      if (!std::isfinite(v)) continue;
      const float t = (v - lo) / span;
      if (colour)
        colourOf(t, px);
      else
        *px = static_cast<unsigned char>(t * 255.0f + 0.5f);
    }
  return p;
}

Picture RenderMask(const CSSEMatrix& m) {
  Picture p;
  p.width = m.GetSizeX();
  p.height = m.GetSizeY();
  p.pixels.assign(static_cast<std::size_t>(p.width) * p.height, 0);
  if (!m.HasMemory()) return p;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      p.pixels[static_cast<std::size_t>(y) * p.width + x] = m.GetPointUnsafe(x, y) != 0.0f ? 255 : 0;
  return p;
}

void DrawOutline(Picture& p, const CSSE3dPolygon& outline) {
  const int n = outline.GetNumPoints();
  auto plot = [&](double x, double y) {
    const double cx = std::floor(x + 0.5), cy = std::floor(y + 0.5);
    if (!(cx >= 0 && cy >= 0 && cx < p.width && cy < p.height)) return;
    unsigned char* px = &p.pixels[(static_cast<std::size_t>(cy) * p.width + static_cast<std::size_t>(cx)) * p.channels];
    std::fill(px, px + p.channels, 255);
  };
  for (int i = 0; i < n; ++i) {
    float ax = 0, ay = 0, az = 0, bx = 0, by = 0, bz = 0;
    outline.GetPoint(i, ax, ay, az);
    outline.GetPoint((i + 1) % n, bx, by, bz);
    // Half-pixel steps along the edge, at most the picture's size of them.
    const double length = std::min(std::hypot(double(bx) - ax, double(by) - ay), double(p.width) + p.height);
    const int steps = std::max(1, static_cast<int>(2 * length));
    for (int k = 0; k < steps; ++k) {
      const double t = double(k) / steps;
      plot(ax + t * (double(bx) - ax), ay + t * (double(by) - ay));
    }
  }
}

}  // namespace orvik::tool
