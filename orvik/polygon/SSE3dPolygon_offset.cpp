#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "orvik/chain/BoundaryTrace.h"
#include "orvik/chain/PixelChain.h"
#include "orvik/matrix/ssematrix.h"
#include "orvik/polygon/CrossingTest.h"
#include "orvik/polygon/PolygonRaster.h"
#include "orvik/polygon/RingArea.h"
#include "orvik/polygon/SSE3dPolygon.h"

namespace {

constexpr double c_dTwoPi = 6.2831855;
constexpr float c_fPi = 3.1415927f;
// A radius and outline that would ask for more directions than this when the
// caller sets no limit are served by this many, which already follows a disc
// far closer than a float outline can tell.
constexpr double c_dDirectionCap = 1024.0;
constexpr std::size_t c_uMaxCorners = std::size_t(1) << 24;
constexpr double c_dMaxScratchPixels = double(1 << 26);
// Where along an edge a crossing counts as passing through its corner.
constexpr double c_dAtCorner = 1e-9;

bool finitePoints(const CSSE3dPolygon& p) {
  for (int i = 0; i < p.GetNumPoints(); ++i) {
    float x = 0, y = 0, z = 0;
    p.GetPoint(i, x, y, z);
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return false;
  }
  return true;
}

// p + r (p - c) / |p - c| in x and y. r (p - c) / |p - c| is the same
// product for -r with the sign turned, so the erosion is this with -r.
void moveAlongRays(CSSE3dPolygon& p, float r, const SSEPoint& c) {
  for (int i = 0; i < p.GetNumPoints(); ++i) {
    float x = 0, y = 0, z = 0;
    p.GetPoint(i, x, y, z);
    const float len = CSSEFns::vectorlen(SSEPoint(x - c.x, y - c.y, z - c.z, 0.0f));
    if (!(len > 0.0f)) continue;
    p.SetPointXY(i, x + r * ((x - c.x) / len), y + r * ((y - c.y) / len));
  }
}

int directionCount(double r, double meanEdge, int maxDirections) {
  const double x = std::fabs(r) * c_dTwoPi / meanEdge;  // infinite for a single point
  const double cap = maxDirections > 0 ? double(maxDirections) : c_dDirectionCap;
  const double k = std::isfinite(x) ? std::min(8.0 * (1.0 + std::trunc(x / 8.0)), cap) : cap;
  // A k-gon needs three corners to enclose anything.
  return std::max(static_cast<int>(k), 3);
}

struct Ring {
  std::vector<float> x, y, z;
  std::size_t size() const { return x.size(); }
  void push(float px, float py, float pz) { x.push_back(px), y.push_back(py), z.push_back(pz); }
};

// The closed ring, counter-clockwise, with every xy edge longer than
// `spacing` cut into equal pieces. Empty when it would exceed `limit` points.
Ring resampledRing(const CSSE3dPolygon& p, bool reverse, double spacing, std::size_t limit) {
  const int n = p.GetNumPoints();
  Ring in, out;
  for (int i = 0; i < n; ++i) {
    float x = 0, y = 0, z = 0;
    p.GetPoint(reverse ? n - 1 - i : i, x, y, z);
    in.push(x, y, z);
  }
  std::vector<std::size_t> pieces(n, 1);
  std::size_t total = 0;
  for (int i = 0; i < n; ++i) {
    const int j = (i + 1) % n;
    const double len = std::hypot(double(in.x[j]) - in.x[i], double(in.y[j]) - in.y[i]);
    const double m = std::ceil(len / spacing);
    if (n > 1 && m > 1.0) pieces[i] = m < double(limit) ? static_cast<std::size_t>(m) : limit + 1;
    total += pieces[i];
    if (total > limit) return out;
  }
  for (int i = 0; i < n; ++i) {
    const int j = (i + 1) % n;
    for (std::size_t s = 0; s < pieces[i]; ++s) {
      const double t = double(s) / double(pieces[i]);
      out.push(static_cast<float>(in.x[i] + t * (double(in.x[j]) - in.x[i])),
               static_cast<float>(in.y[i] + t * (double(in.y[j]) - in.y[i])),
               static_cast<float>(in.z[i] + t * (double(in.z[j]) - in.z[i])));
    }
  }
  return out;
}

// The even-odd crossing test against a ring of at least three points, with
// the ring's box checked first, answering exactly as PointInLineInnerArea
// with step 1 does. The edges are filed by vertical strips of the box, so a
// test reads only the edges whose x interval can hold the point.
class StripTest {
public:
  explicit StripTest(const Ring& r) : m_x(r.x.data()), m_y(r.y.data()), m_n(static_cast<int>(r.size())) {
    const auto [lx, hx] = std::minmax_element(r.x.begin(), r.x.end());
    const auto [ly, hy] = std::minmax_element(r.y.begin(), r.y.end());
    m_minX = *lx, m_maxX = *hx, m_minY = *ly, m_maxY = *hy;
    // About four strip entries per edge: wide strips for a ring that runs
    // back and forth across its box many times.
    double run = 0.0;
    for (int e = 0; e < m_n; ++e) run += std::fabs(double(m_x[e]) - m_x[prev(e)]);
    const double width = double(m_maxX) - m_minX;
    m_strips = width > 0.0 ? static_cast<int>(std::clamp(4.0 * m_n * width / run, 1.0, double(m_n))) : 1;
    m_scale = width > 0.0 ? m_strips / width : 0.0;
    m_start.assign(m_strips + 1, 0);
    for (int pass = 0; pass < 2; ++pass) {
      std::vector<int> fill(m_start.begin(), m_start.end() - 1);
      if (pass == 1) m_edges.resize(m_start.back());
      for (int e = 0; e < m_n; ++e) {
        const int a = strip(std::min(m_x[e], m_x[prev(e)])), b = strip(std::max(m_x[e], m_x[prev(e)]));
        for (int s = a; s <= b; ++s) {
          if (pass == 0)
            ++m_start[s + 1];
          else
            m_edges[fill[s]++] = e;
        }
      }
      if (pass == 0)
        for (int s = 0; s < m_strips; ++s) m_start[s + 1] += m_start[s];
    }
  }

