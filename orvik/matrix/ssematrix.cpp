#include "orvik/matrix/ssematrix.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "orvik/foundation/Exception.h"
#include "orvik/matrix/LineFields.h"

CSSEMatrix::CSSEMatrix() = default;

CSSEMatrix::CSSEMatrix(const CSSEMatrix& other) : IReferenceCounted() {
  if (this == &other) return;
  if (other.HasMemory()) {
    CreateNoClear(other.m_iSizeX, other.m_iSizeY);  // every lane is copied
    copyValuesFrom(other);
  }
  m_compressionParameters = other.m_compressionParameters;
}

CSSEMatrix::CSSEMatrix(const QeField2D<float, 1>& field) { CopyFromField(field); }

CSSEMatrix::~CSSEMatrix() { FreeImageMemoryOnly(); }

CSSEMatrix& CSSEMatrix::operator=(const CSSEMatrix& other) {
  if (this != &other) CopyFromSSEMatrix(other);
  return *this;
}

void CSSEMatrix::allocate(int sizeX, int sizeY) {
  // Empty until the memory exists: a failed allocation must not leave sizes
  // that promise elements.
  Reset();
  if (sizeX < 0 || sizeY < 0) throw CbException("ssematrix", __LINE__, "CSSEMatrix::Create", "negative size");
  const int lines = (sizeY >> 2) + 1;
  orvik::detail::AllocateLineFields(m_ppLines, m_fields, m_iFields, lines, sizeX, c_iLinesPerField);
  m_iSizeX = sizeX;
  m_iSizeY = sizeY;
  m_iSSESizeX = sizeX;
  m_iSSESizeY = lines;
}

void CSSEMatrix::Create(int sizeX, int sizeY) {
  allocate(sizeX, sizeY);
  SetAllPixelValuesToZero();
}

void CSSEMatrix::CreateNoClear(int sizeX, int sizeY) { allocate(sizeX, sizeY); }

void CSSEMatrix::CreateSimilar(CSSEMatrix& other) { Create(other.GetSizeX(), other.GetSizeY()); }

void CSSEMatrix::FreeImageMemoryOnly() {
  if (m_ppLines) orvik::detail::FreeLineFields(m_ppLines, m_fields, m_iFields);
}

void CSSEMatrix::Reset() {
  FreeImageMemoryOnly();
  m_iSizeX = m_iSizeY = m_iSSESizeX = m_iSSESizeY = m_iRowProcessed = 0;
}

void CSSEMatrix::SetAllPixelValuesToZero() { Fill(0.0f); }

void CSSEMatrix::Fill(float v) {
  if (!m_ppLines) return;
  const __m128 value = _mm_set1_ps(v);
  // A matrix much larger than the caches is streamed straight to memory: the
  // stores then skip reading every cache line first, and evict nothing useful.
  const std::size_t bytes = static_cast<std::size_t>(m_iSSESizeX) * m_iSSESizeY * sizeof(__m128);
  const bool stream = bytes >= (std::size_t{16} << 20);
  for (int g = 0; g < m_iSSESizeY; ++g) {
    float* line = reinterpret_cast<float*>(m_ppLines[g]);
    if (stream)
      for (int x = 0; x < m_iSSESizeX; ++x) _mm_stream_ps(line + 4 * x, value);
    else
      for (int x = 0; x < m_iSSESizeX; ++x) _mm_store_ps(line + 4 * x, value);
  }
  if (stream) _mm_sfence();
}

void CSSEMatrix::copyValuesFrom(const CSSEMatrix& src) {
  const std::size_t lineBytes = static_cast<std::size_t>(m_iSSESizeX) * sizeof(__m128);
  if (m_iFields == 1 && src.m_iFields == 1) {
    std::memcpy(m_fields[0], src.m_fields[0], lineBytes * m_iSSESizeY);
    return;
  }
  for (int g = 0; g < m_iSSESizeY; ++g) std::memcpy(m_ppLines[g], src.m_ppLines[g], lineBytes);
}

void CSSEMatrix::takeMemoryFrom(CSSEMatrix& temp) noexcept {
  if (this == &temp) return;
  std::swap(m_iSizeX, temp.m_iSizeX);
  std::swap(m_iSizeY, temp.m_iSizeY);
  std::swap(m_iSSESizeX, temp.m_iSSESizeX);
  std::swap(m_iSSESizeY, temp.m_iSSESizeY);
  std::swap(m_iFields, temp.m_iFields);
  m_fields.swap(temp.m_fields);
  std::swap(m_ppLines, temp.m_ppLines);
}

void CSSEMatrix::CopyFromSSEMatrix(const CSSEMatrix& src) {
  if (this == &src) return;
  if (src.HasMemory()) {
    if (!(HasMemory() && m_iSizeX == src.m_iSizeX && m_iSizeY == src.m_iSizeY))
      CreateNoClear(src.m_iSizeX, src.m_iSizeY);  // every lane is copied
    copyValuesFrom(src);
  }
  m_compressionParameters = src.m_compressionParameters;
}

void CSSEMatrix::CopyFromField(const QeField2D<float, 1>& field) {
  CreateNoClear(field.GetWidth(), field.GetHeight());
  if (field.GetWidth() < 1) return;
  // The rows below are written one by one; the spare lanes of the last line
  // are not among them.
  std::fill(m_ppLines[m_iSSESizeY - 1], m_ppLines[m_iSSESizeY - 1] + m_iSSESizeX, _mm_setzero_ps());
  const float* data = field.GetData();
  const int w = field.GetWidth();
  for (int y = 0; y < m_iSizeY; ++y)
    for (int x = 0; x < m_iSizeX; ++x) SetPointUnsafe(x, y, data[static_cast<std::size_t>(y) * w + x]);
}

void CSSEMatrix::CopyFromMatrix(double** rows, int rowCount, int columnCount) {
  if (!rows) return;
  if (!HasMemory()) Create(columnCount, rowCount);
  if (IsEmpty()) return;
  for (int y = 0; y < rowCount; ++y)
    for (int x = 0; x < columnCount; ++x) SetPoint(x, y, static_cast<float>(rows[y][x]));
}
