// Runs the built orvik program as a user would and checks what it writes.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "orvik/matrix/ssematrix.h"
#include "support/file_limits.h"
#include "support/peak_memory.h"
#include "support/tool.h"

namespace {

namespace fs = std::filesystem;

using test_support::Outcome;
using test_support::run;

class ToolTest : public testing::Test {
 protected:
  std::string path(const std::string& name) const { return folder / name; }
  test_support::ScratchFolder folder;
};

std::vector<float> readRaw(const std::string& file) {
  const std::vector<unsigned char> b = test_support::ReadBytes(file);
  std::vector<float> v(b.size() / 4);
  std::memcpy(v.data(), b.data(), 4 * v.size());
  return v;
}

// Runs the program and expects its exit status and `named` in what it
// printed; returns that.
std::string ok(const std::string& args, int status = 0, const std::string& named = "") {
  const Outcome r = run(args);
  EXPECT_EQ(r.status, status) << args << "\n" << r.output;
  EXPECT_NE(r.output.find(named), std::string::npos) << args << "\n" << r.output;
  return r.output;
}

// A raw float field of w x h, value(x, y) at each pixel.
template <class Value>
void writeRaw(const std::string& file, int w, int h, Value value) {
  std::vector<float> v;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) v.push_back(value(x, y));
  const auto* bytes = reinterpret_cast<const unsigned char*>(v.data());
  test_support::WriteBytes(file, std::vector<unsigned char>(bytes, bytes + 4 * v.size()));
}

// Width and height of a PNG that libpng's simplified reader reads whole; {} otherwise.
std::vector<int> pngSize(const std::string& file) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, file.c_str())) return {};
  std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
  return {int(image.width), int(image.height)};
}

TEST_F(ToolTest, ConvertRoundTripsWithinTheReportedError) {
  // A 16-bit PNG made by the tool itself from a raw field with known values.
  const int w = 37, h = 23;
  writeRaw(path("in.raw"), w, h, [](int x, int y) { return 1.0f + 0.05f * float(x) + 0.1f * float(y % 7); });
  ok("convert " + path("in.raw") + " " + path("in.png") + " --size 37x23");
  const std::string stored = ok("convert " + path("in.png") + " " + path("stored.ssem") +
                                " --method 2 --passes 2 --max-error 0.0005");
  const auto at = stored.find("maximum error ");
  ASSERT_NE(at, std::string::npos) << stored;
  const float reported = std::stof(stored.substr(at + 14));
  EXPECT_LE(reported, 0.0005f + 1e-6f);
  const std::string info = ok("info " + path("stored.ssem"));
  for (const char* line : {"version:  4", "size:     37 x 23", "method:   2", "passes:   2"})
    EXPECT_NE(info.find(line), std::string::npos) << line << "\n" << info;
  // The TIFF holds floats: what went in (PNG samples / 1000) comes back within
  // the bound that the stored matrix reported.
  ok("convert " + path("stored.ssem") + " " + path("out.tif"));
  ok("convert " + path("out.tif") + " " + path("out.raw"));
  const std::vector<float> back = readRaw(path("out.raw"));
  ASSERT_EQ(back.size(), std::size_t(w * h));
  float worst = 0.0f;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const float want = std::nearbyint((1.0f + 0.05f * x + 0.1f * (y % 7)) * 1000.0f) / 1000.0f;
      worst = std::max(worst, std::fabs(back[y * w + x] - want));
    }
  EXPECT_LE(worst, reported + 1e-6f);
  ok("preview " + path("out.tif") + " " + path("p.png") + " --colormap");
  EXPECT_EQ(pngSize(path("p.png")), (std::vector<int>{w, h}));
}

