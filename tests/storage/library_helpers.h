#pragma once
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "orvik/storage/SSEMatrixLibrary.h"
#include "storage_helpers.h"

namespace storage_test {

// The library with its coding steps opened to the tests.
class Lib : public UxCSSEMatrixLibrary {
 public:
  using UxCSSEMatrixLibrary::applyMask;
  using UxCSSEMatrixLibrary::assembleMatrix;
  using UxCSSEMatrixLibrary::createAndSerializeDifferenceMask;
  using UxCSSEMatrixLibrary::createHighEntropyMask;
  using UxCSSEMatrixLibrary::createMask;
  using UxCSSEMatrixLibrary::enforceMatrixSize;
  using UxCSSEMatrixLibrary::extrapolate;
  using UxCSSEMatrixLibrary::loadSSEMatrix;
  using UxCSSEMatrixLibrary::serializeMatrix;
  using UxCSSEMatrixLibrary::smooth;
  using UxCSSEMatrixLibrary::smoothBlock;
};

// A folder of its own for one test, removed with everything in it.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name)
      : m_path(std::filesystem::temp_directory_path() /
               ("orvik-" + name + "-" + std::to_string(::getpid()))) {
    std::filesystem::remove_all(m_path);
    std::filesystem::create_directories(m_path);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  CString operator/(const std::string& file) const { return CString((m_path / file).string()); }
  const std::filesystem::path& path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

inline Bytes readFile(const CString& path) {
  std::ifstream in(path.str(), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const CString& path, const Bytes& bytes) {
  std::ofstream out(path.str(), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace storage_test
