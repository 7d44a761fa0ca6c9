#pragma once
// Every height-field operation with a kernel per instruction-set level, as one
// table, and the random fields they run on. The dispatch test runs the table
// at every level the processor has; the build-equality program hashes its
// results.
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "orvik/matrix/Filters.h"
#include "orvik/matrix/ssematrix.h"

namespace orvik::test {

// Heights with ties, background (0.0) blobs, a few NaN and infinities, and
// spare lanes filled too.
inline CSSEMatrix kernelField(int sizeX, int sizeY, unsigned seed) {
  CSSEMatrix m;
  m.Create(sizeX, sizeY);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> height(-20.0f, 20.0f);
  for (int g = 0; g < m.GetSSESizeY(); ++g) {
    float* lanes = reinterpret_cast<float*>(m.GetMatrixDataDirectly()[g]);
    for (int i = 0; i < 4 * sizeX; ++i) {
      const unsigned kind = rng() % 64;
      lanes[i] = kind < 16    ? 0.0f
                 : kind < 28  ? static_cast<float>(static_cast<int>(rng() % 7)) * 0.5f
                 : kind == 28 ? std::numeric_limits<float>::quiet_NaN()
                 : kind == 29 ? -std::numeric_limits<float>::infinity()
                              : height(rng);
    }
  }
  return m;
}

struct KernelOperation {
  std::string name;
  // Changes m; other has the same size.
  std::function<void(CSSEMatrix& m, const CSSEMatrix& other)> run;
};

inline std::vector<KernelOperation> kernelOperations() {
  using M = CSSEMatrix;
  auto median = [](int h, int inset) {
    return [h, inset](M& m, const M&) {
      M dst;
      dst.Create(m.GetSizeX(), m.GetSizeY());
      (h == 1 ? CFilters::Median3x3 : CFilters::Median5x5)(m, dst, inset, m.GetSizeX() - inset, inset / 2,
                                                           m.GetSizeY() - inset);
      m = dst;
    };
  };
  auto maskFilter = [](int w, int h, bool normalise, bool threaded) {
    return [=](M& m, const M& other) {
      M mask, result(other);
      mask.Create(w, h);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          mask.SetPoint(x, y, 0.25f * static_cast<float>((x * 5 + y * 3) % 7) - 0.5f);
      m.MaskFilter(result, mask, normalise, threaded);
      m = result;
    };
  };
  auto erode = [](float r, bool vectorVariant, bool dilate) {
    return [=](M& m, const M&) {
      const int x1 = m.GetSizeX() - 2, y1 = m.GetSizeY() - 1;
      if (dilate)
        m.Dilate(r, 3.0f, 0.0f, 1, x1, 1, y1, vectorVariant, 0);
      else
        m.Erode(r, 0.0f, 7.0f, 0, x1 + 1, 2, y1, vectorVariant, 0);
    };
  };
  return {
      {"Median3x3", median(1, 0)},
      {"Median3x3 inset", median(1, 3)},
      {"Median5x5", median(2, 0)},
      {"Median5x5 inset", median(2, 3)},
      {"SimpleMedianFilter", [](M& m, const M&) { m.SimpleMedianFilter(); }},
      {"MaskFilter 5x5", maskFilter(5, 5, true, false)},
      {"MaskFilter 4x3 threaded", maskFilter(4, 3, false, true)},
      {"MaskFilter 9x7", maskFilter(9, 7, true, true)},
      {"ScaleMatrix",
       [](M& m, const M&) { m.ScaleMatrix(m.GetSizeX() * 3 / 2 + 1, m.GetSizeY() * 2 / 3 + 1); }},
      {"BoxFilter",
       [](M& m, const M& o) {
         M src(o);
         m.BoxFilter(src, true);
       }},
      {"OffsetMatrix", [](M& m, const M&) { m.OffsetMatrix(0.3f); }},
      {"AddMatrix", [](M& m, const M& o) { m.AddMatrix(o); }},
      {"TresholdAbove", [](M& m, const M&) { m.TresholdAbove(0.5f, 2.0f); }},
      {"TresholdAbove columns", [](M& m, const M&) { m.TresholdAbove(0.5f, 2.0f, 3); }},
      {"TresholdBelow", [](M& m, const M&) { m.TresholdBelow(0.5f, -2.0f, 1); }},
      {"MaximumOf", [](M& m, const M& o) { m.MaximumOf(o); }},
      {"MinimumOf", [](M& m, const M& o) { m.MinimumOf(o); }},
      {"MaskMatrix", [](M& m, const M& o) { m.MaskMatrix(o, 1.0f, 1, 2, 9.0f, 0.5f); }},
      {"MaskMatrix before", [](M& m, const M& o) { m.MaskMatrix(o, -1.0f, -3, -5, 9.0f, 0.5f); }},
      {"Erode 1", erode(1.0f, false, false)},
      {"Erode 1.5 vector", erode(1.5f, true, false)},
      {"Erode 2", erode(2.0f, false, false)},
      {"Erode 2.99 vector", erode(2.99f, true, false)},
      {"Erode 3", erode(3.0f, false, false)},
      {"Erode 5", erode(5.0f, false, false)},
      {"Erode 6.5 vector", erode(6.5f, true, false)},
      {"Dilate 2", erode(2.0f, false, true)},
      {"Dilate 4", erode(4.0f, true, true)},
      {"DistanceTransform",
       [](M& m, const M&) {
         M d;
         m.DistanceTransform(d, 1, m.GetSizeX() - 1, 0, m.GetSizeY());
         m = d;
       }},
  };
}

}  // namespace orvik::test
