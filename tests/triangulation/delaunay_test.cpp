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
#include "orvik/polygon/SSE3dPolygon.h"
#include "orvik/triangulation/H2DDelaunay.h"

using mesh_test::forEach;

namespace {

using i128 = __int128;
using P = std::array<std::int64_t, 2>;  // on the quantised grid (ten per world unit)
using mesh_test::cross;

// > 0 when d lies inside the circle through a, b, c (counter-clockwise): d lies below their plane when
// lifted onto the paraboloid.
int inCircle(const P& a, const P& b, const P& c, const P& d) {
  const auto lift = [](const P& p) { return std::array{p[0], p[1], p[0] * p[0] + p[1] * p[1]}; };
  return mesh_test::orient(lift(a), lift(b), lift(c), lift(d));
}

// Every face clockwise with no point inside its circumcircle, the faces tiling the hull, 2n - b - 2 of them,
// every point used.
void expectDelaunay(const std::vector<P>& input) {
  CH2DDelaunay d;
  for (const P& p : input) d.AppendVertex(float(p[0]) / 10, float(p[1]) / 10, -1, false);
  d.CalcDelaunayTriangulation();
  std::vector<P> pts = input;
  std::sort(pts.begin(), pts.end());
  pts.erase(std::unique(pts.begin(), pts.end()), pts.end());
  const std::vector<P> hull = mesh_test::monotoneChain(pts, true);  // collinear boundary points kept
  i128 hullArea = 0;
  for (std::size_t i = 0; i < hull.size(); ++i)
    hullArea += cross(P{0, 0}, hull[i], hull[(i + 1) % hull.size()]);
  const int boundary = static_cast<int>(hull.size());
  i128 area = 0;
  int faces = 0;
  std::set<P> used;
  forEach(d.GetFaces(), [&](tFaceStructure* f) {
    P v[3];
    for (int k = 0; k < 3; ++k) {
      v[k] = {f->vertex[k]->v[0], f->vertex[k]->v[1]};
      EXPECT_EQ(f->vertex[k]->v[2], v[k][0] * v[k][0] + v[k][1] * v[k][1]);
      used.insert(v[k]);
    }
    const i128 twice = cross(v[0], v[1], v[2]);
    ASSERT_LT(twice, 0) << "lower faces run clockwise seen from +z";
    area -= twice;
    for (const P& q : pts) ASSERT_LE(inCircle(v[0], v[2], v[1], q), 0) << "a point inside a circumcircle";
    ++faces;
  });
  EXPECT_EQ(faces, d.GetNumFaces());
  EXPECT_EQ(area, hullArea);  // the triangles tile the hull (their areas sum to it, none is flipped)
  EXPECT_EQ(faces, 2 * static_cast<int>(pts.size()) - boundary - 2);
  EXPECT_EQ(used.size(), pts.size());
}

}  // namespace

TEST(Delaunay, EmptyCircumcirclesOnIntegerPoints) {
  std::mt19937_64 rng(5);
  std::uniform_int_distribution<std::int64_t> u(-300, 300);
  std::vector<P> random(200), lattice, circle;
  for (P& p : random) p = {u(rng), u(rng)};
  for (int i = 0; i < 42; ++i) lattice.push_back({i % 7 * 10, i / 7 * 10});
  for (auto [x, y] : {std::pair{50, 0}, {30, 40}, {40, 30}, {0, 50}})
    for (int s : {0, 1, 2, 3}) circle.push_back({s & 1 ? -x : x, s & 2 ? -y : y});
  std::vector<P> repeats(random.begin(), random.begin() + 50), far(random.begin() + 50, random.begin() + 110);
  repeats.insert(repeats.end(), random.begin(), random.begin() + 10);
  for (P& p : far) p = {p[0] * 330, p[1] * 330};
  far.push_back({100000, 100000});  // around 10^4 world units: the lifted determinants pass 64 bits
  const std::pair<const char*, std::vector<P>> cases[] = {
      {"random", random},
      {"random with repeats", repeats},
      {"lattice: every cell cocircular", lattice},
      {"twelve points on one circle", circle},
      {"a square", {{0, 0}, {10, 0}, {10, 10}, {0, 10}}},
      {"three points", {{0, 0}, {30, 0}, {0, 20}}},
      {"far from the origin", far},
  };
  for (const auto& [name, pts] : cases) {
    SCOPED_TRACE(name);
    expectDelaunay(pts);
  }
}

