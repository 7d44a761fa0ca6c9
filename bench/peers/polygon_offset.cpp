// Exact offsets of dense outlines against Clipper's offsets with round joins:
// a wavy closed outline of 200, 2,000 and 20,000 points about 0.65 apart
// (a traced margin), grown and shrunk by r = 3. Clipper works on integers, so
// the outline goes in scaled by 1,000, and its arc tolerance is set to the
// sagitta r (1 - cos(pi / k)) of the k-gon DilateExact uses, so that both
// follow the round corner equally closely. The counters give the points out
// and the area difference from Clipper's result per unit of outline length,
// in units of that sagitta (the target is below 1).
#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <vector>

#include <polyclipping/clipper.hpp>

#include "bench/wavy_outline.h"
#include "bench/fresh_copies.h"
#include "orvik/polygon/SSE3dPolygon.h"

namespace {

constexpr float c_fRadius = 3.0f;
constexpr double c_dScale = 1000.0;

struct Outline {
  CSSE3dPolygon polygon;
  ClipperLib::Path path;
  double length = 0.0;
  double sagitta = 0.0;
  explicit Outline(int n) : polygon(bench_outlines::wavyOutline(n)) {
    for (int i = 0; i < n; ++i) {
      float x = 0, y = 0;
      polygon.GetPointXY(i, x, y);
      path.emplace_back(ClipperLib::cInt(std::llround(x * c_dScale)),
                        ClipperLib::cInt(std::llround(y * c_dScale)));
    }
    length = polygon.CalcCircumference();
    // The direction count DilateExact takes from the mean edge length.
    const int k = 8 * (1 + int(c_fRadius * 2 * M_PI / (length / n) / 8));
    sagitta = c_fRadius * (1.0 - std::cos(M_PI / k));
  }
};

const Outline& outline(int n) {
  static std::map<int, Outline> made;
  return made.try_emplace(n, n).first->second;
}

double clipperArea(const ClipperLib::Paths& paths) {
  double a = 0.0;
  for (const ClipperLib::Path& p : paths) a += ClipperLib::Area(p);
  return a / (c_dScale * c_dScale);
}

double clipperOffset(const Outline& o, double delta, ClipperLib::Paths& out) {
  ClipperLib::ClipperOffset offset(2.0, o.sagitta * c_dScale);
  offset.AddPath(o.path, ClipperLib::jtRound, ClipperLib::etClosedPolygon);
  offset.Execute(out, delta * c_dScale);
  return clipperArea(out);
}

void exact(benchmark::State& state, bool grow) {
  const Outline& o = outline(int(state.range(0)));
  CSSE3dPolygon p;
  timeOnFreshCopies(state, o.polygon, p, [grow](CSSE3dPolygon& q) {
    benchmark::DoNotOptimize(grow ? q.DilateExact(c_fRadius, 0) : q.ErodeExact(c_fRadius, 0));
  });
  ClipperLib::Paths reference;
  const double theirs = clipperOffset(o, grow ? c_fRadius : -c_fRadius, reference);
  state.counters["points"] = p.GetNumPoints();
  state.counters["area_diff_per_length_in_sagittas"] =
      std::fabs(p.CalcXYArea() / 2.0 - theirs) / o.length / o.sagitta;
}

void clipper(benchmark::State& state, bool grow) {
  const Outline& o = outline(int(state.range(0)));
  ClipperLib::Paths out;
  for (auto _ : state) {
    out.clear();
    benchmark::DoNotOptimize(clipperOffset(o, grow ? c_fRadius : -c_fRadius, out));
  }
  std::size_t points = 0;
  for (const ClipperLib::Path& p : out) points += p.size();
  state.counters["points"] = double(points);
}

void BM_DilateExact(benchmark::State& state) { exact(state, true); }
void BM_ClipperOffsetGrow(benchmark::State& state) { clipper(state, true); }
void BM_ErodeExact(benchmark::State& state) { exact(state, false); }
void BM_ClipperOffsetShrink(benchmark::State& state) { clipper(state, false); }

}  // namespace

BENCHMARK(BM_DilateExact)->Arg(200)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClipperOffsetGrow)->Arg(200)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ErodeExact)->Arg(200)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClipperOffsetShrink)->Arg(200)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);
