#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

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
  Built& ring(const Ring& r) {
    for (const Pt& p : r) xyz(p);
    return *this;
  }
};

// A stream that keeps no memory of its own, so records reach it through staging.
struct StagedStream : CbStreamWriteBinary {
  Bytes b;
  void writeRaw(const void* data, std::size_t n) override {
    b.insert(b.end(), static_cast<const unsigned char*>(data), static_cast<const unsigned char*>(data) + n);
  }
};

constexpr auto readStream = deserialize<CSSE3dPolygon>;
constexpr auto readArchive = loadArchive<CSSE3dPolygon>;

const Ring c_points = {{0, 0, 1}, {4, 0, 2}, {4, 3, 3}, {1, 5, 4.5f}, {-2, 2, 5}};

Ring normalizedOf(Ring r) {
  for (Pt& p : r) p = {p.x * 0.5f, p.y * 0.25f, -p.z};
  return r;
}

CSSE3dPolygon withNormalized(const Ring& pts) {
  CSSE3dPolygon p = polygonOf(pts);
  const Ring n = normalizedOf(pts);
  for (int i = 0; i < p.GetNumPoints(); ++i) p.SetPointNormalized(i, n[i].x, n[i].y, n[i].z);
  return p;
}

Ring normalizedPointsOf(const CSSE3dPolygon& p) {
  Ring v(p.GetNumPoints());
  for (int i = 0; i < p.GetNumPoints(); ++i) p.GetPointNormalized(i, v[i].x, v[i].y, v[i].z);
  return v;
}

Pt xyz(const SSEPoint& s) { return {s.x, s.y, s.z}; }

SSEPoint centreOf(const CSSE3dPolygon& p) {
  SSEPoint c;
  p.GetGeometricCenter(c);
  return c;
}

// A polygon whose cached corners, centre and flag are all set and distinct.
CSSE3dPolygon occupied() {
  CSSE3dPolygon p = withNormalized({{100, 200, 300}, {-100, -200, -300}, {7, 8, 9}});
  p.CalcBoundingBox();
  p.CalcGeometricCenter();
  return p;
}

// Every cut of `full` is refused with the form's documented exception and leaves the polygon as it was.
template <class Exception, class Read>
void everyCutRefused(const Bytes& full, Read read) {
  const Bytes before = serialize(occupied());
  for (std::size_t cut = 0; cut < full.size(); ++cut) {
    CSSE3dPolygon p = occupied();
    EXPECT_THROW(read(p, Bytes(full.begin(), full.begin() + cut)), Exception) << cut;
    ASSERT_EQ(serialize(p), before) << cut;
  }
}

}  // namespace

// Each version read from hand-built bytes into a polygon that held something; the current version writes back
// to the same bytes.
TEST(PolygonStorage, StreamVersionsRead) {
  const Pt centre{1, 2, 3};
  Built v2 = Built().put(std::uint32_t(2)).put(std::int32_t(5)).ring(c_points).ring(normalizedOf(c_points));
  v2.xyz(centre).put(std::uint8_t(0));
  Built v2box = v2;
  v2box.b.back() = 1;
  v2box.xyz({-1, -2, -3}).xyz({10, 20, 30}).xyz({11, 21, 31}).xyz({-11, -21, -31});
  const Ring zeros(5, Pt{0, 0, 0});
  const Bytes v1 = Built().put(std::uint32_t(1)).put(std::int32_t(5)).ring(c_points).b;
  const std::vector<std::tuple<std::string, Bytes, Ring, Ring, Pt, bool>> cases = {
      {"version 0", Built().put(std::uint32_t(0)).b, {}, {}, {0, 0, 0}, false},
      {"version 1", v1, c_points, zeros, {0, 0, 0}, false},
      {"version 2", v2.b, c_points, normalizedOf(c_points), centre, false},
      {"version 2 with box", v2box.b, c_points, normalizedOf(c_points), centre, true},
  };
  for (const auto& [name, bytes, points, normalized, centre, box] : cases) {
    SCOPED_TRACE(name);
    CSSE3dPolygon p = occupied();
    const SSEPoint oldTopRight = p.GetTopRight();
    readStream(p, bytes);
    EXPECT_EQ(pointsOf(p), points);
    EXPECT_EQ(normalizedPointsOf(p), normalized);
    EXPECT_EQ(xyz(centreOf(p)), centre);
    EXPECT_EQ(centreOf(p).w, 0.0f);
    EXPECT_EQ(p.IsBoundingBoxCalculated(), box);
    if (bytes[0] == 2) {
      EXPECT_EQ(serialize(p), bytes);
    }
    // A clear stored flag leaves the cached corners alone.
    EXPECT_EQ(xyz(p.GetTopRight()), box ? Pt({10, 20, 30}) : xyz(oldTopRight));
    EXPECT_EQ(xyz(p.GetBottomLeft()), box ? Pt({-1, -2, -3}) : Pt({-100, -200, -300}));
    EXPECT_EQ(p.GetTopRight().w, 0.0f);
  }
}

