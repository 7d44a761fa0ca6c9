#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>
#include <vector>

#include "orvik/chain/PixelChain.h"
#include "orvik/matrix/ssematrix.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "support/polygons.h"

namespace {

using namespace testpolygons;

// Points every `step` along the closed outline of the square [lo, lo + side]^2, counter-clockwise; step =
// side gives the four corners.
Ring squareRing(float lo, float side, float step) {
  const Ring c = rect(lo, lo, lo + side, lo + side);
  const int m = static_cast<int>(std::lround(side / step));
  Ring v;
  for (int i = 0; i < 4 * m; ++i) {
    const Pt &a = c[i / m], &b = c[(i / m + 1) % 4];
    const float t = float(i % m) / float(m);
    v.push_back({a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)});
  }
  return v;
}

// n points counter-clockwise on the curve R + wobble sin(lobes a) about (cx, cy).
Ring wobblyRing(int n, double cx, double cy, double radius, double wobble, int lobes) {
  Ring v;
  for (int i = 0; i < n; ++i) {
    const double a = 2 * M_PI * i / n, rr = radius + wobble * std::sin(lobes * a);
    v.push_back({float(cx + rr * std::cos(a)), float(cy + rr * std::sin(a)), float(i % 5)});
  }
  return v;
}

// The directions used without a limit: 8 (1 + trunc(2 pi r / mean 3D edge / 8)).
int directionCountFor(double r, const Ring& ring) {
  double len = 0;
  for (std::size_t i = 0; i < ring.size(); ++i) {
    const Pt &a = ring[i], &b = ring[(i + 1) % ring.size()];
    len += std::sqrt(double(b.x - a.x) * (b.x - a.x) + double(b.y - a.y) * (b.y - a.y) +
                     double(b.z - a.z) * (b.z - a.z));
  }
  return 8 * (1 + static_cast<int>(std::fabs(r) * 2 * M_PI / (len / ring.size()) / 8));
}

// How far inside r a corner of the result may lie: it is outside the inscribed circles (r cos(pi / k)) of
// discs whose centres are at most r / 2 apart.
double depthBound(double r, int k) {
  const double rho = r * std::cos(M_PI / k);
  return r - std::sqrt(rho * rho - r * r / 16.0) + 1e-4 * r;
}

bool offset(CSSE3dPolygon& p, float r, bool erode, int maxDirections = 0) {
  return erode ? p.ErodeExact(r, maxDirections) : p.DilateExact(r, maxDirections);
}

std::vector<std::pair<float, float>> sortedXY(const Ring& v) {
  std::vector<std::pair<float, float>> s;
  for (const Pt& p : v) s.emplace_back(p.x, p.y);
  std::sort(s.begin(), s.end());
  return s;
}

}  // namespace

TEST(PolygonOffset, QuasiMinkowskiMovesAlongRaysFromTheCentre) {
  // The corners of a square centred on the origin move diagonally by r, and back.
  const Ring square = rect(-2, -2, 2, 2);
  const float s = 1.0f / std::sqrt(2.0f);
  Ring moved = square;
  for (Pt& v : moved) v = {v.x + std::copysign(s, v.x), v.y + std::copysign(s, v.y)};
  CSSE3dPolygon p = polygonOf(square);
  p.DoQuasiMinkowskiDilation(1.0f, false);
  EXPECT_LT(maxDistance(pointsOf(p), moved), 1e-6);
  p.DoQuasiMinkowskiErosion(1.0f, false);
  EXPECT_LT(maxDistance(pointsOf(p), square), 1e-5);

  // The length is taken in 3D, the move in xy; a point on the centre has no ray and stays.
  SSEPoint c(0, 0, 0);
  EXPECT_EQ(after({{3, 0, 4}, {0, 0, 0}, {-1, 0, 0}},
                  [&](CSSE3dPolygon& q) { q.DoQuasiMinkowskiDilationCenter(5, c); }),
            (Ring{{6, 0, 4}, {0, 0, 0}, {-6, 0, 0}}));

  // With the hull first the notch is gone; the corners move away from the five points' centre.
  const Ring hull = after({{0, 0}, {10, 0}, {10, 10}, {5, 2}, {0, 10}},
                          [](CSSE3dPolygon& q) { q.DoQuasiMinkowskiDilation(2.0f, true); });
  ASSERT_EQ(hull.size(), 4u);
  for (const Pt& v : hull) {
    const Pt corner{std::round(v.x / 10) * 10, std::round(v.y / 10) * 10};
    const double ux = corner.x - 5.0, uy = corner.y - 4.4, len = std::hypot(ux, uy);
    EXPECT_LT(std::hypot(v.x - (corner.x + 2 * ux / len), v.y - (corner.y + 2 * uy / len)), 1e-4) << v;
  }
}

