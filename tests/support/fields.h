#pragma once
// Fields the suites fill matrices with. Builders that take a seed are
// reproducible; every builder writes the spare lanes too unless it says not,
// so that a kernel reading or writing them shows.
#include <algorithm>
#include <cmath>
#include <random>

#include "support/lanes.h"

// A new matrix of the size with every lane `value`.
inline CSSEMatrix filled(int sizeX, int sizeY, float value = 0.0f) {
  CSSEMatrix m;
  m.Create(sizeX, sizeY);
  if (value != 0.0f) m.Fill(value);
  return m;
}

// A new matrix whose lanes repeat `values` in line order.
inline CSSEMatrix withLanes(int sizeX, int sizeY, const std::vector<float>& values) {
  CSSEMatrix m = filled(sizeX, sizeY);
  std::size_t i = 0;
  for (int g = 0; g < m.GetSSESizeY(); ++g)
    for (int k = 0; k < 4 * sizeX; ++k)
      reinterpret_cast<float*>(m.GetMatrixDataDirectly()[g])[k] = values[i++ % values.size()];
  return m;
}

// A new matrix with element (x, y) = value(x, y); the spare lanes stay 0.
template <class Value>
CSSEMatrix field(int sizeX, int sizeY, Value value) {
  CSSEMatrix m = filled(sizeX, sizeY);
  for (int y = 0; y < sizeY; ++y)
    for (int x = 0; x < sizeX; ++x) m.SetPoint(x, y, static_cast<float>(value(x, y)));
  return m;
}

// Uniform values in [-100, 100]; with `levels` set, the integers 0 .. levels - 1
// instead, so that ties occur.
inline void randomize(CSSEMatrix& m, unsigned seed, int levels = 0) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> real(-100.0f, 100.0f);
  std::uniform_int_distribution<int> level(0, std::max(levels - 1, 0));
  for (int row = 0; row < laneRows(m); ++row)
    for (int x = 0; x < m.GetSizeX(); ++x)
      lane(m, x, row) = levels ? static_cast<float>(level(rng)) : real(rng);
}

inline void randomize(CSSEcharMatrix& m, unsigned seed) {
  std::mt19937 rng(seed);
  for (int x = 0; x < m.GetSizeX(); ++x)
    for (int row = 0; row < laneRows(m); ++row) lane(m, x, row) = static_cast<signed char>(rng() % 256 - 128);
}

// Lanes in line order take scale * ((37 i) mod 101 - 50): neighbours differ,
// signs mix, and no two lanes within 101 of each other are equal.
inline void pattern(CSSEMatrix& m, float scale = 1.0f) {
  int i = 0;
  for (int g = 0; g < m.GetSSESizeY(); ++g) {
    float* p = reinterpret_cast<float*>(m.GetMatrixDataDirectly()[g]);
    for (int k = 0; k < 4 * m.GetSSESizeX(); ++k, ++i) p[k] = scale * static_cast<float>((i * 37) % 101 - 50);
  }
}

// Values in [0, 1) that vary with position, so that thresholds near 0.5 split them.
inline void mixed(CSSEMatrix& m, int seed) {
  for (int row = 0; row < laneRows(m); ++row)
    for (int x = 0; x < m.GetSizeX(); ++x)
      lane(m, x, row) = static_cast<float>((x * 7 + row * 13 + seed) % 17) / 17.0f;
}

// Discs of 1.0 (now and then 2.0) on 0.0, spare lanes included: shapes for
// the morphology.
inline void blobs(CSSEMatrix& m, unsigned seed, int count, int maxRadius) {
  std::mt19937 rng(seed);
  for (int row = 0; row < laneRows(m); ++row)
    for (int x = 0; x < m.GetSizeX(); ++x) lane(m, x, row) = 0.0f;
  for (int b = 0; b < count; ++b) {
    const int cx = static_cast<int>(rng() % m.GetSizeX()), cy = static_cast<int>(rng() % laneRows(m));
    const int r = 1 + static_cast<int>(rng() % maxRadius);
    for (int y = cy - r; y <= cy + r; ++y)
      for (int x = cx - r; x <= cx + r; ++x)
        if (x >= 0 && x < m.GetSizeX() && y >= 0 && y < laneRows(m) &&
            (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r)
          lane(m, x, y) = rng() % 7 ? 1.0f : 2.0f;
  }
}

// A smooth height field with some relief, like a scanned surface: values in
// roughly [-amplitude, amplitude]; the spare lanes stay 0.
inline void surface(CSSEMatrix& m, int sizeX, int sizeY, float amplitude = 5.0f) {
  m.Create(sizeX, sizeY);
  for (int y = 0; y < sizeY; ++y)
    for (int x = 0; x < sizeX; ++x)
      m.SetPoint(x, y,
                 amplitude * (0.6f * std::sin(0.11f * x) * std::cos(0.07f * y) +
                              0.4f * std::sin(0.5f * x + 0.3f * y)));
}

inline float maxAbsDifference(const CSSEMatrix& a, const CSSEMatrix& b) {
  float worst = 0.0f;
  for (int y = 0; y < a.GetSizeY(); ++y)
    for (int x = 0; x < a.GetSizeX(); ++x)
      worst = std::max(worst, std::fabs(a.GetPoint(x, y) - b.GetPoint(x, y)));
  return worst;
}
