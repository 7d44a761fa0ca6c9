#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>

#include "mesh_helpers.h"
#include "orvik/foundation/Exception.h"
#include "orvik/foundation/qe/Triangulation.h"
#include "support/host_meshes.h"
#include "support/storage.h"

using namespace mesh_test;

namespace {

constexpr auto readStream = deserialize<CHTriangulation>;
constexpr auto readArchive = loadArchive<CHTriangulation>;

// A mesh with every array filled with distinct values.
void sample(CHTriangulation& mesh) {
  mesh.BaseInitialization(0.5f, 0.25f, 2.0f);
  fill(mesh, grid(3, 2, 0.3f, false, true, 11));
  mesh.CalcNormalsFromVertices();
  mesh.CalcBoundingBox();
  mesh.CalcCenterPoint();
  mesh.CalcNeighbours();
  for (int i = 0; i < mesh.GetNumTriangles(); ++i) {
    *mesh.GetTriangle(i)->mainNormal = SSEPoint(float(i), 1, 2, 3);
    mesh.GetTriangle(i)->index = 100 + i;
  }
  mesh.GetTriangle(2)->mark = 5;
  mesh.GetNormalArray()[4].w = 7.0f;
}

// Equal arrays, index and mark values; b's records link to its own entries.
void expectSameMesh(const CHTriangulation& a, const CHTriangulation& b) {
  ASSERT_EQ(a.GetNumTriangles(), b.GetNumTriangles());
  const std::size_t n = a.GetNumTriangles();
  for (auto [array, count] : {std::pair{&CHTriangulation::GetEdgeArray, 3 * n},
                              {&CHTriangulation::GetNormalArray, 3 * n},
                              {&CHTriangulation::GetMainNormalArray, n},
                              {&CHTriangulation::GetTArray, n},
                              {&CHTriangulation::GetSArray, n},
                              {&CHTriangulation::GetVArray, n},
                              {&CHTriangulation::GetMinPointArray, n},
                              {&CHTriangulation::GetMaxPointArray, n},
                              {&CHTriangulation::GetPointArray, std::size_t(3)}})
    EXPECT_TRUE(count == 0 || std::memcmp((a.*array)(), (b.*array)(), count * sizeof(SSEPoint)) == 0);
  for (int i = 0; i < int(n); ++i) {
    const t_htriangle *s = a.GetTriangle(i), *t = b.GetTriangle(i);
    EXPECT_TRUE(s->index == t->index && s->mark == t->mark) << i;
    EXPECT_TRUE(t->corner[2] == b.GetEdgeArray() + 3 * i + 2 && t->normal[0] == b.GetNormalArray() + 3 * i);
    EXPECT_TRUE(t->v == b.GetVArray() + i && t->maxCorner == b.GetMaxPointArray() + i);
  }
}

// Read records have no neighbours and no list.
void expectUnlinked(const CHTriangulation& m) {
  for (int i = 0; i < m.GetNumTriangles(); ++i)
    EXPECT_TRUE(m.GetTriangle(i)->neighbour[1] == nullptr && m.GetTriangle(i)->next == nullptr) << i;
}

}  // namespace

