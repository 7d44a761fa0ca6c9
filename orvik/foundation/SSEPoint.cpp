#include "orvik/foundation/SSEPoint.h"

#include <cmath>

float CSSEFns::scalarproduct(const SSEPoint& a, const SSEPoint& b) {
  return internal_addition_of_m128(_mm_mul_ps(a.v, b.v));
}

float CSSEFns::vectorlen(const SSEPoint& a) { return std::sqrt(scalarproduct(a, a)); }

SSEPoint CSSEFns::normalizevector(const SSEPoint& a) { return _mm_div_ps(a.v, _mm_set1_ps(vectorlen(a))); }

float CSSEFns::euclideansqr(const SSEPoint& a, const SSEPoint& b) {
  const SSEPoint d = _mm_sub_ps(a.v, b.v);
  return scalarproduct(d, d);
}

float CSSEFns::euclideandistance(const SSEPoint& a, const SSEPoint& b) { return std::sqrt(euclideansqr(a, b)); }

SSEPoint CSSEFns::vectorproduct(const SSEPoint& a, const SSEPoint& b) {
  return SSEPoint(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x, 0.0f);
}

float CSSEFns::volume(const SSEPoint& a, const SSEPoint& b, const SSEPoint& c) {
  return scalarproduct(a, vectorproduct(b, c));
}

void CSSEFns::max_of_m128(const SSEPoint& a, float* out) {
  __m128 m = _mm_max_ps(a.v, _mm_shuffle_ps(a.v, a.v, _MM_SHUFFLE(1, 0, 3, 2)));
  m = _mm_max_ps(m, _mm_shuffle_ps(m, m, _MM_SHUFFLE(2, 3, 0, 1)));
  *out = _mm_cvtss_f32(m);
}

void CSSEFns::min_of_m128(const SSEPoint& a, float* out) {
  __m128 m = _mm_min_ps(a.v, _mm_shuffle_ps(a.v, a.v, _MM_SHUFFLE(1, 0, 3, 2)));
  m = _mm_min_ps(m, _mm_shuffle_ps(m, m, _MM_SHUFFLE(2, 3, 0, 1)));
  *out = _mm_cvtss_f32(m);
}

SSEPoint CSSEFns::transform(const SSEPoint& p, const t_ssematrix3& m) {
  return SSEPoint(scalarproduct(m.row[0], p), scalarproduct(m.row[1], p), scalarproduct(m.row[2], p), 0.0f);
}
