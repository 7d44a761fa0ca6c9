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

// Level rectangle [x0, x1] x [y0, y1] at height z: two right triangles, corner 0 on opposite corners.
struct Rect {
  float x0, y0, x1, y1, z;
  bool within(float x, float y, float margin) const {
    return x0 + margin < x && x < x1 - margin && y0 + margin < y && y < y1 - margin;
  }
};

void add(std::vector<Tri>& tris, const Rect& r) {
  const SSEPoint a(r.x0, r.y0, r.z), b(r.x1, r.y0, r.z), c(r.x0, r.y1, r.z), d(r.x1, r.y1, r.z);
  tris.insert(tris.end(), {{a, b, c}, {d, c, b}});
}

CSSEMatrix render(CHTriangulation& mesh, bool max, float offset, float density = 1.0f) {
  CSSEMatrix image;
  if (max)
    mesh.ScanConvertTriangulationMax(&image, offset);
  else
    mesh.ScanConvertTriangulationMin(&image, offset, density);
  return image;
}

}  // namespace

// Samples lie a pixel diagonal apart along both legs, at columns and rows 0, 1, 3, 4, 6, 7, 8 (10 rounded): a
// pixel whose column and row both miss that set stays a hole, unless a density of 2 halves the step. A
// density not above 0 counts as 1.
TEST(ScanConversion, SingleTriangleKnownImage) {
  CHTriangulation mesh;
  build(mesh, {{SSEPoint(0, 0, 1), SSEPoint(10, 0, 1), SSEPoint(0, 10, 1)}});
  for (float offset : {0.0f, 2.0f}) {
    SCOPED_TRACE(offset);
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

// Pixels two or more pixels from every rectangle edge hold the highest (lowest) covering height above the
// mesh minimum plus the offset, or 0. Rectangles of aspect 2:1 keep the samples at most one pixel apart
// across the shorter leg, so the cross closes every gap.
TEST(ScanConversion, OverlappingPlanesGiveTheirEnvelopes) {
  for (auto [seed, res, offset] :
       {std::tuple{1u, 1.0f, 0.0f}, {2u, 0.5f, 3.0f}, {3u, 2.0f, -1.5f}, {4u, 1.0f, 7.0f}}) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> pos(0.0f, 30.0f * res), size(6.0f * res, 14.0f * res),
        z(-4.0f, 9.0f);
    std::vector<Rect> rects;
    std::vector<Tri> tris;
    for (int r = 0; r < 6; ++r) {
      const float s = size(rng), x = pos(rng), y = pos(rng), w = rng() & 1 ? s : 2 * s;
      rects.push_back({x, y, x + w, y + 3 * s - w, std::round(z(rng) * 4) / 4});
      add(tris, rects.back());
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
          for (const Rect& r : rects) {
            clear &= r.within(wx, wy, 2 * res) || !r.within(wx, wy, -2 * res);
            if (!r.within(wx, wy, 0)) continue;
            covered = true;
            expected =
                max ? std::max(expected, r.z - lo.z + offset) : std::min(expected, r.z - lo.z + offset);
          }
          checked += clear;
          ASSERT_TRUE(!clear || image.GetPoint(x, y) == (covered ? expected : 0.0f)) << x << "," << y;
        }
      EXPECT_GT(checked, image.GetSizeX() * image.GetSizeY() / 8);
    }
  }
}

