// Morphology of CSSEMatrix: disc erosion and dilation over the thread pool,
// thinning, removal of thin rows, frames and region borders, embedding and
// extracting windows.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "orvik/foundation/Alloc.h"
#include "orvik/foundation/ThreadPool.h"
#include "orvik/matrix/ssematrix.h"
#include "orvik/matrix/kernels/MatrixKernels.h"
#include "orvik/matrix/ssematrix_lanes.h"

using orvik::detail::alignLanes;
using orvik::detail::rowRangeMask;

namespace {

// Four table entries at once, indexed by the lanes of `i`.
inline __m128i lookup(const int* table, __m128i i) {
  return _mm_setr_epi32(table[_mm_cvtsi128_si32(i)], table[_mm_extract_epi32(i, 1)],
                        table[_mm_extract_epi32(i, 2)], table[_mm_extract_epi32(i, 3)]);
}

// Half-heights of the distances below 16 * Tables in byte tables held in
// registers, as half-height + 1 (0 for none, which gives -1: no row at all).
template <int Tables>
class ByteLookup {
 public:
  explicit ByteLookup(const std::vector<int>& halfHeight) {
    alignas(16) std::uint8_t bytes[16 * Tables] = {};
    // The last entry, for the cap, stays 0.
    for (std::size_t h = 0; h + 1 < halfHeight.size() && h < sizeof bytes; ++h)
      bytes[h] = static_cast<std::uint8_t>(halfHeight[h] + 1);
    for (int k = 0; k < Tables; ++k) m_tables[k] = _mm_load_si128(reinterpret_cast<const __m128i*>(bytes) + k);
  }
  // Each lane of h holds a distance below 16 * Tables.
  __m128i operator()(__m128i h) const {
    // A byte index of 16 or more (or below 0) saturates to one with the top
    // bit set, which picks 0 from every table but its own.
    const __m128i bias = _mm_set1_epi8(0x70);
    __m128i r = _mm_shuffle_epi8(m_tables[0], _mm_adds_epu8(h, bias));
    for (int k = 1; k < Tables; ++k)
      r = _mm_or_si128(r, _mm_shuffle_epi8(m_tables[k],
                                           _mm_adds_epu8(_mm_sub_epi8(h, _mm_set1_epi8(static_cast<char>(16 * k))), bias)));
    return _mm_sub_epi32(_mm_and_si128(r, _mm_set1_epi32(0xFF)), _mm_set1_epi32(1));
  }

 private:
  __m128i m_tables[Tables];
};

// The disc of the erosion over an area whose larger side is extent - 1:
// reach = floor(radius) and limit = floor(radius^2), both capped where the
// area ends so that no radius overflows them; -1 for a negative radius.
struct Disc {
  Disc(float radius, int extent) {
    if (radius < 0.0f) return;
    reach = radius >= static_cast<float>(extent) ? extent : static_cast<std::int64_t>(std::floor(radius));
    const float square = radius * radius;
    limit = square >= 4.0f * static_cast<float>(extent) * static_cast<float>(extent)
                ? 4ll * extent * extent
                : static_cast<std::int64_t>(std::floor(square));
  }
  // floor(sqrt(rest)) exactly, for rest >= 0.
  static std::int64_t isqrt(std::int64_t rest) {
    auto t = static_cast<std::int64_t>(std::sqrt(static_cast<double>(rest)));
    while (t * t > rest) --t;
    while ((t + 1) * (t + 1) <= rest) ++t;
    return t;
  }
  std::int64_t reach = -1, limit = -1;
};

// Runs a piece of work on the pool.
class BandWriter : public CbTask {
 public:
  explicit BandWriter(std::function<void()> work) : m_work(std::move(work)) {}
  void Execute() override { m_work(); }

 private:
  std::function<void()> m_work;
};

}  // namespace

// ---------------------------------------------------------------------------
// Erosion and dilation

class CSSEMatrix::QeTaskErodeMatrixArea : public CbTask {
 public:
  QeTaskErodeMatrixArea(int first, int last, int xFrom, int xTo, int yFrom, int yTo, const CSSEMatrix* source,
                        std::vector<std::uint8_t>* band, float background, float radius,
                        bool vectorVariant, unsigned long long affinityMask)
      : m_iFirst(first),
        m_iLast(last),
        m_iXFrom(xFrom),
        m_iXTo(xTo),
        m_iYFrom(yFrom),
        m_iYTo(yTo),
        m_pSource(source),
        m_pBand(band),
        m_fBackground(background),
        m_fRadius(radius),
        m_bVectorVariant(vectorVariant),
        m_ullAffinityMask(affinityMask) {}
  ~QeTaskErodeMatrixArea() override = default;

