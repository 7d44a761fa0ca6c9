#pragma once
// The library's triangle mesh: an unshared triangle soup. Every triangle owns
// its three corners, three corner normals, its edge vectors S, T, V and its
// bounds, all in 16-byte-aligned SSEPoint arrays, so that rendering and the
// geometric queries work four lanes at a time. Triangle records point into
// those arrays; adjacency is found afterwards by comparing corners.
//
// The members are grouped by concern below; each group's definitions live in
// their own HTriangulation_<concern>.cpp file.
#include <cstdint>

#include "orvik/foundation/ReferenceCounter.h"
#include "orvik/foundation/SSEPoint.h"
#include "orvik/foundation/Vectors.h"

class CArchive;
class CH2DDelaunay;
class CHConvexHull3D;
class CSSE3dPolygon;
class CSSEMatrix;
class CbStreamReadBinary;
class CbStreamWriteBinary;
template <typename T>
class QeArray2D;
namespace Geometry {
class CTriangulation;
}
namespace orvik::detail {
struct ScanTarget;
}

// One triangle (144 bytes, the stored record). Every pointer links into the
// mesh's arrays at the triangle's own position.
struct t_htriangle {
  SSEPoint* corner[3];
  SSEPoint* normal[3];
  SSEPoint* t;  // corner 2 - corner 0
  SSEPoint* s;  // corner 1 - corner 0
  SSEPoint* v;  // corner 2 - corner 1
  SSEPoint* mainNormal;
  SSEPoint* minCorner;  // lane-wise minimum of the corners
  SSEPoint* maxCorner;
  // neighbour[k] lies across the edge from corner k to corner (k + 1) mod 3.
  t_htriangle* neighbour[3];
  t_htriangle* next;  // the working list
  t_htriangle* prev;
  std::int32_t index;  // position in the array: the triangle's identity
  // State code: -1 fresh, 13 border (a neighbour missing), 14 Delaunay,
  // 1..11 octree codes, 0 thinned out.
  std::int32_t mark;
};
static_assert(sizeof(t_htriangle) == 144, "the stored record is 144 bytes");

// One border edge in the mesh's stretch list. Nodes are created with `new`;
// the mesh deletes a node when it leaves the list, and any left at the end.
struct t_stretch {
  SSEPoint* start;
  SSEPoint* end;
  t_stretch* next;
  t_stretch* prev;
};

class CHTriangulation : public IReferenceCounted {
public:
  static constexpr std::int32_t c_iBorderMark = 13;

  // ---- Construction --------------------------------------------------------
  // An empty mesh with scale 1 (safe to destroy or to fill).
  CHTriangulation();
  // n blank triangles.
  CHTriangulation(int n, float scaleX, float scaleY, float scaleZ);
  // Deep copies: the scale, resolution, arrays and neighbours of the source.
  explicit CHTriangulation(CHTriangulation* source);
  CHTriangulation(const CHTriangulation& other);
  CHTriangulation& operator=(const CHTriangulation& other);
  // From the host's shared-vertex mesh (live triangles only), corners scaled,
  // then bounds, S, T, V and face normals.
  explicit CHTriangulation(const Geometry::CTriangulation* mesh);
  CHTriangulation(const Geometry::CTriangulation* mesh, float scaleX, float scaleY, float scaleZ);
  ~CHTriangulation() override;