TEST(PolygonOffset, DirectionsAndDegenerateInput) {
  // Every corner of the result is a corner of a k-gon about a (resampled) ring point; some sit at an odd
  // multiple of 2 pi / k, so the count is not k / 2.
  const Ring ring = squareRing(0, 8, 1), centres = squareRing(0, 8, 0.5f);
  for (const auto& [r, maxDirections, k] :
       {std::tuple{1.0f, 0, 8}, {2.0f, 0, 16}, {2.0f, 12, 12}, {-2.0f, 0, 16}}) {
    SCOPED_TRACE(testing::Message() << "r " << r << " max " << maxDirections);
    ASSERT_TRUE(maxDirections > 0 || directionCountFor(r, ring) == k);
    CSSE3dPolygon p = polygonOf(ring);
    ASSERT_TRUE(p.DilateExact(r, maxDirections));
    bool odd = false;
    for (const Pt& v : pointsOf(p)) {
      bool onCorner = false;
      for (const Pt& cp : centres) {
        const double dx = v.x - cp.x, dy = v.y - cp.y, j = std::atan2(dy, dx) / (2 * M_PI) * k;
        if (std::fabs(std::hypot(dx, dy) - std::fabs(r)) > 1e-4 || std::fabs(j - std::round(j)) > 1e-3)
          continue;
        onCorner = true;
        odd = odd || std::lround(j) % 2 != 0;
        break;
      }
      EXPECT_TRUE(onCorner) << v;
    }
    EXPECT_TRUE(odd);
  }

  // A single point has no edge length: a 1,024-gon, or a k-gon (three at least) with a limit.
  for (const auto& [in, r, maxDirections, count] : {std::tuple{Ring{{3, 4, 7}}, 2.0f, 0, 1024},
                                                    {Ring{{3, 4, 7}}, 2.0f, 12, 12},
                                                    {Ring{{3, 4, 7}}, -2.0f, 12, 12},
                                                    {Ring(3, Pt{3, 4, 7}), 2.0f, 0, 1024},
                                                    {Ring{{3, 4, 7}}, 2.0f, 1, 3}}) {
    SCOPED_TRACE(testing::Message() << in.size() << " points, r " << r << ", max " << maxDirections);
    const Ring out = after(in, [&](CSSE3dPolygon& p) { ASSERT_TRUE(p.DilateExact(r, maxDirections)); });
    ASSERT_EQ(int(out.size()), count);
    for (const Pt& v : out) {
      EXPECT_NEAR(std::hypot(v.x - 3.0, v.y - 4.0), std::fabs(r), 1e-5);
      EXPECT_EQ(v.z, 7.0f);
    }
    EXPECT_GT(area2(out), 0.0);
  }

  // Calls that change nothing, returning true (nothing to do) or false (refused).
  const Ring square = squareRing(0, 10, 10);
  for (const auto& [name, in, r, erode, result] :
       std::vector<std::tuple<const char*, Ring, float, bool, bool>>{
           {"zero radius", square, 0, false, true},
           {"empty", {}, 3, false, true},
           {"empty erosion", {}, 3, true, true},
           {"NaN radius", square, NAN, false, false},
           {"infinite radius", square, INFINITY, true, false},
           {"NaN coordinate", {{0, 0, 0}, {NAN, 0, 0}, {0, 5, 0}}, 1, false, false},
           {"tiny radius on a long outline", square, 1e-7f, false, false},
           {"eroded away", square, 6, true, false},
           {"segment has no inside", {{0, 0, 0}, {10, 0, 0}}, 1, true, false}}) {
    SCOPED_TRACE(name);
    CSSE3dPolygon p = polygonOf(in);
    EXPECT_EQ(offset(p, r, erode), result);
    EXPECT_TRUE(sameBits(pointsOf(p), in));
  }
}

