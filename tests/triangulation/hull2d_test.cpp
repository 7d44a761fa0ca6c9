#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "orvik/polygon/SSE2dPolygon.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "orvik/triangulation/HConvexHull2D.h"
#include "hull_reference.h"

namespace {

using hull_reference::monotoneChain;
using hull_reference::Pt;

std::vector<Pt> graham(const std::vector<Pt>& pts, bool fromPlanar) {
  CSSE3dPolygon out;
  if (fromPlanar) {
    CSSE2dPolygon in;
    in.Create(static_cast<int>(pts.size()));
    for (std::size_t i = 0; i < pts.size(); ++i) in.SetPoint(int(i), pts[i].x, pts[i].y);
    CHConvexHull2D(&in).ObtainConvexHull3D(&out);
  } else {
    CSSE3dPolygon in;
    in.Create(static_cast<int>(pts.size()));
    for (std::size_t i = 0; i < pts.size(); ++i) in.SetPoint(int(i), pts[i].x, pts[i].y, 1.0f + i);
    CHConvexHull2D hull(&in);
    hull.ObtainConvexHull3D(&out);
    // The planar form runs the other way round.
    CSSE2dPolygon cw;
    hull.ObtainConvexHull2D(&cw);
    EXPECT_EQ(cw.GetNumPoints(), out.GetNumPoints());
    for (int i = 0; i < cw.GetNumPoints(); ++i) {
      float x = 0, y = 0, z = 0, cx = 0, cy = 0;
      out.GetPoint(i, x, y, z);
      cw.GetPoint(cw.GetNumPoints() - 1 - i, cx, cy);
      EXPECT_EQ(cx, x);
      EXPECT_EQ(cy, y);
    }
  }
  std::vector<Pt> h(out.GetNumPoints());
  for (int i = 0; i < out.GetNumPoints(); ++i) {
    float z = 0;
    out.GetPoint(i, h[i].x, h[i].y, z);
  }
  return h;
}

}  // namespace

TEST(ConvexHull2D, EqualsTheMonotoneChain) {
  std::mt19937 rng(9);
  std::uniform_int_distribution<int> u(-50, 50);
  std::vector<Pt> circle;
  for (int i = 0; i < 64; ++i) circle.push_back({std::round(40 * std::cos(i * 0.0981747f)), std::round(40 * std::sin(i * 0.0981747f))});
  std::vector<Pt> grid;
  for (int x = 0; x < 6; ++x)
    for (int y = 0; y < 4; ++y) grid.push_back({float(x), float(y)});
  struct Case {
    const char* name;
    std::vector<Pt> pts;
    int size;  // -1: whatever the chain gives
  };
  std::vector<Case> cases = {
      {"square with a point on an edge and one inside", {{0, 0}, {4, 0}, {4, 4}, {2, 0}, {0, 4}, {1, 1}}, 4},
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
    const std::vector<Pt> expected = monotoneChain(c.pts);
    for (bool planar : {false, true}) {
      const std::vector<Pt> got = graham(c.pts, planar);
      if (c.size >= 0) {
        EXPECT_EQ(static_cast<int>(got.size()), c.size);
      }
      if (c.pts.size() >= 3 || c.size < 2) {
        EXPECT_EQ(got, expected);
      }
    }
  }
}

TEST(ConvexHull2D, KeepsHeightsOfHullPoints) {
  CSSE3dPolygon in;
  in.Create(4);
  in.SetPoint(0, 2, 2, 7);
  in.SetPoint(1, 0, 0, 1);
  in.SetPoint(2, 4, 0, 2);
  in.SetPoint(3, 2, 5, 3);
  CSSE3dPolygon out;
  CHConvexHull2D(&in).ObtainConvexHull3D(&out);
  ASSERT_EQ(out.GetNumPoints(), 3);
  float x, y, z;
  out.GetPoint(0, x, y, z);
  EXPECT_EQ(z, 1.0f);
  out.GetPoint(2, x, y, z);
  EXPECT_EQ(z, 3.0f);
}