  bool inside(float px, float py) const {
    if (!(m_minX <= px && px <= m_maxX && m_minY <= py && py <= m_maxY)) return false;
    bool in = false;
    const int s = strip(px);
    for (int k = m_start[s]; k < m_start[s + 1]; ++k) {
      const int b = m_edges[k], a = prev(b);
      if (orvik::detail::edgeTogglesCount(m_x[a], m_y[a], m_x[b], m_y[b], px, py)) in = !in;
    }
    return in;
  }

private:
  int prev(int e) const { return e == 0 ? m_n - 1 : e - 1; }
  // Monotone in v, so an edge filed under the strips of its two ends is
  // found from every x between them.
  int strip(float v) const {
    return static_cast<int>(std::clamp((double(v) - m_minX) * m_scale, 0.0, double(m_strips - 1)));
  }

  const float* m_x;
  const float* m_y;
  int m_n;
  float m_minX, m_maxX, m_minY, m_maxY;
  int m_strips;
  double m_scale;
  std::vector<int> m_start, m_edges;
};

// Copies of one k-gon placed at distinct centres. Corner j of disc i is
// candidate i k + j. Each disc knows its neighbours, the discs whose centres
// lie within two radii of its own (found through a grid of cells two radii
// wide), which are the only discs that can hold one of its corners or meet
// one of its edges.
class Discs {
public:
  Discs(const Ring& centres, const std::vector<float>& dx, const std::vector<float>& dy)
      : m_k(static_cast<int>(dx.size())) {
    // One disc per distinct point: two equal discs would each hold the
    // other's corners on their common outline.
    std::vector<int> order(centres.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    const auto key = [&](int i) { return std::pair(centres.x[i], centres.y[i]); };
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return key(a) < key(b); });
    order.erase(std::unique(order.begin(), order.end(), [&](int a, int b) { return key(a) == key(b); }),
                order.end());
    std::sort(order.begin(), order.end());
    m_n = static_cast<int>(order.size());
    m_index = order;
    m_ringSize = static_cast<int>(centres.size());
    double reach = 0.0, extent = 0.0;
    for (int j = 0; j < m_k; ++j) reach = std::max(reach, std::hypot(double(dx[j]), double(dy[j])));
    m_cx.resize(m_n), m_cy.resize(m_n), m_cz.resize(m_n);
    m_x.resize(std::size_t(m_n) * m_k), m_y.resize(std::size_t(m_n) * m_k);
    m_box.resize(std::size_t(m_n) * 4);
    for (int i = 0; i < m_n; ++i) {
      m_cx[i] = centres.x[order[i]], m_cy[i] = centres.y[order[i]], m_cz[i] = centres.z[order[i]];
      extent = std::max({extent, std::fabs(double(m_cx[i])), std::fabs(double(m_cy[i]))});
      float* box = &m_box[std::size_t(i) * 4];
      box[0] = box[1] = FLT_MAX, box[2] = box[3] = -FLT_MAX;
      for (int j = 0; j < m_k; ++j) {
        // The float sums the disc polygon shifted onto the point gives.
        const float x = m_cx[i] + dx[j], y = m_cy[i] + dy[j];
        m_x[corner(i, j)] = x, m_y[corner(i, j)] = y;
        box[0] = std::min(box[0], x), box[1] = std::min(box[1], y);
        box[2] = std::max(box[2], x), box[3] = std::max(box[3], y);
      }
    }
    // Rounding of the corners and of the tests, on the scale of the radius
    // and of the coordinates; the quick answers below stay this far from the
    // outline, where the crossing test decides alone.
    const double margin = 1e-5 * reach + 8.0 * FLT_EPSILON * (extent + reach);
    m_reach = reach + margin;
    const double in = reach * std::cos(M_PI / m_k) - margin;
    m_inner2 = in > 0.0 ? in * in : -1.0;
    findNeighbours();
  }