TEST_F(ToolTest, BadInputsFailWithAMessage) {
  // A truncated stored matrix and raw input of the wrong size.
  CSSEMatrix m;
  m.Create(20, 20);
  ASSERT_TRUE(m.Store(path("full.ssem").c_str()));
  std::vector<unsigned char> bytes = test_support::ReadBytes(path("full.ssem"));
  bytes.resize(bytes.size() / 2);
  test_support::WriteBytes(path("cut.ssem"), bytes);
  bytes.resize(24 + 4 + 5);  // tag, version and part of the sizes
  test_support::WriteBytes(path("head.ssem"), bytes);
  writeRaw(path("x.raw"), 2, 1, [](int, int) { return 1.0f; });
  // Each command fails with its status and a message naming what went wrong.
  for (const auto& [args, status, named] : std::vector<std::tuple<std::string, int, std::string>>{
           {"info " + path("none.ssem"), 1, "none.ssem"},
           {"info " + path("cut.ssem"), 1, "orvik info: "},
           {"convert " + path("x.raw") + " " + path("y.tif") + " --size 3x3", 1, "--size 3x3"},
           {"info " + path("head.ssem"), 1, "ends too early"},
           {"convert " + path("x.raw") + " " + path("y.ssem") + " --size 2x1 --passes 300", 2, "from 0 to 255"},
           {"demo --bogus", 2, ""},
           {"frobnicate", 2, ""},
           {"convert --help", 0, "--max-error"}})
    ok(args, status, named);
}

// Infinite and NaN heights: a lossless copy reports no error; a quantised
// method stores them as the invalid value or refuses the field, never
// reporting success for a destroyed one.
TEST_F(ToolTest, NonFiniteHeights) {
  const float inf = std::numeric_limits<float>::infinity(), odd[3] = {inf, -inf, NAN};
  writeRaw(path("in.raw"), 4, 3, [&](int x, int y) { return x == 1 + y ? odd[y] : 1.5f; });
  const std::string in = path("in.raw") + " ", q = path("q.ssem") + " ";
  for (const char* name : {"out.tif", "out.raw", "out.ssem"}) {
    const std::string out = ok("convert " + in + path(name) + " --size 4x3");
    EXPECT_NE(out.find("maximum error 0\n"), std::string::npos) << out;
  }
  ok("convert " + in + q + "--size 4x3 --method 2", 1, "non-finite");
  ok("convert " + in + q + "--size 4x3 --method 2 --invalid -1000");
  ok("convert " + q + path("q.raw"));
  const std::vector<float> values = readRaw(path("q.raw"));
  ASSERT_EQ(values.size(), 12u);
  EXPECT_EQ((std::vector<float>{values[1], values[6], values[11]}), std::vector<float>(3, -1000.0f));
  EXPECT_NEAR(values[0], 1.5f, 0.01f);
}

// ---- orvik mesh, its files read back by readers of the published layouts ----

struct Vertex {
  float x, y, z;
  auto operator<=>(const Vertex&) const = default;
};
struct Mesh {
  std::vector<Vertex> vertices;
  std::vector<std::array<int, 3>> faces;
};

// Binary little-endian PLY with float x, y, z and uchar/int face lists; the
// body must fill the file exactly.
bool readPly(const std::string& file, Mesh& m) {
  const std::vector<unsigned char> b = test_support::ReadBytes(file);
  const std::string text(b.begin(), b.end());
  const std::size_t end = text.find("end_header\n");
  if (text.compare(0, 4, "ply\n") != 0 || end == std::string::npos) return false;
  const std::string header = text.substr(0, end);
  if (header.find("format binary_little_endian 1.0\n") == std::string::npos ||
      header.find("property float x\nproperty float y\nproperty float z\n") == std::string::npos ||
      header.find("property list uchar int vertex_indices\n") == std::string::npos)
    return false;
  const std::size_t nv = std::stoul(header.substr(header.find("element vertex ") + 15));
  const std::size_t nf = std::stoul(header.substr(header.find("element face ") + 13));
  std::size_t at = end + 11;
  if (b.size() != at + 12 * nv + 13 * nf) return false;
  m.vertices.resize(nv);
  std::memcpy(m.vertices.data(), b.data() + at, 12 * nv);
  at += 12 * nv;
  for (std::size_t f = 0; f < nf; ++f, at += 13) {
    if (b[at] != 3) return false;
    std::array<int, 3> face;
    std::memcpy(face.data(), b.data() + at + 1, 12);
    m.faces.push_back(face);
  }
  return true;
}

