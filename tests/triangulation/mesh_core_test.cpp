#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <tuple>

#include "mesh_helpers.h"
#include "orvik/foundation/Exception.h"

using namespace mesh_test;

namespace {

// Corner k of A matches B when it equals one of B's corners; the first matching corner pair in the order
// (0,1), (1,2), (2,0) names the slot, from A's side and then from B's.
std::vector<std::array<int, 3>> pairwiseNeighbours(const std::vector<Tri>& tris) {
  const int n = static_cast<int>(tris.size());
  std::vector<std::array<int, 3>> out(n, {-1, -1, -1});
  auto slot = [&](int a, int b) {
    bool m[3];
    for (int k = 0; k < 3; ++k)
      m[k] = sameXYZ(tris[a][k], tris[b][0]) || sameXYZ(tris[a][k], tris[b][1]) ||
             sameXYZ(tris[a][k], tris[b][2]);
    return m[0] && m[1] ? 0 : m[1] && m[2] ? 1 : m[2] && m[0] ? 2 : -1;
  };
  for (int a = 0; a < n; ++a)
    for (int b = a + 1; b < n; ++b) {
      if (const int sa = slot(a, b); sa >= 0) {
        out[a][sa] = b;
        if (const int sb = slot(b, a); sb >= 0) out[b][sb] = a;
      }
    }
  return out;
}

}  // namespace

TEST(MeshNeighbours, EqualThePairwiseSearch) {
  const SSEPoint a(0, 0, 0), b(1, 0, 0), c(0, 1, 0), d(1, 1, 0), e(2, 0, 0), nan(std::nanf(""), 0, 0);
  const std::pair<const char*, std::vector<Tri>> cases[] = {
      {"irregular grid, mixed orientation", grid(9, 7, 0.3f, false, true, 1)},
      {"flat grid of a height field", grid(12, 5, 0.0f, true, false, 2)},
      {"flat irregular grid", grid(6, 6, 0.4f, true, true, 3)},
      {"closed octahedron", octahedron()},
      {"one triangle", {{a, b, c}}},
      {"shared edge stored in opposite order", {{a, b, c}, {b, a, SSEPoint(0.5f, -1, 0)}}},
      // A lane-wise match would pair (0,0,0)-(1,0,0) with (1,0,1)-(0,0,1).
      {"equal x and y in other corners is no match",
       {{a, b, c}, {SSEPoint(1, 0, 1), SSEPoint(0, 0, 1), SSEPoint(0, -1, 1)}}},
      {"three triangles on one edge: each gets the last other one",
       {{a, b, c}, {b, a, SSEPoint(0, -1, 0)}, {a, b, SSEPoint(0, 0, 1)}}},
      {"NaN corners match nothing, -0 matches 0",
       {{nan, b, c}, {b, nan, d}, {SSEPoint(-0.0f, 0, 0), b, e}, {b, a, d}}},
  };
  for (const auto& [name, tris] : cases) {
    SCOPED_TRACE(name);
    CHTriangulation mesh;
    fill(mesh, tris);
    mesh.CalcNeighbours();
    const auto expected = pairwiseNeighbours(tris);
    int border = 0;
    for (int i = 0; i < mesh.GetNumTriangles(); ++i) {
      const t_htriangle* t = mesh.GetTriangle(i);
      for (int k = 0; k < 3; ++k)
        ASSERT_EQ(t->neighbour[k] ? int(t->neighbour[k] - mesh.GetTriangles()) : -1, expected[i][k])
            << i << "," << k;
      const bool open = expected[i][0] < 0 || expected[i][1] < 0 || expected[i][2] < 0;
      EXPECT_EQ(t->mark == CHTriangulation::c_iBorderMark, open) << i;
      border += open ? 1 : 0;
    }
    // The working list holds the border triangles in array order.
    int listed = 0;
    const t_htriangle* prev = nullptr;
    for (const t_htriangle* t = mesh.GetTriangleList(); t; prev = t, t = t->next, ++listed) {
      ASSERT_TRUE(t->prev == prev && (!prev || t > prev));
      EXPECT_EQ(t->mark, CHTriangulation::c_iBorderMark);
    }
    EXPECT_EQ(listed, border);
  }
}

