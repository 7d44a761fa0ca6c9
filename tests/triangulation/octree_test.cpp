#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "mesh_helpers.h"
#include "orvik/foundation/Exception.h"
#include "orvik/foundation/platform/Exceptions.h"
#include "orvik/triangulation/RestorationOctree.h"
#include "support/peak_memory.h"

namespace {

using mesh_test::Tri;

// Every brick, level by level from the stem.
std::vector<t_hoctreeelement*> allBricks(const CHOctree& tree) {
  std::vector<t_hoctreeelement*> bricks;
  if (tree.GetStem()) bricks.push_back(tree.GetStem());
  for (std::size_t i = 0; i < bricks.size(); ++i)
    for (t_hoctreeelement* child : bricks[i]->children)
      if (child) bricks.push_back(child);
  return bricks;
}

// A brick of the regular subdivision of the cube [lo, lo + edge]^3: level and
// integer position; its bounds are exact for the dyadic boxes used here.
struct Cell {
  int level, i, j, k;
};

std::array<float, 6> cellBounds(const Cell& c, const SSEPoint& lo, float edge) {
  const float size = edge / float(1 << c.level);
  return {lo.x + c.i * size, lo.y + c.j * size, lo.z + c.k * size,
          lo.x + (c.i + 1) * size, lo.y + (c.j + 1) * size, lo.z + (c.k + 1) * size};
}

// The deepest cells that hold the triangle's bounds; empty when even the
// root does not.
std::vector<Cell> smallestCells(const SSEPoint& tmin, const SSEPoint& tmax, const SSEPoint& lo, float edge,
                                int depth) {
  for (int level = depth - 1; level >= 0; --level) {
    std::vector<Cell> found;
    const int n = 1 << level;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j)
        for (int k = 0; k < n; ++k) {
          const auto b = cellBounds({level, i, j, k}, lo, edge);
          bool in = true;
          for (int a = 0; a < 3; ++a) in = in && b[a] <= tmin.f[a] && tmax.f[a] <= b[a + 3];
          if (in) found.push_back({level, i, j, k});
        }
    if (!found.empty()) return found;
  }
  return {};
}

int markOfLevel(int level) {
  static const std::map<int, int> marks = {{0, 1}, {1, 4}, {2, 2}, {3, 3}, {4, 5}, {5, 6}, {6, 7}};
  return marks.at(level);
}

std::vector<int> listOf(const CHOctree& tree, t_hoctreeelement* brick, int list) {
  std::vector<int> entries;
  for (int i = 0; tree.GetEntryFromOctreeElement(brick, list, i) >= 0; ++i)
    entries.push_back(tree.GetEntryFromOctreeElement(brick, list, i));
  return entries;
}

std::vector<Tri> randomTriangles(int n, float lo, float hi, float maxSize, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(lo, hi), s(-maxSize, maxSize);
  std::vector<Tri> tris(n);
  for (Tri& t : tris) {
    const SSEPoint a(u(rng), u(rng), u(rng));
    t = {a, SSEPoint(a.x + s(rng), a.y + s(rng), a.z + s(rng)), SSEPoint(a.x + s(rng), a.y + s(rng), a.z + s(rng))};
  }
  return tris;
}

}  // namespace

