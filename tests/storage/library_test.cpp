#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "library_helpers.h"
#include "orvik/foundation/platform/Archive.h"
#include "support/file_limits.h"

using test_support::ReadBytes;
using test_support::ScratchFolder;
using test_support::WriteBytes;

namespace {

constexpr float c_invalid = -1.0f;

// State k of a surface under repair: the base relief, k local edits, and cells
// without data that move from state to state.
void state(CSSEMatrix& m, int k, int sizeX = 56, int sizeY = 44) {
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
}

// Writes the matrix raw, so that the library's source values are exact.
CString matrixFile(const ScratchFolder& folder, const std::string& name, const CSSEMatrix& m) {
  CSSEMatrix raw(m);
  raw.GetCompressionParameters() = CSSEMatrix::UxSCompressionParameters();
  const CString path = folder / name;
  EXPECT_TRUE(raw.Store(path));
  return path;
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

bool sameInvalidCells(const CSSEMatrix& a, const CSSEMatrix& b) {
  for (int y = 0; y < a.GetSizeY(); ++y)
    for (int x = 0; x < a.GetSizeX(); ++x)
      if ((a.GetPoint(x, y) == c_invalid) != (b.GetPoint(x, y) == c_invalid)) {
        ADD_FAILURE() << "validity differs at " << x << ", " << y;
        return false;
      }
  return true;
}

// Opens a stored library and checks every entry against what was put in: the
// largest deviation over all entries is exactly the recorded error, and no
// entry deviates more. The entries named in `exactValidity` hold the invalid
// value exactly where their sources do.
void expectStored(const CString& path, const std::map<std::string, CSSEMatrix>& sources, float recorded,
                  const std::set<std::string>& exactValidity = {}) {
  UxCSSEMatrixLibrary opened;
  ASSERT_TRUE(opened.Init(path));
  ASSERT_EQ(opened.GetNumberOfEntries(), sources.size());
  float worst = 0.0f;
  for (const auto& [id, source] : sources) {
    SCOPED_TRACE(id);
    CSSEMatrix loaded;
    ASSERT_TRUE(opened.LoadSSEMatrix(id, loaded));
    ASSERT_EQ(loaded.GetSizeX(), source.GetSizeX());
    ASSERT_EQ(loaded.GetSizeY(), source.GetSizeY());
    worst = std::max(worst, maxAbsDifference(source, loaded));
    if (exactValidity.count(id)) {
      EXPECT_TRUE(sameInvalidCells(source, loaded));
    }
  }
  EXPECT_EQ(worst, recorded);
}

// A library file put together by hand: tag, version, records, bodies.
struct Record {
  std::string id;
  std::uint64_t position;
  std::string reference;
};

Bytes libraryFile(std::uint32_t version, const std::vector<Record>& records, const Bytes& bodies = {},
                  const char* tag = "SSEMatrixLibrary") {
  CbStreamWriteBinaryBuffer out;
  out.WriteString(tag);
  out.WriteVersion(version);
  out.WriteUInt32(static_cast<std::uint32_t>(records.size()));
  for (const Record& r : records) {
    out.WriteString(r.id);
    if (version >= 1) out.WriteUInt64(r.position);
    if (version >= 2) out.WriteString(r.reference);
  }
  Bytes b(out.GetData(), out.GetData() + out.GetCount());
  b.insert(b.end(), bodies.begin(), bodies.end());
  return b;
}

}  // namespace

TEST(MatrixLibrary, EntriesAreAddedOnlyWithTheirFileAndReference) {
  ScratchFolder folder;
  UxCSSEMatrixLibrary lib;
  CSSEMatrix m;
  EXPECT_EQ(lib.GetNumberOfEntries(), 0u);
  EXPECT_EQ(lib.GetMaxAbsCompressionError(), 0.0f);
  EXPECT_FALSE(lib.LoadSSEMatrix("a", m));
  state(m, 0);
  const CString file = matrixFile(folder, "a.mat", m);
  EXPECT_TRUE(lib.AddSSEMatrix("a", file));
  EXPECT_FALSE(lib.AddSSEMatrix("a", file)) << "identifier present";
  EXPECT_FALSE(lib.AddSSEMatrix("b", folder / "missing.mat")) << "file missing";
  EXPECT_FALSE(lib.AddSSEMatrix("b", folder.Path().string().c_str())) << "a folder is no file";
  EXPECT_FALSE(lib.AddSSEMatrix("b", file, "nope", parameters(2, 0))) << "reference missing";
  EXPECT_TRUE(lib.AddSSEMatrix("b", file, "a", parameters(2, 0)));
  ASSERT_EQ(lib.GetNumberOfEntries(), 2u);
  std::vector<std::string> ids;
  for (const CString& id : lib.GetIDs()) ids.push_back(id.str());
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<std::string>{"a", "b"}));
  CSSEMatrix loaded;
  ASSERT_TRUE(lib.LoadSSEMatrix("b", loaded));  // an added entry loads as its file holds it
  EXPECT_EQ(maxAbsDifference(loaded, m), 0.0f);
}

