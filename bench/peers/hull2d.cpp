// The 2D hull of 10^6 points against cv::convexHull on the same points in the
// same run: uniform in a square (few hull points) and in a disc.
#include <benchmark/benchmark.h>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <random>
#include <vector>

#include "orvik/polygon/SSE3dPolygon.h"
#include "orvik/triangulation/HConvexHull2D.h"

namespace {

std::vector<cv::Point2f> points(int n, bool disc) {
  std::mt19937 rng(29);
  std::uniform_real_distribution<float> u(-1000, 1000);
  std::vector<cv::Point2f> p;
  while (int(p.size()) < n) {
    const float x = u(rng), y = u(rng);
    if (!disc || x * x + y * y < 1e6f) p.emplace_back(x, y);
  }
  return p;
}

void BM_Orvik(benchmark::State& state, bool disc) {
  const auto p = points(int(state.range(0)), disc);
  CSSE3dPolygon polygon;
  polygon.Create(int(p.size()));
  for (std::size_t i = 0; i < p.size(); ++i) polygon.SetPoint(int(i), p[i].x, p[i].y, 0.0f);
  for (auto _ : state) {
    CHConvexHull2D hull(&polygon);
    CSSE3dPolygon out;
    hull.ObtainConvexHull3D(&out);
    state.counters["hull"] = out.GetNumPoints();
  }
}

void BM_OpenCV(benchmark::State& state, bool disc) {
  const auto p = points(int(state.range(0)), disc);
  for (auto _ : state) {
    std::vector<cv::Point2f> hull;
    cv::convexHull(p, hull);
    state.counters["hull"] = double(hull.size());
  }
}

}  // namespace

BENCHMARK_CAPTURE(BM_Orvik, square, false)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenCV, square, false)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Orvik, disc, true)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenCV, disc, true)->Arg(1000000)->Unit(benchmark::kMillisecond);
