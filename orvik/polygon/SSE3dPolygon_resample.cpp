#include <algorithm>
#include <climits>
#include <cmath>

#include "orvik/foundation/Alloc.h"
#include "orvik/polygon/SSE3dPolygon.h"

namespace {

float distance3(const float* x, const float* y, const float* z, int i, int j) {
  const float dx = x[j] - x[i], dy = y[j] - y[i], dz = z[j] - z[i];
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// The xy direction from point i to point j; (0, 0) when they coincide, so
// that a repeated point reads as a change of direction and is kept.
void unitXY(const float* x, const float* y, int i, int j, float& ux, float& uy, float& len) {
  const float dx = x[j] - x[i], dy = y[j] - y[i];
  len = std::sqrt(dx * dx + dy * dy);
  ux = len > 0.0f ? dx / len : 0.0f;
  uy = len > 0.0f ? dy / len : 0.0f;
}

}  // namespace

void CSSE3dPolygon::keepPoints(const std::vector<char>& keep) {
  const int m = static_cast<int>(std::count(keep.begin(), keep.end(), 1));
  CSSE3dPolygon temp;
  temp.Create(m);
  for (int i = 0, k = 0; i < m_iNumPoints; ++i) {
    if (!keep[i]) continue;
    temp.m_pfX[k] = m_pfX[i], temp.m_pfY[k] = m_pfY[i], temp.m_pfZ[k] = m_pfZ[i];
    ++k;
  }
  takePointsFrom(temp);
}

// The output is counted first and allocated exactly, so long outlines keep
// every point and `map` always points into the result.
void CSSE3dPolygon::reParametrize(float step, bool withZ, bool closed, int* map) {
  const int n = m_iNumPoints;
  if (n == 0 || !(step > 0.0f)) {
    if (map)
      for (int i = 0; i < n; ++i) map[i] = i;
    return;
  }
  const int edges = closed ? n : n - 1;
  // Points emitted for edge i: 1, or k when the edge is split. An edge with a
  // non-finite extent cannot be split and emits its start.
  const auto pieces = [&](int i) -> int {
    const int j = i + 1 < n ? i + 1 : 0;
    float extent = std::max(std::fabs(m_pfX[j] - m_pfX[i]), std::fabs(m_pfY[j] - m_pfY[i]));
    if (withZ) extent = std::max(extent, std::fabs(m_pfZ[j] - m_pfZ[i]));
    if (!(extent > step)) return 1;
    const float k = std::trunc(extent / step);
    if (!std::isfinite(k)) return 1;
    if (k >= static_cast<float>(INT_MAX)) AfxThrowMemoryException();
    return static_cast<int>(k);
  };
  std::vector<int> count(edges);
  long long total = closed ? 0 : 1;
  for (int i = 0; i < edges; ++i) total += count[i] = pieces(i);
  if (total > INT_MAX) AfxThrowMemoryException();

  CSSE3dPolygon temp;
  temp.Create(static_cast<int>(total));
  int o = 0;
  for (int i = 0; i < edges; ++i) {
    const int j = i + 1 < n ? i + 1 : 0;
    if (map) map[i] = o;
    const int k = count[i];
    const float div = static_cast<float>(k) + 0.5f;
    const float ix = (m_pfX[j] - m_pfX[i]) / div, iy = (m_pfY[j] - m_pfY[i]) / div,
                iz = (m_pfZ[j] - m_pfZ[i]) / div;
    temp.m_pfX[o] = m_pfX[i], temp.m_pfY[o] = m_pfY[i], temp.m_pfZ[o] = m_pfZ[i];
    ++o;
    for (int s = 1; s < k; ++s, ++o) {
      const float f = static_cast<float>(s);
      temp.m_pfX[o] = m_pfX[i] + f * ix;
      temp.m_pfY[o] = m_pfY[i] + f * iy;
      temp.m_pfZ[o] = m_pfZ[i] + f * iz;
    }
  }
  if (!closed) {
    if (map) map[n - 1] = o;
    temp.m_pfX[o] = m_pfX[n - 1], temp.m_pfY[o] = m_pfY[n - 1], temp.m_pfZ[o] = m_pfZ[n - 1];
  }
  takePointsFrom(temp);
}

void CSSE3dPolygon::ReParametrize(float step) { reParametrize(step, false, true, nullptr); }
void CSSE3dPolygon::ReParametrize(float step, bool open) { reParametrize(step, false, !open, nullptr); }
void CSSE3dPolygon::ReParametrize(float step, int* map) { reParametrize(step, false, true, map); }
void CSSE3dPolygon::ReParametrizeXYZ(float step) { reParametrize(step, true, true, nullptr); }

void CSSE3dPolygon::Subsample(int k, bool closeWithMidpoint) {
  const int n = m_iNumPoints;
  if (n == 0 || k < 1) return;
  const int m = (n - k + 1) / k;
  const int last = n - 1;
  const bool extra = m < 1 || closeWithMidpoint || (m - 1) * k != last;
  CSSE3dPolygon temp;
  temp.Create(std::max(m, 0) + (extra ? 1 : 0));
  for (int j = 0; j < m; ++j)
    temp.m_pfX[j] = m_pfX[j * k], temp.m_pfY[j] = m_pfY[j * k], temp.m_pfZ[j] = m_pfZ[j * k];
  if (m >= 1 && closeWithMidpoint) {
    const int a = 0, b = (m - 1) * k;
    temp.m_pfX[m] = (m_pfX[a] + m_pfX[b]) * 0.5f;
    temp.m_pfY[m] = (m_pfY[a] + m_pfY[b]) * 0.5f;
    temp.m_pfZ[m] = (m_pfZ[a] + m_pfZ[b]) * 0.5f;
  } else if (extra) {
    const int o = std::max(m, 0);
    temp.m_pfX[o] = m_pfX[last], temp.m_pfY[o] = m_pfY[last], temp.m_pfZ[o] = m_pfZ[last];
  }
  takePointsFrom(temp);
}

void CSSE3dPolygon::SubSampleAdaptive(float ratio, float maxLen) {
  const int n = m_iNumPoints;
  if (n < 3) return;
  CalcBoundingBox();
  const float diagonal = CSSEFns::euclideandistance(*m_pTopRight, *m_pBottomLeft);
  const float limit = ratio < 0.999f ? std::min(maxLen, diagonal / 10.0f) : maxLen;
  std::vector<char> keep(n, 1);
  int a = 0;
  while (a < n - 1) {
    float path = distance3(m_pfX, m_pfY, m_pfZ, a, a + 1);
    int j = a + 2;
    for (; j < n; ++j) {
      path += distance3(m_pfX, m_pfY, m_pfZ, j - 1, j);
      const float chord = distance3(m_pfX, m_pfY, m_pfZ, a, j);
      if (chord / path < ratio || chord > limit) break;
      keep[j - 1] = 0;
    }
    a = j - 1;
  }
  keepPoints(keep);
}

void CSSE3dPolygon::ReducePoints(bool onlyDuplicates) {
  const int n = m_iNumPoints;
  if (n == 0) return;
  std::vector<char> keep(n, 0);
  keep[0] = 1;
  for (int i = 1, last = 0; i < n; ++i) {
    const float dx = m_pfX[i] - m_pfX[last], dy = m_pfY[i] - m_pfY[last];
    if (std::sqrt(dx * dx + dy * dy) > 0.0001f) keep[i] = 1, last = i;
  }
  keepPoints(keep);
  if (onlyDuplicates) return;

  const int m = m_iNumPoints;
  std::vector<char> turn(m, 0);
  turn[0] = 1;
  for (int i = 1; i < m; ++i) {
    float ux1, uy1, len1, ux2, uy2, len2;
    unitXY(m_pfX, m_pfY, i - 1, i, ux1, uy1, len1);
    unitXY(m_pfX, m_pfY, i, (i + 1) % m, ux2, uy2, len2);
    if (len1 < 0.0001f && len2 < 0.0001f) return;  // nothing to judge a direction by
    turn[i] = std::fabs(ux1 - ux2) > 0.0001f || std::fabs(uy1 - uy2) > 0.0001f;
  }
  keepPoints(turn);
}
