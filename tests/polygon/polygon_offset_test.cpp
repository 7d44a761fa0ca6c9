#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "orvik/chain/PixelChain.h"
#include "orvik/matrix/ssematrix.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "support/polygons.h"

namespace {

using namespace testpolygons;

// Points every `step` along the closed outline of the square [lo, lo + side]^2,
// counter-clockwise; step = side gives the four corners.
std::vector<Pt> squareRing(float lo, float side, float step) {
  std::vector<Pt> v;
  const int m = static_cast<int>(std::lround(side / step));
  const float corners[4][2] = {{lo, lo}, {lo + side, lo}, {lo + side, lo + side}, {lo, lo + side}};
  for (int c = 0; c < 4; ++c)
    for (int i = 0; i < m; ++i) {
      const float t = float(i) / float(m);
      const float* a = corners[c];
      const float* b = corners[(c + 1) % 4];
      v.push_back({a[0] + t * (b[0] - a[0]), a[1] + t * (b[1] - a[1]), 0.0f});
    }
  return v;
}

// n points counter-clockwise on the curve R + wobble sin(lobes a) about (cx, cy).
std::vector<Pt> wobblyRing(int n, double cx, double cy, double radius, double wobble, int lobes) {
  std::vector<Pt> v;
  for (int i = 0; i < n; ++i) {
    const double a = 2 * M_PI * i / n, rr = radius + wobble * std::sin(lobes * a);
    v.push_back({float(cx + rr * std::cos(a)), float(cy + rr * std::sin(a)), float(i % 5)});
  }
  return v;
}

double maxEdge(const std::vector<Pt>& ring) {
  double m = 0;
  for (std::size_t i = 0; i < ring.size(); ++i) {
    const Pt &a = ring[i], &b = ring[(i + 1) % ring.size()];
    m = std::max(m, std::hypot(double(b.x) - a.x, double(b.y) - a.y));
  }
  return m;
}

// How far inside the offset distance a corner of the result may lie: it is
// outside every other k-gon, so outside every inscribed circle of radius
// r cos(pi / k), and the centres are at most r / 2 apart along the outline.
double depthBound(double r, int k) {
  const double rho = r * std::cos(M_PI / k);
  return r - std::sqrt(rho * rho - r * r / 16.0) + 1e-4 * r;
}

int directionCountFor(double r, const std::vector<Pt>& ring) {
  double len = 0;
  for (std::size_t i = 0; i < ring.size(); ++i) {
    const Pt &a = ring[i], &b = ring[(i + 1) % ring.size()];
    len += std::sqrt(double(b.x - a.x) * (b.x - a.x) + double(b.y - a.y) * (b.y - a.y) +
                     double(b.z - a.z) * (b.z - a.z));
  }
  return 8 * (1 + static_cast<int>(std::fabs(r) * 2 * M_PI / (len / ring.size()) / 8));
}

// The disc polygon of k directions of radius r, as the offsets build it.
CSSE3dPolygon discPolygon(float r, int k) {
  CSSE3dPolygon d;
  d.Create(k);
  for (int j = 0; j < k; ++j) {
    const float a = 2.0f * static_cast<float>(j) * 3.1415927f / static_cast<float>(k);
    d.SetPoint(j, r * std::cos(a), r * std::sin(a), 0.0f);
  }
  return d;
}

// Equal point for point, NaN included.
bool sameBits(const std::vector<Pt>& a, const std::vector<Pt>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Pt)) == 0);
}

std::vector<std::pair<float, float>> sortedXY(const std::vector<Pt>& v) {
  std::vector<std::pair<float, float>> s;
  for (const Pt& p : v) s.emplace_back(p.x, p.y);
  std::sort(s.begin(), s.end());
  return s;
}

}  // namespace

