#pragma once
// The boundary tracer behind CPixelChain::CreatePixelChain, over any field
// that answers which cells are inside. Not part of the public interface.
#include <algorithm>
#include <cstdlib>

#include "orvik/chain/PixelChain.h"

namespace orvik::detail {

// Steps of the tracer's direction codes; x grows to the right, y downward.
inline constexpr int c_chainStepX[8] = {0, -1, -1, -1, 0, 1, 1, 1};
inline constexpr int c_chainStepY[8] = {-1, -1, 0, 1, 1, 1, 0, -1};

// Limits v into lo .. hi; when the range is empty (fields narrower than a
// margin) lo wins, and the caller's clamped accessor takes it from there.
inline long limitTo(long v, long lo, long hi) { return std::max(lo, std::min(v, hi)); }

// Traces from (x0, y0) as CreatePixelChain describes, positions limited to
// 1 .. right and 1 .. bottom (lo wins over an empty range); inside(x, y) and
// value(x, y) may be asked one cell beyond those limits.
template <class Inside, class Value>
void traceBoundary(CPixelChain& chain, const Inside& inside, const Value& value, long right, long bottom,
                   long x0, long y0, long maxSteps, bool exactReturn, int nearReturnAfter) {
  chain.RemovePoints();
  long x = x0, y = y0, k = 0;
  int d = 4;
  for (;;) {
    chain.AddPoint(x, y, value(x, y));
    // The neighbours from a sharp left turn round to the cell just left
    // behind, which is examined last.
    int next = -1;
    for (int turn = 3; turn >= -4; --turn) {
      const int c = (d + turn + 8) & 7;
      if (inside(x + c_chainStepX[c], y + c_chainStepY[c])) {
        next = c;
        break;
      }
    }
    // Without an inside neighbour the position could never change again;
    // going on would only append the same cell until maxSteps.
    if (next < 0) break;
    d = next;
    x = limitTo(x + c_chainStepX[d], 1, right);
    y = limitTo(y + c_chainStepY[d], 1, bottom);
    ++k;
    if (k > maxSteps) break;
    if (exactReturn || k <= nearReturnAfter) {
      if (x == x0 && y == y0) break;
    } else if (std::labs(x - x0) <= 1 && std::labs(y - y0) <= 1) {
      break;
    }
  }
}

}  // namespace orvik::detail
