#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>
#include <vector>

#include "mesh_helpers.h"
#include "orvik/matrix/ssematrix.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "support/fields.h"

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
  tris.insert(tris.end(), {{a, b, c}, {d, c, b}});
}

// The fresh render of the upper or the lower envelope.
CSSEMatrix render(CHTriangulation& mesh, bool max, float offset, float density = 1.0f) {
  CSSEMatrix image;
  if (max)
    mesh.ScanConvertTriangulationMax(&image, offset);
  else
    mesh.ScanConvertTriangulationMin(&image, offset, density);
  return image;
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

}  // namespace

TEST(ScanConversion, SingleTriangleKnownImage) {
  CHTriangulation mesh;
  build(mesh, {{SSEPoint(0, 0, 1), SSEPoint(10, 0, 1), SSEPoint(0, 10, 1)}});
  for (float offset : {0.0f, 2.0f}) {
    SCOPED_TRACE(offset);
    // Samples lie a pixel diagonal apart along both legs, at columns and rows
    // 0, 1, 3, 4, 6, 7, 8 (10 a rounded): a pixel whose column and row both
    // miss that set is no cross's neighbour and stays a hole, unless a density
    // of 2 halves the step. A density not above 0 counts as 1.
    const CSSEMatrix image = render(mesh, true, offset), dense = render(mesh, false, offset, 2.0f);
    ASSERT_TRUE(image.GetSizeX() == 10 && image.GetSizeY() == 10);
    EXPECT_TRUE(sameLanes(render(mesh, false, offset, -3.0f), image));
    const auto hole = [](int v) { return v == 2 || v == 5; };
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x) {
        const float v = image.GetPoint(x, y);
        EXPECT_TRUE(!(x >= 1 && y >= 1 && x + y <= 7) ||
                    (v == (hole(x) && hole(y) ? 0.0f : offset) && dense.GetPoint(x, y) == offset))
            << x << "," << y;
        EXPECT_TRUE(x + y < 13 || v == 0.0f) << x << "," << y;
      }
  }
}

// Overlapping level rectangles: every pixel whose centre lies at least two
// pixels from all edges holds the highest (lowest) covering height relative
// to the mesh minimum plus the offset, or 0 where nothing covers it.
TEST(ScanConversion, OverlappingPlanesGiveTheirEnvelopes) {
  for (auto [seed, res, offset] : {std::tuple{1u, 1.0f, 0.0f}, {2u, 0.5f, 3.0f}, {3u, 2.0f, -1.5f}, {4u, 1.0f, 7.0f}}) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> pos(0.0f, 30.0f * res), size(6.0f * res, 14.0f * res), z(-4.0f, 9.0f);
    std::vector<Tri> tris;
    for (int r = 0; r < 6; ++r) {
      // Aspect 2:1 in either direction: the samples then lie at most one
      // pixel apart across the shorter leg, so the cross closes every gap.
      const float s = size(rng);
      const bool tall = rng() & 1;
      rectangle(tris, pos(rng), pos(rng), tall ? s : 2 * s, tall ? 2 * s : s, std::round(z(rng) * 4) / 4);
    }
    CHTriangulation mesh;
    build(mesh, tris, res);
    SSEPoint lo;
    mesh.GetMinPoint(lo);
    for (bool max : {true, false}) {
      SCOPED_TRACE(max ? "upper" : "lower");
      const CSSEMatrix image = render(mesh, max, offset);
      int checked = 0;
      for (int y = 0; y < image.GetSizeY(); ++y)
        for (int x = 0; x < image.GetSizeX(); ++x) {
          const float wx = lo.x + x * res, wy = lo.y + y * res;
          bool clear = true, covered = false;
          float expected = max ? -1e9f : 1e9f;
          for (const Tri& t : tris) {
            for (int k = 0; k < 3; ++k) clear &= segmentDistance(wx, wy, t[k], t[(k + 1) % 3]) >= 2.0f * res;
            if (!inside(wx, wy, t)) continue;
            covered = true;
            const float v = t[0].z - lo.z + offset;
            expected = max ? std::max(expected, v) : std::min(expected, v);
          }
          if (!clear) continue;
          ++checked;
          ASSERT_EQ(image.GetPoint(x, y), covered ? expected : 0.0f) << x << "," << y;
        }
      EXPECT_GT(checked, image.GetSizeX() * image.GetSizeY() / 8);
    }
  }
}