TEST(PolygonOffset, QuasiMinkowskiMovesAlongRaysFromTheCentre) {
  const std::vector<Pt> square = {{-2, -2, 0}, {2, -2, 0}, {2, 2, 0}, {-2, 2, 0}};
  const float s = 1.0f / std::sqrt(2.0f);
  CSSE3dPolygon p = polygonOf(square);
  p.DoQuasiMinkowskiDilation(1.0f, false);
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    float x, y, z;
    p.GetPoint(i, x, y, z);
    EXPECT_NEAR(x, square[i].x + (square[i].x > 0 ? s : -s), 1e-6);
    EXPECT_NEAR(y, square[i].y + (square[i].y > 0 ? s : -s), 1e-6);
  }
  p.DoQuasiMinkowskiErosion(1.0f, false);
  for (int i = 0; i < 4; ++i) {
    float x, y, z;
    p.GetPoint(i, x, y, z);
    EXPECT_NEAR(x, square[i].x, 1e-5);
    EXPECT_NEAR(y, square[i].y, 1e-5);
  }

  // The length is taken in 3D, the move in xy; z stays. A point on the
  // centre has no ray and stays where it is.
  CSSE3dPolygon q = polygonOf({{3, 0, 4}, {0, 0, 0}, {-1, 0, 0}});
  SSEPoint c(0, 0, 0);
  q.DoQuasiMinkowskiDilationCenter(5.0f, c);
  EXPECT_EQ(pointsOf(q), (Ring{{6, 0, 4}, {0, 0, 0}, {-6, 0, 0}}));

  // With the hull first: the inner point of the notch is gone, and the
  // corners move away from the centre of the original five points.
  CSSE3dPolygon notched = polygonOf({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {5, 2, 0}, {0, 10, 0}});
  notched.DoQuasiMinkowskiDilation(2.0f, true);
  ASSERT_EQ(notched.GetNumPoints(), 4);
  for (const Pt& v : pointsOf(notched)) {
    bool matched = false;
    for (const Pt& corner : std::vector<Pt>{{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}}) {
      const double ux = corner.x - 5.0, uy = corner.y - 4.4, len = std::hypot(ux, uy);
      matched = matched || (std::fabs(v.x - (corner.x + 2 * ux / len)) < 1e-4 &&
                            std::fabs(v.y - (corner.y + 2 * uy / len)) < 1e-4);
    }
    EXPECT_TRUE(matched) << v.x << " " << v.y;
  }
}

TEST(PolygonOffset, DirectionCount) {
  // Every corner of the result is a corner of a k-gon about one of the
  // (resampled) ring points: at distance r from it, at a multiple of 2 pi / k.
  // Some corner sits at an odd multiple, so the count is not k / 2.
  const std::vector<Pt> ring = squareRing(0, 8, 1);  // mean edge length 1
  struct Case {
    float r;
    int maxDirections, k;
  };
  for (const Case& c : {Case{1, 0, 8}, Case{2, 0, 16}, Case{2, 12, 12}, Case{-2, 0, 16}}) {
    SCOPED_TRACE(testing::Message() << "r " << c.r << " max " << c.maxDirections);
    ASSERT_TRUE(c.maxDirections > 0 || directionCountFor(c.r, ring) == c.k);
    CSSE3dPolygon p = polygonOf(ring);
    ASSERT_TRUE(p.DilateExact(c.r, c.maxDirections));
    const double r = std::fabs(c.r);
    bool odd = false;
    // The centres lie on the square's outline, half a unit apart at most.
    const std::vector<Pt> centres = squareRing(0, 8, 0.5f);
    for (const Pt& v : pointsOf(p)) {
      bool onCorner = false;
      for (const Pt& cp : centres) {
        const double dx = v.x - cp.x, dy = v.y - cp.y;
        const double j = std::atan2(dy, dx) / (2 * M_PI) * c.k;
        if (std::fabs(std::hypot(dx, dy) - r) > 1e-4 || std::fabs(j - std::round(j)) > 1e-3) continue;
        onCorner = true;
        odd = odd || (std::lround(j) % 2 != 0);
        break;
      }
      EXPECT_TRUE(onCorner) << v.x << " " << v.y;
    }
    EXPECT_TRUE(odd);
  }
}

