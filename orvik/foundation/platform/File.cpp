#include "orvik/foundation/platform/File.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

CFile::~CFile() { closeQuietly(); }

bool CFile::Open(const CString& path, unsigned flags, CFileException* error) {
  Close();
  const bool create = flags & modeCreate;
  const bool write = flags & (modeWrite | modeReadWrite);
  const char* mode = "rb";
  if (create && !(flags & modeNoTruncate)) {
    mode = (flags & modeReadWrite) ? "w+b" : "wb";
  } else if (write) {
    mode = "r+b";
  }
  m_file = std::fopen(path.GetString(), mode);
  if (!m_file && create && (flags & modeNoTruncate)) m_file = std::fopen(path.GetString(), "w+b");
  if (!m_file) {
    if (error) *error = CFileException(CFileException::OsErrorToException(errno), path.str(), errno);
    return false;
  }
  m_path = path;
  return true;
}

void CFile::adopt(std::FILE* file, const CString& path) {
  Close();
  m_file = file;
  m_path = path;
}

void CFile::fail(int cause, int osError) const { throw CFileException(cause, m_path.str(), osError); }

void CFile::Close() {
  if (!m_file) return;
  std::FILE* file = m_file;
  m_file = nullptr;
  // fclose writes what is still buffered: its result is the last word on
  // whether the data reached the system.
  if (std::fclose(file) != 0) fail(CFileException::OsErrorToException(errno), errno);
}

void CFile::closeQuietly() {
  if (m_file) std::fclose(m_file);
  m_file = nullptr;
}

std::size_t CFile::Read(void* buffer, std::size_t count) {
  if (!m_file) throw CFileException(CFileException::invalidFile, m_path.str());
  return std::fread(buffer, 1, count, m_file);
}

void CFile::Write(const void* buffer, std::size_t count) {
  if (!m_file) throw CFileException(CFileException::invalidFile, m_path.str());
  if (std::fwrite(buffer, 1, count, m_file) != count) fail(CFileException::OsErrorToException(errno), errno);
}

std::uint64_t CFile::Seek(std::int64_t offset, SeekPosition from) {
  if (!m_file) throw CFileException(CFileException::invalidFile, m_path.str());
  const int whence = from == begin ? SEEK_SET : from == current ? SEEK_CUR : SEEK_END;
  if (std::fseek(m_file, static_cast<long>(offset), whence) != 0) fail(CFileException::badPath, errno);
  return GetPosition();
}

std::uint64_t CFile::GetPosition() const {
  if (!m_file) throw CFileException(CFileException::invalidFile, m_path.str());
  const long pos = std::ftell(m_file);
  if (pos < 0) throw CFileException(CFileException::genericException, m_path.str());
  return static_cast<std::uint64_t>(pos);
}

std::uint64_t CFile::GetLength() const {
  if (!m_file) throw CFileException(CFileException::invalidFile, m_path.str());
  const long here = std::ftell(m_file);
  std::fseek(m_file, 0, SEEK_END);
  const long length = std::ftell(m_file);
  std::fseek(m_file, here, SEEK_SET);
  return length < 0 ? 0 : static_cast<std::uint64_t>(length);
}

void CFile::Flush() {
  if (m_file && std::fflush(m_file) != 0) fail(CFileException::OsErrorToException(errno), errno);
}

CMemFile::CMemFile(const void* data, std::size_t size)
    : m_data(static_cast<const unsigned char*>(data), static_cast<const unsigned char*>(data) + size) {}

std::size_t CMemFile::Read(void* buffer, std::size_t count) {
  const std::size_t n = std::min(count, m_data.size() - m_pos);
  if (n) std::memcpy(buffer, m_data.data() + m_pos, n);
  m_pos += n;
  return n;
}

void CMemFile::Write(const void* buffer, std::size_t count) {
  if (m_pos + count > m_data.size()) m_data.resize(m_pos + count);
  if (count) std::memcpy(m_data.data() + m_pos, buffer, count);
  m_pos += count;
}

std::uint64_t CMemFile::Seek(std::int64_t offset, SeekPosition from) {
  const std::int64_t base = from == begin ? 0 : from == current ? static_cast<std::int64_t>(m_pos)
                                                                 : static_cast<std::int64_t>(m_data.size());
  const std::int64_t target = base + offset;
  if (target < 0) throw CFileException(CFileException::badPath, "");
  m_pos = static_cast<std::size_t>(target);
  if (m_pos > m_data.size()) m_data.resize(m_pos);
  return m_pos;
}
