#include "orvik/chain/SSEcharMatrix.h"

#include <algorithm>
#include <cstring>

#include "orvik/foundation/Alloc.h"
#include "orvik/foundation/Exception.h"
#include "orvik/foundation/platform/Archive.h"
#include "orvik/matrix/LineFields.h"
#include "orvik/matrix/ssematrix.h"

CSSEcharMatrix::CSSEcharMatrix(int sizeX, int sizeY) { Create(sizeX, sizeY); }

CSSEcharMatrix::CSSEcharMatrix(const CSSEcharMatrix& other) { CopyFromOtherMatrix(other); }

CSSEcharMatrix::CSSEcharMatrix(const CSSEcharMatrix& other, int x0, int x1) {
  CopyFromOtherMatrixLimitedX(other, x0, x1);
}

CSSEcharMatrix::~CSSEcharMatrix() { Free(); }

CSSEcharMatrix& CSSEcharMatrix::operator=(const CSSEcharMatrix& other) {
  if (this != &other) CopyFromOtherMatrix(other);
  return *this;
}

void CSSEcharMatrix::Create(int sizeX, int sizeY) {
  Free();
  // Empty until the memory exists, so that a failed allocation leaves no sizes behind.
  m_iSizeX = m_iSizeY = m_iSSESizeX = m_iSSESizeY = 0;
  if (sizeX < 0 || sizeY < 0)
    throw CbException("SSEcharMatrix", __LINE__, "CSSEcharMatrix::Create", "negative size");
  const int lines = (sizeY >> 4) + 1;
  orvik::detail::AllocateLineFields(m_ppLines, m_fields, m_iFields, lines, sizeX, c_iLinesPerField);
  m_iSizeX = m_iSSESizeX = sizeX;
  m_iSizeY = sizeY;
  m_iSSESizeY = lines;
  Clear(0);
}

void CSSEcharMatrix::CreateSimilar(const CSSEcharMatrix& other) { Create(other.GetSizeX(), other.GetSizeY()); }

void CSSEcharMatrix::CreateSimilar(const CSSEMatrix& other) { Create(other.GetSizeX(), other.GetSizeY()); }

void CSSEcharMatrix::Free() { orvik::detail::FreeLineFields(m_ppLines, m_fields, m_iFields); }

char CSSEcharMatrix::GetPoint(int x, int y) const {
  if (!m_ppLines || m_iSizeX < 1 || m_iSizeY < 1) return 0;
  return *pointer(std::clamp(x, 0, m_iSizeX - 1), std::clamp(y, 0, m_iSizeY - 1));
}

void CSSEcharMatrix::SetPoint(int x, int y, char v) {
  if (!m_ppLines || m_iSizeX < 1 || m_iSizeY < 1) return;
  *pointer(std::clamp(x, 0, m_iSizeX - 1), std::clamp(y, 0, m_iSizeY - 1)) = v;
}

void CSSEcharMatrix::Clear(int v) {
  if (!m_ppLines) return;
  const __m128i value = _mm_set1_epi8(static_cast<char>(v & 0xFF));
  for (int g = 0; g < m_iSSESizeY; ++g)
    for (int x = 0; x < m_iSSESizeX; ++x) _mm_store_si128(m_ppLines[g] + x, value);
}

void CSSEcharMatrix::ClearRow(int y, unsigned char v) {
  if (!m_ppLines || m_iSizeY < 1) return;
  y = std::clamp(y, 0, m_iSizeY - 1);
  for (int x = 0; x < m_iSizeX; ++x) *pointer(x, y) = static_cast<char>(v);
}

void CSSEcharMatrix::CopyFromOtherMatrix(const CSSEcharMatrix& other) {
  if (this == &other) return;
  if (!other.m_ppLines) {
    Free();
    m_iSizeX = m_iSizeY = m_iSSESizeX = m_iSSESizeY = 0;
    return;
  }
  Create(other.m_iSizeX, other.m_iSizeY);
  const std::size_t lineBytes = static_cast<std::size_t>(m_iSSESizeX) * sizeof(__m128i);
  for (int g = 0; g < m_iSSESizeY; ++g) std::memcpy(m_ppLines[g], other.m_ppLines[g], lineBytes);
}

void CSSEcharMatrix::CopyFromOtherMatrixLimitedX(const CSSEcharMatrix& other, int x0, int x1) {
  if (this == &other || !other.m_ppLines || other.m_iSizeY < 1) return;
  x0 = std::max(x0, 0);
  x1 = std::min(x1, other.m_iSizeX - 1);
  if (x0 > x1) return;
  Create(x1 - x0 + 1, other.m_iSizeY);
  const std::size_t bytes = static_cast<std::size_t>(m_iSizeX) * sizeof(__m128i);
  for (int g = 0; g < m_iSSESizeY; ++g) std::memcpy(m_ppLines[g], other.m_ppLines[g] + x0, bytes);
}

void CSSEcharMatrix::SubMatrix(const CSSEcharMatrix& other) {
  if (!m_ppLines || !other.m_ppLines) return;
  const int lines = std::min(m_iSSESizeY, other.m_iSSESizeY);
  const int columns = std::min(m_iSSESizeX, other.m_iSSESizeX);
  for (int g = 0; g < lines; ++g) {
    __m128i* a = m_ppLines[g];
    const __m128i* b = other.m_ppLines[g];
    for (int x = 0; x < columns; ++x) _mm_store_si128(a + x, _mm_sub_epi8(_mm_load_si128(a + x), _mm_load_si128(b + x)));
  }
}

void CSSEcharMatrix::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ar << m_iSizeX << m_iSizeY;
    if (m_iSizeX == 0 || m_iSizeY == 0) return;
    // A matrix without memory stores zeros, so that what is written always reads back.
    std::vector<char> row(m_iSizeX, 0);
    for (int y = 0; y < m_iSizeY; ++y) {
      if (m_ppLines)
        for (int x = 0; x < m_iSizeX; ++x) row[x] = *pointer(x, y);
      ar.Write(row.data(), row.size());
    }
    return;
  }
  Free();
  std::int32_t sizeX = 0, sizeY = 0;
  ar >> sizeX >> sizeY;
  if (sizeX < 0 || sizeY < 0) AfxThrowArchiveException(CArchiveException::badSchema);
  const std::uint64_t bytes = static_cast<std::uint64_t>(sizeX) * static_cast<std::uint64_t>(sizeY);
  if (bytes > ar.GetRemaining()) AfxThrowArchiveException(CArchiveException::endOfFile);
  if (bytes == 0) {
    // No values: keep the sizes without memory. Allocating lines for a stored
    // 0 x 2,000,000,000 matrix would cost gigabytes for nothing.
    m_iSizeX = m_iSSESizeX = sizeX;
    m_iSizeY = sizeY;
    m_iSSESizeY = (sizeY >> 4) + 1;
    return;
  }
  Create(sizeX, sizeY);
  std::vector<char> row(sizeX);
  for (int y = 0; y < sizeY; ++y) {
    ar.ReadExact(row.data(), row.size());
    for (int x = 0; x < sizeX; ++x) *pointer(x, y) = row[x];
  }
}
