// The polygon stream reader on arbitrary bytes. A refused input leaves the
// polygon as it was; an accepted one writes and reads back to the same bytes.
#include <cstdint>
#include <cstring>

#include "orvik/foundation/Stream.h"
#include "orvik/polygon/SSE3dPolygon.h"

namespace {

CbStreamWriteBinaryBuffer store(const CSSE3dPolygon& p) {
  CbStreamWriteBinaryBuffer out;
  p.Serialize(out);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CSSE3dPolygon p;
  p.Create(3);
  for (int i = 0; i < 3; ++i) p.SetPoint(i, float(i), 1.0f, 2.0f), p.SetPointNormalized(i, 0.0f, 0.0f, 0.0f);
  const CbStreamWriteBinaryBuffer before = store(p);
  try {
    CbStreamReadBinaryBuffer in(data, size);
    p.Serialize(in);
  } catch (const CbException&) {
    const CbStreamWriteBinaryBuffer after = store(p);
    if (after.GetCount() != before.GetCount() || std::memcmp(after.GetData(), before.GetData(), after.GetCount()) != 0)
      __builtin_trap();
    return 0;
  }
  const CbStreamWriteBinaryBuffer out = store(p);
  CSSE3dPolygon back;
  CbStreamReadBinaryBuffer again(out.GetArray());
  back.Serialize(again);
  const CbStreamWriteBinaryBuffer twice = store(back);
  if (twice.GetCount() != out.GetCount() || std::memcmp(twice.GetData(), out.GetData(), out.GetCount()) != 0)
    __builtin_trap();
  p.CalcBoundingBox();
  p.PointInLineInnerArea(0.5f, 0.5f, 1);
  return 0;
}
