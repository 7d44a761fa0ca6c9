// Tracing the border of a region about 1000 x 1000 cells large, against a
// scan that merely collects the border cells of the same matrix; correlating
// a 64-column pattern with a 4096-column byte matrix, against a plain scalar
// loop computing the same errors.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "orvik/chain/PixelChain.h"
#include "orvik/chain/SSEcharMatrix.h"
#include "orvik/matrix/ssematrix.h"

namespace {

constexpr int c_field = 1100;

// An irregular blob spanning about 1000 x 1000 cells; returns its first cell
// in raster order.
void makeRegion(CSSEMatrix& m, int& x0, int& y0) {
  m.Create(c_field, c_field);
  x0 = y0 = -1;
  for (int y = 0; y < c_field; ++y)
    for (int x = 0; x < c_field; ++x) {
      const float dx = static_cast<float>(x) - 550.0f, dy = static_cast<float>(y) - 550.0f;
      const float a = std::atan2(dy, dx);
      const float r = 470.0f + 25.0f * std::sin(7.0f * a) + 10.0f * std::cos(13.0f * a);
      if (dx * dx + dy * dy >= r * r) continue;
      m.SetPoint(x, y, 1.0f);
      if (x0 < 0) x0 = x, y0 = y;
    }
}

void BM_CreatePixelChain(benchmark::State& state) {
  CSSEMatrix m;
  int x0, y0;
  makeRegion(m, x0, y0);
  CPixelChain chain;
  for (auto _ : state) {
    chain.CreatePixelChain(&m, 0.5f, x0, y0, 1000000, true, true, 0);
    benchmark::DoNotOptimize(chain.GetPixelData());
  }
  state.counters["points"] = chain.GetCount();
}

void BM_BorderCellScan(benchmark::State& state) {
  CSSEMatrix m;
  int x0, y0;
  makeRegion(m, x0, y0);
  std::vector<int> border;
  for (auto _ : state) {
    border.clear();
    for (int y = 1; y < c_field - 1; ++y)
      for (int x = 1; x < c_field - 1; ++x)
        if (m.GetPointUnsafe(x, y) > 0.5f &&
            (m.GetPointUnsafe(x - 1, y) <= 0.5f || m.GetPointUnsafe(x + 1, y) <= 0.5f ||
             m.GetPointUnsafe(x, y - 1) <= 0.5f || m.GetPointUnsafe(x, y + 1) <= 0.5f))
          border.push_back(y * c_field + x);
    benchmark::DoNotOptimize(border.data());
  }
  state.counters["points"] = static_cast<double>(border.size());
}

constexpr int c_wide = 4096, c_pattern = 64, c_rows = 64;

void makeCorrelationInput(CSSEcharMatrix& m, CSSEcharMatrix& pattern) {
  m.Create(c_wide, c_rows);
  std::mt19937 rng(42);
  for (int y = 0; y < c_rows; ++y)
    for (int x = 0; x < c_wide; ++x) m.SetPoint(x, y, static_cast<char>(rng() % 256));
  pattern.CopyFromOtherMatrixLimitedX(m, 3000, 3000 + c_pattern - 1);
}

void BM_Correlate(benchmark::State& state) {
  CSSEcharMatrix m, pattern;
  makeCorrelationInput(m, pattern);
  int best = 0;
  for (auto _ : state) benchmark::DoNotOptimize(m.Correlate(pattern, best, 1000000));
}

void BM_CorrelateScalar(benchmark::State& state) {
  CSSEcharMatrix m, pattern;
  makeCorrelationInput(m, pattern);
  // Row-major copies, every lane of every SSE line as one row.
  const int rows = 16 * m.GetSSESizeY();
  std::vector<signed char> a(static_cast<std::size_t>(rows) * c_wide), p(static_cast<std::size_t>(rows) * c_pattern);
  for (int r = 0; r < rows; ++r) {
    for (int x = 0; x < c_wide; ++x) a[r * c_wide + x] = m.GetPoint(x, r);
    for (int x = 0; x < c_pattern; ++x) p[r * c_pattern + x] = pattern.GetPoint(x, r);
  }
  for (auto _ : state) {
    int best = 2000000000, shift = -1;
    for (int s = 0; s < c_wide - c_pattern; ++s) {
      long long sum = 0;
      for (int r = 0; r < rows; ++r)
        for (int k = 0; k < c_pattern; ++k)
          sum += std::abs(std::clamp(p[r * c_pattern + k] - a[r * c_wide + k + s], -128, 127));
      const int e = static_cast<int>(sum / c_pattern);
      if (e < best) best = e, shift = s;
    }
    benchmark::DoNotOptimize(shift);
  }
}

}  // namespace

BENCHMARK(BM_CreatePixelChain)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BorderCellScan)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Correlate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CorrelateScalar)->Unit(benchmark::kMillisecond);
