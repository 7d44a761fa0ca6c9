// Filling rectangles, half-planes, cylinder profiles and rows; closing narrow
// holes; column and row searches; drawing up to a surface; window copies.
#include <algorithm>
#include <cmath>
#include <vector>

#include "orvik/chain/SSEcharMatrix.h"
#include "orvik/foundation/Exception.h"
#include "orvik/matrix/ssematrix.h"
#include "orvik/matrix/ssematrix_lanes.h"

namespace {
inline __m128 select(__m128 mask, __m128 ifTrue, __m128 ifFalse) { return _mm_blendv_ps(ifFalse, ifTrue, mask); }
}  // namespace

// ---------------------------------------------------------------------------
// Filling

void CSSEMatrix::FillArea(int x0, int y0, int x1, int y1, float v) {
  if (!HasMemory() || IsEmpty()) return;
  x0 = std::clamp(x0, 0, m_iSizeX - 1);
  x1 = std::clamp(x1, 0, m_iSizeX - 1);
  const int g0 = std::clamp(y0 >> 2, 0, m_iSSESizeY - 1);
  const int g1 = std::clamp(y1 >> 2, 0, m_iSSESizeY - 1);
  const __m128 value = _mm_set1_ps(v);
  for (int g = g0; g <= g1; ++g) {
    const __m128 rows = orvik::detail::rowRangeMask(g, y0, y1);
    if (!_mm_movemask_ps(rows)) continue;
    float* p = reinterpret_cast<float*>(m_ppLines[g] + x0);
    for (int x = x0; x < x1; ++x, p += 4) _mm_store_ps(p, select(rows, value, _mm_load_ps(p)));
  }
}

// ---------------------------------------------------------------------------
// Window copies

bool CSSEMatrix::CopyAreaOfMatrix(const CSSEMatrix& src, int x0, int y0, int width, int height) {
  if (width < 1 || height < 1 || x0 < 0 || y0 < 0 || !src.HasMemory()) return false;
  if (x0 > src.GetSizeX() - width || y0 > src.GetSizeY() - height) return false;
  if (this == &src) {
    // Create would release the source before it is read.
    CSSEMatrix window;
    window.CopyAreaOfMatrix(src, x0, y0, width, height);
    CopyFromSSEMatrix(window);
    return true;
  }
  Create(width, height);
  const __m128* const* from = src.GetMatrixDataDirectly();
  const int shift = y0 & 3;
  const int srcLines = src.GetSSESizeY();
  // Only lines holding logical rows are copied; the rest stays as Create left it.
  const int lines = (height + 3) >> 2;
  for (int g = 0; g < lines; ++g) {
    const int a = (y0 >> 2) + g;
    const float* lo = reinterpret_cast<const float*>(from[a] + x0);
    float* out = reinterpret_cast<float*>(m_ppLines[g]);
    if (shift == 0) {
      std::copy(lo, lo + 4 * width, out);
      continue;
    }
    const float* hi = a + 1 < srcLines ? reinterpret_cast<const float*>(from[a + 1] + x0) : nullptr;
    for (int x = 0; x < width; ++x) {
      const __m128 next = hi ? _mm_load_ps(hi + 4 * x) : _mm_setzero_ps();
      _mm_store_ps(out + 4 * x, orvik::detail::alignLanes(_mm_load_ps(lo + 4 * x), next, shift));
    }
  }
  if (height & 3) {
    // The last copied line carries source rows below the window in its spare lanes.
    const __m128 rows = orvik::detail::rowRangeMask(lines - 1, 0, height);
    float* p = reinterpret_cast<float*>(m_ppLines[lines - 1]);
    for (int x = 0; x < width; ++x, p += 4) _mm_store_ps(p, _mm_and_ps(rows, _mm_load_ps(p)));
  }
  return true;
}
