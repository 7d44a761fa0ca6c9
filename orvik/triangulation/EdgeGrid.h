#pragma once
// A uniform grid over the edges of a ring, for the ear-clipping diagonal test.
// Each edge is filed in the cells its box covers, widened by the reach of the
// collinearity tolerance, so that every edge the intersection test could
// report for a segment shares a cell with the segment's own widened box.
// Edges are added as the ring changes and never removed: an entry stores its
// two end vertices and the caller skips those no longer linked. Not part of
// the public interface.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "orvik/polygon/SSE2dPolygon.h"

namespace orvik::detail {

class EdgeGrid {
public:
  // Over n points; false (and the caller tests every edge) when a coordinate
  // is not finite.
  bool Build(const t_h2dpoint* const* points, int n, double tolerance) {
    m_tolerance = tolerance;
    double x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
    for (int i = 0; i < n; ++i) {
      const double x = points[i]->x, y = points[i]->y;
      if (!std::isfinite(x) || !std::isfinite(y)) return false;
      x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
    }
    const double w = x1 - x0, h = y1 - y0;
    double size = std::sqrt(w * h / n);
    size = std::max({size, std::max(w, h) / n, 1e-30});
    m_x0 = x0, m_y0 = y0, m_inv = 1.0 / size;
    m_nx = static_cast<int>(std::min(w * m_inv, 4096.0)) + 1;
    m_ny = static_cast<int>(std::min(h * m_inv, 4096.0)) + 1;
    m_cells.assign(static_cast<std::size_t>(m_nx) * m_ny, {});
    m_stamp.assign(n, 0);
    m_query = 0;
    return true;
  }

  void Insert(const t_h2dpoint* a, const t_h2dpoint* b, int from, int to) {
    const Cells c = cellsOf(a, b);
    if (c.count() > c_maxCells) {
      m_always.emplace_back(from, to);
      return;
    }
    for (int y = c.y0; y <= c.y1; ++y)
      for (int x = c.x0; x <= c.x1; ++x) m_cells[static_cast<std::size_t>(y) * m_nx + x].emplace_back(from, to);
  }

  // Calls test(from, to) once for each current edge (current(from, to) true)
  // filed near the segment a-b, until a call returns true; returns whether one
  // did. A vertex starts one current edge, so it marks the edge as seen.
  template <typename Current, typename Test>
  bool AnyNear(const t_h2dpoint* a, const t_h2dpoint* b, Current&& current, Test&& test) {
    if (++m_query == 0) std::fill(m_stamp.begin(), m_stamp.end(), 0u), m_query = 1;
    const auto visit = [&](const std::pair<int, int>& e) {
      if (m_stamp[e.first] == m_query || !current(e.first, e.second)) return false;
      m_stamp[e.first] = m_query;
      return test(e.first, e.second);
    };
    for (const auto& e : m_always)
      if (visit(e)) return true;
    const Cells c = cellsOf(a, b);
    for (int y = c.y0; y <= c.y1; ++y)
      for (int x = c.x0; x <= c.x1; ++x)
        for (const auto& e : m_cells[static_cast<std::size_t>(y) * m_nx + x])
          if (visit(e)) return true;
    return false;
  }

private:
  static constexpr long c_maxCells = 256;

  struct Cells {
    int x0, y0, x1, y1;
    long count() const { return long(x1 - x0 + 1) * (y1 - y0 + 1); }
  };

  // The segment's box widened by how far the tolerance lets a point stray
  // from it and still count as lying on it: tolerance / |dx| across when the
  // segment is judged by x, tolerance / |dy| when it is exactly vertical; a
  // little more for the rounding of the area test.
  Cells cellsOf(const t_h2dpoint* a, const t_h2dpoint* b) const {
    const double dx = double(b->x) - a->x, dy = double(b->y) - a->y;
    double mx = 0.0, my = 0.0;
    if (dx != 0.0) my = m_tolerance / std::fabs(dx);
    else if (dy != 0.0) mx = m_tolerance / std::fabs(dy);
    const double slack = 1e-6 * (1.0 + std::max({std::fabs(a->x), std::fabs(a->y), std::fabs(b->x), std::fabs(b->y)}));
    mx = mx * 1.001 + slack, my = my * 1.001 + slack;
    return {cell(std::min(a->x, b->x) - mx, m_x0, m_nx), cell(std::min(a->y, b->y) - my, m_y0, m_ny),
            cell(std::max(a->x, b->x) + mx, m_x0, m_nx), cell(std::max(a->y, b->y) + my, m_y0, m_ny)};
  }

  int cell(double v, double origin, int count) const {
    const double c = std::floor((v - origin) * m_inv);
    return c < 0.0 ? 0 : c >= count ? count - 1 : static_cast<int>(c);
  }

  double m_tolerance = 0.0;
  double m_x0 = 0.0, m_y0 = 0.0, m_inv = 1.0;
  int m_nx = 1, m_ny = 1;
  std::vector<std::vector<std::pair<int, int>>> m_cells;
  std::vector<std::pair<int, int>> m_always;
  std::vector<unsigned> m_stamp;
  unsigned m_query = 0;
};

}  // namespace orvik::detail
