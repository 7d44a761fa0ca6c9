// Bi-level TIFF with CCITT group 4 through libtiff, in memory: a client opened
// on our own read, write and seek procedures. libtiff reports errors through
// return codes and a handler; the handler keeps the first message and keeps
// libtiff quiet, and the caller turns a failed call into CbException.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "orvik/foundation/codecs/ImageCodecs.h"

namespace orvik::detail {
namespace {

// libtiff refuses any single allocation above this, whatever the tags claim.
constexpr tmsize_t c_iMaxTiffAllocation = tmsize_t(1) << 26;

struct TiffMemory {
  const unsigned char* data = nullptr;     // reading
  std::size_t size = 0;
  std::vector<unsigned char>* out = nullptr;  // writing
  std::uint64_t pos = 0;
  char message[160] = {};

  const unsigned char* bytes() const { return out ? out->data() : data; }
  std::uint64_t length() const { return out ? out->size() : size; }
};

[[noreturn]] void fail(const char* function, const char* message) {
  throw CbException("ImageCodecs", __LINE__, function, message[0] ? message : "libtiff failure");
}

int onError(TIFF*, void* user, const char* module, const char* format, va_list args) {
  auto* memory = static_cast<TiffMemory*>(user);
  if (memory->message[0] == '\0') {
    char text[128];
    std::vsnprintf(text, sizeof text, format, args);
    std::snprintf(memory->message, sizeof memory->message, "%s: %s", module ? module : "libtiff", text);
  }
  return 1;
}

int onWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

tmsize_t onRead(thandle_t handle, void* buffer, tmsize_t count) {
  auto* memory = static_cast<TiffMemory*>(handle);
  if (count < 0) return -1;
  const std::uint64_t length = memory->length();
  const std::uint64_t available = memory->pos < length ? length - memory->pos : 0;
  const std::uint64_t n = std::min<std::uint64_t>(available, static_cast<std::uint64_t>(count));
  if (n) std::memcpy(buffer, memory->bytes() + memory->pos, n);
  memory->pos += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t onWrite(thandle_t handle, void* buffer, tmsize_t count) {
  auto* memory = static_cast<TiffMemory*>(handle);
  if (!memory->out || count < 0) return -1;
  const std::uint64_t end = memory->pos + static_cast<std::uint64_t>(count);
  try {
    if (end > memory->out->size()) memory->out->resize(end);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  if (count) std::memcpy(memory->out->data() + memory->pos, buffer, static_cast<std::size_t>(count));
  memory->pos = end;
  return count;
}

toff_t onSeek(thandle_t handle, toff_t offset, int whence) {
  auto* memory = static_cast<TiffMemory*>(handle);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) base = memory->pos;
  else if (whence == SEEK_END) base = memory->length();
  // Offsets arrive as unsigned; a negative relative seek wraps around.
  const std::uint64_t target = base + offset;
  if (target > (std::uint64_t(1) << 40)) return static_cast<toff_t>(-1);
  memory->pos = target;
  return target;
}

int onClose(thandle_t) { return 0; }
toff_t onSize(thandle_t handle) { return static_cast<TiffMemory*>(handle)->length(); }
int onMap(thandle_t, void**, toff_t*) { return 0; }
void onUnmap(thandle_t, void*, toff_t) {}

struct TiffFile {
  TIFF* tif = nullptr;
  ~TiffFile() {
    if (tif) TIFFClose(tif);
  }
};

TIFF* open(TiffMemory& memory, const char* mode) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, c_iMaxTiffAllocation);
  TIFFOpenOptionsSetErrorHandlerExtR(options, onError, &memory);
  TIFFOpenOptionsSetWarningHandlerExtR(options, onWarning, &memory);
  TIFF* tif = TIFFClientOpenExt("memory", mode, &memory, onRead, onWrite, onSeek, onClose, onSize, onMap,
                                onUnmap, options);
  TIFFOpenOptionsFree(options);
  return tif;
}

}  // namespace

