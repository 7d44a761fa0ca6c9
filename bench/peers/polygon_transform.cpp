// Whole-polygon transforms of 10^6 points against cv::perspectiveTransform on
// the same points with the same 4x4 matrix (a turn about a tilted axis with a
// shift, so every point takes the full product and the divide). The polygon
// works in place on its x, y, z arrays, OpenCV from one array of points into
// another; OpenCV runs on one thread.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include <opencv2/core.hpp>

#include "orvik/polygon/SSE3dPolygon.h"

namespace {

constexpr int c_points = 1000000;

struct Data {
  CSSE3dPolygon polygon;
  std::vector<cv::Point3f> points, out;
  CbMatrix4Rf matrix;
  cv::Matx44f cvMatrix;
  Data() : out(c_points) {
    cv::setNumThreads(1);
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> u(-500.0f, 500.0f);
    polygon.Create(c_points);
    for (int i = 0; i < c_points; ++i) {
      const cv::Point3f p(u(rng), u(rng), u(rng));
      polygon.SetPoint(i, p.x, p.y, p.z);
      points.push_back(p);
    }
    // Rows of a rotation by 0.3 about z, then 0.2 about x, and a shift.
    const float a = 0.3f, b = 0.2f, ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b);
    const float rows[4][4] = {
        {ca, -sa, 0, 1}, {cb * sa, cb * ca, -sb, 2}, {sb * sa, sb * ca, cb, 3}, {0, 0, 0, 1}};
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) matrix.m[c][r] = rows[r][c], cvMatrix(r, c) = rows[r][c];
  }
};

Data& data() {
  static Data d;
  return d;
}

void BM_TransformUseGivenMatrix(benchmark::State& state) {
  for (auto _ : state) {
    data().polygon.TransformUseGivenMatrix(data().matrix, false);
    benchmark::ClobberMemory();
  }
}
void BM_TransformVertices(benchmark::State& state) {
  for (auto _ : state) {
    data().polygon.TransformVertices(0.3f, 0.2f);
    benchmark::ClobberMemory();
  }
}
void BM_CvPerspectiveTransform(benchmark::State& state) {
  for (auto _ : state) {
    cv::perspectiveTransform(data().points, data().out, data().cvMatrix);
    benchmark::ClobberMemory();
  }
}

}  // namespace

BENCHMARK(BM_TransformUseGivenMatrix)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TransformVertices)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CvPerspectiveTransform)->Unit(benchmark::kMicrosecond);
