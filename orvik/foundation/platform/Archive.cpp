#include "orvik/foundation/platform/Archive.h"

#include <string>
#include <vector>

CArchive::CArchive(CFile* file, Mode mode, int) : m_file(file), m_mode(mode) {}

void CArchive::Flush() {
  if (m_file && IsStoring()) m_file->Flush();
}

void CArchive::Close() {
  Flush();
  m_file = nullptr;
}

std::size_t CArchive::Read(void* buffer, std::size_t count) {
  if (!m_file) AfxThrowArchiveException(CArchiveException::genericException);
  if (!IsLoading()) AfxThrowArchiveException(CArchiveException::writeOnly);
  return m_file->Read(buffer, count);
}

void CArchive::ReadExact(void* buffer, std::size_t count) {
  if (Read(buffer, count) != count) AfxThrowArchiveException(CArchiveException::endOfFile);
}

void CArchive::Write(const void* buffer, std::size_t count) {
  if (!m_file) AfxThrowArchiveException(CArchiveException::genericException);
  if (!IsStoring()) AfxThrowArchiveException(CArchiveException::readOnly);
  m_file->Write(buffer, count);
}

std::uint64_t CArchive::GetRemaining() const {
  if (!m_file) return 0;
  const std::uint64_t length = m_file->GetLength();
  const std::uint64_t position = m_file->GetPosition();
  return length > position ? length - position : 0;
}

void AfxWriteStringLength(CArchive& ar, std::uint64_t length, bool unicode) {
  if (unicode) {
    ar << static_cast<std::uint8_t>(0xFF) << static_cast<std::uint16_t>(0xFFFE);
  }
  if (length < 0xFF) {
    ar << static_cast<std::uint8_t>(length);
    return;
  }
  ar << static_cast<std::uint8_t>(0xFF);
  if (length < 0xFFFE) {
    ar << static_cast<std::uint16_t>(length);
    return;
  }
  ar << static_cast<std::uint16_t>(0xFFFF);
  if (length < 0xFFFFFFFF) {
    ar << static_cast<std::uint32_t>(length);
    return;
  }
  ar << static_cast<std::uint32_t>(0xFFFFFFFF) << length;
}

std::uint64_t AfxReadStringLength(CArchive& ar, int& charSize) {
  charSize = 1;
  std::uint8_t b = 0;
  ar >> b;
  if (b < 0xFF) return b;
  std::uint16_t w = 0;
  ar >> w;
  if (w == 0xFFFE) {
    charSize = 2;
    ar >> b;
    if (b < 0xFF) return b;
    ar >> w;
  }
  if (w < 0xFFFF) return w;
  std::uint32_t d = 0;
  ar >> d;
  if (d < 0xFFFFFFFF) return d;
  std::uint64_t q = 0;
  ar >> q;
  return q;
}

CArchive& CArchive::operator<<(const CString& s) {
  const std::u16string wide = orvik::detail::Utf8ToUtf16(s.str());
  AfxWriteStringLength(*this, wide.size(), true);
  Write(wide.data(), wide.size() * sizeof(char16_t));
  return *this;
}

CArchive& CArchive::operator>>(CString& s) {
  int charSize = 1;
  const std::uint64_t length = AfxReadStringLength(*this, charSize);
  // Read in bounded chunks so that a corrupt length cannot reserve unbounded memory:
  // a length beyond the data ends in endOfFile after at most the data's size.
  constexpr std::size_t chunk = 1 << 16;
  std::vector<unsigned char> bytes;
  std::uint64_t remaining = length * static_cast<std::uint64_t>(charSize);
  if (length > (UINT64_MAX >> 1)) AfxThrowArchiveException(CArchiveException::badSchema);
  while (remaining > 0) {
    const std::size_t n = remaining < chunk ? static_cast<std::size_t>(remaining) : chunk;
    const std::size_t old = bytes.size();
    bytes.resize(old + n);
    ReadExact(bytes.data() + old, n);
    remaining -= n;
  }
  if (charSize == 2) {
    std::u16string wide(bytes.size() / 2, u'\0');
    if (!wide.empty()) std::memcpy(wide.data(), bytes.data(), wide.size() * 2);  // empty: data() may be null
    s = CString(orvik::detail::Utf16ToUtf8(wide));
  } else {
    s = CString(std::string(bytes.begin(), bytes.end()));
  }
  return *this;
}
