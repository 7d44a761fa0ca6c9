// The matrix library reader on arbitrary bytes: Init, then every entry loaded.
// Whatever Init refuses must leave the library empty; nothing may escape or
// crash, however the references, positions and difference bodies are damaged.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>

#include "orvik/storage/SSEMatrixLibrary.h"

namespace {

// Large matrices are valid input but make every execution slow (the in-painting
// of a grown reference runs over every cell); the readers' own limits are
// tested elsewhere.
bool tooLarge(const std::uint8_t* sizes) {
  std::int32_t x, y;
  std::memcpy(&x, sizes, 4);
  std::memcpy(&y, sizes + 4, 4);
  return x >= 0 && y >= 0 && static_cast<std::uint64_t>(x > 0 ? x : 1) * ((y >> 2) + 1) > (1u << 14);
}

// Matrix headers are a version word (0 to 4) and the two sizes; the bodies of
// version-0 and -1 library files may also be bare sizes without a version.
bool holdsLargeMatrix(const std::uint8_t* data, std::size_t size) {
  const bool bare = size >= 24 && data[20] < 2 && data[21] == 0 && data[22] == 0 && data[23] == 0;
  for (std::size_t at = 0; at + 12 <= size; ++at) {
    std::uint32_t version;
    std::memcpy(&version, data + at, 4);
    if (version <= 4 && tooLarge(data + at + 4)) return true;
    if (bare && tooLarge(data + at)) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (holdsLargeMatrix(data, size)) return 0;
  static const std::string path = [] {
    const char* folder = std::getenv("TMPDIR");
    return std::string(folder ? folder : "/tmp") + "/orvik-fuzz-library-" + std::to_string(::getpid());
  }();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) __builtin_trap();
  const bool written = std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) __builtin_trap();

  UxCSSEMatrixLibrary library;
  if (!library.Init(path.c_str())) {
    if (library.GetNumberOfEntries() != 0) __builtin_trap();
    return 0;
  }
  for (const CString& id : library.GetIDs()) {
    CSSEMatrix m;
    library.LoadSSEMatrix(id, m);
  }
  return 0;
}
