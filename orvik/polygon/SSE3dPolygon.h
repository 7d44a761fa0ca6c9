#pragma once
// CSSE3dPolygon: an ordered list of points in space. Most operations read it
// as a closed ring in the xy plane carrying z as a height, a few as an open
// chain; each operation says which. x is the column, y the row, z the height,
// in the pixel units of the height fields the polygon is drawn into.
//
// The points are kept as structure of arrays: separate x, y and z arrays,
// 16-byte aligned, with a capacity of n rounded up to four so that whole
// blocks of four points fill one SSE register. A second set of three arrays
// holds a scaled copy of the coordinates (NormalizeXYZ). The spare floats
// after point n - 1 are never points; block operations may compute on them.
//
// The bounding box and the geometric centre are cached: CalcBoundingBox and
// CalcGeometricCenter store them, every coordinate setter marks the box stale,
// and nothing recalculates either of them behind the caller's back.
#include <cstdint>

#include "orvik/foundation/ReferenceCounter.h"
#include "orvik/foundation/SSEPoint.h"

class CPixelChain;
class CSSEMatrix;
class CSSEcharMatrix;
namespace orvik::detail {
class CrossingRuns;
}

// Per-axis scale factors: x, y, z in f[0], f[1], f[2].
struct t_resolutiondata {
  float f[3] = {1.0f, 1.0f, 1.0f};
  float operator[](int i) const { return f[i]; }
  float& operator[](int i) { return f[i]; }
};

class CSSE3dPolygon : public IReferenceCounted {
public:
  // --- Lifetime (SSE3dPolygon.cpp) ---
  CSSE3dPolygon();
  CSSE3dPolygon(const CSSE3dPolygon& other);
  // One point per pixel when step < 2, else every step-th pixel (pixel count /
  // step points); the pixel's x and y with z = 0.
  CSSE3dPolygon(CPixelChain& chain, int step);
  ~CSSE3dPolygon() override;
  // Assigning a polygon to itself leaves it unchanged. Strong guarantee: on
  // an allocation failure the polygon keeps what it held.
  CSSE3dPolygon& operator=(const CSSE3dPolygon& other);

  CbReferenceCounter<unsigned int>& getReferenceCounter() const override { return m_referenceCounter; }

  // Discards the points and makes room for n unset ones; the box becomes
  // stale. A negative n throws CbException ("SSE3dPolygon") and leaves the
  // polygon empty; so does a failed allocation (CMemoryException).
  void Create(int n);
  void Free();
  // Takes x, y, z of every point, the cached box and centre and the box flag
  // of `other` (the normalized coordinates are not copied). From itself: nothing.
  void CreateSimilar(const CSSE3dPolygon* other);
  // Appends other's points (x, y, z) after this polygon's.
  void AppendPoints(CSSE3dPolygon& other);

  int GetNumPoints() const { return m_iNumPoints; }
  // The points the arrays hold room for: n rounded up to a multiple of four.
  int GetCapacity() const { return (m_iNumPoints + 3) & ~3; }

