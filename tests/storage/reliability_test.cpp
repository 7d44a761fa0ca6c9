// What a careless or hostile environment must not do to stored matrices: lose
// the previous file, or make a reader allocate more than its input can fill.
#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>

#include "orvik/foundation/platform/Exceptions.h"
#include "storage/storage_helpers.h"
#include "support/file_limits.h"

namespace {

using namespace storage_test;
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
  // A folder that does not exist is the documented false, not an exception.
  EXPECT_FALSE(old.Store((folder / "missing/field.ssem").c_str()));
}

}  // namespace
