#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "mesh_helpers.h"
#include "orvik/foundation/Exception.h"
#include "orvik/foundation/Stream.h"
#include "orvik/foundation/platform/Archive.h"
#include "orvik/foundation/platform/File.h"
#include "orvik/foundation/qe/Triangulation.h"

using namespace mesh_test;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes store(const CHTriangulation& m) {
  CbStreamWriteBinaryBuffer out;
  m.Serialize(out);
  return Bytes(out.GetData(), out.GetData() + out.GetCount());
}

Bytes storeArchive(CHTriangulation& m) {
  CMemFile file;
  {
    CArchive ar(&file, CArchive::store);
    m.Serialize(ar);
    ar.Flush();
  }
  return file.GetData();
}

void load(CHTriangulation& m, const Bytes& b) {
  CbStreamReadBinaryBuffer in(b.data(), b.size());
  m.Serialize(in);
}

void loadArchive(CHTriangulation& m, const Bytes& b) {
  CMemFile file(b);
  CArchive ar(&file, CArchive::load);
  m.Serialize(ar);
}

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

void expectSameArrays(const CHTriangulation& a, const CHTriangulation& b) {
  ASSERT_EQ(a.GetNumTriangles(), b.GetNumTriangles());
  const std::size_t n = a.GetNumTriangles();
  auto same = [](const SSEPoint* x, const SSEPoint* y, std::size_t count) {
    return count == 0 || std::memcmp(x, y, count * sizeof(SSEPoint)) == 0;
  };
  EXPECT_TRUE(same(a.GetEdgeArray(), b.GetEdgeArray(), 3 * n));
  EXPECT_TRUE(same(a.GetNormalArray(), b.GetNormalArray(), 3 * n));
  EXPECT_TRUE(same(a.GetMainNormalArray(), b.GetMainNormalArray(), n));
  EXPECT_TRUE(same(a.GetTArray(), b.GetTArray(), n));
  EXPECT_TRUE(same(a.GetSArray(), b.GetSArray(), n));
  EXPECT_TRUE(same(a.GetVArray(), b.GetVArray(), n));
  EXPECT_TRUE(same(a.GetMinPointArray(), b.GetMinPointArray(), n));
  EXPECT_TRUE(same(a.GetMaxPointArray(), b.GetMaxPointArray(), n));
  EXPECT_TRUE(same(a.GetPointArray(), b.GetPointArray(), 3));
  for (std::size_t i = 0; i < n; ++i) {
    EXPECT_EQ(a.GetTriangle(int(i))->index, b.GetTriangle(int(i))->index);
    EXPECT_EQ(a.GetTriangle(int(i))->mark, b.GetTriangle(int(i))->mark);
  }
}

// Every link of a read record points at its own entries; neighbours and list are empty.
void expectLinked(const CHTriangulation& m) {
  for (int i = 0; i < m.GetNumTriangles(); ++i) {
    const t_htriangle* t = m.GetTriangle(i);
    EXPECT_EQ(t->corner[2], m.GetEdgeArray() + 3 * i + 2);
    EXPECT_EQ(t->normal[0], m.GetNormalArray() + 3 * i);
    EXPECT_EQ(t->v, m.GetVArray() + i);
    EXPECT_EQ(t->maxCorner, m.GetMaxPointArray() + i);
    EXPECT_EQ(t->neighbour[1], nullptr);
    EXPECT_EQ(t->next, nullptr);
  }
}

bool accepted(void (*read)(CHTriangulation&, const Bytes&), const Bytes& b, CHTriangulation& into) {
  try {
    read(into, b);
    return true;
  } catch (const CbException&) {
  } catch (const CArchiveException&) {
  }
  return false;
}

}  // namespace

