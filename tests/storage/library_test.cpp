#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "orvik/storage/SSEMatrixLibrary.h"
#include "support/fields.h"
#include "support/file_limits.h"
#include "support/storage.h"

using test_support::ReadBytes;
using test_support::ScratchFolder;
using test_support::WriteBytes;
using Sources = std::map<std::string, CSSEMatrix>;

// The library with its coding steps opened to the tests.
class Lib : public UxCSSEMatrixLibrary {
 public:
  using UxCSSEMatrixLibrary::applyMask;
  using UxCSSEMatrixLibrary::assembleMatrix;
  using UxCSSEMatrixLibrary::createHighEntropyMask;
  using UxCSSEMatrixLibrary::createMask;
  using UxCSSEMatrixLibrary::enforceMatrixSize;
  using UxCSSEMatrixLibrary::extrapolate;
  using UxCSSEMatrixLibrary::loadSSEMatrix;
  using UxCSSEMatrixLibrary::serializeMatrix;
  using UxCSSEMatrixLibrary::smooth;
  using UxCSSEMatrixLibrary::smoothBlock;
};

namespace {

constexpr float c_invalid = -1.0f;

// State k of a surface under repair: the base relief, k local edits, and cells
// without data that move from state to state.
CSSEMatrix state(int k, int sizeX = 56, int sizeY = 44) {
  CSSEMatrix m;
  surface(m, sizeX, sizeY, 4.0f);
  for (int e = 0; e < k; ++e) {
    const int cx = (7 * e + 5) % sizeX, cy = (11 * e + 3) % sizeY;
    for (int y = cy - 2; y <= cy + 2; ++y)
      for (int x = cx - 3; x <= cx + 3; ++x) m.SetPoint(x, y, m.GetPoint(x, y) + 0.3f);
  }
  for (int y = 0; y < sizeY; ++y)
    for (int x = 0; x < sizeX; ++x)
      if ((x + 3 * k - 10) * (x + 3 * k - 10) + (y - 20) * (y - 20) < 30 || x + y < 4)
        m.SetPoint(x, y, c_invalid);
  return m;
}

UxCSSEMatrixLibrary::UxSCompressionParameters parameters(int method, int mode) {
  UxCSSEMatrixLibrary::UxSCompressionParameters p;
  p.m_iMethod = method;
  p.m_uiNumberOfPasses = 2;  // one PNG pass cannot reach the error bound on this range
  p.m_bUseInvalidValue = true;
  p.m_fInvalidValue = c_invalid;
  p.m_fMaxError = 0.01f;
  p.m_fJPEGQuality = 0.9f;
  p.m_iDifferenceMode = mode;
  p.m_fJPEGMaxError = 0.02f;
  return p;
}

// Adds the entries in order, each stored raw in its own file and coded against
// the one before; mode -1 takes the modes in turn.
void addChain(UxCSSEMatrixLibrary& lib, const ScratchFolder& folder, const std::vector<std::string>& ids,
              const Sources& sources, int method, int mode) {
  for (std::size_t k = 0; k < ids.size(); ++k) {
    CSSEMatrix raw(sources.at(ids[k]));
    const CString path = folder / (ids[k] + ".mat");
    ASSERT_TRUE(coding(raw, 0).Store(path));
    EXPECT_TRUE(
        lib.AddSSEMatrix(ids[k], path, k ? ids[k - 1] : "", parameters(method, mode < 0 ? k % 4 : mode)));
  }
}

// Opens a stored library: the largest deviation over all entries is exactly the
// recorded error. The entries named in `exactValidity` hold the invalid value
// exactly where their sources do.
void expectStored(const CString& path, const Sources& sources, float recorded,
                  const std::set<std::string>& exactValidity = {}) {
  UxCSSEMatrixLibrary opened;
  ASSERT_TRUE(opened.Init(path));
  ASSERT_EQ(opened.GetNumberOfEntries(), sources.size());
  float worst = 0.0f;
  for (const auto& [id, source] : sources) {
    SCOPED_TRACE(id);
    CSSEMatrix loaded;
    ASSERT_TRUE(opened.LoadSSEMatrix(id, loaded));
    ASSERT_TRUE(loaded.GetSizeX() == source.GetSizeX() && loaded.GetSizeY() == source.GetSizeY());
    worst = std::max(worst, maxAbsDifference(source, loaded));
    EXPECT_TRUE(!exactValidity.count(id) || fieldIs(loaded, [&](int x, int y) {
      const float v = loaded.GetPoint(x, y);
      return (v == c_invalid) == (source.GetPoint(x, y) == c_invalid) ? v : NAN;
    })) << "validity differs";
  }
  EXPECT_EQ(worst, recorded);
}

// A library file put together by hand: tag, version, records {id, position, reference}, bodies.
using Records = std::vector<std::tuple<std::string, std::uint64_t, std::string>>;
Bytes libraryFile(std::uint32_t version, const Records& records, const Bytes& bodies = {},
                  const char* tag = "SSEMatrixLibrary") {
  CbStreamWriteBinaryBuffer out;
  out.WriteString(tag);
  out.WriteVersion(version);
  out.WriteUInt32(static_cast<std::uint32_t>(records.size()));
  for (const auto& [id, position, reference] : records) {
    out.WriteString(id);
    if (version >= 1) out.WriteUInt64(position);
    if (version >= 2) out.WriteString(reference);
  }
  Bytes b(out.GetData(), out.GetData() + out.GetCount());
  b.insert(b.end(), bodies.begin(), bodies.end());
  return b;
}

}  // namespace

