#include "orvik/polygon/SSE2dPolygon.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "orvik/foundation/Alloc.h"
#include "orvik/foundation/Exception.h"

CSSE2dPolygon::CSSE2dPolygon(const CSSE2dPolygon& other) { *this = other; }

CSSE2dPolygon& CSSE2dPolygon::operator=(const CSSE2dPolygon& other) {
  if (this == &other) return *this;
  Create(other.m_iNumPoints);
  if (m_iNumPoints > 0) {
    std::memcpy(m_pfX, other.m_pfX, sizeof(float) * m_iNumPoints);
    std::memcpy(m_pfY, other.m_pfY, sizeof(float) * m_iNumPoints);
  }
  return *this;
}

CSSE2dPolygon::~CSSE2dPolygon() { Free(); }

void CSSE2dPolygon::Create(int n) {
  Free();
  if (n < 0) throw CbException("SSE2dPolygon", __LINE__, "CSSE2dPolygon::Create", "negative point count");
  if (n == 0) return;
  // Pairs of points per 16 bytes: room for at least n floats, in whole vectors.
  const std::size_t bytes = ((static_cast<std::size_t>(n) + 1) / 2) * 16;
  m_pfX = static_cast<float*>(SafeAlignedAlloc(bytes, 16));
  try {
    m_pfY = static_cast<float*>(SafeAlignedAlloc(bytes, 16));
  } catch (...) {
    Free();
    throw;
  }
  m_iNumPoints = n;
}

void CSSE2dPolygon::Free() {
  SafeAlignedFree(m_pfX);
  SafeAlignedFree(m_pfY);
  m_pfX = m_pfY = nullptr;
  m_iNumPoints = 0;
}

int CSSE2dPolygon::closestEven(const float* a, int n, float v) {
  int best = -1;
  float bestDistance = 10000000.0f;
  for (int i = 0; i < n - 1; i += 2) {
    const float d = std::fabs(a[i] - v);
    if (d < bestDistance) bestDistance = d, best = i;
  }
  return best;
}

int CSSE2dPolygon::ClosestPointX(float x) const { return closestEven(m_pfX, m_iNumPoints, x); }
int CSSE2dPolygon::ClosestPointY(float y) const { return closestEven(m_pfY, m_iNumPoints, y); }

double CSSE2dPolygon::CalcArea() const {
  if (m_iNumPoints < 3) return 0.0;
  double sum = 0.0;
  for (int i = 0, j = m_iNumPoints - 1; i < m_iNumPoints; j = i++)
    sum += static_cast<double>(m_pfX[j]) * m_pfY[i] - static_cast<double>(m_pfX[i]) * m_pfY[j];
  return 0.5 * sum;
}

float CSSE2dPolygon::GetMinEuclDistance(float x, float y) const {
  float best = 1000000.0f;
  for (int i = 0; i < m_iNumPoints; ++i) best = std::min(best, std::hypot(m_pfX[i] - x, m_pfY[i] - y));
  return best;
}
