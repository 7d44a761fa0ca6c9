#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>
#include <utility>

#include "orvik/polygon/RingArea.h"
#include "orvik/polygon/RingEdgeIndex.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "orvik/triangulation/HSimpleBasisFcns.h"

namespace {

constexpr double c_dSnap = 0.001;

struct Node {
  float x, y, z;
  bool cut;
};

// Where two edges cross: edge and parameter on each ring. A parameter of 0
// means the crossing passes through the edge's start vertex.
struct Crossing {
  int ea;
  double ta;
  int eb;
  double tb;
  float x, y, z;
};

double parameterOn(const float* x, const float* y, int i, int j, double px, double py) {
  const double dx = double(x[j]) - x[i], dy = double(y[j]) - y[i], len2 = dx * dx + dy * dy;
  return len2 > 0.0 ? std::clamp(((px - x[i]) * dx + (py - y[i]) * dy) / len2, 0.0, 1.0) : 0.0;
}

// A crossing within c_dSnap of an end of the edge (squared distance, or edge
// parameter) passes through that vertex: edge and parameter move to it.
bool snapToVertex(const float* x, const float* y, int n, int& e, double& t, double px, double py) {
  const int j = e + 1 < n ? e + 1 : 0;
  const auto d2 = [&](int v) { return (px - x[v]) * (px - x[v]) + (py - y[v]) * (py - y[v]); };
  if (d2(e) < c_dSnap || t < c_dSnap) {
    t = 0.0;
    return true;
  }
  if (d2(j) < c_dSnap || t > 1.0 - c_dSnap) {
    e = j, t = 0.0;
    return true;
  }
  return false;
}

// The ring with the crossings inserted in order along each edge.
std::vector<Node> cutRing(const CSSE3dPolygon& p, std::vector<Crossing>& xs, bool first) {
  const auto edge = [&](const Crossing& c) { return first ? c.ea : c.eb; };
  const auto param = [&](const Crossing& c) { return first ? c.ta : c.tb; };
  std::sort(xs.begin(), xs.end(), [&](const Crossing& a, const Crossing& b) {
    return edge(a) != edge(b) ? edge(a) < edge(b) : param(a) < param(b);
  });
  std::vector<Node> ring;
  std::size_t k = 0;
  for (int i = 0; i < p.GetNumPoints(); ++i) {
    Node v{0, 0, 0, false};
    p.GetPoint(i, v.x, v.y, v.z);
    // Every crossing through the vertex: the ring passes the crossing's point.
    for (; k < xs.size() && edge(xs[k]) == i && param(xs[k]) == 0.0; ++k) v = {xs[k].x, xs[k].y, xs[k].z, true};
    ring.push_back(v);
    for (; k < xs.size() && edge(xs[k]) == i; ++k) ring.push_back({xs[k].x, xs[k].y, xs[k].z, true});
  }
  // Repeated points would give pieces without a direction.
  std::vector<Node> out;
  for (const Node& v : ring) {
    if (!out.empty() && out.back().x == v.x && out.back().y == v.y)
      out.back().cut = out.back().cut || v.cut;
    else
      out.push_back(v);
  }
  if (out.size() > 1 && out.front().x == out.back().x && out.front().y == out.back().y) {
    out.front().cut = out.front().cut || out.back().cut;
    out.pop_back();
  }
  return out;
}

using Piece = std::vector<Node>;

// The pieces between consecutive cut nodes, each with both its cut ends.
std::vector<Piece> piecesOf(const std::vector<Node>& ring) {
  std::vector<Piece> pieces;
  const int n = static_cast<int>(ring.size());
  int first = -1;
  for (int i = 0; i < n && first < 0; ++i)
    if (ring[i].cut) first = i;
  if (first < 0) return pieces;
  Piece piece{ring[first]};
  for (int s = 1; s <= n; ++s) {
    const Node& v = ring[(first + s) % n];
    piece.push_back(v);
    if (v.cut) {
      pieces.push_back(piece);
      piece = {v};
    }
  }
  return pieces;
}

// Whether a piece runs outside `other`, judged a tenth of the way along its
// first segment, or at its second point when that sample lies on other's
// outline. A piece that runs along other's outline is taken from the first
// ring only, and only when the side away from its own inside (`outward`: +1
// right of the direction of travel, -1 left) is outside other: so a stretch
// shared by both rings is kept once when they run the same way along it, and
// dropped when they meet there from opposite sides.
bool runsOutside(const Piece& piece, CSSE3dPolygon& other, bool firstRing, float outward) {
  const Node &p = piece[0], &q = piece[1];
  using S = CSSE3dPolygon::EPointStatus;
  const SSEPoint sample(0.9f * p.x + 0.1f * q.x, 0.9f * p.y + 0.1f * q.y, 0.0f);
  const auto onOutline = [](S s) { return s == S::ePointOnVertex || s == S::ePointOnEdge; };
  S s = other.PointStatusWithRespectToPolygon(sample);
  if (onOutline(s)) s = other.PointStatusWithRespectToPolygon(SSEPoint(q.x, q.y, 0.0f));
  if (!onOutline(s)) return s == S::ePointOutside;
  if (!firstRing) return false;
  const float dx = q.x - p.x, dy = q.y - p.y;
  const float eps = 0.001f * outward;
  const SSEPoint beside(sample.x + eps * dy, sample.y - eps * dx, 0.0f);
  return other.PointStatusWithRespectToPolygon(beside) == S::ePointOutside;
}

// The closed rings formed by joining pieces end to start.
std::vector<std::vector<Node>> joinPieces(const std::vector<Piece>& pieces) {
  std::map<std::pair<float, float>, std::vector<int>> starting;
  for (int k = 0; k < static_cast<int>(pieces.size()); ++k)
    starting[{pieces[k][0].x, pieces[k][0].y}].push_back(k);
  std::vector<char> used(pieces.size(), 0);
  std::vector<std::vector<Node>> rings;
  for (std::size_t s = 0; s < pieces.size(); ++s) {
    if (used[s]) continue;
    std::vector<Node> ring;
    int k = static_cast<int>(s);
    const std::pair<float, float> home{pieces[k][0].x, pieces[k][0].y};
    for (;;) {
      used[k] = 1;
      ring.insert(ring.end(), pieces[k].begin(), pieces[k].end() - 1);
      const Node& end = pieces[k].back();
      if (std::pair{end.x, end.y} == home) {
        rings.push_back(ring);
        break;
      }
      auto it = starting.find({end.x, end.y});
      k = -1;
      if (it != starting.end())
        for (int c : it->second)
          if (!used[c]) {
            k = c;
            break;
          }
      if (k < 0) break;  // an open chain: degenerate contact, dropped
    }
  }
  return rings;
}

}  // namespace

