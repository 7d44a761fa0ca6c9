// Neighbourhood filters, morphology, distance transforms and thinning against
// OpenCV on the same 2048 x 2048 input in the same run. OpenCV runs on as many
// threads as the library uses for the operation (one, except MaskFilter and
// Erode from radius 7 on, which use the processor count), and is free to use
// its AVX2/AVX-512 kernels as it does by default. Each pair is named
// <Operation> and OpenCV<Operation>; the ratio of their times is the
// comparison. The CPU column is the whole process's CPU time (every worker
// thread), which stays meaningful on a machine that is busy with other work.
// Pairs marked SpeedPeer compare speed only: the two compute different things.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#if __has_include(<opencv2/ximgproc.hpp>) && defined(ORVIK_HAVE_XIMGPROC)
#include <opencv2/ximgproc.hpp>
#endif

#include <cmath>
#include <random>

#include "orvik/foundation/ThreadPool.h"
#include "orvik/matrix/Filters.h"
#include "orvik/matrix/ssematrix.h"

namespace {

constexpr int c_size = 2048;

// A smooth height field with noise, the kind the filters clean.
const CSSEMatrix& heightField() {
  static const CSSEMatrix field = [] {
    CSSEMatrix m;
    m.Create(c_size, c_size);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    for (int y = 0; y < c_size; ++y)
      for (int x = 0; x < c_size; ++x)
        m.SetPointUnsafe(x, y, 10.0f * std::sin(0.01f * x) * std::cos(0.013f * y) + noise(rng));
    return m;
  }();
  return field;
}

// Round blobs of 1.0 on 0.0 covering about half of the field.
const CSSEMatrix& blobField() {
  static const CSSEMatrix field = [] {
    CSSEMatrix m;
    m.Create(c_size, c_size);
    std::mt19937 rng(11);
    for (int b = 0; b < 1500; ++b) {
      const int cx = static_cast<int>(rng() % c_size), cy = static_cast<int>(rng() % c_size);
      const int r = 8 + static_cast<int>(rng() % 40);
      for (int y = std::max(cy - r, 0); y <= std::min(cy + r, c_size - 1); ++y)
        for (int x = std::max(cx - r, 0); x <= std::min(cx + r, c_size - 1); ++x)
          if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) m.SetPointUnsafe(x, y, 1.0f);
    }
    return m;
  }();
  return field;
}

cv::Mat toMat(const CSSEMatrix& m) {
  cv::Mat out(m.GetSizeY(), m.GetSizeX(), CV_32FC1);
  for (int y = 0; y < m.GetSizeY(); ++y)
    for (int x = 0; x < m.GetSizeX(); ++x) out.at<float>(y, x) = m.GetPointUnsafe(x, y);
  return out;
}

cv::Mat toMask(const CSSEMatrix& m, bool foregroundIsZero) {
  cv::Mat out(m.GetSizeY(), m.GetSizeX(), CV_8UC1);
  for (int y = 0; y < m.GetSizeY(); ++y)
    for (int x = 0; x < m.GetSizeX(); ++x)
      out.at<unsigned char>(y, x) = (m.GetPointUnsafe(x, y) > 0.5f) != foregroundIsZero ? 255 : 0;
  return out;
}

// OpenCV on the library's thread count for the operation.
void oneThread() { cv::setNumThreads(1); }
void poolThreads() { cv::setNumThreads(CbCPU::GetCount()); }

// Runs `work` on a fresh copy of `source` each iteration; the copy is not timed.
template <typename F>
void inPlace(benchmark::State& state, const CSSEMatrix& source, F work) {
  CSSEMatrix m;
  for (auto _ : state) {
    state.PauseTiming();
    m.CopyFromSSEMatrix(source);
    state.ResumeTiming();
    work(m);
    benchmark::ClobberMemory();
  }
}