  void Execute() override {
    // The mask applies to this call's band only; the worker gets its own back.
    const bool pinned = m_ullAffinityMask >= 1 && m_ullAffinityMask < 0x7FFFFFFFull;
    const orvik::detail::ScopedThreadAffinity affinity(pinned ? m_ullAffinityMask : 0);
    // Should the band fail, the pool records it (HasFailed) and Erode redoes it.
    ErodeBand();
  }
  void ErodeBand();

 private:
  void bruteForce(std::int64_t reach, std::int64_t limit, int rowFrom, int rowTo);
  // Bit l of `bits` for the element in lane l of line g.
  void markLanes(int x, int g, int bits) {
    (*m_pBand)[static_cast<std::size_t>(g - (m_iYFrom >> 2)) * (m_iLast - m_iFirst + 1) + (x - m_iFirst)] |=
        static_cast<std::uint8_t>(bits);
  }
  void markNear(int x, int y) {
    (*m_pBand)[static_cast<std::size_t>((y >> 2) - (m_iYFrom >> 2)) * (m_iLast - m_iFirst + 1) +
               (x - m_iFirst)] |= static_cast<std::uint8_t>(1u << (y & 3));
  }

  std::int32_t m_iFirst, m_iLast;
  std::int32_t m_iXFrom, m_iXTo, m_iYFrom, m_iYTo;
  const CSSEMatrix* m_pSource;
  // One byte per vector of the task's columns and the area's SSE lines, line
  // by line: bit l set when the element in lane l has background within the
  // disc. The matrix itself is written by Erode once every task is done.
  std::vector<std::uint8_t>* m_pBand;
  // The new value is not needed here: Erode writes it after the join.
  float m_fBackground, m_fRadius;
  bool m_bVectorVariant;
  unsigned long long m_ullAffinityMask;
};

