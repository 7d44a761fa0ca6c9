#include "orvik/triangulation/HOctree.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "orvik/foundation/Alloc.h"
#include "orvik/foundation/Exception.h"
#include "orvik/triangulation/HTriangulation.h"

namespace {

constexpr int c_iEntriesPerBlock = 9;

// Signs of x, y, z of child k's centre relative to its parent's.
constexpr float c_childSign[8][3] = {{+1, +1, -1}, {-1, +1, -1}, {-1, -1, -1}, {+1, -1, -1},
                                     {+1, +1, +1}, {-1, +1, +1}, {-1, -1, +1}, {+1, -1, +1}};

bool validList(int list) { return list >= 0 && list < CHOctree::c_iNumLists; }

// Brick bounds <= triangle bounds in x, y and z; a NaN bound never fits.
bool fits(const t_hoctreeelement& b, __m128 triMin, __m128 triMax) {
  const __m128 inside = _mm_and_ps(_mm_cmple_ps(b.minCorner.v, triMin), _mm_cmple_ps(triMax, b.maxCorner.v));
  return (_mm_movemask_ps(inside) & 7) == 7;
}

// The mark that tells which level a triangle was filed at.
std::int32_t levelMark(std::int32_t level) {
  switch (level) {
    case 1: return 4;
    case 2: return 2;
    case 3: return 3;
    case 4: case 5: case 6: case 7: case 8: case 9: case 10: return level + 1;
    case 11: return -1;
    default: return 1;
  }
}

std::uint64_t physicalMemory() {
  const long pages = ::sysconf(_SC_PHYS_PAGES), size = ::sysconf(_SC_PAGE_SIZE);
  return pages > 0 && size > 0 ? std::uint64_t(pages) * std::uint64_t(size) : UINT64_MAX;
}

}  // namespace

CHOctree::CHOctree(SSEPoint& maxPt, SSEPoint& minPt, float cell) {
  if (!(cell > 0.0f) || !std::isfinite(cell))
    throw CbException("HOctree", __LINE__, "CHOctree::CHOctree", "cell size not positive and finite");
  for (int k = 0; k < 4; ++k)
    if (!std::isfinite(maxPt.f[k]) || !std::isfinite(minPt.f[k]))
      throw CbException("HOctree", __LINE__, "CHOctree::CHOctree", "box not finite");
  const SSEPoint extent = _mm_sub_ps(maxPt.v, minPt.v);
  CSSEFns::max_of_m128(extent, &m_fEdgeLength);
  m_fMinX = minPt.x, m_fMaxX = maxPt.x;
  m_fMinY = minPt.y, m_fMaxY = maxPt.y;
  m_fMinZ = minPt.z, m_fMaxZ = maxPt.z;
  m_fCellSize = cell;

  // A box of no extent, or one inverted, has no levels; so has a box below
  // about 1.4 cells, where the rounded logarithm is 0 or negative.
  const float ratio = m_fEdgeLength / cell;
  const double levels = ratio > 0.0f ? std::log(double(ratio)) / std::log(2.0) + 0.5 : 0.0;
  if (levels >= c_iMaxDepth + 1) AfxThrowMemoryException();
  const int depth = std::max(0, static_cast<int>(levels));
  std::uint64_t total = 0;
  for (int level = 0; level < depth; ++level) total += std::uint64_t{1} << (3 * level);
  if (total * sizeof(t_hoctreeelement) > physicalMemory()) AfxThrowMemoryException();
  if (depth == 0) return;

  const std::size_t bytes = total * sizeof(t_hoctreeelement);
  auto* bricks = static_cast<t_hoctreeelement*>(SafeAlignedAlloc(bytes, alignof(t_hoctreeelement)));
  std::memset(static_cast<void*>(bricks), 0, bytes);
  m_iDepth = depth;
  m_iNumBricks = static_cast<std::int32_t>(total);
  t_hoctreeelement* level = bricks;
  float half = m_fEdgeLength / 2.0f;
  for (int L = 0; L < depth; ++L) {
    const std::int32_t count = std::int32_t{1} << (3 * L);
    m_pLevels[L] = level;
    m_iNumBricksInLevel[L] = count;
    for (std::int32_t j = 0; j < count; ++j) {
      level[j].level = L;
      level[j].halfEdge = half;
      if (L + 1 < depth)
        for (int k = 0; k < 8; ++k) {
          t_hoctreeelement* child = level + count + 8 * j + k;
          level[j].children[k] = child;
          child->parent = level + j;
        }
    }
    level += count;
    half /= 2.0f;
  }
  m_pStem = bricks;
  SSEPoint centre = _mm_mul_ps(_mm_add_ps(maxPt.v, minPt.v), _mm_set1_ps(0.5f));
  PositionReferenceOctree(m_pStem, &centre);
}