TEST(MatrixLibrary, EntriesAreAddedOnlyWithTheirFileAndReference) {
  ScratchFolder folder;
  UxCSSEMatrixLibrary lib;
  CSSEMatrix loaded;
  EXPECT_TRUE(lib.GetNumberOfEntries() == 0 && lib.GetMaxAbsCompressionError() == 0.0f);
  EXPECT_FALSE(lib.LoadSSEMatrix("a", loaded));
  addChain(lib, folder, {"a"}, {{"a", state(0)}}, 0, 0);
  const CString file = folder / "a.mat";
  // Present identifier, missing file, a folder, missing reference; then sound.
  EXPECT_EQ((std::vector<bool>{lib.AddSSEMatrix("a", file), lib.AddSSEMatrix("b", folder / "missing.mat"),
                               lib.AddSSEMatrix("b", folder.Path().string().c_str()),
                               lib.AddSSEMatrix("b", file, "nope", parameters(2, 0)),
                               lib.AddSSEMatrix("b", file, "a", parameters(2, 0))}),
            (std::vector<bool>{false, false, false, false, true}));
  ASSERT_EQ(lib.GetNumberOfEntries(), 2u);
  std::set<std::string> ids;
  for (const CString& id : lib.GetIDs()) ids.insert(id.str());
  EXPECT_EQ(ids, (std::set<std::string>{"a", "b"}));
  ASSERT_TRUE(lib.LoadSSEMatrix("b", loaded));  // an added entry loads as its file holds it
  EXPECT_EQ(maxAbsDifference(loaded, state(0)), 0.0f);
}

// The first entry, the reference of the chain, is smaller, larger or of the
// entry's size: a border grown from it must neither swallow valid cells nor fill holes.
TEST(MatrixLibrary, RoundTripsOfEveryMethodAndDifferenceMode) {
  ScratchFolder folder;
  const std::pair<int, int> referenceSizes[] = {{40, 30}, {56, 20}, {70, 51}, {56, 44}};
  for (int method : {0, 1, 2, 3}) {
    const auto [sizeX, sizeY] = referenceSizes[method];
    const Sources sources = {{"s0", state(0, sizeX, sizeY)}, {"s1", state(3)}, {"s2", state(6)}};
    for (int mode : {0, 1, 2, 3}) {
      SCOPED_TRACE(testing::Message() << "method " << method << ", mode " << mode);
      UxCSSEMatrixLibrary lib;
      addChain(lib, folder, {"s0", "s1", "s2"}, sources, method, mode);
      const CString path = folder / "lib.oml";
      ASSERT_TRUE(lib.Store(path));
      // Raw floats lose only the rounding of the difference and its sum.
      const float bound = method == 0 ? (mode == 0 ? 1e-6f : 0.0101f) : method == 2 ? 0.0101f : 1.0f;
      EXPECT_LE(lib.GetMaxAbsCompressionError(), bound);
      // Modes 1 to 3 carry the invalid cells exactly; an entry coded alone
      // does when its first pass is a PNG (or raw).
      std::set<std::string> exact;
      if (method != 1) exact.insert("s0");
      if (mode != 0) exact.insert({"s1", "s2"});
      expectStored(path, sources, lib.GetMaxAbsCompressionError(), exact);

      // loadSSEMatrix with encodeDecode: the entry as the stored file gives it.
      Lib same;
      addChain(same, folder, {"s0", "s1", "s2"}, sources, method, mode);
      CSSEMatrix predicted, loaded;
      UxCSSEMatrixLibrary opened;
      ASSERT_TRUE(same.loadSSEMatrix("s2", predicted, true));
      ASSERT_TRUE(opened.Init(path) && opened.LoadSSEMatrix("s2", loaded));
      EXPECT_EQ(maxAbsDifference(predicted, loaded), 0.0f);
    }
  }
}

