#pragma once
// The one way the library writes a file, so that no failure loses the previous
// content. The bytes go to a new temporary file beside the target (same folder,
// so the final rename stays on one file system and is atomic); Commit() flushes,
// fsyncs and closes it, checking each result, and only then renames it over the
// target. Until Commit() returns, the target is untouched: a failed write, a
// throw on the way or a killed process leaves the old file as it was.
//
//   CAtomicFile file(path);               // throws CFileException
//   CArchive ar(&file, CArchive::store);  // or file.Write(...)
//   ... write ...
//   ar.Close();
//   file.Commit();                        // throws CFileException; the file is complete on disk
//
// Every failure throws CFileException naming the target and the system's reason
// (m_lOsError); the temporary is removed. Destroying the object without Commit()
// removes the temporary and leaves the target alone. A replaced file keeps its
// permission bits; a new one gets the usual ones (0666 less the umask).
#include "orvik/foundation/platform/File.h"

class CAtomicFile : public CFile {
public:
  explicit CAtomicFile(const CString& target);
  ~CAtomicFile() override;

  // A second Open would bypass the temporary: refused (returns false).
  bool Open(const CString& path, unsigned flags, CFileException* error = nullptr) override;
  void Commit();
  const CString& GetTargetPath() const { return m_target; }
  // The temporary as a stdio stream, for C libraries that write to one. What
  // they write is checked by Commit() like every other write.
  std::FILE* GetStream() const { return handle(); }

private:
  void discard() noexcept;

  CString m_target;
  CString m_temporary;
};