  int count() const { return m_n; }
  int k() const { return m_k; }
  std::size_t corner(int i, int j) const { return std::size_t(i) * m_k + j; }
  float x(std::size_t c) const { return m_x[c]; }
  float y(std::size_t c) const { return m_y[c]; }
  float z(std::size_t c) const { return m_cz[c / m_k]; }
  // Whether the points of discs i and o lie more than two apart along the ring.
  bool farApart(int i, int o) const {
    const int gap = std::abs(m_index[i] - m_index[o]);
    return std::min(gap, m_ringSize - gap) > 2;
  }
  const int* neighboursBegin(int i) const { return m_neighbours.data() + m_first[i]; }
  const int* neighboursEnd(int i) const { return m_neighbours.data() + m_first[i + 1]; }

  // The crossing test of (px, py) against disc i's polygon: box, then the
  // even-odd count on the ring k - 1, 0, 1, ... Points clearly inside the
  // inscribed circle or outside the circumscribed one are answered at once.
  bool holds(int i, float px, float py) const {
    const double ex = double(px) - m_cx[i], ey = double(py) - m_cy[i], d2 = ex * ex + ey * ey;
    if (d2 > m_reach * m_reach) return false;
    if (d2 < m_inner2) return true;
    const float* box = &m_box[std::size_t(i) * 4];
    if (!(box[0] <= px && px <= box[2] && box[1] <= py && py <= box[3])) return false;
    const float* x = &m_x[corner(i, 0)];
    const float* y = &m_y[corner(i, 0)];
    bool in = false;
    for (int a = m_k - 1, b = 0; b < m_k; a = b++)
      if (orvik::detail::edgeTogglesCount(x[a], y[a], x[b], y[b], px, py)) in = !in;
    return in;
  }

  // The edges of disc i that the segment p-v may meet: `count` edges from
  // edge `first` on. Edge m spans the angles 2 pi m / k to 2 pi (m + 1) / k
  // about the centre; the segment's span, seen from farther than half the
  // radius, is widened by one edge each way for the rounding of the corners.
  // Nearer the centre every edge is given.
  void edgesFacing(int i, double px, double py, double vx, double vy, int& first, int& count) const {
    const double ax = px - m_cx[i], ay = py - m_cy[i], sx = vx - px, sy = vy - py;
    const double len2 = sx * sx + sy * sy;
    const double t = len2 > 0.0 ? std::clamp(-(ax * sx + ay * sy) / len2, 0.0, 1.0) : 0.0;
    const double nx = ax + t * sx, ny = ay + t * sy;
    if (nx * nx + ny * ny < 0.25 * m_reach * m_reach) return;
    const double step = c_dTwoPi / m_k;
    const auto sector = [&](double x, double y) {
      const int s = static_cast<int>(std::floor(std::atan2(y, x) / step));
      return ((s % m_k) + m_k) % m_k;
    };
    int a = sector(ax, ay), b = sector(ax + sx, ay + sy);
    // The segment turns less than half a round about the centre: go the
    // short way, unless the two ways are too close to tell apart.
    if ((b - a + m_k) % m_k > m_k / 2) std::swap(a, b);
    const int span = (b - a + m_k) % m_k;
    if (span + 1 >= m_k / 2) return;
    first = (a + m_k - 1) % m_k;
    count = span + 3;
  }

