// Every operation that takes another matrix must give the same result when
// that matrix is the target itself as when it is a separate copy of it.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "orvik/matrix/ssematrix.h"
#include "support/lanes.h"

namespace {

// Values 0 .. 9.5 in steps of 0.5 with runs of 0 and 1, so that thresholds,
// masks and stencils all see both sides.
void field(CSSEMatrix& m, int seed) {
  m.Create(23, 18);
  for (int y = 0; y < 18; ++y)
    for (int x = 0; x < 23; ++x) {
      const int v = (x * 5 + y * 3 + seed * 7 + (x * y) % 7) % 20;
      m.SetPoint(x, y, v < 4 ? 0.0f : v < 7 ? 1.0f : 0.5f * v);
    }
}

using Op = std::function<std::vector<float>(CSSEMatrix& target, CSSEMatrix& other)>;

struct Case {
  const char* name;
  Op op;
  bool otherIsOutput = false;  // the other matrix is what the operation writes
};

std::vector<float> none() { return {}; }

TEST(Aliasing, AnOperandThatIsTheTargetActsAsACopyOfIt) {
  CSSEMatrix third, mask3;
  field(third, 5);
  mask3.Create(3, 3);
  mask3.Fill(1.0f);
  mask3.SetPoint(1, 1, 2.0f);
  const Case cases[] = {
      {"CopyFromSSEMatrix", [](CSSEMatrix& t, CSSEMatrix& o) { t.CopyFromSSEMatrix(o); return none(); }},
      {"AddMatrix", [](CSSEMatrix& t, CSSEMatrix& o) { t.AddMatrix(o); return none(); }},
      {"AddMatrixOffseted", [](CSSEMatrix& t, CSSEMatrix& o) { t.AddMatrixOffseted(o, 2.0f); return none(); }},
      {"AddMatrixOffsetedNormed",
       [](CSSEMatrix& t, CSSEMatrix& o) { t.AddMatrixOffsetedNormed(o, 2.0f, 0.5f); return none(); }},
      {"AddMatrixOffsetedConstrained",
       [](CSSEMatrix& t, CSSEMatrix& o) { t.AddMatrixOffsetedConstrained(o, 2.0f, 0.5f, 0.25f); return none(); }},
      {"SubMatrix", [](CSSEMatrix& t, CSSEMatrix& o) { t.SubMatrix(o); return none(); }},
      {"SubMatrixValidate", [](CSSEMatrix& t, CSSEMatrix& o) { t.SubMatrixValidate(o); return none(); }},
      {"CombineAbsolute", [](CSSEMatrix& t, CSSEMatrix& o) { t.CombineAbsolute(o); return none(); }},
      {"CombineMultiplicative",
       [](CSSEMatrix& t, CSSEMatrix& o) { t.CombineMultiplicative(o, true); return none(); }},
      {"MaximumOf", [](CSSEMatrix& t, CSSEMatrix& o) { t.MaximumOf(o); return none(); }},
      {"MinimumOf", [](CSSEMatrix& t, CSSEMatrix& o) { t.MinimumOf(o); return none(); }},
      {"CalcDifferenceMatrixConstrained a",
       [&](CSSEMatrix& t, CSSEMatrix& o) { t.CalcDifferenceMatrixConstrained(o, third, true, false); return none(); }},
      {"CalcDifferenceMatrixConstrained b",
       [&](CSSEMatrix& t, CSSEMatrix& o) { t.CalcDifferenceMatrixConstrained(third, o, false, true); return none(); }},
      {"ComputeSumOfTwoMatrices",
       [](CSSEMatrix& t, CSSEMatrix& o) { return std::vector<float>{t.ComputeSumOfTwoMatrices(&o, 0, 0)}; }},
      {"MaskOut", [](CSSEMatrix& t, CSSEMatrix& o) { t.MaskOut(o); return none(); }},
      {"MaskOutAndValidate", [](CSSEMatrix& t, CSSEMatrix& o) { t.MaskOutAndValidate(o); return none(); }},
      {"StencilThreshAbove", [](CSSEMatrix& t, CSSEMatrix& o) { t.StencilThreshAbove(o, 3.0f); return none(); }},
      {"StencilThreshBelow", [](CSSEMatrix& t, CSSEMatrix& o) { t.StencilThreshBelow(o, 3.0f); return none(); }},
      {"Stencil same scale", [](CSSEMatrix& t, CSSEMatrix& o) { t.Stencil(o, 1.0f, 1.0f); return none(); }},
      {"Stencil scaled", [](CSSEMatrix& t, CSSEMatrix& o) { t.Stencil(o, 0.5f, 0.7f); return none(); }},
      {"MaskMatrix", [](CSSEMatrix& t, CSSEMatrix& o) {
         return std::vector<float>{float(t.MaskMatrix(o, 0.0f, 3, 2, 9.0f, 4.0f))}; }},
      {"MaskMatrix at 0", [](CSSEMatrix& t, CSSEMatrix& o) {
         return std::vector<float>{float(t.MaskMatrix(o, 0.0f, 0, 0, 9.0f, 4.0f))}; }},
      {"MaskOutWithValue", [](CSSEMatrix& t, CSSEMatrix& o) {
         t.MaskOutWithValue(o, 2.0f, 1.0f, 0.5f, 7.0f, true); return none(); }},
      {"MaskOutWithValue !flag", [](CSSEMatrix& t, CSSEMatrix& o) {
         t.MaskOutWithValue(o, -1.0f, 3.0f, 0.5f, 7.0f, false); return none(); }},
      {"NumValuesAbove", [](CSSEMatrix& t, CSSEMatrix& o) { return std::vector<float>{float(t.NumValuesAbove(&o))}; }},
      {"DrawFirstPointLinedUseMask", [](CSSEMatrix& t, CSSEMatrix& o) {
         int y = 0;
         t.DrawFirstPointLinedUseMask(5, 3.0f, true, 600.0f, y, o, 0);
         return std::vector<float>{float(y)}; }},
      {"CopyAreaOfMatrix", [](CSSEMatrix& t, CSSEMatrix& o) {
         return std::vector<float>{float(t.CopyAreaOfMatrix(o, 2, 3, 10, 8))}; }},
      {"CopyFromSSEMatrixCentered", [](CSSEMatrix& t, CSSEMatrix& o) { t.CopyFromSSEMatrixCentered(o); return none(); }},
      {"CopyFromSSEMatrixCenteredMaximum",
       [](CSSEMatrix& t, CSSEMatrix& o) { t.CopyFromSSEMatrixCenteredMaximum(o); return none(); }},
      {"CopyFromSSEMatrixCenteredMinimum",
       [](CSSEMatrix& t, CSSEMatrix& o) { t.CopyFromSSEMatrixCenteredMinimum(o); return none(); }},
      {"BoxFilter", [](CSSEMatrix& t, CSSEMatrix& o) { t.BoxFilter(o, false); return none(); }},
      {"BoxFilter shifted", [](CSSEMatrix& t, CSSEMatrix& o) { t.BoxFilter(o, true); return none(); }},
      {"MaskFilter into itself", [&](CSSEMatrix& t, CSSEMatrix& o) { t.MaskFilter(o, mask3, true, false); return none(); },
       true},
      {"MaskFilter threaded into itself",
       [&](CSSEMatrix& t, CSSEMatrix& o) { t.MaskFilter(o, mask3, false, true); return none(); }, true},
      {"MaskFilter with itself as mask", [](CSSEMatrix& t, CSSEMatrix& o) {
         CSSEMatrix result;
         t.MaskFilter(result, o, true, false);
         return lanes(result); }},
      {"DistanceTransform into itself",
       [](CSSEMatrix& t, CSSEMatrix& o) { t.DistanceTransform(o, 1, 20, 2, 16); return none(); }, true},
      {"EmbedMatrix", [](CSSEMatrix& t, CSSEMatrix& o) {
         return std::vector<float>{float(t.EmbedMatrix(o, 0, 0, 0.5f))}; }},
      {"EmbedMatrix_nonSSE", [](CSSEMatrix& t, CSSEMatrix& o) { t.EmbedMatrix_nonSSE(&o, 2, 1); return none(); }},
      {"EmbedMatrix_nonSSE back", [](CSSEMatrix& t, CSSEMatrix& o) { t.EmbedMatrix_nonSSE(&o, -3, -2); return none(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSSEMatrix target, copy, self;
    field(target, 1);
    field(copy, 1);
    field(self, 1);
    const std::vector<float> separateExtra = c.op(target, copy);
    const std::vector<float> selfExtra = c.op(self, self);
    EXPECT_EQ(selfExtra, separateExtra);
    const CSSEMatrix& expected = c.otherIsOutput ? copy : target;
    EXPECT_EQ(self.GetSizeX(), expected.GetSizeX());
    EXPECT_EQ(self.GetSizeY(), expected.GetSizeY());
    EXPECT_EQ(lanes(self), lanes(expected));
  }
}

}  // namespace
