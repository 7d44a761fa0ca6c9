#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "orvik/foundation/platform/AtomicFile.h"
#include "support/file_limits.h"

namespace {

using test_support::ReadBytes;
using test_support::ScratchFolder;
using Bytes = std::vector<unsigned char>;

// Each case writes `content` to a target that already holds `previous` (when
// not empty, with mode 0640); `disturb` runs between the writes and Commit().
struct Case {
  const char* name;
  std::string file;
  std::size_t previous, content;
  rlim_t sizeLimit;  // 0: none
  std::function<void(const ScratchFolder&)> disturb;
  bool commit;
  int osError;  // 0: Commit succeeds
};

TEST(AtomicFile, KeepsThePreviousFileUnlessTheNewOneIsComplete) {
  const auto removeFolder = [](const ScratchFolder& f) {
    for (const auto& e : f.Entries()) std::filesystem::remove(f.Path() / e);
    std::filesystem::remove(f.Path());
  };
  const Case cases[] = {
      {"new file", "field.bin", 0, 100000, 0, nullptr, true, 0},
      {"replaces a longer file, keeping its mode", "field.bin", 300000, 1000, 0, nullptr, true, 0},
      {"size limit below the new content", "field.bin", 50000, 200000, 120000, nullptr, true, EFBIG},
      {"size limit hit by bytes still buffered at Commit", "field.bin", 50000, 4000, 3000, nullptr, true,
       EFBIG},
      {"not committed", "field.bin", 50000, 1000, 0, nullptr, false, 0},
      {"folder removed before commit", "field.bin", 0, 1000, 0, removeFolder, true, ENOENT},
      {"folder missing", "missing/field.bin", 0, 1000, 0, nullptr, true, ENOENT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder folder;
    const std::string target = folder / c.file;
    const Bytes previous(c.previous, 1), content(c.content, 2);
    if (c.previous) {
      test_support::WriteBytes(target, previous);
      ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    }
    int error = 0;
    try {
      std::optional<test_support::FileSizeLimit> limit;
      if (c.sizeLimit) limit.emplace(c.sizeLimit);
      CAtomicFile file(target.c_str());
      file.Write(content.data(), content.size());
      if (c.disturb) c.disturb(folder);
      if (c.commit) file.Commit();
    } catch (const CFileException& e) {
      error = static_cast<int>(e.m_lOsError);
      EXPECT_EQ(e.m_strFileName, target);
      EXPECT_NE(std::string(e.what()).find(target), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(std::strerror(error)), std::string::npos) << e.what();
      EXPECT_EQ(e.m_cause == CFileException::fileNotFound, error == ENOENT);
    }
    EXPECT_EQ(error, c.osError);
    if (!std::filesystem::exists(folder.Path())) continue;
    const bool replaced = c.commit && !c.osError;
    EXPECT_EQ(ReadBytes(target), replaced ? content : previous);
    EXPECT_EQ(folder.Entries().size(), replaced || c.previous ? 1u : 0u) << "a temporary was left behind";
    struct stat st {};
    EXPECT_TRUE(!c.previous || (::stat(target.c_str(), &st) == 0 && (st.st_mode & 07777) == 0640));
  }
  CFile plain;
  CFileException error;
  EXPECT_FALSE(plain.Open((ScratchFolder() / "none.bin").c_str(), CFile::modeRead, &error));
  EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
  EXPECT_FALSE(plain.IsOpen());
}

}  // namespace
