// The kernels of MatrixKernels.h, written once over a register of N SSE
// vectors (N consecutive columns of one SSE line). Each kernels_<level>.cpp
// includes this file once, with ORVIK_KERNEL_NS naming its namespace and
// ORVIK_KERNEL_WIDE the register it uses, and compiles it for its level.
// Everything here lives in that namespace and includes nothing but the
// intrinsics, so no inline function compiled for a wider level can stand in
// for one of another translation unit.
//
// A kernel runs its wide register over whole groups of N columns and the
// single SSE vector over the rest; both do the same operations in the same
// order on every lane, so the results do not depend on the width.
#include <immintrin.h>

#include <cstddef>

#include "orvik/matrix/kernels/MatrixKernels.h"

#ifndef ORVIK_KERNEL_NS
#error "ORVIK_KERNEL_NS must name the kernels' namespace"
#endif

namespace orvik::detail::ORVIK_KERNEL_NS {
namespace {

// One SSE vector: the reference every wider register follows.
struct X1 {
  static constexpr int N = 1;
  using V = __m128;
  using M = __m128;  // all-ones lanes where true
  static V load(const __m128* p) { return _mm_loadu_ps(reinterpret_cast<const float*>(p)); }
  static void store(__m128* p, V v) { _mm_storeu_ps(reinterpret_cast<float*>(p), v); }
  static V splat(const __m128* p) { return load(p); }
  static V set1(float f) { return _mm_set1_ps(f); }
  static V zero() { return _mm_setzero_ps(); }
  static M laneMask(__m128 m) { return m; }
  static V min(V a, V b) { return _mm_min_ps(a, b); }
  static V max(V a, V b) { return _mm_max_ps(a, b); }
  static V add(V a, V b) { return _mm_add_ps(a, b); }
  static V mul(V a, V b) { return _mm_mul_ps(a, b); }
  static V div(V a, V b) { return _mm_div_ps(a, b); }
  static M gt(V a, V b) { return _mm_cmpgt_ps(a, b); }
  static M lt(V a, V b) { return _mm_cmplt_ps(a, b); }
  // m ? t : f
  static V blend(V f, V t, M m) { return _mm_blendv_ps(f, t, m); }
  // m ? t : 0
  static V maskz(M m, V t) { return _mm_and_ps(m, t); }
  // Comparisons and logic on all-ones lanes held as values.
  static V eqv(V a, V b) { return _mm_cmpeq_ps(a, b); }
  // Lane I of every column in all four lanes of that column.
  template <int I>
  static V laneOf(V v) { return _mm_shuffle_ps(v, v, I * 0x55); }
  static V orv(V a, V b) { return _mm_or_ps(a, b); }
  static V andv(V a, V b) { return _mm_and_ps(a, b); }
  static V andnotv(V a, V b) { return _mm_andnot_ps(a, b); }  // ~a & b
  static M toMask(V v) { return v; }
  // The four rows starting S rows into lo and continuing into hi, per column.
  template <int S>
  static V align(V lo, V hi) {
    if constexpr (S == 0) return lo;
    else return _mm_castsi128_ps(_mm_alignr_epi8(_mm_castps_si128(hi), _mm_castps_si128(lo), 4 * S));
  }
};

#if defined(__AVX2__)
struct X2 {
  static constexpr int N = 2;
  using V = __m256;
  using M = __m256;
  static V load(const __m128* p) { return _mm256_loadu_ps(reinterpret_cast<const float*>(p)); }
  static void store(__m128* p, V v) { _mm256_storeu_ps(reinterpret_cast<float*>(p), v); }
  static V splat(const __m128* p) { return _mm256_broadcast_ps(p); }
  static V set1(float f) { return _mm256_set1_ps(f); }
  static V zero() { return _mm256_setzero_ps(); }
  static M laneMask(__m128 m) { return _mm256_set_m128(m, m); }
  static V min(V a, V b) { return _mm256_min_ps(a, b); }
  static V max(V a, V b) { return _mm256_max_ps(a, b); }
  static V add(V a, V b) { return _mm256_add_ps(a, b); }
  static V mul(V a, V b) { return _mm256_mul_ps(a, b); }
  static V div(V a, V b) { return _mm256_div_ps(a, b); }
  static M gt(V a, V b) { return _mm256_cmp_ps(a, b, _CMP_GT_OS); }
  static M lt(V a, V b) { return _mm256_cmp_ps(a, b, _CMP_LT_OS); }
  static V blend(V f, V t, M m) { return _mm256_blendv_ps(f, t, m); }
  static V maskz(M m, V t) { return _mm256_and_ps(m, t); }
  static V eqv(V a, V b) { return _mm256_cmp_ps(a, b, _CMP_EQ_OQ); }
  template <int I>
  static V laneOf(V v) { return _mm256_shuffle_ps(v, v, I * 0x55); }
  static V orv(V a, V b) { return _mm256_or_ps(a, b); }
  static V andv(V a, V b) { return _mm256_and_ps(a, b); }
  static V andnotv(V a, V b) { return _mm256_andnot_ps(a, b); }
  static M toMask(V v) { return v; }
  template <int S>
  static V align(V lo, V hi) {
    if constexpr (S == 0) return lo;
    else return _mm256_castsi256_ps(_mm256_alignr_epi8(_mm256_castps_si256(hi), _mm256_castps_si256(lo), 4 * S));
  }
};
#endif

#if defined(__AVX512F__) && defined(__AVX512BW__) && defined(__AVX512DQ__)
// The zero-masked forms with every lane enabled compile to the plain
// instructions; the plain intrinsics of GCC 12 start from an undefined
// register that its flow analysis reports as uninitialised.
struct X4 {
  static constexpr __mmask16 c_all = 0xFFFF;
  static constexpr int N = 4;
  using V = __m512;
  using M = __mmask16;
  static V load(const __m128* p) { return _mm512_loadu_ps(reinterpret_cast<const float*>(p)); }
  static void store(__m128* p, V v) { _mm512_storeu_ps(reinterpret_cast<float*>(p), v); }
  static V splat(const __m128* p) {
    return _mm512_maskz_broadcast_f32x4(c_all, _mm_loadu_ps(reinterpret_cast<const float*>(p)));
  }
  static V set1(float f) { return _mm512_set1_ps(f); }
  static V zero() { return _mm512_setzero_ps(); }
  static M laneMask(__m128 m) {
    return _mm512_movepi32_mask(_mm512_maskz_broadcast_i32x4(c_all, _mm_castps_si128(m)));
  }
  static V min(V a, V b) { return _mm512_maskz_min_ps(c_all, a, b); }
  static V max(V a, V b) { return _mm512_maskz_max_ps(c_all, a, b); }
  static V add(V a, V b) { return _mm512_add_ps(a, b); }
  static V mul(V a, V b) { return _mm512_mul_ps(a, b); }
  static V div(V a, V b) { return _mm512_div_ps(a, b); }
  static M gt(V a, V b) { return _mm512_cmp_ps_mask(a, b, _CMP_GT_OS); }
  static M lt(V a, V b) { return _mm512_cmp_ps_mask(a, b, _CMP_LT_OS); }
  static V blend(V f, V t, M m) { return _mm512_mask_blend_ps(m, f, t); }
  static V maskz(M m, V t) { return _mm512_maskz_mov_ps(m, t); }
  static V eqv(V a, V b) { return _mm512_castsi512_ps(_mm512_movm_epi32(_mm512_cmp_ps_mask(a, b, _CMP_EQ_OQ))); }
  template <int I>
  static V laneOf(V v) { return _mm512_shuffle_ps(v, v, I * 0x55); }
  static V orv(V a, V b) { return _mm512_or_ps(a, b); }
  static V andv(V a, V b) { return _mm512_and_ps(a, b); }
  static V andnotv(V a, V b) { return _mm512_andnot_ps(a, b); }
  static M toMask(V v) { return _mm512_movepi32_mask(_mm512_castps_si512(v)); }
  template <int S>
  static V align(V lo, V hi) {
    if constexpr (S == 0) return lo;
    else return _mm512_castsi512_ps(_mm512_alignr_epi8(_mm512_castps_si512(hi), _mm512_castps_si512(lo), 4 * S));
  }
};
#endif

using Wide = ORVIK_KERNEL_WIDE;

// Runs body<R>(i) for i = from, from + R::N, ... over [from, to): the wide
// register while a whole group fits, then one vector at a time.
template <class Body>
void columns(int from, int to, Body body) {
  int i = from;
  if constexpr (Wide::N > 1)
    for (; i + Wide::N <= to; i += Wide::N) body.template operator()<Wide>(i);
  for (; i < to; ++i) body.template operator()<X1>(i);
}

// Row offsets of the lanes from the line above (below) the vector's; plain
// constants, so that nothing here runs before the level is chosen.
alignas(16) constexpr float c_stepsDown[4] = {1.0f, 2.0f, 3.0f, 4.0f};
alignas(16) constexpr float c_stepsUp[4] = {4.0f, 3.0f, 2.0f, 1.0f};

// ---------------------------------------------------------------------------
// Median rule

// One exchange of neighbours: the larger value moves right. A strict
// greater-than exchanges, so equal values and NaN stay where they are.
template <class R>
inline void exchange(typename R::V& a, typename R::V& b) {
  const typename R::V lo = R::min(b, a);  // b < a ? b : a
  b = R::max(a, b);                       // a > b ? a : b
  a = lo;
}

// The middle element after the passes. The second pass only matters up to the
// middle position, and only in the lanes whose first pass exchanged its last
// pair.
template <class R, int N>
inline typename R::V exchangeMedian(typename R::V (&v)[N]) {
  constexpr int m = N / 2;
  for (int i = 0; i < N - 2; ++i) exchange<R>(v[i], v[i + 1]);
  const typename R::M again = R::gt(v[N - 2], v[N - 1]);
  exchange<R>(v[N - 2], v[N - 1]);
  const typename R::V once = v[m];
  for (int i = 0; i < m; ++i) exchange<R>(v[i], v[i + 1]);
  const typename R::V twice = R::min(v[m + 1], v[m]);
  return R::blend(once, twice, again);
}

// Window r of rows holds rows 4g + lane - H + r of the line's columns. The
// windows are filled a chunk of columns ahead of the medians that read them,
// so that both meet them in the first-level cache; filling never reaches back
// to a column whose median has been written (target may be cur).
template <int H>
void medianLine(const __m128* prev, const __m128* cur, const __m128* next, __m128* target, int xa, int xb,
                __m128 keep, __m128* rows) {
  constexpr int D = 2 * H + 1;
  constexpr int c_chunk = 128;
  const int outputs = xb - xa + 1;
  const std::size_t width = static_cast<std::size_t>(outputs + 2 * H);
  const int first = xa - H;
  auto fill = [&]<class R>(int i) {
    const int x = first + i;
    const typename R::V p = R::load(prev + x), c = R::load(cur + x), n = R::load(next + x);
    if constexpr (H == 2) {
      R::store(rows + i, R::template align<2>(p, c));
      R::store(rows + width + i, R::template align<3>(p, c));
      R::store(rows + 2 * width + i, c);
      R::store(rows + 3 * width + i, R::template align<1>(c, n));
      R::store(rows + 4 * width + i, R::template align<2>(c, n));
    } else {
      R::store(rows + i, R::template align<3>(p, c));
      R::store(rows + width + i, c);
      R::store(rows + 2 * width + i, R::template align<1>(c, n));
    }
  };
  auto median = [&]<class R>(int i) {
    typename R::V v[D * D];
    for (int r = 0; r < D; ++r)
      for (int c = 0; c < D; ++c) v[r * D + c] = R::load(rows + r * width + i + c);
    __m128* t = target + xa + i;
    R::store(t, R::blend(R::load(t), exchangeMedian<R>(v), R::laneMask(keep)));
  };
  int filled = 0;
  for (int i = 0; i < outputs; i += c_chunk) {
    const int end = i + c_chunk < outputs ? i + c_chunk : outputs;
    columns(filled, end + 2 * H, fill);
    filled = end + 2 * H;
    columns(i, end, median);
  }
}

// ---------------------------------------------------------------------------
// Realignment and correlation

template <int S>
void realignRun(const __m128* lo, const __m128* hi, __m128* out, int n) {
  columns(0, n, [&]<class R>(int i) { R::store(out + i, R::template align<S>(R::load(lo + i), R::load(hi + i))); });
}

void realign(const __m128* lo, const __m128* hi, __m128* out, int n, int s) {
  switch (s) {
    case 1: return realignRun<1>(lo, hi, out, n);
    case 2: return realignRun<2>(lo, hi, out, n);
    case 3: return realignRun<3>(lo, hi, out, n);
    default: return realignRun<0>(lo, hi, out, n);
  }
}

void correlate(const CorrelationLine& job) {
  // Eight registers of sums at a time, so that each weight is read once per
  // group; the sum of every output still runs in the one defined order. The
  // job's fields are copied out first: read through the reference, they would
  // be reloaded (and the sums spilled) on every step.
  constexpr int c_block = 8;
  const __m128* const windows = job.windows;
  const std::size_t span = job.span;
  const __m128* const weights = job.weights;
  const int maskColumns = job.columns, maskRows = job.rows;
  __m128* const target = job.target;
  const bool normalise = job.normalise, clearOthers = job.clearOthers;
  auto block = [&]<class R, int K>(int i) {
    typename R::V sum[K];
#pragma GCC unroll 8
    for (int k = 0; k < K; ++k) sum[k] = R::zero();
    const __m128* w = weights;
    for (int c = 0; c < maskColumns; ++c) {
      const __m128* win = windows + i + c;
      for (int r = 0; r < maskRows; ++r, ++w, win += span) {
        const typename R::V weight = R::splat(w);
#pragma GCC unroll 8
        for (int k = 0; k < K; ++k) sum[k] = R::add(sum[k], R::mul(weight, R::load(win + k * R::N)));
      }
    }
    const typename R::M keep = R::laneMask(job.keep);
    const typename R::V divisor = R::splat(&job.divisor);
#pragma GCC unroll 8
    for (int k = 0; k < K; ++k) {
      __m128* t = target + i + k * R::N;
      const typename R::V v = normalise ? R::div(sum[k], divisor) : sum[k];
      R::store(t, clearOthers ? R::maskz(keep, v) : R::blend(R::load(t), v, keep));
    }
  };
  int i = 0;
  for (; i + c_block * Wide::N <= job.count; i += c_block * Wide::N) block.template operator()<Wide, c_block>(i);
  columns(i, job.count, [&]<class R>(int j) { block.template operator()<R, 1>(j); });
}

// ---------------------------------------------------------------------------
// Erosion of small radius

// Level 0 is made a chunk ahead of the levels that widen it, so that both
// passes meet it in the first-level cache; each wider level is the one below
// it with two more columns of level 0, kept in a register.
template <int Reach>
void erosionRunsOf(const ErosionRuns& job) {
  constexpr int c_chunk = 256;
  const __m128* const source = job.source;
  __m128* const l0 = job.levels[0];
  __m128* level[Reach + 1];
  for (int w = 0; w <= Reach; ++w) level[w] = job.levels[w];
  const int count = job.count;
  const float background = job.background;
  const __m128 candidates = job.candidates;
  auto atBackground = [&]<class R>(int i) {
    const typename R::V isBg = R::eqv(R::load(source + i), R::set1(background));
    R::store(l0 + i, R::andv(isBg, R::splat(&candidates)));
  };
  auto widen = [&]<class R>(int i) {
    typename R::V near = R::load(l0 + i);
    for (int w = 1; w <= Reach; ++w) {
      near = R::orv(R::orv(near, R::load(l0 + i - w)), R::load(l0 + i + w));
      R::store(level[w] + i, near);
    }
  };
  int made = 0;
  for (int i = 0; i < count; i += c_chunk) {
    const int end = i + c_chunk < count ? i + c_chunk : count;
    const int ahead = end + Reach < count ? end + Reach : count;
    columns(made, ahead, atBackground);
    made = ahead;
    if constexpr (Reach > 0) columns(i, end, widen);
  }
}

void erosionRuns(const ErosionRuns& job) {
  switch (job.reach) {
    case 1: return erosionRunsOf<1>(job);
    case 2: return erosionRunsOf<2>(job);
    case 3: return erosionRunsOf<3>(job);
    case 4: return erosionRunsOf<4>(job);
    case 5: return erosionRunsOf<5>(job);
    case 6: return erosionRunsOf<6>(job);
    default: return erosionRunsOf<0>(job);
  }
}

// Background in the runs of row offsets Dy .. Rows: the four rows dy below
// the lanes start (dy & 3) rows into line floor(dy / 4) (from) and continue
// into the next (to).
template <class R, int Dy, int Rows>
inline typename R::V nearRows(const __m128* const* from, const __m128* const* to, int i) {
  typename R::V v;
  if constexpr ((Dy & 3) == 0) v = R::load(from[Dy + 7] + i);
  else v = R::template align<(Dy & 3)>(R::load(from[Dy + 7] + i), R::load(to[Dy + 7] + i));
  if constexpr (Dy < Rows) return R::orv(v, nearRows<R, Dy + 1, Rows>(from, to, i));
  else return v;
}

template <int Rows>
void erosionLineOf(const ErosionLine& job) {
  const __m128* from[15] = {};
  const __m128* to[15] = {};
  for (int dy = -Rows; dy <= Rows; ++dy) {
    const int w = job.reachOf[dy + 7], line = (dy >> 2) + 2;
    from[dy + 7] = job.lines[line][w];
    to[dy + 7] = (dy & 3) ? job.lines[line + 1][w] : nullptr;
  }
  __m128* const target = job.target;
  const float background = job.background, newValue = job.newValue;
  const __m128 area = job.area;
  columns(0, job.count, [&]<class R>(int i) {
    typename R::V near = R::zero();
    if constexpr (Rows >= 0) near = nearRows<R, -Rows, Rows>(from, to, i);
    const typename R::V bg = R::set1(background);
    const typename R::V v = R::load(target + i);
    const typename R::V write = R::andnotv(R::eqv(v, bg), R::splat(&area));
    const typename R::V eroded = R::blend(R::set1(newValue), bg, R::toMask(near));
    R::store(target + i, R::blend(v, eroded, R::toMask(write)));
  });
}

void erosionLine(const ErosionLine& job) {
  int rows = -1;
  while (rows < 6 && job.reachOf[rows + 8] >= 0) ++rows;
  switch (rows) {
    case 0: return erosionLineOf<0>(job);
    case 1: return erosionLineOf<1>(job);
    case 2: return erosionLineOf<2>(job);
    case 3: return erosionLineOf<3>(job);
    case 4: return erosionLineOf<4>(job);
    case 5: return erosionLineOf<5>(job);
    case 6: return erosionLineOf<6>(job);
    default: return erosionLineOf<-1>(job);
  }
}

// ---------------------------------------------------------------------------
// Box filter

void boxMeans(const __m128* s, __m128* t, int n) {
  columns(0, n, [&]<class R>(int i) {
    const typename R::V sum = R::add(R::add(R::load(s + i + 1), R::load(s + i)), R::load(s + i - 1));
    R::store(t + i, R::div(sum, R::set1(3.0f)));
  });
}

void boxSums(const __m128* a, const __m128* b, __m128* sums, int n) {
  columns(0, n, [&]<class R>(int i) {
    const typename R::V x = R::load(a + i), y = R::load(b + i);
    const typename R::V sum = R::add(R::add(R::add(x, R::template align<1>(x, y)), R::template align<2>(x, y)),
                                     R::template align<3>(x, y));
    R::store(sums + i, sum);
  });
}

template <int S>
void boxPlaceRun(const __m128* before, const __m128* now, __m128* t, int n, __m128 keep) {
  columns(0, n, [&]<class R>(int i) {
    const typename R::V v = R::template align<S>(R::load(before + i), R::load(now + i));
    R::store(t + i, R::blend(R::load(t + i), v, R::laneMask(keep)));
  });
}

void boxPlace(const __m128* before, const __m128* now, __m128* t, int n, int s, __m128 keep) {
  switch (s) {
    case 1: return boxPlaceRun<1>(before, now, t, n, keep);
    case 2: return boxPlaceRun<2>(before, now, t, n, keep);
    case 3: return boxPlaceRun<3>(before, now, t, n, keep);
    default: return boxPlaceRun<0>(before, now, t, n, keep);
  }
}

// ---------------------------------------------------------------------------
// City-block distance along the columns

void distanceDown(__m128* w, const __m128* above, int n, __m128 inside) {
  columns(0, n, [&]<class R>(int i) {
    const typename R::V inf = R::set1(__builtin_inff()), one = R::set1(1.0f), two = R::set1(2.0f);
    typename R::V v = R::load(w + i);
    v = R::min(v, R::add(R::template align<3>(inf, v), one));
    v = R::min(v, R::add(R::template align<2>(inf, v), two));
    if (above) v = R::min(v, R::add(R::template laneOf<3>(R::load(above + i)), R::splat(reinterpret_cast<const __m128*>(c_stepsDown))));
    R::store(w + i, R::blend(inf, v, R::laneMask(inside)));
  });
}

void distanceUp(__m128* w, const __m128* below, __m128* out, int n, __m128 inside, float fill) {
  columns(0, n, [&]<class R>(int i) {
    const typename R::V inf = R::set1(__builtin_inff()), one = R::set1(1.0f), two = R::set1(2.0f);
    const typename R::M in = R::laneMask(inside);
    typename R::V v = R::load(w + i);
    v = R::min(v, R::add(R::template align<1>(v, inf), one));
    v = R::min(v, R::add(R::template align<2>(v, inf), two));
    if (below) v = R::min(v, R::add(R::template laneOf<0>(R::load(below + i)), R::splat(reinterpret_cast<const __m128*>(c_stepsUp))));
    v = R::blend(inf, v, in);
    R::store(w + i, v);
    const typename R::V reached = R::blend(R::set1(fill), v, R::lt(v, inf));
    R::store(out + i, R::blend(R::load(out + i), reached, in));
  });
}

// ---------------------------------------------------------------------------
// Element-wise operations

template <EValueOp Op>
void valueRun(__m128* p, const __m128* o, int n, float a, float b) {
  columns(0, n, [&]<class R>(int i) {
    const typename R::V v = R::load(p + i);
    typename R::V r;
    if constexpr (Op == EValueOp::Offset) r = R::add(v, R::set1(a));
    else if constexpr (Op == EValueOp::Threshold) r = R::maskz(R::gt(v, R::set1(a)), R::set1(b));
    else if constexpr (Op == EValueOp::ThresholdBelow) r = R::maskz(R::lt(v, R::set1(a)), R::set1(b));
    else if constexpr (Op == EValueOp::Add) r = R::add(v, R::load(o + i));
    else if constexpr (Op == EValueOp::Maximum) r = R::max(R::load(o + i), v);
    else r = R::min(R::load(o + i), v);
    R::store(p + i, r);
  });
}

void values(EValueOp op, __m128* p, const __m128* o, int n, float a, float b) {
  switch (op) {
    case EValueOp::Offset: return valueRun<EValueOp::Offset>(p, o, n, a, b);
    case EValueOp::Threshold: return valueRun<EValueOp::Threshold>(p, o, n, a, b);
    case EValueOp::ThresholdBelow: return valueRun<EValueOp::ThresholdBelow>(p, o, n, a, b);
    case EValueOp::Add: return valueRun<EValueOp::Add>(p, o, n, a, b);
    case EValueOp::Maximum: return valueRun<EValueOp::Maximum>(p, o, n, a, b);
    case EValueOp::Minimum: return valueRun<EValueOp::Minimum>(p, o, n, a, b);
  }
}

template <int S>
void maskRun(const MaskLine& job) {
  const __m128* const lo = job.lo;
  const __m128* const hi = job.hi;
  __m128* const target = job.target;
  columns(0, job.count, [&]<class R>(int i) {
    const typename R::V pad = R::set1(job.pad), value = R::set1(job.value);
    const typename R::V l = lo ? R::blend(R::load(lo + i), pad, R::laneMask(job.padLo)) : pad;
    const typename R::V h = hi ? R::blend(R::load(hi + i), pad, R::laneMask(job.padHi)) : pad;
    const typename R::V t = R::load(target + i);
    const typename R::V below = R::blend(t, value, R::lt(R::template align<S>(l, h), R::set1(job.limit)));
    R::store(target + i, R::blend(t, below, R::laneMask(job.cover)));
  });
}

void maskLine(const MaskLine& job) {
  switch (job.shift) {
    case 1: return maskRun<1>(job);
    case 2: return maskRun<2>(job);
    case 3: return maskRun<3>(job);
    default: return maskRun<0>(job);
  }
}

}  // namespace

constexpr MatrixKernels table(ECpuLevel level) {
  return MatrixKernels{level, &medianLine<1>, &medianLine<2>, &realign, &correlate, &erosionRuns, &erosionLine, &boxMeans, &boxSums, &boxPlace, &distanceDown, &distanceUp, &values, &maskLine};
}

}  // namespace orvik::detail::ORVIK_KERNEL_NS