TEST(PolygonOffset, ExactOffsetsOfSquaresAndCircles) {
  // Corners at distance r less at most the depth bound from the outline, on the expected side; the area
  // between the analytic offsets by r and by r - depth (convex: grown A + P r + pi r^2, regular N-gons shrunk
  // N (rho - r)^2 tan(pi / N)), running the input's way.
  const double circleInradius = 30 * std::cos(M_PI / 400);
  const std::vector<std::tuple<const char*, Ring, float, bool, int, double>> cases = {
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
  for (const auto& [name, ring, r, erode, sides, inradius] : cases) {
    SCOPED_TRACE(name);
    CSSE3dPolygon p = polygonOf(ring), original = polygonOf(ring);
    ASSERT_TRUE(offset(p, r, erode));
    const Ring out = pointsOf(p);
    ASSERT_GE(out.size(), 3u);
    const double depth = depthBound(r, directionCountFor(r, ring));
    for (const Pt& v : out) {
      const double d = distanceToRing(ring, v.x, v.y);
      EXPECT_TRUE(d <= r + 1e-4 && d >= r - depth) << v << " at " << d;
      if (ring.size() >= 3) {
        EXPECT_EQ(original.PointStatusWithRespectToPolygon(SSEPoint(v.x, v.y, 0)),
                  erode ? CSSE3dPolygon::ePointInside : CSSE3dPolygon::ePointOutside);
      }
    }
    const double area = area2(out) / 2.0, sign = ring.size() >= 3 && area2(ring) < 0 ? -1.0 : 1.0;
    EXPECT_GT(area * sign, 0.0);
    double perimeter = 0;
    for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++)
      perimeter += std::hypot(double(ring[i].x) - ring[j].x, double(ring[i].y) - ring[j].y);
    const auto analytic = [&](double s) {
      return erode ? sides * (inradius - s) * (inradius - s) * std::tan(M_PI / sides)
                   : std::fabs(area2(ring)) / 2 + perimeter * s + M_PI * s * s;
    };
    const double outer = analytic(r), inner = analytic(r - depth);
    EXPECT_LE(std::fabs(area), std::max(outer, inner) * (1 + 1e-6));
    EXPECT_GE(std::fabs(area), std::min(outer, inner) * (1 - 1e-6));
  }

  // The inner corner of a grown L and the corners of a shrunk square lie where the offset edges meet (3 from
  // both edges), not cut off by a chord.
  for (const auto& [ring, erode, corner] :
       {std::tuple{Ring{{0, 0}, {20, 0}, {20, 10}, {10, 10}, {10, 20}, {0, 20}}, false, Pt{13, 13}},
        {squareRing(5, 20, 20), true, Pt{8, 8}}}) {
    const Ring out = after(ring, [&, e = erode](CSSE3dPolygon& p) { ASSERT_TRUE(offset(p, 3, e)); });
    double nearest = INFINITY;
    for (const Pt& v : out)
      nearest = std::min(nearest, std::hypot(double(v.x) - corner.x, double(v.y) - corner.y));
    EXPECT_LT(nearest, depthBound(3, directionCountFor(3, ring))) << corner;
  }
}