// A degenerate triangle gets 0.
TEST(MeshNormals, FaceNormalsAgainstCrossProducts) {
  auto tris = grid(5, 4, 0.3f, false, true, 7);
  tris.push_back({SSEPoint(0, 0, 0), SSEPoint(1, 1, 1), SSEPoint(2, 2, 2)});
  CHTriangulation mesh;
  fill(mesh, tris);
  mesh.OrientTrianglesTowardsBBoxCenter();
  for (int i = 0; i < mesh.GetNumTriangles(); ++i) {
    const Tri& t = tris[i];
    const double sx = t[1].x - t[0].x, sy = t[1].y - t[0].y, sz = t[1].z - t[0].z;
    const double tx = t[2].x - t[0].x, ty = t[2].y - t[0].y, tz = t[2].z - t[0].z;
    const double n[3] = {sy * tz - sz * ty, sz * tx - sx * tz, sx * ty - sy * tx};
    const double len = std::max(std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]), 1e-30);
    for (const SSEPoint* got : mesh.GetTriangle(i)->normal)
      EXPECT_TRUE(std::fabs(got->x - n[0] / len) < 1e-5 && std::fabs(got->y - n[1] / len) < 1e-5 &&
                  std::fabs(got->z - n[2] / len) < 1e-5 && got->w == 0.0f)
          << i;
  }
}

TEST(MeshCore, CreateCopyAppendCombine) {
  CHTriangulation empty;  // destroying an empty mesh is safe
  EXPECT_TRUE(empty.GetNumTriangles() == 0 && empty.GetTriangle(0) == nullptr);
  EXPECT_THROW(empty.CreateTriangulation(-1), CbException);
  CHTriangulation two(2, 0.5f, 2.0f, 3.0f);
  const t_htriangle* second = two.GetTriangle(1);
  EXPECT_TRUE(second->index == 1 && second->mark == -1 && two.GetTriangle(-1) == nullptr &&
              two.GetTriangle(2) == nullptr);

  const auto tris = grid(3, 2, 0.2f, false, false, 4);
  const int n = static_cast<int>(tris.size());
  CHTriangulation source(0, 2.0f, 3.0f, 4.0f);
  fill(source, tris);
  source.CalcNeighbours();
  source.CalcBoundingBox();
  source.GetTriangle(3)->mark = 7;
  // Mesh `m` holds the source's triangles from `first` on, their neighbours among them.
  auto expectSource = [&](const CHTriangulation& m, int first, bool reversed) {
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < 3; ++k) {
        const t_htriangle *t = m.GetTriangle(first + j), *nb = source.GetTriangle(j)->neighbour[k];
        EXPECT_TRUE(sameXYZ(*t->corner[k], tris[j][reversed ? 2 - k : k])) << j;
        EXPECT_EQ(t->neighbour[k], nb && !reversed ? m.GetTriangle(first + nb->index) : nullptr);
        EXPECT_TRUE(reversed || (t->index == j && t->mark == source.GetTriangle(j)->mark)) << j;
      }
  };
  CHTriangulation byPointer(&source), byValue(source), assigned;
  assigned = source;
  for (const CHTriangulation* copy : {&byPointer, &byValue, &assigned}) {
    ASSERT_EQ(copy->GetNumTriangles(), n);
    EXPECT_TRUE(copy->GetEdgeArray() != source.GetEdgeArray() && copy->GetScaleY() == 3.0f);
    expectSource(*copy, 0, false);
  }
  CHTriangulation appended(&source), combined(&source);
  SSEPoint centre(5, 6, 7), lo, c;
  appended.GetPointArray()[0] = SSEPoint();
  appended.GetPointArray()[2] = centre;
  appended.AppendTriangulation(&source);
  ASSERT_EQ(appended.GetNumTriangles(), 2 * n);
  expectSource(appended, n, false);
  appended.GetMinPoint(lo);
  appended.GetCenterPoint(c);
  source.GetMinPoint(centre);
  EXPECT_TRUE(sameXYZ(lo, centre) && c.x == 5.0f);
  combined.Combine(source, true);
  ASSERT_EQ(combined.GetNumTriangles(), 2 * n);
  expectSource(combined, n, true);
  double sum = 0;
  for (int j = 0; j < n; ++j) {
    EXPECT_NEAR(combined.GetTriangle(n + j)->normal[1]->z, -combined.GetTriangle(j)->normal[0]->z, 1e-6);
    sum += double(tris[j][0].x) + tris[j][1].x + tris[j][2].x;
  }
  combined.GetCenterPoint(c);
  EXPECT_NEAR(c.x, sum / (3.0 * n), 1e-4);
}