  // ---- Construction from other geometry ---------------------------------------
  // Each runs BaseInitialization(sx, sy, sz), its build (below) and then the
  // follow-up steps named; an empty result skips the follow-up steps.
  // Full field; then bounds and S, T, V.
  CHTriangulation(CSSEMatrix* field, float threshold, bool above, float sx, float sy, float sz);
  // Sub-sampled, windowed and polygon-restricted; then bounds and S, T, V.
  CHTriangulation(CSSEMatrix* field, float threshold, bool above, float sx, float sy, float sz, int dx, int dy);
  CHTriangulation(CSSEMatrix* field, float threshold, bool above, float sx, float sy, float sz, int dx, int dy,
                  int xStart, int xEnd, int yStart, int yEnd, bool unused);
  CHTriangulation(CSSEMatrix* field, float threshold, bool above, float sx, float sy, float sz, int dx, int dy,
                  CSSE3dPolygon* polygon);
  // Two fields; then bounds, S, T, V, face normals and neighbours.
  CHTriangulation(CSSEMatrix* a, CSSEMatrix* b, bool above, float sx, float sy, float sz, int dx, int dy);
  CHTriangulation(CSSEMatrix* a, CSSEMatrix* b, bool above, float sx, float sy, float sz, int dx, int dy, int xStart,
                  int xEnd, int yStart, int yEnd);
  // A fan (fan) or ear clipping with optional refinement; then the corners
  // scaled, S, T, V, face normals and bounds.
  CHTriangulation(CSSE3dPolygon* polygon, float sx, float sy, float sz, int step, float refinement, bool fan,
                  bool refine);
  // Ear clipping with optional refinement, its heights clamped to the field
  // (ConstrainWithHeightField); then as above.
  CHTriangulation(CSSE3dPolygon* polygon, float sx, float sy, float sz, CSSEMatrix* field, bool fromAbove,
                  float offset, int step, float refinement, bool refine);
  // The ribbon between two rings of the same point count (scaled lane-wise by
  // (sx, sy, sz)); rings of different counts give an empty mesh. The second
  // form passes through `rings` intermediate rings, ring j being a moved
  // towards b by j / (rings + 1), so (rings + 1) ribbons of 2N triangles; no
  // ring below 1. Then bounds, S, T, V and face normals. The bools have no effect.
  CHTriangulation(CSSE3dPolygon* a, CSSE3dPolygon* b, float sx, float sy, float sz, bool, bool);
  CHTriangulation(CSSE3dPolygon* a, CSSE3dPolygon* b, float sx, float sy, float sz, int rings, bool, bool);
  // A built Delaunay triangulation or hull; then the corners scaled, S, T, V,
  // face normals and bounds.
  CHTriangulation(CH2DDelaunay* delaunay, float sx, float sy, float sz, bool flat);
  CHTriangulation(CHConvexHull3D* hull, float sx, float sy, float sz, float divisor);
  // The host mesh's triangles inside the polygon; then bounds, S, T, V and
  // face normals.
  CHTriangulation(const Geometry::CTriangulation* mesh, CSSE3dPolygon* polygon, float sx, float sy, float sz);

  CbReferenceCounter<unsigned int>& getReferenceCounter() const override { return m_referenceCounter; }

  // ---- Storage management (HTriangulation.cpp) -----------------------------
  // Empties the mesh and sets scale and resolution to (sx, sy, sz).
  void BaseInitialization(float scaleX, float scaleY, float scaleZ);
  // n blank triangles: links set, points zeroed, index = position, mark = -1.
  // A negative n throws CbException and leaves the mesh empty.
  void CreateTriangulation(int n);
  void FreeTriangulation();
  // Everything but the scale; neighbours relinked to this mesh's records.
  void CopyFromHTriangulation(const CHTriangulation* source);
  // This mesh's triangles followed by the other's (which may be this mesh).
  void AppendTriangulation(const CHTriangulation* other);
  // As AppendTriangulation, but the other's triangles enter with corners 0
  // and 2 exchanged when `reverse`; S, T, V, bounds, face normals and centre
  // are recomputed, neighbours and main normals cleared.
  void Combine(const CHTriangulation& other, bool reverse);

  void AppendStretchToList(t_stretch* node);
  void DeleteStretchFromList(t_stretch* node);
  t_stretch* GetStretchList() const { return m_pStretchList; }
  // Threads every record into the working list in array order.
  void IndexTriangleList();
  // Unlinks a record from the working list; null or a record not in it is ignored.
  void DeleteTriangleFromList(t_htriangle* triangle);
  t_htriangle* GetTriangleList() const { return m_pTriangleList; }

  // ---- Derived data (HTriangulation_derived.cpp) ---------------------------
  void CalcSTV();
  // Face normal S x T / |S x T| on all three corners; a degenerate triangle
  // gets the zero normal.
  void CalcNormalsFromVertices();
  void OrientTrianglesTowardsBBoxCenter();
  // Starts from (1e6, ...) and (-1e6, ...): an empty mesh keeps those.
  void CalcBoundingBox();
  // Mean of all 3n corners; an empty mesh keeps its centre.
  void CalcCenterPoint();