// The disc test asks whether a background element lies within squared
// distance floor(radius^2) (and within floor(radius) along each axis). Per row
// the band first finds the distance h along x to the nearest background
// element of the candidate area, capped just beyond the radius. A row at
// distance h brings background into the disc of every row within
// floor(sqrt(limit - h^2)) of it, an interval around the row; an element is
// near when an interval from above or from below reaches it, which one sweep
// down and one sweep up each column decide. The cost does not depend on the
// radius.
void CSSEMatrix::QeTaskErodeMatrixArea::ErodeBand() {
  const CSSEMatrix& src = *m_pSource;
  // Candidate rows: the area, or for the vector variant its whole SSE lines.
  const int rowFrom = m_bVectorVariant ? (m_iYFrom & ~3) : m_iYFrom;
  const int rowTo = m_bVectorVariant ? (m_iYTo | 3) : m_iYTo;
  const int extent = std::max(m_iXTo - m_iXFrom, rowTo - rowFrom) + 1;
  const Disc disc(m_fRadius, extent);
  const std::int64_t reach = disc.reach, limit = disc.limit;
  // Without the axis bound the disc can only gain the four axis points at
  // floor(radius) + 1, which happens when radius^2 rounds up to a square.
  if (reach < 0 || (reach < extent && limit >= (reach + 1) * (reach + 1))) {
    bruteForce(reach, limit, rowFrom, rowTo);
    return;
  }

  const int g0 = rowFrom >> 2, g1 = rowTo >> 2, lines = g1 - g0 + 1, rows = 4 * lines;
  // Half-height of the disc's column at distance h along x, exact in
  // integers; the cap (no background within reach) covers no row at all.
  constexpr int c_none = -(1 << 30);
  std::vector<int> halfHeight(static_cast<std::size_t>(reach) + 2);
  for (std::int64_t h = 0; h <= reach; ++h) {
    halfHeight[h] = static_cast<int>(Disc::isqrt(limit - h * h));
  }
  halfHeight[reach + 1] = c_none;

  const __m128 bg = _mm_set1_ps(m_fBackground);
  // Distances along x grow without bound away from background and are capped
  // at reach + 1 only when read: the running count is then a chain of two
  // one-cycle operations, and four lines run side by side to hide even that.
  const __m128i capv = _mm_set1_epi32(static_cast<int>(reach + 1)), one = _mm_set1_epi32(1);
  // Columns go in chunks so that the distances along x of a chunk stay in
  // cache; each chunk rescans at most `reach` columns on either side. A chunk
  // holds whole groups of four columns, the lanes of the sweeps.
  constexpr int c_chunk = 256;
  constexpr int c_side = 4;
  // Distances along x, line by line as the source is laid out.
  orvik::detail::VectorBuffer along(static_cast<std::size_t>(c_chunk) * lines);
  // Per row of the sweeps, four columns: the half-heights, then whether an
  // interval from above reaches the element.
  orvik::detail::VectorBuffer heights(rows), fromAbove(rows);
  // The two sweeps over the columns c0 .. c1 of a chunk, four at a time.
  auto sweeps = [&](int c0, int c1, const auto& halfHeightOf) {
      for (int x = c0; x <= c1; x += 4) {
        const int columns = std::min(4, c1 - x + 1);
        auto rowsOf = [&](int q, __m128& r0, __m128& r1, __m128& r2, __m128& r3) {
          const __m128* a = &along[static_cast<std::size_t>(q) * c_chunk + (x - c0)];
          r0 = a[0];
          r1 = a[1];
          r2 = a[2];
          r3 = a[3];
          _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        };
        // Downwards: the lowest row reached by an interval starting at or above.
        __m128i lowest = _mm_set1_epi32(c_none);
        for (int q = 0; q < lines; ++q) {
          __m128 r[4];
          rowsOf(q, r[0], r[1], r[2], r[3]);
          for (int l = 0; l < 4; ++l) {
            const int i = 4 * q + l;
            const __m128i y = _mm_set1_epi32(4 * (g0 + q) + l);
            const __m128i t = halfHeightOf(_mm_min_epi32(_mm_castps_si128(r[l]), capv));
            reinterpret_cast<__m128i&>(heights[i]) = t;
            lowest = _mm_max_epi32(lowest, _mm_add_epi32(y, t));
            fromAbove[i] = _mm_castsi128_ps(_mm_cmpgt_epi32(lowest, _mm_sub_epi32(y, _mm_set1_epi32(1))));
          }
        }
        // Upwards: the highest row reached by an interval starting at or below.
        __m128i highest = _mm_set1_epi32(-c_none);
        for (int q = lines - 1; q >= 0; --q) {
          __m128 near[4];
          for (int l = 3; l >= 0; --l) {
            const int i = 4 * q + l;
            const __m128i y = _mm_set1_epi32(4 * (g0 + q) + l);
            highest = _mm_min_epi32(highest, _mm_sub_epi32(y, reinterpret_cast<const __m128i&>(heights[i])));
            near[l] = _mm_or_ps(fromAbove[i], _mm_castsi128_ps(_mm_cmpgt_epi32(_mm_add_epi32(y, _mm_set1_epi32(1)),
                                                                                highest)));
          }
          _MM_TRANSPOSE4_PS(near[0], near[1], near[2], near[3]);
          // Lane l of near[j]: row 4 (g0 + q) + l of column x + j.
          const __m128 inArea = rowRangeMask(g0 + q, m_iYFrom, m_iYTo + 1);
          for (int j = 0; j < columns; ++j) {
            const int bits = _mm_movemask_ps(_mm_and_ps(near[j], inArea));
            if (bits) markLanes(x + j, g0 + q, bits);
          }
        }
      }
  };
  for (int c0 = m_iFirst; c0 <= m_iLast; c0 += c_chunk) {
    const int c1 = std::min(c0 + c_chunk - 1, m_iLast);
    const int scanFrom = static_cast<int>(std::max<std::int64_t>(m_iXFrom, c0 - reach));
    const int scanTo = static_cast<int>(std::min<std::int64_t>(m_iXTo, c1 + reach));
    const int groupEnd = std::min(c0 + ((c1 - c0 + 4) & ~3), c0 + c_chunk);
    for (int q0 = 0; q0 < lines; q0 += c_side) {
      // Past the last line the last one is repeated; it writes the same values.
      const __m128* in[c_side];
      __m128i* out[c_side];
      __m128 candidate[c_side];
      __m128i run[c_side];
      for (int k = 0; k < c_side; ++k) {
        const int q = std::min(q0 + k, lines - 1);
        in[k] = src.GetMatrixDataDirectly()[g0 + q];
        out[k] = reinterpret_cast<__m128i*>(&along[static_cast<std::size_t>(q) * c_chunk]);
        candidate[k] = rowRangeMask(g0 + q, rowFrom, rowTo + 1);
      }
      auto step = [&](int k, int x) {
        const __m128i isBg = _mm_castps_si128(_mm_and_ps(_mm_cmpeq_ps(in[k][x], bg), candidate[k]));
        run[k] = _mm_andnot_si128(isBg, _mm_add_epi32(run[k], one));
      };
      for (int k = 0; k < c_side; ++k) run[k] = capv;
      for (int x = scanFrom; x < c0; ++x)
        for (int k = 0; k < c_side; ++k) step(k, x);
      for (int x = c0; x <= c1; ++x)
        for (int k = 0; k < c_side; ++k) {
          step(k, x);
          out[k][x - c0] = run[k];
        }
      for (int k = 0; k < c_side; ++k) run[k] = capv;
      for (int x = scanTo; x > c1; --x)
        for (int k = 0; k < c_side; ++k) step(k, x);
      for (int x = c1; x >= c0; --x)
        for (int k = 0; k < c_side; ++k) {
          step(k, x);
          out[k][x - c0] = _mm_min_epi32(out[k][x - c0], run[k]);
        }
      // Columns that only fill up the last group see no background.
      for (int x = c1 + 1; x < groupEnd; ++x)
        for (int k = 0; k < c_side; ++k) out[k][x - c0] = capv;
    }
    // Short distances look their half-heights up in registers.
    if (reach < 15)
      sweeps(c0, c1, ByteLookup<1>(halfHeight));
    else if (reach < 31)
      sweeps(c0, c1, ByteLookup<2>(halfHeight));
    else if (reach < 63)
      sweeps(c0, c1, ByteLookup<4>(halfHeight));
    else
      sweeps(c0, c1, [&](__m128i h) { return lookup(halfHeight.data(), h); });
  }
}
// The literal disc test, for the radii whose disc is not a distance ball.
void CSSEMatrix::QeTaskErodeMatrixArea::bruteForce(std::int64_t reach, std::int64_t limit, int rowFrom,
                                                   int rowTo) {
  const CSSEMatrix& src = *m_pSource;
  for (int x = m_iFirst; x <= m_iLast; ++x)
    for (int y = m_iYFrom; y <= m_iYTo; ++y) {
      if (src.GetPointUnsafe(x, y) == m_fBackground) continue;
      bool near = false;
      const std::int64_t ya = std::max<std::int64_t>(rowFrom, y - reach),
                         yb = std::min<std::int64_t>(rowTo, y + reach);
      const std::int64_t xa = std::max<std::int64_t>(m_iXFrom, x - reach),
                         xb = std::min<std::int64_t>(m_iXTo, x + reach);
      for (std::int64_t yy = ya; yy <= yb && !near; ++yy)
        for (std::int64_t xx = xa; xx <= xb && !near; ++xx)
          near = (xx - x) * (xx - x) + (yy - y) * (yy - y) <= limit &&
                 src.GetPointUnsafe(static_cast<int>(xx), static_cast<int>(yy)) == m_fBackground;
      if (near) markNear(x, y);
    }
}

