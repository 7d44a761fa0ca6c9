// Scan conversion: the mesh rendered into a height field by sampling every
// triangle and splatting the samples. The samples of a triangle lie on a
// barycentric grid one pixel diagonal apart along its longer leg, so their
// number stays near the number of pixels the triangle covers; the splat (a
// cross, or a box) closes the gaps between them. Every write keeps the larger
// (or smaller) value, so the result does not depend on the order in which
// triangles, or threads, deliver their samples.
#include <algorithm>
#include <cmath>
#include <thread>
#include <type_traits>
#include <vector>

#include "orvik/matrix/ssematrix.h"
#include "orvik/matrix/ssematrix_lanes.h"
#include "orvik/polygon/PolygonRaster.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "orvik/triangulation/HTriangulation.h"

namespace {

enum class ESplat { Single, Cross, Box3, Box5 };

// Pixels spanned by an extent: trunc(extent / res + 0.5); 0 when the
// resolution is not positive or the count is below one or beyond int.
int pixelCount(float extent, float res) {
  if (!(res > 0.0f)) return 0;
  const float v = extent / res + 0.5f;
  return v >= 1.0f && v < 2147483648.0f ? static_cast<int>(v) : 0;
}

}  // namespace

namespace orvik::detail {

// What one render writes into and how.
struct ScanTarget {
  __m128** lines = nullptr;
  int sizeX = 0, sizeY = 0;  // the pixels samples may reach, not more than the image has
  __m128 origin = _mm_setzero_ps();
  __m128 resolution = _mm_set1_ps(1.0f);  // (resX, resY, 1, 1)
  float offset = 0.0f;
  float density = 1.0f;
  ESplat splat = ESplat::Cross;
  bool max = true;
  bool limitY = false;  // only triangles whose corner 0 has yLow < y < yHigh
  float yLow = 0.0f, yHigh = 0.0f;
};

}  // namespace orvik::detail