  // Whether disc i may meet the segment with midpoint (mx, my) and half length h.
  bool near(int i, double mx, double my, double h) const {
    const double ex = mx - m_cx[i], ey = my - m_cy[i];
    return ex * ex + ey * ey <= (m_reach + h) * (m_reach + h);
  }

private:
  void findNeighbours() {
    const double cell = 2.0 * m_reach;
    const auto cellOf = [&](float v) {
      return static_cast<std::int64_t>(std::clamp(std::floor(double(v) / cell), -1073741824.0, 1073741824.0));
    };
    // Offset into the unsigned range, so that the cells of a column lie
    // together and in order among the sorted keys.
    const auto keyOf = [](std::int64_t cx, std::int64_t cy) {
      return static_cast<std::uint64_t>(cx + 2147483648) << 32 | static_cast<std::uint64_t>(cy + 2147483648);
    };
    std::vector<std::pair<std::uint64_t, int>> cells(m_n);
    for (int i = 0; i < m_n; ++i) cells[i] = {keyOf(cellOf(m_cx[i]), cellOf(m_cy[i])), i};
    std::sort(cells.begin(), cells.end());
    m_first.assign(m_n + 1, 0);
    std::vector<std::pair<double, int>> near;
    for (int i = 0; i < m_n; ++i) {
      const std::int64_t cx = cellOf(m_cx[i]), cy = cellOf(m_cy[i]);
      near.clear();
      for (int dx = -1; dx <= 1; ++dx) {
        const std::uint64_t last = keyOf(cx + dx, cy + 1);
        auto it = std::lower_bound(cells.begin(), cells.end(), std::pair(keyOf(cx + dx, cy - 1), -1));
        for (; it != cells.end() && it->first <= last; ++it) {
          const double ex = double(m_cx[it->second]) - m_cx[i], ey = double(m_cy[it->second]) - m_cy[i];
          if (it->second != i && ex * ex + ey * ey <= cell * cell) near.emplace_back(ex * ex + ey * ey, it->second);
        }
      }
      // Nearest first: the disc that holds a corner is most often the next one.
      std::sort(near.begin(), near.end());
      for (const auto& e : near) m_neighbours.push_back(e.second);
      m_first[i + 1] = static_cast<int>(m_neighbours.size());
    }
  }

  int m_k, m_n = 0, m_ringSize = 0;
  std::vector<int> m_index;  // the disc's point in the ring
  std::vector<float> m_cx, m_cy, m_cz, m_x, m_y, m_box;
  std::vector<int> m_first, m_neighbours;
  double m_reach = 0.0, m_inner2 = -1.0;
};

struct OutlinePoint {
  float x, y, z;
};

// Follows the outline of the union of the discs from corner `start`, along
// each disc counter-clockwise (grow: the union on the left) or clockwise
// (the outside of the discs on the left). Where the way enters another disc
// it goes on along that disc's edge. The ring is the corners passed that are
// still candidates and the points where the way changes between discs far
// apart along the ring. It closes on arriving at a corner a second time
// (rounding may pass the start over and close a loop elsewhere), and is
// empty when the budget of steps runs out first.
struct Walks {
  std::vector<char> candidate;
  std::vector<char> taken;             // in a ring already
  std::vector<int> arrived;            // the last walk that arrived at the corner
  std::vector<std::size_t> arrivedAt;  // the ring's size then
  long long budget = 0;
  int walk = 0;
};

std::vector<OutlinePoint> followOutline(const Discs& d, Walks& w, std::size_t start, bool grow) {
  const int k = d.k(), dir = grow ? 1 : -1;
  ++w.walk;
  std::vector<OutlinePoint> ring;
  const auto add = [&](float x, float y, float z) {
    if (ring.empty() || ring.back().x != x || ring.back().y != y) ring.push_back({x, y, z});
  };
  // False when the corner closes the ring.
  const auto arrive = [&](std::size_t c) {
    if (w.arrived[c] == w.walk) {
      ring.erase(ring.begin(), ring.begin() + static_cast<std::ptrdiff_t>(w.arrivedAt[c]));
      return false;
    }
    w.arrived[c] = w.walk, w.arrivedAt[c] = ring.size();
    if (w.candidate[c] && !w.taken[c]) add(d.x(c), d.y(c), d.z(c)), w.taken[c] = 1;
    return true;
  };
  arrive(start);
  int disc = static_cast<int>(start / k), target = static_cast<int>((start % k + k + dir) % k);
  double px = d.x(start), py = d.y(start);
  while (w.budget-- > 0) {
    const std::size_t v = d.corner(disc, target);
    const double vx = d.x(v), vy = d.y(v), sx = vx - px, sy = vy - py;
    const double mx = 0.5 * (px + vx), my = 0.5 * (py + vy), half = 0.5 * std::hypot(sx, sy);
    double best = 2.0;
    int enteredDisc = -1, enteredEdge = -1;
    for (const int* o = d.neighboursBegin(disc); o != d.neighboursEnd(disc); ++o) {
      if (!d.near(*o, mx, my, half)) continue;
      // Entering: the way crosses an edge from its right (the outside of a
      // counter-clockwise disc) to its left. Through a corner it enters only
      // when it does so for both edges there (the corner is then taken as
      // the start of the second); a way along one of them, or out of the
      // disc, passes by, as where two discs share a corner.
      const auto entering = [&](int m) {
        const std::size_t a = d.corner(*o, m), b = d.corner(*o, (m + 1) % k);
        return sx * (double(d.y(b)) - d.y(a)) - sy * (double(d.x(b)) - d.x(a)) < 0.0;
      };
      int from = 0, edges = k;
      d.edgesFacing(*o, px, py, vx, vy, from, edges);
      for (int e = 0; e < edges; ++e) {
        const int m = (from + e) % k;
        if (!entering(m)) continue;
        const std::size_t a = d.corner(*o, m), b = d.corner(*o, (m + 1) % k);
        const double ex = double(d.x(b)) - d.x(a), ey = double(d.y(b)) - d.y(a), den = sx * ey - sy * ex;
        const double wx = d.x(a) - px, wy = d.y(a) - py;
        const double t = (wx * ey - wy * ex) / den, u = (wx * sy - wy * sx) / den;
        if (!(t >= 0.0 && t <= 1.0 && t < best) || u < -c_dAtCorner || u > 1.0 - c_dAtCorner) continue;
        if (u > c_dAtCorner) {
          best = t, enteredDisc = *o, enteredEdge = m;
        } else if (entering((m + k - 1) % k)) {
          best = t, enteredDisc = *o, enteredEdge = grow ? m : (m + k - 1) % k;
        }
      }
    }
    if (enteredDisc < 0) {
      if (!arrive(v)) return ring;
      px = vx, py = vy;
      target = (target + k + dir) % k;
    } else {
      px += best * sx, py += best * sy;
      // Between discs of neighbouring points the way crosses a scallop,
      // which the chord over it follows closely; between discs of points
      // farther apart along the ring it turns a corner of the result, such
      // as the corner of an eroded square or the inner corner of a grown L.
      if (d.farApart(disc, enteredDisc))
        add(static_cast<float>(px), static_cast<float>(py), d.z(d.corner(disc, 0)));
      disc = enteredDisc;
      target = grow ? (enteredEdge + 1) % k : enteredEdge;
    }
  }
  return {};
}

