#include "orvik/chain/PixelChain.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "orvik/matrix/ssematrix.h"
#include "support/fields.h"
#include "support/file_limits.h"

namespace {

using Cell = std::pair<int, int>;
using Cells = std::vector<Cell>;
using Floats = std::vector<float>;
using Marks = std::vector<std::pair<Cell, float>>;

Cells cells(const CPixelChain& c) {
  Cells v;
  for (int i = 0; i < c.GetCount(); ++i) v.emplace_back(c.GetPixelData()[i].x, c.GetPixelData()[i].y);
  return v;
}

Floats values(const CPixelChain& c) {
  Floats v;
  for (int i = 0; i < c.GetCount(); ++i) v.push_back(c.GetPixelData()[i].value);
  return v;
}

CPixelChain chainOf(const std::vector<pixel>& points) {
  CPixelChain c;
  for (const pixel& p : points) c.AddPoint(p.x, p.y, p.value);
  return c;
}

// Every cell of a matrix that is not 0, with its value.
Marks nonZero(const CSSEMatrix& m) {
  Marks v;
  for (int y = 0; y < m.GetSizeY(); ++y)
    for (int x = 0; x < m.GetSizeX(); ++x)
      if (m.GetPoint(x, y) != 0.0f) v.push_back({Cell(x, y), m.GetPoint(x, y)});
  return v;
}

}  // namespace

TEST(PixelChainTrace, SmallCasesAndTheFrameLeftInTheMatrix) {
  CSSEMatrix m = filled(20, 20);
  // Traces m; every point carries the value of its cell, the frame written in.
  const auto trace = [&m](float threshold, int x, int y, long steps = 1000, bool above = true,
                          bool exact = true, int nearAfter = 0) {
    CPixelChain c;
    c.CreatePixelChain(&m, threshold, x, y, steps, above, exact, nearAfter);
    for (int i = 0; i < c.GetCount(); ++i)
      EXPECT_EQ(c.GetPixelData()[i].value, m.GetPoint(c.GetPixelData()[i].x, c.GetPixelData()[i].y));
    return cells(c);
  };
  // A 3 x 3 block at (5..7, 5..7) with value inside + x + 10 y.
  const auto block = [&m](float inside, float outside) {
    m = field(20, 20, [&](int x, int y) {
      return x >= 5 && x <= 7 && y >= 5 && y <= 7 ? inside + static_cast<float>(x + 10 * y) : outside;
    });
  };
  const Cells ring = {{5, 5}, {6, 5}, {7, 5}, {7, 6}, {7, 7}, {6, 7}, {5, 7}, {5, 6}};
  const auto first = [&ring](int n) { return Cells(ring.begin(), ring.begin() + n); };
  m.SetPoint(10, 10, 5.0f);
  EXPECT_EQ(trace(1.0f, 10, 10), Cells{Cell(10, 10)}) << "isolated cell";
  block(100.0f, 0.0f);
  EXPECT_EQ(trace(50.0f, 5, 5), ring) << "3 x 3 block: its border once, the start not repeated";
  EXPECT_EQ(trace(50.0f, 5, 5, 1000, true, false, 2), first(7)) << "near return after two steps";
  EXPECT_EQ(trace(50.0f, 5, 5, 1000, true, false, 0), first(1)) << "near return at once";
  EXPECT_EQ(trace(50.0f, 5, 5, 0), first(1)) << "maxSteps 0";
  EXPECT_EQ(trace(50.0f, 5, 5, 3), first(4)) << "maxSteps 3";
  EXPECT_EQ(trace(50.0f, 0, 0, 1000000000L), Cells{Cell(0, 0)}) << "start in the margin, no inside neighbour";
  block(-100.0f, 0.0f);
  EXPECT_EQ(trace(-10.0f, 5, 5, 1000, false), ring) << "below the threshold";
  block(100.0f, 50.0f);
  m.SetPoint(6, 5, 50.0f);
  EXPECT_EQ(trace(50.0f, 5, 5, 1), (Cells{{5, 5}, {6, 6}})) << "a value equal to the threshold is outside";
  m = filled(20, 20);
  for (const Cell& p : Cells{{6, 7}, {6, 8}, {8, 8}, {5, 9}, {7, 9}}) m.SetPoint(p.first, p.second, 1.0f);
  EXPECT_EQ(trace(0.5f, 6, 7), (Cells{{6, 7}, {6, 8}, {7, 9}, {8, 8}, {7, 9}, {6, 8}, {5, 9}, {6, 8}}))
      << "one-cell-wide branches are walked out and back";
  CSSEMatrix empty;
  CPixelChain c = chainOf({{1, 1, 1}});
  c.CreatePixelChain(&empty, 0.0f, 0, 0, 10, true, true, 0);
  EXPECT_EQ(c.GetCount(), 0) << "empty matrix";
  m = filled(20, 22, 9.0f);  // six SSE lines, the last holding rows 20 and 21 and two spare lanes
  trace(3.5f, 10, 10, 100);
  EXPECT_TRUE(
      lanesAre(m, [](int x, int row) { return row < 4 || row >= 20 || x < 3 || x >= 17 ? 3.5f : 9.0f; }));
}

