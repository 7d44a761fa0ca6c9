// The mesh archive reader on arbitrary bytes.
#include <cstdint>

#include "orvik/foundation/platform/Archive.h"
#include "orvik/foundation/platform/File.h"
#include "orvik/triangulation/HTriangulation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CHTriangulation m;
  CMemFile file(data, size);
  CArchive ar(&file, CArchive::load);
  try {
    m.Serialize(ar);
  } catch (const CArchiveException&) {
    return 0;
  }
  m.CalcNeighbours();
  m.CalcCenterPoint();
  return 0;
}
