#pragma once
// Binary files. CFile is a file on disk, CMemFile the same interface over a byte
// buffer in memory (used to read stored data handed over in memory).
#include <cstdint>
#include <cstdio>
#include <vector>

#include "orvik/foundation/platform/Exceptions.h"
#include "orvik/foundation/platform/String.h"

class CFile {
public:
  enum OpenFlags : unsigned {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareDenyWrite = 0x0020,
    typeBinary = 0x8000,
    modeCreate = 0x1000,
    modeNoTruncate = 0x2000,
    osRandomAccess = 0x20000,
  };
  enum SeekPosition { begin = 0, current = 1, end = 2 };

  CFile() = default;
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;
  virtual ~CFile();

  // modeCreate makes a new file or truncates an existing one (unless
  // modeNoTruncate). On failure returns false and fills *error when given.
  // A file that replaces another should be written through CAtomicFile
  // (AtomicFile.h) instead, so that a failure keeps the previous content.
  virtual bool Open(const CString& path, unsigned flags, CFileException* error = nullptr);
  // Throws CFileException when the system reports that buffered bytes could not
  // be written; the file is closed either way. The destructor closes silently.
  virtual void Close();
  bool IsOpen() const { return m_file != nullptr; }

  // Reads up to count bytes; returns how many were read (fewer at the end).
  virtual std::size_t Read(void* buffer, std::size_t count);
  // Writes all bytes or throws CFileException.
  virtual void Write(const void* buffer, std::size_t count);
  // Moves the position; throws CFileException for a position before the start.
  virtual std::uint64_t Seek(std::int64_t offset, SeekPosition from);
  virtual std::uint64_t GetPosition() const;
  virtual std::uint64_t GetLength() const;
  // Hands the buffered bytes to the system; throws CFileException on failure.
  virtual void Flush();

protected:
  // Takes over an open stream; the file then reports errors under `path`.
  void adopt(std::FILE* file, const CString& path);
  std::FILE* handle() const { return m_file; }
  [[noreturn]] void fail(int cause, int osError) const;

private:
  void closeQuietly();

  std::FILE* m_file = nullptr;
  CString m_path;
};

class CMemFile : public CFile {
public:
  CMemFile() = default;
  explicit CMemFile(std::vector<unsigned char> bytes) : m_data(std::move(bytes)) {}
  CMemFile(const void* data, std::size_t size);

  bool Open(const CString&, unsigned, CFileException* = nullptr) override { return true; }
  void Close() override {}
  std::size_t Read(void* buffer, std::size_t count) override;
  void Write(const void* buffer, std::size_t count) override;
  std::uint64_t Seek(std::int64_t offset, SeekPosition from) override;
  std::uint64_t GetPosition() const override { return m_pos; }
  std::uint64_t GetLength() const override { return m_data.size(); }
  void Flush() override {}

  const std::vector<unsigned char>& GetData() const { return m_data; }

private:
  std::vector<unsigned char> m_data;
  std::size_t m_pos = 0;
};
