#include "orvik/chain/PixelChain.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "orvik/chain/BoundaryTrace.h"
#include "orvik/foundation/Alloc.h"
#include "orvik/foundation/platform/AtomicFile.h"
#include "orvik/matrix/ssematrix.h"

namespace {

using orvik::detail::c_chainStepX;
using orvik::detail::c_chainStepY;
using orvik::detail::limitTo;

float clampedValue(const CSSEMatrix& m, long x, long y) {
  return m.GetPointUnsafe(static_cast<int>(limitTo(x, 0, m.GetSizeX() - 1)),
                          static_cast<int>(limitTo(y, 0, m.GetSizeY() - 1)));
}

bool usable(const CSSEMatrix* m) { return m && m->HasMemory() && !m->IsEmpty(); }

// Sets the first and last SSE lines and the three outermost columns on each
// side, spare lanes included, to the threshold. No cell of the frame counts as
// inside, so the tracer cannot leave the matrix.
void frame(CSSEMatrix& m, float threshold) {
  __m128** lines = m.GetMatrixDataDirectly();
  const int lineCount = m.GetSSESizeY();
  const int columns = m.GetSSESizeX();
  const __m128 t = _mm_set1_ps(threshold);
  for (int x = 0; x < columns; ++x) {
    _mm_store_ps(reinterpret_cast<float*>(lines[0] + x), t);
    _mm_store_ps(reinterpret_cast<float*>(lines[lineCount - 1] + x), t);
  }
  const int edge[6] = {0, 1, 2, columns - 3, columns - 2, columns - 1};
  for (int g = 0; g < lineCount; ++g)
    for (int c : edge)
      if (c >= 0 && c < columns) _mm_store_ps(reinterpret_cast<float*>(lines[g] + c), t);
}

}  // namespace

void CPixelChain::FreeDeleter::operator()(pixel* p) const noexcept { SafeFree(p); }

CPixelChain::CPixelChain()
    : m_points(static_cast<pixel*>(SafeMalloc(sizeof(pixel) * (c_iMaxPoints + 1)))) {}

CPixelChain::CPixelChain(const CPixelChain& other) : CPixelChain() { *this = other; }

CPixelChain& CPixelChain::operator=(const CPixelChain& other) {
  if (this == &other) return *this;
  m_iCount = other.m_iCount;
  m_iCenterX = other.m_iCenterX;
  m_iCenterY = other.m_iCenterY;
  m_fCenterX = other.m_fCenterX;
  m_fCenterY = other.m_fCenterY;
  std::memcpy(m_points.get(), other.m_points.get(), sizeof(pixel) * m_iCount);
  return *this;
}

CPixelChain::~CPixelChain() = default;

void CPixelChain::AddPoint(long x, long y, float value) {
  if (m_iCount >= c_iMaxPoints) return;
  m_points[m_iCount++] = pixel{static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), value};
}

void CPixelChain::GetPixel(int i, int& x, int& y) const {
  if (i < 0 || i >= m_iCount) return;
  x = m_points[i].x;
  y = m_points[i].y;
}

namespace {
// The smallest (or largest) coordinate of the chain, starting from `start`:
// 268,435,455 for minima and 0 for maxima, which an empty chain returns.
template <typename Pick>
long extreme(const pixel* points, int count, std::int32_t pixel::*coordinate, long start, Pick pick) {
  for (int i = 0; i < count; ++i) start = pick(start, static_cast<long>(points[i].*coordinate));
  return start;
}
constexpr long c_lNoMinimum = 0x0FFFFFFF;
long least(long a, long b) { return std::min(a, b); }
long greatest(long a, long b) { return std::max(a, b); }
}  // namespace