// Binary STL: 80 bytes, a count, 50 bytes a facet; vertices made shared here
// by their exact coordinates.
bool readStl(const std::string& file, Mesh& m) {
  const std::vector<unsigned char> b = test_support::ReadBytes(file);
  if (b.size() < 84) return false;
  std::uint32_t n = 0;
  std::memcpy(&n, b.data() + 80, 4);
  if (b.size() != 84 + 50 * std::size_t(n)) return false;
  std::map<Vertex, int> index;
  for (std::uint32_t f = 0; f < n; ++f) {
    std::array<int, 3> face;
    for (int k = 0; k < 3; ++k) {
      Vertex v;
      std::memcpy(&v, b.data() + 84 + 50 * std::size_t(f) + 12 + 12 * k, 12);
      const auto [it, added] = index.emplace(v, int(m.vertices.size()));
      if (added) m.vertices.push_back(v);
      face[k] = it->second;
    }
    m.faces.push_back(face);
  }
  return true;
}

bool readObj(const std::string& file, Mesh& m) {
  std::ifstream in(file);
  std::string kind;
  while (in >> kind) {
    if (kind == "v") {
      Vertex v;
      in >> v.x >> v.y >> v.z;
      m.vertices.push_back(v);
    } else if (kind == "f") {
      std::array<int, 3> f;
      in >> f[0] >> f[1] >> f[2];
      for (int& i : f) --i;
      m.faces.push_back(f);
    } else {
      std::getline(in, kind);  // a comment
    }
  }
  return !in.bad();
}

// Faces index real vertices, are counter-clockwise (y up) and distinct; the
// edges used by one face only form closed loops (every border vertex meets two
// of them), `loops` of them.
::testing::AssertionResult wellFormed(const Mesh& m, int loops) {
  std::map<std::pair<int, int>, int> uses;
  for (const auto& f : m.faces) {
    for (int i : f)
      if (i < 0 || i >= int(m.vertices.size())) return ::testing::AssertionFailure() << "index " << i;
    const Vertex &a = m.vertices[f[0]], &b = m.vertices[f[1]], &c = m.vertices[f[2]];
    if (!((b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y) > 0))
      return ::testing::AssertionFailure() << "a face is not counter-clockwise";
    for (int k = 0; k < 3; ++k) ++uses[std::minmax(f[k], f[(k + 1) % 3])];
  }
  std::map<int, std::vector<int>> open;
  for (const auto& [e, n] : uses)
    if (n == 1) {
      open[e.first].push_back(e.second);
      open[e.second].push_back(e.first);
    }
  for (const auto& [v, next] : open)
    if (next.size() != 2) return ::testing::AssertionFailure() << "border vertex " << v << " meets " << next.size();
  std::set<int> seen;
  int found = 0;
  for (const auto& [v, next] : open) {
    if (seen.count(v)) continue;
    ++found;
    for (int at = v, from = -1; !seen.count(at);) {
      seen.insert(at);
      const int to = open[at][0] == from ? open[at][1] : open[at][0];
      from = at;
      at = to;
    }
  }
  if (found != loops) return ::testing::AssertionFailure() << found << " border loops";
  return ::testing::AssertionSuccess();
}