// An empty mesh's bounds are the search start values.
TEST(MeshCore, ListsAndBounds) {
  CHTriangulation mesh;
  mesh.CalcBoundingBox();
  EXPECT_TRUE(
      std::memcmp(mesh.GetPointArray(), std::array{_mm_set1_ps(1e6f), _mm_set1_ps(-1e6f)}.data(), 32) == 0);
  fill(mesh, grid(2, 1, 0.0f, false, false, 5));
  mesh.IndexTriangleList();
  t_htriangle* t = mesh.GetTriangles();
  for (t_htriangle* gone : {t + 1, t + 1, static_cast<t_htriangle*>(nullptr)})
    mesh.DeleteTriangleFromList(gone);
  EXPECT_TRUE(t[0].next == t + 2 && t[2].prev == t);
  mesh.DeleteTriangleFromList(t);
  EXPECT_TRUE(mesh.GetTriangleList() == t + 2 && t[2].prev == nullptr);
  auto *a = new t_stretch{}, *b = new t_stretch{};
  mesh.AppendStretchToList(a);
  mesh.AppendStretchToList(b);
  EXPECT_TRUE(mesh.GetStretchList() == b && b->next == a);
  mesh.DeleteStretchFromList(b);
  EXPECT_TRUE(mesh.GetStretchList() == a && a->prev == nullptr);  // `a` is released with the mesh
}

// Rotations keep lengths and angles, scalings multiply every corner exactly and keep the normals.
TEST(MeshTransforms, MovesCornersAndDerivedData) {
  const auto tris = grid(3, 3, 0.3f, false, true, 6);
  CHTriangulation reference;
  fill(reference, tris);
  reference.CalcNormalsFromVertices();
  SSEPoint centre(1.5f, 1.5f, 2.0f);
  CbMatrix4Rf move;
  move.m[3][0] = 2, move.m[3][1] = -1, move.m[3][2] = 0.5f;
  const std::tuple<const char*, std::function<void(CHTriangulation&)>, SSEPoint> cases[] = {
      {"rotation a, b, c", [](CHTriangulation& m) { m.TransformVertices(0.3f, -0.7f, 1.1f); }, {}},
      {"rotation a, b", [](CHTriangulation& m) { m.TransformVertices(0.5f, 0.2f); }, {}},
      {"about a point",
       [&](CHTriangulation& m) { m.TransformVerticesAboutPoint(0.4f, 0.1f, 0.9f, centre); },
       {}},
      {"a, b about a point",
       [&](CHTriangulation& m) { m.TransformVerticesAboutPoint(-0.4f, 0.6f, centre); },
       {}},
      {"matrix translation", [&](CHTriangulation& m) { m.TransformVertices(move); }, {}},
      {"rescale", [](CHTriangulation& m) { m.ReScaleTriangulation(2, 3, 0.5f); }, {2, 3, 0.5f}},
      {"blow", [](CHTriangulation& m) { m.BlowTriangulation(2, -1, 0.5f); }, {2, -1, 0.5f}},
  };
  for (const auto& [name, apply, scale] : cases) {
    SCOPED_TRACE(name);
    CHTriangulation mesh(&reference);
    apply(mesh);
    SSEPoint lo, hi, wantLo = _mm_set1_ps(1e6f), wantHi = _mm_set1_ps(-1e6f);
    for (int i = 0; i < 3 * mesh.GetNumTriangles(); ++i) {
      const SSEPoint &p = mesh.GetEdgeArray()[i], &q = reference.GetEdgeArray()[i];
      wantLo.v = _mm_min_ps(wantLo.v, p.v);
      wantHi.v = _mm_max_ps(wantHi.v, p.v);
      EXPECT_TRUE(scale.x == 0 ||
                  (p.x == scale.x * q.x && p.y == scale.y * q.y && p.z == scale.z * q.z &&
                   std::memcmp(&mesh.GetNormalArray()[i], &reference.GetNormalArray()[i], 16) == 0))
          << i;
    }
    mesh.GetMinPoint(lo);
    mesh.GetMaxPoint(hi);
    EXPECT_TRUE(std::memcmp(&lo, &wantLo, 16) == 0 && std::memcmp(&hi, &wantHi, 16) == 0);
    for (int i = 0; i < mesh.GetNumTriangles(); ++i) {
      const t_htriangle *t = mesh.GetTriangle(i), *r = reference.GetTriangle(i);
      EXPECT_TRUE(t->s->x == t->corner[1]->x - t->corner[0]->x &&
                  t->v->z == t->corner[2]->z - t->corner[1]->z);
      EXPECT_EQ(t->minCorner->y, std::min({t->corner[0]->y, t->corner[1]->y, t->corner[2]->y}));
      EXPECT_TRUE(scale.x != 0 || (std::fabs(CSSEFns::vectorlen(*t->t) - CSSEFns::vectorlen(*r->t)) < 1e-4 &&
                                   std::fabs(CSSEFns::scalarproduct(*t->s, *t->t) -
                                             CSSEFns::scalarproduct(*r->s, *r->t)) < 1e-3));
    }
  }
  // The point of rotation stays; a projective matrix (w = 2) divides by w.
  CHTriangulation mesh, shifted(&reference);
  fill(mesh, {{centre, SSEPoint(3, 1, 2), SSEPoint(1, 3, 2)}});
  mesh.TransformVerticesAboutPoint(0.4f, 0.1f, 0.9f, centre);
  EXPECT_TRUE(std::fabs(mesh.GetEdgeArray()[0].x - centre.x) < 1e-6f &&
              std::fabs(mesh.GetEdgeArray()[0].z - 2) < 1e-6f);
  fill(mesh, {{SSEPoint(2, 4, 6), SSEPoint(1, 0, 0), SSEPoint(0, 1, 0)}});
  CbMatrix4Rf m;
  m.m[3][3] = 2;
  mesh.TransformVertices(m);
  EXPECT_TRUE(mesh.GetEdgeArray()[0].y == 2.0f && mesh.GetEdgeArray()[0].z == 3.0f);
  shifted.CalcBoundingBox();
  SSEPoint before, after;
  shifted.GetMaxPoint(before);
  shifted.ShiftTriangulation(1, 2, 3);
  shifted.GetMaxPoint(after);
  const t_htriangle *t = shifted.GetTriangle(4), *r = reference.GetTriangle(4);
  EXPECT_TRUE(after.z == before.z + 3 && t->corner[0]->y == tris[4][0].y + 2);
  EXPECT_TRUE(t->maxCorner->x == r->maxCorner->x + 1 && t->s->x == r->s->x);
}