namespace {

using orvik::detail::ScanTarget;
using Target = ScanTarget;

inline float* pixel(__m128** lines, int x, int y) { return reinterpret_cast<float*>(lines[y >> 2]) + 4 * x + (y & 3); }

// The SSE rule: on equality or NaN the new value wins.
template <bool Max>
inline void keep(float* p, float v) {
  if constexpr (Max)
    *p = *p > v ? *p : v;
  else
    *p = *p < v ? *p : v;
}

template <ESplat Splat, bool Max>
inline void splat(__m128** lines, int x, int y, float v) {
  if constexpr (Splat == ESplat::Single) {
    keep<Max>(pixel(lines, x, y), v);
  } else if constexpr (Splat == ESplat::Cross) {
    keep<Max>(pixel(lines, x, y - 1), v);
    float* p = pixel(lines, x, y);
    keep<Max>(p - 4, v);
    keep<Max>(p, v);
    keep<Max>(p + 4, v);
    keep<Max>(pixel(lines, x, y + 1), v);
  } else {
    constexpr int r = Splat == ESplat::Box3 ? 1 : 2;
    for (int yy = y - r; yy <= y + r; ++yy) {
      float* p = pixel(lines, x, yy);
      for (int dx = -r; dx <= r; ++dx) keep<Max>(p + 4 * dx, v);
    }
  }
}

// max(|S|, |T|) as CSSEFns::vectorlen gives each length (lanes summed as
// (p0 + p3) + (p2 + p1), then the root), both sums formed at once; the root
// of the larger sum is the larger root.
inline float longerLeg(__m128 s, __m128 t) {
  const __m128 ss = _mm_mul_ps(s, s), tt = _mm_mul_ps(t, t);
  const __m128 lo = _mm_unpacklo_ps(ss, tt), hi = _mm_unpackhi_ps(ss, tt);  // (s0 t0 s1 t1), (s2 t2 s3 t3)
  const __m128 sums = _mm_add_ps(_mm_add_ps(lo, _mm_movehl_ps(hi, hi)), _mm_add_ps(hi, _mm_movehl_ps(lo, lo)));
  const float sumS = _mm_cvtss_f32(sums), sumT = _mm_cvtss_f32(_mm_shuffle_ps(sums, sums, 1));
  return std::sqrt(sumS < sumT ? sumT : sumS);
}

// Samples triangle (c0, S, T): for b = 0, h, 2h, ... below 1 and, within, a =
// 0, h, ... below 1 - b, the point c0 + a T + b S. A parameter that no longer
// grows under + h would only repeat the samples just written, so the walk
// stops there: a leg too long for float steps (or an infinite one) ends
// instead of spinning.
// Exact says the resolution is a power of two: multiplying by its reciprocal
// then gives the quotient bit for bit, and is much faster than dividing.
template <ESplat Splat, bool Max, bool Exact>
void sampleTriangle(const Target& t, const SSEPoint& c0, const SSEPoint& s, const SSEPoint& tv, float resXY,
                    __m128 reciprocal) {
  float h = resXY / longerLeg(s.v, tv.v);
  if (t.density != 1.0f) h /= t.density;
  const unsigned inner = Splat == ESplat::Box5 ? 2 : Splat == ESplat::Single ? 0 : 1;
  const unsigned spanX = static_cast<unsigned>(t.sizeX) - 2 * inner, spanY = static_cast<unsigned>(t.sizeY) - 2 * inner;
  const __m128 half = _mm_set1_ps(0.5f);
  for (float b = 0.0f; b < 1.0f;) {
    const float aEnd = 1.0f - b;
    const __m128 bs = _mm_mul_ps(_mm_set1_ps(b), s.v);
    for (float a = 0.0f; a < aEnd;) {
      const SSEPoint p = _mm_sub_ps(_mm_add_ps(_mm_add_ps(c0.v, _mm_mul_ps(_mm_set1_ps(a), tv.v)), bs), t.origin);
      const __m128 scaled = Exact ? _mm_mul_ps(p.v, reciprocal) : _mm_div_ps(p.v, t.resolution);
      const __m128i q = _mm_cvttps_epi32(_mm_add_ps(scaled, half));
      const int px = _mm_cvtsi128_si32(q), py = _mm_extract_epi32(q, 1);
      // One unsigned compare per axis: inner <= px < size - inner.
      if (static_cast<unsigned>(px) - inner < spanX && static_cast<unsigned>(py) - inner < spanY)
        splat<Splat, Max>(t.lines, px, py, p.z + t.offset);
      const float next = a + h;
      if (!(next > a)) break;
      a = next;
    }
    const float next = b + h;
    if (!(next > b)) break;
    b = next;
  }
}

bool powerOfTwo(float v) {
  int e;
  return v >= 0x1p-100f && v <= 0x1p100f && std::frexp(v, &e) == 0.5f;
}

template <ESplat Splat, bool Max>
void sampleRange(const Target& t, const SSEPoint* corners, const SSEPoint* s, const SSEPoint* tv, int first, int last,
                 float resXY) {
  const int inner = Splat == ESplat::Box5 ? 2 : Splat == ESplat::Single ? 0 : 1;
  if (t.sizeX <= 2 * inner || t.sizeY <= 2 * inner) return;  // no splat fits
  const __m128 reciprocal = _mm_div_ps(_mm_set1_ps(1.0f), t.resolution);
  const bool exact = powerOfTwo(_mm_cvtss_f32(t.resolution)) &&
                     powerOfTwo(_mm_cvtss_f32(_mm_shuffle_ps(t.resolution, t.resolution, 1)));
  for (int i = first; i <= last; ++i) {
    const SSEPoint& c0 = corners[3 * std::size_t(i)];
    if (t.limitY && !(t.yLow < c0.y && c0.y < t.yHigh)) continue;
    if (exact)
      sampleTriangle<Splat, Max, true>(t, c0, s[i], tv[i], resXY, reciprocal);
    else
      sampleTriangle<Splat, Max, false>(t, c0, s[i], tv[i], resXY, reciprocal);
  }
}

// Keeps the larger (smaller) of out and part wherever part was written.
void mergeImage(CSSEMatrix& out, const CSSEMatrix& part, float empty, bool max) {
  const __m128 e = _mm_set1_ps(empty);
  __m128** o = out.GetMatrixDataDirectly();
  const __m128* const* p = part.GetMatrixDataDirectly();
  for (int g = 0; g < out.GetSSESizeY(); ++g)
    for (int x = 0; x < out.GetSSESizeX(); ++x) {
      const __m128 v = p[g][x], w = o[g][x];
      const __m128 kept = max ? _mm_max_ps(w, v) : _mm_min_ps(w, v);
      o[g][x] = orvik::detail::select(_mm_cmpneq_ps(v, e), kept, w);
    }
}

}  // namespace

