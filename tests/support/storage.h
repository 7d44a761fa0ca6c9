#pragma once
// Stored bytes as the suites write, read, inspect and corrupt them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "orvik/foundation/Stream.h"
#include "orvik/foundation/platform/Archive.h"
#include "orvik/foundation/platform/File.h"
#include "orvik/matrix/ssematrix.h"

using Bytes = std::vector<unsigned char>;

// The stream and archive forms of any stored class (matrices, polygons,
// meshes). Readers are passed as deserialize<T> or loadArchive<T>.
template <class T>
Bytes serialize(const T& o) {
  CbStreamWriteBinaryBuffer out;
  o.Serialize(out);
  return Bytes(out.GetData(), out.GetData() + out.GetCount());
}

template <class T>
void deserialize(T& o, const Bytes& bytes) {
  CbStreamReadBinaryBuffer in(bytes.data(), bytes.size());
  o.Serialize(in);
}

template <class T>
Bytes storeArchive(T& o) {
  CMemFile file;
  {
    CArchive ar(&file, CArchive::store);
    o.Serialize(ar);
    ar.Flush();
  }
  return file.GetData();
}

template <class T>
void loadArchive(T& o, const Bytes& bytes) {
  CMemFile file(bytes);
  CArchive ar(&file, CArchive::load);
  o.Serialize(ar);
}

inline CSSEMatrix readBack(const Bytes& bytes) {
  CSSEMatrix m;
  deserialize(m, bytes);
  return m;
}

// Sets the method, the passes and the invalid value (NaN: none) of the coding.
inline CSSEMatrix& coding(CSSEMatrix& m, int method, unsigned passes = 1, float invalid = NAN) {
  auto& p = m.GetCompressionParameters();
  p.m_iMethod = method;
  p.m_uiNumberOfPasses = passes;
  p.m_bUseInvalidValue = !std::isnan(invalid);
  if (p.m_bUseInvalidValue) p.m_fInvalidValue = invalid;
  return m;
}


// The archive form's head: Unicode length marker, then the class name in UTF-16.
inline Bytes archiveTag(const std::string& name) {
  Bytes b = {0xFF, 0xFE, 0xFF, static_cast<unsigned char>(name.size())};
  for (char c : name) b.insert(b.end(), {static_cast<unsigned char>(c), 0});
  return b;
}

// True when the reader accepted the bytes into `into`, false when it threw
// one of its documented exceptions; anything else escaping fails the test.
template <class Read, class Target>
bool accepted(Read read, const Bytes& bytes, Target& into) {
  try {
    read(into, bytes);
    return true;
  } catch (const CbException&) {
  } catch (const CArchiveException&) {
  }
  return false;
}

// The same into a fresh matrix.
template <class Read>
bool accepted(Read read, const Bytes& bytes) {
  CSSEMatrix m;
  return accepted(read, bytes, m);
}

inline std::uint32_t u32(const Bytes& b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

inline float f32(const Bytes& b, std::size_t at) {
  float v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

// The files of a seed-corpus folder under the test data (ORVIK_TEST_DATA), by
// name. Files named valid_* were written by the library and must read; the
// others are stored findings.
inline std::vector<std::pair<std::string, Bytes>> seedFiles(const std::string& folder) {
  std::vector<std::pair<std::string, Bytes>> out;
  const char* root = std::getenv("ORVIK_TEST_DATA");
  EXPECT_NE(root, nullptr);
  if (!root) return out;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(root) / folder)) {
    std::ifstream in(entry.path(), std::ios::binary);
    out.push_back({entry.path().filename().string(), Bytes(std::istreambuf_iterator<char>(in), {})});
  }
  EXPECT_FALSE(out.empty()) << folder;
  return out;
}

inline bool isValidSeed(const std::string& name) { return name.rfind("valid_", 0) == 0; }
