#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "orvik/polygon/SSE3dPolygon.h"
#include "orvik/triangulation/HTriangulation.h"
#include "polygon/polygon_points.h"

namespace {

using namespace polytest;

double det3(const P3& a, const P3& b, const P3& c) {
  return double(a.x) * (double(b.y) * c.z - double(b.z) * c.y) - double(a.y) * (double(b.x) * c.z - double(b.z) * c.x) +
         double(a.z) * (double(b.x) * c.y - double(b.y) * c.x);
}

P3 minus(const P3& a, const P3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

double length(const P3& a) { return std::sqrt(double(a.x) * a.x + double(a.y) * a.y + double(a.z) * a.z); }

P3 centreOf(const std::vector<P3>& v) {
  double x = 0, y = 0, z = 0;
  for (const P3& p : v) x += p.x, y += p.y, z += p.z;
  return {float(x / v.size()), float(y / v.size()), float(z / v.size())};
}

// A 4x4 matrix from its rows (the stored form is by columns).
CbMatrix4Rf byRows(const float (&r)[4][4]) {
  CbMatrix4Rf m;
  for (int c = 0; c < 4; ++c)
    for (int k = 0; k < 4; ++k) m.m[c][k] = r[k][c];
  return m;
}

}  // namespace

// Every map is checked on what it must keep: the signed volume of point
// tetrahedra scales by the determinant, and a rigid map keeps every distance.
TEST(PolygonTransform, LengthsAndVolumesUpToTheDeterminant) {
  const float sheared[4][4] = {{2, 1, 0, 5}, {0, 3, 1, -2}, {1, 0, 0.5f, 7}, {0, 0, 0, 1}};
  const double shearedDet = 2 * (3 * 0.5 - 1 * 0) - 1 * (0 * 0.5 - 1 * 1) + 0;
  // A rotation about z by 0.3 scaled by 2 per axis and moved: with
  // rotationOnly only the rotation remains.
  const float c = std::cos(0.3f), s = std::sin(0.3f);
  const float scaled[4][4] = {{2 * c, -2 * s, 0, 10}, {2 * s, 2 * c, 0, 20}, {0, 0, 2, 30}, {0, 0, 0, 1}};
  struct Case {
    std::string name;
    std::function<void(CSSE3dPolygon&)> apply;
    double det;
    bool rigid;
  };
  const std::vector<Case> cases = {
      {"RotateZ", [](CSSE3dPolygon& p) { p.RotateZ(0.7f); }, 1, true},
      {"RotateXYZ", [](CSSE3dPolygon& p) { p.RotateXYZ(0.4f, -1.1f, 2.5f); }, 1, true},
      {"RotateZAroundPolyCenter", [](CSSE3dPolygon& p) { p.RotateZAroundPolyCenter(-2.0f); }, 1, true},
      {"TransformVertices", [](CSSE3dPolygon& p) { p.TransformVertices(0.9f, -0.6f); }, 1, true},
      {"TransformVerticesAboutCenter", [](CSSE3dPolygon& p) { p.TransformVerticesAboutCenter(-1.3f, 2.2f); }, 1, true},
      {"TransformUseGivenMatrix affine", [&](CSSE3dPolygon& p) { p.TransformUseGivenMatrix(byRows(sheared), false); },
       shearedDet, false},
      {"TransformUseGivenMatrix scaled", [&](CSSE3dPolygon& p) { p.TransformUseGivenMatrix(byRows(scaled), false); }, 8,
       false},
      {"TransformUseGivenMatrix rotationOnly", [&](CSSE3dPolygon& p) { p.TransformUseGivenMatrix(byRows(scaled), true); },
       1, true},
      {"SwapXandZCoord", [](CSSE3dPolygon& p) { p.SwapXandZCoord(); }, -1, true},
      {"SwapYandZCoord", [](CSSE3dPolygon& p) { p.SwapYandZCoord(); }, -1, true},
      {"FlipOrientationZ", [](CSSE3dPolygon& p) { p.FlipOrientationZ(true); }, -1, true},
      {"FlipOrientationAndMoveCoordsZ", [](CSSE3dPolygon& p) { p.FlipOrientationAndMoveCoordsZ(3.5f); }, -1, true},
  };
  const std::vector<P3> pts = randomPoints(41, 7, 20.0f);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CSSE3dPolygon p = polygonOf(pts);
    p.CalcBoundingBox();
    k.apply(p);
    const std::vector<P3> out = pointsOf(p);
    ASSERT_EQ(out.size(), pts.size());
    for (std::size_t i = 0; i + 3 < pts.size(); ++i) {
      const double before = det3(minus(pts[i + 1], pts[i]), minus(pts[i + 2], pts[i]), minus(pts[i + 3], pts[i]));
      const double after = det3(minus(out[i + 1], out[i]), minus(out[i + 2], out[i]), minus(out[i + 3], out[i]));
      ASSERT_NEAR(after, k.det * before, 1e-4 * std::fabs(k.det * 64000)) << i;
      for (std::size_t j = 0; k.rigid && j < i; ++j)
        ASSERT_NEAR(length(minus(out[i], out[j])), length(minus(pts[i], pts[j])), 2e-4) << i << " " << j;
    }
  }
}