TEST(MatrixLibrary, DifferenceBodiesOfEachMode) {
  Lib lib;
  const CSSEMatrix current = state(4), reference = state(1);
  for (int mode : {1, 2, 3}) {
    SCOPED_TRACE(testing::Message() << "mode " << mode);
    CbStreamWriteBinaryBuffer out;
    float error = -1.0f;
    ASSERT_TRUE(lib.serializeMatrix(out, current, reference, parameters(2, mode), error));
    CbStreamReadBinaryBuffer in(out.GetArray());
    EXPECT_EQ((std::vector<float>{float(error >= 0.0f), float(in.ReadUInt8()), in.ReadFloat()}),
              (std::vector<float>{1.0f, float(mode), c_invalid}));
    std::vector<CSSEMatrix> parts;
    std::vector<int> methods;
    while (in.GetRemaining() > 0) {
      parts.emplace_back().Serialize(in);
      methods.push_back(parts.back().GetCompressionParameters().m_iMethod);
    }
    // Modes 1 and 2 lead with a mask of the cells whose validity changed; mode 3
    // carries the invalid cells as the exact PNG marker instead.
    const std::vector<int> want[] = {{4, 2}, {4, 2, 1}, {2}};
    ASSERT_EQ(methods, want[mode - 1]);
    EXPECT_TRUE(fieldIs(parts[0], [&](int x, int y) {
      const bool invalid = current.GetPoint(x, y) == c_invalid;
      const float v = parts[0].GetPoint(x, y);
      if (mode == 3) return (v == Lib::c_fDifferenceCodingPNGSpecialValue) == invalid ? v : NAN;
      return invalid != (reference.GetPoint(x, y) == c_invalid) ? 1.0f : 0.0f;
    }));
  }
  CbStreamWriteBinaryBuffer out;
  float error = 0.0f;
  EXPECT_FALSE(lib.serializeMatrix(out, current, reference, parameters(2, 4), error));
  EXPECT_EQ(out.GetCount(), 0u);
}

TEST(MatrixLibrary, ChainsOfFortyStatesCostOneCodingEach) {
  // Coding every reference afresh for each entry would double the work with every state.
  ScratchFolder folder;
  Sources sources;
  std::vector<std::string> ids;
  for (int k = 0; k < 40; ++k)
    sources[ids.emplace_back(std::string("state") + std::to_string(k))] = state(k, 32, 24);
  UxCSSEMatrixLibrary lib;
  addChain(lib, folder, ids, sources, 3, -1);
  const CString first = folder / "first.oml", second = folder / "second.oml";
  ASSERT_TRUE(lib.Store(first));
  expectStored(first, sources, lib.GetMaxAbsCompressionError());

  // Stored again with coarser defaults, every entry is coded against its
  // reference as the new file holds it: the recorded error is the one a reader meets.
  UxCSSEMatrixLibrary opened;
  ASSERT_TRUE(opened.Init(first));
  UxCSSEMatrixLibrary::UxSCompressionParameters coarse = parameters(2, 0);
  coarse.m_fMaxError = 0.05f;
  opened.SetDefaultCompressionParameters(coarse);
  EXPECT_EQ(opened.GetDefaultCompressionParameters().m_fMaxError, 0.05f);
  Sources decoded;
  for (const auto& [id, source] : sources) ASSERT_TRUE(opened.LoadSSEMatrix(id, decoded[id]));
  ASSERT_TRUE(opened.Store(second));
  EXPECT_TRUE(opened.GetMaxAbsCompressionError() > 0.0f && opened.GetMaxAbsCompressionError() <= 0.0501f);
  expectStored(second, decoded, opened.GetMaxAbsCompressionError());

  SCOPED_TRACE("never over the file it reads from");
  const Bytes before = ReadBytes(first.str());
  EXPECT_FALSE(opened.Store(first));
  EXPECT_EQ(ReadBytes(first.str()), before);
}