TEST(Delaunay, DegenerateInputAndNumbering) {
  const std::pair<std::vector<P>, int> collinear[] = {
      {{}, 294}, {{{0, 0}, {10, 10}}, 294}, {{{0, 0}, {10, 10}, {30, 30}, {-20, -20}}, 332}};
  for (const auto& [pts, line] : collinear) {
    CH2DDelaunay d;
    for (const P& p : pts) d.AppendVertex(float(p[0]) / 10, float(p[1]) / 10, -1, false);
    try {
      d.CalcDelaunayTriangulation();
      ADD_FAILURE() << "collinear input gave a triangulation";
    } catch (const CbException& e) {
      EXPECT_EQ(e.GetLine(), line);
    }
  }
  CH2DDelaunay d;
  d.AppendVertex(0.0f, 0.0f, -1, false);
  d.AppendVertex(0.04f, 0.0f, -1, true);  // 0.4 units: rounds onto the first point
  d.AppendVertex(1.0f, 0.0f, 7, true);
  d.AppendVertex(0.0f, 1.0f, -1, false);
  d.CalcDelaunayTriangulation();
  d.CalcDelaunayTriangulation();
  EXPECT_EQ(d.GetNumVertices(), 3);
  EXPECT_EQ(d.GetNumFaces(), 1);
  std::set<int> numbers;
  forEach(d.GetVertices(), [&](tVertexStructure* v) {
    numbers.insert(v->vnum);
    EXPECT_EQ(v->flag, v->vnum == 7);
  });
  EXPECT_EQ(numbers, (std::set<int>{0, 7, 2}));
}

namespace {

// Sets the border lines directly, to test the face filter alone.
struct LinedDelaunay : CH2DDelaunay {
  void setLines(float bottom, float top) {
    for (auto [line, y] : {std::pair{&m_BottomLine, bottom}, {&m_TopLine, top}}) {
      line->Create(9);
      for (int i = 0; i < 9; ++i) line->SetPoint(i, 5.0f * i, y);
    }
  }
};

}  // namespace

// Rows at y 0 and 10 and a peak at 30: lines at 0 and 100 on the grid keep the strip of four cells, lines
// above every point leave no face, the head of the list included; the count is taken after filtering.
TEST(Delaunay, FaceFilterTestsEveryFace) {
  for (auto [bottom, top, left] : {std::tuple{0.0f, 100.0f, 8}, {500.0f, 600.0f, 0}}) {
    SCOPED_TRACE(left);
    LinedDelaunay d;
    for (int x = 0; x <= 4; ++x) {
      d.AppendVertex(float(x), 0.0f, -1, true);
      d.AppendVertex(float(x), 10.0f, -1, false);
    }
    d.AppendVertex(2.0f, 30.0f, -1, false);
    d.CalcDelaunayTriangulation();
    d.setLines(bottom, top);
    d.RemoveFacesOutOfBorderLines(5.0f);
    int faces = 0;
    forEach(d.GetFaces(), [&](tFaceStructure* f) {
      ++faces;
      for (auto* v : f->vertex) EXPECT_LE(v->v[1], 100);
    });
    EXPECT_TRUE(faces == left && d.GetNumFaces() == left) << faces << " " << d.GetNumFaces();
  }
}

