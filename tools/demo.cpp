// The main job on the built-in example, the library's typical sequence: clean
// a scanned height field, outline the preparation, mask the field with the
// filled outline, mesh it, render the mesh back into a height field and
// compare, cap the outline, and store the result with every compression
// method and in a matrix library, reporting what each step costs and keeps.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Commands.h"
#include "Example.h"
#include "HeightFieldFiles.h"
#include "MeshFiles.h"
#include "Options.h"
#include "Preview.h"
#include "Progress.h"
#include "orvik/chain/PixelChain.h"
#include "orvik/foundation/Stream.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "orvik/storage/SSEMatrixLibrary.h"
#include "orvik/triangulation/HTriangulation.h"

namespace orvik::tool {

namespace {

const char* const c_help =
    "usage: orvik demo [--out DIR] [--size N]\n"
    "\n"
    "Runs the main job on the built-in example, a synthetic scan of a prepared tooth of\n"
    "N x N pixels (default 512): median noise removal, a preparation mask from a height\n"
    "threshold, its margin band and the distance from it; the outline of the preparation\n"
    "traced and cleaned up, filled into a mask that cuts the field out; a mesh of the cut\n"
    "field, rendered back into a height field and compared with it; the outline as a cap\n"
    "mesh; storage with each compression method and in a matrix library.\n"
    "Prints a report and writes PNG previews, the mesh (mesh.ply) and the library into\n"
    "DIR (default out/).\n";

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
  progress.Update(0.25);

  // The outline of the preparation: traced where it stands 1 mm above the
  // base plane (the margin ridge around it stays outside) from its first
  // pixel in row order, pixel stairs smoothed, loops cut off.
  CSSE3dPolygon outline;
  int traced = 0;
  steps.Run("outline traced (1 mm above the base)", [&] {
    CSSEMatrix framed(heights);  // the tracer frames the matrix it walks
    const float level = base + 1.0f;
    int x0 = 0, y0 = 0;
    while (y0 < size && framed.GetPoint(x0, y0) <= level)
      if (++x0 == size) x0 = 0, ++y0;
    CPixelChain chain;
    chain.CreatePixelChain(&framed, level, x0, y0, 4L * size * size, true, true, 0);
    outline = CSSE3dPolygon(chain, 1);
    traced = outline.GetNumPoints();
  });
  steps.Run("outline cleaned up", [&] {
    outline.SmoothPixelCausedSteps(2, 1.5f);
    outline.RemoveAllLoopsInXYPlane();
    outline.RemoveEqualPointsXY();
  });
  CSSEMatrix filledOutline, masked, rendered;
  steps.Run("outline drawn filled into a mask", [&] {
    filledOutline.Create(size, size);
    outline.DrawInMatrixAndFillFine(1.0f, &filledOutline, false, false, 0.0f, float(size), true, false);
  });
  steps.Run("heights masked by the outline", [&] {
    masked.CopyFromSSEMatrix(heights);
    masked.MaskOut(filledOutline);
  });
  progress.Update(0.35);
  // The mesh of every pixel inside (all heights there lie above the base
  // plane); its blank records keep the grid origin in its extent, so the
  // render lands pixel on pixel.
  std::unique_ptr<CHTriangulation> mesh;
  int cells = 0;
  steps.Run("mesh of the masked field", [&] {
    mesh = std::make_unique<CHTriangulation>(&masked, 0.5f * base, true, 1.0f, 1.0f, 1.0f);
    for (int i = 0; i < mesh->GetNumTriangles(); ++i) cells += mesh->GetTriangle(i)->corner[0]->z != 0.0f ? 1 : 0;
  });
  steps.Run("mesh scan-converted into a second field", [&] {
    mesh->SetScanConvResolution(1.0f, 1.0f, 1.0f);
    mesh->FastScanConvertTriangulation(&rendered, 0.0f, true);
  });
  // Compared away from the outline, where the render's splat reaches outside.
  double sum = 0.0;
  float worst = 0.0f;
  long compared = 0;
  steps.Run("round trip compared inside the outline", [&] {
    CSSEMatrix inside(filledOutline);
    inside.Erode(3.0f, 0.0f, 1.0f, 0, size - 1, 0, size - 1, false, 0);
    for (int y = 0; y < rendered.GetSizeY(); ++y)
      for (int x = 0; x < rendered.GetSizeX(); ++x) {
        if (inside.GetPoint(x, y) < 0.5f) continue;
        const float d = std::fabs(rendered.GetPointUnsafe(x, y) - masked.GetPoint(x, y));
        worst = std::max(worst, d);
        sum += d;
        ++compared;
      }
  });
  std::unique_ptr<CHTriangulation> cap;
  steps.Run("cap: the outline ear-clipped", [&] {
    for (int i = 0; i < outline.GetNumPoints(); ++i) {
      float x = 0, y = 0, z = 0;
      outline.GetPoint(i, x, y, z);
      outline.SetPointZ(i, heights.GetPoint(int(x), int(y)));
    }
    cap = std::make_unique<CHTriangulation>(&outline, 1.0f, 1.0f, 1.0f, 1, 0.0f, false, false);
  });
  std::unique_ptr<Geometry::CTriangulation> shared;
  steps.Run("mesh written as mesh.ply", [&] {
    shared.reset(SharedVertexMesh(*mesh));
    WriteMesh((dir / "mesh.ply").string(), *shared);
  });
  progress.Update(0.45);

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
    progress.Update(0.45 + 0.45 * static_cast<double>(i + 1) / std::size(methods));
  }
  // The masked field and its render in a matrix library, the render coded
  // as its difference from the field.
  std::uintmax_t libraryBytes = 0;
  bool libraryStored = false;
  UxCSSEMatrixLibrary library;
  steps.Run("matrix library (field + render as difference)", [&] {
    const std::string maskedFile = (dir / "masked.ssem").string(), renderedFile = (dir / "rendered.ssem").string();
    // The render lacks the last row and column (the mesh spans size - 1
    // pixels); the library codes it against the field at the field's size.
    CSSEMatrix renderedFull;
    renderedFull.Create(size, size);
    for (int y = 0; y < rendered.GetSizeY(); ++y)
      for (int x = 0; x < rendered.GetSizeX(); ++x) renderedFull.SetPoint(x, y, rendered.GetPointUnsafe(x, y));
    CSSEMatrix::UxSCompressionParameters p;
    p.m_iMethod = 2;
    p.m_uiNumberOfPasses = 2;
    p.m_fMaxError = 0.001f;
    masked.SetCompressionParameters(p);
    renderedFull.SetCompressionParameters(p);
    const UxCSSEMatrixLibrary::UxSCompressionParameters difference(p);
    libraryStored = masked.Store(maskedFile.c_str()) && renderedFull.Store(renderedFile.c_str()) &&
                    library.AddSSEMatrix("masked", maskedFile.c_str(), p) &&
                    library.AddSSEMatrix("rendered", renderedFile.c_str(), "masked", difference) &&
                    library.Store((dir / "demo.ssemlib").string().c_str());
    std::error_code error;
    libraryBytes = libraryStored ? std::filesystem::file_size(dir / "demo.ssemlib", error) : 0;
  });

