#pragma once
// Height fields in ordinary image files, for trying the library on one's own
// data: 16-bit grey PNG (heights = sample / scale), 32-bit float TIFF, raw
// little-endian float32, and 8-bit PNG pictures. Every failure throws
// std::runtime_error with a message meant for the user.
#include <cstdint>
#include <string>
#include <vector>

#include "orvik/matrix/ssematrix.h"

namespace orvik::tool {

enum class FileFormat { Stored, Png16, FloatTiff, RawFloat, Unknown };

// By extension: .png, .tif/.tiff, .raw/.f32, .ssem (stored matrix); otherwise
// by the first bytes of an existing file.
FileFormat FormatOf(const std::string& path);
const char* FormatName(FileFormat f);

void ReadPng16(const std::string& path, float scale, CSSEMatrix& m);
// Heights are scaled and rounded into 0 .. 65535 (clamped).
void WritePng16(const std::string& path, float scale, const CSSEMatrix& m);
void ReadFloatTiff(const std::string& path, CSSEMatrix& m);
void WriteFloatTiff(const std::string& path, const CSSEMatrix& m);
void ReadRawFloat(const std::string& path, int sizeX, int sizeY, CSSEMatrix& m);
void WriteRawFloat(const std::string& path, const CSSEMatrix& m);

// An 8-bit picture, row-major, 1 (grey) or 3 (RGB) channels.
struct Picture {
  int width = 0;
  int height = 0;
  int channels = 1;
  std::vector<std::uint8_t> pixels;
};
// Written fast rather than small: pictures are previews.
void WritePicture(const std::string& path, const Picture& p);

}  // namespace orvik::tool
