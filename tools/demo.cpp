// The main job on the built-in example: clean a scanned height field, find the
// margin of the preparation, measure distances from it, and store the result
// with every compression method, reporting what each step costs and keeps.
#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Commands.h"
#include "Example.h"
#include "HeightFieldFiles.h"
#include "Options.h"
#include "Preview.h"
#include "Progress.h"
#include "orvik/foundation/Stream.h"

namespace orvik::tool {

namespace {

const char* const c_help =
    "usage: orvik demo [--out DIR] [--size N]\n"
    "\n"
    "Runs the main job on the built-in example, a synthetic scan of a prepared tooth:\n"
    "median noise removal, a margin mask from a height threshold and a disc erosion,\n"
    "the distance from the preparation, and storage with each compression method.\n"
    "Prints a report and writes PNG previews into DIR (default out/).\n";

class Steps {
public:
  template <typename F>
  void Run(const std::string& name, F&& work) {
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    work();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    m_rows.push_back({name, ms, cpuMs});
  }
  // The processor time (every thread of the process) beside the wall time,
  // which on a busy machine also counts the waiting.
  void Print() const {
    std::printf("%-44s %10s %10s\n", "step", "time [ms]", "cpu [ms]");
    double total = 0.0, totalCpu = 0.0;
    for (const auto& r : m_rows) {
      std::printf("%-44s %10.2f %10.2f\n", r.name.c_str(), r.ms, r.cpuMs);
      total += r.ms;
      totalCpu += r.cpuMs;
    }
    std::printf("%-44s %10.2f %10.2f\n", "all steps", total, totalCpu);
  }

private:
  struct Row {
    std::string name;
    double ms, cpuMs;
  };
  std::vector<Row> m_rows;
};

struct Stored {
  std::string label;
  std::size_t bytes;
  double encodeMs;
  double decodeMs;
  float reportedError;
  float measuredError;
};

Stored store(const CSSEMatrix& source, const std::string& label, const CSSEMatrix::UxSCompressionParameters& p,
             CSSEMatrix& decoded) {
  CSSEMatrix m(source);
  m.SetCompressionParameters(p);
  CbStreamWriteBinaryBuffer out;
  auto t0 = std::chrono::steady_clock::now();
  m.Serialize(out);
  auto t1 = std::chrono::steady_clock::now();
  CbStreamReadBinaryBuffer in(out.GetArray());
  decoded.Serialize(in);
  auto t2 = std::chrono::steady_clock::now();
  return {label,
          out.GetCount(),
          std::chrono::duration<double, std::milli>(t1 - t0).count(),
          std::chrono::duration<double, std::milli>(t2 - t1).count(),
          m.GetMaxAbsCompressionError(),
          MaxAbsDifference(source, decoded)};
}

}  // namespace

int RunDemo(int argc, char** argv) {
  const Options options(argc, argv, {"out", "size"}, {"help"});
  if (options.Has("help")) {
    std::fputs(c_help, stdout);
    return 0;
  }
  if (!options.Positional().empty()) throw UsageError("demo takes no positional arguments");
  const std::filesystem::path dir = options.Get("out", "out");
  const int size = options.GetInt("size", 512, 32, 8192);
  std::filesystem::create_directories(dir);

  Progress progress("demo");
  Steps steps;
  CSSEMatrix heights, mask, inner, margin, distance;
  const float base = 1.0f;  // the base plane of the example, mm

  steps.Run("build example height field", [&] { MakeExampleStump(heights, size); });
  const CSSEMatrix raw(heights);
  progress.Update(0.05);
  steps.Run("median filter 3x3", [&] { heights.SimpleMedianFilter(); });
  progress.Update(0.1);
  steps.Run("preparation mask (threshold)", [&] {
    mask.CopyFromSSEMatrix(heights);
    mask.TresholdAbove(base + 0.3f, 1.0f);
  });
  steps.Run("erode mask, radius 4", [&] {
    inner.CopyFromSSEMatrix(mask);
    inner.Erode(4.0f, 0.0f, 1.0f, 0, size - 1, 0, size - 1, false, 0);
  });
  steps.Run("margin band (mask - eroded)", [&] {
    margin.CopyFromSSEMatrix(mask);
    margin.SubMatrix(inner);
  });
  progress.Update(0.2);
  steps.Run("distance from the preparation", [&] { mask.DistanceTransform(distance, 0, size, 0, size); });
  progress.Update(0.3);

  struct Method {
    const char* label;
    int method;
    unsigned passes;
    float maxError;
  };
  // Heights with the multi-pass methods; the preparation mask with the validity
  // mask, which keeps the cells holding the marked value (here 1, inside) exactly.
  const Method methods[] = {{"0 raw floats", 0, 1, 0.0f},
                            {"1 JPEG, 2 passes", 1, 2, 0.002f},
                            {"2 PNG, 1 pass", 2, 1, 0.0f},
                            {"2 PNG, 2 passes, 0.001", 2, 2, 0.001f},
                            {"3 PNG + JPEG, 2 passes", 3, 2, 0.002f},
                            {"4 validity mask (on mask)", 4, 1, 0.0f}};
  std::vector<Stored> stored;
  CSSEMatrix decoded;
  for (std::size_t i = 0; i < std::size(methods); ++i) {
    const Method& me = methods[i];
    CSSEMatrix::UxSCompressionParameters p;
    p.m_iMethod = me.method;
    p.m_uiNumberOfPasses = me.passes;
    p.m_fMaxError = me.maxError;
    const bool ofMask = me.method == 4;
    if (ofMask) {
      p.m_bUseInvalidValue = true;
      p.m_fInvalidValue = 1.0f;
    }
    steps.Run(std::string("store with method ") + me.label,
              [&] { stored.push_back(store(ofMask ? mask : heights, me.label, p, decoded)); });
    if (me.method == 3)
      steps.Run("preview decoded-method3.png",
                [&] { WritePicture((dir / "decoded-method3.png").string(), RenderHeights(decoded, true)); });
    progress.Update(0.3 + 0.6 * static_cast<double>(i + 1) / std::size(methods));
  }

  steps.Run("previews (five PNG pictures)", [&] {
    WritePicture((dir / "heights-raw.png").string(), RenderHeights(raw, true));
    WritePicture((dir / "heights.png").string(), RenderHeights(heights, true));
    WritePicture((dir / "mask.png").string(), RenderMask(mask));
    WritePicture((dir / "margin.png").string(), RenderMask(margin));
    WritePicture((dir / "distance.png").string(), RenderHeights(distance, true));
  });
  progress.Update(1.0);

  float hi = 0, lo = 0;
  heights.CalcMinMaxValues(&hi, &lo);
  std::printf("example height field: %d x %d, heights %.3f .. %.3f mm\n\n", size, size, lo, hi);
  steps.Print();
  const double rawBytes = static_cast<double>(stored.front().bytes);
  std::printf("\n%-30s %10s %7s %9s %9s %12s %12s\n", "storage method", "bytes", "ratio", "enc [ms]", "dec [ms]",
              "bound [mm]", "error [mm]");
  for (const Stored& s : stored)
    std::printf("%-30s %10zu %7.2f %9.2f %9.2f %12.6f %12.6f\n", s.label.c_str(), s.bytes,
                rawBytes / static_cast<double>(s.bytes), s.encodeMs, s.decodeMs, s.reportedError, s.measuredError);
  std::printf("\npreviews in %s/: heights-raw.png heights.png mask.png margin.png distance.png decoded-method3.png\n",
              dir.string().c_str());
  return 0;
}

}  // namespace orvik::tool