TEST(MeshStorage, RoundTripsAndByteLayout) {
  CHTriangulation mesh;
  sample(mesh);
  const int n = mesh.GetNumTriangles();
  const Bytes b = serialize(mesh);
  ASSERT_EQ(b.size(), 4 + 7 * 4 + 4 + std::size_t(n) * (144 + 12 * 16) + 48);
  EXPECT_EQ(u32(b, 0), 1u);
  EXPECT_TRUE(f32(b, 4) == 0.5f && f32(b, 8) == 0.25f && f32(b, 16) == 0.5f);  // scale x, y, resolution x
  EXPECT_EQ(f32(b, 28), std::sqrt(0.5f * 0.5f + 0.25f * 0.25f));
  EXPECT_EQ(u32(b, 32), unsigned(n));
  const std::size_t records = 36, corners = records + 144 * std::size_t(n);
  EXPECT_EQ(u32(b, records + 144 + 136), 101u);    // index of record 1
  EXPECT_EQ(u32(b, records + 2 * 144 + 140), 5u);  // mark of record 2
  std::uint64_t link;
  std::memcpy(&link, b.data() + records + 144 + 16, 8);  // the writer's address of corner 2 of record 1
  EXPECT_EQ(link, reinterpret_cast<std::uintptr_t>(mesh.GetEdgeArray() + 5));
  EXPECT_EQ(f32(b, corners + 16 * 4 + 4), mesh.GetEdgeArray()[4].y);
  const std::size_t mainNormals = corners + 2 * 48 * std::size_t(n),
                    box = mainNormals + 4 * 16 * std::size_t(n);
  EXPECT_EQ(f32(b, mainNormals + 16 * 3), 3.0f);
  SSEPoint centre;
  mesh.GetCenterPoint(centre);
  EXPECT_EQ(f32(b, box + 32 + 8), centre.z);
  EXPECT_EQ(f32(b, box + 48 + 16 * n + 4), mesh.GetMaxPointArray()[0].y);
  const Bytes a = storeArchive(mesh);
  EXPECT_TRUE(std::equal(a.begin(), a.end(), b.begin() + 4, b.end()));
  for (bool archive : {false, true}) {
    SCOPED_TRACE(archive ? "archive" : "stream");
    CHTriangulation back(3, 9.0f, 9.0f, 9.0f);
    archive ? readArchive(back, a) : readStream(back, b);
    expectSameMesh(mesh, back);
    expectUnlinked(back);
    EXPECT_TRUE(back.GetScaleX() == 0.5f &&
                back.GetScaleY() == 0.25f);  // the stored scale y, not scale x again
    EXPECT_TRUE(back.GetResY() == 0.25f && back.GetResXY() == mesh.GetResXY());
  }
  // A stored resolution other than the scale is kept.
  Bytes r = b;
  const float res[4] = {0.1f, 0.2f, 0.3f, 0.7f};
  std::memcpy(r.data() + 16, res, sizeof res);
  CHTriangulation back, empty;
  readStream(back, r);
  EXPECT_TRUE(back.GetResX() == 0.1f && back.GetResZ() == 0.3f && back.GetResXY() == 0.7f);
  // The empty mesh, and version 0, which holds no more than the header.
  readStream(back, serialize(empty));
  EXPECT_EQ(back.GetNumTriangles(), 0);
  readStream(mesh, Bytes(4 + 48, 0));
  EXPECT_TRUE(mesh.GetNumTriangles() == 0 && mesh.GetScaleX() == 0.0f && mesh.GetResXY() == 0.0f);
}

TEST(MeshStorage, ShortAndCorruptInputLeavesTheMeshAsItWas) {
  CHTriangulation source, target;
  sample(source);
  const Bytes b = serialize(source), a = storeArchive(source);
  fill(target, octahedron());
  const CHTriangulation before(target);
  for (std::size_t cut = 0; cut < b.size(); ++cut)
    ASSERT_FALSE(accepted(readStream, Bytes(b.begin(), b.begin() + cut), target)) << cut;
  for (std::size_t cut = 0; cut < a.size(); cut += 7)
    ASSERT_FALSE(accepted(readArchive, Bytes(a.begin(), a.begin() + cut), target)) << cut;
  expectSameMesh(before, target);
  Bytes newer = b;
  newer[0] = 2;
  EXPECT_FALSE(accepted(readStream, newer, target));
  for (std::int32_t count : {-1, source.GetNumTriangles() + 1, INT32_MAX}) {
    SCOPED_TRACE(count);
    Bytes bad = b, badArchive = a;
    std::memcpy(bad.data() + 32, &count, 4);
    std::memcpy(badArchive.data() + 28, &count, 4);
    EXPECT_FALSE(accepted(readStream, bad, target));
    EXPECT_FALSE(accepted(readArchive, badArchive, target));
  }
  expectSameMesh(before, target);
}

// Files named valid_* read back to the same bytes but for the writer's addresses in the records; every other
// file must end in a documented exception or a mesh.
TEST(MeshStorage, SeedCorpusReplays) {
  for (bool archive : {false, true})
    for (const auto& [name, b] : seedFiles(archive ? "triangulation/archive" : "triangulation/stream")) {
      SCOPED_TRACE(name);
      CHTriangulation m;
      const bool ok = accepted(archive ? readArchive : readStream, b, m);
      if (!isValidSeed(name)) continue;
      ASSERT_TRUE(ok);
      expectUnlinked(m);
      const Bytes again = archive ? storeArchive(m) : serialize(m);
      ASSERT_EQ(again.size(), b.size());
      const std::size_t records = archive ? 32 : 36,
                        points = records + 144 * std::size_t(m.GetNumTriangles());
      EXPECT_TRUE(std::equal(b.begin(), b.begin() + records, again.begin()));
      EXPECT_TRUE(std::equal(b.begin() + points, b.end(), again.begin() + points));
    }
}