TEST_F(ToolTest, MeshFilesOpenInOtherPrograms) {
  const int w = 13, h = 9;
  // A disc of low heights for the threshold run.
  auto value = [](int x, int y) {
    return (x - 6) * (x - 6) + (y - 4) * (y - 4) <= 9 ? 1.0f : 2.0f + 0.25f * float(x) - 0.125f * float(y * y % 5);
  };
  writeRaw(path("in.raw"), w, h, value);
  const std::string mesh = "mesh " + path("in.raw") + " ";

  // Every pixel: W * H shared vertices at their pixels, 2 (W - 1)(H - 1)
  // faces, one border loop around the grid.
  for (const char* name : {"all.ply", "all.obj", "all.stl"}) {
    SCOPED_TRACE(name);
    const std::string out = ok(mesh + path(name) + " --size 13x9 --spacing 0.5");
    EXPECT_NE(out.find("117 vertices, 192 triangles"), std::string::npos) << out;
    Mesh m;
    const std::string ext = std::string(name).substr(4);
    ASSERT_TRUE(ext == "ply" ? readPly(path(name), m) : ext == "stl" ? readStl(path(name), m) : readObj(path(name), m));
    ASSERT_EQ(m.vertices.size(), std::size_t(w * h));
    ASSERT_EQ(m.faces.size(), std::size_t(2 * (w - 1) * (h - 1)));
    std::set<Vertex> want, got(m.vertices.begin(), m.vertices.end());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) want.insert({0.5f * x, 0.5f * y, value(x, y)});
    EXPECT_EQ(got, want);
    EXPECT_TRUE(wellFormed(m, 1));
  }

  // Below the threshold: the disc, cells of three pixels giving one face.
  ok(mesh + path("disc.stl") + " --size 13x9 --threshold 1.5 --below");
  Mesh disc;
  ASSERT_TRUE(readStl(path("disc.stl"), disc));
  std::size_t faces = 0;
  for (int y = 0; y + 1 < h; ++y)
    for (int x = 0; x + 1 < w; ++x) {
      const int in = (value(x, y) < 1.5f) + (value(x + 1, y) < 1.5f) + (value(x, y + 1) < 1.5f) + (value(x + 1, y + 1) < 1.5f);
      faces += in == 4 ? 2 : in == 3 ? 1 : 0;
    }
  EXPECT_EQ(disc.faces.size(), faces);
  for (const Vertex& v : disc.vertices) EXPECT_EQ(v.z, 1.0f);
  EXPECT_TRUE(wellFormed(disc, 1));

  // Every second pixel.
  ok(mesh + path("step.ply") + " --size 13x9 --step 2");
  Mesh coarse;
  ASSERT_TRUE(readPly(path("step.ply"), coarse));
  EXPECT_EQ(coarse.vertices.size(), 7u * 5u);
  EXPECT_EQ(coarse.faces.size(), 2u * 6u * 4u);
  EXPECT_TRUE(wellFormed(coarse, 1));

  ok(mesh + path("x.xyz") + " --size 13x9", 2, ".ply, .stl or .obj");
  ok(mesh + path("x.ply") + " --size 13x9 --below", 2, "--below needs --threshold");
  ok(mesh + path("x.ply") + " --size 13x9 --step 0", 2, "--step");
  EXPECT_FALSE(fs::exists(path("x.ply")));
}

// The whole sequence on a small example: its report, previews, the mesh of the
// masked field (one surface with one border) and the matrix library.
TEST_F(ToolTest, DemoReportsAndWritesPreviews) {
  const std::string out = ok("demo --size 96 --out " + folder.Path().string());
  for (const char* word : {"median filter", "erode", "distance", "storage method", "ratio", "4 validity mask",
                           "outline traced", "mesh of the masked field", "round trip", "cap:", "matrix library"})
    EXPECT_NE(out.find(word), std::string::npos) << word << "\n" << out;
  for (const char* name : {"heights-raw.png", "heights.png", "mask.png", "margin.png", "distance.png",
                           "decoded-method3.png", "masked.png"})
    EXPECT_EQ(pngSize(path(name)), (std::vector<int>{96, 96})) << name;
  Mesh mesh;
  ASSERT_TRUE(readPly(path("mesh.ply"), mesh));
  EXPECT_GT(mesh.faces.size(), 1000u);
  EXPECT_TRUE(wellFormed(mesh, 1));
  EXPECT_GT(fs::file_size(path("demo.ssemlib")), 0u);
  EXPECT_EQ(out.find("could not be stored"), std::string::npos) << out;
}

// Image files whose headers claim far more pixels than the file holds: 16-bit
// PNGs of 30000² (above the pixel limit) and 16000² (within it, but more than
// deflate can expand the file to), and float TIFFs of 32768² and 16384² whose
// only strip lies beyond the end of the file, under each compression. The
// program must refuse each one without allocating for the claimed size.
TEST(HostileFiles, RefusedWithoutAllocatingForTheClaimedSize) {
  const char* root = std::getenv("ORVIK_TEST_DATA");
  ASSERT_NE(root, nullptr);
  test_support::ScratchFolder folder;
  const std::string out = folder / "out.raw";
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(std::string(root) + "/tools/hostile")) {
    const std::string in = entry.path().string();
    SCOPED_TRACE(in);
    ++count;
    const test_support::ChildOutcome outcome = test_support::RunInChild([&] {
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, STDERR_FILENO);
      ::dup2(null, STDOUT_FILENO);
      ::execl(ORVIK_TOOL_PATH, ORVIK_TOOL_PATH, "convert", in.c_str(), out.c_str(), static_cast<char*>(nullptr));
      return 127;
    });
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_LT(outcome.peakGrowthKiB, 64 * 1024);
    EXPECT_FALSE(std::filesystem::exists(out));
  }
  EXPECT_EQ(count, 10);
}


}  // namespace
