// The orvik command-line program: try the library on height fields from a shell.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "Example.h"
#include "orvik/orvik.h"

namespace {

const char* const c_usage =
    "usage: orvik <command> [options]\n"
    "\n"
    "commands:\n"
    "  demo     run the main job on the built-in example height field\n"
    "\n"
    "Run 'orvik <command> --help' for the options of a command.\n";

int runDemo(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::printf("usage: orvik demo\n\nBuilds the built-in example height field (a synthetic tooth stump)\n"
                  "and reports its size and value range.\n");
      return 0;
    }
    std::fprintf(stderr, "orvik demo: unknown option '%s'\n", argv[i]);
    return 2;
  }
  CSSEMatrix m;
  orvik::tool::MakeExampleStump(m);
  float lo = m.GetPointUnsafe(0, 0), hi = lo;
  for (UxCSSEMatrixIteratorBase<1> it(&m), end; it != end; ++it) {
    lo = std::min(lo, *it);
    hi = std::max(hi, *it);
  }
  std::printf("example height field: %d x %d (%d SSE lines in %d field%s)\n", m.GetSizeX(), m.GetSizeY(),
              m.GetSSESizeY(), m.GetFields(), m.GetFields() == 1 ? "" : "s");
  std::printf("value range: %.3f .. %.3f mm\n", lo, hi);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(c_usage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string command = argv[1];
  try {
    if (command == "demo") return runDemo(argc - 2, argv + 2);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orvik %s: %s\n", command.c_str(), e.what());
    return 1;
  }
  std::fprintf(stderr, "orvik: unknown command '%s'\n%s", command.c_str(), c_usage);
  return 2;
}
