#pragma once
// CSSEMatrix: the height field. A rectangular matrix of floats laid out so that
// one 128-bit vector holds four vertically adjacent values: SSE line g holds rows
// 4g .. 4g+3, as an array of size X vectors; vector x of line g holds (x, 4g+l)
// in lane l. There are (size Y >> 2) + 1 lines, so at least one spare lane
// always sits below the last row; spare lanes belong to the matrix and whole-
// matrix operations process them. Lines are allocated in fields of 32 lines,
// each field one 16-byte-aligned block; a line-pointer table reaches them.
#include <immintrin.h>

#include <cstdint>
#include <vector>

#include "orvik/foundation/ReferenceCounter.h"
#include "orvik/foundation/qe/Field2D.h"
#include "orvik/matrix/ImgFromToArray.h"

class CSSEMatrix : public IReferenceCounted {
public:
  // Parameters of compressed serialisation; copied whole with the matrix.
  struct UxSCompressionParameters {
    std::int32_t m_iMethod = 0;            // 0 raw, 1..3 multi-pass, 4 validity mask
    bool m_bUseInvalidValue = false;       // first PNG pass keeps m_fInvalidValue exact
    float m_fInvalidValue = 0.0f;          // marks a pixel without data
    std::uint32_t m_uiNumberOfPasses = 1;  // passes of methods 1..3
    float m_fJPEGQuality = 0.95f;          // quality (0..1) of a JPEG-coded last pass
    float m_fMaxError = 0.0f;              // tolerated error of the last pass; 0 = finest
    bool m_bFixedRange = false;            // quantise over [m_fRangeMin, m_fRangeMax]
    float m_fRangeMin = 0.0f;
    float m_fRangeMax = 0.0f;
  };

  static constexpr int c_iLinesPerField = 32;

  CSSEMatrix();
  CSSEMatrix(const CSSEMatrix& other);
  explicit CSSEMatrix(const QeField2D<float, 1>& field);
  ~CSSEMatrix() override;
  CSSEMatrix& operator=(const CSSEMatrix& other);

  CbReferenceCounter<unsigned int>& getReferenceCounter() const override { return m_referenceCounter; }

  // Sizing and release. Create always starts afresh and clears every lane,
  // spare lanes included. A negative size throws CbException ("ssematrix") and
  // leaves the matrix empty.
  void Create(int sizeX, int sizeY);
  // As Create, but the values are undefined until written.
  void CreateNoClear(int sizeX, int sizeY);
  void CreateSimilar(CSSEMatrix& other);
  // Releases the memory but keeps the sizes: no element may be touched until
  // the next Create.
  void FreeImageMemoryOnly();
  void Reset();
  // Looks at the sizes only, not at the memory.
  bool IsEmpty() const { return m_iSizeX < 1 || m_iSizeY < 1; }
  bool HasMemory() const { return m_ppLines != nullptr; }
  void SetAllPixelValuesToZero();
  void Fill(float v);

  // Copying in. A source without memory leaves the values and size alone but
  // still hands over its compression parameters.
  void CopyFromSSEMatrix(const CSSEMatrix& src);
  void CopyFromField(const QeField2D<float, 1>& field);
  // rows[y][x]; creates the matrix when it holds no memory, else writes clamped.
  void CopyFromMatrix(double** rows, int rowCount, int columnCount);

  // Element access; x is the column, y the row. The clamping forms move an
  // outside position to the nearest edge element.
  float GetPoint(int x, int y) const { return *pointer(clampX(x), clampY(y)); }
  float GetPointValue(int x, int y) const { return GetPoint(x, y); }
  float GetPointUnsafe(int x, int y) const { return *pointer(x, y); }
  void SetPoint(int x, int y, float v) { *pointer(clampX(x), clampY(y)) = v; }
  void SetPointUnsafe(int x, int y, float v) { *pointer(x, y) = v; }
  float* GetPointAddress(int x, int y) { return pointer(clampX(x), clampY(y)); }
  float* GetPointAddressUnsafe(int x, int y) { return pointer(x, y); }

  int GetSizeX() const { return m_iSizeX; }
  int GetSizeY() const { return m_iSizeY; }
  int GetSSESizeX() const { return m_iSSESizeX; }
  int GetSSESizeY() const { return m_iSSESizeY; }
  __m128** GetMatrixDataDirectly() { return m_ppLines; }
  const __m128* const* GetMatrixDataDirectly() const { return m_ppLines; }
  __m128* GetField(int i) const { return static_cast<__m128*>(m_fields[i]); }
  int GetFields() const { return m_iFields; }
  int GetLinesPerField() const { return c_iLinesPerField; }
  int GetRowProcessed() const { return m_iRowProcessed; }
  void SetRowProcessed(int row) { m_iRowProcessed = row; }
  CImgFromToArray& GetFromToArray() { return m_fromToArray; }
  const CImgFromToArray& GetFromToArray() const { return m_fromToArray; }
  UxSCompressionParameters& GetCompressionParameters() { return m_compressionParameters; }
  const UxSCompressionParameters& GetCompressionParameters() const { return m_compressionParameters; }
  void SetCompressionParameters(const UxSCompressionParameters& p) { m_compressionParameters = p; }
  float GetMaxAbsCompressionError() const { return m_fMaxAbsCompressionError; }

  // --- Value and patch operations (ssematrix_values.cpp) ---

  // --- Area filling and point search (ssematrix_fill.cpp) ---

  // --- Neighbourhood filters (ssematrix_filters.cpp) ---

  // --- Morphology, distance transforms and thinning (ssematrix_morphology.cpp) ---

  // --- Serialisation and compression (ssematrix_serialize.cpp) ---

private:
  void allocate(int sizeX, int sizeY);
  void copyValuesFrom(const CSSEMatrix& src);
  int clampX(int x) const { return x < 0 ? 0 : (x >= m_iSizeX ? m_iSizeX - 1 : x); }
  int clampY(int y) const { return y < 0 ? 0 : (y >= m_iSizeY ? m_iSizeY - 1 : y); }
  float* pointer(int x, int y) const {
    return reinterpret_cast<float*>(m_ppLines[y >> 2]) + 4 * x + (y & 3);
  }

  mutable CbReferenceCounter<unsigned int> m_referenceCounter;
  UxSCompressionParameters m_compressionParameters;
  float m_fMaxAbsCompressionError = 0.0f;
  std::int32_t m_iSizeX = 0;
  std::int32_t m_iSizeY = 0;
  std::int32_t m_iSSESizeX = 0;
  std::int32_t m_iSSESizeY = 0;
  std::int32_t m_iRowProcessed = 0;
  std::int32_t m_iFields = 0;
  // One slot per field in use; grows with the line count, so tall matrices
  // never run out of slots.
  std::vector<void*> m_fields;
  __m128** m_ppLines = nullptr;
  CImgFromToArray m_fromToArray;
};