TEST(MatrixLibrary, DamagedFilesAreRefusedWhole) {
  ScratchFolder folder;
  Sources sources;
  for (int k = 0; k < 3; ++k) sources[std::string("s") + std::to_string(k)] = state(k, 20, 12);
  UxCSSEMatrixLibrary lib;
  addChain(lib, folder, {"s0", "s1", "s2"}, sources, 2, -1);
  const CString good = folder / "good.oml", bad = folder / "bad.oml";
  ASSERT_TRUE(lib.Store(good));
  const Bytes bytes = ReadBytes(good.str());
  UxCSSEMatrixLibrary whole;
  ASSERT_TRUE(whole.Init(good));
  Sources loaded;
  for (const auto& [id, source] : sources) ASSERT_TRUE(whole.LoadSSEMatrix(id, loaded[id]));

  {
    SCOPED_TRACE("truncated: at every byte of the map, in steps through the bodies");
    const std::size_t bodies = libraryFile(2, {{"s0", 0, ""}, {"s1", 0, "s0"}, {"s2", 0, "s1"}}).size();
    for (std::size_t n = 0; n < bytes.size(); n += n < bodies + 8 ? 1 : 11) {
      WriteBytes(bad.str(), Bytes(bytes.begin(), bytes.begin() + n));
      UxCSSEMatrixLibrary cut;
      ASSERT_TRUE(cut.Init(good));
      if (!cut.Init(bad)) {
        ASSERT_EQ(cut.GetNumberOfEntries(), 0u) << n;
        continue;
      }
      // The map is whole: the entries whose bodies were cut fail, the others load as before.
      int failed = 0;
      for (const auto& [id, values] : loaded) {
        CSSEMatrix m;
        const bool read = cut.LoadSSEMatrix(id, m);
        failed += !read;
        ASSERT_TRUE(!read || maxAbsDifference(m, values) == 0.0f) << n;
      }
      ASSERT_GT(failed, 0) << n;
    }
  }

  const Bytes tiny = serialize(sources["s0"]);
  const std::uint64_t at = libraryFile(2, {{"a", 0, ""}}).size();
  const std::uint64_t at2 = libraryFile(2, {{"a", 0, "b"}, {"b", 0, "a"}}).size();
  const std::uint64_t atSelf = libraryFile(2, {{"a", 0, "a"}}).size();
  // A damaged map leaves the library empty, as a missing file does; the same records sound load.
  for (const auto& [what, file, sound] : std::vector<std::tuple<const char*, Bytes, bool>>{
           {"sound", libraryFile(2, {{"a", at, ""}}, tiny), true},
           {"another tag", libraryFile(2, {{"a", at, ""}}, tiny, "SSEMatrixLibrarY"), false},
           {"a newer version", libraryFile(3, {{"a", at, ""}}, tiny), false},
           {"a body beyond the end", libraryFile(2, {{"a", at + tiny.size(), ""}}, tiny), false},
           {"a body inside the map", libraryFile(2, {{"a", at - 1, ""}}, tiny), false},
           {"an identifier twice", libraryFile(2, {{"a", at2, ""}, {"a", at2, ""}}, tiny), false},
           {"a reference to a missing entry", libraryFile(2, {{"a", at, "x"}}, tiny), false},
           {"a cycle", libraryFile(2, {{"a", at2, "b"}, {"b", at2, "a"}}, tiny), false},
           {"a self-reference", libraryFile(2, {{"a", atSelf, "a"}}, tiny), false},
           {"a missing file", Bytes(), false}}) {
    SCOPED_TRACE(what);
    WriteBytes(bad.str(), file);
    UxCSSEMatrixLibrary opened;
    CSSEMatrix m;
    ASSERT_TRUE(opened.Init(good));
    EXPECT_EQ(opened.Init(file.empty() ? folder / "missing.oml" : bad), sound);
    EXPECT_EQ(opened.GetNumberOfEntries(), sound ? 1u : 0u);
    EXPECT_EQ(opened.LoadSSEMatrix("a", m) && maxAbsDifference(m, sources["s0"]) == 0.0f, sound);
  }

  SCOPED_TRACE("a failed store keeps the previous file and leaves no temporary");
  const float error = lib.GetMaxAbsCompressionError();
  const std::size_t entries = folder.Entries().size();
  std::filesystem::remove(folder / "s0.mat");  // the reference no longer loads
  EXPECT_FALSE(lib.Store(good));
  EXPECT_EQ(ReadBytes(good.str()), bytes);
  EXPECT_EQ(lib.GetMaxAbsCompressionError(), error);
  EXPECT_EQ(folder.Entries().size(), entries - 1);
  EXPECT_FALSE(lib.Store(folder / "missing/lib.oml"));
}

