// Creating, filling and copying a 4096 x 4096 height field, against memset and
// memcpy of the same number of bytes in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "orvik/matrix/ssematrix.h"

namespace {
constexpr int c_size = 4096;

std::size_t matrixBytes() { return static_cast<std::size_t>(c_size) * ((c_size >> 2) + 1) * 16; }

void BM_Create(benchmark::State& state) {
  CSSEMatrix m;
  for (auto _ : state) {
    m.Create(c_size, c_size);
    benchmark::DoNotOptimize(m.GetMatrixDataDirectly()[0]);
  }
  state.SetBytesProcessed(state.iterations() * matrixBytes());
}

void BM_CreateMallocMemset(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<char> v(matrixBytes());  // value-initialised: allocation plus zeroing
    benchmark::DoNotOptimize(v.data());
  }
  state.SetBytesProcessed(state.iterations() * matrixBytes());
}

void BM_Fill(benchmark::State& state) {
  CSSEMatrix m;
  m.Create(c_size, c_size);
  float v = 0.0f;
  for (auto _ : state) {
    m.Fill(v += 1.0f);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * matrixBytes());
}

void BM_Memset(benchmark::State& state) {
  std::vector<char> buffer(matrixBytes());
  int v = 0;
  for (auto _ : state) {
    std::memset(buffer.data(), ++v & 0x7F, buffer.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * matrixBytes());
}

void BM_CopyFromSSEMatrix(benchmark::State& state) {
  CSSEMatrix a, b;
  a.Create(c_size, c_size);
  b.Create(c_size, c_size);
  for (auto _ : state) {
    b.CopyFromSSEMatrix(a);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * matrixBytes());
}

void BM_Memcpy(benchmark::State& state) {
  std::vector<char> a(matrixBytes()), b(matrixBytes());
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * matrixBytes());
}

// The copy into a fresh matrix against memcpy into a fresh block of the same
// bytes: both fault in new pages every time.
void BM_CopyIntoFreshMatrix(benchmark::State& state) {
  CSSEMatrix a;
  a.Create(c_size, c_size);
  for (auto _ : state) {
    CSSEMatrix b(a);
    benchmark::DoNotOptimize(b.GetMatrixDataDirectly());
  }
  state.SetBytesProcessed(state.iterations() * matrixBytes());
}

void BM_MemcpyIntoFreshBlock(benchmark::State& state) {
  std::vector<char> a(matrixBytes());
  for (auto _ : state) {
    std::unique_ptr<char[]> b(new char[a.size()]);
    std::memcpy(b.get(), a.data(), a.size());
    benchmark::DoNotOptimize(b.get());
  }
  state.SetBytesProcessed(state.iterations() * matrixBytes());
}
}  // namespace

BENCHMARK(BM_Create)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CreateMallocMemset)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fill)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memset)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyFromSSEMatrix)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyIntoFreshMatrix)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyIntoFreshBlock)->Unit(benchmark::kMillisecond);
