#include "MeshFiles.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "orvik/foundation/platform/AtomicFile.h"
#include "orvik/matrix/ssematrix.h"
#include "orvik/triangulation/HTriangulation.h"

namespace orvik::tool {

namespace {

static_assert(std::endian::native == std::endian::little, "the binary formats are written as they lie in memory");

// Collects bytes and hands them to the file in large blocks.
class Writer {
public:
  explicit Writer(CAtomicFile& file) : m_file(file) { m_buffer.reserve(c_block + 256); }
  template <typename T>
  void put(const T& value) {
    const auto* p = reinterpret_cast<const char*>(&value);
    m_buffer.insert(m_buffer.end(), p, p + sizeof(T));
    flushIfFull();
  }
  void text(const char* s, std::size_t n) {
    m_buffer.insert(m_buffer.end(), s, s + n);
    flushIfFull();
  }
  void text(const std::string& s) { text(s.data(), s.size()); }
  // A float in the fewest digits that read back as the same value.
  void number(float v) {
    char digits[32];
    const auto r = std::to_chars(digits, digits + sizeof digits, v);
    text(digits, static_cast<std::size_t>(r.ptr - digits));
  }
  void number(unsigned v) {
    char digits[16];
    const auto r = std::to_chars(digits, digits + sizeof digits, v);
    text(digits, static_cast<std::size_t>(r.ptr - digits));
  }
  void finish() {
    flush();
    m_file.Commit();
  }

private:
  static constexpr std::size_t c_block = 1 << 20;
  void flushIfFull() {
    if (m_buffer.size() >= c_block) flush();
  }
  void flush() {
    if (!m_buffer.empty()) m_file.Write(m_buffer.data(), m_buffer.size());
    m_buffer.clear();
  }
  CAtomicFile& m_file;
  std::vector<char> m_buffer;
};

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::vector<unsigned> liveTriangles(const Geometry::CTriangulation& mesh) {
  std::vector<unsigned> live;
  for (unsigned t = 0; t < mesh.GetTriangleCount(); ++t)
    if (!mesh.IsTriangleRemoved(t)) live.push_back(t);
  return live;
}

void writePly(Writer& w, const Geometry::CTriangulation& mesh, const std::vector<unsigned>& live) {
  w.text("ply\nformat binary_little_endian 1.0\ncomment written by orvik\nelement vertex " +
         std::to_string(mesh.GetVertexCount()) +
         "\nproperty float x\nproperty float y\nproperty float z\nelement face " + std::to_string(live.size()) +
         "\nproperty list uchar int vertex_indices\nend_header\n");
  for (unsigned v = 0; v < mesh.GetVertexCount(); ++v) {
    const CbVector3f& p = mesh.GetVertex(v);
    w.put(p.x);
    w.put(p.y);
    w.put(p.z);
  }
  for (unsigned t : live) {
    w.put(std::uint8_t{3});
    for (unsigned v : mesh.GetTriangle(t)) w.put(static_cast<std::int32_t>(v));
  }
}

void writeStl(Writer& w, const Geometry::CTriangulation& mesh, const std::vector<unsigned>& live) {
  char header[80] = {};
  std::memcpy(header, "binary STL written by orvik", 27);
  w.text(header, sizeof header);
  w.put(static_cast<std::uint32_t>(live.size()));
  for (unsigned t : live) {
    const auto& tri = mesh.GetTriangle(t);
    const CbVector3f &a = mesh.GetVertex(tri[0]), &b = mesh.GetVertex(tri[1]), &c = mesh.GetVertex(tri[2]);
    // The facet normal by the right-hand rule; zero for a degenerate facet.
    const double ux = double(b.x) - a.x, uy = double(b.y) - a.y, uz = double(b.z) - a.z;
    const double vx = double(c.x) - a.x, vy = double(c.y) - a.y, vz = double(c.z) - a.z;
    double n[3] = {uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx};
    const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    for (double& x : n) w.put(static_cast<float>(len > 0 ? x / len : 0.0));
    for (const CbVector3f* p : {&a, &b, &c}) {
      w.put(p->x);
      w.put(p->y);
      w.put(p->z);
    }
    w.put(std::uint16_t{0});
  }
}

void writeObj(Writer& w, const Geometry::CTriangulation& mesh, const std::vector<unsigned>& live) {
  w.text("# written by orvik\n");
  for (unsigned v = 0; v < mesh.GetVertexCount(); ++v) {
    const CbVector3f& p = mesh.GetVertex(v);
    w.text("v ", 2);
    w.number(p.x);
    w.text(" ", 1);
    w.number(p.y);
    w.text(" ", 1);
    w.number(p.z);
    w.text("\n", 1);
  }
  for (unsigned t : live) {
    w.text("f", 1);
    for (unsigned v : mesh.GetTriangle(t)) {
      w.text(" ", 1);
      w.number(v + 1);
    }
    w.text("\n", 1);
  }
}

}  // namespace

MeshFormat MeshFormatOf(const std::string& path) {
  const std::string p = lower(path);
  auto endsWith = [&](const char* tail) {
    const std::size_t n = std::strlen(tail);
    return p.size() >= n && p.compare(p.size() - n, n, tail) == 0;
  };
  if (endsWith(".ply")) return MeshFormat::Ply;
  if (endsWith(".stl")) return MeshFormat::Stl;
  if (endsWith(".obj")) return MeshFormat::Obj;
  return MeshFormat::Unknown;
}

void WriteMesh(const std::string& path, const Geometry::CTriangulation& mesh) {
  const MeshFormat format = MeshFormatOf(path);
  if (format == MeshFormat::Unknown) throw std::runtime_error("'" + path + "': unknown mesh format (use .ply, .stl or .obj)");
  const std::vector<unsigned> live = liveTriangles(mesh);
  CAtomicFile file(path.c_str());
  Writer w(file);
  if (format == MeshFormat::Ply) writePly(w, mesh, live);
  if (format == MeshFormat::Stl) writeStl(w, mesh, live);
  if (format == MeshFormat::Obj) writeObj(w, mesh, live);
  w.finish();
}

Geometry::CTriangulation* MeshOfHeightField(const CSSEMatrix& field, int step, float threshold, bool below,
                                            float spacing) {
  // Values that are not finite pass neither comparison once they are NaN.
  CSSEMatrix finite(field);
  for (int y = 0; y < finite.GetSizeY(); ++y)
    for (int x = 0; x < finite.GetSizeX(); ++x)
      if (!std::isfinite(finite.GetPointUnsafe(x, y))) finite.SetPointUnsafe(x, y, std::nanf(""));
  const CHTriangulation cells(&finite, threshold, !below, spacing, spacing, 1.0f, step, step);
  return cells.CreateCTriangulationFromHTriangulation();
}

Geometry::CTriangulation* SharedVertexMesh(const CHTriangulation& mesh) {
  auto blank = [&](int i) {
    const t_htriangle& t = *mesh.GetTriangle(i);
    return t.corner[0]->x == t.corner[1]->x && t.corner[0]->x == t.corner[2]->x && t.corner[0]->y == t.corner[1]->y &&
           t.corner[0]->y == t.corner[2]->y && t.corner[0]->z == t.corner[1]->z && t.corner[0]->z == t.corner[2]->z;
  };
  int kept = 0;
  for (int i = 0; i < mesh.GetNumTriangles(); ++i) kept += blank(i) ? 0 : 1;
  if (kept == mesh.GetNumTriangles()) return mesh.CreateCTriangulationFromHTriangulation();
  CHTriangulation cells(kept, 1.0f, 1.0f, 1.0f);
  int j = 0;
  for (int i = 0; i < mesh.GetNumTriangles(); ++i) {
    if (blank(i)) continue;
    for (int k = 0; k < 3; ++k) *cells.GetTriangle(j)->corner[k] = *mesh.GetTriangle(i)->corner[k];
    ++j;
  }
  return cells.CreateCTriangulationFromHTriangulation();
}

}  // namespace orvik::tool