TEST(PolygonOffset, SinglePointsAndDegenerateInput) {
  // A single point (or one point many times) has no edge length: without a
  // limit it becomes a 1,024-gon, with one a k-gon, at distance |r|.
  struct Case {
    const char* name;
    std::vector<Pt> in;
    float r;
    int maxDirections, count;
  };
  const std::vector<Case> cases = {
      {"one point", {{3, 4, 7}}, 2, 0, 1024},
      {"one point, limited", {{3, 4, 7}}, 2, 12, 12},
      {"one point, negative radius", {{3, 4, 7}}, -2, 12, 12},
      {"coincident points", {{3, 4, 7}, {3, 4, 7}, {3, 4, 7}}, 2, 0, 1024},
      {"fewer than three directions", {{3, 4, 7}}, 2, 1, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSSE3dPolygon p = polygonOf(c.in);
    ASSERT_TRUE(p.DilateExact(c.r, c.maxDirections));
    ASSERT_EQ(p.GetNumPoints(), c.count);
    for (const Pt& v : pointsOf(p)) {
      EXPECT_NEAR(std::hypot(v.x - 3.0, v.y - 4.0), std::fabs(c.r), 1e-5);
      EXPECT_EQ(v.z, 7.0f);
    }
    EXPECT_GT(area2(pointsOf(p)), 0.0);
  }

  // Calls that change nothing: a zero radius or an empty polygon (true), a
  // non-finite radius or coordinate, far too many corners, an erosion that
  // leaves nothing or has no inside to shrink (false).
  const std::vector<Pt> square = squareRing(0, 10, 10);
  struct Refused {
    const char* name;
    std::vector<Pt> in;
    float r;
    bool erode, result;
  };
  const std::vector<Refused> refused = {
      {"zero radius", square, 0, false, true},
      {"empty", {}, 3, false, true},
      {"empty erosion", {}, 3, true, true},
      {"NaN radius", square, NAN, false, false},
      {"infinite radius", square, INFINITY, true, false},
      {"NaN coordinate", {{0, 0, 0}, {NAN, 0, 0}, {0, 5, 0}}, 1, false, false},
      {"tiny radius on a long outline", square, 1e-7f, false, false},
      {"eroded away", square, 6, true, false},
      {"segment has no inside", {{0, 0, 0}, {10, 0, 0}}, 1, true, false},
  };
  for (const Refused& c : refused) {
    SCOPED_TRACE(c.name);
    CSSE3dPolygon p = polygonOf(c.in);
    EXPECT_EQ(c.erode ? p.ErodeExact(c.r, 0) : p.DilateExact(c.r, 0), c.result);
    EXPECT_TRUE(sameBits(pointsOf(p), c.in));
  }
}

TEST(PolygonOffset, ExactOffsetsOfSquaresAndCircles) {
  // Against the offset of the true outline: every corner of the result at
  // distance r (less at most the depth bound) from the original outline, on
  // the expected side, and the area between the analytic offsets by r and
  // by r less that depth. The result runs the way the input does.
  // The outlines are convex: grown by r their area is A + P r + pi r^2; the
  // regular ones (sides N, inradius rho) shrink to N (rho - r)^2 tan(pi / N).
  struct Case {
    const char* name;
    std::vector<Pt> ring;
    float r;
    bool erode;
    int sides;
    double inradius;
  };
  const double circleInradius = 30 * std::cos(M_PI / 400);
  const std::vector<Case> cases = {
      {"four-corner square", squareRing(5, 20, 20), 3, false, 4, 10},
      {"four-corner square, clockwise", reversed(squareRing(5, 20, 20)), 3, false, 4, 10},
      {"dense square", squareRing(5, 20, 0.5f), 3, false, 4, 10},
      {"circle", wobblyRing(400, 7, -3, 30, 0, 1), 2, false, 400, circleInradius},
      {"coarse circle, clockwise", reversed(wobblyRing(24, 7, -3, 30, 0, 1)), 4, false, 24, 0},
      {"segment", {{5, 5, 0}, {15, 5, 0}}, 2, false, 2, 0},
      {"four-corner square eroded", squareRing(5, 20, 20), 3, true, 4, 10},
      {"dense square eroded, clockwise", reversed(squareRing(5, 20, 0.5f)), 3, true, 4, 10},
      {"circle eroded", wobblyRing(400, 7, -3, 30, 0, 1), 5, true, 400, circleInradius},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSSE3dPolygon p = polygonOf(c.ring);
    const int k = directionCountFor(c.r, c.ring);
    ASSERT_TRUE(c.erode ? p.ErodeExact(c.r, 0) : p.DilateExact(c.r, 0));
    const std::vector<Pt> out = pointsOf(p);
    ASSERT_GE(out.size(), 3u);
    const double depth = depthBound(c.r, k);
    CSSE3dPolygon original = polygonOf(c.ring);
    for (const Pt& v : out) {
      const double d = distanceToRing(c.ring, v.x, v.y);
      EXPECT_LE(d, c.r + 1e-4) << v.x << " " << v.y;
      EXPECT_GE(d, c.r - depth) << v.x << " " << v.y;
      if (c.ring.size() >= 3) {
        EXPECT_EQ(original.PointStatusWithRespectToPolygon(SSEPoint(v.x, v.y, 0)),
                  c.erode ? CSSE3dPolygon::ePointInside : CSSE3dPolygon::ePointOutside);
      }
    }
    const double area = area2(out) / 2.0, sign = c.ring.size() >= 3 && area2(c.ring) < 0 ? -1.0 : 1.0;
    EXPECT_GT(area * sign, 0.0);
    double perimeter = 0;
    for (std::size_t i = 0; i < c.ring.size(); ++i) {
      const Pt &a = c.ring[i], &b = c.ring[(i + 1) % c.ring.size()];
      perimeter += std::hypot(double(b.x) - a.x, double(b.y) - a.y);
    }
    const auto analytic = [&](double r) {
      return c.erode ? c.sides * (c.inradius - r) * (c.inradius - r) * std::tan(M_PI / c.sides)
                     : std::fabs(area2(c.ring)) / 2 + perimeter * r + M_PI * r * r;
    };
    const double outer = analytic(c.r), inner = analytic(c.r - depth);
    EXPECT_LE(std::fabs(area), std::max(outer, inner) * (1 + 1e-6));
    EXPECT_GE(std::fabs(area), std::min(outer, inner) * (1 - 1e-6));
  }
}

TEST(PolygonOffset, CornersOfTheResultStaySharp) {
  // The inner corner of a grown L and the corners of a shrunk square lie
  // where the offset edges meet, not cut off by a chord.
  struct Case {
    const char* name;
    std::vector<Pt> ring;
    bool erode;
    float cx, cy;  // the corner, at r = 3 from both edges
  };
  const std::vector<Case> cases = {
      {"grown L", {{0, 0, 0}, {20, 0, 0}, {20, 10, 0}, {10, 10, 0}, {10, 20, 0}, {0, 20, 0}}, false, 13, 13},
      {"shrunk square", squareRing(5, 20, 20), true, 8, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSSE3dPolygon p = polygonOf(c.ring);
    ASSERT_TRUE(c.erode ? p.ErodeExact(3, 0) : p.DilateExact(3, 0));
    double nearest = INFINITY;
    for (const Pt& v : pointsOf(p))
      nearest = std::min(nearest, std::hypot(double(v.x) - c.cx, double(v.y) - c.cy));
    EXPECT_LT(nearest, depthBound(3, directionCountFor(3, c.ring)));
  }
}

TEST(PolygonOffset, ErosionThenDilationStaysInside) {
  // The opening of an outline with bays and capes lies inside it, up to the
  // depth by which the k-gons fall short of the disc.
  const float r = 3;
  for (const std::vector<Pt>& ring : {wobblyRing(300, 0, 0, 40, 10, 6), squareRing(-10, 30, 30)}) {
    CSSE3dPolygon p = polygonOf(ring);
    ASSERT_TRUE(p.ErodeExact(r, 0));
    ASSERT_TRUE(p.DilateExact(r, 0));
    CSSE3dPolygon original = polygonOf(ring);
    const double slack = 2 * depthBound(r, 16) + 1e-3;
    for (const Pt& v : pointsOf(p))
      EXPECT_TRUE(original.PointStatusWithRespectToPolygon(SSEPoint(v.x, v.y, 0)) !=
                      CSSE3dPolygon::ePointOutside ||
                  distanceToRing(ring, v.x, v.y) < slack)
          << v.x << " " << v.y;
    EXPECT_GT(std::fabs(area2(pointsOf(p))), 0.8 * std::fabs(area2(ring)));
  }
}

TEST(PolygonOffset, CornersLeftAreThoseNoOtherDiscOrTheAreaHolds) {
  // Every corner of every disc tested against every other disc and the ring
  // with the crossing test; on outlines without holes the corners left are
  // exactly the corners of the result.
  struct Case {
    const char* name;
    std::vector<Pt> ring;
    float r;
    int k;
    bool erode;
  };
  const std::vector<Case> cases = {
      {"wobbly ring", wobblyRing(400, 3, 2, 30, 6, 5), 3, 16, false},
      {"wobbly ring eroded", wobblyRing(400, 3, 2, 30, 6, 5), 3, 16, true},
      {"wide discs", wobblyRing(240, -50, 10, 25, 3, 3), 5, 24, false},
      {"integer square", squareRing(100, 30, 1), 2, 8, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_LE(maxEdge(c.ring), c.r / 2);  // no resampling: the discs sit on the ring's points
    CSSE3dPolygon original = polygonOf(c.ring);
    const CSSE3dPolygon disc = discPolygon(c.r, std::min(c.k, directionCountFor(c.r, c.ring)));
    std::vector<CSSE3dPolygon> discs;
    for (const Pt& p : c.ring) {
      discs.emplace_back(disc);
      discs.back().ShiftLine(p.x, p.y, p.z);
    }
    std::vector<Pt> left;
    for (std::size_t i = 0; i < discs.size(); ++i)
      for (const Pt& q : pointsOf(discs[i])) {
        bool covered = original.PointInLineInnerArea(q.x, q.y, 1) != c.erode;
        for (std::size_t o = 0; o < discs.size() && !covered; ++o)
          covered = o != i && discs[o].PointInLineInnerArea(q.x, q.y, 1);
        if (!covered) left.push_back(q);
      }
    CSSE3dPolygon p = polygonOf(c.ring);
    ASSERT_TRUE(c.erode ? p.ErodeExact(c.r, c.k) : p.DilateExact(c.r, c.k));
    // The result adds points where two discs' edges cross.
    std::vector<Pt> corners;
    for (const CSSE3dPolygon& d : discs)
      for (const Pt& q : pointsOf(d)) corners.push_back(q);
    const std::vector<std::pair<float, float>> all = sortedXY(corners);
    std::vector<Pt> out;
    for (const Pt& q : pointsOf(p))
      if (std::binary_search(all.begin(), all.end(), std::pair(q.x, q.y))) out.push_back(q);
    EXPECT_EQ(sortedXY(out), sortedXY(left));
  }
}

TEST(PolygonOffset, OffsetsThroughAMatrix) {
  // A square drawn, dilated or eroded and traced: one point per border pixel
  // (neighbours one step apart, the trace closing within two), z = 0, in the
  // square's own coordinates. The filled pixels lie inside the square, so a
  // grown outline stays within r of it and a shrunk one at least r inside;
  // each side moves by r, or by one pixel more (shrinking) or less (growing)
  // where the fill leaves the pixels on the outline out.
  struct Case {
    float r;
    bool erode;
  };
  const std::vector<Pt> square = squareRing(10.25f, 20, 20);
  for (const Case& c : {Case{3, false}, Case{6, false}, Case{3, true}, Case{5, true}}) {
    SCOPED_TRACE(testing::Message() << "r " << c.r << (c.erode ? " eroded" : ""));
    CSSE3dPolygon p = polygonOf(square);
    ASSERT_TRUE(c.erode ? p.ErodeWithMatrix(c.r) : p.DilateWithMatrix(c.r));
    const std::vector<Pt> out = pointsOf(p);
    ASSERT_GT(out.size(), 20u);
    CSSE3dPolygon original = polygonOf(square);
    for (std::size_t i = 0; i < out.size(); ++i) {
      const Pt &v = out[i], &w = out[(i + 1) % out.size()];
      EXPECT_EQ(v.z, 0.0f);
      EXPECT_LE(std::max(std::fabs(w.x - v.x), std::fabs(w.y - v.y)), i + 1 < out.size() ? 1.0f : 2.0f);
      const double d = distanceToRing(square, v.x, v.y);
      EXPECT_TRUE(c.erode ? d >= c.r - 1e-4 : d <= c.r + 1e-4) << v.x << " " << v.y << " at " << d;
      EXPECT_EQ(original.PointStatusWithRespectToPolygon(SSEPoint(v.x, v.y, 0)),
                c.erode ? CSSE3dPolygon::ePointInside : CSSE3dPolygon::ePointOutside);
    }
    p.CalcBoundingBox();
    const SSEPoint lo = p.GetBottomLeft(), hi = p.GetTopRight();
    for (const float moved : {10.25f - lo.x, 10.25f - lo.y, hi.x - 30.25f, hi.y - 30.25f}) {
      const float expected = c.erode ? -c.r : c.r;
      EXPECT_TRUE(moved == expected || moved == expected - 1) << moved;
    }
  }

  struct Refused {
    const char* name;
    std::vector<Pt> in;
    float r;
  };
  const std::vector<Refused> refused = {
      {"empty", {}, 3},
      {"NaN radius", square, NAN},
      {"absurd radius", square, 1e9f},
      {"infinite coordinate", {{0, 0, 0}, {INFINITY, 0, 0}, {0, 5, 0}}, 1},
      {"beyond the box's reach", {{0, 0, 0}, {3e6f, 0, 0}, {0, 5, 0}}, 1},
      {"a radius that leaves no scratch", square, -60},
  };
  for (const Refused& c : refused) {
    SCOPED_TRACE(c.name);
    CSSE3dPolygon p = polygonOf(c.in);
    EXPECT_FALSE(p.DilateWithMatrix(c.r));
    EXPECT_TRUE(sameBits(pointsOf(p), c.in));
  }
  CSSE3dPolygon small = polygonOf(square);
  EXPECT_FALSE(small.ErodeWithMatrix(15));  // nothing left to trace
  EXPECT_EQ(pointsOf(small), square);
}

TEST(PolygonOffset, InternalAreaDistanceTransform) {
  // Twenty points (five whole blocks) with heights; scale 0.5 in x and y, 2 in
  // z. The pixels within 20 of the value in the box widened by four become
  // the blend of the xy distance d and the 3D distance to (position, height).
  std::vector<Pt> ring = wobblyRing(20, 12, 10, 5, 0, 1);
  const float value = 3.0f;
  t_resolutiondata res;
  res[0] = 0.5f, res[1] = 0.5f, res[2] = 2.0f;
  CSSEMatrix heights, target;
  heights.Create(40, 30);
  target.Create(40, 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      heights.SetPoint(x, y, float((x + y) % 3));
      target.SetPoint(x, y, (x + 2 * y) % 9 == 0 ? 50.0f : value);
    }
  float minX = INFINITY, maxX = -INFINITY, minY = INFINITY, maxY = -INFINITY;
  for (const Pt& q : ring) minX = std::min(minX, q.x), maxX = std::max(maxX, q.x);
  for (const Pt& q : ring) minY = std::min(minY, q.y), maxY = std::max(maxY, q.y);
  const int x0 = std::max(int(minX) - 4, 0), x1 = std::min(int(maxX) + 4, 40);
  const int y0 = std::max(int(minY) - 4, 0), y1 = std::min(int(maxY) + 4, 30);
  for (const bool sharp : {true, false}) {
    SCOPED_TRACE(sharp);
    CSSEMatrix t(target);
    CSSE3dPolygon p = polygonOf(ring);
    p.InternalAreaDistanceTransform(value, &heights, &t, res, sharp);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) {
        const bool region = x >= x0 && x < x1 && y >= y0 && y < y1;
        if (!region || target.GetPoint(x, y) != value) {
          EXPECT_EQ(t.GetPoint(x, y), target.GetPoint(x, y)) << x << " " << y;
          continue;
        }
        const double px = x * 0.5, py = y * 0.5, h = heights.GetPoint(x, y);
        double d = INFINITY, e = INFINITY;
        for (const Pt& q : ring) {
          const double dxy = std::hypot(q.x * 0.5 - px, q.y * 0.5 - py);
          d = std::min(d, dxy);
          e = std::min(e, std::fabs(h) <= 0.001 ? dxy : std::hypot(dxy, q.z * 2.0 - h));
        }
        const double tt = std::min(sharp ? 2 * d : d / 2, 1.0);
        EXPECT_NEAR(t.GetPoint(x, y), d <= 0.35 ? d : (1 - tt) * d + tt * e, 1e-4) << x << " " << y;
      }
  }

  // A scale that is zero, negative or NaN is refused: nothing changes.
  for (const float bad : {0.0f, -1.0f, NAN}) {
    for (int a = 0; a < 3; ++a) {
      SCOPED_TRACE(testing::Message() << bad << " on axis " << a);
      t_resolutiondata r = res;
      r[a] = bad;
      CSSEMatrix t(target);
      CSSE3dPolygon p = polygonOf(ring);
      t_resolutiondata unit;
      p.NormalizeXYZ(unit);
      p.InternalAreaDistanceTransform(value, &heights, &t, r, true);
      for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) ASSERT_EQ(t.GetPoint(x, y), target.GetPoint(x, y));
      float nx = 0, ny = 0, nz = 0;
      p.GetPointNormalized(1, nx, ny, nz);
      EXPECT_EQ(nx, ring[1].x);
    }
  }
}

TEST(PolygonOffset, OffsetsThroughAMatrixAsOnAHeightField) {
  // Outlines too large for the per-pixel fill, including one whose lobes
  // nearly meet and one along its own box, grown and shrunk by discs of
  // every small size: the same steps done on a height field (the outline
  // filled into a matrix of its box plus the margin, grown or shrunk there,
  // its first pixel column by column traced back) give the same points.
  struct Case {
    const char* name;
    std::vector<Pt> ring;
  };
  const std::vector<Case> cases = {{"wobbly", wobblyRing(700, 40.3, -12.7, 70, 9, 7)},
                                   {"lobes nearly meeting", wobblyRing(900, -3.6, 8.2, 40, 39.2, 3)},
                                   {"square", squareRing(10.25f, 80, 0.5f)}};
  for (const Case& c : cases)
    for (const float r : {0.0f, 0.5f, 1.0f, 2.5f, 3.0f, 4.2f, 6.99f})
      for (const bool grow : {true, false}) {
        SCOPED_TRACE(testing::Message() << c.name << " r " << r << (grow ? " grown" : " shrunk"));
        CSSE3dPolygon copy = polygonOf(c.ring);
        float minX, minY, minZ, maxX, maxY, maxZ;
        copy.GetBoundingBox3D(minX, minY, minZ, maxX, maxY, maxZ);
        const double margin = grow ? 2.0 * (double(r) + 25.0) : 40.0;
        const int W = int(double(maxX) - minX + margin), H = int(double(maxY) - minY + margin);
        const float sx = (float(W) - (minX + maxX)) / 2.0f, sy = (float(H) - (minY + maxY)) / 2.0f;
        copy.ShiftLine(sx, sy, 0.0f);
        copy.ReParametrize(1.0f);
        CSSEMatrix m;
        m.Create(W, H);
        copy.DrawInMatrixAndFillFine(1.0f, &m, true, false, -999999.875f, 999999.875f, true, false);
        if (grow)
          m.Dilate(r, 0.0f, 1.0f, 0, 2147483647, 0, 2147483647, true, 2147483647);
        else
          m.Erode(r, 0.0f, 1.0f, 0, 2147483647, 0, 2147483647, true, 2147483647);
        int x = 0, y = 0;
        m.FindFirstPoint(x, y, 0.5f, true);
        ASSERT_GT(m.GetPoint(x, y), 0.5f);
        CPixelChain chain;
        chain.CreatePixelChain(&m, 0.5f, x, y, 1000000, true, false, 20);
        CSSE3dPolygon traced(chain, 1);
        traced.ShiftLine(-sx, -sy, 0.0f);

        CSSE3dPolygon p = polygonOf(c.ring);
        ASSERT_TRUE(grow ? p.DilateWithMatrix(r) : p.ErodeWithMatrix(r));
        EXPECT_TRUE(sameBits(pointsOf(p), pointsOf(traced)));
      }
}
