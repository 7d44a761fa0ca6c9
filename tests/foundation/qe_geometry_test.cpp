#include <gtest/gtest.h>

#include <cmath>

#include "orvik/foundation/Exception.h"
#include "orvik/foundation/qe/Array2D.h"
#include "orvik/foundation/qe/HermiteSpline.h"
#include "orvik/foundation/qe/Triangulation.h"

TEST(QePolyline, WalkAndSignedArea) {
  QePolyline3D square;
  for (const CbVector3f& p :
       {CbVector3f(0, 0, 5), CbVector3f(2, 0, 5), CbVector3f(2, 3, 5), CbVector3f(0, 3, 5)})
    square.AppendVertexTail(p);
  EXPECT_FALSE(square.GetVertexAfter(square.GetVertexTail()).IsValid()) << "open";
  square.SetClosed();
  const IPolyline3D& line = square;
  EXPECT_EQ(line.GetVertexAfter(line.GetVertexTail()), line.GetVertexHead());
  EXPECT_EQ(line.GetPosition(line.GetVertexBefore(line.GetVertexHead())), CbVector3f(0, 3, 5));
  EXPECT_EQ((std::vector<float>{square.ComputeArea({0, 0, 1}), square.ComputeArea({0, 0, -2}),
                                square.ComputeArea({1, 0, 0}), QePolyline3D().ComputeArea({0, 0, 1})}),
            (std::vector<float>{6, -6, 0, 0}));
}

TEST(QeHermiteSpline, SubdivisionPassesThroughControlPointsWithinTheStep) {
  for (bool closed : {false, true}) {
    SCOPED_TRACE(closed ? "closed" : "open");
    QeHermiteSpline spline(0.25f);
    const CbVector3f pts[] = {{0, 0, 0}, {4, 0, 1}, {4, 3, 2}, {0, 3, 1}};
    for (const auto& p : pts) spline.AppendControlPoint(p);
    spline.SetClosed(closed);
    spline.SubdivideByLength();
    auto line = spline.GetSubdivision();
    EXPECT_EQ(line->IsOpen(), !closed);
    int hits = 0;
    const int n = line->GetVertexCount();
    for (int i = 0; i < n; ++i) {
      const CbVector3f p = line->GetPosition(QePolylineVertex(i));
      for (const auto& c : pts) hits += p == c ? 1 : 0;
      const CbVector3f q = line->GetPosition(QePolylineVertex((i + 1) % n));
      EXPECT_TRUE(std::hypot(q.x - p.x, q.y - p.y, q.z - p.z) < 0.5f || (!closed && i + 1 == n)) << i;
    }
    EXPECT_EQ(hits, 4);
  }
}

TEST(QeTriangulation, ConstructionNormalsBoxAndViews) {
  const CbVector3f v[] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {9, 9, 9}};
  const Geometry::CTriangulation::Triangle t[] = {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}},
                                           bad[] = {{0, 1, 5}};
  const unsigned removed[] = {3};
  using Triangles = SMemoryBlock<Geometry::CTriangulation::Triangle>;
  Geometry::CTriangulation mesh(5, 4, SMemoryBlock<CbVector3f>(v, 5), Triangles(t, 4),
                                SMemoryBlock<unsigned>(removed, 1), {});
  EXPECT_EQ(std::pair(mesh.GetLiveTriangleCount(), mesh.IsTriangleRemoved(3)), std::pair(3u, true));
  QeMpTriangulationNormals::Compute(mesh);
  // Vertex 0 sits in three faces of equal area facing -z, -y and -x.
  const CbVector3f n0 = mesh.GetVertexNormals()[0];
  EXPECT_NEAR(n0.x, -1 / std::sqrt(3.0f), 1e-6);
  EXPECT_NEAR(n0.z, -1 / std::sqrt(3.0f), 1e-6);
  EXPECT_EQ(mesh.GetVertexNormals()[4], CbVector3f(0, 0, 0));  // unused vertex
  EXPECT_EQ(QeMpTriangulationBoundingBox::Compute(mesh).max, CbVector3f(1, 1, 1));
  EXPECT_TRUE(QeMpTriangulationBoundingBox::Compute(Geometry::CTriangulation()).IsEmpty());
  EXPECT_EQ(QeTriangulationStatic(mesh).GetTriangle(1)[2], 3u);
  EXPECT_THROW(Geometry::CTriangulation(5, 1, SMemoryBlock<CbVector3f>(v, 5), Triangles(bad, 1), {}, {}),
               CbException);
  EXPECT_THROW(Geometry::CTriangulation(6, 0, SMemoryBlock<CbVector3f>(v, 5), {}, {}, {}), CbException);
  QeArray2D<float> a(3, 2, 1.5f);
  a(2, 1) = 4;
  EXPECT_EQ(a.GetData()[5], 4.0f);
  EXPECT_EQ(std::pair(a.Contains(2, 1), a.Contains(3, 0)), std::pair(true, false));
  EXPECT_EQ(QeArray2D<float>(-1, 4).GetSizeY(), 0);
}
