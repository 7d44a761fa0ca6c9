#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "orvik/foundation/Exception.h"
#include "orvik/foundation/ReferenceCounter.h"
#include "orvik/matrix/ssematrix.h"
#include "support/fields.h"

namespace {

using Ints = std::vector<int>;

const auto all = [](float v) { return [v](int, int) { return v; }; };

// Size X, size Y, SSE lines, fields.
Ints shape(const CSSEMatrix& m) { return {m.GetSizeX(), m.GetSizeY(), m.GetSSESizeY(), m.GetFields()}; }

TEST(MatrixCore, LayoutLinesFieldsAndSpareLanes) {
  // Size X, size Y, lines, fields, lines of the last field; the last has more than 250 fields.
  const int cases[][5] = {{5, 8, 3, 1, 3},         {5, 7, 2, 1, 2},     {10, 124, 32, 1, 32},
                          {10, 128, 33, 2, 1},     {3, 255, 64, 2, 32}, {2, 256, 65, 3, 1},
                          {1, 32004, 8002, 251, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c[0] << " x " << c[1]);
    CSSEMatrix m = filled(c[0], c[1]);
    EXPECT_EQ(shape(m), (Ints{c[0], c[1], c[2], c[3]}));
    EXPECT_EQ((Ints{m.GetSSESizeX(), m.GetLinesPerField(), c[2] - 32 * (c[3] - 1)}), (Ints{c[0], 32, c[4]}));
    EXPECT_TRUE(lanesAre(m, all(0.0f)));
    // Lines are contiguous within each field and every field is 16-byte aligned.
    for (int g = 0; g < c[2]; ++g)
      EXPECT_EQ(m.GetMatrixDataDirectly()[g], m.GetField(g / 32) + static_cast<std::size_t>(g % 32) * c[0]);
    for (int f = 0; f < c[3]; ++f) EXPECT_EQ(reinterpret_cast<std::uintptr_t>(m.GetField(f)) % 16, 0u);
    m.SetPoint(0, c[1] - 1, 5.0f);
    EXPECT_EQ(m.GetPoint(0, 1 << 20), 5.0f);
  }
}

TEST(MatrixCore, FlatIndexIsFourTimesXPlusLaneAndAccessorsClamp) {
  CSSEMatrix m = filled(6, 9);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 6; ++x) m.SetPointUnsafe(x, y, static_cast<float>(100 * x + y));
  EXPECT_TRUE(lanesAre(m, [](int x, int row) { return row < 9 ? 100 * x + row : 0; }));
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(m.GetPointAddressUnsafe(x, y), &lane(m, x, y));
  EXPECT_EQ((std::vector<float>{m.GetPoint(-3, 2), m.GetPointValue(100, -100), m.GetPoint(3, 99)}),
            (std::vector<float>{2, 500, 308}));
  m.SetPoint(6 + 4, 9 + 4, -1.0f);
  EXPECT_EQ(m.GetPointUnsafe(5, 8), -1.0f);
  EXPECT_EQ(m.GetPointAddress(-1, -1), m.GetPointAddressUnsafe(0, 0));
  EXPECT_EQ(lane(m, 5, 9), 0.0f);  // the spare lane below the last row: not written by the clamped SetPoint
  m.Fill(2.5f);
  EXPECT_TRUE(lanesAre(m, all(2.5f)));
  m.SetAllPixelValuesToZero();
  EXPECT_TRUE(lanesAre(m, all(0.0f)));
}

TEST(MatrixCore, CreateStartsAfreshAndReleaseKeepsSizes) {
  CSSEMatrix m;
  EXPECT_TRUE(m.IsEmpty() && !m.HasMemory());
  m.Create(4, 4);
  m.Fill(3.0f);
  m.Create(4, 4);
  EXPECT_TRUE(lanesAre(m, all(0.0f)));

  m.SetRowProcessed(3);
  m.FreeImageMemoryOnly();
  EXPECT_TRUE(!m.IsEmpty() && !m.HasMemory());
  EXPECT_EQ(shape(m), (Ints{4, 4, 2, 0}));
  EXPECT_EQ(m.GetRowProcessed(), 3);
  m.FreeImageMemoryOnly();  // twice is harmless
  m.Reset();
  EXPECT_TRUE(m.IsEmpty());
  EXPECT_EQ((Ints{m.GetSSESizeY(), m.GetRowProcessed()}), (Ints{0, 0}));
  CSSEMatrix other = filled(9, 13);
  m.CreateSimilar(other);
  EXPECT_EQ(shape(m), (Ints{9, 13, 4, 1}));
  try {
    m.Create(-1, 4);
    FAIL() << "a negative size must throw";
  } catch (const CbException& e) {
    EXPECT_STREQ(e.GetFile(), "ssematrix");
  }
  EXPECT_TRUE(m.IsEmpty() && !m.HasMemory());
  EXPECT_THROW(m.CreateNoClear(4, -4), CbException);
}

