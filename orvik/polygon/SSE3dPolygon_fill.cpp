// Area fills: the per-pixel fills (the crossing test over a window), the same
// split over row bands on worker threads, the coarse fill, and the outline
// method with its flood fill.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "orvik/chain/SSEcharMatrix.h"
#include "orvik/foundation/ThreadPool.h"
#include "orvik/matrix/ssematrix.h"
#include "orvik/matrix/ssematrix_lanes.h"
#include "orvik/polygon/PolygonRaster.h"
#include "orvik/polygon/SSE3dPolygon.h"

using orvik::detail::ByteRaster;
using orvik::detail::CrossingRuns;
using orvik::detail::roundPixel;
using orvik::detail::truncPixel;

namespace {

constexpr int c_iMarginBefore = 5;  // the scanned window reaches 5 pixels before the region
constexpr int c_iMarginAfter = 5;   // and up to, not including, 5 after its last pixel
constexpr int c_iOutlineLimit = 50;

// The region of the polygon's box, rows limited to yFrom .. yTo, clamped
// into a w x h matrix; the scanned window adds the margins.
struct Region {
  int c0, c1, r0, r1;
  int colFirst() const { return c0 - c_iMarginBefore; }
  int colEnd() const { return c1 + c_iMarginAfter; }
  int rowFirst() const { return r0 - c_iMarginBefore; }
  int rowEnd() const { return r1 + c_iMarginAfter; }
};

Region fillRegion(CSSE3dPolygon& p, int w, int h, float yFrom, float yTo) {
  p.CalcBoundingBox();
  const SSEPoint lo = p.GetBottomLeft(), hi = p.GetTopRight();
  Region r;
  r.c0 = std::clamp(truncPixel(lo.x), 0, w - 1);
  r.c1 = std::clamp(truncPixel(hi.x), 0, w - 1);
  const int q = std::min(std::max(truncPixel(lo.y), truncPixel(yFrom)), truncPixel(hi.y));
  r.r0 = std::clamp(q, 0, h - 1);
  r.r1 = std::clamp(std::max(std::min(truncPixel(hi.y), truncPixel(yTo)), q), 0, h - 1);
  return r;
}

bool drawable(const CSSEMatrix* m) { return m && m->HasMemory() && !m->IsEmpty(); }

// The outline method's ring, the polygon (rounded first with roundFirst)
// resampled half a pixel apart, and the box of its pixels: w + 1 by h + 1
// pixels from (bx, by); not usable for fewer than three points or when the box
// is out of int reach or wholly before column or row 0.
struct Outline {
  CSSE3dPolygon ring;
  int bx = 0, by = 0, w = 0, h = 0;
  bool usable = false;

  Outline(const CSSE3dPolygon& p, bool roundFirst) : ring(p) {
    if (p.GetNumPoints() < 3) return;
    if (roundFirst) ring.RoundPolygon(false);
    ring.ReParametrize(0.5f);
    ring.CalcBoundingBox();
    const SSEPoint lo = ring.GetBottomLeft(), hi = ring.GetTopRight();
    w = truncPixel(hi.x - lo.x + 0.5f), h = truncPixel(hi.y - lo.y + 0.5f);
    bx = truncPixel(lo.x + 0.5f), by = truncPixel(lo.y + 0.5f);
    usable = w >= 0 && h >= 0 && w != INT32_MAX && h != INT32_MAX && std::int64_t(bx) + w + 1 >= 1 &&
             std::int64_t(by) + h + 1 >= 1;
  }

  // Sets the ring's pixels, clamped into the box, to 1 in r with the box's
  // corner at (x0, y0); pixels before the box are left out.
  void plot(ByteRaster& r, int x0, int y0) const {
    for (int i = 0; i < ring.GetNumPoints(); ++i) {
      float x = 0, y = 0;
      ring.GetPointXY(i, x, y);
      const std::int64_t sx = std::int64_t(roundPixel(x)) - bx, sy = std::int64_t(roundPixel(y)) - by;
      if (sx < 0 || sy < 0) continue;
      const int px = static_cast<int>(std::min<std::int64_t>(sx, w)),
                py = static_cast<int>(std::min<std::int64_t>(sy, h));
      r.row(y0 + py)[x0 + px] = 1;
    }
  }
};

// Inside runs gathered per matrix column, clamped into the matrix the way
// single clamped writes would land (a run beyond a border ends on it), then
// applied line by line: the matrix is written in memory order, four rows per
// vector, instead of one 32 KB stride per vector down each column.
class ColumnRuns {
public:
  explicit ColumnRuns(const CSSEMatrix& m) : m_w(m.GetSizeX()), m_h(m.GetSizeY()), m_start(m_w + 1, 0) {}