// The disc at every point of the resampled ring contributes its k corners as
// candidates; a corner inside another disc, or inside the ring (outside it,
// for the erosion), cannot lie on the result's outline and is struck off.
// The outline is then followed from corner to corner along the discs.
bool offsetExact(CSSE3dPolygon& p, float r, int maxDirections, bool grow) {
  if (r == 0.0f || p.GetNumPoints() == 0) return true;
  if (!std::isfinite(r) || !finitePoints(p)) return false;
  const double radius = std::fabs(double(r));
  const int k =
      directionCount(r, double(p.CalcCircumference() / static_cast<float>(p.GetNumPoints())), maxDirections);
  std::vector<float> dx(k), dy(k);
  for (int j = 0; j < k; ++j) {
    const float a = 2.0f * static_cast<float>(j) * c_fPi / static_cast<float>(k);
    dx[j] = static_cast<float>(radius) * std::cos(a), dy[j] = static_cast<float>(radius) * std::sin(a);
  }
  const bool clockwise = p.CalcXYArea() < 0.0f;
  const Ring ring = resampledRing(p, clockwise, radius / 2.0, c_uMaxCorners / std::size_t(k));
  if (ring.size() == 0) return false;
  const Discs discs(ring, dx, dy);
  const std::size_t corners = std::size_t(discs.count()) * k;

  Walks w;
  std::vector<char>& candidate = w.candidate;
  candidate.assign(corners, 1);
  for (int i = 0; i < discs.count(); ++i)
    for (int j = 0; j < k; ++j) {
      const std::size_t c = discs.corner(i, j);
      for (const int* o = discs.neighboursBegin(i); o != discs.neighboursEnd(i) && candidate[c]; ++o)
        if (discs.holds(*o, discs.x(c), discs.y(c))) candidate[c] = 0;
    }
  if (ring.size() >= 3) {
    const StripTest area(ring);
    for (std::size_t c = 0; c < corners; ++c)
      if (candidate[c] && area.inside(discs.x(c), discs.y(c)) == grow) candidate[c] = 0;
  } else if (!grow) {
    return false;  // a ring without an inside has nothing to shrink
  }

  // Every walk closes or ends within the budget, so a degenerate outline
  // cannot hold the call up.
  w.budget = 8 * static_cast<long long>(corners) + 1024;
  w.taken.assign(corners, 0);
  w.arrived.assign(corners, 0);
  w.arrivedAt.assign(corners, 0);
  std::vector<OutlinePoint> best;
  double bestArea = 0.0;
  for (std::size_t c = 0; c < corners && w.budget > 0; ++c) {
    if (!candidate[c] || w.taken[c]) continue;
    std::vector<OutlinePoint> walked = followOutline(discs, w, c, grow);
    // Holes run clockwise; of the outer outlines the largest is kept.
    const double a = walked.size() >= 3 ? orvik::detail::twiceSignedArea(walked) : 0.0;
    if (a > bestArea) bestArea = a, best = std::move(walked);
  }
  if (best.empty()) return false;

  if (clockwise) std::reverse(best.begin(), best.end());
  CSSE3dPolygon result;
  result.Create(static_cast<int>(best.size()));
  for (std::size_t i = 0; i < best.size(); ++i)
    result.SetPoint(static_cast<int>(i), best[i].x, best[i].y, best[i].z);
  p.CreateSimilar(&result);
  return true;
}

