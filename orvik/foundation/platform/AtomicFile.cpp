#include "orvik/foundation/platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

namespace {

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The rename is only durable once the folder's entry is on disk too. Some file
// systems cannot sync a folder; the file itself is complete by then, so this
// is done where it can be and not reported.
void syncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

[[noreturn]] void throwFor(const CString& target, int osError) {
  throw CFileException(CFileException::OsErrorToException(osError), target.str(), osError);
}

}  // namespace

CAtomicFile::CAtomicFile(const CString& target) : m_target(target) {
  const std::string& path = target.str();
  // The permission bits of a file it replaces; otherwise open() applies the umask.
  struct stat existing {};
  const bool replaces = ::stat(path.c_str(), &existing) == 0;
  if (replaces && S_ISDIR(existing.st_mode)) throwFor(target, EISDIR);
  const mode_t mode = replaces ? (existing.st_mode & 07777) : 0666;
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0;; ++attempt) {
    const std::string name = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
      if (errno == EEXIST && attempt < 100) continue;
      throwFor(target, errno);
    }
    if (replaces) ::fchmod(fd, mode);  // open() took the umask off
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file) {
      const int error = errno;
      ::close(fd);
      ::unlink(name.c_str());
      throwFor(target, error);
    }
    m_temporary = CString(name);
    adopt(file, target);
    return;
  }
}

CAtomicFile::~CAtomicFile() { discard(); }

bool CAtomicFile::Open(const CString&, unsigned, CFileException* error) {
  if (error) *error = CFileException(CFileException::genericException, m_target.str());
  return false;
}

void CAtomicFile::discard() noexcept {
  if (m_temporary.str().empty()) return;
  try {
    Close();
  } catch (const CFileException&) {
  }
  ::unlink(m_temporary.str().c_str());
  m_temporary = CString();
}

void CAtomicFile::Commit() {
  if (m_temporary.str().empty() || !IsOpen()) fail(CFileException::invalidFile, 0);
  int error = 0;
  if (std::fflush(handle()) != 0 || ::fsync(::fileno(handle())) != 0) error = errno;
  if (error == 0) {
    try {
      Close();
    } catch (const CFileException& e) {
      error = static_cast<int>(e.m_lOsError ? e.m_lOsError : EIO);
    }
  }
  if (error == 0 && ::rename(m_temporary.str().c_str(), m_target.str().c_str()) != 0) error = errno;
  if (error != 0) {
    discard();
    throwFor(m_target, error);
  }
  m_temporary = CString();
  syncFolder(folderOf(m_target.str()));
}
