// Meshes of height fields checked cell by cell against a brute-force walk of the grid.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

#include "mesh_helpers.h"
#include "orvik/foundation/Exception.h"
#include "orvik/foundation/qe/Array2D.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "support/fields.h"

using namespace mesh_test;

namespace {

using Valid = std::function<bool(int, int)>;

// The cells of step (dx, dy) from (x0, y0) whose last pixels are at most (xLast, yLast), column by column.
struct Grid {
  int x0, xLast, y0, yLast, dx, dy;
};

// Which cells give triangles, their corners, heights from h at scale (sx, sy), gradient normals (turned down
// by `flip`), orientation and area; `blanks` allows blank records after the cells'.
::testing::AssertionResult cellsMatch(const CHTriangulation& mesh, const Grid& g, const Valid& valid,
                                      const std::function<float(int, int)>& h, bool flip, float sx = 1,
                                      float sy = 1, bool blanks = false) {
  int used = 0;
  double area = 0.0, wantArea = 0.0;
  for (int x = g.x0; x + g.dx <= g.xLast; x += g.dx)
    for (int y = g.y0; y + g.dy <= g.yLast; y += g.dy) {
      const int px[4] = {x, x + g.dx, x, x + g.dx}, py[4] = {y, y, y + g.dy, y + g.dy};  // P00 P10 P01 P11
      int validCount = 0;
      for (int k = 0; k < 4; ++k) validCount += valid(px[k], py[k]) ? 1 : 0;
      const int want = validCount == 4 ? 2 : validCount == 3 ? 1 : 0;
      wantArea += 0.5 * want * g.dx * g.dy * double(sx) * sy;
      const float z00 = h(x, y), z10 = h(x + g.dx, y), z01 = h(x, y + g.dy), z11 = h(x + g.dx, y + g.dy);
      // The gradient normal of each corner, in double.
      const double nx[4] = {z00 - z10, z00 - z10, z01 - z11, z01 - z11};
      const double ny[4] = {z00 - z01, z10 - z11, z00 - z01, z10 - z11};
      for (int t = 0; t < want; ++t, ++used) {
        const t_htriangle* tri = mesh.GetTriangle(used);
        auto failure = [&] {
          return ::testing::AssertionFailure() << "cell " << x << "," << y << " triangle " << used;
        };
        if (!tri) return failure() << ": too few records";
        if (!(signedArea(*tri) > 0)) return failure() << " is not counter-clockwise";
        area += signedArea(*tri);
        SSEPoint sum;
        for (int k = 0; k < 3; ++k) {
          const SSEPoint &c = *tri->corner[k], &n = *tri->normal[k];
          int q = 0;
          while (q < 4 && !(c.x == float(px[q]) * sx && c.y == float(py[q]) * sy)) ++q;
          if (q == 4 || (want == 1 && !valid(px[q], py[q])))
            return failure() << " corner " << k << " is no valid corner";
          if (c.z != h(px[q], py[q]) || c.w != 0.0f) return failure() << " corner " << k << " height " << c.z;
          const double len = std::sqrt(nx[q] * nx[q] + ny[q] * ny[q] + 1.0), s = flip ? -1.0 : 1.0;
          if (std::fabs(n.x - s * nx[q] / len) > 1e-6 || std::fabs(n.y - s * ny[q] / len) > 1e-6 ||
              std::fabs(n.z - s / len) > 1e-6 || n.w != 0.0f)
            return failure() << " normal " << k << " (" << n.x << ", " << n.y << ", " << n.z << ")";
          sum.v = _mm_add_ps(sum.v, n.v);
        }
        const float len = std::sqrt(sum.x * sum.x + sum.y * sum.y + sum.z * sum.z);
        if (std::fabs(tri->mainNormal->x - sum.x / len) > 1e-6f ||
            std::fabs(tri->mainNormal->z - sum.z / len) > 1e-6f)
          return failure() << " main normal";
      }
    }
  if (std::fabs(area - wantArea) > 1e-6 * std::max(1.0, wantArea))
    return ::testing::AssertionFailure() << "area " << area << " instead of " << wantArea;
  for (int i = used; i < mesh.GetNumTriangles(); ++i)
    if (!blanks || !blank(*mesh.GetTriangle(i)))
      return ::testing::AssertionFailure() << "record " << i << " beyond the " << used << " of the cells";
  return ::testing::AssertionSuccess();
}

// Heights in [0, 10) on every lane, the spare lanes included, so that a build reading them shows.
CSSEMatrix randomField(int sizeX, int sizeY, unsigned seed) {
  CSSEMatrix m = filled(sizeX, sizeY);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(0.0f, 10.0f);
  for (int row = 0; row < laneRows(m); ++row)
    for (int x = 0; x < sizeX; ++x) lane(m, x, row) = u(rng);
  return m;
}

}  // namespace