TEST(MeshStorage, RoundTripsAndByteLayout) {
  CHTriangulation mesh;
  sample(mesh);
  const int n = mesh.GetNumTriangles();
  const Bytes b = store(mesh);
  ASSERT_EQ(b.size(), 4 + 7 * 4 + 4 + std::size_t(n) * (144 + 12 * 16) + 48);
  auto f32 = [&](std::size_t at) {
    float v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
  };
  auto i32 = [&](std::size_t at) {
    std::int32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
  };
  EXPECT_EQ(i32(0), 1);
  EXPECT_EQ(f32(4), 0.5f);
  EXPECT_EQ(f32(8), 0.25f);
  EXPECT_EQ(f32(16), 0.5f);  // resolution x
  EXPECT_EQ(f32(28), std::sqrt(0.5f * 0.5f + 0.25f * 0.25f));
  EXPECT_EQ(i32(32), n);
  const std::size_t records = 36, corners = records + 144 * std::size_t(n);
  EXPECT_EQ(i32(records + 144 + 136), 101);  // index of record 1
  EXPECT_EQ(i32(records + 2 * 144 + 140), 5);  // mark of record 2
  std::uint64_t link;
  std::memcpy(&link, b.data() + records + 144 + 16, 8);  // the writer's address of corner 2 of record 1
  EXPECT_EQ(link, reinterpret_cast<std::uintptr_t>(mesh.GetEdgeArray() + 5));
  EXPECT_EQ(f32(corners + 16 * 4 + 4), mesh.GetEdgeArray()[4].y);
  const std::size_t mainNormals = corners + 2 * 48 * std::size_t(n);
  EXPECT_EQ(f32(mainNormals + 16 * 3), 3.0f);
  const std::size_t box = mainNormals + 4 * 16 * std::size_t(n);
  SSEPoint centre;
  mesh.GetCenterPoint(centre);
  EXPECT_EQ(f32(box + 32 + 8), centre.z);
  EXPECT_EQ(f32(box + 48 + 16 * n + 4), mesh.GetMaxPointArray()[0].y);

  for (bool archive : {false, true}) {
    SCOPED_TRACE(archive ? "archive" : "stream");
    CHTriangulation back(3, 9.0f, 9.0f, 9.0f);
    if (archive) {
      const Bytes a = storeArchive(mesh);
      EXPECT_TRUE(std::equal(a.begin(), a.end(), b.begin() + 4, b.end()));
      loadArchive(back, a);
    } else {
      load(back, b);
    }
    expectSameArrays(mesh, back);
    expectLinked(back);
    EXPECT_EQ(back.GetScaleX(), 0.5f);
    EXPECT_EQ(back.GetScaleY(), 0.25f);  // the stored scale y, not scale x again
    EXPECT_EQ(back.GetResY(), 0.25f);
    EXPECT_EQ(back.GetResXY(), mesh.GetResXY());
  }
  {
    SCOPED_TRACE("a stored resolution other than the scale is kept");
    Bytes r = b;
    const float res[4] = {0.1f, 0.2f, 0.3f, 0.7f};
    std::memcpy(r.data() + 16, res, sizeof res);
    CHTriangulation back;
    load(back, r);
    EXPECT_EQ(back.GetResX(), 0.1f);
    EXPECT_EQ(back.GetResZ(), 0.3f);
    EXPECT_EQ(back.GetResXY(), 0.7f);
  }
  {
    SCOPED_TRACE("the empty mesh and version 0");
    CHTriangulation empty, back;
    load(back, store(empty));
    EXPECT_EQ(back.GetNumTriangles(), 0);
    Bytes v0(4 + 48, 0);
    load(mesh, v0);
    EXPECT_EQ(mesh.GetNumTriangles(), 0);
    EXPECT_EQ(mesh.GetScaleX(), 0.0f);
    EXPECT_EQ(mesh.GetResXY(), 0.0f);
  }
}