// A smooth irregular blob traced from its first cell in raster order visits
// exactly the inside cells that have an outside 4-neighbour, each once, in
// steps to 8-neighbours, ending next to the start.
TEST(PixelChainTrace, IrregularRegionAgainstBorderCells) {
  std::mt19937 rng(1234);
  std::uniform_real_distribution<float> phase(0.0f, 6.2831853f);
  for (int shape = 0; shape < 4; ++shape) {
    SCOPED_TRACE(shape);
    const float p1 = phase(rng), p2 = phase(rng);
    const auto inside = [&](int x, int y) {
      const float dx = static_cast<float>(x) - 131.0f, dy = static_cast<float>(y) - 127.0f;
      const float a = std::atan2(dy, dx);
      const float r = 80.0f + 22.0f * std::sin(3.0f * a + p1) + 9.0f * std::cos(5.0f * a + p2);
      return dx * dx + dy * dy < r * r;
    };
    CSSEMatrix m =
        field(260, 260, [&](int x, int y) { return inside(x, y) ? 1.0f + static_cast<float>(x) : 0.0f; });
    std::set<Cell> border;
    for (int y = 0; y < 260; ++y)
      for (int x = 0; x < 260; ++x)
        if (inside(x, y) && !(inside(x - 1, y) && inside(x + 1, y) && inside(x, y - 1) && inside(x, y + 1)))
          border.insert(Cell(x, y));
    const Cell start = *std::min_element(border.begin(), border.end(), [](const Cell& a, const Cell& b) {
      return std::pair(a.second, a.first) < std::pair(b.second, b.first);
    });
    CPixelChain c;
    c.CreatePixelChain(&m, 0.5f, start.first, start.second, 1000000, true, true, 0);
    const Cells walk = cells(c);
    ASSERT_EQ(walk.size(), border.size());
    EXPECT_EQ(std::set<Cell>(walk.begin(), walk.end()), border);
    for (std::size_t i = 0; i < walk.size(); ++i) {
      const Cell &a = walk[i], &b = walk[(i + 1) % walk.size()];
      ASSERT_EQ(std::max(std::abs(a.first - b.first), std::abs(a.second - b.second)), 1) << "step " << i;
      EXPECT_EQ(c.GetPixelData()[i].value, 1.0f + static_cast<float>(a.first));
    }
  }
}

