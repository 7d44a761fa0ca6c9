// Area fills: the per-pixel fills (the crossing test over a window), the same
// split over row bands on worker threads, the coarse fill, and the outline
// method with its flood fill.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

#include "orvik/chain/SSEcharMatrix.h"
#include "orvik/foundation/ThreadPool.h"
#include "orvik/matrix/ssematrix.h"
#include "orvik/matrix/ssematrix_lanes.h"
#include "orvik/polygon/PolygonRaster.h"
#include "orvik/polygon/SSE3dPolygon.h"

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
  CSSE3dPolygon copy(*this);
  if (roundFirst) copy.RoundPolygon(false);
  copy.ReParametrize(0.5f);
  copy.CalcBoundingBox();
  const SSEPoint lo = copy.GetBottomLeft(), hi = copy.GetTopRight();
  const int w = truncPixel(hi.x - lo.x + 0.5f), h = truncPixel(hi.y - lo.y + 0.5f);
  const int bx = truncPixel(lo.x + 0.5f), by = truncPixel(lo.y + 0.5f);
  if (w < 0 || h < 0 || w == INT32_MAX || h == INT32_MAX) return false;
  if (std::int64_t(bx) + w + 1 < 1 || std::int64_t(by) + h + 1 < 1) return false;
  const int ox = std::min(bx, m.GetSizeX() - 1), oy = std::min(by, m.GetSizeY() - 1);

  CSSEMatrix scratch;
  scratch.Create(w + 1, h + 1);
  for (int i = 0; i < copy.m_iNumPoints; ++i) {
    const std::int64_t sx = std::int64_t(roundPixel(copy.m_pfX[i])) - bx, sy = std::int64_t(roundPixel(copy.m_pfY[i])) - by;
    if (sx >= 0 && sy >= 0) scratch.SetPoint(static_cast<int>(std::min<std::int64_t>(sx, w)),
                                             static_cast<int>(std::min<std::int64_t>(sy, h)), 1.0f);
  }
  // Flood the outside from every border pixel of the scratch. A seed is
  // marked before its flood: the flood never writes its own seed, and an
  // outside corner pixel cut off from the rest by the outline would stay 0
  // and be taken for inside.
  const auto flood = [&](int a, int b) {
    if (scratch.GetPointUnsafe(a, b) >= 0.5f) return;
    scratch.SetPointUnsafe(a, b, 1.0f);
    fillFromPoint(scratch, a, b, 1.0f);
  };
  for (int a = 0; a <= w; ++a) flood(a, 0), flood(a, h);
  for (int b = 0; b <= h; ++b) flood(0, b), flood(w, b);

  if (invert) {
    scratch.ScalarMultiply(-1.0f);
    scratch.OffsetMatrix(1.0f);
    const int W = m.GetSizeX(), H = m.GetSizeY();
    const int right = static_cast<int>(std::min<std::int64_t>(std::int64_t(ox) + w + 1, W));
    const int below = static_cast<int>(std::min<std::int64_t>(std::int64_t(oy) + h + 1, H));
    m.FillAreaExact(0, 0, ox, H, value);
    m.FillAreaExact(right, 0, W, H, value);
    m.FillAreaExact(ox, 0, right, oy, value);
    m.FillAreaExact(ox, below, right, H, value);
  }
  m.MaskMatrix(scratch, 1.0f, ox, oy, value, 0.1f);
  return true;
}

void CSSE3dPolygon::fillFromPoint(CSSEMatrix& m, int seedX, int seedY, float value) {
  if (!drawable(&m)) return;
  const float limit = value - 0.01f;
  const int w = m.GetSizeX(), h = m.GetSizeY();
  // Rows are interleaved four to a vector, so a row's next pixel sits four
  // floats on; a written pixel is no longer below the limit and so counts as
  // visited.
  __m128* const* lines = m.GetMatrixDataDirectly();
  const auto row = [lines](int y) { return reinterpret_cast<float*>(lines[y >> 2]) + (y & 3); };
  constexpr std::ptrdiff_t step = 4;
  std::vector<std::pair<int, int>> pending;
  const auto enter = [&](int x, int y) {
    if (x >= 0 && x < w && y >= 0 && y < h) pending.emplace_back(x, y);
  };
  enter(seedX, seedY - 1), enter(seedX - 1, seedY), enter(seedX, seedY + 1), enter(seedX + 1, seedY);
  while (!pending.empty()) {
    const auto [x, y] = pending.back();
    pending.pop_back();
    float* r = row(y);
    if (!(r[step * x] < limit)) continue;
    int left = x, right = x + 1;
    while (left > 0 && r[step * (left - 1)] < limit) --left;
    while (right < w && r[step * right] < limit) ++right;
    for (int i = left; i < right; ++i) r[step * i] = value;
    // Each open run beside the span is entered once, at its first pixel
    // within the span; the entry widens it beyond the span's ends.
    for (const int ny : {y - 1, y + 1}) {
      if (ny < 0 || ny >= h) continue;
      const float* n = row(ny);
      for (int i = left; i < right; ++i)
        if (n[step * i] < limit && (i == left || !(n[step * (i - 1)] < limit))) pending.emplace_back(i, ny);
    }
  }
}
