#include <immintrin.h>

#include <climits>
#include <cmath>

#include "orvik/polygon/SSE3dPolygon.h"

namespace {

constexpr float c_fBoxLimit = 1000000.0f;

// Sums a 4-lane float vector into two double accumulators.
inline void addToDoubles(__m128 v, __m128d& lo, __m128d& hi) {
  lo = _mm_add_pd(lo, _mm_cvtps_pd(v));
  hi = _mm_add_pd(hi, _mm_cvtps_pd(_mm_movehl_ps(v, v)));
}

inline double sumDoubles(__m128d lo, __m128d hi) {
  const __m128d s = _mm_add_pd(lo, hi);
  return _mm_cvtsd_f64(s) + _mm_cvtsd_f64(_mm_unpackhi_pd(s, s));
}

inline float edgeLength(const float* x, const float* y, const float* z, int i, int j) {
  const float dx = x[j] - x[i], dy = y[j] - y[i], dz = z[j] - z[i];
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// Length of the edges i -> i + 1 for i < last, and of the edge last -> 0 when
// closed. Four edges per step: one aligned and one shifted load per axis; the
// lengths are float, their sum double, so a million points lose nothing.
double chainLength(const float* x, const float* y, const float* z, int n, bool closed) {
  if (n < 2) return 0.0;
  __m128d lo = _mm_setzero_pd(), hi = _mm_setzero_pd();
  int i = 0;
  for (; i + 4 < n; i += 4) {
    const __m128 dx = _mm_sub_ps(_mm_loadu_ps(x + i + 1), _mm_load_ps(x + i));
    const __m128 dy = _mm_sub_ps(_mm_loadu_ps(y + i + 1), _mm_load_ps(y + i));
    const __m128 dz = _mm_sub_ps(_mm_loadu_ps(z + i + 1), _mm_load_ps(z + i));
    const __m128 d2 = _mm_add_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)), _mm_mul_ps(dz, dz));
    addToDoubles(_mm_sqrt_ps(d2), lo, hi);
  }
  double sum = sumDoubles(lo, hi);
  for (; i + 1 < n; ++i) sum += edgeLength(x, y, z, i, i + 1);
  if (closed) sum += edgeLength(x, y, z, n - 1, 0);
  return sum;
}

// The closed shoelace sum of a_i b_(i+1) - a_(i+1) b_i. A product of two
// floats is exact in double, so each term is rounded once and the sum stays
// exact to the last bits of the result even for huge polygons.
double shoelace(const float* a, const float* b, int n) {
  if (n < 2) return 0.0;
  __m128d lo = _mm_setzero_pd(), hi = _mm_setzero_pd();
  int i = 0;
  for (; i + 4 < n; i += 4) {
    const __m128 a0 = _mm_load_ps(a + i), a1 = _mm_loadu_ps(a + i + 1);
    const __m128 b0 = _mm_load_ps(b + i), b1 = _mm_loadu_ps(b + i + 1);
    const auto term = [](__m128d p, __m128d q, __m128d r, __m128d s) {
      return _mm_sub_pd(_mm_mul_pd(p, q), _mm_mul_pd(r, s));
    };
    lo = _mm_add_pd(lo, term(_mm_cvtps_pd(a0), _mm_cvtps_pd(b1), _mm_cvtps_pd(a1), _mm_cvtps_pd(b0)));
    hi = _mm_add_pd(hi, term(_mm_cvtps_pd(_mm_movehl_ps(a0, a0)), _mm_cvtps_pd(_mm_movehl_ps(b1, b1)),
                             _mm_cvtps_pd(_mm_movehl_ps(a1, a1)), _mm_cvtps_pd(_mm_movehl_ps(b0, b0))));
  }
  double sum = sumDoubles(lo, hi);
  for (; i < n; ++i) {
    const int j = i + 1 < n ? i + 1 : 0;
    sum += static_cast<double>(a[i]) * b[j] - static_cast<double>(a[j]) * b[i];
  }
  return sum;
}