  // --- Point access ---
  // Indices outside 0 .. n-1 are ignored: setters do nothing and getters leave
  // their outputs alone, except the SSEPoint getters that clear their output
  // first (noted below) and so give the zero point. Setters mark the box stale.
  void GetPoint(int i, float& x, float& y, float& z) const {
    if (valid(i)) x = m_pfX[i], y = m_pfY[i], z = m_pfZ[i];
  }
  void GetPointSSE(int i, SSEPoint& p) const {  // clears p first
    p = SSEPoint();
    if (valid(i)) p = SSEPoint(m_pfX[i], m_pfY[i], m_pfZ[i], 0.0f);
  }
  void GetPointXYSSE(int i, SSEPoint& p) const {  // clears p first; z = 0
    p = SSEPoint();
    if (valid(i)) p = SSEPoint(m_pfX[i], m_pfY[i], 0.0f, 0.0f);
  }
  void GetPointX(int i, float& x) const {
    if (valid(i)) x = m_pfX[i];
  }
  void GetPointY(int i, float& y) const {
    if (valid(i)) y = m_pfY[i];
  }
  void GetPointZ(int i, float& z) const {
    if (valid(i)) z = m_pfZ[i];
  }
  void GetPointXY(int i, float& x, float& y) const {
    if (valid(i)) x = m_pfX[i], y = m_pfY[i];
  }
  void GetPointXZ(int i, float& x, float& z) const {
    if (valid(i)) x = m_pfX[i], z = m_pfZ[i];
  }
  void GetPointZY(int i, float& z, float& y) const {
    if (valid(i)) z = m_pfZ[i], y = m_pfY[i];
  }
  void GetPointNormalized(int i, float& x, float& y, float& z) const {
    if (valid(i)) x = m_pfNormX[i], y = m_pfNormY[i], z = m_pfNormZ[i];
  }
  // Writes x, y and z of p only; does not clear it.
  void GetPointNormalizedSSE(int i, SSEPoint& p) const {
    if (valid(i)) p.x = m_pfNormX[i], p.y = m_pfNormY[i], p.z = m_pfNormZ[i];
  }
  void GetPointNormalizedXY(int i, float& x, float& y) const {
    if (valid(i)) x = m_pfNormX[i], y = m_pfNormY[i];
  }
  void GetPointNormalizedXYSSE(int i, SSEPoint& p) const {  // clears p first
    p = SSEPoint();
    if (valid(i)) p = SSEPoint(m_pfNormX[i], m_pfNormY[i], 0.0f, 0.0f);
  }
  // Point i % n with the sign of i kept, so a negative i gives the zero point.
  void GetPointSSEClosed(int i, SSEPoint& p) const {
    if (m_iNumPoints > 0) return GetPointSSE(i % m_iNumPoints, p);
    p = SSEPoint();
  }
  // Point i modulo n: a negative i counts back from the last point.
  void GetPointSSEModulo(int i, SSEPoint& p) const {
    if (m_iNumPoints > 0) return GetPointSSE(((i % m_iNumPoints) + m_iNumPoints) % m_iNumPoints, p);
    p = SSEPoint();
  }

  void SetPoint(int i, float x, float y, float z) {
    if (touch(i)) m_pfX[i] = x, m_pfY[i] = y, m_pfZ[i] = z;
  }
  void SetPointSSE(int i, const SSEPoint& p) { SetPoint(i, p.x, p.y, p.z); }
  void SetPointX(int i, float x) {
    if (touch(i)) m_pfX[i] = x;
  }
  void SetPointY(int i, float y) {
    if (touch(i)) m_pfY[i] = y;
  }
  void SetPointZ(int i, float z) {
    if (touch(i)) m_pfZ[i] = z;
  }
  void SetPointXY(int i, float x, float y) {
    if (touch(i)) m_pfX[i] = x, m_pfY[i] = y;
  }
  void SetPointXZ(int i, float x, float z) {
    if (touch(i)) m_pfX[i] = x, m_pfZ[i] = z;
  }
  void SetPointZY(int i, float z, float y) {
    if (touch(i)) m_pfZ[i] = z, m_pfY[i] = y;
  }
  void SetPointNormalized(int i, float x, float y, float z) {
    if (touch(i)) m_pfNormX[i] = x, m_pfNormY[i] = y, m_pfNormZ[i] = z;
  }
  void SetPointNormalizedSSE(int i, const SSEPoint& p) { SetPointNormalized(i, p.x, p.y, p.z); }

  // --- Bounds, centre, measures, normalisation, heights (SSE3dPolygon_measures.cpp) ---
  // The box starts from +-1,000,000 on every axis, so coordinates beyond that
  // are not represented in it; an empty polygon ends with bottom left at
  // +1,000,000 and top right at -1,000,000. NaN coordinates are passed over.
  void CalcBoundingBox();
  bool IsBoundingBoxCalculated() const { return m_bBoundingBoxCalculated; }
  // The cached corners as they stand.
  SSEPoint GetBottomLeft() const { return *m_pBottomLeft; }
  SSEPoint GetTopRight() const { return *m_pTopRight; }
  // Recalculates a stale box first.
  void GetBoundingBox3D(float& minX, float& minY, float& minZ, float& maxX, float& maxY, float& maxZ);
  // The same in x and y, truncated toward zero (clamped to the int range).
  void GetBoundingBox2D(int& minX, int& minY, int& maxX, int& maxY);
  // The mean point, summed as point / n so that huge polygons do not overflow.
  void CalcGeometricCenter();
  void GetGeometricCenter(SSEPoint& c) const { c = *m_pGeometricCenter; }

