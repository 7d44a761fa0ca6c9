// Masks, cropping and in-painting for the difference coding: they make an entry
// and its reference comparable when their sizes differ or when either holds
// cells without data.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "orvik/matrix/ssematrix_lanes.h"
#include "orvik/storage/SSEMatrixLibrary.h"

using orvik::detail::rowRangeMask;
using orvik::detail::select;

namespace {

constexpr int c_iBlockSize = 8;
constexpr unsigned int c_uiBlockIterations = 50;

bool sameSize(const CSSEMatrix& a, const CSSEMatrix& b) {
  return a.GetSizeX() == b.GetSizeX() && a.GetSizeY() == b.GetSizeY();
}

bool marked(const CSSEMatrix& mask, int x, int y) { return mask.GetPointUnsafe(x, y) != 0.0f; }

// out := value(g, x) over the logical rows; the spare lanes below the last row
// keep what `out` held. `out` has the size of the inputs that value() reads.
template <class Value>
void writeLogical(CSSEMatrix& out, Value value) {
  __m128** lines = out.GetMatrixDataDirectly();
  for (int g = 0; g < out.GetSSESizeY(); ++g) {
    const __m128 rows = rowRangeMask(g, 0, out.GetSizeY());
    for (int x = 0; x < out.GetSizeX(); ++x) {
      float* p = reinterpret_cast<float*>(lines[g] + x);
      _mm_store_ps(p, select(rows, value(g, x), _mm_load_ps(p)));
    }
  }
}

__m128 at(const CSSEMatrix& m, int g, int x) {
  return _mm_load_ps(reinterpret_cast<const float*>(m.GetMatrixDataDirectly()[g] + x));
}

void createLike(const CSSEMatrix& input, CSSEMatrix& result) {
  if (!sameSize(input, result) || !result.HasMemory()) result.Create(input.GetSizeX(), input.GetSizeY());
}

// 0.0 where the masks agree, 1.0 where they differ: the cells whose validity
// changed between reference and entry.
void differenceMask(const CSSEMatrix& a, const CSSEMatrix& b, CSSEMatrix& result) {
  createLike(a, result);
  const __m128 one = _mm_set1_ps(1.0f);
  writeLogical(result,
               [&](int g, int x) { return _mm_and_ps(_mm_cmpneq_ps(at(a, g, x), at(b, g, x)), one); });
}

// Region x0 <= x < x1, y0 <= y < y1 clamped to the matrix.
struct Region {
  int x0, x1, y0, y1;
  Region(const CSSEMatrix& m, int xa, int xb, int ya, int yb)
      : x0(std::max(xa, 0)),
        x1(std::min(xb, m.GetSizeX())),
        y0(std::max(ya, 0)),
        y1(std::min(yb, m.GetSizeY())) {}
  bool empty() const { return x0 >= x1 || y0 >= y1; }
  int width() const { return x1 - x0; }
};

// Every marked cell of the region takes the mean of its unmarked cells (summed
// in double: a float sum of values near the float limit overflows); without
// any unmarked cell nothing changes.
void fillWithMeanOfUnmarked(CSSEMatrix& matrix, const CSSEMatrix& mask, const Region& r) {
  double sum = 0.0;
  std::size_t count = 0;
  for (int y = r.y0; y < r.y1; ++y)
    for (int x = r.x0; x < r.x1; ++x)
      if (!marked(mask, x, y)) {
        sum += matrix.GetPointUnsafe(x, y);
        ++count;
      }
  if (count == 0) return;
  const auto mean = static_cast<float>(sum / static_cast<double>(count));
  for (int y = r.y0; y < r.y1; ++y)
    for (int x = r.x0; x < r.x1; ++x)
      if (marked(mask, x, y)) matrix.SetPointUnsafe(x, y, mean);
}

// The Jacobi iterations of the in-painting on the marked cells alone: each
// marked cell keeps the indices of its marked neighbours and the sum of its
// unmarked ones, which never change. The scratch arrays are kept so that many
// small regions (the blocks of smoothBlock) reuse one allocation.
class CInpainting {
 public:
  void run(CSSEMatrix& matrix, const CSSEMatrix& mask, unsigned int iterations, const Region& r) {
    index(matrix, mask, r);
    const std::size_t n = m_cells.size();
    if (n == 0) return;
    m_next.assign(n + 1, 0.0f);  // slot n stands in for a missing marked neighbour and stays 0
    for (unsigned int i = 0; i < iterations; ++i) {
      const float* src = m_values.data();
      float* dst = m_next.data();
      for (std::size_t k = 0; k < n; ++k) {
        const SCell& c = m_cells[k];
        const double sum = c.unmarkedSum + src[c.neighbours[0]] + src[c.neighbours[1]] +
                           src[c.neighbours[2]] + src[c.neighbours[3]];
        dst[k] = c.count ? static_cast<float>(sum / c.count) : 0.0f;
      }
      m_values.swap(m_next);
    }
    std::size_t k = 0;
    for (int y = r.y0; y < r.y1; ++y)
      for (int x = r.x0; x < r.x1; ++x)
        if (marked(mask, x, y)) matrix.SetPointUnsafe(x, y, m_values[k++]);
  }