TEST(Octree, BricksTileTheCubeAroundTheBox) {
  struct Case {
    const char* name;
    SSEPoint min, max;
    float cell;
    int depth, bricks;
    float leafHalfEdge;
  };
  const Case cases[] = {
      {"cube 0..8, cell 1", {0, 0, 0}, {8, 8, 8}, 1.0f, 3, 73, 1.0f},
      {"flat box: the cube around its centre", {-3, -5, -2}, {13, 7, 0}, 2.0f, 3, 73, 2.0f},
      {"rounding up from 2^3.6", {0, 0, 0}, {12, 1, 1}, 1.0f, 4, 585, 0.75f},
      {"one cell: the root alone", {0, 0, 0}, {3, 2, 1}, 2.0f, 1, 1, 1.5f},
      {"smaller than a cell: no bricks", {0, 0, 0}, {8, 8, 8}, 8.0f, 0, 0, 0.0f},
      {"no extent", {1, 1, 1}, {1, 1, 1}, 1.0f, 0, 0, 0.0f},
      {"inverted box", {8, 8, 8}, {0, 0, 0}, 1.0f, 0, 0, 0.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SSEPoint mx = c.max, mn = c.min;
    const CHOctree tree(mx, mn, c.cell);
    EXPECT_EQ(tree.GetDepth(), c.depth);
    EXPECT_EQ(tree.GetNumBricks(), c.bricks);
    const std::vector<t_hoctreeelement*> bricks = allBricks(tree);
    ASSERT_EQ(int(bricks.size()), c.bricks);
    if (c.depth == 0) {
      EXPECT_EQ(tree.GetStem(), nullptr);
      continue;
    }
    const float edge = tree.GetEdgeLength();
    const SSEPoint lo((c.max.x + c.min.x) / 2 - edge / 2, (c.max.y + c.min.y) / 2 - edge / 2,
                      (c.max.z + c.min.z) / 2 - edge / 2);
    std::vector<std::vector<int>> seen(c.depth);
    for (t_hoctreeelement* b : bricks) {
      const int level = b->level, n = 1 << level;
      ASSERT_LT(level, c.depth);
      if (level == c.depth - 1) {
        EXPECT_EQ(b->halfEdge, c.leafHalfEdge);
      }
      for (t_hoctreeelement* child : b->children)
        if (level + 1 < c.depth) {
          ASSERT_NE(child, nullptr);
          EXPECT_EQ(child->parent, b);
          EXPECT_EQ(child->level, level + 1);
        } else {
          EXPECT_EQ(child, nullptr);
        }
      // Children 0 ... 3 below the centre, 4 ... 7 above, each quartet
      // counter-clockwise from (+x, +y).
      static const int sign[8][3] = {{1, 1, -1}, {-1, 1, -1}, {-1, -1, -1}, {1, -1, -1},
                                     {1, 1, 1},  {-1, 1, 1},  {-1, -1, 1},  {1, -1, 1}};
      for (int k = 0; k < 8 && level + 1 < c.depth; ++k)
        for (int a = 0; a < 3; ++a)
          EXPECT_EQ(b->children[k]->centre.f[a] > b->centre.f[a], sign[k][a] > 0) << "child " << k;
      const float size = edge / float(n);
      const int i = int((b->minCorner.x - lo.x) / size), j = int((b->minCorner.y - lo.y) / size),
                k = int((b->minCorner.z - lo.z) / size);
      const auto expected = cellBounds({level, i, j, k}, lo, edge);
      for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(b->minCorner.f[a], expected[a]);
        EXPECT_EQ(b->maxCorner.f[a], expected[a + 3]);
      }
      seen[level].push_back((i * n + j) * n + k);
    }
    // Every cell of every level exactly once.
    for (int level = 0; level < c.depth; ++level) {
      std::sort(seen[level].begin(), seen[level].end());
      EXPECT_EQ(std::adjacent_find(seen[level].begin(), seen[level].end()), seen[level].end());
      EXPECT_EQ(int(seen[level].size()), 1 << (3 * level));
    }
  }
}

