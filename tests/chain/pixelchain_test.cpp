#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <utility>
#include <vector>

#include "orvik/chain/PixelChain.h"
#include "orvik/matrix/ssematrix.h"

namespace {

using Cell = std::pair<int, int>;

std::vector<Cell> cells(const CPixelChain& c) {
  std::vector<Cell> v;
  for (int i = 0; i < c.GetCount(); ++i) v.emplace_back(c.GetPixelData()[i].x, c.GetPixelData()[i].y);
  return v;
}

CPixelChain chainOf(const std::vector<pixel>& points) {
  CPixelChain c;
  for (const pixel& p : points) c.AddPoint(p.x, p.y, p.value);
  return c;
}

std::vector<float> values(const CPixelChain& c) {
  std::vector<float> v;
  for (int i = 0; i < c.GetCount(); ++i) v.push_back(c.GetPixelData()[i].value);
  return v;
}

}  // namespace

TEST(PixelChainTrace, SmallCases) {
  CSSEMatrix m;
  {
    SCOPED_TRACE("isolated cell gives one point with its value");
    m.Create(20, 20);
    m.SetPoint(10, 10, 5.0f);
    CPixelChain c;
    c.CreatePixelChain(&m, 1.0f, 10, 10, 1000, true, true, 0);
    ASSERT_EQ(c.GetCount(), 1);
    EXPECT_EQ(c.GetPixelData()[0].x, 10);
    EXPECT_EQ(c.GetPixelData()[0].y, 10);
    EXPECT_EQ(c.GetPixelData()[0].value, 5.0f);
  }
  const auto block = [&m](float inside, float outside) {
    m.Create(20, 20);
    m.Fill(outside);
    for (int y = 5; y <= 7; ++y)
      for (int x = 5; x <= 7; ++x) m.SetPoint(x, y, inside + static_cast<float>(x + 10 * y));
  };
  const std::vector<Cell> ring = {{5, 5}, {6, 5}, {7, 5}, {7, 6}, {7, 7}, {6, 7}, {5, 7}, {5, 6}};
  {
    SCOPED_TRACE("3 x 3 block: its border once, the start not repeated");
    block(100.0f, 0.0f);
    CPixelChain c;
    c.CreatePixelChain(&m, 50.0f, 5, 5, 1000, true, true, 0);
    EXPECT_EQ(cells(c), ring);
    EXPECT_EQ(c.GetPixelData()[3].value, 100.0f + 7 + 60);
  }
  {
    SCOPED_TRACE("below the threshold traces the same block");
    block(-100.0f, 0.0f);
    CPixelChain c;
    c.CreatePixelChain(&m, -10.0f, 5, 5, 1000, false, true, 0);
    EXPECT_EQ(cells(c), ring);
  }
  {
    SCOPED_TRACE("a value equal to the threshold is outside");
    block(100.0f, 50.0f);
    m.SetPoint(6, 5, 50.0f);
    CPixelChain c;
    c.CreatePixelChain(&m, 50.0f, 5, 5, 1000, true, true, 0);
    EXPECT_EQ(cells(c).at(1), Cell(6, 6));
  }
  {
    SCOPED_TRACE("near return after two steps stops next to the start");
    block(100.0f, 0.0f);
    CPixelChain c;
    c.CreatePixelChain(&m, 50.0f, 5, 5, 1000, true, false, 2);
    EXPECT_EQ(cells(c), std::vector<Cell>(ring.begin(), ring.begin() + 7));
    c.CreatePixelChain(&m, 50.0f, 5, 5, 1000, true, false, 0);
    EXPECT_EQ(cells(c), std::vector<Cell>{ring[0]});
  }
  {
    SCOPED_TRACE("one-cell-wide branches are walked out and back");
    m.Create(20, 20);
    for (const Cell& c : std::vector<Cell>{{6, 7}, {6, 8}, {8, 8}, {5, 9}, {7, 9}}) m.SetPoint(c.first, c.second, 1.0f);
    CPixelChain c;
    c.CreatePixelChain(&m, 0.5f, 6, 7, 1000, true, true, 0);
    EXPECT_EQ(cells(c), (std::vector<Cell>{{6, 7}, {6, 8}, {7, 9}, {8, 8}, {7, 9}, {6, 8}, {5, 9}, {6, 8}}));
  }
  {
    SCOPED_TRACE("maxSteps bounds the walk");
    block(100.0f, 0.0f);
    CPixelChain c;
    c.CreatePixelChain(&m, 50.0f, 5, 5, 0, true, true, 0);
    EXPECT_EQ(cells(c), std::vector<Cell>{ring[0]});
    c.CreatePixelChain(&m, 50.0f, 5, 5, 3, true, true, 0);
    EXPECT_EQ(cells(c), std::vector<Cell>(ring.begin(), ring.begin() + 4));
  }
  {
    SCOPED_TRACE("a start outside the margin without inside neighbours stays one point");
    block(100.0f, 0.0f);
    CPixelChain c;
    c.CreatePixelChain(&m, 50.0f, 0, 0, 1000000000L, true, true, 0);
    EXPECT_EQ(cells(c), std::vector<Cell>{Cell(0, 0)});
  }
  {
    SCOPED_TRACE("an empty matrix gives an empty chain");
    CSSEMatrix empty;
    CPixelChain c;
    c.AddPoint(1, 1, 1.0f);
    c.CreatePixelChain(&empty, 0.0f, 0, 0, 10, true, true, 0);
    EXPECT_EQ(c.GetCount(), 0);
  }
}