void SimpleMedianFilter(benchmark::State& state) {
  inPlace(state, heightField(), [](CSSEMatrix& m) { m.SimpleMedianFilter(); });
}
void OpenCVSimpleMedianFilter(benchmark::State& state) {
  oneThread();
  const cv::Mat src = toMat(heightField());
  cv::Mat dst;
  for (auto _ : state) cv::medianBlur(src, dst, 3);
}

void Median5x5(benchmark::State& state) {
  CSSEMatrix src(heightField()), dst;
  dst.Create(c_size, c_size);
  for (auto _ : state) CFilters::Median5x5(src, dst, 0, c_size, 0, c_size);
}
void OpenCVMedian5x5(benchmark::State& state) {
  oneThread();
  const cv::Mat src = toMat(heightField());
  cv::Mat dst;
  for (auto _ : state) cv::medianBlur(src, dst, 5);
}

void MaskFilter(benchmark::State& state) {
  const int k = static_cast<int>(state.range(0));
  CSSEMatrix src(heightField()), mask, result;
  mask.Create(k, k);
  for (int y = 0; y < k; ++y)
    for (int x = 0; x < k; ++x) mask.SetPoint(x, y, 1.0f + static_cast<float>((x * 3 + y) % 4));
  for (auto _ : state) src.MaskFilter(result, mask, true, true);
}
void OpenCVMaskFilter(benchmark::State& state) {
  poolThreads();
  const int k = static_cast<int>(state.range(0));
  const cv::Mat src = toMat(heightField());
  cv::Mat kernel(k, k, CV_32FC1), dst;
  for (int y = 0; y < k; ++y)
    for (int x = 0; x < k; ++x) kernel.at<float>(y, x) = 1.0f + static_cast<float>((x * 3 + y) % 4);
  kernel /= cv::sum(kernel)[0];
  for (auto _ : state) cv::filter2D(src, dst, CV_32F, kernel);
}

void BoxFilter(benchmark::State& state) {
  CSSEMatrix src(heightField()), dst;
  dst.Create(c_size, c_size);
  for (auto _ : state) {
    dst.BoxFilter(src, false);
    benchmark::ClobberMemory();
  }
}
// The library's box filter overwrites its horizontal means with unnormalised
// four-row sums: a different operation, compared for speed only.
void OpenCVBoxFilter(benchmark::State& state) {
  oneThread();
  const cv::Mat src = toMat(heightField());
  cv::Mat dst;
  for (auto _ : state) cv::boxFilter(src, dst, CV_32F, cv::Size(3, 3));
}

// ScaleMatrix replaces the matrix with a fresh result, so the fair peer is
// cv::resize into a fresh cv::Mat; the reused output is shown beside it. The
// library's fresh result is made of the blocks that its previous result freed
// when the copy before each call replaced it, so like OpenCV's reused output it
// pays no page faults after the first call. Both run on one thread. OpenCV samples at pixel centres, the library at x * scale:
// the same work on another grid.
constexpr int c_scaled = 2900;
void ScaleMatrix(benchmark::State& state) {
  inPlace(state, heightField(), [](CSSEMatrix& m) { m.ScaleMatrix(c_scaled, c_scaled); });
}
void OpenCVScaleMatrixFresh(benchmark::State& state) {
  oneThread();
  const cv::Mat src = toMat(heightField());
  for (auto _ : state) {
    cv::Mat dst;
    cv::resize(src, dst, cv::Size(c_scaled, c_scaled), 0, 0, cv::INTER_LINEAR);
    benchmark::DoNotOptimize(dst.data);
  }
}
void OpenCVScaleMatrixReused(benchmark::State& state) {
  oneThread();
  const cv::Mat src = toMat(heightField());
  cv::Mat dst;
  for (auto _ : state) cv::resize(src, dst, cv::Size(c_scaled, c_scaled), 0, 0, cv::INTER_LINEAR);
}

