// Runs the built orvik program as a user would and checks what it writes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "orvik/matrix/ssematrix.h"
#include "support/file_limits.h"
#include "support/peak_memory.h"

namespace {

using Bytes = std::vector<unsigned char>;

class ToolTest : public testing::Test {
 protected:
  std::string path(const std::string& name) const { return folder / name; }
  test_support::ScratchFolder folder;
};

std::vector<float> readRaw(const std::string& file) {
  const Bytes b = test_support::ReadBytes(file);
  std::vector<float> v(b.size() / 4);
  std::memcpy(v.data(), b.data(), 4 * v.size());
  return v;
}

// A raw float field of w x h, value(x, y) at each pixel.
template <class Value>
void writeRaw(const std::string& file, int w, int h, Value value) {
  std::vector<float> v;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) v.push_back(value(x, y));
  const auto* bytes = reinterpret_cast<const unsigned char*>(v.data());
  test_support::WriteBytes(file, Bytes(bytes, bytes + 4 * v.size()));
}

// Runs the program as a user would and expects its exit status and `named`
// in what it printed (stdout and stderr together); returns that.
std::string ok(const std::string& args, int status = 0, const std::string& named = "") {
  FILE* p = popen((std::string(ORVIK_TOOL_PATH) + " " + args + " 2>&1").c_str(), "r");
  std::string output;
  std::array<char, 4096> buf;
  while (p && std::fgets(buf.data(), buf.size(), p)) output += buf.data();
  const int exit = p ? pclose(p) : -1;
  EXPECT_TRUE(WIFEXITED(exit) && WEXITSTATUS(exit) == status) << args << "\n" << output;
  EXPECT_NE(output.find(named), std::string::npos) << args << "\n" << output;
  return output;
}

// Width and height of a PNG that libpng's simplified reader reads whole; {} otherwise.
std::vector<int> pngSize(const std::string& file) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, file.c_str())) return {};
  Bytes pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
  return {int(image.width), int(image.height)};
}

TEST_F(ToolTest, ConvertRoundTripsWithinTheReportedError) {
  // A 16-bit PNG made by the tool itself from a raw field with known values.
  const int w = 37, h = 23;
  const auto value = [](int x, int y) { return 1.0f + 0.05f * float(x) + 0.1f * float(y % 7); };
  writeRaw(path("in.raw"), w, h, value);
  ok("convert " + path("in.raw") + " " + path("in.png") + " --size 37x23");
  const std::string stored =
      ok("convert " + path("in.png") + " " + path("s.ssem") + " --method 2 --passes 2 --max-error 0.0005");
  const auto at = stored.find("maximum error ");
  ASSERT_NE(at, std::string::npos) << stored;
  const float reported = std::stof(stored.substr(at + 14));
  EXPECT_LE(reported, 0.0005f + 1e-6f);
  const std::string info = ok("info " + path("s.ssem"));
  for (const char* line : {"version:  4", "size:     37 x 23", "method:   2", "passes:   2"})
    EXPECT_NE(info.find(line), std::string::npos) << line << "\n" << info;
  // The TIFF holds floats: the PNG samples / 1000 come back within the reported bound.
  ok("convert " + path("s.ssem") + " " + path("out.tif"));
  ok("convert " + path("out.tif") + " " + path("out.raw"));
  const std::vector<float> back = readRaw(path("out.raw"));
  ASSERT_EQ(back.size(), std::size_t(w * h));
  for (int i = 0; i < w * h; ++i)
    ASSERT_LE(std::fabs(back[i] - std::nearbyint(value(i % w, i / w) * 1000.0f) / 1000.0f), reported + 1e-6f)
        << i;
  ok("preview " + path("out.tif") + " " + path("p.png") + " --colormap");
  EXPECT_EQ(pngSize(path("p.png")), (std::vector<int>{w, h}));
}