TEST(MatrixLibrary, OlderVersions) {
  ScratchFolder folder;
  CSSEMatrix m = state(2, 9, 7), back;
  const Bytes archive = storeArchive(m);
  const CString path = folder / "old.oml";
  {
    SCOPED_TRACE("version 1: positions, bodies in the archive form");
    const std::uint64_t at = libraryFile(1, {{"a", 0, ""}, {"b", 0, ""}}).size();
    Bytes bodies = archive;
    bodies.insert(bodies.end(), archive.begin(), archive.end());
    WriteBytes(path.str(), libraryFile(1, {{"a", at, ""}, {"b", at + archive.size(), ""}}, bodies));
    UxCSSEMatrixLibrary lib;
    ASSERT_TRUE(lib.Init(path));
    for (const char* id : {"a", "b"}) {
      ASSERT_TRUE(lib.LoadSSEMatrix(id, back)) << id;
      EXPECT_EQ(maxAbsDifference(back, m), 0.0f);
    }
    // Stored again, the entries become version-2 bodies.
    ASSERT_TRUE(lib.Store(folder / "new.oml"));
    expectStored(folder / "new.oml", {{"a", m}, {"b", m}}, 0.0f);
  }
  {
    SCOPED_TRACE("version 0: identifiers only; the entries do not load");
    WriteBytes(path.str(), libraryFile(0, {{"a", 0, ""}}, archive));
    UxCSSEMatrixLibrary lib;
    ASSERT_TRUE(lib.Init(path));
    EXPECT_EQ(lib.GetNumberOfEntries(), 1u);
    EXPECT_FALSE(lib.LoadSSEMatrix("a", back));
    EXPECT_FALSE(lib.Store(folder / "new.oml"));
  }
}

// The seed corpus of the library fuzz target, replayed: files named valid_*
// were written by this library and every entry loads; the others must only be
// refused or loaded without harm.
TEST(SeedCorpus, LibraryFilesReplay) {
  ScratchFolder folder;
  for (const auto& [name, bytes] : seedFiles("storage/library")) {
    SCOPED_TRACE(name);
    const CString path = folder / name;
    WriteBytes(path.str(), bytes);
    UxCSSEMatrixLibrary lib;
    const bool opened = lib.Init(path);
    EXPECT_TRUE(opened || !isValidSeed(name));
    for (const CString& id : lib.GetIDs()) {
      CSSEMatrix m;
      EXPECT_TRUE(lib.LoadSSEMatrix(id, m) || !isValidSeed(name)) << id.str();
    }
  }
}

namespace {

using Grid = std::vector<std::vector<float>>;  // [y][x]
constexpr float M = 1.0f;                      // a marked cell

CSSEMatrix fromGrid(const Grid& g) {
  return field(static_cast<int>(g[0].size()), static_cast<int>(g.size()),
               [&](int x, int y) { return g[y][x]; });
}

Grid toGrid(const CSSEMatrix& m) {
  Grid g(m.GetSizeY(), std::vector<float>(m.GetSizeX()));
  for (int y = 0; y < m.GetSizeY(); ++y)
    for (int x = 0; x < m.GetSizeX(); ++x) g[y][x] = m.GetPoint(x, y);
  return g;
}

// The in-painting written out directly: initial values of the marked cells
// given, then Jacobi sweeps of the four-neighbour mean inside the region,
// unmarked cells fixed.
Grid jacobi(Grid v, const Grid& mask, int iterations, int x0, int x1, int y0, int y1) {
  for (int i = 0; i < iterations; ++i) {
    Grid next = v;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) {
        if (mask[y][x] == 0.0f) continue;
        double sum = 0.0;
        int n = 0;
        const int nx[4] = {x - 1, x + 1, x, x}, ny[4] = {y, y, y - 1, y + 1};
        for (int k = 0; k < 4; ++k)
          if (nx[k] >= x0 && nx[k] < x1 && ny[k] >= y0 && ny[k] < y1) {
            sum += v[ny[k]][nx[k]];
            ++n;
          }
        next[y][x] = n ? static_cast<float>(sum / n) : 0.0f;
      }
    v = next;
  }
  return v;
}

::testing::AssertionResult near(const CSSEMatrix& m, const Grid& want, float tolerance) {
  return fieldIs(m, [&](int x, int y) {
    const float w = want[y][x];
    return std::fabs(m.GetPoint(x, y) - w) <= tolerance ? m.GetPoint(x, y) : w;
  });
}

