#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>

#include "orvik/triangulation/HPolygonTriangulator.h"
#include "polygons.h"

using namespace testpolygons;

namespace {

std::vector<std::array<int, 3>> trianglesOf(const CHPolygonTriangulator& t) {
  std::vector<std::array<int, 3>> v(t.GetNumTriangles());
  for (int i = 0; i < t.GetNumTriangles(); ++i) EXPECT_TRUE(t.GetTriangleIndices(i, v[i][0], v[i][1], v[i][2]));
  return v;
}

// A complete triangulation of the ring: n - 2 counter-clockwise triangles of
// distinct vertices, inside the ring (centroid inside, no edge crossing the
// boundary), no vertex strictly inside a triangle, areas summing to the ring's.
void expectTriangulates(const CHPolygonTriangulator& t, const Ring& ring, bool strictlyPositive = true) {
  const int n = static_cast<int>(ring.size());
  ASSERT_EQ(t.GetNumTriangles(), n - 2);
  EXPECT_EQ(t.GetNumDiagonals(), n - 2);
  double sum = 0;
  for (const auto& tri : trianglesOf(t)) {
    const Pt &a = ring[tri[0]], &b = ring[tri[1]], &c = ring[tri[2]];
    ASSERT_TRUE(tri[0] != tri[1] && tri[1] != tri[2] && tri[0] != tri[2]);
    const double A = orient(a, b, c);
    ASSERT_GT(A, strictlyPositive ? 0.0 : -1e-3);
    sum += A;
    if (A > 1e-3) {
      ASSERT_TRUE(inside(ring, (double(a.x) + b.x + c.x) / 3, (double(a.y) + b.y + c.y) / 3));
    }
    for (int v = 0; v < n; ++v) {
      const Pt& p = ring[v];
      ASSERT_FALSE(orient(a, b, p) > 0 && orient(b, c, p) > 0 && orient(c, a, p) > 0) << "vertex " << v;
      const Pt& q = ring[(v + 1) % n];
      ASSERT_FALSE(properCross(a, b, p, q) || properCross(b, c, p, q) || properCross(c, a, p, q));
    }
  }
  EXPECT_NEAR(sum, std::fabs(area2(ring)), 1e-9 * std::fabs(area2(ring)));
}

}  // namespace

TEST(PolygonTriangulator, CompleteTriangulationsInBothOrientations) {
  struct Case {
    std::string name;
    Ring ring;
  };
  std::vector<Case> cases = {{"square", square()}, {"L", lShape()}, {"comb 2", comb(2, 5)}, {"comb 7", comb(7, 3)},
                             {"comb 20", comb(20, 10)}};
  for (unsigned seed = 1; seed <= 40; ++seed) cases.push_back({"star " + std::to_string(seed), star(5 + seed * 7, seed)});
  cases.push_back({"star 600", star(600, 99)});
  for (const Case& c : cases)
    for (bool backwards : {false, true})
      for (bool is3D : {false, true}) {
        SCOPED_TRACE(c.name + (backwards ? " clockwise" : "") + (is3D ? " 3D" : " 2D"));
        const Ring ring = backwards ? reversed(c.ring) : c.ring;
        CSSE3dPolygon p = toPolygon(ring);
        CHPolygonTriangulator t(&p, 1, 1, 1, 1, is3D);
        EXPECT_EQ(t.Is3DTriangulation(), is3D);
        expectTriangulates(t, ring);
        // The plane polygon gives the same triangles.
        CSSE2dPolygon q;
        q.Create(static_cast<int>(ring.size()));
        for (int i = 0; i < q.GetNumPoints(); ++i) q.SetPoint(i, ring[i].x, ring[i].y);
        EXPECT_EQ(trianglesOf(CHPolygonTriangulator(&q, 1, 1, 1, is3D)), trianglesOf(t));
      }
}