// Smallest and largest x, y and z from the box's start values, in one pass
// over the three arrays, eight points per step into two sets of running
// values so that consecutive maxima do not wait for each other. The array
// element is the first operand of max/min, so a NaN element loses to the
// running value and is passed over.
void extremes(const float* const* a, int n, float* lowest, float* highest) {
  __m128 mx[2][3], mn[2][3];
  for (int s = 0; s < 2; ++s)
    for (int k = 0; k < 3; ++k) mx[s][k] = _mm_set1_ps(-c_fBoxLimit), mn[s][k] = _mm_set1_ps(c_fBoxLimit);
  int i = 0;
  for (; i + 8 <= n; i += 8)
    for (int k = 0; k < 3; ++k) {
      const __m128 v0 = _mm_load_ps(a[k] + i), v1 = _mm_load_ps(a[k] + i + 4);
      mx[0][k] = _mm_max_ps(v0, mx[0][k]);
      mn[0][k] = _mm_min_ps(v0, mn[0][k]);
      mx[1][k] = _mm_max_ps(v1, mx[1][k]);
      mn[1][k] = _mm_min_ps(v1, mn[1][k]);
    }
  for (; i < n; ++i)
    for (int k = 0; k < 3; ++k) {
      const __m128 v = _mm_set1_ps(a[k][i]);
      mx[0][k] = _mm_max_ps(v, mx[0][k]);
      mn[0][k] = _mm_min_ps(v, mn[0][k]);
    }
  for (int k = 0; k < 3; ++k) {
    CSSEFns::max_of_m128(_mm_max_ps(mx[0][k], mx[1][k]), highest + k);
    CSSEFns::min_of_m128(_mm_min_ps(mn[0][k], mn[1][k]), lowest + k);
  }
}

int truncToInt(float v) {
  if (!(v > static_cast<float>(INT_MIN))) return std::isnan(v) ? 0 : INT_MIN;
  if (!(v < static_cast<float>(INT_MAX))) return INT_MAX;
  return static_cast<int>(v);
}

// Inverse-distance weighting over every step-th point; `power2` selects the
// weight 1/d^2, else 1/d. A point within sqrt(eps) gives its own height.
float interpolate(const float* x, const float* y, const float* z, int n, float px, float py, int step, float eps,
                  bool power2) {
  if (step < 1) step = 1;
  double sumZ = 0.0, sumW = 0.0;
  for (int i = 0; i < n - step + 1; i += step) {
    const float dx = x[i] - px, dy = y[i] - py;
    const float d2 = dx * dx + dy * dy;
    if (d2 <= eps) return z[i];
    const double w = power2 ? 1.0 / d2 : 1.0 / std::sqrt(static_cast<double>(d2));
    sumZ += z[i] * w;
    sumW += w;
  }
  return static_cast<float>(sumZ / sumW);
}

}  // namespace

void CSSE3dPolygon::CalcBoundingBox() {
  float lo[3], hi[3];
  const float* const arrays[3] = {m_pfX, m_pfY, m_pfZ};
  extremes(arrays, m_iNumPoints, lo, hi);
  *m_pTopRight = SSEPoint(hi[0], hi[1], hi[2], 0.0f);
  *m_pBottomLeft = SSEPoint(lo[0], lo[1], lo[2], 0.0f);
  *m_pXYMax = SSEPoint(hi[0], hi[1], 0.0f, 0.0f);
  *m_pXYMin = SSEPoint(lo[0], lo[1], 0.0f, 0.0f);
  m_bBoundingBoxCalculated = true;
}