CbArray<unsigned char> EncodeTiffG4(const unsigned char* bits, unsigned width, unsigned height) {
  constexpr const char* function = "EncodeTiffG4";
  if (width == 0 || height == 0) fail(function, "empty image");
  std::vector<unsigned char> bytes;
  TiffMemory memory;
  memory.out = &bytes;
  TiffFile file;
  file.tif = open(memory, "w");
  if (!file.tif) fail(function, memory.message);
  TIFF* tif = file.tif;
  const bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width) && TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height) &&
                  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1) && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1) &&
                  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4) &&
                  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK) &&
                  TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB) &&
                  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
                  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
  if (!ok) fail(function, memory.message);
  // libtiff may encode in place, so each row goes through a scratch copy.
  const std::size_t stride = (static_cast<std::size_t>(width) + 7) / 8;
  std::vector<unsigned char> row(stride);
  for (unsigned y = 0; y < height; ++y) {
    std::memcpy(row.data(), bits + y * stride, stride);
    if (TIFFWriteScanline(tif, row.data(), y, 0) < 0) fail(function, memory.message);
  }
  if (!TIFFFlush(tif)) fail(function, memory.message);
  TIFFClose(file.tif);
  file.tif = nullptr;
  if (memory.message[0]) fail(function, memory.message);
  CbArray<unsigned char> out;
  out.Append(bytes.data(), bytes.size());
  return out;
}

CbArray<unsigned char> DecodeTiff(const unsigned char* data, std::size_t size, unsigned bitsPerPixel,
                                  unsigned& width, unsigned& height) {
  constexpr const char* function = "DecodeTiff";
  TiffMemory memory;
  memory.data = data;
  memory.size = size;
  TiffFile file;
  file.tif = open(memory, "rm");
  if (!file.tif) fail(function, memory.message);
  TIFF* tif = file.tif;

  std::uint32_t w = 0, h = 0;
  std::uint16_t bits = 0, samples = 0, compression = 0, photometric = 0, fillOrder = 0;
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h) ||
      !TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) ||
      !TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits) ||
      !TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples) ||
      !TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression) ||
      !TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &fillOrder))
    fail(function, "incomplete image header");
  if (bitsPerPixel != 1 || bits != 1 || samples != 1) fail(function, "not a 1-bit image");
  if (compression != COMPRESSION_CCITTFAX4) fail(function, "not CCITT group 4");
  if (photometric != PHOTOMETRIC_MINISWHITE && photometric != PHOTOMETRIC_MINISBLACK)
    fail(function, "not a black-and-white image");
  if (fillOrder != FILLORDER_MSB2LSB && fillOrder != FILLORDER_LSB2MSB) fail(function, "bad fill order");
  if (TIFFIsTiled(tif)) fail(function, "tiled images are not supported");
  // Group 4 spends at least one bit on every row.
  if (w == 0 || h == 0 || static_cast<std::uint64_t>(w) * h > GetMaxImagePixels() ||
      h > 8 * static_cast<std::uint64_t>(size))
    fail(function, "image size out of bounds");
  const std::size_t stride = (static_cast<std::size_t>(w) + 7) / 8;
  if (static_cast<std::uint64_t>(TIFFScanlineSize64(tif)) != stride) fail(function, "unexpected row size");

  CbArray<unsigned char> pixels(stride * h);
  for (std::uint32_t y = 0; y < h; ++y)
    if (TIFFReadScanline(tif, pixels.GetData() + y * stride, y, 0) < 0) fail(function, memory.message);
  if (photometric == PHOTOMETRIC_MINISWHITE) {
    // Stored bits mean black; callers get white as the set bit. The padding
    // bits of each row stay clear.
    const unsigned char lastMask = static_cast<unsigned char>(0xFF << ((8 - w % 8) % 8));
    for (std::uint32_t y = 0; y < h; ++y) {
      unsigned char* row = pixels.GetData() + y * stride;
      for (std::size_t i = 0; i < stride; ++i) row[i] = static_cast<unsigned char>(~row[i]);
      row[stride - 1] &= lastMask;
    }
  }
  width = w;
  height = h;
  return pixels;
}

}  // namespace orvik::detail