TEST(Octree, TrianglesGoToTheSmallestBrickHoldingThem) {
  const SSEPoint o(0, 0, 0);
  auto tri = [](float x0, float y0, float z0, float x1, float y1, float z1) {
    return Tri{SSEPoint(x0, y0, z0), SSEPoint(x1, y0, z1), SSEPoint(x0, y1, z1)};
  };
  struct Case {
    const char* name;
    SSEPoint min, max;
    float cell;
    std::vector<Tri> tris;
  };
  const Case cases[] = {
      {"hand-made in 0..8",
       o,
       {8, 8, 8},
       1.0f,
       {tri(3.5f, 1, 1, 4.5f, 2, 2),        // across the root's mid-plane: the root
        tri(0.2f, 0.2f, 0.2f, 0.8f, 0.8f, 0.8f),  // inside a leaf
        tri(1.5f, 0.5f, 0.5f, 2.5f, 1, 1),  // in a level-1 brick across its children
        tri(9, 1, 1, 9.5f, 2, 2),           // beyond the root
        tri(6, 6, 6, 8, 8, 8)}},            // touching the far corner
      {"random small triangles, six levels", {-3, -5, -2}, {13, 7, 6}, 0.25f, randomTriangles(400, -4, 14, 0.7f, 3)},
      {"random triangles of every size", {0, 0, 0}, {16, 16, 16}, 1.0f, randomTriangles(300, -1, 17, 6, 4)},
      {"a jittered height-field grid", {0, 0, 0}, {16, 16, 16}, 2.0f, mesh_test::grid(16, 16, 0.3f, false, true, 5)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CHTriangulation mesh;
    mesh_test::fill(mesh, c.tris);
    SSEPoint mx = c.max, mn = c.min;
    CHOctree tree(mx, mn, c.cell);
    const int list = 2;
    tree.CalculateOctreeEntries(&mesh, list);
    const float edge = tree.GetEdgeLength();
    const SSEPoint lo((c.max.x + c.min.x) / 2 - edge / 2, (c.max.y + c.min.y) / 2 - edge / 2,
                      (c.max.z + c.min.z) / 2 - edge / 2);
    // Which brick each triangle was filed in, read from the lists.
    std::vector<t_hoctreeelement*> filedIn(mesh.GetNumTriangles(), nullptr);
    for (t_hoctreeelement* b : allBricks(tree)) {
      const std::vector<int> entries = listOf(tree, b, list);
      EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end()));  // triangles are inserted in order
      for (int e : entries) {
        ASSERT_TRUE(e >= 0 && e < mesh.GetNumTriangles());
        EXPECT_EQ(filedIn[e], nullptr) << "triangle " << e << " filed twice";
        filedIn[e] = b;
      }
      for (int other = 0; other < CHOctree::c_iNumLists; ++other)
        if (other != list) {
          EXPECT_EQ(tree.GetEntryFromOctreeElement(b, other, 0), -1);
        }
    }
    int filed = 0;
    for (int t = 0; t < mesh.GetNumTriangles(); ++t) {
      const t_htriangle* triangle = mesh.GetTriangle(t);
      const std::vector<Cell> cells = smallestCells(*triangle->minCorner, *triangle->maxCorner, lo, edge,
                                                    tree.GetDepth());
      if (cells.empty()) {
        EXPECT_EQ(filedIn[t], nullptr) << "triangle " << t;
        EXPECT_EQ(triangle->mark, -1);
        continue;
      }
      ++filed;
      ASSERT_NE(filedIn[t], nullptr) << "triangle " << t;
      // The triangles of these meshes never lie on a brick's face, so one brick holds each.
      ASSERT_EQ(cells.size(), 1u) << "triangle " << t;
      const auto b = cellBounds(cells[0], lo, edge);
      EXPECT_EQ(filedIn[t]->level, cells[0].level) << "triangle " << t;
      EXPECT_EQ(filedIn[t]->minCorner.x, b[0]);
      EXPECT_EQ(filedIn[t]->minCorner.y, b[1]);
      EXPECT_EQ(filedIn[t]->minCorner.z, b[2]);
      EXPECT_EQ(triangle->mark, markOfLevel(cells[0].level));
    }
    EXPECT_GT(filed, 0);
    if (c.tris.size() == 5) {
      // The hand-made triangles: root, leaf, level 1, outside, leaf at the corner.
      const int marks[] = {1, 2, 4, -1, 2};
      for (int t = 0; t < 5; ++t) EXPECT_EQ(mesh.GetTriangle(t)->mark, marks[t]) << "triangle " << t;
    }
    // Inserting one by one from the root files the same way.
    CHOctree single(mx, mn, c.cell);
    for (int t = 0; t < mesh.GetNumTriangles(); ++t)
      EXPECT_EQ(single.InsertTriangleIntoOctree(mesh.GetTriangle(t), single.GetStem(), 0), filedIn[t] != nullptr);
    const std::vector<t_hoctreeelement*> a = allBricks(tree), s = allBricks(single);
    for (std::size_t i = 0; i < a.size(); ++i) EXPECT_EQ(listOf(single, s[i], 0), listOf(tree, a[i], list));
    // The bounds found below the root are those of every filed triangle.
    SSEPoint hi(-1e6f, -1e6f, -1e6f, -1e6f), low(1e6f, 1e6f, 1e6f, 1e6f), bhi = hi, blow = low;
    tree.FindMinMaxPointTriangulation(&mesh, hi, low, tree.GetStem(), list);
    for (int t = 0; t < mesh.GetNumTriangles(); ++t)
      if (filedIn[t]) {
        bhi = _mm_max_ps(bhi.v, mesh.GetTriangle(t)->maxCorner->v);
        blow = _mm_min_ps(blow.v, mesh.GetTriangle(t)->minCorner->v);
      }
    for (int a2 = 0; a2 < 4; ++a2) {
      EXPECT_EQ(hi.f[a2], bhi.f[a2]);
      EXPECT_EQ(low.f[a2], blow.f[a2]);
    }
  }
}

