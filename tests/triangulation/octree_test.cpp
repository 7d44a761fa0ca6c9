#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <tuple>
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

std::vector<int> listOf(const CHOctree& tree, t_hoctreeelement* brick, int list) {
  std::vector<int> entries;
  for (int i = 0; tree.GetEntryFromOctreeElement(brick, list, i) >= 0; ++i)
    entries.push_back(tree.GetEntryFromOctreeElement(brick, list, i));
  return entries;
}

bool holds(const t_hoctreeelement& b, const t_htriangle& t) {
  for (int a = 0; a < 3; ++a)
    if (!(b.minCorner.f[a] <= t.minCorner->f[a] && t.maxCorner->f[a] <= b.maxCorner.f[a])) return false;
  return true;
}

std::vector<Tri> randomTriangles(int n, float lo, float hi, float maxSize, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(lo, hi), s(-maxSize, maxSize);
  std::vector<Tri> tris(n);
  for (Tri& t : tris) {
    const SSEPoint a(u(rng), u(rng), u(rng));
    t = {a, SSEPoint(a.x + s(rng), a.y + s(rng), a.z + s(rng)),
         SSEPoint(a.x + s(rng), a.y + s(rng), a.z + s(rng))};
  }
  return tris;
}

}  // namespace

TEST(Octree, BricksNestAroundTheBoxCentre) {
  // name, box, cell, depth, bricks, half edge of the leaves
  const std::tuple<const char*, SSEPoint, SSEPoint, float, int, int, float> cases[] = {
      {"cube 0..8, cell 1", {0, 0, 0}, {8, 8, 8}, 1.0f, 3, 73, 1.0f},
      {"flat box: the cube around its centre", {-3, -5, -2}, {13, 7, 0}, 2.0f, 3, 73, 2.0f},
      {"rounding up from 2^3.6", {0, 0, 0}, {12, 1, 1}, 1.0f, 4, 585, 0.75f},
      {"one cell: the root alone", {0, 0, 0}, {3, 2, 1}, 2.0f, 1, 1, 1.5f},
      {"smaller than a cell: no bricks", {0, 0, 0}, {8, 8, 8}, 8.0f, 0, 0, 0.0f},
      {"no extent", {1, 1, 1}, {1, 1, 1}, 1.0f, 0, 0, 0.0f},
      {"inverted box", {8, 8, 8}, {0, 0, 0}, 1.0f, 0, 0, 0.0f},
  };
  // Children 0 ... 3 below the centre, 4 ... 7 above, each quartet counter-clockwise from (+x, +y).
  const float sign[8][3] = {{1, 1, -1}, {-1, 1, -1}, {-1, -1, -1}, {1, -1, -1},
                            {1, 1, 1},  {-1, 1, 1},  {-1, -1, 1},  {1, -1, 1}};
  for (auto [name, lo, hi, cell, depth, count, leafHalfEdge] : cases) {
    SCOPED_TRACE(name);
    const CHOctree tree(hi, lo, cell);
    EXPECT_EQ(tree.GetDepth(), depth);
    EXPECT_EQ(tree.GetNumBricks(), count);
    const std::vector<t_hoctreeelement*> bricks = allBricks(tree);
    ASSERT_EQ(int(bricks.size()), count);
    for (int a = 0; a < 3 && depth > 0; ++a) EXPECT_EQ(tree.GetStem()->centre.f[a], (hi.f[a] + lo.f[a]) / 2);
    for (t_hoctreeelement* b : bricks) {
      const bool leaf = b->level + 1 == depth;
      EXPECT_EQ(b->halfEdge, leaf ? leafHalfEdge : tree.GetEdgeLength() / float(2 << b->level));
      for (int a = 0; a < 3; ++a)
        EXPECT_TRUE(b->minCorner.f[a] == b->centre.f[a] - b->halfEdge &&
                    b->maxCorner.f[a] == b->centre.f[a] + b->halfEdge);
      for (int k = 0; k < 8; ++k) {
        const t_hoctreeelement* child = b->children[k];
        ASSERT_EQ(child != nullptr, !leaf);
        if (leaf) continue;
        EXPECT_TRUE(child->parent == b && child->level == b->level + 1);
        for (int a = 0; a < 3; ++a)
          EXPECT_EQ(child->centre.f[a], b->centre.f[a] + sign[k][a] * child->halfEdge) << "child " << k;
      }
    }
  }
}

