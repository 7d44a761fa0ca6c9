#include "orvik/polygon/SSE3dPolygon.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "orvik/chain/PixelChain.h"
#include "orvik/foundation/Alloc.h"
#include "orvik/foundation/Exception.h"

namespace {

constexpr int c_iCachePoints = 5;

std::size_t arrayBytes(int n) { return ((static_cast<std::size_t>(n) + 3) / 4) * 16; }

int modulo(int k, int n) { return ((k % n) + n) % n; }

}  // namespace

CSSE3dPolygon::CSSE3dPolygon() { allocateCache(); }

// Delegating to the default constructor makes the destructor release the cache
// block when Create throws below.
CSSE3dPolygon::CSSE3dPolygon(const CSSE3dPolygon& other) : CSSE3dPolygon() {
  copyCacheFrom(other);
  Create(other.m_iNumPoints);
  const std::size_t bytes = arrayBytes(m_iNumPoints);
  if (bytes == 0) return;
  std::memcpy(m_pfX, other.m_pfX, bytes);
  std::memcpy(m_pfY, other.m_pfY, bytes);
  std::memcpy(m_pfZ, other.m_pfZ, bytes);
  std::memcpy(m_pfNormX, other.m_pfNormX, bytes);
  std::memcpy(m_pfNormY, other.m_pfNormY, bytes);
  std::memcpy(m_pfNormZ, other.m_pfNormZ, bytes);
}

CSSE3dPolygon::CSSE3dPolygon(CPixelChain& chain, int step) : CSSE3dPolygon() {
  const int pixels = chain.GetCount();
  if (step < 2) step = 1;
  const int n = pixels / step;
  if (n < 1) return;
  Create(n);
  const pixel* p = chain.GetPixelData();
  for (int j = 0; j < n; ++j) {
    const pixel& q = p[static_cast<std::size_t>(j) * step];
    m_pfX[j] = static_cast<float>(q.x);
    m_pfY[j] = static_cast<float>(q.y);
    m_pfZ[j] = 0.0f;
  }
}

CSSE3dPolygon::~CSSE3dPolygon() {
  Free();
  SafeAlignedFree(m_pCache);
}

CSSE3dPolygon& CSSE3dPolygon::operator=(const CSSE3dPolygon& other) {
  if (this == &other) return *this;
  CSSE3dPolygon copy(other);
  takePointsFrom(copy);
  copyCacheFrom(other);
  m_bBoundingBoxCalculated = false;
  return *this;
}

void CSSE3dPolygon::allocateCache() {
  m_pCache = static_cast<SSEPoint*>(SafeAlignedAlloc(c_iCachePoints * sizeof(SSEPoint), 16));
  for (int k = 0; k < c_iCachePoints; ++k) new (m_pCache + k) SSEPoint();
  m_pTopRight = m_pCache + 0;
  m_pBottomLeft = m_pCache + 1;
  m_pGeometricCenter = m_pCache + 2;
  m_pXYMax = m_pCache + 3;
  m_pXYMin = m_pCache + 4;
}

void CSSE3dPolygon::copyCacheFrom(const CSSE3dPolygon& other) {
  std::copy(other.m_pCache, other.m_pCache + c_iCachePoints, m_pCache);
  m_bBoundingBoxCalculated = other.m_bBoundingBoxCalculated;
}

void CSSE3dPolygon::takePointsFrom(CSSE3dPolygon& temp) noexcept {
  std::swap(m_pfX, temp.m_pfX);
  std::swap(m_pfY, temp.m_pfY);
  std::swap(m_pfZ, temp.m_pfZ);
  std::swap(m_pfNormX, temp.m_pfNormX);
  std::swap(m_pfNormY, temp.m_pfNormY);
  std::swap(m_pfNormZ, temp.m_pfNormZ);
  std::swap(m_iNumPoints, temp.m_iNumPoints);
  m_bBoundingBoxCalculated = false;
  temp.m_bBoundingBoxCalculated = false;
}