  // ---- Meshes of height fields (HTriangulation_fromfield.cpp) -----------------
  // A cell is the square of pixels P00 = (x, y), P10 = (x + dx, y), P01 =
  // (x, y + dy), P11 = (x + dx, y + dy) at world (x * scaleX, y * scaleY,
  // value); a pixel belongs to the surface when its value is above the
  // threshold (above) or below it. Triangles are counter-clockwise seen from
  // +z; corner normals are the pixels' gradient normals, negated in below
  // mode. Cells are visited column by column, rows ascending.
  //
  // The cell masks: L has bit 0 for P00 and bit 1 for P01, R bit 0 for P10 and
  // bit 1 for P11. With `fill` a mask of 1 or 2 counts as 3. Appends at record
  // `next` and advances it: two triangles split along P00-P11 and linked to
  // each other for L = R = 3, one for three corners, none otherwise. A cell
  // that would not fit the records throws CbException and appends nothing.
  void AppendTriangle(int L, int R, float x0, float x1, float y0, float y1, float z00, float z01, float z10,
                      float z11, int& next, bool flip, bool fill);
  // Every cell of step 1, every row pair included: a field of size Y 3 has
  // cells in rows 0 and 1, and no cell reads the spare rows. The count is
  // 2 x the number of values that pass the threshold (NumValuesAbove /
  // NumValuesBelow, the spare lanes included), which no field can exceed; the
  // records after the last cell stay blank, all corners at the origin, so the
  // mesh's extent starts at the grid origin (the creating scan conversions
  // rely on it). No value passing, or a field narrower or lower than two
  // pixels, gives an empty mesh.
  void CreateTriangulationFromSSEField(CSSEMatrix* field, float threshold, bool above);
  // Cells of step (dx, dy) from the origin while a whole cell fits; the count
  // is exactly the triangles built. Steps below 1 give an empty mesh.
  void CreateTriangulationFromSSEFieldSubSampled(CSSEMatrix* field, float threshold, bool above, int dx, int dy);
  // Cells from (xStart, yStart) while x + dx <= xEnd and y + dy <= yEnd: the
  // limits are inclusive and clamped into the field. The bool has no effect.
  void CreateTriangulationFromSSEFieldSubSampled(CSSEMatrix* field, float threshold, bool above, int dx, int dy,
                                                 int xStart, int xEnd, int yStart, int yEnd, bool unused);
  // Only pixels inside the polygon (PointInLineInnerArea, step 4) belong.
  void CreateTriangulationFromSSEFieldSubSampled(CSSEMatrix* field, float threshold, bool above, int dx, int dy,
                                                 CSSE3dPolygon* polygon);
  // Heights from a; a pixel belongs where b > a (below) or a > b (above).
  // Over the part both fields cover.
  void CreateTriangulationFromSSEFieldSubSampledTwoFields(CSSEMatrix* a, CSSEMatrix* b, bool above, int dx, int dy);
  void CreateTriangulationFromSSEFieldSubSampledTwoFields(CSSEMatrix* a, CSSEMatrix* b, bool above, int dx, int dy,
                                                          int xStart, int xEnd, int yStart, int yEnd);
  // Every corner over a field value h > 0.1 (bilinear at the corner's x, y in
  // pixels, GetPixelPreciseFloat) becomes min(z, h + offset) from above, else
  // max(z, h + offset). S, T, V, bounds and normals are left as they were.
  void ConstrainWithHeightField(bool fromAbove, CSSEMatrix* field, float offset);
  void ConstrainWithHeightField(bool fromAbove, QeArray2D<float>* field, float offset);

  // ---- Meshes of polygons, hulls and Delaunay (HTriangulation_frompolygon.cpp) -
  // Ear clipping of every step-th point (CHPolygonTriangulator), refined to
  // edges of at most 2 x refinement when `refine` (14 passes).
  void CreateTriangulationFromPolygon(CSSE3dPolygon* polygon, int step, float refinement, bool refine);
  // N triangles (p[i-1], p[i], centre), the first closing the ring with
  // p[N-1]; fewer than three points give an empty mesh.
  void CreateSimpleFanTriangulationFromPolygon(CSSE3dPolygon* polygon);
  // The lower faces as they are listed, clockwise seen from +z, corners in
  // world units (the grid of ten units per unit), z = 0 when flat; mark 14.
  void CreateTriangulationFrom2DDelaunay(CH2DDelaunay* delaunay, bool flat);
  // The hull's faces with their integer corners divided by `divisor`; a
  // divisor that is zero or not finite throws CbException.
  void CreateTriangulationFromHull3D(CHConvexHull3D* hull, float divisor);