TEST(Octree, EntryListsAndArgumentsOutOfRange) {
  SSEPoint mx(8, 8, 8), mn(0, 0, 0);
  CHOctree tree(mx, mn, 1.0f);
  t_hoctreeelement* leaf = tree.GetStem()->children[3]->children[5];
  for (int e = 0; e < 10; ++e) tree.AppendEntryToOctreeElement(leaf, 1, 100 + e);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(tree.GetEntryFromOctreeElement(leaf, 1, i), 100 + i);
  EXPECT_EQ(tree.GetEntryFromOctreeElement(leaf, 1, 10), -1);
  // Across several blocks.
  for (int e = 10; e < 40; ++e) tree.AppendEntryToOctreeElement(leaf, 1, 100 + e);
  std::vector<int> expected(40);
  for (int e = 0; e < 40; ++e) expected[e] = 100 + e;
  EXPECT_EQ(listOf(tree, leaf, 1), expected);
  // Refused: list numbers outside 0 ... 3, negative positions, null bricks.
  for (int list : {-1, 4, 1000, std::numeric_limits<int>::min()}) {
    SCOPED_TRACE(list);
    tree.AppendEntryToOctreeElement(leaf, list, 7);
    EXPECT_EQ(tree.GetEntryFromOctreeElement(leaf, list, 0), -1);
    tree.CalculateOctreeEntries(nullptr, list);
  }
  EXPECT_EQ(listOf(tree, leaf, 1), expected);
  EXPECT_EQ(tree.GetEntryFromOctreeElement(leaf, 1, -1), -1);
  EXPECT_EQ(tree.GetEntryFromOctreeElement(nullptr, 1, 0), -1);
  tree.AppendEntryToOctreeElement(nullptr, 1, 7);
  CHTriangulation mesh;
  mesh_test::fill(mesh, {{SSEPoint(1, 1, 1), SSEPoint(2, 1, 1), SSEPoint(1, 2, 1)}});
  EXPECT_FALSE(tree.InsertTriangleIntoOctree(mesh.GetTriangle(0), tree.GetStem(), 4));
  EXPECT_FALSE(tree.InsertTriangleIntoOctree(mesh.GetTriangle(0), tree.GetStem(), -1));
  EXPECT_FALSE(tree.InsertTriangleIntoOctree(mesh.GetTriangle(0), nullptr, 0));
  EXPECT_EQ(mesh.GetTriangle(0)->mark, -1);
  tree.RemoveAllEntriesFromOctreeElement(leaf);
  EXPECT_EQ(tree.GetEntryFromOctreeElement(leaf, 1, 0), -1);
}

TEST(Octree, CopiesOwnTheirBricksAndLists) {
  CHTriangulation mesh;
  mesh_test::fill(mesh, randomTriangles(200, 0, 16, 2, 8));
  SSEPoint mx(16, 16, 16), mn(0, 0, 0);
  auto original = std::make_unique<CRestorationOctree>(mx, mn, 1.0f);
  original->CalculateOctreeEntries(&mesh, 0);
  original->CalculateOctreeEntries(&mesh, 3);
  std::vector<std::vector<int>> lists;
  for (t_hoctreeelement* b : allBricks(*original))
    for (int list : {0, 3}) lists.push_back(listOf(*original, b, list));
  const float angle = original->CalcApproximateMaxRestorationAngle(&mesh, 0);

  SSEPoint smx(4, 4, 4);
  CRestorationOctree copied(*original), assigned(smx, mn, 1.0f);
  assigned.CalculateOctreeEntries(&mesh, 1);  // its own lists must be freed by the assignment
  assigned = *original;
  const CRestorationOctree& same = assigned;
  assigned = same;
  original.reset();
  for (CRestorationOctree* tree : {&copied, &assigned}) {
    const std::vector<t_hoctreeelement*> bricks = allBricks(*tree);
    ASSERT_EQ(int(bricks.size()), tree->GetNumBricks());
    std::size_t n = 0;
    for (t_hoctreeelement* b : bricks) {
      for (t_hoctreeelement* child : b->children)
        if (child) {
          EXPECT_EQ(child->parent, b);
        }
      for (int list : {0, 3}) EXPECT_EQ(listOf(*tree, b, list), lists[n++]);
      EXPECT_EQ(tree->GetEntryFromOctreeElement(b, 1, 0), -1);
    }
    EXPECT_EQ(tree->CalcApproximateMaxRestorationAngle(&mesh, 0), angle);
  }
}