TEST_F(ToolTest, BadInputsFailWithAMessage) {
  // A truncated stored matrix, one cut within its sizes, and raw input of the wrong size.
  CSSEMatrix m;
  m.Create(20, 20);
  ASSERT_TRUE(m.Store(path("full.ssem").c_str()));
  Bytes bytes = test_support::ReadBytes(path("full.ssem"));
  bytes.resize(bytes.size() / 2);
  test_support::WriteBytes(path("cut.ssem"), bytes);
  bytes.resize(24 + 4 + 5);  // tag, version and part of the sizes
  test_support::WriteBytes(path("head.ssem"), bytes);
  writeRaw(path("x.raw"), 2, 1, [](int, int) { return 1.0f; });
  for (const auto& [args, status, named] : std::vector<std::tuple<std::string, int, std::string>>{
           {"info " + path("none.ssem"), 1, "none.ssem"},
           {"info " + path("cut.ssem"), 1, "orvik info: "},
           {"convert " + path("x.raw") + " " + path("y.tif") + " --size 3x3", 1, "--size 3x3"},
           {"info " + path("head.ssem"), 1, "ends too early"},
           {"convert " + path("x.raw") + " " + path("y.ssem") + " --size 2x1 --passes 300", 2,
            "from 0 to 255"},
           {"demo --bogus", 2, ""},
           {"frobnicate", 2, ""},
           {"convert --help", 0, "--max-error"}})
    ok(args, status, named);
}

// Infinite and NaN heights: a lossless copy reports no error; a quantised
// method stores them as the invalid value or refuses the field.
TEST_F(ToolTest, NonFiniteHeights) {
  const float inf = std::numeric_limits<float>::infinity(), odd[3] = {inf, -inf, NAN};
  writeRaw(path("in.raw"), 4, 3, [&](int x, int y) { return x == 1 + y ? odd[y] : 1.5f; });
  const std::string in = path("in.raw") + " ", q = path("q.ssem") + " ";
  for (const char* name : {"out.tif", "out.raw", "out.ssem"})
    ok("convert " + in + path(name) + " --size 4x3", 0, "maximum error 0\n");
  ok("convert " + in + q + "--size 4x3 --method 2", 1, "non-finite");
  ok("convert " + in + q + "--size 4x3 --method 2 --invalid -1000");
  ok("convert " + q + path("q.raw"));
  const std::vector<float> values = readRaw(path("q.raw"));
  ASSERT_EQ(values.size(), 12u);
  EXPECT_EQ((std::vector<float>{values[1], values[6], values[11]}), std::vector<float>(3, -1000.0f));
  EXPECT_NEAR(values[0], 1.5f, 0.01f);
}

struct Vertex {
  float x, y, z;
  auto operator<=>(const Vertex&) const = default;
};
struct Mesh {
  std::vector<Vertex> vertices;
  std::vector<std::array<int, 3>> faces;
};