CHOctree::CHOctree(const CHOctree& other) {
  try {
    copyFrom(other);
  } catch (...) {
    release();
    throw;
  }
}

CHOctree& CHOctree::operator=(const CHOctree& other) {
  if (this == &other) return *this;
  CHOctree copy(other);
  std::swap(m_pStem, copy.m_pStem);
  std::swap(m_pLevels, copy.m_pLevels);
  std::swap(m_iNumBricksInLevel, copy.m_iNumBricksInLevel);
  std::swap(m_iDepth, copy.m_iDepth);
  std::swap(m_iNumBricks, copy.m_iNumBricks);
  m_fEdgeLength = other.m_fEdgeLength;
  m_fMinX = other.m_fMinX, m_fMaxX = other.m_fMaxX;
  m_fMinY = other.m_fMinY, m_fMaxY = other.m_fMaxY;
  m_fMinZ = other.m_fMinZ, m_fMaxZ = other.m_fMaxZ;
  m_fCellSize = other.m_fCellSize;
  return *this;
}

CHOctree::~CHOctree() { release(); }

void CHOctree::copyFrom(const CHOctree& other) {
  m_fEdgeLength = other.m_fEdgeLength;
  m_fMinX = other.m_fMinX, m_fMaxX = other.m_fMaxX;
  m_fMinY = other.m_fMinY, m_fMaxY = other.m_fMaxY;
  m_fMinZ = other.m_fMinZ, m_fMaxZ = other.m_fMaxZ;
  m_fCellSize = other.m_fCellSize;
  if (!other.m_pStem) return;
  const std::size_t n = static_cast<std::size_t>(other.m_iNumBricks);
  auto* bricks =
      static_cast<t_hoctreeelement*>(SafeAlignedAlloc(n * sizeof(t_hoctreeelement), alignof(t_hoctreeelement)));
  std::memcpy(static_cast<void*>(bricks), other.m_pStem, n * sizeof(t_hoctreeelement));
  // The lists are still the other tree's: cleared before anything can fail,
  // so that release() frees only what this tree owns.
  for (std::size_t i = 0; i < n; ++i) std::fill(std::begin(bricks[i].lists), std::end(bricks[i].lists), nullptr);
  m_pStem = bricks;
  m_iNumBricks = other.m_iNumBricks;
  m_iDepth = other.m_iDepth;
  for (int L = 0; L < m_iDepth; ++L) {
    m_pLevels[L] = bricks + (other.m_pLevels[L] - other.m_pStem);
    m_iNumBricksInLevel[L] = other.m_iNumBricksInLevel[L];
  }
  auto rebase = [&](t_hoctreeelement* p) { return p ? bricks + (p - other.m_pStem) : nullptr; };
  for (std::size_t i = 0; i < n; ++i) {
    t_hoctreeelement& b = bricks[i];
    b.parent = rebase(b.parent);
    for (t_hoctreeelement*& child : b.children) child = rebase(child);
    for (int list = 0; list < c_iNumLists; ++list) {
      t_hoctreeentry** tail = &b.lists[list];
      for (const t_hoctreeentry* block = other.m_pStem[i].lists[list]; block; block = block->next) {
        *tail = static_cast<t_hoctreeentry*>(SafeCalloc(1, sizeof(t_hoctreeentry)));
        std::memcpy(*tail, block, sizeof(t_hoctreeentry));
        (*tail)->next = nullptr;
        tail = &(*tail)->next;
      }
    }
  }
}

void CHOctree::release() noexcept {
  for (std::int32_t i = 0; i < m_iNumBricks; ++i) RemoveAllEntriesFromOctreeElement(m_pStem + i);
  SafeAlignedFree(m_pStem);
  m_pStem = nullptr;
  std::fill(std::begin(m_pLevels), std::end(m_pLevels), nullptr);
  std::fill(std::begin(m_iNumBricksInLevel), std::end(m_iNumBricksInLevel), 0);
  m_iDepth = 0;
  m_iNumBricks = 0;
}

SSEPoint CHOctree::boxCentre() const {
  if (m_pStem) return m_pStem->centre;
  return SSEPoint((m_fMaxX + m_fMinX) * 0.5f, (m_fMaxY + m_fMinY) * 0.5f, (m_fMaxZ + m_fMinZ) * 0.5f);
}

