#pragma once
// The hot inner loops of the height-field operations, one table of them per
// instruction-set level. The SSE4.1 table is the reference; the AVX2 and
// AVX-512 tables run the same operations, in the same order, on two or four
// SSE vectors (columns) per register, so their results are the same bit for
// bit. Each table lives in its own translation unit compiled for its level;
// matrixKernels() picks the one for the level in effect. Not part of the
// public interface.
#include <immintrin.h>

#include <cstddef>

#include "orvik/foundation/CpuLevel.h"

namespace orvik::detail {

// One output line of the correlation: output i (0 .. count-1) is the sum,
// mask columns outer and mask rows inner, of weights[c * rows + r] times
// windows[r * span + i + c].
struct CorrelationLine {
  const __m128* windows;
  std::size_t span;
  const __m128* weights;  // every lane holds the weight
  int columns, rows;      // of the mask
  __m128* target;
  int count;
  bool normalise;      // divide the sum by divisor
  __m128 divisor;
  __m128 keep;         // lanes that take the result
  bool clearOthers;    // the other lanes become 0, else keep their values
};

// Background runs of one SSE line for the erosion of small radius: levels[0]
// gets the lanes equal to background (and in the candidate rows), levels[w]
// (w = 1 .. reach) those with such a lane within w columns. levels[0] has
// reach vectors of 0.0 before and after its count. reach is at most 6.
struct ErosionRuns {
  const __m128* source;
  __m128* const* levels;
  int count;
  int reach;
  float background;
  __m128 candidates;  // all-ones lanes: rows whose background counts
};

// The erosion of one SSE line from the runs of the two lines above, of the
// line itself and of the two below it (lines[0 .. 4]): an element of target
// in the area lanes that is not background becomes background when the runs
// of some row offset dy (-7 .. 7) with reachOf[dy + 7] >= 0 hold background
// at that level, else newValue. The offsets that reach are |dy| <= some K,
// and K is at most 6.
struct ErosionLine {
  const __m128* const* lines[5];
  int reachOf[15];
  __m128* target;
  int count;
  float background, newValue;
  __m128 area;  // all-ones lanes: rows of the area
};

// One SSE line of the masking by another matrix: the mask rows under its
// lanes are the four rows starting shift rows into lo and continuing into hi;
// a null line, and the lanes of padLo (padHi), read as pad. An element of
// target in the cover lanes whose mask value is below limit becomes value.
struct MaskLine {
  const __m128* lo;
  const __m128* hi;
  __m128 padLo, padHi, cover;
  __m128* target;
  int count, shift;
  float pad, value, limit;
};

// Element-wise operations on one run of vectors; a, b and c are parameters
// held in every lane.
enum class EValueOp {
  Offset,          // v + a
  Threshold,       // v > a ? b : 0
  ThresholdBelow,  // v < a ? b : 0
  Add,             // v + o
  Maximum,         // max(o, v), v on equality or NaN
  Minimum,         // min(o, v), v on equality or NaN
};

struct MatrixKernels {
  ECpuLevel level;
  // Median rule of the 3x3 (5x5) window of every column xa .. xb of an SSE
  // line, from the lines above (prev), at (cur) and below (next), into target
  // in the lanes of keep; target's other lanes keep their values. rows is
  // scratch of D * (xb - xa + 1 + 2H) vectors; when the call returns, window
  // H of it holds the columns xa - H .. xb + H of cur. Everything is read
  // before target is written, so target may be cur.
  void (*median3)(const __m128* prev, const __m128* cur, const __m128* next, __m128* target, int xa, int xb,
                  __m128 keep, __m128* rows);
  void (*median5)(const __m128* prev, const __m128* cur, const __m128* next, __m128* target, int xa, int xb,
                  __m128 keep, __m128* rows);
  // out[x] = the four rows starting s rows (0 .. 3) into lo[x] and
  // continuing into hi[x], x = 0 .. n-1.
  void (*realign)(const __m128* lo, const __m128* hi, __m128* out, int n, int s);
  void (*correlate)(const CorrelationLine& line);
  void (*erosionRuns)(const ErosionRuns& job);
  void (*erosionLine)(const ErosionLine& job);
  // The box filter: t[i] = ((s[i+1] + s[i]) + s[i-1]) / 3; the sums of the
  // four rows starting at each lane of a (continuing into b); and t = the four
  // rows starting s rows into before (continuing into now) in the lanes of keep.
  void (*boxMeans)(const __m128* s, __m128* t, int n);
  void (*boxSums)(const __m128* a, const __m128* b, __m128* sums, int n);
  void (*boxPlace)(const __m128* before, const __m128* now, __m128* t, int n, int s, __m128 keep);
  // The city-block distance along the columns of one SSE line of work
  // (distances along the rows, infinity for none): down carries the line above
  // into the four lanes, up the line below, and up also writes the distance,
  // or fill where none is finite, into the inside lanes of out.
  void (*distanceDown)(__m128* work, const __m128* above, int n, __m128 inside);
  void (*distanceUp)(__m128* work, const __m128* below, __m128* out, int n, __m128 inside, float fill);
  // p[0 .. n-1] = op(p, o); o is only read by the two-matrix operations.
  void (*values)(EValueOp op, __m128* p, const __m128* o, int n, float a, float b);
  void (*maskLine)(const MaskLine& job);
};

extern const MatrixKernels g_sse41Kernels;
extern const MatrixKernels g_avx2Kernels;
extern const MatrixKernels g_avx512Kernels;

// The table of the given level, or of the level in effect.
const MatrixKernels& matrixKernels(ECpuLevel level);
const MatrixKernels& matrixKernels();

}  // namespace orvik::detail