// The triangles here never lie on a brick's face, so the deepest brick holding one is unique.
TEST(Octree, TrianglesGoToTheDeepestBrickHoldingThem) {
  auto tri = [](float x0, float y0, float z0, float x1, float y1, float z1) {
    return Tri{SSEPoint(x0, y0, z0), SSEPoint(x1, y0, z1), SSEPoint(x0, y1, z1)};
  };
  struct Case {
    const char* name;
    SSEPoint min, max;
    float cell;
    std::vector<Tri> tris;
  };
  // In 0..8: across the root's mid-plane, in a leaf, in a level-1 brick across its children, outside, at the
  // far corner.
  const std::vector<Tri> handMade = {tri(3.5f, 1, 1, 4.5f, 2, 2), tri(0.2f, 0.2f, 0.2f, 0.8f, 0.8f, 0.8f),
                                     tri(1.5f, 0.5f, 0.5f, 2.5f, 1, 1), tri(9, 1, 1, 9.5f, 2, 2),
                                     tri(6, 6, 6, 8, 8, 8)};
  const Case cases[] = {
      {"hand-made", {0, 0, 0}, {8, 8, 8}, 1.0f, handMade},
      {"small, six levels", {-3, -5, -2}, {13, 7, 6}, 0.25f, randomTriangles(400, -4, 14, 0.7f, 3)},
      {"of every size", {0, 0, 0}, {16, 16, 16}, 1.0f, randomTriangles(300, -1, 17, 6, 4)},
      {"jittered grid", {0, 0, 0}, {16, 16, 16}, 2.0f, mesh_test::grid(16, 16, 0.3f, false, true, 5)},
  };
  const int markOfLevel[] = {1, 4, 2, 3, 5, 6, 7};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CHTriangulation mesh;
    mesh_test::fill(mesh, c.tris);
    const int n = mesh.GetNumTriangles(), list = 2;
    SSEPoint mx = c.max, mn = c.min;
    CHOctree tree(mx, mn, c.cell), single(mx, mn, c.cell);
    tree.CalculateOctreeEntries(&mesh, list);
    const std::vector<t_hoctreeelement*> bricks = allBricks(tree), singleBricks = allBricks(single);
    std::vector<t_hoctreeelement*> filedIn(n, nullptr);
    for (t_hoctreeelement* b : bricks)
      for (int e : listOf(tree, b, list)) {
        ASSERT_TRUE(e >= 0 && e < n && !filedIn[e]) << e;
        filedIn[e] = b;
      }
    SSEPoint hi = _mm_set1_ps(-1e6f), lo = _mm_set1_ps(1e6f), wantHi = hi, wantLo = lo;
    for (int t = 0; t < n; ++t) {
      const t_htriangle& triangle = *mesh.GetTriangle(t);
      t_hoctreeelement* deepest = nullptr;
      for (t_hoctreeelement* b : bricks)
        if (holds(*b, triangle) && (!deepest || b->level > deepest->level)) deepest = b;
      EXPECT_EQ(filedIn[t], deepest) << "triangle " << t;
      EXPECT_EQ(triangle.mark, deepest ? markOfLevel[deepest->level] : -1) << "triangle " << t;
      // Inserting one by one from the root files the same way.
      EXPECT_EQ(single.InsertTriangleIntoOctree(mesh.GetTriangle(t), single.GetStem(), 0),
                deepest != nullptr);
      if (deepest) {
        wantHi = _mm_max_ps(wantHi.v, triangle.maxCorner->v);
        wantLo = _mm_min_ps(wantLo.v, triangle.minCorner->v);
      }
    }
    for (std::size_t i = 0; i < bricks.size(); ++i)
      EXPECT_EQ(listOf(single, singleBricks[i], 0), listOf(tree, bricks[i], list));
    tree.FindMinMaxPointTriangulation(&mesh, hi, lo, tree.GetStem(), list);
    EXPECT_TRUE(std::memcmp(&hi, &wantHi, 16) == 0 && std::memcmp(&lo, &wantLo, 16) == 0);
  }
}

