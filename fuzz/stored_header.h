#pragma once
// The fuzz targets admit every declared size: a reader that allocates more than
// its input can fill then shows as a finding under -malloc_limit_mb. Only the
// forms that by definition carry no body are kept small: an unknown method, a
// multi-pass body of zero passes, a matrix without columns, or a coded one
// without rows (its images are empty) stands for a matrix of zeros (or a bare
// line table) of the stored size, so its allocation is what the format asks
// for, not a finding.
#include <cstdint>
#include <cstring>

#include "large_matrix.h"

inline bool declaresLargeMatrixWithoutBody(const std::uint8_t* data, std::size_t size, std::size_t at) {
  if (size < at + 12) return false;
  std::uint32_t version;
  std::int32_t x, y;
  std::memcpy(&version, data + at, 4);
  std::memcpy(&x, data + at + 4, 4);
  std::memcpy(&y, data + at + 8, 4);
  if (version < 1 || x < 0 || y < 0) return false;
  if (!orvik_fuzz::largeMatrix(data + at + 4)) return false;
  if (x == 0) return true;
  if (version < 2 || size < at + 13) return false;
  const std::uint8_t method = data[at + 12];
  if (method > 4 || (method > 0 && y == 0)) return true;
  if (method < 1 || method > 3) return false;
  if (size < at + 17) return false;
  std::uint32_t passes;
  std::memcpy(&passes, data + at + 13, 4);
  return passes == 0;
}

// The old tagless archive form: sizes first, then a raw body.
inline bool declaresLargeTaglessMatrixWithoutColumns(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return false;
  std::int32_t x, y;
  std::memcpy(&x, data, 4);
  std::memcpy(&y, data + 4, 4);
  return x == 0 && y >= 0 && ((y >> 2) + 1) > (1 << 16);
}
