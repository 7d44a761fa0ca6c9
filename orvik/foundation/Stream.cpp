#include "orvik/foundation/Stream.h"

#include <algorithm>
#include <string>

void CbStreamWrite::WriteString(const CString& s) {
  WriteUInt32(static_cast<std::uint32_t>(s.str().size()));
  writeRaw(s.str().data(), s.str().size());
}

std::uint32_t CbStreamRead::ReadAndCompareVersion(std::uint32_t max) {
  const std::uint32_t version = ReadUInt32();
  if (version > max)
    throw CbException("Stream", __LINE__, "CbStreamRead::ReadAndCompareVersion",
                      "stored version " + std::to_string(version) + " is newer than " +
                          std::to_string(max));
  return version;
}

CString CbStreamRead::ReadString() {
  const std::uint32_t length = ReadUInt32();
  if (length > GetRemaining())
    throw CbException("Stream", __LINE__, "CbStreamRead::ReadString", "string longer than the data");
  // Read in chunks: a source that cannot tell its size must not make a corrupt
  // length allocate gigabytes before the data runs out.
  std::string s;
  constexpr std::size_t chunk = 1 << 16;
  for (std::uint32_t done = 0; done < length;) {
    const std::size_t n = std::min<std::size_t>(chunk, length - done);
    s.resize(done + n);
    readRaw(s.data() + done, n);
    done += static_cast<std::uint32_t>(n);
  }
  return CString(std::move(s));
}

void CbStreamWriteBinaryBuffer::writeRaw(const void* data, std::size_t bytes) {
  m_data.Append(static_cast<const unsigned char*>(data), bytes);
}

void CbStreamReadBinaryBuffer::readRaw(void* data, std::size_t bytes) {
  if (bytes > m_size - m_pos)
    throw CbException("Stream", __LINE__, "CbStreamReadBinaryBuffer::ReadBuffer", "end of data");
  if (bytes) std::memcpy(data, m_data + m_pos, bytes);
  m_pos += bytes;
}
