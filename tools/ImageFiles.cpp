#include "ImageFiles.h"

#include <png.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "orvik/foundation/codecs/ImageCodecs.h"
#include "orvik/foundation/platform/AtomicFile.h"

namespace orvik::tool {

namespace {


std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File openFile(const std::string& path, const char* mode) {
  File f(std::fopen(path.c_str(), mode));
  if (!f) throw std::runtime_error("cannot open '" + path + "': " + std::strerror(errno));
  return f;
}

// libpng reports errors through longjmp; the message is kept for the exception.
struct PngError {
  char message[256] = "";
};
void pngError(png_structp png, png_const_charp msg) {
  auto* e = static_cast<PngError*>(png_get_error_ptr(png));
  std::snprintf(e->message, sizeof e->message, "%s", msg);
  png_longjmp(png, 1);
}
void pngWarning(png_structp, png_const_charp) {}

// Decodes a 16-bit PNG into native-order samples of one or three channels. The
// work that may longjmp touches only plain data, never C++ objects with
// destructors, so no destructor is skipped.
bool decodePng16(std::FILE* f, std::uint64_t fileSize, std::vector<std::uint8_t>& out, png_uint_32& w,
                 png_uint_32& h, int& channels, PngError& err) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &err, pngError, pngWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  // Changed between setjmp and a possible longjmp, hence volatile.
  png_bytep* volatile rows = nullptr;
  if (setjmp(png_jmpbuf(png))) {
    std::free(rows);
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, f);
  png_set_user_limits(png, 1u << 16, 1u << 16);
  png_read_info(png, info);
  w = png_get_image_width(png, info);
  h = png_get_image_height(png, info);
  const int bits = png_get_bit_depth(png, info);
  if (bits != 16) {
    std::snprintf(err.message, sizeof err.message, "expected a 16-bit PNG, found %d bits per sample", bits);
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  if (png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA) png_set_strip_alpha(png);
  png_set_swap(png);  // PNG stores big-endian samples
  png_read_update_info(png, info);
  channels = png_get_channels(png, info);
  const std::size_t rowBytes = png_get_rowbytes(png, info);
  // The header is not believed beyond what the file can hold: the pixel limit
  // and the most that deflate can expand the file to.
  if (static_cast<std::uint64_t>(w) * h > GetMaxImagePixels() ||
      (static_cast<std::uint64_t>(rowBytes) + 1) * h > orvik::detail::c_uMaxDeflateRatio * fileSize) {
    std::snprintf(err.message, sizeof err.message, "image size %ux%u out of bounds", static_cast<unsigned>(w),
                  static_cast<unsigned>(h));
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  out.resize(rowBytes * h);
  rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * h));
  if (!rows) png_error(png, "out of memory");
  for (png_uint_32 y = 0; y < h; ++y) rows[y] = out.data() + rowBytes * y;
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  std::free(rows);
  rows = nullptr;
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

// fast: the lowest compression level and one cheap filter, for previews that
// are looked at rather than kept.
bool encodePng(std::FILE* f, int width, int height, int channels, int bits, const std::uint8_t* data,
               PngError& err, bool fast = false) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &err, pngError, pngWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, f);
  if (fast) {
    png_set_compression_level(png, 1);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  }
  png_set_IHDR(png, info, width, height, bits, channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  if (bits == 16) png_set_swap(png);
  const std::size_t rowBytes = static_cast<std::size_t>(width) * channels * (bits / 8);
  for (int y = 0; y < height; ++y) png_write_row(png, data + rowBytes * y);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

struct TiffMessage {
  static inline thread_local std::string last;
  static void handler(const char* module, const char* fmt, va_list ap) {
    char buf[256];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    last = std::string(module ? module : "tiff") + ": " + buf;
  }
};

struct TiffCloser {
  void operator()(TIFF* t) const {
    if (t) TIFFClose(t);
  }
};

void checkWritable(const CSSEMatrix& m) {
  if (!m.HasMemory() || m.IsEmpty()) throw std::runtime_error("the height field is empty");
}

}  // namespace

FileFormat FormatOf(const std::string& path) {
  const std::string p = lower(path);
  if (endsWith(p, ".png")) return FileFormat::Png16;
  if (endsWith(p, ".tif") || endsWith(p, ".tiff")) return FileFormat::FloatTiff;
  if (endsWith(p, ".raw") || endsWith(p, ".f32")) return FileFormat::RawFloat;
  if (endsWith(p, ".ssem")) return FileFormat::Stored;
  std::ifstream in(path, std::ios::binary);
  unsigned char head[8] = {};
  if (!in.read(reinterpret_cast<char*>(head), sizeof head)) return FileFormat::Unknown;
  if (head[0] == 0x89 && head[1] == 'P' && head[2] == 'N' && head[3] == 'G') return FileFormat::Png16;
  if ((head[0] == 'I' && head[1] == 'I' && head[2] == 42) || (head[0] == 'M' && head[1] == 'M' && head[3] == 42))
    return FileFormat::FloatTiff;
  return FileFormat::Stored;  // the stored forms have no magic of their own beyond the tag
}

const char* FormatName(FileFormat f) {
  switch (f) {
    case FileFormat::Stored: return "stored matrix";
    case FileFormat::Png16: return "16-bit PNG";
    case FileFormat::FloatTiff: return "32-bit float TIFF";
    case FileFormat::RawFloat: return "raw float32";
    default: return "unknown";
  }
}

void ReadPng16(const std::string& path, float scale, CSSEMatrix& m) {
  if (!(scale > 0.0f)) throw std::runtime_error("--scale must be positive");
  File f = openFile(path, "rb");
  struct stat st {};
  if (::fstat(::fileno(f.get()), &st) != 0) throw std::runtime_error("cannot read '" + path + "'");
  std::vector<std::uint8_t> data;
  png_uint_32 w = 0, h = 0;
  int channels = 0;
  PngError err;
  if (!decodePng16(f.get(), static_cast<std::uint64_t>(st.st_size), data, w, h, channels, err))
    throw std::runtime_error("'" + path + "' is not a readable 16-bit PNG: " + err.message);
  if (channels != 1) throw std::runtime_error("'" + path + "' is not a grey PNG");
  m.Create(static_cast<int>(w), static_cast<int>(h));
  const auto* samples = reinterpret_cast<const std::uint16_t*>(data.data());
  for (png_uint_32 y = 0; y < h; ++y)
    for (png_uint_32 x = 0; x < w; ++x)
      m.SetPointUnsafe(static_cast<int>(x), static_cast<int>(y), static_cast<float>(samples[y * w + x]) / scale);
}

void WritePng16(const std::string& path, float scale, const CSSEMatrix& m) {
  checkWritable(m);
  if (!(scale > 0.0f)) throw std::runtime_error("--scale must be positive");
  std::vector<std::uint16_t> samples(static_cast<std::size_t>(m.GetSizeX()) * m.GetSizeY());
  for (int y = 0; y < m.GetSizeY(); ++y)
    for (int x = 0; x < m.GetSizeX(); ++x) {
      const float v = std::nearbyint(m.GetPointUnsafe(x, y) * scale);
      samples[static_cast<std::size_t>(y) * m.GetSizeX() + x] =
          static_cast<std::uint16_t>(std::isnan(v) ? 0.0f : std::clamp(v, 0.0f, 65535.0f));
    }
  CAtomicFile file(path.c_str());
  PngError err;
  if (!encodePng(file.GetStream(), m.GetSizeX(), m.GetSizeY(), 1, 16,
                 reinterpret_cast<const std::uint8_t*>(samples.data()), err))
    throw std::runtime_error("cannot write '" + path + "': " + err.message);
  file.Commit();
}

void ReadFloatTiff(const std::string& path, CSSEMatrix& m) {
  TIFFSetErrorHandler(TiffMessage::handler);
  TIFFSetWarningHandler(nullptr);
  std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(path.c_str(), "r"));
  if (!tif) throw std::runtime_error("cannot read '" + path + "' as TIFF: " + TiffMessage::last);
  std::uint32_t w = 0, h = 0;
  std::uint16_t bits = 0, samples = 1, format = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG;
  TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PLANARCONFIG, &planar);
  if (bits != 32 || samples != 1 || format != SAMPLEFORMAT_IEEEFP)
    throw std::runtime_error("'" + path + "' is not a one-channel 32-bit float TIFF");
  if (TIFFIsTiled(tif.get())) throw std::runtime_error("'" + path + "': tiled TIFF files are not supported");
  if (w == 0 || h == 0 || static_cast<std::uint64_t>(w) * h > GetMaxImagePixels())
    throw std::runtime_error("'" + path + "': implausible image size");
  if (TIFFScanlineSize64(tif.get()) != static_cast<std::uint64_t>(w) * 4)
    throw std::runtime_error("'" + path + "': unexpected row layout");
  // The rows are collected as they decode and the matrix is created at the
  // end, so a header whose strips are not in the file costs no more than the
  // rows that were really there.
  std::vector<float> pixels;
  for (std::uint32_t y = 0; y < h; ++y) {
    pixels.resize(static_cast<std::size_t>(y + 1) * w);
    if (TIFFReadScanline(tif.get(), pixels.data() + static_cast<std::size_t>(y) * w, y, 0) < 0)
      throw std::runtime_error("'" + path + "': " + TiffMessage::last);
  }
  m.Create(static_cast<int>(w), static_cast<int>(h));
  for (std::uint32_t y = 0; y < h; ++y)
    for (std::uint32_t x = 0; x < w; ++x)
      m.SetPointUnsafe(static_cast<int>(x), static_cast<int>(y), pixels[static_cast<std::size_t>(y) * w + x]);
}

