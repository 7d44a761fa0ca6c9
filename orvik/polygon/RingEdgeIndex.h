#pragma once
// The edges of a closed ring, found by place: for a segment, every edge of the
// ring that the tolerant intersection tests of CHSimpleBasisFcns could report
// against it, without looking at all of them. Built on the triangulator's edge
// grid; with a non-finite coordinate every edge is a candidate. Not part of
// the public interface.
#include <vector>

#include "orvik/triangulation/EdgeGrid.h"
#include "orvik/triangulation/HSimpleBasisFcns.h"

namespace orvik::detail {

class RingEdgeIndex {
public:
  RingEdgeIndex(const float* x, const float* y, int n) : m_points(n), m_pointers(n) {
    for (int i = 0; i < n; ++i) m_points[i] = {x[i], y[i]}, m_pointers[i] = &m_points[i];
    m_grid = m_edges.Build(m_pointers.data(), n, CHSimpleBasisFcns::c_dTolerance);
    if (m_grid)
      for (int i = 0; i < n; ++i) m_edges.Insert(&m_points[i], &m_points[next(i)], i, next(i));
  }

  int next(int i) const { return i + 1 < static_cast<int>(m_points.size()) ? i + 1 : 0; }
  const t_h2dpoint& point(int i) const { return m_points[i]; }

  // Calls f(j) for the edges j -> j + 1 near the segment a-b, each once,
  // until f returns true.
  template <class F>
  void forEachNear(const t_h2dpoint& a, const t_h2dpoint& b, F f) {
    if (!m_grid) {
      for (int j = 0; j < static_cast<int>(m_points.size()); ++j)
        if (f(j)) return;
      return;
    }
    m_edges.AnyNear(&a, &b, [](int, int) { return true; }, [&](int from, int) { return f(from); });
  }

private:
  std::vector<t_h2dpoint> m_points;
  std::vector<const t_h2dpoint*> m_pointers;
  EdgeGrid m_edges;
  bool m_grid = false;
};

}  // namespace orvik::detail
