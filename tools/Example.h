#pragma once
#include "orvik/matrix/ssematrix.h"

namespace orvik::tool {
// The built-in example: a deterministic synthetic height field in the shape of a
// prepared tooth stump (a smooth dome on a base plane with a margin ridge and
// mild noise), in millimetres, sampled on a size x size grid.
void MakeExampleStump(CSSEMatrix& m, int size = 512);
}  // namespace orvik::tool
