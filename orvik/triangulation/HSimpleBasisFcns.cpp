#include "orvik/triangulation/HSimpleBasisFcns.h"

#include <cfloat>
#include <cmath>
#include <initializer_list>
#include <tuple>

namespace {

// Twice the signed area of a, b, c, in double so that the tolerance, not the
// rounding of float products, decides near-collinear cases.
double area2(const t_h2dpoint* a, const t_h2dpoint* b, const t_h2dpoint* c) {
  return (double(b->x) - a->x) * (double(c->y) - a->y) - (double(c->x) - a->x) * (double(b->y) - a->y);
}

constexpr double tol = CHSimpleBasisFcns::c_dTolerance;

bool collinear(double A) { return A >= -tol && A <= tol; }

// c within the segment a-b, for a c already found collinear with it.
bool inRange(const t_h2dpoint* a, const t_h2dpoint* b, const t_h2dpoint* c) {
  if (a->x == b->x && a->y == b->y) return c->x == a->x && c->y == a->y;
  if (a->x != b->x) return (a->x <= c->x && c->x <= b->x) || (b->x <= c->x && c->x <= a->x);
  return (a->y <= c->y && c->y <= b->y) || (b->y <= c->y && c->y <= a->y);
}

}  // namespace

float CHSimpleBasisFcns::AreaSign(const t_h2dpoint* a, const t_h2dpoint* b, const t_h2dpoint* c) {
  const double A = area2(a, b, c);
  return A > tol ? 1.0f : A < -tol ? -1.0f : 0.0f;
}

bool CHSimpleBasisFcns::Left(const t_h2dpoint* a, const t_h2dpoint* b, const t_h2dpoint* c) {
  return area2(a, b, c) > tol;
}

bool CHSimpleBasisFcns::LeftOn(const t_h2dpoint* a, const t_h2dpoint* b, const t_h2dpoint* c) {
  return area2(a, b, c) >= -tol;
}

bool CHSimpleBasisFcns::Collinear(const t_h2dpoint* a, const t_h2dpoint* b, const t_h2dpoint* c) {
  return collinear(area2(a, b, c));
}

bool CHSimpleBasisFcns::Between(const t_h2dpoint* a, const t_h2dpoint* b, const t_h2dpoint* c) {
  return Collinear(a, b, c) && inRange(a, b, c);
}

bool CHSimpleBasisFcns::IntersectProp(const t_h2dpoint* a, const t_h2dpoint* b, const t_h2dpoint* c,
                                      const t_h2dpoint* d) {
  if (Collinear(a, b, c) || Collinear(a, b, d) || Collinear(c, d, a) || Collinear(c, d, b)) return false;
  return Left(a, b, c) != Left(a, b, d) && Left(c, d, a) != Left(c, d, b);
}

// IntersectProp or one of the four Between tests, from the four areas computed once.
bool CHSimpleBasisFcns::Intersect(const t_h2dpoint* a, const t_h2dpoint* b, const t_h2dpoint* c,
                                  const t_h2dpoint* d) {
  const double abc = area2(a, b, c), abd = area2(a, b, d), cda = area2(c, d, a), cdb = area2(c, d, b);
  const bool cabc = collinear(abc), cabd = collinear(abd), ccda = collinear(cda), ccdb = collinear(cdb);
  if (!cabc && !cabd && !ccda && !ccdb) return (abc > tol) != (abd > tol) && (cda > tol) != (cdb > tol);
  return (cabc && inRange(a, b, c)) || (cabd && inRange(a, b, d)) || (ccda && inRange(c, d, a)) ||
         (ccdb && inRange(c, d, b));
}

bool CHSimpleBasisFcns::InCone(const t_hvertex* a, const t_hvertex* b) {
  const t_hvertex* a0 = a->prev;
  const t_hvertex* a1 = a->next;
  if (LeftOn(a, a1, a0)) return Left(a, b, a0) && Left(b, a, a1);
  return !(LeftOn(a, b, a1) && LeftOn(b, a, a0));
}

bool CHSimpleBasisFcns::ParallelInt(const t_h2dpoint* a, const t_h2dpoint* b, const t_h2dpoint* c,
                                    const t_h2dpoint* d, t_h2dpoint* p) {
  if (!Collinear(a, b, c)) return false;
  for (auto [s0, s1, q] : {std::tuple{a, b, c}, std::tuple{a, b, d}, std::tuple{c, d, a}, std::tuple{c, d, b}})
    if (Between(s0, s1, q)) {
      *p = *q;
      return true;
    }
  return false;
}

