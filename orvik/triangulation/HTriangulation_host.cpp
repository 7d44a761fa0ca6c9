// Conversion to and from the host's shared-vertex mesh.
#include <array>
#include <bit>
#include <cmath>
#include <vector>

#include "orvik/foundation/qe/Triangulation.h"
#include "orvik/triangulation/HTriangulation.h"

namespace {

// Corners closer than this in every lane are one vertex.
constexpr float c_fMergeTolerance = 0.0001f;

// Finds the first vertex (lowest index) within the tolerance of a point in
// about constant time. Space is cut into cubes of c_cell; a vertex is listed
// in every cube its tolerance box touches (most touch one), so a point's own
// cube lists every vertex that can match it, in index order. The box is
// widened to 2e-4 so that rounding in the float comparison cannot put a
// matching vertex outside it.
class VertexGrid {
public:
  explicit VertexGrid(std::size_t expected)
      : m_table(std::bit_ceil(std::max<std::size_t>(16, 2 * expected))) {}

  // -1 when no vertex matches.
  long find(const SSEPoint& p, const std::vector<SSEPoint>& vertices) const {
    if (!finite(p)) return -1;
    const Cell c = cellOf(p.x, p.y, p.z);
    for (std::size_t s = hash(c) & mask();; s = (s + 1) & mask()) {
      const Slot& slot = m_table[s];
      if (slot.head < 0) return -1;
      if (slot.cell != c) continue;
      for (long e = slot.head; e >= 0; e = m_entries[e].next) {
        const long v = m_entries[e].vertex;
        if (close(vertices[v], p)) return v;
      }
      return -1;
    }
  }

  void insert(const SSEPoint& p, long vertex) {
    if (!finite(p)) return;  // never within the tolerance of anything
    const Cell lo = cellOf(p.x - c_margin, p.y - c_margin, p.z - c_margin);
    const Cell hi = cellOf(p.x + c_margin, p.y + c_margin, p.z + c_margin);
    for (std::int64_t x = lo.x; x <= hi.x; ++x)
      for (std::int64_t y = lo.y; y <= hi.y; ++y)
        for (std::int64_t z = lo.z; z <= hi.z; ++z) add({x, y, z}, vertex);
  }

private:
  static constexpr double c_cell = 1e-3;
  static constexpr double c_margin = 2e-4;
  struct Cell {
    std::int64_t x, y, z;
    bool operator==(const Cell&) const = default;
  };
  struct Slot {
    Cell cell{};
    long head = -1, tail = -1;
  };
  struct Entry {
    long vertex, next;
  };

  static bool finite(const SSEPoint& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }
  static bool close(const SSEPoint& a, const SSEPoint& b) {
    for (int k = 0; k < 4; ++k)
      if (!(std::fabs(a.f[k] - b.f[k]) < c_fMergeTolerance)) return false;
    return true;
  }
  // Clamped so that huge coordinates stay in range; clamping is monotone, so
  // a matching pair still shares a cube.
  static std::int64_t index(double v) {
    const double c = std::floor(v / c_cell);
    return c < -4e18 ? std::int64_t(-4e18) : c > 4e18 ? std::int64_t(4e18) : static_cast<std::int64_t>(c);
  }
  static Cell cellOf(double x, double y, double z) { return {index(x), index(y), index(z)}; }
  static std::size_t hash(const Cell& c) {
    std::uint64_t h = static_cast<std::uint64_t>(c.x) * 0x9E3779B97F4A7C15ull;
    h ^= static_cast<std::uint64_t>(c.y) * 0xC2B2AE3D27D4EB4Full + (h >> 29);
    h ^= static_cast<std::uint64_t>(c.z) * 0x165667B19E3779F9ull + (h >> 31);
    return static_cast<std::size_t>(h ^ (h >> 32));
  }
  std::size_t mask() const { return m_table.size() - 1; }