namespace {

// Radii below this take the direct path: its processor time grows with the
// radius, from about a third of the banded path's at radius 2 to about the
// same at radius 7, while the banded path's does not depend on the radius.
constexpr float c_directErosionRadius = 7.0f;

// Erosion of a small radius (reach at most 6, so that the disc's rows lie in
// the two lines above an SSE line, the line and the two below) in one pass
// down the lines. Per line the kernels find where background lies within w
// columns of every element, for each half-width w of the disc's rows; an
// element is near when that holds for the row offset of some row of the disc.
// The runs of the lines below are taken from the source before the line
// itself is written, so the matrix is eroded in place.
void erodeSmall(CSSEMatrix& m, const Disc& disc, float background, float newValue, int xFrom, int xTo,
                int yFrom, int yTo, int rowFrom, int rowTo) {
  const int n = xTo - xFrom + 1, lines = m.GetSSESizeY();
  const int reach = static_cast<int>(disc.reach), levels = std::max(reach, 0) + 1;
  constexpr int c_pad = 7, c_slots = 5;
  orvik::detail::ErosionLine job{};
  for (int dy = -7; dy <= 7; ++dy) {
    const std::int64_t rest = disc.limit - dy * dy;
    job.reachOf[dy + 7] =
        std::abs(dy) > reach || rest < 0 ? -1 : static_cast<int>(std::min<std::int64_t>(Disc::isqrt(rest), reach));
  }
  // Five lines of runs in turn, and zeros for the lines without candidates.
  const std::size_t slotSize = static_cast<std::size_t>(levels) * n + 2 * c_pad;
  orvik::detail::VectorBuffer buffer(c_slots * slotSize + n);
  for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = _mm_setzero_ps();
  __m128* slots[c_slots][c_pad + 1];
  const __m128* zeros[c_pad + 1];
  for (int k = 0; k < c_slots; ++k)
    for (int w = 0; w < levels; ++w)
      slots[k][w] = buffer.data() + k * slotSize + c_pad + static_cast<std::size_t>(w) * n + (w ? c_pad : 0);
  for (int w = 0; w <= c_pad; ++w) zeros[w] = buffer.data() + c_slots * slotSize;

  const auto& kernels = orvik::detail::matrixKernels();
  __m128** data = m.GetMatrixDataDirectly();
  auto runs = [&](int g) -> const __m128* const* {
    if (g < 0 || g >= lines || g < rowFrom >> 2 || g > rowTo >> 2) return zeros;
    __m128* const* slot = slots[g % c_slots];
    kernels.erosionRuns({data[g] + xFrom, slot, n, reach, background, rowRangeMask(g, rowFrom, rowTo + 1)});
    return slot;
  };
  job.count = n;
  job.background = background;
  job.newValue = newValue;
  for (int k = 0; k < 4; ++k) job.lines[k] = runs((yFrom >> 2) - 2 + k);
  for (int g = yFrom >> 2; g <= yTo >> 2; ++g) {
    job.lines[4] = runs(g + 2);
    job.target = data[g] + xFrom;
    job.area = rowRangeMask(g, yFrom, yTo + 1);
    kernels.erosionLine(job);
    for (int k = 0; k < 4; ++k) job.lines[k] = job.lines[k + 1];
  }
}

}  // namespace

