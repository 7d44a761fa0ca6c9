#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "orvik/foundation/Exception.h"
#include "orvik/foundation/ReferenceCounter.h"
#include "orvik/matrix/ssematrix.h"
#include "support/lanes.h"

namespace {

// Every lane of every SSE line, spare lanes included.
bool allLanesEqual(const CSSEMatrix& m, float v) {
  const std::vector<float> l = lanes(m);
  return std::all_of(l.begin(), l.end(), [v](float f) { return f == v; });
}

TEST(MatrixCore, LayoutLinesFieldsAndSpareLanes) {
  struct Case {
    int sizeX, sizeY, lines, fields, lastFieldLines;
  };
  const Case cases[] = {{5, 8, 3, 1, 3},     {5, 7, 2, 1, 2},      {10, 124, 32, 1, 32},
                        {10, 128, 33, 2, 1}, {3, 255, 64, 2, 32}, {2, 256, 65, 3, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.sizeX << " x " << c.sizeY);
    CSSEMatrix m;
    m.Create(c.sizeX, c.sizeY);
    EXPECT_EQ(m.GetSSESizeY(), c.lines);
    EXPECT_EQ(m.GetSSESizeX(), c.sizeX);
    EXPECT_EQ(m.GetFields(), c.fields);
    EXPECT_EQ(m.GetLinesPerField(), 32);
    EXPECT_TRUE(allLanesEqual(m, 0.0f));
    // Lines are contiguous within each field and every field is 16-byte aligned.
    for (int g = 0; g < c.lines; ++g) {
      const int f = g / 32;
      EXPECT_EQ(m.GetMatrixDataDirectly()[g], m.GetField(f) + static_cast<std::size_t>(g % 32) * c.sizeX);
    }
    for (int f = 0; f < c.fields; ++f) EXPECT_EQ(reinterpret_cast<std::uintptr_t>(m.GetField(f)) % 16, 0u);
    const int lastField = c.lines - 32 * (c.fields - 1);
    EXPECT_EQ(lastField, c.lastFieldLines);
  }
}

TEST(MatrixCore, FlatIndexIsFourTimesXPlusLane) {
  CSSEMatrix m;
  m.Create(6, 9);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 6; ++x) m.SetPoint(x, y, static_cast<float>(100 * x + y));
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 6; ++x) {
      const float* line = reinterpret_cast<const float*>(m.GetMatrixDataDirectly()[y >> 2]);
      EXPECT_EQ(line[4 * x + (y & 3)], static_cast<float>(100 * x + y));
      EXPECT_EQ(m.GetPointAddressUnsafe(x, y), const_cast<float*>(line) + 4 * x + (y & 3));
    }
  // Size Y 9: line 2 holds row 8 and three spare lanes, untouched by SetPoint.
  const float* last = reinterpret_cast<const float*>(m.GetMatrixDataDirectly()[2]);
  EXPECT_EQ(last[4 * 5 + 1], 0.0f);
  m.Fill(2.5f);
  EXPECT_TRUE(allLanesEqual(m, 2.5f));
  m.SetAllPixelValuesToZero();
  EXPECT_TRUE(allLanesEqual(m, 0.0f));
}

TEST(MatrixCore, ClampingAccessors) {
  CSSEMatrix m;
  m.Create(7, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) m.SetPointUnsafe(x, y, static_cast<float>(10 * y + x));
  EXPECT_EQ(m.GetPoint(-3, 2), m.GetPoint(0, 2));
  EXPECT_EQ(m.GetPointValue(100, -100), 6.0f);
  EXPECT_EQ(m.GetPoint(3, 99), 43.0f);
  m.SetPoint(7 + 4, 5 + 4, -1.0f);
  EXPECT_EQ(m.GetPointUnsafe(6, 4), -1.0f);
  EXPECT_EQ(m.GetPointAddress(-1, -1), m.GetPointAddressUnsafe(0, 0));
  // The spare lanes below row 4 were not written by the clamped SetPoint.
  EXPECT_EQ(reinterpret_cast<const float*>(m.GetMatrixDataDirectly()[1])[4 * 6 + 1], 0.0f);
}