Grid randomMask(int sizeX, int sizeY, double density, unsigned seed) {
  std::mt19937 random(seed);
  std::bernoulli_distribution marked(density);
  Grid g(sizeY, std::vector<float>(sizeX));
  for (auto& row : g)
    for (float& v : row) v = marked(random) ? 1.0f : 0.0f;
  return g;
}

}  // namespace

TEST(LibraryMasks, CellOperationsTouchLogicalCellsOnly) {
  CSSEMatrix source = fromGrid({{1, 2, 3}, {-1, 5, -1}, {7, -1, 9}}), mask;
  lane(source, 0, 3) = -1.0f;  // a spare lane holding the value
  Lib::createMask(source, mask, -1.0f);
  EXPECT_EQ(toGrid(mask), (Grid{{0, 0, 0}, {1, 0, 1}, {0, 1, 0}}));
  EXPECT_EQ(lane(mask, 0, 3), 0.0f) << "spare lanes are not cells";
  CSSEMatrix masked(source), result;
  ASSERT_TRUE(Lib::applyMask(masked, mask, 42.0f));
  EXPECT_EQ(toGrid(masked), (Grid{{1, 2, 3}, {42, 5, 42}, {7, 42, 9}}));
  EXPECT_EQ(lane(masked, 0, 3), -1.0f);
  ASSERT_TRUE(
      Lib::assembleMatrix(fromGrid({{10, 20, 30}, {40, 50, 60}, {70, 80, 90}}), source, result, -1.0f));
  EXPECT_EQ(toGrid(result), (Grid{{1, 2, 3}, {40, 5, 60}, {7, 80, 9}}));
  CSSEMatrix wide = filled(4, 3), keep(source);
  EXPECT_FALSE(Lib::applyMask(keep, wide, 1.0f));
  EXPECT_FALSE(Lib::assembleMatrix(wide, source, result, -1.0f));
  EXPECT_EQ(toGrid(keep), toGrid(source));
}

TEST(LibraryMasks, EnforceMatrixSizeAboutTheCentre) {
  const float fill = -5.0f;
  const auto g = [](int x, int y) { return static_cast<float>(100 + 10 * y + x); };
  // Target (x, y) reads (x - sizeX/2 + oldX/2, y - sizeY/2 + oldY/2); what lies
  // outside the source takes the fill. Shrinking needs none.
  const int cases[][4] = {{4, 4, 6, 6}, {6, 6, 4, 4}, {5, 7, 8, 2}, {4, 4, 4, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c[0] << " x " << c[1] << " to " << c[2] << " x " << c[3]);
    CSSEMatrix m = field(c[0], c[1], g);
    lane(m, 0, 3) = 7.0f;
    const CSSEMatrix before(m);
    ASSERT_TRUE(Lib::enforceMatrixSize(m, c[2], c[3], c[2] < c[0] ? nullptr : &fill));
    EXPECT_TRUE(fieldIs(m, [&](int x, int y) {
      const int sx = x - c[2] / 2 + c[0] / 2, sy = y - c[3] / 2 + c[1] / 2;
      return sx >= 0 && sx < c[0] && sy >= 0 && sy < c[1] ? before.GetPoint(sx, sy) : fill;
    }));
    if (c[0] == c[2] && c[1] == c[3]) {
      EXPECT_TRUE(sameLanes(m, before)) << "the same size changes nothing";
    }
  }
  SCOPED_TRACE("without a fill the border grows from the matrix, within its range");
  CSSEMatrix m = field(4, 4, g);
  ASSERT_TRUE(Lib::enforceMatrixSize(m, 10, 9, nullptr));
  EXPECT_TRUE(fieldIs(m, [&](int x, int y) {
    const float v = m.GetPoint(x, y);
    return v >= 100.0f && v <= 133.0f ? v : NAN;
  }));
  EXPECT_EQ((std::vector<float>{m.GetPoint(3, 2), m.GetPoint(6, 5)}), (std::vector<float>{100, 133}));
  EXPECT_LT(m.GetPoint(0, 0) + 10.0f, m.GetPoint(9, 8)) << "the border follows the slope it grows from";
  EXPECT_FALSE(Lib::enforceMatrixSize(m, -1, 4, &fill));
}