  // ---- Neighbours (HTriangulation_neighbours.cpp) ---------------------------
  // Triangles are neighbours across an edge whose two corners are equal in x,
  // y and z (either order). Where more than two triangles share an edge, each
  // gets the last other one in array order. Existing links are replaced;
  // every triangle with a missing neighbour gets the border mark, and the
  // working list holds exactly those triangles, in array order.
  void CalcNeighbours();
  void CalcNeighboursConstrained() { CalcNeighbours(); }
  void FindBorderTriangles();
  // Every edge without a neighbour (the links as they stand: run
  // CalcNeighbours first) enters the stretch list, then the edges are chained
  // into `out`: the head edge's two ends, then each next point the far end of
  // an edge touching the current end point. A border of several loops gives
  // them one after another; where a chain cannot go on, the next remaining
  // edge starts a new one. One point per edge when every loop closes;
  // zero-length edges (blank records) take no part. The list ends empty.
  void FindBorderLine(CSSE3dPolygon* out);

  // ---- Transforms and height clipping (HTriangulation_transform.cpp) -------
  void ScaleTriangulation();
  void ScaleTriangulationXY();
  void ReScaleTriangulation(float scaleX, float scaleY, float scaleZ);
  void ShiftTriangulation(float dx, float dy, float dz);
  void TransformVertices(CbMatrix4Rf& m);
  void TransformVertices(float a, float b, float c);
  void TransformVertices(float a, float b);
  void TransformVerticesAboutPoint(float a, float b, SSEPoint& centre);
  void TransformVerticesAboutPoint(float a, float b, float c, SSEPoint& centre);

  // Keep the triangles with a corner below z / above z / none in [low, high];
  // then neighbours. Bounds and centre keep their values.
  void RemoveTrianglesAboveZ(float z);
  void RemoveTrianglesBelowZ(float z);
  void RemoveTrianglesBetweenZ(float zLow, float zHigh);
  // Keeps the first of the triangles whose corner-0 normals agree within 0.05
  // in every lane (each compared with every earlier one) and drops the others
  // and those marked 0 already; then neighbours.
  void RemoveTrianglesWithSameOrientation();
  // Corners scaled lane-wise by (fx, fy, fz); bounds and S, T, V follow,
  // normals are left as they were.
  void BlowTriangulation(float fx, float fy, float fz);
  void CutWithTriangulation(CHTriangulation*) {}
  void MinimumZTriangulation(CHTriangulation*) {}

  // ---- Storage (HTriangulation_storage.cpp) and the host's mesh -------------
  // ---- (HTriangulation_host.cpp) ----------------------------------------------
  // Version 1. Reading checks sizes against the bytes present, reads into a
  // temporary and leaves the mesh as it was when it throws; records get their
  // links by position, neighbour and list links stay null.
  void Serialize(CbStreamWriteBinary& stream) const;
  void Serialize(CbStreamReadBinary& stream);
  void Serialize(CArchive& ar);
  // A new host mesh the caller owns: corners within 0.0001 in every lane
  // merged into the first such vertex, vertex normals computed.
  Geometry::CTriangulation* CreateCTriangulationFromHTriangulation() const;
  void CreateTriangulationFromCTriangulation(const Geometry::CTriangulation* mesh);
  // Only the triangles whose three corners lie inside the polygon
  // (PointInLineInnerArea, step 1).
  void CreateTriangulationFromCTriangulation(const Geometry::CTriangulation* mesh, CSSE3dPolygon* polygon);

