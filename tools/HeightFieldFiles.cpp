#include "HeightFieldFiles.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <vector>

#include "orvik/foundation/Stream.h"

namespace orvik::tool {

namespace {

const unsigned char c_tag[] = {0xFF, 0xFE, 0xFF, 0x0A, 'C', 0, 'S', 0, 'S', 0, 'E', 0, 'M', 0,
                               'a',  0,    't',  0,    'r', 0, 'i', 0, 'x', 0};

std::vector<unsigned char> readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw std::runtime_error("cannot open '" + path + "': " + std::strerror(errno));
  const std::streamoff size = in.tellg();
  std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) throw std::runtime_error("cannot read '" + path + "'");
  return bytes;
}

std::int32_t int32At(const std::vector<unsigned char>& b, std::size_t at) {
  std::int32_t v = 0;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

bool hasTag(const std::vector<unsigned char>& b) {
  return b.size() >= sizeof c_tag && std::memcmp(b.data(), c_tag, sizeof c_tag) == 0;
}

// An untagged file whose first two words are sizes and whose length is exactly
// that of their raw body is the old archive form; anything else is a stream.
bool isTagless(const std::vector<unsigned char>& b) {
  if (b.size() < 8) return false;
  const std::int64_t x = int32At(b, 0), y = int32At(b, 4);
  if (x < 0 || y < 0) return false;
  return static_cast<std::uint64_t>(b.size()) == 8 + static_cast<std::uint64_t>(x) * ((y >> 2) + 1) * 16;
}

}  // namespace

StoredHeader ReadStoredHeader(const std::string& path) {
  const std::vector<unsigned char> b = readAll(path);
  StoredHeader h;
  std::size_t at = 0;
  if (hasTag(b)) {
    h.archive = true;
    at = sizeof c_tag;
  } else if (isTagless(b)) {
    h.archive = h.tagless = true;
    h.version = 1;
    h.sizeX = int32At(b, 0);
    h.sizeY = int32At(b, 4);
    return h;
  }
  auto need = [&](std::size_t n) {
    if (b.size() < at + n) throw std::runtime_error("'" + path + "' is not a stored matrix (it ends too early)");
  };
  need(4);
  h.version = static_cast<std::uint32_t>(int32At(b, at));
  at += 4;
  if (h.version > 4) throw std::runtime_error("'" + path + "' is not a stored matrix (version " +
                                              std::to_string(h.version) + ")");
  if (h.version >= 1) {
    need(8);
    h.sizeX = int32At(b, at);
    h.sizeY = int32At(b, at + 4);
    at += 8;
    if (h.sizeX < 0 || h.sizeY < 0) throw std::runtime_error("'" + path + "' is not a stored matrix (negative size)");
  }
  if (h.version >= 2) {
    need(1);
    h.method = b[at++];
    if (h.method >= 1 && h.method <= 3) {
      need(4);
      h.passes = static_cast<std::uint32_t>(int32At(b, at));
    }
  }
  return h;
}

void ReadStored(const std::string& path, CSSEMatrix& m) {
  const StoredHeader h = ReadStoredHeader(path);
  if (h.archive) {
    if (!m.Load(path.c_str())) throw std::runtime_error("cannot open '" + path + "'");
    return;
  }
  const std::vector<unsigned char> bytes = readAll(path);
  CbStreamReadBinaryBuffer stream(bytes.data(), bytes.size());
  m.Serialize(stream);
}

void ReadHeightField(const std::string& path, const Options& options, CSSEMatrix& m) {
  switch (FormatOf(path)) {
    case FileFormat::Png16: ReadPng16(path, options.GetFloat("scale", 1000.0f), m); return;
    case FileFormat::FloatTiff: ReadFloatTiff(path, m); return;
    case FileFormat::RawFloat: {
      const std::string size = options.Get("size", "");
      int w = 0, h = 0;
      char extra = 0;
      if (std::sscanf(size.c_str(), "%dx%d%c", &w, &h, &extra) != 2 || w < 1 || h < 1)
        throw UsageError("raw float32 input needs --size WxH, for example --size 640x480");
      ReadRawFloat(path, w, h, m);
      return;
    }
    case FileFormat::Stored: ReadStored(path, m); return;
    default: throw UsageError("unknown format of '" + path + "'");
  }
}

float WriteHeightField(const std::string& path, const Options& options, const CSSEMatrix& m) {
  CSSEMatrix back;
  switch (FormatOf(path)) {
    case FileFormat::Png16: {
      const float scale = options.GetFloat("scale", 1000.0f);
      WritePng16(path, scale, m);
      ReadPng16(path, scale, back);
      break;
    }
    case FileFormat::FloatTiff:
      WriteFloatTiff(path, m);
      ReadFloatTiff(path, back);
      break;
    case FileFormat::RawFloat:
      WriteRawFloat(path, m);
      ReadRawFloat(path, m.GetSizeX(), m.GetSizeY(), back);
      break;
    case FileFormat::Stored: {
      CSSEMatrix stored(m);
      if (!stored.Store(path.c_str())) throw std::runtime_error("cannot write '" + path + "'");
      ReadStored(path, back);
      break;
    }
    default: throw UsageError("unknown format of '" + path + "' (use .ssem, .png, .tif or .raw)");
  }
  return MaxAbsDifference(m, back);
}

float MaxAbsDifference(const CSSEMatrix& a, const CSSEMatrix& b) {
  if (a.GetSizeX() != b.GetSizeX() || a.GetSizeY() != b.GetSizeY())
    return std::numeric_limits<float>::infinity();
  float worst = 0.0f;
  for (int y = 0; y < a.GetSizeY(); ++y)
    for (int x = 0; x < a.GetSizeX(); ++x) {
      const float u = a.GetPointUnsafe(x, y), v = b.GetPointUnsafe(x, y);
      // Equal infinities are no error, though their difference is NaN.
      if (u == v || (std::isnan(u) && std::isnan(v))) continue;
      const float d = std::fabs(u - v);
      worst = std::isnan(d) ? std::numeric_limits<float>::infinity() : std::max(worst, d);
    }
  return worst;
}

}  // namespace orvik::tool
