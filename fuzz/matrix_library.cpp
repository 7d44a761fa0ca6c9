// The matrix library reader on arbitrary bytes: Init, then every entry loaded.
// Whatever Init refuses must leave the library empty; nothing may escape or
// crash, however the references, positions and difference bodies are damaged.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "large_matrix.h"
#include "orvik/storage/SSEMatrixLibrary.h"

namespace {

// The in-painting of a grown reference runs over every cell, so the limit is
// lower than for the matrix readers alone.
constexpr std::uint64_t c_uVectors = 1u << 14;

// Reads the input as the library does, far enough to see every matrix header
// it would meet: the position map, then each body at its position.
class CHeaderScan {
 public:
  CHeaderScan(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

  bool holdsLargeMatrix() {
    std::uint32_t version = 0, count = 0;
    if (!string() || !get(version) || !get(count)) return false;
    struct SBody {
      std::uint64_t position;
      bool reference;
    };
    std::vector<SBody> bodies;
    for (std::uint32_t i = 0; i < count && m_at < m_size; ++i) {
      SBody body{0, false};
      std::uint32_t referenceLength = 0;
      if (!string() || (version >= 1 && !get(body.position))) return false;
      if (version >= 2 && (!get(referenceLength) || !skip(referenceLength))) return false;
      body.reference = referenceLength > 0;
      bodies.push_back(body);
    }
    if (version == 0) return false;  // its entries are never read
    for (const SBody& body : bodies) {
      if (body.position >= m_size) continue;
      m_at = static_cast<std::size_t>(body.position);
      if (version == 1 ? archiveBody() : body.reference ? differenceBody() : matrix() == EMatrix::large)
        return true;
    }
    return false;
  }

 private:
  enum class EMatrix { large, small, cut };

  bool skip(std::uint64_t n) {
    if (n > m_size - m_at) return false;
    m_at += static_cast<std::size_t>(n);
    return true;
  }
  template <class T>
  bool get(T& v) {
    if (sizeof v > m_size - m_at) return false;
    std::memcpy(&v, m_data + m_at, sizeof v);
    m_at += sizeof v;
    return true;
  }
  bool string() {
    std::uint32_t length = 0;
    return get(length) && skip(length);
  }

  // A matrix stream: version, sizes, method, body.
  EMatrix matrix(bool sizesOnly = false) {
    std::uint32_t version = 1;
    if (!sizesOnly && !get(version)) return EMatrix::cut;
    if (version == 0 || version > 4) return EMatrix::small;  // no sizes, or refused
    if (m_at + 8 > m_size) return EMatrix::cut;
    if (orvik_fuzz::largeMatrix(m_data + m_at, c_uVectors)) return EMatrix::large;
    std::int32_t sizeX = 0, sizeY = 0;
    std::uint8_t method = 0;
    get(sizeX);
    get(sizeY);
    if (version >= 2 && !get(method)) return EMatrix::cut;
    bool whole = true;
    if (method == 0) {
      whole = skip(static_cast<std::uint64_t>(sizeX) * ((sizeY >> 2) + 1) * 16);
    } else if (method <= 3) {
      std::uint32_t passes = 0;
      whole = version < 2 || get(passes);
      for (std::uint32_t i = 0; whole && i < passes && i < 256; ++i) {
        std::uint8_t withInvalid = 0;
        if (version >= 2) whole = skip(12);
        if (whole && version >= 3) whole = get(withInvalid) && (!withInvalid || skip(4));
        whole = whole && image();
      }
    } else if (method == 4) {
      whole = skip(8) && image();
    }
    return whole ? EMatrix::small : EMatrix::cut;
  }
  bool image() {
    std::uint32_t length = 0;
    return get(length) && skip(length);
  }

  bool differenceBody() {
    std::uint8_t mode = 0;
    if (!get(mode) || mode > 3 || (mode > 0 && !skip(4))) return false;
    const int matrices = mode == 0 || mode == 3 ? 1 : mode == 1 ? 2 : 3;
    for (int i = 0; i < matrices; ++i) {
      const EMatrix m = matrix();
      if (m != EMatrix::small) return m == EMatrix::large;
    }
    return false;
  }

  // The archive form: the wide or the 8-bit tag and a stream, or a bare
  // version-1 body from the start.
  bool archiveBody() {
    static const std::uint8_t wide[] = {0xFF, 0xFE, 0xFF, 10, 'C', 0, 'S', 0, 'S', 0, 'E', 0,
                                        'M',  0,    'a',  0,  't', 0, 'r', 0, 'i', 0, 'x', 0};
    static const std::uint8_t narrow[] = {10, 'C', 'S', 'S', 'E', 'M', 'a', 't', 'r', 'i', 'x'};
    const std::size_t left = m_size - m_at;
    if (left >= sizeof wide && std::memcmp(m_data + m_at, wide, sizeof wide) == 0) {
      m_at += sizeof wide;
      return matrix() == EMatrix::large;
    }
    if (left >= sizeof narrow && std::memcmp(m_data + m_at, narrow, sizeof narrow) == 0) {
      m_at += sizeof narrow;
      return matrix() == EMatrix::large;
    }
    return matrix(true) == EMatrix::large;
  }

  const std::uint8_t* m_data;
  std::size_t m_size;
  std::size_t m_at = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (CHeaderScan(data, size).holdsLargeMatrix()) return 0;
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
