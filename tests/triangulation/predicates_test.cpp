#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <random>

#include "orvik/triangulation/HSimpleBasisFcns.h"

namespace {

using F = CHSimpleBasisFcns;

std::int64_t orient(const int* a, const int* b, const int* c) {
  return std::int64_t(b[0] - a[0]) * (c[1] - a[1]) - std::int64_t(c[0] - a[0]) * (b[1] - a[1]);
}

int sign(std::int64_t v) { return (v > 0) - (v < 0); }

// c on the closed segment a-b, in exact integer arithmetic.
bool onSegment(const int* a, const int* b, const int* c) {
  return orient(a, b, c) == 0 && std::min(a[0], b[0]) <= c[0] && c[0] <= std::max(a[0], b[0]) &&
         std::min(a[1], b[1]) <= c[1] && c[1] <= std::max(a[1], b[1]);
}

bool segmentsMeet(const int* a, const int* b, const int* c, const int* d) {
  return (sign(orient(a, b, c)) * sign(orient(a, b, d)) < 0 && sign(orient(c, d, a)) * sign(orient(c, d, b)) < 0) ||
         onSegment(a, b, c) || onSegment(a, b, d) || onSegment(c, d, a) || onSegment(c, d, b);
}

t_h2dpoint pt(const int* p, float scale = 1.0f) { return {p[0] * scale, p[1] * scale}; }

}  // namespace

TEST(Predicates, OrientationAgainstExactArithmetic) {
  // Coordinates in 1/256 steps: A is an exact multiple of 2^-16 and the
  // tolerance 0.0005 lies between 32 and 33 such steps.
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> u(-40, 40);
  for (int k = 0; k < 20000; ++k) {
    const int a[2] = {u(rng), u(rng)}, b[2] = {u(rng), u(rng)}, c[2] = {a[0] + u(rng) / 8, a[1] + u(rng) / 8};
    const std::int64_t A = orient(a, b, c);
    const t_h2dpoint pa = pt(a, 1 / 256.f), pb = pt(b, 1 / 256.f), pc = pt(c, 1 / 256.f);
    const int expected = A > 32 ? 1 : A < -32 ? -1 : 0;
    ASSERT_EQ(F::AreaSign(&pa, &pb, &pc), float(expected)) << A;
    ASSERT_EQ(F::Left(&pa, &pb, &pc), expected > 0);
    ASSERT_EQ(F::LeftOn(&pa, &pb, &pc), expected >= 0);
    ASSERT_EQ(F::Collinear(&pa, &pb, &pc), expected == 0);
  }
  const t_h2dpoint o{0, 0}, e{1, 0}, small{0, 0.0004f}, above{0, 0.0006f};
  EXPECT_EQ(F::AreaSign(&o, &e, &small), 0.0f);
  EXPECT_EQ(F::AreaSign(&o, &e, &above), 1.0f);
}

TEST(Predicates, SegmentsAgainstExactArithmetic) {
  // On integer coordinates every nonzero A exceeds the tolerance, so the
  // predicates must agree with exact segment tests.
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> u(-3, 3);
  for (int k = 0; k < 50000; ++k) {
    const int a[2] = {u(rng), u(rng)}, b[2] = {u(rng), u(rng)}, c[2] = {u(rng), u(rng)}, d[2] = {u(rng), u(rng)};
    const t_h2dpoint pa = pt(a), pb = pt(b), pc = pt(c), pd = pt(d);
    ASSERT_EQ(F::Between(&pa, &pb, &pc), onSegment(a, b, c));
    const bool meet = segmentsMeet(a, b, c, d);
    ASSERT_EQ(F::Intersect(&pa, &pb, &pc, &pd), meet);
    t_h2dpoint p{-99, -99};
    ASSERT_EQ(F::GetIntersection(&pa, &pb, &pc, &pd, &p), meet);
    if (meet) {  // the point found lies on both segments
      const double da = std::fabs((double(pb.x) - pa.x) * (p.y - pa.y) - (double(p.x) - pa.x) * (pb.y - pa.y));
      const double dc = std::fabs((double(pd.x) - pc.x) * (p.y - pc.y) - (double(p.x) - pc.x) * (pd.y - pc.y));
      ASSERT_LT(da + dc, 1e-4);
      ASSERT_TRUE(p.x >= std::min(pa.x, pb.x) - 1e-5f && p.x <= std::max(pa.x, pb.x) + 1e-5f);
      ASSERT_TRUE(p.x >= std::min(pc.x, pd.x) - 1e-5f && p.x <= std::max(pc.x, pd.x) + 1e-5f);
    }
    SSEPoint q(5, 5, 5, 5);
    ASSERT_EQ(F::GetIntersection(SSEPoint(pa.x, pa.y, 3), SSEPoint(pb.x, pb.y, 3), SSEPoint(pc.x, pc.y, 3),
                                 SSEPoint(pd.x, pd.y, 3), q),
              meet);
    ASSERT_TRUE(q.z == 0.0f && (meet || (q.x == FLT_MAX && q.y == FLT_MAX)));
  }
  const t_h2dpoint o{0, 0}, y2{0, 2}, y1{0, 1}, x3{3, 0}, x2{2, 0};
  EXPECT_TRUE(F::Between(&o, &y2, &y1));
  EXPECT_FALSE(F::Between(&o, &x2, &x3));
  EXPECT_FALSE(F::Between(&o, &o, &x3));  // a point is no segment of its row
  EXPECT_TRUE(F::Between(&o, &o, &o));
}