  steps.Run("previews (seven PNG pictures)", [&] {
    WritePicture((dir / "heights-raw.png").string(), RenderHeights(raw, true));
    Picture withOutline = RenderHeights(heights, true);
    DrawOutline(withOutline, outline);
    WritePicture((dir / "heights.png").string(), withOutline);
    WritePicture((dir / "mask.png").string(), RenderMask(mask));
    WritePicture((dir / "margin.png").string(), RenderMask(margin));
    WritePicture((dir / "distance.png").string(), RenderHeights(distance, true));
    WritePicture((dir / "masked.png").string(), RenderHeights(masked, true));
    WritePicture((dir / "rendered.png").string(), RenderHeights(rendered, true));
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
  std::printf("\noutline: %d points traced, %d after clean-up; cap: %d triangles\n", traced,
              outline.GetNumPoints(), cap->GetNumTriangles());
  std::printf("mesh of the masked field: %d triangles from cells, %d records; mesh.ply: %u vertices, %u triangles\n",
              cells, mesh->GetNumTriangles(), shared->GetVertexCount(), shared->GetLiveTriangleCount());
  std::printf("round trip (mesh rendered back, %d x %d): max |difference| %.6f mm, mean %.6f mm over %ld pixels\n",
              rendered.GetSizeX(), rendered.GetSizeY(), worst, compared ? sum / double(compared) : 0.0, compared);
  if (libraryStored)
    std::printf("matrix library demo.ssemlib: %u entries, %ju bytes, max error %.6f mm\n",
                library.GetNumberOfEntries(), libraryBytes, library.GetMaxAbsCompressionError());
  else
    std::printf("matrix library demo.ssemlib: could not be stored\n");
  std::printf(
      "\nfiles in %s/: heights-raw.png heights.png (with the outline) mask.png margin.png distance.png masked.png\n"
      "  rendered.png decoded-method3.png mesh.ply demo.ssemlib (with masked.ssem and rendered.ssem)\n",
      dir.string().c_str());
  return 0;
}

}  // namespace orvik::tool
