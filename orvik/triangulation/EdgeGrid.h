#pragma once
// A uniform grid over the edges of a ring, for the ear-clipping diagonal test.
// Each edge is filed in the cells that it passes through once widened by the
// reach of the collinearity tolerance, so that every edge the intersection
// test could report for a segment shares a cell with the segment's own
// widened cells, and its widened box overlaps the segment's. Edges are added
// as the ring changes and never removed: an entry stores its two end vertices
// and the caller skips those no longer linked. Not part of the public interface.
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
    m_size = std::max({c_cellScale * std::sqrt(w * h / n), std::max(w, h) / n, 1e-30});
    m_x0 = x0, m_y0 = y0;
    m_nx = static_cast<int>(std::min(w / m_size, 4096.0)) + 1;
    m_ny = static_cast<int>(std::min(h / m_size, 4096.0)) + 1;
    m_head.assign(static_cast<std::size_t>(m_nx) * m_ny, -1);
    m_entries.clear();
    m_entries.reserve(static_cast<std::size_t>(8) * n);
    m_box.assign(n, Box{});
    m_stamp.assign(n, 0);
    m_query = 0;
    return true;
  }

  // Files the edge a-b that now starts at vertex `from` and ends at `to`.
  void Insert(const t_h2dpoint* a, const t_h2dpoint* b, int from, int to) {
    const Reach r = reach(a, b);
    m_box[from] = r.box;
    // Only an edge whose box spans many cells can pass through many.
    const long boxCells = long(cell(r.box.x1, m_x0, m_nx) - cell(r.box.x0, m_x0, m_nx) + 1) *
                          (cell(r.box.y1, m_y0, m_ny) - cell(r.box.y0, m_y0, m_ny) + 1);
    long cells = 0;
    if (boxCells > c_maxCells) forEachCell(a, b, r, [&](std::size_t) { ++cells; });
    if (cells > c_maxCells) {
      m_always.emplace_back(from, to);
      return;
    }
    forEachCell(a, b, r, [&](std::size_t c) {
      m_entries.push_back({from, to, m_head[c]});
      m_head[c] = static_cast<int>(m_entries.size()) - 1;
    });
  }

  // Calls test(from, to) once for each current edge (current(from, to) true)
  // filed near the segment a-b, until a call returns true; returns whether one
  // did. A vertex starts one current edge, so it marks the edge as seen.
  template <typename Current, typename Test>
  bool AnyNear(const t_h2dpoint* a, const t_h2dpoint* b, Current&& current, Test&& test) {
    if (++m_query == 0) std::fill(m_stamp.begin(), m_stamp.end(), 0u), m_query = 1;
    const Reach r = reach(a, b);
    const auto visit = [&](int from, int to) {
      if (m_stamp[from] == m_query) return false;
      m_stamp[from] = m_query;
      return r.box.overlaps(m_box[from]) && test(from, to);
    };
    // Filings of edges that are gone are dropped where they are met: an edge
    // that left the ring never returns, and a fan of diagonals cut off one
    // after another would otherwise pile up in the cells around its centre.
    for (std::size_t i = 0; i < m_always.size();) {
      const auto [from, to] = m_always[i];
      if (!current(from, to)) {
        m_always[i] = m_always.back();
        m_always.pop_back();
        continue;
      }
      if (visit(from, to)) return true;
      ++i;
    }
    bool found = false;
    forEachCell(a, b, r, [&](std::size_t c) {
      for (int* link = &m_head[c]; *link >= 0 && !found;) {
        const Entry& e = m_entries[*link];
        if (!current(e.from, e.to)) {
          *link = e.next;
          continue;
        }
        found = visit(e.from, e.to);
        link = &m_entries[*link].next;
      }
    });
    return found;
  }