void CSSE3dPolygon::Create(int n) {
  Free();
  m_bBoundingBoxCalculated = false;
  if (n < 0) throw CbException("SSE3dPolygon", __LINE__, "CSSE3dPolygon::Create", "negative point count");
  if (n == 0) return;
  const std::size_t bytes = arrayBytes(n);
  float* arrays[6] = {};
  try {
    for (int k = 0; k < 6; ++k) {
      arrays[k] = static_cast<float*>(SafeAlignedAlloc(bytes, 16));
      // The spare floats of the last block are cleared so that block operations
      // never compute on garbage (denormals, signalling NaNs). The normalized
      // coordinates (arrays 3-5) are stored with the polygon; until a caller
      // normalises, they read 0 rather than whatever the heap held before.
      const std::size_t cleared = k < 3 ? 16 : bytes;
      std::memset(reinterpret_cast<char*>(arrays[k]) + bytes - cleared, 0, cleared);
    }
  } catch (...) {
    for (float* a : arrays) SafeAlignedFree(a);
    throw;
  }
  m_pfX = arrays[0];
  m_pfY = arrays[1];
  m_pfZ = arrays[2];
  m_pfNormX = arrays[3];
  m_pfNormY = arrays[4];
  m_pfNormZ = arrays[5];
  m_iNumPoints = n;
}

void CSSE3dPolygon::Free() {
  if (m_iNumPoints <= 0) return;
  for (float** a : {&m_pfX, &m_pfY, &m_pfZ, &m_pfNormX, &m_pfNormY, &m_pfNormZ}) {
    SafeAlignedFree(*a);
    *a = nullptr;
  }
  m_iNumPoints = 0;
  m_bBoundingBoxCalculated = false;
}

void CSSE3dPolygon::CreateSimilar(const CSSE3dPolygon* other) {
  if (!other || other == this) return;
  Create(other->m_iNumPoints);
  const std::size_t bytes = sizeof(float) * m_iNumPoints;
  if (bytes != 0) {
    std::memcpy(m_pfX, other->m_pfX, bytes);
    std::memcpy(m_pfY, other->m_pfY, bytes);
    std::memcpy(m_pfZ, other->m_pfZ, bytes);
  }
  copyCacheFrom(*other);
}

void CSSE3dPolygon::AppendPoints(CSSE3dPolygon& other) {
  const int m = other.m_iNumPoints;
  if (m == 0) return;
  const int n = m_iNumPoints;
  CSSE3dPolygon joined;
  joined.Create(n + m);
  const float* from[3] = {m_pfX, m_pfY, m_pfZ};
  const float* more[3] = {other.m_pfX, other.m_pfY, other.m_pfZ};
  float* to[3] = {joined.m_pfX, joined.m_pfY, joined.m_pfZ};
  for (int a = 0; a < 3; ++a) {
    if (n) std::memcpy(to[a], from[a], sizeof(float) * n);
    std::memcpy(to[a] + n, more[a], sizeof(float) * m);
  }
  takePointsFrom(joined);
}

void CSSE3dPolygon::InvertPolygonDirection() {
  if (m_iNumPoints == 0) return;
  for (float* a : {m_pfX, m_pfY, m_pfZ}) std::reverse(a, a + m_iNumPoints);
  m_bBoundingBoxCalculated = false;
}

void CSSE3dPolygon::ChangeStartPoint(int k, int* parallel) {
  const int n = m_iNumPoints;
  if (n == 0) return;
  k = modulo(k, n);
  for (float* a : {m_pfX, m_pfY, m_pfZ}) std::rotate(a, a + k, a + n);
  if (parallel) std::rotate(parallel, parallel + k, parallel + n);
}

void CSSE3dPolygon::RotatePolygonIndices(int k) { ChangeStartPoint(k, nullptr); }