void CSSEMatrix::Erode(float radius, float background, float newValue, int xFrom, int xTo, int yFrom, int yTo,
                       bool vectorVariant, unsigned long long affinityMask) {
  if (!HasMemory() || IsEmpty()) return;
  xFrom = std::max(xFrom, 0);
  xTo = std::min(xTo, m_iSizeX - 1);
  yFrom = std::max(yFrom, 0);
  yTo = std::min(yTo, m_iSizeY - 1);
  if (xFrom > xTo || yFrom > yTo) return;
  if (radius < c_directErosionRadius) {
    const int rowFrom = vectorVariant ? (yFrom & ~3) : yFrom, rowTo = vectorVariant ? (yTo | 3) : yTo;
    erodeSmall(*this, Disc(radius, std::max(xTo - xFrom, rowTo - rowFrom) + 1), background, newValue, xFrom, xTo,
               yFrom, yTo, rowFrom, rowTo);
    return;
  }

  const int tasks = std::min(xTo - xFrom + 1, std::max(1, CbCPU::GetCount()));
  const int q = (xTo - xFrom) / tasks, r = (xTo - xFrom) % tasks;
  struct Band {
    int first, last;
    std::vector<std::uint8_t> near;
    CbSmartPointer<QeTaskErodeMatrixArea> task;
  };
  const int gFrom = yFrom >> 2, gTo = yTo >> 2;
  std::vector<Band> bands(tasks);
  auto& pool = CbSingleton<CbThreadPool>::GetInstance();
  int next = xFrom;
  for (int k = 0; k < tasks; ++k) {
    Band& b = bands[k];
    b.first = next;
    b.last = std::min(next + (k <= r ? q + 1 : q) - 1, xTo);
    next = b.last + 1;
    b.near.assign(static_cast<std::size_t>(b.last - b.first + 1) * (gTo - gFrom + 1), 0);
    b.task = new QeTaskErodeMatrixArea(b.first, b.last, xFrom, xTo, yFrom, yTo, this, &b.near, background,
                                       radius, vectorVariant, affinityMask);
    pool.AddTask(b.task, 1);
  }
  for (Band& b : bands) b.task->WaitUntilTerminate(0xFFFFFFFFu);
  // Nothing is written until every band is complete.
  for (Band& b : bands)
    if (b.task->HasFailed()) {
      std::fill(b.near.begin(), b.near.end(), 0);
      b.task->ErodeBand();
    }
  // Every band is complete: the bands write their columns side by side.
  auto write = [this, gFrom, gTo, yFrom, yTo, background, newValue](const Band& b) {
    const __m128 bg = _mm_set1_ps(background), value = _mm_set1_ps(newValue);
    const __m128i bits = _mm_setr_epi32(1, 2, 4, 8);
    const int columns = b.last - b.first + 1;
    for (int g = gFrom; g <= gTo; ++g) {
      const __m128 area = rowRangeMask(g, yFrom, yTo + 1);
      const std::uint8_t* near = &b.near[static_cast<std::size_t>(g - gFrom) * columns];
      __m128* line = m_ppLines[g] + b.first;
      for (int x = 0; x < columns; ++x) {
        const __m128i set = _mm_and_si128(_mm_set1_epi32(near[x]), bits);
        const __m128 nearLanes = _mm_castsi128_ps(_mm_cmpeq_epi32(set, bits));
        const __m128 v = line[x];
        const __m128 write = _mm_andnot_ps(_mm_cmpeq_ps(v, bg), area);
        line[x] = _mm_blendv_ps(v, _mm_blendv_ps(value, bg, nearLanes), write);
      }
    }
  };
  std::vector<CbSmartPointer<BandWriter>> writers(bands.size());
  for (std::size_t k = 1; k < bands.size(); ++k) {
    const Band* b = &bands[k];
    writers[k] = new BandWriter([&write, b] { write(*b); });
    pool.AddTask(writers[k], 1);
  }
  write(bands[0]);
  // Writing a band again gives the same values, so one whose task failed
  // part way is simply written here.
  for (std::size_t k = 1; k < bands.size(); ++k) {
    writers[k]->WaitUntilTerminate(0xFFFFFFFFu);
    if (writers[k]->HasFailed()) write(bands[k]);
  }
}

