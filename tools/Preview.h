#pragma once
#include "ImageFiles.h"
#include "orvik/matrix/ssematrix.h"

class CSSE3dPolygon;

namespace orvik::tool {
// A picture of a height field: the value range (NaN and infinities ignored) is
// spread over a colour map running from deep blue through green to warm yellow,
// or over grey levels. Values outside a finite range are drawn black.
Picture RenderHeights(const CSSEMatrix& m, bool colour);
// A mask in grey: zero black, anything else white.
Picture RenderMask(const CSSEMatrix& m);
// The closed ring of the polygon drawn over a picture in white, one pixel
// wide (x the column, y the row); what lies outside the picture is left out.
void DrawOutline(Picture& p, const CSSE3dPolygon& outline);
}  // namespace orvik::tool