void CHTriangulation::SetScanConvResolution(float resX, float resY, float resZ) {
  m_fResX = resX;
  m_fResY = resY;
  m_fResZ = resZ;
  m_fResXY = std::sqrt(resX * resX + resY * resY);
}

void CHTriangulation::scanConvert(const ScanTarget& t, int first, int last) const {
  first = std::max(first, 0);
  last = std::min(last, m_nNumTriangles - 1);
  if (first > last || !t.lines) return;
  const auto run = [&](auto splatKind, auto maxKind) {
    sampleRange<decltype(splatKind)::value, decltype(maxKind)::value>(t, m_pEdgeArray, m_pSArray, m_pTArray, first,
                                                                       last, m_fResXY);
  };
  const auto withSplat = [&](auto maxKind) {
    switch (t.splat) {
      case ESplat::Single: return run(std::integral_constant<ESplat, ESplat::Single>(), maxKind);
      case ESplat::Cross: return run(std::integral_constant<ESplat, ESplat::Cross>(), maxKind);
      case ESplat::Box3: return run(std::integral_constant<ESplat, ESplat::Box3>(), maxKind);
      case ESplat::Box5: return run(std::integral_constant<ESplat, ESplat::Box5>(), maxKind);
    }
  };
  if (t.max)
    withSplat(std::true_type());
  else
    withSplat(std::false_type());
}

void CHTriangulation::scanConvertCreating(CSSEMatrix* image, float offset, const SSEPoint& minPt,
                                          const SSEPoint& maxPt, bool max, float density, bool threaded) const {
  const int sizeX = pixelCount(maxPt.x - minPt.x, m_fResX), sizeY = pixelCount(maxPt.y - minPt.y, m_fResY);
  if (!image || sizeX < 1 || sizeY < 1 || m_nNumTriangles < 1) return;
  const float empty = max ? c_fScanConvEmptyMax : c_fScanConvEmptyMin;
  ScanTarget t;
  t.sizeX = sizeX;
  t.sizeY = sizeY;
  t.origin = minPt.v;
  t.resolution = _mm_setr_ps(m_fResX, m_fResY, 1.0f, 1.0f);
  t.offset = offset;
  t.density = density > 0.0f ? density : 1.0f;
  t.max = max;
  image->CreateNoClear(sizeX, sizeY);
  image->Fill(empty);
  if (!threaded) {
    t.lines = image->GetMatrixDataDirectly();
    scanConvert(t, 0, m_nNumTriangles - 1);
  } else {
    // Every image is allocated before any thread starts, so an allocation
    // failure leaves no thread behind; jthread joins on every other way out.
    const int n = m_nNumTriangles;
    const int chunk = static_cast<int>(static_cast<float>(n) / 10.0f + 0.5f);
    std::vector<CSSEMatrix> parts(c_iScanConvWorkers);
    for (CSSEMatrix& part : parts) {
      part.CreateNoClear(sizeX, sizeY);
      part.Fill(empty);
    }
    std::vector<std::jthread> workers;
    workers.reserve(c_iScanConvWorkers);
    for (int i = 0; i < c_iScanConvWorkers; ++i) {
      const int first = i * chunk;
      const int last = i + 1 < c_iScanConvWorkers ? std::min((i + 1) * chunk, n) - 1 : n - 1;
      ScanTarget own = t;
      own.lines = parts[i].GetMatrixDataDirectly();
      workers.emplace_back([this, own, first, last] { scanConvert(own, first, last); });
    }
    for (int i = 0; i < c_iScanConvWorkers; ++i) {
      workers[i].join();
      mergeImage(*image, parts[i], empty, max);
    }
  }
  image->ReplaceValueWithValue(empty, 0.0f, 1.0f);
}

