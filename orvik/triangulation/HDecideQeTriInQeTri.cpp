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
// Vertices are tested in runs of this many, each with its bounding box, and
// the runs in groups of this many runs, each with the box of its runs.
constexpr std::size_t c_run = 64;
constexpr std::size_t c_group = 16;

struct Box {
  double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL};
  double hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  // Grows to hold [lo, hi]; NaN stays NaN, so that the box never passes.
  void add(double lo_, double hi_, int a) {
    if (std::isnan(lo[a]) || std::isnan(lo_) || std::isnan(hi_)) {
      lo[a] = hi[a] = NAN;
      return;
    }
    lo[a] = std::min(lo[a], lo_);
    hi[a] = std::max(hi[a], hi_);
  }
};

// The restoration's vertices four at a time (x, y and z apart), the tail
// padded with copies of the last vertex, which are never counted.
struct Vertices {
  std::vector<float> x, y, z;
  std::vector<SSEPoint> point;      // as they are, for the highest point
  std::vector<SSEPoint> runningMax;  // lane-wise maximum of points 0 ... k, left to right
  std::vector<Box> runs, groups;
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
  v.runs.resize((n + c_run - 1) / c_run);
  v.groups.resize((v.runs.size() + c_group - 1) / c_group);
  for (std::size_t i = 0; i < n; ++i)
    for (int a = 0; a < 3; ++a) v.runs[i / c_run].add(v.point[i].f[a], v.point[i].f[a], a);
  for (std::size_t r = 0; r < v.runs.size(); ++r)
    for (int a = 0; a < 3; ++a) v.groups[r / c_group].add(v.runs[r].lo[a], v.runs[r].hi[a], a);
  // Without NaN the lane-wise maximum (equal values and NaN giving the second
  // operand) is associative, so the point raised vertex by vertex up to k is
  // the start point raised once to the running maximum of 0 ... k.
  if (!v.anyNaN) {
    v.runningMax.resize(n);
    for (unsigned i = 0; i < n; ++i) v.runningMax[i] = i ? SSEPoint(_mm_max_ps(v.runningMax[i - 1].v, v.point[i].v)) : v.point[i];
  }
  return v;
}

// True when no point of the box can fail the triangle (a, b, c). The exact
// determinant of a point p is the linear function n . (a - p), n = (b - a) x
// (c - a); its minimum over the box, less a bound on the rounding of the
// single-precision form (seven roundings relative to the sum of the
// magnitudes of its terms, taken generously as 1e-6), must stay at or above
// the limit. Anything not finite fails the test.
bool boxPasses(const Box& box, const CbVector3f& A, const CbVector3f& B, const CbVector3f& C) {
  const double a[3] = {A.x, A.y, A.z}, b[3] = {B.x, B.y, B.z}, c[3] = {C.x, C.y, C.z};
  const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, w[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
  const double n[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
  double least = 0.0, da[3], db[3], dc[3];
  for (int k = 0; k < 3; ++k) {
    least += std::min(n[k] * (a[k] - box.lo[k]), n[k] * (a[k] - box.hi[k]));
    da[k] = std::max(std::fabs(a[k] - box.lo[k]), std::fabs(a[k] - box.hi[k]));
    db[k] = std::max(std::fabs(b[k] - box.lo[k]), std::fabs(b[k] - box.hi[k]));
    dc[k] = std::max(std::fabs(c[k] - box.lo[k]), std::fabs(c[k] - box.hi[k]));
  }
  const double magnitude = da[0] * (db[1] * dc[2] + db[2] * dc[1]) + da[1] * (db[2] * dc[0] + db[0] * dc[2]) +
                           da[2] * (db[0] * dc[1] + db[1] * dc[0]);
  return least - 1e-6 * magnitude >= double(c_fOutside);
}

// The first vertex that lies outside the triangle (a, b, c), or n. Groups and
// runs whose box passes as a whole are skipped; in the others the determinant is formed
// for four vertices at once with the operations and the order of the
// single-vertex form, so every lane has its exact value.
std::size_t firstOutside(const Vertices& v, std::size_t n, const CbVector3f& A, const CbVector3f& B,
                         const CbVector3f& C) {
  const __m128 Ax = _mm_set1_ps(A.x), Ay = _mm_set1_ps(A.y), Az = _mm_set1_ps(A.z);
  const __m128 Bx = _mm_set1_ps(B.x), By = _mm_set1_ps(B.y), Bz = _mm_set1_ps(B.z);
  const __m128 Cx = _mm_set1_ps(C.x), Cy = _mm_set1_ps(C.y), Cz = _mm_set1_ps(C.z);
  const __m128 limit = _mm_set1_ps(c_fOutside);
  for (std::size_t from = 0; from < n; from += c_run) {
    if (from % (c_run * c_group) == 0 && boxPasses(v.groups[from / (c_run * c_group)], A, B, C)) {
      from += c_run * (c_group - 1);
      continue;
    }
    if (boxPasses(v.runs[from / c_run], A, B, C)) continue;
    for (std::size_t i = from; i < std::min(from + c_run, n); i += 4) {
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