  // Runs arrive with columns ascending (CrossingRuns::forEachRun); clamped
  // columns therefore gather at the ends.
  void add(int c, int from, int to) {
    const int x = std::clamp(c, 0, m_w - 1);
    m_runs.push_back({x, std::clamp(from, 0, m_h - 1), std::clamp(to - 1, 0, m_h - 1) + 1});
  }
  void append(const ColumnRuns& other) { m_runs.insert(m_runs.end(), other.m_runs.begin(), other.m_runs.end()); }

  template <class Op>
  void apply(CSSEMatrix& m, Op op) {
    if (m_runs.empty()) return;
    // Sorted by column and start; overlapping runs of one column may remain
    // (the border columns, several bands), and cost only a second blend.
    std::stable_sort(m_runs.begin(), m_runs.end(), [](const Run& a, const Run& b) {
      return a.x != b.x ? a.x < b.x : a.from < b.from;
    });
    std::fill(m_start.begin(), m_start.end(), 0);
    for (const Run& r : m_runs) ++m_start[r.x + 1];
    for (int x = 0; x < m_w; ++x) m_start[x + 1] += m_start[x];
    const int x0 = m_runs.front().x, x1 = m_runs.back().x + 1;
    int yLo = m_h, yHi = 0;
    for (const Run& r : m_runs) yLo = std::min(yLo, r.from), yHi = std::max(yHi, r.to);
    std::vector<int> cursor(m_start.begin() + x0, m_start.begin() + x1);
    __m128** lines = m.GetMatrixDataDirectly();
    for (int g = yLo >> 2; g <= (yHi - 1) >> 2; ++g) {
      const int top = 4 * g, bottom = top + 4;
      __m128* line = lines[g];
      for (int x = x0; x < x1; ++x) {
        int& k = cursor[x - x0];
        const int end = m_start[x + 1];
        while (k < end && m_runs[k].to <= top) ++k;  // runs that ended above this line
        if (k == end || m_runs[k].from >= bottom) continue;
        if (m_runs[k].from <= top && m_runs[k].to >= bottom) {
          line[x] = op(line[x]);
          continue;
        }
        __m128 mask = _mm_setzero_ps();
        for (int j = k; j < end && m_runs[j].from < bottom; ++j)
          mask = _mm_or_ps(mask, orvik::detail::rowRangeMask(g, m_runs[j].from, m_runs[j].to));
        line[x] = orvik::detail::select(mask, op(line[x]), line[x]);
      }
    }
  }

private:
  struct Run {
    int x, from, to;
  };
  int m_w, m_h;
  std::vector<int> m_start;
  std::vector<Run> m_runs;
};

template <class Op>
void fillWindow(const CSSE3dPolygon& copy, CSSEMatrix& m, const Region& r, Op op) {
  const CrossingRuns runs(copy, r.colFirst(), r.colEnd(), r.rowFirst(), r.rowEnd(), 0.0f);
  ColumnRuns gathered(m);
  runs.forEachRun([&](int c, int from, int to) { gathered.add(c, from, to); });
  gathered.apply(m, op);
}

}  // namespace

void CSSE3dPolygon::workingCopy(CSSE3dPolygon& copy, bool subsample) const {
  copy.CreateSimilar(this);
  if (subsample) copy.Subsample(5, true);
  copy.RemoveEqualPointsXY();
  copy.CalcBoundingBox();
}

void CSSE3dPolygon::DrawInMatrixAndFillFine(float value, CSSEMatrix* m, bool roundFirst, bool subsample, float yFrom,
                                            float yTo, bool fast, bool invert) {
  if (!drawable(m)) return;
  const Region r = fillRegion(*this, m->GetSizeX(), m->GetSizeY(), yFrom, yTo);
  if (fast && (r.c1 - r.c0 > c_iOutlineLimit || r.r1 - r.r0 > c_iOutlineLimit)) {
    drawInMatrixWithInsertPolygonAndFillFine(value, *m, roundFirst, invert);
    return;
  }
  CSSE3dPolygon copy;
  workingCopy(copy, subsample);
  const __m128 v = _mm_set1_ps(value);
  fillWindow(copy, *m, r, [v](__m128) { return v; });
}

