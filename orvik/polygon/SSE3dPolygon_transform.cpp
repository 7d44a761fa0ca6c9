// Whole-polygon rotations, the general 4x4 transform and coordinate edits.
// The loops run over whole blocks of four points, the spare floats of the last
// block included: they are never points, and computing on them keeps every
// block on the SSE path.
#include <cmath>
#include <utility>

#include "orvik/polygon/SSE3dPolygon.h"

namespace {

// x' = x ca + y sa, y' = -x sa + y ca about (cx, cy).
void rotateXY(float* x, float* y, int count, float ca, float sa, float cx, float cy) {
  for (int i = 0; i < count; ++i) {
    const float dx = x[i] - cx, dy = y[i] - cy;
    x[i] = (dx * ca + dy * sa) + cx;
    y[i] = (-dx * sa + dy * ca) + cy;
  }
}

void fill(float* a, int count, float v) {
  for (int i = 0; i < count; ++i) a[i] = v;
}

void add(float* a, int count, float v) {
  for (int i = 0; i < count; ++i) a[i] += v;
}

}  // namespace

// Each row product is summed as CSSEFns::transform sums a point with w = 0,
// (r0 p0 + r3 p3) + (r2 p2 + r1 p1) with the w term zero, so a polygon turns
// exactly as a mesh of the same points does.
void CSSE3dPolygon::rotateRows(const float (&r)[3][3], const SSEPoint& centre) {
  const __m128 cx = _mm_set1_ps(centre.x), cy = _mm_set1_ps(centre.y), cz = _mm_set1_ps(centre.z);
  __m128 m[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m[i][j] = _mm_set1_ps(r[i][j]);
  for (int i = 0; i < GetCapacity(); i += 4) {
    const __m128 dx = _mm_sub_ps(_mm_load_ps(m_pfX + i), cx);
    const __m128 dy = _mm_sub_ps(_mm_load_ps(m_pfY + i), cy);
    const __m128 dz = _mm_sub_ps(_mm_load_ps(m_pfZ + i), cz);
    __m128 out[3];
    for (int k = 0; k < 3; ++k)
      out[k] = _mm_add_ps(_mm_mul_ps(m[k][0], dx), _mm_add_ps(_mm_mul_ps(m[k][2], dz), _mm_mul_ps(m[k][1], dy)));
    _mm_store_ps(m_pfX + i, _mm_add_ps(out[0], cx));
    _mm_store_ps(m_pfY + i, _mm_add_ps(out[1], cy));
    _mm_store_ps(m_pfZ + i, _mm_add_ps(out[2], cz));
  }
  m_bBoundingBoxCalculated = false;
}

void CSSE3dPolygon::RotateZ(float a) {
  rotateXY(m_pfX, m_pfY, m_iNumPoints, std::cos(a), std::sin(a), 0.0f, 0.0f);
  m_bBoundingBoxCalculated = false;
}

void CSSE3dPolygon::RotateZAroundPolyCenter(float a) {
  CalcGeometricCenter();
  const SSEPoint c = *m_pGeometricCenter;
  rotateXY(m_pfX, m_pfY, m_iNumPoints, std::cos(a), std::sin(a), c.x, c.y);
  m_bBoundingBoxCalculated = false;
}

void CSSE3dPolygon::RotateXYZ(float ax, float ay, float az) {
  const float cx = std::cos(ax), sx = std::sin(ax), cy = std::cos(ay), sy = std::sin(ay);
  const float cz = std::cos(az), sz = std::sin(az);
  const float r[3][3] = {{cy * cz, cx * sz - sx * sy * cz, cx * sy * cz + sx * sz},
                         {-cy * sz, cx * cz + sx * sy * sz, sx * cz - cx * sy * sz},
                         {-sy, -sx * cy, cx * cy}};
  rotateRows(r, SSEPoint());
}

namespace {

// A tilt by b in the xz plane followed by a turn by a about z. The first row
// ends in -ca sb, so that the matrix stays orthogonal for points off the
// plane z = 0 too.
void tiltAndTurn(float a, float b, float (&r)[3][3]) {
  const float ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b);
  const float rows[3][3] = {{ca * cb, -sa, -(ca * sb)}, {sa * cb, ca, -(sa * sb)}, {sb, 0.0f, cb}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r[i][j] = rows[i][j];
}

}  // namespace

void CSSE3dPolygon::TransformVertices(float a, float b) {
  float r[3][3];
  tiltAndTurn(a, b, r);
  rotateRows(r, SSEPoint());
  CalcBoundingBox();
}

void CSSE3dPolygon::TransformVerticesAboutCenter(float a, float b) {
  CalcGeometricCenter();
  float r[3][3];
  tiltAndTurn(a, b, r);
  rotateRows(r, *m_pGeometricCenter);
  CalcBoundingBox();
}

void CSSE3dPolygon::TransformUseGivenMatrix(const CbMatrix4Rf& m, bool rotationOnly) {
  SSEPoint c[4];
  for (int k = 0; k < 4; ++k) {
    const float* col = m.GetColumn(k);
    c[k] = SSEPoint(col[0], col[1], col[2], col[3]);
  }
  if (rotationOnly) {
    for (int k = 0; k < 3; ++k) {
      c[k].w = 0.0f;
      const float length2 = CSSEFns::scalarproduct(c[k], c[k]);
      c[k] = length2 > 1.1754944e-38f ? CSSEFns::normalizevector(c[k]) : SSEPoint();
    }
    c[3] = SSEPoint(0.0f, 0.0f, 0.0f, 1.0f);
  }
  // Lane k of column j, broadcast: out_k = ((x c0 + y c1) + z c2) + c3.
  __m128 lane[4][4];
  for (int j = 0; j < 4; ++j)
    for (int k = 0; k < 4; ++k) lane[j][k] = _mm_set1_ps(c[j].f[k]);
  for (int i = 0; i < GetCapacity(); i += 4) {
    const __m128 x = _mm_load_ps(m_pfX + i), y = _mm_load_ps(m_pfY + i), z = _mm_load_ps(m_pfZ + i);
    __m128 out[4];
    for (int k = 0; k < 4; ++k)
      out[k] = _mm_add_ps(
          _mm_add_ps(_mm_add_ps(_mm_mul_ps(x, lane[0][k]), _mm_mul_ps(y, lane[1][k])), _mm_mul_ps(z, lane[2][k])),
          lane[3][k]);
    _mm_store_ps(m_pfX + i, _mm_div_ps(out[0], out[3]));
    _mm_store_ps(m_pfY + i, _mm_div_ps(out[1], out[3]));
    _mm_store_ps(m_pfZ + i, _mm_div_ps(out[2], out[3]));
  }
  m_bBoundingBoxCalculated = false;
}

void CSSE3dPolygon::SwapXandZCoord() {
  std::swap(m_pfX, m_pfZ);
  m_bBoundingBoxCalculated = false;
}

void CSSE3dPolygon::SwapYandZCoord() {
  std::swap(m_pfY, m_pfZ);
  m_bBoundingBoxCalculated = false;
}

void CSSE3dPolygon::FlipOrientationZ(bool aboutCentre) {
  CalcGeometricCenter();
  const float h = aboutCentre ? 2.0f * m_pGeometricCenter->z : m_pGeometricCenter->z;
  FlipOrientationAndMoveCoordsZ(h);
}

void CSSE3dPolygon::FlipOrientationAndMoveCoordsZ(float h) {
  for (int i = 0; i < m_iNumPoints; ++i) m_pfZ[i] = h - m_pfZ[i];
  m_bBoundingBoxCalculated = false;
}

void CSSE3dPolygon::SetAllXValues(float v) {
  fill(m_pfX, m_iNumPoints, v);
  m_bBoundingBoxCalculated = false;
}

void CSSE3dPolygon::SetAllYValues(float v) {
  fill(m_pfY, m_iNumPoints, v);
  m_bBoundingBoxCalculated = false;
}

void CSSE3dPolygon::SetAllZValues(float v) {
  fill(m_pfZ, m_iNumPoints, v);
  m_bBoundingBoxCalculated = false;
}

void CSSE3dPolygon::AddValueToAllXValues(float v) {
  add(m_pfX, m_iNumPoints, v);
  m_bBoundingBoxCalculated = false;
}

void CSSE3dPolygon::AddValueToAllYValues(float v) {
  add(m_pfY, m_iNumPoints, v);
  m_bBoundingBoxCalculated = false;
}
