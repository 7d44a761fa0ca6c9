#pragma once
// Lane helpers shared by the matrix operations that walk SSE lines. Not part of
// the public interface.
#include <immintrin.h>

#include <cstddef>
#include <utility>

#include "orvik/foundation/Alloc.h"

namespace orvik::detail {

// Four rows starting s rows into `lo` (s = 0..3): lanes s..3 of lo followed by
// lanes 0..s-1 of hi, the vector of the next SSE line. This is how a window
// whose top row is not a multiple of 4 is realigned onto whole SSE lines.
inline __m128 alignLanes(__m128 lo, __m128 hi, int s) {
  const __m128i l = _mm_castps_si128(lo);
  const __m128i h = _mm_castps_si128(hi);
  switch (s) {
    case 1: return _mm_castsi128_ps(_mm_alignr_epi8(h, l, 4));
    case 2: return _mm_castsi128_ps(_mm_alignr_epi8(h, l, 8));
    case 3: return _mm_castsi128_ps(_mm_alignr_epi8(h, l, 12));
    default: return lo;
  }
}

// All-ones in the lanes whose row 4g + lane satisfies from <= row < to.
inline __m128 rowRangeMask(int g, int from, int to) {
  const __m128i rows = _mm_add_epi32(_mm_set1_epi32(4 * g), _mm_setr_epi32(0, 1, 2, 3));
  const __m128i geFrom = _mm_cmpgt_epi32(rows, _mm_set1_epi32(from - 1));
  const __m128i ltTo = _mm_cmplt_epi32(rows, _mm_set1_epi32(to));
  return _mm_castsi128_ps(_mm_and_si128(geFrom, ltTo));
}

// ifTrue where mask is set, else ifFalse.
inline __m128 select(__m128 mask, __m128 ifTrue, __m128 ifFalse) { return _mm_blendv_ps(ifFalse, ifTrue, mask); }

// |v| by clearing the sign bit: exact for every float, infinities and NaN included.
inline __m128 absolute(__m128 v) { return _mm_andnot_ps(_mm_set1_ps(-0.0f), v); }

// Owned, 16-byte-aligned scratch array of vectors (a standard container of
// __m128 would drop the type's alignment attribute).
class VectorBuffer {
public:
  explicit VectorBuffer(std::size_t n)
      : m_p(static_cast<__m128*>(SafeAlignedAlloc((n ? n : 1) * sizeof(__m128), 16))), m_n(n) {}
  ~VectorBuffer() { SafeAlignedFree(m_p); }
  VectorBuffer(const VectorBuffer&) = delete;
  VectorBuffer& operator=(const VectorBuffer&) = delete;
  void swap(VectorBuffer& o) noexcept {
    std::swap(m_p, o.m_p);
    std::swap(m_n, o.m_n);
  }
  __m128& operator[](std::size_t i) { return m_p[i]; }
  const __m128& operator[](std::size_t i) const { return m_p[i]; }
  __m128* data() { return m_p; }
  std::size_t size() const { return m_n; }

private:
  __m128* m_p;
  std::size_t m_n;
};

}  // namespace orvik::detail