TEST(MatrixCore, CreateStartsAfreshAndReleaseKeepsSizes) {
  CSSEMatrix m;
  EXPECT_TRUE(m.IsEmpty());
  EXPECT_FALSE(m.HasMemory());
  m.Create(4, 4);
  m.Fill(3.0f);
  m.Create(4, 4);
  EXPECT_TRUE(allLanesEqual(m, 0.0f));

  m.SetRowProcessed(3);
  m.FreeImageMemoryOnly();
  EXPECT_FALSE(m.IsEmpty());
  EXPECT_FALSE(m.HasMemory());
  EXPECT_EQ(m.GetSizeX(), 4);
  EXPECT_EQ(m.GetSSESizeY(), 2);
  EXPECT_EQ(m.GetFields(), 0);
  EXPECT_EQ(m.GetRowProcessed(), 3);
  m.FreeImageMemoryOnly();  // twice is harmless
  m.Reset();
  EXPECT_TRUE(m.IsEmpty());
  EXPECT_EQ(m.GetSSESizeY(), 0);
  EXPECT_EQ(m.GetRowProcessed(), 0);

  CSSEMatrix other;
  other.Create(9, 13);
  m.CreateSimilar(other);
  EXPECT_EQ(m.GetSizeX(), 9);
  EXPECT_EQ(m.GetSizeY(), 13);
}

TEST(MatrixCore, TallAndNegativeSizes) {
  {
    SCOPED_TRACE("taller than 250 fields of 32 lines");
    CSSEMatrix m;
    m.Create(1, 32000 * 4 / 4 + 4);  // 8002 lines: more than 250 fields
    EXPECT_EQ(m.GetSSESizeY(), 8002);
    EXPECT_EQ(m.GetFields(), 251);
    m.SetPoint(0, m.GetSizeY() - 1, 5.0f);
    EXPECT_EQ(m.GetPoint(0, 1 << 20), 5.0f);
  }
  {
    SCOPED_TRACE("negative sizes are refused");
    CSSEMatrix m;
    m.Create(3, 3);
    try {
      m.Create(-1, 4);
      FAIL() << "a negative size must throw";
    } catch (const CbException& e) {
      EXPECT_STREQ(e.GetFile(), "ssematrix");
    }
    EXPECT_TRUE(m.IsEmpty());
    EXPECT_FALSE(m.HasMemory());
    EXPECT_THROW(m.CreateNoClear(4, -4), CbException);
  }
}

TEST(MatrixCore, CopyRules) {
  CSSEMatrix a;
  a.Create(5, 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 5; ++x) a.SetPoint(x, y, static_cast<float>(x * 7 + y));
  // Spare lanes travel with the copy.
  reinterpret_cast<float*>(a.GetMatrixDataDirectly()[1])[4 * 4 + 3] = 42.0f;
  a.GetCompressionParameters().m_iMethod = 3;
  a.GetCompressionParameters().m_fMaxError = 0.01f;
  a.getReferenceCounter().AddRef();

  {
    SCOPED_TRACE("copy construction");
    CSSEMatrix b(a);
    EXPECT_EQ(b.GetSizeX(), 5);
    EXPECT_EQ(std::memcmp(b.GetField(0), a.GetField(0), 5 * 2 * 16), 0);
    EXPECT_EQ(b.GetCompressionParameters().m_iMethod, 3);
    EXPECT_EQ(b.getReferenceCounter().GetCount(), 0u);  // holders are never copied
  }
  {
    SCOPED_TRACE("tall matrices copy line by line");
    CSSEMatrix t;
    t.Create(3, 300);
    t.SetPoint(2, 299, 9.0f);
    CSSEMatrix u;
    u = t;
    EXPECT_EQ(u.GetPoint(2, 299), 9.0f);
    EXPECT_EQ(u.GetFields(), 3);
  }
  {
    SCOPED_TRACE("empty sources");
    CSSEMatrix empty;
    empty.GetCompressionParameters().m_uiNumberOfPasses = 4;
    CSSEMatrix fromEmpty(empty);
    EXPECT_TRUE(fromEmpty.IsEmpty());
    EXPECT_FALSE(fromEmpty.HasMemory());

    CSSEMatrix target(a);
    target = empty;  // keeps values and size, takes the parameters
    EXPECT_EQ(target.GetSizeX(), 5);
    EXPECT_EQ(target.GetPoint(4, 5), a.GetPoint(4, 5));
    EXPECT_EQ(target.GetCompressionParameters().m_uiNumberOfPasses, 4u);
    EXPECT_EQ(target.GetCompressionParameters().m_iMethod, 0);
  }
  {
    SCOPED_TRACE("same size copies in place, another size re-creates");
    CSSEMatrix c;
    c.Create(5, 6);
    const void* before = c.GetField(0);
    c.CopyFromSSEMatrix(a);
    EXPECT_EQ(c.GetField(0), before);
    EXPECT_EQ(c.GetPoint(3, 2), a.GetPoint(3, 2));
    c.Create(2, 2);
    c.CopyFromSSEMatrix(a);
    EXPECT_EQ(c.GetSizeY(), 6);
    EXPECT_EQ(c.GetPoint(4, 5), a.GetPoint(4, 5));
  }
  a.getReferenceCounter().Release();
}