void CSSE3dPolygon::GetBoundingBox3D(float& minX, float& minY, float& minZ, float& maxX, float& maxY,
                                     float& maxZ) {
  if (!m_bBoundingBoxCalculated) CalcBoundingBox();
  const SSEPoint lo = _mm_min_ps(m_pBottomLeft->v, m_pTopRight->v);
  const SSEPoint hi = _mm_max_ps(m_pBottomLeft->v, m_pTopRight->v);
  minX = lo.x, minY = lo.y, minZ = lo.z;
  maxX = hi.x, maxY = hi.y, maxZ = hi.z;
}

void CSSE3dPolygon::GetBoundingBox2D(int& minX, int& minY, int& maxX, int& maxY) {
  float lx, ly, lz, hx, hy, hz;
  GetBoundingBox3D(lx, ly, lz, hx, hy, hz);
  minX = truncToInt(lx), minY = truncToInt(ly);
  maxX = truncToInt(hx), maxY = truncToInt(hy);
}

void CSSE3dPolygon::CalcGeometricCenter() {
  __m128 c = _mm_setzero_ps();
  const __m128 n = _mm_set1_ps(static_cast<float>(m_iNumPoints));
  for (int i = 0; i < m_iNumPoints; ++i) c = _mm_add_ps(c, _mm_div_ps(_mm_setr_ps(m_pfX[i], m_pfY[i], m_pfZ[i], 0.0f), n));
  *m_pGeometricCenter = c;
}

float CSSE3dPolygon::CalcCircumference() const {
  return static_cast<float>(chainLength(m_pfX, m_pfY, m_pfZ, m_iNumPoints, true));
}

float CSSE3dPolygon::CalcCircumferenceOpen() const {
  return static_cast<float>(chainLength(m_pfX, m_pfY, m_pfZ, m_iNumPoints, false));
}

float CSSE3dPolygon::CalcXYArea() const { return static_cast<float>(shoelace(m_pfX, m_pfY, m_iNumPoints)); }
float CSSE3dPolygon::CalcXZArea() const { return static_cast<float>(shoelace(m_pfX, m_pfZ, m_iNumPoints)); }
float CSSE3dPolygon::CalcYZArea() const { return static_cast<float>(shoelace(m_pfY, m_pfZ, m_iNumPoints)); }

void CSSE3dPolygon::NormalizeXYZ(t_resolutiondata& res) {
  const __m128 sx = _mm_set1_ps(res[0]), sy = _mm_set1_ps(res[1]), sz = _mm_set1_ps(res[2]);
  for (int i = 0; i < GetCapacity(); i += 4) {
    _mm_store_ps(m_pfNormX + i, _mm_mul_ps(_mm_load_ps(m_pfX + i), sx));
    _mm_store_ps(m_pfNormY + i, _mm_mul_ps(_mm_load_ps(m_pfY + i), sy));
    _mm_store_ps(m_pfNormZ + i, _mm_mul_ps(_mm_load_ps(m_pfZ + i), sz));
  }
}

void CSSE3dPolygon::ShiftLine(float dx, float dy, float dz) {
  const __m128 sx = _mm_set1_ps(dx), sy = _mm_set1_ps(dy), sz = _mm_set1_ps(dz);
  for (int i = 0; i < GetCapacity(); i += 4) {
    _mm_store_ps(m_pfX + i, _mm_add_ps(_mm_load_ps(m_pfX + i), sx));
    _mm_store_ps(m_pfY + i, _mm_add_ps(_mm_load_ps(m_pfY + i), sy));
    _mm_store_ps(m_pfZ + i, _mm_add_ps(_mm_load_ps(m_pfZ + i), sz));
  }
  CalcBoundingBox();
}

float CSSE3dPolygon::InterpolateZ(float x, float y, int step, float eps) const {
  return interpolate(m_pfX, m_pfY, m_pfZ, m_iNumPoints, x, y, step, eps, true);
}

float CSSE3dPolygon::InterpolateZLow(float x, float y, int step, float eps) const {
  return interpolate(m_pfX, m_pfY, m_pfZ, m_iNumPoints, x, y, step, eps, false);
}
