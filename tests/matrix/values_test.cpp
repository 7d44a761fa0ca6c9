#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "orvik/chain/SSEcharMatrix.h"
#include "orvik/matrix/ssematrix.h"
#include "support/fields.h"

using Floats = std::vector<float>;
using Ints = std::vector<int>;
using M = CSSEMatrix;

TEST(Values, WholeMatrixReplacementsAndScalars) {
  // One vector: lanes 0..2 are rows, lane 3 is spare and takes part; two vectors where out says so.
  struct Case {
    void (*op)(M&);
    Floats in, out;
  };
  const Case cases[] = {
      {[](M& m) { m.TresholdAbove(0.5f, 1.0f); }, {0.2f, 0.5f, 0.7f, 0.9f}, {0, 0, 1, 1}},
      {[](M& m) { m.TresholdAboveKeep(0.5f, 1.0f); }, {0.2f, 0.5f, 0.7f, 0.9f}, {0.2f, 0.5f, 1, 1}},
      {[](M& m) { m.TresholdBelow(0.5f, 3.0f); }, {0.2f, 0.5f, 0.7f, NAN}, {3, 0, 0, 0}},
      {[](M& m) { m.EraseOtherValuePixels(2.0f, 0.1f); }, {1.95f, 2.05f, 2.2f, 1.8f}, {1.95f, 2.05f, 0, 0}},
      {[](M& m) { m.ReplaceValueWithValue(1.0f, 5.0f); },
       {1.0015f, 1.003f, 0.9985f, 0.997f},
       {5, 1.003f, 5, 0.997f}},
      {[](M& m) { m.ReplaceValueWithValue(1.0f, 5.0f, 0.01f); },
       {1.0015f, 1.003f, 0.9f, 1.0099f},
       {5, 5, 0.9f, 5}},
      {[](M& m) { m.ResetPixelsInInterval(1, 2, 9); }, {1, 1.5f, 2, 0.5f}, {1, 9, 2, 0.5f}},
      {[](M& m) { m.LiftWhereNonZero(10); }, {0, 0.004f, 0.25f, -1}, {0, 0.004f, 10.25f, -1}},
      {[](M& m) { m.OffsetMatrixBelow(0.001f, 1); }, {0, 0.004f, 0.25f, -1}, {1, 0.004f, 0.25f, 0}},
      // Without overflow.
      {[](M& m) { m.Absolute(); }, {-1e30f, 1e-30f, -0.0f, -1e-45f}, {1e30f, 1e-30f, 0.0f, 1e-45f}},
      // The leading columns are cleared.
      {[](M& m) { m.TresholdAbove(0.5f, 2.0f, 2); }, {1}, {0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 2, 2, 2, 2, 2, 2}},
      // The spare lanes 3 and 7 take part in the subtraction, not in the minimum.
      {[](M& m) { m.BinarizeBackground(-1.0f, 8.0f); },
       {3, 3.00005f, 4, 2, 5, 3, 3, 7},
       {-1, -1, 8, -1, 8, -1, -1, 8}},
  };
  for (const Case& c : cases) {
    CSSEMatrix m = withLanes(c.out.size() / 4, 3, c.in);
    c.op(m);
    EXPECT_EQ(lanes(m), c.out) << "case " << &c - cases;
  }
}

TEST(Values, PatchSettersClampTheirCentre) {
  CSSEMatrix m = filled(12, 12);
  m.SetCross(0, 0, 7.0f);  // centre moved to (1, 1)
  m.SetPoint(3, 4, 9.0f);
  m.Set11x11BoxPointMax(0, 0, 2.0f);  // centre moved to (5, 5): columns and rows 0 .. 10
  EXPECT_TRUE(fieldIs(m, [](int x, int y) {
    const bool cross = (x == 1 && y <= 2) || (y == 1 && x <= 2);
    return cross ? 7.0f : (x == 3 && y == 4) ? 9.0f : (x <= 10 && y <= 10 ? 2.0f : 0.0f);
  }));
  EXPECT_EQ(m.NumValuesAbove(0.0f), 121);  // spare lanes untouched
  CSSEMatrix small = filled(2, 2);
  small.Set3x3BoxPoint(0, 0, 5.0f);  // no room for the patch: nothing written
  EXPECT_EQ(small.NumValuesAbove(0.0f), 0);
}

