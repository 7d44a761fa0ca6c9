// The matrix archive reader (tagged and tagless forms) on arbitrary bytes.
#include <cstdint>
#include <cstring>

#include "large_matrix.h"
#include "orvik/foundation/platform/Archive.h"
#include "orvik/foundation/platform/File.h"
#include "orvik/matrix/ssematrix.h"

namespace {

// Large matrices are valid but slow (large_matrix.h). The stream form
// starts after the tag and the version word: the tag is 24 bytes in the wide
// form (marker, length, 20 bytes), 11 in the 8-bit form (length, 10 bytes);
// anything else may be a tagless body, sizes first.
bool tooLarge(const std::uint8_t* data, std::size_t size) {
  std::size_t at = 0;
  if (size >= 3 && data[0] == 0xFF && data[1] == 0xFE && data[2] == 0xFF)
    at = 28;
  else if (size >= 1 && data[0] == 10)
    at = 15;
  return size >= at + 8 && orvik_fuzz::largeMatrix(data + at);
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
