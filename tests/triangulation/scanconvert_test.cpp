#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "mesh_helpers.h"
#include "orvik/matrix/ssematrix.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "support/lanes.h"

using namespace mesh_test;

namespace {

void build(CHTriangulation& mesh, const std::vector<Tri>& tris, float res = 1.0f) {
  fill(mesh, tris);
  mesh.CalcBoundingBox();
  mesh.SetScanConvResolution(res, res, 1.0f);
}

// Axis-parallel rectangle [x0, x0 + w] x [y0, y0 + h] at height z as two right
// triangles whose corner 0 sits on opposite corners, legs along the axes.
void rectangle(std::vector<Tri>& tris, float x0, float y0, float w, float h, float z) {
  const SSEPoint a(x0, y0, z), b(x0 + w, y0, z), c(x0, y0 + h, z), d(x0 + w, y0 + h, z);
  tris.push_back({a, b, c});
  tris.push_back({d, c, b});
}

float segmentDistance(float px, float py, const SSEPoint& a, const SSEPoint& b) {
  const float dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
  const float t = len2 > 0 ? std::clamp(((px - a.x) * dx + (py - a.y) * dy) / len2, 0.0f, 1.0f) : 0.0f;
  return std::hypot(px - a.x - t * dx, py - a.y - t * dy);
}

bool inside(float px, float py, const Tri& t) {
  auto side = [&](const SSEPoint& a, const SSEPoint& b) { return (b.x - a.x) * (py - a.y) - (b.y - a.y) * (px - a.x); };
  const float s0 = side(t[0], t[1]), s1 = side(t[1], t[2]), s2 = side(t[2], t[0]);
  return (s0 > 0 && s1 > 0 && s2 > 0) || (s0 < 0 && s1 < 0 && s2 < 0);
}

// Random corners in [0, 40]^2 with heights in [-3, 3]; now and then a blank
// triangle (all corners equal) or a sliver.
std::vector<Tri> randomTriangles(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(0.0f, 40.0f), z(-3.0f, 3.0f);
  std::vector<Tri> tris;
  for (int i = 0; i < n; ++i) {
    const SSEPoint a(u(rng), u(rng), z(rng));
    if (rng() % 11 == 0) {
      tris.push_back({a, a, a});
      continue;
    }
    const SSEPoint b(u(rng), u(rng), z(rng));
    const SSEPoint c = rng() % 7 ? SSEPoint(u(rng), u(rng), z(rng)) : SSEPoint(b.x + 0.01f, b.y, b.z);
    tris.push_back({a, b, c});
  }
  return tris;
}

}  // namespace

TEST(ScanConversion, SingleTriangleKnownImage) {
  CHTriangulation mesh;
  build(mesh, {{SSEPoint(0, 0, 1), SSEPoint(10, 0, 1), SSEPoint(0, 10, 1)}});
  for (float offset : {0.0f, 2.0f}) {
    SCOPED_TRACE(offset);
    CSSEMatrix image;
    mesh.ScanConvertTriangulationMax(&image, offset);
    ASSERT_EQ(image.GetSizeX(), 10);
    ASSERT_EQ(image.GetSizeY(), 10);
    // Samples lie a pixel diagonal apart along both legs, at columns and rows
    // 0, 1, 3, 4, 6, 7, 8 (10 a rounded): a pixel whose column and row both
    // miss that set is no cross's neighbour and stays a hole.
    const auto sampled = [](int v) { return v != 2 && v != 5; };
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x) {
        if (x >= 1 && y >= 1 && x + y <= 7) {
          const bool hole = !sampled(x) && !sampled(y);
          EXPECT_EQ(image.GetPoint(x, y), hole ? 0.0f : offset) << x << "," << y;
        }
        if (x + y >= 13) {
          EXPECT_EQ(image.GetPoint(x, y), 0.0f) << x << "," << y;
        }
      }
  }
}

