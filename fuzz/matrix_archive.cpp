// The matrix archive reader (tagged and tagless forms) on arbitrary bytes.
#include <cstdint>

#include "orvik/foundation/platform/Archive.h"
#include "orvik/foundation/platform/File.h"
#include "orvik/matrix/ssematrix.h"
#include "stored_header.h"

namespace {

// The stream form starts after the tag: 24 bytes in the wide form (marker,
// length, 20 bytes), 11 in the 8-bit form (length, 10 bytes).
bool bodilessAndLarge(const std::uint8_t* data, std::size_t size) {
  if (size >= 3 && data[0] == 0xFF && data[1] == 0xFE && data[2] == 0xFF)
    return declaresLargeMatrixWithoutBody(data, size, 24);
  if (size >= 1 && data[0] == 10) return declaresLargeMatrixWithoutBody(data, size, 11);
  return declaresLargeTaglessMatrixWithoutColumns(data, size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (bodilessAndLarge(data, size)) return 0;
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
