#include "orvik/triangulation/HTriangulation.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "orvik/foundation/Alloc.h"
#include "orvik/foundation/Exception.h"

namespace {

// Every per-corner and per-triangle array lives in one aligned block: corners
// and corner normals (3n each), then main normals, T, S, V, minima and maxima
// (n each). One allocation either succeeds or leaves nothing behind.
constexpr std::size_t c_pointsPerTriangle = 12;

}  // namespace

CHTriangulation::CHTriangulation() { BaseInitialization(1.0f, 1.0f, 1.0f); }

CHTriangulation::CHTriangulation(int n, float scaleX, float scaleY, float scaleZ) {
  BaseInitialization(scaleX, scaleY, scaleZ);
  CreateTriangulation(n);
}

CHTriangulation::CHTriangulation(CHTriangulation* source) {
  BaseInitialization(source->m_fScaleX, source->m_fScaleY, source->m_fScaleZ);
  CopyFromHTriangulation(source);
}

CHTriangulation::CHTriangulation(const CHTriangulation& other) : IReferenceCounted() {
  BaseInitialization(other.m_fScaleX, other.m_fScaleY, other.m_fScaleZ);
  CopyFromHTriangulation(&other);
}

CHTriangulation& CHTriangulation::operator=(const CHTriangulation& other) {
  if (this != &other) {
    CHTriangulation copy(other);
    swapContents(copy);
  }
  return *this;
}

CHTriangulation::~CHTriangulation() {
  FreeTriangulation();
  freeStretchList();
  SafeAlignedFree(m_pMinPoint);
}

void CHTriangulation::swapContents(CHTriangulation& o) noexcept {
  std::swap(m_pEdgeArray, o.m_pEdgeArray);
  std::swap(m_pNormalArray, o.m_pNormalArray);
  std::swap(m_pMainNormalArray, o.m_pMainNormalArray);
  std::swap(m_pTArray, o.m_pTArray);
  std::swap(m_pSArray, o.m_pSArray);
  std::swap(m_pVArray, o.m_pVArray);
  std::swap(m_pTriangles, o.m_pTriangles);
  std::swap(m_nNumTriangles, o.m_nNumTriangles);
  std::swap(m_pTriangleList, o.m_pTriangleList);
  std::swap(m_fScaleX, o.m_fScaleX);
  std::swap(m_fScaleY, o.m_fScaleY);
  std::swap(m_fScaleZ, o.m_fScaleZ);
  std::swap(m_fResX, o.m_fResX);
  std::swap(m_fResY, o.m_fResY);
  std::swap(m_fResZ, o.m_fResZ);
  std::swap(m_pMinPoint, o.m_pMinPoint);
  std::swap(m_pMaxPoint, o.m_pMaxPoint);
  std::swap(m_pCenterPoint, o.m_pCenterPoint);
  std::swap(m_pMinPointArray, o.m_pMinPointArray);
  std::swap(m_pMaxPointArray, o.m_pMaxPointArray);
  std::swap(m_fResXY, o.m_fResXY);
  std::swap(m_pStretchList, o.m_pStretchList);
}

void CHTriangulation::takeTriangles(CHTriangulation& result) noexcept {
  result.m_fResX = m_fResX;
  result.m_fResY = m_fResY;
  result.m_fResZ = m_fResZ;
  result.m_fResXY = m_fResXY;
  std::swap(result.m_pStretchList, m_pStretchList);
  swapContents(result);
}

void CHTriangulation::BaseInitialization(float scaleX, float scaleY, float scaleZ) {
  FreeTriangulation();
  freeStretchList();
  m_fScaleX = m_fResX = scaleX;
  m_fScaleY = m_fResY = scaleY;
  m_fScaleZ = m_fResZ = scaleZ;
  m_fResXY = std::sqrt(scaleX * scaleX + scaleY * scaleY);
  if (!m_pMinPoint) m_pMinPoint = static_cast<SSEPoint*>(SafeAlignedAlloc(3 * sizeof(SSEPoint), 16));
  m_pMaxPoint = m_pMinPoint + 1;
  m_pCenterPoint = m_pMinPoint + 2;
  for (int i = 0; i < 3; ++i) m_pMinPoint[i] = SSEPoint();
}