void CSSE3dPolygon::DrawInMatrixAndFillFineMax(float value, CSSEMatrix* m, bool subsample, float yFrom, float yTo) {
  if (!drawable(m)) return;
  const Region r = fillRegion(*this, m->GetSizeX(), m->GetSizeY(), yFrom, yTo);
  CSSE3dPolygon copy;
  workingCopy(copy, subsample);
  const __m128 v = _mm_set1_ps(value);
  fillWindow(copy, *m, r, [v](__m128 e) { return _mm_max_ps(e, v); });  // value wins ties and NaN
}

void CSSE3dPolygon::DrawInMatrixAndFillFineMin(float value, CSSEMatrix* m, bool subsample, float yFrom, float yTo) {
  if (!drawable(m)) return;
  const Region r = fillRegion(*this, m->GetSizeX(), m->GetSizeY(), yFrom, yTo);
  CSSE3dPolygon copy;
  workingCopy(copy, subsample);
  const __m128 v = _mm_set1_ps(value);
  fillWindow(copy, *m, r, [v](__m128 e) { return _mm_min_ps(e, v); });
}

void CSSE3dPolygon::DrawSubInMatrixAndFill(float value, CSSEMatrix* m, float threshold, bool subsample, float yFrom,
                                           float yTo) {
  if (!drawable(m)) return;
  const Region r = fillRegion(*this, m->GetSizeX(), m->GetSizeY(), yFrom, yTo);
  CSSE3dPolygon copy;
  workingCopy(copy, subsample);
  const __m128 v = _mm_set1_ps(value), t = _mm_set1_ps(threshold);
  fillWindow(copy, *m, r, [v, t](__m128 e) {
    return orvik::detail::select(_mm_cmpgt_ps(t, _mm_sub_ps(e, v)), _mm_setzero_ps(), e);
  });
}

void CSSE3dPolygon::DrawInCharMatrixAndFillFine(char value, CSSEcharMatrix* m, bool subsample, float yFrom, float yTo) {
  if (!m || !m->HasMemory() || m->GetSizeX() < 1 || m->GetSizeY() < 1) return;
  const int w = m->GetSizeX(), h = m->GetSizeY();
  const Region r = fillRegion(*this, w, h, yFrom, yTo);
  CSSE3dPolygon copy;
  workingCopy(copy, subsample);
  const CrossingRuns runs(copy, r.colFirst(), r.colEnd(), r.rowFirst(), r.rowEnd(), 0.0f);
  runs.forEachRun([&](int c, int from, int to) {
    const int y1 = std::clamp(to - 1, 0, h - 1);
    for (int y = std::clamp(from, 0, h - 1); y <= y1; ++y) m->SetPoint(c, y, value);
  });
}

void CSSE3dPolygon::DrawInMatrixAndFillCoarse(float value, CSSEMatrix* m, bool subsample, float yFrom, float yTo) {
  if (!drawable(m)) return;
  CalcBoundingBox();
  const SSEPoint lo = GetBottomLeft(), hi = GetTopRight();
  CSSE3dPolygon copy;
  workingCopy(copy, subsample);
  // The sample grid is not clamped to the matrix; its bounds are kept within
  // int reach of the stepping (a box that large is beyond any matrix anyway).
  const auto bound = [](std::int64_t v) { return static_cast<int>(std::clamp<std::int64_t>(v, -(1 << 30), 1 << 30)); };
  const std::int64_t q = std::min(truncPixel(hi.y), std::max(truncPixel(lo.y), truncPixel(yFrom)));
  const int rowFirst = bound(q - 9);
  const int rowEnd = bound(std::max<std::int64_t>(q, std::min(truncPixel(hi.y), truncPixel(yTo))) + 9);
  const int colFirst = bound(std::int64_t(truncPixel(lo.x)) - 9), colEnd = bound(std::int64_t(truncPixel(hi.x)) + 9);
  const CrossingRuns runs(copy, colFirst, colEnd, rowFirst, rowEnd, 0.0f);
  runs.forEachRun(
      [&](int c, int from, int to) {
        // The first sampled row at or after `from`.
        for (int y = from + (3 - (from - rowFirst) % 3) % 3; y < to; y += 3) m->Set3x3BoxPoint(c, y, value);
      },
      3);
}

