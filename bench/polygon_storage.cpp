// The stream form of a polygon of 10^6 points against a raw write of the same
// bytes: the same header and tail around the six coordinate arrays written as
// they lie in memory, into the same kind of stream with the same reservation.
// The stored form interleaves x, y, z per point, which the raw write does not.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "orvik/foundation/Stream.h"
#include "orvik/polygon/SSE3dPolygon.h"

namespace {

constexpr int c_points = 1000000;

struct Data {
  CSSE3dPolygon polygon;
  std::vector<float> x, y, z;
  Data() : x(c_points), y(c_points), z(c_points) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-500.0f, 500.0f);
    polygon.Create(c_points);
    for (int i = 0; i < c_points; ++i) {
      x[i] = u(rng), y[i] = u(rng), z[i] = u(rng);
      polygon.SetPoint(i, x[i], y[i], z[i]);
      polygon.SetPointNormalized(i, x[i], y[i], z[i]);
    }
  }
};

Data& data() {
  static Data d;
  return d;
}

constexpr std::size_t c_bytes = 4 + 4 + 24 * std::size_t(c_points) + 13;

void BM_Serialize(benchmark::State& state) {
  for (auto _ : state) {
    CbStreamWriteBinaryBuffer out;
    data().polygon.Serialize(out);
    benchmark::DoNotOptimize(out.GetData());
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(c_bytes));
}

void BM_RawWrite(benchmark::State& state) {
  const Data& d = data();
  for (auto _ : state) {
    CbStreamWriteBinaryBuffer out;
    out.Reserve(c_bytes);
    out.WriteVersion(2);
    out.WriteInt32(c_points);
    for (int pass = 0; pass < 2; ++pass)
      for (const std::vector<float>* a : {&d.x, &d.y, &d.z}) out.WriteBuffer(a->data(), a->size() * sizeof(float));
    const float centre[3] = {};
    out.WriteBuffer(centre, sizeof centre);
    out.WriteBool(false);
    benchmark::DoNotOptimize(out.GetData());
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(c_bytes));
}

}  // namespace

BENCHMARK(BM_Serialize)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawWrite)->Unit(benchmark::kMicrosecond);