// Random corners in [0, 40]^2 with heights in [-3, 3]; now and then a blank
// triangle (all corners equal) or a sliver; also into a box of the caller's
// larger than the mesh.
TEST(ScanConversion, ThreadedRenderEqualsTheSequentialOne) {
  for (int n = 1; n <= 101; ++n) {
    SCOPED_TRACE(n);
    std::mt19937 rng(100 + n);
    std::uniform_real_distribution<float> u(0.0f, 40.0f), z(-3.0f, 3.0f);
    std::vector<Tri> tris;
    for (int i = 0; i < n; ++i) {
      const SSEPoint a(u(rng), u(rng), z(rng));
      if (rng() % 11 == 0) {
        tris.push_back({a, a, a});
        continue;
      }
      const SSEPoint b(u(rng), u(rng), z(rng));
      tris.push_back({a, b, rng() % 7 ? SSEPoint(u(rng), u(rng), z(rng)) : SSEPoint(b.x + 0.01f, b.y, b.z)});
    }
    CHTriangulation mesh;
    build(mesh, tris, n % 3 ? 1.0f : 0.7f);
    for (bool max : {true, false}) {
      CSSEMatrix threaded, serial, box;
      mesh.FastScanConvertTriangulation(&threaded, 0.25f, max);
      ASSERT_TRUE(sameLanes(render(mesh, max, 0.25f), threaded)) << max;
      SSEPoint lo(-5, -3, -10), hi(47, 44, 10);
      (mesh.*(max ? &CHTriangulation::ScanConvertTriangulationMax_MinMaxPoint
                  : &CHTriangulation::ScanConvertTriangulationMin_MinMaxPoint))(&serial, 1.0f, lo, hi);
      mesh.FastScanConvertTriangulation_MinMaxPoint(&box, 1.0f, lo, hi, max);
      ASSERT_TRUE(sameLanes(serial, box)) << "box " << max;
    }
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
      tris.insert(tris.end(), {{a, b, d}, {a, d, c}});
    }
  CHTriangulation mesh;
  build(mesh, tris);
  CSSEMatrix threaded;
  mesh.FastScanConvertTriangulation(&threaded, level, true);
  for (const CSSEMatrix& image : {render(mesh, true, level), threaded}) {
    ASSERT_TRUE(image.GetSizeX() == w - 1 && image.GetSizeY() == h - 1);
    EXPECT_TRUE(fieldIs(image, [&](int x, int y) {
      return (x == 0 || x == w - 2) && (y == 0 || y == h - 2) ? 0.0f : level;
    }));
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
  for (const Case& c : cases)
    for (bool max : {true, false}) {
      SCOPED_TRACE(testing::Message() << c.name << (max ? " max" : " min"));
      CHTriangulation mesh;
      // A second blank triangle far out makes the mesh maximum (and so the
      // reachable pixels) larger than the image.
      const SSEPoint p(c.x, c.y, 2.5f), far(100, 100, -1);
      build(mesh, {{p, p, p}, {far, far, far}});
      const float before = max ? 1.0f : 4.0f;
      CSSEMatrix image = filled(12, 14, before);
      (mesh.*(max ? &CHTriangulation::ScanConvertTriangulationMaxNoDelete
                  : &CHTriangulation::ScanConvertTriangulationMinNoDelete))(&image, c.box, c.large);
      int written = 0;
      EXPECT_TRUE(fieldIs(image, [&](int x, int y) {
        const bool near = std::abs(x - int(c.x)) + std::abs(y - int(c.y)) <= (c.box ? 4 : 1);
        written += image.GetPoint(x, y) != before ? 1 : 0;
        return image.GetPoint(x, y) != before && near ? 2.5f : before;
      }));
      EXPECT_EQ(written, c.written);
    }
}

TEST(ScanConversion, YAreaAndLimitedRangeSelectTriangles) {
  // Three blank triangles (one sample each) at rows 3, 5 and 7.
  const SSEPoint pts[3] = {{4, 3, 1}, {8, 5, 2}, {12, 7, 3}};
  CHTriangulation mesh;
  build(mesh, {{pts[0], pts[0], pts[0]}, {pts[1], pts[1], pts[1]}, {pts[2], pts[2], pts[2]}});
  CSSEMatrix image = filled(20, 12);
  mesh.ScanConvertTriangulationMaxNoDeleteInYArea(&image, 0.0f, 5.0f);  // y = 5 is not inside
  EXPECT_TRUE(image.GetPoint(4, 3) == 1.0f && image.GetPoint(8, 5) == 0.0f);
  mesh.ScanConvertTriangulationMinNoDeleteInYArea(&image, 4.0f, 8.0f);
  EXPECT_TRUE(image.GetPoint(4, 3) == 1.0f && image.GetPoint(8, 5) == 0.0f);  // min(0, 2)
  for (auto [first, last, drawn] : {std::tuple{1, 1, 2}, {-7, 1, 3}, {1, 99, 6}, {2, 1, 0}}) {  // drawn: a bit mask
    SCOPED_TRACE(first);
    CSSEMatrix m = filled(20, 12, -9.0f);
    SSEPoint origin(1, 0, 0.5f);
    mesh.ScanConvertTriangulationWithLimitedArea(&m, first, last, 10.0f, &origin, true);
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(m.GetPoint(int(pts[i].x) - 1, int(pts[i].y)), drawn >> i & 1 ? pts[i].z - 0.5f + 10.0f : -9.0f) << i;
  }
}

TEST(ScanConversion, NothingToRenderLeavesTheImageAlone) {
  const SSEPoint o(0, 0, 0), x(0.4f, 0, 0), y(0, 0.4f, 0), big(20, 20, 0);
  const std::tuple<const char*, std::vector<Tri>, float> cases[] = {
      {"empty mesh", {}, 1.0f},
      {"below half a pixel", {{o, x, y}}, 1.0f},
      {"zero resolution", {{o, big, y}}, 0.0f},
      {"negative resolution", {{o, big, y}}, -1.0f},
  };
  for (const auto& [name, tris, res] : cases) {
    SCOPED_TRACE(name);
    CHTriangulation mesh;
    build(mesh, tris, res);
    CSSEMatrix image = filled(7, 5, 3.0f);
    const CSSEMatrix before(image);
    mesh.ScanConvertTriangulationMax(&image, 0.0f);
    mesh.FastScanConvertTriangulation(&image, 0.0f, false);
    mesh.ScanConvertTriangulationMaxNoDelete(&image, true, true);
    mesh.ScanConvertTriangulationWithLimitedArea(&image, 0, 5, 0.0f, nullptr, true);
    EXPECT_TRUE(sameLanes(image, before));
  }
  // Half a pixel or more rounds up to a pixel: a new image, though no splat fits it.
  CHTriangulation mesh;
  build(mesh, {{o, SSEPoint(0.6f, 0, 0), SSEPoint(0, 0.6f, 0)}});
  const CSSEMatrix image = render(mesh, true, 0.0f);
  EXPECT_TRUE(image.GetSizeX() == 1 && image.GetSizeY() == 1 && image.GetPoint(0, 0) == 0.0f);
}

// An isolated hole in a level field is closed with the level; the filters
// keep a level interior, and the outermost rows and columns become 0. In a
// band two rows high no hole has more than one non-empty neighbour, so the
// band stays for the filters and ends as 0; the rows away from it keep
// their level.
TEST(ScanConversion, RefineFillsHolesWithEnoughNeighbours) {
  const float empty = CHTriangulation::c_fScanConvEmptyMax;
  CHTriangulation mesh;
  CSSEMatrix m = filled(9, 9, 5.0f);
  m.SetPoint(4, 4, empty);
  mesh.RefineScanConvImage(&m, empty);
  EXPECT_TRUE(fieldIs(m, [](int x, int y) { return x == 0 || y == 0 || x == 8 || y == 8 ? 0.0f : 5.0f; }));
  for (bool top : {false, true}) {
    SCOPED_TRACE(top ? "top" : "bottom");
    CSSEMatrix b = filled(9, 9, 5.0f);
    for (int x = 0; x < 9; ++x) b.SetPoint(x, 4, empty), b.SetPoint(x, 5, empty);
    (mesh.*(top ? &CHTriangulation::RefineScanConvImageTop : &CHTriangulation::RefineScanConvImage))(&b, empty);
    EXPECT_TRUE(b.GetPoint(4, 4) == 0.0f && b.GetPoint(4, 1) == 5.0f && b.GetPoint(4, 7) == 5.0f);
  }
}

// Two level rectangles below zero seen through a square outline: inside the
// outline every pixel holds a sample's relative height plus the offset or the
// start value beyond all samples; outside it, 0. The outline ends up moved
// into pixel units.
TEST(ScanConversion, ThroughLineKeepsThePolygonsInside) {
  const float ox = 3.0f, oy = 2.0f, offset = 0.5f;  // the mesh minimum
  std::vector<Tri> tris;
  rectangle(tris, ox, oy, 40, 20, -10.0f);
  rectangle(tris, ox + 10, oy + 5, 20, 30, -8.0f);
  CHTriangulation mesh;
  build(mesh, tris);  // scale and resolution 1
  for (bool max : {true, false}) {
    SCOPED_TRACE(max ? "max" : "min");
    // The outline over pixels 2 .. 27 x 1 .. 23, sampled one unit apart.
    CSSE3dPolygon outline;
    outline.Create(2 * 25 + 2 * 22);
    for (int i = 0; i < 25; ++i)
      outline.SetPoint(i, ox + 2 + i, oy + 1, 0), outline.SetPoint(47 + i, ox + 27 - i, oy + 23, 0);
    for (int i = 0; i < 22; ++i)
      outline.SetPoint(25 + i, ox + 27, oy + 1 + i, 0), outline.SetPoint(72 + i, ox + 2, oy + 23 - i, 0);
    const float start = max ? offset - 0.1f : 2.0f + offset + 0.1f;
    CSSEMatrix image;
    (mesh.*(max ? &CHTriangulation::ScanConvertThroughLineMax : &CHTriangulation::ScanConvertThroughLineMin))(
        &image, &outline, offset);
    ASSERT_TRUE(image.GetSizeX() == 40 && image.GetSizeY() == 35);
    int sampled = 0;
    for (int y = 3; y < 35; ++y)
      for (int x = 4; x < 40; ++x) {
        // Pixels near the outline or one away from a rectangle's edge are
        // left out; the rest lie under the lower rectangle (rows up to 20),
        // the higher one (columns 10 .. 30, rows from 5), both or neither.
        const bool outside = x > 27 || y > 23, low = y < 20, high = x > 10 && y > 5;
        if (x == 26 || x == 27 || y == 22 || y == 23 ||
            (!outside && ((x >= 9 && x <= 11 && y >= 4) || (y >= 4 && y <= 6 && x >= 9) || (y >= 19 && y <= 21))))
          continue;
        const float v = image.GetPoint(x, y);
        sampled += !outside && v != start ? 1 : 0;
        // A single pixel per sample leaves holes, through which the other
        // rectangle may show where they overlap.
        ASSERT_TRUE(outside ? v == 0.0f : v == start || (low && v == offset) || (high && v == 2.0f + offset))
            << x << "," << y << " " << v;
      }
    EXPECT_GT(sampled, 150);
    float x0 = -1.0f, y0 = -1.0f;
    outline.GetPointXY(0, x0, y0);
    EXPECT_TRUE(x0 == 2.0f && y0 == 1.0f);
  }
}
