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
#include <vector>

#include "orvik/foundation/ReferenceCounter.h"
#include "orvik/foundation/SSEPoint.h"
#include "orvik/foundation/Vectors.h"
#include "orvik/foundation/platform/String.h"

class CArchive;
class CbStreamReadBinary;
class CbStreamWriteBinary;
class QeHermiteSpline;
class QePolyline3D;
class CPixelChain;
class CSSEMatrix;
class CSSEcharMatrix;
class CSSE3dPolygon;
namespace orvik::detail {
class ByteRaster;
class CrossingRuns;
void fillInside(CSSE3dPolygon& polygon, ByteRaster& r);
}

// Per-axis scale factors: x, y, z in f[0], f[1], f[2].
struct t_resolutiondata {
  float f[3] = {1.0f, 1.0f, 1.0f};
  float operator[](int i) const { return f[i]; }
  float& operator[](int i) { return f[i]; }
};

class CSSE3dPolygon : public IReferenceCounted {
public:
  // Where a point lies with respect to the ring (PointStatusWithRespectToPolygon).
  enum EPointStatus : std::int32_t { ePointInside = 0, ePointOnVertex = 1, ePointOnEdge = 2, ePointOutside = 3 };

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

  // Discards the points and makes room for n unset ones (their normalized
  // coordinates read 0); the box becomes stale. A negative n throws CbException ("SSE3dPolygon") and leaves the
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

  // --- Closest points and distances (SSE3dPolygon_queries.cpp) ---
  // Index results are -1 when no point qualifies. Every search starts from a
  // best value of 10,000,000 (squared for the XY, YZ and WithLast forms) and
  // takes strictly better candidates, so the first of equal ones wins.
  // 3D distance over all points; the w lane of p takes part.
  int ClosestPoint(SSEPoint& p);
  // These examine the even indices below n - 1 only.
  int ClosestPointX(float x);
  int ClosestPointY(float y);
  int ClosestPointZ(float z);
  int ClosestPointXWithZLimitation(float x, float zMin);  // points with z > zMin
  int ClosestPointYZ(float y, float z);
  // Indices 0, step, 2 step, ... below n - 1, or below n WithLast; a step
  // below 1 counts as 1.
  int ClosestPointXY(float x, float y, int step) const;
  int ClosestPointXYWithLast(float x, float y, int step);
  // Among points with |x_i - x| < tol, the one with the largest (smallest) y.
  int ClosestPointXWithMaximalY(float x, float tol);
  int ClosestPointXWithMinimalY(float x, float tol);
  // The point nearest to p in xy; the first one closer than 0.0001 ends the search.
  int FindIndexOfPoint(const SSEPoint& p);
  // Whether one of the first count points (at most n - 1 of them) lies within
  // tol of p in |dx| + |dy|.
  bool PointAlreadyThereInArrayXY(int count, SSEPoint& p, float tol);
  // The indices of the points strictly inside the xy rectangle, in order;
  // out must hold n entries.
  void GetPointsInPatch(SSEPoint& upper, SSEPoint& lower, int* out, int& count);

  // Distances to the normalized points (NormalizeXYZ), 1,000,000 when none is
  // examined. The block forms look at whole blocks of four: block 0, then
  // every (skip + 1)-th (a skip below 0 counts as 0); withTail adds the n mod 4
  // points after the last block. With index, every point is examined and
  // index gets the last one at the minimum (within 1.1920929e-7), or -1.
  float GetMinEuclDistance(float x, float y, float z, int skip, bool withTail, int* index = nullptr);
  // As the block form, in xy only when |z| <= 0.001.
  float GetMinEuclDistanceSpecial(float x, float y, float z, int skip);
  float GetMinEuclDistanceXY(float x, float y, int skip);
  // min = 1,000,000 and max = -1,000,000 when no whole block is examined.
  void GetMinMaxEuclDistanceXY(float x, float y, int skip, float& min, float& max);
  // Whether some sampled point (every (n / parts)-th) lies at tol or more from
  // other's normalized points; true for an empty polygon or no other. parts
  // below 1 counts as 1.
  bool IsDifferentFromOtherPolygon(CSSE3dPolygon* other, int parts, float tol);

