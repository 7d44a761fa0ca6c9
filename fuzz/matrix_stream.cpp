// The matrix stream reader on arbitrary bytes. Whatever it accepts and the
// writer codes must read back again: the writer has to cope with every value a
// reader can produce (NaN, infinities, odd sizes).
#include <cstdint>

#include "orvik/foundation/Stream.h"
#include "orvik/matrix/ssematrix.h"
#include "stored_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (declaresLargeMatrixWithoutBody(data, size, 0)) return 0;
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
