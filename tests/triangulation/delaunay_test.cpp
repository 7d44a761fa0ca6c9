#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <set>
#include <vector>

#include "orvik/foundation/Exception.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "orvik/triangulation/H2DDelaunay.h"
#include "orvik/triangulation/HTriangulation.h"

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

namespace {

// Sets the border lines directly, to test the face filter alone.
struct LinedDelaunay : CH2DDelaunay {
  void setLines(const std::vector<std::pair<float, float>>& bottom, const std::vector<std::pair<float, float>>& top) {
    m_BottomLine.Create(static_cast<int>(bottom.size()));
    for (std::size_t i = 0; i < bottom.size(); ++i) m_BottomLine.SetPoint(int(i), bottom[i].first, bottom[i].second);
    m_TopLine.Create(static_cast<int>(top.size()));
    for (std::size_t i = 0; i < top.size(); ++i) m_TopLine.SetPoint(int(i), top[i].first, top[i].second);
  }
};

int countFaces(const CHConvexHull3D& d) {
  int n = 0;
  if (tFaceStructure* f = d.GetFaces()) do {
      ++n;
      f = f->next;
    } while (f != d.GetFaces());
  return n;
}

}  // namespace

TEST(Delaunay, FaceFilterTestsEveryFace) {
  // Two rows, y = 0 and y = 10 (world), and a peak at y = 30 above the top row.
  LinedDelaunay d;
  for (int x = 0; x <= 4; ++x) {
    d.AppendVertex(float(x), 0.0f, -1, true);
    d.AppendVertex(float(x), 10.0f, -1, false);
  }
  d.AppendVertex(2.0f, 30.0f, -1, false);
  d.CalcDelaunayTriangulation();
  const int all = d.GetNumFaces();
  std::vector<std::pair<float, float>> bottom, top;
  for (int x = 0; x <= 40; x += 5) {
    bottom.push_back({float(x), 0.0f});
    top.push_back({float(x), 100.0f});
  }
  d.setLines(bottom, top);
  d.RemoveFacesOutOfBorderLines(5.0f);
  EXPECT_EQ(d.GetNumFaces(), countFaces(d));
  EXPECT_EQ(d.GetNumFaces(), 8);  // the strip of four cells
  EXPECT_GT(all, 8);
  tFaceStructure* f = d.GetFaces();
  do {
    for (auto* v : f->vertex) EXPECT_LE(v->v[1], 100);
    for (auto* e : f->edge) EXPECT_TRUE(e->adjface[0] == f || e->adjface[1] == f);
    f = f->next;
  } while (f != d.GetFaces());
}

