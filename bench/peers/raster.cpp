// Filling star outlines of 10^2, 10^3 and 10^4 points into a 2048 x 2048
// height field: the per-pixel fill, the same on threads (one per processor)
// and the outline method, against cv::fillPoly on a float image of the same
// size with the same points (8 fractional bits), in the same run. OpenCV runs
// on one thread.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "orvik/matrix/ssematrix.h"
#include "orvik/polygon/SSE3dPolygon.h"

namespace {

constexpr int c_size = 2048;

// A star around the centre, radii between 600 and 1000 pixels.
CSSE3dPolygon star(int n) {
  std::mt19937 rng(static_cast<unsigned>(n));
  std::uniform_real_distribution<float> radius(600.0f, 1000.0f);
  CSSE3dPolygon p;
  p.Create(n);
  for (int i = 0; i < n; ++i) {
    const float a = 6.2831853f * static_cast<float>(i) / static_cast<float>(n), r = radius(rng);
    p.SetPoint(i, 1024.0f + r * std::cos(a), 1024.0f + r * std::sin(a), 0.0f);
  }
  return p;
}

void BM_FillFinePerPixel(benchmark::State& state) {
  CSSE3dPolygon p = star(static_cast<int>(state.range(0)));
  CSSEMatrix m;
  m.Create(c_size, c_size);
  for (auto _ : state) {
    p.DrawInMatrixAndFillFine(1.0f, &m, false, false, -1e9f, 1e9f, false, false);
    benchmark::ClobberMemory();
  }
}

void BM_FillFineThreaded(benchmark::State& state) {
  CSSE3dPolygon p = star(static_cast<int>(state.range(0)));
  CSSEMatrix m;
  m.Create(c_size, c_size);
  for (auto _ : state) {
    p.DrawInMatrixAndFillFineForLoop(1.0f, &m, false, -1e9f, 1e9f);
    benchmark::ClobberMemory();
  }
}

void BM_FillFineOutline(benchmark::State& state) {
  CSSE3dPolygon p = star(static_cast<int>(state.range(0)));
  CSSEMatrix m;
  m.Create(c_size, c_size);
  for (auto _ : state) {
    p.DrawInMatrixAndFillFine(1.0f, &m, false, false, -1e9f, 1e9f, true, false);
    benchmark::ClobberMemory();
  }
}

void BM_OpenCVFillPoly(benchmark::State& state) {
  cv::setNumThreads(1);
  CSSE3dPolygon p = star(static_cast<int>(state.range(0)));
  std::vector<cv::Point> points(p.GetNumPoints());
  for (int i = 0; i < p.GetNumPoints(); ++i) {
    float x, y;
    p.GetPointXY(i, x, y);
    points[i] = cv::Point(static_cast<int>(std::lround(x * 256.0f)), static_cast<int>(std::lround(y * 256.0f)));
  }
  const cv::Point* rings[1] = {points.data()};
  const int counts[1] = {static_cast<int>(points.size())};
  cv::Mat m(c_size, c_size, CV_32F, cv::Scalar(0));
  for (auto _ : state) {
    cv::fillPoly(m, rings, counts, 1, cv::Scalar(1.0), cv::LINE_8, 8);
    benchmark::ClobberMemory();
  }
}

}  // namespace

BENCHMARK(BM_OpenCVFillPoly)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FillFinePerPixel)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FillFineThreaded)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FillFineOutline)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
