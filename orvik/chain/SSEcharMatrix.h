#pragma once
// CSSEcharMatrix: the 8-bit sibling of the height field. One 128-bit vector
// holds sixteen vertically adjacent signed bytes: SSE line g holds rows
// 16g .. 16g+15, with (size Y >> 4) + 1 lines (always a spare lane at the
// bottom), allocated in fields of 32 lines as CSSEMatrix does.
#include <immintrin.h>

#include <cstdint>
#include <vector>

class CArchive;
class CSSEMatrix;

// A count and that many int32 values, allocated by the producer and owned by the caller.
struct t_intvector {
  std::int32_t count = 0;
  std::int32_t* values = nullptr;
};

class CSSEcharMatrix {
public:
  static constexpr int c_iLinesPerField = 32;

  CSSEcharMatrix() = default;
  CSSEcharMatrix(int sizeX, int sizeY);
  CSSEcharMatrix(const CSSEcharMatrix& other);
  CSSEcharMatrix(const CSSEcharMatrix& other, int x0, int x1);
  ~CSSEcharMatrix();
  CSSEcharMatrix& operator=(const CSSEcharMatrix& other);

  // Releases held memory and allocates a cleared matrix (spare lanes included).
  // A negative size throws CbException and leaves the matrix empty.
  void Create(int sizeX, int sizeY);
  void CreateSimilar(const CSSEcharMatrix& other);
  void CreateSimilar(const CSSEMatrix& other);
  // Releases the memory; the sizes are kept.
  void Free();
  bool HasMemory() const { return m_ppLines != nullptr; }

  // Clamped to the matrix on each coordinate; nothing happens without memory.
  char GetPoint(int x, int y) const;
  void SetPoint(int x, int y, char v);

  int GetSizeX() const { return m_iSizeX; }
  int GetSizeY() const { return m_iSizeY; }
  int GetSSESizeX() const { return m_iSSESizeX; }
  int GetSSESizeY() const { return m_iSSESizeY; }
  __m128i** GetMatrixDataDirectly() { return m_ppLines; }
  const __m128i* const* GetMatrixDataDirectly() const { return m_ppLines; }
  int GetFields() const { return m_iFields; }
  int GetLastCorrelationError() const { return m_iLastCorrelationError; }

  // Every byte of every line, spare lanes included, := the low byte of v.
  void Clear(int v);
  // Every column of row y (clamped) := v.
  void ClearRow(int y, unsigned char v);
  void CopyFromOtherMatrix(const CSSEcharMatrix& other);
  // Columns x0 .. x1 of other; x1 beyond its last column copies the columns that
  // exist. Nothing when other has no rows or the range is empty.
  void CopyFromOtherMatrixLimitedX(const CSSEcharMatrix& other, int x0, int x1);
  // byte := byte - other's byte (wrapping) over the common lines and columns.
  void SubMatrix(const CSSEcharMatrix& other);

  // Archive form: int32 size X, int32 size Y, then the bytes row by row. Loading
  // checks the stored sizes against the bytes that follow and throws
  // CArchiveException (badSchema or endOfFile) before allocating for bad data.
  void Serialize(CArchive& ar);

  // --- Signal operations and correlation (SSEcharMatrix_signal.cpp) ---

private:
  char* pointer(int x, int y) const {
    return reinterpret_cast<char*>(m_ppLines[y >> 4] + x) + (y & 15);
  }

  __m128i** m_ppLines = nullptr;
  std::vector<void*> m_fields;
  std::int32_t m_iSizeX = 0;
  std::int32_t m_iSizeY = 0;
  std::int32_t m_iSSESizeX = 0;
  std::int32_t m_iSSESizeY = 0;
  std::int32_t m_iFields = 0;
  std::int32_t m_iLastCorrelationError = 0;
};