void CSSEMatrix::Dilate(float radius, float a, float b, int xFrom, int xTo, int yFrom, int yTo,
                        bool vectorVariant, unsigned long long affinityMask) {
  Erode(radius, b, a, xFrom, xTo, yFrom, yTo, vectorVariant, affinityMask);
}

// ---------------------------------------------------------------------------
// Thinning

namespace {

// For each 8-neighbourhood, bit k set when p(k+2) is 1 (p2 above, then
// clockwise): whether the first (second) sub-iteration removes the centre.
struct ThinningRules {
  bool first[256];
  bool second[256];
  ThinningRules() {
    for (int code = 0; code < 256; ++code) {
      int p[10];
      for (int k = 0; k < 8; ++k) p[k + 2] = code >> k & 1;
      int count = 0, transitions = 0;
      for (int k = 2; k <= 9; ++k) {
        count += p[k];
        transitions += p[k] == 0 && p[k == 9 ? 2 : k + 1] == 1;
      }
      const bool common = transitions == 1 && count >= 3 && count <= 6;
      first[code] = common && p[2] * p[4] * p[6] == 0 && p[4] * p[6] * p[8] == 0;
      second[code] = common && p[2] * p[4] * p[8] == 0 && p[2] * p[6] * p[8] == 0;
    }
  }
};

}  // namespace

