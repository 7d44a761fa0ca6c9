#include "orvik/matrix/ImgFromToArray.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "orvik/foundation/Alloc.h"
#include "orvik/matrix/ssematrix.h"

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

void CImgFromToArray::AllocArray(int rows) {
  SafeFree(m_pEntries);
  m_pEntries = nullptr;
  m_iCount = 0;
  if (rows < 0) return;
  // One entry for every SSE line the matrix has, the line of spare lanes
  // included, so that CalcArray can write an entry per line.
  const int count = (rows >> 2) + 1;
  m_pEntries = static_cast<Entry*>(SafeMalloc(sizeof(Entry) * count));
  m_iCount = count;
  for (int i = 0; i < count; ++i) m_pEntries[i] = {0, 999999};
}

void CImgFromToArray::CalcArray(CSSEMatrix& m, int xFrom, int xTo) {
  if (m.IsEmpty() || !m.HasMemory()) return;
  AllocArray(m.GetSizeY());
  xFrom = std::clamp(xFrom, 0, m.GetSizeX() - 1);
  xTo = std::clamp(xTo, 0, m.GetSizeX() - 1);
  const __m128 lo = _mm_set1_ps(-0.005f), hi = _mm_set1_ps(0.005f);
  for (int g = 0; g < m_iCount && g < m.GetSSESizeY(); ++g) {
    const float* line = reinterpret_cast<const float*>(m.GetMatrixDataDirectly()[g]);
    auto step = [&](int x) {
      const __m128 d = _mm_sub_ps(_mm_load_ps(line + 4 * (x - 1)), _mm_load_ps(line + 4 * x));
      return _mm_movemask_ps(_mm_and_ps(_mm_cmpgt_ps(d, lo), _mm_cmplt_ps(d, hi))) != 0xF;
    };
    Entry& e = m_pEntries[g];
    for (int x = xFrom + 1; x <= xTo - 1; ++x)
      if (step(x)) {
        e.from = x;
        break;
      }
    for (int x = xTo; x >= std::max(e.from, xFrom) + 1; --x)
      if (step(x)) {
        e.to = x;
        break;
      }
  }
}

namespace {
int clampIndex(int i, int count) { return std::clamp(i, 0, count - 1); }
}  // namespace

void CImgFromToArray::GetFromToCoords(int& from, int& to, int y, int h) const {
  if (m_iCount < 1) return;
  if (h == 1) {
    const Entry& e = m_pEntries[clampIndex(y >> 2, m_iCount)];
    from = e.from;
    to = e.to;
    return;
  }
  int least = 999999, greatest = 0;
  for (int g = clampIndex((y - h) >> 2, m_iCount); g < clampIndex((y + h) >> 2, m_iCount); ++g) {
    least = std::min(least, m_pEntries[g].from);
    greatest = std::max(greatest, m_pEntries[g].to);
  }
  from = std::max(from, least);
  to = std::min(to, greatest);
}

bool CImgFromToArray::IsPositionInArray(int x, int y, int h) const {
  if (m_iCount < 1) return false;
  if (h == 1) {
    const Entry& e = m_pEntries[clampIndex(y >> 2, m_iCount)];
    return e.from <= x && x <= e.to;
  }
  for (int g = clampIndex((y - h) >> 2, m_iCount); g < clampIndex((y + h) >> 2, m_iCount); ++g)
    if (x < m_pEntries[g].from || x > m_pEntries[g].to) return false;
  return true;
}