// Radii below this grow or shrink the drawn outline as bytes; the rows and
// columns of their disc lie within six of its centre, as with the height
// field's direct erosion, whose disc this is.
constexpr float c_fByteDiscRadius = 7.0f;

// Every pixel of the 0/1 raster with a pixel of value v within the disc of
// radius r (floor(r) = Reach along the axes, squared distance at most
// floor(r^2)) becomes v, as CSSEMatrix::Erode does with v as background:
// pixels beyond the raster do not count. Per row the pixels of value v are
// widened to each half-width the disc's rows need (level k: v within k
// columns); a pixel is near when the level of some disc row holds it in that
// row. The levels of the rows still to be read are made before a row is
// written, so the raster changes in place.
template <int Reach>
void growByDisc(orvik::detail::ByteRaster& raster, float r, std::uint8_t v) {
  const int w = raster.width(), h = raster.height();
  const std::int64_t limit = static_cast<std::int64_t>(std::floor(r * r));  // at least Reach^2
  constexpr int c_rows = 2 * Reach + 1, c_levels = Reach + 1;
  int halfWidth[c_rows];
  for (int dy = -Reach; dy <= Reach; ++dy) {
    int x = 0;
    while (x < Reach && std::int64_t(x + 1) * (x + 1) + std::int64_t(dy) * dy <= limit) ++x;
    halfWidth[dy + Reach] = x;
  }
  // Each level sits between zeros wide enough for the widest reads; the
  // rows beyond the raster read a level of zeros.
  constexpr int c_margin = 16;
  const int span = (w + 15) & ~15;
  const std::size_t levelSize = static_cast<std::size_t>(span) + 2 * c_margin;
  std::vector<std::uint8_t> buffer(levelSize * (c_levels * c_rows + 1), 0);
  const auto level = [&](int y, int k) {
    if (y < 0 || y >= h) return buffer.data() + levelSize * c_levels * c_rows + c_margin;
    return buffer.data() + (static_cast<std::size_t>(y % c_rows) * c_levels + k) * levelSize + c_margin;
  };
  const __m128i value = _mm_set1_epi8(static_cast<char>(v));
  const auto load = [](const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  };
  const auto store = [](std::uint8_t* p, __m128i x) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), x); };
  // Per row, bit c of its words: level Reach, which holds every other
  // level, has v in chunk c of 16 columns. A chunk that no disc row marks
  // has no v within the disc and stays as it is.
  const int words = (span / 16 + 63) / 64;
  std::vector<std::uint64_t> marks(static_cast<std::size_t>(words) * c_rows);
  const auto marksOf = [&](int y) { return marks.data() + static_cast<std::size_t>(y % c_rows) * words; };
  // Byte stores may alias anything, so the loops work on local copies of
  // their bounds.
  const auto makeLevels = [&, span, value](int y) {
    const std::uint8_t* src = raster.row(y);
    std::uint8_t* l0 = level(y, 0);
    std::uint64_t* mark = marksOf(y);
    std::fill(mark, mark + words, 0);
    // The walls beyond the last pixel are not v.
    for (int x = 0; x < span; x += 16) {
      const __m128i near = _mm_cmpeq_epi8(load(src + x), value);
      store(l0 + x, near);
      if (Reach == 0 && !_mm_testz_si128(near, near)) mark[x >> 10] |= std::uint64_t{1} << (x >> 4 & 63);
    }
    if constexpr (Reach > 0) {
      std::uint8_t* out[c_levels];
      for (int k = 1; k < c_levels; ++k) out[k] = level(y, k);
      for (int x = 0; x < span; x += 16) {
        __m128i near = load(l0 + x);
        for (int k = 1; k < c_levels; ++k) {
          near = _mm_or_si128(near, _mm_or_si128(load(l0 + x - k), load(l0 + x + k)));
          store(out[k] + x, near);
        }
        if (!_mm_testz_si128(near, near)) mark[x >> 10] |= std::uint64_t{1} << (x >> 4 & 63);
      }
    }
  };
  // The bytes of the last chunk that are pixels.
  alignas(16) std::uint8_t tail[32] = {};
  std::fill(tail, tail + 16, 0xFF);
  const __m128i lastChunk = load(tail + 16 - (w - (span - 16)));
  for (int y = 0; y < std::min(Reach, h); ++y) makeLevels(y);
  for (int y = 0; y < h; ++y) {
    if (y + Reach < h) makeLevels(y + Reach);
    const std::uint8_t* rows[c_rows];
    const std::uint64_t* rowMarks[c_rows];
    int marked = 0;
    for (int dy = -Reach; dy <= Reach; ++dy) {
      rows[dy + Reach] = level(y + dy, halfWidth[dy + Reach]);
      if (y + dy >= 0 && y + dy < h) rowMarks[marked++] = marksOf(y + dy);
    }
    std::uint8_t* out = raster.row(y);
    const int full = span - 16;
    for (int word = 0; word < words; ++word) {
      std::uint64_t chunks = 0;
      for (int k = 0; k < marked; ++k) chunks |= rowMarks[k][word];
      for (; chunks; chunks &= chunks - 1) {
        const int x = 16 * (64 * word + __builtin_ctzll(chunks));
        // Pixels that are v already stay so.
        const __m128i before = load(out + x);
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(before, value)) == 0xFFFF) continue;
        __m128i near = load(rows[0] + x);
        for (int k = 1; k < c_rows; ++k) near = _mm_or_si128(near, load(rows[k] + x));
        if (x == full) near = _mm_and_si128(near, lastChunk);
        store(out + x, _mm_blendv_epi8(before, value, near));
      }
    }
  }
}