  // Length of the closed ring and of the open chain, in 3D.
  float CalcCircumference() const;
  float CalcCircumferenceOpen() const;
  // Closed shoelace sums (twice the signed area) in the xy, xz and yz planes:
  // positive when the ring runs counter-clockwise with the first axis to the
  // right and the second up. 0 for fewer than two points.
  float CalcXYArea() const;
  float CalcXZArea() const;
  float CalcYZArea() const;

  // Normalized coordinates = coordinates scaled by res; the box is not touched.
  void NormalizeXYZ(t_resolutiondata& res);
  // Moves every point, then recalculates the box.
  void ShiftLine(float dx, float dy, float dz);

  // Height at (x, y) weighted by inverse squared (InterpolateZ) or inverse
  // (InterpolateZLow) xy distance over every step-th point; a point within
  // sqrt(eps) gives its own z. NaN when no point is examined. A step below 1
  // counts as 1.
  float InterpolateZ(float x, float y, int step, float eps) const;
  float InterpolateZLow(float x, float y, int step, float eps) const;

  // --- Reordering (SSE3dPolygon.cpp) ---
  void InvertPolygonDirection();
  // Makes point k the first, k taken modulo n (negative k too); `parallel`, if
  // given, is an array of n ints rotated the same way.
  void ChangeStartPoint(int k, int* parallel);
  // New point i = old point (i + k) mod n.
  void RotatePolygonIndices(int k);

  // --- Drawing into matrices (SSE3dPolygon_draw.cpp) ---
  // Point (x, y) is column x, row y of the matrix; pixel (c, r) has its centre
  // at (c, r). round(v) is trunc(v + 0.5). Writes clamp into the matrix, so a
  // point beyond it lands on the nearest border pixel; a 3x3 stamp clamps its
  // centre into 1 .. size - 2.
  // Every point's z at (round x, round y), or at the four pixels around it.
  void DrawInMatrix(CSSEMatrix* m, bool fourNeighbours);
  // `value` for every point: a 3x3 stamp at (round(x + offX), round(z + offY))
  // when xz; else one pixel at (round z, round y) when zy; else a 3x3 stamp at
  // (round(x + offX), round(y + offY)).
  void DrawInMatrix(float value, CSSEMatrix* m, bool zy, float offX, float offY, bool xz);
  // The open chain with heights interpolated along each segment: both ends,
  // then k = trunc(2 L + 0.5) samples for a segment of xy length L >= 0.5 (at
  // most 2^24, so a wild segment ends). Each write replaces the pixel, or
  // keeps the larger (Max) or smaller (Min) value.
  void DrawInMatrixFineZ(CSSEMatrix* m);
  void DrawInMatrixFineZMax(CSSEMatrix* m);
  void DrawInMatrixFineZMin(CSSEMatrix* m);
  // Run marking for a densely sampled ring running counter-clockwise (x
  // right, y up): the outline gets `value`, the interior `value` + 5, found by
  // walking from each point to the left of its direction until the outline.
  // Whole blocks of four points take part; the last point of the last whole
  // block closes the ring, and fewer than four points draw nothing.
  void DrawInMatrixAndFill(float value, CSSEMatrix* m);
  // For every point, 3x3 stamps from (round(x + offX), round(w + offY)), w = y
  // when useY else z, swept along the rows (useY) or the columns towards
  // index 2 (front) or size - 2 (back), three stamps wide. The sweep visits
  // only positions inside the matrix; the stamps are those of the full sweep.
  void DrawInMatrixAndFillToOneSideFront(float value, CSSEMatrix* m, float offX, float offY, bool front, bool useY);
  // `value` on every pixel (c, r) whose point (c + offset, r + offset) is not
  // inside this polygon by the crossing test; fewer than three points mark
  // every pixel.
  void DrawOutsidePixels(CSSEMatrix& m, float value, float offset);