  // ---- Scan conversion into height fields (HTriangulation_scanconvert.cpp) ---
  // Every triangle is sampled on a grid of barycentric steps, one pixel
  // diagonal along its longer leg (S and T must be current), and each sample
  // is splatted into a small neighbourhood with keep-larger (Max: upper
  // envelope) or keep-smaller (Min: lower envelope). A sample lands on the
  // pixel whose centre is nearest (centres at whole multiples of the
  // resolution from the grid origin); samples whose splat would leave the
  // image are dropped, so the outermost rows and columns are reached only as
  // neighbours. The splat does not close every gap inside triangles much
  // larger than a pixel: RefineScanConvImage fills what is left. A resolution
  // not above 0 leaves the image untouched.
  static constexpr float c_fScanConvEmptyMax = -999999.875f;
  static constexpr float c_fScanConvEmptyMin = 999999.875f;
  static constexpr int c_iScanConvWorkers = 10;
  // Resolution in world units per pixel; the pixel diagonal follows.
  void SetScanConvResolution(float resX, float resY, float resZ);
  // The creating forms size the image from the mesh extent (or maxPt - minPt)
  // as trunc(extent / resolution + 0.5) pixels; a field of W samples spanning
  // W - 1 pixels therefore comes back with W - 1 columns. An empty mesh or a
  // size below one pixel leaves the image untouched. Heights are relative to
  // the origin (the mesh minimum, or minPt) plus offset; pixels no triangle
  // reached hold 0. A density not above 0 counts as 1.
  void ScanConvertTriangulationMax(CSSEMatrix* image, float offset);
  void ScanConvertTriangulationMin(CSSEMatrix* image, float offset, float density);
  void ScanConvertTriangulationMax_MinMaxPoint(CSSEMatrix* image, float offset, SSEPoint& minPt, SSEPoint& maxPt);
  void ScanConvertTriangulationMin_MinMaxPoint(CSSEMatrix* image, float offset, SSEPoint& minPt, SSEPoint& maxPt);
  // Accumulate into the caller's image (neither resized nor cleared) with the
  // world origin and absolute heights, over the pixels up to the mesh maximum
  // that the image has. The splat is a cross, a 3x3 box when `box`, a 5x5 box
  // when `box` and `large`.
  void ScanConvertTriangulationMaxNoDelete(CSSEMatrix* image, bool box, bool large);
  void ScanConvertTriangulationMinNoDelete(CSSEMatrix* image, bool box, bool large);
  // Only triangles whose corner 0 lies strictly between yLow and yHigh.
  void ScanConvertTriangulationMaxNoDeleteInYArea(CSSEMatrix* image, float yLow, float yHigh);
  void ScanConvertTriangulationMinNoDeleteInYArea(CSSEMatrix* image, float yLow, float yHigh);
  // Triangles first .. last (clamped to those there are) into the caller's
  // image, relative to origin (a null origin is the world origin).
  void ScanConvertTriangulationWithLimitedArea(CSSEMatrix* image, int first, int last, float offset, SSEPoint* origin,
                                               bool max);
  // The creating render on ten threads: each renders a tenth of the triangles
  // into its own full-size image, and the images are merged in order. The
  // result equals ScanConvertTriangulationMax / Min (density 1) bit for bit.
  void FastScanConvertTriangulation(CSSEMatrix* image, float offset, bool max);
  void FastScanConvertTriangulation_MinMaxPoint(CSSEMatrix* image, float offset, SSEPoint& minPt, SSEPoint& maxPt,
                                                bool max);
  // Single-pixel render on the grid of the mesh scale (pixels of scaleX x
  // scaleY from the mesh minimum, the image sized from the resolution), then
  // every pixel whose centre the polygon (thinned to every second point) does
  // not hold becomes 0. The polygon is moved into pixel units in place and
  // stays so. Start values lie beyond every sample: above them for Min
  // (height range + offset + 0.1), below them for Max (offset - 0.1), so that
  // pixels inside the polygon that no sample reaches keep that value.
  void ScanConvertThroughLineMax(CSSEMatrix* image, CSSE3dPolygon* polygon, float offset);
  void ScanConvertThroughLineMin(CSSEMatrix* image, CSSE3dPolygon* polygon, float offset);
  // Fills empty pixels (within 1 of `empty`) that have at least three
  // non-empty direct neighbours with their mean, row by row in place; then a
  // 3x3 median and a cross minimum (Top: maximum) filter; what is still empty
  // becomes 0.
  void RefineScanConvImage(CSSEMatrix* image, float empty);
  void RefineScanConvImageTop(CSSEMatrix* image, float empty);

