#include <cstdio>
#include <limits>
#include <memory>

#include "Commands.h"
#include "HeightFieldFiles.h"
#include "MeshFiles.h"
#include "Progress.h"

namespace orvik::tool {

namespace {
const char* const c_help =
    "usage: orvik mesh IN OUT [--step N] [--threshold T [--below]] [--spacing S] [--scale S] [--size WxH]\n"
    "\n"
    "Writes the surface of a height field as a triangle mesh: binary PLY (.ply) or OBJ text\n"
    "(.obj) with shared vertices, or binary STL (.stl). Vertex (x, y) of the grid lies at\n"
    "(x * S, y * S, height). By default every pixel belongs to the surface, so a W x H\n"
    "field gives W * H vertices and 2 (W - 1)(H - 1) triangles.\n"
    "\n"
    "options:\n"
    "  --step N       every N-th pixel in both directions (default 1)\n"
    "  --threshold T  only pixels above T (with --below: below T); a cell of three such\n"
    "                 pixels gives one triangle, of four two\n"
    "  --spacing S    world units between neighbouring pixels (default 1, at least 0.001)\n"
    "  --scale S      16-bit PNG input: heights = sample / S (default 1000)\n"
    "  --size WxH     size of raw float32 input\n"
    "Pixels that are not finite never belong to the surface.\n";
}  // namespace

int RunMesh(int argc, char** argv) {
  const Options options(argc, argv, {"step", "threshold", "spacing", "scale", "size"}, {"help", "below"});
  if (options.Has("help")) {
    std::fputs(c_help, stdout);
    return 0;
  }
  if (options.Positional().size() != 2) throw UsageError("mesh takes IN and OUT");
  const std::string& in = options.Positional()[0];
  const std::string& out = options.Positional()[1];
  if (MeshFormatOf(out) == MeshFormat::Unknown) throw UsageError("OUT must end in .ply, .stl or .obj");
  const int step = options.GetInt("step", 1, 1, 1 << 20);
  if (options.Has("below") && !options.Has("threshold")) throw UsageError("--below needs --threshold");
  const float threshold = options.GetFloat("threshold", -std::numeric_limits<float>::infinity());
  const float spacing = options.GetFloat("spacing", 1.0f);
  // Vertices closer than 0.0001 are merged into one.
  if (!(spacing >= 0.001f)) throw UsageError("--spacing must be at least 0.001");

  Progress progress("mesh");
  CSSEMatrix field;
  ReadHeightField(in, options, field);
  progress.Update(0.2);
  const std::unique_ptr<Geometry::CTriangulation> mesh(
      MeshOfHeightField(field, step, threshold, options.Has("below"), spacing));
  progress.Update(0.7);
  WriteMesh(out, *mesh);
  progress.Update(1.0);
  std::printf("%s (%d x %d) -> %s: %u vertices, %u triangles\n", in.c_str(), field.GetSizeX(), field.GetSizeY(),
              out.c_str(), mesh->GetVertexCount(), mesh->GetLiveTriangleCount());
  return 0;
}

}  // namespace orvik::tool
