#pragma once
// Meshes in the files that viewers and slicers open: binary PLY and OBJ text
// with shared vertices, binary STL (one facet per triangle). Every failure
// throws an exception whose message names the file; a file is replaced only
// once it is complete.
#include <string>

#include "orvik/foundation/qe/Triangulation.h"

class CHTriangulation;
class CSSEMatrix;

namespace orvik::tool {

enum class MeshFormat { Ply, Stl, Obj, Unknown };

// By extension: .ply, .stl, .obj (any case).
MeshFormat MeshFormatOf(const std::string& path);

// The live triangles of the mesh, in the format the path names.
void WriteMesh(const std::string& path, const Geometry::CTriangulation& mesh);

// The mesh of a height field the program writes: every step-th pixel whose
// value passes the threshold (above it, or below it with `below`) is a vertex
// at (x * spacing, y * spacing, value); pixels that are not finite never are.
// Cells of four such pixels give two triangles, of three one; the vertices of
// neighbouring cells are shared.
Geometry::CTriangulation* MeshOfHeightField(const CSSEMatrix& field, int step, float threshold, bool below,
                                            float spacing);

// The shared-vertex form of a mesh without its blank records (a full build's
// records after the last cell, all corners at one point), which would add a
// vertex at the origin.
Geometry::CTriangulation* SharedVertexMesh(const CHTriangulation& mesh);

}  // namespace orvik::tool