// Two small grids (z 5 and 0, one corner per cell raised by 1): their border triangles right of the centre (x
// 1.5) feed the top line as (10 y, 10 z), left of it the bottom line; the loft moves every vertex onto its
// mesh corner.
TEST(Delaunay, BorderPointsAndLoft) {
  CHTriangulation meshes[2];  // upper, lower
  for (int m = 0; m < 2; ++m) {
    std::vector<mesh_test::Tri> tris;
    for (int i = 0; i < 6; ++i) {
      const float x = i % 3, y = i / 3, z = m ? 0.0f : 5.0f;
      const SSEPoint a(x, y, z), b(x + 1, y, z), c(x, y + 1, z), d(x + 1, y + 1, z + 1);
      tris.insert(tris.end(), {{a, b, d}, {a, d, c}});
    }
    mesh_test::fill(meshes[m], tris);
    meshes[m].CalcNeighbours();
  }
  CH2DDelaunay d;
  d.GetBorderPointsTop(&meshes[0], false);
  d.GetBorderPointsBottom(&meshes[1], true);
  int count[2] = {};
  const auto corner = [&](const tVertexStructure* v) -> const SSEPoint& {
    return *meshes[v->flag].GetTriangle(v->vnum / 3)->corner[v->vnum % 3];
  };
  forEach(d.GetVertices(), [&](tVertexStructure* v) {
    ++count[v->flag];
    const SSEPoint& c = corner(v);
    EXPECT_EQ(meshes[v->flag].GetTriangle(v->vnum / 3)->mark, 13);
    EXPECT_TRUE(v->v[0] == std::llround(10 * c.y) && v->v[1] == std::llround(10 * c.z));
    EXPECT_TRUE(v->flag ? c.x <= 1.5f : c.x > 1.5f);
  });
  EXPECT_TRUE(count[0] > 0 && count[0] == d.GetTopLine().GetNumPoints());
  EXPECT_EQ(count[1], d.GetBottomLine().GetNumPoints());
  for (int i = 0; i < count[1]; ++i) {
    float x = 0, y = 0;
    d.GetBottomLine().GetPoint(i, x, y);
    EXPECT_LT(y, 50.0f) << "the bottom line holds points of the lower mesh only";
  }
  d.LoftWith3DTriangulation(&meshes[1], &meshes[0]);
  forEach(d.GetVertices(), [&](tVertexStructure* v) {
    const SSEPoint& c = corner(v);
    EXPECT_TRUE(v->v[0] == std::int64_t(std::floor(10 * c.x)) &&
                v->v[2] == std::int64_t(std::floor(10 * c.z)));
  });
}

// Two squares of equal perimeter, 3 apart in height: the strip is a band of 2N triangles, each joining both
// curves, lifted back onto their points (ring point i is the curve's point i - 1).
TEST(Delaunay, StripBetweenTwoClosedCurves) {
  CSSE3dPolygon curves[2];
  const float pts[8][2] = {{0, 0}, {2, 0}, {4, 0}, {4, 2}, {4, 4}, {2, 4}, {0, 4}, {0, 2}};
  for (int c = 0; c < 2; ++c) {
    curves[c].Create(8);
    for (int i = 0; i < 8; ++i) curves[c].SetPoint(i, pts[i][0] + 0.5f * c, pts[i][1], 3.0f * c);
  }
  CH2DDelaunay d;
  d.CreateTriangulationFromTwoBorderPolygons(&curves[0], &curves[1], false);
  EXPECT_EQ(d.GetBottomLine().GetNumPoints(), 9);
  int faces = 0;
  forEach(d.GetFaces(), [&](tFaceStructure* f) {
    int low = 0;
    ++faces;
    for (auto* v : f->vertex) {
      const bool onP = v->v[2] == 0;
      low += onP ? 1 : 0;
      const std::int64_t x = v->v[0] - (onP ? 0 : 5), y = v->v[1];  // floor(10 x) of a curve point
      EXPECT_TRUE(x % 20 == 0 && y % 20 == 0 && x >= 0 && x <= 40 && y >= 0 && y <= 40) << x << " " << y;
      EXPECT_TRUE(x == 0 || x == 40 || y == 0 || y == 40);
    }
    EXPECT_TRUE(low == 1 || low == 2);
    for (auto* e : f->edge) EXPECT_TRUE(e->adjface[0] == f || e->adjface[1] == f);
  });
  EXPECT_TRUE(faces == 16 && d.GetNumFaces() == 16);
  forEach(d.GetVertices(), [&](tVertexStructure* v) {
    EXPECT_TRUE(!(v->vnum == 1 && v->flag) || (v->v[0] == 0 && v->v[1] == 0));
    EXPECT_TRUE(!(v->vnum == 3 && !v->flag) || (v->v[0] == 45 && v->v[1] == 0));
  });
}
