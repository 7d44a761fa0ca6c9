#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "mesh_helpers.h"
#include "orvik/foundation/Exception.h"
#include "orvik/triangulation/HConvexHull3D.h"

using mesh_test::forEach;
using mesh_test::orient;

namespace {

using P = std::array<std::int64_t, 3>;
using Face = std::array<P, 3>;

Face canonical(Face f) {
  std::rotate(f.begin(), std::min_element(f.begin(), f.end()), f.end());
  return f;
}

// The hull's faces, each starting at its smallest point, after the checks every hull passes: face edge k
// joins the face's vertices k and k + 1, every point lies on or behind every face, V - E + F = 2.
std::set<Face> hullOf(const std::vector<P>& pts, bool check = false) {
  CHConvexHull3D hull;
  hull.SetCheck(check);
  for (const P& p : pts) hull.AppendVertex3D(float(p[0]), float(p[1]), float(p[2]), 1.0f);
  hull.CalcConvexHull();
  std::set<Face> faces;
  int wrong = 0;
  forEach(hull.GetFaces(), [&](tFaceStructure* f) {
    Face face;
    for (int k = 0; k < 3; ++k) {
      face[k] = {f->vertex[k]->v[0], f->vertex[k]->v[1], f->vertex[k]->v[2]};
      const std::set<tVertexStructure*> ends{f->edge[k]->endpts[0], f->edge[k]->endpts[1]};
      wrong += ends != std::set{f->vertex[k], f->vertex[(k + 1) % 3]};
    }
    for (const P& p : pts) wrong += orient(face[0], face[1], face[2], p) < 0;
    faces.insert(canonical(face));
  });
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(hull.GetNumFaces(), static_cast<int>(faces.size()));
  EXPECT_EQ(hull.GetNumVertices() - hull.GetNumEdges() + hull.GetNumFaces(), 2);
  EXPECT_EQ(2 * hull.GetNumEdges(), 3 * hull.GetNumFaces());
  EXPECT_TRUE(hull.Checks());
  return faces;
}

}  // namespace

TEST(ConvexHull3D, FacesEqualBruteForceInAnyOrder) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<std::int64_t> u(-1000, 1000);
    std::vector<P> pts(14);
    for (P& p : pts) p = {u(rng), u(rng), u(rng)};
    // A triple is a face when every other point lies strictly behind it (no four random points in a plane,
    // checked).
    std::set<Face> expected;
    for (const P& a : pts)
      for (const P& b : pts)
        for (const P& c : pts) {
          int behind = 0, coplanar = 0;
          for (const P& q : pts) {
            const int o = orient(a, b, c, q);
            behind += o > 0, coplanar += o == 0;
          }
          ASSERT_TRUE(coplanar == 3 || a == b || b == c || a == c) << "four points in a plane";
          if (coplanar == 3 && behind == 11) expected.insert(canonical({a, b, c}));
        }
    EXPECT_EQ(hullOf(pts, true), expected);
    std::mt19937 shuffler(seed);
    for (int r = 0; r < 3; ++r) {
      std::shuffle(pts.begin(), pts.end(), shuffler);
      EXPECT_EQ(hullOf(pts), expected);
    }
  }
}

