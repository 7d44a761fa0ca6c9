// Plotting, edge drawing, run marking, one-sided sweeps and the outside mark.
// Every write goes through the matrix's clamping setters, so nothing here can
// leave the matrix; the loops that walk pixels are bounded by the matrix
// rather than by how far away a point lies.
#include <algorithm>
#include <cmath>

#include "orvik/matrix/ssematrix.h"
#include "orvik/polygon/PolygonRaster.h"
#include "orvik/polygon/SSE3dPolygon.h"

using orvik::detail::roundPixel;
using orvik::detail::truncPixel;

namespace {

bool drawable(const CSSEMatrix* m) { return m && m->HasMemory() && !m->IsEmpty(); }

// The SSE rule: on equality or NaN the new value wins.
enum class EWrite { Replace, Max, Min };
template <EWrite W>
void write(CSSEMatrix& m, int x, int y, float v) {
  if constexpr (W == EWrite::Replace)
    m.SetPoint(x, y, v);
  else if constexpr (W == EWrite::Max)
    m.SetPoint(x, y, m.GetPoint(x, y) > v ? m.GetPoint(x, y) : v);
  else
    m.SetPoint(x, y, m.GetPoint(x, y) < v ? m.GetPoint(x, y) : v);
}

template <EWrite W>
void drawChain(const float* x, const float* y, const float* z, int n, CSSEMatrix& m) {
  // More samples than this cannot be told apart in float along one segment.
  constexpr int c_maxSamples = 1 << 24;
  for (int i = 0; i + 1 < n; ++i) {
    const float xa = x[i], ya = y[i], za = z[i], xb = x[i + 1], yb = y[i + 1], zb = z[i + 1];
    write<W>(m, roundPixel(xa), roundPixel(ya), za);
    write<W>(m, roundPixel(xb), roundPixel(yb), zb);
    const float dx = xb - xa, dy = yb - ya, dz = zb - za;
    const float length = std::sqrt(dx * dx + dy * dy);
    if (!(length >= 0.5f)) continue;
    const float samples = 2.0f * length + 0.5f;
    const int k = samples < static_cast<float>(c_maxSamples) ? static_cast<int>(samples) : c_maxSamples;
    const float kf = static_cast<float>(k);
    for (int s = 0; s < k; ++s) {
      const float sf = static_cast<float>(s);
      write<W>(m, roundPixel(xa + sf * dx / kf), roundPixel(ya + sf * dy / kf), za + sf * dz / kf);
    }
  }
}

}  // namespace

void CSSE3dPolygon::DrawInMatrix(CSSEMatrix* m, bool fourNeighbours) {
  if (!drawable(m)) return;
  for (int i = 0; i < m_iNumPoints; ++i) {
    const float x = m_pfX[i], y = m_pfY[i], z = m_pfZ[i];
    if (!fourNeighbours) {
      m->SetPoint(roundPixel(x), roundPixel(y), z);
      continue;
    }
    const int x0 = truncPixel(std::floor(x)), x1 = truncPixel(std::ceil(x));
    const int y0 = truncPixel(std::floor(y)), y1 = truncPixel(std::ceil(y));
    m->SetPoint(x0, y0, z);
    m->SetPoint(x0, y1, z);
    m->SetPoint(x1, y0, z);
    m->SetPoint(x1, y1, z);
  }
}

void CSSE3dPolygon::DrawInMatrix(float value, CSSEMatrix* m, bool zy, float offX, float offY, bool xz) {
  if (!drawable(m)) return;
  for (int i = 0; i < m_iNumPoints; ++i) {
    if (xz)
      m->Set3x3BoxPoint(roundPixel(m_pfX[i] + offX), roundPixel(m_pfZ[i] + offY), value);
    else if (zy)
      m->SetPoint(roundPixel(m_pfZ[i]), roundPixel(m_pfY[i]), value);
    else
      m->Set3x3BoxPoint(roundPixel(m_pfX[i] + offX), roundPixel(m_pfY[i] + offY), value);
  }
}

void CSSE3dPolygon::DrawInMatrixFineZ(CSSEMatrix* m) {
  if (drawable(m)) drawChain<EWrite::Replace>(m_pfX, m_pfY, m_pfZ, m_iNumPoints, *m);
}

void CSSE3dPolygon::DrawInMatrixFineZMax(CSSEMatrix* m) {
  if (drawable(m)) drawChain<EWrite::Max>(m_pfX, m_pfY, m_pfZ, m_iNumPoints, *m);
}

