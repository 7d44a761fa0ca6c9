// The polygon archive reader on arbitrary bytes. A refused input leaves the
// polygon as it was; an accepted one stores back to the bytes it read.
#include <cstdint>
#include <cstring>

#include "orvik/foundation/platform/Archive.h"
#include "orvik/foundation/platform/File.h"
#include "orvik/polygon/SSE3dPolygon.h"

namespace {

std::vector<unsigned char> store(CSSE3dPolygon& p) {
  CMemFile file;
  CArchive ar(&file, CArchive::store);
  p.Serialize(ar);
  ar.Close();
  return file.GetData();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CSSE3dPolygon p;
  p.Create(3);
  for (int i = 0; i < 3; ++i) p.SetPoint(i, float(i), 1.0f, 2.0f);
  const std::vector<unsigned char> before = store(p);
  CMemFile file(data, size);
  CArchive ar(&file, CArchive::load);
  try {
    p.Serialize(ar);
  } catch (const CArchiveException&) {
    if (store(p) != before) __builtin_trap();
    return 0;
  }
  const std::vector<unsigned char> out = store(p);
  if (out.size() > size || std::memcmp(out.data(), data, out.size()) != 0) __builtin_trap();
  p.CalcBoundingBox();
  p.PointInLineInnerArea(0.5f, 0.5f, 1);
  return 0;
}
