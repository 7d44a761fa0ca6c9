// PNG through libpng. libpng reports errors by longjmp; the functions that run
// under setjmp below hold only trivially destructible locals, so the jump skips
// no destructor. Buffers are allocated between those functions, in plain C++.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "orvik/foundation/codecs/ImageCodecs.h"

namespace orvik::detail {
namespace {

struct PngCodec {
  png_structp png = nullptr;
  png_infop info = nullptr;
  const unsigned char* data = nullptr;  // reading
  std::size_t size = 0;
  std::size_t pos = 0;
  CbArray<unsigned char>* out = nullptr;  // writing
  bool reading = true;
  char message[160] = {};

  ~PngCodec() {
    if (reading)
      png_destroy_read_struct(&png, &info, nullptr);
    else
      png_destroy_write_struct(&png, &info);
  }
};

[[noreturn]] void fail(const char* function, const char* message) {
  throw CbException("ImageCodecs", __LINE__, function, message);
}

void onError(png_structp png, png_const_charp message) {
  auto* codec = static_cast<PngCodec*>(png_get_error_ptr(png));
  std::snprintf(codec->message, sizeof codec->message, "%s", message);
  png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

void onRead(png_structp png, png_bytep target, png_size_t count) {
  auto* codec = static_cast<PngCodec*>(png_get_io_ptr(png));
  if (count > codec->size - codec->pos) png_error(png, "truncated image");
  std::memcpy(target, codec->data + codec->pos, count);
  codec->pos += count;
}

void onWrite(png_structp png, png_bytep source, png_size_t count) {
  auto* codec = static_cast<PngCodec*>(png_get_io_ptr(png));
  bool full = false;
  try {
    codec->out->Append(source, count);
  } catch (const CbException&) {
    full = true;
  }
  if (full) png_error(png, "out of memory");
}

void onFlush(png_structp) {}

bool readHeader(PngCodec& codec, png_uint_32& width, png_uint_32& height, int& depth, int& colour) {
  if (setjmp(png_jmpbuf(codec.png))) return false;
  png_set_read_fn(codec.png, &codec, onRead);
  png_set_user_limits(codec.png, 1u << 24, 1u << 24);
  png_read_info(codec.png, codec.info);
  int interlace = 0;
  png_get_IHDR(codec.png, codec.info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
  png_set_interlace_handling(codec.png);
  png_read_update_info(codec.png, codec.info);
  return true;
}

bool readRows(PngCodec& codec, png_bytepp rows) {
  if (setjmp(png_jmpbuf(codec.png))) return false;
  png_read_image(codec.png, rows);
  png_read_end(codec.png, nullptr);
  return true;
}

bool writeImage(PngCodec& codec, png_bytepp rows, unsigned width, unsigned height) {
  if (setjmp(png_jmpbuf(codec.png))) return false;
  png_set_write_fn(codec.png, &codec, onWrite, onFlush);
  png_set_IHDR(codec.png, codec.info, width, height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(codec.png, codec.info);
  png_write_image(codec.png, rows);
  png_write_end(codec.png, nullptr);
  return true;
}

}  // namespace

CbArray<unsigned char> EncodePngGray8(const unsigned char* pixels, unsigned width, unsigned height) {
  constexpr const char* function = "EncodePngGray8";
  if (width == 0 || height == 0) fail(function, "empty image");
  CbArray<unsigned char> out;
  PngCodec codec;
  codec.reading = false;
  codec.out = &out;
  codec.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &codec, onError, onWarning);
  if (codec.png) codec.info = png_create_info_struct(codec.png);
  if (!codec.png || !codec.info) fail(function, "cannot create the encoder");
  std::vector<png_bytep> rows(height);
  for (unsigned y = 0; y < height; ++y)
    rows[y] = const_cast<png_bytep>(pixels) + static_cast<std::size_t>(y) * width;
  if (!writeImage(codec, rows.data(), width, height)) fail(function, codec.message);
  return out;
}

CbArray<unsigned char> DecodePng(const unsigned char* data, std::size_t size, unsigned bitsPerPixel,
                                 unsigned& width, unsigned& height) {
  constexpr const char* function = "DecodePng";
  PngCodec codec;
  codec.data = data;
  codec.size = size;
  codec.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &codec, onError, onWarning);
  if (codec.png) codec.info = png_create_info_struct(codec.png);
  if (!codec.png || !codec.info) fail(function, "cannot create the decoder");
  png_uint_32 w = 0, h = 0;
  int depth = 0, colour = 0;
  if (!readHeader(codec, w, h, depth, colour)) fail(function, codec.message);
  if (colour != PNG_COLOR_TYPE_GRAY || static_cast<unsigned>(depth) != bitsPerPixel)
    fail(function, "not a grey image of the requested depth");
  const std::uint64_t stride = (static_cast<std::uint64_t>(w) * bitsPerPixel + 7) / 8;
  // Rows that need more than the deflate ratio allows of the file's size cannot
  // be genuine; refusing them bounds the allocation by the input.
  if (static_cast<std::uint64_t>(w) * h > GetMaxImagePixels() || (stride + 1) * h > c_uMaxDeflateRatio * size)
    fail(function, "image size out of bounds");
  if (png_get_rowbytes(codec.png, codec.info) != stride) fail(function, "unexpected row size");

  CbArray<unsigned char> pixels(static_cast<std::size_t>(stride * h));
  std::vector<png_bytep> rows(h);
  for (png_uint_32 y = 0; y < h; ++y) rows[y] = pixels.GetData() + y * stride;
  if (!readRows(codec, rows.data())) fail(function, codec.message);
  width = w;
  height = h;
  return pixels;
}

}  // namespace orvik::detail