void CHTriangulation::ScanConvertTriangulationMax(CSSEMatrix* image, float offset) {
  scanConvertCreating(image, offset, *m_pMinPoint, *m_pMaxPoint, true, 1.0f, false);
}

void CHTriangulation::ScanConvertTriangulationMin(CSSEMatrix* image, float offset, float density) {
  scanConvertCreating(image, offset, *m_pMinPoint, *m_pMaxPoint, false, density, false);
}

void CHTriangulation::ScanConvertTriangulationMax_MinMaxPoint(CSSEMatrix* image, float offset, SSEPoint& minPt,
                                                              SSEPoint& maxPt) {
  scanConvertCreating(image, offset, minPt, maxPt, true, 1.0f, false);
}

void CHTriangulation::ScanConvertTriangulationMin_MinMaxPoint(CSSEMatrix* image, float offset, SSEPoint& minPt,
                                                              SSEPoint& maxPt) {
  scanConvertCreating(image, offset, minPt, maxPt, false, 1.0f, false);
}

void CHTriangulation::FastScanConvertTriangulation(CSSEMatrix* image, float offset, bool max) {
  scanConvertCreating(image, offset, *m_pMinPoint, *m_pMaxPoint, max, 1.0f, true);
}

void CHTriangulation::FastScanConvertTriangulation_MinMaxPoint(CSSEMatrix* image, float offset, SSEPoint& minPt,
                                                               SSEPoint& maxPt, bool max) {
  scanConvertCreating(image, offset, minPt, maxPt, max, 1.0f, true);
}

namespace {

// The accumulating renders reach the pixels up to the mesh maximum that the
// image has; null when there is nothing to render.
bool accumulatingTarget(Target& t, CSSEMatrix* image, const SSEPoint& maxPt, float resX, float resY, int triangles) {
  if (!image || !image->HasMemory() || triangles < 1) return false;
  t.sizeX = std::min(pixelCount(maxPt.x, resX), image->GetSizeX());
  t.sizeY = std::min(pixelCount(maxPt.y, resY), image->GetSizeY());
  t.lines = image->GetMatrixDataDirectly();
  t.resolution = _mm_setr_ps(resX, resY, 1.0f, 1.0f);
  return t.sizeX >= 1 && t.sizeY >= 1;
}

ESplat noDeleteSplat(bool box, bool large) { return box ? (large ? ESplat::Box5 : ESplat::Box3) : ESplat::Cross; }

}  // namespace

// The four renders onto what the image already holds differ only in the
// options `t` carries.
void CHTriangulation::scanConvertAccumulating(CSSEMatrix* image, orvik::detail::ScanTarget& t) const {
  if (accumulatingTarget(t, image, *m_pMaxPoint, m_fResX, m_fResY, m_nNumTriangles))
    scanConvert(t, 0, m_nNumTriangles - 1);
}

void CHTriangulation::ScanConvertTriangulationMaxNoDelete(CSSEMatrix* image, bool box, bool large) {
  ScanTarget t;
  t.splat = noDeleteSplat(box, large);
  scanConvertAccumulating(image, t);
}

void CHTriangulation::ScanConvertTriangulationMinNoDelete(CSSEMatrix* image, bool box, bool large) {
  ScanTarget t;
  t.splat = noDeleteSplat(box, large);
  t.max = false;
  scanConvertAccumulating(image, t);
}

void CHTriangulation::ScanConvertTriangulationMaxNoDeleteInYArea(CSSEMatrix* image, float yLow, float yHigh) {
  ScanTarget t;
  t.limitY = true;
  t.yLow = yLow;
  t.yHigh = yHigh;
  scanConvertAccumulating(image, t);
}

void CHTriangulation::ScanConvertTriangulationMinNoDeleteInYArea(CSSEMatrix* image, float yLow, float yHigh) {
  ScanTarget t;
  t.max = false;
  t.limitY = true;
  t.yLow = yLow;
  t.yHigh = yHigh;
  scanConvertAccumulating(image, t);
}

