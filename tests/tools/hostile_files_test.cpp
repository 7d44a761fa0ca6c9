// Image files whose headers claim far more pixels than the file holds: 16-bit
// PNGs of 30000² (above the pixel limit) and 16000² (within it, but more than
// deflate can expand the file to), and float TIFFs of 32768² and 16384² whose
// only strip lies beyond the end of the file, under each compression. The
// program must refuse each one without allocating for the claimed size.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/file_limits.h"
#include "support/peak_memory.h"

namespace {

TEST(HostileFiles, RefusedWithoutAllocatingForTheClaimedSize) {
  const char* root = std::getenv("ORVIK_TEST_DATA");
  ASSERT_NE(root, nullptr);
  test_support::ScratchFolder folder;
  const std::string out = folder / "out.raw";
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(std::string(root) + "/tools/hostile")) {
    const std::string in = entry.path().string();
    SCOPED_TRACE(in);
    ++count;
    const test_support::ChildOutcome outcome = test_support::RunInChild([&] {
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, STDERR_FILENO);
      ::dup2(null, STDOUT_FILENO);
      ::execl(ORVIK_TOOL_PATH, ORVIK_TOOL_PATH, "convert", in.c_str(), out.c_str(), static_cast<char*>(nullptr));
      return 127;
    });
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_LT(outcome.peakGrowthKiB, 64 * 1024);
    EXPECT_FALSE(std::filesystem::exists(out));
  }
  EXPECT_EQ(count, 10);
}

}  // namespace
