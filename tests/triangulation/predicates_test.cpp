#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>

#include "orvik/triangulation/HSimpleBasisFcns.h"
#include "support/polygons.h"

using F = CHSimpleBasisFcns;
using testpolygons::Pt;

TEST(Predicates, AgreeWithExactArithmetic) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> u(-40, 40), s(-3, 3);
  const auto h = [](const Pt& p) { return t_h2dpoint{p.x, p.y}; };
  // Coordinates in 1/256 steps: twice the area is an exact multiple of 2^-16 and the tolerance 0.0005 lies
  // between 32 and 33 such steps.
  for (int k = 0; k < 20000; ++k) {
    const Pt a{u(rng) / 256.f, u(rng) / 256.f}, b{u(rng) / 256.f, u(rng) / 256.f};
    const Pt c{a.x + float(u(rng) / 8) / 256, a.y + float(u(rng) / 8) / 256};
    const double A = testpolygons::orient(a, b, c) * 65536;
    const int expected = A > 32 ? 1 : A < -32 ? -1 : 0;
    const t_h2dpoint pa = h(a), pb = h(b), pc = h(c);
    ASSERT_EQ(F::AreaSign(&pa, &pb, &pc), float(expected)) << A;
    ASSERT_EQ(F::Left(&pa, &pb, &pc), expected > 0);
    ASSERT_EQ(F::LeftOn(&pa, &pb, &pc), expected >= 0);
    ASSERT_EQ(F::Collinear(&pa, &pb, &pc), expected == 0);
  }
  // On integers every nonzero area exceeds the tolerance: the segment tests are the exact ones, and an
  // intersection found lies on both segments.
  for (int k = 0; k < 50000; ++k) {
    const Pt a{float(s(rng)), float(s(rng))}, b{float(s(rng)), float(s(rng))};
    const Pt c{float(s(rng)), float(s(rng))}, d{float(s(rng)), float(s(rng))};
    const t_h2dpoint pa = h(a), pb = h(b), pc = h(c), pd = h(d);
    const bool meet = testpolygons::segmentsMeet(a, b, c, d);
    ASSERT_EQ(F::Between(&pa, &pb, &pc), testpolygons::onSegment(a, b, c));
    ASSERT_EQ(F::Intersect(&pa, &pb, &pc, &pd), meet);
    SSEPoint q(5, 5, 5, 5);
    ASSERT_EQ(F::GetIntersection(SSEPoint(a.x, a.y, 3), SSEPoint(b.x, b.y, 3), SSEPoint(c.x, c.y, 3),
                                 SSEPoint(d.x, d.y, 3), q),
              meet);
    ASSERT_TRUE(q.z == 0.0f && (meet || (q.x == FLT_MAX && q.y == FLT_MAX)));
    ASSERT_TRUE(!meet || (testpolygons::distanceToSegment(a, b, q.x, q.y) < 1e-5 &&
                          testpolygons::distanceToSegment(c, d, q.x, q.y) < 1e-5));
  }
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
  EXPECT_TRUE(F::GetDistance(&p, &q) == 5.0f &&
              F::GetDistance(SSEPoint(4, 5, 100), SSEPoint(1, 1, -7)) == 5.0f);
  EXPECT_TRUE(F::IsPointInHalfeplain(1, 0, 2, true, SSEPoint(2, 0, 0)));
  EXPECT_FALSE(F::IsPointInHalfeplain(1, 0, 2, false, SSEPoint(2, 0, 0)));

  const float pi = 3.1415927f;
  for (auto [in, out] : {std::pair{0.0f, 0.0f},
                         {3 * pi, -pi},
                         {pi, -pi},
                         {-pi, -pi},
                         {2 * pi + 1, 1},
                         {-2 * pi - 1, -1},
                         {1000 * pi + 0.5f, 0.5f},
                         {pi - 0.0001f - 6.2831855f, pi - 0.0001f}}) {
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
