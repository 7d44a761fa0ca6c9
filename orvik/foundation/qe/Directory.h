#pragma once
// Folder and file queries of the host's base library.
#include "orvik/foundation/platform/String.h"

class UxCDirectory {
 public:
  // True when `path` (joined with `name` when that is not empty) names an
  // existing regular file, or a link to one.
  static bool FileExist(const CString& path, const CString& name);
};
