#include <cstdio>

#include "Commands.h"
#include "HeightFieldFiles.h"

namespace orvik::tool {

namespace {
const char* const c_help =
    "usage: orvik info FILE\n"
    "\n"
    "Prints the header of a stored matrix (archive or stream form): form, version,\n"
    "size, compression method, pass count, and the value range of its heights.\n";

const char* methodName(int method) {
  switch (method) {
    case 0: return "raw floats";
    case 1: return "multi-pass, JPEG";
    case 2: return "multi-pass, PNG";
    case 3: return "multi-pass, PNG then JPEG";
    case 4: return "validity mask";
    default: return "unknown (no body)";
  }
}
}  // namespace

int RunInfo(int argc, char** argv) {
  const Options options(argc, argv, {}, {"help"});
  if (options.Has("help")) {
    std::fputs(c_help, stdout);
    return 0;
  }
  if (options.Positional().size() != 1) throw UsageError("info takes one FILE");
  const std::string& path = options.Positional()[0];
  const StoredHeader h = ReadStoredHeader(path);
  CSSEMatrix m;
  ReadStored(path, m);
  float hi = 0.0f, lo = 0.0f;
  m.CalcMinMaxValues(&hi, &lo);

  std::printf("file:     %s\n", path.c_str());
  std::printf("form:     %s\n", !h.archive ? "stream" : h.tagless ? "archive (old, without tag)" : "archive");
  std::printf("version:  %u\n", h.version);
  std::printf("size:     %d x %d\n", h.sizeX, h.sizeY);
  std::printf("method:   %d (%s)\n", h.method, methodName(h.method));
  if (h.method >= 1 && h.method <= 3) std::printf("passes:   %u\n", h.passes);
  if (m.IsEmpty())
    std::printf("values:   none\n");
  else
    std::printf("values:   %.6g .. %.6g\n", lo, hi);
  return 0;
}

}  // namespace orvik::tool