// Now and then a blank triangle (all corners equal) or a sliver; also into a box larger than the mesh.
TEST(ScanConversion, ThreadedRenderEqualsTheSequentialOne) {
  for (int n = 1; n <= 101; ++n) {
    SCOPED_TRACE(n);
    std::mt19937 rng(100 + n);
    std::uniform_real_distribution<float> u(0.0f, 40.0f), z(-3.0f, 3.0f);
    std::vector<Tri> tris;
    for (int i = 0; i < n; ++i) {
      const SSEPoint a(u(rng), u(rng), z(rng)), b(u(rng), u(rng), z(rng));
      if (rng() % 11 == 0)
        tris.push_back({a, a, a});
      else
        tris.push_back(
            {a, b, rng() % 7 ? SSEPoint(u(rng), u(rng), z(rng)) : SSEPoint(b.x + 0.01f, b.y, b.z)});
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

// A blank triangle is one sample at its corner 0: the splat shapes, the margins that drop a sample, absolute
// heights and accumulation. A second one far out makes the mesh reach beyond the image.
TEST(ScanConversion, AccumulatingRendersSplatIntoTheCallersImage) {
  // box, large, x, y, pixels written
  const std::tuple<bool, bool, float, float, int> cases[] = {
      {false, false, 6, 6, 5}, {true, false, 6, 6, 9}, {true, true, 6, 6, 25},
      {false, false, 1, 8, 5}, {true, true, 1, 8, 0},  {false, false, 11, 6, 0},
  };
  for (const auto& [box, large, px, py, count] : cases)
    for (bool max : {true, false}) {
      SCOPED_TRACE(testing::Message()
                   << box << large << " at " << px << "," << py << (max ? " max" : " min"));
      CHTriangulation mesh;
      const SSEPoint p(px, py, 2.5f), far(100, 100, -1);
      build(mesh, {{p, p, p}, {far, far, far}});
      const float before = max ? 1.0f : 4.0f;
      CSSEMatrix image = filled(12, 14, before);
      (mesh.*(max ? &CHTriangulation::ScanConvertTriangulationMaxNoDelete
                  : &CHTriangulation::ScanConvertTriangulationMinNoDelete))(&image, box, large);
      int written = 0;
      EXPECT_TRUE(fieldIs(image, [&](int x, int y) {
        const bool near = std::abs(x - int(px)) + std::abs(y - int(py)) <= (box ? 4 : 1);
        written += image.GetPoint(x, y) != before;
        return image.GetPoint(x, y) != before && near ? 2.5f : before;
      }));
      EXPECT_EQ(written, count);
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
  for (auto [first, last, drawn] :
       {std::tuple{1, 1, 2}, {-7, 1, 3}, {1, 99, 6}, {2, 1, 0}}) {  // drawn: a bit mask
    SCOPED_TRACE(first);
    CSSEMatrix m = filled(20, 12, -9.0f);
    SSEPoint origin(1, 0, 0.5f);
    mesh.ScanConvertTriangulationWithLimitedArea(&m, first, last, 10.0f, &origin, true);
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(m.GetPoint(int(pts[i].x) - 1, int(pts[i].y)),
                drawn >> i & 1 ? pts[i].z - 0.5f + 10.0f : -9.0f)
          << i;
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

// An isolated hole in a level field is closed with the level, the border becomes 0. In a band two rows high
// no hole has more than one non-empty neighbour: the band ends as 0, the rows away from it keep their level.
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
    (mesh.*(top ? &CHTriangulation::RefineScanConvImageTop : &CHTriangulation::RefineScanConvImage))(&b,
                                                                                                     empty);
    EXPECT_TRUE(b.GetPoint(4, 4) == 0.0f && b.GetPoint(4, 1) == 5.0f && b.GetPoint(4, 7) == 5.0f);
  }
}

// A level rectangle below zero (mesh minimum (3, 2)) seen through a square outline over pixels 2 .. 27 x 1 ..
// 23: inside, the offset where a sample fell or the start value; outside, 0. The outline ends in pixel units.
TEST(ScanConversion, ThroughLineKeepsThePolygonsInside) {
  const float ox = 3.0f, oy = 2.0f, offset = 0.5f;
  std::vector<Tri> tris;
  add(tris, {ox, oy, ox + 40, oy + 30, -10.0f});
  CHTriangulation mesh;
  build(mesh, tris);
  for (bool max : {true, false}) {
    SCOPED_TRACE(max ? "max" : "min");
    CSSE3dPolygon outline;
    outline.Create(2 * 25 + 2 * 22);
    for (int i = 0; i < 25; ++i)
      outline.SetPoint(i, ox + 2 + i, oy + 1, 0), outline.SetPoint(47 + i, ox + 27 - i, oy + 23, 0);
    for (int i = 0; i < 22; ++i)
      outline.SetPoint(25 + i, ox + 27, oy + 1 + i, 0), outline.SetPoint(72 + i, ox + 2, oy + 23 - i, 0);
    const float start = max ? offset - 0.1f : offset + 0.1f;
    CSSEMatrix image;
    (mesh.*(max ? &CHTriangulation::ScanConvertThroughLineMax : &CHTriangulation::ScanConvertThroughLineMin))(
        &image, &outline, offset);
    ASSERT_TRUE(image.GetSizeX() == 40 && image.GetSizeY() == 30);
    int sampled = 0;
    for (int y = 3; y < 30; ++y)
      for (int x = 4; x < 40; ++x) {
        if (x == 26 || x == 27 || y == 22 || y == 23) continue;  // on the outline
        const bool outside = x > 27 || y > 23;
        const float v = image.GetPoint(x, y);
        sampled += !outside && v == offset;
        ASSERT_TRUE(outside ? v == 0.0f : v == start || v == offset) << x << "," << y << " " << v;
      }
    EXPECT_GT(sampled, 150);
    float x0 = -1.0f, y0 = -1.0f;
    outline.GetPointXY(0, x0, y0);
    EXPECT_TRUE(x0 == 2.0f && y0 == 1.0f);
  }
}
