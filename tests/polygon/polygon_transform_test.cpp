#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "orvik/polygon/SSE3dPolygon.h"
#include "orvik/triangulation/HTriangulation.h"
#include "support/polygons.h"

namespace {

using namespace testpolygons;

using P = CSSE3dPolygon;
using Apply = std::function<void(P&)>;

double det3(const Pt& a, const Pt& b, const Pt& c) {
  return double(a.x) * (double(b.y) * c.z - double(b.z) * c.y) -
         double(a.y) * (double(b.x) * c.z - double(b.z) * c.x) +
         double(a.z) * (double(b.x) * c.y - double(b.y) * c.x);
}

Pt minus(const Pt& a, const Pt& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

double length(const Pt& a) { return std::sqrt(double(a.x) * a.x + double(a.y) * a.y + double(a.z) * a.z); }

// A 4x4 matrix from its rows (the stored form is by columns).
CbMatrix4Rf byRows(const float (&r)[4][4]) {
  CbMatrix4Rf m;
  for (int c = 0; c < 4; ++c)
    for (int k = 0; k < 4; ++k) m.m[c][k] = r[k][c];
  return m;
}

Apply matrix(const float (&r)[4][4], bool rotationOnly) {
  const CbMatrix4Rf m = byRows(r);
  return [m, rotationOnly](CSSE3dPolygon& p) { p.TransformUseGivenMatrix(m, rotationOnly); };
}

}  // namespace

// Every map is checked on what it must keep: the signed volume of point tetrahedra scales by the determinant,
// and a rigid map keeps every distance.
TEST(PolygonTransform, LengthsAndVolumesUpToTheDeterminant) {
  const float sheared[4][4] = {{2, 1, 0, 5}, {0, 3, 1, -2}, {1, 0, 0.5f, 7}, {0, 0, 0, 1}};
  // A rotation about z by 0.3 scaled by 2 per axis and moved: with rotationOnly only the rotation remains.
  const float c = std::cos(0.3f), s = std::sin(0.3f);
  const float scaled[4][4] = {{2 * c, -2 * s, 0, 10}, {2 * s, 2 * c, 0, 20}, {0, 0, 2, 30}, {0, 0, 0, 1}};
  const std::vector<std::tuple<std::string, Apply, double, bool>> cases = {
      {"RotateZ", [](P& p) { p.RotateZ(0.7f); }, 1, true},
      {"RotateXYZ", [](P& p) { p.RotateXYZ(0.4f, -1.1f, 2.5f); }, 1, true},
      {"RotateZAroundPolyCenter", [](P& p) { p.RotateZAroundPolyCenter(-2.0f); }, 1, true},
      {"TransformVertices", [](P& p) { p.TransformVertices(0.9f, -0.6f); }, 1, true},
      {"TransformVerticesAboutCenter", [](P& p) { p.TransformVerticesAboutCenter(-1.3f, 2.2f); }, 1, true},
      {"matrix, affine", matrix(sheared, false), 2 * 1.5 + 1, false},
      {"matrix, scaled", matrix(scaled, false), 8, false},
      {"matrix, rotationOnly", matrix(scaled, true), 1, true},
      {"SwapXandZCoord", [](P& p) { p.SwapXandZCoord(); }, -1, true},
      {"SwapYandZCoord", [](P& p) { p.SwapYandZCoord(); }, -1, true},
      {"FlipOrientationZ", [](P& p) { p.FlipOrientationZ(true); }, -1, true},
      {"FlipOrientationAndMoveCoordsZ", [](P& p) { p.FlipOrientationAndMoveCoordsZ(3.5f); }, -1, true},
  };
  const Ring pts = randomRing(41, 7, -20.0f, 20.0f);
  for (const auto& [name, apply, det, rigid] : cases) {
    SCOPED_TRACE(name);
    const Ring out = after(pts, apply);
    ASSERT_EQ(out.size(), pts.size());
    for (std::size_t i = 0; i + 3 < pts.size(); ++i) {
      const double before =
          det3(minus(pts[i + 1], pts[i]), minus(pts[i + 2], pts[i]), minus(pts[i + 3], pts[i]));
      const double now =
          det3(minus(out[i + 1], out[i]), minus(out[i + 2], out[i]), minus(out[i + 3], out[i]));
      ASSERT_NEAR(now, det * before, 1e-4 * std::fabs(det * 64000)) << i;
      for (std::size_t j = 0; rigid && j < i; ++j)
        ASSERT_NEAR(length(minus(out[i], out[j])), length(minus(pts[i], pts[j])), 2e-4) << i << " " << j;
    }
  }
}

TEST(PolygonTransform, KnownPointsAndTheBox) {
  const float b = 0.8f, c = std::cos(b), s = std::sin(b);
  const Pt q{3, -4, 5};
  const float translation[4][4] = {{1, 0, 0, 1}, {0, 1, 0, 2}, {0, 0, 1, 3}, {0, 0, 0, 1}};
  const float projective[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {1, 0, 0, 0}};
  // rotationOnly drops a column too short to have a direction.
  const float degenerate[4][4] = {{1e-20f, 0, 0, 0}, {0, 2, 0, 0}, {0, 0, 3, 0}, {0, 0, 0, 1}};
  // Name, map, point in, point out, whether the box is recalculated afterwards.
  const std::vector<std::tuple<std::string, Apply, Pt, Pt, bool>> cases = {
      {"RotateZ quarter turn", [](P& p) { p.RotateZ(float(M_PI / 2)); }, {1, 0, 5}, {0, -1, 5}, false},
      {"RotateXYZ zero", [](P& p) { p.RotateXYZ(0, 0, 0); }, q, q, false},
      {"RotateXYZ about x", [](P& p) { p.RotateXYZ(float(M_PI / 2), 0, 0); }, {0, 1, 0}, {0, 0, -1}, false},
      {"TransformVertices zero", [](P& p) { p.TransformVertices(0, 0); }, q, q, true},
      {"TransformVertices tilt", [&](P& p) { p.TransformVertices(0, b); }, {1, 0, 0}, {c, 0, s}, true},
      {"off the plane", [&](P& p) { p.TransformVertices(float(M_PI / 2), b); }, {0, 0, 1}, {0, -s, c}, true},
      {"identity", [](P& p) { p.TransformUseGivenMatrix(CbMatrix4Rf(), false); }, q, q, false},
      {"translation", matrix(translation, false), q, {4, -2, 8}, false},
      {"translation, rotationOnly", matrix(translation, true), q, q, false},
      {"perspective divide", matrix(projective, false), {4, 2, 8}, {1, 0.5f, 2}, false},
      {"short column, rotationOnly", matrix(degenerate, true), {5, 6, 7}, {0, 6, 7}, false},
      {"FlipOrientationZ down", [](P& p) { p.FlipOrientationZ(false); }, {1, 2, 5}, {1, 2, 0}, false},
  };
  for (const auto& [name, apply, in, out, box] : cases) {
    SCOPED_TRACE(name);
    CSSE3dPolygon p = polygonOf({in});
    p.CalcBoundingBox();
    apply(p);
    EXPECT_LT(maxDistance(pointsOf(p), {out}), 1e-6);
    EXPECT_EQ(p.IsBoundingBoxCalculated(), box);
    if (box) {
      EXPECT_EQ(p.GetTopRight().x, pointsOf(p)[0].x);
    }
  }
  // w' = 0 leaves no finite point.
  EXPECT_FALSE(std::isfinite(after({{0, 1, 2}}, matrix(projective, false))[0].y));
}

// The tilt-and-turn is a true rotation: the mesh's transform with both angles negated, bit for bit, about the
// origin and about the centre.
TEST(PolygonTransform, TransformVerticesIsTheMeshRotation) {
  const Ring pts = randomRing(30, 3, -50.0f, 50.0f);
  for (const auto& [a, b] : {std::pair{0.0f, 0.0f}, {0.4f, -0.9f}, {-2.1f, 1.3f}, {3.0f, 0.25f}}) {
    for (bool aboutCentre : {false, true}) {
      SCOPED_TRACE(testing::Message() << a << " " << b << (aboutCentre ? " about the centre" : ""));
      CHTriangulation mesh(0, 1, 1, 1);
      mesh.CreateTriangulation(int(pts.size()) / 3);
      for (std::size_t i = 0; i < pts.size(); ++i)
        *mesh.GetTriangle(int(i / 3))->corner[i % 3] = SSEPoint(pts[i].x, pts[i].y, pts[i].z, 0.0f);
      CSSE3dPolygon p = polygonOf(pts);
      if (aboutCentre) {
        p.TransformVerticesAboutCenter(a, b);
        SSEPoint c;
        p.GetGeometricCenter(c);
        mesh.TransformVerticesAboutPoint(-a, -b, c);
      } else {
        p.TransformVertices(a, b);
        mesh.TransformVertices(-a, -b);
      }
      const Ring out = pointsOf(p);
      for (std::size_t i = 0; i < pts.size(); ++i) {
        const SSEPoint& m = *mesh.GetTriangle(int(i / 3))->corner[i % 3];
        ASSERT_EQ(out[i], (Pt{m.x, m.y, m.z})) << i;
      }
    }
  }
}

// Every clip against a classification of each vertex on its own, on rings with points exactly on the dividing
// lines.
TEST(PolygonClip, HalfPlanesKeepTheStrictSide) {
  // Symmetric about (0, 0, 0) with points on every axis, so the centre is exact and some points lie on each
  // line.
  const Ring symmetric = {{2, 0, 0},  {1, 1, 1},    {0, 2, -1}, {-1, 1, 0},
                          {-2, 0, 1}, {-1, -1, -1}, {0, -2, 1}, {1, -1, -1}};
  const std::vector<std::tuple<std::string, void (P::*)(), float Pt::*, bool>> cases = {
      {"KeepLeftHalfPlaneX", &CSSE3dPolygon::KeepLeftHalfPlaneX, &Pt::x, true},
      {"KeepRightHalfPlaneX", &CSSE3dPolygon::KeepRightHalfPlaneX, &Pt::x, false},
      {"KeepLowerHalfPlaneY", &CSSE3dPolygon::KeepLowerHalfPlaneY, &Pt::y, true},
      {"KeepUpperHalfPlaneY", &CSSE3dPolygon::KeepUpperHalfPlaneY, &Pt::y, false},
      {"KeepLowerHalfPlaneZ", &CSSE3dPolygon::KeepLowerHalfPlaneZ, &Pt::z, true},
      {"KeepUpperHalfPlaneZ", &CSSE3dPolygon::KeepUpperHalfPlaneZ, &Pt::z, false},
  };
  for (const auto& [name, clip, axis, below] : cases) {
    for (const Ring& pts : {symmetric, randomRing(37, 11, -9.0f, 9.0f)}) {
      SCOPED_TRACE(name + (pts == symmetric ? " symmetric" : " random"));
      CSSE3dPolygon p = polygonOf(pts);
      p.CalcGeometricCenter();
      SSEPoint c;
      p.GetGeometricCenter(c);
      const float centre = axis == &Pt::x ? c.x : axis == &Pt::y ? c.y : c.z;
      (p.*clip)();
      Ring expected;
      for (const Pt& q : pts)
        if (below ? q.*axis < centre : q.*axis > centre) expected.push_back(q);
      EXPECT_EQ(pointsOf(p), expected);
    }
  }
}

TEST(PolygonClip, AgainstAnotherPolygon) {
  const Ring pts = randomRing(60, 5, -12.0f, 12.0f);
  // A zigzag, so the nearest point of other is sometimes above, sometimes below.
  Ring line;
  for (int i = -12; i <= 12; ++i) line.push_back({float(i), float(i % 3) * 2.0f - 2.0f, 0.0f});
  const Ring tri = {{-10, -10, 0}, {10, -10, 0}, {0, 10, 0}};
  Ring below, inner;
  for (const Pt& q : pts) {
    const Pt* nearest = &line[0];
    for (const Pt& o : line)
      if (length(minus(q, o)) < length(minus(q, *nearest))) nearest = &o;
    if (nearest->y > q.y) below.push_back(q);
    // Inside the triangle: above the base and on the inner side of both slanted edges.
    if (q.y > -10 && 2 * (q.x + 10) - (q.y + 10) > 0 && 2 * (10 - q.x) - (q.y + 10) > 0) inner.push_back(q);
  }
  ASSERT_GT(below.size(), 5u);
  ASSERT_LT(below.size(), pts.size() - 5);
  ASSERT_GT(inner.size(), 5u);
  for (const auto& [name, others, inInner, expected] : std::vector<std::tuple<std::string, Ring, bool, Ring>>{
           {"below: the nearest point of other lies higher", line, false, below},
           {"below an empty other: nothing", {}, false, {}},
           {"inside a triangle", tri, true, inner},
           {"inside two points: nothing", {{-100, -100, 0}, {100, 100, 0}}, true, {}}}) {
    SCOPED_TRACE(name);
    CSSE3dPolygon other = polygonOf(others);
    EXPECT_EQ(after(pts, [&](P& p) { inInner ? p.KeepPointsInInner(other) : p.KeepPointsBelow(other); }),
              expected);
  }
}

// Each start rule on a ring that starts elsewhere: the order stays cyclic and the chosen point comes first.
TEST(PolygonReorder, StartPointRules) {
  // 24 points around an ellipse wider in x, tilted so that z varies; the ring starts at point 5.
  Ring ring;
  for (int i = 0; i < 24; ++i) {
    const double t = 2 * M_PI * (i + 5) / 24;
    ring.push_back(
        {float(10 + 8 * std::cos(t)), float(-5 + 4 * std::sin(t)), float(3 + std::cos(t) + std::sin(t))});
  }
  double sx = 0, sy = 0, sz = 0;
  for (const Pt& p : ring) sx += p.x, sy += p.y, sz += p.z;
  const Pt c{float(sx / 24), float(sy / 24), float(sz / 24)};
  // Brute force: the index with the best score among the candidates.
  const auto best = [&](auto candidate, auto score) {
    int k = 0;
    double s = INFINITY;
    for (std::size_t i = 0; i < ring.size(); ++i)
      if (candidate(ring[i]) && score(ring[i]) < s) s = score(ring[i]), k = int(i);
    return k;
  };
  const auto right = [&](const Pt& p) { return p.x > c.x; };
  const auto up = [&](const Pt& p) { return p.y > c.y; };
  const std::vector<std::tuple<std::string, Apply, int>> cases = {
      {"RotateIndices", [](P& p) { p.RotateIndices(); },
       best(right, [&](const Pt& p) { return std::fabs(p.y - c.y); })},
      {"RotateIndicesXZ(tol)", [](P& p) { p.RotateIndicesXZ(0.9f); },
       best([&](const Pt& p) { return right(p) && std::fabs(p.z - c.z) < 0.9f; },
            [](const Pt& p) { return -p.x; })},
      {"RotateIndicesYZ(tol)", [](P& p) { p.RotateIndicesYZ(0.9f); },
       best([&](const Pt& p) { return up(p) && std::fabs(p.z - c.z) < 0.9f; },
            [](const Pt& p) { return -p.y; })},
      {"RotateIndicesXY", [](P& p) { p.RotateIndicesXY(); },
       best(right, [&](const Pt& p) { return std::fabs(std::asin((p.z - c.z) / length(minus(p, c)))); })},
      {"RotateIndicesXZ", [](P& p) { p.RotateIndicesXZ(); },
       best(right, [&](const Pt& p) { return std::fabs(std::atan2(p.z - c.z, p.x - c.x)); })},
      {"RotateIndicesYZ", [](P& p) { p.RotateIndicesYZ(); },
       best(up, [&](const Pt& p) { return std::fabs(std::atan2(p.z - c.z, p.y - c.y)); })},
      {"RotateIndicesXZ(tol) without candidates", [](P& p) { p.RotateIndicesXZ(0.0f); }, 0},
  };
  for (const auto& [name, apply, k] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(k == 0, name.find("without") != std::string::npos);  // each rule picks another start
    EXPECT_EQ(after(ring, apply), rotated(ring, k)) << k;
  }
  // RotateIndices(reference) undoes a shift of a noisy copy; a reference of another size changes nothing.
  Ring noisy = rotated(ring, 17);
  for (std::size_t i = 0; i < noisy.size(); ++i) noisy[i].x += (i % 2 ? 0.3f : -0.3f);
  CSSE3dPolygon reference = polygonOf(ring), shorter = polygonOf({ring[0], ring[1]}), p = polygonOf(noisy);
  p.RotateIndices(&reference);
  EXPECT_EQ(pointsOf(p), rotated(noisy, 7));
  p.RotateIndices(&shorter);
  EXPECT_EQ(pointsOf(p), rotated(noisy, 7));
}
