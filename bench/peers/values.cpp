// Value operations on a 4096 x 4096 height field against the matching OpenCV
// call on the same values and against memcpy of the matrix's bytes, all in the
// same run. OpenCV runs on one thread, as the library does, so that the ratios
// compare per-core work.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "orvik/matrix/ssematrix.h"

namespace {
constexpr int c_size = 4096;

std::size_t matrixBytes() { return static_cast<std::size_t>(c_size) * ((c_size >> 2) + 1) * 16; }

// The same heights in both forms: values in [-50, 50) that vary along x and y.
struct Data {
  CSSEMatrix a, b;
  cv::Mat ca, cb;
  Data() {
    cv::setNumThreads(1);
    a.Create(c_size, c_size);
    b.Create(c_size, c_size);
    ca.create(c_size, c_size, CV_32F);
    cb.create(c_size, c_size, CV_32F);
    for (int y = 0; y < c_size; ++y)
      for (int x = 0; x < c_size; ++x) {
        const float va = static_cast<float>((x * 7 + y * 13) % 100 - 50);
        const float vb = static_cast<float>((x * 11 + y * 3) % 100 - 50);
        a.SetPointUnsafe(x, y, va);
        b.SetPointUnsafe(x, y, vb);
        ca.at<float>(y, x) = va;
        cb.at<float>(y, x) = vb;
      }
  }
};

Data& data() {
  static Data d;
  return d;
}

void bytes(benchmark::State& state) { state.SetBytesProcessed(state.iterations() * matrixBytes()); }

void BM_Memcpy(benchmark::State& state) {
  std::vector<char> from(matrixBytes(), 1), to(matrixBytes());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::ClobberMemory();
  }
  bytes(state);
}

void BM_OffsetMatrix(benchmark::State& state) {
  Data& d = data();
  for (auto _ : state) d.a.OffsetMatrix(0.25f), benchmark::ClobberMemory();
  bytes(state);
}
void BM_OpenCV_AddScalar(benchmark::State& state) {
  Data& d = data();
  for (auto _ : state) cv::add(d.ca, cv::Scalar(0.25), d.ca), benchmark::ClobberMemory();
  bytes(state);
}

void BM_AddMatrix(benchmark::State& state) {
  Data& d = data();
  for (auto _ : state) d.a.AddMatrix(d.b), benchmark::ClobberMemory();
  bytes(state);
}
void BM_OpenCV_Add(benchmark::State& state) {
  Data& d = data();
  for (auto _ : state) cv::add(d.ca, d.cb, d.ca), benchmark::ClobberMemory();
  bytes(state);
}

void BM_TresholdAbove(benchmark::State& state) {
  Data& d = data();
  CSSEMatrix m(d.b);
  for (auto _ : state) m.TresholdAbove(0.5f, 1.0f), benchmark::ClobberMemory();
  bytes(state);
}
void BM_OpenCV_Threshold(benchmark::State& state) {
  Data& d = data();
  cv::Mat m = d.cb.clone();
  for (auto _ : state) cv::threshold(m, m, 0.5, 1.0, cv::THRESH_BINARY), benchmark::ClobberMemory();
  bytes(state);
}

void BM_MaximumOf(benchmark::State& state) {
  Data& d = data();
  for (auto _ : state) d.a.MaximumOf(d.b), benchmark::ClobberMemory();
  bytes(state);
}
void BM_OpenCV_Max(benchmark::State& state) {
  Data& d = data();
  for (auto _ : state) cv::max(d.ca, d.cb, d.ca), benchmark::ClobberMemory();
  bytes(state);
}

// Elements whose mask value lies below a threshold take a value. OpenCV needs
// the comparison as a byte mask first, so its time includes making that mask.
void BM_MaskMatrix(benchmark::State& state) {
  Data& d = data();
  for (auto _ : state) d.a.MaskMatrix(d.b, 0.0f, 0, 0, 1.0f, 0.0f), benchmark::ClobberMemory();
  bytes(state);
}
void BM_OpenCV_SetToWhereBelow(benchmark::State& state) {
  Data& d = data();
  cv::Mat below;
  for (auto _ : state) cv::compare(d.cb, 0.0, below, cv::CMP_LT), d.ca.setTo(1.0, below), benchmark::ClobberMemory();
  bytes(state);
}

// The sum is defined by its order (every vector added in turn to one four-lane
// accumulator), so it is bound by the latency of one addition per vector, not by
// memory; a peer free to reorder its sum is not.
void BM_IntegrateMatrix(benchmark::State& state) {
  Data& d = data();
  for (auto _ : state) benchmark::DoNotOptimize(d.b.IntegrateMatrix());
  bytes(state);
}
void BM_OpenCV_Sum(benchmark::State& state) {
  Data& d = data();
  for (auto _ : state) benchmark::DoNotOptimize(cv::sum(d.cb));
  bytes(state);
}

void BM_CalcMinMaxValues(benchmark::State& state) {
  Data& d = data();
  float mx = 0, mn = 0;
  for (auto _ : state) d.b.CalcMinMaxValues(&mx, &mn), benchmark::DoNotOptimize(mx), benchmark::DoNotOptimize(mn);
  bytes(state);
}
void BM_OpenCV_MinMaxLoc(benchmark::State& state) {
  Data& d = data();
  double mx = 0, mn = 0;
  for (auto _ : state) cv::minMaxLoc(d.cb, &mn, &mx), benchmark::DoNotOptimize(mx), benchmark::DoNotOptimize(mn);
  bytes(state);
}

}  // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OffsetMatrix)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCV_AddScalar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddMatrix)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCV_Add)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TresholdAbove)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCV_Threshold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MaximumOf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCV_Max)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MaskMatrix)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCV_SetToWhereBelow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntegrateMatrix)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCV_Sum)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CalcMinMaxValues)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCV_MinMaxLoc)->Unit(benchmark::kMillisecond);