TEST(MatrixLibrary, RoundTripsOfEveryMethodAndDifferenceMode) {
  ScratchFolder folder;
  std::map<std::string, CSSEMatrix> sources;
  for (int k = 0; k < 3; ++k) state(sources[std::string("s") + std::to_string(k)], 3 * k);
  for (int method : {0, 1, 2, 3}) {
    for (int mode : {0, 1, 2, 3}) {
      SCOPED_TRACE(testing::Message() << "method " << method << ", mode " << mode);
      UxCSSEMatrixLibrary lib;
      ASSERT_TRUE(
          lib.AddSSEMatrix("s0", matrixFile(folder, "s0.mat", sources["s0"]), parameters(method, mode)));
      ASSERT_TRUE(lib.AddSSEMatrix("s1", matrixFile(folder, "s1.mat", sources["s1"]), "s0",
                                   parameters(method, mode)));
      ASSERT_TRUE(lib.AddSSEMatrix("s2", matrixFile(folder, "s2.mat", sources["s2"]), "s1",
                                   parameters(method, mode)));
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

      // What loadSSEMatrix with encodeDecode promises: the entry as the stored
      // file gives it.
      Lib same;
      ASSERT_TRUE(same.AddSSEMatrix("s0", folder / "s0.mat", parameters(method, mode)));
      ASSERT_TRUE(same.AddSSEMatrix("s1", folder / "s1.mat", "s0", parameters(method, mode)));
      ASSERT_TRUE(same.AddSSEMatrix("s2", folder / "s2.mat", "s1", parameters(method, mode)));
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
  CSSEMatrix current, reference;
  state(current, 4);
  state(reference, 1);
  for (int mode : {1, 2, 3}) {
    SCOPED_TRACE(testing::Message() << "mode " << mode);
    CbStreamWriteBinaryBuffer out;
    float error = -1.0f;
    ASSERT_TRUE(lib.serializeMatrix(out, current, reference, parameters(2, mode), error));
    EXPECT_GE(error, 0.0f);
    CbStreamReadBinaryBuffer in(out.GetArray());
    EXPECT_EQ(in.ReadUInt8(), mode);
    EXPECT_EQ(in.ReadFloat(), c_invalid);
    std::vector<CSSEMatrix> parts;
    while (in.GetRemaining() > 0) {
      parts.emplace_back();
      parts.back().Serialize(in);
    }
    if (mode == 3) {
      // No mask matrix: the invalid cells travel as the exact PNG marker.
      ASSERT_EQ(parts.size(), 1u);
      EXPECT_EQ(parts[0].GetCompressionParameters().m_iMethod, 2);
      for (int y = 0; y < current.GetSizeY(); ++y)
        for (int x = 0; x < current.GetSizeX(); ++x)
          ASSERT_EQ(parts[0].GetPoint(x, y) == Lib::c_fDifferenceCodingPNGSpecialValue,
                    current.GetPoint(x, y) == c_invalid);
      continue;
    }
    ASSERT_EQ(parts.size(), mode == 1 ? 2u : 3u);
    EXPECT_EQ(parts[0].GetCompressionParameters().m_iMethod, 4);
    for (int y = 0; y < current.GetSizeY(); ++y)
      for (int x = 0; x < current.GetSizeX(); ++x) {
        const bool changed = (current.GetPoint(x, y) == c_invalid) != (reference.GetPoint(x, y) == c_invalid);
        ASSERT_EQ(parts[0].GetPoint(x, y), changed ? 1.0f : 0.0f) << x << ", " << y;
      }
    if (mode == 2) {
      EXPECT_EQ(parts[1].GetCompressionParameters().m_iMethod, 2);
      EXPECT_EQ(parts[2].GetCompressionParameters().m_iMethod, 1);
    }
  }
  CbStreamWriteBinaryBuffer out;
  float error = 0.0f;
  EXPECT_FALSE(lib.serializeMatrix(out, current, reference, parameters(2, 4), error));
  EXPECT_EQ(out.GetCount(), 0u);
}

TEST(MatrixLibrary, ReferencesOfOtherSizesKeepTheHoles) {
  ScratchFolder folder;
  for (const auto& [sizeX, sizeY] : std::vector<std::pair<int, int>>{{40, 30}, {70, 51}, {56, 20}}) {
    for (int mode : {0, 1, 2, 3}) {
      SCOPED_TRACE(testing::Message() << "reference " << sizeX << " x " << sizeY << ", mode " << mode);
      std::map<std::string, CSSEMatrix> sources;
      state(sources["ref"], 0, sizeX, sizeY);
      state(sources["entry"], 2);
      UxCSSEMatrixLibrary lib;
      ASSERT_TRUE(lib.AddSSEMatrix("ref", matrixFile(folder, "r.mat", sources["ref"]), parameters(2, mode)));
      ASSERT_TRUE(lib.AddSSEMatrix("entry", matrixFile(folder, "e.mat", sources["entry"]), "ref",
                                   parameters(2, mode)));
      const CString path = folder / "lib.oml";
      ASSERT_TRUE(lib.Store(path));
      // A border grown from the reference must neither swallow valid cells nor
      // fill holes: the error stays at the bound of the coding.
      EXPECT_LE(lib.GetMaxAbsCompressionError(), 0.0101f);
      expectStored(path, sources, lib.GetMaxAbsCompressionError(),
                   mode == 0 ? std::set<std::string>{"ref"} : std::set<std::string>{"ref", "entry"});
    }
  }
}

TEST(MatrixLibrary, ChainsOfFortyStatesCostOneCodingEach) {
  // Each entry is coded against the one before; coding references afresh for
  // every entry that needs them would double the work with every state and
  // never finish.
  ScratchFolder folder;
  std::map<std::string, CSSEMatrix> sources;
  UxCSSEMatrixLibrary lib;
  std::string previous;
  for (int k = 0; k < 40; ++k) {
    const std::string id = std::string("state") + std::to_string(k);
    state(sources[id], k, 32, 24);
    ASSERT_TRUE(
        lib.AddSSEMatrix(id, matrixFile(folder, id + ".mat", sources[id]), previous, parameters(3, k % 4)));
    previous = id;
  }
  const CString first = folder / "first.oml", second = folder / "second.oml";
  ASSERT_TRUE(lib.Store(first));
  expectStored(first, sources, lib.GetMaxAbsCompressionError());

  // Stored again from the opened file with coarser defaults: every entry is
  // coded against its reference as the new file holds it, so the recorded
  // error is the one a reader meets.
  UxCSSEMatrixLibrary opened;
  ASSERT_TRUE(opened.Init(first));
  UxCSSEMatrixLibrary::UxSCompressionParameters coarse = parameters(2, 0);
  coarse.m_fMaxError = 0.05f;
  opened.SetDefaultCompressionParameters(coarse);
  EXPECT_EQ(opened.GetDefaultCompressionParameters().m_fMaxError, 0.05f);
  std::map<std::string, CSSEMatrix> decoded;
  for (const auto& [id, source] : sources) ASSERT_TRUE(opened.LoadSSEMatrix(id, decoded[id]));
  ASSERT_TRUE(opened.Store(second));
  EXPECT_GT(opened.GetMaxAbsCompressionError(), 0.0f);
  EXPECT_LE(opened.GetMaxAbsCompressionError(), 0.0501f);
  expectStored(second, decoded, opened.GetMaxAbsCompressionError());

  SCOPED_TRACE("never over the file it reads from");
  const Bytes before = ReadBytes(first.str());
  EXPECT_FALSE(opened.Store(first));
  EXPECT_EQ(ReadBytes(first.str()), before);
}

TEST(MatrixLibrary, AFailedStoreKeepsThePreviousFile) {
  ScratchFolder folder;
  CSSEMatrix m;
  state(m, 1);
  UxCSSEMatrixLibrary lib;
  ASSERT_TRUE(lib.AddSSEMatrix("a", matrixFile(folder, "a.mat", m), parameters(2, 0)));
  ASSERT_TRUE(lib.AddSSEMatrix("b", matrixFile(folder, "b.mat", m), "a", parameters(2, 1)));
  const CString path = folder / "lib.oml";
  ASSERT_TRUE(lib.Store(path));
  const float error = lib.GetMaxAbsCompressionError();
  const Bytes before = ReadBytes(path.str());

  std::filesystem::remove(folder / "a.mat");  // the reference no longer loads
  EXPECT_FALSE(lib.Store(path));
  EXPECT_EQ(ReadBytes(path.str()), before);
  EXPECT_EQ(lib.GetMaxAbsCompressionError(), error);
  EXPECT_EQ(folder.Entries().size(), 2u) << "no temporary left beside the library";
  EXPECT_FALSE(lib.Store(folder / "missing/lib.oml"));
}

TEST(MatrixLibrary, DamagedFilesAreRefusedWhole) {
  ScratchFolder folder;
  std::map<std::string, CSSEMatrix> sources;
  UxCSSEMatrixLibrary lib;
  for (int k = 0; k < 3; ++k) {
    const std::string id = std::string("s") + std::to_string(k);
    state(sources[id], k, 20, 12);
    ASSERT_TRUE(lib.AddSSEMatrix(id, matrixFile(folder, id + ".mat", sources[id]),
                                 k ? std::string("s") + std::to_string(k - 1) : "", parameters(2, k)));
  }
  const CString good = folder / "good.oml", bad = folder / "bad.oml";
  ASSERT_TRUE(lib.Store(good));
  const Bytes bytes = ReadBytes(good.str());
  UxCSSEMatrixLibrary whole;
  ASSERT_TRUE(whole.Init(good));
  std::map<std::string, CSSEMatrix> loaded;
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
      // The map is whole; the entries whose bodies were cut fail, the others
      // load as before.
      int failed = 0;
      for (const auto& [id, values] : loaded) {
        CSSEMatrix m;
        if (!cut.LoadSSEMatrix(id, m)) {
          ++failed;
          continue;
        }
        ASSERT_EQ(maxAbsDifference(m, values), 0.0f) << n;
      }
      ASSERT_GT(failed, 0) << n;
    }
  }

  const Bytes tiny = serialize(sources["s0"]);
  const std::uint64_t at = libraryFile(2, {{"a", 0, ""}}).size();
  const std::uint64_t at2 = libraryFile(2, {{"a", 0, "b"}, {"b", 0, "a"}}).size();
  const std::uint64_t atSelf = libraryFile(2, {{"a", 0, "a"}}).size();
  for (const auto& [what, file] : std::vector<std::pair<const char*, Bytes>>{
           {"another tag", libraryFile(2, {{"a", at, ""}}, tiny, "SSEMatrixLibrarY")},
           {"a newer version", libraryFile(3, {{"a", at, ""}}, tiny)},
           {"a body beyond the end", libraryFile(2, {{"a", at + tiny.size(), ""}}, tiny)},
           {"a body inside the map", libraryFile(2, {{"a", at - 1, ""}}, tiny)},
           {"an identifier twice", libraryFile(2, {{"a", at2, ""}, {"a", at2, ""}}, tiny)},
           {"a reference to a missing entry", libraryFile(2, {{"a", at, "x"}}, tiny)},
           {"a cycle", libraryFile(2, {{"a", at2, "b"}, {"b", at2, "a"}}, tiny)},
           {"a self-reference", libraryFile(2, {{"a", atSelf, "a"}}, tiny)},
       }) {
    SCOPED_TRACE(what);
    WriteBytes(bad.str(), file);
    UxCSSEMatrixLibrary damaged;
    ASSERT_TRUE(damaged.Init(good));
    EXPECT_FALSE(damaged.Init(bad));
    EXPECT_EQ(damaged.GetNumberOfEntries(), 0u);
    EXPECT_FALSE(damaged.LoadSSEMatrix("a", loaded["s0"]));
  }
  SCOPED_TRACE("the same records, sound");
  WriteBytes(bad.str(), libraryFile(2, {{"a", at, ""}}, tiny));
  UxCSSEMatrixLibrary sound;
  CSSEMatrix m;
  ASSERT_TRUE(sound.Init(bad));
  ASSERT_TRUE(sound.LoadSSEMatrix("a", m));
  EXPECT_EQ(maxAbsDifference(m, sources["s0"]), 0.0f);
  EXPECT_FALSE(sound.Init(folder / "missing.oml"));
  EXPECT_EQ(sound.GetNumberOfEntries(), 0u);
}