void Erode(benchmark::State& state) {
  const float r = static_cast<float>(state.range(0));
  inPlace(state, blobField(),
          [r](CSSEMatrix& m) { m.Erode(r, 0.0f, 1.0f, 0, c_size - 1, 0, c_size - 1, false, 0); });
}
void OpenCVErode(benchmark::State& state) {
  const int r = static_cast<int>(state.range(0));
  // Below radius 7 the library erodes on the calling thread alone.
  if (r < 7)
    oneThread();
  else
    poolThreads();
  // The same float field the library erodes; OpenCV's default border for
  // erosion (the largest float) does not count as background, as in the library.
  const cv::Mat src = toMat(blobField());
  // The library's disc: dx^2 + dy^2 <= floor(r^2).
  cv::Mat kernel(2 * r + 1, 2 * r + 1, CV_8UC1, cv::Scalar(0));
  for (int dy = -r; dy <= r; ++dy)
    for (int dx = -r; dx <= r; ++dx)
      if (dx * dx + dy * dy <= r * r) kernel.at<unsigned char>(dy + r, dx + r) = 1;
  cv::Mat dst;
  for (auto _ : state) cv::erode(src, dst, kernel);
}

void DistanceTransform(benchmark::State& state) {
  CSSEMatrix src(blobField()), dist;
  for (auto _ : state) src.DistanceTransform(dist, 0, c_size, 0, c_size);
}
void OpenCVDistanceTransform(benchmark::State& state) {
  oneThread();
  const cv::Mat src = toMask(blobField(), true);
  cv::Mat dst;
  for (auto _ : state) cv::distanceTransform(src, dst, cv::DIST_L1, 3);
}

void Chamfer(benchmark::State& state) {
  inPlace(state, blobField(), [](CSSEMatrix& m) { m.Chamfer(); });
}
// OpenCV's 3x3 Euclidean mask (weights 0.955 and 1.3693) against the
// library's integer 3-4 chamfer: compared for speed only.
void OpenCVChamfer(benchmark::State& state) {
  oneThread();
  const cv::Mat src = toMask(blobField(), true);
  cv::Mat dst;
  for (auto _ : state) cv::distanceTransform(src, dst, cv::DIST_L2, 3);
}

void ZhangSuen(benchmark::State& state) {
  inPlace(state, blobField(), [](CSSEMatrix& m) { m.ZhangSuen(0.5f); });
}
#if __has_include(<opencv2/ximgproc.hpp>) && defined(ORVIK_HAVE_XIMGPROC)
void OpenCVZhangSuen(benchmark::State& state) {
  oneThread();
  const cv::Mat src = toMask(blobField(), false);
  cv::Mat dst;
  for (auto _ : state) cv::ximgproc::thinning(src, dst, cv::ximgproc::THINNING_ZHANGSUEN);
}
#endif

}  // namespace

BENCHMARK(SimpleMedianFilter)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(OpenCVSimpleMedianFilter)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(Median5x5)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(OpenCVMedian5x5)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(MaskFilter)->Arg(5)->Arg(15)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(OpenCVMaskFilter)->Arg(5)->Arg(15)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BoxFilter)->Name("BoxFilter_SpeedPeer")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(OpenCVBoxFilter)->Name("OpenCVBoxFilter_SpeedPeer")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(ScaleMatrix)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(OpenCVScaleMatrixFresh)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(OpenCVScaleMatrixReused)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(Erode)->Arg(2)->Arg(3)->Arg(4)->Arg(5)->Arg(7)->Arg(15)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(OpenCVErode)->Arg(2)->Arg(3)->Arg(4)->Arg(5)->Arg(7)->Arg(15)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(DistanceTransform)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(OpenCVDistanceTransform)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(Chamfer)->Name("Chamfer_SpeedPeer")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(OpenCVChamfer)->Name("OpenCVChamfer_SpeedPeer")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(ZhangSuen)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
#if __has_include(<opencv2/ximgproc.hpp>) && defined(ORVIK_HAVE_XIMGPROC)
BENCHMARK(OpenCVZhangSuen)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
#endif
