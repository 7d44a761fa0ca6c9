// Meshes of height fields, one grid cell at a time.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "orvik/foundation/Exception.h"
#include "orvik/foundation/qe/Array2D.h"
#include "orvik/matrix/ssematrix.h"
#include "orvik/polygon/PolygonRaster.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "orvik/triangulation/HTriangulation.h"

namespace {

// Triangles of a cell by its masks, index L | R << 2 (no fill).
constexpr std::uint8_t c_cellTriangles[16] = {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 2};

int cellTriangles(int L, int R) { return c_cellTriangles[(L & 3) | (R & 3) << 2]; }

// a / |a| with the lanes summed as CSSEFns::normalizevector sums them,
// (p0 + p3) + (p2 + p1), kept inline for the cell loop.
inline __m128 unit(__m128 a) {
  const __m128 p = _mm_mul_ps(a, a);
  const __m128 pairs = _mm_add_ps(p, _mm_shuffle_ps(p, p, _MM_SHUFFLE(0, 1, 2, 3)));
  const __m128 sum = _mm_add_ps(pairs, _mm_shuffle_ps(pairs, pairs, _MM_SHUFFLE(2, 3, 0, 1)));
  return _mm_div_ps(a, _mm_sqrt_ps(sum));
}

// The cells of step (dx, dy) from (x0, y0) while a whole cell ends by the
// inclusive limits (xLast, yLast), column by column. Counts the triangles
// first, so that the mesh holds exactly those.
template <class Valid, class Height>
void buildCells(CHTriangulation& mesh, int x0, int xLast, int y0, int yLast, int dx, int dy, bool flip,
                const Valid& valid, const Height& height) {
  mesh.FreeTriangulation();
  if (dx < 1 || dy < 1) return;
  auto eachCell = [&](auto&& cell) {
    for (std::int64_t x = x0; x + dx <= xLast; x += dx)
      for (std::int64_t y = y0; y + dy <= yLast; y += dy) {
        const int xi = static_cast<int>(x), yi = static_cast<int>(y), x1 = xi + dx, y1 = yi + dy;
        const int L = (valid(xi, yi) ? 1 : 0) | (valid(xi, y1) ? 2 : 0);
        const int R = (valid(x1, yi) ? 1 : 0) | (valid(x1, y1) ? 2 : 0);
        if (cellTriangles(L, R)) cell(xi, yi, x1, y1, L, R);
      }
  };
  std::int64_t count = 0;
  eachCell([&](int, int, int, int, int L, int R) { count += cellTriangles(L, R); });
  if (count > INT32_MAX)
    throw CbException("HTriangulation", __LINE__, "CHTriangulation::CreateTriangulationFromSSEFieldSubSampled",
                      "too many triangles");
  mesh.CreateTriangulation(static_cast<int>(count));
  // Corners at whole multiples of the scale, so that the cells on either
  // side of a grid line share their corners bit for bit.
  const float sx = mesh.GetScaleX(), sy = mesh.GetScaleY();
  int next = 0;
  eachCell([&](int xa, int ya, int xb, int yb, int L, int R) {
    mesh.AppendTriangle(L, R, float(xa) * sx, float(xb) * sx, float(ya) * sy, float(yb) * sy, height(xa, ya),
                        height(xa, yb), height(xb, ya), height(xb, yb), next, flip, false);
  });
}

// The cells of the full build from two SSE lines of one column and its right
// neighbour: bits 0..3 of a column mask are rows 4g..4g+3, bit 4 row 4g+4.
template <bool Above>
void buildFullField(CHTriangulation& mesh, const CSSEMatrix& field, float threshold) {
  const __m128* const* lines = field.GetMatrixDataDirectly();
  const int sizeX = field.GetSizeX(), sizeY = field.GetSizeY(), lineCount = field.GetSSESizeY();
  const __m128 t = _mm_set1_ps(threshold);
  auto bits = [&](__m128 v) { return _mm_movemask_ps(Above ? _mm_cmpgt_ps(v, t) : _mm_cmplt_ps(v, t)); };
  const float sx = mesh.GetScaleX(), sy = mesh.GetScaleY();
  int next = 0;
  for (int x = 0; x + 1 < sizeX; ++x) {
    const float x0 = float(x) * sx, x1 = float(x + 1) * sx;
    for (int g = 0; g < lineCount; ++g) {
      const int rows = std::min(4, sizeY - 1 - 4 * g);  // cells whose lower row exists
      if (rows <= 0) break;
      const bool below = g + 1 < lineCount;
      const int a = bits(lines[g][x]) | (below ? (bits(lines[g + 1][x]) & 1) << 4 : 0);
      const int b = bits(lines[g][x + 1]) | (below ? (bits(lines[g + 1][x + 1]) & 1) << 4 : 0);
      if (((a & (a >> 1)) | (b & (b >> 1))) == 0) continue;  // no column pair of rows: no cell has three corners
      const float* za = reinterpret_cast<const float*>(&lines[g][x]);
      const float* zb = reinterpret_cast<const float*>(&lines[g][x + 1]);
      for (int j = 0; j < rows; ++j) {
        const int L = (a >> j) & 3, R = (b >> j) & 3;
        if (!cellTriangles(L, R)) continue;
        // Row 4g + j + 1 is the next lane, or lane 0 of the next line.
        const float z01 = j < 3 ? za[j + 1] : reinterpret_cast<const float*>(&lines[g + 1][x])[0];
        const float z11 = j < 3 ? zb[j + 1] : reinterpret_cast<const float*>(&lines[g + 1][x + 1])[0];
        const int y = 4 * g + j;
        mesh.AppendTriangle(L, R, x0, x1, float(y) * sy, float(y + 1) * sy, za[j], z01, zb[j], z11, next, !Above,
                            false);
      }
    }
  }
}

// Clamps an inclusive window [from, to] into 0 .. size - 1.
void clampWindow(int& from, int& to, int size) {
  from = std::max(from, 0);
  to = std::min(to, size - 1);
}

bool hasField(const CSSEMatrix* m) { return m && m->HasMemory() && !m->IsEmpty(); }

}  // namespace

