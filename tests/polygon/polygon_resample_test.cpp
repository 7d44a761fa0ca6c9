#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "orvik/polygon/SSE3dPolygon.h"
#include "polygon/polygon_points.h"

namespace {

using namespace polytest;

// What ReParametrize(step) must emit, edge by edge, written out plainly.
std::vector<P3> reparametrized(const std::vector<P3>& in, float step, bool withZ) {
  std::vector<P3> out;
  for (std::size_t i = 0; i < in.size(); ++i) {
    const P3 a = in[i], b = in[(i + 1) % in.size()];
    const float dx = b.x - a.x, dy = b.y - a.y, dz = b.z - a.z;
    float ext = std::max(std::fabs(dx), std::fabs(dy));
    if (withZ) ext = std::max(ext, std::fabs(dz));
    const int k = ext > step ? int(ext / step) : 1;
    const float div = float(k) + 0.5f;
    for (int j = 0; j < k; ++j)
      out.push_back({a.x + float(j) * (dx / div), a.y + float(j) * (dy / div), a.z + float(j) * (dz / div)});
  }
  return out;
}

}  // namespace

TEST(PolygonResample, ReParametrizePlacementAndMap) {
  // The documented example: (0,0) -> (3,0) and back with step 1.
  CSSE3dPolygon seg = polygonOf({{0, 0, 0}, {3, 0, 3}});
  seg.ReParametrize(1.0f);
  const float inc = 3.0f / 3.5f;
  EXPECT_TRUE(same(pointsOf(seg), {{0, 0, 0}, {inc, 0, inc}, {2 * inc, 0, 2 * inc}, {3, 0, 3},
                                   {3 - inc, 0, 3 - inc}, {3 - 2 * inc, 0, 3 - 2 * inc}}));

  struct Case {
    const char* name;
    std::vector<P3> ring;
    float step;
  };
  const std::vector<Case> cases = {
      {"star, fine step", starRing(40, 1, 100.0f), 0.7f},
      {"star, coarse step", starRing(25, 2, 50.0f), 9.5f},
      {"edges all shorter than the step", {{0, 0, 0}, {1, 0.5f, 2}, {0.2f, 1, 0}}, 1.0f},
      // Over 100,000 points out: every one is kept and the map stays inside.
      {"long outline", starRing(400, 3, 5000.0f), 0.2f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<P3> expected = reparametrized(c.ring, c.step, false);
    CSSE3dPolygon p = polygonOf(c.ring);
    std::vector<int> map(c.ring.size(), -7);
    p.ReParametrize(c.step, map.data());
    const std::vector<P3> got = pointsOf(p);
    ASSERT_TRUE(same(got, expected));
    EXPECT_FALSE(p.IsBoundingBoxCalculated());
    for (std::size_t i = 0; i < c.ring.size(); ++i) {
      ASSERT_GE(map[i], 0);
      ASSERT_LT(map[i], int(got.size()));
      EXPECT_TRUE(same({got[map[i]]}, {c.ring[i]}));
    }
    // Every point on the edge it came from, no gap beyond twice the step.
    double worstGap = 0.0, worstOff = 0.0;
    for (std::size_t e = 0, i = 0; i < got.size(); ++i) {
      while (e + 1 < c.ring.size() && int(i) >= map[e + 1]) ++e;
      const P3& a = got[i];
      const P3& b = got[(i + 1) % got.size()];
      worstGap = std::max({worstGap, double(std::fabs(b.x - a.x)), double(std::fabs(b.y - a.y))});
      worstOff = std::max(worstOff, distanceToSegment(c.ring[e], c.ring[(e + 1) % c.ring.size()], a.x, a.y));
    }
    EXPECT_LE(worstGap, 2.0 * c.step);
    EXPECT_LE(worstOff, 1e-3);
    EXPECT_NEAR(area2(got), area2(c.ring), 1e-5 * std::fabs(area2(c.ring)));
  }
  EXPECT_GT(reparametrized(cases[3].ring, cases[3].step, false).size(), 100000u);

  // The z extent only counts for the XYZ form.
  const std::vector<P3> tall = {{0, 0, 0}, {0.5f, 0, 10}, {0.5f, 0.5f, 10}};
  CSSE3dPolygon a = polygonOf(tall), b = polygonOf(tall);
  a.ReParametrize(1.0f);
  b.ReParametrizeXYZ(1.0f);
  EXPECT_TRUE(same(pointsOf(a), tall));
  EXPECT_TRUE(same(pointsOf(b), reparametrized(tall, 1.0f, true)));
  EXPECT_EQ(b.GetNumPoints(), 10 + 1 + 10);
}

TEST(PolygonResample, ReParametrizeOpenAndDegenerateSteps) {
  const std::vector<P3> chain = {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}};
  CSSE3dPolygon open = polygonOf(chain);
  open.ReParametrize(1.0f, true);
  std::vector<P3> expected = reparametrized({{0, 0, 0}, {4, 0, 0}}, 1.0f, false);
  const std::vector<P3> second = reparametrized({{4, 0, 0}, {4, 4, 0}}, 1.0f, false);
  expected.resize(4);
  expected.insert(expected.end(), second.begin(), second.begin() + 4);
  expected.push_back({4, 4, 0});
  EXPECT_TRUE(same(pointsOf(open), expected));
  CSSE3dPolygon closed = polygonOf(chain);
  closed.ReParametrize(1.0f, false);
  EXPECT_TRUE(same(pointsOf(closed), reparametrized(chain, 1.0f, false)));

  for (float step : {0.0f, -1.0f, NAN}) {
    SCOPED_TRACE(step);
    CSSE3dPolygon p = polygonOf(chain);
    std::vector<int> map(3, -1);
    p.ReParametrize(step, map.data());
    EXPECT_TRUE(same(pointsOf(p), chain));
    EXPECT_EQ(map, (std::vector<int>{0, 1, 2}));
  }
  // An edge to infinity cannot be split: its start point is kept.
  CSSE3dPolygon inf = polygonOf({{0, 0, 0}, {INFINITY, 0, 0}, {0, 3, 0}});
  inf.ReParametrize(1.0f);
  EXPECT_EQ(inf.GetNumPoints(), 1 + 1 + 3);
  CSSE3dPolygon empty;
  empty.ReParametrize(1.0f);
  EXPECT_EQ(empty.GetNumPoints(), 0);
}