void CHTriangulation::FreeTriangulation() {
  SafeAlignedFree(m_pEdgeArray);
  SafeFree(m_pTriangles);
  m_pEdgeArray = m_pNormalArray = m_pMainNormalArray = m_pTArray = m_pSArray = m_pVArray = nullptr;
  m_pMinPointArray = m_pMaxPointArray = nullptr;
  m_pTriangles = m_pTriangleList = nullptr;
  m_nNumTriangles = 0;
}

void CHTriangulation::allocate(int n) {
  FreeTriangulation();
  if (n < 0) throw CbException("HTriangulation", __LINE__, "CHTriangulation::CreateTriangulation", "negative count");
  const std::size_t count = static_cast<std::size_t>(n);
  auto* points = static_cast<SSEPoint*>(SafeAlignedAlloc(c_pointsPerTriangle * count * sizeof(SSEPoint), 16));
  t_htriangle* triangles;
  try {
    triangles = static_cast<t_htriangle*>(SafeMalloc(count * sizeof(t_htriangle)));
  } catch (...) {
    SafeAlignedFree(points);
    throw;
  }
  m_pEdgeArray = points;
  m_pNormalArray = points + 3 * count;
  m_pMainNormalArray = points + 6 * count;
  m_pTArray = points + 7 * count;
  m_pSArray = points + 8 * count;
  m_pVArray = points + 9 * count;
  m_pMinPointArray = points + 10 * count;
  m_pMaxPointArray = points + 11 * count;
  m_pTriangles = triangles;
  m_nNumTriangles = n;
}

void CHTriangulation::CreateTriangulation(int n) {
  allocate(n);
  std::memset(static_cast<void*>(m_pEdgeArray), 0, c_pointsPerTriangle * std::size_t(n) * sizeof(SSEPoint));
  for (int i = 0; i < n; ++i) {
    linkRecord(i);
    m_pTriangles[i].index = i;
    m_pTriangles[i].mark = -1;
  }
}

void CHTriangulation::linkRecord(int i) {
  t_htriangle& t = m_pTriangles[i];
  for (int k = 0; k < 3; ++k) {
    t.corner[k] = m_pEdgeArray + 3 * std::size_t(i) + k;
    t.normal[k] = m_pNormalArray + 3 * std::size_t(i) + k;
    t.neighbour[k] = nullptr;
  }
  t.t = m_pTArray + i;
  t.s = m_pSArray + i;
  t.v = m_pVArray + i;
  t.mainNormal = m_pMainNormalArray + i;
  t.minCorner = m_pMinPointArray + i;
  t.maxCorner = m_pMaxPointArray + i;
  t.next = t.prev = nullptr;
}

void CHTriangulation::copyTriangle(int i, const CHTriangulation& source, int j, bool reverse) {
  const t_htriangle& from = source.m_pTriangles[j];
  t_htriangle& to = m_pTriangles[i];
  for (int k = 0; k < 3; ++k) {
    const int f = reverse ? 2 - k : k;
    *to.corner[k] = *from.corner[f];
    *to.normal[k] = *from.normal[f];
  }
  *to.mainNormal = *from.mainNormal;
  *to.t = *from.t;
  *to.s = *from.s;
  *to.v = *from.v;
  *to.minCorner = *from.minCorner;
  *to.maxCorner = *from.maxCorner;
  to.index = from.index;
  to.mark = from.mark;
}

void CHTriangulation::CopyFromHTriangulation(const CHTriangulation* source) {
  if (source == this) return;
  CreateTriangulation(source->m_nNumTriangles);
  for (int i = 0; i < m_nNumTriangles; ++i) {
    copyTriangle(i, *source, i);
    for (int k = 0; k < 3; ++k) {
      const t_htriangle* n = source->m_pTriangles[i].neighbour[k];
      m_pTriangles[i].neighbour[k] = n ? m_pTriangles + (n - source->m_pTriangles) : nullptr;
    }
  }
  for (int i = 0; i < 3; ++i) m_pMinPoint[i] = source->m_pMinPoint[i];
  m_fResX = source->m_fResX;
  m_fResY = source->m_fResY;
  m_fResZ = source->m_fResZ;
  m_fResXY = source->m_fResXY;
}