TEST(MeshStorage, ShortAndCorruptInputLeavesTheMeshAsItWas) {
  CHTriangulation source;
  sample(source);
  const Bytes b = store(source);
  CHTriangulation archiveSource(&source);
  const Bytes a = storeArchive(archiveSource);
  CHTriangulation target;
  fill(target, octahedron());
  const CHTriangulation before(target);
  auto unchanged = [&] {
    ASSERT_EQ(target.GetNumTriangles(), 8);
    expectSameArrays(target, before);
    EXPECT_EQ(target.GetTriangle(3)->corner[1], target.GetEdgeArray() + 10);
  };
  for (std::size_t cut = 0; cut < b.size(); ++cut) {
    ASSERT_FALSE(accepted(load, Bytes(b.begin(), b.begin() + cut), target)) << cut;
    if (cut % 97 == 0) unchanged();
  }
  for (std::size_t cut = 0; cut < a.size(); cut += 7) ASSERT_FALSE(accepted(loadArchive, Bytes(a.begin(), a.begin() + cut), target)) << cut;
  unchanged();
  struct Case {
    const char* name;
    std::int32_t count;
  };
  for (const Case& c : {Case{"negative count", -1}, Case{"one more triangle", source.GetNumTriangles() + 1},
                        Case{"huge count", INT32_MAX}}) {
    SCOPED_TRACE(c.name);
    Bytes bad = b;
    std::memcpy(bad.data() + 32, &c.count, 4);
    EXPECT_FALSE(accepted(load, bad, target));
    Bytes badArchive = a;
    std::memcpy(badArchive.data() + 28, &c.count, 4);
    EXPECT_FALSE(accepted(loadArchive, badArchive, target));
    unchanged();
  }
  Bytes newer = b;
  newer[0] = 2;
  EXPECT_FALSE(accepted(load, newer, target));
  unchanged();
}

TEST(MeshHost, ConversionMergesVerticesAndSkipsRemovedTriangles) {
  {
    SCOPED_TRACE("a closed octahedron has six vertices");
    CHTriangulation mesh;
    fill(mesh, octahedron());
    std::unique_ptr<Geometry::CTriangulation> host(mesh.CreateCTriangulationFromHTriangulation());
    EXPECT_EQ(host->GetVertexCount(), 6u);
    EXPECT_EQ(host->GetTriangleCount(), 8u);
    // Vertex normals of a symmetric closed mesh point away from the centre.
    for (unsigned v = 0; v < 6; ++v) {
      const CbVector3f p = host->GetVertex(v), nrm = host->GetVertexNormals()[v];
      EXPECT_NEAR(p.x * nrm.x + p.y * nrm.y + p.z * nrm.z, 1.0f, 1e-6);
    }
    CHTriangulation back(host.get(), 2.0f, 2.0f, 2.0f);
    ASSERT_EQ(back.GetNumTriangles(), 8);
    for (int i = 0; i < 8; ++i)
      for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(back.GetTriangle(i)->corner[k]->x, 2 * octahedron()[i][k].x);
        EXPECT_EQ(back.GetTriangle(i)->corner[k]->w, 0.0f);
      }
    SSEPoint hi;
    back.GetMaxPoint(hi);
    EXPECT_EQ(hi.z, 2.0f);
    EXPECT_NEAR(back.GetTriangle(0)->normal[0]->x, 1 / std::sqrt(3.0f), 1e-6);
  }
  {
    SCOPED_TRACE("the tolerance: 0.00005 merges, 0.0001 does not; the first vertex wins");
    const SSEPoint a(1, 1, 1), b(2, 1, 1), c(1, 2, 1);
    CHTriangulation mesh;
    fill(mesh, {{a, b, c},
                {SSEPoint(1.00005f, 1, 1), SSEPoint(2, 1.0001f, 1), SSEPoint(1, 2, 1.00009f)},
                {SSEPoint(1.00011f, 1, 1), SSEPoint(1.00006f, 1, 1), c}});
    std::unique_ptr<Geometry::CTriangulation> host(mesh.CreateCTriangulationFromHTriangulation());
    ASSERT_EQ(host->GetVertexCount(), 5u);
    EXPECT_EQ(host->GetTriangle(1)[0], 0u);
    EXPECT_EQ(host->GetTriangle(1)[1], 3u);
    EXPECT_EQ(host->GetTriangle(1)[2], 2u);
    // 1.00011 is within the tolerance of 1.00006 only: not of vertex 0.
    EXPECT_EQ(host->GetTriangle(2)[0], 4u);
    EXPECT_EQ(host->GetTriangle(2)[1], 0u);
  }
  {
    SCOPED_TRACE("grid merging equals the linear search");
    const auto tris = grid(20, 15, 0.00008f, false, true, 12);
    CHTriangulation mesh;
    fill(mesh, tris);
    std::unique_ptr<Geometry::CTriangulation> host(mesh.CreateCTriangulationFromHTriangulation());
    std::vector<SSEPoint> vertices;
    for (std::size_t c = 0; c < 3 * tris.size(); ++c) {
      const SSEPoint& p = tris[c / 3][c % 3];
      std::size_t v = 0;
      if (c >= 3)
        for (; v < vertices.size(); ++v)
          if (std::fabs(vertices[v].x - p.x) < 1e-4f && std::fabs(vertices[v].y - p.y) < 1e-4f &&
              std::fabs(vertices[v].z - p.z) < 1e-4f && std::fabs(vertices[v].w - p.w) < 1e-4f)
            break;
      if (c < 3 || v == vertices.size()) {
        v = vertices.size();
        vertices.push_back(p);
      }
      ASSERT_EQ(host->GetTriangle(unsigned(c / 3))[c % 3], v) << c;
    }
    EXPECT_EQ(host->GetVertexCount(), vertices.size());
  }
  {
    SCOPED_TRACE("removed triangles are skipped and do not size the mesh");
    const CbVector3f v[] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}};
    const Geometry::CTriangulation::Triangle t[] = {{0, 1, 2}, {1, 3, 2}, {0, 3, 1}};
    const unsigned removed[] = {0};
    Geometry::CTriangulation host(4, 3, SMemoryBlock<CbVector3f>(v, 4),
                                  SMemoryBlock<Geometry::CTriangulation::Triangle>(t, 3),
                                  SMemoryBlock<unsigned>(removed, 1), {});
    CHTriangulation mesh(&host);
    ASSERT_EQ(mesh.GetNumTriangles(), 2);
    EXPECT_EQ(mesh.GetTriangle(0)->corner[1]->y, 1.0f);
    EXPECT_EQ(mesh.GetTriangle(1)->index, 1);
    std::unique_ptr<Geometry::CTriangulation> empty(CHTriangulation().CreateCTriangulationFromHTriangulation());
    EXPECT_EQ(empty->GetTriangleCount(), 0u);
    EXPECT_EQ(CHTriangulation(empty.get()).GetNumTriangles(), 0);
  }
}

