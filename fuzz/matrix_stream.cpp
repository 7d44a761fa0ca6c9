// The matrix stream reader on arbitrary bytes. Whatever it accepts and the
// writer codes must read back again: the writer has to cope with every value a
// reader can produce (NaN, infinities, odd sizes).
#include <cstdint>
#include <cstring>

#include "orvik/foundation/Stream.h"
#include "orvik/matrix/ssematrix.h"

namespace {

// Large matrices are valid input but make every execution slow; the readers'
// own limit is tested elsewhere.
bool tooLarge(const std::uint8_t* sizes) {
  std::int32_t x, y;
  std::memcpy(&x, sizes, 4);
  std::memcpy(&y, sizes + 4, 4);
  return x >= 0 && y >= 0 && static_cast<std::uint64_t>(x > 0 ? x : 1) * ((y >> 2) + 1) > (1u << 16);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size >= 12 && tooLarge(data + 4)) return 0;
  CSSEMatrix m;
  try {
    CbStreamReadBinaryBuffer in(data, size);
    m.Serialize(in);
  } catch (const CbException&) {
    return 0;
  }
  m.GetCompressionParameters().m_uiNumberOfPasses = 2;
  CbStreamWriteBinaryBuffer out;
  try {
    m.Serialize(out);
  } catch (const CbException&) {
    return 0;  // a size no image format holds (JPEG stops at 65500 rows)
  }
  CSSEMatrix back;
  CbStreamReadBinaryBuffer again(out.GetArray());
  back.Serialize(again);
  if (back.GetSizeX() != m.GetSizeX() || back.GetSizeY() != m.GetSizeY()) __builtin_trap();
  return 0;
}