void CSSEMatrix::ZhangSuen(float threshold) {
  if (!HasMemory() || IsEmpty()) return;
  static const ThinningRules rules;
  const int sx = m_iSizeX, sy = m_iSizeY, rows = 4 * m_iSSESizeY;
  std::vector<std::uint8_t> image(static_cast<std::size_t>(sx) * rows);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < sx; ++x)
      image[static_cast<std::size_t>(y) * sx + x] = GetPointUnsafe(x, y) > threshold;

  std::vector<std::size_t> marked;
  auto subIteration = [&](const bool* removes) {
    marked.clear();
    for (int y = 1; y <= sy - 2; ++y) {
      const std::uint8_t* c = &image[static_cast<std::size_t>(y) * sx];
      const std::uint8_t* u = c - sx;
      const std::uint8_t* d = c + sx;
      for (int x = 1; x <= sx - 2; ++x) {
        if (!c[x]) continue;
        const int code = u[x] | u[x + 1] << 1 | c[x + 1] << 2 | d[x + 1] << 3 | d[x] << 4 | d[x - 1] << 5 |
                         c[x - 1] << 6 | u[x - 1] << 7;
        if (removes[code]) marked.push_back(static_cast<std::size_t>(y) * sx + x);
      }
    }
    for (std::size_t i : marked) image[i] = 0;
    return !marked.empty();
  };
  for (int iteration = 0; iteration < 1000; ++iteration)
    if (!subIteration(rules.first) || !subIteration(rules.second)) break;

  Fill(0.0f);
  for (int y = 1; y <= sy - 2; ++y)
    for (int x = 1; x <= sx - 2; ++x)
      if (image[static_cast<std::size_t>(y) * sx + x]) SetPointUnsafe(x, y, 1.0f);
}

// ---------------------------------------------------------------------------
// Rows, frames and borders

void CSSEMatrix::RemoveThinAreas(int row, float minCount, float threshold) {
  if (!HasMemory() || IsEmpty()) return;
  auto count = [&](int y) {
    int n = 0;
    for (int x = 0; x < m_iSizeX; ++x) n += GetPointUnsafe(x, y) > threshold;
    return static_cast<float>(n);
  };
  for (int y = std::max(row, 0); y < m_iSizeY; ++y)
    if (count(y) < minCount) {
      FillArea(0, y, m_iSizeX - 1, m_iSizeY - 1, threshold);
      break;
    }
  for (int y = std::min(row - 1, m_iSizeY - 1); y >= 1; --y)
    if (count(y) < minCount) {
      FillArea(0, 0, m_iSizeX - 1, y, threshold);
      break;
    }
}

void CSSEMatrix::RemoveFrameArtefacts(int nx, int ny, float value) {
  if (!HasMemory()) return;
  const __m128 v = _mm_set1_ps(value);
  const int lines = m_iSSESizeY;
  const int left = std::min(nx, m_iSizeX), right = std::max(m_iSizeX - nx - 1, 0);
  for (int g = 0; g < lines; ++g) {
    __m128* l = m_ppLines[g];
    for (int x = 0; x < left; ++x) l[x] = v;
    for (int x = right; x < m_iSizeX; ++x) l[x] = v;
  }
  const int top = std::min(ny >> 2, lines), bottom = std::max(lines - (ny >> 2) - 1, 0);
  for (int g = 0; g < lines; ++g)
    if (g < top || g >= bottom)
      for (int x = 0; x < m_iSizeX; ++x) m_ppLines[g][x] = v;
}

void CSSEMatrix::EraseFrame(CSSEMatrix* erased) {
  if (!HasMemory() || m_iSizeX < 3 || m_iSizeY < 3) return;
  const CSSEMatrix copy(*this);
  const bool record = erased && erased != this && erased->HasMemory() && erased->m_iSizeX == m_iSizeX &&
                      erased->m_iSizeY == m_iSizeY;
  const __m128 zero = _mm_setzero_ps();
  const int lines = m_iSSESizeY;
  for (int g = 0; g <= (m_iSizeY - 2) >> 2; ++g) {
    const __m128 inside = rowRangeMask(g, 1, m_iSizeY - 1);
    const __m128* prev = copy.m_ppLines[g > 0 ? g - 1 : g];
    const __m128* cur = copy.m_ppLines[g];
    const __m128* next = copy.m_ppLines[g + 1 < lines ? g + 1 : g];
    __m128* out = m_ppLines[g];
    for (int x = 1; x < m_iSizeX - 1; ++x) {
      const __m128 c = cur[x];
      const __m128 touches =
          _mm_or_ps(_mm_or_ps(_mm_cmpeq_ps(alignLanes(prev[x], c, 3), zero),
                              _mm_cmpeq_ps(alignLanes(c, next[x], 1), zero)),
                    _mm_or_ps(_mm_cmpeq_ps(cur[x - 1], zero), _mm_cmpeq_ps(cur[x + 1], zero)));
      const __m128 erase = _mm_and_ps(_mm_and_ps(_mm_cmpneq_ps(c, zero), touches), inside);
      out[x] = _mm_blendv_ps(c, zero, erase);
      if (record) erased->m_ppLines[g][x] = _mm_blendv_ps(erased->m_ppLines[g][x], c, erase);
    }
  }
}