  // ---- Getters ---------------------------------------------------------------
  int GetNumTriangles() const { return m_nNumTriangles; }
  t_htriangle* GetTriangles() const { return m_pTriangles; }
  t_htriangle* GetTriangle(int i) const { return i >= 0 && i < m_nNumTriangles ? m_pTriangles + i : nullptr; }
  SSEPoint* GetEdgeArray() const { return m_pEdgeArray; }
  SSEPoint* GetNormalArray() const { return m_pNormalArray; }
  SSEPoint* GetMainNormalArray() const { return m_pMainNormalArray; }
  SSEPoint* GetTArray() const { return m_pTArray; }
  SSEPoint* GetSArray() const { return m_pSArray; }
  SSEPoint* GetVArray() const { return m_pVArray; }
  SSEPoint* GetMinPointArray() const { return m_pMinPointArray; }
  SSEPoint* GetMaxPointArray() const { return m_pMaxPointArray; }
  // Minimum, maximum and centre, in that order.
  SSEPoint* GetPointArray() const { return m_pMinPoint; }
  void GetMinPoint(SSEPoint& p) const { p = *m_pMinPoint; }
  void GetMaxPoint(SSEPoint& p) const { p = *m_pMaxPoint; }
  void GetCenterPoint(SSEPoint& p) const { p = *m_pCenterPoint; }
  float GetScaleX() const { return m_fScaleX; }
  float GetScaleY() const { return m_fScaleY; }
  float GetScaleZ() const { return m_fScaleZ; }
  float GetResX() const { return m_fResX; }
  float GetResY() const { return m_fResY; }
  float GetResZ() const { return m_fResZ; }
  float GetResXY() const { return m_fResXY; }

private:
  void swapContents(CHTriangulation& other) noexcept;
  // Takes the arrays and box of `result` (built with this mesh's scale),
  // keeping the resolution and the stretch list.
  void takeTriangles(CHTriangulation& result) noexcept;
  // Releases the arrays and allocates room for n triangles, contents undefined.
  void allocate(int n);
  // Points record i's links at its own entries; no neighbours, not listed.
  void linkRecord(int i);
  // Copies the per-triangle data of triangle j of `source` into record i
  // (corners optionally reversed); neither links nor neighbours.
  void copyTriangle(int i, const CHTriangulation& source, int j, bool reverse = false);
  void calcBoundsFromCorners();
  void keepTriangles(bool (*keep)(const t_htriangle&, float, float), float a, float b);
  void rotate(const t_ssematrix3& r, const SSEPoint& centre);
  void freeStretchList();
  // The render behind every scan conversion; see HTriangulation_scanconvert.cpp.
  void scanConvert(const orvik::detail::ScanTarget& target, int first, int last) const;
  void scanConvertAccumulating(CSSEMatrix* image, orvik::detail::ScanTarget& t) const;
  void scanConvertCreating(CSSEMatrix* image, float offset, const SSEPoint& minPt, const SSEPoint& maxPt, bool max,
                           float density, bool threaded) const;
  void refineScanConvImage(CSSEMatrix* image, float empty, bool top) const;
  void scanConvertThroughLine(CSSEMatrix* image, CSSE3dPolygon* polygon, float offset, bool max) const;
  template <class Archive>
  void read(Archive& in);
  template <class Archive>
  void write(Archive& out) const;

  mutable CbReferenceCounter<unsigned int> m_referenceCounter;
  SSEPoint* m_pEdgeArray = nullptr;
  SSEPoint* m_pNormalArray = nullptr;
  SSEPoint* m_pMainNormalArray = nullptr;
  SSEPoint* m_pTArray = nullptr;
  SSEPoint* m_pSArray = nullptr;
  SSEPoint* m_pVArray = nullptr;
  t_htriangle* m_pTriangles = nullptr;
  std::int32_t m_nNumTriangles = 0;
  t_htriangle* m_pTriangleList = nullptr;
  float m_fScaleX = 1.0f, m_fScaleY = 1.0f, m_fScaleZ = 1.0f;
  float m_fResX = 1.0f, m_fResY = 1.0f, m_fResZ = 1.0f;
  SSEPoint* m_pMinPoint = nullptr;
  SSEPoint* m_pMaxPoint = nullptr;
  SSEPoint* m_pCenterPoint = nullptr;
  SSEPoint* m_pMinPointArray = nullptr;
  SSEPoint* m_pMaxPointArray = nullptr;
  float m_fResXY = 1.41421354f;
  t_stretch* m_pStretchList = nullptr;
};
