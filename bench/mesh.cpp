// Mesh neighbours, vertex merging and storage on height-field meshes, each
// against a plain baseline on the same mesh in the same run: neighbours and
// merging against std::unordered_map, storage against one raw write (or read)
// of as many bytes. Sizes 10^4 and 10^5 triangles show the growth.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

#include "orvik/foundation/Stream.h"
#include "orvik/foundation/qe/Triangulation.h"
#include "orvik/triangulation/HTriangulation.h"
#include "bench/height_field_mesh.h"

namespace {

using bench_meshes::heightFieldMesh;

struct CornerKey {
  float x, y, z;
  bool operator==(const CornerKey&) const = default;
};
struct CornerHash {
  std::size_t operator()(const CornerKey& k) const noexcept {
    std::uint32_t b[3];
    std::memcpy(b, &k, 12);
    return (std::size_t{b[0]} * 0x9E3779B97F4A7C15ull) ^ (std::size_t{b[1]} * 0xC2B2AE3D27D4EB4Full) ^ b[2];
  }
};
struct EdgeKey {
  CornerKey a, b;
  bool operator==(const EdgeKey&) const = default;
};
struct EdgeHash {
  std::size_t operator()(const EdgeKey& k) const noexcept { return CornerHash()(k.a) * 31 + CornerHash()(k.b); }
};

CornerKey key(const SSEPoint& p) { return {p.x, p.y, p.z}; }
bool less(const CornerKey& a, const CornerKey& b) {
  return a.x < b.x || (a.x == b.x && (a.y < b.y || (a.y == b.y && a.z < b.z)));
}

void BM_Neighbours(benchmark::State& state) {
  CHTriangulation mesh(const_cast<CHTriangulation*>(&heightFieldMesh(int(state.range(0)))));
  for (auto _ : state) {
    mesh.CalcNeighbours();
    benchmark::DoNotOptimize(mesh.GetTriangles());
  }
  state.SetItemsProcessed(state.iterations() * mesh.GetNumTriangles());
}

// The plain baseline: every edge into an unordered_map, partners linked.
void BM_NeighboursPlainHash(benchmark::State& state) {
  CHTriangulation mesh(const_cast<CHTriangulation*>(&heightFieldMesh(int(state.range(0)))));
  const int n = mesh.GetNumTriangles();
  for (auto _ : state) {
    std::unordered_map<EdgeKey, int, EdgeHash> open;
    open.reserve(3 * n);
    for (int i = 0; i < n; ++i) {
      t_htriangle* t = mesh.GetTriangle(i);
      for (int k = 0; k < 3; ++k) {
        t->neighbour[k] = nullptr;
        CornerKey a = key(*t->corner[k]), b = key(*t->corner[(k + 1) % 3]);
        if (less(b, a)) std::swap(a, b);
        auto [it, inserted] = open.try_emplace(EdgeKey{a, b}, 3 * i + k);
        if (!inserted) {
          t_htriangle* other = mesh.GetTriangle(it->second / 3);
          t->neighbour[k] = other;
          other->neighbour[it->second % 3] = t;
        }
      }
    }
    benchmark::DoNotOptimize(mesh.GetTriangles());
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void BM_VertexMerge(benchmark::State& state) {
  const CHTriangulation& mesh = heightFieldMesh(int(state.range(0)));
  for (auto _ : state) {
    std::unique_ptr<Geometry::CTriangulation> host(mesh.CreateCTriangulationFromHTriangulation());
    benchmark::DoNotOptimize(host->GetVertexCount());
  }
  state.SetItemsProcessed(state.iterations() * mesh.GetNumTriangles());
}

// The plain baseline merges exactly equal corners through an unordered_map,
// then builds the same host mesh with its normals.
void BM_VertexMergePlainHash(benchmark::State& state) {
  const CHTriangulation& mesh = heightFieldMesh(int(state.range(0)));
  const int n = mesh.GetNumTriangles();
  for (auto _ : state) {
    std::unordered_map<CornerKey, unsigned, CornerHash> index;
    index.reserve(n);
    std::vector<CbVector3f> vertices;
    std::vector<Geometry::CTriangulation::Triangle> triangles(n);
    for (int c = 0; c < 3 * n; ++c) {
      const SSEPoint& p = mesh.GetEdgeArray()[c];
      auto [it, inserted] = index.try_emplace(key(p), static_cast<unsigned>(vertices.size()));
      if (inserted) vertices.push_back({p.x, p.y, p.z});
      triangles[c / 3][c % 3] = it->second;
    }
    Geometry::CTriangulation host(unsigned(vertices.size()), unsigned(n),
                                  SMemoryBlock<CbVector3f>(vertices.data(), vertices.size()),
                                  SMemoryBlock<Geometry::CTriangulation::Triangle>(triangles.data(), n), {}, {});
    QeMpTriangulationNormals::Compute(host);
    benchmark::DoNotOptimize(host.GetVertexCount());
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void BM_Store(benchmark::State& state) {
  const CHTriangulation& mesh = heightFieldMesh(int(state.range(0)));
  for (auto _ : state) {
    CbStreamWriteBinaryBuffer out;
    mesh.Serialize(out);
    benchmark::DoNotOptimize(out.GetData());
  }
}

void BM_StoreRawWrite(benchmark::State& state) {
  const CHTriangulation& mesh = heightFieldMesh(int(state.range(0)));
  CbStreamWriteBinaryBuffer sized;
  mesh.Serialize(sized);
  const std::vector<unsigned char> bytes(sized.GetData(), sized.GetData() + sized.GetCount());
  for (auto _ : state) {
    CbStreamWriteBinaryBuffer out;
    out.WriteBuffer(bytes.data(), bytes.size());
    benchmark::DoNotOptimize(out.GetData());
  }
}

void BM_Load(benchmark::State& state) {
  const CHTriangulation& mesh = heightFieldMesh(int(state.range(0)));
  CbStreamWriteBinaryBuffer stored;
  mesh.Serialize(stored);
  for (auto _ : state) {
    CbStreamReadBinaryBuffer in(stored.GetArray());
    CHTriangulation back;
    back.Serialize(in);
    benchmark::DoNotOptimize(back.GetEdgeArray());
  }
}

void BM_LoadRawRead(benchmark::State& state) {
  const CHTriangulation& mesh = heightFieldMesh(int(state.range(0)));
  CbStreamWriteBinaryBuffer stored;
  mesh.Serialize(stored);
  for (auto _ : state) {
    CbStreamReadBinaryBuffer in(stored.GetArray());
    std::unique_ptr<unsigned char[]> bytes(new unsigned char[stored.GetCount()]);
    in.ReadBuffer(bytes.get(), stored.GetCount());
    benchmark::DoNotOptimize(bytes.get());
  }
}

}  // namespace

BENCHMARK(BM_Neighbours)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NeighboursPlainHash)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VertexMerge)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VertexMergePlainHash)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Store)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoreRawWrite)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadRawRead)->Arg(100000)->Unit(benchmark::kMillisecond);
