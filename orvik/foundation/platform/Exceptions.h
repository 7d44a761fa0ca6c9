#pragma once
// The framework's exceptions: out of memory, file and archive failures.
#include <exception>
#include <new>
#include <string>

// Out of memory; raised by the allocation functions. Catchable as std::bad_alloc.
class CMemoryException : public std::bad_alloc {
public:
  const char* what() const noexcept override { return "out of memory"; }
};

[[noreturn]] void AfxThrowMemoryException();

// A failed file operation. m_lOsError is the errno the system reported (0 when
// the failure was not the system's); what() names the file and the reason, so a
// host can show it as it is.
class CFileException : public std::exception {
public:
  enum { none, genericException, fileNotFound, badPath, accessDenied, invalidFile, endOfFile, diskFull };
  CFileException() = default;
  CFileException(int cause, std::string fileName, long osError = 0);
  // The cause that fits a system error number.
  static int OsErrorToException(long osError);
  const char* what() const noexcept override { return m_what.empty() ? "file error" : m_what.c_str(); }

  int m_cause = none;
  long m_lOsError = 0;
  std::string m_strFileName;

private:
  std::string m_what;
};

class CArchiveException : public std::exception {
public:
  enum { none, genericException, readOnly, endOfFile, writeOnly, badIndex, badClass, badSchema };
  explicit CArchiveException(int cause = none) : m_cause(cause) {}
  const char* what() const noexcept override;

  int m_cause;
};

[[noreturn]] void AfxThrowArchiveException(int cause);