// Reads a mesh by the published layout its name ends in: PLY filling the file exactly, binary
// STL with vertices shared here by their exact coordinates, OBJ text.
bool readMesh(const std::string& file, Mesh& m) {
  const Bytes b = test_support::ReadBytes(file);
  const std::string text(b.begin(), b.end()), ext = file.substr(file.size() - 3);
  if (ext == "obj") {
    std::istringstream in(text);
    std::string kind;
    while (in >> kind) {
      Vertex v;
      std::array<int, 3> f;
      if (kind == "v" && in >> v.x >> v.y >> v.z) m.vertices.push_back(v);
      if (kind == "f" && in >> f[0] >> f[1] >> f[2]) m.faces.push_back({f[0] - 1, f[1] - 1, f[2] - 1});
      if (kind != "v" && kind != "f") std::getline(in, kind);  // a comment
    }
    return true;
  }
  if (ext == "stl") {
    std::uint32_t n = 0;
    if (b.size() < 84 || (std::memcpy(&n, b.data() + 80, 4), b.size() != 84 + 50 * std::size_t(n)))
      return false;
    std::map<Vertex, int> index;
    for (std::size_t at = 84 + 12; at < b.size(); at += 50) {
      std::array<int, 3> face;
      for (int k = 0; k < 3; ++k) {
        Vertex v;
        std::memcpy(&v, b.data() + at + 12 * k, 12);
        const auto [it, added] = index.emplace(v, int(m.vertices.size()));
        if (added) m.vertices.push_back(v);
        face[k] = it->second;
      }
      m.faces.push_back(face);
    }
    return true;
  }
  const std::size_t end = text.find("end_header\n");
  const std::string header = text.substr(0, end);
  for (const char* line :
       {"ply\n", "format binary_little_endian 1.0\n", "property list uchar int vertex_indices\n",
        "property float x\nproperty float y\nproperty float z\n"})
    if (end == std::string::npos || header.find(line) == std::string::npos) return false;
  const std::size_t nv = std::stoul(header.substr(header.find("element vertex ") + 15));
  const std::size_t nf = std::stoul(header.substr(header.find("element face ") + 13));
  std::size_t at = end + 11;
  if (b.size() != at + 12 * nv + 13 * nf) return false;
  m.vertices.resize(nv);
  std::memcpy(m.vertices.data(), b.data() + at, 12 * nv);
  for (at += 12 * nv; at < b.size(); at += 13) {
    std::array<int, 3> face;
    std::memcpy(face.data(), b.data() + at + 1, 12);
    if (b[at] != 3) return false;
    m.faces.push_back(face);
  }
  return true;
}

// Faces index real vertices and are counter-clockwise (y up); two border edges meet at each
// border vertex, and the Euler characteristic is that of one surface with one border.
::testing::AssertionResult isDisc(const Mesh& m) {
  std::map<std::pair<int, int>, int> uses;
  std::map<int, int> borderEdges;
  for (const auto& f : m.faces) {
    for (int i : f)
      if (i < 0 || i >= int(m.vertices.size())) return ::testing::AssertionFailure() << "index " << i;
    const Vertex &a = m.vertices[f[0]], &b = m.vertices[f[1]], &c = m.vertices[f[2]];
    if (!((b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y) > 0))
      return ::testing::AssertionFailure() << "a face is not counter-clockwise";
    for (int k = 0; k < 3; ++k) ++uses[std::minmax(f[k], f[(k + 1) % 3])];
  }
  for (const auto& [e, n] : uses) borderEdges[e.first] += n == 1, borderEdges[e.second] += n == 1;
  std::size_t used = 0;
  for (const auto& [v, n] : borderEdges) {
    if (n != 0 && n != 2) return ::testing::AssertionFailure() << "border vertex " << v << " meets " << n;
    ++used;
  }
  if (used + m.faces.size() != uses.size() + 1)
    return ::testing::AssertionFailure()
           << used << " - " << uses.size() << " + " << m.faces.size() << " != 1";
  return ::testing::AssertionSuccess();
}

