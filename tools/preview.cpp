#include <cstdio>

#include "Commands.h"
#include "HeightFieldFiles.h"
#include "Preview.h"

namespace orvik::tool {

namespace {
const char* const c_help =
    "usage: orvik preview IN OUT.png [--colormap] [--scale S] [--size WxH]\n"
    "\n"
    "Draws a height field as an 8-bit PNG: grey levels from the lowest to the highest\n"
    "value, or with --colormap a colour map from deep blue to warm yellow.\n"
    "IN is a stored matrix, a 16-bit grey PNG (heights = sample / S, default 1000),\n"
    "a 32-bit float TIFF, or raw float32 (.raw, needs --size).\n";
}  // namespace

int RunPreview(int argc, char** argv) {
  const Options options(argc, argv, {"scale", "size"}, {"help", "colormap"});
  if (options.Has("help")) {
    std::fputs(c_help, stdout);
    return 0;
  }
  if (options.Positional().size() != 2) throw UsageError("preview takes IN and OUT.png");
  CSSEMatrix m;
  ReadHeightField(options.Positional()[0], options, m);
  WritePicture(options.Positional()[1], RenderHeights(m, options.Has("colormap")));
  std::printf("wrote %s (%d x %d)\n", options.Positional()[1].c_str(), m.GetSizeX(), m.GetSizeY());
  return 0;
}

}  // namespace orvik::tool
