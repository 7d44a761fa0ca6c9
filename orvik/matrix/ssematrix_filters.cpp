// Neighbourhood filters of CSSEMatrix: box, cross and median filters, the mask
// filter (optionally over the thread pool), differences, rescaling, step
// removal and sideways extension.
#include <algorithm>
#include <utility>
#include <vector>

#include "orvik/foundation/ThreadPool.h"
#include "orvik/matrix/Filters.h"
#include "orvik/foundation/SSEPoint.h"
#include "orvik/matrix/ssematrix.h"
#include "orvik/matrix/kernels/MatrixKernels.h"
#include "orvik/matrix/ssematrix_lanes.h"

using orvik::detail::alignLanes;
using orvik::detail::rowRangeMask;
using orvik::detail::VectorBuffer;

namespace {

// Outputs are made a chunk of columns at a time, so that the row windows of a
// chunk (about 24 KB) stay in the first-level cache between being aligned and
// being summed; a multiple of 32 columns keeps the widest register busy.
int correlationChunk(const CSSEMatrix& mask) {
  constexpr int c_windowVectors = 1536;
  return std::max(32, (c_windowVectors / mask.GetSizeY() - mask.GetSizeX()) & ~31);
}

// Correlates src with mask into the columns xFirst .. xLast of dst (the size
// of src) wherever the mask lies wholly inside src. The other elements of
// those columns keep their values, or become 0.0 with clearOutside (every
// lane, as a cleared band would give them). For every output the sum runs
// over mask columns, then mask rows, in increasing order: the same order
// whatever the band or the number of threads.
struct CorrelationScratch {
  // Room for the weights and the row windows of a chunk of a band of `columns` columns.
  CorrelationScratch(const CSSEMatrix& mask, int columns)
      : chunk(std::min(columns, correlationChunk(mask))),
        weights(static_cast<std::size_t>(mask.GetSizeX()) * mask.GetSizeY()),
        windows(static_cast<std::size_t>(mask.GetSizeY()) * (chunk + mask.GetSizeX())),
        zeros(static_cast<std::size_t>(chunk) + mask.GetSizeX()) {
    for (std::size_t i = 0; i < zeros.size(); ++i) zeros[i] = _mm_setzero_ps();
  }
  int chunk;
  VectorBuffer weights, windows;
  VectorBuffer zeros;  // stands in for the lines above and below the matrix
};

void correlate(const CSSEMatrix& src, CSSEMatrix& dst, const CSSEMatrix& mask, bool normalise,
               float weightSum, int xFirst, int xLast, bool clearOutside, CorrelationScratch& scratch) {
  const int mW = mask.GetSizeX(), mH = mask.GetSizeY();
  const int hW = (mW - 1) / 2, hH = (mH - 1) / 2;
  const int sizeX = src.GetSizeX(), sizeY = src.GetSizeY(), lines = src.GetSSESizeY();
  const int outY0 = hH, outY1 = sizeY - mH + hH;  // inclusive
  const int outX0 = std::max(hW, xFirst), outX1 = std::min(sizeX - mW + hW, xLast);
  __m128** out = dst.GetMatrixDataDirectly();
  const __m128 zero = _mm_setzero_ps();
  if (outX1 < outX0 || outY1 < outY0) {
    if (clearOutside)
      for (int g = 0; g < lines; ++g)
        for (int x = xFirst; x <= xLast; ++x) out[g][x] = zero;
    return;
  }

  VectorBuffer& weights = scratch.weights;
  for (int i = 0; i < mW; ++i)
    for (int j = 0; j < mH; ++j) weights[i * mH + j] = _mm_set1_ps(mask.GetPointUnsafe(i, j));
  const __m128 divisor = _mm_set1_ps(weightSum);
  VectorBuffer& windows = scratch.windows;
  const __m128* const* in = src.GetMatrixDataDirectly();
  const auto& kernels = orvik::detail::matrixKernels();

  if (clearOutside)
    for (int g = 0; g < lines; ++g) {
      for (int x = xFirst; x < outX0; ++x) out[g][x] = zero;
      for (int x = outX1 + 1; x <= xLast; ++x) out[g][x] = zero;
      if (4 * g + 3 < outY0 || 4 * g > outY1)
        for (int x = outX0; x <= outX1; ++x) out[g][x] = zero;
    }
  for (int h = outY0 >> 2; h <= outY1 >> 2; ++h) {
    const __m128 keep = rowRangeMask(h, outY0, outY1 + 1);
    for (int x0 = outX0; x0 <= outX1; x0 += scratch.chunk) {
      const int count = std::min(scratch.chunk, outX1 - x0 + 1);
      // Window j holds the source rows 4h - hH + j + lane of the columns the
      // chunk's outputs reach, so that lane l of every window belongs to
      // output row 4h + l.
      const int srcFirst = x0 - hW, span = count + mW - 1;
      for (int j = 0; j < mH; ++j) {
        const int top = 4 * h - hH + j;
        const int q = top >= 0 ? top >> 2 : -((-top + 3) >> 2);
        const int s = top - 4 * q;
        const __m128* lo = q >= 0 && q < lines ? in[q] + srcFirst : scratch.zeros.data();
        const __m128* hi = q + 1 >= 0 && q + 1 < lines ? in[q + 1] + srcFirst : scratch.zeros.data();
        kernels.realign(lo, hi, &windows[static_cast<std::size_t>(j) * span], span, s);
      }
      orvik::detail::CorrelationLine job{windows.data(), static_cast<std::size_t>(span), weights.data(), mW, mH,
                                         out[h] + x0, count, normalise, divisor, keep, clearOutside};
      kernels.correlate(job);
    }
  }
}

// Cross maximum (or minimum) of m into `result`, a cleared matrix of the
// same size; false when there is nothing to filter.
template <bool Max>
bool crossFilter(const CSSEMatrix& m, CSSEMatrix& result) {
  if (!m.HasMemory() || m.IsEmpty()) return false;
  const int sizeX = m.GetSizeX(), sizeY = m.GetSizeY(), lines = m.GetSSESizeY();
  result.Create(sizeX, sizeY);
  const __m128* const* in = m.GetMatrixDataDirectly();
  __m128** out = result.GetMatrixDataDirectly();
  for (int g = 0; sizeY > 2 && g <= (sizeY - 2) >> 2; ++g) {
    const __m128 keep = rowRangeMask(g, 1, sizeY - 1);
    const __m128* prev = in[g > 0 ? g - 1 : g];
    const __m128* cur = in[g];
    const __m128* next = in[g + 1 < lines ? g + 1 : g];
    for (int x = 1; x < sizeX - 1; ++x) {
      const __m128 up = alignLanes(prev[x], cur[x], 3);
      const __m128 down = alignLanes(cur[x], next[x], 1);
      __m128 v;
      if constexpr (Max) {
        const __m128 n = _mm_max_ps(_mm_max_ps(_mm_max_ps(up, down), cur[x - 1]), cur[x + 1]);
        v = _mm_max_ps(n, cur[x]);  // n > value ? n : value
      } else {
        const __m128 n = _mm_min_ps(_mm_min_ps(_mm_min_ps(up, down), cur[x - 1]), cur[x + 1]);
        v = _mm_min_ps(n, cur[x]);  // n < value ? n : value
      }
      out[g][x] = _mm_and_ps(v, keep);
    }
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Box, cross and median filters

void CSSEMatrix::BoxFilter(CSSEMatrix& src, bool shiftDown) {
  if (&src == this) {
    // Both passes read the unfiltered source.
    CSSEMatrix copy(src);
    BoxFilter(copy, shiftDown);
    return;
  }
  if (!HasMemory() || !src.HasMemory()) return;
  const int lines = std::min(m_iSSESizeY, src.m_iSSESizeY);
  const int width = std::min(m_iSizeX, src.m_iSizeX);
  const auto& kernels = orvik::detail::matrixKernels();
  for (int g = 0; width > 2 && g < lines; ++g) kernels.boxMeans(src.m_ppLines[g] + 1, m_ppLines[g] + 1, width - 2);
  if (lines < 2 || m_iSizeY < 1) return;

  // Vertical pass: the sum S(r) of source rows r .. r+3, r = 0 .. 4*lines-5,
  // lands on row r + shift. sums[g] holds S(4g + lane); output line h takes
  // the window of sums starting at row 4h - shift.
  const int shift = shiftDown ? 2 : 1;
  const int lastR = 4 * lines - 5;
  VectorBuffer before(width), now(width);
  const __m128 zero = _mm_setzero_ps();
  for (int h = 0; h < lines; ++h) {
    if (h <= lines - 2)
      kernels.boxSums(src.m_ppLines[h], src.m_ppLines[h + 1], now.data(), width);
    else
      std::fill(now.data(), now.data() + width, zero);
    const __m128 keep = rowRangeMask(h, shift, std::min(lastR + shift, m_iSizeY - 1) + 1);
    if (_mm_movemask_ps(keep)) kernels.boxPlace(before.data(), now.data(), m_ppLines[h], width, 4 - shift, keep);
    before.swap(now);
  }
  // Writes below the last row are clamped onto it; the last of them wins.
  if (lastR + shift >= m_iSizeY - 1) {
    for (int x = 0; x < width; ++x) {
      const float v = ((src.GetPointUnsafe(x, lastR) + src.GetPointUnsafe(x, lastR + 1)) +
                       src.GetPointUnsafe(x, lastR + 2)) +
                      src.GetPointUnsafe(x, lastR + 3);
      SetPointUnsafe(x, m_iSizeY - 1, v);
    }
  }
}

void CSSEMatrix::SimpleMaximumFilter() {
  CSSEMatrix result;
  if (crossFilter<true>(*this, result)) copyValuesFrom(result);
}

void CSSEMatrix::SimpleMinimumFilter() {
  CSSEMatrix result;
  if (crossFilter<false>(*this, result)) copyValuesFrom(result);
}

// SimpleMedianFilter is defined in Filters.cpp, beside the median kernel.

// ---------------------------------------------------------------------------
// Mask filter

// A band is a range of whole columns of the result. Its task reads the
// target over the band plus the halo its mask reaches on either side (hW
// columns to the left, mW - 1 - hW to the right: one more than hW for even
// widths) and writes only the band's columns of the result, so bands need no
// copies and no lock.
class CSSEMatrix::QeTaskMaskFilterMatrix : public CbTask {
 public:
  // The scratch is allocated by the caller, before any task runs: a band
  // cannot fail half-way and leave the result partly written.
  QeTaskMaskFilterMatrix(const CSSEMatrix* mask, const CSSEMatrix* source, CSSEMatrix* result, int first,
                         int last, bool normalise, float weightSum)
      : m_pMask(mask),
        m_pSource(source),
        m_pResult(result),
        m_iFirst(first),
        m_iLast(last),
        m_bNormalise(normalise),
        m_fWeightSum(weightSum),
        m_scratch(*mask, last - first + 1) {}
  ~QeTaskMaskFilterMatrix() override = default;

  // Nothing in the work allocates or throws; should it ever, the pool records
  // it (HasFailed) and the caller filters the band itself.
  void Execute() override { FilterBand(); }
  void FilterBand() {
    correlate(*m_pSource, *m_pResult, *m_pMask, m_bNormalise, m_fWeightSum, m_iFirst, m_iLast, true,
              m_scratch);
  }

 private:
  const CSSEMatrix* m_pMask;
  const CSSEMatrix* m_pSource;
  CSSEMatrix* m_pResult;
  std::int32_t m_iFirst;
  std::int32_t m_iLast;
  bool m_bNormalise;
  float m_fWeightSum;
  CorrelationScratch m_scratch;
};

void CSSEMatrix::MaskFilter(CSSEMatrix& result, CSSEMatrix& mask, bool normalise, bool multiThreaded) {
  if (!HasMemory() || !mask.HasMemory()) return;
  const int mW = mask.GetSizeX(), mH = mask.GetSizeY();
  if (mW >= m_iSizeX || mH >= m_iSizeY || mW < 1 || mH < 1) return;
  if (&result == this || &mask == &result) {
    // The filter reads the unfiltered target (and mask) throughout.
    CSSEMatrix source(*this), weights(mask);
    source.MaskFilter(result, weights, normalise, multiThreaded);
    return;
  }
  if (!result.HasMemory() || result.GetSizeX() != m_iSizeX || result.GetSizeY() != m_iSizeY)
    result.Create(m_iSizeX, m_iSizeY);

  // Sum of the absolute weights over every lane, spare lanes included.
  __m128 lanes = _mm_setzero_ps();
  for (int g = 0; g < mask.GetSSESizeY(); ++g)
    for (int x = 0; x < mW; ++x) {
      const __m128 m = mask.m_ppLines[g][x];
      lanes = _mm_add_ps(lanes, _mm_sqrt_ps(_mm_mul_ps(m, m)));
    }
  const float weightSum = CSSEFns::internal_addition_of_m128(lanes);

  if (!multiThreaded) {
    CorrelationScratch scratch(mask, m_iSizeX);
    correlate(*this, result, mask, normalise, weightSum, 0, m_iSizeX - 1, false, scratch);
    return;
  }
  const int tasks = std::max(1, std::min(m_iSizeX / mW, CbCPU::GetCount()));
  const int bandWidth = m_iSizeX / tasks;
  std::vector<CbSmartPointer<QeTaskMaskFilterMatrix>> queued;
  queued.reserve(tasks);
  auto& pool = CbSingleton<CbThreadPool>::GetInstance();
  for (int k = 0; k < tasks; ++k) {
    const int first = k * bandWidth, last = k == tasks - 1 ? m_iSizeX - 1 : (k + 1) * bandWidth - 1;
    queued.emplace_back(new QeTaskMaskFilterMatrix(&mask, this, &result, first, last, normalise, weightSum));
  }
  for (auto& task : queued) pool.AddTask(task, 1);
  for (auto& task : queued) task->WaitUntilTerminate(0xFFFFFFFFu);
  for (auto& task : queued)
    if (task->HasFailed()) task->FilterBand();
}

// ---------------------------------------------------------------------------
// Differences, rescaling, steps and extension

void CSSEMatrix::CalcDerivativeX() {
  if (!HasMemory()) return;
  for (int g = 0; g < m_iSSESizeY; ++g) {
    __m128* l = m_ppLines[g];
    for (int x = 0; x < m_iSizeX - 1; ++x) l[x] = _mm_sub_ps(l[x + 1], l[x]);
  }
}

void CSSEMatrix::CalcDerivativeY() {
  if (!HasMemory()) return;
  // With size Y a multiple of 4 the last row is the top lane of the second last
  // line; it has no row below and keeps its value like any other last row.
  const __m128 lastRowKept =
      (m_iSizeY & 3) == 0 ? _mm_castsi128_ps(_mm_setr_epi32(0, 0, 0, -1)) : _mm_setzero_ps();
  for (int g = 0; g < m_iSSESizeY - 1; ++g) {
    __m128* l = m_ppLines[g];
    const __m128* n = m_ppLines[g + 1];
    const __m128 keep = g == m_iSSESizeY - 2 ? lastRowKept : _mm_setzero_ps();
    for (int x = 0; x < m_iSizeX; ++x)
      l[x] = _mm_blendv_ps(_mm_sub_ps(alignLanes(l[x], n[x], 1), l[x]), l[x], keep);
  }
}

void CSSEMatrix::ScaleMatrix(int newSizeX, int newSizeY) {
  if (newSizeX < 1 || newSizeY < 1 || !HasMemory() || IsEmpty()) return;
  const float sx = static_cast<float>(m_iSizeX) / static_cast<float>(newSizeX);
  const float sy = static_cast<float>(m_iSizeY) / static_cast<float>(newSizeY);
  // Every vector of the new matrix is written below, its spare lanes with
  // the old (0, 0) value, so it needs no clearing.
  CSSEMatrix scaled;
  scaled.CreateNoClear(newSizeX, newSizeY);
  const float corner = GetPointUnsafe(0, 0);

  // Per column: the two source columns (clamped) and their weights. The
  // source columns any target column uses are listed once, and col0/col1
  // index that list.
  std::vector<int> col0(newSizeX), col1(newSizeX), used, slotOf(m_iSizeX, -1);
  VectorBuffer wx(newSizeX), wx1(newSizeX);
  auto slot = [&](int column) {
    if (slotOf[column] < 0) {
      slotOf[column] = static_cast<int>(used.size());
      used.push_back(column);
    }
    return slotOf[column];
  };
  for (int x = 0; x < newSizeX; ++x) {
    const float fx = static_cast<float>(x) * sx;
    const int ix = static_cast<int>(fx);
    const float w = fx - static_cast<float>(ix);
    col0[x] = slot(clampX(ix));
    col1[x] = slot(clampX(ix + 1));
    wx[x] = _mm_set1_ps(w);
    wx1[x] = _mm_set1_ps(1.0f - w);
  }
  // The four source rows of a target line, gathered once per used column.
  VectorBuffer topRows(used.size()), bottomRows(used.size());
  for (int h = 0; h < scaled.m_iSSESizeY; ++h) {
    // Lane l is target row 4h + l; spare lanes get the corner value.
    const float* top[4];
    const float* bottom[4];
    alignas(16) float wy[4], wy1[4];
    for (int l = 0; l < 4; ++l) {
      const int y = std::min(4 * h + l, newSizeY - 1);
      const float fy = static_cast<float>(y) * sy;
      const int iy = static_cast<int>(fy);
      wy[l] = fy - static_cast<float>(iy);
      wy1[l] = 1.0f - wy[l];
      top[l] = pointer(0, clampY(iy));
      bottom[l] = pointer(0, clampY(iy + 1));
    }
    for (std::size_t k = 0; k < used.size(); ++k) {
      const int c = 4 * used[k];
      topRows[k] = _mm_setr_ps(top[0][c], top[1][c], top[2][c], top[3][c]);
      bottomRows[k] = _mm_setr_ps(bottom[0][c], bottom[1][c], bottom[2][c], bottom[3][c]);
    }
    const __m128 wyv = _mm_load_ps(wy), wy1v = _mm_load_ps(wy1);
    const __m128 keep = rowRangeMask(h, 0, newSizeY);
    const __m128 fill = _mm_set1_ps(corner);
    __m128* out = scaled.m_ppLines[h];
    for (int x = 0; x < newSizeX; ++x) {
      const int c0 = col0[x], c1 = col1[x];
      const __m128 a = topRows[c1];
      const __m128 b = topRows[c0];
      const __m128 c = bottomRows[c0];
      const __m128 d = bottomRows[c1];
      const __m128 v = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_mul_ps(a, wx[x]), wy1v),
                                                        _mm_mul_ps(_mm_mul_ps(wx1[x], b), wy1v)),
                                             _mm_mul_ps(_mm_mul_ps(wx1[x], c), wyv)),
                                  _mm_mul_ps(_mm_mul_ps(d, wx[x]), wyv));
      out[x] = _mm_blendv_ps(fill, v, keep);
    }
  }
  takeMemoryFrom(scaled);
}

