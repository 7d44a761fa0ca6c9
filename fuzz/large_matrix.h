#pragma once
// Large matrices are valid input but make every execution slow; the readers'
// own size limit is tested elsewhere. The harnesses skip inputs that declare one.
#include <cstdint>
#include <cstring>

namespace orvik_fuzz {

// True when the two int32 sizes at `sizes` (x, then y) make a matrix of more
// than `limit` SSE vectors, an empty width counting as one column.
inline bool largeMatrix(const std::uint8_t* sizes, std::uint64_t limit = 1u << 16) {
  std::int32_t x, y;
  std::memcpy(&x, sizes, 4);
  std::memcpy(&y, sizes + 4, 4);
  return x >= 0 && y >= 0 && static_cast<std::uint64_t>(x > 0 ? x : 1) * ((y >> 2) + 1) > limit;
}

}  // namespace orvik_fuzz
