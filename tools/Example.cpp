#include "Example.h"

#include <cmath>
#include <cstdint>

namespace orvik::tool {

namespace {
// A small xorshift generator: the same noise on every platform and compiler,
// which std::normal_distribution does not promise.
struct Noise {
  std::uint32_t state = 0x9E3779B9u;
  float next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<float>(state) / 4294967296.0f - 0.5f;
  }
};
}  // namespace

void MakeExampleStump(CSSEMatrix& m, int size) {
  m.Create(size, size);
  Noise noise;
  const float centre = 0.5f * static_cast<float>(size - 1);
  const float radius = 0.32f * static_cast<float>(size);  // margin line
  const float base = 1.0f;                                  // base plane, mm
  const float domeHeight = 6.0f;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const float dx = (static_cast<float>(x) - centre) / radius;
      // slightly oval, as a real preparation is
      const float dy = (static_cast<float>(y) - centre) / (0.85f * radius);
      const float r = std::sqrt(dx * dx + dy * dy);
      float h = base;
      if (r < 1.0f) h += domeHeight * std::sqrt(1.0f - r * r) * (0.8f + 0.2f * (1.0f - r));
      // the margin ridge: a narrow shoulder just outside the stump
      const float ridge = (r - 1.04f) / 0.03f;
      h += 0.6f * std::exp(-ridge * ridge);
      h += 0.02f * noise.next();
      m.SetPointUnsafe(x, y, h);
    }
  }
}

}  // namespace orvik::tool
