// Measures of a polygon of 10^6 points (a random star polygon) against the
// OpenCV calls that compute the same from the same points: the shoelace sum
// against cv::contourArea, the bounding box against cv::boundingRect, the
// closed length against cv::arcLength. The polygon computes in 3D (z = 0
// here) from its x, y and z arrays; OpenCV runs on one thread.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "orvik/polygon/SSE3dPolygon.h"

namespace {

constexpr int c_points = 1000000;

struct Data {
  CSSE3dPolygon polygon;
  std::vector<cv::Point2f> points;
  Data() {
    cv::setNumThreads(1);
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> angle(0.0, 2 * M_PI), radius(2000.0, 3000.0);
    std::vector<double> a(c_points);
    for (double& v : a) v = angle(rng);
    std::sort(a.begin(), a.end());
    polygon.Create(c_points);
    for (int i = 0; i < c_points; ++i) {
      const double r = radius(rng);
      const float x = static_cast<float>(4000.0 + r * std::cos(a[i])), y = static_cast<float>(4000.0 + r * std::sin(a[i]));
      polygon.SetPoint(i, x, y, 0.0f);
      points.emplace_back(x, y);
    }
  }
};

Data& data() {
  static Data d;
  return d;
}

void BM_CalcXYArea(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(data().polygon.CalcXYArea());
}
void BM_CvContourArea(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(cv::contourArea(data().points));
}
void BM_CalcBoundingBox(benchmark::State& state) {
  for (auto _ : state) {
    data().polygon.CalcBoundingBox();
    benchmark::DoNotOptimize(data().polygon.GetTopRight());
  }
}
void BM_CvBoundingRect(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(cv::boundingRect(data().points));
}
void BM_CalcCircumference(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(data().polygon.CalcCircumference());
}
void BM_CvArcLength(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(cv::arcLength(data().points, true));
}

}  // namespace

BENCHMARK(BM_CalcXYArea)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CvContourArea)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CalcBoundingBox)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CvBoundingRect)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CalcCircumference)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CvArcLength)->Unit(benchmark::kMicrosecond);