void WriteFloatTiff(const std::string& path, const CSSEMatrix& m) {
  checkWritable(m);
  TIFFSetErrorHandler(TiffMessage::handler);
  TIFFSetWarningHandler(nullptr);
  // libtiff writes through its own descriptor on the temporary; Commit() then
  // syncs the same file.
  CAtomicFile file(path.c_str());
  const int fd = ::dup(::fileno(file.GetStream()));
  if (fd < 0) throw std::runtime_error("cannot write '" + path + "': " + std::strerror(errno));
  std::unique_ptr<TIFF, TiffCloser> tif(TIFFFdOpen(fd, path.c_str(), "w"));
  if (!tif) {
    ::close(fd);
    throw std::runtime_error("cannot write '" + path + "': " + TiffMessage::last);
  }
  TIFF* t = tif.get();
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(m.GetSizeX()));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(m.GetSizeY()));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 32);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
  std::vector<float> row(m.GetSizeX());
  for (int y = 0; y < m.GetSizeY(); ++y) {
    for (int x = 0; x < m.GetSizeX(); ++x) row[x] = m.GetPointUnsafe(x, y);
    if (TIFFWriteScanline(t, row.data(), static_cast<std::uint32_t>(y), 0) < 0)
      throw std::runtime_error("cannot write '" + path + "': " + TiffMessage::last);
  }
  if (!TIFFFlush(t)) throw std::runtime_error("cannot write '" + path + "': " + TiffMessage::last);
  tif.reset();
  file.Commit();
}

