// Scan conversion of the mesh of a 2048 x 2048 height field (two triangles per
// cell, about 8.4 million) into a height field, against a plain scanline
// z-buffer rasteriser written here, in the same run. The counters give the
// quality of the sampled render against the exact one: the share of pixels
// the z-buffer covers that the render leaves empty (holes) and the largest
// height difference where both wrote.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "orvik/matrix/ssematrix.h"
#include "orvik/triangulation/HTriangulation.h"

namespace {

constexpr int c_size = 2048;

float height(int x, int y) {
  return 5.0f * (0.6f * std::sin(0.011f * x) * std::cos(0.007f * y) + 0.4f * std::sin(0.05f * x + 0.03f * y));
}

struct Data {
  CHTriangulation mesh;
  Data() {
    const int cells = c_size - 1;
    mesh.CreateTriangulation(2 * cells * cells);
    int t = 0;
    for (int y = 0; y < cells; ++y)
      for (int x = 0; x < cells; ++x) {
        const SSEPoint a(x, y, height(x, y)), b(x + 1, y, height(x + 1, y));
        const SSEPoint c(x, y + 1, height(x, y + 1)), d(x + 1, y + 1, height(x + 1, y + 1));
        const SSEPoint corners[2][3] = {{a, b, d}, {a, d, c}};
        for (const auto& tri : corners) {
          for (int k = 0; k < 3; ++k) *mesh.GetTriangle(t)->corner[k] = tri[k];
          ++t;
        }
      }
    mesh.CalcSTV();
    mesh.CalcBoundingBox();
    mesh.SetScanConvResolution(1.0f, 1.0f, 1.0f);
  }
};

Data& data() {
  static Data d;
  return d;
}

// The baseline: every pixel centre inside a triangle (edge functions, the
// top-left rule left out: shared edges are written twice) gets the plane's
// height there, keep-larger. Row-major floats of the render's size.
void zBuffer(const CHTriangulation& mesh, std::vector<float>& image, int w, int h) {
  std::fill(image.begin(), image.end(), -1e30f);
  SSEPoint lo;
  mesh.GetMinPoint(lo);
  for (int i = 0; i < mesh.GetNumTriangles(); ++i) {
    const t_htriangle* t = mesh.GetTriangle(i);
    float x[3], y[3], z[3];
    for (int k = 0; k < 3; ++k) x[k] = t->corner[k]->x - lo.x, y[k] = t->corner[k]->y - lo.y, z[k] = t->corner[k]->z - lo.z;
    const float area = (x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0]);
    if (area == 0.0f) continue;
    const float inv = 1.0f / area;
    const int x0 = std::max(0, static_cast<int>(std::ceil(std::min({x[0], x[1], x[2]}))));
    const int x1 = std::min(w - 1, static_cast<int>(std::floor(std::max({x[0], x[1], x[2]}))));
    const int y0 = std::max(0, static_cast<int>(std::ceil(std::min({y[0], y[1], y[2]}))));
    const int y1 = std::min(h - 1, static_cast<int>(std::floor(std::max({y[0], y[1], y[2]}))));
    for (int py = y0; py <= y1; ++py) {
      float* row = image.data() + static_cast<std::size_t>(py) * w;
      for (int px = x0; px <= x1; ++px) {
        const float w0 = ((x[1] - px) * (y[2] - py) - (x[2] - px) * (y[1] - py)) * inv;
        const float w1 = ((x[2] - px) * (y[0] - py) - (x[0] - px) * (y[2] - py)) * inv;
        const float w2 = 1.0f - w0 - w1;
        if (w0 < 0 || w1 < 0 || w2 < 0) continue;
        row[px] = std::max(row[px], w0 * z[0] + w1 * z[1] + w2 * z[2]);
      }
    }
  }
}

// Holes and the largest height difference of a render against the z-buffer,
// over the pixels the z-buffer covered (the render's empty pixels hold 0).
void quality(benchmark::State& state, const CSSEMatrix& render) {
  const int w = render.GetSizeX(), h = render.GetSizeY();
  std::vector<float> exact(static_cast<std::size_t>(w) * h);
  zBuffer(data().mesh, exact, w, h);
  long covered = 0, holes = 0;
  float worst = 0.0f;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const float e = exact[static_cast<std::size_t>(y) * w + x];
      if (e < -1e29f) continue;
      ++covered;
      const float v = render.GetPoint(x, y);
      if (v == 0.0f && std::fabs(e) > 1e-3f)
        ++holes;
      else
        worst = std::max(worst, std::fabs(v - e));
    }
  state.counters["hole_rate"] = static_cast<double>(holes) / std::max(covered, 1L);
  state.counters["max_height_error"] = worst;
}

void BM_ZBufferBaseline(benchmark::State& state) {
  Data& d = data();
  SSEPoint lo, hi;
  d.mesh.GetMinPoint(lo);
  d.mesh.GetMaxPoint(hi);
  const int w = static_cast<int>(hi.x - lo.x + 0.5f), h = static_cast<int>(hi.y - lo.y + 0.5f);
  std::vector<float> image(static_cast<std::size_t>(w) * h);
  for (auto _ : state) {
    zBuffer(d.mesh, image, w, h);
    benchmark::ClobberMemory();
  }
  state.counters["triangles"] = d.mesh.GetNumTriangles();
}

void BM_ScanConvertTriangulationMax(benchmark::State& state) {
  Data& d = data();
  CSSEMatrix image;
  for (auto _ : state) {
    d.mesh.ScanConvertTriangulationMax(&image, 0.0f);
    benchmark::ClobberMemory();
  }
  quality(state, image);
}

void BM_FastScanConvertTriangulation(benchmark::State& state) {
  Data& d = data();
  CSSEMatrix image;
  for (auto _ : state) {
    d.mesh.FastScanConvertTriangulation(&image, 0.0f, true);
    benchmark::ClobberMemory();
  }
  quality(state, image);
}

}  // namespace

BENCHMARK(BM_ZBufferBaseline)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScanConvertTriangulationMax)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FastScanConvertTriangulation)->Unit(benchmark::kMillisecond)->UseRealTime();
