// Infinite and NaN heights through the orvik program: a lossless copy reports
// no error, and a quantised method either stores them as the invalid value or
// refuses the field, never reporting success for a destroyed one.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "support/file_limits.h"
#include "support/tool.h"

namespace {

TEST(ToolNonFinite, LosslessCopiesAndQuantisedMethods) {
  test_support::ScratchFolder folder;
  const std::string in = folder / "in.raw";
  std::vector<float> heights(4 * 3, 1.5f);
  heights[1] = std::numeric_limits<float>::infinity();
  heights[6] = -std::numeric_limits<float>::infinity();
  heights[9] = std::numeric_limits<float>::quiet_NaN();
  const auto* bytes = reinterpret_cast<const unsigned char*>(heights.data());
  test_support::WriteBytes(in, std::vector<unsigned char>(bytes, bytes + heights.size() * 4));

  for (const char* out : {"out.tif", "out.raw", "out.ssem"}) {
    SCOPED_TRACE(out);
    const test_support::Outcome r = test_support::run("convert " + in + " " + (folder / out) + " --size 4x3");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("maximum error 0\n"), std::string::npos) << r.output;
  }
  const test_support::Outcome refused =
      test_support::run("convert " + in + " " + (folder / "q.ssem") + " --size 4x3 --method 2");
  EXPECT_EQ(refused.status, 1) << refused.output;
  EXPECT_NE(refused.output.find("non-finite"), std::string::npos) << refused.output;
  const test_support::Outcome marked =
      test_support::run("convert " + in + " " + (folder / "q.ssem") + " --size 4x3 --method 2 --invalid -1000");
  EXPECT_EQ(marked.status, 0) << marked.output;
  const test_support::Outcome back = test_support::run("convert " + (folder / "q.ssem") + " " + (folder / "q.raw"));
  ASSERT_EQ(back.status, 0) << back.output;
  const std::vector<unsigned char> raw = test_support::ReadBytes(folder / "q.raw");
  ASSERT_EQ(raw.size(), heights.size() * 4);
  std::vector<float> values(heights.size());
  std::memcpy(values.data(), raw.data(), raw.size());
  EXPECT_EQ(values[1], -1000.0f);
  EXPECT_EQ(values[6], -1000.0f);
  EXPECT_EQ(values[9], -1000.0f);
  EXPECT_NEAR(values[0], 1.5f, 0.01f);
}

}  // namespace
