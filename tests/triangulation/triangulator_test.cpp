#include <gtest/gtest.h>

#include <array>
#include <string>

#include "orvik/triangulation/HPolygonTriangulator.h"
#include "support/polygons.h"

using namespace testpolygons;

namespace {

std::vector<std::array<int, 3>> trianglesOf(const CHPolygonTriangulator& t) {
  std::vector<std::array<int, 3>> v(t.GetNumTriangles());
  for (int i = 0; i < t.GetNumTriangles(); ++i)
    EXPECT_TRUE(t.GetTriangleIndices(i, v[i][0], v[i][1], v[i][2]));
  return v;
}

// A complete triangulation of the ring: n - 2 counter-clockwise triangles of distinct vertices, inside the
// ring (centroid inside, no edge crossing the boundary), no vertex strictly inside a triangle, areas summing
// to the ring's.
void expectTriangulates(const CHPolygonTriangulator& t, const Ring& ring, bool strictlyPositive = true) {
  const int n = static_cast<int>(ring.size());
  ASSERT_EQ(t.GetNumTriangles(), n - 2);
  EXPECT_EQ(t.GetNumDiagonals(), n - 2);
  double sum = 0;
  for (const auto& tri : trianglesOf(t)) {
    const Pt &a = ring[tri[0]], &b = ring[tri[1]], &c = ring[tri[2]];
    ASSERT_TRUE(tri[0] != tri[1] && tri[1] != tri[2] && tri[0] != tri[2]);
    const double A = orient(a, b, c);
    ASSERT_GT(A, strictlyPositive ? 0.0 : -1e-3);
    sum += A;
    ASSERT_TRUE(A <= 1e-3 || inside(ring, (double(a.x) + b.x + c.x) / 3, (double(a.y) + b.y + c.y) / 3));
    for (int v = 0; v < n; ++v) {
      const Pt &p = ring[v], &q = ring[(v + 1) % n];
      ASSERT_FALSE(orient(a, b, p) > 0 && orient(b, c, p) > 0 && orient(c, a, p) > 0) << "vertex " << v;
      ASSERT_FALSE(properCross(a, b, p, q) || properCross(b, c, p, q) || properCross(c, a, p, q));
    }
  }
  EXPECT_NEAR(sum, std::fabs(area2(ring)), 1e-9 * std::fabs(area2(ring)));
}

// The clipping order of the triangulator, with every edge of the ring tested for every diagonal: the
// reference for its edge index.
std::vector<std::array<int, 3>> referenceClip(const Ring& ring, bool is3D) {
  using F = CHSimpleBasisFcns;
  const int n = static_cast<int>(ring.size());
  std::vector<t_hvertex> v(n);
  const int forward = area2(ring) >= 0 ? 1 : n - 1;
  for (int i = 0; i < n; ++i) {
    v[i].x = ring[i].x, v[i].y = ring[i].y, v[i].vnum = i;
    v[i].next = &v[(i + forward) % n];
    v[i].prev = &v[(i + n - forward) % n];
  }
  t_hvertex* head = &v[0];
  const auto diagonal = [&](const t_hvertex* a, const t_hvertex* b) {
    if (!F::InCone(a, b) || !F::InCone(b, a)) return false;
    const t_hvertex* c = head;
    do {
      if (c != a && c->next != a && c != b && c->next != b && F::Intersect(a, b, c, c->next)) return false;
      c = c->next;
    } while (c != head);
    return true;
  };
  for (t_hvertex& e : v) e.ear = diagonal(e.prev, e.next);
  std::vector<std::array<int, 3>> out;
  for (int remaining = n; remaining >= 3; --remaining) {
    t_hvertex* e = is3D ? head->next : head;
    for (int k = 0; remaining > 3 && k < remaining && !e->ear; ++k) e = e->next;
    if (remaining > 3 && !e->ear) break;
    t_hvertex *p = e->prev, *q = e->next;
    out.push_back({p->vnum, e->vnum, q->vnum});
    if (remaining > 3) p->ear = diagonal(p->prev, q), q->ear = diagonal(p, q->next);
    p->next = q, q->prev = p, head = q;
  }
  return out;
}

// k - 1 points inserted on every edge: runs of collinear points, as traced pixel outlines have.
Ring subdivided(const Ring& r, int k) {
  Ring out;
  for (std::size_t i = 0; i < r.size(); ++i)
    for (int j = 0; j < k; ++j) {
      const Pt &a = r[i], &b = r[(i + 1) % r.size()];
      out.push_back({a.x + (b.x - a.x) * j / k, a.y + (b.y - a.y) * j / k});
    }
  return out;
}

}  // namespace

