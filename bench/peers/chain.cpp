// Border tracing and shift correlation against OpenCV on the same input in the
// same run: findContours of the region's binary image, and matchTemplate
// (squared differences) of the 64-column pattern over the 4096-column rows.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <random>
#include <vector>

#include "orvik/chain/PixelChain.h"
#include "orvik/chain/SSEcharMatrix.h"
#include "orvik/matrix/ssematrix.h"

namespace {

constexpr int c_field = 1100;

bool inRegion(int x, int y) {
  const float dx = static_cast<float>(x) - 550.0f, dy = static_cast<float>(y) - 550.0f;
  const float a = std::atan2(dy, dx);
  const float r = 470.0f + 25.0f * std::sin(7.0f * a) + 10.0f * std::cos(13.0f * a);
  return dx * dx + dy * dy < r * r;
}

void BM_CreatePixelChain(benchmark::State& state) {
  CSSEMatrix m;
  m.Create(c_field, c_field);
  int x0 = -1, y0 = -1;
  for (int y = 0; y < c_field; ++y)
    for (int x = 0; x < c_field; ++x)
      if (inRegion(x, y)) {
        m.SetPoint(x, y, 1.0f);
        if (x0 < 0) x0 = x, y0 = y;
      }
  CPixelChain chain;
  for (auto _ : state) {
    chain.CreatePixelChain(&m, 0.5f, x0, y0, 1000000, true, true, 0);
    benchmark::DoNotOptimize(chain.GetPixelData());
  }
  state.counters["points"] = chain.GetCount();
}

void BM_OpenCVFindContours(benchmark::State& state) {
  cv::Mat image(c_field, c_field, CV_8UC1, cv::Scalar(0));
  for (int y = 0; y < c_field; ++y)
    for (int x = 0; x < c_field; ++x)
      if (inRegion(x, y)) image.at<unsigned char>(y, x) = 1;
  std::vector<std::vector<cv::Point>> contours;
  for (auto _ : state) {
    cv::findContours(image, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    benchmark::DoNotOptimize(contours.data());
  }
  state.counters["points"] = contours.empty() ? 0.0 : static_cast<double>(contours[0].size());
}

constexpr int c_wide = 4096, c_pattern = 64, c_rows = 64;

std::vector<signed char> correlationRows() {
  std::mt19937 rng(42);
  std::vector<signed char> v(static_cast<std::size_t>(c_rows) * c_wide);
  for (auto& b : v) b = static_cast<signed char>(rng() % 256);
  return v;
}

void BM_Correlate(benchmark::State& state) {
  const std::vector<signed char> rows = correlationRows();
  CSSEcharMatrix m(c_wide, c_rows), pattern;
  for (int y = 0; y < c_rows; ++y)
    for (int x = 0; x < c_wide; ++x) m.SetPoint(x, y, rows[y * c_wide + x]);
  pattern.CopyFromOtherMatrixLimitedX(m, 3000, 3000 + c_pattern - 1);
  int best = 0;
  for (auto _ : state) benchmark::DoNotOptimize(m.Correlate(pattern, best, 1000000));
}

void BM_OpenCVMatchTemplate(benchmark::State& state) {
  std::vector<signed char> rows = correlationRows();
  // Unsigned bytes with the same differences.
  cv::Mat image(c_rows, c_wide, CV_8UC1);
  for (int y = 0; y < c_rows; ++y)
    for (int x = 0; x < c_wide; ++x)
      image.at<unsigned char>(y, x) = static_cast<unsigned char>(rows[y * c_wide + x] + 128);
  const cv::Mat pattern = image(cv::Rect(3000, 0, c_pattern, c_rows)).clone();
  cv::Mat result;
  for (auto _ : state) {
    cv::matchTemplate(image, pattern, result, cv::TM_SQDIFF);
    cv::Point where;
    cv::minMaxLoc(result, nullptr, nullptr, &where, nullptr);
    benchmark::DoNotOptimize(where);
  }
}

}  // namespace

BENCHMARK(BM_CreatePixelChain)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenCVFindContours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Correlate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCVMatchTemplate)->Unit(benchmark::kMillisecond);
