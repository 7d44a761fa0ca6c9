#pragma once
#include "ImageFiles.h"
#include "orvik/matrix/ssematrix.h"

namespace orvik::tool {
// A picture of a height field: the value range (NaN and infinities ignored) is
// spread over a colour map running from deep blue through green to warm yellow,
// or over grey levels. Values outside a finite range are drawn black.
Picture RenderHeights(const CSSEMatrix& m, bool colour);
// A mask in grey: zero black, anything else white.
Picture RenderMask(const CSSEMatrix& m);
}  // namespace orvik::tool
