#pragma once
// CSSEMatrix: the height field. A rectangular matrix of floats laid out so that
// one 128-bit vector holds four vertically adjacent values: SSE line g holds rows
// 4g .. 4g+3, as an array of size X vectors; vector x of line g holds (x, 4g+l)
// in lane l. There are (size Y >> 2) + 1 lines, so at least one spare lane
// always sits below the last row; spare lanes belong to the matrix and whole-
// matrix operations process them. Lines are allocated in fields of 32 lines,
// each field one 16-byte-aligned block; a line-pointer table reaches them.
// Every operation that takes another matrix accepts this matrix itself as that
// operand and then behaves as if it had been given a copy of it.
#include <immintrin.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "orvik/foundation/ReferenceCounter.h"
#include "orvik/foundation/Stream.h"
#include "orvik/foundation/Vectors.h"
#include "orvik/foundation/qe/Field2D.h"
#include "orvik/matrix/ImgFromToArray.h"

class CArchive;
class CSSE3dPolygon;
class CSSEcharMatrix;
class QeFloatingPointQuantization;

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
  // spare lanes included. A negative size throws CbException ("ssematrix"), a
  // failed allocation CMemoryException; either leaves the matrix empty (no
  // memory, sizes 0) and usable.
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
  // outside position to the nearest edge element; on a matrix without elements
  // (no memory, or a size of 0) they read 0, write nothing and give no address.
  float GetPoint(int x, int y) const { return hasElements() ? *pointer(clampX(x), clampY(y)) : 0.0f; }
  float GetPointValue(int x, int y) const { return GetPoint(x, y); }
  float GetPointUnsafe(int x, int y) const { return *pointer(x, y); }
  void SetPoint(int x, int y, float v) {
    if (hasElements()) *pointer(clampX(x), clampY(y)) = v;
  }
  void SetPointUnsafe(int x, int y, float v) { *pointer(x, y) = v; }
  float* GetPointAddress(int x, int y) { return hasElements() ? pointer(clampX(x), clampY(y)) : nullptr; }
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
  // Point and patch setters. The centre is clamped so that the whole patch fits
  // (a cross or 3x3 box needs 1 .. size-2, a 5x5 box 2 .. size-3, an 11x11 box
  // 5 .. size-6); nothing is written outside, and a matrix too small for the
  // patch is left unchanged. Max/Min keep the larger/smaller of element and v,
  // v winning on equality or NaN.
  void SetPointMax(int x, int y, float v);
  void SetPointMin(int x, int y, float v);
  void SetPointAndLeftOfPoint(int x, int y, float v);   // (x, y) and (x-1, y), x in 1 .. sizeX-1
  void SetPointAndRightOfPoint(int x, int y, float v);  // (x, y) and (x+1, y), x in 0 .. sizeX-2
  void SetTriplePointMax(int x, int y, float v);        // (x-1 .. x+1, y)
  void SetTriplePointMin(int x, int y, float v);
  void SetCross(int x, int y, float v);                 // (x, y), (x+-1, y), (x, y+-1)
  void SetCrossMax(int x, int y, float v);
  void SetCrossMin(int x, int y, float v);
  void Set3x3BoxPoint(int x, int y, float v);
  void Set3x3BoxPointMax(int x, int y, float v);
  void Set3x3BoxPointMin(int x, int y, float v);
  void Set5x5BoxPointMax(int x, int y, float v);
  void Set5x5BoxPointMin(int x, int y, float v);
  void Set11x11BoxPointMax(int x, int y, float v);

  // Whole-matrix replacements; every lane, spare lanes included. Comparisons
  // are strict.
  void TresholdAbove(float t, float v);         // value > t ? v : 0
  void TresholdAbove(float t, float v, int n);  // as above, and columns 0 .. n-1 become 0
  void TresholdBelow(float t, float v);         // value < t ? v : 0
  void TresholdBelow(float t, float v, int n);
  void TresholdAboveKeep(float t, float v);            // value > t becomes v, others kept
  void ResetPixelsGreaterWithValue(float t, float v);  // the same as TresholdAboveKeep
  void ResetPixelsLowerWithValue(float t, float v);    // value < t becomes v
  void ResetPixelsInInterval(float a, float b, float v);  // a < value < b becomes v
  void ErasePixelsGreater(float t);                       // value > t becomes 0
  void ErasePixelsLower(float t);                         // value < t becomes 0
  void EraseOtherValuePixels(float c, float tol);         // outside [c - tol, c + tol] becomes 0
  // Lanes with -tol < a - value < tol become b; tol is 0.002 in the first form.
  void ReplaceValueWithValue(float a, float b);
  void ReplaceValueWithValue(float a, float b, float tol);
  // Values within 0.0001 of the minimum become background, all others
  // foreground; a foreground below 0.0001 turns everything into background.
  void BinarizeBackground(float background, float foreground);

  // Arithmetic with scalars, every lane.
  void Absolute();  // clears the sign bit: exact for every value, no overflow
  void InvertSign();
  void ScalarMultiply(float s);
  void OffsetMatrix(float a);
  void OffsetMatrixAbove(float t, float a);  // value + a where value > t
  void OffsetMatrixBelow(float t, float a);  // value + a where value < t
  void LiftWhereNonZero(float a);            // OffsetMatrixAbove(0.005, a)

  // Arithmetic with another matrix o, lane by lane over the SSE lines and
  // vectors both matrices have. The first four are meant for an other at least
  // as large as this matrix; where it is smaller its missing part counts as
  // absent and those lanes of this matrix are left unchanged.
  void AddMatrix(const CSSEMatrix& other);                                    // value + o
  void AddMatrixOffseted(const CSSEMatrix& other, float a);                   // value + max(0, o - a)
  void AddMatrixOffsetedNormed(const CSSEMatrix& other, float a, float c);    // value + max(0, o - a) * c
  // max(0, o' - a) * c + value * b, o' being 0 where value < 0.001.
  void AddMatrixOffsetedConstrained(const CSSEMatrix& other, float a, float b, float c);
  void SubMatrix(const CSSEMatrix& other);          // value - o
  void SubMatrixValidate(const CSSEMatrix& other);  // value - o where value > 0
  // sqrt(o^2 + value^2); lanes where the squares would overflow or underflow
  // are computed without that loss.
  void CombineAbsolute(const CSSEMatrix& other);
  void CombineMultiplicative(const CSSEMatrix& other, bool absolute);  // value * o, |value * o|
  void MaximumOf(const CSSEMatrix& other);  // max(o, value), value on equality or NaN
  void MinimumOf(const CSSEMatrix& other);  // min(o, value), value on equality or NaN
  // Creates this matrix with the common size of a and b and sets it to a - b;
  // then erases values below 0 and/or above 0 as asked.
  void CalcDifferenceMatrixConstrained(const CSSEMatrix& a, const CSSEMatrix& b, bool clearNegative,
                                       bool clearPositive);

  // Compares other with the window of this matrix whose top-left element is
  // (offsetX, offsetY): -1 as soon as a lane with other > 0.5 meets a value of
  // this matrix <= 0.5, else the sum of max(t - o, 0) / 100 over those lanes.
  // 0 for a null other or a window that does not fit.
  float ComputeSumOfTwoMatrices(CSSEMatrix* other, int offsetY, int offsetX);

  // Masks and stencils over the lines and vectors both matrices have.
  void MaskOut(const CSSEMatrix& mask);             // 0 where mask < 0.1 or value < 0
  void MaskOutAndValidate(const CSSEMatrix& mask);  // 0 where mask < 0.1 and value > 0
  void StencilThreshAbove(const CSSEMatrix& stencil, float t);  // 0 where stencil < t
  // Deliberately the same operation as StencilThreshAbove (0 where the stencil
  // < t): callers rely on it.
  void StencilThreshBelow(const CSSEMatrix& stencil, float t);
  // Elements become 0 where the stencil < 5. With both scales 1 the stencil is
  // read at the same position; otherwise element (x, y) reads the stencil at
  // (trunc(x * scaleX + 0.5), trunc(y * scaleY + 0.5)), clamped into it.
  void Stencil(CSSEMatrix& stencil, float scaleX, float scaleY);
  void Stencil(CSSEcharMatrix& stencil, float scaleX, float scaleY);  // signed bytes, clamped reads
  // Lays mask over this matrix, mask (x, y) on (x + offsetX, y + offsetY), and
  // sets covered elements to newValue where the mask < threshold. The mask
  // covers every lane of its SSE lines; its lanes below its last row read as
  // padValue (the mask is not written). Covered lanes are those of this
  // matrix's lines, spare lanes included. False, changing nothing, for
  // offsetX > size X, offsetY > size Y, an empty matrix or a mask without memory.
  bool MaskMatrix(const CSSEMatrix& mask, float padValue, int offsetX, int offsetY, float newValue, float threshold);
  // Element (x, y) meets mask element (x + trunc(offsetX), y + trunc(offsetY));
  // over the logical elements both have, d = value - mask becomes value where
  // d <= threshold (flag) or d >= threshold (!flag).
  void MaskOutWithValue(const CSSEMatrix& mask, float offsetX, float offsetY, float threshold, float value, bool flag);

  // Statistics. The min/max family counts only the logical rows and starts at
  // -1,000,000 (maximum) and +1,000,000 (minimum); NaN values are ignored.
  void CalcMinMaxValues(float* pMax, float* pMin) const;
  void CalcMinMaxValuesExcludeZero(float* pMax, float* pMin) const;  // ignores -0.002 < v < 0.002
  // Bounds clamped into the matrix; then SSE lines (yFrom >> 2) + 1 up to but
  // not including (yTo >> 2) - 1, vectors xFrom + 3 up to but not including
  // xTo - 3, all four lanes. Start value (and result with nothing in range)
  // -1,000,000 for the maximum, +1,000,000 for the minimum.
  void CalcMaxValueOfPatch(float* out, int xFrom, int xTo, int yFrom, int yTo) const;
  void CalcMinValueOfPatch(float* out, int xFrom, int xTo, int yFrom, int yTo) const;
  // Lanes with -0.005 < value < 0.005 take part as 999,999.875.
  void CalcMinValueOfPatchExcludeZero(float* out, int xFrom, int xTo, int yFrom, int yTo) const;
  // Lanes > t / < t, spare lanes included.
  int NumValuesAbove(float t) const;
  int NumValuesBelow(float t) const;
  // Lanes where this matrix's value is > / < the other's; 0 for a null other.
  int NumValuesAbove(const CSSEMatrix* other) const;
  int NumValuesBelow(const CSSEMatrix* other) const;
  // Sums over four lane accumulators folded as (s0 + s3) + (s2 + s1).
  float IntegrateMatrix() const;                         // every lane, spare lanes included
  float IntegrateMatrixAbsolute() const;                 // sum of |value|
  float IntegrateMatrixAbsolute(float a, float b) const;  // sum of |value| * (a * b)
  float IntegrateMatrixValid() const;                    // the logical rows only
  // Bilinear interpolation around (trunc(fx), trunc(fy)) clamped to 1 .. size-2;
  // the flag has no effect.
  float GetPixelPreciseFloat(float fx, float fy, bool flag) const;
  // Maximum of the cross around (x, y), the centre clamped to 1 .. size-2.
  float GetPointMax3x3(int x, int y) const;
  // Box of the logical elements > t (above) or < t; without any the inverted
  // box xMin = sizeX-1, yMin = sizeY-1, xMax = yMax = 0.
  void CalcBoundingBox(int& xMin, int& yMin, int& xMax, int& yMax, float t, bool above) const;

  // --- Area filling and point search (ssematrix_fill.cpp) ---
  // Elements x0 <= x < x1, y0 <= y < y1 become v, x0 and x1 clamped to
  // 0 .. sizeX-1 (so the last column is never filled) and the rows to the SSE
  // lines (so rows of the last line below size Y can be).
  void FillArea(int x0, int y0, int x1, int y1, float v);
  // Whole SSE lines from min(max((y0 >> 2) - 1, 0), L - 1) + 1 up to but not
  // including min(max((y1 >> 2) + 1, 0), L - 1), columns x0 <= x < x1 (clamped
  // to 0 .. sizeX-1), all four lanes: the first and last line are never filled.
  void FillAreaApprox(int x0, int y0, int x1, int y1, float v);
  // Exactly the elements x0 <= x < x1, y0 <= y < y1 (x clamped to 0 .. sizeX,
  // y to 0 .. sizeY); other lanes of partial lines keep their values.
  void FillAreaExact(int x0, int y0, int x1, int y1, float v);
  // Fills the half-plane on the side the normal points to, bounded by the line
  // through point. Throws CbException ("ssematrix") on an empty matrix.
  void FillAreaExact(CbVector2f point, CbVector2f normal, float v);
  // Columns x0 .. x1-1 (clamped to 0 .. sizeX-1) get the height of a cylinder
  // of radius r = (x1 - x0) * scale / 2 sampled every step from its edge,
  // sqrt(max(0, r^2 - u^2)) (negated when asked), over the lines FillAreaApprox
  // would fill plus its first line.
  void FillAreaZylindrical(int x0, int y0, int x1, int y1, float step, float scale, bool negative);
  // Every row below the row processed (clamped) becomes a copy of it, the spare
  // lanes included.
  void FillMatrixWithProcessedRow();
  // (orvik/polygon/ssematrix_polygons.cpp) The bow is resampled in place half
  // a pixel apart; then below every bow point (column and row rounded), from
  // row y + s + offset on, s = max(row processed - bow's max y, 1), as many
  // rows as lie from y to the last row become v, rows clamped into the matrix.
  void RemoveImageValuesLeftOfBow(CSSE3dPolygon& bow, float v, int offset);
  // Along each row, holes of one to three columns lying more than depth below
  // the level before them and closed again within the row take that level.
  void FillRestorationHoles(float depth);
  void ClearRow(int y, float v);                   // row y (clamped) becomes v
  void ReplaceLineAbove(float t, float v, int y);  // row y (clamped): values > t become v
  // Grows a region of value v from the pin position (pin - origin): along every
  // column and then every row, outward from the pin, a neighbour differing by
  // more than maxStep from the element before it becomes v.
  void FindSuitableAreaForAPin(const CbVector3f& pin, const CbVector2f& origin, float v, float maxStep);

  // Searches. The margins are part of the contract: columns 20 .. sizeX-21 and
  // SSE lines 5 .. L-6 (FindLastPoint: L-2 down to 2). The first vector with a
  // passing lane gives x and the smallest passing row; nothing found gives 0.
  void FindFirstPoint(int& x, int& y, float t, bool above);         // >= t / <= t, columns outer
  void FindFirstPointSpecial(int& x, int& y, float t, bool above);  // >= t / <= t, lines outer
  void FindLastPoint(int& x, int& y, float t, bool above);          // > t / < t, from the right and bottom
  void FindFirstPointLined(int x, int& y, float t, bool above);     // column x, lines L-2 down to 2
  void FindFirstPointLinedSpecial(int x, int& y, float t, bool above);  // column x, lines 5 up to L-6
  // Row y (clamped), scanned over the columns of the range that exist; xTo
  // when nothing passes or the range runs the wrong way.
  int FindPointFromRight(int xFrom, int xTo, int y, float t, bool above);  // > t / < t
  int FindFirstUnequalPointFromLeft(int xFrom, int xTo, int y, float v);   // != v, NaN unequal
  int FindFirstUnequalPointFromRight(int xFrom, int xTo, int y, float v);

  // Scans column x upward by SSE lines from line L-2 while the line is above
  // (clamp(yMin) >> 2) + 1. Lines without a hit (> t, or < t) are drawn with v
  // (draw) or set y to their top row; in the first line with a hit, the hit
  // nearest the bottom gives y and, with draw, the lanes below it become v.
  void DrawFirstPointLined(int x, float t, bool above, float v, int& y, int yMin, bool draw);
  // The same, always drawing, where a mask lane > 500 in column x also counts
  // as a hit. With above false a line stops the scan when any lane is <= t or a
  // mask wall, y becoming its top row; lines before it are drawn whole.
  void DrawFirstPointLinedUseMask(int x, float t, bool above, float v, int& y, CSSEMatrix& mask, int yMin);
  // Element by element from the bottom row up to max(min(sizeY-1, yMin), 0)
  // exclusive: an element >= t (above false) or <= t (above true) whose byte
  // mask is below 2 is passed over (drawn, or y set to its row); the first
  // other element ends the scan with y = its row.
  void DrawFirstPointLinedUseMask(int x, float t, bool above, float v, int& y, CSSEcharMatrix& mask, int yMin,
                                  bool draw);

  // Makes this matrix a width x height copy of src's window at (x0, y0); its
  // spare lanes are 0. False, changing nothing, when the window does not lie
  // inside src or src holds no memory.
  bool CopyAreaOfMatrix(const CSSEMatrix& src, int x0, int y0, int width, int height);
  // target(x, y) = src(x - sizeX/2 + srcSizeX/2, y - sizeY/2 + srcSizeY/2).
  // Centered first clears every lane; all three do nothing more when src is
  // smaller than this matrix. Maximum/Minimum keep the larger/smaller value.
  void CopyFromSSEMatrixCentered(CSSEMatrix& src);
  void CopyFromSSEMatrixCenteredMaximum(CSSEMatrix& src);
  void CopyFromSSEMatrixCenteredMinimum(CSSEMatrix& src);

  // --- Neighbourhood filters (ssematrix_filters.cpp) ---
  // Worker task of the threaded MaskFilter: filters one column band in place.
  class QeTaskMaskFilterMatrix;
  // Horizontal 3-mean into this matrix, then the vertical four-row sums of src
  // (undivided) over it, one row down (two with shiftDown).
  void BoxFilter(CSSEMatrix& src, bool shiftDown);
  // Cross (4-neighbour) maximum, minimum and 3x3 median; the outermost rows and
  // columns become 0.0, except for the median, which copies them.
  void SimpleMaximumFilter();
  void SimpleMinimumFilter();
  void SimpleMedianFilter();
  // Correlation of this matrix with mask into result. Single-threaded, result
  // keeps its values within the mask's half sizes of the border; threaded, it
  // gets 0.0 there. The interior is the same bit for bit either way.
  void MaskFilter(CSSEMatrix& result, CSSEMatrix& mask, bool normalise, bool multiThreaded);
  // Forward differences along x and y; the last column (row) keeps its value.
  void CalcDerivativeX();
  void CalcDerivativeY();
  // Bilinear resampling to the new size; both forms give the same values. A
  // size below 1 leaves the matrix unchanged.
  void ScaleMatrix(int newSizeX, int newSizeY);
  void ScaleMatrix_SSE(int newSizeX, int newSizeY);
  // Per row: an element more than step below the last kept element (left to
  // right; right to left for the up steps) becomes value.
  void RemoveDownStepsX(float step, float value);
  void RemoveUpStepsX(float step, float value);
  // Widen by n columns on the left (right), filled with the old (0, 0)
  // (size X - 1, 0) value.
  void ElongateLeft(int n);
  void ElongateRight(int n);


  // --- Morphology, distance transforms and thinning (ssematrix_morphology.cpp) ---
  // Worker task of Erode: one column band of the area.
  class QeTaskErodeMatrixArea;
  // Every element of the inclusive area that is not background becomes
  // background when a background element of the area lies within the disc
  // dx^2 + dy^2 <= floor(radius^2), |dx|, |dy| <= floor(radius), else newValue.
  // The vector variant also counts rows of the area's first and last SSE lines
  // outside the area. affinityMask in 1 .. 0x7FFFFFFE pins the worker threads.
  void Erode(float radius, float background, float newValue, int xFrom, int xTo, int yFrom, int yTo,
             bool vectorVariant, unsigned long long affinityMask);
  // Erode with background b and new value a.
  void Dilate(float radius, float a, float b, int xFrom, int xTo, int yFrom, int yTo, bool vectorVariant,
              unsigned long long affinityMask);
  // City-block distance, within the rectangle xFrom .. xTo-1, yFrom .. yTo-1,
  // to the nearest element above 0.99. Elsewhere, and everywhere when the
  // rectangle holds no such element, dist holds max(width, height) + 1.
  void DistanceTransform(CSSEMatrix& dist, int xFrom, int xTo, int yFrom, int yTo);
  // 3-4 chamfer distance (3 per straight step) to the elements equal to 1.0,
  // from the elements equal to 0.0; a 4-element frame becomes 0.0.
  void Chamfer();
  // Thinning of the elements above threshold to a 1.0 skeleton on 0.0.
  void ZhangSuen(float threshold);
  // Fills, with threshold, everything beyond the first row above and below row
  // that holds fewer than minCount elements above threshold.
  void RemoveThinAreas(int row, float minCount, float threshold);
  // Writes value into nx columns on the left, nx + 1 on the right and whole SSE
  // lines at the top ((ny >> 2) lines) and bottom ((ny >> 2) + 1 lines).
  void RemoveFrameArtefacts(int nx, int ny, float value);
  // Clears the elements of non-zero regions that touch 0.0 through one of their
  // four neighbours; erased (when of the same size) receives the old values.
  void EraseFrame(CSSEMatrix* erased);
  // Copies the elements of src above threshold in at the offset; false,
  // changing nothing, when src does not fit or holds no memory.
  bool EmbedMatrix(const CSSEMatrix& src, int offsetX, int offsetY, float threshold);
  // value(x, y) = src(x + offsetX, y + offsetY) wherever that lies inside src.
  void EmbedMatrix_nonSSE(const CSSEMatrix* src, int offsetX, int offsetY);
  // Grows by a frame of value, frameX columns on each side and frameY rows at
  // the top and bottom; a negative frame leaves the matrix unchanged.
  void EmbedinValueFrame(int frameY, int frameX, float value);
  // Removes such a frame; false when it does not fit or is negative.
  bool ExtractFromValueFrame_nonSSE(int frameY, int frameX);
  // Keeps the window x0 .. x1-1, y0 .. y1-1 (clamped); false when it is empty.
  bool ExtractFrame_nonSSE(int x0, int y0, int x1, int y1);


  // --- Serialisation and compression (orvik/storage/ssematrix_serialize.cpp, ssematrix_compression.cpp) ---
  // Writes the version-4 stream form with the body of the compression method
  // (its low 8 bits) and records the error of this serialisation. Throws
  // CbException before writing anything when a multi-pass method asks for more
  // than 255 passes. Methods 1 to 3 store a non-finite height (NaN, ±Inf) as
  // the invalid value when the first pass carries one (method 2 or 3 with
  // m_bUseInvalidValue and an invalid value that is not NaN); otherwise such a
  // height throws CbException before anything is written.
  void Serialize(CbStreamWriteBinary& stream) const;
  // Reads versions 0 to 4. Stored data is untrusted: sizes, pass counts and
  // image blocks are checked before anything is allocated; bad data throws
  // (CbException, or CArchiveException from an archive's end).
  void Serialize(CbStreamReadBinary& stream);
  // The archive form: the wide tag "CSSEMatrix", then the stream form. Loading
  // also accepts the older tagless form (a version-1 body).
  void Serialize(CArchive& ar);
  // False, with the matrix untouched, when the file cannot be opened.
  bool Load(CString path);
  // False when the file cannot be created. Writes through CAtomicFile: any later
  // failure throws CFileException (path and reason) and leaves the previous
  // file as it was; true means the whole file is on disk.
  bool Store(CString path);

  // Largest matrix a reader creates from stored sizes, in SSE vectors (spare
  // line included): 512 MiB of floats, far above any height field in use.
  static constexpr std::uint64_t c_uMaxStoredVectors = std::uint64_t(1) << 25;