TEST(ConvexHull3D, DegenerateAndLargeInputs) {
  std::vector<P> lattice, far, sphere;
  for (int x = 0; x < 125; ++x) lattice.push_back({x % 5 * 10, x / 5 % 5 * 10, x / 25 * 10});
  // A cube far out with points just inside and on its faces: products of the differences pass 64 bits.
  const std::int64_t big = std::int64_t{1} << 38;
  for (int c = 0; c < 8; ++c) far.push_back({c & 1 ? big : -big, c & 2 ? big : -big, c & 4 ? big : -big});
  far.insert(far.end(), {{big - 1, big - 1, big - 1}, {big, 12345, -67890}, {0, 0, 0}});
  std::mt19937 rng(3);
  std::normal_distribution<double> g;
  for (int i = 0; i < 300; ++i) {
    const double x = g(rng), y = g(rng), z = g(rng), r = std::sqrt(x * x + y * y + z * z);
    sphere.push_back({std::llround(2e6 * x / r), std::llround(2e6 * y / r), std::llround(2e6 * z / r)});
  }
  const std::tuple<const char*, std::vector<P>, int> cases[] = {
      {"5x5x5 lattice: many points on each face", lattice, -1},
      {"cube near the coordinate limit", far, -1},
      {"points on a sphere of radius 2e6", sphere, -1},
      {"tetrahedron with repeated points",
       {{0, 0, 0}, {0, 0, 0}, {9, 0, 0}, {0, 9, 0}, {0, 0, 9}, {9, 0, 0}},
       4},
  };
  for (const auto& [name, pts, faces] : cases) {
    SCOPED_TRACE(name);
    const std::set<Face> h = hullOf(pts, pts.size() < 200);
    EXPECT_TRUE(faces < 0 || static_cast<int>(h.size()) == faces);
  }
}

TEST(ConvexHull3D, FailuresQuantisationAndRebuild) {
  const std::tuple<const char*, std::vector<P>, int> cases[] = {
      {"no points", {}, 294},
      {"two points", {{0, 0, 0}, {1, 2, 3}}, 294},
      {"three collinear", {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}}, 294},
      {"three points", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, 332},
      {"four coplanar", {{0, 0, 5}, {1, 0, 5}, {0, 1, 5}, {7, 7, 5}}, 332},
  };
  for (const auto& [name, pts, line] : cases) {
    SCOPED_TRACE(name);
    CHConvexHull3D hull;
    for (const P& p : pts) hull.AppendVertex3D(float(p[0]), float(p[1]), float(p[2]), 1.0f);
    try {
      hull.CalcConvexHull();
      ADD_FAILURE() << "no exception";
    } catch (const CbException& e) {
      EXPECT_STREQ(e.GetFile(), "HConvexHull3D");
      EXPECT_EQ(e.GetLine(), line);
      EXPECT_STREQ(e.GetFunction(), "CHConvexHull3D::DoubleTriangle");
    }
  }
  CHConvexHull3D hull;
  hull.AppendVertex3D(-0.5f, -1.25f, 0.0f, 4.0f);   // -2 and -5: floor(x + 0.5) rounds half up
  hull.AppendVertex3D(-0.49f, -1.25f, 0.0f, 4.0f);  // -1.96 rounds to the same point
  hull.AppendVertex3D(0.9f, 0, 0, 4.0f);            // 3.6 rounds to 4
  hull.AppendVertex3D(0, 1, 0, 4.0f);
  hull.AppendVertex3D(0, 0, 1, 4.0f);
  hull.CalcConvexHull();
  hull.CalcConvexHull();  // a second build does nothing
  EXPECT_EQ(hull.GetNumVertices(), 4);
  EXPECT_EQ(hull.GetNumFaces(), 4);
  std::set<std::pair<float, float>> corners;
  SSEPoint one(1, 1, 1, 0);
  forEach(hull.GetFaces(), [&](tFaceStructure* f) {
    for (int k = 0; k < 3; ++k) {
      const SSEPoint p = hull.GetVertexFromFace3D(f, k, one);
      corners.insert({p.x, p.y});
      EXPECT_EQ(hull.GetVertexFromFace(f, k).x, p.x / 10);
    }
  });
  EXPECT_EQ(corners, (std::set<std::pair<float, float>>{{-2, -5}, {4, 0}, {0, 4}, {0, 0}}));
  CHConvexHull3D far;
  EXPECT_THROW(far.AppendVertex3D(1e30f, 0, 0, 1), CbException);
  EXPECT_THROW(far.AppendVertex3D(std::nanf(""), 0, 0, 1), CbException);
  EXPECT_THROW(far.AppendVertex2D(6e4f, 0, -1, false), CbException);
}
