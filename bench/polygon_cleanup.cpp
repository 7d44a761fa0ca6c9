// Clean-up of long outlines, at 10^5 and 10^6 points, to show that the time
// grows linearly: RemoveEqualPointsXY on a noisy trace that runs twice round
// a circle (about half of its points have an earlier one within 1), and
// ReParametrize(0.5) of the same ring (about twice as many points out).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "bench/fresh_copies.h"
#include "orvik/polygon/SSE3dPolygon.h"

namespace {

CSSE3dPolygon noisyTrace(int n) {
  std::mt19937 rng(n);
  std::uniform_real_distribution<float> noise(-0.3f, 0.3f);
  CSSE3dPolygon p;
  p.Create(n);
  // Two turns with a spacing of about 0.8 along the circle.
  const double r = 0.8 * n / (4 * M_PI);
  for (int i = 0; i < n; ++i) {
    const double a = 4 * M_PI * i / n;
    p.SetPoint(i, float(r * std::cos(a)) + noise(rng), float(r * std::sin(a)) + noise(rng), 0.0f);
  }
  return p;
}

// Times `step` on a fresh copy of a noisy trace of state.range(0) points; the
// copy is not timed. `counter` reports the points the step leaves.
template <class Step>
void onFreshCopies(benchmark::State& state, const char* counter, Step step) {
  const CSSE3dPolygon source = noisyTrace(int(state.range(0)));
  CSSE3dPolygon p;
  timeOnFreshCopies(state, source, p, step);
  state.counters[counter] = p.GetNumPoints();
  state.SetComplexityN(state.range(0));
}

void BM_RemoveEqualPointsXY(benchmark::State& state) {
  onFreshCopies(state, "kept", [](CSSE3dPolygon& p) { p.RemoveEqualPointsXY(); });
}

void BM_ReParametrize(benchmark::State& state) {
  onFreshCopies(state, "out", [](CSSE3dPolygon& p) { p.ReParametrize(0.5f); });
}

}  // namespace

BENCHMARK(BM_RemoveEqualPointsXY)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
BENCHMARK(BM_ReParametrize)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
