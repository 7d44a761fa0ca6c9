// The in-painting of the library's difference coding (line extrapolation, then
// 100 Jacobi sweeps of the four-neighbour mean) against cv::inpaint with the
// Telea method on the same holes of a smooth 1024 x 1024 surface: time, and the
// RMS error over the hole cells against the true surface. OpenCV runs on one
// thread, as the library does. The heights go to OpenCV as 16-bit values in
// steps of 0.2 um: its Telea path for 32-bit floats (4.6) fills holes with
// values far outside their surroundings, the 16-bit path does not, and the
// steps add no error that matters here.
#include <benchmark/benchmark.h>

#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/photo.hpp>
#include <random>

#include "orvik/storage/SSEMatrixLibrary.h"

namespace {

constexpr int c_size = 1024;

class Inpainting : public UxCSSEMatrixLibrary {
 public:
  using UxCSSEMatrixLibrary::smooth;
};

// A smooth surface in millimetres and holes in it: discs of radius 2 to 12
// cells, about a tenth of the area, as scanner shadows leave them.
struct Data {
  CSSEMatrix truth, holed, mask;
  static constexpr double c_scale = 5.0e3, c_offset = 2.5e4;  // heights in [-4, 6] mm
  cv::Mat cvHoled, cvMask;
  double holeCells = 0;
  Data() {
    cv::setNumThreads(1);
    truth.Create(c_size, c_size);
    mask.Create(c_size, c_size);
    cvMask = cv::Mat::zeros(c_size, c_size, CV_8U);
    for (int y = 0; y < c_size; ++y)
      for (int x = 0; x < c_size; ++x) {
        const float u = static_cast<float>(x) / c_size, v = static_cast<float>(y) / c_size;
        truth.SetPointUnsafe(
            x, y,
            3.0f * std::sin(4.0f * u) * std::cos(3.0f * v) + 2.0f * u * v + std::sin(9.0f * u + 7.0f * v));
      }
    std::mt19937 random(17);
    std::uniform_int_distribution<int> where(0, c_size - 1), radius(2, 12);
    for (int i = 0; i < 650; ++i) {
      const int cx = where(random), cy = where(random), r = radius(random);
      for (int y = std::max(cy - r, 0); y <= std::min(cy + r, c_size - 1); ++y)
        for (int x = std::max(cx - r, 0); x <= std::min(cx + r, c_size - 1); ++x)
          if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) {
            mask.SetPointUnsafe(x, y, 1.0f);
            cvMask.at<unsigned char>(y, x) = 255;
          }
    }
    holed = truth;
    cv::Mat heights(c_size, c_size, CV_32F);
    for (int y = 0; y < c_size; ++y)
      for (int x = 0; x < c_size; ++x) {
        const bool hole = mask.GetPointUnsafe(x, y) != 0.0f;
        holeCells += hole;
        if (hole) holed.SetPointUnsafe(x, y, 0.0f);
        heights.at<float>(y, x) = holed.GetPointUnsafe(x, y);
      }
    heights.convertTo(cvHoled, CV_16U, c_scale, c_offset);
  }
  template <class Value>
  double rms(Value value) const {
    double sum = 0.0;
    for (int y = 0; y < c_size; ++y)
      for (int x = 0; x < c_size; ++x)
        if (mask.GetPointUnsafe(x, y) != 0.0f) {
          const double d = value(x, y) - truth.GetPointUnsafe(x, y);
          sum += d * d;
        }
    return std::sqrt(sum / holeCells);
  }
};

const Data& data() {
  static const Data d;
  return d;
}

void BM_LibraryInpainting(benchmark::State& state) {
  const Data& d = data();
  CSSEMatrix filled;
  for (auto _ : state) {
    filled = d.holed;
    Inpainting::smooth(filled, d.mask, UxCSSEMatrixLibrary::c_iNumberOfSmoothingIterations, true);
    benchmark::DoNotOptimize(filled.GetMatrixDataDirectly()[0]);
  }
  state.counters["rms_error"] = d.rms([&](int x, int y) { return filled.GetPointUnsafe(x, y); });
  state.counters["hole_share"] = d.holeCells / (static_cast<double>(c_size) * c_size);
}

void BM_OpenCVInpaintTelea(benchmark::State& state) {
  const Data& d = data();
  cv::Mat filled;
  for (auto _ : state) {
    cv::inpaint(d.cvHoled, d.cvMask, filled, static_cast<double>(state.range(0)), cv::INPAINT_TELEA);
    benchmark::DoNotOptimize(filled.data);
  }
  state.counters["rms_error"] =
      d.rms([&](int x, int y) { return (filled.at<std::uint16_t>(y, x) - Data::c_offset) / Data::c_scale; });
}

}  // namespace

BENCHMARK(BM_LibraryInpainting)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCVInpaintTelea)->ArgName("radius")->Arg(3)->Arg(6)->Unit(benchmark::kMillisecond);