TEST(PolygonResample, Subsample) {
  std::vector<P3> pts21, pts11;
  for (int i = 0; i < 21; ++i) pts21.push_back({float(i), float(2 * i), float(-i)});
  pts11.assign(pts21.begin(), pts21.begin() + 11);
  const auto at = [&](int i) { return pts21[i]; };
  struct Case {
    const char* name;
    std::vector<P3> in;
    int k;
    bool midpoint;
    std::vector<P3> expected;
  };
  const std::vector<Case> cases = {
      {"21 points, k 5", pts21, 5, false, {at(0), at(5), at(10), at(20)}},
      {"21 points, k 5, midpoint", pts21, 5, true, {at(0), at(5), at(10), {5, 10, -5}}},
      {"11 points, k 5", pts11, 5, false, {at(0), at(10)}},
      {"last point kept already", pts11, 2, false, {at(0), at(2), at(4), at(6), at(8), at(10)}},
      {"k 1 keeps all", pts11, 1, false, pts11},
      {"k 0 does nothing", pts11, 0, false, pts11},
      {"k -3 does nothing", pts11, -3, true, pts11},
      {"too few points: the last alone", {at(0), at(1), at(2)}, 5, false, {at(2)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSSE3dPolygon p = polygonOf(c.in);
    p.Subsample(c.k, c.midpoint);
    EXPECT_TRUE(same(pointsOf(p), c.expected));
  }
}

TEST(PolygonResample, SubSampleAdaptiveAndReducePoints) {
  // A traced square, one point per unit: the chord thinning keeps the corners
  // and the last point; area and corners survive.
  std::vector<P3> square;
  for (int i = 0; i < 10; ++i) square.push_back({float(i), 0, 0});
  for (int i = 0; i < 10; ++i) square.push_back({10, float(i), 0});
  for (int i = 0; i < 10; ++i) square.push_back({float(10 - i), 10, 0});
  for (int i = 0; i < 10; ++i) square.push_back({0, float(10 - i), 0});
  CSSE3dPolygon p = polygonOf(square);
  p.SubSampleAdaptive(0.9999f, FLT_MAX);
  EXPECT_TRUE(same(pointsOf(p), {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}, {0, 1, 0}}));
  // A length limit stops the chord: no kept gap is longer than it.
  CSSE3dPolygon q = polygonOf(square);
  q.SubSampleAdaptive(0.9999f, 3.0f);
  const std::vector<P3> limited = pointsOf(q);
  for (std::size_t i = 0; i + 1 < limited.size(); ++i)
    EXPECT_LE(std::hypot(limited[i + 1].x - limited[i].x, limited[i + 1].y - limited[i].y), 3.0f);

  struct Case {
    const char* name;
    std::vector<P3> in;
    bool onlyDuplicates;
    std::vector<P3> expected;
  };
  const std::vector<Case> cases = {
      {"straight middle point dropped", {{0, 0, 0}, {1, 0, 1}, {2, 0, 2}, {2, 2, 0}}, false,
       {{0, 0, 0}, {2, 0, 2}, {2, 2, 0}}},
      {"reversal kept", {{0, 0, 0}, {2, 0, 0}, {1, 0, 0}, {1, 2, 0}}, false,
       {{0, 0, 0}, {2, 0, 0}, {1, 0, 0}, {1, 2, 0}}},
      {"near duplicates", {{0, 0, 0}, {0.00005f, 0, 0}, {1, 0, 0}, {1, 0.00009f, 0}, {1, 1, 0}}, true,
       {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}},
      {"duplicates, then straight points", {{0, 0, 0}, {0, 0, 0}, {1, 1, 0}, {2, 2, 0}, {0, 3, 0}}, false,
       {{0, 0, 0}, {2, 2, 0}, {0, 3, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSSE3dPolygon r = polygonOf(c.in);
    r.ReducePoints(c.onlyDuplicates);
    EXPECT_TRUE(same(pointsOf(r), c.expected));
  }
}