// Each of the sixteen mask pairs, with and without fill, against the cell table.
TEST(MeshFromField, EveryCellMask) {
  enum { P00, P10, P01, P11 };
  struct Row {
    int L, R;
    std::vector<std::array<int, 3>> tris;
  };
  const std::vector<Row> table = {{3, 3, {{P00, P11, P01}, {P00, P10, P11}}},
                                  {3, 1, {{P00, P10, P01}}},
                                  {3, 2, {{P00, P11, P01}}},
                                  {1, 3, {{P00, P10, P11}}},
                                  {2, 3, {{P10, P11, P01}}}};
  const float x0 = 2, x1 = 3.5f, y0 = -1, y1 = 0.25f, z[4] = {1.0f, 2.5f, -0.5f, 4.0f};  // z00 z10 z01 z11
  const SSEPoint P[4] = {{x0, y0, z[0]}, {x1, y0, z[1]}, {x0, y1, z[2]}, {x1, y1, z[3]}};
  for (bool fill : {false, true})
    for (int L = 0; L < 4; ++L)
      for (int R = 0; R < 4; ++R) {
        SCOPED_TRACE(testing::Message() << "L " << L << " R " << R << " fill " << fill);
        const int l = fill && (L == 1 || L == 2) ? 3 : L, r = fill && (R == 1 || R == 2) ? 3 : R;
        std::vector<std::array<int, 3>> want;
        for (const Row& row : table)
          if (row.L == l && row.R == r) want = row.tris;
        CHTriangulation mesh(3, 1, 1, 1);
        int next = 1;
        mesh.AppendTriangle(L, R, x0, x1, y0, y1, z[0], z[2], z[1], z[3], next, false, fill);
        ASSERT_EQ(next, 1 + int(want.size()));
        for (std::size_t t = 0; t < want.size(); ++t)
          for (int k = 0; k < 3; ++k)
            EXPECT_TRUE(sameXYZ(*mesh.GetTriangle(1 + int(t))->corner[k], P[want[t][k]])) << t << "," << k;
        EXPECT_TRUE(blank(*mesh.GetTriangle(0)));
        EXPECT_TRUE(want.size() != 2 || (mesh.GetTriangle(1)->neighbour[0] == mesh.GetTriangle(2) &&
                                         mesh.GetTriangle(2)->neighbour[2] == mesh.GetTriangle(1)));
        EXPECT_TRUE(!want.empty() || blank(*mesh.GetTriangle(1)));
      }
  // A cell that does not fit the records appends nothing and says so.
  CHTriangulation mesh(2, 1, 1, 1);
  int next = 1;
  EXPECT_THROW(mesh.AppendTriangle(3, 3, 0, 1, 0, 1, 0, 0, 0, 0, next, false, false), CbException);
  EXPECT_EQ(next, 1);
  EXPECT_TRUE(blank(*mesh.GetTriangle(1)));
}

// Every size Y modulo 4, thresholds none or all pass: the count is 2 x the values passing, the rest blank,
// and the blanks put the origin into the bounds.
TEST(MeshFromField, FullBuildMeshesEveryRowPair) {
  for (int sizeY = 2; sizeY <= 13; ++sizeY)
    for (int sizeX : {2, 3, 9})
      for (float threshold : {2.0f, 5.0f, 9.5f, 10.5f})
        for (bool above : {false, true}) {
          SCOPED_TRACE(testing::Message()
                       << sizeX << " x " << sizeY << " threshold " << threshold << " above " << above);
          CSSEMatrix f = randomField(sizeX, sizeY, unsigned(sizeY * 100 + sizeX));
          const Valid valid = [&](int x, int y) {
            return above ? f.GetPoint(x, y) > threshold : f.GetPoint(x, y) < threshold;
          };
          CHTriangulation mesh(&f, threshold, above, 0.1f, 0.3f, 2.0f);
          ASSERT_EQ(mesh.GetNumTriangles(),
                    2 * (above ? f.NumValuesAbove(threshold) : f.NumValuesBelow(threshold)));
          ASSERT_TRUE(cellsMatch(
              mesh, {0, sizeX - 1, 0, sizeY - 1, 1, 1}, valid, [&](int x, int y) { return f.GetPoint(x, y); },
              !above, 0.1f, 0.3f, true));
          SSEPoint lo;
          mesh.GetMinPoint(lo);
          const int n = mesh.GetNumTriangles();
          EXPECT_TRUE(n == 0 || !blank(*mesh.GetTriangle(n - 1)) || (lo.x <= 0 && lo.y <= 0 && lo.z <= 0));
        }
  // A field one column wide has no cell and gives no records.
  CSSEMatrix column = filled(1, 7, 1.0f);
  for (bool above : {false, true})
    EXPECT_EQ(CHTriangulation(&column, above ? 0.0f : 2.0f, above, 1, 1, 1).GetNumTriangles(), 0);
}