TEST(Octree, RefusesBadCellsAndTreesBeyondMemory) {
  SSEPoint mx(8, 8, 8), mn(0, 0, 0);
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  for (float cell : {0.0f, -1.0f, nan, inf, -inf}) {
    SCOPED_TRACE(cell);
    EXPECT_THROW({ CHOctree tree(mx, mn, cell); }, CbException);
  }
  SSEPoint nanBox(nan, 8, 8);
  EXPECT_THROW({ CHOctree tree(nanBox, mn, 1.0f); }, CbException);

  // Depths of 11 levels (216 GB of bricks), 12 (brick counts beyond 32 bits),
  // 41 and an infinite ratio are refused before anything is allocated. In a
  // child whose address space is capped (except under the address sanitizer,
  // which needs its reserve), an attempted allocation would fail loudly
  // instead, and an undersized one would be overrun.
  const test_support::ChildOutcome outcome = test_support::RunInChild([&] {
#if !defined(__SANITIZE_ADDRESS__)
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t cap = rlim_t(pages) * 4096 + (rlim_t{256} << 20);
    const rlimit limit{cap, cap};
    ::setrlimit(RLIMIT_AS, &limit);
#endif
    int refused = 0;
    for (float extent : {1024.0f * 2.0f, 4096.0f, 2.0f * 1099511627776.0f, 3e38f}) {
      SSEPoint big(extent, 1, 1);
      try {
        CHOctree tree(big, mn, extent < 1e38f ? 1.0f : 1e-30f);
      } catch (const CMemoryException&) {
        ++refused;
      }
    }
    return refused;
  });
  EXPECT_EQ(outcome.exitCode, 4);
  EXPECT_LT(outcome.peakGrowthKiB, 64 * 1024);
}

namespace {

// Opens the searches to the test.
class RestorationProbe : public CRestorationOctree {
public:
  using CRestorationOctree::CRestorationOctree;
  using CRestorationOctree::FindLowestZEntry;
  float upperZ() const { return m_fUpperZ; }
  float upperRadius() const { return m_fUpperRadius; }
};

// The bounds of the triangles that fit one of the 16 cubes of edge E/4
// (level 2) whose z range is [zFrom, zFrom + E/4].
void slabBounds(CHTriangulation& mesh, const SSEPoint& lo, float edge, float zFrom, SSEPoint& hi, SSEPoint& low) {
  hi = _mm_set1_ps(-1e6f);
  low = _mm_set1_ps(1e6f);
  const float q = edge / 4;
  for (int t = 0; t < mesh.GetNumTriangles(); ++t) {
    const SSEPoint& a = *mesh.GetTriangle(t)->minCorner;
    const SSEPoint& b = *mesh.GetTriangle(t)->maxCorner;
    bool fits = false;
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j)
        fits = fits || (lo.x + i * q <= a.x && b.x <= lo.x + (i + 1) * q && lo.y + j * q <= a.y &&
                        b.y <= lo.y + (j + 1) * q && zFrom <= a.z && b.z <= zFrom + q);
    if (fits) {
      hi = _mm_max_ps(hi.v, b.v);
      low = _mm_min_ps(low.v, a.v);
    }
  }
}

float radiusXY(const SSEPoint& p, const SSEPoint& c) { return std::sqrt((p.x - c.x) * (p.x - c.x) + (p.y - c.y) * (p.y - c.y)); }

}  // namespace