void CHTriangulation::AppendTriangle(int L, int R, float x0, float x1, float y0, float y1, float z00, float z01,
                                     float z10, float z11, int& next, bool flip, bool fill) {
  if (fill) {
    if (L == 1 || L == 2) L = 3;
    if (R == 1 || R == 2) R = 3;
  }
  // Cell corners 0 P00, 1 P10, 2 P01, 3 P11; the triangles of each mask pair.
  static constexpr std::int8_t c_one[16][3] = {
      {}, {}, {}, {}, {}, {}, {}, {0, 1, 2}, {}, {}, {}, {0, 3, 2}, {}, {0, 1, 3}, {1, 3, 2}, {}};
  if (L < 0 || L > 3 || R < 0 || R > 3) return;
  const int key = L | R << 2;
  const int count = c_cellTriangles[key];
  if (count == 0) return;
  if (next < 0 || count > m_nNumTriangles - next)
    throw CbException("HTriangulation", __LINE__, "CHTriangulation::AppendTriangle", "no record left for the cell");

  const __m128 sign = _mm_set1_ps(flip ? -1.0f : 1.0f);
  const __m128 p[4] = {_mm_setr_ps(x0, y0, z00, 0.0f), _mm_setr_ps(x1, y0, z10, 0.0f), _mm_setr_ps(x0, y1, z01, 0.0f),
                       _mm_setr_ps(x1, y1, z11, 0.0f)};
  // Gradient normals in pixel units, one per corner.
  const __m128 n[4] = {_mm_mul_ps(unit(_mm_setr_ps(z00 - z10, z00 - z01, 1.0f, 0.0f)), sign),
                       _mm_mul_ps(unit(_mm_setr_ps(z00 - z10, z10 - z11, 1.0f, 0.0f)), sign),
                       _mm_mul_ps(unit(_mm_setr_ps(z01 - z11, z00 - z01, 1.0f, 0.0f)), sign),
                       _mm_mul_ps(unit(_mm_setr_ps(z01 - z11, z10 - z11, 1.0f, 0.0f)), sign)};
  auto emit = [&](int i, int c0, int c1, int c2) {
    const std::size_t base = 3 * std::size_t(i);
    const int c[3] = {c0, c1, c2};
    for (int k = 0; k < 3; ++k) {
      m_pEdgeArray[base + k].v = p[c[k]];
      m_pNormalArray[base + k].v = n[c[k]];
    }
    m_pMainNormalArray[i].v = unit(_mm_add_ps(_mm_add_ps(n[c0], n[c1]), n[c2]));
  };
  const int i = next;
  if (count == 2) {
    emit(i, 0, 3, 2);
    emit(i + 1, 0, 1, 3);
    m_pTriangles[i].neighbour[0] = m_pTriangles + i + 1;  // edge P00-P11
    m_pTriangles[i + 1].neighbour[2] = m_pTriangles + i;  // edge P11-P00
  } else {
    emit(i, c_one[key][0], c_one[key][1], c_one[key][2]);
  }
  next += count;
}

