// Adjacency by a hash of edges: two triangles are neighbours across an edge
// whose corners are equal in x, y and z, in either order. One pass puts every
// edge into the group of equal edges; a second links the triangles of each
// group. This gives the same links as comparing every pair of triangles where
// no edge has more than two triangles, in linear time.
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "orvik/foundation/Exception.h"

#include "orvik/triangulation/HTriangulation.h"

namespace {

// A corner as its coordinate bits: -0 folded into +0 so that the bit patterns
// are equal exactly when the floats are.
struct CornerBits {
  std::uint32_t x, y, z;
  bool operator==(const CornerBits&) const = default;
};

bool cornerBits(const SSEPoint& p, CornerBits& out) {
  if (p.x != p.x || p.y != p.y || p.z != p.z) return false;  // NaN equals nothing
  out = {std::bit_cast<std::uint32_t>(p.x + 0.0f), std::bit_cast<std::uint32_t>(p.y + 0.0f),
         std::bit_cast<std::uint32_t>(p.z + 0.0f)};
  return true;
}

bool before(const CornerBits& a, const CornerBits& b) {
  if (a.x != b.x) return a.x < b.x;
  if (a.y != b.y) return a.y < b.y;
  return a.z < b.z;
}

struct EdgeKey {
  CornerBits a, b;  // a before b, or equal
  bool operator==(const EdgeKey&) const = default;
};

std::uint64_t hashKey(const EdgeKey& k) {
  std::uint64_t h = (std::uint64_t{k.a.x} << 32 | k.a.y) * 0x9E3779B97F4A7C15ull;
  h ^= (std::uint64_t{k.a.z} << 32 | k.b.x) * 0xC2B2AE3D27D4EB4Full;
  h ^= (std::uint64_t{k.b.y} << 32 | k.b.z) * 0x165667B19E3779F9ull;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  return h ^ (h >> 32);
}

constexpr std::uint32_t c_none = UINT32_MAX;

}  // namespace

void CHTriangulation::CalcNeighbours() {
  const std::uint64_t edges = 3 * static_cast<std::uint64_t>(m_nNumTriangles);
  if (edges >= c_none)
    throw CbException("HTriangulation", __LINE__, "CHTriangulation::CalcNeighbours", "too many triangles");
  for (int i = 0; i < m_nNumTriangles; ++i)
    for (auto& n : m_pTriangles[i].neighbour) n = nullptr;

  // Groups of equal edges in order of their first edge; an open-addressing
  // table of group numbers, at most half full, finds them. `next` chains the
  // edges of a group in array order. Compact entries keep the table in cache.
  struct Group {
    EdgeKey key;
    std::uint32_t first, last;
  };
  std::vector<Group> groups;
  groups.reserve(edges / 2 + 1);
  const std::uint64_t size = std::bit_ceil(std::max<std::uint64_t>(16, 2 * edges));
  std::vector<std::uint32_t> table(size, c_none);
  std::vector<std::uint32_t> next(edges, c_none);
  for (std::uint32_t e = 0; e < edges; ++e) {
    const std::uint64_t tri = e / 3;
    const int k = static_cast<int>(e % 3);
    CornerBits p, q;
    if (!cornerBits(m_pEdgeArray[3 * tri + k], p) || !cornerBits(m_pEdgeArray[3 * tri + (k + 1) % 3], q)) continue;
    const EdgeKey key = before(q, p) ? EdgeKey{q, p} : EdgeKey{p, q};
    for (std::uint64_t s = hashKey(key) & (size - 1);; s = (s + 1) & (size - 1)) {
      if (table[s] == c_none) {
        table[s] = static_cast<std::uint32_t>(groups.size());
        groups.push_back({key, e, e});
        break;
      }
      Group& g = groups[table[s]];
      if (g.key == key) {
        next[g.last] = e;
        g.last = e;
        break;
      }
    }
  }

  for (const Group& g : groups) {
    if (g.first == g.last) continue;
    // Each edge of the group links to the last triangle of the group other
    // than its own: with two triangles, to each other.
    const std::uint32_t lastTri = g.last / 3;
    std::uint32_t otherTri = c_none;
    for (std::uint32_t e = g.first; e != c_none; e = next[e])
      if (e / 3 != lastTri) otherTri = e / 3;
    for (std::uint32_t e = g.first; e != c_none; e = next[e]) {
      const std::uint32_t partner = e / 3 != lastTri ? lastTri : otherTri;
      if (partner != c_none) m_pTriangles[e / 3].neighbour[e % 3] = m_pTriangles + partner;
    }
  }
  FindBorderTriangles();
  // The working list ends up holding the border triangles in array order, as
  // the pairwise search leaves it once every complete triangle has left.
  t_htriangle* tail = nullptr;
  m_pTriangleList = nullptr;
  for (int i = 0; i < m_nNumTriangles; ++i) {
    t_htriangle& t = m_pTriangles[i];
    t.next = t.prev = nullptr;
    if (t.neighbour[0] && t.neighbour[1] && t.neighbour[2]) continue;
    t.prev = tail;
    (tail ? tail->next : m_pTriangleList) = &t;
    tail = &t;
  }
}

void CHTriangulation::FindBorderTriangles() {
  for (int i = 0; i < m_nNumTriangles; ++i) {
    t_htriangle& t = m_pTriangles[i];
    if (!t.neighbour[0] || !t.neighbour[1] || !t.neighbour[2]) t.mark = c_iBorderMark;
  }
}
