#include "orvik/foundation/codecs/ImageCodecs.h"

#include <atomic>
#include <cstring>

namespace orvik {
namespace {
std::atomic<std::uint64_t> g_maxImagePixels{c_uDefaultMaxImagePixels};
}  // namespace

std::uint64_t GetMaxImagePixels() noexcept { return g_maxImagePixels.load(std::memory_order_relaxed); }
void SetMaxImagePixels(std::uint64_t pixels) noexcept { g_maxImagePixels.store(pixels, std::memory_order_relaxed); }

}  // namespace orvik

namespace orvik::detail {

CbArray<unsigned char> DecodeImage(const unsigned char* data, std::size_t size, unsigned bitsPerPixel,
                                   unsigned& width, unsigned& height) {
  static constexpr unsigned char png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (size >= 8 && std::memcmp(data, png, 8) == 0) return DecodePng(data, size, bitsPerPixel, width, height);
  if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
    return DecodeJpeg(data, size, bitsPerPixel, width, height);
  if (size >= 4 && ((data[0] == 'I' && data[1] == 'I' && (data[2] == 42 || data[2] == 43) && data[3] == 0) ||
                    (data[0] == 'M' && data[1] == 'M' && data[2] == 0 && (data[3] == 42 || data[3] == 43))))
    return DecodeTiff(data, size, bitsPerPixel, width, height);
  throw CbException("ImageCodecs", __LINE__, "DecodeImage", "unknown image container");
}

}  // namespace orvik::detail