// Both orientations, both starts: the reference's triangles, and (where no edge lies within the tolerance of
// another) a complete triangulation; the plane polygon gives the same.
TEST(PolygonTriangulator, ClipsLikeTheReferenceAndCompletely) {
  struct Case {
    std::string name;
    Ring ring;
    int check;  // 2: every triangle positive, 1: none negative, 0: reference only
  };
  std::vector<Case> cases = {{"square", square(), 2},
                             {"L", lShape(), 2},
                             {"comb 2", comb(2, 5), 2},
                             {"comb 20", comb(20, 10), 2},
                             {"comb 40", comb(40, 6), 2},
                             {"collinear runs", subdivided(comb(6, 8), 4), 1},
                             {"collinear star", subdivided(star(30, 3), 3), 1}};
  for (int n : {12, 19, 47, 48, 61, 103, 200, 600, 1500})
    cases.push_back({"star " + std::to_string(n), star(n, n), 2});
  // Edges that are almost vertical reach far across under the tolerance.
  Ring steep = star(300, 77);
  for (std::size_t i = 0; i + 1 < steep.size(); i += 5) steep[i + 1].x = steep[i].x + 1e-5f;
  cases.push_back({"steep edges", steep, 0});
  // The vertex (0, 40) counts as lying on the edge from (1e-5, 10) to (0, 0), 30 units beyond its end: |A| =
  // 0.0004 is within the tolerance.
  Ring reach = {{-10, -10}};
  for (int k = 0; k <= 50; ++k) reach.push_back({10 + 0.5f * std::sin(float(k)), -10 + 70 * k / 50.0f});
  reach.insert(reach.end(), {{-10, 60}, {-10, 45}, {0, 40}, {-10, 35}, {-10, 12}, {1e-5f, 10}, {0, 0}});
  cases.push_back({"tolerance reach", reach, 0});
  for (const auto& c : cases)
    for (bool backwards : {false, true})
      for (bool is3D : {false, true}) {
        SCOPED_TRACE(c.name + (backwards ? " clockwise" : "") + (is3D ? " 3D" : " 2D"));
        const Ring ring = backwards ? reversed(c.ring) : c.ring;
        CSSE3dPolygon p = toPolygon(ring);
        CHPolygonTriangulator t(&p, 1, 1, 1, 1, is3D);
        EXPECT_EQ(trianglesOf(t), referenceClip(ring, is3D));
        if (c.check) expectTriangulates(t, ring, c.check == 2);
        CSSE2dPolygon q;
        q.Create(static_cast<int>(ring.size()));
        for (int i = 0; i < q.GetNumPoints(); ++i) q.SetPoint(i, ring[i].x, ring[i].y);
        EXPECT_EQ(trianglesOf(CHPolygonTriangulator(&q, 1, 1, 1, is3D)), trianglesOf(t));
      }
}

// Every second point of a doubled star: the step picks the star back, scaled.
TEST(PolygonTriangulator, StepScalesAndRanges) {
  const Ring ring = star(60, 5);
  Ring doubled, scaled;
  for (const Pt& p : ring) {
    doubled.insert(doubled.end(), {p, {p.x + 1000, p.y}});
    scaled.push_back({p.x * 2.0f, p.y * -0.5f});
  }
  CSSE3dPolygon p = toPolygon(doubled, 2.0f);
  CHPolygonTriangulator t(&p, 2, 2.0f, -0.5f, 3.0f, false);
  expectTriangulates(t, scaled);
  const int n = t.GetNumTriangles();
  int a, b, c;
  SSEPoint pa, pb, pc;
  float x = 0, y = 0, x1, y1, x2, y2;
  ASSERT_TRUE(t.GetTriangleIndices(n - 1, a, b, c) && t.GetTriangle3D(n - 1, pa, pb, pc) &&
              t.GetPoint(b, x, y) && t.GetDiagonalPoints(n - 1, x1, y1, x2, y2));
  EXPECT_TRUE(pa.x == ring[a].x && pa.y == ring[a].y && pa.z == 2.0f + 0.25f * 2 * a && pa.w == 0);
  EXPECT_TRUE(pb.x == ring[b].x && pc.x == ring[c].x && pc.y == ring[c].y);
  EXPECT_TRUE(x == scaled[b].x && y == scaled[b].y);
  EXPECT_TRUE(x1 == scaled[a].x && y1 == scaled[a].y && x2 == scaled[c].x && y2 == scaled[c].y);
  pa = SSEPoint(7, 7, 7, 7), x = y = x1 = 7;
  EXPECT_FALSE(t.GetTriangle3D(n, pa, pb, pc) || t.GetTriangle3D(-1, pa, pb, pc) || t.GetPoint(60, x, y) ||
               t.GetPoint(-1, x, y) || t.DiagonalExists(n) || t.GetDiagonalPoints(-1, x1, y, x, y));
  EXPECT_TRUE(t.GetPoint(59, x1, y1) && t.DiagonalExists(n - 1));
  EXPECT_EQ(pa.x + x + y, 21.0f);

  CSSE3dPolygon sq = toPolygon(square()), two = toPolygon({{0, 0}, {1, 0}});
  for (auto [q, step] :
       {std::pair{&sq, 0}, {&sq, -1}, {&sq, 2}, {&two, 1}, {static_cast<CSSE3dPolygon*>(nullptr), 1}})
    EXPECT_EQ(CHPolygonTriangulator(q, step, 1, 1, 1, true).GetNumTriangles(), 0) << step;
  // The plane polygon has no points in space.
  CSSE2dPolygon q;
  q.Create(3);
  for (int i = 0; i < 3; ++i) q.SetPoint(i, float(i == 1), float(i == 2));
  CHPolygonTriangulator t2(&q, 1, 1, 1, false);
  EXPECT_EQ(t2.GetNumTriangles(), 1);
  EXPECT_FALSE(t2.GetTriangle3D(0, pa, pb, pc));
}