private:
  friend class UxCSSEMatrixLibrary;
  enum class EImageContainer { Png, TiffG4 };

  void serialize(CbStreamReadBinary& stream, unsigned int version);
  void checkQuantisable(unsigned int method) const;
  void writeRawBody(CbStreamWriteBinary& stream) const;
  void readRawBody(CbStreamReadBinary& stream);
  std::unique_ptr<QeFloatingPointQuantization> createAndEncodeQuantizer(bool withInvalid,
                                                                        CbStreamWriteBinary& stream) const;
  std::unique_ptr<QeFloatingPointQuantization> createQuantizer(CbStreamReadBinary& stream, unsigned int version,
                                                               bool& hasInvalid, float& invalidValue) const;
  CbArray<unsigned char> quantize(const QeFloatingPointQuantization& quantizer) const;
  void deQuantize(const QeFloatingPointQuantization& quantizer, const CbArray<unsigned char>& bytes);
  void encodePNG(CbStreamWriteBinary& stream) const;
  void encodeJPEG(CbStreamWriteBinary& stream) const;
  void encodeMultiPass(CbStreamWriteBinary& stream, unsigned int method) const;
  // The decoders give the matrix the stored size only once their data has
  // shown that it fills it.
  void decodeMultiPass(CbStreamReadBinary& stream, unsigned int version, int sizeX, int sizeY);
  void encodeCCITT4(CbStreamWriteBinary& stream) const;
  void decodeCCIT4(CbStreamReadBinary& stream, int sizeX, int sizeY);
  // Creates the matrix unless it already has this size and memory.
  void ensureSize(int sizeX, int sizeY);
  void encode(const CbArray<unsigned char>& pixels, CbStreamWriteBinary& stream, EImageContainer container,
              unsigned int bitsPerPixel) const;
  static CbArray<unsigned char> decode(CbStreamReadBinary& stream, unsigned int bitsPerPixel, unsigned int& width,
                                       unsigned int& height);
  void decodeCompressed(CbStreamReadBinary& stream, unsigned int version, bool& hasInvalid, float& invalidValue);

private:
  void allocate(int sizeX, int sizeY);
  void copyValuesFrom(const CSSEMatrix& src);
  // Hands the values, sizes and memory of a temporary result to this matrix
  // (the temporary gets the old ones); what describes the matrix rather than
  // its values (compression parameters, row processed, from-to array) stays.
  void takeMemoryFrom(CSSEMatrix& temp) noexcept;
  bool hasElements() const { return m_ppLines && m_iSizeX > 0 && m_iSizeY > 0; }
  int clampX(int x) const { return x < 0 ? 0 : (x >= m_iSizeX ? m_iSizeX - 1 : x); }
  int clampY(int y) const { return y < 0 ? 0 : (y >= m_iSizeY ? m_iSizeY - 1 : y); }
  float* pointer(int x, int y) const {
    return reinterpret_cast<float*>(m_ppLines[y >> 2]) + 4 * x + (y & 3);
  }

  mutable CbReferenceCounter<unsigned int> m_referenceCounter;
  UxSCompressionParameters m_compressionParameters;
  // Set by the const Serialize: it reports on the last serialisation, not on the values.
  mutable float m_fMaxAbsCompressionError = 0.0f;
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