TEST(PixelChain, ExtremesCentresCapacityAndNearestPoints) {
  // {min x, min y, max x, max y, min value, max value}, and both centres.
  const auto extremes = [](const CPixelChain& c) {
    return std::vector<double>{double(c.GetminX()),           double(c.GetminY()),
                               double(c.GetmaxX()),           double(c.GetmaxY()),
                               double(c.GetMinBorderValue()), double(c.GetMaxBorderValue())};
  };
  const auto centres = [](CPixelChain c) {
    c.CalculateGeomCenter_norm();
    c.CalculateGeomCenter_precis();
    return Floats{float(c.GetCenterX()), float(c.GetCenterY()), c.GetCenterXprecis(), c.GetCenterYprecis()};
  };
  CPixelChain c;
  EXPECT_EQ(extremes(c), (std::vector<double>{268435455, 268435455, 0, 0, 1000000, -1000000})) << "empty";
  EXPECT_EQ(c.FindNearestPoint(0, 0), -1);
  c = chainOf({{-3, -5, 2.0f}, {-1, -2, -4.0f}});
  EXPECT_EQ(extremes(c), (std::vector<double>{-3, -5, 0, 0, -4, 2})) << "the maxima never below 0";
  c.AddPoint(6, 9, 1.0f);
  int box[4];
  c.CalcBoundingBox(box[0], box[1], box[2], box[3]);
  EXPECT_EQ(std::vector<int>(box, box + 4), std::vector<int>({-3, -5, 6, 9}));
  // Centres round half up after the float mean: 1/3 + 0.5 truncates to 0.
  EXPECT_EQ(centres(chainOf({{0, 0, 0}, {1, 1, 0}})), (Floats{1, 1, 0.5f, 0.5f}));
  EXPECT_EQ(centres(chainOf({{0, 0, 0}, {1, 0, 0}, {2, 1, 0}})), (Floats{1, 0, 1, 1 / 3.0f}));
  // Fixed capacity; copies are deep.
  for (int i = 0; i < CPixelChain::c_iMaxPoints + 5; ++i) c.AddPoint(i, -i, static_cast<float>(i));
  int x = 0, y = 0;
  c.GetPixel(99999, x, y);
  EXPECT_EQ(std::pair(c.GetCount(), Cell(x, y)), std::pair(100000, Cell(99996, -99996)));
  CPixelChain copy(c);
  c.GetPixelData()[5].x = -1;
  EXPECT_EQ(copy.GetPixelData()[5].x, 2);

  // The earlier point on ties; the limited search only takes points below the row.
  c = chainOf({{0, 0, 0}, {4, 0, 0}, {2, 3, 0}, {2, -3, 0}});
  EXPECT_EQ((std::vector<int>{c.FindNearestPoint(2, 0), c.FindNearestPoint(2, 2), c.FindNearestPoint(3, -2),
                              c.FindNearestPointLimited(5, 0), c.FindNearestPointLimited(5, -1),
                              c.FindNearestPointLimited(0, 3)}),
            (std::vector<int>{0, 2, 3, 2, 1, -1}));
  // Centre (5, 10): the band of the lower search is the rows 4 .. 9, that of
  // the upper search the rows 11 .. y - 1. A point on the column takes no part.
  CPixelChain d = chainOf({{2, 5, 0}, {8, 7, 0}, {4, 16, 0}, {6, 13, 0}});
  CPixelChain onColumn = chainOf({{5, 5, 0}, {8, 6, 0}, {1, 20, 0}, {5, 9, 0}});  // centre row 10
  EXPECT_EQ(
      (Floats{d.FindNearestIntersectionPointY(5, 3, false), d.FindNearestIntersectionPointY(5, 18, true),
              d.FindNearestIntersectionPointY(9, 3, false), d.FindNearestIntersectionPointY(5, 40, false),
              CPixelChain().FindNearestIntersectionPointY(3, 4, true),
              onColumn.FindNearestIntersectionPointY(5, 3, false)}),
      (Floats{6, 14.5f, 7, 40, 4, 5}))
      << "from below, from above, only a left candidate, nothing below, empty, on the column";
  EXPECT_EQ(Cell(d.GetCenterX(), d.GetCenterY()), Cell(5, 10));
  d.GetNearestPixel(5, 18, x, y);
  EXPECT_EQ(Cell(x, y), Cell(5, 15));
}

