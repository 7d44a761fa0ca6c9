// A series of 20 successive states of the demo's height field (the built-in
// example at 1024 x 1024, each state one small local edit further) stored as
// one matrix library, every state coded against the one before, against the
// same states stored alone with the same method and error bound. Both write
// files; bytes and time are reported, the library's bytes also as a share of
// the states stored alone.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "Example.h"
#include "orvik/storage/SSEMatrixLibrary.h"

namespace {

constexpr int c_size = 1024;
constexpr int c_states = 20;

// States and stored files live in a scratch folder removed at exit.
struct ScratchFolder {
  std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("orvik-bench-library-" + std::to_string(::getpid()));
  ScratchFolder() { std::filesystem::create_directories(path); }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};
const ScratchFolder scratch;

const std::filesystem::path& folder() { return scratch.path; }

std::string stateFile(int k) { return (folder() / ("state" + std::to_string(k) + ".mat")).string(); }

// Every state adds one edit to the last: a smooth bump of 0.1 mm, 40 cells
// across, somewhere on the stump, as a designer's local correction does. The
// states are written raw, so the library reads exact values.
void writeStates() {
  static const bool written = [] {
    CSSEMatrix m;
    orvik::tool::MakeExampleStump(m, c_size);
    for (int k = 0; k < c_states; ++k) {
      if (k > 0) {
        const int cx = 300 + (k * 97) % 420, cy = 300 + (k * 61) % 420;
        for (int y = cy - 20; y <= cy + 20; ++y)
          for (int x = cx - 20; x <= cx + 20; ++x) {
            const float r2 = static_cast<float>((x - cx) * (x - cx) + (y - cy) * (y - cy)) / 400.0f;
            if (r2 < 1.0f) m.SetPoint(x, y, m.GetPoint(x, y) + 0.1f * (1.0f - r2) * (1.0f - r2));
          }
      }
      if (!m.Store(stateFile(k).c_str())) std::abort();
    }
    return true;
  }();
  (void)written;
}

// PNG within 0.001 mm. A state alone spans millimetres, beyond the 255 codes of
// one pass at that step, and needs a second pass; a difference to the state
// before spans a tenth of a millimetre and fits one pass. With a fixed range
// of +-0.25 mm for the differences, 0 is the centre of a code, so the cells an
// edit left alone (a difference within the error bound) all take that code.
UxCSSEMatrixLibrary::UxSCompressionParameters parameters(int mode, unsigned passes = 2,
                                                         bool fixedRange = false) {
  UxCSSEMatrixLibrary::UxSCompressionParameters p;
  p.m_iMethod = 2;
  p.m_uiNumberOfPasses = passes;
  p.m_bFixedRange = fixedRange;
  p.m_fRangeMin = -0.25f;
  p.m_fRangeMax = 0.25f;
  p.m_fMaxError = 0.001f;
  p.m_iDifferenceMode = mode;
  p.m_bUseInvalidValue = true;
  p.m_fInvalidValue = -1.0f;
  return p;
}

std::uintmax_t aloneBytes = 0;

void BM_StatesAlone(benchmark::State& state) {
  writeStates();
  std::vector<CSSEMatrix> states(c_states);
  for (int k = 0; k < c_states; ++k) {
    states[k].Load(stateFile(k).c_str());
    states[k].SetCompressionParameters(parameters(0));
  }
  float error = 0.0f;
  for (auto _ : state) {
    aloneBytes = 0;
    for (int k = 0; k < c_states; ++k) {
      const std::string path = (folder() / ("alone" + std::to_string(k))).string();
      if (!states[k].Store(path.c_str())) state.SkipWithError("store failed");
      aloneBytes += std::filesystem::file_size(path);
      error = std::max(error, states[k].GetMaxAbsCompressionError());
    }
  }
  state.counters["bytes"] = static_cast<double>(aloneBytes);
  state.counters["max_error"] = error;
}

void BM_StatesInLibrary(benchmark::State& state) {
  writeStates();
  const int mode = static_cast<int>(state.range(0));
  const bool fixedRange = state.range(1) != 0;
  UxCSSEMatrixLibrary library;
  for (int k = 0; k < c_states; ++k) {
    const std::string reference = k ? "state" + std::to_string(k - 1) : "";
    library.AddSSEMatrix(("state" + std::to_string(k)).c_str(), stateFile(k).c_str(), reference.c_str(),
                         k ? parameters(mode, 1, fixedRange) : parameters(mode));
  }
  const std::string path = (folder() / "series.oml").string();
  for (auto _ : state)
    if (!library.Store(path.c_str())) state.SkipWithError("store failed");
  const auto bytes = std::filesystem::file_size(path);
  state.counters["bytes"] = static_cast<double>(bytes);
  if (aloneBytes)
    state.counters["share_of_alone"] = static_cast<double>(bytes) / static_cast<double>(aloneBytes);
  state.counters["max_error"] = library.GetMaxAbsCompressionError();
}

}  // namespace

BENCHMARK(BM_StatesAlone)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_StatesInLibrary)
    ->ArgNames({"mode", "fixed_range"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({3, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
