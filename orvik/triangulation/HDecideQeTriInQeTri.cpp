#include "orvik/triangulation/HDecideQeTriInQeTri.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "orvik/foundation/SSEPoint.h"
#include "orvik/foundation/qe/Triangulation.h"

namespace {

constexpr float c_fOutside = -0.1f;

// The restoration's vertices four at a time (x, y and z apart), the tail
// padded with copies of the last vertex, which are never counted.
struct Vertices {
  std::vector<float> x, y, z;
  std::vector<SSEPoint> point;      // as they are, for the highest point
  std::vector<SSEPoint> runningMax;  // lane-wise maximum of points 0 ... k, left to right
  bool anyNaN = false;
};

Vertices readVertices(const QeTriangulationStatic& mesh, const CbMatrix4Rf* m) {
  Vertices v;
  const unsigned n = mesh.GetVertexCount();
  v.point.resize(n);
  for (unsigned i = 0; i < n; ++i) {
    const CbVector3f& p = mesh.GetVertex(i);
    SSEPoint q(p.x, p.y, p.z, 0.0f);
    if (m) {
      // The homogeneous transform, as meshes apply it.
      const __m128 t = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(p.x), _mm_loadu_ps(m->GetColumn(0))),
                                                        _mm_mul_ps(_mm_set1_ps(p.y), _mm_loadu_ps(m->GetColumn(1)))),
                                             _mm_mul_ps(_mm_set1_ps(p.z), _mm_loadu_ps(m->GetColumn(2)))),
                                  _mm_loadu_ps(m->GetColumn(3)));
      const SSEPoint r = t;
      q = SSEPoint(r.x / r.w, r.y / r.w, r.z / r.w, 0.0f);
    }
    v.point[i] = q;
    v.anyNaN |= std::isnan(q.x) || std::isnan(q.y) || std::isnan(q.z);
  }
  const std::size_t padded = (n + 3) / 4 * 4;
  v.x.resize(padded), v.y.resize(padded), v.z.resize(padded);
  for (std::size_t i = 0; i < padded; ++i) {
    const SSEPoint& p = v.point[std::min<std::size_t>(i, n - 1)];
    v.x[i] = p.x, v.y[i] = p.y, v.z[i] = p.z;
  }
  // Without NaN the lane-wise maximum (equal values and NaN giving the second
  // operand) is associative, so the point raised vertex by vertex up to k is
  // the start point raised once to the running maximum of 0 ... k.
  if (!v.anyNaN) {
    v.runningMax.resize(n);
    for (unsigned i = 0; i < n; ++i) v.runningMax[i] = i ? SSEPoint(_mm_max_ps(v.runningMax[i - 1].v, v.point[i].v)) : v.point[i];
  }
  return v;
}

// The first vertex that lies outside the triangle (a, b, c), or n. The
// determinant is formed for four vertices at once with the operations and
// the order of the single-vertex form, so every lane has its exact value.
std::size_t firstOutside(const Vertices& v, std::size_t n, const CbVector3f& A, const CbVector3f& B,
                         const CbVector3f& C) {
  const __m128 Ax = _mm_set1_ps(A.x), Ay = _mm_set1_ps(A.y), Az = _mm_set1_ps(A.z);
  const __m128 Bx = _mm_set1_ps(B.x), By = _mm_set1_ps(B.y), Bz = _mm_set1_ps(B.z);
  const __m128 Cx = _mm_set1_ps(C.x), Cy = _mm_set1_ps(C.y), Cz = _mm_set1_ps(C.z);
  const __m128 limit = _mm_set1_ps(c_fOutside);
  for (std::size_t i = 0; i < n; i += 4) {
    const __m128 px = _mm_loadu_ps(&v.x[i]), py = _mm_loadu_ps(&v.y[i]), pz = _mm_loadu_ps(&v.z[i]);
    const __m128 ax = _mm_sub_ps(Ax, px), ay = _mm_sub_ps(Ay, py), az = _mm_sub_ps(Az, pz);
    const __m128 bx = _mm_sub_ps(Bx, px), by = _mm_sub_ps(By, py), bz = _mm_sub_ps(Bz, pz);
    const __m128 cx = _mm_sub_ps(Cx, px), cy = _mm_sub_ps(Cy, py), cz = _mm_sub_ps(Cz, pz);
    const __m128 vol = _mm_add_ps(
        _mm_add_ps(_mm_mul_ps(ax, _mm_sub_ps(_mm_mul_ps(by, cz), _mm_mul_ps(bz, cy))),
                   _mm_mul_ps(ay, _mm_sub_ps(_mm_mul_ps(bz, cx), _mm_mul_ps(bx, cz)))),
        _mm_mul_ps(az, _mm_sub_ps(_mm_mul_ps(bx, cy), _mm_mul_ps(by, cx))));
    if (const int outside = _mm_movemask_ps(_mm_cmplt_ps(vol, limit))) {
      const std::size_t k = i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(outside)));
      if (k < n) return k;
    }
  }
  return n;
}

}  // namespace

CHDecideQeTriInQeTri::CHDecideQeTriInQeTri(QeTriangulationStatic* block, QeTriangulationStatic* restoration,
                                           int step) {
  decide(block, restoration, nullptr, step);
}

CHDecideQeTriInQeTri::CHDecideQeTriInQeTri(QeTriangulationStatic* block, QeTriangulationStatic* restoration,
                                           CbMatrix4Rf& m, int step) {
  decide(block, restoration, &m, step);
}

void CHDecideQeTriInQeTri::decide(QeTriangulationStatic* block, QeTriangulationStatic* restoration,
                                  const CbMatrix4Rf* m, int step) {
  if (!block || !restoration) return;
  const std::int64_t stride = std::max(step, 1);
  const std::int64_t end = std::int64_t{block->GetTriangleCount()} - stride + 1;
  if (end <= 0) return;
  const Vertices v = readVertices(*restoration, m);
  const std::size_t n = v.point.size();
  SSEPoint lowest(m_lowestBlockPoint.x, m_lowestBlockPoint.y, m_lowestBlockPoint.z, 0.0f);
  SSEPoint highest(m_highestRestaurationPoint.x, m_highestRestaurationPoint.y, m_highestRestaurationPoint.z, 0.0f);
  for (std::int64_t i = 0; i < end; i += stride) {
    const auto& tri = block->GetTriangle(static_cast<unsigned>(i));
    const CbVector3f& a = block->GetVertex(tri[0]);
    const CbVector3f& b = block->GetVertex(tri[1]);
    const CbVector3f& c = block->GetVertex(tri[2]);
    for (const CbVector3f* p : {&a, &b, &c}) lowest = _mm_min_ps(lowest.v, SSEPoint(p->x, p->y, p->z, 0.0f).v);
    const std::size_t outside = firstOutside(v, n, a, b, c);
    // The vertices visited for this triangle: all, or up to the first outside.
    const std::size_t visited = outside < n ? outside + 1 : n;
    if (visited > 0) {
      if (v.anyNaN)
        for (std::size_t k = 0; k < visited; ++k) highest = _mm_max_ps(highest.v, v.point[k].v);
      else
        highest = _mm_max_ps(highest.v, v.runningMax[visited - 1].v);
    }
    if (outside < n) m_iTriSmallInTriLarge = 0;
  }
  m_lowestBlockPoint = CbVector3f(lowest.x, lowest.y, lowest.z);
  m_highestRestaurationPoint = CbVector3f(highest.x, highest.y, highest.z);
}