TEST(PixelChainTrace, FramesTheMatrix) {
  CSSEMatrix m;
  m.Create(20, 22);  // six SSE lines, the last holding rows 20 and 21 and two spare lanes
  m.Fill(9.0f);
  CPixelChain c;
  c.CreatePixelChain(&m, 3.5f, 10, 10, 100, true, true, 0);
  const __m128* const* lines = m.GetMatrixDataDirectly();
  for (int g = 0; g < m.GetSSESizeY(); ++g)
    for (int x = 0; x < m.GetSizeX(); ++x)
      for (int l = 0; l < 4; ++l) {
        const bool framed = g == 0 || g == m.GetSSESizeY() - 1 || x < 3 || x >= m.GetSizeX() - 3;
        const float v = reinterpret_cast<const float*>(lines[g] + x)[l];
        SCOPED_TRACE(testing::Message() << "x " << x << " row " << 4 * g + l);
        EXPECT_EQ(v, framed ? 3.5f : 9.0f);
      }
}

// A smooth irregular blob traced from its first cell in raster order visits
// exactly the inside cells that have an outside 4-neighbour, each once, in
// steps to 8-neighbours, ending next to the start.
TEST(PixelChainTrace, IrregularRegionAgainstBorderCells) {
  std::mt19937 rng(1234);
  std::uniform_real_distribution<float> phase(0.0f, 6.2831853f);
  for (int shape = 0; shape < 4; ++shape) {
    SCOPED_TRACE(shape);
    const int size = 260;
    const float p1 = phase(rng), p2 = phase(rng);
    const auto inside = [&](int x, int y) {
      const float dx = static_cast<float>(x) - 131.0f, dy = static_cast<float>(y) - 127.0f;
      const float a = std::atan2(dy, dx);
      const float r = 80.0f + 22.0f * std::sin(3.0f * a + p1) + 9.0f * std::cos(5.0f * a + p2);
      return dx * dx + dy * dy < r * r;
    };
    CSSEMatrix m;
    m.Create(size, size);
    std::set<Cell> border;
    Cell start(-1, -1);
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) {
        if (!inside(x, y)) continue;
        m.SetPoint(x, y, 1.0f + static_cast<float>(x));
        if (start.first < 0) start = Cell(x, y);
        if (!inside(x - 1, y) || !inside(x + 1, y) || !inside(x, y - 1) || !inside(x, y + 1))
          border.insert(Cell(x, y));
      }
    CPixelChain c;
    c.CreatePixelChain(&m, 0.5f, start.first, start.second, 1000000, true, true, 0);
    const std::vector<Cell> walk = cells(c);
    ASSERT_EQ(walk.size(), border.size());
    EXPECT_EQ(std::set<Cell>(walk.begin(), walk.end()), border);
    for (std::size_t i = 0; i < walk.size(); ++i) {
      const Cell& a = walk[i];
      const Cell& b = walk[(i + 1) % walk.size()];
      const int dx = std::abs(a.first - b.first), dy = std::abs(a.second - b.second);
      ASSERT_TRUE(std::max(dx, dy) == 1) << "step " << i;
      EXPECT_EQ(c.GetPixelData()[i].value, 1.0f + static_cast<float>(a.first));
    }
  }
}

