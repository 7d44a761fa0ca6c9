#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "orvik/foundation/Stream.h"
#include "orvik/foundation/platform/Archive.h"
#include "orvik/foundation/platform/File.h"
#include "orvik/foundation/qe/HermiteSpline.h"
#include "orvik/foundation/qe/Polyline3D.h"
#include "orvik/polygon/SSE3dPolygon.h"
#include "support/polygons.h"
#include "support/storage.h"

namespace {

using namespace testpolygons;

// Little-endian values appended one after the other, for hand-built forms.
struct Built {
  Bytes b;
  template <class T>
  Built& put(T v) {
    const auto* p = reinterpret_cast<const unsigned char*>(&v);
    b.insert(b.end(), p, p + sizeof v);
    return *this;
  }
  Built& xyz(const Pt& p) { return put(p.x).put(p.y).put(p.z); }
};

constexpr auto readStream = deserialize<CSSE3dPolygon>;
constexpr auto readArchive = loadArchive<CSSE3dPolygon>;

const std::vector<Pt> c_points = {{0, 0, 1}, {4, 0, 2}, {4, 3, 3}, {1, 5, 4.5f}, {-2, 2, 5}};

Pt normalizedOf(const Pt& p) { return {p.x * 0.5f, p.y * 0.25f, -p.z}; }

CSSE3dPolygon withNormalized(const std::vector<Pt>& pts) {
  CSSE3dPolygon p = polygonOf(pts);
  for (int i = 0; i < p.GetNumPoints(); ++i) {
    const Pt n = normalizedOf(pts[i]);
    p.SetPointNormalized(i, n.x, n.y, n.z);
  }
  return p;
}

std::vector<Pt> normalizedPointsOf(const CSSE3dPolygon& p) {
  std::vector<Pt> v(p.GetNumPoints());
  for (int i = 0; i < p.GetNumPoints(); ++i) p.GetPointNormalized(i, v[i].x, v[i].y, v[i].z);
  return v;
}

// A polygon whose cached corners, centre and flag are all set and distinct.
CSSE3dPolygon occupied() {
  CSSE3dPolygon p = withNormalized({{100, 200, 300}, {-100, -200, -300}, {7, 8, 9}});
  p.CalcBoundingBox();
  p.CalcGeometricCenter();
  return p;
}

}  // namespace