void CHOctree::PositionReferenceOctree(t_hoctreeelement* brick, SSEPoint* centre) {
  if (!brick || !centre) return;
  const __m128 h = _mm_set1_ps(brick->halfEdge);
  brick->centre = *centre;
  brick->maxCorner = _mm_add_ps(centre->v, h);
  brick->minCorner = _mm_sub_ps(centre->v, h);
  for (int k = 0; k < 8; ++k) {
    t_hoctreeelement* child = brick->children[k];
    if (!child) continue;
    const float hc = child->halfEdge;
    const __m128 offset = _mm_setr_ps(hc * c_childSign[k][0], hc * c_childSign[k][1], hc * c_childSign[k][2], 0.0f);
    SSEPoint c = _mm_add_ps(centre->v, offset);
    PositionReferenceOctree(child, &c);
  }
}

void CHOctree::CalculateOctreeEntries(CHTriangulation* mesh, int list) {
  if (!mesh || !validList(list) || !m_pStem) return;
  // The tail of every list written so far, so that a long list is not walked
  // for each entry.
  std::vector<t_hoctreeentry*> tails(static_cast<std::size_t>(m_iNumBricks), nullptr);
  t_htriangle* triangles = mesh->GetTriangles();
  const int n = mesh->GetNumTriangles();
  for (int i = 0; i < n; ++i) {
    t_htriangle& t = triangles[i];
    const __m128 lo = t.minCorner->v, hi = t.maxCorner->v;
    t_hoctreeelement* brick = m_pStem;
    if (!fits(*brick, lo, hi)) continue;
    for (bool deeper = true; deeper;) {
      deeper = false;
      for (t_hoctreeelement* child : brick->children)
        if (child && fits(*child, lo, hi)) {
          brick = child;
          deeper = true;
          break;
        }
    }
    appendEntry(tails[static_cast<std::size_t>(brick - m_pStem)], brick, list, t.index);
    t.mark = levelMark(brick->level);
  }
}

bool CHOctree::InsertTriangleIntoOctree(t_htriangle* t, t_hoctreeelement* brick, int list) {
  if (!t || !brick || !validList(list) || !fits(*brick, t->minCorner->v, t->maxCorner->v)) return false;
  for (t_hoctreeelement* child : brick->children)
    if (child && InsertTriangleIntoOctree(t, child, list)) return true;
  InsertTriangleIntoOctreeElement(t, brick, list);
  return true;
}

void CHOctree::InsertTriangleIntoOctreeElement(t_htriangle* t, t_hoctreeelement* brick, int list) {
  if (!t || !brick || !validList(list)) return;
  AppendEntryToOctreeElement(brick, list, t->index);
  t->mark = levelMark(brick->level);
}

void CHOctree::appendEntry(t_hoctreeentry*& tail, t_hoctreeelement* brick, int list, int entry) {
  if (!tail)
    for (tail = brick->lists[list]; tail && tail->next;) tail = tail->next;
  if (!tail || tail->count >= c_iEntriesPerBlock) {
    auto* block = static_cast<t_hoctreeentry*>(SafeCalloc(1, sizeof(t_hoctreeentry)));
    (tail ? tail->next : brick->lists[list]) = block;
    tail = block;
  }
  tail->entries[tail->count++] = entry;
}

void CHOctree::AppendEntryToOctreeElement(t_hoctreeelement* brick, int list, int entry) {
  if (!brick || !validList(list)) return;
  t_hoctreeentry* tail = nullptr;
  appendEntry(tail, brick, list, entry);
}

int CHOctree::GetEntryFromOctreeElement(t_hoctreeelement* brick, int list, int i) const {
  if (!brick || !validList(list) || i < 0) return -1;
  for (const t_hoctreeentry* block = brick->lists[list]; block; block = block->next) {
    if (i < block->count) return block->entries[i];
    i -= block->count;
  }
  return -1;
}

void CHOctree::RemoveAllEntriesFromOctreeElement(t_hoctreeelement* brick) {
  if (!brick) return;
  for (t_hoctreeentry*& head : brick->lists)
    while (head) {
      t_hoctreeentry* next = head->next;
      SafeFree(head);
      head = next;
    }
}

void CHOctree::ClearEntry(t_hoctreeelement& brick) { std::memset(static_cast<void*>(&brick), 0, sizeof(brick)); }

void CHOctree::FindMinMaxPointTriangulation(CHTriangulation* mesh, SSEPoint& maxPt, SSEPoint& minPt,
                                            t_hoctreeelement* brick, int list) {
  if (!mesh || !brick || !validList(list)) return;
  for (t_hoctreeelement* child : brick->children) FindMinMaxPointTriangulation(mesh, maxPt, minPt, child, list);
  for (const t_hoctreeentry* block = brick->lists[list]; block; block = block->next)
    for (int e = 0; e < block->count; ++e)
      if (const t_htriangle* t = mesh->GetTriangle(block->entries[e])) {
        maxPt = _mm_max_ps(maxPt.v, t->maxCorner->v);
        minPt = _mm_min_ps(minPt.v, t->minCorner->v);
      }
}
