#include "orvik/polygon/PolygonRaster.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "orvik/foundation/Alloc.h"
#include "orvik/foundation/Exception.h"
#include "orvik/matrix/ssematrix.h"
#include "orvik/polygon/SSE3dPolygon.h"

namespace orvik::detail {

namespace {

// A window bound as int, from a double that may be huge or not a number.
int clampToWindow(double v, int lo, int hi) {
  if (!(v >= lo)) return lo;
  if (!(v <= hi)) return hi;
  return static_cast<int>(v);
}

// Bit i set where p[i] is 0, for the 16 bytes from p.
unsigned zeroBits(const std::uint8_t* p) {
  return static_cast<unsigned>(_mm_movemask_epi8(
      _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128())));
}

// The end of the run of 0 bytes from x on, and the start of the run that
// ends just before x; a byte that is not 0 stops both within the frame.
int zeroRunEnd(const std::uint8_t* r, int x) {
  for (;; x += 16)
    if (const unsigned busy = ~zeroBits(r + x) & 0xFFFFu) return x + __builtin_ctz(busy);
}
int zeroRunStart(const std::uint8_t* r, int x) {
  for (;; x -= 16)
    if (const unsigned busy = ~zeroBits(r + x - 16) & 0xFFFFu) return x - 16 + (32 - __builtin_clz(busy));
}

}  // namespace

void ByteRaster::Free::operator()(std::uint8_t* p) const noexcept { SafeAlignedFree(p); }

ByteRaster::ByteRaster(int w, int h) : m_w(w), m_h(h) {
  if (w < 1 || h < 1 || w > INT_MAX - 2 * c_iPad)
    throw CbException("PolygonRaster", __LINE__, "ByteRaster", "size out of range");
  m_stride = c_iPad + ((static_cast<std::size_t>(w) + 15) & ~std::size_t{15}) + c_iPad;
  m_data.reset(
      static_cast<std::uint8_t*>(SafeAlignedAlloc(m_stride * (static_cast<std::size_t>(h) + 2), 16)));
  std::memset(row(-1) - c_iPad, c_uWall, m_stride);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* r = row(y);
    std::memset(r - c_iPad, c_uWall, c_iPad);
    std::memset(r, 0, static_cast<std::size_t>(w));
    std::memset(r + w, c_uWall, m_stride - c_iPad - static_cast<std::size_t>(w));
  }
  std::memset(row(h) - c_iPad, c_uWall, m_stride);
}

// A span flood: a popped pixel that is still 0 grows into its whole run of
// its row, and the runs beside that span in the rows above and below are
// entered once each, at their first pixel within it. In the row a span was
// entered from, the part beside the entering span is filled already and is
// not scanned again.
void ByteRaster::floodFromBorder() {
  struct Seed {
    int x, y;
    int from, fromLeft, fromRight;  // the entering span's row and columns
  };
  std::vector<Seed> pending;
  // The runs of row y within columns from .. to, entered from `span`.
  const auto enter = [&](int y, int from, int to, const Seed& span) {
    const std::uint8_t* r = row(y);
    unsigned before = 0;  // whether the pixel before the chunk is 0, within the span
    for (int x = from; x < to; x += 16) {
      unsigned zero = zeroBits(r + x);
      if (to - x < 16) zero &= (1u << (to - x)) - 1u;
      for (unsigned starts = zero & ~(zero << 1 | before) & 0xFFFFu; starts; starts &= starts - 1)
        pending.push_back({x + __builtin_ctz(starts), y, span.y, span.fromLeft, span.fromRight});
      before = zero >> 15 & 1u;
    }
  };
  // Seeds on the border scan both neighbouring rows whole.
  const auto border = [&](int x, int y) { pending.push_back({x, y, y - 1, INT_MAX, INT_MAX}); };
  {
    const std::uint8_t* top = row(0);
    const std::uint8_t* bottom = row(m_h - 1);
    for (int x = 0; x < m_w; ++x) {
      if (top[x] == 0 && (x == 0 || top[x - 1] != 0)) border(x, 0);
      if (bottom[x] == 0 && (x == 0 || bottom[x - 1] != 0)) border(x, m_h - 1);
    }
  }
  for (int y = 1; y + 1 < m_h; ++y) border(0, y), border(m_w - 1, y);
  while (!pending.empty()) {
    const Seed s = pending.back();
    pending.pop_back();
    std::uint8_t* r = row(s.y);
    if (r[s.x] != 0) continue;
    const int left = zeroRunStart(r, s.x), right = zeroRunEnd(r, s.x);
    std::memset(r + left, 1, static_cast<std::size_t>(right - left));
    // The wall rows hold no 0.
    const Seed span{s.x, s.y, s.y, left, right};
    enter(2 * s.y - s.from, left, right, span);
    enter(s.from, left, std::min(s.fromLeft, right), span);
    enter(s.from, std::max(s.fromRight, left), right, span);
  }
}

