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

class CFileException : public std::exception {
public:
  enum { none, genericException, fileNotFound, badPath, accessDenied, invalidFile, endOfFile, diskFull };
  CFileException() = default;
  CFileException(int cause, std::string fileName) : m_cause(cause), m_strFileName(std::move(fileName)) {}
  const char* what() const noexcept override { return "file error"; }

  int m_cause = none;
  std::string m_strFileName;
};

class CArchiveException : public std::exception {
public:
  enum { none, genericException, readOnly, endOfFile, writeOnly, badIndex, badClass, badSchema };
  explicit CArchiveException(int cause = none) : m_cause(cause) {}
  const char* what() const noexcept override;

  int m_cause;
};

[[noreturn]] void AfxThrowArchiveException(int cause);