TEST(Octree, EntryListsAndArgumentsOutOfRange) {
  SSEPoint mx(8, 8, 8), mn(0, 0, 0);
  CHOctree tree(mx, mn, 1.0f);
  t_hoctreeelement* leaf = tree.GetStem()->children[3]->children[5];
  // Enough entries for several blocks.
  std::vector<int> expected;
  for (int e = 0; e < 40; ++e) {
    tree.AppendEntryToOctreeElement(leaf, 1, 100 + e);
    expected.push_back(100 + e);
  }
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
  for (int list : {4, -1})
    EXPECT_FALSE(tree.InsertTriangleIntoOctree(mesh.GetTriangle(0), tree.GetStem(), list));
  EXPECT_FALSE(tree.InsertTriangleIntoOctree(mesh.GetTriangle(0), nullptr, 0));
  EXPECT_EQ(mesh.GetTriangle(0)->mark, -1);
  tree.RemoveAllEntriesFromOctreeElement(leaf);
  EXPECT_EQ(tree.GetEntryFromOctreeElement(leaf, 1, 0), -1);
}

TEST(Octree, CopiesOwnTheirBricksAndLists) {
  CHTriangulation mesh;
  mesh_test::fill(mesh, randomTriangles(200, 0, 16, 2, 8));
  SSEPoint mx(16, 16, 16), mn(0, 0, 0), smx(4, 4, 4);
  auto original = std::make_unique<CRestorationOctree>(mx, mn, 1.0f);
  original->CalculateOctreeEntries(&mesh, 0);
  original->CalculateOctreeEntries(&mesh, 3);
  std::vector<std::vector<int>> lists;
  for (t_hoctreeelement* b : allBricks(*original))
    for (int list : {0, 3}) lists.push_back(listOf(*original, b, list));
  const float angle = original->CalcApproximateMaxRestorationAngle(&mesh, 0);
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
      for (t_hoctreeelement* child : b->children) EXPECT_TRUE(!child || child->parent == b);
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
  // Depths of 11 levels (216 GB of bricks), 12 (brick counts beyond 32 bits), 41 and an infinite ratio are
  // refused before anything is allocated: in a child with its address space capped (not under the address
  // sanitizer, which needs its reserve) an attempt would fail loudly.
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

// The bounds of the triangles that fit one of the 16 cubes of edge 4 (level 2 of the tree over 0..16) whose z
// range is [zFrom, zFrom + 4].
void slabBounds(CHTriangulation& mesh, float zFrom, SSEPoint& hi, SSEPoint& low) {
  hi = _mm_set1_ps(-1e6f);
  low = _mm_set1_ps(1e6f);
  for (int t = 0; t < mesh.GetNumTriangles(); ++t) {
    const SSEPoint &a = *mesh.GetTriangle(t)->minCorner, &b = *mesh.GetTriangle(t)->maxCorner;
    if (std::floor(a.x / 4) == std::floor(b.x / 4) && std::floor(a.y / 4) == std::floor(b.y / 4) &&
        b.x < 16 && b.y < 16 && a.x >= 0 && a.y >= 0 && zFrom <= a.z && b.z <= zFrom + 4) {
      hi = _mm_max_ps(hi.v, b.v);
      low = _mm_min_ps(low.v, a.v);
    }
  }
}

float radiusXY(const SSEPoint& p) { return std::hypot(p.x - 8, p.y - 8); }

float angle(const SSEPoint& topHi, const SSEPoint& topLo, const SSEPoint& bottomHi,
            const SSEPoint& bottomLo) {
  const float rTop = std::min(radiusXY(topHi), radiusXY(topLo));
  const float rBottom = std::max(radiusXY(bottomHi), radiusXY(bottomLo));
  return std::atan((rBottom - rTop) / (bottomHi.z - topLo.z) + 0.0001f) + 0.0875f;
}

}  // namespace