bool CHSimpleBasisFcns::GetIntersection(const t_h2dpoint* a, const t_h2dpoint* b, const t_h2dpoint* c,
                                        const t_h2dpoint* d, t_h2dpoint* p) {
  const double ax = a->x, ay = a->y, bx = b->x, by = b->y, cx = c->x, cy = c->y, dx = d->x, dy = d->y;
  const double denom = ax * (dy - cy) + bx * (cy - dy) + dx * (by - ay) + cx * (ay - by);
  if (denom == 0.0) return ParallelInt(a, b, c, d, p);
  const double s = (ax * (dy - cy) + cx * (ay - dy) + dx * (cy - ay)) / denom;
  const double t = -(ax * (cy - by) + bx * (ay - cy) + cx * (by - ay)) / denom;
  if (!(s >= 0.0 && s <= 1.0 && t >= 0.0 && t <= 1.0)) return false;
  p->x = static_cast<float>(ax + s * (bx - ax));
  p->y = static_cast<float>(ay + s * (by - ay));
  return true;
}

bool CHSimpleBasisFcns::GetIntersection(const SSEPoint& a, const SSEPoint& b, const SSEPoint& c, const SSEPoint& d,
                                        SSEPoint& p) {
  const t_h2dpoint pa{a.x, a.y}, pb{b.x, b.y}, pc{c.x, c.y}, pd{d.x, d.y};
  t_h2dpoint q{FLT_MAX, FLT_MAX};
  const bool hit = GetIntersection(&pa, &pb, &pc, &pd, &q);
  p = SSEPoint(q.x, q.y, 0.0f, 0.0f);
  return hit;
}

void CHSimpleBasisFcns::FindLine(const t_h2dpoint* p, const t_h2dpoint* q, t_vector& d) {
  const float dx = p->x - q->x, dy = p->y - q->y;
  const float len = std::sqrt(dx * dx + dy * dy);
  d = len > 0.0f ? t_vector{dx / len, dy / len, 0.0f} : t_vector{0.0f, 0.0f, 0.0f};
}

void CHSimpleBasisFcns::FindOrthogonal(const t_vector& d, t_vector& o) {
  if (d.y == 0.0f) {
    o = {0.0f, 1.0f, 0.0f};
    return;
  }
  const float ox = 1.0f, oy = -d.x / d.y;
  const float len = std::sqrt(ox * ox + oy * oy);
  o = {ox / len, oy / len, 0.0f};
}

void CHSimpleBasisFcns::FindParameterOfPoint(const t_vector& d, const t_h2dpoint* base, const t_h2dpoint* p,
                                             float& t) {
  if (std::fabs(p->x - base->x) > 0.0001f)
    t = (p->x - base->x) / d.x;
  else if (std::fabs(p->y - base->y) > 0.0001f)
    t = (p->y - base->y) / d.y;
  else
    t = 0.0f;
}

void CHSimpleBasisFcns::FindPointOnLine(const t_vector& d, const t_h2dpoint* base, float t, SSEPoint& p) {
  p = SSEPoint(base->x + t * d.x, base->y + t * d.y, 0.0f, 0.0f);
}

void CHSimpleBasisFcns::FindFoodPoint(const t_vector& d, const t_h2dpoint* base, const t_h2dpoint* p, SSEPoint& f) {
  const float dd = d.x * d.x + d.y * d.y;
  if (dd <= FLT_EPSILON) {
    f = SSEPoint();
    return;
  }
  const float t = ((p->x - base->x) * d.x + (p->y - base->y) * d.y) / dd;
  FindPointOnLine(d, base, t, f);
}

float CHSimpleBasisFcns::GetDistance(const t_h2dpoint* p, const t_h2dpoint* q) {
  const float dx = p->x - q->x, dy = p->y - q->y;
  return std::sqrt(dx * dx + dy * dy);
}

float CHSimpleBasisFcns::GetDistance(const SSEPoint& p, const SSEPoint& q) {
  const t_h2dpoint a{p.x, p.y}, b{q.x, q.y};
  return GetDistance(&a, &b);
}

float CHSimpleBasisFcns::GetRealAngle(float a) {
  if (!std::isfinite(a)) return a;
  constexpr float twoPi = 6.2831855f;
  constexpr float hi = 3.1415927f - 0.0001f;
  constexpr float lo = hi - twoPi;
  // Whole turns at once, so that huge angles do not loop; the two corrections
  // settle the rounding at the ends of the range.
  if (a > hi || a <= lo) a -= twoPi * std::floor((double(a) - lo) / twoPi);
  if (a > hi) a -= twoPi;
  if (a <= lo) a += twoPi;
  return a;
}

bool CHSimpleBasisFcns::IsPointInHalfeplain(float nx, float ny, float c, bool closed, const SSEPoint& p) {
  const float s = nx * p.x + ny * p.y;
  return closed ? s >= c : s < c;
}

unsigned CHSimpleBasisFcns::VertexAlreadyThereInArray(const SSEPoint* array, const SSEPoint& p, unsigned count) {
  const __m128 limit = _mm_set1_ps(0.0001f);
  const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
  for (unsigned i = 0; i < count; ++i) {
    const __m128 diff = _mm_and_ps(_mm_sub_ps(array[i].v, p.v), absMask);
    if (_mm_movemask_ps(_mm_cmplt_ps(diff, limit)) == 0xF) return i;
  }
  return static_cast<unsigned>(-1);
}