TEST(PixelChain, ValuesFromAndIntoMatrix) {
  // Sampling six cells beside each step; a point equal to its successor keeps its value.
  const CSSEMatrix m = field(30, 30, [](int x, int y) { return 100 * y + x; });
  CPixelChain c = chainOf({{10, 10, 0}, {12, 10, 0}, {10, 10, -7.0f}, {10, 10, 0}, {13, 14, 0}});
  c.GetInnerValueForPixelChain(&m, 1000.0f, true);
  EXPECT_EQ(values(c), (Floats{1000.0f, 512.0f, -7.0f, 1000.0f, 1000.0f}));
  c.GetInnerValueForPixelChain(&m, 1000.0f, false);
  EXPECT_EQ(values(c), (Floats{1610.0f, 1000.0f, -7.0f, 1406.0f, 1118.0f}));

  // InsertSingle writes 1.25 cells to the other side, rounded, at least (1, 1).
  CSSEMatrix t = filled(30, 30), edge = filled(10, 10), squares = filled(30, 30),
             squaresEdge = filled(10, 10);
  chainOf({{10, 10, 1.0f}, {12, 10, 2.0f}, {0, 0, 3.0f}, {0, 5, 4.0f}}).InsertSingle(&t);
  EXPECT_EQ(nonZero(t),
            (Marks{{Cell(1, 1), 3.0f}, {Cell(1, 4), 4.0f}, {Cell(10, 9), 1.0f}, {Cell(11, 11), 2.0f}}));
  // Insert writes 5 x 5 blocks three cells aside, within the matrix, later over earlier.
  t = filled(30, 30);
  chainOf({{10, 10, 1.0f}, {12, 10, 2.0f}}).Insert(&t);
  chainOf({{0, 0, 5.0f}, {5, 0, 6.0f}}).Insert(&edge);
  for (const auto& [target, corner, v] : {std::tuple{&squares, Cell(8, 5), 1.0f},
                                          {&squares, Cell(10, 11), 2.0f},
                                          {&squaresEdge, Cell(0, 0), 5.0f},
                                          {&squaresEdge, Cell(3, 1), 6.0f}})
    for (int k = 0; k < 25; ++k) target->SetPoint(corner.first + k % 5, corner.second + k / 5, v);
  EXPECT_EQ(nonZero(t), nonZero(squares));
  EXPECT_EQ(nonZero(edge), nonZero(squaresEdge));

  // InsertSingle with a threshold writes qualifying neighbours only.
  t = filled(12, 12);
  t.SetPoint(4, 4, 3.0f);
  t.SetPoint(6, 6, 0.5f);
  t.SetPoint(5, 5, 7.0f);
  CSSEMatrix above(t), below(t);
  chainOf({{5, 5, 9.0f}}).InsertSingle(&above, true, 1.0f);
  chainOf({{5, 5, 9.0f}}).InsertSingle(&below, false, 0.6f);
  EXPECT_EQ(nonZero(above), (Marks{{Cell(4, 4), 9.0f}, {Cell(5, 5), 7.0f}, {Cell(6, 6), 0.5f}}));
  Marks expected;  // every neighbour but (4, 4) below 0.6
  for (int k = 0; k < 9; ++k)
    expected.push_back({Cell(4 + k % 3, 4 + k / 3), k == 0 ? 3.0f : k == 4 ? 7.0f : 9.0f});
  EXPECT_EQ(nonZero(below), expected);
}

TEST(PixelChain, ValueFiltersAndExport) {
  CPixelChain c = chainOf({{0, 0, 1}, {1, 0, 5}, {2, 0, 2}, {3, 0, 8}});
  CPixelChain d(c);
  c.MaximumFilterChain();
  EXPECT_EQ(values(c), (Floats{8, 5, 8, 8})) << "cyclic three-point maximum";
  d.MinimumFilterChain();
  d.OffsetChain(0.5f);
  EXPECT_EQ(values(d), (Floats{1.5f, 1.5f, 2.5f, 1.5f})) << "cyclic minimum, offset";
  c = chainOf({{0, 0, 0}});
  const CPixelChain other = chainOf({{1, 0, 10}, {0, 2, 5}});
  c.SmoothlyPullTogetherChains(&other, 0);
  EXPECT_EQ(values(c)[0], 0.0f);
  c.SmoothlyPullTogetherChains(&other, 1);
  EXPECT_FLOAT_EQ(values(c)[0], 2.4f);  // 0.4 (10 / 2 + 5 / 5)
  c.SmoothlyPullTogetherChains(&other, 1);
  EXPECT_FLOAT_EQ(values(c)[0], 4.128f);
  c = chainOf({{0, 0, 0}, {1, 0, 10}});  // pulling a chain toward itself uses the values already moved
  c.SmoothlyPullTogetherChains(&c, 1);
  EXPECT_EQ(Floats({values(c)[0], values(c)[1]}), (Floats{2.0f, 10 + 0.4f * (2 - 10) / 2}));

  // The table goes to Export/PixelChain/ under the working folder, only when that exists.
  const test_support::ScratchFolder folder;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(folder.Path());
  c = chainOf({{3, 4, 1.5f}, {-2, 7, -0.25f}});
  c.ExportPixelChain("chain");
  EXPECT_FALSE(std::filesystem::exists("Export"));
  std::filesystem::create_directories("Export/PixelChain");
  c.ExportPixelChain("chain");
  const std::vector<unsigned char> text = test_support::ReadBytes("Export/PixelChain/chain.txt");
  EXPECT_EQ(std::string(text.begin(), text.end()),
            "Length: 2\nIndex\tXPos\tYPos\tValue\n0\t3\t4\t1,500\n1\t-2\t7\t-0,250\n");
  std::filesystem::current_path(previous);
}