TEST(Values, TwoMatrixArithmetic) {
  CSSEMatrix a = filled(5, 9), b = filled(5, 9);
  pattern(a, 0.5f);
  pattern(b, -0.25f);
  const Floats va = lanes(a), vb = lanes(b);
  struct Case {
    const char* name;
    void (*op)(M&, const M&);
    float (*ref)(float, float);
  };
  const Case cases[] = {
      {"AddMatrix", [](M& t, const M& o) { t.AddMatrix(o); }, [](float v, float o) { return v + o; }},
      {"SubMatrixValidate", [](M& t, const M& o) { t.SubMatrixValidate(o); },
       [](float v, float o) { return v > 0 ? v - o : v; }},
      {"MaximumOf", [](M& t, const M& o) { t.MaximumOf(o); }, [](float v, float o) { return o > v ? o : v; }},
      {"MinimumOf", [](M& t, const M& o) { t.MinimumOf(o); }, [](float v, float o) { return o < v ? o : v; }},
      {"CombineAbsolute", [](M& t, const M& o) { t.CombineAbsolute(o); },
       [](float v, float o) { return std::sqrt(o * o + v * v); }},
      {"AddMatrixOffsetedConstrained",
       [](M& t, const M& o) { t.AddMatrixOffsetedConstrained(o, -3.0f, 0.5f, 2.0f); },
       [](float v, float o) { return std::max(0.0f, (v < 0.001f ? 0.0f : o) + 3.0f) * 2.0f + v * 0.5f; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSSEMatrix t(a);
    c.op(t, b);
    const Floats vt = lanes(t);
    for (std::size_t i = 0; i < va.size(); ++i) EXPECT_EQ(vt[i], c.ref(va[i], vb[i])) << i;
  }
  // One vector each: target, other, result, compared bit for bit so that NaN and the sign of zero count.
  // MaximumOf keeps the target on NaN and equality; CombineAbsolute reaches beyond the range of the squares.
  const std::pair<void (*)(M&, const M&), Floats> vectors[] = {
      {[](M& t, const M& o) { t.MaximumOf(o); }, {NAN, 1, -0.0f, 4, 2, NAN, 0.0f, 3, NAN, 1, -0.0f, 4}},
      {[](M& t, const M& o) { t.CombineAbsolute(o); },
       {3e20f, 3e-25f, 3, 0, 4e20f, 4e-25f, 4, 0, 5e20f, 5e-25f, 5, 0}},
      {[](M& t, const M& o) { t.MaskOut(o); }, {1, -1, -1, 1, 0.05f, 0.05f, 0.2f, 0.2f, 0, 0, 0, 1}},
      {[](M& t, const M& o) { t.MaskOutAndValidate(o); },
       {1, -1, -1, 1, 0.05f, 0.05f, 0.2f, 0.2f, 0, -1, -1, 1}},
      {[](M& t, const M& o) { t.StencilThreshBelow(o, 0.1f); },
       {1, 2, 3, 4, 0.05f, 0.05f, 0.2f, 0.2f, 0, 0, 3, 4}},
  };
  for (const auto& c : vectors) {
    SCOPED_TRACE(&c - vectors);
    const auto& [op, v] = c;
    CSSEMatrix t = withLanes(1, 3, {v.begin(), v.begin() + 4});
    op(t, withLanes(1, 3, {v.begin() + 4, v.begin() + 8}));
    EXPECT_TRUE(sameLanes(t, withLanes(1, 3, {v.begin() + 8, v.end()})));
  }
  {
    SCOPED_TRACE("a smaller other leaves the rest of the target unchanged");
    CSSEMatrix t(a);
    t.AddMatrix(filled(3, 2, 1.0f));  // one SSE line of three vectors
    const Floats vt = lanes(t);
    for (std::size_t i = 0; i < vt.size(); ++i) EXPECT_EQ(vt[i], i < 12 ? va[i] + 1.0f : va[i]) << i;
  }
  SCOPED_TRACE("CalcDifferenceMatrixConstrained, also into one of its operands");
  CSSEMatrix d;
  d.CalcDifferenceMatrixConstrained(a, filled(3, 5, 1.0f), true, false);
  ASSERT_EQ(d.GetSizeX(), 3);
  ASSERT_EQ(d.GetSizeY(), 5);
  EXPECT_TRUE(fieldIs(d, [&](int x, int y) { return std::max(0.0f, a.GetPoint(x, y) - 1.0f); }));
  d.CalcDifferenceMatrixConstrained(d, a, false, true);
  EXPECT_TRUE(fieldIs(d, [&](int x, int y) {
    return std::min(0.0f, std::max(0.0f, a.GetPoint(x, y) - 1.0f) - a.GetPoint(x, y));
  }));
}

TEST(Values, MinMaxAndCounts) {
  CSSEMatrix m = filled(5, 7, 2.0f);
  float mx = 0, mn = 0;
  const auto extremes = [&](auto calc) {
    (m.*calc)(&mx, &mn);
    return Floats{mx, mn};
  };
  {
    SCOPED_TRACE("only logical rows count for the extremes; every lane for the counts");
    m.SetPoint(4, 6, 3.0f);
    m.SetPoint(0, 0, -1.0f);
    m.GetMatrixDataDirectly()[1][2][3] = 100.0f;  // the spare lane below row 6
    EXPECT_EQ(extremes(&CSSEMatrix::CalcMinMaxValues), (Floats{3.0f, -1.0f}));
    const CSSEMatrix fresh = filled(5, 7);
    EXPECT_EQ((Ints{fresh.NumValuesAbove(-1.0f), m.NumValuesAbove(2.0f), m.NumValuesBelow(2.0f),
                    m.NumValuesAbove(&fresh), m.NumValuesBelow(&fresh)}),
              (Ints{40, 2, 1, 39, 1}));
  }
  SCOPED_TRACE("start values bound the result");
  m.Fill(2e6f);
  EXPECT_EQ(extremes(&CSSEMatrix::CalcMinMaxValues), (Floats{2e6f, 1e6f}));
  SCOPED_TRACE("NaN values are ignored, in full lines and in the last line");
  m.Fill(1.0f);
  m.SetPoint(1, 1, NAN);
  m.SetPoint(1, 5, NAN);
  m.SetPoint(2, 5, 4.0f);
  m.CalcMinMaxValues(&mx, nullptr);
  m.CalcMinMaxValues(nullptr, &mn);
  EXPECT_EQ((Floats{mx, mn}), (Floats{4.0f, 1.0f}));
  SCOPED_TRACE("CalcMinMaxValuesExcludeZero");
  m.Fill(0.0f);
  m.SetPoint(0, 0, 0.0019f);
  m.SetPoint(1, 0, -0.0019f);
  m.SetPoint(2, 2, 0.002f);
  m.SetPoint(3, 6, -0.5f);
  EXPECT_EQ(extremes(&CSSEMatrix::CalcMinMaxValuesExcludeZero), (Floats{0.002f, -0.5f}));
  SCOPED_TRACE("brute force on a field with several lines");
  CSSEMatrix big = filled(13, 23);
  pattern(big, 0.3f);
  float rmx = -1e6f, rmn = 1e6f;
  for (int y = 0; y < 23; ++y)
    for (int x = 0; x < 13; ++x) {
      rmx = std::max(rmx, big.GetPoint(x, y));
      rmn = std::min(rmn, big.GetPoint(x, y));
    }
  big.CalcMinMaxValues(&mx, &mn);
  EXPECT_EQ((Floats{mx, mn}), (Floats{rmx, rmn}));
}

TEST(Values, MaskMatrixAgainstScalarReference) {
  CSSEMatrix mask = filled(6, 9);
  mixed(mask, 3);
  for (int x = 0; x < 6; ++x)
    for (int r = 9; r < 12; ++r) lane(mask, x, r) = 7.0f;  // spare lanes: must read as the pad value
  const Floats maskBefore = lanes(mask);
  for (int oy = -9; oy <= 17; ++oy)
    for (int ox : {-7, -2, 0, 3, 8}) {
      SCOPED_TRACE(testing::Message() << "offset " << ox << "," << oy);
      CSSEMatrix target = filled(11, 17);
      mixed(target, 5);
      CSSEMatrix expected = target;
      const float pad = 0.0f, newValue = -4.0f, threshold = 0.5f;
      for (int r = 0; r < laneRows(target); ++r)
        for (int x = 0; x < 11; ++x) {
          const int mr = r - oy, mx = x - ox;
          if (mr < 0 || mr >= laneRows(mask) || mx < 0 || mx >= 6) continue;
          if ((mr < 9 ? lane(mask, mx, mr) : pad) < threshold) lane(expected, x, r) = newValue;
        }
      ASSERT_TRUE(target.MaskMatrix(mask, pad, ox, oy, newValue, threshold));
      EXPECT_EQ(lanes(target), lanes(expected));
    }
  EXPECT_EQ(lanes(mask), maskBefore);
  SCOPED_TRACE("refusals");
  CSSEMatrix target = filled(4, 4), empty = filled(0, 3), none;
  EXPECT_EQ((Ints{target.MaskMatrix(mask, 0, 5, 0, 1, 1), target.MaskMatrix(mask, 0, 0, 5, 1, 1),
                  target.MaskMatrix(none, 0, 0, 0, 1, 1), empty.MaskMatrix(mask, 0, 0, 0, 1, 1),
                  target.MaskMatrix(mask, 0, 4, 4, 1, 1)}),
            (Ints{0, 0, 0, 0, 1}));
  EXPECT_EQ(target.NumValuesAbove(0.0f), 0);
}

TEST(Values, ComputeSumOfTwoMatricesAgainstScalarReference) {
  CSSEMatrix target = filled(12, 19), other = filled(5, 7);
  for (int r = 0; r < 19; ++r)
    for (int x = 0; x < 12; ++x) lane(target, x, r) = 0.6f + static_cast<float>((x * 5 + r * 3) % 11) * 0.37f;
  for (int r = 0; r < 7; ++r)
    for (int x = 0; x < 5; ++x) lane(other, x, r) = static_cast<float>((x * 3 + r * 7) % 13) * 0.25f;
  auto reference = [&](int oy, int ox) {
    float sum = 0.0f;
    for (int g = 0; g < other.GetSSESizeY(); ++g)
      for (int x = 0; x < 5; ++x) {
        float c[4] = {0, 0, 0, 0};
        for (int k = 0; k < 4; ++k) {
          const int r = oy + 4 * g + k;
          const float t = r < laneRows(target) ? lane(target, x + ox, r) : 0.0f,
                      o = lane(other, x, 4 * g + k);
          if (o <= 0.5f) continue;
          if (!(t > 0.5f)) return -1.0f;
          c[k] = std::max(t - o, 0.0f) / 100.0f;
        }
        sum += (c[0] + c[3]) + (c[2] + c[1]);
      }
    return sum;
  };
  for (int oy = 0; oy <= 12; ++oy)
    for (int ox : {0, 3, 7}) {
      SCOPED_TRACE(testing::Message() << "offset " << ox << "," << oy);
      const float expected = reference(oy, ox);
      EXPECT_GT(expected, 0.0f);
      EXPECT_EQ(target.ComputeSumOfTwoMatrices(&other, oy, ox), expected);
    }
  // A set lane over a low value fails the window.
  lane(target, 4, 6) = 0.5f;
  lane(other, 2, 3) = 1.0f;
  EXPECT_EQ(target.ComputeSumOfTwoMatrices(&other, 3, 2), -1.0f);
  // Misplaced or missing other.
  CSSEMatrix empty = filled(0, 0);
  EXPECT_EQ(
      (Floats{target.ComputeSumOfTwoMatrices(&empty, 0, 0), target.ComputeSumOfTwoMatrices(nullptr, 0, 0),
              target.ComputeSumOfTwoMatrices(&other, -1, 0), target.ComputeSumOfTwoMatrices(&other, 13, 0),
              target.ComputeSumOfTwoMatrices(&other, 0, 8)}),
      Floats(5, 0.0f));
}

TEST(Values, MaskOutWithValueAndStencils) {
  CSSEMatrix mask = filled(7, 10);
  mixed(mask, 1);
  for (float oy : {-6.5f, -4.0f, -1.0f, 0.0f, 1.9f, 3.0f, 5.0f, 8.0f})
    for (float ox : {-3.2f, 0.0f, 2.0f})
      for (bool flag : {true, false}) {
        SCOPED_TRACE(testing::Message() << "offset " << ox << "," << oy << " flag " << flag);
        CSSEMatrix target = filled(9, 13);
        mixed(target, 4);
        CSSEMatrix expected = target;
        const int iox = static_cast<int>(ox), ioy = static_cast<int>(oy);
        for (int y = 0; y < 13; ++y)
          for (int x = 0; x < 9; ++x) {
            const int mx = x + iox, my = y + ioy;
            if (mx < 0 || mx >= 7 || my < 0 || my >= 10) continue;
            const float d = target.GetPoint(x, y) - mask.GetPoint(mx, my);
            if (flag ? d <= 0.1f : d >= 0.1f) expected.SetPoint(x, y, 9.0f);
          }
        target.MaskOutWithValue(mask, ox, oy, 0.1f, 9.0f, flag);
        EXPECT_EQ(lanes(target), lanes(expected));
      }
  SCOPED_TRACE("scaled stencils");
  CSSEMatrix t = filled(6, 6, 1.0f), s = filled(3, 3), u = filled(6, 6, 1.0f);
  CSSEcharMatrix c;
  c.Create(3, 3);
  s.SetPoint(1, 1, 10.0f);
  c.SetPoint(1, 1, 10);
  t.Stencil(s, 0.5f, 0.5f);  // x -> trunc(x / 2 + 0.5): 1 and 2 map to 1
  u.Stencil(c, 0.5f, 0.5f);
  const auto centre = [](int x, int y) { return (x >= 1 && x <= 2 && y >= 1 && y <= 2) ? 1.0f : 0.0f; };
  EXPECT_TRUE(fieldIs(t, centre));
  EXPECT_TRUE(fieldIs(u, centre));
  u.Fill(1.0f);
  c.SetPoint(2, 2, static_cast<char>(200));  // negative as a signed byte
  u.Stencil(c, 1.0f, 1.0f);                  // clamped reads: (5, 5) reads (2, 2)
  EXPECT_EQ(u.IntegrateMatrixValid(), 1.0f);
  EXPECT_EQ(u.GetPoint(1, 1), 1.0f);
}

TEST(Values, SumsPatchesAndBoundingBox) {
  const CSSEMatrix ones = filled(3, 5, 1.0f), tall = filled(3, 8, 1.0f);
  EXPECT_EQ((Floats{ones.IntegrateMatrixValid(), ones.IntegrateMatrix(), tall.IntegrateMatrixValid(),
                    tall.IntegrateMatrix()}),
            (Floats{15, 24, 24, 36}));
  {
    SCOPED_TRACE("the four-accumulator summation order");
    CSSEMatrix m = filled(37, 13);
    mixed(m, 2);
    for (int r = 0; r < 16; ++r)
      for (int x = 0; x < 37; ++x) lane(m, x, r) = (lane(m, x, r) - 0.4f) * (r % 2 ? 1e4f : 1e-3f);
    float s[4] = {0, 0, 0, 0}, a[4] = {0, 0, 0, 0}, w[4] = {0, 0, 0, 0};
    for (int r = 0; r < 16; ++r)
      for (int x = 0; x < 37; ++x) {
        const float v = lane(m, x, r);
        s[r & 3] += v;
        a[r & 3] += std::fabs(v) * (0.5f * 3.0f);
        if (r < 13) w[r & 3] += v;
      }
    const auto fold = [](const float* l) { return (l[0] + l[3]) + (l[2] + l[1]); };
    EXPECT_EQ(m.IntegrateMatrix(), fold(s));
    EXPECT_EQ(m.IntegrateMatrixAbsolute(0.5f, 3.0f), fold(a));
    EXPECT_EQ(m.IntegrateMatrixValid(), fold(w));
    // Folded as (s0 + s3) + (s2 + s1) the large lanes cancel first and the
    // small ones survive; any other pairing loses them.
    CSSEMatrix one = withLanes(1, 3, {1e8f, 1.0f, 1.0f, -1e8f});
    EXPECT_EQ(one.IntegrateMatrix(), 2.0f);
    EXPECT_EQ(one.IntegrateMatrixAbsolute(1.0f, 1.0f), 2e8f + 2.0f);
  }
  {
    SCOPED_TRACE("patch ranges");
    CSSEMatrix m = filled(20, 40, 1.0f);
    m.SetPoint(10, 15, 5.0f);  // line 3, vector 10
    m.SetPoint(10, 14, -5.0f);
    m.SetPoint(6, 16, 0.001f);  // line 4, vector 6
    const auto patch = [&m](auto calc, int x0, int x1, int y0, int y1) {
      float out = 0.0f;
      (m.*calc)(&out, x0, x1, y0, y1);
      return out;
    };
    const auto max = &CSSEMatrix::CalcMaxValueOfPatch, min = &CSSEMatrix::CalcMinValueOfPatch;
    EXPECT_EQ((Floats{patch(max, 0, 19, 0, 39),                            // lines 1 .. 8, vectors 3 .. 15
                      patch(min, 0, 19, 0, 39), patch(max, 8, 14, 0, 39),  // vectors 11 .. 10: none
                      patch(max, 0, 19, 4, 12),   // (12 >> 2) - (4 >> 2) = 2: no line
                      patch(min, 0, 19, 8, 20),   // lines 3 .. 3
                      patch(min, 0, 19, 12, 24),  // line 4 only
                      patch(&CSSEMatrix::CalcMinValueOfPatchExcludeZero, 0, 19, 12, 24)}),
              (Floats{5.0f, -5.0f, -1e6f, -1e6f, -5.0f, 0.001f, 1.0f}));
    m.Fill(0.0f);
    EXPECT_EQ(patch(&CSSEMatrix::CalcMinValueOfPatchExcludeZero, -10, 100, -10, 100), 999999.875f);
  }
  {
    SCOPED_TRACE("CalcBoundingBox");
    CSSEMatrix m = filled(9, 11);
    const auto box = [&m](bool above) {
      Ints b(4, -1);
      m.CalcBoundingBox(b[0], b[1], b[2], b[3], 0.5f, above);
      return b;
    };
    EXPECT_EQ(box(true), (Ints{8, 10, 0, 0}));
    m.SetPoint(0, 0, 1.0f);
    EXPECT_EQ(box(true), (Ints{0, 0, 0, 0}));
    m.SetPoint(6, 9, 2.0f);
    m.SetPoint(3, 8, 2.0f);  // two hits in one line: the lower one is the bottom
    m.SetPoint(3, 4, 2.0f);
    lane(m, 8, 11) = 5.0f;  // spare lane: not an element
    EXPECT_EQ(box(true), (Ints{0, 0, 6, 9}));
    m.Fill(1.0f);
    m.SetPoint(2, 7, NAN);
    m.SetPoint(5, 3, 0.0f);
    EXPECT_EQ(box(false), (Ints{5, 3, 5, 3}));
  }
  SCOPED_TRACE("GetPixelPreciseFloat and GetPointMax3x3");
  CSSEMatrix m = field(5, 5, [](int x, int y) { return x + 10 * y; });
  EXPECT_FLOAT_EQ(m.GetPixelPreciseFloat(1.25f, 2.5f, false), 26.25f);
  EXPECT_EQ(m.GetPixelPreciseFloat(0.0f, 0.0f, true), 11.0f);  // clamped to (1, 1), weights 0
  EXPECT_EQ(m.GetPixelPreciseFloat(9.0f, 9.0f, true), 33.0f + 1.0f + 10.0f);
  EXPECT_EQ(m.GetPointMax3x3(0, 0), 21.0f);
  EXPECT_EQ(m.GetPointMax3x3(2, 2), 32.0f);
}