TEST(PolygonTransform, KnownPointsAndTheBox) {
  const float b = 0.8f;
  const float translation[4][4] = {{1, 0, 0, 1}, {0, 1, 0, 2}, {0, 0, 1, 3}, {0, 0, 0, 1}};
  const float projective[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {1, 0, 0, 0}};
  struct Case {
    std::string name;
    std::function<void(CSSE3dPolygon&)> apply;
    P3 in, out;
    bool box;  // recalculated afterwards
  };
  const std::vector<Case> cases = {
      {"RotateZ quarter turn", [](CSSE3dPolygon& p) { p.RotateZ(float(M_PI / 2)); }, {1, 0, 5}, {0, -1, 5}, false},
      {"RotateXYZ zero", [](CSSE3dPolygon& p) { p.RotateXYZ(0, 0, 0); }, {3, -4, 5}, {3, -4, 5}, false},
      {"RotateXYZ about x", [](CSSE3dPolygon& p) { p.RotateXYZ(float(M_PI / 2), 0, 0); }, {0, 1, 0}, {0, 0, -1}, false},
      {"TransformVertices zero", [](CSSE3dPolygon& p) { p.TransformVertices(0, 0); }, {3, -4, 5}, {3, -4, 5}, true},
      {"TransformVertices tilt", [&](CSSE3dPolygon& p) { p.TransformVertices(0, b); }, {1, 0, 0},
       {std::cos(b), 0, std::sin(b)}, true},
      {"TransformVertices off the plane", [&](CSSE3dPolygon& p) { p.TransformVertices(float(M_PI / 2), b); }, {0, 0, 1},
       {0, -std::sin(b), std::cos(b)}, true},
      {"identity", [](CSSE3dPolygon& p) { p.TransformUseGivenMatrix(CbMatrix4Rf(), false); }, {3, -4, 5}, {3, -4, 5},
       false},
      {"translation", [&](CSSE3dPolygon& p) { p.TransformUseGivenMatrix(byRows(translation), false); }, {3, -4, 5},
       {4, -2, 8}, false},
      {"translation, rotationOnly", [&](CSSE3dPolygon& p) { p.TransformUseGivenMatrix(byRows(translation), true); },
       {3, -4, 5}, {3, -4, 5}, false},
      {"perspective divide", [&](CSSE3dPolygon& p) { p.TransformUseGivenMatrix(byRows(projective), false); }, {4, 2, 8},
       {1, 0.5f, 2}, false},
      {"FlipOrientationZ below the centre", [](CSSE3dPolygon& p) { p.FlipOrientationZ(false); }, {1, 2, 5}, {1, 2, 0},
       false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CSSE3dPolygon p = polygonOf({k.in});
    p.CalcBoundingBox();
    k.apply(p);
    const P3 q = pointsOf(p)[0];
    EXPECT_NEAR(q.x, k.out.x, 1e-6);
    EXPECT_NEAR(q.y, k.out.y, 1e-6);
    EXPECT_NEAR(q.z, k.out.z, 1e-6);
    EXPECT_EQ(p.IsBoundingBoxCalculated(), k.box);
    if (k.box) {
      EXPECT_EQ(p.GetTopRight().x, q.x);
    }
  }
  {
    SCOPED_TRACE("w' = 0 leaves no finite point");
    CSSE3dPolygon p = polygonOf({{0, 1, 2}});
    p.TransformUseGivenMatrix(byRows(projective), false);
    EXPECT_FALSE(std::isfinite(pointsOf(p)[0].y));
  }
  {
    SCOPED_TRACE("rotationOnly drops a column too short to have a direction");
    const float degenerate[4][4] = {{1e-20f, 0, 0, 0}, {0, 2, 0, 0}, {0, 0, 3, 0}, {0, 0, 0, 1}};
    CSSE3dPolygon p = polygonOf({{5, 6, 7}});
    p.TransformUseGivenMatrix(byRows(degenerate), true);
    const P3 q = pointsOf(p)[0];
    EXPECT_EQ(q.x, 0.0f);
    EXPECT_EQ(q.y, 6.0f);
    EXPECT_EQ(q.z, 7.0f);
  }
}

// The tilt-and-turn is a true rotation: the mesh's transform with both angles
// negated, bit for bit, about the origin and about the centre. On the plane
// z = 0 it is the matrix whose first row ends in -cb sa.
TEST(PolygonTransform, TransformVerticesIsTheMeshRotation) {
  const std::vector<P3> pts = randomPoints(30, 3, 50.0f);
  const float angles[][2] = {{0.0f, 0.0f}, {0.4f, -0.9f}, {-2.1f, 1.3f}, {3.0f, 0.25f}};
  for (const auto& ab : angles) {
    const float a = ab[0], b = ab[1];
    SCOPED_TRACE(std::to_string(a) + " " + std::to_string(b));
    for (bool aboutCentre : {false, true}) {
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
      const std::vector<P3> out = pointsOf(p);
      for (std::size_t i = 0; i < pts.size(); ++i) {
        const SSEPoint& m = *mesh.GetTriangle(int(i / 3))->corner[i % 3];
        ASSERT_EQ(out[i].x, m.x) << i;
        ASSERT_EQ(out[i].y, m.y) << i;
        ASSERT_EQ(out[i].z, m.z) << i;
      }
    }
    CSSE3dPolygon flat = polygonOf(pts);
    flat.SetAllZValues(0.0f);
    flat.TransformVertices(a, b);
    const double ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b);
    const std::vector<P3> out = pointsOf(flat);
    for (std::size_t i = 0; i < pts.size(); ++i) {
      EXPECT_NEAR(out[i].x, ca * cb * pts[i].x - sa * pts[i].y, 1e-4);
      EXPECT_NEAR(out[i].y, sa * cb * pts[i].x + ca * pts[i].y, 1e-4);
      EXPECT_NEAR(out[i].z, sb * pts[i].x, 1e-4);
    }
  }
}