TEST(Predicates, LineHelpersAndAngles) {
  const t_h2dpoint p{4, 5}, q{1, 1}, vertical{1, 9}, base{0, 1}, r{3, 7};
  t_vector d{}, none{}, o{}, o2{};
  F::FindLine(&p, &q, d);
  F::FindLine(&p, &p, none);
  EXPECT_TRUE(d.x == 0.6f && d.y == 0.8f && none.x == 0 && none.y == 0);
  F::FindOrthogonal({1, 0, 0}, o);
  F::FindOrthogonal({0.6f, 0.8f, 0}, o2);
  EXPECT_TRUE(o.x == 0 && o.y == 1 && std::fabs(o2.x - 0.8f) < 1e-6f && std::fabs(o2.y + 0.6f) < 1e-6f);
  float t[3] = {-1, -1, -1};
  F::FindParameterOfPoint({0.6f, 0.8f, 0}, &q, &p, t[0]);
  F::FindParameterOfPoint({0, 1, 0}, &q, &vertical, t[1]);
  F::FindParameterOfPoint({0, 1, 0}, &q, &q, t[2]);
  EXPECT_TRUE(std::fabs(t[0] - 5) < 1e-5f && t[1] == 8.0f && t[2] == 0.0f);
  SSEPoint f(9, 9, 9, 9), g(9, 9, 9, 9);
  F::FindFoodPoint({1, 0, 0}, &base, &r, f);
  F::FindFoodPoint({0, 0, 0}, &base, &r, g);
  EXPECT_TRUE(f.x == 3 && f.y == 1 && f.z == 0 && f.w == 0 && g.x == 0 && g.y == 0);
  EXPECT_TRUE(F::GetDistance(&p, &q) == 5.0f && F::GetDistance(SSEPoint(4, 5, 100), SSEPoint(1, 1, -7)) == 5.0f);
  EXPECT_TRUE(F::IsPointInHalfeplain(1, 0, 2, true, SSEPoint(2, 0, 0)));
  EXPECT_FALSE(F::IsPointInHalfeplain(1, 0, 2, false, SSEPoint(2, 0, 0)));

  const float pi = 3.1415927f;
  for (auto [in, out] : {std::pair{0.0f, 0.0f}, {1, 1}, {3 * pi, -pi}, {pi, -pi}, {-pi, -pi}, {2 * pi + 1, 1},
                         {-2 * pi - 1, -1}, {1000 * pi + 0.5f, 0.5f}, {pi - 0.0001f - 6.2831855f, pi - 0.0001f}}) {
    SCOPED_TRACE(in);
    const float got = F::GetRealAngle(in);
    EXPECT_NEAR(got, out, 2e-4);
    EXPECT_TRUE(got <= pi - 0.0001f && got > pi - 0.0001f - 6.2831855f);
  }
  EXPECT_TRUE(std::isnan(F::GetRealAngle(NAN)));
  EXPECT_EQ(F::GetRealAngle(INFINITY), INFINITY);

  const SSEPoint pts[3] = {{1, 2, 3, 0}, {4, 5, 6, 0}, {4, 5, 6, 0}};
  EXPECT_EQ(F::VertexAlreadyThereInArray(pts, SSEPoint(4.00005f, 5, 6, 0), 3), 1u);
  EXPECT_EQ(F::VertexAlreadyThereInArray(pts, SSEPoint(4, 5, 6, 0.0002f), 3), unsigned(-1));
  EXPECT_EQ(F::VertexAlreadyThereInArray(pts, SSEPoint(4, 5, 6, 0), 1), unsigned(-1));
}
