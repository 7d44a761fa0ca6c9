#pragma once
// CHSimpleBasisFcns: the 2D predicates and line helpers of the polygon, hull
// and triangulation code. Orientation tests work on the doubled signed area
// A(a, b, c) = (b - a) x (c - a) and treat |A| <= 0.0005 as collinear, which
// decides every degenerate configuration the same way everywhere.
#include "orvik/foundation/SSEPoint.h"
#include "orvik/polygon/SSE2dPolygon.h"

// A direction in the plane; z is written 0.
struct t_vector {
  float x, y, z;
};

// A vertex of the ear-clipping ring: its plane coordinates first, so that it
// is also a t_h2dpoint for the predicates.
struct t_hvertex : t_h2dpoint {
  bool ear;
  t_hvertex* next;
  t_hvertex* prev;
  int vnum;  // position in the vertex array
};

class CHSimpleBasisFcns {
public:
  static constexpr double c_dTolerance = 0.0005;

  // 1, 0 or -1: the sign of A, 0 within the tolerance.
  static float AreaSign(const t_h2dpoint* a, const t_h2dpoint* b, const t_h2dpoint* c);
  static bool Left(const t_h2dpoint* a, const t_h2dpoint* b, const t_h2dpoint* c);
  static bool LeftOn(const t_h2dpoint* a, const t_h2dpoint* b, const t_h2dpoint* c);
  static bool Collinear(const t_h2dpoint* a, const t_h2dpoint* b, const t_h2dpoint* c);
  // c collinear with a and b and within the segment, judged by x unless the
  // segment is exactly vertical. A segment of length zero holds only its own
  // point (a repeated polygon point does not block every diagonal in its row).
  static bool Between(const t_h2dpoint* a, const t_h2dpoint* b, const t_h2dpoint* c);
  // Proper crossing: no three of the points collinear within the tolerance.
  static bool IntersectProp(const t_h2dpoint* a, const t_h2dpoint* b, const t_h2dpoint* c, const t_h2dpoint* d);
  static bool Intersect(const t_h2dpoint* a, const t_h2dpoint* b, const t_h2dpoint* c, const t_h2dpoint* d);
  // b lies in the cone of a's two ring edges (the ring running counter-clockwise).
  static bool InCone(const t_hvertex* a, const t_hvertex* b);

  // Where the segments a-b and c-d meet; true with p set when they do. Parallel
  // segments meet at an end point of one that lies on the other (the first of
  // c, d, a, b that does). The SSEPoint form starts p at (FLT_MAX, FLT_MAX, 0, 0),
  // so a miss leaves that marker, and writes z = 0.
  static bool GetIntersection(const t_h2dpoint* a, const t_h2dpoint* b, const t_h2dpoint* c, const t_h2dpoint* d,
                              t_h2dpoint* p);
  static bool GetIntersection(const SSEPoint& a, const SSEPoint& b, const SSEPoint& c, const SSEPoint& d,
                              SSEPoint& p);

  // Unit direction from q to p; (0, 0) when they coincide.
  static void FindLine(const t_h2dpoint* p, const t_h2dpoint* q, t_vector& d);
  // A unit normal of d: (0, 1) when d is horizontal.
  static void FindOrthogonal(const t_vector& d, t_vector& o);
  // The parameter t of p on the line base + t d, read from x when p and base
  // differ in x by more than 0.0001, else from y, else 0.
  static void FindParameterOfPoint(const t_vector& d, const t_h2dpoint* base, const t_h2dpoint* p, float& t);
  static void FindPointOnLine(const t_vector& d, const t_h2dpoint* base, float t, SSEPoint& p);
  // Foot of the perpendicular from p on the line base + t d; the zero point
  // when d has (almost) no length.
  static void FindFoodPoint(const t_vector& d, const t_h2dpoint* base, const t_h2dpoint* p, SSEPoint& f);
  static float GetDistance(const t_h2dpoint* p, const t_h2dpoint* q);
  // The xy distance of two points in space.
  static float GetDistance(const SSEPoint& p, const SSEPoint& q);
  // The angle moved by whole turns into (pi - 0.0001 - 2 pi, pi - 0.0001], so
  // angles within 0.0001 of pi come out near -pi. A non-finite angle is
  // returned unchanged.
  static float GetRealAngle(float a);
  // nx px + ny py >= c when closed, < c otherwise.
  static bool IsPointInHalfeplain(float nx, float ny, float c, bool closed, const SSEPoint& p);
  // Index of the first entry whose four lanes each differ from p by less than
  // 0.0001; unsigned(-1) when there is none.
  static unsigned VertexAlreadyThereInArray(const SSEPoint* array, const SSEPoint& p, unsigned count);

private:
  static bool ParallelInt(const t_h2dpoint* a, const t_h2dpoint* b, const t_h2dpoint* c, const t_h2dpoint* d,
                          t_h2dpoint* p);
};
