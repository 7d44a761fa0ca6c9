// Offsets through a raster against OpenCV doing the same job on the same
// outline: cv::fillPoly of the outline, cv::dilate (cv::erode) with the same
// disc and cv::findContours of the result, on a raster of the same size with
// one pixel per unit, as DilateWithMatrix (ErodeWithMatrix) draws, grows
// (shrinks) and traces. The outlines are the wavy closed outlines of 200,
// 2,000 and 20,000 points about 0.65 apart of the exact offsets' comparison,
// the radius is 3 pixels. The disc is every pixel within the radius of the
// centre (dx^2 + dy^2 <= floor(r^2)), the library's disc. The OpenCV side
// includes what its caller does around the calls: the outline into fixed
// point, the largest contour back into shifted float points. OpenCV runs on
// one thread; the counters give the points and the area of the result.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdint>
#include <map>
#include <vector>

#include "bench/wavy_outline.h"
#include "orvik/polygon/SSE3dPolygon.h"

namespace {

constexpr float c_fRadius = 3.0f;
constexpr int c_iFixedBits = 4;  // sub-pixel bits of the points given to cv::fillPoly

std::vector<cv::Point2f> pointsOf(const CSSE3dPolygon& p) {
  std::vector<cv::Point2f> points;
  for (int i = 0; i < p.GetNumPoints(); ++i) {
    float x = 0, y = 0;
    p.GetPointXY(i, x, y);
    points.emplace_back(x, y);
  }
  return points;
}

struct Outline {
  CSSE3dPolygon polygon;
  std::vector<cv::Point2f> points;
  explicit Outline(int n) : polygon(bench_outlines::wavyOutline(n)), points(pointsOf(polygon)) {}
};

const Outline& outline(int n) {
  static std::map<int, Outline> made;
  return made.try_emplace(n, n).first->second;
}

cv::Mat disc(float r) {
  const int reach = int(std::floor(r)), limit = int(std::floor(r * r));
  cv::Mat d(2 * reach + 1, 2 * reach + 1, CV_8U);
  for (int y = -reach; y <= reach; ++y)
    for (int x = -reach; x <= reach; ++x) d.at<std::uint8_t>(y + reach, x + reach) = x * x + y * y <= limit;
  return d;
}

double area(const std::vector<cv::Point2f>& ring) {
  return ring.size() < 3 ? 0.0 : std::fabs(cv::contourArea(ring));
}

void library(benchmark::State& state, bool grow) {
  const Outline& o = outline(int(state.range(0)));
  CSSE3dPolygon p;
  // The fresh copy is timed with the offset: stopping the clock around it
  // would cost more than the copy itself at 200 points.
  for (auto _ : state) {
    p = o.polygon;
    if (!(grow ? p.DilateWithMatrix(c_fRadius) : p.ErodeWithMatrix(c_fRadius))) state.SkipWithError("offset failed");
  }
  state.counters["points"] = p.GetNumPoints();
  state.counters["area"] = area(pointsOf(p));
}

// The raster size and placement DilateWithMatrix (ErodeWithMatrix) takes:
// the box with a margin, the outline in its middle.
void opencv(benchmark::State& state, bool grow) {
  cv::setNumThreads(1);
  const Outline& o = outline(int(state.range(0)));
  float minX, minY, minZ, maxX, maxY, maxZ;
  CSSE3dPolygon(o.polygon).GetBoundingBox3D(minX, minY, minZ, maxX, maxY, maxZ);
  const double margin = grow ? 2.0 * (double(c_fRadius) + 25.0) : 40.0;
  const int W = int(double(maxX) - minX + margin), H = int(double(maxY) - minY + margin);
  const float sx = (float(W) - (minX + maxX)) / 2.0f, sy = (float(H) - (minY + maxY)) / 2.0f;
  const cv::Mat element = disc(c_fRadius);
  std::vector<cv::Point2f> out;
  for (auto _ : state) {
    std::vector<std::vector<cv::Point>> fixed(1);
    fixed[0].reserve(o.points.size());
    for (const cv::Point2f& q : o.points)
      fixed[0].emplace_back(cvRound((q.x + sx) * (1 << c_iFixedBits)),
                            cvRound((q.y + sy) * (1 << c_iFixedBits)));
    cv::Mat raster = cv::Mat::zeros(H, W, CV_8U);
    cv::fillPoly(raster, fixed, cv::Scalar(255), cv::LINE_8, c_iFixedBits);
    if (grow)
      cv::dilate(raster, raster, element);
    else
      cv::erode(raster, raster, element);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(raster, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    std::size_t largest = 0;
    for (std::size_t i = 1; i < contours.size(); ++i)
      if (contours[i].size() > contours[largest].size()) largest = i;
    out.clear();
    if (!contours.empty())
      for (const cv::Point& q : contours[largest]) out.emplace_back(float(q.x) - sx, float(q.y) - sy);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["points"] = double(out.size());
  state.counters["area"] = area(out);
}

// Process time, so that work the library hands to its pool is counted too.
void sizes(benchmark::internal::Benchmark* b) {
  b->Arg(200)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
}

}  // namespace

BENCHMARK_CAPTURE(library, DilateWithMatrix, true)->Apply(sizes);
BENCHMARK_CAPTURE(opencv, FillPolyDilateFindContours, true)->Apply(sizes);
BENCHMARK_CAPTURE(library, ErodeWithMatrix, false)->Apply(sizes);
BENCHMARK_CAPTURE(opencv, FillPolyErodeFindContours, false)->Apply(sizes);