TEST(PolygonStorage, ArchiveLayoutAndRoundTrip) {
  // Blocks of four points: 4 x, 4 y, 4 z; the spare floats of the last block are 0.
  Built expected = Built().put(std::int32_t(5));
  for (int block = 0; block < 2; ++block)
    for (int axis = 0; axis < 3; ++axis)
      for (int i = 4 * block; i < 4 * block + 4; ++i) {
        const Pt q = i < 5 ? c_points[i] : Pt{0, 0, 0};
        expected.put(axis == 0 ? q.x : axis == 1 ? q.y : q.z);
      }
  CSSE3dPolygon p = withNormalized(c_points);
  const Bytes stored = storeArchive(p);
  EXPECT_EQ(stored, expected.b);

  // Loading keeps x, y, z, sets the normalized points to 0 and keeps the cached values with the flag cleared.
  CSSE3dPolygon q = occupied();
  const SSEPoint c0 = centreOf(q), tr0 = q.GetTopRight();
  readArchive(q, stored);
  EXPECT_EQ(pointsOf(q), c_points);
  EXPECT_EQ(normalizedPointsOf(q), Ring(5, Pt{0, 0, 0}));
  EXPECT_FALSE(q.IsBoundingBoxCalculated());
  EXPECT_EQ(centreOf(q).x, c0.x);
  EXPECT_EQ(q.GetTopRight().y, tr0.y);
  EXPECT_EQ(storeArchive(q), stored);

  CSSE3dPolygon empty;
  EXPECT_EQ(storeArchive(empty), Bytes(4, 0));
  readArchive(q, Bytes(4, 0));
  EXPECT_EQ(q.GetNumPoints(), 0);
}

TEST(PolygonStorage, StreamRoundTrips) {
  // Sizes around four-point blocks and the staging of about 5461 points.
  for (int n : {0, 5, 4099, 10000}) {
    SCOPED_TRACE(n);
    const Ring pts = randomRing(n, unsigned(n) + 1, -1000.0f, 1000.0f);
    CSSE3dPolygon p = withNormalized(pts);
    p.CalcGeometricCenter();
    if (n % 2) p.CalcBoundingBox();
    const Bytes b = serialize(p);
    StagedStream staged;
    p.Serialize(staged);
    EXPECT_EQ(staged.b, b);
    CSSE3dPolygon q = occupied(), r = occupied();
    readStream(q, b);
    EXPECT_EQ(pointsOf(q), pts);
    EXPECT_EQ(normalizedPointsOf(q), normalizedPointsOf(p));
    EXPECT_EQ(q.IsBoundingBoxCalculated(), p.IsBoundingBoxCalculated());
    EXPECT_EQ(serialize(q), b);
    readArchive(r, storeArchive(p));
    EXPECT_EQ(pointsOf(r), pts);
  }
  // A polygon never normalised stores its normalized points as 0, not as what its memory held before.
  CSSE3dPolygon q = occupied();
  readStream(q, serialize(polygonOf(c_points)));
  EXPECT_EQ(normalizedPointsOf(q), Ring(5, Pt{0, 0, 0}));
}

// Every cut of a stored form and every implausible count is refused with the documented exception, and the
// polygon keeps what it held.
TEST(PolygonStorage, BadInputRefusedPolygonUnchanged) {
  CSSE3dPolygon source = withNormalized(c_points);
  source.CalcBoundingBox();
  const Bytes stream = serialize(source), archive = storeArchive(source);
  everyCutRefused<CbException>(stream, readStream);
  everyCutRefused<CArchiveException>(archive, readArchive);
  const auto withCount = [](Bytes b, std::size_t at, std::int32_t n) {
    std::memcpy(b.data() + at, &n, 4);
    return b;
  };
  for (const auto& [name, bytes, inArchive] : std::vector<std::tuple<std::string, Bytes, bool>>{
           {"negative count", withCount(stream, 4, -1), false},
           {"count beyond the bytes", withCount(stream, 4, 8), false},
           {"largest count", withCount(stream, 4, 0x7fffffff), false},
           {"version 1 beyond the points", Built().put(std::uint32_t(1)).put(1).put(std::uint64_t(0)).b,
            false},
           {"newer version", Built().put(std::uint32_t(3)).put(std::int32_t(0)).b, false},
           {"archive negative count", withCount(archive, 0, -1), true},
           {"archive count a block too many", withCount(archive, 0, 9), true},
           {"archive largest count", withCount(archive, 0, 0x7fffffff), true}}) {
    SCOPED_TRACE(name);
    CSSE3dPolygon p = occupied();
    EXPECT_FALSE(accepted(inArchive ? readArchive : readStream, bytes, p));
    EXPECT_EQ(serialize(p), serialize(occupied()));
  }
}