// ---------------------------------------------------------------------------
// Embedding and windows

bool CSSEMatrix::EmbedMatrix(const CSSEMatrix& src, int offsetX, int offsetY, float threshold) {
  if (offsetX < 0 || offsetY < 0 || !src.HasMemory() || !HasMemory()) return false;
  if (src.m_iSizeX > m_iSizeX - offsetX || src.m_iSizeY > m_iSizeY - offsetY) return false;
  if (src.IsEmpty()) return true;
  if (&src == this) return true;  // only a zero offset fits, which changes nothing
  const __m128 t = _mm_set1_ps(threshold), zero = _mm_setzero_ps();
  const int srcLines = src.m_iSSESizeY;
  for (int g = offsetY >> 2; g <= (offsetY + src.m_iSizeY - 1) >> 2; ++g) {
    // Target line g holds source rows 4g - offsetY + lane.
    const int top = 4 * g - offsetY;
    const int q = top >= 0 ? top >> 2 : -1;
    const int s = top - 4 * q;
    const __m128* lo = q >= 0 ? src.m_ppLines[q] : nullptr;
    const __m128* hi = q + 1 < srcLines ? src.m_ppLines[q + 1] : nullptr;
    const __m128 valid = rowRangeMask(g, offsetY, offsetY + src.m_iSizeY);
    __m128* out = m_ppLines[g] + offsetX;
    for (int x = 0; x < src.m_iSizeX; ++x) {
      const __m128 v = alignLanes(lo ? lo[x] : zero, hi ? hi[x] : zero, s);
      out[x] = _mm_blendv_ps(out[x], v, _mm_and_ps(_mm_cmpgt_ps(v, t), valid));
    }
  }
  return true;
}

void CSSEMatrix::EmbedMatrix_nonSSE(const CSSEMatrix* src, int offsetX, int offsetY) {
  if (!src || !src->HasMemory() || !HasMemory()) return;
  if (src == this) {
    const CSSEMatrix copy(*this);
    EmbedMatrix_nonSSE(&copy, offsetX, offsetY);
    return;
  }
  const int xa = std::max(0, -offsetX), xb = std::min(m_iSizeX, src->m_iSizeX - offsetX);
  const int ya = std::max(0, -offsetY), yb = std::min(m_iSizeY, src->m_iSizeY - offsetY);
  for (int y = ya; y < yb; ++y)
    for (int x = xa; x < xb; ++x) SetPointUnsafe(x, y, src->GetPointUnsafe(x + offsetX, y + offsetY));
}

void CSSEMatrix::EmbedinValueFrame(int frameY, int frameX, float value) {
  if (frameY < 0 || frameX < 0 || !HasMemory()) return;
  CSSEMatrix framed;
  framed.CreateNoClear(m_iSizeX + 2 * frameX, m_iSizeY + 2 * frameY);
  framed.Fill(value);
  framed.EmbedMatrix_nonSSE(this, -frameX, -frameY);
  takeMemoryFrom(framed);
}

bool CSSEMatrix::ExtractFromValueFrame_nonSSE(int frameY, int frameX) {
  if (frameY < 0 || frameX < 0 || !HasMemory()) return false;
  if (m_iSizeX - 2 * frameX < 0 || m_iSizeY - 2 * frameY < 0) return false;
  CSSEMatrix inner;
  inner.Create(m_iSizeX - 2 * frameX, m_iSizeY - 2 * frameY);
  inner.EmbedMatrix_nonSSE(this, frameX, frameY);
  takeMemoryFrom(inner);
  return true;
}

bool CSSEMatrix::ExtractFrame_nonSSE(int x0, int y0, int x1, int y1) {
  if (!HasMemory()) return false;
  x0 = std::clamp(x0, 0, m_iSizeX);
  x1 = std::clamp(x1, 0, m_iSizeX);
  y0 = std::clamp(y0, 0, m_iSizeY);
  y1 = std::clamp(y1, 0, m_iSizeY);
  if (x1 - x0 < 1 || y1 - y0 < 1) return false;
  CSSEMatrix window;
  window.Create(x1 - x0, y1 - y0);
  window.EmbedMatrix_nonSSE(this, x0, y0);
  takeMemoryFrom(window);
  return true;
}