  // --- Crossings (SSE3dPolygon_crossings.cpp) ---
  // The first closed edge i -> i + 1 that meets the segment a-b: index = i + 1
  // (n for the closing edge), out the crossing with z = 0.
  bool FindIntersection(const SSEPoint& a, const SSEPoint& b, SSEPoint& out, int& index) const;
  // Casts a ray 100,000 long up (+y) or down from p; of the edges it meets,
  // the start index of the one met farthest along the ray, or -1.
  int FindNearestPointOnLine(SSEPoint p, bool up);
  // Casts a ray 100,000 long in +x from p; the start index of the edge met
  // nearest beyond p (closing edge only when closed), or 2,147,483,647.
  int FindNearestPointOnLineX(SSEPoint p, bool closed);
  // Whether a point lies in the xy band of half-width r around the segment
  // a-b (between the perpendiculars at a and b); true when a = b.
  bool IntersectsPolygonWithCylinderXYPlane(const CbVector3f& a, const CbVector3f& b, float r) const;
  // Whether an edge of this ring meets an edge of other's ring; out receives
  // the crossing on the first such edge of this ring (in index order) with the
  // first edge of other that it meets. Linear in the edges near each other.
  bool FindIntersectionWithAnotherPolygon(const CSSE3dPolygon& other, SSEPoint& out) const;

  // --- Inside tests and reshaping (SSE3dPolygon_inside.cpp) ---
  // Even-odd crossing count (half-open in x, edges strictly beyond the point
  // in +y) on the ring n - 1, 0, step, 2 step, ... closed back to n - 1;
  // false for n < 3 or outside the xy box (bounds included). A step below 1
  // counts as 1.
  bool PointInLineInnerArea(float x, float y, int step);
  bool PointInLineInnerArea(SSEPoint& p, int step);
  // The same on the normalized coordinates (a point beyond their box always
  // has an even count, so no box is needed).
  bool PointInLineInnerAreaNormalized(float x, float y, int step);
  bool PointInLineInnerAreaNormalized(SSEPoint& p, int step);
  // The same with only the vertices inside the rectangle taking part; the
  // first edge still starts at n - 1 and, for step >= 2, the ring closes there.
  bool PointInLineInnerAreaBoxed(SSEPoint& p, float minX, float minY, float maxX, float maxY, int step);
  bool PointInLineInnerAreaBoxed(float x, float y, float minX, float minY, float maxX, float maxY, int step);
  // Inside, on a vertex, on an edge or outside, from the parities of crossings
  // of a right and a left ray.
  EPointStatus PointStatusWithRespectToPolygon(const SSEPoint& p);
  // Whether every point of other is inside (PointInLineInnerArea, step 1);
  // with delta, a point outside also passes within delta (xy) of this
  // polygon's normalized points. False when either is empty.
  bool PolygonInThisPolygon(CSSE3dPolygon& other);
  bool PolygonInThisPolygonWithDeltaDistance(CSSE3dPolygon& other, float delta);
  // Pulls every point farther than r from the origin (xy) onto the circle, z = 0.
  void IntersectPolygonAreaWithCircle(const float& r);
  // Clips the ring to the closed half-plane of the line through a and b that
  // holds side; the line is infinite. A ring wholly outside stays as it is.
  void IntersectPolygonAreaWithLine(const SSEPoint& a, const SSEPoint& b, const SSEPoint& side);