// The seed corpus of the mesh reader's fuzz target, replayed: files named
// valid_* were written by this library and read back to the same bytes; every
// other file must end in a documented exception or a mesh.
TEST(MeshStorage, SeedCorpusReplays) {
  const char* root = std::getenv("ORVIK_TEST_DATA");
  ASSERT_NE(root, nullptr);
  for (const char* folder : {"stream", "archive"}) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(root) / "triangulation" / folder)) {
      const std::string name = entry.path().filename().string();
      SCOPED_TRACE(name);
      ++files;
      std::ifstream in(entry.path(), std::ios::binary);
      const Bytes b(std::istreambuf_iterator<char>(in), {});
      const bool archive = folder[0] == 'a';
      CHTriangulation m;
      const bool ok = accepted(archive ? loadArchive : load, b, m);
      if (name.rfind("valid_", 0) != 0) continue;
      ASSERT_TRUE(ok);
      expectLinked(m);
      CHTriangulation copy(&m);
      const Bytes again = archive ? storeArchive(copy) : store(m);
      // The records carry the writer's addresses; everything else is as read.
      ASSERT_EQ(again.size(), b.size());
      const std::size_t records = archive ? 32 : 36;
      EXPECT_TRUE(std::equal(b.begin(), b.begin() + records, again.begin()));
      const std::size_t points = records + 144 * std::size_t(m.GetNumTriangles());
      EXPECT_TRUE(std::equal(b.begin() + points, b.end(), again.begin() + points));
    }
    EXPECT_GT(files, 0) << folder;
  }
}
