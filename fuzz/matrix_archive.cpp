// The matrix archive reader (tagged and tagless forms) on arbitrary bytes.
#include <cstdint>
#include <cstring>

#include "orvik/foundation/platform/Archive.h"
#include "orvik/foundation/platform/File.h"
#include "orvik/matrix/ssematrix.h"

namespace {

// The stream form starts after the 4 marker bytes, the 20 tag bytes and the
// version word. Large matrices are valid but slow; see matrix_stream.cpp.
bool tooLarge(const std::uint8_t* data, std::size_t size) {
  if (size < 36 || data[0] != 0xFF || data[1] != 0xFE || data[2] != 0xFF) return false;
  std::int32_t x, y;
  std::memcpy(&x, data + 28, 4);
  std::memcpy(&y, data + 32, 4);
  return x >= 0 && y >= 0 && static_cast<std::uint64_t>(x > 0 ? x : 1) * ((y >> 2) + 1) > (1u << 16);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (tooLarge(data, size)) return 0;
  CSSEMatrix m;
  CMemFile file(data, size);
  CArchive ar(&file, CArchive::load);
  try {
    m.Serialize(ar);
  } catch (const CbException&) {
  } catch (const CArchiveException&) {
  }
  return 0;
}