TEST(LibraryMasks, ExtrapolateCarriesTheLastUnmarkedValue) {
  CSSEMatrix values = fromGrid({{9, 5, 9, 9}, {1, 2, 3, 4}}), mask = fromGrid({{M, 0, M, M}, {0, M, 0, M}});
  ASSERT_TRUE(Lib::extrapolate(values, mask, true, true, 0, 4, 0, 2));
  EXPECT_EQ(toGrid(values), (Grid{{9, 5, 5, 5}, {1, 1, 3, 3}}));
  EXPECT_EQ(toGrid(mask), (Grid{{M, 0, 0, 0}, {0, 0, 0, 0}}));
  ASSERT_TRUE(Lib::extrapolate(values, mask, true, false, 0, 4, 0, 2));
  EXPECT_EQ(toGrid(values), (Grid{{5, 5, 5, 5}, {1, 1, 3, 3}}));

  SCOPED_TRACE("columns: down one column, then up the other over a region reaching past the matrix");
  values = fromGrid({{9, 2}, {9, 9}, {3, 9}});
  mask = fromGrid({{M, 0}, {M, M}, {0, M}});
  ASSERT_TRUE(Lib::extrapolate(values, mask, false, true, 1, 2, 0, 3));
  EXPECT_EQ(toGrid(values), (Grid{{9, 2}, {9, 2}, {3, 2}}));
  ASSERT_TRUE(Lib::extrapolate(values, mask, false, false, -3, 1, -1, 100));
  EXPECT_EQ(toGrid(values), (Grid{{3, 2}, {3, 2}, {3, 2}}));
  CSSEMatrix other = filled(2, 2);
  EXPECT_FALSE(Lib::extrapolate(values, other, true, true, 0, 2, 0, 2));
}

TEST(LibraryMasks, SmoothIsJacobiOverTheMarkedCells) {
  // Rows: values, mask, sweeps, region (0, 0) to (x1, y1) or 0 for the whole matrix, result.
  const struct {
    Grid values, mask;
    unsigned iterations;
    int x1, y1;
    Grid want;
  } known[] = {
      // Zero sweeps: the marked cells take the mean of the unmarked ones.
      {{{1, 100, 2}, {3, 100, 6}}, {{0, M, 0}, {0, M, 0}}, 0, 0, 0, {{1, 3, 2}, {3, 3, 6}}},
      {{{0, 7, 7, 3}}, {{0, M, M, 0}}, 0, 0, 0, {{0, 1.5f, 1.5f, 3}}},
      // From 1.5, 1.5: (0 + 1.5) / 2 = 0.75 and (1.5 + 3) / 2 = 2.25, then 1.125, 1.875.
      {{{0, 7, 7, 3}}, {{0, M, M, 0}}, 2, 0, 0, {{0, 1.125f, 1.875f, 3}}},
      // No unmarked cell: the first sweep reads the values as they are.
      {{{4, 8}, {0, 2}}, {{M, M}, {M, M}}, 1, 0, 0, {{4, 3}, {3, 4}}},
      // A single marked cell alone in its region becomes 0.
      {{{4, 8}, {5, 2}}, {{M, 0}, {0, 0}}, 3, 1, 1, {{0, 8}, {5, 2}}},
  };
  for (const auto& k : known) {
    SCOPED_TRACE(&k - known);
    CSSEMatrix v = fromGrid(k.values);
    ASSERT_TRUE(k.x1 ? Lib::smooth(v, fromGrid(k.mask), k.iterations, false, 0, k.x1, 0, k.y1)
                     : Lib::smooth(v, fromGrid(k.mask), k.iterations, false));
    EXPECT_EQ(toGrid(v), k.want);
  }
  for (const auto& [iterations, extrapolateFirst, x0, x1, y0, y1] :
       std::vector<std::tuple<int, bool, int, int, int, int>>{{1, false, 0, 23, 0, 17},
                                                              {2, false, 3, 19, 2, 11},
                                                              {7, true, 0, 23, 0, 17},
                                                              {100, true, -4, 30, 5, 40}}) {
    SCOPED_TRACE(testing::Message() << iterations << " iterations, region " << x0 << ".." << x1 << " x " << y0
                                    << ".." << y1);
    CSSEMatrix v;
    surface(v, 23, 17);
    const CSSEMatrix mask = fromGrid(randomMask(23, 17, 0.4, iterations));
    // Initial values as the operation sets them (zero sweeps), then the
    // reference sweeps from there.
    CSSEMatrix start(v);
    ASSERT_TRUE(Lib::smooth(start, mask, 0, extrapolateFirst, x0, x1, y0, y1));
    const Grid want = jacobi(toGrid(start), toGrid(mask), iterations, std::max(x0, 0), std::min(x1, 23),
                             std::max(y0, 0), std::min(y1, 17));
    ASSERT_TRUE(Lib::smooth(v, mask, iterations, extrapolateFirst, x0, x1, y0, y1));
    EXPECT_TRUE(near(v, want, 1e-5f));
  }
}