void CHTriangulation::CreateTriangulationFromSSEField(CSSEMatrix* field, float threshold, bool above) {
  FreeTriangulation();
  if (!hasField(field) || field->GetSizeX() < 2 || field->GetSizeY() < 2) return;
  const std::int64_t capacity =
      2 * std::int64_t(above ? field->NumValuesAbove(threshold) : field->NumValuesBelow(threshold));
  if (capacity < 1) return;
  if (capacity > INT32_MAX)
    throw CbException("HTriangulation", __LINE__, "CHTriangulation::CreateTriangulationFromSSEField",
                      "too many triangles");
  CreateTriangulation(static_cast<int>(capacity));
  if (above)
    buildFullField<true>(*this, *field, threshold);
  else
    buildFullField<false>(*this, *field, threshold);
}

void CHTriangulation::CreateTriangulationFromSSEFieldSubSampled(CSSEMatrix* field, float threshold, bool above,
                                                               int dx, int dy) {
  const int sizeX = hasField(field) ? field->GetSizeX() : 0, sizeY = hasField(field) ? field->GetSizeY() : 0;
  CreateTriangulationFromSSEFieldSubSampled(field, threshold, above, dx, dy, 0, sizeX - 1, 0, sizeY - 1, false);
}

void CHTriangulation::CreateTriangulationFromSSEFieldSubSampled(CSSEMatrix* field, float threshold, bool above,
                                                               int dx, int dy, int xStart, int xEnd, int yStart,
                                                               int yEnd, bool) {
  FreeTriangulation();
  if (!hasField(field)) return;
  clampWindow(xStart, xEnd, field->GetSizeX());
  clampWindow(yStart, yEnd, field->GetSizeY());
  const CSSEMatrix& f = *field;
  auto height = [&](int x, int y) { return f.GetPointUnsafe(x, y); };
  if (above)
    buildCells(*this, xStart, xEnd, yStart, yEnd, dx, dy, false, [&](int x, int y) { return height(x, y) > threshold; },
               height);
  else
    buildCells(*this, xStart, xEnd, yStart, yEnd, dx, dy, true, [&](int x, int y) { return height(x, y) < threshold; },
               height);
}

void CHTriangulation::CreateTriangulationFromSSEFieldSubSampled(CSSEMatrix* field, float threshold, bool above,
                                                               int dx, int dy, CSSE3dPolygon* polygon) {
  FreeTriangulation();
  if (!hasField(field) || !polygon || polygon->GetNumPoints() < 3 || dx < 1 || dy < 1) return;
  const int sizeX = field->GetSizeX(), sizeY = field->GetSizeY();
  // The inside test of every grid pixel (multiples of dx, dy), answered for
  // the whole field at once.
  const int columns = (sizeX - 1) / dx + 1, rows = (sizeY - 1) / dy + 1;
  std::vector<std::uint8_t> inside(std::size_t(columns) * std::size_t(rows), 0);
  if (!polygon->IsBoundingBoxCalculated()) polygon->CalcBoundingBox();
  const orvik::detail::CrossingRuns runs(*polygon, 0, sizeX, 0, sizeY, 0.0f, 4);
  runs.forEachRun(
      [&](int c, int from, int to) {
        for (int r = (from + dy - 1) / dy * dy; r < to; r += dy) inside[std::size_t(c / dx) * rows + r / dy] = 1;
      },
      dx);
  const CSSEMatrix& f = *field;
  auto height = [&](int x, int y) { return f.GetPointUnsafe(x, y); };
  auto in = [&](int x, int y) { return inside[std::size_t(x / dx) * rows + y / dy] != 0; };
  if (above)
    buildCells(*this, 0, sizeX - 1, 0, sizeY - 1, dx, dy, false,
               [&](int x, int y) { return height(x, y) > threshold && in(x, y); }, height);
  else
    buildCells(*this, 0, sizeX - 1, 0, sizeY - 1, dx, dy, true,
               [&](int x, int y) { return height(x, y) < threshold && in(x, y); }, height);
}

void CHTriangulation::CreateTriangulationFromSSEFieldSubSampledTwoFields(CSSEMatrix* a, CSSEMatrix* b, bool above,
                                                                        int dx, int dy) {
  const bool both = hasField(a) && hasField(b);
  CreateTriangulationFromSSEFieldSubSampledTwoFields(a, b, above, dx, dy, 0, both ? b->GetSizeX() - 1 : -1, 0,
                                                     both ? b->GetSizeY() - 1 : -1);
}