// Overlapping level rectangles: every pixel whose centre lies at least two
// pixels from all edges holds the highest (lowest) covering height relative
// to the mesh minimum plus the offset, or 0 where nothing covers it.
TEST(ScanConversion, OverlappingPlanesGiveTheirEnvelopes) {
  struct Case {
    unsigned seed;
    float res;
    float offset;
  };
  for (const Case c : {Case{1, 1.0f, 0.0f}, Case{2, 0.5f, 3.0f}, Case{3, 2.0f, -1.5f}, Case{4, 1.0f, 7.0f}}) {
    SCOPED_TRACE(c.seed);
    std::mt19937 rng(c.seed);
    std::uniform_real_distribution<float> pos(0.0f, 30.0f * c.res), size(6.0f * c.res, 14.0f * c.res), z(-4.0f, 9.0f);
    std::vector<Tri> tris;
    for (int r = 0; r < 6; ++r) {
      // Aspect 2:1 in either direction: the samples then lie at most one
      // pixel apart across the shorter leg, so the cross closes every gap.
      const float s = size(rng);
      const bool tall = rng() & 1;
      rectangle(tris, pos(rng), pos(rng), tall ? s : 2 * s, tall ? 2 * s : s, std::round(z(rng) * 4) / 4);
    }
    CHTriangulation mesh;
    build(mesh, tris, c.res);
    SSEPoint lo;
    mesh.GetMinPoint(lo);
    for (bool max : {true, false}) {
      SCOPED_TRACE(max ? "upper" : "lower");
      CSSEMatrix image;
      if (max)
        mesh.ScanConvertTriangulationMax(&image, c.offset);
      else
        mesh.ScanConvertTriangulationMin(&image, c.offset, 1.0f);
      int checked = 0;
      for (int y = 0; y < image.GetSizeY(); ++y)
        for (int x = 0; x < image.GetSizeX(); ++x) {
          const float wx = lo.x + x * c.res, wy = lo.y + y * c.res;
          bool clear = true, covered = false;
          float expected = max ? -1e9f : 1e9f;
          for (const Tri& t : tris) {
            for (int k = 0; k < 3; ++k) clear &= segmentDistance(wx, wy, t[k], t[(k + 1) % 3]) >= 2.0f * c.res;
            if (inside(wx, wy, t)) {
              covered = true;
              expected = max ? std::max(expected, t[0].z - lo.z + c.offset) : std::min(expected, t[0].z - lo.z + c.offset);
            }
          }
          if (!clear) continue;
          ++checked;
          ASSERT_EQ(image.GetPoint(x, y), covered ? expected : 0.0f) << x << "," << y;
        }
      EXPECT_GT(checked, image.GetSizeX() * image.GetSizeY() / 8);
    }
  }
}

TEST(ScanConversion, ThreadedRenderEqualsTheSequentialOne) {
  for (int n = 1; n <= 101; ++n) {
    SCOPED_TRACE(n);
    CHTriangulation mesh;
    build(mesh, randomTriangles(n, 100 + n), n % 3 ? 1.0f : 0.7f);
    for (bool max : {true, false}) {
      CSSEMatrix serial, threaded;
      if (max)
        mesh.ScanConvertTriangulationMax(&serial, 0.25f);
      else
        mesh.ScanConvertTriangulationMin(&serial, 0.25f, 1.0f);
      mesh.FastScanConvertTriangulation(&threaded, 0.25f, max);
      ASSERT_TRUE(sameLanes(serial, threaded)) << (max ? "max" : "min");
    }
    // A box of the caller's that is larger than the mesh.
    SSEPoint lo(-5, -3, -10), hi(47, 44, 10);
    CSSEMatrix serial, threaded;
    mesh.ScanConvertTriangulationMin_MinMaxPoint(&serial, 1.0f, lo, hi);
    mesh.FastScanConvertTriangulation_MinMaxPoint(&threaded, 1.0f, lo, hi, false);
    ASSERT_TRUE(sameLanes(serial, threaded)) << "box";
  }
}

