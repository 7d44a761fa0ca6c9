#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

#include "orvik/chain/SSEcharMatrix.h"
#include "orvik/matrix/ssematrix.h"
#include "support/fields.h"

TEST(Values, WholeMatrixReplacementsAndScalars) {
  // One vector: lanes 0..2 are rows, lane 3 is spare and takes part.
  struct Case {
    const char* name;
    std::vector<float> in, out;
    void (*op)(CSSEMatrix&);
  };
  const Case cases[] = {
      {"TresholdAbove", {0.2f, 0.5f, 0.7f, 0.9f}, {0, 0, 1, 1}, [](CSSEMatrix& m) { m.TresholdAbove(0.5f, 1.0f); }},
      {"TresholdAboveKeep", {0.2f, 0.5f, 0.7f, 0.9f}, {0.2f, 0.5f, 1, 1}, [](CSSEMatrix& m) { m.TresholdAboveKeep(0.5f, 1.0f); }},
      {"TresholdBelow", {0.2f, 0.5f, 0.7f, NAN}, {3, 0, 0, 0}, [](CSSEMatrix& m) { m.TresholdBelow(0.5f, 3.0f); }},
      {"EraseOtherValuePixels", {1.95f, 2.05f, 2.2f, 1.8f}, {1.95f, 2.05f, 0, 0},
       [](CSSEMatrix& m) { m.EraseOtherValuePixels(2.0f, 0.1f); }},
      {"ReplaceValueWithValue", {1.0015f, 1.003f, 0.9985f, 0.997f}, {5, 1.003f, 5, 0.997f},
       [](CSSEMatrix& m) { m.ReplaceValueWithValue(1.0f, 5.0f); }},
      {"ReplaceValueWithValue tol", {1.0015f, 1.003f, 0.9f, 1.0099f}, {5, 5, 0.9f, 5},
       [](CSSEMatrix& m) { m.ReplaceValueWithValue(1.0f, 5.0f, 0.01f); }},
      {"ResetPixelsInInterval", {1, 1.5f, 2, 0.5f}, {1, 9, 2, 0.5f}, [](CSSEMatrix& m) { m.ResetPixelsInInterval(1, 2, 9); }},
      {"LiftWhereNonZero", {0, 0.004f, 0.25f, -1}, {0, 0.004f, 10.25f, -1}, [](CSSEMatrix& m) { m.LiftWhereNonZero(10); }},
      {"OffsetMatrixBelow", {0, 0.004f, 0.25f, -1}, {1, 0.004f, 0.25f, 0}, [](CSSEMatrix& m) { m.OffsetMatrixBelow(0.001f, 1); }},
      {"Absolute without overflow", {-1e30f, 1e-30f, -0.0f, -1e-45f}, {1e30f, 1e-30f, 0.0f, 1e-45f},
       [](CSSEMatrix& m) { m.Absolute(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSSEMatrix m;
    m.Create(1, 3);
    setLanes(m, c.in);
    c.op(m);
    EXPECT_EQ(lanes(m), c.out);
  }
  {
    SCOPED_TRACE("TresholdAbove clears the leading columns");
    CSSEMatrix w;
    w.Create(4, 2);
    w.Fill(1.0f);
    w.TresholdAbove(0.5f, 2.0f, 2);
    EXPECT_EQ(lanes(w), (std::vector<float>{0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 2, 2, 2, 2, 2, 2}));
  }
  {
    SCOPED_TRACE("BinarizeBackground: the spare lanes take part in the subtraction, not in the minimum");
    CSSEMatrix w;
    w.Create(2, 3);
    setLanes(w, {3, 3.00005f, 4, 2, 5, 3, 3, 7});  // lanes 3 and 7 are spare
    w.BinarizeBackground(-1.0f, 8.0f);
    EXPECT_EQ(lanes(w), (std::vector<float>{-1, -1, 8, -1, 8, -1, -1, 8}));
  }
  {
    SCOPED_TRACE("Absolute equals the square root of the square in the ordinary range");
    CSSEMatrix m;
    m.Create(7, 5);
    pattern(m, 0.37f);
    const auto before = lanes(m);
    m.Absolute();
    const auto after = lanes(m);
    for (std::size_t i = 0; i < before.size(); ++i) EXPECT_EQ(after[i], std::sqrt(before[i] * before[i]));
  }
}

TEST(Values, PatchSettersClampTheirCentre) {
  CSSEMatrix m;
  m.Create(12, 12);
  m.SetCross(0, 0, 7.0f);  // centre moved to (1, 1)
  m.SetPoint(3, 4, 9.0f);
  m.Set11x11BoxPointMax(0, 0, 2.0f);  // centre moved to (5, 5): columns and rows 0 .. 10
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x) {
      const bool cross = (x == 1 && y <= 2) || (y == 1 && x <= 2);
      const float expected = cross ? 7.0f : (x == 3 && y == 4) ? 9.0f : (x <= 10 && y <= 10 ? 2.0f : 0.0f);
      EXPECT_EQ(m.GetPoint(x, y), expected) << x << "," << y;
    }
  EXPECT_EQ(m.NumValuesAbove(0.0f), 121);  // spare lanes untouched
  CSSEMatrix small;
  small.Create(2, 2);
  small.Set3x3BoxPoint(0, 0, 5.0f);  // no room for the patch: nothing written
  EXPECT_EQ(small.NumValuesAbove(0.0f), 0);
}

TEST(Values, TwoMatrixArithmetic) {
  CSSEMatrix a, b;
  a.Create(5, 9);
  b.Create(5, 9);
  pattern(a, 0.5f);
  pattern(b, -0.25f);
  const auto va = lanes(a), vb = lanes(b);
  struct Case {
    const char* name;
    void (*op)(CSSEMatrix&, const CSSEMatrix&);
    float (*ref)(float, float);
  };
  const Case cases[] = {
      {"AddMatrix", [](CSSEMatrix& t, const CSSEMatrix& o) { t.AddMatrix(o); }, [](float v, float o) { return v + o; }},
      {"SubMatrixValidate", [](CSSEMatrix& t, const CSSEMatrix& o) { t.SubMatrixValidate(o); },
       [](float v, float o) { return v > 0 ? v - o : v; }},
      {"MaximumOf", [](CSSEMatrix& t, const CSSEMatrix& o) { t.MaximumOf(o); }, [](float v, float o) { return o > v ? o : v; }},
      {"MinimumOf", [](CSSEMatrix& t, const CSSEMatrix& o) { t.MinimumOf(o); }, [](float v, float o) { return o < v ? o : v; }},
      {"CombineAbsolute", [](CSSEMatrix& t, const CSSEMatrix& o) { t.CombineAbsolute(o); },
       [](float v, float o) { return std::sqrt(o * o + v * v); }},
      {"AddMatrixOffsetedConstrained", [](CSSEMatrix& t, const CSSEMatrix& o) { t.AddMatrixOffsetedConstrained(o, -3.0f, 0.5f, 2.0f); },
       [](float v, float o) { return std::max(0.0f, (v < 0.001f ? 0.0f : o) + 3.0f) * 2.0f + v * 0.5f; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSSEMatrix t(a);
    c.op(t, b);
    const auto vt = lanes(t);
    for (std::size_t i = 0; i < va.size(); ++i) EXPECT_EQ(vt[i], c.ref(va[i], vb[i])) << i;
  }
  {
    SCOPED_TRACE("MaximumOf keeps the target's value on NaN and equality");
    CSSEMatrix t, o;
    t.Create(1, 3);
    o.Create(1, 3);
    setLanes(t, {NAN, 1, -0.0f, 4});
    setLanes(o, {2, NAN, 0.0f, 3});
    t.MaximumOf(o);
    const auto l = lanes(t);
    EXPECT_TRUE(std::isnan(l[0]));
    EXPECT_EQ(l[1], 1.0f);
    EXPECT_TRUE(std::signbit(l[2]));
    EXPECT_EQ(l[3], 4.0f);
  }
  {
    SCOPED_TRACE("CombineAbsolute beyond the range of the squares");
    CSSEMatrix t, o;
    t.Create(1, 3);
    o.Create(1, 3);
    setLanes(t, {3e20f, 3e-25f, 3.0f, 0.0f});
    setLanes(o, {4e20f, 4e-25f, 4.0f, 0.0f});
    t.CombineAbsolute(o);
    EXPECT_EQ(lanes(t), (std::vector<float>{5e20f, 5e-25f, 5.0f, 0.0f}));
  }
  {
    SCOPED_TRACE("a smaller other leaves the rest of the target unchanged");
    CSSEMatrix t(a), o;
    o.Create(3, 2);  // one SSE line of three vectors
    o.Fill(1.0f);
    t.AddMatrix(o);
    const auto vt = lanes(t);
    for (std::size_t i = 0; i < vt.size(); ++i) EXPECT_EQ(vt[i], i < 12 ? va[i] + 1.0f : va[i]) << i;
  }
  {
    SCOPED_TRACE("CalcDifferenceMatrixConstrained, also into one of its operands");
    CSSEMatrix d, small;
    small.Create(3, 5);
    small.Fill(1.0f);
    d.CalcDifferenceMatrixConstrained(a, small, true, false);
    ASSERT_EQ(d.GetSizeX(), 3);
    ASSERT_EQ(d.GetSizeY(), 5);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 3; ++x) EXPECT_EQ(d.GetPoint(x, y), std::max(0.0f, a.GetPoint(x, y) - 1.0f));
    d.CalcDifferenceMatrixConstrained(d, a, false, true);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 3; ++x)
        EXPECT_EQ(d.GetPoint(x, y), std::min(0.0f, std::max(0.0f, a.GetPoint(x, y) - 1.0f) - a.GetPoint(x, y)));
  }
}

TEST(Values, MinMaxAndCounts) {
  CSSEMatrix m;
  m.Create(5, 7);
  float mx = 0, mn = 0;
  {
    SCOPED_TRACE("only logical rows count for the extremes; every lane for the counts");
    m.Fill(2.0f);
    m.SetPoint(4, 6, 3.0f);
    m.SetPoint(0, 0, -1.0f);
    m.GetMatrixDataDirectly()[1][2][3] = 100.0f;  // the spare lane below row 6
    m.CalcMinMaxValues(&mx, &mn);
    EXPECT_EQ(mx, 3.0f);
    EXPECT_EQ(mn, -1.0f);
    CSSEMatrix fresh;
    fresh.Create(5, 7);
    EXPECT_EQ(fresh.NumValuesAbove(-1.0f), 40);
    EXPECT_EQ(m.NumValuesAbove(2.0f), 2);
    EXPECT_EQ(m.NumValuesBelow(2.0f), 1);
    EXPECT_EQ(m.NumValuesAbove(&fresh), 39);
    EXPECT_EQ(m.NumValuesBelow(&fresh), 1);
  }
  {
    SCOPED_TRACE("start values bound the result");
    m.Fill(2e6f);
    m.CalcMinMaxValues(&mx, &mn);
    EXPECT_EQ(mx, 2e6f);
    EXPECT_EQ(mn, 1e6f);
  }
  {
    SCOPED_TRACE("NaN values are ignored, in full lines and in the last line");
    m.Fill(1.0f);
    m.SetPoint(1, 1, NAN);
    m.SetPoint(1, 5, NAN);
    m.SetPoint(2, 5, 4.0f);
    m.CalcMinMaxValues(&mx, nullptr);
    m.CalcMinMaxValues(nullptr, &mn);
    EXPECT_EQ(mx, 4.0f);
    EXPECT_EQ(mn, 1.0f);
  }
  {
    SCOPED_TRACE("CalcMinMaxValuesExcludeZero");
    m.Fill(0.0f);
    m.SetPoint(0, 0, 0.0019f);
    m.SetPoint(1, 0, -0.0019f);
    m.SetPoint(2, 2, 0.002f);
    m.SetPoint(3, 6, -0.5f);
    m.CalcMinMaxValuesExcludeZero(&mx, &mn);
    EXPECT_EQ(mx, 0.002f);
    EXPECT_EQ(mn, -0.5f);
  }
  {
    SCOPED_TRACE("brute force on a field with several lines");
    CSSEMatrix big;
    big.Create(13, 23);
    pattern(big, 0.3f);
    float rmx = -1e6f, rmn = 1e6f;
    for (int y = 0; y < 23; ++y)
      for (int x = 0; x < 13; ++x) {
        rmx = std::max(rmx, big.GetPoint(x, y));
        rmn = std::min(rmn, big.GetPoint(x, y));
      }
    big.CalcMinMaxValues(&mx, &mn);
    EXPECT_EQ(mx, rmx);
    EXPECT_EQ(mn, rmn);
  }
}

TEST(Values, MaskMatrixAgainstScalarReference) {
  CSSEMatrix mask;
  mask.Create(6, 9);
  mixed(mask, 3);
  for (int x = 0; x < 6; ++x)
    for (int r = 9; r < 12; ++r) lane(mask, x, r) = 7.0f;  // spare lanes: must read as the pad value
  const auto maskBefore = lanes(mask);
  for (int oy = -9; oy <= 17; ++oy)
    for (int ox : {-7, -2, 0, 3, 8}) {
      SCOPED_TRACE(testing::Message() << "offset " << ox << "," << oy);
      CSSEMatrix target, expected;
      target.Create(11, 17);
      mixed(target, 5);
      expected = target;
      const float pad = 0.0f, newValue = -4.0f, threshold = 0.5f;
      for (int r = 0; r < 4 * target.GetSSESizeY(); ++r)
        for (int x = 0; x < 11; ++x) {
          const int mr = r - oy, mx = x - ox;
          if (mr < 0 || mr >= 4 * mask.GetSSESizeY() || mx < 0 || mx >= 6) continue;
          const float mv = mr < 9 ? lane(mask, mx, mr) : pad;
          if (mv < threshold) lane(expected, x, r) = newValue;
        }
      ASSERT_TRUE(target.MaskMatrix(mask, pad, ox, oy, newValue, threshold));
      EXPECT_EQ(lanes(target), lanes(expected));
    }
  EXPECT_EQ(lanes(mask), maskBefore);
  {
    SCOPED_TRACE("refusals");
    CSSEMatrix target, empty, none;
    target.Create(4, 4);
    empty.Create(0, 3);
    EXPECT_FALSE(target.MaskMatrix(mask, 0, 5, 0, 1, 1));
    EXPECT_FALSE(target.MaskMatrix(mask, 0, 0, 5, 1, 1));
    EXPECT_FALSE(target.MaskMatrix(none, 0, 0, 0, 1, 1));
    EXPECT_FALSE(empty.MaskMatrix(mask, 0, 0, 0, 1, 1));
    EXPECT_TRUE(target.MaskMatrix(mask, 0, 4, 4, 1, 1));
    EXPECT_EQ(target.NumValuesAbove(0.0f), 0);
  }
}

TEST(Values, ComputeSumOfTwoMatricesAgainstScalarReference) {
  CSSEMatrix target, other;
  target.Create(12, 19);
  other.Create(5, 7);
  for (int r = 0; r < 4 * target.GetSSESizeY(); ++r)
    for (int x = 0; x < 12; ++x) lane(target, x, r) = r < 19 ? 0.6f + static_cast<float>((x * 5 + r * 3) % 11) * 0.37f : 0.0f;
  for (int r = 0; r < 7; ++r)
    for (int x = 0; x < 5; ++x) lane(other, x, r) = static_cast<float>((x * 3 + r * 7) % 13) * 0.25f;
  auto reference = [&](int oy, int ox) {
    float sum = 0.0f;
    for (int g = 0; g < other.GetSSESizeY(); ++g)
      for (int x = 0; x < 5; ++x) {
        float c[4];
        for (int k = 0; k < 4; ++k) {
          const int r = oy + 4 * g + k;
          const float t = r < 4 * target.GetSSESizeY() ? lane(target, x + ox, r) : 0.0f;
          const float o = lane(other, x, 4 * g + k);
          c[k] = 0.0f;
          if (o > 0.5f) {
            if (!(t > 0.5f)) return -1.0f;
            c[k] = std::max(t - o, 0.0f) / 100.0f;
          }
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
  {
    SCOPED_TRACE("a set lane over a low value fails the window");
    lane(target, 4, 6) = 0.5f;
    lane(other, 2, 3) = 1.0f;
    EXPECT_EQ(target.ComputeSumOfTwoMatrices(&other, 3, 2), -1.0f);
  }
  {
    SCOPED_TRACE("misplaced or missing other");
    CSSEMatrix empty;
    empty.Create(0, 0);
    EXPECT_EQ(target.ComputeSumOfTwoMatrices(&empty, 0, 0), 0.0f);
    EXPECT_EQ(target.ComputeSumOfTwoMatrices(nullptr, 0, 0), 0.0f);
    EXPECT_EQ(target.ComputeSumOfTwoMatrices(&other, -1, 0), 0.0f);
    EXPECT_EQ(target.ComputeSumOfTwoMatrices(&other, 13, 0), 0.0f);
    EXPECT_EQ(target.ComputeSumOfTwoMatrices(&other, 0, 8), 0.0f);
  }
}

TEST(Values, MaskOutWithValueAndStencils) {
  CSSEMatrix mask;
  mask.Create(7, 10);
  mixed(mask, 1);
  for (float oy : {-6.5f, -4.0f, -1.0f, 0.0f, 1.9f, 3.0f, 5.0f, 8.0f})
    for (float ox : {-3.2f, 0.0f, 2.0f})
      for (bool flag : {true, false}) {
        SCOPED_TRACE(testing::Message() << "offset " << ox << "," << oy << " flag " << flag);
        CSSEMatrix target, expected;
        target.Create(9, 13);
        mixed(target, 4);
        expected = target;
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
  {
    SCOPED_TRACE("MaskOut, MaskOutAndValidate, StencilThreshBelow");
    CSSEMatrix t, m;
    t.Create(1, 3);
    m.Create(1, 3);
    setLanes(m, {0.05f, 0.05f, 0.2f, 0.2f});
    setLanes(t, {1, -1, -1, 1});
    t.MaskOut(m);
    EXPECT_EQ(lanes(t), (std::vector<float>{0, 0, 0, 1}));
    setLanes(t, {1, -1, -1, 1});
    t.MaskOutAndValidate(m);
    EXPECT_EQ(lanes(t), (std::vector<float>{0, -1, -1, 1}));
    setLanes(t, {1, 2, 3, 4});
    t.StencilThreshBelow(m, 0.1f);
    EXPECT_EQ(lanes(t), (std::vector<float>{0, 0, 3, 4}));
  }
  {
    SCOPED_TRACE("scaled stencils");
    CSSEMatrix t, s;
    CSSEcharMatrix c;
    t.Create(6, 6);
    s.Create(3, 3);
    c.Create(3, 3);
    s.SetPoint(1, 1, 10.0f);
    c.SetPoint(1, 1, 10);
    t.Fill(1.0f);
    t.Stencil(s, 0.5f, 0.5f);  // x -> trunc(x / 2 + 0.5): 1 and 2 map to 1
    CSSEMatrix u;
    u.Create(6, 6);
    u.Fill(1.0f);
    u.Stencil(c, 0.5f, 0.5f);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 6; ++x) {
        const float expected = (x >= 1 && x <= 2 && y >= 1 && y <= 2) ? 1.0f : 0.0f;
        EXPECT_EQ(t.GetPoint(x, y), expected) << x << "," << y;
        EXPECT_EQ(u.GetPoint(x, y), expected) << x << "," << y;
      }
    u.Fill(1.0f);
    c.SetPoint(2, 2, static_cast<char>(200));  // negative as a signed byte
    u.Stencil(c, 1.0f, 1.0f);                  // clamped reads: (5, 5) reads (2, 2)
    EXPECT_EQ(u.IntegrateMatrixValid(), 1.0f);
    EXPECT_EQ(u.GetPoint(1, 1), 1.0f);
  }
}

TEST(Values, SumsPatchesAndBoundingBox) {
  {
    SCOPED_TRACE("IntegrateMatrixValid against IntegrateMatrix");
    CSSEMatrix m;
    m.Create(3, 5);
    m.Fill(1.0f);
    EXPECT_EQ(m.IntegrateMatrixValid(), 15.0f);
    EXPECT_EQ(m.IntegrateMatrix(), 24.0f);
    m.Create(3, 8);
    m.Fill(1.0f);
    EXPECT_EQ(m.IntegrateMatrixValid(), 24.0f);
    EXPECT_EQ(m.IntegrateMatrix(), 36.0f);
  }
  {
    SCOPED_TRACE("the four-accumulator summation order");
    CSSEMatrix m;
    m.Create(37, 13);
    mixed(m, 2);
    for (int r = 0; r < 16; ++r)
      for (int x = 0; x < 37; ++x) lane(m, x, r) = (lane(m, x, r) - 0.4f) * (r % 2 ? 1e4f : 1e-3f);
    float s[4] = {0, 0, 0, 0}, a[4] = {0, 0, 0, 0}, w[4] = {0, 0, 0, 0};
    for (int g = 0; g < m.GetSSESizeY(); ++g)
      for (int x = 0; x < 37; ++x)
        for (int k = 0; k < 4; ++k) {
          const float v = lane(m, x, 4 * g + k);
          s[k] += v;
          a[k] += std::fabs(v) * (0.5f * 3.0f);
          if (4 * g + k < 13) w[k] += v;
        }
    EXPECT_EQ(m.IntegrateMatrix(), (s[0] + s[3]) + (s[2] + s[1]));
    EXPECT_EQ(m.IntegrateMatrixAbsolute(0.5f, 3.0f), (a[0] + a[3]) + (a[2] + a[1]));
    EXPECT_EQ(m.IntegrateMatrixValid(), (w[0] + w[3]) + (w[2] + w[1]));
    // Folded as (s0 + s3) + (s2 + s1) the large lanes cancel first and the
    // small ones survive; any other pairing loses them.
    CSSEMatrix one;
    one.Create(1, 3);
    setLanes(one, {1e8f, 1.0f, 1.0f, -1e8f});
    EXPECT_EQ(one.IntegrateMatrix(), 2.0f);
    EXPECT_EQ(one.IntegrateMatrixAbsolute(1.0f, 1.0f), 2e8f + 2.0f);
  }
  {
    SCOPED_TRACE("patch ranges");
    CSSEMatrix m;
    m.Create(20, 40);
    m.Fill(1.0f);
    m.SetPoint(10, 15, 5.0f);  // line 3, vector 10
    m.SetPoint(10, 14, -5.0f);
    m.SetPoint(6, 16, 0.001f);  // line 4, vector 6
    float out = 0.0f;
    m.CalcMaxValueOfPatch(&out, 0, 19, 0, 39);  // lines 1 .. 8, vectors 3 .. 15
    EXPECT_EQ(out, 5.0f);
    m.CalcMinValueOfPatch(&out, 0, 19, 0, 39);
    EXPECT_EQ(out, -5.0f);
    m.CalcMaxValueOfPatch(&out, 8, 14, 0, 39);  // vectors 11 .. 10: none
    EXPECT_EQ(out, -1e6f);
    m.CalcMaxValueOfPatch(&out, 0, 19, 4, 12);  // (12 >> 2) - (4 >> 2) = 2: no line
    EXPECT_EQ(out, -1e6f);
    m.CalcMinValueOfPatch(&out, 0, 19, 8, 20);  // lines 3 .. 3
    EXPECT_EQ(out, -5.0f);
    m.CalcMinValueOfPatch(&out, 0, 19, 12, 24);  // line 4 only
    EXPECT_EQ(out, 0.001f);
    m.CalcMinValueOfPatchExcludeZero(&out, 0, 19, 12, 24);
    EXPECT_EQ(out, 1.0f);
    m.Fill(0.0f);
    m.CalcMinValueOfPatchExcludeZero(&out, -10, 100, -10, 100);
    EXPECT_EQ(out, 999999.875f);
  }
  {
    SCOPED_TRACE("CalcBoundingBox");
    CSSEMatrix m;
    m.Create(9, 11);
    int x0 = -1, y0 = -1, x1 = -1, y1 = -1;
    m.CalcBoundingBox(x0, y0, x1, y1, 0.5f, true);
    EXPECT_EQ((std::vector<int>{x0, y0, x1, y1}), (std::vector<int>{8, 10, 0, 0}));
    m.SetPoint(0, 0, 1.0f);
    m.CalcBoundingBox(x0, y0, x1, y1, 0.5f, true);
    EXPECT_EQ((std::vector<int>{x0, y0, x1, y1}), (std::vector<int>{0, 0, 0, 0}));
    m.SetPoint(6, 9, 2.0f);
    m.SetPoint(3, 4, 2.0f);
    lane(m, 8, 11) = 5.0f;  // spare lane: not an element
    m.CalcBoundingBox(x0, y0, x1, y1, 0.5f, true);
    EXPECT_EQ((std::vector<int>{x0, y0, x1, y1}), (std::vector<int>{0, 0, 6, 9}));
    m.Fill(1.0f);
    m.SetPoint(2, 7, NAN);
    m.SetPoint(5, 3, 0.0f);
    m.CalcBoundingBox(x0, y0, x1, y1, 0.5f, false);
    EXPECT_EQ((std::vector<int>{x0, y0, x1, y1}), (std::vector<int>{5, 3, 5, 3}));
  }
  {
    SCOPED_TRACE("GetPixelPreciseFloat and GetPointMax3x3");
    CSSEMatrix m;
    m.Create(5, 5);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 5; ++x) m.SetPoint(x, y, static_cast<float>(x + 10 * y));
    EXPECT_FLOAT_EQ(m.GetPixelPreciseFloat(1.25f, 2.5f, false), 26.25f);
    EXPECT_EQ(m.GetPixelPreciseFloat(0.0f, 0.0f, true), 11.0f);  // clamped to (1, 1), weights 0
    EXPECT_EQ(m.GetPixelPreciseFloat(9.0f, 9.0f, true), 33.0f + 1.0f + 10.0f);
    EXPECT_EQ(m.GetPointMax3x3(0, 0), 21.0f);
    EXPECT_EQ(m.GetPointMax3x3(2, 2), 32.0f);
  }
}