void CHTriangulation::CreateTriangulationFromSSEFieldSubSampledTwoFields(CSSEMatrix* a, CSSEMatrix* b, bool above,
                                                                        int dx, int dy, int xStart, int xEnd,
                                                                        int yStart, int yEnd) {
  FreeTriangulation();
  if (!hasField(a) || !hasField(b)) return;
  clampWindow(xStart, xEnd, std::min(a->GetSizeX(), b->GetSizeX()));
  clampWindow(yStart, yEnd, std::min(a->GetSizeY(), b->GetSizeY()));
  const CSSEMatrix &fa = *a, &fb = *b;
  auto height = [&](int x, int y) { return fa.GetPointUnsafe(x, y); };
  if (above)
    buildCells(*this, xStart, xEnd, yStart, yEnd, dx, dy, false,
               [&](int x, int y) { return fa.GetPointUnsafe(x, y) > fb.GetPointUnsafe(x, y); }, height);
  else
    buildCells(*this, xStart, xEnd, yStart, yEnd, dx, dy, true,
               [&](int x, int y) { return fb.GetPointUnsafe(x, y) > fa.GetPointUnsafe(x, y); }, height);
}

void CHTriangulation::ConstrainWithHeightField(bool fromAbove, CSSEMatrix* field, float offset) {
  if (!field) return;
  for (std::size_t i = 0; i < 3 * std::size_t(m_nNumTriangles); ++i) {
    SSEPoint& c = m_pEdgeArray[i];
    const float h = field->GetPixelPreciseFloat(c.x, c.y, false);
    if (!(h > 0.1f)) continue;
    c.z = fromAbove ? std::min(c.z, h + offset) : std::max(c.z, h + offset);
  }
}

void CHTriangulation::ConstrainWithHeightField(bool fromAbove, QeArray2D<float>* field, float offset) {
  if (!field || field->GetSizeX() < 1) return;
  // The same interpolation as the matrix form, on a matrix copy of the array.
  CSSEMatrix m;
  m.Create(field->GetSizeX(), field->GetSizeY());
  for (int y = 0; y < field->GetSizeY(); ++y)
    for (int x = 0; x < field->GetSizeX(); ++x) m.SetPointUnsafe(x, y, (*field)(x, y));
  ConstrainWithHeightField(fromAbove, &m, offset);
}

CHTriangulation::CHTriangulation(CSSEMatrix* field, float threshold, bool above, float sx, float sy, float sz) {
  BaseInitialization(sx, sy, sz);
  CreateTriangulationFromSSEField(field, threshold, above);
  if (m_nNumTriangles < 1) return;
  calcBoundsFromCorners();
  CalcSTV();
}

CHTriangulation::CHTriangulation(CSSEMatrix* field, float threshold, bool above, float sx, float sy, float sz, int dx,
                                 int dy) {
  BaseInitialization(sx, sy, sz);
  CreateTriangulationFromSSEFieldSubSampled(field, threshold, above, dx, dy);
  if (m_nNumTriangles < 1) return;
  calcBoundsFromCorners();
  CalcSTV();
}

CHTriangulation::CHTriangulation(CSSEMatrix* field, float threshold, bool above, float sx, float sy, float sz, int dx,
                                 int dy, int xStart, int xEnd, int yStart, int yEnd, bool unused) {
  BaseInitialization(sx, sy, sz);
  CreateTriangulationFromSSEFieldSubSampled(field, threshold, above, dx, dy, xStart, xEnd, yStart, yEnd, unused);
  if (m_nNumTriangles < 1) return;
  calcBoundsFromCorners();
  CalcSTV();
}

CHTriangulation::CHTriangulation(CSSEMatrix* field, float threshold, bool above, float sx, float sy, float sz, int dx,
                                 int dy, CSSE3dPolygon* polygon) {
  BaseInitialization(sx, sy, sz);
  CreateTriangulationFromSSEFieldSubSampled(field, threshold, above, dx, dy, polygon);
  if (m_nNumTriangles < 1) return;
  calcBoundsFromCorners();
  CalcSTV();
}

CHTriangulation::CHTriangulation(CSSEMatrix* a, CSSEMatrix* b, bool above, float sx, float sy, float sz, int dx,
                                 int dy) {
  BaseInitialization(sx, sy, sz);
  CreateTriangulationFromSSEFieldSubSampledTwoFields(a, b, above, dx, dy);
  if (m_nNumTriangles < 1) return;
  calcBoundsFromCorners();
  CalcSTV();
  CalcNormalsFromVertices();
  CalcNeighbours();
}

CHTriangulation::CHTriangulation(CSSEMatrix* a, CSSEMatrix* b, bool above, float sx, float sy, float sz, int dx,
                                 int dy, int xStart, int xEnd, int yStart, int yEnd) {
  BaseInitialization(sx, sy, sz);
  CreateTriangulationFromSSEFieldSubSampledTwoFields(a, b, above, dx, dy, xStart, xEnd, yStart, yEnd);
  if (m_nNumTriangles < 1) return;
  calcBoundsFromCorners();
  CalcSTV();
  CalcNormalsFromVertices();
  CalcNeighbours();
}