// A flat height field as a mesh of its samples (two triangles per cell, corner
// 0 on the cell's first sample) renders back as the same level, one column and
// one row fewer, with no hole; only the four corner pixels, which are no
// cross's neighbour, stay empty.
TEST(ScanConversion, FlatFieldRoundTripIsExact) {
  const int w = 37, h = 29;
  const float level = 4.5f;
  std::vector<Tri> tris;
  for (int y = 0; y + 1 < h; ++y)
    for (int x = 0; x + 1 < w; ++x) {
      const SSEPoint a(x, y, level), b(x + 1, y, level), c(x, y + 1, level), d(x + 1, y + 1, level);
      tris.push_back({a, b, d});
      tris.push_back({a, d, c});
    }
  CHTriangulation mesh;
  build(mesh, tris);
  for (bool threaded : {false, true}) {
    CSSEMatrix image;
    if (threaded)
      mesh.FastScanConvertTriangulation(&image, level, true);
    else
      mesh.ScanConvertTriangulationMax(&image, level);
    ASSERT_EQ(image.GetSizeX(), w - 1);
    ASSERT_EQ(image.GetSizeY(), h - 1);
    for (int y = 0; y < h - 1; ++y)
      for (int x = 0; x < w - 1; ++x) {
        const bool corner = (x == 0 || x == w - 2) && (y == 0 || y == h - 2);
        ASSERT_EQ(image.GetPoint(x, y), corner ? 0.0f : level) << x << "," << y;
      }
  }
}