TEST(PolygonOffset, CornersLeftAreThoseNoOtherDiscOrTheAreaHolds) {
  // The disc corners that no other disc and not the area holds are exactly the result's disc corners (edges
  // below r / 2: the discs sit on the ring's own points).
  for (const auto& [name, ring, r, maxDirections, erode] :
       {std::tuple{"wobbly ring", wobblyRing(400, 3, 2, 30, 6, 5), 3.0f, 16, false},
        {"wobbly ring eroded", wobblyRing(400, 3, 2, 30, 6, 5), 3.0f, 16, true},
        {"wide discs", wobblyRing(240, -50, 10, 25, 3, 3), 5.0f, 24, false},
        {"integer square", squareRing(100, 30, 1), 2.0f, 8, false}}) {
    SCOPED_TRACE(name);
    CSSE3dPolygon original = polygonOf(ring), disc;
    // The disc polygon of k directions as the offsets build it.
    const int k = std::min(maxDirections, directionCountFor(r, ring));
    disc.Create(k);
    for (int j = 0; j < k; ++j) {
      const float a = 2.0f * static_cast<float>(j) * 3.1415927f / static_cast<float>(k);
      disc.SetPoint(j, r * std::cos(a), r * std::sin(a), 0.0f);
    }
    std::vector<CSSE3dPolygon> discs;
    Ring corners, left, out;
    for (const Pt& p : ring) {
      discs.emplace_back(disc);
      discs.back().ShiftLine(p.x, p.y, p.z);
    }
    for (std::size_t i = 0; i < discs.size(); ++i)
      for (const Pt& q : pointsOf(discs[i])) {
        bool covered = original.PointInLineInnerArea(q.x, q.y, 1) != erode;
        for (std::size_t o = 0; o < discs.size() && !covered; ++o)
          covered = o != i && discs[o].PointInLineInnerArea(q.x, q.y, 1);
        if (!covered) left.push_back(q);
        corners.push_back(q);
      }
    // The result adds points where two discs' edges cross.
    const std::vector<std::pair<float, float>> all = sortedXY(corners);
    for (const Pt& q :
         after(ring, [&](CSSE3dPolygon& p) { ASSERT_TRUE(offset(p, r, erode, maxDirections)); }))
      if (std::binary_search(all.begin(), all.end(), std::pair(q.x, q.y))) out.push_back(q);
    EXPECT_EQ(sortedXY(out), sortedXY(left));
  }
}

TEST(PolygonOffset, OffsetsThroughAMatrix) {
  // One point per border pixel, z = 0, in the square's coordinates, within r of it (grown) or at least r
  // inside; each side moves by r, or one pixel less where the fill leaves the pixels on the outline out.
  const Ring square = squareRing(10.25f, 20, 20);
  CSSE3dPolygon original = polygonOf(square);
  for (const auto& [r, erode] :
       {std::pair{3.0f, false}, {6.0f, false}, {8.0f, false}, {3.0f, true}, {5.0f, true}}) {
    SCOPED_TRACE(testing::Message() << "r " << r << (erode ? " eroded" : ""));
    CSSE3dPolygon p = polygonOf(square);
    ASSERT_TRUE(erode ? p.ErodeWithMatrix(r) : p.DilateWithMatrix(r));
    const Ring out = pointsOf(p);
    ASSERT_GT(out.size(), 20u);
    for (std::size_t i = 0; i < out.size(); ++i) {
      const Pt &v = out[i], &w = out[(i + 1) % out.size()];
      EXPECT_EQ(v.z, 0.0f);
      EXPECT_LE(std::max(std::fabs(w.x - v.x), std::fabs(w.y - v.y)), i + 1 < out.size() ? 1.0f : 2.0f);
      const double d = distanceToRing(square, v.x, v.y);
      EXPECT_TRUE(erode ? d >= r - 1e-4 : d <= r + 1e-4) << v << " at " << d;
      EXPECT_EQ(original.PointStatusWithRespectToPolygon(SSEPoint(v.x, v.y, 0)),
                erode ? CSSE3dPolygon::ePointInside : CSSE3dPolygon::ePointOutside);
    }
    p.CalcBoundingBox();
    const SSEPoint lo = p.GetBottomLeft(), hi = p.GetTopRight();
    for (const float moved : {10.25f - lo.x, 10.25f - lo.y, hi.x - 30.25f, hi.y - 30.25f})
      EXPECT_TRUE(moved == (erode ? -r : r) || moved == (erode ? -r : r) - 1) << moved;
  }

  // Refused, nothing changed: no points, bad radius or coordinate, box beyond reach, nothing left, an
  // outline longer than a pixel chain holds (40 teeth 1 600 long) through bytes and through a height field.
  const Ring longComb = after(comb(40, 80), [](CSSE3dPolygon& p) { p.BlowLine(20, 20, 1, false); });
  for (const auto& [in, r, erode] : {std::tuple{Ring{}, 3.0f, false},
                                     {longComb, 3.0f, false},
                                     {longComb, 3.0f, true},
                                     {longComb, 7.0f, true},
                                     {square, NAN, false},
                                     {square, 1e9f, false},
                                     {Ring{{0, 0, 0}, {INFINITY, 0, 0}, {0, 5, 0}}, 1.0f, false},
                                     {Ring{{0, 0, 0}, {3e6f, 0, 0}, {0, 5, 0}}, 1.0f, false},
                                     {square, -60.0f, false},
                                     {square, 15.0f, true}}) {
    SCOPED_TRACE(testing::Message() << in.size() << " points, r " << r);
    CSSE3dPolygon p = polygonOf(in);
    EXPECT_FALSE(erode ? p.ErodeWithMatrix(r) : p.DilateWithMatrix(r));
    EXPECT_TRUE(sameBits(pointsOf(p), in));
  }
}

