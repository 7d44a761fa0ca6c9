#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "orvik/foundation/platform/Archive.h"
#include "orvik/foundation/platform/AtomicFile.h"
#include "support/file_limits.h"

namespace {

using test_support::ReadBytes;
using test_support::ScratchFolder;
using Bytes = std::vector<unsigned char>;

Bytes pattern(std::size_t n, unsigned seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>((i * 131 + seed) >> 3);
  return b;
}

// Each case writes `content` to a target that already holds `previous` (when
// not empty); `disturb` runs between the writes and Commit().
struct Case {
  const char* name;
  std::size_t previous;
  std::size_t content;
  rlim_t sizeLimit;  // 0: none
  std::function<void(const ScratchFolder&)> disturb;
  bool commit;
  int osError;  // 0: Commit succeeds
};

TEST(AtomicFile, KeepsThePreviousFileUnlessTheNewOneIsComplete) {
  const Case cases[] = {
      {"new file", 0, 100000, 0, nullptr, true, 0},
      {"replaces a longer file", 300000, 1000, 0, nullptr, true, 0},
      {"size limit below the new content", 50000, 200000, 120000, nullptr, true, EFBIG},
      {"size limit hit by the last buffer only", 50000, 4000, 3000, nullptr, true, EFBIG},
      {"not committed", 50000, 1000, 0, nullptr, false, 0},
      {"folder removed before commit", 0, 1000, 0,
       [](const ScratchFolder& f) {
         for (const auto& e : f.Entries()) std::filesystem::remove(f.Path() / e);
         std::filesystem::remove(f.Path());
       },
       true, ENOENT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder folder;
    const std::string target = folder / "field.bin";
    const Bytes previous = pattern(c.previous, 1), content = pattern(c.content, 2);
    if (c.previous) test_support::WriteBytes(target, previous);
    int error = 0;
    std::string message;
    {
      std::optional<test_support::FileSizeLimit> limit;
      if (c.sizeLimit) limit.emplace(c.sizeLimit);
      try {
        CAtomicFile file(target.c_str());
        CArchive ar(&file, CArchive::store);
        ar.Write(content.data(), content.size());
        ar.Close();
        if (c.disturb) c.disturb(folder);
        if (c.commit) file.Commit();
      } catch (const CFileException& e) {
        error = static_cast<int>(e.m_lOsError);
        message = e.what();
        EXPECT_EQ(e.m_strFileName, target);
      }
    }
    EXPECT_EQ(error, c.osError);
    if (error) {
      EXPECT_NE(message.find(target), std::string::npos) << message;
      EXPECT_NE(message.find(std::strerror(error)), std::string::npos) << message;
    }
    if (!std::filesystem::exists(folder.Path())) continue;
    const bool replaced = c.commit && !c.osError;
    EXPECT_EQ(ReadBytes(target), replaced ? content : previous);
    EXPECT_EQ(folder.Entries().size(), replaced || c.previous ? 1u : 0u) << "a temporary was left behind";
  }
}

TEST(AtomicFile, ReportsAMissingFolderAndKeepsPermissions) {
  ScratchFolder folder;
  CFile plain;
  CFileException error;
  EXPECT_FALSE(plain.Open((folder / "none.bin").c_str(), CFile::modeRead, &error));
  EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
  EXPECT_FALSE(plain.IsOpen());
  try {
    CAtomicFile file((folder / "missing/field.bin").c_str());
    FAIL() << "no exception";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
    EXPECT_EQ(e.m_lOsError, ENOENT);
  }
  const std::string target = folder / "field.bin";
  test_support::WriteBytes(target, pattern(10, 3));
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  CAtomicFile file(target.c_str());
  file.Write("abc", 3);
  file.Commit();
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadBytes(target), (Bytes{'a', 'b', 'c'}));
  // Bytes still buffered when Commit runs: their failed write is Commit's to report.
  try {
    const test_support::FileSizeLimit limit(10);
    CAtomicFile buffered(target.c_str());
    buffered.Write("0123456789abcdef", 16);
    buffered.Commit();
    ADD_FAILURE() << "Commit reported success for a file that did not fit";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_lOsError, EFBIG);
  }
  EXPECT_EQ(ReadBytes(target), (Bytes{'a', 'b', 'c'}));
  EXPECT_EQ(folder.Entries().size(), 1u);
}

}  // namespace