void ReadRawFloat(const std::string& path, int sizeX, int sizeY, CSSEMatrix& m) {
  if (sizeX < 1 || sizeY < 1) throw std::runtime_error("raw float32 input needs --size WxH");
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw std::runtime_error("cannot open '" + path + "'");
  const auto bytes = static_cast<std::uint64_t>(in.tellg());
  const std::uint64_t want = static_cast<std::uint64_t>(sizeX) * static_cast<std::uint64_t>(sizeY) * 4;
  if (bytes != want)
    throw std::runtime_error("'" + path + "' holds " + std::to_string(bytes) + " bytes, but --size " +
                             std::to_string(sizeX) + "x" + std::to_string(sizeY) + " needs " + std::to_string(want));
  in.seekg(0);
  m.Create(sizeX, sizeY);
  std::vector<float> row(sizeX);
  for (int y = 0; y < sizeY; ++y) {
    in.read(reinterpret_cast<char*>(row.data()), static_cast<std::streamsize>(row.size() * 4));
    for (int x = 0; x < sizeX; ++x) m.SetPointUnsafe(x, y, row[x]);
  }
  if (!in) throw std::runtime_error("cannot read '" + path + "'");
}

void WriteRawFloat(const std::string& path, const CSSEMatrix& m) {
  checkWritable(m);
  CAtomicFile file(path.c_str());
  std::vector<float> row(m.GetSizeX());
  for (int y = 0; y < m.GetSizeY(); ++y) {
    for (int x = 0; x < m.GetSizeX(); ++x) row[x] = m.GetPointUnsafe(x, y);
    file.Write(row.data(), row.size() * 4);
  }
  file.Commit();
}

void WritePicture(const std::string& path, const Picture& p) {
  CAtomicFile file(path.c_str());
  PngError err;
  if (!encodePng(file.GetStream(), p.width, p.height, p.channels, 8, p.pixels.data(), err, true))
    throw std::runtime_error("cannot write '" + path + "': " + err.message);
  file.Commit();
}

}  // namespace orvik::tool
