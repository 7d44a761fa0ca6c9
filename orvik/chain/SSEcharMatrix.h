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
  // A stored matrix without columns or rows loads with its sizes and no memory.
  void Serialize(CArchive& ar);

  // --- Signal operations and correlation (SSEcharMatrix_signal.cpp) ---
  // Operations on columns: each SSE vector is one column of sixteen rows, and
  // every lane takes part, spare lanes included.

  // Column x := column x+1 - column x-1 (saturating) for x in 1 .. size X - 2;
  // the first and last columns become 0.
  void CalcDerivative();
  // Column x := column x + (column x+1 - column x-1), the difference wrapping
  // and the sum saturating, for x in 1 .. size X - 2; the outer columns stay.
  void CalcPDResult();
  // Becomes source's size; lane by lane for x in 2 .. size X - 3, with m the
  // mean of the five columns x-2 .. x+2 (truncated), the value
  // trunc(sqrt(5 (s(x-2) - m)^2)) - 63 limited to -63 .. 63. Other columns 0.
  void CalcTimeVariance(const CSSEcharMatrix& source);
  // Per column, the sum of (byte - offset) (wrapping, read as signed) over the
  // first min(rows / 16, SSE size Y) lines, divided by the lane count of all
  // lines (16 SSE size Y). The values are allocated with SafeMalloc and
  // belong to the caller (SafeFree); count 0 and no values without memory.
  t_intvector GetIntegralVectorFromMatrix(int offset, int rows) const;
  // Number of rises of the smoothed column sums of (byte + 40).
  int CalcNumSyllables() const;
  // Stacks the rows of first, second and (if given) third, at the smallest of
  // their widths. Nothing happens when a given matrix holds no memory. The
  // sources may include this matrix.
  void CombineYDir(const CSSEcharMatrix& first, const CSSEcharMatrix& second, const CSSEcharMatrix* third);
  // Stacks whole SSE lines: first's spare lanes stay between the two.
  void CombineYDirFast(const CSSEcharMatrix& first, const CSSEcharMatrix& second);
  // Bilinear resampling to newX x newY (spare lanes := the value at (0, 0)).
  // A negative size throws CbException as Create does.
  void InterpolateUp(int newX, int newY);
  // n more columns on the left (right), filled with the value of the first
  // (last) column's top row. Nothing for n < 1.
  void ElongateLeft(int n);
  void ElongateRight(int n);
  // Surrounds the matrix with `rows` rows and `columns` columns of `value` on
  // every side. Nothing when either is negative.
  void EmbedinValueFrame(int rows, int columns, char value);
  // Becomes m's size: `value` where m's value is greater (less) than the
  // threshold, 0 elsewhere (spare lanes 0).
  void CopyAndTresholdAbove(const CSSEMatrix& m, float threshold, char value);
  void CopyAndTresholdBelow(const CSSEMatrix& m, float threshold, char value);

  // Shift correlation of a pattern of the same height and fewer columns: e(s)
  // is the sum of |pattern(k) - this(k + s)| (saturating bytes) over the
  // pattern's columns, divided by its width, for s from 0 to size X -
  // pattern's size X - 1 (the shift flush with the last column is not
  // tried, which is why a pattern as wide as the matrix finds nothing).
  // Every lane of every SSE line takes part. Returns the shift of the
  // smallest e (the first on ties) if that is below maxError, else -1; -1
  // also for unsuitable sizes. bestError := the smallest e.
  int Correlate(const CSSEcharMatrix& pattern, int& bestError, int maxError);
  // As Correlate; ambiguity sums, over three passes that each exclude the 19
  // shifts on either side of the previous minimum, how far the next minimum
  // lies above the best one.
  int CorrelateAmbiguity(const CSSEcharMatrix& pattern, int& bestError, int& ambiguity, int maxError);
  // As CorrelateAmbiguity over the shifts start .. end - 1 only (end limited
  // to size X - pattern's size X - 1, start to 0), with five passes excluding
  // 7 shifts on either side. Returns the absolute shift; -1 when the best
  // error is not below maxError, or when no shift is examined (bestError
  // 2,000,000,000, ambiguity 0).
  int CorrelateAmbiguityStartEnd(const CSSEcharMatrix& pattern, int& bestError, int& ambiguity, int maxError,
                                 int start, int end);

private:
  // Swaps memory and sizes with other (a finished temporary).
  void takeOver(CSSEcharMatrix& other) noexcept;
  bool correlatable(const CSSEcharMatrix& pattern) const;
  // Errors over the shifts start .. end - 1, then the ambiguity over `passes`
  // passes excluding `radius` shifts around each minimum.
  int correlate(const CSSEcharMatrix& pattern, int& bestError, int& ambiguity, int maxError, int start, int end,
                int radius, int passes);

public:

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