CrossingRuns::CrossingRuns(const CSSE3dPolygon& polygon, int c0, int c1, int r0, int r1, float offset, int step)
    : m_ring{polygon.m_pfX, polygon.m_pfY, polygon.m_iNumPoints, polygon.m_pXYMin->x, polygon.m_pXYMin->y,
             polygon.m_pXYMax->x, polygon.m_pXYMax->y},
      m_c0(c0),
      m_c1(c1),
      m_r0(r0),
      m_r1(std::max(r0, r1)),
      m_offset(offset) {
  if (step >= 2 && polygon.m_iNumPoints >= 3) {
    const int n = polygon.m_iNumPoints;
    m_thinX.push_back(polygon.m_pfX[n - 1]);
    m_thinY.push_back(polygon.m_pfY[n - 1]);
    for (int i = 0; i <= n - step; i += step) {
      m_thinX.push_back(polygon.m_pfX[i]);
      m_thinY.push_back(polygon.m_pfY[i]);
    }
    m_ring.x = m_thinX.data();
    m_ring.y = m_thinY.data();
    m_ring.n = static_cast<int>(m_thinX.size());
  }
  const Ring& ring = m_ring;
  m_boxR0 = m_boxR1 = m_r0;
  if (ring.n < 3 || c0 >= c1) {
    m_c1 = m_c0;
    return;
  }
  // The rows whose test point lies within the box form one range.
  int r = m_r0;
  const auto inBox = [&](int row) {
    const float py = static_cast<float>(row) + offset;
    return ring.minY <= py && py <= ring.maxY;
  };
  while (r < m_r1 && !inBox(r)) ++r;
  m_boxR0 = r;
  while (r < m_r1 && inBox(r)) ++r;
  m_boxR1 = r;

  m_edges.reserve(static_cast<std::size_t>(ring.n));
  for (int i = 0; i < ring.n; ++i) {
    const int a = i == 0 ? ring.n - 1 : i - 1;
    // Equal x never counts; neither does an x that is not a number.
    if (!(ring.x[a] != ring.x[i]) || std::isnan(ring.x[a]) || std::isnan(ring.x[i])) continue;
    const bool aFirst = ring.x[a] < ring.x[i];
    Edge e;
    e.x1 = aFirst ? ring.x[a] : ring.x[i];
    e.y1 = aFirst ? ring.y[a] : ring.y[i];
    e.x2 = aFirst ? ring.x[i] : ring.x[a];
    e.y2 = aFirst ? ring.y[i] : ring.y[a];
    e.first = clampToWindow(std::floor(double(e.x1) - offset), c0, c1);
    e.last = clampToWindow(std::ceil(double(e.x2) - offset), c0 - 1, c1 - 1);
    if (e.first <= e.last) m_edges.push_back(e);
  }
  std::stable_sort(m_edges.begin(), m_edges.end(), [](const Edge& p, const Edge& q) { return p.first < q.first; });
}

void CrossingRuns::advance(int c, std::vector<int>& active, std::size_t& next) const {
  while (next < m_edges.size() && m_edges[next].first <= c) active.push_back(static_cast<int>(next++));
  active.erase(std::remove_if(active.begin(), active.end(), [&](int i) { return m_edges[i].last < c; }), active.end());
}

bool CrossingRuns::column(int c, const std::vector<int>& active, std::vector<int>& flips, int& parity) const {
  const float px = static_cast<float>(c) + m_offset;
  if (!(m_ring.minX <= px && px <= m_ring.maxX) || m_boxR0 >= m_boxR1) return false;
  flips.clear();
  parity = 0;
  const double reach = std::max(std::fabs(double(m_r0) + m_offset), std::fabs(double(m_r1) + m_offset)) + 1.0;
  for (int i : active) {
    const Edge& e = m_edges[i];
    if (!(e.x1 < px && px <= e.x2)) continue;
    const float dx = e.x2 - e.x1;
    const float left = (e.y2 - e.y1) * (px - e.x1);
    const auto beyond = [&](int r) { return left > dx * ((static_cast<float>(r) + m_offset) - e.y1); };
    const bool monotone = std::isfinite(left) && std::isfinite(dx) && std::isfinite(e.y1) &&
                          double(dx) * (reach + std::fabs(double(e.y1))) < 1e38;
    if (monotone) {
      // The edge passes beyond the rows before t: they toggle.
      int t = clampToWindow(std::ceil(double(e.y1) - m_offset + double(left) / double(dx)), m_r0, m_r1);
      while (t < m_r1 && beyond(t)) ++t;
      while (t > m_r0 && !beyond(t - 1)) --t;
      parity ^= 1;
      flips.push_back(t);
    } else {
      // Overflowing products need not grow with the row: ask every row.
      for (int r = m_boxR0; r < m_boxR1; ++r)
        if (beyond(r)) flips.push_back(r), flips.push_back(r + 1);
    }
  }
  std::sort(flips.begin(), flips.end());
  return true;
}

void markOutside(const CSSE3dPolygon& ring, CSSEMatrix& m, float value, float offset, int step) {
  if (!m.HasMemory() || m.IsEmpty()) return;
  const int w = m.GetSizeX(), h = m.GetSizeY();
  const CrossingRuns runs(ring, 0, w, 0, h, offset, step);
  // Everything is outside but the runs: mark all, then restore the runs.
  const CSSEMatrix before(m);
  m.FillAreaExact(0, 0, w, h, value);
  runs.forEachRun([&](int c, int from, int to) {
    for (int r = from; r < to; ++r) m.SetPointUnsafe(c, r, before.GetPointUnsafe(c, r));
  });
}

}  // namespace orvik::detail
