// Serialisation of a 2048 x 2048 example height field with each storage method:
// write and read time, bytes written, compression ratio against the raw body,
// and the maximum error the writer reports. memcpy of the raw body's bytes runs
// in the same program as the reference for the time.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "orvik/foundation/Stream.h"
#include "orvik/matrix/ssematrix.h"

namespace {

constexpr int c_size = 2048;
constexpr float c_invalid = -1.0f;

// A prepared tooth stump in millimetres: a dome over a base plane with a margin
// ridge and fine deterministic noise; the scan has no data outside a circle.
const CSSEMatrix& exampleField() {
  static const CSSEMatrix field = [] {
    CSSEMatrix m;
    m.Create(c_size, c_size);
    std::uint32_t seed = 12345;
    const float centre = c_size / 2.0f, radius = 0.45f * c_size;
    for (int y = 0; y < c_size; ++y)
      for (int x = 0; x < c_size; ++x) {
        const float r = std::hypot(x - centre, y - centre) / radius;
        seed = seed * 1664525u + 1013904223u;
        const float noise = 0.004f * ((seed >> 8) / 16777216.0f - 0.5f);
        float z = c_invalid;
        if (r < 1.0f) {
          const float dome = r < 0.7f ? 6.0f * std::sqrt(1.0f - (r / 0.7f) * (r / 0.7f)) : 0.0f;
          const float ridge = 0.4f * std::exp(-std::pow((r - 0.72f) / 0.03f, 2.0f));
          z = 1.0f + dome + ridge + noise;
        }
        m.SetPointUnsafe(x, y, z);
      }
    return m;
  }();
  return field;
}

std::size_t rawBytes() { return static_cast<std::size_t>(c_size) * ((c_size >> 2) + 1) * 16; }

void configure(CSSEMatrix& m, int method, unsigned passes) {
  auto& p = m.GetCompressionParameters();
  p.m_iMethod = method;
  p.m_uiNumberOfPasses = passes;
  p.m_bUseInvalidValue = true;
  p.m_fInvalidValue = c_invalid;
  p.m_fJPEGQuality = 0.9f;
  p.m_fMaxError = 0.0f;
}

void BM_Write(benchmark::State& state) {
  CSSEMatrix m(exampleField());
  configure(m, static_cast<int>(state.range(0)), static_cast<unsigned>(state.range(1)));
  std::size_t bytes = 0;
  for (auto _ : state) {
    CbStreamWriteBinaryBuffer out;
    m.Serialize(out);
    bytes = out.GetCount();
    benchmark::DoNotOptimize(out.GetData());
  }
  state.counters["bytes"] = static_cast<double>(bytes);
  state.counters["ratio"] = static_cast<double>(rawBytes()) / static_cast<double>(bytes);
  state.counters["max_error"] = m.GetMaxAbsCompressionError();
}

void BM_Read(benchmark::State& state) {
  CSSEMatrix m(exampleField());
  configure(m, static_cast<int>(state.range(0)), static_cast<unsigned>(state.range(1)));
  CbStreamWriteBinaryBuffer out;
  m.Serialize(out);
  CSSEMatrix back;
  for (auto _ : state) {
    CbStreamReadBinaryBuffer in(out.GetArray());
    back.Serialize(in);
    benchmark::DoNotOptimize(back.GetMatrixDataDirectly()[0]);
  }
  float worst = 0.0f;
  for (int y = 0; y < c_size; ++y)
    for (int x = 0; x < c_size; ++x) worst = std::max(worst, std::fabs(back.GetPoint(x, y) - m.GetPoint(x, y)));
  state.counters["max_error"] = worst;
}

void BM_MemcpyRawBody(benchmark::State& state) {
  std::vector<unsigned char> from(rawBytes(), 1), to(rawBytes());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::ClobberMemory();
  }
  state.counters["bytes"] = static_cast<double>(rawBytes());
}

// {method, passes}: raw, PNG, PNG then JPEG, validity mask.
void methods(benchmark::internal::Benchmark* b) {
  b->ArgNames({"method", "passes"});
  b->Args({0, 1})->Args({2, 1})->Args({3, 2})->Args({4, 1});
  b->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_Write)->Apply(methods);
BENCHMARK(BM_Read)->Apply(methods);
BENCHMARK(BM_MemcpyRawBody)->Unit(benchmark::kMillisecond);
