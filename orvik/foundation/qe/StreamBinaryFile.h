#pragma once
// Foundation binary streams over a framework archive: the typed values go into,
// or come out of, the archive's bytes as they are (little-endian, raw blocks
// unchanged), so what a storing archive took in, a loading archive of the same
// bytes gives back. The archive must outlive the stream.
#include "orvik/foundation/Stream.h"
#include "orvik/foundation/platform/Archive.h"

class QeStreamWriteBinaryFile : public CbStreamWriteBinary {
public:
  explicit QeStreamWriteBinaryFile(CArchive& ar) : m_ar(ar) {}

protected:
  void writeRaw(const void* data, std::size_t bytes) override { m_ar.Write(data, bytes); }

private:
  CArchive& m_ar;
};

// Reading past the end raises CArchiveException (endOfFile).
class QeStreamReadBinaryFile : public CbStreamReadBinary {
public:
  explicit QeStreamReadBinaryFile(CArchive& ar) : m_ar(ar) {}
  std::uint64_t GetRemaining() const override { return m_ar.GetRemaining(); }

protected:
  void readRaw(void* data, std::size_t bytes) override { m_ar.ReadExact(data, bytes); }

private:
  CArchive& m_ar;
};