TEST(PixelChain, PointsExtremesAndCentres) {
  CPixelChain c;
  {
    SCOPED_TRACE("empty chain");
    EXPECT_EQ(c.GetminX(), 268435455);
    EXPECT_EQ(c.GetminY(), 268435455);
    EXPECT_EQ(c.GetmaxX(), 0);
    EXPECT_EQ(c.GetmaxY(), 0);
    EXPECT_EQ(c.GetMinBorderValue(), 1000000.0f);
    EXPECT_EQ(c.GetMaxBorderValue(), -1000000.0f);
    c.CalculateGeomCenter_norm();
    c.CalculateGeomCenter_precis();
    EXPECT_EQ(c.GetCenterX(), 0);
    EXPECT_EQ(c.GetCenterY(), 0);
    EXPECT_EQ(c.GetCenterXprecis(), 0.0f);
    EXPECT_EQ(c.FindNearestPoint(0, 0), -1);
    int x = 77, y = 88;
    c.GetPixel(0, x, y);
    EXPECT_EQ(x, 77);
    EXPECT_EQ(y, 88);
  }
  {
    SCOPED_TRACE("extremes; the maxima never below 0");
    c = chainOf({{-3, -5, 2.0f}, {-1, -2, -4.0f}});
    EXPECT_EQ(c.GetminX(), -3);
    EXPECT_EQ(c.GetmaxX(), 0);
    EXPECT_EQ(c.GetminY(), -5);
    EXPECT_EQ(c.GetmaxY(), 0);
    c.AddPoint(6, 9, 1.0f);
    int minX, minY, maxX, maxY;
    c.CalcBoundingBox(minX, minY, maxX, maxY);
    EXPECT_EQ(minX, -3);
    EXPECT_EQ(minY, -5);
    EXPECT_EQ(maxX, 6);
    EXPECT_EQ(maxY, 9);
    EXPECT_EQ(c.GetMinBorderValue(), -4.0f);
    EXPECT_EQ(c.GetMaxBorderValue(), 2.0f);
  }
  {
    SCOPED_TRACE("centres round half up after the float mean");
    c = chainOf({{0, 0, 0}, {1, 0, 0}, {2, 1, 0}});
    long cx = -1, cy = -1;
    c.CalculateGeomCenter_norm(&cx, &cy);
    EXPECT_EQ(cx, 1);
    EXPECT_EQ(cy, 0);  // 1/3 + 0.5 truncates to 0
    c = chainOf({{0, 0, 0}, {1, 1, 0}});
    c.CalculateGeomCenter_norm();
    c.CalculateGeomCenter_precis();
    EXPECT_EQ(c.GetCenterX(), 1);
    EXPECT_EQ(c.GetCenterY(), 1);
    EXPECT_EQ(c.GetCenterXprecis(), 0.5f);
    EXPECT_EQ(c.GetCenterYprecis(), 0.5f);
  }
  {
    SCOPED_TRACE("capacity and copies");
    CPixelChain big;
    for (int i = 0; i < CPixelChain::c_iMaxPoints + 5; ++i) big.AddPoint(i, -i, static_cast<float>(i));
    ASSERT_EQ(big.GetCount(), 100000);
    int x = 0, y = 0;
    big.GetPixel(99999, x, y);
    EXPECT_EQ(x, 99999);
    EXPECT_EQ(y, -99999);
    big.CalculateGeomCenter_norm();
    CPixelChain copy(big);
    big.GetPixelData()[5].x = -1;
    big.RemovePoints();
    EXPECT_EQ(big.GetCount(), 0);
    EXPECT_EQ(copy.GetCount(), 100000);
    EXPECT_EQ(copy.GetPixelData()[5].x, 5);
    EXPECT_EQ(copy.GetCenterX(), big.GetCenterX());
    EXPECT_NE(copy.GetPixelData(), big.GetPixelData());
  }
}

TEST(PixelChain, NearestPoints) {
  {
    SCOPED_TRACE("nearest point; the earlier on ties");
    const CPixelChain c = chainOf({{0, 0, 0}, {4, 0, 0}, {2, 3, 0}, {2, -3, 0}});
    EXPECT_EQ(c.FindNearestPoint(2, 0), 0);
    EXPECT_EQ(c.FindNearestPoint(2, 2), 2);
    EXPECT_EQ(c.FindNearestPoint(3, -2), 3);
    EXPECT_EQ(c.FindNearestPointLimited(5, 0), 2);  // only points below row 0
    EXPECT_EQ(c.FindNearestPointLimited(5, -1), 1);
    EXPECT_EQ(c.FindNearestPointLimited(0, 3), -1);
  }
  // Centre (5, 10) for the first chain: the band of the lower search is the
  // rows 4 .. 9, that of the upper search the rows 11 .. y - 1.
  CPixelChain c = chainOf({{2, 5, 0}, {8, 7, 0}, {4, 16, 0}, {6, 13, 0}});
  {
    SCOPED_TRACE("crossing from both sides");
    EXPECT_EQ(c.FindNearestIntersectionPointY(5, 3, false), 6.0f);
    EXPECT_EQ(c.GetCenterX(), 5);
    EXPECT_EQ(c.GetCenterY(), 10);
    EXPECT_EQ(c.FindNearestIntersectionPointY(5, 18, true), 14.5f);
    int x = 0, y = 0;
    c.GetNearestPixel(5, 18, x, y);
    EXPECT_EQ(x, 5);
    EXPECT_EQ(y, 15);
  }
  {
    SCOPED_TRACE("only a left candidate falls back to the nearest point below");
    EXPECT_EQ(c.FindNearestIntersectionPointY(9, 3, false), 7.0f);
  }
  {
    SCOPED_TRACE("a point on the column takes no part");
    CPixelChain d = chainOf({{5, 5, 0}, {8, 6, 0}, {1, 20, 0}, {5, 9, 0}});  // centre row 10
    EXPECT_EQ(d.FindNearestIntersectionPointY(5, 3, false), 5.0f);  // nearest below is (5, 5)
  }
  {
    SCOPED_TRACE("nothing below gives the row itself");
    EXPECT_EQ(c.FindNearestIntersectionPointY(5, 40, false), 40.0f);
    CPixelChain empty;
    EXPECT_EQ(empty.FindNearestIntersectionPointY(3, 4, true), 4.0f);
  }
}

