// JPEG through libjpeg-turbo. Errors leave libjpeg by longjmp, as its manual
// describes; the functions that set the jump hold only trivially destructible
// locals. Warnings (corrupt data, a premature end) count as errors: a decoder
// that patched over them would hand back an image that was never stored.
#include <cstdio>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "orvik/foundation/codecs/ImageCodecs.h"

namespace orvik::detail {
namespace {

// A progressive file can repeat scans without bound, each one a full pass over
// the image; genuine files need a handful.
constexpr int c_iMaxScans = 64;

struct JpegError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void fail(const char* function, const char* message) {
  throw CbException("ImageCodecs", __LINE__, function, message);
}

[[noreturn]] void onError(j_common_ptr info) {
  auto* error = reinterpret_cast<JpegError*>(info->err);
  (*info->err->format_message)(info, error->message);
  std::longjmp(error->jump, 1);
}

void onMessage(j_common_ptr info, int level) {
  if (level < 0) onError(info);
}

void onOutput(j_common_ptr) {}

void onProgress(j_common_ptr info) {
  if (!info->is_decompressor) return;
  if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > c_iMaxScans) {
    auto* error = reinterpret_cast<JpegError*>(info->err);
    std::snprintf(error->message, sizeof error->message, "too many scans");
    std::longjmp(error->jump, 1);
  }
}

void useErrorHandlers(JpegError& error) {
  jpeg_std_error(&error.manager);
  error.manager.error_exit = onError;
  error.manager.emit_message = onMessage;
  error.manager.output_message = onOutput;
  error.message[0] = '\0';
}

struct Encoder {
  jpeg_compress_struct info{};
  JpegError error;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  ~Encoder() {
    jpeg_destroy_compress(&info);
    std::free(buffer);
  }
};

struct Decoder {
  jpeg_decompress_struct info{};
  JpegError error;
  jpeg_progress_mgr progress{};
  ~Decoder() { jpeg_destroy_decompress(&info); }
};

bool compress(Encoder& e, const unsigned char* pixels, unsigned width, unsigned height, int quality) {
  if (setjmp(e.error.jump)) return false;
  jpeg_create_compress(&e.info);
  jpeg_mem_dest(&e.info, &e.buffer, &e.size);
  e.info.image_width = width;
  e.info.image_height = height;
  e.info.input_components = 1;
  e.info.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&e.info);
  jpeg_set_quality(&e.info, quality, TRUE);
  jpeg_start_compress(&e.info, TRUE);
  while (e.info.next_scanline < height) {
    JSAMPROW row = const_cast<JSAMPROW>(pixels + static_cast<std::size_t>(e.info.next_scanline) * width);
    jpeg_write_scanlines(&e.info, &row, 1);
  }
  jpeg_finish_compress(&e.info);
  return true;
}

bool readHeader(Decoder& d, const unsigned char* data, std::size_t size) {
  if (setjmp(d.error.jump)) return false;
  jpeg_create_decompress(&d.info);
  d.progress.progress_monitor = onProgress;
  d.info.progress = &d.progress;
  jpeg_mem_src(&d.info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&d.info, TRUE);
  return true;
}

bool readRows(Decoder& d, unsigned char* pixels, std::size_t stride) {
  if (setjmp(d.error.jump)) return false;
  d.info.out_color_space = JCS_GRAYSCALE;
  jpeg_start_decompress(&d.info);
  while (d.info.output_scanline < d.info.output_height) {
    JSAMPROW row = pixels + d.info.output_scanline * stride;
    jpeg_read_scanlines(&d.info, &row, 1);
  }
  jpeg_finish_decompress(&d.info);
  return true;
}

}  // namespace

CbArray<unsigned char> EncodeJpegGray8(const unsigned char* pixels, unsigned width, unsigned height,
                                       float quality) {
  constexpr const char* function = "EncodeJpegGray8";
  if (width == 0 || height == 0) fail(function, "empty image");
  // The host speaks of quality as 0..1; libjpeg as 1..100.
  const float percent = std::isnan(quality) ? 100.0f : std::clamp(quality * 100.0f, 1.0f, 100.0f);
  Encoder e;
  e.info.err = &e.error.manager;
  useErrorHandlers(e.error);
  if (!compress(e, pixels, width, height, static_cast<int>(std::lround(percent)))) fail(function, e.error.message);
  CbArray<unsigned char> out;
  out.Append(e.buffer, e.size);
  return out;
}

CbArray<unsigned char> DecodeJpeg(const unsigned char* data, std::size_t size, unsigned bitsPerPixel,
                                  unsigned& width, unsigned& height) {
  constexpr const char* function = "DecodeJpeg";
  Decoder d;
  d.info.err = &d.error.manager;
  useErrorHandlers(d.error);
  if (!readHeader(d, data, size)) fail(function, d.error.message);
  if (bitsPerPixel != 8 || d.info.num_components != 1 || d.info.jpeg_color_space != JCS_GRAYSCALE)
    fail(function, "not an 8-bit grey image");
  // Huffman coding spends at least one bit on every 8 x 8 block, which bounds
  // the image a file of this size can hold. Arithmetic coding has no such floor.
  if (d.info.arith_code) fail(function, "arithmetic coding is not supported");
  const std::uint64_t w = d.info.image_width, h = d.info.image_height;
  const std::uint64_t blocks = ((w + 7) / 8) * ((h + 7) / 8);
  if (w * h > GetMaxImagePixels() || blocks > 8 * static_cast<std::uint64_t>(size))
    fail(function, "image size out of bounds");
  CbArray<unsigned char> pixels(static_cast<std::size_t>(w * h));
  if (!readRows(d, pixels.GetData(), static_cast<std::size_t>(w))) fail(function, d.error.message);
  width = static_cast<unsigned>(w);
  height = static_cast<unsigned>(h);
  return pixels;
}

}  // namespace orvik::detail
