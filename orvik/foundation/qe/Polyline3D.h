#pragma once
// The host's polylines: an ordered list of positions, open or closed, walked
// through vertex handles. Only what the library converts with is offered.
#include <vector>

#include "orvik/foundation/ReferenceCounter.h"
#include "orvik/foundation/Vectors.h"

// A handle to one vertex of a polyline; invalid past either end of an open one.
class QePolylineVertex {
public:
  QePolylineVertex() = default;
  explicit QePolylineVertex(int index) : m_index(index) {}
  bool IsValid() const { return m_index >= 0; }
  int GetIndex() const { return m_index; }
  friend bool operator==(const QePolylineVertex&, const QePolylineVertex&) = default;

private:
  int m_index = -1;
};

template <typename T>
class QePolyline {
public:
  virtual ~QePolyline() = default;

  int GetVertexCount() const { return static_cast<int>(m_points.size()); }
  QePolylineVertex GetVertexHead() const { return QePolylineVertex(m_points.empty() ? -1 : 0); }
  QePolylineVertex GetVertexTail() const { return QePolylineVertex(GetVertexCount() - 1); }
  // The walk wraps around a closed polyline and ends (invalid handle) on an open one.
  QePolylineVertex GetVertexAfter(const QePolylineVertex& v) const {
    if (!contains(v)) return {};
    const int next = v.GetIndex() + 1;
    return QePolylineVertex(next < GetVertexCount() ? next : (m_closed ? 0 : -1));
  }
  QePolylineVertex GetVertexBefore(const QePolylineVertex& v) const {
    if (!contains(v)) return {};
    const int prev = v.GetIndex() - 1;
    return QePolylineVertex(prev >= 0 ? prev : (m_closed ? GetVertexCount() - 1 : -1));
  }
  // The position of a vertex; an invalid handle gives the zero position.
  virtual T GetPosition(const QePolylineVertex& v) const { return contains(v) ? m_points[v.GetIndex()] : T{}; }

  void AppendVertexTail(const T& position) { m_points.push_back(position); }
  virtual void SetClosed(bool closed = true) { m_closed = closed; }
  bool IsOpen() const { return !m_closed; }

protected:
  bool contains(const QePolylineVertex& v) const { return v.IsValid() && v.GetIndex() < GetVertexCount(); }

  std::vector<T> m_points;
  bool m_closed = false;
};

// What the library reads of a 3D polyline.
class IPolyline3D {
public:
  virtual ~IPolyline3D() = default;
  virtual int GetVertexCount() const = 0;
  virtual QePolylineVertex GetVertexHead() const = 0;
  virtual QePolylineVertex GetVertexTail() const = 0;
  virtual QePolylineVertex GetVertexAfter(const QePolylineVertex& v) const = 0;
  virtual QePolylineVertex GetVertexBefore(const QePolylineVertex& v) const = 0;
  virtual CbVector3f GetPosition(const QePolylineVertex& v) const = 0;
};

class QePolyline3DBase : public QePolyline<CbVector3f>, public IPolyline3D {
public:
  int GetVertexCount() const override { return QePolyline::GetVertexCount(); }
  QePolylineVertex GetVertexHead() const override { return QePolyline::GetVertexHead(); }
  QePolylineVertex GetVertexTail() const override { return QePolyline::GetVertexTail(); }
  QePolylineVertex GetVertexAfter(const QePolylineVertex& v) const override { return QePolyline::GetVertexAfter(v); }
  QePolylineVertex GetVertexBefore(const QePolylineVertex& v) const override {
    return QePolyline::GetVertexBefore(v);
  }
  CbVector3f GetPosition(const QePolylineVertex& v) const override { return QePolyline::GetPosition(v); }

  // The signed area enclosed by the vertices (closed or not, the last joins the
  // first) projected along the axis: positive when they run counter-clockwise
  // about it. A zero axis gives 0.
  float ComputeArea(CbVector3f axis) const;
};

class QePolyline3D : public QePolyline3DBase, public IReferenceCounted {
public:
  CbReferenceCounter<unsigned int>& getReferenceCounter() const override { return m_referenceCounter; }

private:
  mutable CbReferenceCounter<unsigned int> m_referenceCounter;
};
