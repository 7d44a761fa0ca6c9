#pragma once
// Edges of a closed ring bucketed by the cells of a uniform grid that their
// boxes cover, so that edge-against-edge searches between two rings visit
// only pairs that lie near each other instead of all n m pairs.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace orvik::detail {

class EdgeGrid {
public:
  // The ring's edges i -> (i + 1) % n, over the region [minX, maxX] x [minY,
  // maxY]; parts beyond the region fall into its border cells.
  EdgeGrid(const float* x, const float* y, int n, float minX, float minY, float maxX, float maxY)
      : m_x(x), m_y(y), m_n(n), m_minX(minX), m_minY(minY), m_stamp(n, 0) {
    // About one cell per edge; fewer when long edges would fill too many.
    int g = std::clamp(static_cast<int>(std::sqrt(static_cast<double>(n))), 1, 4096);
    for (;; g = std::max(g / 2, 1)) {
      setCells(g, maxX - minX, maxY - minY);
      std::int64_t items = 0;
      for (int j = 0; j < n; ++j) {
        int cx0, cy0, cx1, cy1;
        edgeCells(j, cx0, cy0, cx1, cy1);
        items += std::int64_t(cx1 - cx0 + 1) * (cy1 - cy0 + 1);
      }
      if (g == 1 || items <= 8LL * n + 65536) break;
    }
    m_start.assign(static_cast<std::size_t>(m_g) * m_g + 1, 0);
    for (int j = 0; j < n; ++j) forCells(j, [&](int c) { ++m_start[c + 1]; });
    for (std::size_t c = 1; c < m_start.size(); ++c) m_start[c] += m_start[c - 1];
    m_items.resize(m_start.back());
    std::vector<int> fill(m_start.begin(), m_start.end() - 1);
    for (int j = 0; j < n; ++j) forCells(j, [&](int c) { m_items[fill[c]++] = j; });
  }

  // Calls f(j) once for every edge j sharing a cell with the box; f returns
  // false to stop the search.
  template <class F>
  void forEachNear(float x0, float y0, float x1, float y1, F f) {
    ++m_now;
    int cx0, cy0, cx1, cy1;
    boxCells(x0, y0, x1, y1, cx0, cy0, cx1, cy1);
    for (int cy = cy0; cy <= cy1; ++cy)
      for (int cx = cx0; cx <= cx1; ++cx) {
        const int c = cy * m_g + cx;
        for (int k = m_start[c]; k < m_start[c + 1]; ++k) {
          const int j = m_items[k];
          if (m_stamp[j] == m_now) continue;
          m_stamp[j] = m_now;
          if (!f(j)) return;
        }
      }
  }

private:
  void setCells(int g, float width, float height) {
    m_g = g;
    m_invX = width > 0.0f ? g / width : 0.0f;
    m_invY = height > 0.0f ? g / height : 0.0f;
  }
  int cell(float v, float min, float inv) const {
    const float f = (v - min) * inv;
    if (!(f >= 0.0f)) return 0;  // below the region, or NaN
    return f >= static_cast<float>(m_g) ? m_g - 1 : static_cast<int>(f);
  }
  void boxCells(float x0, float y0, float x1, float y1, int& cx0, int& cy0, int& cx1, int& cy1) const {
    cx0 = cell(std::min(x0, x1), m_minX, m_invX), cx1 = cell(std::max(x0, x1), m_minX, m_invX);
    cy0 = cell(std::min(y0, y1), m_minY, m_invY), cy1 = cell(std::max(y0, y1), m_minY, m_invY);
    if (cx1 < cx0) std::swap(cx0, cx1);
    if (cy1 < cy0) std::swap(cy0, cy1);
  }
  void edgeCells(int j, int& cx0, int& cy0, int& cx1, int& cy1) const {
    const int k = j + 1 < m_n ? j + 1 : 0;
    boxCells(m_x[j], m_y[j], m_x[k], m_y[k], cx0, cy0, cx1, cy1);
  }
  template <class F>
  void forCells(int j, F f) const {
    int cx0, cy0, cx1, cy1;
    edgeCells(j, cx0, cy0, cx1, cy1);
    for (int cy = cy0; cy <= cy1; ++cy)
      for (int cx = cx0; cx <= cx1; ++cx) f(cy * m_g + cx);
  }

  const float* m_x;
  const float* m_y;
  int m_n;
  float m_minX, m_minY;
  float m_invX = 0.0f, m_invY = 0.0f;
  int m_g = 1;
  std::vector<int> m_start;
  std::vector<int> m_items;
  std::vector<std::uint32_t> m_stamp;
  std::uint32_t m_now = 0;
};

}  // namespace orvik::detail