void CSSE3dPolygon::DrawInMatrixFineZMin(CSSEMatrix* m) {
  if (drawable(m)) drawChain<EWrite::Min>(m_pfX, m_pfY, m_pfZ, m_iNumPoints, *m);
}

void CSSE3dPolygon::DrawInMatrixAndFill(float value, CSSEMatrix* m) {
  const int n = m_iNumPoints / 4 * 4;
  if (!drawable(m) || n < 4) return;
  const int w = m->GetSizeX(), h = m->GetSizeY();
  const float mark = value + 5.0f;
  const auto near = [&](int x, int y, float tolerance) { return std::fabs(m->GetPoint(x, y) - value) < tolerance; };
  for (int i = 0; i < n; ++i) m->SetPoint(roundPixel(m_pfX[i]), roundPixel(m_pfY[i]), value);
  for (int i = 0; i < n; ++i) {
    const int j = i + 1 < n ? i + 1 : 0;
    const float dx = m_pfX[j] - m_pfX[i], dy = m_pfY[j] - m_pfY[i];
    // A start beyond the matrix reads and writes the border pixel it clamps
    // to at every step outside, so starting just outside gives the same run.
    int c = roundPixel(m_pfX[i]), r = roundPixel(m_pfY[i]);
    if (std::fabs(dx) > std::fabs(dy)) {
      if (dx < 0) {
        if (r < 1) continue;
        r = std::min(r, h);
        int k = r - 1;
        while (k >= 1 && !near(c, k, 1.0f)) --k;
        if (k < 1) continue;
        for (int row = k + 1; row < r; ++row) m->SetPoint(c, row, mark);
      } else {
        if (r >= h - 1) continue;
        r = std::max(r, -1);
        int k = r + 1;
        while (k < h - 1 && !near(c, k, 0.1f)) ++k;
        if (k >= h - 1) continue;
        for (int row = r + 1; row < k; ++row) m->SetPoint(c, row, mark);
      }
    } else if (dy < 0) {
      if (c >= w - 1) continue;
      c = std::max(c, -1);
      int k = c + 1;
      while (k < w - 1 && !near(k, r, 1.0f)) ++k;
      if (k >= w - 1) continue;
      for (int col = c + 1; col < k; ++col) m->SetPoint(col, r, mark);
    } else {
      if (c < 1) continue;
      c = std::min(c, w);
      int k = c - 1;
      while (k >= 1 && !near(k, r, 1.0f)) --k;
      if (k < 1) continue;
      for (int col = k + 1; col < c; ++col) m->SetPoint(col, r, mark);
    }
  }
}

void CSSE3dPolygon::DrawInMatrixAndFillToOneSideFront(float value, CSSEMatrix* m, float offX, float offY, bool front,
                                                      bool useY) {
  if (!drawable(m)) return;
  // Stamp centres clamp into 1 .. size - 2, so sweep positions beyond size - 2
  // (or below 1) repeat the stamp at the end and are visited once.
  const int size = useY ? m->GetSizeX() : m->GetSizeY();
  const int across = useY ? m->GetSizeY() : m->GetSizeX();
  for (int i = 0; i < m_iNumPoints; ++i) {
    const int c = roundPixel(m_pfX[i] + offX), r = roundPixel((useY ? m_pfY[i] : m_pfZ[i]) + offY);
    // useY sweeps columns from c with stamps on rows r - 1 .. r + 1; otherwise
    // rows from r with stamps on columns c - 1 .. c + 1.
    const int along = useY ? c : r;
    const int cross = std::clamp(useY ? r : c, -1, across);
    int from, to;
    if (front) {
      if (along < 2) continue;
      from = std::min(2, size - 2);
      to = std::min(along, size - 2);
    } else {
      if (along > size - 2) continue;
      from = std::max(along, 1);
      to = size - 2;
    }
    for (int k = from; k <= to; ++k)
      for (int d = -1; d <= 1; ++d) {
        if (useY)
          m->Set3x3BoxPoint(k, cross + d, value);
        else
          m->Set3x3BoxPoint(cross + d, k, value);
      }
  }
}

void CSSE3dPolygon::DrawOutsidePixels(CSSEMatrix& m, float value, float offset) {
  if (!m_bBoundingBoxCalculated) CalcBoundingBox();
  orvik::detail::markOutside(*this, m, value, offset, 1);
}