 private:
  struct SCell {
    std::int32_t neighbours[4];
    std::int32_t count;  // neighbours inside the region
    double unmarkedSum;
  };

  // Numbers the marked cells row by row and links each to its marked
  // neighbours; a row of indices per line of the region finds the cell above.
  void index(const CSSEMatrix& matrix, const CSSEMatrix& mask, const Region& r) {
    m_cells.clear();
    m_values.clear();
    m_above.assign(r.width(), -1);
    m_row.assign(r.width(), -1);
    for (int y = r.y0; y < r.y1; ++y) {
      for (int x = r.x0; x < r.x1; ++x) {
        const int c = x - r.x0;
        if (!marked(mask, x, y)) {
          m_row[c] = -1;
          continue;
        }
        const auto k = static_cast<std::int32_t>(m_cells.size());
        m_row[c] = k;
        SCell cell{{-1, -1, -1, -1}, 0, 0.0};
        // Marked neighbours to the left and above are numbered already and are
        // linked both ways; those to the right and below link back to this
        // cell when their turn comes.
        const int nx[4] = {x - 1, x + 1, x, x}, ny[4] = {y, y, y - 1, y + 1};
        for (int i = 0; i < 4; ++i) {
          if (nx[i] < r.x0 || nx[i] >= r.x1 || ny[i] < r.y0 || ny[i] >= r.y1) continue;
          ++cell.count;
          if (!marked(mask, nx[i], ny[i])) {
            cell.unmarkedSum += matrix.GetPointUnsafe(nx[i], ny[i]);
          } else if (i == 0 || i == 2) {
            const std::int32_t other = i == 0 ? m_row[c - 1] : m_above[c];
            link(cell, other);
            link(m_cells[other], k);
          }
        }
        m_cells.push_back(cell);
        m_values.push_back(matrix.GetPointUnsafe(x, y));
      }
      m_above.swap(m_row);
    }
    const auto sentinel = static_cast<std::int32_t>(m_cells.size());
    for (SCell& cell : m_cells)
      for (std::int32_t& nk : cell.neighbours)
        if (nk < 0) nk = sentinel;
    m_values.push_back(0.0f);
  }

  static void link(SCell& cell, std::int32_t k) {
    for (std::int32_t& nk : cell.neighbours)
      if (nk < 0) {
        nk = k;
        return;
      }
  }

  std::vector<SCell> m_cells;
  std::vector<float> m_values, m_next;
  std::vector<std::int32_t> m_above, m_row;
};

}  // namespace

void UxCSSEMatrixLibrary::createMask(const CSSEMatrix& source, CSSEMatrix& mask, float value) {
  createLike(source, mask);
  const __m128 v = _mm_set1_ps(value), one = _mm_set1_ps(1.0f);
  writeLogical(mask, [&](int g, int x) { return _mm_and_ps(_mm_cmpeq_ps(at(source, g, x), v), one); });
}

bool UxCSSEMatrixLibrary::applyMask(CSSEMatrix& matrix, const CSSEMatrix& mask, float value) {
  if (!sameSize(matrix, mask)) return false;
  const __m128 v = _mm_set1_ps(value), zero = _mm_setzero_ps();
  writeLogical(
      matrix, [&](int g, int x) { return select(_mm_cmpneq_ps(at(mask, g, x), zero), v, at(matrix, g, x)); });
  return true;
}

bool UxCSSEMatrixLibrary::assembleMatrix(const CSSEMatrix& fallback, const CSSEMatrix& primary,
                                         CSSEMatrix& result, float special) {
  if (!sameSize(fallback, primary)) return false;
  // The result may be one of the inputs: every vector is read before it is written.
  createLike(primary, result);
  const __m128 s = _mm_set1_ps(special);
  writeLogical(result, [&](int g, int x) {
    const __m128 p = at(primary, g, x);
    return select(_mm_cmpeq_ps(p, s), at(fallback, g, x), p);
  });
  return true;
}

