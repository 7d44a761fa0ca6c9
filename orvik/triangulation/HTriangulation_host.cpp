// Conversion to and from the host's shared-vertex mesh.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <vector>

#include "orvik/foundation/Exception.h"
#include "orvik/foundation/qe/Triangulation.h"
#include "orvik/triangulation/HTriangulation.h"

namespace {

// Corners closer than this in every lane are one vertex.
constexpr float c_fMergeTolerance = 0.0001f;

std::uint64_t mix(std::uint64_t h) {
  h ^= h >> 31;
  h *= 0xBF58476D1CE4E5B9ull;
  return h ^ (h >> 29);
}

bool close(const SSEPoint& a, const SSEPoint& b) {
  for (int k = 0; k < 4; ++k)
    if (!(std::fabs(a.f[k] - b.f[k]) < c_fMergeTolerance)) return false;
  return true;
}

bool finite(const SSEPoint& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) && std::isfinite(p.w); }

// Keys with chains of vertices in index order: an open-addressing table (at
// most half full) of record numbers, so that the part touched at random stays small.
template <class Key>
class ChainTable {
public:
  static constexpr std::uint32_t c_none = UINT32_MAX;

  explicit ChainTable(std::size_t expected) : m_table(std::bit_ceil(std::max<std::size_t>(16, 2 * expected)), c_none) {}

  // The first entry of the key's chain, c_none when there is none.
  std::uint32_t head(const Key& key) const {
    for (std::size_t s = key.hash() & mask();; s = (s + 1) & mask()) {
      if (m_table[s] == c_none) return c_none;
      if (m_records[m_table[s]].key == key) return m_records[m_table[s]].head;
    }
  }
  std::uint32_t next(std::uint32_t entry) const { return m_entries[entry].next; }
  std::uint32_t vertex(std::uint32_t entry) const { return m_entries[entry].vertex; }
  void add(const Key& key, std::uint32_t vertex) {
    if (2 * (m_records.size() + 1) > m_table.size()) grow();
    const auto e = static_cast<std::uint32_t>(m_entries.size());
    m_entries.push_back({vertex, c_none});
    for (std::size_t s = key.hash() & mask();; s = (s + 1) & mask()) {
      if (m_table[s] == c_none) {
        m_table[s] = static_cast<std::uint32_t>(m_records.size());
        m_records.push_back({key, e, e});
        return;
      }
      Record& r = m_records[m_table[s]];
      if (r.key == key) {
        m_entries[r.tail].next = e;
        r.tail = e;
        return;
      }
    }
  }

private:
  struct Record {
    Key key;
    std::uint32_t head, tail;
  };
  struct Entry {
    std::uint32_t vertex, next;
  };
  std::size_t mask() const { return m_table.size() - 1; }
  void grow() {
    m_table.assign(m_table.size() * 2, c_none);
    for (std::uint32_t r = 0; r < m_records.size(); ++r)
      for (std::size_t s = m_records[r].key.hash() & mask();; s = (s + 1) & mask())
        if (m_table[s] == c_none) {
          m_table[s] = r;
          break;
        }
  }

  std::vector<std::uint32_t> m_table;
  std::vector<Record> m_records;
  std::vector<Entry> m_entries;
};

// The four lanes' bits, -0 folded into +0.
struct ExactKey {
  std::uint32_t b[4];
  bool operator==(const ExactKey&) const = default;
  std::size_t hash() const {
    return mix((std::uint64_t{b[0]} << 32 | b[1]) * 0x9E3779B97F4A7C15ull ^ (std::uint64_t{b[2]} << 32 | b[3]));
  }
  static ExactKey of(const SSEPoint& p) {
    ExactKey k;
    for (int i = 0; i < 4; ++i) k.b[i] = std::bit_cast<std::uint32_t>(p.f[i] + 0.0f);
    return k;
  }
};

// A cube of space.
struct Cell {
  std::int64_t x, y, z;
  bool operator==(const Cell&) const = default;
  std::size_t hash() const {
    return mix(static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ull ^ static_cast<std::uint64_t>(y) * 0xC2B2AE3D27D4EB4Full ^
               static_cast<std::uint64_t>(z) * 0x165667B19E3779F9ull);
  }
};

// Finds the first vertex (lowest index) within the tolerance of a point in
// about constant time.
//
// A vertex equal to the point in every lane is that vertex: when it was added
// no earlier vertex lay within the tolerance of it. Only the first triangle's
// corners are added without that test, so they are looked at first. Other
// points look in the cubes of space that their tolerance box touches (most
// touch one); each vertex is listed in its own cube. The box is widened to
// 2e-4 so that rounding in the float comparison cannot leave a match outside,
// and the cubes are offset so that grid-aligned data does not sit on their faces.
class VertexIndex {
public:
  static constexpr std::uint32_t c_none = ChainTable<Cell>::c_none;

  explicit VertexIndex(std::size_t expected)
      : m_exact(std::bit_ceil(std::max<std::size_t>(16, 2 * expected)), c_none), m_cells(expected) {
    m_vertices.reserve(expected);
  }

  const std::vector<SSEPoint>& vertices() const { return m_vertices; }

