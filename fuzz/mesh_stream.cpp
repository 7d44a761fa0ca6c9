// The mesh stream reader on arbitrary bytes. What it accepts must be usable:
// neighbours, the host conversion and a write that reads back to the same arrays.
#include <cstdint>
#include <cstring>
#include <memory>

#include "orvik/foundation/Stream.h"
#include "orvik/foundation/qe/Triangulation.h"
#include "orvik/triangulation/HTriangulation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CHTriangulation m;
  try {
    CbStreamReadBinaryBuffer in(data, size);
    m.Serialize(in);
  } catch (const CbException&) {
    return 0;
  }
  CbStreamWriteBinaryBuffer out;
  m.Serialize(out);
  CHTriangulation back;
  CbStreamReadBinaryBuffer again(out.GetArray());
  back.Serialize(again);
  const std::size_t n = m.GetNumTriangles();
  if (back.GetNumTriangles() != m.GetNumTriangles() ||
      (n && std::memcmp(back.GetEdgeArray(), m.GetEdgeArray(), 3 * n * sizeof(SSEPoint)) != 0))
    __builtin_trap();
  m.CalcNeighbours();
  std::unique_ptr<Geometry::CTriangulation> host(m.CreateCTriangulationFromHTriangulation());
  if (host->GetTriangleCount() != n) __builtin_trap();
  return 0;
}