// Forward mapping of source cells cannot reach every target element when
// shrinking, so the vector form samples each target element as ScaleMatrix does.
void CSSEMatrix::ScaleMatrix_SSE(int newSizeX, int newSizeY) { ScaleMatrix(newSizeX, newSizeY); }

void CSSEMatrix::RemoveDownStepsX(float step, float value) {
  if (!HasMemory() || m_iSizeX < 1) return;
  const __m128 s = _mm_set1_ps(step), v = _mm_set1_ps(value);
  for (int g = 0; g < m_iSSESizeY; ++g) {
    __m128* l = m_ppLines[g];
    __m128 ref = l[0];
    for (int x = 1; x < m_iSizeX; ++x) {
      const __m128 e = l[x];
      const __m128 down = _mm_cmpgt_ps(_mm_sub_ps(ref, s), e);
      l[x] = _mm_blendv_ps(e, v, down);
      ref = _mm_blendv_ps(e, ref, down);
    }
  }
}

void CSSEMatrix::RemoveUpStepsX(float step, float value) {
  if (!HasMemory() || m_iSizeX < 1) return;
  const __m128 s = _mm_set1_ps(step), v = _mm_set1_ps(value);
  for (int g = 0; g < m_iSSESizeY; ++g) {
    __m128* l = m_ppLines[g];
    __m128 ref = l[m_iSizeX - 1];
    for (int x = m_iSizeX - 2; x >= 0; --x) {
      const __m128 e = l[x];
      const __m128 down = _mm_cmpgt_ps(_mm_sub_ps(ref, s), e);
      l[x] = _mm_blendv_ps(e, v, down);
      ref = _mm_blendv_ps(e, ref, down);
    }
  }
}

namespace {
// m widened by n columns into `wide`; false when nothing changes.
bool elongate(const CSSEMatrix& m, int n, bool left, CSSEMatrix& wide) {
  if (n < 0 || !m.HasMemory() || m.IsEmpty()) return false;
  wide.CreateNoClear(m.GetSizeX() + n, m.GetSizeY());
  wide.Fill(m.GetPointUnsafe(left ? 0 : m.GetSizeX() - 1, 0));
  const int offset = left ? n : 0;
  for (int g = 0; g < m.GetSSESizeY(); ++g) {
    const __m128* from = m.GetMatrixDataDirectly()[g];
    std::copy(from, from + m.GetSizeX(), wide.GetMatrixDataDirectly()[g] + offset);
  }
  return true;
}
}  // namespace

void CSSEMatrix::ElongateLeft(int n) {
  CSSEMatrix wide;
  if (elongate(*this, n, true, wide)) takeMemoryFrom(wide);
}

void CSSEMatrix::ElongateRight(int n) {
  CSSEMatrix wide;
  if (elongate(*this, n, false, wide)) takeMemoryFrom(wide);
}