  // --- Resampling and thinning (SSE3dPolygon_resample.cpp) ---
  // Unless noted, these read the polygon as a closed ring, build the result
  // aside and leave the box stale and the normalized coordinates unset.
  //
  // Splits every edge whose x or y extent exceeds step into k = trunc(extent /
  // step) pieces of d / (k + 0.5), so gaps stay below 2 step; drawing relies on
  // exactly this placement. A step that is not positive changes nothing.
  void ReParametrize(float step);
  // With open, the edges 0 .. n - 2 only, and the last point is kept at the end.
  void ReParametrize(float step, bool open);
  // map (n entries) receives where each input point went.
  void ReParametrize(float step, int* map);
  // The same with the z extent taking part.
  void ReParametrizeXYZ(float step);
  // Keeps points 0, k, 2k, ... (m = (n - k + 1) / k of them), then the
  // midpoint of the first and the last kept point, or the old last point when
  // it was not kept. With m < 1 the old last point alone. k < 1 does nothing.
  void Subsample(int k, bool closeWithMidpoint);
  // Drops points that lie almost on the chord from the last kept point: while
  // chord / path >= ratio and chord <= the length limit (maxLen, and a tenth of
  // the box diagonal when ratio < 0.999). Distances are 3D; the last point stays.
  void SubSampleAdaptive(float ratio, float maxLen);
  // Drops points closer than 0.0001 (xy) to the last kept one and, unless
  // onlyDuplicates, points where the xy direction does not change.
  void ReducePoints(bool onlyDuplicates);

  // --- Clean-up (SSE3dPolygon_cleanup.cpp) ---
  // Removes point i when an earlier input point lies closer than 1 in
  // |dx| + |dy|, unless point i - 1 was removed. Linear time (a grid of half
  // cells), the same answer as comparing every pair.
  void RemoveEqualPointsXY();
  // Cuts off the first self-intersection loop found from edge `start` on (no
  // crossing point is inserted) and keeps the part that carries the ring's
  // orientation; start becomes where to look next. False when none crosses.
  bool RemoveLoopInXYPlane(int& start);
  void RemoveAllLoopsInXYPlane();
  // Scales every point (about the origin, or about the geometric centre), then
  // ReParametrize(0.6) when asked.
  void BlowLine(float sx, float sy, float sz, bool reparametrize);
  void BlowLineAroundCenter(float sx, float sy, float sz, bool reparametrize);
  // Replaces pixel staircases (runs and unit steps left by tracing) by their
  // diagonal: a staircase of at least two stairs of similar height (ratio below
  // tol) loses one corner per stair. A window below 2 only drops the points on
  // straight chords.
  void SmoothPixelCausedSteps(int window, float tol);
  // Moves every point to a nearby integer position on the outer side of the
  // outline, then drops the duplicates this makes.
  void RoundPolygon(bool reparametrizeFirst);
  // The xy convex hull of the points, counter-clockwise from the lowest, with
  // their z; points within the collinearity tolerance of a hull edge are
  // dropped. Fewer than two points stay as they are.
  void ReplaceByConvexHullXY();

  // --- Heights, noise and pairing (SSE3dPolygon_heights.cpp) ---
  // Running mean of three z values, in place and in order around the ring.
  void FilterZValues();
  // Median, maximum, minimum of z over each point and its two neighbours.
  void FilterMedian3();
  void FilterMaximum3();
  void FilterMinimum3();
  void AdaptToHighestZValue();
  void AdaptToLowestZValue();
  // Adds uniform noise in [-a/2, a/2] to x and y from a private generator
  // seeded the same way on every call: the same polygon and amplitude always
  // give the same result, and the caller's rand() sequence is left alone.
  void AddNoiseXY(float a);
  // Point i becomes (1 - t) P_i + t Q_i; Q_i = 0 beyond other's points.
  void MoveTowardsPolygon(CSSE3dPolygon* other, float t);
  // Resamples whichever of the two has fewer points to the other's count,
  // every new point on the old outline. Equal counts or an empty one: nothing.
  void AdaptPolygons(CSSE3dPolygon* other);
  // Makes this ring start at its vertex nearest to other's first point;
  // map (n entries, may be null) is rotated along.
  void FindClosedStartPointAndChange(CSSE3dPolygon* other, int* map);
  // Replaces this polygon by the outer outline of the union of the closed
  // rings a and b (SSE3dPolygon_merge.cpp): both are cut where they cross, the
  // pieces of each that lie outside the other are joined, and of the rings
  // this gives the one of largest area is kept (a hole is dropped). Rings that
  // do not cross give the one that holds the other, else a. The result runs
  // the way b does and is thinned with ReducePoints(false).
  void CreateMergePolygon(const CSSE3dPolygon& a, const CSSE3dPolygon& b);