// The outline drawn into a raster of W x H pixels, grown or shrunk by the
// disc and traced from its first pixel, as the height-field path does it:
// the first inside pixel is sought column by column from column 20 and row
// 20 on, and the trace keeps off a frame of the first and last four-row
// lines and three columns at either side.
bool traceThroughBytes(CSSE3dPolygon& outline, float r, bool grow, int W, int H, CPixelChain& chain) {
  orvik::detail::ByteRaster raster(W, H);
  orvik::detail::fillInside(outline, raster);
  // Inside is 0: growing spreads the 0 pixels, shrinking the 1 pixels.
  const std::uint8_t v = grow ? 0 : 1;
  switch (static_cast<int>(std::floor(r))) {
    case 0: growByDisc<0>(raster, r, v); break;
    case 1: growByDisc<1>(raster, r, v); break;
    case 2: growByDisc<2>(raster, r, v); break;
    case 3: growByDisc<3>(raster, r, v); break;
    case 4: growByDisc<4>(raster, r, v); break;
    case 5: growByDisc<5>(raster, r, v); break;
    default: growByDisc<6>(raster, r, v); break;
  }
  const int lastRow = 4 * ((H >> 2) + 1) - 21;
  int firstX = W - 20, firstY = 0;
  for (int y = 20; y <= lastRow && firstX > 20; ++y) {
    const std::uint8_t* row = raster.row(y);
    if (const void* hit = std::memchr(row + 20, 0, static_cast<std::size_t>(firstX - 20)))
      firstX = static_cast<int>(static_cast<const std::uint8_t*>(hit) - row), firstY = y;
  }
  if (firstX >= W - 20) return false;
  const int frameBelow = 4 * (H >> 2);
  const auto inside = [&](long x, long y) {
    const long cx = orvik::detail::limitTo(x, 0, W - 1), cy = orvik::detail::limitTo(y, 0, H - 1);
    return cy >= 4 && cy < frameBelow && cx >= 3 && cx < W - 3 && raster.row(static_cast<int>(cy))[cx] == 0;
  };
  orvik::detail::traceBoundary(
      chain, inside, [&](long x, long y) { return inside(x, y) ? 1.0f : 0.0f; }, W - 2, H - 2, firstX, firstY,
      1000000, false, 20);
  return true;
}

