// The matrix operations that draw through polygons.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "orvik/matrix/ssematrix.h"
#include "orvik/polygon/SSE3dPolygon.h"

void CSSEMatrix::RemoveImageValuesLeftOfBow(CSSE3dPolygon& bow, float v, int offset) {
  bow.CalcBoundingBox();
  bow.ReParametrize(0.5f);
  int minX, minY, maxX, maxY;
  bow.GetBoundingBox2D(minX, minY, maxX, maxY);
  if (!HasMemory() || IsEmpty()) return;
  const std::int64_t s = std::max<std::int64_t>(std::int64_t(m_iRowProcessed) - maxY, 1);
  // The run of a point far above the matrix would be as long as its distance:
  // only the rows it clamps to are written, once each.
  const auto clampRow = [this](double r) { return std::clamp(r, 0.0, double(m_iSizeY - 1)); };
  for (int i = 0; i < bow.GetNumPoints(); ++i) {
    float px = 0.0f, py = 0.0f;
    bow.GetPointXY(i, px, py);
    const double y0 = std::floor(double(py) + 0.5);
    if (!(y0 < m_iSizeY)) continue;
    const double first = y0 + double(s) + offset, last = first + (m_iSizeY - 1 - y0);
    const double column = std::floor(double(px) + 0.5);  // not a number: column 0, as clamped writes do
    const int x = column >= 0.0 ? static_cast<int>(std::min(column, double(m_iSizeX - 1))) : 0;
    FillAreaExact(x, static_cast<int>(clampRow(first)), x + 1, static_cast<int>(clampRow(last)) + 1, v);
  }
}

void CImgFromToArray::DrawInMatrix(CSSEMatrix& m) const {
  CSSE3dPolygon from, to;
  from.Create(m_iCount);
  to.Create(m_iCount);
  for (int g = 0; g < m_iCount; ++g) {
    from.SetPoint(g, static_cast<float>(m_pEntries[g].from), 4.0f * g, 0.0f);
    to.SetPoint(g, static_cast<float>(m_pEntries[g].to), 4.0f * g, 0.0f);
  }
  from.DrawInMatrix(20.0f, &m, false, 0.0f, 0.0f, false);
  to.DrawInMatrix(30.0f, &m, false, 0.0f, 0.0f, false);
}