long CPixelChain::GetminX() const { return extreme(m_points.get(), m_iCount, &pixel::x, c_lNoMinimum, least); }
long CPixelChain::GetmaxX() const { return extreme(m_points.get(), m_iCount, &pixel::x, 0, greatest); }
long CPixelChain::GetminY() const { return extreme(m_points.get(), m_iCount, &pixel::y, c_lNoMinimum, least); }
long CPixelChain::GetmaxY() const { return extreme(m_points.get(), m_iCount, &pixel::y, 0, greatest); }

void CPixelChain::CalcBoundingBox(int& minX, int& minY, int& maxX, int& maxY) const {
  minX = static_cast<int>(GetminX());
  minY = static_cast<int>(GetminY());
  maxX = static_cast<int>(GetmaxX());
  maxY = static_cast<int>(GetmaxY());
}

void CPixelChain::CalculateGeomCenter_norm(long* cx, long* cy) const {
  float mx = 0.0f, my = 0.0f;
  CalculateGeomCenter_precis(&mx, &my);
  if (cx) *cx = static_cast<long>(mx + 0.5f);
  if (cy) *cy = static_cast<long>(my + 0.5f);
}

void CPixelChain::CalculateGeomCenter_norm() {
  long cx = 0, cy = 0;
  CalculateGeomCenter_norm(&cx, &cy);
  m_iCenterX = static_cast<std::int32_t>(cx);
  m_iCenterY = static_cast<std::int32_t>(cy);
}

void CPixelChain::CalculateGeomCenter_precis(float* cx, float* cy) const {
  // The sums are exact in 64 bits; only the division happens in float.
  long long sx = 0, sy = 0;
  for (int i = 0; i < m_iCount; ++i) {
    sx += m_points[i].x;
    sy += m_points[i].y;
  }
  const float n = static_cast<float>(m_iCount);
  if (cx) *cx = m_iCount > 0 ? static_cast<float>(sx) / n : 0.0f;
  if (cy) *cy = m_iCount > 0 ? static_cast<float>(sy) / n : 0.0f;
}

void CPixelChain::CalculateGeomCenter_precis() { CalculateGeomCenter_precis(&m_fCenterX, &m_fCenterY); }

float CPixelChain::GetMinBorderValue() const {
  float v = 1000000.0f;
  for (int i = 0; i < m_iCount; ++i) v = std::min(v, m_points[i].value);
  return v;
}

float CPixelChain::GetMaxBorderValue() const {
  float v = -1000000.0f;
  for (int i = 0; i < m_iCount; ++i) v = std::max(v, m_points[i].value);
  return v;
}

void CPixelChain::OffsetChain(float d) {
  for (int i = 0; i < m_iCount; ++i) m_points[i].value += d;
}

void CPixelChain::MinimumFilterChain() {
  const int n = m_iCount;
  std::vector<float> result(n);
  for (int i = 0; i < n; ++i) {
    const float a = m_points[(i + n - 1) % n].value, c = m_points[(i + 1) % n].value;
    result[i] = std::min(std::min(a, m_points[i].value), c);
  }
  for (int i = 0; i < n; ++i) m_points[i].value = result[i];
}

void CPixelChain::MaximumFilterChain() {
  const int n = m_iCount;
  std::vector<float> result(n);
  for (int i = 0; i < n; ++i) {
    const float a = m_points[(i + n - 1) % n].value, c = m_points[(i + 1) % n].value;
    result[i] = std::max(std::max(a, m_points[i].value), c);
  }
  for (int i = 0; i < n; ++i) m_points[i].value = result[i];
}

void CPixelChain::SmoothlyPullTogetherChains(const CPixelChain* other, int iterations) {
  if (!other || iterations < 1) return;
  for (int it = 0; it < iterations; ++it) {
    for (int i = 0; i < m_iCount; ++i) {
      pixel& p = m_points[i];
      float s = 0.0f;
      for (int j = 0; j < other->m_iCount; ++j) {
        const pixel& q = other->m_points[j];
        const long long dx = static_cast<long long>(p.x) - q.x, dy = static_cast<long long>(p.y) - q.y;
        s += (q.value - p.value) / static_cast<float>(dx * dx + dy * dy + 1);
      }
      p.value += 0.4f * s;
    }
  }
}