// Each version read from hand-built bytes into a polygon that held something;
// the current version writes back to the same bytes.
TEST(PolygonStorage, StreamVersionsRead) {
  const Pt centre{1, 2, 3};
  Built v2;
  v2.put(std::uint32_t(2)).put(std::int32_t(5));
  for (const Pt& q : c_points) v2.xyz(q);
  for (const Pt& q : c_points) v2.xyz(normalizedOf(q));
  v2.xyz(centre).put(std::uint8_t(0));
  Built v2box = v2;
  v2box.b.back() = 1;
  v2box.xyz({-1, -2, -3}).xyz({10, 20, 30}).xyz({11, 21, 31}).xyz({-11, -21, -31});
  Built v1;
  v1.put(std::uint32_t(1)).put(std::int32_t(5));
  for (const Pt& q : c_points) v1.xyz(q);
  Built v0;
  v0.put(std::uint32_t(0));

  struct Case {
    std::string name;
    Bytes bytes;
    std::vector<Pt> points, normalized;
    Pt centre;
    bool box;
  };
  const std::vector<Pt> zeros(5, Pt{0, 0, 0});
  std::vector<Pt> normalized;
  for (const Pt& q : c_points) normalized.push_back(normalizedOf(q));
  const std::vector<Case> cases = {
      {"version 0", v0.b, {}, {}, {0, 0, 0}, false},
      {"version 1", v1.b, c_points, zeros, {0, 0, 0}, false},
      {"version 2", v2.b, c_points, normalized, centre, false},
      {"version 2 with box", v2box.b, c_points, normalized, centre, true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CSSE3dPolygon p = occupied();
    const SSEPoint oldTopRight = p.GetTopRight();
    readStream(p, k.bytes);
    EXPECT_EQ(pointsOf(p), k.points);
    EXPECT_EQ(normalizedPointsOf(p), k.normalized);
    SSEPoint c;
    p.GetGeometricCenter(c);
    EXPECT_EQ((Pt{c.x, c.y, c.z}), k.centre);
    EXPECT_EQ(c.w, 0.0f);
    EXPECT_EQ(p.IsBoundingBoxCalculated(), k.box);
    const SSEPoint tr = p.GetTopRight(), bl = p.GetBottomLeft();
    if (k.bytes[0] == 2) {
      EXPECT_EQ(serialize(p), k.bytes);
    }
    if (k.box) {
      EXPECT_EQ((Pt{bl.x, bl.y, bl.z}), (Pt{-1, -2, -3}));
      EXPECT_EQ((Pt{tr.x, tr.y, tr.z}), (Pt{10, 20, 30}));
      EXPECT_EQ(tr.w, 0.0f);
    } else {
      // A clear stored flag leaves the cached corners alone.
      EXPECT_EQ(tr.x, oldTopRight.x);
      EXPECT_EQ(tr.z, oldTopRight.z);
    }
  }
}

TEST(PolygonStorage, ArchiveLayoutAndRoundTrip) {
  CSSE3dPolygon p = withNormalized(c_points);
  Built expected;
  expected.put(std::int32_t(5));
  // Blocks of four points: 4 x, 4 y, 4 z; the spare floats of the last block are 0.
  for (int block = 0; block < 2; ++block)
    for (int axis = 0; axis < 3; ++axis)
      for (int i = 4 * block; i < 4 * block + 4; ++i) {
        const Pt q = i < 5 ? c_points[i] : Pt{0, 0, 0};
        expected.put(axis == 0 ? q.x : axis == 1 ? q.y : q.z);
      }
  const Bytes stored = storeArchive(p);
  EXPECT_EQ(stored, expected.b);
  EXPECT_EQ(stored.size(), 4u + 2 * 48);

  // Loading keeps x, y, z, sets the normalized points to 0 and keeps the
  // cached values with the flag cleared.
  CSSE3dPolygon q = occupied();
  SSEPoint c0;
  q.GetGeometricCenter(c0);
  const SSEPoint tr0 = q.GetTopRight();
  readArchive(q, stored);
  EXPECT_EQ(pointsOf(q), c_points);
  EXPECT_EQ(normalizedPointsOf(q), std::vector<Pt>(5, Pt{0, 0, 0}));
  EXPECT_FALSE(q.IsBoundingBoxCalculated());
  SSEPoint c1;
  q.GetGeometricCenter(c1);
  EXPECT_EQ(c1.x, c0.x);
  EXPECT_EQ(q.GetTopRight().y, tr0.y);
  EXPECT_EQ(storeArchive(q), stored);

  CSSE3dPolygon empty;
  const Bytes none = storeArchive(empty);
  EXPECT_EQ(none, Bytes(4, 0));
  readArchive(q, none);
  EXPECT_EQ(q.GetNumPoints(), 0);
}

TEST(PolygonStorage, StreamRoundTrips) {
  // Sizes around the writer's chunk of 4096 points.
  for (int n : {0, 5, 4099, 10000}) {
    SCOPED_TRACE(n);
    const std::vector<Pt> pts = randomRing(n, unsigned(n) + 1, -1000.0f, 1000.0f);
    CSSE3dPolygon p = withNormalized(pts);
    p.CalcGeometricCenter();
    if (n % 2) p.CalcBoundingBox();
    const Bytes b = serialize(p);
    CSSE3dPolygon q = occupied();
    readStream(q, b);
    EXPECT_EQ(pointsOf(q), pts);
    EXPECT_EQ(normalizedPointsOf(q), normalizedPointsOf(p));
    EXPECT_EQ(q.IsBoundingBoxCalculated(), p.IsBoundingBoxCalculated());
    EXPECT_EQ(serialize(q), b);
    CSSE3dPolygon r = occupied();
    readArchive(r, storeArchive(p));
    EXPECT_EQ(pointsOf(r), pts);
  }
  // A polygon never normalised stores its normalized points as 0, not as what
  // its memory held before.
  CSSE3dPolygon q = occupied();
  readStream(q, serialize(polygonOf(c_points)));
  EXPECT_EQ(normalizedPointsOf(q), std::vector<Pt>(5, Pt{0, 0, 0}));
}

// Every cut of a stored form and every implausible count is refused with the
// documented exception, and the polygon keeps what it held.
TEST(PolygonStorage, BadInputRefusedPolygonUnchanged) {
  CSSE3dPolygon source = withNormalized(c_points);
  source.CalcBoundingBox();
  const Bytes stream = serialize(source), archive = storeArchive(source);
  const Bytes before = serialize(occupied());
  const auto unchanged = [&](const CSSE3dPolygon& p) { return serialize(p) == before; };
  for (std::size_t cut = 0; cut < stream.size(); ++cut) {
    CSSE3dPolygon p = occupied();
    EXPECT_THROW(readStream(p, Bytes(stream.begin(), stream.begin() + cut)), CbException) << cut;
    ASSERT_TRUE(unchanged(p)) << cut;
  }
  for (std::size_t cut = 0; cut < archive.size(); ++cut) {
    CSSE3dPolygon p = occupied();
    EXPECT_THROW(readArchive(p, Bytes(archive.begin(), archive.begin() + cut)), CArchiveException) << cut;
    ASSERT_TRUE(unchanged(p)) << cut;
  }
  struct Case {
    std::string name;
    Bytes bytes;
    bool archive;
  };
  const auto withCount = [](Bytes b, std::size_t at, std::int32_t n) {
    std::memcpy(b.data() + at, &n, 4);
    return b;
  };
  const std::vector<Case> cases = {
      {"negative count", withCount(stream, 4, -1), false},
      {"count beyond the bytes", withCount(stream, 4, 8), false},
      {"largest count", withCount(stream, 4, 0x7fffffff), false},
      {"version 1 count beyond the points", Built().put(std::uint32_t(1)).put(std::int32_t(1)).put(std::uint64_t(0)).b,
       false},
      {"newer version", Built().put(std::uint32_t(3)).put(std::int32_t(0)).b, false},
      {"archive negative count", withCount(archive, 0, -1), true},
      {"archive count a block too many", withCount(archive, 0, 9), true},
      {"archive largest count", withCount(archive, 0, 0x7fffffff), true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CSSE3dPolygon p = occupied();
    EXPECT_FALSE(accepted(k.archive ? readArchive : readStream, k.bytes, p));
    EXPECT_TRUE(unchanged(p));
  }
}

// The seed corpus of the polygon readers' fuzz targets, replayed: files named
// valid_* read and store back to the same bytes; every other file must end in
// a documented exception or a polygon.
TEST(PolygonStorage, SeedCorpusReplays) {
  for (const char* folder : {"polygon/stream", "polygon/archive"}) {
    const bool archive = std::string(folder).find("archive") != std::string::npos;
    for (const auto& [name, bytes] : seedFiles(folder)) {
      SCOPED_TRACE(name);
      CSSE3dPolygon p = occupied();
      const bool ok = accepted(archive ? readArchive : readStream, bytes, p);
      if (!ok) {
        EXPECT_EQ(serialize(p), serialize(occupied()));
      }
      if (!isValidSeed(name)) continue;
      ASSERT_TRUE(ok);
      EXPECT_EQ(archive ? storeArchive(p) : serialize(p), bytes);
    }
  }
}

TEST(PolygonStorage, DebugSaveXYZAppendsToAnExistingFile) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("orvik_polygon_dump_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  CSSE3dPolygon p = polygonOf({{1, 2, 3}, {-0.5f, 1234.5678f, 0.0004f}});
  {
    SCOPED_TRACE("a missing file is not created");
    const std::filesystem::path missing = dir / "missing.xyz";
    p.DebugSaveXYZ(CString(missing.string()));
    EXPECT_FALSE(std::filesystem::exists(missing));
    p.DebugSaveXYZ(CString((dir / "no folder" / "x.xyz").string()));
  }
  {
    SCOPED_TRACE("an existing file gets one line per point at its end");
    const std::filesystem::path file = dir / "dump.xyz";
    std::ofstream(file) << "head\n";
    p.DebugSaveXYZ(CString(file.string()));
    p.DebugSaveXYZ(CString(file.string()));
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    const std::string lines = "1.000 2.000 3.000\n-0.500 1234.568 0.000\n";
    EXPECT_EQ(text.str(), "head\n" + lines + lines);
  }
  std::filesystem::remove_all(dir);
}

TEST(PolygonConvert, PolylinesBothWays) {
  const std::vector<Pt> ring = star(40, 3, 20.0f);  // counter-clockwise
  const auto polylineOf = [](const std::vector<Pt>& pts, bool closed) {
    auto line = std::make_unique<QePolyline3D>();
    for (const Pt& p : pts) line->AppendVertexTail(CbVector3f(p.x, p.y, p.z));
    line->SetClosed(closed);
    return line;
  };
  std::vector<Pt> repeated = reversed(ring);
  repeated.push_back(repeated.front());
  struct Case {
    std::string name;
    std::vector<Pt> vertices;
    bool closed, counterClockwise;
    std::vector<Pt> expected;
  };
  const std::vector<Case> cases = {
      {"counter-clockwise ring", ring, true, true, ring},
      {"clockwise ring kept as it is", reversed(ring), true, false, reversed(ring)},
      {"clockwise ring turned from its tail", reversed(ring), true, true, ring},
      {"repeated closing vertex dropped", repeated, true, false, reversed(ring)},
      {"repeated closing vertex, turned", repeated, true, true, rotated(ring, 39)},
      {"open chain keeps its direction", reversed(ring), false, true, reversed(ring)},
      {"one vertex", {{1, 2, 3}}, true, true, {{1, 2, 3}}},
      {"empty", {}, true, true, {}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const auto line = polylineOf(k.vertices, k.closed);
    CSSE3dPolygon p(line.get(), 1.0f, false, k.counterClockwise);
    EXPECT_EQ(pointsOf(p), k.expected);
    // And back: a closed polyline of the same points.
    std::unique_ptr<QePolyline3D> back(p.ConvertToPolyline());
    EXPECT_FALSE(back->IsOpen());
    ASSERT_EQ(back->GetVertexCount(), p.GetNumPoints());
    CSSE3dPolygon again(back.get(), 1.0f, false, false);
    EXPECT_EQ(pointsOf(again), k.expected);
  }
  {
    SCOPED_TRACE("reparametrized as the polygon itself would be");
    const auto line = polylineOf(ring, true);
    CSSE3dPolygon p(line.get(), 0.7f, true, true), q = polygonOf(ring);
    q.ReParametrize(0.7f);
    EXPECT_GT(q.GetNumPoints(), 40);
    EXPECT_EQ(pointsOf(p), pointsOf(q));
  }
  {
    SCOPED_TRACE("no polyline, no points");
    CSSE3dPolygon p(static_cast<const QePolyline3D*>(nullptr), 1.0f, true, true);
    EXPECT_EQ(p.GetNumPoints(), 0);
  }
}

// The spline's outline: its subdivision, sample by sample, with every control
// point among the samples and a clockwise closed spline turned around.
TEST(PolygonConvert, FromSplineSamples) {
  const std::vector<Pt> control = {{0, 0, 0}, {10, 0, 1}, {10, 10, 2}, {0, 10, 3}};
  for (bool clockwise : {false, true}) {
    SCOPED_TRACE(clockwise ? "clockwise" : "counter-clockwise");
    QeHermiteSpline spline(0.5f);
    const std::vector<Pt> ctrl = clockwise ? reversed(control) : control;
    for (const Pt& c : ctrl) spline.AppendControlPoint(CbVector3f(c.x, c.y, c.z));
    spline.SetClosed();
    CSSE3dPolygon p(&spline, 1.0f, false, true);
    const CbSmartPointer<QePolyline3D> samples = spline.GetSubdivision();
    const int n = samples->GetVertexCount();
    ASSERT_EQ(p.GetNumPoints(), n);
    ASSERT_GE(n, 4 * 20);
    std::vector<Pt> expected;
    for (int i = 0; i < n; ++i) {
      const CbVector3f v = samples->GetPosition(QePolylineVertex(i));
      expected.push_back({v.x, v.y, v.z});
    }
    if (clockwise) expected = reversed(expected);
    const std::vector<Pt> got = pointsOf(p);
    EXPECT_EQ(got, expected);
    EXPECT_GT(area2(got), 0.0);
    for (const Pt& c : control)
      EXPECT_TRUE(std::any_of(got.begin(), got.end(), [&](const Pt& q) { return q == c; }));
  }
}
