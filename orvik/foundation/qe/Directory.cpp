#include "orvik/foundation/qe/Directory.h"

#include <filesystem>
#include <system_error>

bool UxCDirectory::FileExist(const CString& path, const CString& name) {
  std::filesystem::path file(path.str());
  if (!name.IsEmpty()) file /= name.str();
  std::error_code error;
  return std::filesystem::is_regular_file(file, error);
}