void CSSE3dPolygon::DrawInMatrixAndFillFineForLoop(float value, CSSEMatrix* m, bool subsample, float yFrom,
                                                   float yTo) {
  if (!drawable(m)) return;
  const Region r = fillRegion(*this, m->GetSizeX(), m->GetSizeY(), yFrom, yTo);
  const int workers = std::max(1, CbCPU::GetCount());
  CSSE3dPolygon copy;
  workingCopy(copy, subsample);
  const int band = (r.r1 - r.r0 + 10) / workers;
  const int colFirst = r.colFirst(), width = r.colEnd() - colFirst;
  if (width < 1) return;

  // Bands overlap by the margin and the last one takes the rest; every band
  // ends by the window's last row however many workers share few rows. Each
  // worker gathers its band's inside runs privately (its band image) and
  // shares the working copy read-only; the caller joins them in band order
  // and writes them.
  struct Band {
    int first, end;
    ColumnRuns inside;
  };
  std::vector<Band> bands;
  bands.reserve(static_cast<std::size_t>(workers));
  for (int k = 0; k < workers; ++k) {
    const int first = r.rowFirst() + k * band;
    const int end = k + 1 < workers ? std::min(r.r0 + (k + 1) * band, r.rowEnd()) : r.rowEnd();
    bands.push_back({first, end, ColumnRuns(*m)});
  }
  std::vector<std::jthread> threads;
  threads.reserve(bands.size());
  for (Band& b : bands)
    threads.emplace_back([&copy, &b, colFirst, width] {
      if (b.end <= b.first) return;
      const CrossingRuns runs(copy, colFirst, colFirst + width, b.first, b.end, 0.0f);
      runs.forEachRun([&](int c, int from, int to) { b.inside.add(c, from, to); });
    });
  ColumnRuns all(*m);
  for (std::size_t k = 0; k < bands.size(); ++k) {
    threads[k].join();
    all.append(bands[k].inside);
  }
  const __m128 v = _mm_set1_ps(value);
  all.apply(*m, [v](__m128) { return v; });
}

