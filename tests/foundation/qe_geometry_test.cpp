#include <gtest/gtest.h>

#include <cmath>

#include "orvik/foundation/Exception.h"
#include "orvik/foundation/qe/Array2D.h"
#include "orvik/foundation/qe/HermiteSpline.h"
#include "orvik/foundation/qe/Triangulation.h"

TEST(QePolyline, WalkAndSignedArea) {
  QePolyline3D square;
  for (const CbVector3f& p : {CbVector3f(0, 0, 5), CbVector3f(2, 0, 5), CbVector3f(2, 3, 5), CbVector3f(0, 3, 5)})
    square.AppendVertexTail(p);
  EXPECT_TRUE(square.IsOpen());
  EXPECT_FALSE(square.GetVertexAfter(square.GetVertexTail()).IsValid());
  square.SetClosed();
  EXPECT_FALSE(square.IsOpen());
  const IPolyline3D& line = square;
  EXPECT_EQ(line.GetVertexCount(), 4);
  EXPECT_EQ(line.GetVertexAfter(line.GetVertexTail()), line.GetVertexHead());
  EXPECT_EQ(line.GetPosition(line.GetVertexBefore(line.GetVertexHead())), CbVector3f(0, 3, 5));
  EXPECT_FLOAT_EQ(square.ComputeArea({0, 0, 1}), 6.0f);
  EXPECT_FLOAT_EQ(square.ComputeArea({0, 0, -2}), -6.0f);
  EXPECT_FLOAT_EQ(square.ComputeArea({1, 0, 0}), 0.0f);
  EXPECT_FLOAT_EQ(QePolyline3D().ComputeArea({0, 0, 1}), 0.0f);
}

TEST(QeHermiteSpline, SubdivisionPassesThroughControlPointsWithinTheStep) {
  for (bool closed : {false, true}) {
    SCOPED_TRACE(closed ? "closed" : "open");
    QeHermiteSpline spline(0.25f);
    const CbVector3f pts[] = {{0, 0, 0}, {4, 0, 1}, {4, 3, 2}, {0, 3, 1}};
    for (const auto& p : pts) spline.AppendControlPoint(p);
    spline.SetClosed(closed);
    EXPECT_EQ(spline.GetSubdivision()->GetVertexCount(), 0);
    spline.SubdivideByLength();
    auto line = spline.GetSubdivision();
    EXPECT_EQ(line->IsOpen(), !closed);
    int hits = 0;
    const int n = line->GetVertexCount();
    for (int i = 0; i < n; ++i) {
      const CbVector3f p = line->GetPosition(QePolylineVertex(i));
      for (const auto& c : pts) hits += p == c ? 1 : 0;
      if (i + 1 < n) {
        const CbVector3f q = line->GetPosition(QePolylineVertex(i + 1));
        EXPECT_LT(std::hypot(q.x - p.x, q.y - p.y, q.z - p.z), 0.5f);  // curve a little longer than chords
      }
    }
    EXPECT_EQ(hits, 4);
    EXPECT_EQ(line->GetPosition(line->GetVertexTail()) == pts[3], !closed);
  }
}

TEST(QeTriangulation, ConstructionNormalsBoxAndViews) {
  const CbVector3f v[] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {9, 9, 9}};
  const Geometry::CTriangulation::Triangle t[] = {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}};
  const unsigned removed[] = {3};
  Geometry::CTriangulation mesh(5, 4, SMemoryBlock<CbVector3f>(v, 5),
                                SMemoryBlock<Geometry::CTriangulation::Triangle>(t, 4),
                                SMemoryBlock<unsigned>(removed, 1), {});
  EXPECT_EQ(mesh.GetTriangleCount(), 4u);
  EXPECT_EQ(mesh.GetLiveTriangleCount(), 3u);
  EXPECT_TRUE(mesh.IsTriangleRemoved(3));
  QeMpTriangulationNormals::Compute(mesh);
  // Vertex 0 sits in three faces of equal area facing -z, -y and -x.
  const CbVector3f n0 = mesh.GetVertexNormals()[0];
  EXPECT_NEAR(n0.x, -1 / std::sqrt(3.0f), 1e-6);
  EXPECT_NEAR(n0.z, -1 / std::sqrt(3.0f), 1e-6);
  EXPECT_EQ(mesh.GetVertexNormals()[4], CbVector3f(0, 0, 0));  // unused vertex
  const QeBoundingBox box = QeMpTriangulationBoundingBox::Compute(mesh);
  EXPECT_EQ(box.max, CbVector3f(1, 1, 1));  // the unused vertex is not in it
  EXPECT_TRUE(QeMpTriangulationBoundingBox::Compute(Geometry::CTriangulation()).IsEmpty());
  const QeTriangulationStatic view(mesh);
  EXPECT_EQ(view.GetVertex(3), CbVector3f(0, 0, 1));
  EXPECT_EQ(view.GetTriangle(1)[2], 3u);

  const Geometry::CTriangulation::Triangle bad[] = {{0, 1, 5}};
  EXPECT_THROW(Geometry::CTriangulation(5, 1, SMemoryBlock<CbVector3f>(v, 5),
                                        SMemoryBlock<Geometry::CTriangulation::Triangle>(bad, 1), {}, {}),
               CbException);
  EXPECT_THROW(Geometry::CTriangulation(6, 0, SMemoryBlock<CbVector3f>(v, 5), {}, {}, {}), CbException);

  QeArray2D<float> a(3, 2, 1.5f);
  a(2, 1) = 4;
  EXPECT_EQ(a.GetData()[5], 4.0f);
  EXPECT_TRUE(a.Contains(2, 1));
  EXPECT_FALSE(a.Contains(3, 0));
  EXPECT_EQ(QeArray2D<float>(-1, 4).GetSizeY(), 0);
}