TEST(PolygonTriangulator, StepScalesAndPoints) {
  // Every second point of a doubled star: the step picks the star back.
  const Ring ring = star(60, 5);
  Ring doubled;
  for (const Pt& p : ring) doubled.insert(doubled.end(), {p, {p.x + 1000, p.y}});
  CSSE3dPolygon p = toPolygon(doubled, 2.0f);
  CHPolygonTriangulator t(&p, 2, 2.0f, -0.5f, 3.0f, false);
  EXPECT_EQ(t.GetScaleZ(), 3.0f);
  Ring scaled;
  for (const Pt& q : ring) scaled.push_back({q.x * 2.0f, q.y * -0.5f});
  expectTriangulates(t, scaled);
  int a, b, c;
  ASSERT_TRUE(t.GetTriangleIndices(0, a, b, c));
  SSEPoint pa, pb, pc;
  ASSERT_TRUE(t.GetTriangle3D(0, pa, pb, pc));
  EXPECT_TRUE(pa.x == ring[a].x && pa.y == ring[a].y && pa.z == 2.0f + 0.25f * 2 * a && pa.w == 0);
  EXPECT_TRUE(pc.x == ring[c].x && pc.y == ring[c].y);
  float x = 0, y = 0;
  ASSERT_TRUE(t.GetPoint(b, x, y));
  EXPECT_TRUE(x == scaled[b].x && y == scaled[b].y);
  float x1, y1, x2, y2;
  ASSERT_TRUE(t.GetDiagonalPoints(0, x1, y1, x2, y2));
  EXPECT_TRUE(x1 == scaled[a].x && y1 == scaled[a].y && x2 == scaled[c].x && y2 == scaled[c].y);
}

TEST(PolygonTriangulator, NothingToBuildAndOutOfRange) {
  CSSE3dPolygon sq = toPolygon(square());
  CSSE3dPolygon two = toPolygon({{0, 0}, {1, 0}});
  struct Case {
    const char* name;
    CSSE3dPolygon* p;
    int step;
  };
  for (const Case& c : {Case{"null", nullptr, 1}, Case{"two points", &two, 1}, Case{"step 0", &sq, 0},
                        Case{"step -1", &sq, -1}, Case{"step 2", &sq, 2}, Case{"step 5", &sq, 5}}) {
    SCOPED_TRACE(c.name);
    CHPolygonTriangulator t(c.p, c.step, 1, 1, 1, true);
    EXPECT_EQ(t.GetNumTriangles(), 0);
    SSEPoint a(7, 7, 7, 7), b, d;
    EXPECT_FALSE(t.GetTriangle3D(0, a, b, d));
    EXPECT_EQ(a.x, 7.0f);
    float x = 7, y = 7, x2 = 7, y2 = 7;
    EXPECT_FALSE(t.GetPoint(0, x, y));
    EXPECT_FALSE(t.DiagonalExists(0));
    EXPECT_FALSE(t.GetDiagonalPoints(0, x, y, x2, y2));
    EXPECT_EQ(x + y + x2 + y2, 28.0f);
  }
  CHPolygonTriangulator t(&sq, 1, 1, 1, 1, true);
  SSEPoint a(7, 7, 7, 7), b, c;
  float x = 7, y = 7;
  EXPECT_FALSE(t.GetTriangle3D(2, a, b, c));
  EXPECT_FALSE(t.GetTriangle3D(-1, a, b, c));
  EXPECT_FALSE(t.GetPoint(4, x, y));
  EXPECT_FALSE(t.DiagonalExists(2));
  EXPECT_TRUE(t.DiagonalExists(1));
  EXPECT_EQ(a.x + x + y, 21.0f);
  // The plane polygon has no points in space.
  CSSE2dPolygon q;
  q.Create(3);
  for (int i = 0; i < 3; ++i) q.SetPoint(i, float(i == 1), float(i == 2));
  CHPolygonTriangulator t2(&q, 1, 1, 1, false);
  EXPECT_EQ(t2.GetNumTriangles(), 1);
  EXPECT_FALSE(t2.GetTriangle3D(0, a, b, c));
}
