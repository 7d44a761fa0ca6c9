// The stored polygon: the versioned stream form, the archive form, and the
// text dump of the points.
#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "orvik/foundation/Exception.h"
#include "orvik/foundation/Stream.h"
#include "orvik/foundation/platform/Archive.h"
#include "orvik/foundation/platform/AtomicFile.h"
#include "orvik/polygon/SSE3dPolygon.h"

namespace {

constexpr std::uint32_t c_version = 2;
// Points are read, and written to an archive, this many at a time.
constexpr std::size_t c_chunkPoints = 4096;
constexpr std::uint64_t c_pointBytes = 3 * sizeof(float);
// Centre and flag, after the two point lists.
constexpr std::uint64_t c_tailBytes = 3 * sizeof(float) + 1;
constexpr std::uint64_t c_blockBytes = 12 * sizeof(float);

[[noreturn]] void corrupt(int line, const char* why) {
  throw CbException("SSE3dPolygon", line, "CSSE3dPolygon::Serialize", why);
}

// x, y, z of n points, interleaved point by point: four points make three
// vectors out of one vector of each coordinate.
void interleave(const float* x, const float* y, const float* z, std::size_t n, unsigned char* dst) {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4, dst += 4 * c_pointBytes) {
    const __m128 vx = _mm_loadu_ps(x + i), vy = _mm_loadu_ps(y + i), vz = _mm_loadu_ps(z + i);
    const __m128 xy01 = _mm_unpacklo_ps(vx, vy);                            // x0 y0 x1 y1
    const __m128 xy23 = _mm_unpackhi_ps(vx, vy);                            // x2 y2 x3 y3
    const __m128 z0x1 = _mm_shuffle_ps(vz, vx, _MM_SHUFFLE(1, 1, 0, 0));    // z0 z0 x1 x1
    const __m128 y1z1 = _mm_shuffle_ps(xy01, vz, _MM_SHUFFLE(1, 1, 3, 3));  // y1 y1 z1 z1
    const __m128 z2x3 = _mm_shuffle_ps(vz, vx, _MM_SHUFFLE(3, 3, 2, 2));    // z2 z2 x3 x3
    const __m128 y3z3 = _mm_shuffle_ps(xy23, vz, _MM_SHUFFLE(3, 3, 3, 3));  // y3 y3 z3 z3
    float* q = reinterpret_cast<float*>(dst);
    _mm_storeu_ps(q, _mm_shuffle_ps(xy01, z0x1, _MM_SHUFFLE(2, 0, 1, 0)));      // x0 y0 z0 x1
    _mm_storeu_ps(q + 4, _mm_shuffle_ps(y1z1, xy23, _MM_SHUFFLE(1, 0, 2, 0)));  // y1 z1 x2 y2
    _mm_storeu_ps(q + 8, _mm_shuffle_ps(z2x3, y3z3, _MM_SHUFFLE(2, 0, 2, 0)));  // z2 x3 y3 z3
  }
  for (; i < n; ++i, dst += c_pointBytes) {
    const float p[3] = {x[i], y[i], z[i]};
    std::memcpy(dst, p, sizeof p);
  }
}

void writePoints(CbStreamWriteBinary& s, const float* x, const float* y, const float* z, std::size_t n) {
  s.WriteRecords(n, c_pointBytes, [&](unsigned char* dst, std::size_t first, std::size_t count) {
    interleave(x + first, y + first, z + first, count, dst);
  });
}

// Reads n interleaved points. The buffer grows only as the bytes arrive, so a
// source that cannot tell its length never makes the reader allocate for data
// it does not hold.
std::vector<float> readPoints(CbStreamReadBinary& s, std::size_t n) {
  std::vector<float> xyz;
  for (std::size_t done = 0; done < n;) {
    const std::size_t count = std::min(c_chunkPoints * 64, n - done);
    xyz.resize(3 * (done + count));
    s.ReadBuffer(xyz.data() + 3 * done, count * c_pointBytes);
    done += count;
  }
  return xyz;
}

void scatter(const std::vector<float>& xyz, float* x, float* y, float* z) {
  for (std::size_t i = 0; i < xyz.size() / 3; ++i)
    x[i] = xyz[3 * i], y[i] = xyz[3 * i + 1], z[i] = xyz[3 * i + 2];
}

void writeXYZ(CbStreamWriteBinary& s, const SSEPoint& p) {
  const float v[3] = {p.x, p.y, p.z};
  s.WriteBuffer(v, sizeof v);
}

SSEPoint readXYZ(CbStreamReadBinary& s) {
  float v[3];
  s.ReadBuffer(v, sizeof v);
  return SSEPoint(v[0], v[1], v[2], 0.0f);
}

}  // namespace

void CSSE3dPolygon::Serialize(CbStreamWriteBinary& s) const {
  const std::size_t n = static_cast<std::size_t>(m_iNumPoints);
  s.Reserve(4 + 4 + 2 * n * c_pointBytes + c_tailBytes + (m_bBoundingBoxCalculated ? 4 * c_pointBytes : 0));
  s.WriteVersion(c_version);
  s.WriteInt32(m_iNumPoints);
  writePoints(s, m_pfX, m_pfY, m_pfZ, n);
  writePoints(s, m_pfNormX, m_pfNormY, m_pfNormZ, n);
  writeXYZ(s, *m_pGeometricCenter);
  s.WriteBool(m_bBoundingBoxCalculated);
  if (!m_bBoundingBoxCalculated) return;
  for (const SSEPoint* p : {m_pBottomLeft, m_pTopRight, m_pXYMax, m_pXYMin}) writeXYZ(s, *p);
}