  // --- Offsetting (SSE3dPolygon_offset.cpp) ---
  // Every point p moves by r along the ray from the centre c: p + r (p - c) /
  // |p - c| in x and y (the length taken in 3D); z stays. The first two take
  // c from CalcGeometricCenter and, with convexFirst, then replace the polygon
  // by its xy convex hull. A point on the centre has no ray and stays.
  void DoQuasiMinkowskiDilation(float r, bool convexFirst);
  void DoQuasiMinkowskiErosion(float r, bool convexFirst);
  void DoQuasiMinkowskiDilationCenter(float r, SSEPoint& c);
  // The enclosed area grown (shrunk) by a regular k-gon of radius |r| placed
  // at every point of the ring, the result running the way the input does.
  // k = 8 (1 + trunc(x / 8)) for x = 2 pi |r| / mean edge length, at most
  // maxDirections, or at most 1,024 when maxDirections <= 0; at least 3. The
  // ring is first resampled so that neighbouring points lie at most |r| / 2
  // apart, so a sparse outline offsets along its edges too. The vertices of
  // the result are the k-gon corners on the outline of the grown (shrunk)
  // area and the points where the edges of two k-gons about points more than
  // two apart along the ring cross (the inner corner of a grown L, the
  // corners of an eroded square); between neighbouring k-gons the outline
  // runs straight over the small scallop. True at once for r = 0 or an
  // empty polygon; false, changing nothing, for a non-finite r or coordinate,
  // more than 2^24 corners, or (ErodeExact) nothing left. Of several pieces
  // (an erosion through a waist) the largest is kept, and a hole (a bay the
  // growing closes off) is dropped.
  bool DilateExact(float r, int maxDirections);
  bool ErodeExact(float r, int maxDirections);
  // The filled area drawn into a scratch matrix (a margin of r + 25, or 20 for
  // the erosion), dilated (eroded) by r, traced back: one point per border
  // pixel, z = 0, in this polygon's coordinates. False, changing nothing, for
  // an empty polygon, a non-finite r or coordinate, a scratch of fewer than
  // one or more than 2^26 pixels, nothing left to trace, or a traced outline
  // that fills a pixel chain (CPixelChain::c_iMaxPoints) and so may be cut off.
  bool DilateWithMatrix(float r);
  bool ErodeWithMatrix(float r);
  // Writes into target, over the box of this polygon widened by four pixels,
  // the xy distance from each pixel (c, r), standing for (c res[0], r res[1]),
  // to the points scaled by res (NormalizeXYZ); beyond 0.35 blended with the
  // distance from (c res[0], r res[1], height) by t = 2d (sharp) or d / 2, at
  // most 1. Only pixels within 20 of `value` change. Whole blocks of four
  // points are searched. Nothing happens for a missing matrix or a scale
  // that is not finite and positive.
  void InternalAreaDistanceTransform(float value, CSSEMatrix* heights, CSSEMatrix* target, t_resolutiondata& res,
                                     bool sharp);

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
  // (CbCPU::GetCount()), each band's inside runs gathered privately, joined
  // and written in band order. Every band ends by the region's last row, so
  // the result equals the per-pixel fill for any processor count.
  void DrawInMatrixAndFillFineForLoop(float value, CSSEMatrix* m, bool subsample, float yFrom, float yTo);

