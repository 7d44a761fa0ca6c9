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
    // One byte short of the whole file (tag included): only the very last write fails.
    std::optional<test_support::FileSizeLimit> limit(std::in_place,
                                                     24 + serialize(coding(big, method, 3)).size() - 1);
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

// Headers of a matrix at the size limit (8192 x 16380) without the data: no
// body (raw, mask) or 1 x 1 pass images. Refused before the matrix is allocated.
TEST(HostileInput, RefusedWithoutAllocatingForTheClaimedSize) {
  const char* root = std::getenv("ORVIK_TEST_DATA");
  ASSERT_NE(root, nullptr);
  const std::string folder = std::string(root) + "/storage/hostile/";
  // The .bin file is the stream form, read through a source without a length.
  for (const std::string name :
       {"raw_without_body.ssem", "mask_without_body.ssem", "tiny_passes.ssem", "raw_without_body.bin"}) {
    SCOPED_TRACE(name);
    const std::string path = folder + name;
    const bool unsized = name.back() == 'n';
    const Bytes bytes = ReadBytes(path);
    ASSERT_FALSE(bytes.empty());
    const test_support::ChildOutcome outcome = test_support::RunInChild([&] {
      CSSEMatrix m;
      try {
        if (unsized) {
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
  CSSEMatrix m;
  surface(m, 100, 80);
  const Bytes b = serialize(coding(m, 2));
  ASSERT_EQ(orvik::GetMaxImagePixels(), orvik::c_uDefaultMaxImagePixels);
  orvik::SetMaxImagePixels(100 * 80 - 1);
  EXPECT_FALSE(accepted(deserialize<CSSEMatrix>, b));
  orvik::SetMaxImagePixels(100 * 80);
  EXPECT_TRUE(accepted(deserialize<CSSEMatrix>, b));
  orvik::SetMaxImagePixels(orvik::c_uDefaultMaxImagePixels);
}

}  // namespace
