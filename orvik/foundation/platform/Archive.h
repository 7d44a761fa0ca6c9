#pragma once
// A binary archive over a CFile: typed values in little-endian order, raw
// blocks, and the framework's string form (a length marker followed by UTF-16
// or 8-bit characters). Reading past the end throws CArchiveException with the
// endOfFile cause.
#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "orvik/foundation/platform/Exceptions.h"
#include "orvik/foundation/platform/File.h"
#include "orvik/foundation/platform/String.h"

static_assert(std::endian::native == std::endian::little, "stored forms are little-endian");

class CArchive {
public:
  enum Mode { store = 0, load = 1 };

  // The buffer size is accepted for compatibility; the file does its own buffering.
  CArchive(CFile* file, Mode mode, int bufferSize = 4096);
  CArchive(const CArchive&) = delete;
  CArchive& operator=(const CArchive&) = delete;

  bool IsLoading() const { return m_mode == load; }
  bool IsStoring() const { return m_mode == store; }
  CFile* GetFile() const { return m_file; }
  void Flush();
  void Close();

  // Reads up to count bytes and returns how many were read; short at the end.
  std::size_t Read(void* buffer, std::size_t count);
  // Reads exactly count bytes or throws CArchiveException(endOfFile).
  void ReadExact(void* buffer, std::size_t count);
  void Write(const void* buffer, std::size_t count);
  // Bytes between the read position and the end of the file; readers compare
  // stored sizes with it before they allocate.
  std::uint64_t GetRemaining() const;

  template <typename T>
    requires std::is_arithmetic_v<T>
  CArchive& operator<<(T v) {
    Write(&v, sizeof v);
    return *this;
  }
  template <typename T>
    requires std::is_arithmetic_v<T>
  CArchive& operator>>(T& v) {
    ReadExact(&v, sizeof v);
    return *this;
  }
  // The string form: UTF-16 with the Unicode length marker.
  CArchive& operator<<(const CString& s);
  // Reads both the Unicode and the 8-bit string form.
  CArchive& operator>>(CString& s);

private:
  CFile* m_file;
  Mode m_mode;
};

// The length marker of the archive's string form. With unicode set it is the
// byte 0xFF and the 16-bit value 0xFFFE, then the length in the shortest of
// 8, 16, 32 or 64 bits (each escaped by the all-ones value of the smaller).
void AfxWriteStringLength(CArchive& ar, std::uint64_t length, bool unicode);
// Returns the length in characters and sets charSize to 1 or 2. Throws
// CArchiveException(badSchema) for an implausible length.
std::uint64_t AfxReadStringLength(CArchive& ar, int& charSize);
