#include "orvik/matrix/ImgFromToArray.h"

#include <cstring>

#include "orvik/foundation/Alloc.h"

CImgFromToArray::CImgFromToArray(const CImgFromToArray& other) { *this = other; }

CImgFromToArray& CImgFromToArray::operator=(const CImgFromToArray& other) {
  if (this == &other) return *this;
  Entry* copy = nullptr;
  if (other.m_iCount > 0) {
    copy = static_cast<Entry*>(SafeMalloc(sizeof(Entry) * other.m_iCount));
    std::memcpy(copy, other.m_pEntries, sizeof(Entry) * other.m_iCount);
  }
  SafeFree(m_pEntries);
  m_pEntries = copy;
  m_iCount = other.m_iCount;
  return *this;
}

CImgFromToArray::~CImgFromToArray() { SafeFree(m_pEntries); }
