// The byte-matrix archive reader on arbitrary bytes: what it accepts must store
// back to exactly the bytes it read.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "orvik/chain/SSEcharMatrix.h"
#include "orvik/foundation/platform/Archive.h"
#include "orvik/foundation/platform/File.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CSSEcharMatrix m;
  CMemFile file(data, size);
  try {
    CArchive ar(&file, CArchive::load);
    m.Serialize(ar);
  } catch (const CArchiveException&) {
    return 0;
  }
  CMemFile out;
  CArchive ar(&out, CArchive::store);
  m.Serialize(ar);
  const std::size_t read = static_cast<std::size_t>(file.GetPosition());
  if (out.GetData().size() != read || std::memcmp(out.GetData().data(), data, read) != 0) std::abort();
  return 0;
}
