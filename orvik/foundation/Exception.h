#pragma once
// Exceptions of the foundation layer. Every exception the library throws on a
// broken precondition carries the source file name, the line and the qualified
// function name, so that a host can report where a call was refused.
#include <exception>
#include <string>

class IObject {
public:
  virtual ~IObject() = default;
};

class IException : public IObject, public std::exception {
public:
  virtual const char* GetFile() const noexcept = 0;
  virtual int GetLine() const noexcept = 0;
  virtual const char* GetFunction() const noexcept = 0;
};

class CbException : public IException {
public:
  CbException(const char* file, int line, const char* function);
  CbException(const char* file, int line, const char* function, const std::string& detail);

  const char* GetFile() const noexcept override { return m_file.c_str(); }
  int GetLine() const noexcept override { return m_line; }
  const char* GetFunction() const noexcept override { return m_function.c_str(); }
  // Optional free text (a codec's own message, for instance); empty for most throws.
  const std::string& GetDetail() const noexcept { return m_detail; }
  // "file(line): function", followed by ": detail" when there is one.
  const char* what() const noexcept override { return m_what.c_str(); }

private:
  std::string m_file;
  int m_line;
  std::string m_function;
  std::string m_detail;
  std::string m_what;
};

// Raised by the containers when they cannot allocate.
class CbExceptionContainer : public CbException {
public:
  using CbException::CbException;
};