// Every clip against a classification of each vertex on its own, on rings
// with points exactly on the dividing lines.
TEST(PolygonClip, HalfPlanesKeepTheStrictSide) {
  // Symmetric about (0, 0, 0) with points on every axis, so the centre is
  // exact and some points lie on each line.
  const std::vector<P3> symmetric = {{2, 0, 0}, {1, 1, 1}, {0, 2, -1}, {-1, 1, 0}, {-2, 0, 1}, {-1, -1, -1}, {0, -2, 1},
                                     {1, -1, -1}};
  struct Case {
    std::string name;
    void (CSSE3dPolygon::*clip)();
    int axis;
    bool below;
  };
  const std::vector<Case> cases = {
      {"KeepLeftHalfPlaneX", &CSSE3dPolygon::KeepLeftHalfPlaneX, 0, true},
      {"KeepRightHalfPlaneX", &CSSE3dPolygon::KeepRightHalfPlaneX, 0, false},
      {"KeepLowerHalfPlaneY", &CSSE3dPolygon::KeepLowerHalfPlaneY, 1, true},
      {"KeepUpperHalfPlaneY", &CSSE3dPolygon::KeepUpperHalfPlaneY, 1, false},
      {"KeepLowerHalfPlaneZ", &CSSE3dPolygon::KeepLowerHalfPlaneZ, 2, true},
      {"KeepUpperHalfPlaneZ", &CSSE3dPolygon::KeepUpperHalfPlaneZ, 2, false},
  };
  const auto coord = [](const P3& p, int axis) { return axis == 0 ? p.x : axis == 1 ? p.y : p.z; };
  for (const Case& k : cases) {
    for (const auto& [name, pts] : {std::pair{"symmetric", symmetric}, {"random", randomPoints(37, 11, 9.0f)}}) {
      SCOPED_TRACE(k.name + " " + name);
      CSSE3dPolygon p = polygonOf(pts);
      p.CalcGeometricCenter();
      SSEPoint c;
      p.GetGeometricCenter(c);
      (p.*k.clip)();
      std::vector<P3> expected;
      for (const P3& q : pts)
        if (k.below ? coord(q, k.axis) < c.f[k.axis] : coord(q, k.axis) > c.f[k.axis]) expected.push_back(q);
      EXPECT_TRUE(same(pointsOf(p), expected));
      if (name[0] == 's') {
        EXPECT_EQ(expected.size(), 3u);
      }
    }
  }
}