// The seed corpus of the polygon readers' fuzz targets, replayed: files named valid_* read and store back to
// the same bytes; every other file must end in a documented exception or a polygon.
TEST(PolygonStorage, SeedCorpusReplays) {
  for (const bool archive : {false, true}) {
    for (const auto& [name, bytes] : seedFiles(archive ? "polygon/archive" : "polygon/stream")) {
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
  // A missing file (or folder) is not created.
  p.DebugSaveXYZ(CString((dir / "missing.xyz").string()));
  p.DebugSaveXYZ(CString((dir / "no folder" / "x.xyz").string()));
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.xyz"));
  // An existing file gets one line per point at its end.
  const std::filesystem::path file = dir / "dump.xyz";
  std::ofstream(file) << "head\n";
  p.DebugSaveXYZ(CString(file.string()));
  p.DebugSaveXYZ(CString(file.string()));
  std::stringstream text;
  text << std::ifstream(file).rdbuf();
  const std::string lines = "1.000 2.000 3.000\n-0.500 1234.568 0.000\n";
  EXPECT_EQ(text.str(), "head\n" + lines + lines);
  std::filesystem::remove_all(dir);
}

TEST(PolygonConvert, PolylinesAndSplines) {
  const Ring ring = star(40, 3, 20.0f);  // counter-clockwise
  Ring repeated = reversed(ring);
  repeated.push_back(repeated.front());
  const std::vector<std::tuple<std::string, Ring, bool, bool, Ring>> cases = {
      {"counter-clockwise ring", ring, true, true, ring},
      {"clockwise ring kept as it is", reversed(ring), true, false, reversed(ring)},
      {"clockwise ring turned from its tail", reversed(ring), true, true, ring},
      {"repeated closing vertex dropped", repeated, true, false, reversed(ring)},
      {"repeated closing vertex, turned", repeated, true, true, rotated(ring, 39)},
      {"open chain keeps its direction", reversed(ring), false, true, reversed(ring)},
      {"one vertex", {{1, 2, 3}}, true, true, {{1, 2, 3}}},
      {"empty", {}, true, true, {}},
  };
  for (const auto& [name, vertices, closed, counterClockwise, expected] : cases) {
    SCOPED_TRACE(name);
    QePolyline3D line;
    for (const Pt& p : vertices) line.AppendVertexTail(CbVector3f(p.x, p.y, p.z));
    line.SetClosed(closed);
    CSSE3dPolygon p(&line, 1.0f, false, counterClockwise);
    EXPECT_EQ(pointsOf(p), expected);
    // And back: a closed polyline of the same points.
    std::unique_ptr<QePolyline3D> back(p.ConvertToPolyline());
    EXPECT_FALSE(back->IsOpen());
    EXPECT_EQ(pointsOf(CSSE3dPolygon(back.get(), 1.0f, false, false)), expected);
    if (name == "counter-clockwise ring") {
      // Reparametrized as the polygon itself would be.
      CSSE3dPolygon q(&line, 0.7f, true, true);
      p.ReParametrize(0.7f);
      EXPECT_EQ(pointsOf(q), pointsOf(p));
    }
  }
  EXPECT_EQ(CSSE3dPolygon(static_cast<const QePolyline3D*>(nullptr), 1.0f, true, true).GetNumPoints(), 0);

  // A spline's outline is its subdivision, sample by sample, a clockwise one turned around.
  const Ring control = {{0, 0, 0}, {10, 0, 1}, {10, 10, 2}, {0, 10, 3}};
  for (bool clockwise : {false, true}) {
    SCOPED_TRACE(clockwise ? "clockwise spline" : "counter-clockwise spline");
    QeHermiteSpline spline(0.5f);
    for (const Pt& c : clockwise ? reversed(control) : control)
      spline.AppendControlPoint(CbVector3f(c.x, c.y, c.z));
    spline.SetClosed();
    CSSE3dPolygon p(&spline, 1.0f, false, true);
    const CbSmartPointer<QePolyline3D> samples = spline.GetSubdivision();
    Ring expected;
    for (int i = 0; i < samples->GetVertexCount(); ++i) {
      const CbVector3f v = samples->GetPosition(QePolylineVertex(i));
      expected.push_back({v.x, v.y, v.z});
    }
    ASSERT_GE(expected.size(), 4u * 20);
    EXPECT_EQ(pointsOf(p), clockwise ? reversed(expected) : expected);
  }
}
