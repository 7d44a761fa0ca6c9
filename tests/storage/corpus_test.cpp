#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "orvik/foundation/platform/Archive.h"
#include "orvik/foundation/platform/File.h"
#include "storage_helpers.h"

using namespace storage_test;

namespace {

std::vector<std::filesystem::path> corpus(const char* folder) {
  const char* root = std::getenv("ORVIK_TEST_DATA");
  std::vector<std::filesystem::path> files;
  if (!root) return files;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(root) / "storage" / folder))
    files.push_back(entry.path());
  return files;
}

Bytes contents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

// The seed corpus of the fuzz targets, replayed: files named valid_* were
// written by this library and must read; every other file is a stored finding
// and must end in a documented exception or a result.
TEST(SeedCorpus, StreamsAndArchivesReplay) {
  const auto streams = corpus("stream"), archives = corpus("archive");
  ASSERT_FALSE(streams.empty()) << "ORVIK_TEST_DATA is not set or holds no corpus";
  ASSERT_FALSE(archives.empty());
  for (const auto& path : streams) {
    SCOPED_TRACE(path.filename().string());
    const Bytes b = contents(path);
    CSSEMatrix m;
    if (path.filename().string().rfind("valid_", 0) == 0) {
      ASSERT_NO_THROW(deserialize(m, b));
      // What was read writes and reads back to the same values.
      CSSEMatrix back;
      m.GetCompressionParameters().m_iMethod = 0;
      deserialize(back, serialize(m));
      EXPECT_EQ(maxAbsDifference(m, back), 0.0f);
    } else {
      try {
        deserialize(m, b);
      } catch (const CbException&) {
      }
    }
  }
  for (const auto& path : archives) {
    SCOPED_TRACE(path.filename().string());
    CMemFile file(contents(path));
    CArchive ar(&file, CArchive::load);
    CSSEMatrix m;
    if (path.filename().string().rfind("valid_", 0) == 0) {
      ASSERT_NO_THROW(m.Serialize(ar));
      EXPECT_GT(m.GetSizeX(), 0);
    } else {
      try {
        m.Serialize(ar);
      } catch (const CbException&) {
      } catch (const CArchiveException&) {
      }
    }
  }
}
