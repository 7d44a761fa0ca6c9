// Runs the built orvik program as a user would and checks what it writes.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "orvik/matrix/ssematrix.h"
#include "support/tool.h"

namespace {

namespace fs = std::filesystem;

using test_support::Outcome;
using test_support::run;

class ToolTest : public testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("orvik-tool-" + std::to_string(::getpid()) + "-" +
                                       testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string path(const std::string& name) const { return (dir / name).string(); }
  fs::path dir;
};

// Width, height and channels of a PNG, through libpng's simplified reader.
bool pngSize(const std::string& file, int& w, int& h) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, file.c_str())) return false;
  std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
  const bool ok = png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) != 0;
  w = static_cast<int>(image.width);
  h = static_cast<int>(image.height);
  return ok;
}

TEST_F(ToolTest, DemoReportsAndWritesPreviews) {
  const Outcome r = run("demo --size 96 --out " + dir.string());
  ASSERT_EQ(r.status, 0) << r.output;
  for (const char* word :
       {"median filter", "erode", "distance", "storage method", "ratio", "4 validity mask"})
    EXPECT_NE(r.output.find(word), std::string::npos) << word << "\n" << r.output;
  for (const char* name :
       {"heights-raw.png", "heights.png", "mask.png", "margin.png", "distance.png", "decoded-method3.png"}) {
    int w = 0, h = 0;
    EXPECT_TRUE(pngSize(path(name), w, h) && w == 96 && h == 96) << name << " " << w << " x " << h;
  }
}

TEST_F(ToolTest, ConvertRoundTripsWithinTheReportedError) {
  // A 16-bit PNG made by the tool itself from a raw field with known values.
  const int w = 37, h = 23;
  {
    std::ofstream raw(path("in.raw"), std::ios::binary);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const float v = 1.0f + 0.05f * static_cast<float>(x) + 0.1f * static_cast<float>(y % 7);
        raw.write(reinterpret_cast<const char*>(&v), 4);
      }
  }
  Outcome r = run("convert " + path("in.raw") + " " + path("in.png") + " --size 37x23");
  ASSERT_EQ(r.status, 0) << r.output;
  r = run("convert " + path("in.png") + " " + path("stored.ssem") +
          " --method 2 --passes 2 --max-error 0.0005");
  ASSERT_EQ(r.status, 0) << r.output;
  const auto at = r.output.find("maximum error ");
  ASSERT_NE(at, std::string::npos) << r.output;
  const float reported = std::stof(r.output.substr(at + 14));
  EXPECT_LE(reported, 0.0005f + 1e-6f);

  r = run("info " + path("stored.ssem"));
  ASSERT_EQ(r.status, 0) << r.output;
  for (const char* line : {"version:  4", "size:     37 x 23", "method:   2", "passes:   2"})
    EXPECT_NE(r.output.find(line), std::string::npos) << line << "\n" << r.output;

  r = run("convert " + path("stored.ssem") + " " + path("out.tif"));
  ASSERT_EQ(r.status, 0) << r.output;
  // The TIFF holds floats: what went in (PNG samples / 1000) comes back within
  // the bound that the stored matrix reported.
  r = run("convert " + path("out.tif") + " " + path("out.raw"));
  ASSERT_EQ(r.status, 0) << r.output;
  std::ifstream back(path("out.raw"), std::ios::binary);
  float worst = 0.0f;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float v = 0.0f;
      back.read(reinterpret_cast<char*>(&v), 4);
      const float want = std::nearbyint((1.0f + 0.05f * x + 0.1f * (y % 7)) * 1000.0f) / 1000.0f;
      worst = std::max(worst, std::fabs(v - want));
    }
  ASSERT_TRUE(back.good());
  EXPECT_LE(worst, reported + 1e-6f);

  r = run("preview " + path("out.tif") + " " + path("p.png") + " --colormap");
  ASSERT_EQ(r.status, 0) << r.output;
  int pw = 0, ph = 0;
  EXPECT_TRUE(pngSize(path("p.png"), pw, ph) && pw == w && ph == h) << pw << " x " << ph;
}

TEST_F(ToolTest, BadInputsFailWithAMessage) {
  // A truncated stored matrix and raw input of the wrong size.
  CSSEMatrix m;
  m.Create(20, 20);
  ASSERT_TRUE(m.Store(path("full.ssem").c_str()));
  std::ifstream in(path("full.ssem"), std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::ofstream(path("cut.ssem"), std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size() / 2));
  std::ofstream(path("x.raw"), std::ios::binary).write("12345678", 8);
  // Each command fails with its status and a message naming what went wrong.
  for (const auto& [args, status, named] : std::vector<std::tuple<std::string, int, std::string>>{
           {"info " + path("none.ssem"), 1, "none.ssem"},
           {"info " + path("cut.ssem"), 1, "orvik info: "},
           {"convert " + path("x.raw") + " " + path("y.tif") + " --size 3x3", 1, "--size 3x3"},
           {"convert a b --passes 300", 2, ""},
           {"demo --bogus", 2, ""},
           {"frobnicate", 2, ""},
           {"convert --help", 0, "--max-error"}}) {
    const Outcome r = run(args);
    EXPECT_EQ(r.status, status) << args << "\n" << r.output;
    EXPECT_NE(r.output.find(named), std::string::npos) << args << "\n" << r.output;
  }
}

}  // namespace