TEST_F(ToolTest, MeshFilesOpenInOtherPrograms) {
  const int w = 13, h = 9;
  const auto value = [](int x, int y) {  // a disc of low heights for the threshold run
    return (x - 6) * (x - 6) + (y - 4) * (y - 4) <= 9 ? 1.0f
                                                      : 2.0f + 0.25f * float(x) - 0.125f * float(y * y % 5);
  };
  writeRaw(path("in.raw"), w, h, value);
  const std::string mesh = "mesh " + path("in.raw") + " ";
  std::set<Vertex> grid;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) grid.insert({0.5f * x, 0.5f * y, value(x, y)});
  // Every pixel: W * H shared vertices at their pixels, 2 (W - 1)(H - 1) faces.
  for (const char* name : {"all.ply", "all.obj", "all.stl"}) {
    SCOPED_TRACE(name);
    ok(mesh + path(name) + " --size 13x9 --spacing 0.5", 0, "117 vertices, 192 triangles");
    Mesh m;
    ASSERT_TRUE(readMesh(path(name), m));
    EXPECT_EQ(m.vertices.size(), grid.size());
    EXPECT_EQ(std::set<Vertex>(m.vertices.begin(), m.vertices.end()), grid);
    EXPECT_EQ(m.faces.size(), std::size_t(2 * (w - 1) * (h - 1)));
    EXPECT_TRUE(isDisc(m));
  }
  // Below the threshold: the disc, cells of three pixels giving one face.
  ok(mesh + path("disc.stl") + " --size 13x9 --threshold 1.5 --below");
  Mesh disc;
  ASSERT_TRUE(readMesh(path("disc.stl"), disc));
  std::size_t faces = 0;
  for (int y = 0; y + 1 < h; ++y)
    for (int x = 0; x + 1 < w; ++x) {
      const int in = (value(x, y) < 1.5f) + (value(x + 1, y) < 1.5f) + (value(x, y + 1) < 1.5f) +
                     (value(x + 1, y + 1) < 1.5f);
      faces += in == 4 ? 2 : in == 3 ? 1 : 0;
    }
  EXPECT_EQ(disc.faces.size(), faces);
  for (const Vertex& v : disc.vertices) EXPECT_EQ(v.z, 1.0f);
  EXPECT_TRUE(isDisc(disc));
  ok(mesh + path("step.ply") + " --size 13x9 --step 2");  // every second pixel
  Mesh coarse;
  ASSERT_TRUE(readMesh(path("step.ply"), coarse));
  EXPECT_EQ(std::pair(coarse.vertices.size(), coarse.faces.size()), std::pair(7ul * 5, 2ul * 6 * 4));
  EXPECT_TRUE(isDisc(coarse));
  ok(mesh + path("x.xyz") + " --size 13x9", 2, ".ply, .stl or .obj");
  ok(mesh + path("x.ply") + " --size 13x9 --below", 2, "--below needs --threshold");
  ok(mesh + path("x.ply") + " --size 13x9 --step 0", 2, "--step");
  EXPECT_FALSE(std::filesystem::exists(path("x.ply")));
}

// The whole sequence on a small example: its report, previews, mesh and matrix library.
TEST_F(ToolTest, DemoReportsAndWritesPreviews) {
  const std::string out = ok("demo --size 96 --out " + folder.Path().string());
  for (const char* word :
       {"median filter", "erode", "distance", "storage method", "ratio", "4 validity mask", "outline traced",
        "mesh of the masked field", "round trip", "cap:", "matrix library"})
    EXPECT_NE(out.find(word), std::string::npos) << word << "\n" << out;
  EXPECT_EQ(out.find("could not be stored"), std::string::npos) << out;
  for (const char* name : {"heights-raw.png", "heights.png", "mask.png", "margin.png", "distance.png",
                           "decoded-method3.png", "masked.png"})
    EXPECT_EQ(pngSize(path(name)), (std::vector<int>{96, 96})) << name;
  Mesh mesh;
  ASSERT_TRUE(readMesh(path("mesh.ply"), mesh));
  EXPECT_GT(mesh.faces.size(), 1000u);
  EXPECT_TRUE(isDisc(mesh));
  EXPECT_GT(std::filesystem::file_size(path("demo.ssemlib")), 0u);
}

// PNG and TIFF files whose headers claim far more pixels than the file holds
// (above and within the pixel limit) are refused without allocating for them.
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
      ::execl(ORVIK_TOOL_PATH, ORVIK_TOOL_PATH, "convert", in.c_str(), out.c_str(),
              static_cast<char*>(nullptr));
      return 127;
    });
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_LT(outcome.peakGrowthKiB, 64 * 1024);
    EXPECT_FALSE(std::filesystem::exists(out));
  }
  EXPECT_EQ(count, 10);
}

}  // namespace
