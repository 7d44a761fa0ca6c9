#pragma once
// The 16-byte point of polygons, meshes, hulls and octrees, and its helpers.
// Every helper that sums lanes sums all four in the order (p0 + p3) + (p2 + p1),
// so w must be 0 for lengths and products to be the 3D ones.
#include <immintrin.h>

union SSEPoint {
  __m128 v;
  struct {
    float x, y, z, w;
  };
  float f[4];

  SSEPoint() : v(_mm_setzero_ps()) {}
  SSEPoint(__m128 m) : v(m) {}  // NOLINT: a point is its vector
  SSEPoint(float x_, float y_, float z_, float w_ = 0.0f) : v(_mm_setr_ps(x_, y_, z_, w_)) {}
  operator __m128() const { return v; }  // NOLINT
};
static_assert(sizeof(SSEPoint) == 16 && alignof(SSEPoint) == 16);

// A 3x3 matrix as three row vectors (w lanes unused, expected 0).
struct t_ssematrix3 {
  SSEPoint row[3];
};

class CSSEFns {
public:
  static float scalarproduct(const SSEPoint& a, const SSEPoint& b);
  static float vectorlen(const SSEPoint& a);
  // a / |a| lane by lane; a zero vector gives NaN lanes.
  static SSEPoint normalizevector(const SSEPoint& a);
  static float euclideandistance(const SSEPoint& a, const SSEPoint& b);
  static float euclideansqr(const SSEPoint& a, const SSEPoint& b);
  // Cross product of the first three lanes; w = 0.
  static SSEPoint vectorproduct(const SSEPoint& a, const SSEPoint& b);
  // a . (b x c)
  static float volume(const SSEPoint& a, const SSEPoint& b, const SSEPoint& c);
  static float internal_addition_of_m128(const SSEPoint& a) { return (a.f[0] + a.f[3]) + (a.f[2] + a.f[1]); }
  static void max_of_m128(const SSEPoint& a, float* out);
  static void min_of_m128(const SSEPoint& a, float* out);
  // (m0 . p, m1 . p, m2 . p, 0)
  static SSEPoint transform(const SSEPoint& p, const t_ssematrix3& m);
};
