#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

#include "orvik/polygon/SSE3dPolygon.h"
#include "support/polygons.h"

using namespace testpolygons;

namespace {

// An edge whose extent exceeds the step is cut into k = extent / step pieces of length 1 / (k + 0.5).
Ring reparametrized(const Ring& in, float step, bool withZ) {
  Ring out;
  for (std::size_t i = 0; i < in.size(); ++i) {
    const Pt a = in[i], b = in[(i + 1) % in.size()];
    const float dx = b.x - a.x, dy = b.y - a.y, dz = b.z - a.z;
    const float ext = std::max({std::fabs(dx), std::fabs(dy), withZ ? std::fabs(dz) : 0.0f});
    const int k = ext > step ? int(ext / step) : 1;
    const float div = float(k) + 0.5f;
    for (int j = 0; j < k; ++j)
      out.push_back({a.x + float(j) * (dx / div), a.y + float(j) * (dy / div), a.z + float(j) * (dz / div)});
  }
  return out;
}

}  // namespace

TEST(PolygonResample, ReParametrizePlacementAndMap) {
  for (auto [ring, step] :
       {std::pair{star(40, 1, 100.0f), 0.7f},
        {star(25, 2, 50.0f), 9.5f},
        {Ring{{0, 0, 0}, {1, 0.5f, 2}, {0.2f, 1, 0}}, 1.0f},  // every edge shorter than the step
        {star(400, 3, 5000.0f), 0.2f}}) {                     // over 100,000 points out
    SCOPED_TRACE(ring.size());
    const Ring expected = reparametrized(ring, step, false);
    CSSE3dPolygon p = polygonOf(ring);
    std::vector<int> map(ring.size(), -7);
    p.ReParametrize(step, map.data());
    const Ring got = pointsOf(p);
    ASSERT_EQ(got, expected);
    EXPECT_FALSE(p.IsBoundingBoxCalculated());
    for (std::size_t i = 0; i < ring.size(); ++i) {
      ASSERT_TRUE(map[i] >= 0 && map[i] < int(got.size()));
      EXPECT_EQ(got[map[i]], ring[i]);
    }
  }
  // The z extent only counts for the XYZ form.
  const Ring tall = {{0, 0, 0}, {0.5f, 0, 10}, {0.5f, 0.5f, 10}};
  CSSE3dPolygon a = polygonOf(tall), b = polygonOf(tall);
  a.ReParametrize(1.0f);
  b.ReParametrizeXYZ(1.0f);
  EXPECT_EQ(pointsOf(a), tall);
  EXPECT_EQ(pointsOf(b), reparametrized(tall, 1.0f, true));
  EXPECT_EQ(b.GetNumPoints(), 10 + 1 + 10);
}

TEST(PolygonResample, ReParametrizeOpenAndDegenerateSteps) {
  const Ring chain = {{0, 0}, {4, 0}, {4, 4}};
  CSSE3dPolygon open = polygonOf(chain), closed = polygonOf(chain);
  open.ReParametrize(1.0f, true);
  closed.ReParametrize(1.0f, false);
  Ring expected = reparametrized(chain, 1.0f, false);
  EXPECT_EQ(pointsOf(closed), expected);
  expected.resize(8);  // no closing edge; the last point ends the chain
  expected.push_back({4, 4});
  EXPECT_EQ(pointsOf(open), expected);

  for (float step : {0.0f, -1.0f, NAN}) {
    CSSE3dPolygon p = polygonOf(chain);
    std::vector<int> map(3, -1);
    p.ReParametrize(step, map.data());
    EXPECT_EQ(pointsOf(p), chain) << step;
    EXPECT_EQ(map, (std::vector<int>{0, 1, 2}));
  }
  // An edge to infinity cannot be split: its start point is kept.
  CSSE3dPolygon inf = polygonOf({{0, 0}, {INFINITY, 0}, {0, 3}}), empty;
  inf.ReParametrize(1.0f);
  empty.ReParametrize(1.0f);
  EXPECT_EQ(inf.GetNumPoints(), 1 + 1 + 3);
  EXPECT_EQ(empty.GetNumPoints(), 0);
}

TEST(PolygonResample, SubsampleAndReducePoints) {
  Ring pts;
  for (int i = 0; i < 21; ++i) pts.push_back({float(i), float(2 * i), float(-i)});
  const Ring p11(pts.begin(), pts.begin() + 11);
  // Every k-th point and the last one (or the midpoint of what is left).
  for (auto [in, k, midpoint, expected] :
       {std::tuple{pts, 5, false, Ring{pts[0], pts[5], pts[10], pts[20]}},
        {pts, 5, true, Ring{pts[0], pts[5], pts[10], {5, 10, -5}}},
        {p11, 5, false, Ring{pts[0], pts[10]}},
        {p11, 2, false, Ring{pts[0], pts[2], pts[4], pts[6], pts[8], pts[10]}},
        {p11, 1, false, p11},
        {p11, 0, false, p11},
        {p11, -3, true, p11},
        {Ring{pts[0], pts[1], pts[2]}, 5, false, Ring{pts[2]}}}) {
    EXPECT_EQ(after(in, [k = k, m = midpoint](CSSE3dPolygon& p) { p.Subsample(k, m); }), expected) << k;
  }
  // The chord thinning of a traced square keeps the corners and the last point; a limit caps the gaps.
  Ring traced;
  for (int i = 0; i < 40; ++i) {
    const float s = float(i % 10);
    const Pt side[4] = {{s, 0}, {10, s}, {10 - s, 10}, {0, 10 - s}};
    traced.push_back(side[i / 10]);
  }
  CSSE3dPolygon p = polygonOf(traced), q = polygonOf(traced);
  p.SubSampleAdaptive(0.9999f, FLT_MAX);
  EXPECT_EQ(pointsOf(p), (Ring{{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 1}}));
  q.SubSampleAdaptive(0.9999f, 3.0f);
  const Ring limited = pointsOf(q);
  for (std::size_t i = 0; i + 1 < limited.size(); ++i)
    EXPECT_LE(std::hypot(limited[i + 1].x - limited[i].x, limited[i + 1].y - limited[i].y), 3.0f);

  // Straight middle points go, reversals stay; near duplicates go.
  for (auto [in, onlyDuplicates, expected] :
       {std::tuple{Ring{{0, 0, 0}, {1, 0, 1}, {2, 0, 2}, {2, 2, 0}}, false,
                   Ring{{0, 0, 0}, {2, 0, 2}, {2, 2, 0}}},
        {Ring{{0, 0}, {2, 0}, {1, 0}, {1, 2}}, false, Ring{{0, 0}, {2, 0}, {1, 0}, {1, 2}}},
        {Ring{{0, 0}, {0.00005f, 0}, {1, 0}, {1, 0.00009f}, {1, 1}}, true, Ring{{0, 0}, {1, 0}, {1, 1}}},
        {Ring{{0, 0}, {0, 0}, {1, 1}, {2, 2}, {0, 3}}, false, Ring{{0, 0}, {2, 2}, {0, 3}}}}) {
    EXPECT_EQ(after(in, [d = onlyDuplicates](CSSE3dPolygon& p) { p.ReducePoints(d); }), expected)
        << in.size();
  }
}