// Everything is read aside and taken over only once the whole form has read.
void CSSE3dPolygon::Serialize(CbStreamReadBinary& s) {
  const std::uint32_t version = s.ReadAndCompareVersion(c_version);
  CSSE3dPolygon temp;
  SSEPoint centre, corners[4];
  bool calculated = false;
  if (version >= 1) {
    const std::int32_t n = s.ReadInt32();
    if (n < 0) corrupt(__LINE__, "negative point count");
    const std::uint64_t points = static_cast<std::uint64_t>(n) * c_pointBytes;
    if ((version >= 2 ? 2 * points + c_tailBytes : points) > s.GetRemaining())
      corrupt(__LINE__, "point count beyond the data");
    const std::vector<float> xyz = readPoints(s, static_cast<std::size_t>(n));
    std::vector<float> normalized;  // before version 2 none: a new polygon's read 0
    if (version >= 2) {
      normalized = readPoints(s, static_cast<std::size_t>(n));
      centre = readXYZ(s);
      calculated = s.ReadBool();
      if (calculated)
        for (SSEPoint& c : corners) c = readXYZ(s);
    }
    temp.Create(n);
    scatter(xyz, temp.m_pfX, temp.m_pfY, temp.m_pfZ);
    scatter(normalized, temp.m_pfNormX, temp.m_pfNormY, temp.m_pfNormZ);
  }
  takePointsFrom(temp);
  *m_pGeometricCenter = centre;
  if (calculated) {
    *m_pBottomLeft = corners[0];
    *m_pTopRight = corners[1];
    *m_pXYMax = corners[2];
    *m_pXYMin = corners[3];
  }
  m_bBoundingBoxCalculated = calculated;
}

void CSSE3dPolygon::Serialize(CArchive& ar) {
  const std::size_t chunkBlocks = c_chunkPoints / 4;
  std::vector<float> buffer;
  if (ar.IsStoring()) {
    ar << m_iNumPoints;
    const std::size_t blocks = static_cast<std::size_t>(GetCapacity()) / 4;
    buffer.resize(12 * std::min(blocks, chunkBlocks));
    for (std::size_t from = 0; from < blocks; from += chunkBlocks) {
      const std::size_t count = std::min(chunkBlocks, blocks - from);
      for (std::size_t b = 0; b < count; ++b) {
        const std::size_t i = 4 * (from + b);
        std::memcpy(&buffer[12 * b], m_pfX + i, 16);
        std::memcpy(&buffer[12 * b + 4], m_pfY + i, 16);
        std::memcpy(&buffer[12 * b + 8], m_pfZ + i, 16);
      }
      ar.Write(buffer.data(), count * c_blockBytes);
    }
    return;
  }
  std::int32_t n = 0;
  ar >> n;
  if (n < 0) AfxThrowArchiveException(CArchiveException::badSchema);
  const std::size_t blocks = (static_cast<std::size_t>(n) + 3) / 4;
  if (blocks * c_blockBytes > ar.GetRemaining()) AfxThrowArchiveException(CArchiveException::endOfFile);
  CSSE3dPolygon temp;
  temp.Create(n);
  buffer.resize(12 * std::min(blocks, chunkBlocks));
  for (std::size_t from = 0; from < blocks; from += chunkBlocks) {
    const std::size_t count = std::min(chunkBlocks, blocks - from);
    ar.ReadExact(buffer.data(), count * c_blockBytes);
    for (std::size_t b = 0; b < count; ++b) {
      const std::size_t i = 4 * (from + b);
      std::memcpy(temp.m_pfX + i, &buffer[12 * b], 16);
      std::memcpy(temp.m_pfY + i, &buffer[12 * b + 4], 16);
      std::memcpy(temp.m_pfZ + i, &buffer[12 * b + 8], 16);
    }
  }
  // The archive does not hold the normalized points; a new polygon's read 0.
  takePointsFrom(temp);
}

// The atomic writer replaces the file, so appending means writing the old
// content again before the new lines: a failure on the way leaves the file as
// it was instead of half appended. A debugging aid, so the copy is acceptable.
void CSSE3dPolygon::DebugSaveXYZ(CString fileName) {
  const std::filesystem::path path(fileName.str());
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return;
  std::ifstream in(path, std::ios::binary);
  if (!in) return;
  const std::vector<char> old((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return;
  try {
    CAtomicFile file(fileName);
    std::FILE* f = file.GetStream();
    if (!old.empty()) std::fwrite(old.data(), 1, old.size(), f);
    for (int i = 0; i < m_iNumPoints; ++i)
      std::fprintf(f, "%.3f %.3f %.3f\n", static_cast<double>(m_pfX[i]), static_cast<double>(m_pfY[i]),
                   static_cast<double>(m_pfZ[i]));
    file.Commit();
  } catch (const CFileException&) {
  }
}