TEST(MatrixCore, CopyRules) {
  CSSEMatrix a = field(5, 6, [](int x, int y) { return x * 7 + y; });
  lane(a, 4, 7) = 42.0f;  // spare lanes travel with the copy
  a.GetCompressionParameters().m_iMethod = 3;
  a.GetCompressionParameters().m_fMaxError = 0.01f;
  a.getReferenceCounter().AddRef();
  {
    SCOPED_TRACE("copy construction");
    CSSEMatrix b(a);
    EXPECT_TRUE(sameLanes(b, a));
    EXPECT_EQ(b.GetCompressionParameters().m_iMethod, 3);
    EXPECT_EQ(b.getReferenceCounter().GetCount(), 0u);  // holders are never copied
  }
  {
    SCOPED_TRACE("tall matrices copy line by line");
    CSSEMatrix t = filled(3, 300), u;
    t.SetPoint(2, 299, 9.0f);
    u = t;
    EXPECT_EQ(u.GetPoint(2, 299), 9.0f);
    EXPECT_EQ(u.GetFields(), 3);
  }
  {
    SCOPED_TRACE("empty sources");
    CSSEMatrix empty;
    empty.GetCompressionParameters().m_uiNumberOfPasses = 4;
    CSSEMatrix fromEmpty(empty);
    EXPECT_TRUE(fromEmpty.IsEmpty() && !fromEmpty.HasMemory());
    CSSEMatrix target(a);
    target = empty;  // keeps values and size, takes the parameters
    EXPECT_TRUE(sameLanes(target, a));
    EXPECT_EQ(target.GetCompressionParameters().m_uiNumberOfPasses, 4u);
    EXPECT_EQ(target.GetCompressionParameters().m_iMethod, 0);
  }
  {
    SCOPED_TRACE("same size copies in place, another size re-creates");
    CSSEMatrix c = filled(5, 6);
    const void* before = c.GetField(0);
    c.CopyFromSSEMatrix(a);
    EXPECT_EQ(c.GetField(0), before);
    EXPECT_TRUE(sameLanes(c, a));
    c.Create(2, 2);
    c.CopyFromSSEMatrix(a);
    EXPECT_TRUE(sameLanes(c, a));
  }
  a.getReferenceCounter().Release();
}

TEST(MatrixCore, CopyFromFieldAndFromRows) {
  QeField2D<float, 1> values(3, 2);
  for (int i = 0; i < 6; ++i) values.GetData()[i] = static_cast<float>(i);
  EXPECT_TRUE(fieldIs(CSSEMatrix(values), [](int x, int y) { return x + 3 * y; }));
  EXPECT_EQ(CSSEMatrix(values).GetSizeX(), 3);

  double r0[5] = {1, 2, 3, 4, 5}, r1[5] = {6, 7, 8, 9, 10}, r2[5] = {11, 12, 13, 14, 15};
  double* rows[3] = {r0, r1, r2};
  CSSEMatrix n;
  n.CopyFromMatrix(rows, 3, 5);
  EXPECT_EQ(shape(n), (Ints{5, 3, 1, 1}));
  EXPECT_TRUE(fieldIs(n, [](int x, int y) { return 1 + x + 5 * y; }));
  // A matrix with memory keeps its size: surplus rows overwrite the last row.
  CSSEMatrix small = filled(5, 2);
  small.CopyFromMatrix(rows, 3, 5);
  EXPECT_EQ(small.GetSizeY(), 2);
  EXPECT_EQ(small.GetPoint(0, 1), 11.0f);
  small.CopyFromMatrix(nullptr, 3, 5);
  EXPECT_EQ(small.GetPoint(0, 1), 11.0f);
}

TEST(MatrixCore, CompressionParameterDefaults) {
  const CSSEMatrix::UxSCompressionParameters p;
  EXPECT_EQ(
      (Ints{p.m_iMethod, p.m_bUseInvalidValue, static_cast<int>(p.m_uiNumberOfPasses), p.m_bFixedRange}),
      (Ints{0, 0, 1, 0}));
  EXPECT_EQ(
      (std::vector<float>{p.m_fInvalidValue, p.m_fJPEGQuality, p.m_fMaxError, p.m_fRangeMin, p.m_fRangeMax}),
      (std::vector<float>{0, 0.95f, 0, 0, 0}));
  EXPECT_EQ(CSSEMatrix().GetMaxAbsCompressionError(), 0.0f);
}

}  // namespace
