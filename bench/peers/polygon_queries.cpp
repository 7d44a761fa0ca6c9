// Polygon queries and thinning against the OpenCV calls that answer the same:
// - the status (inside, on the outline, outside) of 10^6 query points against
//   a 10^3-point star outline, against cv::pointPolygonTest without distance;
// - thinning a traced contour of 10^5 pixels (a digital circle, 4-connected)
//   to about one pixel of deviation: SmoothPixelCausedSteps(2, 1.5), which
//   replaces the pixel stairs by their diagonals, then SubSampleAdaptive(0.995,
//   20), whose chord limit bounds its own deviation by 10 sqrt(1 / 0.995^2 - 1)
//   < 1, against cv::approxPolyDP with epsilon 1. The counters give the points
//   kept and the largest distance of a traced pixel from the thinned outline.
// OpenCV runs on one thread.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "bench/fresh_copies.h"
#include "orvik/polygon/SSE3dPolygon.h"

namespace {

constexpr int c_outline = 1000;
constexpr int c_queries = 1000000;

struct StatusData {
  CSSE3dPolygon polygon;
  std::vector<cv::Point2f> contour;
  std::vector<SSEPoint> queries;
  std::vector<cv::Point2f> cvQueries;
  StatusData() {
    cv::setNumThreads(1);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> radius(300.0, 500.0);
    polygon.Create(c_outline);
    for (int i = 0; i < c_outline; ++i) {
      const double a = 2 * M_PI * i / c_outline, r = radius(rng);
      const float x = static_cast<float>(std::round(512 + r * std::cos(a)));
      const float y = static_cast<float>(std::round(512 + r * std::sin(a)));
      polygon.SetPoint(i, x, y, 0.0f);
      contour.emplace_back(x, y);
    }
    // Pixel positions over the outline's box and beyond: some fall on edges
    // and vertices, most inside or outside.
    std::uniform_int_distribution<int> u(0, 1023);
    for (int k = 0; k < c_queries; ++k) {
      const float x = float(u(rng)), y = float(u(rng));
      queries.emplace_back(x, y, 0.0f);
      cvQueries.emplace_back(x, y);
    }
  }
};

StatusData& statusData() {
  static StatusData d;
  return d;
}

void BM_PointStatusWithRespectToPolygon(benchmark::State& state) {
  StatusData& d = statusData();
  for (auto _ : state) {
    long inside = 0;
    for (const SSEPoint& q : d.queries) inside += d.polygon.PointStatusWithRespectToPolygon(q);
    benchmark::DoNotOptimize(inside);
  }
  state.SetItemsProcessed(state.iterations() * c_queries);
}

void BM_CvPointPolygonTest(benchmark::State& state) {
  StatusData& d = statusData();
  for (auto _ : state) {
    double inside = 0;
    for (const cv::Point2f& q : d.cvQueries) inside += cv::pointPolygonTest(d.contour, q, false);
    benchmark::DoNotOptimize(inside);
  }
  state.SetItemsProcessed(state.iterations() * c_queries);
}

// The two answer alike: reported once as a counter (1 when every query agrees).
void BM_StatusAgreement(benchmark::State& state) {
  StatusData& d = statusData();
  long agree = 0;
  for (auto _ : state)
    for (int k = 0; k < c_queries; ++k) {
      const double cv = cv::pointPolygonTest(d.contour, d.cvQueries[k], false);
      const CSSE3dPolygon::EPointStatus s = d.polygon.PointStatusWithRespectToPolygon(d.queries[k]);
      const double ours = s == CSSE3dPolygon::ePointInside ? 1.0 : s == CSSE3dPolygon::ePointOutside ? -1.0 : 0.0;
      agree += ours == cv;
    }
  state.counters["agreement"] = double(agree) / (double(c_queries) * state.iterations());
}

// A digital circle traced 4-connected: about 8 r pixels.
struct TraceData {
  std::vector<cv::Point> pixels;
  TraceData() {
    const double r = 12500.0;
    for (int k = 0; k < 2000000; ++k) {
      const double a = 2 * M_PI * k / 2000000;
      const cv::Point p(int(std::lround(r * std::cos(a))), int(std::lround(r * std::sin(a))));
      if (!pixels.empty()) {
        const cv::Point q = pixels.back();
        if (p == q) continue;
        if (p.x != q.x && p.y != q.y) pixels.emplace_back(p.x, q.y);
      }
      pixels.push_back(p);
    }
    while (pixels.size() > 1 && pixels.back() == pixels.front()) pixels.pop_back();
  }
  CSSE3dPolygon polygon() const {
    CSSE3dPolygon p;
    p.Create(int(pixels.size()));
    for (int i = 0; i < p.GetNumPoints(); ++i) p.SetPoint(i, float(pixels[i].x), float(pixels[i].y), 0.0f);
    return p;
  }
  // The largest distance of a traced pixel from the closed outline `kept`,
  // each pixel against the segment of the outline that spans it.
  double deviation(const std::vector<cv::Point2d>& kept) const {
    double worst = 0.0;
    for (const cv::Point& px : pixels) {
      double best = INFINITY;
      for (std::size_t i = 0; i < kept.size(); ++i) {
        const cv::Point2d a = kept[i], b = kept[(i + 1) % kept.size()], d = b - a;
        const double len2 = d.dot(d);
        const double t = len2 > 0 ? std::clamp((cv::Point2d(px) - a).dot(d) / len2, 0.0, 1.0) : 0.0;
        best = std::min(best, cv::norm(a + t * d - cv::Point2d(px)));
      }
      worst = std::max(worst, best);
    }
    return worst;
  }
};

const TraceData& traceData() {
  static TraceData d;
  return d;
}

void BM_SmoothAndSubSample(benchmark::State& state) {
  const TraceData& d = traceData();
  const CSSE3dPolygon source = d.polygon();
  CSSE3dPolygon p;
  timeOnFreshCopies(state, source, p, [](CSSE3dPolygon& q) {
    q.SmoothPixelCausedSteps(2, 1.5f);
    q.SubSampleAdaptive(0.995f, 20.0f);
  });
  std::vector<cv::Point2d> kept;
  for (int i = 0; i < p.GetNumPoints(); ++i) {
    float x = 0, y = 0;
    p.GetPointXY(i, x, y);
    kept.emplace_back(x, y);
  }
  state.counters["pixels"] = double(d.pixels.size());
  state.counters["kept"] = double(kept.size());
  state.counters["deviation"] = d.deviation(kept);
}

void BM_CvApproxPolyDP(benchmark::State& state) {
  const TraceData& d = traceData();
  std::vector<cv::Point> out;
  for (auto _ : state) cv::approxPolyDP(d.pixels, out, 1.0, true);
  std::vector<cv::Point2d> kept(out.begin(), out.end());
  state.counters["pixels"] = double(d.pixels.size());
  state.counters["kept"] = double(kept.size());
  state.counters["deviation"] = d.deviation(kept);
}

}  // namespace

BENCHMARK(BM_PointStatusWithRespectToPolygon)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_CvPointPolygonTest)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_StatusAgreement)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SmoothAndSubSample)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CvApproxPolyDP)->Unit(benchmark::kMillisecond);