// A blank triangle is one sample at its corner 0: the splat shapes, the
// margins that drop a sample, absolute heights and accumulation.
TEST(ScanConversion, AccumulatingRendersSplatIntoTheCallersImage) {
  struct Case {
    const char* name;
    bool box, large;
    float x, y;
    int written;  // pixels changed
  };
  const Case cases[] = {
      {"cross", false, false, 6, 6, 5},          {"3x3", true, false, 6, 6, 9},
      {"5x5", true, true, 6, 6, 25},             {"cross at the margin", false, false, 1, 8, 5},
      {"5x5 beyond its margin", true, true, 1, 8, 0}, {"cross beyond the image", false, false, 11, 6, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CHTriangulation mesh;
    // A second blank triangle far out makes the mesh maximum (and so the
    // reachable pixels) larger than the image.
    const SSEPoint p(c.x, c.y, 2.5f), far(100, 100, -1);
    build(mesh, {{p, p, p}, {far, far, far}});
    for (bool max : {true, false}) {
      CSSEMatrix image;
      image.Create(12, 14);
      image.Fill(max ? 1.0f : 4.0f);
      if (max)
        mesh.ScanConvertTriangulationMaxNoDelete(&image, c.box, c.large);
      else
        mesh.ScanConvertTriangulationMinNoDelete(&image, c.box, c.large);
      ASSERT_EQ(image.GetSizeX(), 12);
      int written = 0;
      for (int y = 0; y < 14; ++y)
        for (int x = 0; x < 12; ++x)
          if (image.GetPoint(x, y) != (max ? 1.0f : 4.0f)) {
            ++written;
            EXPECT_EQ(image.GetPoint(x, y), 2.5f);
            EXPECT_LE(std::abs(x - static_cast<int>(c.x)) + std::abs(y - static_cast<int>(c.y)), c.box ? 4 : 1);
          }
      EXPECT_EQ(written, c.written);
    }
  }
}

TEST(ScanConversion, YAreaAndLimitedRangeSelectTriangles) {
  // Three blank triangles (one sample each) at rows 3, 5 and 7.
  const SSEPoint a(4, 3, 1), b(8, 5, 2), c(12, 7, 3);
  CHTriangulation mesh;
  build(mesh, {{a, a, a}, {b, b, b}, {c, c, c}});
  CSSEMatrix image;
  image.Create(20, 12);
  mesh.ScanConvertTriangulationMaxNoDeleteInYArea(&image, 0.0f, 5.0f);  // y = 5 is not inside
  EXPECT_EQ(image.GetPoint(4, 3), 1.0f);
  EXPECT_EQ(image.GetPoint(8, 5), 0.0f);
  mesh.ScanConvertTriangulationMinNoDeleteInYArea(&image, 4.0f, 8.0f);
  EXPECT_EQ(image.GetPoint(8, 5), 0.0f);  // min(0, 2)
  EXPECT_EQ(image.GetPoint(4, 3), 1.0f);

  struct Range {
    int first, last;
    std::vector<int> drawn;
  };
  for (const Range& r : {Range{1, 1, {1}}, Range{-7, 1, {0, 1}}, Range{1, 99, {1, 2}}, Range{2, 1, {}}}) {
    SCOPED_TRACE(r.first);
    CSSEMatrix m;
    m.Create(20, 12);
    m.Fill(-9.0f);
    SSEPoint origin(1, 0, 0.5f);
    mesh.ScanConvertTriangulationWithLimitedArea(&m, r.first, r.last, 10.0f, &origin, true);
    const SSEPoint* points[3] = {&a, &b, &c};
    for (int i = 0; i < 3; ++i) {
      const bool drawn = std::count(r.drawn.begin(), r.drawn.end(), i) > 0;
      EXPECT_EQ(m.GetPoint(static_cast<int>(points[i]->x) - 1, static_cast<int>(points[i]->y)),
                drawn ? points[i]->z - 0.5f + 10.0f : -9.0f)
          << i;
    }
  }
}

TEST(ScanConversion, NothingToRenderLeavesTheImageAlone) {
  struct Case {
    const char* name;
    std::vector<Tri> tris;
    float res;
  };
  const SSEPoint o(0, 0, 0), x(0.4f, 0, 0), y(0, 0.4f, 0), big(20, 20, 0);
  const Case cases[] = {
      {"empty mesh", {}, 1.0f},
      {"below half a pixel", {{o, x, y}}, 1.0f},
      {"zero resolution", {{o, big, y}}, 0.0f},
      {"negative resolution", {{o, big, y}}, -1.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CHTriangulation mesh;
    build(mesh, c.tris, c.res);
    CSSEMatrix image;
    image.Create(7, 5);
    image.Fill(3.0f);
    const CSSEMatrix before(image);
    mesh.ScanConvertTriangulationMax(&image, 0.0f);
    mesh.FastScanConvertTriangulation(&image, 0.0f, false);
    mesh.ScanConvertTriangulationMaxNoDelete(&image, true, true);
    mesh.ScanConvertTriangulationWithLimitedArea(&image, 0, 5, 0.0f, nullptr, true);
    EXPECT_TRUE(sameLanes(image, before));
  }
}

TEST(ScanConversion, DensityRefinesTheSamplingAndNeverHangs) {
  // A square of two triangles at level 2: any density renders the same level
  // in the interior, a density not above 0 as if it were 1.
  std::vector<Tri> tris;
  rectangle(tris, 0, 0, 30, 30, 2.0f);
  CHTriangulation mesh;
  build(mesh, tris);
  CSSEMatrix one, two, none;
  mesh.ScanConvertTriangulationMin(&one, 1.0f, 1.0f);
  mesh.ScanConvertTriangulationMin(&two, 1.0f, 2.0f);
  mesh.ScanConvertTriangulationMin(&none, 1.0f, -3.0f);
  EXPECT_TRUE(sameLanes(one, none));
  int holesOne = 0, holesTwo = 0;
  for (int y = 3; y < 27; ++y)
    for (int x = 3; x < 27; ++x) {
      if (std::abs(x - y) < 3) continue;  // the shared diagonal
      holesOne += one.GetPoint(x, y) != 0.0f ? 0 : 1;
      holesTwo += two.GetPoint(x, y) != 0.0f ? 0 : 1;
      ASSERT_TRUE(one.GetPoint(x, y) == 0.0f || one.GetPoint(x, y) == 1.0f) << x << "," << y;
    }
  // Steps of a pixel diagonal along both legs leave holes; half of it none.
  EXPECT_GT(holesOne, 0);
  EXPECT_EQ(holesTwo, 0);
}

TEST(ScanConversion, RefineFillsHolesWithEnoughNeighbours) {
  const float empty = CHTriangulation::c_fScanConvEmptyMax;
  CHTriangulation mesh;
  // An isolated hole in a level field is closed with the level; the filters
  // keep a level interior, and the outermost rows and columns become 0.
  CSSEMatrix m;
  m.Create(9, 9);
  m.Fill(5.0f);
  m.SetPoint(4, 4, empty);
  mesh.RefineScanConvImage(&m, empty);
  for (int y = 1; y < 8; ++y)
    for (int x = 1; x < 8; ++x) ASSERT_EQ(m.GetPoint(x, y), 5.0f) << x << "," << y;
  EXPECT_EQ(m.GetPoint(0, 4), 0.0f);

  // A band two rows high: no hole has more than one non-empty neighbour, so
  // the band stays for the filters and ends as 0; the rows away from it keep
  // their level.
  for (bool top : {false, true}) {
    SCOPED_TRACE(top ? "top" : "bottom");
    CSSEMatrix b;
    b.Create(9, 9);
    b.Fill(5.0f);
    for (int x = 0; x < 9; ++x) b.SetPoint(x, 4, empty), b.SetPoint(x, 5, empty);
    if (top)
      mesh.RefineScanConvImageTop(&b, empty);
    else
      mesh.RefineScanConvImage(&b, empty);
    EXPECT_EQ(b.GetPoint(4, 4), 0.0f);
    EXPECT_EQ(b.GetPoint(4, 1), 5.0f);
    EXPECT_EQ(b.GetPoint(4, 7), 5.0f);
  }
}

// Two level rectangles below zero seen through a square outline: inside the
// outline every pixel holds a sample's relative height plus the offset or the
// start value beyond all samples; outside it, 0. The outline ends up moved
// into pixel units.
TEST(ScanConversion, ThroughLineKeepsThePolygonsInside) {
  const float ox = 3.0f, oy = 2.0f;  // the mesh minimum
  std::vector<Tri> tris;
  rectangle(tris, ox, oy, 40, 20, -10.0f);
  rectangle(tris, ox + 10, oy + 5, 20, 30, -8.0f);
  CHTriangulation mesh;
  build(mesh, tris);  // scale and resolution 1
  for (bool max : {true, false}) {
    SCOPED_TRACE(max ? "max" : "min");
    // The outline over pixels 2 .. 27 x 1 .. 23, sampled one unit apart.
    std::vector<std::pair<float, float>> ring;
    for (int x = 2; x < 27; ++x) ring.push_back({float(x), 1.0f});
    for (int y = 1; y < 23; ++y) ring.push_back({27.0f, float(y)});
    for (int x = 27; x > 2; --x) ring.push_back({float(x), 23.0f});
    for (int y = 23; y > 1; --y) ring.push_back({2.0f, float(y)});
    CSSE3dPolygon outline;
    outline.Create(static_cast<int>(ring.size()));
    for (int i = 0; i < outline.GetNumPoints(); ++i)
      outline.SetPoint(i, ring[i].first + ox, ring[i].second + oy, 0.0f);
    const float offset = 0.5f, start = max ? offset - 0.1f : 2.0f + offset + 0.1f;
    CSSEMatrix image;
    if (max)
      mesh.ScanConvertThroughLineMax(&image, &outline, offset);
    else
      mesh.ScanConvertThroughLineMin(&image, &outline, offset);
    ASSERT_EQ(image.GetSizeX(), 40);
    ASSERT_EQ(image.GetSizeY(), 35);
    int sampled = 0;
    for (int y = 0; y < 35; ++y)
      for (int x = 0; x < 40; ++x) {
        if (x <= 3 || x == 26 || x == 27 || y <= 2 || y == 22 || y == 23) continue;  // near the outline
        const float v = image.GetPoint(x, y);
        if (x > 27 || y > 23) {
          ASSERT_EQ(v, 0.0f) << x << "," << y;
          continue;
        }
        // Pixels one away from a rectangle's edge are left out; the rest lie
        // under the lower rectangle (rows up to 20), the higher one (columns
        // 10 .. 30, rows from 5), both or neither.
        if (x >= 9 && x <= 11 && y >= 4) continue;
        if ((y >= 4 && y <= 6 && x >= 9) || (y >= 19 && y <= 21)) continue;
        const bool low = y < 20, high = x > 10 && y > 5;
        if (v != start) ++sampled;
        if (!low && !high) {
          ASSERT_EQ(v, start) << x << "," << y;
          continue;
        }
        // A single pixel per sample leaves holes, through which the other
        // rectangle may show where they overlap.
        ASSERT_TRUE(v == start || (low && v == offset) || (high && v == 2.0f + offset)) << x << "," << y << " " << v;
      }
    EXPECT_GT(sampled, 150);
    float x0 = -1.0f, y0 = -1.0f;
    outline.GetPointXY(0, x0, y0);
    EXPECT_EQ(x0, 2.0f);
    EXPECT_EQ(y0, 1.0f);
  }
}