void CSSE3dPolygon::CreateMergePolygon(const CSSE3dPolygon& a, const CSSE3dPolygon& b) {
  CSSE3dPolygon A(a), B(b);
  if (A.m_iNumPoints == 0 || B.m_iNumPoints == 0) {
    CreateSimilar(A.m_iNumPoints == 0 ? &B : &A);
    ReducePoints(false);
    return;
  }
  if ((A.CalcXYArea() > 0.0f) != (B.CalcXYArea() > 0.0f)) A.InvertPolygonDirection();
  const int n = A.m_iNumPoints, m = B.m_iNumPoints;

  std::vector<Crossing> xs;
  orvik::detail::RingEdgeIndex edges(B.m_pfX, B.m_pfY, m);
  for (int i = 0; i < n; ++i) {
    const int i1 = i + 1 < n ? i + 1 : 0;
    const t_h2dpoint p0{A.m_pfX[i], A.m_pfY[i]}, p1{A.m_pfX[i1], A.m_pfY[i1]};
    edges.forEachNear(p0, p1, [&](int j) {
      const int j1 = edges.next(j);
      const t_h2dpoint q0 = edges.point(j), q1 = edges.point(j1);
      t_h2dpoint hit;
      if (!CHSimpleBasisFcns::Intersect(&p0, &p1, &q0, &q1) ||
          !CHSimpleBasisFcns::GetIntersection(&p0, &p1, &q0, &q1, &hit))
        return false;
      Crossing c{i, parameterOn(A.m_pfX, A.m_pfY, i, i1, hit.x, hit.y), j,
                 parameterOn(B.m_pfX, B.m_pfY, j, j1, hit.x, hit.y), hit.x, hit.y, 0.0f};
      // The vertex a crossing passes through becomes the crossing's point, and
      // the other ring's parameter is taken from it, so that the same crossing
      // found from both edges at a vertex is recorded the same way.
      if (snapToVertex(A.m_pfX, A.m_pfY, n, c.ea, c.ta, hit.x, hit.y)) {
        c.x = A.m_pfX[c.ea], c.y = A.m_pfY[c.ea];
        c.tb = parameterOn(B.m_pfX, B.m_pfY, j, j1, c.x, c.y);
      }
      if (snapToVertex(B.m_pfX, B.m_pfY, m, c.eb, c.tb, c.x, c.y) && c.ta != 0.0) {
        c.x = B.m_pfX[c.eb], c.y = B.m_pfY[c.eb];
        c.ta = parameterOn(A.m_pfX, A.m_pfY, i, i1, c.x, c.y);
      }
      const int e1 = c.ea + 1 < n ? c.ea + 1 : 0;
      c.z = static_cast<float>(A.m_pfZ[c.ea] + c.ta * (double(A.m_pfZ[e1]) - A.m_pfZ[c.ea]));
      xs.push_back(c);
      return false;
    });
  }
  std::sort(xs.begin(), xs.end(), [](const Crossing& p, const Crossing& q) {
    return std::tie(p.ea, p.ta, p.eb, p.tb) < std::tie(q.ea, q.ta, q.eb, q.tb);
  });
  xs.erase(std::unique(xs.begin(), xs.end(),
                       [](const Crossing& p, const Crossing& q) {
                         return p.ea == q.ea && p.ta == q.ta && p.eb == q.eb && p.tb == q.tb;
                       }),
           xs.end());

  std::vector<Piece> taken;
  std::vector<Crossing> forB = xs;
  const float outward = B.CalcXYArea() > 0.0f ? 1.0f : -1.0f;
  for (const Piece& piece : piecesOf(cutRing(A, xs, true)))
    if (runsOutside(piece, B, true, outward)) taken.push_back(piece);
  for (const Piece& piece : piecesOf(cutRing(B, forB, false)))
    if (runsOutside(piece, A, false, outward)) taken.push_back(piece);
  const std::vector<std::vector<Node>> rings = joinPieces(taken);

  const std::vector<Node>* best = nullptr;
  double bestArea = 0.0;
  for (const auto& r : rings) {
    if (r.size() < 3) continue;
    const double area = std::fabs(orvik::detail::twiceSignedArea(r));
    if (!best || area > bestArea) best = &r, bestArea = area;
  }
  if (!best) {
    // No crossing (or only touching): the ring that holds the other, else a.
    SSEPoint a0, b0;
    A.GetPointSSE(0, a0);
    B.GetPointSSE(0, b0);
    const bool bHoldsA = A.PointStatusWithRespectToPolygon(b0) == ePointOutside &&
                         B.PointStatusWithRespectToPolygon(a0) == ePointInside;
    CreateSimilar(bHoldsA ? &B : &A);
    ReducePoints(false);
    return;
  }
  CSSE3dPolygon result;
  result.Create(static_cast<int>(best->size()));
  for (int i = 0; i < result.m_iNumPoints; ++i)
    result.m_pfX[i] = (*best)[i].x, result.m_pfY[i] = (*best)[i].y, result.m_pfZ[i] = (*best)[i].z;
  takePointsFrom(result);
  ReducePoints(false);
}