TEST(PolygonOffset, InternalAreaDistanceTransform) {
  // Pixels within 20 of the value in the box widened by four become the blend of the xy distance d and the 3D
  // distance to (position, height).
  const Ring ring = wobblyRing(20, 12, 10, 5, 0, 1);
  const float value = 3.0f;
  t_resolutiondata res{{0.5f, 0.5f, 2.0f}};
  CSSEMatrix heights, target;
  heights.Create(40, 30);
  target.Create(40, 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      heights.SetPoint(x, y, float((x + y) % 3));
      target.SetPoint(x, y, (x + 2 * y) % 9 == 0 ? 50.0f : value);
    }
  float minX, minY, minZ, maxX, maxY, maxZ;
  polygonOf(ring).GetBoundingBox3D(minX, minY, minZ, maxX, maxY, maxZ);
  for (const bool sharp : {true, false}) {
    SCOPED_TRACE(sharp);
    CSSEMatrix t(target);
    polygonOf(ring).InternalAreaDistanceTransform(value, &heights, &t, res, sharp);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) {
        const bool region =
            x >= int(minX) - 4 && x < int(maxX) + 4 && y >= int(minY) - 4 && y < int(maxY) + 4;
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

  // A scale that is zero, negative or NaN is refused: not even the normalized points change.
  for (const float bad : {0.0f, -1.0f, NAN})
    for (int a = 0; a < 3; ++a) {
      SCOPED_TRACE(testing::Message() << bad << " on axis " << a);
      t_resolutiondata r = res, unit;
      r[a] = bad;
      CSSEMatrix t(target);
      CSSE3dPolygon p = polygonOf(ring);
      p.NormalizeXYZ(unit);
      p.InternalAreaDistanceTransform(value, &heights, &t, r, true);
      for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) ASSERT_EQ(t.GetPoint(x, y), target.GetPoint(x, y));
      float nx = 0, ny = 0, nz = 0;
      p.GetPointNormalized(1, nx, ny, nz);
      EXPECT_EQ(nx, ring[1].x);
    }
}

TEST(PolygonOffset, OffsetsThroughAMatrixAsOnAHeightField) {
  // Outlines too large for the per-pixel fill, including one whose lobes nearly meet and one along its own
  // box, grown and shrunk by discs of every small size: the same steps done on a height field (the outline
  // filled into a matrix of its box plus the margin, grown or shrunk there, its first pixel column by column
  // traced back) give the same points.
  for (const auto& [name, ring] : {std::pair{"wobbly", wobblyRing(700, 40.3, -12.7, 70, 9, 7)},
                                   {"lobes nearly meeting", wobblyRing(900, -3.6, 8.2, 40, 39.2, 3)},
                                   {"square", squareRing(10.25f, 80, 0.5f)}})
    for (const float r : {0.0f, 0.5f, 1.0f, 2.5f, 3.0f, 4.2f, 6.99f})
      for (const bool grow : {true, false}) {
        SCOPED_TRACE(testing::Message() << name << " r " << r << (grow ? " grown" : " shrunk"));
        CSSE3dPolygon copy = polygonOf(ring);
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

        CSSE3dPolygon p = polygonOf(ring);
        ASSERT_TRUE(grow ? p.DilateWithMatrix(r) : p.ErodeWithMatrix(r));
        EXPECT_TRUE(sameBits(pointsOf(p), pointsOf(traced)));
      }
}
