#pragma once
// Timing an operation that changes a polygon in place: every iteration starts
// from a fresh copy of the source, and making that copy is not timed.
#include <benchmark/benchmark.h>

#include "orvik/polygon/SSE3dPolygon.h"

// Leaves the last iteration's result in p for the caller's counters.
template <class Step>
void timeOnFreshCopies(benchmark::State& state, const CSSE3dPolygon& source, CSSE3dPolygon& p, Step step) {
  for (auto _ : state) {
    state.PauseTiming();
    p = source;
    state.ResumeTiming();
    step(p);
  }
}
