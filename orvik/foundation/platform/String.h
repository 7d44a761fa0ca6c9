#pragma once
// A small string value type: UTF-8 text held in a std::string.
#include <compare>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

class CString {
public:
  CString() = default;
  CString(const char* s) : m_s(s ? s : "") {}  // NOLINT: implicit, as callers pass literals
  CString(std::string s) : m_s(std::move(s)) {}  // NOLINT
  CString(std::string_view s) : m_s(s) {}  // NOLINT

  const char* GetString() const noexcept { return m_s.c_str(); }
  operator const char*() const noexcept { return m_s.c_str(); }  // NOLINT
  const std::string& str() const noexcept { return m_s; }
  // Length in bytes of the UTF-8 text.
  int GetLength() const noexcept { return static_cast<int>(m_s.size()); }
  bool IsEmpty() const noexcept { return m_s.empty(); }
  void Empty() noexcept { m_s.clear(); }

  CString& operator+=(const CString& o) {
    m_s += o.m_s;
    return *this;
  }
  friend CString operator+(CString a, const CString& b) { return a += b; }
  friend bool operator==(const CString& a, const CString& b) noexcept { return a.m_s == b.m_s; }
  friend std::strong_ordering operator<=>(const CString& a, const CString& b) noexcept {
    return a.m_s <=> b.m_s;
  }

private:
  std::string m_s;
};

template <>
struct std::hash<CString> {
  std::size_t operator()(const CString& s) const noexcept { return std::hash<std::string>()(s.str()); }
};

namespace orvik::detail {
// Conversions between the UTF-8 text of CString and the UTF-16 code units of the
// archive's string form. Invalid input becomes U+FFFD instead of failing.
std::u16string Utf8ToUtf16(const std::string& s);
std::string Utf16ToUtf8(const std::u16string& s);
}  // namespace orvik::detail
