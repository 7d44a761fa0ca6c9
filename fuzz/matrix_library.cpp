// The matrix library reader on arbitrary bytes: Init, then every entry loaded.
// Whatever Init refuses must leave the library empty; nothing may escape or
// crash, however the references, positions and difference bodies are damaged.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "large_matrix.h"
#include "orvik/storage/SSEMatrixLibrary.h"

namespace {

// The in-painting of a grown reference runs over every cell, so the limit is
// lower than for the matrix readers alone.
constexpr std::uint64_t c_uVectors = 1u << 14;

// Matrix headers are a version word (0 to 4) and the two sizes; the bodies of
// version-0 and -1 library files may also be bare sizes without a version.
bool holdsLargeMatrix(const std::uint8_t* data, std::size_t size) {
  const bool bare = size >= 24 && data[20] < 2 && data[21] == 0 && data[22] == 0 && data[23] == 0;
  for (std::size_t at = 0; at + 12 <= size; ++at) {
    std::uint32_t version;
    std::memcpy(&version, data + at, 4);
    if (version <= 4 && orvik_fuzz::largeMatrix(data + at + 4, c_uVectors)) return true;
    if (bare && orvik_fuzz::largeMatrix(data + at, c_uVectors)) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (holdsLargeMatrix(data, size)) return 0;
  // One file per process, rewritten for every input and removed at exit.
  static char path[512] = {};
  if (!path[0]) {
    const char* folder = std::getenv("TMPDIR");
    std::snprintf(path, sizeof path, "%s/orvik-fuzz-library-%d", folder ? folder : "/tmp",
                  static_cast<int>(::getpid()));
    std::atexit([] { std::remove(path); });
  }
  std::FILE* file = std::fopen(path, "wb");
  if (!file) __builtin_trap();
  const bool written = std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) __builtin_trap();

  UxCSSEMatrixLibrary library;
  if (!library.Init(path)) {
    if (library.GetNumberOfEntries() != 0) __builtin_trap();
    return 0;
  }
  for (const CString& id : library.GetIDs()) {
    CSSEMatrix m;
    library.LoadSSEMatrix(id, m);
  }
  return 0;
}
