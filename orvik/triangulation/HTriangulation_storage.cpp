// The stored mesh, version 1: scale, resolution and pixel diagonal, the count,
// the triangle records as they are in memory (their links are the writer's
// addresses and mean nothing to a reader), then the point arrays as blocks.

#include "orvik/foundation/Exception.h"
#include "orvik/foundation/Stream.h"
#include "orvik/foundation/platform/Archive.h"
#include "orvik/triangulation/HTriangulation.h"

namespace {

constexpr std::uint32_t c_version = 1;
// Bytes per triangle after the count: the record, 3 corners, 3 corner normals,
// main normal, T, S, V, minimum and maximum.
constexpr std::uint64_t c_bytesPerTriangle = sizeof(t_htriangle) + 12 * sizeof(SSEPoint);

struct StreamOut {
  CbStreamWriteBinary& s;
  void raw(const void* p, std::size_t n) { s.WriteBuffer(p, n); }
  void reserve(std::uint64_t n) { s.Reserve(n); }
};
struct ArchiveOut {
  CArchive& a;
  void raw(const void* p, std::size_t n) { a.Write(p, n); }
  static void reserve(std::uint64_t) {}
};
struct StreamIn {
  CbStreamReadBinary& s;
  void raw(void* p, std::size_t n) { s.ReadBuffer(p, n); }
  std::uint64_t remaining() const { return s.GetRemaining(); }
  // False for the empty version 0; a newer version throws.
  bool version() { return s.ReadAndCompareVersion(c_version) != 0; }
  [[noreturn]] static void corrupt(int line, const char* why) {
    throw CbException("HTriangulation", line, "CHTriangulation::Serialize", why);
  }
};
struct ArchiveIn {
  CArchive& a;
  void raw(void* p, std::size_t n) { a.ReadExact(p, n); }
  std::uint64_t remaining() const { return a.GetRemaining(); }
  static bool version() { return true; }
  [[noreturn]] static void corrupt(int, const char*) { AfxThrowArchiveException(CArchiveException::badSchema); }
};

}  // namespace

template <class Out>
void CHTriangulation::write(Out& out) const {
  const float header[7] = {m_fScaleX, m_fScaleY, m_fScaleZ, m_fResX, m_fResY, m_fResZ, m_fResXY};
  out.reserve(sizeof header + 4 + std::uint64_t(m_nNumTriangles) * c_bytesPerTriangle + 3 * sizeof(SSEPoint));
  out.raw(header, sizeof header);
  out.raw(&m_nNumTriangles, sizeof m_nNumTriangles);
  const std::size_t n = static_cast<std::size_t>(m_nNumTriangles);
  if (n > 0) {
    out.raw(m_pTriangles, n * sizeof(t_htriangle));
    // Corners, corner normals, main normals, T, S and V lie in this order in one block.
    out.raw(m_pEdgeArray, 10 * n * sizeof(SSEPoint));
  }
  out.raw(m_pMinPoint, 3 * sizeof(SSEPoint));
  if (n > 0) out.raw(m_pMinPointArray, 2 * n * sizeof(SSEPoint));
}

template <class In>
void CHTriangulation::read(In& in) {
  float header[7] = {};
  std::int32_t n = 0;
  if (in.version()) {
    in.raw(header, sizeof header);
    in.raw(&n, sizeof n);
  }
  if (n < 0) in.corrupt(__LINE__, "negative triangle count");
  if (static_cast<std::uint64_t>(n) * c_bytesPerTriangle + 3 * sizeof(SSEPoint) > in.remaining())
    in.corrupt(__LINE__, "triangle count beyond the data");
  CHTriangulation mesh(0, header[0], header[1], header[2]);
  mesh.allocate(n);  // every byte is read below
  mesh.m_fResX = header[3];
  mesh.m_fResY = header[4];
  mesh.m_fResZ = header[5];
  mesh.m_fResXY = header[6];
  const std::size_t count = static_cast<std::size_t>(n);
  if (count > 0) {
    in.raw(mesh.m_pTriangles, count * sizeof(t_htriangle));
    // Only index and mark are taken from the stored records.
    for (int i = 0; i < n; ++i) mesh.linkRecord(i);
    in.raw(mesh.m_pEdgeArray, 10 * count * sizeof(SSEPoint));
  }
  in.raw(mesh.m_pMinPoint, 3 * sizeof(SSEPoint));
  if (count > 0) in.raw(mesh.m_pMinPointArray, 2 * count * sizeof(SSEPoint));
  swapContents(mesh);
}

void CHTriangulation::Serialize(CbStreamWriteBinary& stream) const {
  stream.WriteVersion(c_version);
  StreamOut out{stream};
  write(out);
}

void CHTriangulation::Serialize(CbStreamReadBinary& stream) {
  StreamIn in{stream};
  read(in);
}

void CHTriangulation::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ArchiveOut out{ar};
    write(out);
  } else {
    ArchiveIn in{ar};
    read(in);
  }
}