  void add(const Cell& c, long vertex) {
    if (2 * (m_used + 1) > m_table.size()) grow();
    const long e = static_cast<long>(m_entries.size());
    m_entries.push_back({vertex, -1});
    for (std::size_t s = hash(c) & mask();; s = (s + 1) & mask()) {
      Slot& slot = m_table[s];
      if (slot.head < 0) {
        slot = {c, e, e};
        ++m_used;
        return;
      }
      if (slot.cell == c) {
        m_entries[slot.tail].next = e;
        slot.tail = e;
        return;
      }
    }
  }
  void grow() {
    std::vector<Slot> old(m_table.size() * 2);
    old.swap(m_table);
    for (const Slot& slot : old) {
      if (slot.head < 0) continue;
      for (std::size_t s = hash(slot.cell) & mask();; s = (s + 1) & mask())
        if (m_table[s].head < 0) {
          m_table[s] = slot;
          break;
        }
    }
  }

  std::vector<Slot> m_table;
  std::vector<Entry> m_entries;
  std::size_t m_used = 0;
};

}  // namespace

Geometry::CTriangulation* CHTriangulation::CreateCTriangulationFromHTriangulation() const {
  if (m_nNumTriangles == 0) return new Geometry::CTriangulation;
  const std::size_t corners = 3 * static_cast<std::size_t>(m_nNumTriangles);
  std::vector<SSEPoint> vertices;
  vertices.reserve(corners / 4 + 3);
  std::vector<Geometry::CTriangulation::Triangle> triangles(m_nNumTriangles);
  VertexGrid grid(corners / 4 + 3);
  for (std::size_t c = 0; c < corners; ++c) {
    const SSEPoint& p = m_pEdgeArray[c];
    // The first triangle's corners are vertices without a test.
    long v = c < 3 ? -1 : grid.find(p, vertices);
    if (v < 0) {
      v = static_cast<long>(vertices.size());
      vertices.push_back(p);
      grid.insert(p, v);
    }
    triangles[c / 3][c % 3] = static_cast<unsigned>(v);
  }
  std::vector<CbVector3f> positions(vertices.size());
  for (std::size_t i = 0; i < vertices.size(); ++i) positions[i] = {vertices[i].x, vertices[i].y, vertices[i].z};
  auto* mesh = new Geometry::CTriangulation(
      static_cast<unsigned>(positions.size()), static_cast<unsigned>(triangles.size()),
      SMemoryBlock<CbVector3f>(positions.data(), positions.size()),
      SMemoryBlock<Geometry::CTriangulation::Triangle>(triangles.data(), triangles.size()), {}, {});
  QeMpTriangulationNormals::Compute(*mesh);
  return mesh;
}

void CHTriangulation::CreateTriangulationFromCTriangulation(const Geometry::CTriangulation* mesh) {
  CreateTriangulation(static_cast<int>(mesh->GetLiveTriangleCount()));
  const __m128 scale = _mm_setr_ps(m_fScaleX, m_fScaleY, m_fScaleZ, 0.0f);
  int i = 0;
  for (unsigned t = 0; t < mesh->GetTriangleCount(); ++t) {
    if (mesh->IsTriangleRemoved(t)) continue;
    const auto& tri = mesh->GetTriangle(t);
    for (int k = 0; k < 3; ++k) {
      const CbVector3f& p = mesh->GetVertex(tri[k]);
      m_pTriangles[i].corner[k]->v = _mm_mul_ps(_mm_setr_ps(p.x, p.y, p.z, 0.0f), scale);
    }
    ++i;
  }
}

CHTriangulation::CHTriangulation(const Geometry::CTriangulation* mesh) : CHTriangulation(mesh, 1.0f, 1.0f, 1.0f) {}

CHTriangulation::CHTriangulation(const Geometry::CTriangulation* mesh, float scaleX, float scaleY, float scaleZ) {
  BaseInitialization(scaleX, scaleY, scaleZ);
  CreateTriangulationFromCTriangulation(mesh);
  if (m_nNumTriangles >= 1) {
    calcBoundsFromCorners();
    CalcSTV();
    CalcNormalsFromVertices();
  }
}