private:
  static constexpr long c_maxCells = 256;
  // Cells of about c_cellScale^2 points' share of the ring's box.
  static constexpr double c_cellScale = 2.0;

  // One filing of an edge in a cell; the cell's filings form a list.
  struct Entry {
    int from, to, next;
  };

  struct Box {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool overlaps(const Box& o) const { return x0 <= o.x1 && o.x0 <= x1 && y0 <= o.y1 && o.y0 <= y1; }
  };
  struct Reach {
    double mx, my;  // how far a point counted as on the segment may lie beside it
    Box box;        // the segment's box widened by that
  };

  // A point c counts as on a-b when |A(a, b, c)| <= tolerance and it lies in
  // the segment's x range; A = dx (c.y - line(c.x)), so it may lie
  // tolerance / |dx| above or below the line. An exactly vertical segment is
  // judged by y, and c may then lie tolerance / |dy| beside it. A little more
  // covers the rounding of the area test and of the cell arithmetic.
  Reach reach(const t_h2dpoint* a, const t_h2dpoint* b) const {
    const double dx = double(b->x) - a->x, dy = double(b->y) - a->y;
    double mx = 0.0, my = 0.0;
    if (dx != 0.0) my = m_tolerance / std::fabs(dx);
    else if (dy != 0.0) mx = m_tolerance / std::fabs(dy);
    const double slack = 1e-6 * (1.0 + std::max({std::fabs(a->x), std::fabs(a->y), std::fabs(b->x), std::fabs(b->y)}));
    mx = mx * 1.001 + slack, my = my * 1.001 + slack;
    return {mx, my,
            {std::min<double>(a->x, b->x) - mx, std::min<double>(a->y, b->y) - my, std::max<double>(a->x, b->x) + mx,
             std::max<double>(a->y, b->y) + my}};
  }

  // Every cell the widened segment touches, column by column: in each column
  // the segment's y range over the column's x range, widened.
  template <typename Fn>
  void forEachCell(const t_h2dpoint* a, const t_h2dpoint* b, const Reach& r, Fn&& fn) const {
    const double ax = a->x, ay = a->y, bx = b->x, by = b->y;
    const double lo = std::min(ax, bx), hi = std::max(ax, bx);
    const int c0 = cell(r.box.x0, m_x0, m_nx), c1 = cell(r.box.x1, m_x0, m_nx);
    const auto yAt = [&](double x) {
      if (ax == bx) return std::pair{std::min(ay, by), std::max(ay, by)};
      const double y = ay + (by - ay) * ((std::clamp(x, lo, hi) - ax) / (bx - ax));
      return std::pair{y, y};
    };
    for (int cx = c0; cx <= c1; ++cx) {
      const double xl = cx == c0 ? r.box.x0 : m_x0 + cx * m_size;
      const double xr = cx == c1 ? r.box.x1 : m_x0 + (cx + 1) * m_size;
      const auto [l0, l1] = yAt(xl);
      const auto [r0, r1] = yAt(xr);
      const double slack = 1e-9 * m_size;
      const int y0 = cell(std::min(l0, r0) - r.my - slack, m_y0, m_ny);
      const int y1 = cell(std::max(l1, r1) + r.my + slack, m_y0, m_ny);
      for (int cy = y0; cy <= y1; ++cy) fn(static_cast<std::size_t>(cy) * m_nx + cx);
    }
  }

  int cell(double v, double origin, int count) const {
    const double c = std::floor((v - origin) / m_size);
    return c < 0.0 ? 0 : c >= count ? count - 1 : static_cast<int>(c);
  }

  double m_tolerance = 0.0;
  double m_x0 = 0.0, m_y0 = 0.0, m_size = 1.0;
  int m_nx = 1, m_ny = 1;
  std::vector<int> m_head;  // first filing of each cell, -1 for none
  std::vector<Entry> m_entries;
  std::vector<std::pair<int, int>> m_always;
  std::vector<Box> m_box;  // the widened box of the edge each vertex starts
  std::vector<unsigned> m_stamp;
  unsigned m_query = 0;
};

}  // namespace orvik::detail