bool UxCSSEMatrixLibrary::enforceMatrixSize(CSSEMatrix& matrix, int sizeX, int sizeY, const float* fill) {
  const int oldX = matrix.GetSizeX(), oldY = matrix.GetSizeY();
  if (sizeX == oldX && sizeY == oldY) return true;
  if (sizeX < 0 || sizeY < 0) return false;
  CSSEMatrix result, added;
  result.Create(sizeX, sizeY);
  added.Create(sizeX, sizeY);
  // Target (x, y) reads (x - sizeX/2 + oldX/2, y - sizeY/2 + oldY/2): the centres meet.
  const int dx = oldX / 2 - sizeX / 2, dy = oldY / 2 - sizeY / 2;
  for (int y = 0; y < sizeY; ++y) {
    const int sy = y + dy;
    for (int x = 0; x < sizeX; ++x) {
      const int sx = x + dx;
      if (sy >= 0 && sy < oldY && sx >= 0 && sx < oldX && matrix.HasMemory()) {
        result.SetPointUnsafe(x, y, matrix.GetPointUnsafe(sx, sy));
      } else {
        added.SetPointUnsafe(x, y, 1.0f);
        if (fill) result.SetPointUnsafe(x, y, *fill);
      }
    }
  }
  if (!fill && !smooth(result, added, c_iNumberOfSmoothingIterations, true)) return false;
  matrix.takeMemoryFrom(result);
  return true;
}

bool UxCSSEMatrixLibrary::extrapolate(CSSEMatrix& matrix, CSSEMatrix& mask, bool alongX, bool forward, int x0,
                                      int x1, int y0, int y1) {
  if (!sameSize(matrix, mask)) return false;
  const Region r(matrix, x0, x1, y0, y1);
  if (r.empty()) return true;
  auto step = [&](int x, int y, bool& carrying, float& carried) {
    if (!marked(mask, x, y)) {
      carried = matrix.GetPointUnsafe(x, y);
      carrying = true;
    } else if (carrying) {
      matrix.SetPointUnsafe(x, y, carried);
      mask.SetPointUnsafe(x, y, 0.0f);
    }
  };
  if (alongX) {
    for (int y = r.y0; y < r.y1; ++y) {
      bool carrying = false;
      float carried = 0.0f;
      if (forward)
        for (int x = r.x0; x < r.x1; ++x) step(x, y, carrying, carried);
      else
        for (int x = r.x1 - 1; x >= r.x0; --x) step(x, y, carrying, carried);
    }
    return true;
  }
  // Columns are walked together, row after row, so that memory is read in the
  // order it lies rather than one SSE line per step.
  std::vector<char> carrying(r.width(), 0);
  std::vector<float> carried(r.width(), 0.0f);
  for (int i = 0; i < r.y1 - r.y0; ++i) {
    const int y = forward ? r.y0 + i : r.y1 - 1 - i;
    for (int x = r.x0; x < r.x1; ++x) {
      bool c = carrying[x - r.x0];
      step(x, y, c, carried[x - r.x0]);
      carrying[x - r.x0] = c;
    }
  }
  return true;
}

bool UxCSSEMatrixLibrary::smooth(CSSEMatrix& matrix, const CSSEMatrix& mask, unsigned int iterations,
                                 bool extrapolateFirst, int x0, int x1, int y0, int y1) {
  if (!sameSize(matrix, mask)) return false;
  const Region r(matrix, x0, x1, y0, y1);
  if (r.empty()) return true;
  if (extrapolateFirst) {
    CSSEMatrix reached(mask);
    extrapolate(matrix, reached, true, true, r.x0, r.x1, r.y0, r.y1);
    extrapolate(matrix, reached, true, false, r.x0, r.x1, r.y0, r.y1);
    extrapolate(matrix, reached, false, true, r.x0, r.x1, r.y0, r.y1);
    extrapolate(matrix, reached, false, false, r.x0, r.x1, r.y0, r.y1);
  } else {
    fillWithMeanOfUnmarked(matrix, mask, r);
  }
  CInpainting().run(matrix, mask, iterations, r);
  return true;
}

bool UxCSSEMatrixLibrary::smooth(CSSEMatrix& matrix, const CSSEMatrix& mask, unsigned int iterations,
                                 bool extrapolateFirst) {
  return smooth(matrix, mask, iterations, extrapolateFirst, 0, matrix.GetSizeX(), 0, matrix.GetSizeY());
}