  std::uint32_t find(const SSEPoint& p) const {
    if (!finite(p)) return c_none;  // never within the tolerance of anything
    if (_mm_movemask_ps(_mm_and_ps(_mm_cmpge_ps(p.v, m_firstLow), _mm_cmple_ps(p.v, m_firstHigh))) == 0xF)
      for (std::uint32_t v = 0; v < 3 && v < m_vertices.size(); ++v)
        if (close(m_vertices[v], p)) return v;
    const ExactKey key = ExactKey::of(p);
    for (std::size_t s = key.hash() & exactMask();; s = (s + 1) & exactMask()) {
      const std::uint32_t v = m_exact[s];
      if (v == c_none) break;
      if (ExactKey::of(m_vertices[v]) == key) return v;
    }
    const Cell lo = cellOf(p.x - c_margin, p.y - c_margin, p.z - c_margin);
    const Cell hi = cellOf(p.x + c_margin, p.y + c_margin, p.z + c_margin);
    std::uint32_t first = c_none;
    for (std::int64_t x = lo.x; x <= hi.x; ++x)
      for (std::int64_t y = lo.y; y <= hi.y; ++y)
        for (std::int64_t z = lo.z; z <= hi.z; ++z)
          for (std::uint32_t e = m_cells.head({x, y, z}); e != c_none && m_cells.vertex(e) < first; e = m_cells.next(e))
            if (close(m_vertices[m_cells.vertex(e)], p)) {
              first = m_cells.vertex(e);
              break;
            }
    return first;
  }

  std::uint32_t add(const SSEPoint& p) {
    const auto v = static_cast<std::uint32_t>(m_vertices.size());
    m_vertices.push_back(p);
    if (!finite(p)) return v;
    if (v < 3) {
      // The box around the first three vertices, widened by the tolerance.
      const __m128 tol = _mm_set1_ps(2 * c_fMergeTolerance);
      m_firstLow = v == 0 ? _mm_sub_ps(p.v, tol) : _mm_min_ps(m_firstLow, _mm_sub_ps(p.v, tol));
      m_firstHigh = v == 0 ? _mm_add_ps(p.v, tol) : _mm_max_ps(m_firstHigh, _mm_add_ps(p.v, tol));
    } else {
      if (2 * (++m_exactUsed) > m_exact.size()) growExact();
      for (std::size_t s = ExactKey::of(p).hash() & exactMask();; s = (s + 1) & exactMask())
        if (m_exact[s] == c_none) {
          m_exact[s] = v;
          break;
        }
    }
    m_cells.add(cellOf(p.x, p.y, p.z), v);
    return v;
  }

private:
  static constexpr double c_cellsPerUnit = 1e3;
  static constexpr double c_offset = 0.3183;
  static constexpr double c_margin = 2e-4;
  // Clamped so that huge coordinates stay in range; clamping is monotone, so
  // a matching pair still lies in neighbouring cubes.
  static std::int64_t index(double v) {
    const double c = std::floor(v * c_cellsPerUnit + c_offset);
    return c < -4e18 ? std::int64_t(-4e18) : c > 4e18 ? std::int64_t(4e18) : static_cast<std::int64_t>(c);
  }
  static Cell cellOf(double x, double y, double z) { return {index(x), index(y), index(z)}; }
  std::size_t exactMask() const { return m_exact.size() - 1; }
  void growExact() {
    m_exact.assign(m_exact.size() * 2, c_none);
    for (std::uint32_t v = 3; v < m_vertices.size(); ++v)
      if (finite(m_vertices[v]))
        for (std::size_t s = ExactKey::of(m_vertices[v]).hash() & exactMask();; s = (s + 1) & exactMask())
          if (m_exact[s] == c_none) {
            m_exact[s] = v;
            break;
          }
  }

  std::vector<SSEPoint> m_vertices;
  // Vertices from the fourth on by their exact bits (no two are equal).
  std::vector<std::uint32_t> m_exact;
  std::size_t m_exactUsed = 0;
  __m128 m_firstLow = _mm_setzero_ps(), m_firstHigh = _mm_setzero_ps();
  ChainTable<Cell> m_cells;
};

}  // namespace

Geometry::CTriangulation* CHTriangulation::CreateCTriangulationFromHTriangulation() const {
  if (m_nNumTriangles == 0) return new Geometry::CTriangulation;
  const std::size_t corners = 3 * static_cast<std::size_t>(m_nNumTriangles);
  if (corners >= VertexIndex::c_none)
    throw CbException("HTriangulation", __LINE__, "CHTriangulation::CreateCTriangulationFromHTriangulation",
                      "too many triangles");
  std::vector<Geometry::CTriangulation::Triangle> triangles(m_nNumTriangles);
  VertexIndex index(corners / 6 + 3);  // a height-field mesh has a vertex per two triangles
  for (std::size_t c = 0; c < corners; ++c) {
    const SSEPoint& p = m_pEdgeArray[c];
    // The first triangle's corners are vertices without a test.
    std::uint32_t v = c < 3 ? VertexIndex::c_none : index.find(p);
    if (v == VertexIndex::c_none) v = index.add(p);
    triangles[c / 3][c % 3] = v;
  }
  const std::vector<SSEPoint>& vertices = index.vertices();
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