TEST(PixelChain, ValuesFromAndIntoMatrix) {
  CSSEMatrix m;
  m.Create(30, 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 30; ++x) m.SetPoint(x, y, static_cast<float>(100 * y + x));
  {
    SCOPED_TRACE("sampling six cells beside each step");
    CPixelChain c = chainOf({{10, 10, 0}, {12, 10, 0}, {10, 10, 0}, {10, 10, 0}, {13, 14, 0}});
    // Point 2 equals its successor and keeps its value.
    c.GetPixelData()[2].value = -7.0f;
    c.GetInnerValueForPixelChain(&m, 1000.0f, true);
    // (10,10)->(12,10): (10, 16); (12,10)->(10,10): (12, 10 + trunc(-5.5)) = (12, 5);
    // (10,10)->(13,14): (10 + trunc(-4.3), 10 + trunc(4.1)) = (6, 14);
    // (13,14)->(10,10): (13 + trunc(5.3), 14 + trunc(-3.1)) = (18, 11).
    EXPECT_EQ(values(c), (std::vector<float>{1000.0f, 512.0f, -7.0f, 1000.0f, 1000.0f}));
    c.GetInnerValueForPixelChain(&m, 1000.0f, false);
    EXPECT_EQ(values(c), (std::vector<float>{1610.0f, 1000.0f, -7.0f, 1406.0f, 1118.0f}));
  }
  {
    SCOPED_TRACE("InsertSingle writes 1.25 cells to the other side");
    CSSEMatrix t;
    t.Create(30, 30);
    chainOf({{10, 10, 1.0f}, {12, 10, 2.0f}, {0, 0, 3.0f}, {0, 5, 4.0f}}).InsertSingle(&t);
    // (10,10)->(12,10): (10, 9.25); (12,10)->(0,0): (12 - 0.80 + 0.5, 10 + 0.96 + 0.5);
    // (0,0)->(0,5): (1.75, 0.5) limited to (1, 1);
    // (0,5)->(10,10): (0 + 0.56 + 0.5, 5 - 1.12 + 0.5).
    std::vector<std::pair<Cell, float>> written;
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 30; ++x)
        if (t.GetPoint(x, y) != 0.0f) written.push_back({Cell(x, y), t.GetPoint(x, y)});
    const std::vector<std::pair<Cell, float>> expected = {
        {Cell(1, 1), 3.0f}, {Cell(1, 4), 4.0f}, {Cell(10, 9), 1.0f}, {Cell(11, 11), 2.0f}};
    EXPECT_EQ(written, expected);
  }
  {
    SCOPED_TRACE("Insert writes 5 x 5 blocks three cells aside");
    CSSEMatrix t;
    t.Create(30, 30);
    chainOf({{10, 10, 1.0f}, {12, 10, 2.0f}}).Insert(&t);
    CSSEMatrix e;
    e.Create(30, 30);
    for (int y = 5; y <= 9; ++y)
      for (int x = 8; x <= 12; ++x) e.SetPoint(x, y, 1.0f);
    for (int y = 11; y <= 15; ++y)
      for (int x = 10; x <= 14; ++x) e.SetPoint(x, y, 2.0f);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 30; ++x) ASSERT_EQ(t.GetPoint(x, y), e.GetPoint(x, y)) << x << "," << y;
    CSSEMatrix edge;
    edge.Create(10, 10);
    // Centres (0, -2) limited to (2, 2), and (5, 3).
    chainOf({{0, 0, 5.0f}, {5, 0, 6.0f}}).Insert(&edge);
    EXPECT_EQ(edge.GetPoint(0, 0), 5.0f);
    EXPECT_EQ(edge.GetPoint(0, 4), 5.0f);
    EXPECT_EQ(edge.GetPoint(4, 0), 5.0f);
    EXPECT_EQ(edge.GetPoint(7, 5), 6.0f);
    EXPECT_EQ(edge.GetPoint(8, 3), 0.0f);
    EXPECT_EQ(edge.GetPoint(4, 6), 0.0f);
  }
  {
    SCOPED_TRACE("InsertSingle with a threshold writes qualifying neighbours only");
    CSSEMatrix t;
    t.Create(12, 12);
    t.SetPoint(4, 4, 3.0f);
    t.SetPoint(6, 6, 0.5f);
    t.SetPoint(5, 5, 7.0f);
    const CPixelChain c = chainOf({{5, 5, 9.0f}});
    CSSEMatrix above(t), below(t);
    c.InsertSingle(&above, true, 1.0f);
    c.InsertSingle(&below, false, 0.6f);
    int changedAbove = 0, changedBelow = 0;
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 12; ++x) {
        changedAbove += above.GetPoint(x, y) != t.GetPoint(x, y);
        changedBelow += below.GetPoint(x, y) != t.GetPoint(x, y);
      }
    EXPECT_EQ(above.GetPoint(4, 4), 9.0f);
    EXPECT_EQ(changedAbove, 1);
    EXPECT_EQ(below.GetPoint(6, 6), 9.0f);
    EXPECT_EQ(below.GetPoint(4, 4), 3.0f);
    EXPECT_EQ(below.GetPoint(5, 5), 7.0f);
    EXPECT_EQ(changedBelow, 7);
  }
}