// Windows are clamped into the field; steps below 1 give nothing.
TEST(MeshFromField, SubSampledWindowedPolygonAndTwoFields) {
  CSSEMatrix f = randomField(23, 18, 7);
  auto h = [&](int x, int y) { return f.GetPoint(x, y); };
  const Valid above = [&](int x, int y) { return h(x, y) > 3.0f; };
  // Steps and a window, xe < 0 for the plain sub-sampled build.
  const std::array<int, 6> cases[] = {{1, 1, 0, -1, 0, 0},  {2, 3, 0, -1, 0, 0},  {5, 1, 0, -1, 0, 0},
                                      {30, 2, 0, -1, 0, 0}, {2, 2, 3, 15, 4, 11}, {1, 3, -10, 99, -4, 40},
                                      {3, 1, 20, 5, 0, 17}};
  for (const auto& [dx, dy, xs, xe, ys, ye] : cases) {
    SCOPED_TRACE(testing::Message() << "step " << dx << "," << dy << " window " << xs << ".." << xe << ", "
                                    << ys << ".." << ye);
    CHTriangulation mesh = xe >= 0 ? CHTriangulation(&f, 3.0f, true, 1, 1, 1, dx, dy, xs, xe, ys, ye, false)
                                   : CHTriangulation(&f, 3.0f, true, 1, 1, 1, dx, dy);
    const Grid g = xe >= 0
                       ? Grid{std::max(xs, 0), std::min(xe, 22), std::max(ys, 0), std::min(ye, 17), dx, dy}
                       : Grid{0, 22, 0, 17, dx, dy};
    EXPECT_TRUE(cellsMatch(mesh, g, above, h, false));
  }
  // Only pixels inside the polygon (thinned to every fourth point) belong.
  CSSE3dPolygon diamond;
  diamond.Create(40);
  for (int i = 0; i < 40; ++i)
    diamond.SetPoint(i, float(11 + 9 * std::cos(M_PI * i / 20)), float(9 + 7 * std::sin(M_PI * i / 20)), 0);
  for (int step : {1, 2}) {
    CHTriangulation mesh(&f, 3.0f, true, 1, 1, 1, step, step, &diamond);
    EXPECT_GT(mesh.GetNumTriangles(), 0);
    EXPECT_TRUE(cellsMatch(
        mesh, {0, 22, 0, 17, step, step},
        [&](int x, int y) { return above(x, y) && diamond.PointInLineInnerArea(float(x), float(y), 4); }, h,
        false));
  }
  // Two fields of different sizes: heights from f, a pixel belongs where b lies above it (below mode) or
  // below it, over the common part.
  CSSEMatrix b = randomField(19, 25, 8);
  for (bool up : {false, true}) {
    const Valid valid = [&](int x, int y) {
      return up ? h(x, y) > b.GetPoint(x, y) : b.GetPoint(x, y) > h(x, y);
    };
    CHTriangulation mesh, windowed;
    mesh.CreateTriangulationFromSSEFieldSubSampledTwoFields(&f, &b, up, 1, 2);
    EXPECT_TRUE(cellsMatch(mesh, {0, 18, 0, 17, 1, 2}, valid, h, !up));
    windowed.CreateTriangulationFromSSEFieldSubSampledTwoFields(&f, &b, up, 2, 1, 4, 12, 2, 30);
    EXPECT_TRUE(cellsMatch(windowed, {4, 12, 2, 17, 2, 1}, valid, h, !up));
  }
  for (auto [dx, dy] : {std::pair{0, 1}, {1, 0}, {-2, 3}, {0, 0}}) {
    EXPECT_EQ(CHTriangulation(&f, 3.0f, true, 1, 1, 1, dx, dy).GetNumTriangles(), 0);
    EXPECT_EQ(CHTriangulation(&f, &b, true, 1, 1, 1, dx, dy).GetNumTriangles(), 0);
  }
}

// Corners are clamped only over field values above 0.1; the array form does the same.
TEST(MeshFromField, ConstrainWithHeightField) {
  CSSEMatrix f = field(8, 8, [](int x, int) { return x < 4 ? 0.05 : 2.0; });
  QeArray2D<float> array(8, 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) array(x, y) = f.GetPoint(x, y);
  for (bool fromAbove : {false, true})
    for (bool useArray : {false, true}) {
      CHTriangulation mesh;
      fill(mesh, {{SSEPoint(2, 2, 1), SSEPoint(6, 2, 1), SSEPoint(5, 5, 3)}, {SSEPoint(5, 5, 2.2f), {}, {}}});
      useArray ? mesh.ConstrainWithHeightField(fromAbove, &array, 0.25f)
               : mesh.ConstrainWithHeightField(fromAbove, &f, 0.25f);
      const float want[4] = {1.0f, fromAbove ? 1.0f : 2.25f, fromAbove ? 2.25f : 3.0f,
                             fromAbove ? 2.2f : 2.25f};
      for (int i = 0; i < 4; ++i)
        EXPECT_EQ(mesh.GetEdgeArray()[i].z, want[i]) << i;  // corner 0 over 0.05: untouched
    }
}