bool CSSE3dPolygon::drawInMatrixWithInsertPolygonAndFillFine(float value, CSSEMatrix& m, bool roundFirst, bool invert) {
  if (m_iNumPoints < 3 || !drawable(&m)) return false;
  const Outline o(*this, roundFirst);
  if (!o.usable) return false;
  const int ox = std::min(o.bx, m.GetSizeX() - 1), oy = std::min(o.by, m.GetSizeY() - 1);
  // The scratch's border pixels are the flood's seeds, so that an outside
  // pixel cut off from the rest by the outline is not taken for inside.
  ByteRaster scratch(o.w + 1, o.h + 1);
  o.plot(scratch, 0, 0);
  scratch.floodFromBorder();

  const int W = m.GetSizeX(), H = m.GetSizeY();
  const int right = static_cast<int>(std::min<std::int64_t>(std::int64_t(ox) + o.w + 1, W));
  const int below = static_cast<int>(std::min<std::int64_t>(std::int64_t(oy) + o.h + 1, H));
  if (invert) {
    m.FillAreaExact(0, 0, ox, H, value);
    m.FillAreaExact(right, 0, W, H, value);
    m.FillAreaExact(ox, 0, right, oy, value);
    m.FillAreaExact(ox, below, right, H, value);
  }
  // The scratch's pixels are 0 inside; value goes there (everywhere else
  // with invert). Its rows may reach into the spare lanes of m's last line.
  // Sixteen columns at a time, the four rows' bytes are interleaved into
  // four lane masks per column.
  const int x0 = std::max(ox, 0), y0 = std::max(oy, 0);
  const int y1 = static_cast<int>(std::min<std::int64_t>(std::int64_t(oy) + o.h + 1, 4 * m.GetSSESizeY()));
  const __m128 v = _mm_set1_ps(value);
  const __m128i zero = _mm_setzero_si128(), flip = invert ? _mm_set1_epi8(-1) : zero;
  const auto put = [v](__m128* column, __m128i lanes) {
    *column = _mm_blendv_ps(*column, v, _mm_castsi128_ps(_mm_cvtepi8_epi32(lanes)));
  };
  __m128** lines = m.GetMatrixDataDirectly();
  for (int g = y0 >> 2; y0 < y1 && g <= (y1 - 1) >> 2; ++g) {
    const std::uint8_t* rows[4];
    bool in[4];
    __m128i valid[4];
    for (int l = 0; l < 4; ++l) {
      const int y = 4 * g + l;
      in[l] = y >= y0 && y < y1;
      valid[l] = in[l] ? _mm_set1_epi8(-1) : zero;
      rows[l] = scratch.row(in[l] ? y - oy : 0);
    }
    __m128* line = lines[g];
    int x = x0;
    for (; x + 16 <= right; x += 16) {
      __m128i hit[4];
      for (int l = 0; l < 4; ++l) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[l] + (x - ox)));
        hit[l] = _mm_and_si128(valid[l], _mm_xor_si128(flip, _mm_cmpeq_epi8(b, zero)));
      }
      const __m128i any = _mm_or_si128(_mm_or_si128(hit[0], hit[1]), _mm_or_si128(hit[2], hit[3]));
      if (_mm_testz_si128(any, any)) continue;
      const __m128i lo01 = _mm_unpacklo_epi8(hit[0], hit[1]), hi01 = _mm_unpackhi_epi8(hit[0], hit[1]);
      const __m128i lo23 = _mm_unpacklo_epi8(hit[2], hit[3]), hi23 = _mm_unpackhi_epi8(hit[2], hit[3]);
      const __m128i quads[4] = {_mm_unpacklo_epi16(lo01, lo23), _mm_unpackhi_epi16(lo01, lo23),
                                _mm_unpacklo_epi16(hi01, hi23), _mm_unpackhi_epi16(hi01, hi23)};
      for (int k = 0; k < 4; ++k) {
        __m128* c = line + x + 4 * k;
        put(c, quads[k]);
        put(c + 1, _mm_srli_si128(quads[k], 4));
        put(c + 2, _mm_srli_si128(quads[k], 8));
        put(c + 3, _mm_srli_si128(quads[k], 12));
      }
    }
    for (; x < right; ++x) {
      int lanes[4];
      for (int l = 0; l < 4; ++l) lanes[l] = in[l] && (rows[l][x - ox] == 0) != invert ? -1 : 0;
      const __m128i hit = _mm_setr_epi32(lanes[0], lanes[1], lanes[2], lanes[3]);
      line[x] = _mm_blendv_ps(line[x], v, _mm_castsi128_ps(hit));
    }
  }
  return true;
}

void orvik::detail::fillInside(CSSE3dPolygon& polygon, ByteRaster& r) {
  const int w = r.width(), h = r.height();
  const Region region = fillRegion(polygon, w, h, -999999.875f, 999999.875f);
  const bool outline = region.c1 - region.c0 > c_iOutlineLimit || region.r1 - region.r0 > c_iOutlineLimit;
  if (outline) {
    const Outline o(polygon, true);
    if (o.usable && o.bx >= 1 && o.by >= 1 && std::int64_t(o.bx) + o.w + 1 < w &&
        std::int64_t(o.by) + o.h + 1 < h) {
      // Flooded from the raster's border, the outside reaches every pixel of
      // the box it reaches from the box's border, through the free ring
      // round the box; the outline and the outside are then 1, the inside 0.
      o.plot(r, o.bx, o.by);
      r.floodFromBorder();
      return;
    }
  }
  // Every pixel the runs do not mark is outside.
  for (int y = 0; y < h; ++y) std::memset(r.row(y), 1, static_cast<std::size_t>(w));
  if (outline) return;
  CSSE3dPolygon copy;
  polygon.workingCopy(copy, false);
  const CrossingRuns runs(copy, region.colFirst(), region.colEnd(), region.rowFirst(), region.rowEnd(), 0.0f);
  runs.forEachRun([&](int c, int from, int to) {
    const int x = std::clamp(c, 0, w - 1), last = std::clamp(to - 1, 0, h - 1);
    for (int y = std::clamp(from, 0, h - 1); y <= last; ++y) r.row(y)[x] = 0;
  });
}
