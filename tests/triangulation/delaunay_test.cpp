#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <set>
#include <vector>

#include "orvik/foundation/Exception.h"
#include "orvik/triangulation/H2DDelaunay.h"

namespace {

using i128 = __int128;
using P = std::array<std::int64_t, 2>;  // on the quantised grid (ten per world unit)

i128 cross(const P& o, const P& a, const P& b) {
  return i128(a[0] - o[0]) * (b[1] - o[1]) - i128(a[1] - o[1]) * (b[0] - o[0]);
}

// > 0 when d lies inside the circle through a, b, c (counter-clockwise).
int inCircle(const P& a, const P& b, const P& c, const P& d) {
  const i128 ax = a[0] - d[0], ay = a[1] - d[1], bx = b[0] - d[0], by = b[1] - d[1];
  const i128 cx = c[0] - d[0], cy = c[1] - d[1];
  const i128 det = (ax * ax + ay * ay) * (bx * cy - by * cx) - (bx * bx + by * by) * (ax * cy - ay * cx) +
                   (cx * cx + cy * cy) * (ax * by - ay * bx);
  return det > 0 ? 1 : det < 0 ? -1 : 0;
}

// The hull by the monotone chain, collinear boundary points kept: the count
// of points on the boundary and twice the enclosed area.
std::pair<int, i128> hullOf(std::vector<P> pts) {
  std::sort(pts.begin(), pts.end());
  pts.erase(std::unique(pts.begin(), pts.end()), pts.end());
  std::vector<P> h(2 * pts.size());
  std::size_t k = 0;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    while (k >= 2 && cross(h[k - 2], h[k - 1], pts[i]) < 0) --k;
    h[k++] = pts[i];
  }
  for (std::size_t i = pts.size() - 1, t = k + 1; i-- > 0;) {
    while (k >= t && cross(h[k - 2], h[k - 1], pts[i]) < 0) --k;
    h[k++] = pts[i];
  }
  h.resize(k - 1);
  i128 area = 0;
  for (std::size_t i = 0; i < h.size(); ++i) area += cross(P{0, 0}, h[i], h[(i + 1) % h.size()]);
  return {static_cast<int>(h.size()), area};
}

void expectDelaunay(const std::vector<P>& input) {
  CH2DDelaunay d;
  for (const P& p : input) d.AppendVertex(float(p[0]) / 10, float(p[1]) / 10, -1, false);
  d.CalcDelaunayTriangulation();
  std::vector<P> pts = input;
  std::sort(pts.begin(), pts.end());
  pts.erase(std::unique(pts.begin(), pts.end()), pts.end());
  const auto [boundary, hullArea] = hullOf(pts);
  i128 area = 0;
  int faces = 0;
  std::set<P> used;
  tFaceStructure* f = d.GetFaces();
  do {
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
    f = f->next;
  } while (f != d.GetFaces());
  EXPECT_EQ(faces, d.GetNumFaces());
  EXPECT_EQ(area, hullArea);  // the triangles tile the hull (their areas sum to it, none is flipped)
  EXPECT_EQ(faces, 2 * static_cast<int>(pts.size()) - boundary - 2);
  EXPECT_EQ(used.size(), pts.size());
}

}  // namespace

TEST(Delaunay, EmptyCircumcirclesOnIntegerPoints) {
  std::mt19937_64 rng(5);
  std::uniform_int_distribution<std::int64_t> u(-300, 300);
  auto random = [&](int n, std::int64_t scale) {
    std::vector<P> pts(n);
    for (P& p : pts) p = {u(rng) * scale, u(rng) * scale};
    return pts;
  };
  std::vector<P> lattice, circle, far;
  for (int x = 0; x < 7; ++x)
    for (int y = 0; y < 6; ++y) lattice.push_back({x * 10, y * 10});
  for (auto [x, y] : {std::pair{5, 0}, {3, 4}, {4, 3}, {0, 5}})
    for (int sx : {-1, 1})
      for (int sy : {-1, 1}) circle.push_back({sx * x * 10, sy * y * 10});
  // Around 10^4 world units: the lifted determinants pass 64 bits.
  far = random(60, 330);
  far.push_back({100000, 100000});
  struct Case {
    const char* name;
    std::vector<P> pts;
  };
  const Case cases[] = {
      {"random", random(200, 1)},
      {"random with repeats", [&] {
         auto p = random(50, 1);
         p.insert(p.end(), p.begin(), p.begin() + 10);
         return p;
       }()},
      {"lattice: every cell cocircular", lattice},
      {"twelve points on one circle", circle},
      {"a square", {{0, 0}, {10, 0}, {10, 10}, {0, 10}}},
      {"three points", {{0, 0}, {30, 0}, {0, 20}}},
      {"a point inside a triangle", {{0, 0}, {90, 0}, {0, 90}, {20, 20}}},
      {"far from the origin", far},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expectDelaunay(c.pts);
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
  tVertexStructure* v = d.GetVertices();
  do {
    numbers.insert(v->vnum);
    EXPECT_EQ(v->flag, v->vnum == 7);
    v = v->next;
  } while (v != d.GetVertices());
  EXPECT_EQ(numbers, (std::set<int>{0, 7, 2}));
}
