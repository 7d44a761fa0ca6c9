// Every kernel level the processor has gives the SSE4.1 results bit for bit,
// on sizes that are no multiple of the vector widths, and on a field wide
// enough that the kernels work through it in several chunks.
#include <gtest/gtest.h>

#include "orvik/foundation/CpuLevel.h"
#include "support/kernel_operations.h"
#include "support/lanes.h"

namespace {

using orvik::ECpuLevel;

// Restores the level in effect when the test ends.
struct LevelGuard {
  ~LevelGuard() { orvik::SetCpuLevel(level); }
  ECpuLevel level = orvik::GetCpuLevel();
};

TEST(Dispatch, LevelIsLoweredToWhatTheProcessorHas) {
  LevelGuard guard;
  const ECpuLevel supported = orvik::GetSupportedCpuLevel();
  EXPECT_EQ(orvik::SetCpuLevel(ECpuLevel::Sse41), ECpuLevel::Sse41);
  EXPECT_EQ(orvik::GetCpuLevel(), ECpuLevel::Sse41);
  EXPECT_EQ(orvik::SetCpuLevel(ECpuLevel::Avx512), supported);
  EXPECT_EQ(orvik::GetCpuLevel(), supported);
  EXPECT_STREQ(orvik::CpuLevelName(ECpuLevel::Sse41), "sse4.1");
  EXPECT_STREQ(orvik::CpuLevelName(ECpuLevel::Avx2), "avx2");
  EXPECT_STREQ(orvik::CpuLevelName(ECpuLevel::Avx512), "avx512");
}

TEST(Dispatch, EveryLevelMatchesTheReferenceBitForBit) {
  LevelGuard guard;
  const int supported = static_cast<int>(orvik::GetSupportedCpuLevel());
  if (supported == static_cast<int>(ECpuLevel::Sse41)) GTEST_SKIP() << "the processor has no wider level";
  const int sizes[][2] = {{1, 1},   {2, 7},   {5, 3},   {7, 9},    {13, 6},
                          {18, 11}, {37, 21}, {64, 17}, {101, 43}, {613, 10}};
  for (const auto& op : orvik::test::kernelOperations())
    for (const auto& s : sizes) {
      SCOPED_TRACE(op.name + " " + std::to_string(s[0]) + " x " + std::to_string(s[1]));
      const CSSEMatrix field = orvik::test::kernelField(s[0], s[1], 17u * s[0] + s[1]);
      const CSSEMatrix other = orvik::test::kernelField(s[0], s[1], 5u * s[0] + 3u * s[1] + 1);
      orvik::SetCpuLevel(ECpuLevel::Sse41);
      CSSEMatrix reference(field);
      op.run(reference, other);
      for (int level = static_cast<int>(ECpuLevel::Avx2); level <= supported; ++level) {
        SCOPED_TRACE(orvik::CpuLevelName(static_cast<ECpuLevel>(level)));
        orvik::SetCpuLevel(static_cast<ECpuLevel>(level));
        CSSEMatrix wide(field);
        op.run(wide, other);
        EXPECT_TRUE(sameLanes(wide, reference, true));
      }
    }
}

}  // namespace