  // --- Filling (SSE3dPolygon_fill.cpp) ---
  // The fills read the polygon as a closed ring and test pixels with the
  // crossing test (PointInLineInnerArea with step 1), answered for a whole
  // window at once. The per-pixel fills and the threaded fill test against a
  // working copy: Subsample(5, true) when `subsample`, then
  // RemoveEqualPointsXY; this polygon only gets its box recalculated. They
  // scan the region of this polygon's box, its rows limited to yFrom .. yTo,
  // clamped into the matrix, plus five pixels before and four after in both
  // directions. Writes clamp into the matrix: inside pixels of the margin
  // beyond a border land on that border (a polygon wholly left of the matrix
  // paints column 0).
  // Inside pixels become `value`. With `fast` and a box wider or taller than
  // 50 pixels the outline method fills instead (roundFirst: RoundPolygon
  // first; invert: everything but the inside).
  void DrawInMatrixAndFillFine(float value, CSSEMatrix* m, bool roundFirst, bool subsample, float yFrom, float yTo,
                               bool fast, bool invert);
  // Inside pixels keep the larger (smaller) of their value and `value`.
  void DrawInMatrixAndFillFineMax(float value, CSSEMatrix* m, bool subsample, float yFrom, float yTo);
  void DrawInMatrixAndFillFineMin(float value, CSSEMatrix* m, bool subsample, float yFrom, float yTo);
  // Inside pixels become 0 where threshold > pixel - value.
  void DrawSubInMatrixAndFill(float value, CSSEMatrix* m, float threshold, bool subsample, float yFrom, float yTo);
  // The region on the byte matrix's sizes; inside pixels become `value`.
  void DrawInCharMatrixAndFillFine(char value, CSSEcharMatrix* m, bool subsample, float yFrom, float yTo);
  // Every third column and row of the box (rows limited as above) with nine
  // pixels of margin, not clamped to the matrix; each inside sample gets a
  // 3x3 stamp. The work grows with the box, not with the matrix.
  void DrawInMatrixAndFillCoarse(float value, CSSEMatrix* m, bool subsample, float yFrom, float yTo);
  // The per-pixel fill over row bands on one thread per logical processor
  // (CbCPU::GetCount()), each band into its own band matrix, joined and
  // copied in band order. Every band ends by the region's last row, so the
  // result equals the per-pixel fill for any processor count.
  void DrawInMatrixAndFillFineForLoop(float value, CSSEMatrix* m, bool subsample, float yFrom, float yTo);

private:
  // The outline method: the ring resampled half a pixel apart is plotted into
  // a scratch matrix over its box, the outside flooded from the scratch's
  // border, and the rest transferred into m. False, drawing nothing, for
  // fewer than three points or a box wholly left of or above m.
  bool drawInMatrixWithInsertPolygonAndFillFine(float value, CSSEMatrix& m, bool roundFirst, bool invert);
  // 4-connected flood from seed (the seed pixel itself is neither tested nor
  // written): pixels below value - 0.01 become value.
  void fillFromPoint(CSSEMatrix& m, const SSEPoint& seed, const float& value);
  // The copy the per-pixel fills test against (box calculated).
  void workingCopy(CSSE3dPolygon& copy, bool subsample) const;

  friend class orvik::detail::CrossingRuns;
  bool valid(int i) const { return i >= 0 && i < m_iNumPoints; }
  bool touch(int i) {
    if (!valid(i)) return false;
    m_bBoundingBoxCalculated = false;
    return true;
  }
  void allocateCache();
  void copyCacheFrom(const CSSE3dPolygon& other);
  // Exchanges points and caches with a polygon built aside.
  void takePointsFrom(CSSE3dPolygon& temp) noexcept;

  mutable CbReferenceCounter<unsigned int> m_referenceCounter;
  float* m_pfX = nullptr;
  float* m_pfY = nullptr;
  float* m_pfZ = nullptr;
  float* m_pfNormX = nullptr;
  float* m_pfNormY = nullptr;
  float* m_pfNormZ = nullptr;
  std::int32_t m_iNumPoints = 0;
  // One 16-byte aligned block of five points: top right, bottom left, centre,
  // xy maximum, xy minimum; the pointers below point into it.
  SSEPoint* m_pCache = nullptr;
  SSEPoint* m_pTopRight = nullptr;
  SSEPoint* m_pBottomLeft = nullptr;
  SSEPoint* m_pXYMax = nullptr;
  SSEPoint* m_pXYMin = nullptr;
  SSEPoint* m_pGeometricCenter = nullptr;
  bool m_bBoundingBoxCalculated = false;
};
