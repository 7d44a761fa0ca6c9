#pragma once
// CSSE2dPolygon: a plain list of points in the plane, the input and output of
// the 2D hull and triangulation code. No reference counting, no cache.
#include <cstdint>

// A point in the plane.
struct t_h2dpoint {
  float x, y;
};

class CSSE2dPolygon {
public:
  CSSE2dPolygon() = default;
  CSSE2dPolygon(const CSSE2dPolygon& other);
  CSSE2dPolygon& operator=(const CSSE2dPolygon& other);
  ~CSSE2dPolygon();

  // Discards the points and makes room for n unset ones. A negative n throws
  // CbException ("SSE2dPolygon") and leaves the polygon empty.
  void Create(int n);
  void Free();
  int GetNumPoints() const { return m_iNumPoints; }

  // Indices outside 0 .. n-1 are ignored, as for CSSE3dPolygon.
  void GetPoint(int i, float& x, float& y) const {
    if (valid(i)) x = m_pfX[i], y = m_pfY[i];
  }
  void GetPoint(int i, t_h2dpoint& p) const { GetPoint(i, p.x, p.y); }
  void SetPoint(int i, float x, float y) {
    if (valid(i)) m_pfX[i] = x, m_pfY[i] = y;
  }

  // Index of the point whose x (y) is closest to the argument, looking at the
  // even indices below n - 1 only (the border lines of a Delaunay domain
  // store their points in pairs); the first of equal candidates wins. -1 when
  // there are fewer than two points or none is closer than 10,000,000.
  int ClosestPointX(float x) const;
  int ClosestPointY(float y) const;

  // Signed area of the closed ring, positive counter-clockwise with y up;
  // 0 for fewer than three points.
  double CalcArea() const;
  // Distance from (x, y) to the nearest point, at most 1,000,000 (the value
  // for a polygon without points).
  float GetMinEuclDistance(float x, float y) const;

private:
  bool valid(int i) const { return i >= 0 && i < m_iNumPoints; }
  static int closestEven(const float* a, int n, float v);

  float* m_pfX = nullptr;
  float* m_pfY = nullptr;
  std::int32_t m_iNumPoints = 0;
};