TEST(PolygonClip, AgainstAnotherPolygon) {
  const std::vector<P3> pts = randomPoints(60, 5, 12.0f);
  {
    SCOPED_TRACE("KeepPointsBelow: the nearest point of other lies higher");
    // A zigzag, so the nearest point of other is sometimes above, sometimes below.
    std::vector<P3> line;
    for (int i = -12; i <= 12; ++i) line.push_back({float(i), float(i % 3) * 2.0f - 2.0f, 0.0f});
    CSSE3dPolygon other = polygonOf(line);
    CSSE3dPolygon p = polygonOf(pts);
    p.KeepPointsBelow(other);
    std::vector<P3> expected;
    for (const P3& q : pts) {
      double best = INFINITY;
      float y = 0;
      for (const P3& o : line) {
        const double d = length(minus(q, o));
        if (d < best) best = d, y = o.y;
      }
      if (y > q.y) expected.push_back(q);
    }
    EXPECT_GT(expected.size(), 5u);
    EXPECT_LT(expected.size(), pts.size() - 5);
    EXPECT_TRUE(same(pointsOf(p), expected));
  }
  {
    SCOPED_TRACE("KeepPointsBelow: an empty other keeps nothing");
    CSSE3dPolygon empty, p = polygonOf(pts);
    p.KeepPointsBelow(empty);
    EXPECT_EQ(p.GetNumPoints(), 0);
  }
  {
    SCOPED_TRACE("KeepPointsInInner: inside a triangle");
    const std::vector<P3> tri = {{-10, -10, 0}, {10, -10, 0}, {0, 10, 0}};
    CSSE3dPolygon other = polygonOf(tri), p = polygonOf(pts);
    p.KeepPointsInInner(other);
    std::vector<P3> expected;
    for (const P3& q : pts) {
      // Inside: above the base and on the inner side of both slanted edges.
      if (q.y > -10 && 2 * (q.x + 10) - (q.y + 10) > 0 && 2 * (10 - q.x) - (q.y + 10) > 0) expected.push_back(q);
    }
    EXPECT_GT(expected.size(), 5u);
    EXPECT_TRUE(same(pointsOf(p), expected));
  }
  {
    SCOPED_TRACE("KeepPointsInInner: fewer than three points enclose nothing");
    CSSE3dPolygon other = polygonOf({{-100, -100, 0}, {100, 100, 0}}), p = polygonOf(pts);
    p.KeepPointsInInner(other);
    EXPECT_EQ(p.GetNumPoints(), 0);
  }
}

