#pragma once
// Per-SSE-line column spans of a matrix: entry g holds the first and last column
// of interest in the four rows of SSE line g. Every CSSEMatrix carries one.
#include <cstdint>

class CSSEMatrix;

class CImgFromToArray {
public:
  struct Entry {
    std::int32_t from;
    std::int32_t to;
  };

  CImgFromToArray() = default;
  CImgFromToArray(const CImgFromToArray& other);
  CImgFromToArray& operator=(const CImgFromToArray& other);
  ~CImgFromToArray();

  int GetCount() const { return m_iCount; }
  Entry* GetEntries() { return m_pEntries; }
  const Entry* GetEntries() const { return m_pEntries; }

  // --- span operations (CImgFromToArray_ops.cpp) ---

private:
  Entry* m_pEntries = nullptr;
  std::int32_t m_iCount = 0;
};
