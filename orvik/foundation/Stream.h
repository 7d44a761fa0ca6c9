#pragma once
// Binary streams of typed values. Encoding: little-endian; a version word is a
// uint32; a bool is one byte; a CString is a uint32 byte length followed by its
// UTF-8 bytes; raw blocks go as they are.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "orvik/foundation/Containers.h"
#include "orvik/foundation/Exception.h"
#include "orvik/foundation/platform/String.h"

class CbStreamWrite {
public:
  virtual ~CbStreamWrite() = default;

  void WriteVersion(std::uint32_t version) { WriteUInt32(version); }
  void WriteBool(bool v) { WriteUInt8(v ? 1 : 0); }
  void WriteInt8(std::int8_t v) { writeRaw(&v, 1); }
  void WriteUInt8(std::uint8_t v) { writeRaw(&v, 1); }
  void WriteInt32(std::int32_t v) { writeRaw(&v, 4); }
  void WriteUInt32(std::uint32_t v) { writeRaw(&v, 4); }
  void WriteUInt64(std::uint64_t v) { writeRaw(&v, 8); }
  void WriteFloat(float v) { writeRaw(&v, 4); }
  void WriteString(const CString& s);
  // A writer that knows how many bytes follow may say so once, so that a
  // stream into memory grows in one step; other streams ignore it.
  virtual void Reserve(std::uint64_t) {}

protected:
  // Appends exactly `bytes` bytes or throws.
  virtual void writeRaw(const void* data, std::size_t bytes) = 0;
  // Appends `bytes` unset bytes for the caller to write and returns them, or
  // nullptr from a stream that keeps no memory of its own.
  virtual unsigned char* appendRoom(std::size_t) { return nullptr; }
};

class CbStreamRead {
public:
  virtual ~CbStreamRead() = default;

  // Reads a version word and returns it. A version above `max` was written by a
  // newer library whose layout this one cannot know: CbException.
  std::uint32_t ReadAndCompareVersion(std::uint32_t max);
  bool ReadBool() { return ReadUInt8() != 0; }
  std::int8_t ReadInt8() { return read<std::int8_t>(); }
  std::uint8_t ReadUInt8() { return read<std::uint8_t>(); }
  std::int32_t ReadInt32() { return read<std::int32_t>(); }
  std::uint32_t ReadUInt32() { return read<std::uint32_t>(); }
  std::uint64_t ReadUInt64() { return read<std::uint64_t>(); }
  float ReadFloat() { return read<float>(); }
  CString ReadString();

  // Bytes that can still be read, or UINT64_MAX when the source cannot tell.
  // Readers compare stored sizes with it before they allocate.
  virtual std::uint64_t GetRemaining() const { return UINT64_MAX; }

protected:
  // Reads exactly `bytes` bytes or throws (CbException at the end of a buffer).
  virtual void readRaw(void* data, std::size_t bytes) = 0;

private:
  template <typename T>
  T read() {
    T v;
    readRaw(&v, sizeof v);
    return v;
  }
};

class CbStreamWriteBinary : public CbStreamWrite {
public:
  void WriteBuffer(const void* data, std::size_t bytes) { writeRaw(data, bytes); }

  // Writes `count` records of `recordBytes` bytes each that
  // `fill(destination, first, n)` lays out for records first .. first + n - 1.
  // A stream into memory has them built where they stay; any other stream gets
  // them through a staging buffer, a few thousand records at a time.
  template <typename Fill>
  void WriteRecords(std::size_t count, std::size_t recordBytes, Fill&& fill) {
    if (count == 0 || recordBytes == 0) return;
    if (count > SIZE_MAX / recordBytes)
      throw CbException("Stream", __LINE__, "CbStreamWriteBinary::WriteRecords", "too many bytes");
    if (unsigned char* room = appendRoom(count * recordBytes)) {
      fill(room, std::size_t(0), count);
      return;
    }
    const std::size_t chunk = std::min(count, std::max<std::size_t>(1, c_stagingBytes / recordBytes));
    std::vector<unsigned char> staging(chunk * recordBytes);
    for (std::size_t first = 0; first < count; first += chunk) {
      const std::size_t n = std::min(chunk, count - first);
      fill(staging.data(), first, n);
      writeRaw(staging.data(), n * recordBytes);
    }
  }

private:
  static constexpr std::size_t c_stagingBytes = 64 * 1024;
};

class CbStreamReadBinary : public CbStreamRead {
public:
  void ReadBuffer(void* data, std::size_t bytes) { readRaw(data, bytes); }
};

// Collects the written bytes in memory.
class CbStreamWriteBinaryBuffer : public CbStreamWriteBinary {
public:
  const unsigned char* GetData() const { return m_data.GetData(); }
  std::size_t GetCount() const { return m_data.GetCount(); }
  const CbArray<unsigned char>& GetArray() const { return m_data; }
  void Reserve(std::uint64_t bytes) override {
    if (bytes <= SIZE_MAX - m_data.GetCount())
      m_data.Reserve(m_data.GetCount() + static_cast<std::size_t>(bytes));
  }

protected:
  void writeRaw(const void* data, std::size_t bytes) override;
  unsigned char* appendRoom(std::size_t bytes) override { return m_data.Extend(bytes); }

private:
  CbArray<unsigned char> m_data;
};

// Reads from a byte array that the caller keeps alive. Reading past its end
// throws CbException and reads nothing.
class CbStreamReadBinaryBuffer : public CbStreamReadBinary {
public:
  explicit CbStreamReadBinaryBuffer(const CbArray<unsigned char>& data)
      : m_data(data.GetData()), m_size(data.GetCount()) {}
  CbStreamReadBinaryBuffer(const unsigned char* data, std::size_t size) : m_data(data), m_size(size) {}

  std::uint64_t GetRemaining() const override { return m_size - m_pos; }
  std::size_t GetPosition() const { return m_pos; }

protected:
  void readRaw(void* data, std::size_t bytes) override;

private:
  const unsigned char* m_data;
  std::size_t m_size;
  std::size_t m_pos = 0;
};
