// What a careless or hostile environment must not do to stored matrices: lose
// the previous file, or make a reader allocate more than its input can fill.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

#include "orvik/foundation/codecs/ImageCodecs.h"
#include "orvik/foundation/platform/Exceptions.h"
#include "support/fields.h"
#include "support/file_limits.h"
#include "support/peak_memory.h"
#include "support/storage.h"

namespace {

using test_support::ReadBytes;
using test_support::ScratchFolder;

TEST(StoreReliability, AFailedStoreKeepsThePreviousFile) {
  ScratchFolder folder;
  const std::string path = folder / "field.ssem";
  CSSEMatrix old, big;
  surface(old, 40, 30);
  ASSERT_TRUE(old.Store(path.c_str()));
  const Bytes before = ReadBytes(path);
  surface(big, 300, 200);
  for (const int method : {0, 2, 4}) {
    SCOPED_TRACE(method);
    big.GetCompressionParameters().m_iMethod = method;
    big.GetCompressionParameters().m_uiNumberOfPasses = 3;
    // One byte short of the whole file: only the very last write fails.
    const std::size_t tagBytes = 24;
    std::optional<test_support::FileSizeLimit> limit(std::in_place, tagBytes + serialize(big).size() - 1);
    try {
      big.Store(path.c_str());
      ADD_FAILURE() << "Store reported success for a file that did not fit";
    } catch (const CFileException& e) {
      EXPECT_EQ(e.m_lOsError, EFBIG);
      EXPECT_EQ(e.m_strFileName, path);
    }
    limit.reset();
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(folder.Entries().size(), 1u);
  }
  CSSEMatrix back;
  ASSERT_TRUE(back.Load(path.c_str()));
  EXPECT_EQ(maxAbsDifference(old, back), 0.0f);
  // A folder or file that does not exist is the documented false, not an
  // exception, and a failed load changes nothing.
  EXPECT_FALSE(old.Store((folder / "missing/field.ssem").c_str()));
  CSSEMatrix kept = filled(2, 2, 7.0f);
  kept.GetCompressionParameters().m_iMethod = 4;
  EXPECT_FALSE(kept.Load((folder / "none.ssem").c_str()));
  EXPECT_EQ(kept.GetCompressionParameters().m_iMethod, 4);
  EXPECT_TRUE(lanesAre(kept, [](int, int) { return 7.0f; }));
}

// A source that cannot tell how much data it still holds.
class UnsizedStream : public CbStreamReadBinary {
public:
  explicit UnsizedStream(const Bytes& b) : m_in(b.data(), b.size()) {}

protected:
  void readRaw(void* data, std::size_t bytes) override { m_in.ReadBuffer(data, bytes); }

private:
  CbStreamReadBinaryBuffer m_in;
};

// Small files whose headers announce a matrix at the size limit (8192 x 16380)
// without the data for it: no body at all (raw, mask), or passes that are
// 1 x 1 images. Each must be refused before the matrix is allocated.
TEST(HostileInput, RefusedWithoutAllocatingForTheClaimedSize) {
  const char* root = std::getenv("ORVIK_TEST_DATA");
  ASSERT_NE(root, nullptr);
  const std::string folder = std::string(root) + "/storage/hostile/";
  const struct {
    const char* file;
    bool unsized;  // read the stream form through a source without a length
  } cases[] = {{"raw_without_body.ssem", false},
               {"mask_without_body.ssem", false},
               {"tiny_passes.ssem", false},
               {"raw_without_body.bin", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = folder + c.file;
    const Bytes bytes = ReadBytes(path);
    ASSERT_FALSE(bytes.empty());
    const test_support::ChildOutcome outcome = test_support::RunInChild([&] {
      CSSEMatrix m;
      try {
        if (c.unsized) {
          UnsizedStream in(bytes);
          m.Serialize(in);
        } else {
          m.Load(path.c_str());
        }
        return 1;
      } catch (const CbException&) {
      } catch (const CArchiveException&) {
      }
      return m.HasMemory() ? 3 : 0;
    });
    EXPECT_EQ(outcome.exitCode, 0) << "1: accepted, 3: matrix left allocated";
    EXPECT_LT(outcome.peakGrowthKiB, 64 * 1024);
  }
}

TEST(HostileInput, ImagePixelLimitIsSettable) {
  CSSEMatrix m, back;
  surface(m, 100, 80);
  m.GetCompressionParameters().m_iMethod = 2;
  const Bytes b = serialize(m);
  ASSERT_EQ(orvik::GetMaxImagePixels(), orvik::c_uDefaultMaxImagePixels);
  orvik::SetMaxImagePixels(100 * 80 - 1);
  EXPECT_FALSE(accepted(deserialize<CSSEMatrix>, b));
  orvik::SetMaxImagePixels(100 * 80);
  EXPECT_TRUE(accepted(deserialize<CSSEMatrix>, b));
  orvik::SetMaxImagePixels(orvik::c_uDefaultMaxImagePixels);
}

}  // namespace
