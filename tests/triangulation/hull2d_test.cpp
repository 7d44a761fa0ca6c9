#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "mesh_helpers.h"
#include "orvik/polygon/SSE2dPolygon.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "orvik/triangulation/HConvexHull2D.h"

namespace {

using Pt = mesh_test::PlanePt;
using mesh_test::hullFromLowest;

// The hull of the points from a plane polygon, or from one in space with height 1 + i at point i: that hull
// keeps the heights of its points, and its planar form runs the other way round.
std::vector<Pt> graham(const std::vector<Pt>& pts, bool fromPlanar) {
  const int n = static_cast<int>(pts.size());
  CSSE2dPolygon in2, cw;
  CSSE3dPolygon in3, out;
  in2.Create(n);
  in3.Create(n);
  for (int i = 0; i < n; ++i)
    in2.SetPoint(i, pts[i][0], pts[i][1]), in3.SetPoint(i, pts[i][0], pts[i][1], 1.0f + i);
  CHConvexHull2D hull = fromPlanar ? CHConvexHull2D(&in2) : CHConvexHull2D(&in3);
  hull.ObtainConvexHull3D(&out);
  hull.ObtainConvexHull2D(&cw);
  std::vector<Pt> h(out.GetNumPoints());
  EXPECT_EQ(cw.GetNumPoints(), out.GetNumPoints());
  for (int i = 0; i < out.GetNumPoints(); ++i) {
    float z = 0, cx = 0, cy = 0;
    out.GetPoint(i, h[i][0], h[i][1], z);
    cw.GetPoint(cw.GetNumPoints() - 1 - i, cx, cy);
    EXPECT_TRUE(cx == h[i][0] && cy == h[i][1]);
    EXPECT_TRUE(fromPlanar || (z == std::floor(z) && z >= 1 && z <= n && pts[int(z) - 1] == h[i])) << z;
  }
  return h;
}

}  // namespace

TEST(ConvexHull2D, EqualsTheMonotoneChain) {
  std::mt19937 rng(9);
  std::uniform_int_distribution<int> u(-50, 50);
  std::vector<Pt> circle, grid;
  for (int i = 0; i < 64; ++i)
    circle.push_back({std::round(40 * std::cos(i * 0.0981747f)), std::round(40 * std::sin(i * 0.0981747f))});
  for (int x = 0; x < 6; ++x)
    for (int y = 0; y < 4; ++y) grid.push_back({float(x), float(y)});
  struct Case {
    const char* name;
    std::vector<Pt> pts;
    int size;  // -1: whatever the chain gives
  };
  std::vector<Case> cases = {
      {"square with a point on an edge and one inside", {{0, 0}, {4, 0}, {4, 4}, {2, 0}, {0, 4}, {1, 1}}, 4},
      {"heights kept", {{2, 2}, {0, 0}, {4, 0}, {2, 5}}, 3},
      {"grid: collinear points on every side", grid, 4},
      {"rounded circle", circle, -1},
      {"two equal points", {{3, 3}, {3, 3}}, 1},
      {"one point", {{5, -2}}, 1},
      {"collinear points", {{0, 0}, {1, 1}, {3, 3}, {2, 2}}, 2},
      {"no points", {}, 0},
  };
  for (int r = 0; r < 5; ++r) {
    std::vector<Pt> random(300);
    for (Pt& p : random) p = {float(u(rng)), float(u(rng))};
    cases.push_back({"random", random, -1});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool planar : {false, true}) {
      const std::vector<Pt> got = graham(c.pts, planar);
      EXPECT_TRUE(c.size < 0 || static_cast<int>(got.size()) == c.size) << got.size();
      EXPECT_TRUE((c.pts.size() < 3 && c.size >= 2) || got == hullFromLowest(c.pts));
    }
  }
}