TEST(LibraryMasks, AveragesOfValuesNearTheFloatLimitStayFinite) {
  const float big = 3.0e38f;
  CSSEMatrix v = fromGrid({{big, 0, big}, {big, 0, big}}), mask = fromGrid({{0, 1, 0}, {0, 1, 0}});
  CSSEMatrix a(v), b(v);
  ASSERT_TRUE(Lib::smooth(a, mask, 0, false));
  ASSERT_TRUE(Lib::smooth(b, mask, 5, true));
  ASSERT_TRUE(Lib::smoothBlock(v, mask));
  EXPECT_EQ((std::vector<float>{a.GetPoint(1, 0), b.GetPoint(1, 1), v.GetPoint(1, 0)}),
            (std::vector<float>(3, big)));
}

TEST(LibraryMasks, SmoothBlockWorksBlockByBlock) {
  CSSEMatrix v;
  surface(v, 21, 13);
  Grid g = randomMask(21, 13, 0.3, 3);
  // A block marked whole, and the cut-off corner block with nothing marked.
  for (int y = 0; y < 13; ++y)
    for (int x = 8; x < 21; ++x) g[y][x] = y < 8 && x < 16 ? 1.0f : y >= 8 && x >= 16 ? 0.0f : g[y][x];
  const CSSEMatrix mask = fromGrid(g);
  double sum = 0.0;
  int count = 0;
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 21; ++x)
      if (g[y][x] == 0.0f) {
        sum += v.GetPoint(x, y);
        ++count;
      }
  // Partial blocks: the block's own mean, then 50 sweeps inside the block;
  // the block marked whole takes the mean of every unmarked cell.
  Grid want = toGrid(v);
  for (int by = 0; by < 13; by += 8)
    for (int bx = 0; bx < 21; bx += 8) {
      const int x1 = std::min(bx + 8, 21), y1 = std::min(by + 8, 13);
      CSSEMatrix block(v);
      ASSERT_TRUE(Lib::smooth(block, mask, 0, false, bx, x1, by, y1));
      const Grid swept = jacobi(toGrid(block), g, 50, bx, x1, by, y1);
      for (int y = by; y < y1; ++y)
        for (int x = bx; x < x1; ++x) want[y][x] = bx == 8 && by == 0 ? float(sum / count) : swept[y][x];
    }
  ASSERT_TRUE(Lib::smoothBlock(v, mask));
  EXPECT_TRUE(near(v, want, 1e-5f));
  for (int y = 0; y < 8; ++y) EXPECT_EQ(v.GetPoint(9, y), static_cast<float>(sum / count));
}

TEST(LibraryMasks, HighEntropyMaskMarksTheBlocksAJpegSpoils) {
  // A smooth field with white noise in one block; the JPEG keeps the smooth
  // blocks within the threshold and spoils the noisy one.
  std::mt19937 random(5);
  std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
  const auto noisy = [](int x, int y) { return x >= 8 && x < 16 && y < 8; };
  const CSSEMatrix v =
      field(32, 24, [&](int x, int y) { return 0.01f * x + 0.02f * y + (noisy(x, y) ? noise(random) : 0); });
  // A block without data, and one marked cell in the noisy block.
  const auto marked = [](int x, int y) { return (y >= 16 && x < 8) || (x == 10 && y == 3); };
  const CSSEMatrix mask = field(32, 24, marked);
  CSSEMatrix::UxSCompressionParameters p;
  p.m_iMethod = 1;
  p.m_fJPEGQuality = 0.5f;
  CSSEMatrix high;
  ASSERT_TRUE(Lib::createHighEntropyMask(v, high, mask, p, 0.1f));
  EXPECT_TRUE(p.m_bFixedRange);
  EXPECT_LT(p.m_fRangeMin, p.m_fRangeMax);
  EXPECT_TRUE(fieldIs(high, [&](int x, int y) { return noisy(x, y) && !marked(x, y) ? 1.0f : 0.0f; }));
  EXPECT_FALSE(Lib::createHighEntropyMask(v, high, filled(3, 3), p, 0.1f));
}