void CHTriangulation::AppendTriangulation(const CHTriangulation* other) {
  const int n1 = m_nNumTriangles, n2 = other->m_nNumTriangles;
  if (n2 > INT32_MAX - n1)
    throw CbException("HTriangulation", __LINE__, "CHTriangulation::AppendTriangulation", "too many triangles");
  CHTriangulation result(n1 + n2, m_fScaleX, m_fScaleY, m_fScaleZ);
  auto relink = [&](const CHTriangulation& from, int offset) {
    for (int j = 0; j < from.m_nNumTriangles; ++j) {
      result.copyTriangle(offset + j, from, j);
      for (int k = 0; k < 3; ++k) {
        const t_htriangle* n = from.m_pTriangles[j].neighbour[k];
        result.m_pTriangles[offset + j].neighbour[k] = n ? result.m_pTriangles + offset + (n - from.m_pTriangles) : nullptr;
      }
    }
  };
  relink(*this, 0);
  relink(*other, n1);
  result.calcBoundsFromCorners();
  *result.m_pCenterPoint = *m_pCenterPoint;
  takeTriangles(result);
}

void CHTriangulation::Combine(const CHTriangulation& other, bool reverse) {
  const int n1 = m_nNumTriangles, n2 = other.m_nNumTriangles;
  if (n2 > INT32_MAX - n1)
    throw CbException("HTriangulation", __LINE__, "CHTriangulation::Combine", "too many triangles");
  CHTriangulation result(n1 + n2, m_fScaleX, m_fScaleY, m_fScaleZ);
  for (int i = 0; i < n1; ++i)
    for (int k = 0; k < 3; ++k) *result.m_pTriangles[i].corner[k] = *m_pTriangles[i].corner[k];
  for (int j = 0; j < n2; ++j)
    for (int k = 0; k < 3; ++k) *result.m_pTriangles[n1 + j].corner[k] = *other.m_pTriangles[j].corner[reverse ? 2 - k : k];
  result.calcBoundsFromCorners();
  result.CalcSTV();
  result.CalcNormalsFromVertices();
  result.CalcCenterPoint();
  takeTriangles(result);
}

void CHTriangulation::AppendStretchToList(t_stretch* node) {
  if (!node) return;
  node->prev = nullptr;
  node->next = m_pStretchList;
  if (m_pStretchList) m_pStretchList->prev = node;
  m_pStretchList = node;
}

void CHTriangulation::DeleteStretchFromList(t_stretch* node) {
  if (!node) return;
  if (node->prev)
    node->prev->next = node->next;
  else if (m_pStretchList == node)
    m_pStretchList = node->next;
  if (node->next) node->next->prev = node->prev;
  delete node;
}

void CHTriangulation::freeStretchList() {
  while (m_pStretchList) DeleteStretchFromList(m_pStretchList);
}

void CHTriangulation::IndexTriangleList() {
  for (int i = 0; i < m_nNumTriangles; ++i) {
    m_pTriangles[i].prev = i > 0 ? m_pTriangles + i - 1 : nullptr;
    m_pTriangles[i].next = i + 1 < m_nNumTriangles ? m_pTriangles + i + 1 : nullptr;
  }
  m_pTriangleList = m_nNumTriangles > 0 ? m_pTriangles : nullptr;
}

void CHTriangulation::DeleteTriangleFromList(t_htriangle* t) {
  if (!t || (!t->prev && m_pTriangleList != t)) return;
  if (t->prev)
    t->prev->next = t->next;
  else
    m_pTriangleList = t->next;
  if (t->next) t->next->prev = t->prev;
  t->next = t->prev = nullptr;
}