TEST(RestorationOctree, AngleFromTheQuartersAroundTheMiddle) {
  std::mt19937 rng(12);
  std::uniform_real_distribution<float> u(0, 1);
  // A crown-like shell: rings of triangles whose radius shrinks upwards.
  std::vector<Tri> shell;
  for (int ring = 0; ring < 16; ++ring)
    for (int s = 0; s < 24; ++s) {
      const float z0 = ring * 1.0f, z1 = z0 + 0.9f, r0 = 7.5f - ring * 0.3f, r1 = r0 - 0.25f;
      const float a0 = s * 0.2618f, a1 = a0 + 0.2f;
      shell.push_back({SSEPoint(8 + r0 * std::cos(a0), 8 + r0 * std::sin(a0), z0),
                       SSEPoint(8 + r0 * std::cos(a1), 8 + r0 * std::sin(a1), z0 + 0.1f * u(rng)),
                       SSEPoint(8 + r1 * std::cos(a0), 8 + r1 * std::sin(a0), z1)});
    }
  const SSEPoint lo(0, 0, 0), centre(8, 8, 8);
  struct Case {
    const char* name;
    std::vector<Tri> tris;
  };
  const Case cases[] = {
      {"shell", shell},
      {"random triangles", randomTriangles(500, 0, 16, 1.5f, 13)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CHTriangulation mesh;
    mesh_test::fill(mesh, c.tris);
    SSEPoint mx(16, 16, 16), mn(0, 0, 0);
    RestorationProbe tree(mx, mn, 1.0f);
    tree.CalculateOctreeEntries(&mesh, 1);
    SSEPoint topHi, topLo, bottomHi, bottomLo;
    slabBounds(mesh, lo, 16, 8, topHi, topLo);
    slabBounds(mesh, lo, 16, 4, bottomHi, bottomLo);
    const float rTop = std::min(radiusXY(topHi, centre), radiusXY(topLo, centre));
    const float rBottom = std::max(radiusXY(bottomHi, centre), radiusXY(bottomLo, centre));
    const float expected = std::atan((rBottom - rTop) / (bottomHi.z - topLo.z) + 0.0001f) + 0.0875f;
    EXPECT_FLOAT_EQ(tree.CalcApproximateMaxRestorationAngle(&mesh, 1), expected);
    EXPECT_NE(topLo.z, 1e6f);
    EXPECT_NE(bottomHi.z, -1e6f);
    // The lowest entry of the lower half, written into the upper-half fields.
    SSEPoint lowerHi, lowerLo, unused;
    slabBounds(mesh, lo, 16, 0, lowerHi, lowerLo);
    slabBounds(mesh, lo, 16, 4, unused, bottomLo);
    lowerLo = _mm_min_ps(lowerLo.v, bottomLo.v);
    tree.FindLowestZEntry(&mesh, 1);
    EXPECT_EQ(tree.upperZ(), lowerLo.z);
    EXPECT_FLOAT_EQ(tree.upperRadius(), radiusXY(lowerLo, centre));
  }

  // Shallow trees have no quarters: nothing is found and the start points
  // decide, without touching a missing brick.
  const SSEPoint startMax = _mm_set1_ps(-1e6f), startMin = _mm_set1_ps(1e6f);
  const float rTop = std::min(radiusXY(startMax, centre), radiusXY(startMin, centre));
  const float rBottom = std::max(radiusXY(startMax, centre), radiusXY(startMin, centre));
  const float far = std::atan((rBottom - rTop) / (startMax.z - startMin.z) + 0.0001f) + 0.0875f;
  for (float cell : {16.0f, 10.0f, 5.0f, 100.0f}) {
    SCOPED_TRACE(cell);
    CHTriangulation mesh;
    mesh_test::fill(mesh, shell);
    SSEPoint mx(16, 16, 16), mn(0, 0, 0);
    RestorationProbe tree(mx, mn, cell);
    tree.CalculateOctreeEntries(&mesh, 0);
    EXPECT_FLOAT_EQ(tree.CalcApproximateMaxRestorationAngle(&mesh, 0), far);
    tree.FindLowestZEntry(&mesh, 0);
  }

  // Equal heights are divided as they are: a flat triangle on the middle
  // plane (filed in the lower half) and one rising from it.
  CHTriangulation mesh;
  mesh_test::fill(mesh, {{SSEPoint(3, 3, 8), SSEPoint(4, 3, 8), SSEPoint(3, 4, 8)},
                         {SSEPoint(10, 10, 8), SSEPoint(11, 10, 8.5f), SSEPoint(10, 11, 8.5f)}});
  SSEPoint mx(16, 16, 16), mn(0, 0, 0);
  CRestorationOctree tree(mx, mn, 1.0f);
  tree.CalculateOctreeEntries(&mesh, 0);
  EXPECT_FLOAT_EQ(tree.CalcApproximateMaxRestorationAngle(&mesh, 0), std::atan(std::numeric_limits<float>::infinity()) + 0.0875f);
}