TEST(MatrixLibrary, OlderVersions) {
  ScratchFolder folder;
  CSSEMatrix m, back;
  state(m, 2, 9, 7);
  CMemFile memory;
  {
    CArchive ar(&memory, CArchive::store);
    m.Serialize(ar);
  }
  const Bytes archive = memory.GetData();
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

TEST(MatrixLibrary, EntryCodingStepsMatchTheStoredFile) {
  // The protected steps: an entry written as Store writes it reads back, by
  // its reference's identifier, to what the stored file gives.
  ScratchFolder folder;
  CSSEMatrix a, b;
  state(a, 0);
  state(b, 5);
  Lib lib;
  ASSERT_TRUE(lib.AddSSEMatrix("a", matrixFile(folder, "a.mat", a), parameters(3, 0)));
  ASSERT_TRUE(lib.AddSSEMatrix("b", matrixFile(folder, "b.mat", b), "a", parameters(3, 3)));
  const CString path = folder / "lib.oml";
  ASSERT_TRUE(lib.Store(path));
  Lib opened;
  ASSERT_TRUE(opened.Init(path));
  CSSEMatrix stored;
  ASSERT_TRUE(opened.LoadSSEMatrix("b", stored));

  UxCSSEMatrixLibrary::SFileInfo info;
  info.m_strReferenceID = "a";
  info.m_bUseOwnParameters = true;
  info.m_parameters = parameters(3, 3);
  CbStreamWriteBinaryBuffer out;
  float error = 0.0f;
  ASSERT_TRUE(lib.serializeMatrix(out, b, info, error));
  EXPECT_EQ(error, maxAbsDifference(b, stored));
  // The reference of the opened library is its decoded entry, which the
  // library stored now would give too.
  CbStreamReadBinaryBuffer in(out.GetArray());
  CSSEMatrix read;
  ASSERT_TRUE(opened.serializeMatrix(in, read, CString("a")));
  EXPECT_EQ(maxAbsDifference(read, stored), 0.0f);
  CbStreamReadBinaryBuffer again(out.GetArray());
  EXPECT_FALSE(opened.serializeMatrix(again, read, CString("missing")));
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
