// Every operation that takes another matrix must give the same result when
// that matrix is the target itself as when it is a separate copy of it.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "orvik/matrix/ssematrix.h"
#include "support/fields.h"

namespace {

// Values 0 .. 9.5 in steps of 0.5 with runs of 0 and 1, so that thresholds,
// masks and stencils all see both sides.
CSSEMatrix values(int seed) {
  return field(23, 18, [seed](int x, int y) {
    const int v = (x * 5 + y * 3 + seed * 7 + (x * y) % 7) % 20;
    return v < 4 ? 0.0f : v < 7 ? 1.0f : 0.5f * v;
  });
}

using M = CSSEMatrix;
using Floats = std::vector<float>;
using Op = std::function<Floats(M& target, M& other)>;

struct Case {
  const char* name;
  Op op;
  bool otherIsOutput = false;  // the other matrix is what the operation writes
};

// An operation whose only result is what it does to its matrices.
template <class F>
Op effect(F f) {
  return [f](M& t, M& o) {
    f(t, o);
    return Floats{};
  };
}

TEST(Aliasing, AnOperandThatIsTheTargetActsAsACopyOfIt) {
  CSSEMatrix third = values(5), mask3 = filled(3, 3, 1.0f);
  mask3.SetPoint(1, 1, 2.0f);
  const Case cases[] = {
      {"CopyFromSSEMatrix", effect([](M& t, M& o) { t.CopyFromSSEMatrix(o); })},
      {"AddMatrix", effect([](M& t, M& o) { t.AddMatrix(o); })},
      {"AddMatrixOffseted", effect([](M& t, M& o) { t.AddMatrixOffseted(o, 2.0f); })},
      {"AddMatrixOffsetedNormed", effect([](M& t, M& o) { t.AddMatrixOffsetedNormed(o, 2.0f, 0.5f); })},
      {"AddMatrixOffsetedConstrained",
       effect([](M& t, M& o) { t.AddMatrixOffsetedConstrained(o, 2.0f, 0.5f, 0.25f); })},
      {"SubMatrix", effect([](M& t, M& o) { t.SubMatrix(o); })},
      {"SubMatrixValidate", effect([](M& t, M& o) { t.SubMatrixValidate(o); })},
      {"CombineAbsolute", effect([](M& t, M& o) { t.CombineAbsolute(o); })},
      {"CombineMultiplicative", effect([](M& t, M& o) { t.CombineMultiplicative(o, true); })},
      {"MaximumOf", effect([](M& t, M& o) { t.MaximumOf(o); })},
      {"MinimumOf", effect([](M& t, M& o) { t.MinimumOf(o); })},
      {"CalcDifferenceMatrixConstrained a",
       effect([&](M& t, M& o) { t.CalcDifferenceMatrixConstrained(o, third, true, false); })},
      {"CalcDifferenceMatrixConstrained b",
       effect([&](M& t, M& o) { t.CalcDifferenceMatrixConstrained(third, o, false, true); })},
      {"ComputeSumOfTwoMatrices", [](M& t, M& o) { return Floats{t.ComputeSumOfTwoMatrices(&o, 0, 0)}; }},
      {"MaskOut", effect([](M& t, M& o) { t.MaskOut(o); })},
      {"MaskOutAndValidate", effect([](M& t, M& o) { t.MaskOutAndValidate(o); })},
      {"StencilThreshAbove", effect([](M& t, M& o) { t.StencilThreshAbove(o, 3.0f); })},
      {"StencilThreshBelow", effect([](M& t, M& o) { t.StencilThreshBelow(o, 3.0f); })},
      {"Stencil same scale", effect([](M& t, M& o) { t.Stencil(o, 1.0f, 1.0f); })},
      {"Stencil scaled", effect([](M& t, M& o) { t.Stencil(o, 0.5f, 0.7f); })},
      {"MaskMatrix", [](M& t, M& o) { return Floats{float(t.MaskMatrix(o, 0.0f, 3, 2, 9.0f, 4.0f))}; }},
      {"MaskMatrix at 0", [](M& t, M& o) { return Floats{float(t.MaskMatrix(o, 0.0f, 0, 0, 9.0f, 4.0f))}; }},
      {"MaskOutWithValue", effect([](M& t, M& o) { t.MaskOutWithValue(o, 2.0f, 1.0f, 0.5f, 7.0f, true); })},
      {"MaskOutWithValue !flag", effect([](M& t, M& o) { t.MaskOutWithValue(o, -1.0f, 3.0f, 0.5f, 7.0f, false); })},
      {"NumValuesAbove", [](M& t, M& o) { return Floats{float(t.NumValuesAbove(&o))}; }},
      {"DrawFirstPointLinedUseMask", [](M& t, M& o) {
         int y = 0;
         t.DrawFirstPointLinedUseMask(5, 3.0f, true, 600.0f, y, o, 0);
         return Floats{float(y)};
       }},
      {"CopyAreaOfMatrix", [](M& t, M& o) { return Floats{float(t.CopyAreaOfMatrix(o, 2, 3, 10, 8))}; }},
      {"CopyFromSSEMatrixCentered", effect([](M& t, M& o) { t.CopyFromSSEMatrixCentered(o); })},
      {"CopyFromSSEMatrixCenteredMaximum", effect([](M& t, M& o) { t.CopyFromSSEMatrixCenteredMaximum(o); })},
      {"CopyFromSSEMatrixCenteredMinimum", effect([](M& t, M& o) { t.CopyFromSSEMatrixCenteredMinimum(o); })},
      {"BoxFilter", effect([](M& t, M& o) { t.BoxFilter(o, false); })},
      {"BoxFilter shifted", effect([](M& t, M& o) { t.BoxFilter(o, true); })},
      {"MaskFilter into itself", effect([&](M& t, M& o) { t.MaskFilter(o, mask3, true, false); }), true},
      {"MaskFilter threaded into itself", effect([&](M& t, M& o) { t.MaskFilter(o, mask3, false, true); }), true},
      {"MaskFilter with itself as mask", [](M& t, M& o) {
         CSSEMatrix result;
         t.MaskFilter(result, o, true, false);
         return lanes(result);
       }},
      {"DistanceTransform into itself", effect([](M& t, M& o) { t.DistanceTransform(o, 1, 20, 2, 16); }), true},
      {"EmbedMatrix", [](M& t, M& o) { return Floats{float(t.EmbedMatrix(o, 0, 0, 0.5f))}; }},
      {"EmbedMatrix_nonSSE", effect([](M& t, M& o) { t.EmbedMatrix_nonSSE(&o, 2, 1); })},
      {"EmbedMatrix_nonSSE back", effect([](M& t, M& o) { t.EmbedMatrix_nonSSE(&o, -3, -2); })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSSEMatrix target = values(1), copy = values(1), self = values(1);
    const Floats separateExtra = c.op(target, copy);
    EXPECT_EQ(c.op(self, self), separateExtra);
    EXPECT_TRUE(sameLanes(self, c.otherIsOutput ? copy : target));
  }
}

}  // namespace
