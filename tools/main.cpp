// The orvik command-line program: try the library on height fields from a shell.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "Commands.h"
#include "Options.h"

namespace {

const char* const c_usage =
    "usage: orvik <command> [options]\n"
    "\n"
    "commands:\n"
    "  demo      run the main job on the built-in example height field\n"
    "  info      print the header of a stored matrix\n"
    "  convert   convert a height field between stored matrices, PNG, TIFF and raw floats\n"
    "  preview   draw a height field as a PNG picture\n"
    "  mesh      write the surface of a height field as a PLY, STL or OBJ mesh\n"
    "\n"
    "Run 'orvik <command> --help' for the options of a command.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(c_usage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string command = argv[1];
  int (*run)(int, char**) = nullptr;
  if (command == "demo") run = orvik::tool::RunDemo;
  if (command == "info") run = orvik::tool::RunInfo;
  if (command == "convert") run = orvik::tool::RunConvert;
  if (command == "preview") run = orvik::tool::RunPreview;
  if (command == "mesh") run = orvik::tool::RunMesh;
  if (!run) {
    std::fprintf(stderr, "orvik: unknown command '%s'\n\n%s", command.c_str(), c_usage);
    return 2;
  }
  try {
    return run(argc - 2, argv + 2);
  } catch (const orvik::tool::UsageError& e) {
    std::fprintf(stderr, "orvik %s: %s (see 'orvik %s --help')\n", command.c_str(), e.what(), command.c_str());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orvik %s: %s\n", command.c_str(), e.what());
    return 1;
  }
}
