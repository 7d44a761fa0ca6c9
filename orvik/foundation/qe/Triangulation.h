#pragma once
// The host's shared-vertex meshes: vertices and index triples, triangles that
// can be marked removed, vertex normals, and read-only views.
#include <array>
#include <cstddef>
#include <vector>

#include "orvik/foundation/Vectors.h"

// A block of values handed to a mesh constructor; it copies its input, so the
// caller's buffer may go away afterwards.
template <typename T>
class SMemoryBlock {
public:
  SMemoryBlock() = default;
  SMemoryBlock(const T* data, std::size_t count) : m_data(data, data + (data ? count : 0)) {}
  std::size_t GetCount() const { return m_data.size(); }
  const T* GetData() const { return m_data.data(); }

private:
  std::vector<T> m_data;
};

namespace Geometry {

class CTriangulation {
public:
  using Triangle = std::array<unsigned int, 3>;

  CTriangulation() = default;
  // The first vertexCount vertices and triangleCount triples of the blocks; a
  // block shorter than its count, or a triple naming a vertex beyond the
  // count, throws CbException and builds nothing. `removed` lists triangles
  // that start out removed. The last block belongs to the host's signature and
  // is not read (the library passes it and `removed` empty).
  CTriangulation(unsigned vertexCount, unsigned triangleCount, SMemoryBlock<CbVector3f> vertices,
                 SMemoryBlock<Triangle> triangles, SMemoryBlock<unsigned int> removed,
                 SMemoryBlock<Triangle> = {});

  unsigned GetVertexCount() const { return static_cast<unsigned>(m_vertices.size()); }
  unsigned GetTriangleCount() const { return static_cast<unsigned>(m_triangles.size()); }
  const CbVector3f& GetVertex(unsigned i) const { return m_vertices[i]; }
  const Triangle& GetTriangle(unsigned i) const { return m_triangles[i]; }
  bool IsTriangleRemoved(unsigned i) const { return m_removed[i]; }
  void RemoveTriangle(unsigned i) { m_removed[i] = true; }
  unsigned GetLiveTriangleCount() const;

  // Unit normals per vertex once QeMpTriangulationNormals has run, else empty.
  const std::vector<CbVector3f>& GetVertexNormals() const { return m_normals; }
  void SetVertexNormals(std::vector<CbVector3f> normals) { m_normals = std::move(normals); }

private:
  std::vector<CbVector3f> m_vertices;
  std::vector<Triangle> m_triangles;
  std::vector<bool> m_removed;
  std::vector<CbVector3f> m_normals;
};

}  // namespace Geometry

// A read-only view of a mesh; the mesh must outlive it.
class QeTriangulationStatic {
public:
  explicit QeTriangulationStatic(const Geometry::CTriangulation& mesh) : m_mesh(&mesh) {}
  unsigned GetVertexCount() const { return m_mesh->GetVertexCount(); }
  unsigned GetTriangleCount() const { return m_mesh->GetTriangleCount(); }
  const CbVector3f& GetVertex(unsigned i) const { return m_mesh->GetVertex(i); }
  const Geometry::CTriangulation::Triangle& GetTriangle(unsigned i) const { return m_mesh->GetTriangle(i); }
  bool IsTriangleRemoved(unsigned i) const { return m_mesh->IsTriangleRemoved(i); }

private:
  const Geometry::CTriangulation* m_mesh;
};

// Vertex normals: the area-weighted mean of the normals of the live triangles
// around each vertex, of unit length; (0, 0, 0) for a vertex no live triangle
// with an area uses.
class QeMpTriangulationNormals {
public:
  static void Compute(Geometry::CTriangulation& mesh);
};

struct QeBoundingBox {
  CbVector3f min, max;
  bool IsEmpty() const { return min.x > max.x; }
};

// The box of the vertices used by live triangles; an empty box (minimum above
// maximum) when there are none.
class QeMpTriangulationBoundingBox {
public:
  static QeBoundingBox Compute(const Geometry::CTriangulation& mesh);
};