bool UxCSSEMatrixLibrary::smoothBlock(CSSEMatrix& matrix, const CSSEMatrix& mask) {
  if (!sameSize(matrix, mask)) return false;
  const Region whole(matrix, 0, matrix.GetSizeX(), 0, matrix.GetSizeY());
  double sum = 0.0;
  std::size_t unmarked = 0;
  for (int y = 0; y < whole.y1; ++y)
    for (int x = 0; x < whole.x1; ++x)
      if (!marked(mask, x, y)) {
        sum += matrix.GetPointUnsafe(x, y);
        ++unmarked;
      }
  const float mean = unmarked ? static_cast<float>(sum / static_cast<double>(unmarked)) : 0.0f;
  CInpainting inpainting;
  for (int by = 0; by < whole.y1; by += c_iBlockSize) {
    for (int bx = 0; bx < whole.x1; bx += c_iBlockSize) {
      const Region block(matrix, bx, bx + c_iBlockSize, by, by + c_iBlockSize);
      int count = 0;
      for (int y = block.y0; y < block.y1; ++y)
        for (int x = block.x0; x < block.x1; ++x) count += marked(mask, x, y) ? 1 : 0;
      if (count == 0) continue;
      if (count == block.width() * (block.y1 - block.y0)) {
        for (int y = block.y0; y < block.y1; ++y)
          for (int x = block.x0; x < block.x1; ++x) matrix.SetPointUnsafe(x, y, mean);
        continue;
      }
      // smooth(matrix, mask, 50, false, block) with one scratch for all blocks.
      fillWithMeanOfUnmarked(matrix, mask, block);
      inpainting.run(matrix, mask, c_uiBlockIterations, block);
    }
  }
  return true;
}

bool UxCSSEMatrixLibrary::createHighEntropyMask(const CSSEMatrix& matrix, CSSEMatrix& highErrorMask,
                                                const CSSEMatrix& mask,
                                                CSSEMatrix::UxSCompressionParameters& parameters,
                                                float threshold) {
  CSSEMatrix smoothed(matrix);
  if (!smoothBlock(smoothed, mask)) return false;
  float maximum = 0.0f, minimum = 0.0f;
  smoothed.CalcMinMaxValues(&maximum, &minimum);
  parameters.m_bFixedRange = true;
  parameters.m_fRangeMin = minimum;
  parameters.m_fRangeMax = maximum;

  CbStreamWriteBinaryBuffer coded;
  float error = 0.0f;
  if (!serializeMatrix(coded, smoothed, parameters, error)) return false;
  CbStreamReadBinaryBuffer in(coded.GetArray());
  CSSEMatrix decoded;
  if (!serializeMatrix(in, decoded) || !sameSize(decoded, matrix)) return false;

  highErrorMask.Create(matrix.GetSizeX(), matrix.GetSizeY());
  for (int by = 0; by < matrix.GetSizeY(); by += c_iBlockSize) {
    for (int bx = 0; bx < matrix.GetSizeX(); bx += c_iBlockSize) {
      const Region block(matrix, bx, bx + c_iBlockSize, by, by + c_iBlockSize);
      float worst = 0.0f;
      bool any = false;
      for (int y = block.y0; y < block.y1; ++y)
        for (int x = block.x0; x < block.x1; ++x)
          if (!marked(mask, x, y)) {
            worst = std::max(worst, std::fabs(matrix.GetPointUnsafe(x, y) - decoded.GetPointUnsafe(x, y)));
            any = true;
          }
      if (!any || !(worst > threshold)) continue;
      for (int y = block.y0; y < block.y1; ++y)
        for (int x = block.x0; x < block.x1; ++x)
          if (!marked(mask, x, y)) highErrorMask.SetPointUnsafe(x, y, 1.0f);
    }
  }
  return true;
}

bool UxCSSEMatrixLibrary::createAndSerializeDifferenceMask(CbStreamWriteBinary& stream,
                                                           const CSSEMatrix& current,
                                                           const CSSEMatrix& reference,
                                                           CSSEMatrix& currentMask, CSSEMatrix& referenceMask,
                                                           float invalidValue) const {
  if (!sameSize(current, reference)) return false;
  stream.WriteFloat(invalidValue);
  createMask(current, currentMask, invalidValue);
  createMask(reference, referenceMask, invalidValue);
  CSSEMatrix changed;
  differenceMask(currentMask, referenceMask, changed);
  CSSEMatrix::UxSCompressionParameters p;
  p.m_iMethod = 4;
  p.m_fInvalidValue = 1.0f;
  float error = 0.0f;
  return serializeMatrix(stream, changed, p, error);
}

bool UxCSSEMatrixLibrary::createAndSerializeDifferenceMask(CbStreamReadBinary& stream, CSSEMatrix& reference,
                                                           CSSEMatrix& currentMask, CSSEMatrix& referenceMask,
                                                           float& invalidValue) const {
  invalidValue = stream.ReadFloat();
  CSSEMatrix changed;
  if (!serializeMatrix(stream, changed)) return false;
  if (!enforceMatrixSize(reference, changed.GetSizeX(), changed.GetSizeY(), &invalidValue)) return false;
  createMask(reference, referenceMask, invalidValue);
  differenceMask(referenceMask, changed, currentMask);
  return true;
}
