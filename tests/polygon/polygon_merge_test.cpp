#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "orvik/polygon/SSE3dPolygon.h"
#include "polygon/polygon_points.h"

namespace {

using namespace polytest;

std::vector<P3> rect(float x0, float y0, float x1, float y1) {
  return {{x0, y0, 0}, {x1, y0, 0}, {x1, y1, 0}, {x0, y1, 0}};
}

// Twice the area of the union, counted on a fine grid of sample points.
double unionArea2(const std::vector<P3>& a, const std::vector<P3>& b, float lo, float hi, float h) {
  CSSE3dPolygon pa = polygonOf(a), pb = polygonOf(b);
  long count = 0;
  for (float y = lo + h / 2; y < hi; y += h)
    for (float x = lo + h / 2; x < hi; x += h) {
      const SSEPoint q(x, y, 0);
      count += pa.PointStatusWithRespectToPolygon(q) == CSSE3dPolygon::ePointInside ||
               pb.PointStatusWithRespectToPolygon(q) == CSSE3dPolygon::ePointInside;
    }
  return 2.0 * count * h * h;
}

}  // namespace

TEST(PolygonMerge, UnionOutlines) {
  // A C shape whose opening a bar closes: the union has a hole, which goes,
  // leaving the square and the bar's part beyond it (100 + 16).
  const std::vector<P3> cShape = {{0, 0, 0}, {10, 0, 0}, {10, 2, 0}, {2, 2, 0}, {2, 8, 0}, {10, 8, 0}, {10, 10, 0},
                                  {0, 10, 0}};
  struct Case {
    const char* name;
    std::vector<P3> a, b;
    double area2;
    int points;
  };
  const std::vector<Case> cases = {
      {"overlapping squares", rect(0, 0, 10, 10), rect(5, 5, 15, 15), 350.0, 8},
      {"opposite orientations", rect(0, 0, 10, 10), reversedRing(rect(5, 5, 15, 15)), -350.0, 8},
      {"a cross", rect(0, 4, 12, 8), rect(4, 0, 8, 12), 2 * 80.0, 12},
      {"sharing an edge stretch", rect(0, 0, 10, 10), rect(10, 2, 14, 6), 2 * 116.0, 8},
      // Starts at the crossing (6, 0), which thinning keeps as the first point.
      {"sharing an edge stretch, same way", rect(0, 0, 10, 10), rect(6, 0, 14, 4), 2 * 116.0, 7},
      {"through corners", rect(0, 0, 10, 10), {{10, 10, 0}, {-2, 10, 0}, {-2, 5, 0}, {0, 0, 0}}, 2 * 115.0, 5},
      {"C and bar", cShape, rect(8, 1, 12, 9), 2 * 116.0, 8},
      {"b inside a", rect(0, 0, 10, 10), rect(2, 2, 4, 4), 200.0, 4},
      {"a inside b", rect(2, 2, 4, 4), rect(0, 0, 10, 10), 200.0, 4},
      {"apart", rect(0, 0, 1, 1), rect(5, 5, 7, 7), 2.0, 4},
      {"b empty", rect(0, 0, 1, 1), {}, 2.0, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSSE3dPolygon p = polygonOf({{9, 9, 9}}), a = polygonOf(c.a), b = polygonOf(c.b);
    p.CreateMergePolygon(a, b);
    const std::vector<P3> got = pointsOf(p);
    EXPECT_DOUBLE_EQ(area2(got), c.area2);
    EXPECT_EQ(int(got.size()), c.points);
    for (const P3& q : got)
      EXPECT_LT(std::min(distanceToRing(c.a, q.x, q.y), c.b.empty() ? 1e9 : distanceToRing(c.b, q.x, q.y)), 1e-5);
  }
  // Star rings: the merged outline holds the union's area, measured on a grid.
  for (unsigned seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE(seed);
    std::vector<P3> a = starRing(40, seed, 20.0f), b = starRing(35, seed + 100, 18.0f);
    for (P3& q : b) q.x += 6.0f, q.y -= 3.0f;
    CSSE3dPolygon p, pa = polygonOf(a), pb = polygonOf(b);
    p.CreateMergePolygon(pa, pb);
    const std::vector<P3> got = pointsOf(p);
    const double expected = unionArea2(a, b, -30.0f, 30.0f, 0.2f);
    EXPECT_NEAR(area2(got), expected, 0.01 * expected);
    for (const P3& q : got) EXPECT_LT(std::min(distanceToRing(a, q.x, q.y), distanceToRing(b, q.x, q.y)), 1e-4);
  }
}