TEST(Delaunay, BorderPointsAndLoft) {
  // Two flat grids side by side; their border triangles right of the centre
  // feed the top line, left of it the bottom line.
  auto gridMesh = [](CHTriangulation& m, float z) {
    m.CreateTriangulation(2 * 3 * 2);
    int t = 0;
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) {
        const SSEPoint a(x, y, z), b(x + 1, y, z), c(x, y + 1, z), d(x + 1, y + 1, z + 1);
        for (const auto& tri : {std::array{a, b, d}, std::array{a, d, c}}) {
          for (int k = 0; k < 3; ++k) *m.GetTriangle(t)->corner[k] = tri[k];
          ++t;
        }
      }
    m.CalcSTV();
    m.CalcNeighbours();
  };
  CHTriangulation upper(0, 1, 1, 1), lower(0, 1, 1, 1);
  gridMesh(upper, 5.0f);
  gridMesh(lower, 0.0f);
  CH2DDelaunay d;
  d.GetBorderPointsTop(&upper, false);
  const int topCount = d.GetTopLine().GetNumPoints();
  d.GetBorderPointsBottom(&lower, true);
  EXPECT_GT(topCount, 0);
  EXPECT_EQ(d.GetTopLine().GetNumPoints(), topCount);
  int top = 0, bottom = 0;
  tVertexStructure* v = d.GetVertices();
  do {
    const bool fromLower = v->flag;
    (fromLower ? bottom : top) += 1;
    const CHTriangulation& mesh = fromLower ? lower : upper;
    const SSEPoint& c = *mesh.GetTriangle(v->vnum / 3)->corner[v->vnum % 3];
    EXPECT_EQ(mesh.GetTriangle(v->vnum / 3)->mark, 13);
    EXPECT_EQ(v->v[0], std::llround(10 * c.y));
    EXPECT_EQ(v->v[1], std::llround(10 * c.z));
    EXPECT_TRUE(fromLower ? c.x <= 1.5f : c.x > 1.5f);  // the centre's x is 1.5
    v = v->next;
  } while (v != d.GetVertices());
  EXPECT_EQ(top, topCount);
  EXPECT_EQ(bottom, d.GetBottomLine().GetNumPoints());
  for (int i = 0; i < d.GetBottomLine().GetNumPoints(); ++i) {
    float x = 0, y = 0;
    d.GetBottomLine().GetPoint(i, x, y);
    EXPECT_LT(y, 50.0f) << "the bottom line holds points of the lower mesh only";
  }
  d.LoftWith3DTriangulation(&lower, &upper);
  v = d.GetVertices();
  do {
    const CHTriangulation& mesh = v->flag ? lower : upper;
    const SSEPoint& c = *mesh.GetTriangle(v->vnum / 3)->corner[v->vnum % 3];
    EXPECT_EQ(v->v[0], std::int64_t(std::floor(10 * c.x)));
    EXPECT_EQ(v->v[2], std::int64_t(std::floor(10 * c.z)));
    v = v->next;
  } while (v != d.GetVertices());
}

TEST(Delaunay, StripBetweenTwoClosedCurves) {
  // Two squares of equal perimeter, 3 apart in height: the strip is a band
  // of 2N triangles, each joining both curves, lifted back onto their points.
  auto square = [](float z, float shift) {
    CSSE3dPolygon p;
    p.Create(8);
    const float pts[8][2] = {{0, 0}, {2, 0}, {4, 0}, {4, 2}, {4, 4}, {2, 4}, {0, 4}, {0, 2}};
    for (int i = 0; i < 8; ++i) p.SetPoint(i, pts[i][0] + shift, pts[i][1], z);
    return p;
  };
  CSSE3dPolygon p = square(0.0f, 0.0f), q = square(3.0f, 0.5f);
  CH2DDelaunay d;
  d.CreateTriangulationFromTwoBorderPolygons(&p, &q, false);
  EXPECT_EQ(d.GetNumFaces(), 16);
  EXPECT_EQ(countFaces(d), 16);
  EXPECT_EQ(d.GetBottomLine().GetNumPoints(), 9);
  tFaceStructure* f = d.GetFaces();
  do {
    int low = 0;
    for (auto* v : f->vertex) {
      const bool onP = v->v[2] == 0;
      low += onP ? 1 : 0;
      // floor(10 x) of one of the curve's points.
      const std::int64_t x = v->v[0] - (onP ? 0 : 5), y = v->v[1];
      EXPECT_TRUE(x % 20 == 0 && y % 20 == 0 && x >= 0 && x <= 40 && y >= 0 && y <= 40) << x << " " << y;
      EXPECT_TRUE(x == 0 || x == 40 || y == 0 || y == 40);
    }
    EXPECT_TRUE(low == 1 || low == 2);
    f = f->next;
  } while (f != d.GetFaces());
  // Ring point 1 (numbered 1) is the curve's point 0.
  tVertexStructure* v = d.GetVertices();
  do {
    if (v->vnum == 1 && v->flag) {
      EXPECT_EQ(v->v[0], 0);
      EXPECT_EQ(v->v[1], 0);
    }
    if (v->vnum == 3 && !v->flag) {
      EXPECT_EQ(v->v[0], 45);
      EXPECT_EQ(v->v[1], 0);
    }
    v = v->next;
  } while (v != d.GetVertices());
}