TEST(MeshHost, ConversionMergesVerticesAndSkipsRemovedTriangles) {
  {
    SCOPED_TRACE("a closed octahedron: six vertices, normals away from the centre, back at scale (2, 3, 2)");
    CHTriangulation mesh;
    fill(mesh, octahedron());
    std::unique_ptr<Geometry::CTriangulation> host(mesh.CreateCTriangulationFromHTriangulation());
    EXPECT_TRUE(host->GetVertexCount() == 6u && host->GetTriangleCount() == 8u);
    for (unsigned v = 0; v < 6; ++v) {
      const CbVector3f p = host->GetVertex(v), nrm = host->GetVertexNormals()[v];
      EXPECT_NEAR(p.x * nrm.x + p.y * nrm.y + p.z * nrm.z, 1.0f, 1e-6);
    }
    CHTriangulation back(host.get(), 2.0f, 3.0f, 2.0f);
    ASSERT_EQ(back.GetNumTriangles(), 8);
    for (int i = 0; i < 24; ++i) {
      const SSEPoint &p = back.GetEdgeArray()[i], q = octahedron()[i / 3][i % 3];
      EXPECT_TRUE(p.x == 2 * q.x && p.y == 3 * q.y && p.z == 2 * q.z && p.w == 0) << i;
    }
    EXPECT_NEAR(back.GetTriangle(0)->normal[0]->x, 6 / std::sqrt(88.0f),
                1e-6);  // (2, 0, 0) (0, 3, 0) (0, 0, 2)
  }
  {
    SCOPED_TRACE("merging equals the linear search, the first vertex within 0.0001 in every lane winning");
    auto tris = grid(20, 15, 0.00008f, false, true, 12);
    std::mt19937 rng(13);
    std::uniform_real_distribution<float> near(-2e-4f, 2e-4f);
    for (std::size_t i = 0; i < tris.size(); i += 2) tris[i][1].x += near(rng), tris[i][2].z += near(rng);
    CHTriangulation mesh;
    fill(mesh, tris);
    std::unique_ptr<Geometry::CTriangulation> host(mesh.CreateCTriangulationFromHTriangulation());
    std::vector<SSEPoint> vertices;
    for (std::size_t c = 0; c < 3 * tris.size(); ++c) {
      const SSEPoint& p = tris[c / 3][c % 3];
      std::size_t v = c < 3 ? vertices.size() : 0;
      for (; v < vertices.size(); ++v)
        if (std::fabs(vertices[v].x - p.x) < 1e-4f && std::fabs(vertices[v].y - p.y) < 1e-4f &&
            std::fabs(vertices[v].z - p.z) < 1e-4f && std::fabs(vertices[v].w - p.w) < 1e-4f)
          break;
      if (v == vertices.size()) vertices.push_back(p);
      ASSERT_EQ(host->GetTriangle(unsigned(c / 3))[c % 3], v) << c;
    }
    EXPECT_EQ(host->GetVertexCount(), vertices.size());
  }
  {
    SCOPED_TRACE("removed triangles are skipped and do not size the mesh");
    test_support::HostMesh quad{
        {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {{0, 1, 2}, {1, 3, 2}, {0, 3, 1}}, {0}};
    const Geometry::CTriangulation host = quad.build();
    CHTriangulation mesh(&host);
    ASSERT_EQ(mesh.GetNumTriangles(), 2);
    EXPECT_TRUE(mesh.GetTriangle(0)->corner[1]->y == 1.0f && mesh.GetTriangle(1)->index == 1);
    std::unique_ptr<Geometry::CTriangulation> empty(
        CHTriangulation().CreateCTriangulationFromHTriangulation());
    EXPECT_EQ(empty->GetTriangleCount(), 0u);
    EXPECT_EQ(CHTriangulation(empty.get()).GetNumTriangles(), 0);
  }
}
