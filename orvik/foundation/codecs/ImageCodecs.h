#pragma once
// In-memory image coding over libpng, libjpeg-turbo and libtiff. Every encoder
// returns one complete image file; every decoder takes untrusted bytes and
// either returns the pixels or throws CbException (file "ImageCodecs"), so a
// library error never aborts the process or prints anything.
//
// Pixels travel as packed rows: (width * bitsPerPixel + 7) / 8 bytes per row,
// the most significant bit of a byte first for 1-bit images.
#include <cstddef>
#include <cstdint>

#include "orvik/foundation/Containers.h"

namespace orvik {

// The largest image, in pixels, that any image decoder of the library accepts
// (stored passes and masks, and the image files of the orvik program). A header
// that claims more is refused before anything is allocated. The default, 2^28
// pixels, lies far above any height field in use; a host that reads larger
// images raises it once at start-up. Process-wide; safe to read and set from
// any thread.
inline constexpr std::uint64_t c_uDefaultMaxImagePixels = std::uint64_t(1) << 28;
std::uint64_t GetMaxImagePixels() noexcept;
void SetMaxImagePixels(std::uint64_t pixels) noexcept;

}  // namespace orvik

namespace orvik::detail {

// Deflate expands at most about 1032:1, so compressed rows that need more
// bytes than this times the file's size cannot be genuine.
inline constexpr std::uint64_t c_uMaxDeflateRatio = 1100;

// 8-bit grey PNG.
CbArray<unsigned char> EncodePngGray8(const unsigned char* pixels, unsigned width, unsigned height);
// 8-bit grey baseline JPEG; quality in 0..1 as the host passes it.
CbArray<unsigned char> EncodeJpegGray8(const unsigned char* pixels, unsigned width, unsigned height,
                                       float quality);
// 1-bit TIFF, CCITT group 4, a set bit stored as white.
CbArray<unsigned char> EncodeTiffG4(const unsigned char* bits, unsigned width, unsigned height);

// Recognises the container (PNG, JPEG or TIFF) by its signature and decodes the
// first image. The image must already have the requested depth (8-bit grey or
// 1-bit); nothing is converted. A 1-bit image comes back with a set bit for white.
CbArray<unsigned char> DecodeImage(const unsigned char* data, std::size_t size, unsigned bitsPerPixel,
                                   unsigned& width, unsigned& height);

CbArray<unsigned char> DecodePng(const unsigned char* data, std::size_t size, unsigned bitsPerPixel,
                                 unsigned& width, unsigned& height);
CbArray<unsigned char> DecodeJpeg(const unsigned char* data, std::size_t size, unsigned bitsPerPixel,
                                  unsigned& width, unsigned& height);
CbArray<unsigned char> DecodeTiff(const unsigned char* data, std::size_t size, unsigned bitsPerPixel,
                                  unsigned& width, unsigned& height);

}  // namespace orvik::detail