TEST(RestorationOctree, AngleFromTheQuartersAroundTheMiddle) {
  SSEPoint mx(16, 16, 16), mn(0, 0, 0);
  const std::vector<Tri> tris = randomTriangles(500, 0, 16, 1.5f, 13);
  for (int list : {1, 3}) {
    SCOPED_TRACE(list);
    CHTriangulation mesh;
    mesh_test::fill(mesh, list == 1 ? tris : randomTriangles(300, 0, 16, 3, 14));
    RestorationProbe tree(mx, mn, 1.0f);
    tree.CalculateOctreeEntries(&mesh, list);
    SSEPoint topHi, topLo, bottomHi, bottomLo, lowerHi, lowerLo;
    slabBounds(mesh, 8, topHi, topLo);
    slabBounds(mesh, 4, bottomHi, bottomLo);
    ASSERT_TRUE(topLo.z != 1e6f && bottomHi.z != -1e6f);
    EXPECT_FLOAT_EQ(tree.CalcApproximateMaxRestorationAngle(&mesh, list),
                    angle(topHi, topLo, bottomHi, bottomLo));
    // The lowest entry of the lower half, written into the upper-half fields.
    slabBounds(mesh, 0, lowerHi, lowerLo);
    lowerLo = _mm_min_ps(lowerLo.v, bottomLo.v);
    tree.FindLowestZEntry(&mesh, list);
    EXPECT_EQ(tree.upperZ(), lowerLo.z);
    EXPECT_FLOAT_EQ(tree.upperRadius(), radiusXY(lowerLo));
  }
  // Shallow trees have no quarters: the start points decide, without touching a missing brick.
  const SSEPoint startMax = _mm_set1_ps(-1e6f), startMin = _mm_set1_ps(1e6f);
  for (float cell : {16.0f, 10.0f, 5.0f, 100.0f}) {
    SCOPED_TRACE(cell);
    CHTriangulation mesh;
    mesh_test::fill(mesh, tris);
    RestorationProbe tree(mx, mn, cell);
    tree.CalculateOctreeEntries(&mesh, 0);
    EXPECT_FLOAT_EQ(tree.CalcApproximateMaxRestorationAngle(&mesh, 0),
                    angle(startMax, startMin, startMax, startMin));
    tree.FindLowestZEntry(&mesh, 0);
  }
  // A flat triangle on the middle plane is filed in the lower half, one rising from it in the upper.
  CHTriangulation mesh;
  mesh_test::fill(mesh, {{SSEPoint(3, 3, 8), SSEPoint(4, 3, 8), SSEPoint(3, 4, 8)},
                         {SSEPoint(10, 10, 8), SSEPoint(11, 10, 8.5f), SSEPoint(10, 11, 8.5f)}});
  CRestorationOctree tree(mx, mn, 1.0f);
  tree.CalculateOctreeEntries(&mesh, 0);
  EXPECT_FLOAT_EQ(tree.CalcApproximateMaxRestorationAngle(&mesh, 0), std::atan(INFINITY) + 0.0875f);
  // The lowest entry may sit in the last quarter searched: at high x and low y, between a quarter's height
  // and the middle.
  RestorationProbe corner(mx, mn, 1.0f);
  mesh_test::fill(mesh, {{SSEPoint(13, 1, 5), SSEPoint(14, 1, 5), SSEPoint(13, 2, 5.5f)}});
  corner.CalculateOctreeEntries(&mesh, 0);
  corner.FindLowestZEntry(&mesh, 0);
  EXPECT_EQ(corner.upperZ(), 5.0f);
}
