#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "orvik/foundation/Stream.h"
#include "orvik/foundation/platform/Archive.h"
#include "orvik/foundation/platform/File.h"
#include "orvik/matrix/ssematrix.h"

namespace storage_test {

using Bytes = std::vector<unsigned char>;

inline Bytes serialize(const CSSEMatrix& m) {
  CbStreamWriteBinaryBuffer out;
  m.Serialize(out);
  return Bytes(out.GetData(), out.GetData() + out.GetCount());
}

inline void deserialize(CSSEMatrix& m, const Bytes& bytes) {
  CbStreamReadBinaryBuffer in(bytes.data(), bytes.size());
  m.Serialize(in);
}

inline void loadArchive(CSSEMatrix& m, const Bytes& bytes) {
  CMemFile file(bytes);
  CArchive ar(&file, CArchive::load);
  m.Serialize(ar);
}

// True when the reader accepted the bytes, false when it threw one of its
// documented exceptions; anything else escaping fails the test.
template <class Read>
bool accepted(Read read, const Bytes& bytes) {
  CSSEMatrix m;
  try {
    read(m, bytes);
    return true;
  } catch (const CbException&) {
  } catch (const CArchiveException&) {
  }
  return false;
}

inline std::uint32_t u32(const Bytes& b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

inline float f32(const Bytes& b, std::size_t at) {
  float v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

// A smooth height field with some relief, like a scanned surface: values in
// roughly [-amplitude, amplitude].
inline void surface(CSSEMatrix& m, int sizeX, int sizeY, float amplitude = 5.0f) {
  m.Create(sizeX, sizeY);
  for (int y = 0; y < sizeY; ++y)
    for (int x = 0; x < sizeX; ++x)
      m.SetPoint(x, y,
                 amplitude * (0.6f * std::sin(0.11f * x) * std::cos(0.07f * y) +
                              0.4f * std::sin(0.5f * x + 0.3f * y)));
}

inline float maxAbsDifference(const CSSEMatrix& a, const CSSEMatrix& b) {
  float worst = 0.0f;
  for (int y = 0; y < a.GetSizeY(); ++y)
    for (int x = 0; x < a.GetSizeX(); ++x)
      worst = std::max(worst, std::fabs(a.GetPoint(x, y) - b.GetPoint(x, y)));
  return worst;
}

}  // namespace storage_test