TEST(MeshClipping, KeepsTheTrianglesTheRuleNames) {
  auto tri = [](float z0, float z1, float z2, float x) {
    return Tri{SSEPoint(x, 0, z0), SSEPoint(x + 1, 0, z1), SSEPoint(x, 1, z2)};
  };
  const std::vector<Tri> tris = {tri(1, 1.5f, 3, 0), tri(1, 2.5f, 2.5f, 2), tri(2, 0, 0, 4), tri(4, 6, 6, 6)};
  struct Case {
    const char* name;
    void (*apply)(CHTriangulation&);
    std::vector<float> keptX;
  };
  const Case cases[] = {
      {"between 1 and 2 (closed interval)", [](CHTriangulation& m) { m.RemoveTrianglesBetweenZ(1, 2); }, {6}},
      {"above 5 keeps a corner at 4", [](CHTriangulation& m) { m.RemoveTrianglesAboveZ(5); }, {0, 2, 4, 6}},
      {"above 1", [](CHTriangulation& m) { m.RemoveTrianglesAboveZ(1); }, {4}},
      {"below 2.5", [](CHTriangulation& m) { m.RemoveTrianglesBelowZ(2.5f); }, {0, 6}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CHTriangulation mesh;
    fill(mesh, tris);
    for (int i = 0; i < 4; ++i) mesh.GetTriangle(i)->mark = 20 + i;
    mesh.CalcBoundingBox();
    c.apply(mesh);
    ASSERT_EQ(mesh.GetNumTriangles(), static_cast<int>(c.keptX.size()));
    for (int i = 0; i < mesh.GetNumTriangles(); ++i) {
      const t_htriangle* t = mesh.GetTriangle(i);
      EXPECT_TRUE(t->corner[0]->x == c.keptX[i] && t->index == static_cast<int>(c.keptX[i]) / 2);
      EXPECT_EQ(t->mark, 13);  // no neighbours among them
      EXPECT_EQ(t->t->y, 1.0f);
    }
    SSEPoint hi;
    mesh.GetMaxPoint(hi);
    EXPECT_EQ(hi.z, 6.0f);  // the bounds keep their values
  }
}