  // --- Rotations, transforms and coordinate edits (SSE3dPolygon_transform.cpp) ---
  // Each leaves the box stale unless it says it recalculates it.
  // x' = x cos a + y sin a, y' = -x sin a + y cos a: a clockwise turn by a
  // (x right, y up), z kept.
  void RotateZ(float a);
  // p' = M p, M = (cy cz, cx sz - sx sy cz, cx sy cz + sx sz;
  //                -cy sz, cx cz + sx sy sz, sx cz - cx sy sz;
  //                -sy, -sx cy, cx cy), c and s the cosines and sines of ax, ay, az.
  void RotateXYZ(float ax, float ay, float az);
  // RotateZ about the geometric centre, recalculated first.
  void RotateZAroundPolyCenter(float a);
  // p' = (x c0 + y c1 + z c2 + c3) / w', the columns c of m. A point with
  // w' = 0 becomes infinite or NaN. With rotationOnly, c3 is taken as
  // (0, 0, 0, 1) and c0 .. c2 as their unit xyz parts (a column too short to
  // have a direction as zero), so only the rotation and reflection remain.
  void TransformUseGivenMatrix(const CbMatrix4Rf& m, bool rotationOnly);
  // The rotation T = (ca cb, -sa, -ca sb; sa cb, ca, -sa sb; sb, 0, cb), c and
  // s the cosines and sines of a and b: a tilt by b in the xz plane, then a turn
  // by a about z. Recalculates the box. (0, b) maps (1, 0, 0) to (cos b, 0, sin b).
  void TransformVertices(float a, float b);
  // The same about the geometric centre, recalculated first.
  void TransformVerticesAboutCenter(float a, float b);
  void SwapXandZCoord();
  void SwapYandZCoord();
  // z' = c.z - z, or z' = 2 c.z - z (the mirror about the centre's height) when
  // aboutCentre; the geometric centre is recalculated first.
  void FlipOrientationZ(bool aboutCentre);
  // z' = h - z.
  void FlipOrientationAndMoveCoordsZ(float h);
  void SetAllXValues(float v);
  void SetAllYValues(float v);
  void SetAllZValues(float v);
  void AddValueToAllXValues(float v);
  void AddValueToAllYValues(float v);

  // --- Clipping and reordering by geometry (SSE3dPolygon_clip.cpp) ---
  // The clips keep the chosen points in their order; the half-planes are
  // strict and run through the geometric centre, recalculated first.
  void KeepLeftHalfPlaneX();   // x < c.x
  void KeepRightHalfPlaneX();  // x > c.x
  void KeepLowerHalfPlaneY();  // y < c.y
  void KeepUpperHalfPlaneY();  // y > c.y
  void KeepLowerHalfPlaneZ();  // z < c.z
  void KeepUpperHalfPlaneZ();  // z > c.z
  // Keeps the points p whose closest point of other (ClosestPoint, 3D) has a
  // greater y than p. An empty other keeps nothing.
  void KeepPointsBelow(CSSE3dPolygon& other);
  // Keeps the points inside other by its crossing test (PointInLineInnerArea,
  // step 1); an other of fewer than three points keeps nothing.
  void KeepPointsInInner(CSSE3dPolygon& other);
  // These make a chosen point k the first (RotatePolygonIndices(k)), k = 0
  // when no point qualifies; c is the geometric centre, recalculated first,
  // and the first of equal candidates wins.
  // Of the points with x > c.x, the one nearest to the line y = c.y: the ring
  // starts where the ray from the centre towards +x leaves it.
  void RotateIndices();
  // Of the points with x > c.x (y > c.y) and |z - c.z| < tol, the one with the
  // largest x (y).
  void RotateIndicesXZ(float tol);
  void RotateIndicesYZ(float tol);
  // The longer spread picks the side: the points with x > c.x when the summed
  // |x - c.x| exceeds the summed |y - c.y|, those with y > c.y when it falls
  // short, none when they are equal. Of them, the one whose direction from the
  // centre lies closest to the xy plane (smallest |asin((z - c.z) / |p - c|)|).
  void RotateIndicesXY();
  // Of the points with x > c.x (y > c.y), the one whose direction from the
  // centre in the xz (yz) plane lies closest to +x (+y).
  void RotateIndicesXZ();
  void RotateIndicesYZ();
  // With a reference of the same count: the k that minimises the summed
  // squared 3D distances between new point i and reference point i, so that
  // the two rings correspond point by point. Quadratic in n. Otherwise nothing.
  void RotateIndices(CSSE3dPolygon* reference);