TEST(PixelChain, ValueFilters) {
  {
    SCOPED_TRACE("cyclic three-point filters");
    CPixelChain c = chainOf({{0, 0, 1}, {1, 0, 5}, {2, 0, 2}, {3, 0, 8}});
    c.MaximumFilterChain();
    EXPECT_EQ(values(c), (std::vector<float>{8, 5, 8, 8}));
    c = chainOf({{0, 0, 1}, {1, 0, 5}, {2, 0, 2}, {3, 0, 8}});
    c.MinimumFilterChain();
    EXPECT_EQ(values(c), (std::vector<float>{1, 1, 2, 1}));
    c.OffsetChain(0.5f);
    EXPECT_EQ(values(c), (std::vector<float>{1.5f, 1.5f, 2.5f, 1.5f}));
  }
  {
    SCOPED_TRACE("pulling toward another chain");
    CPixelChain c = chainOf({{0, 0, 0}});
    const CPixelChain other = chainOf({{1, 0, 10}, {0, 2, 5}});
    c.SmoothlyPullTogetherChains(&other, 0);
    EXPECT_EQ(values(c)[0], 0.0f);
    c.SmoothlyPullTogetherChains(&other, 1);
    EXPECT_FLOAT_EQ(values(c)[0], 2.4f);  // 0.4 (10 / 2 + 5 / 5)
    c.SmoothlyPullTogetherChains(&other, 1);
    EXPECT_FLOAT_EQ(values(c)[0], 4.128f);
  }
  {
    SCOPED_TRACE("pulling a chain toward itself uses the values already moved");
    CPixelChain c = chainOf({{0, 0, 0}, {1, 0, 10}});
    c.SmoothlyPullTogetherChains(&c, 1);
    EXPECT_FLOAT_EQ(values(c)[0], 2.0f);
    EXPECT_FLOAT_EQ(values(c)[1], 8.4f);  // 10 + 0.4 (2 - 10) / 2
  }
}

TEST(PixelChain, ExportWritesCommaTable) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("orvik_chain_export_" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  const CPixelChain c = chainOf({{3, 4, 1.5f}, {-2, 7, -0.25f}});
  {
    SCOPED_TRACE("without the directory nothing is written");
    c.ExportPixelChain("chain");
    EXPECT_FALSE(std::filesystem::exists("Export"));
  }
  {
    SCOPED_TRACE("the table");
    std::filesystem::create_directories("Export/PixelChain");
    c.ExportPixelChain("chain");
    std::ifstream in("Export/PixelChain/chain.txt", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "Length: 2\nIndex\tXPos\tYPos\tValue\n0\t3\t4\t1,500\n1\t-2\t7\t-0,250\n");
  }
  std::filesystem::current_path(previous);
  std::filesystem::remove_all(dir);
}
