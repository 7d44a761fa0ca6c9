// Heights that are not finite must never silently destroy a stored field.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "orvik/foundation/Exception.h"
#include "support/fields.h"
#include "support/storage.h"

namespace {


constexpr float c_inf = std::numeric_limits<float>::infinity();
constexpr float c_invalid = -1000.0f;

TEST(NonFiniteHeights, EveryMethodKeepsTheFieldOrRefusesIt) {
  for (const float odd : {c_inf, -c_inf, std::numeric_limits<float>::quiet_NaN()}) {
    for (const int method : {0, 1, 2, 3, 4}) {
      for (const bool useInvalid : {false, true}) {
        SCOPED_TRACE(testing::Message() << "value " << odd << ", method " << method << ", invalid " << useInvalid);
        CSSEMatrix m, back;
        surface(m, 37, 21);
        m.SetPoint(11, 7, odd);
        auto& p = m.GetCompressionParameters();
        p.m_iMethod = method;
        p.m_uiNumberOfPasses = 2;
        p.m_bUseInvalidValue = useInvalid;
        p.m_fInvalidValue = c_invalid;
        const bool carriesInvalid = useInvalid && (method == 2 || method == 3);
        if (method >= 1 && method <= 3 && !carriesInvalid) {
          CbStreamWriteBinaryBuffer out;
          EXPECT_THROW(m.Serialize(out), CbException);
          EXPECT_EQ(out.GetCount(), 0u) << "bytes written before the refusal";
          continue;
        }
        deserialize(back, serialize(m));
        const float error = m.GetMaxAbsCompressionError();
        if (method == 4) {
          // Every valid pixel reads back as the mean of the finite ones; the
          // error honestly reports the distance to the odd value.
          EXPECT_TRUE(std::isfinite(back.GetPoint(0, 0)));
          EXPECT_EQ(back.GetPoint(11, 7), back.GetPoint(0, 0));
          EXPECT_EQ(error, std::isnan(odd) ? error : c_inf);
          continue;
        }
        for (int y = 0; y < 21; ++y)
          for (int x = 0; x < 37; ++x) {
            const float want = m.GetPoint(x, y), got = back.GetPoint(x, y);
            if (x == 11 && y == 7) {
              if (method == 0)
                EXPECT_TRUE(got == want || (std::isnan(got) && std::isnan(want)));
              else
                EXPECT_EQ(got, c_invalid);
            } else {
              ASSERT_LE(std::fabs(got - want), error * 1.0001f + 1e-6f) << x << ", " << y;
            }
          }
        EXPECT_TRUE(std::isfinite(error));
        EXPECT_LT(error, method == 0 ? 1e-30f : 0.1f);
      }
    }
  }
}

}  // namespace
