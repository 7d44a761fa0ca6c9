#include "Preview.h"

#include <algorithm>
#include <cmath>
#include <limits>

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

}  // namespace orvik::tool