void CHTriangulation::ScanConvertTriangulationWithLimitedArea(CSSEMatrix* image, int first, int last, float offset,
                                                              SSEPoint* origin, bool max) {
  if (!image || !image->HasMemory() || !(m_fResX > 0.0f) || !(m_fResY > 0.0f)) return;
  ScanTarget t;
  t.lines = image->GetMatrixDataDirectly();
  t.sizeX = image->GetSizeX();
  t.sizeY = image->GetSizeY();
  if (origin) t.origin = origin->v;
  t.resolution = _mm_setr_ps(m_fResX, m_fResY, 1.0f, 1.0f);
  t.offset = offset;
  t.max = max;
  scanConvert(t, first, last);
}

void CHTriangulation::scanConvertThroughLine(CSSEMatrix* image, CSSE3dPolygon* polygon, float offset, bool max) const {
  if (!image || !polygon) return;
  polygon->CalcBoundingBox();
  const SSEPoint lo = *m_pMinPoint, hi = *m_pMaxPoint;
  const int sizeX = pixelCount(hi.x - lo.x, m_fResX), sizeY = pixelCount(hi.y - lo.y, m_fResY);
  if (sizeX < 1 || sizeY < 1 || m_nNumTriangles < 1 || !(m_fScaleX > 0.0f) || !(m_fScaleY > 0.0f)) return;
  // Samples are heights above the minimum plus the offset.
  const float start = max ? offset - 0.1f : (hi.z - lo.z) + offset + 0.1f;
  image->CreateNoClear(sizeX, sizeY);
  image->Fill(start);
  ScanTarget t;
  t.lines = image->GetMatrixDataDirectly();
  t.sizeX = sizeX;
  t.sizeY = sizeY;
  t.origin = lo.v;
  t.resolution = _mm_setr_ps(m_fScaleX, m_fScaleY, 1.0f, 1.0f);
  t.offset = offset;
  t.splat = ESplat::Single;
  t.max = max;
  scanConvert(t, 0, m_nNumTriangles - 1);
  polygon->ShiftLine(-lo.x / m_fScaleX, -lo.y / m_fScaleY, 0.0f);
  orvik::detail::markOutside(*polygon, *image, 0.0f, 0.0f, 2);
}

void CHTriangulation::ScanConvertThroughLineMax(CSSEMatrix* image, CSSE3dPolygon* polygon, float offset) {
  scanConvertThroughLine(image, polygon, offset, true);
}

void CHTriangulation::ScanConvertThroughLineMin(CSSEMatrix* image, CSSE3dPolygon* polygon, float offset) {
  scanConvertThroughLine(image, polygon, offset, false);
}

void CHTriangulation::refineScanConvImage(CSSEMatrix* image, float empty, bool top) const {
  if (!image || !image->HasMemory()) return;
  CSSEMatrix& m = *image;
  const int sx = m.GetSizeX(), sy = m.GetSizeY();
  const auto isEmpty = [empty](float v) { return empty - 1.0f < v && v < empty + 1.0f; };
  const int dx[4] = {0, -1, 0, 1}, dy[4] = {-1, 0, 1, 0};
  for (int y = 0; y < sy; ++y)
    for (int x = 0; x < sx; ++x) {
      if (!isEmpty(m.GetPointUnsafe(x, y))) continue;
      float sum = 0.0f;
      int count = 0;
      for (int k = 0; k < 4; ++k) {
        const int xx = x + dx[k], yy = y + dy[k];
        if (xx < 0 || xx >= sx || yy < 0 || yy >= sy) continue;
        const float v = m.GetPointUnsafe(xx, yy);
        if (isEmpty(v)) continue;
        sum += v;
        ++count;
      }
      if (count > 2) m.SetPointUnsafe(x, y, sum / static_cast<float>(count));
    }
  m.SimpleMedianFilter();
  if (top)
    m.SimpleMaximumFilter();
  else
    m.SimpleMinimumFilter();
  m.ReplaceValueWithValue(empty, 0.0f, 1.0f);
}

void CHTriangulation::RefineScanConvImage(CSSEMatrix* image, float empty) { refineScanConvImage(image, empty, false); }

void CHTriangulation::RefineScanConvImageTop(CSSEMatrix* image, float empty) { refineScanConvImage(image, empty, true); }