bool offsetWithMatrix(CSSE3dPolygon& p, float r, bool grow) {
  if (p.GetNumPoints() == 0 || !std::isfinite(r) || !finitePoints(p)) return false;
  float minX, minY, minZ, maxX, maxY, maxZ;
  p.GetBoundingBox3D(minX, minY, minZ, maxX, maxY, maxZ);
  // The box does not reach beyond +-1,000,000: such a polygon would not lie
  // where the scratch is placed.
  for (int i = 0; i < p.GetNumPoints(); ++i) {
    float x = 0, y = 0;
    p.GetPointXY(i, x, y);
    if (x < minX || x > maxX || y < minY || y > maxY) return false;
  }
  const double margin = grow ? 2.0 * (double(r) + 25.0) : 40.0;
  const double w = std::trunc(double(maxX) - minX + margin), h = std::trunc(double(maxY) - minY + margin);
  if (!(w >= 1.0 && h >= 1.0 && w * h <= c_dMaxScratchPixels)) return false;
  const int W = static_cast<int>(w), H = static_cast<int>(h);

  CSSE3dPolygon copy(p);
  copy.ShiftLine((static_cast<float>(W) - (minX + maxX)) / 2.0f,
                 (static_cast<float>(H) - (minY + maxY)) / 2.0f, 0.0f);
  copy.ReParametrize(1.0f);
  CPixelChain chain;
  if (r >= 0.0f && r < c_fByteDiscRadius) {
    // The margin keeps the outline and the disc well inside the raster.
    if (!traceThroughBytes(copy, r, grow, W, H, chain)) return false;
  } else {
    CSSEMatrix scratch;
    scratch.Create(W, H);
    copy.DrawInMatrixAndFillFine(1.0f, &scratch, true, false, -999999.875f, 999999.875f, true, false);
    if (grow)
      scratch.Dilate(r, 0.0f, 1.0f, 0, 2147483647, 0, 2147483647, true, 2147483647);
    else
      scratch.Erode(r, 0.0f, 1.0f, 0, 2147483647, 0, 2147483647, true, 2147483647);
    int x = 0, y = 0;
    scratch.FindFirstPoint(x, y, 0.5f, true);
    if (!(scratch.GetPoint(x, y) > 0.5f)) return false;
    chain.CreatePixelChain(&scratch, 0.5f, x, y, 1000000, true, false, 20);
  }
  // A full chain may have dropped the rest of the outline: a cut-off ring is
  // no offset of the polygon.
  if (chain.GetCount() >= CPixelChain::c_iMaxPoints) return false;
  CSSE3dPolygon traced(chain, 1);
  if (traced.GetNumPoints() == 0) return false;
  traced.ShiftLine(((minX + maxX) - static_cast<float>(W)) / 2.0f,
                   ((minY + maxY) - static_cast<float>(H)) / 2.0f, 0.0f);
  p.CreateSimilar(&traced);
  return true;
}

}  // namespace

void CSSE3dPolygon::DoQuasiMinkowskiDilation(float r, bool convexFirst) {
  CalcGeometricCenter();
  SSEPoint c;
  GetGeometricCenter(c);
  if (convexFirst) ReplaceByConvexHullXY();
  moveAlongRays(*this, r, c);
}

void CSSE3dPolygon::DoQuasiMinkowskiErosion(float r, bool convexFirst) {
  DoQuasiMinkowskiDilation(-r, convexFirst);
}

void CSSE3dPolygon::DoQuasiMinkowskiDilationCenter(float r, SSEPoint& c) { moveAlongRays(*this, r, c); }

bool CSSE3dPolygon::DilateExact(float r, int maxDirections) {
  return offsetExact(*this, r, maxDirections, true);
}

bool CSSE3dPolygon::ErodeExact(float r, int maxDirections) {
  return offsetExact(*this, r, maxDirections, false);
}

bool CSSE3dPolygon::DilateWithMatrix(float r) { return offsetWithMatrix(*this, r, true); }

bool CSSE3dPolygon::ErodeWithMatrix(float r) { return offsetWithMatrix(*this, r, false); }

void CSSE3dPolygon::InternalAreaDistanceTransform(float value, CSSEMatrix* heights, CSSEMatrix* target,
                                                  t_resolutiondata& res, bool sharp) {
  if (!heights || !target) return;
  for (int a = 0; a < 3; ++a)
    if (!(res[a] > 0.0f && std::isfinite(res[a]))) return;
  NormalizeXYZ(res);
  CalcBoundingBox();
  const int W = target->GetSizeX(), H = target->GetSizeY();
  const auto truncated = [](float v) {
    return static_cast<int>(std::clamp(std::trunc(double(v)), -1e9, 1e9));
  };
  const int x0 = std::max(truncated(m_pBottomLeft->x) - 4, 0),
            x1 = std::min(truncated(m_pTopRight->x) + 4, W);
  const int y0 = std::max(truncated(m_pBottomLeft->y) - 4, 0),
            y1 = std::min(truncated(m_pTopRight->y) + 4, H);
  // A scale this fine makes every block but the first one skipped.
  const int s = static_cast<int>(std::min(std::trunc(0.1f / res[0] + 0.5f), 1e9f));
  for (int row = y0; row < y1; ++row)
    for (int col = x0; col < x1; ++col) {
      if (!(std::fabs(target->GetPoint(col, row) - value) < 20.0f)) continue;
      const float px = static_cast<float>(col) * res[0], py = static_cast<float>(row) * res[1];
      const float d = GetMinEuclDistanceXY(px, py, s);
      if (d <= 0.35f) {
        target->SetPoint(col, row, d);
        continue;
      }
      const float t = std::min(sharp ? 2.0f * d : d / 2.0f, 1.0f);
      const float e = GetMinEuclDistanceSpecial(px, py, heights->GetPoint(col, row), 2 * s);
      target->SetPoint(col, row, (1.0f - t) * d + t * e);
    }
}
