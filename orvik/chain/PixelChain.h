#pragma once
// CPixelChain: a closed chain of integer pixel positions with a float value
// each, traced along the boundary of a thresholded region of a height field.
// The successor of the last point is the first.
#include <cstdint>
#include <memory>

#include "orvik/foundation/platform/String.h"

class CSSEMatrix;

struct pixel {
  std::int32_t x;  // column
  std::int32_t y;  // row
  float value;
};

class CPixelChain {
public:
  // The point array is allocated once at full capacity so that tracing never
  // reallocates; appends beyond the capacity are dropped.
  static constexpr int c_iMaxPoints = 100000;

  CPixelChain();
  CPixelChain(const CPixelChain& other);
  CPixelChain& operator=(const CPixelChain& other);
  virtual ~CPixelChain();

  void AddPoint(long x, long y, float value);
  void RemovePoints() { m_iCount = 0; }
  int GetCount() const { return m_iCount; }
  pixel* GetPixelData() { return m_points.get(); }
  const pixel* GetPixelData() const { return m_points.get(); }
  // Outputs stay untouched unless 0 <= i < count.
  void GetPixel(int i, int& x, int& y) const;

  // Extremes over the points. An empty chain gives 0x0FFFFFFF for the minima
  // and 0 for the maxima; the maxima never report less than 0.
  long GetminX() const;
  long GetmaxX() const;
  long GetminY() const;
  long GetmaxY() const;
  void CalcBoundingBox(int& minX, int& minY, int& maxX, int& maxY) const;

  // Centre of gravity rounded to integers (mean + 0.5, truncated); an empty
  // chain has its centre at 0. The form without arguments stores the result.
  void CalculateGeomCenter_norm(long* cx, long* cy) const;
  void CalculateGeomCenter_norm();
  long GetCenterX() const { return m_iCenterX; }
  long GetCenterY() const { return m_iCenterY; }
  // The same means without rounding.
  void CalculateGeomCenter_precis(float* cx, float* cy) const;
  void CalculateGeomCenter_precis();
  float GetCenterXprecis() const { return m_fCenterX; }
  float GetCenterYprecis() const { return m_fCenterY; }

  // Value range; 1,000,000 and -1,000,000 for an empty chain.
  float GetMinBorderValue() const;
  float GetMaxBorderValue() const;

  void OffsetChain(float d);
  // Cyclic three-point filters of the values.
  void MinimumFilterChain();
  void MaximumFilterChain();
  // Pulls each value toward the values of `other`, weighted by
  // 1 / (squared distance + 1), `iterations` times with a gain of 0.4.
  void SmoothlyPullTogetherChains(const CPixelChain* other, int iterations);

  // Index of the point nearest to (x, y), the earlier on ties; -1 if none is
  // nearer than 999,999.9.
  int FindNearestPoint(int x, int y) const;
  // Among the points below row y, the index of the one nearest to column x;
  // -1 if there is none.
  int FindNearestPointLimited(int x, int y) const;
  // Row at which the chain crosses column x, between row y and the centre row
  // (above the centre with `upper`): the mean of the nearest crossing points
  // left and right of the column, else the row of the nearest point below,
  // else y. Stores the rounded centre.
  float FindNearestIntersectionPointY(int x, int y, bool upper);
  void GetNearestPixel(int x, int y, int& outX, int& outY);

  // Traces the boundary of the region of cells greater than `threshold` (with
  // `above`) or less than it, from (x0, y0). The matrix is framed with the
  // threshold first (its first and last SSE lines and three columns at each
  // side), which keeps the tracer inside. The trace stops on returning to the
  // start (or, with !exactReturn after nearReturnAfter steps, within one cell
  // of it), after maxSteps steps, or when no neighbour is inside.
  void CreatePixelChain(CSSEMatrix* matrix, float threshold, long x0, long y0, long maxSteps, bool above,
                        bool exactReturn, int nearReturnAfter);

  // Replaces each value by the matrix value six cells beside the step to the
  // successor, on the side where the region of a chain traced by
  // CreatePixelChain lies; limited to at most `limit` with takeMinimum and to
  // at least `limit` without. A point equal to its successor is skipped.
  void GetInnerValueForPixelChain(const CSSEMatrix* matrix, float limit, bool takeMinimum);

  // Writers; the offsets follow the normal of the step to the successor, on
  // the side opposite to GetInnerValueForPixelChain. A point equal to its
  // successor has no normal and is skipped by the first two.
  void InsertSingle(CSSEMatrix* matrix) const;
  void Insert(CSSEMatrix* matrix) const;
  // Each of the eight neighbours of every point whose value is >= threshold
  // (above) or <= threshold takes the point's value.
  void InsertSingle(CSSEMatrix* matrix, bool above, float threshold) const;

  // Writes a text table to <dir>/<name>.txt, with a decimal comma. The
  // directory is c:\Export\PixelChain\ on Windows and Export/PixelChain/
  // below the working directory elsewhere; it is not created. A file that
  // cannot be opened writes nothing.
  void ExportPixelChain(const CString& name) const;

private:
  struct FreeDeleter {
    void operator()(pixel* p) const noexcept;
  };

  std::unique_ptr<pixel[], FreeDeleter> m_points;
  std::int32_t m_iCount = 0;
  std::int32_t m_iCenterX = 0;
  std::int32_t m_iCenterY = 0;
  float m_fCenterX = 0.0f;
  float m_fCenterY = 0.0f;
};
