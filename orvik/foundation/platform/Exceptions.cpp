#include "orvik/foundation/platform/Exceptions.h"

#include <cerrno>
#include <cstring>
#include <iterator>

void AfxThrowMemoryException() { throw CMemoryException(); }

void AfxThrowArchiveException(int cause) { throw CArchiveException(cause); }

const char* CArchiveException::what() const noexcept {
  switch (m_cause) {
    case endOfFile: return "archive: end of file";
    case badSchema: return "archive: bad schema";
    case badClass: return "archive: bad class";
    case badIndex: return "archive: bad index";
    case readOnly: return "archive: read only";
    case writeOnly: return "archive: write only";
    default: return "archive error";
  }
}

CFileException::CFileException(int cause, std::string fileName, long osError)
    : m_cause(cause), m_lOsError(osError), m_strFileName(std::move(fileName)) {
  static constexpr const char* causes[] = {"no error",      "file error",  "file not found", "bad path",
                                           "access denied", "invalid file", "end of file",   "disk full"};
  const bool known = m_cause >= 0 && m_cause < static_cast<int>(std::size(causes));
  m_what = "'" + m_strFileName + "': " + (m_lOsError ? std::strerror(static_cast<int>(m_lOsError))
                                                       : known ? causes[m_cause] : "file error");
}

int CFileException::OsErrorToException(long osError) {
  switch (osError) {
    case ENOENT: return fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return badPath;
    case EACCES:
    case EPERM:
    case EROFS: return accessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return diskFull;
    case EBADF: return invalidFile;
    default: return genericException;
  }
}