// Each start rule on a ring that starts elsewhere: the order stays cyclic and
// the chosen point comes first.
TEST(PolygonReorder, StartPointRules) {
  // 24 points around an ellipse wider in x, tilted so that z varies; the ring
  // starts at point 5.
  std::vector<P3> ring;
  for (int i = 0; i < 24; ++i) {
    const double t = 2 * M_PI * (i + 5) / 24;
    ring.push_back({float(10 + 8 * std::cos(t)), float(-5 + 4 * std::sin(t)), float(3 + std::cos(t) + std::sin(t))});
  }
  const auto indexOf = [&](const P3& p) {
    for (std::size_t i = 0; i < ring.size(); ++i)
      if (ring[i].x == p.x && ring[i].y == p.y && ring[i].z == p.z) return int(i);
    return -1;
  };
  const P3 c = centreOf(ring);
  // Brute force: the index with the best score among the candidates.
  const auto best = [&](auto candidate, auto score) {
    int k = 0;
    double s = INFINITY;
    for (std::size_t i = 0; i < ring.size(); ++i)
      if (candidate(ring[i]) && score(ring[i]) < s) s = score(ring[i]), k = int(i);
    return k;
  };
  const auto right = [&](const P3& p) { return p.x > c.x; };
  const auto up = [&](const P3& p) { return p.y > c.y; };
  const auto flatness = [&](const P3& p) { return std::fabs(std::asin((p.z - c.z) / length(minus(p, c)))); };
  struct Case {
    std::string name;
    std::function<void(CSSE3dPolygon&)> apply;
    int k;
  };
  const std::vector<Case> cases = {
      {"RotateIndices", [](CSSE3dPolygon& p) { p.RotateIndices(); }, best(right, [&](const P3& p) {
         return std::fabs(p.y - c.y);
       })},
      {"RotateIndicesXZ(tol)", [](CSSE3dPolygon& p) { p.RotateIndicesXZ(0.9f); },
       best([&](const P3& p) { return right(p) && std::fabs(p.z - c.z) < 0.9f; }, [](const P3& p) { return -p.x; })},
      {"RotateIndicesYZ(tol)", [](CSSE3dPolygon& p) { p.RotateIndicesYZ(0.9f); },
       best([&](const P3& p) { return up(p) && std::fabs(p.z - c.z) < 0.9f; }, [](const P3& p) { return -p.y; })},
      {"RotateIndicesXY", [](CSSE3dPolygon& p) { p.RotateIndicesXY(); }, best(right, flatness)},
      {"RotateIndicesXZ", [](CSSE3dPolygon& p) { p.RotateIndicesXZ(); },
       best(right, [&](const P3& p) { return std::fabs(std::atan2(p.z - c.z, p.x - c.x)); })},
      {"RotateIndicesYZ", [](CSSE3dPolygon& p) { p.RotateIndicesYZ(); },
       best(up, [&](const P3& p) { return std::fabs(std::atan2(p.z - c.z, p.y - c.y)); })},
      {"RotateIndicesXZ(tol) without candidates", [](CSSE3dPolygon& p) { p.RotateIndicesXZ(0.0f); }, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CSSE3dPolygon p = polygonOf(ring);
    k.apply(p);
    // Each rule picks a point other than the first.
    if (k.name.find("without") == std::string::npos) {
      EXPECT_NE(k.k, 0);
    }
    EXPECT_TRUE(same(pointsOf(p), rotated(ring, k.k))) << indexOf(pointsOf(p)[0]) << " for " << k.k;
  }
  {
    SCOPED_TRACE("RotateIndices(reference) undoes a shift of a noisy copy");
    std::vector<P3> noisy = rotated(ring, 17);
    for (std::size_t i = 0; i < noisy.size(); ++i) noisy[i].x += (i % 2 ? 0.3f : -0.3f);
    CSSE3dPolygon reference = polygonOf(ring), p = polygonOf(noisy);
    p.RotateIndices(&reference);
    EXPECT_TRUE(same(pointsOf(p), rotated(noisy, 7)));
    CSSE3dPolygon shorter = polygonOf({ring[0], ring[1]});
    p.RotateIndices(&shorter);
    EXPECT_TRUE(same(pointsOf(p), rotated(noisy, 7)));
  }
}
