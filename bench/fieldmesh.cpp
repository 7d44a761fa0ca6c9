// Meshing a height field of the orvik program's example (every pixel on the
// surface), full and sub-sampled, against writing the same triangles into
// plain arrays in this program: a shared vertex array with index triples, and
// the triangle soup with a gradient normal per corner, which is what the
// mesh's records hold. Sizes 1024 and 2048; the counters give the triangles.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "Example.h"
#include "orvik/matrix/ssematrix.h"
#include "orvik/triangulation/HTriangulation.h"

namespace {

const CSSEMatrix& example(int size) {
  static CSSEMatrix fields[2];
  CSSEMatrix& m = fields[size == 2048 ? 1 : 0];
  if (m.GetSizeX() != size) orvik::tool::MakeExampleStump(m, size);
  return m;
}

void BM_MeshFullField(benchmark::State& state) {
  CSSEMatrix field(example(int(state.range(0))));
  for (auto _ : state) {
    CHTriangulation mesh(&field, 0.0f, true, 1.0f, 1.0f, 1.0f);
    benchmark::DoNotOptimize(mesh.GetEdgeArray());
    state.counters["triangles"] = mesh.GetNumTriangles();
  }
}

void BM_MeshSubSampled(benchmark::State& state) {
  CSSEMatrix field(example(int(state.range(0))));
  const int step = int(state.range(1));
  for (auto _ : state) {
    CHTriangulation mesh(&field, 0.0f, true, 1.0f, 1.0f, 1.0f, step, step);
    benchmark::DoNotOptimize(mesh.GetEdgeArray());
    state.counters["triangles"] = mesh.GetNumTriangles();
  }
}

// The cells of step `step`, every pixel valid, into a vertex array and index
// triples split along P00-P11 as the mesh splits them.
void BM_PlainVertexIndex(benchmark::State& state) {
  const CSSEMatrix& field = example(int(state.range(0)));
  const int step = int(state.range(1));
  const int columns = (field.GetSizeX() - 1) / step + 1, rows = (field.GetSizeY() - 1) / step + 1;
  for (auto _ : state) {
    std::vector<float> vertices(3 * std::size_t(columns) * rows);
    std::vector<std::uint32_t> indices(6 * std::size_t(columns - 1) * (rows - 1));
    std::size_t v = 0, t = 0;
    for (int x = 0; x < columns; ++x)
      for (int y = 0; y < rows; ++y) {
        vertices[v++] = float(x * step);
        vertices[v++] = float(y * step);
        vertices[v++] = field.GetPointUnsafe(x * step, y * step);
      }
    for (int x = 0; x + 1 < columns; ++x)
      for (int y = 0; y + 1 < rows; ++y) {
        const std::uint32_t p00 = std::uint32_t(x * rows + y), p01 = p00 + 1, p10 = p00 + rows, p11 = p10 + 1;
        const std::uint32_t tri[6] = {p00, p11, p01, p00, p10, p11};
        for (std::uint32_t i : tri) indices[t++] = i;
      }
    benchmark::DoNotOptimize(vertices.data());
    benchmark::DoNotOptimize(indices.data());
    state.counters["triangles"] = double(indices.size() / 3);
  }
}

// The same triangles as a soup of corners and unit gradient normals (x, y, z
// floats each), as the mesh stores them minus its per-triangle records.
void BM_PlainSoupWithNormals(benchmark::State& state) {
  const CSSEMatrix& field = example(int(state.range(0)));
  const int sizeX = field.GetSizeX(), sizeY = field.GetSizeY();
  for (auto _ : state) {
    const std::size_t triangles = 2 * std::size_t(sizeX - 1) * (sizeY - 1);
    std::vector<float> corners(9 * triangles), normals(9 * triangles);
    std::size_t at = 0;
    for (int x = 0; x + 1 < sizeX; ++x)
      for (int y = 0; y + 1 < sizeY; ++y) {
        const float z00 = field.GetPointUnsafe(x, y), z10 = field.GetPointUnsafe(x + 1, y);
        const float z01 = field.GetPointUnsafe(x, y + 1), z11 = field.GetPointUnsafe(x + 1, y + 1);
        const float p[4][3] = {{float(x), float(y), z00}, {float(x + 1), float(y), z10}, {float(x), float(y + 1), z01},
                               {float(x + 1), float(y + 1), z11}};
        const float g[4][2] = {{z00 - z10, z00 - z01}, {z00 - z10, z10 - z11}, {z01 - z11, z00 - z01},
                               {z01 - z11, z10 - z11}};
        for (int c : {0, 3, 2, 0, 1, 3}) {
          const float inv = 1.0f / std::sqrt(g[c][0] * g[c][0] + g[c][1] * g[c][1] + 1.0f);
          for (int k = 0; k < 3; ++k) corners[at + k] = p[c][k];
          normals[at] = g[c][0] * inv;
          normals[at + 1] = g[c][1] * inv;
          normals[at + 2] = inv;
          at += 3;
        }
      }
    benchmark::DoNotOptimize(corners.data());
    benchmark::DoNotOptimize(normals.data());
    state.counters["triangles"] = double(triangles);
  }
}

}  // namespace

BENCHMARK(BM_MeshFullField)->Arg(1024)->Arg(2048)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainSoupWithNormals)->Arg(1024)->Arg(2048)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainVertexIndex)->Args({1024, 1})->Args({2048, 1})->Args({2048, 2})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MeshSubSampled)->Args({1024, 1})->Args({2048, 1})->Args({2048, 2})->Unit(benchmark::kMillisecond);