TEST(MatrixCore, CopyFromFieldAndFromRows) {
  QeField2D<float, 1> field(3, 2);
  for (int i = 0; i < 6; ++i) field.GetData()[i] = static_cast<float>(i);
  const CSSEMatrix m(field);
  EXPECT_EQ(m.GetSizeX(), 3);
  EXPECT_EQ(m.GetSizeY(), 2);
  EXPECT_EQ(m.GetPoint(2, 1), 5.0f);
  EXPECT_EQ(m.GetPoint(1, 0), 1.0f);

  double r0[5] = {1, 2, 3, 4, 5}, r1[5] = {6, 7, 8, 9, 10}, r2[5] = {11, 12, 13, 14, 15};
  double* rows[3] = {r0, r1, r2};
  CSSEMatrix n;
  n.CopyFromMatrix(rows, 3, 5);
  EXPECT_EQ(n.GetSizeX(), 5);
  EXPECT_EQ(n.GetSizeY(), 3);
  EXPECT_EQ(n.GetPoint(4, 2), 15.0f);
  // A matrix with memory keeps its size: surplus rows overwrite the last row.
  CSSEMatrix small;
  small.Create(5, 2);
  small.CopyFromMatrix(rows, 3, 5);
  EXPECT_EQ(small.GetSizeY(), 2);
  EXPECT_EQ(small.GetPoint(0, 1), 11.0f);
  small.CopyFromMatrix(nullptr, 3, 5);
  EXPECT_EQ(small.GetPoint(0, 1), 11.0f);
}

TEST(MatrixCore, CompressionParameterDefaults) {
  const CSSEMatrix::UxSCompressionParameters p;
  EXPECT_EQ(p.m_iMethod, 0);
  EXPECT_FALSE(p.m_bUseInvalidValue);
  EXPECT_EQ(p.m_fInvalidValue, 0.0f);
  EXPECT_EQ(p.m_uiNumberOfPasses, 1u);
  EXPECT_EQ(p.m_fJPEGQuality, 0.95f);
  EXPECT_EQ(p.m_fMaxError, 0.0f);
  EXPECT_FALSE(p.m_bFixedRange);
  EXPECT_EQ(p.m_fRangeMin, 0.0f);
  EXPECT_EQ(p.m_fRangeMax, 0.0f);
  const CSSEMatrix m;
  EXPECT_EQ(m.GetMaxAbsCompressionError(), 0.0f);
  EXPECT_EQ(m.GetFromToArray().GetCount(), 0);
}

TEST(MatrixCore, SharedThroughCountedPointers) {
  CbSmartPointer<CSSEMatrix> p(new CSSEMatrix);
  p->Create(2, 2);
  CbSmartPointer<CSSEMatrix> q = p;
  EXPECT_EQ(p->getReferenceCounter().GetCount(), 2u);
  q.Reset();
  EXPECT_EQ(p->getReferenceCounter().GetCount(), 1u);
}

}  // namespace