  // --- Host polylines and splines (SSE3dPolygon_convert.cpp) ---
  // The polyline's vertices in order, without a last vertex that repeats the
  // first. With counterClockwise, a closed polyline whose signed area about +z
  // is not positive is read backwards from its tail. ReParametrize(step) when
  // reparametrize. A null polyline gives an empty polygon.
  CSSE3dPolygon(const QePolyline3D* polyline, float step, bool reparametrize, bool counterClockwise);
  // The same from the spline's subdivision (SubdivideByLength, run here).
  CSSE3dPolygon(QeHermiteSpline* spline, float step, bool reparametrize, bool counterClockwise);
  // A new closed polyline of the points (x, y, z) in order; the caller owns it.
  QePolyline3D* ConvertToPolyline() const;

  // --- Storage (SSE3dPolygon_storage.cpp) ---
  // Stream form, version 2: the count (int32), the points as x, y, z floats,
  // the normalized points likewise, the centre (3 floats), the box flag (bool)
  // and, when it is set, bottom left, top right, xy maximum and xy minimum (3
  // floats each). Versions 0 (empty) and 1 (count and points only; the
  // normalized points and the centre read as 0, the flag as clear) are read
  // too; a stored clear flag leaves the cached corners as they were. Bad or
  // short data throws CbException and leaves the polygon as it was.
  void Serialize(CbStreamWriteBinary& s) const;
  void Serialize(CbStreamReadBinary& s);
  // Archive form: the count (int32), then per block of four points 4 x, 4 y
  // and 4 z floats, spare floats of the last block included. Loading keeps
  // the cached values, clears the flag and sets the normalized points to 0;
  // bad or short data throws CArchiveException and leaves the polygon as it was.
  void Serialize(CArchive& ar);
  // Appends one "%.3f %.3f %.3f" line per point to an existing file, through
  // the atomic writer (the file is replaced by its old content plus the lines).
  // A file that does not exist is not created; failures are not reported.
  void DebugSaveXYZ(CString fileName);

private:
  // The outline method: the ring resampled half a pixel apart is plotted into
  // a byte scratch over its box, the outside flooded from the scratch's
  // border, and the rest transferred into m. False, drawing nothing, for
  // fewer than three points or a box wholly left of or above m.
  bool drawInMatrixWithInsertPolygonAndFillFine(float value, CSSEMatrix& m, bool roundFirst, bool invert);
  // The copy the per-pixel fills test against (box calculated).
  void workingCopy(CSSE3dPolygon& copy, bool subsample) const;

  // Whether the polyline does not repeat its first position at its end
  // (fewer than two vertices count as valid).
  bool IsPolylineValid(const QePolyline3D* polyline) const;
  void CreateFromPolyline(const QePolyline3D* polyline, float step, bool reparametrize, bool counterClockwise);
  // p' = centre + R (p - centre) for the rows of R, in the lane order of
  // CSSEFns::transform.
  void rotateRows(const float (&r)[3][3], const SSEPoint& centre);

  friend class orvik::detail::CrossingRuns;
  friend void orvik::detail::fillInside(CSSE3dPolygon& polygon, orvik::detail::ByteRaster& r);
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
  // Keeps the points whose flag is set, in order (SSE3dPolygon_resample.cpp).
  void keepPoints(const std::vector<char>& keep);
  // Keeps the points strictly below (or above) the geometric centre in
  // coordinate axis (0 x, 1 y, 2 z) (SSE3dPolygon_clip.cpp).
  void keepStrictSide(int axis, bool below);
  void reParametrize(float step, bool withZ, bool closed, int* map);
  // z_i = f(z_(i-1), z_i, z_(i+1)) from the unchanged input (SSE3dPolygon_heights.cpp).
  void filterZ3(float (*f)(float, float, float));

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