int CPixelChain::FindNearestPoint(int x, int y) const {
  int best = -1;
  double bestDistance = 999999.9;
  for (int i = 0; i < m_iCount; ++i) {
    const double dx = static_cast<double>(m_points[i].x) - x, dy = static_cast<double>(m_points[i].y) - y;
    const double d = std::sqrt(dx * dx + dy * dy);
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return best;
}

int CPixelChain::FindNearestPointLimited(int x, int y) const {
  int best = -1;
  double bestDistance = 999999.9;
  for (int i = 0; i < m_iCount; ++i) {
    if (m_points[i].y <= y) continue;
    const double d = std::fabs(static_cast<double>(m_points[i].x) - x);
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return best;
}

float CPixelChain::FindNearestIntersectionPointY(int x, int y, bool upper) {
  CalculateGeomCenter_norm();
  const int cy = m_iCenterY;
  int left = -1, right = -1;
  double bestLeft = std::numeric_limits<double>::infinity(), bestRight = bestLeft;
  for (int i = 0; i < m_iCount; ++i) {
    const pixel& p = m_points[i];
    const bool candidate = upper ? (cy < p.y && p.y < y) : (y < p.y && p.y < cy);
    if (!candidate || p.x == x) continue;
    const double dx = static_cast<double>(p.x) - x, dy = static_cast<double>(p.y) - y;
    const double q = dx * dx + 4.0 * dy * dy;
    if (p.x < x && q < bestLeft) {
      bestLeft = q;
      left = i;
    } else if (p.x > x && q < bestRight) {
      bestRight = q;
      right = i;
    }
  }
  if (left >= 0 && right >= 0)
    return static_cast<float>(m_points[left].y + m_points[right].y) * 0.5f;
  const int k = FindNearestPointLimited(x, y);
  return (k >= 0 && k < m_iCount) ? static_cast<float>(m_points[k].y) : static_cast<float>(y);
}

void CPixelChain::GetNearestPixel(int x, int y, int& outX, int& outY) {
  outX = x;
  outY = static_cast<int>(FindNearestIntersectionPointY(x, y, true) + 0.5f);
}

void CPixelChain::CreatePixelChain(CSSEMatrix* matrix, float threshold, long x0, long y0, long maxSteps,
                                   bool above, bool exactReturn, int nearReturnAfter) {
  m_iCount = 0;
  if (!usable(matrix)) return;
  CSSEMatrix& m = *matrix;
  frame(m, threshold);
  const auto inside = [&](long x, long y) {
    const float v = clampedValue(m, x, y);
    return above ? v > threshold : v < threshold;
  };
  const auto value = [&](long x, long y) { return clampedValue(m, x, y); };
  orvik::detail::traceBoundary(*this, inside, value, m.GetSizeX() - 2, m.GetSizeY() - 2, x0, y0, maxSteps,
                               exactReturn, nearReturnAfter);
}

void CPixelChain::GetInnerValueForPixelChain(const CSSEMatrix* matrix, float limitValue, bool takeMinimum) {
  if (!usable(matrix)) return;
  const int n = m_iCount;
  for (int i = 0; i < n; ++i) {
    pixel& p = m_points[i];
    const pixel& q = m_points[(i + 1) % n];
    const float dx = static_cast<float>(q.x - p.x), dy = static_cast<float>(q.y - p.y);
    const float d = std::sqrt(dx * dx + dy * dy);
    if (d == 0.0f) continue;
    const long sx = static_cast<long>(0.5f - 6.0f * dy / d) + p.x;
    const long sy = static_cast<long>(6.0f * dx / d + 0.5f) + p.y;
    const float s =
        clampedValue(*matrix, limitTo(sx, 0, matrix->GetSizeX()), limitTo(sy, 0, matrix->GetSizeY()));
    if (takeMinimum)
      p.value = s <= limitValue ? s : limitValue;
    else
      p.value = limitValue <= s ? s : limitValue;
  }
}

void CPixelChain::InsertSingle(CSSEMatrix* matrix) const {
  if (!usable(matrix)) return;
  const int n = m_iCount;
  for (int i = 0; i < n; ++i) {
    const pixel& p = m_points[i];
    const pixel& q = m_points[(i + 1) % n];
    const float dx = static_cast<float>(q.x - p.x), dy = static_cast<float>(q.y - p.y);
    const float d = std::sqrt(dx * dx + dy * dy);
    if (d == 0.0f) continue;
    const long cx = static_cast<long>(static_cast<float>(p.x) + 1.25f * dy / d + 0.5f);
    const long cy = static_cast<long>(static_cast<float>(p.y) - 1.25f * dx / d + 0.5f);
    matrix->SetPoint(static_cast<int>(limitTo(cx, 1, matrix->GetSizeX() - 2)),
                     static_cast<int>(limitTo(cy, 1, matrix->GetSizeY() - 2)), p.value);
  }
}

void CPixelChain::Insert(CSSEMatrix* matrix) const {
  if (!usable(matrix)) return;
  const int n = m_iCount;
  for (int i = 0; i < n; ++i) {
    const pixel& p = m_points[i];
    const pixel& q = m_points[(i + 1) % n];
    const float dx = static_cast<float>(q.x - p.x), dy = static_cast<float>(q.y - p.y);
    const float d = std::sqrt(dx * dx + dy * dy);
    if (d == 0.0f) continue;
    const long cx = limitTo(static_cast<long>(static_cast<float>(p.x) + 3.0f * dy / d + 0.5f), 2,
                          matrix->GetSizeX() - 3);
    const long cy = limitTo(static_cast<long>(static_cast<float>(p.y) - 3.0f * dx / d + 0.5f), 2,
                          matrix->GetSizeY() - 3);
    for (long by = cy - 2; by <= cy + 2; ++by)
      for (long bx = cx - 2; bx <= cx + 2; ++bx)
        matrix->SetPoint(static_cast<int>(bx), static_cast<int>(by), p.value);
  }
}

void CPixelChain::InsertSingle(CSSEMatrix* matrix, bool above, float threshold) const {
  if (!usable(matrix)) return;
  for (int i = 0; i < m_iCount; ++i) {
    const pixel& p = m_points[i];
    for (int c = 0; c < 8; ++c) {
      const int x = p.x + c_chainStepX[c], y = p.y + c_chainStepY[c];
      const float v = matrix->GetPoint(x, y);
      if (above ? v >= threshold : v <= threshold) matrix->SetPoint(x, y, p.value);
    }
  }
}

void CPixelChain::ExportPixelChain(const CString& name) const {
#ifdef _WIN32
  const std::string path = std::string("c:\\Export\\PixelChain\\") + name.str() + ".txt";
#else
  const std::string path = std::string("Export/PixelChain/") + name.str() + ".txt";
#endif
  // Through the atomic writer, so that a failed export keeps the previous
  // table; as documented, nothing is reported either way.
  try {
    CAtomicFile file{CString(path)};
    std::FILE* f = file.GetStream();
    std::fprintf(f, "Length: %d\n", m_iCount);
    std::fputs("Index\tXPos\tYPos\tValue\n", f);
    // %3.3f of the largest float needs 43 characters; the line stays well
    // within the buffer.
    char line[128];
    for (int i = 0; i < m_iCount; ++i) {
      const pixel& p = m_points[i];
      std::snprintf(line, sizeof line, "%d\t%d\t%d\t%3.3f\n", i, p.x, p.y, static_cast<double>(p.value));
      std::replace(line, line + std::strlen(line), '.', ',');
      std::fputs(line, f);
    }
    file.Commit();
  } catch (const CFileException&) {
  }
}
