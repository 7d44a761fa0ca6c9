#pragma once
// Test helper: a matrix's memory as the tests compare it.
#include <vector>

#include "orvik/matrix/ssematrix.h"

// Every lane of every SSE line, spare lanes included, in line order.
inline std::vector<float> lanes(const CSSEMatrix& m) {
  std::vector<float> out;
  for (int g = 0; g < m.GetSSESizeY(); ++g) {
    const float* p = reinterpret_cast<const float*>(m.GetMatrixDataDirectly()[g]);
    out.insert(out.end(), p, p + 4 * m.GetSSESizeX());
  }
  return out;
}
