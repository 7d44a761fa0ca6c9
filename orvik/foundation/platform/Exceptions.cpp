#include "orvik/foundation/platform/Exceptions.h"

void AfxThrowMemoryException() { throw CMemoryException(); }

void AfxThrowArchiveException(int cause) { throw CArchiveException(cause); }

const char* CArchiveException::what() const noexcept {
  switch (m_cause) {
    case endOfFile: return "archive: end of file";
    case badSchema: return "archive: bad schema";
    case badClass: return "archive: bad class";
    case badIndex: return "archive: bad index";
    case readOnly: return "archive: read only";
    case writeOnly: return "archive: write only";
    default: return "archive error";
  }
}
