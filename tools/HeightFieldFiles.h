#pragma once
#include <cstdint>
#include <string>

#include "ImageFiles.h"
#include "Options.h"
#include "orvik/matrix/ssematrix.h"

namespace orvik::tool {

// What a stored matrix announces before its body.
struct StoredHeader {
  bool archive = false;  // archive form with the class tag; otherwise the stream form
  bool tagless = false;  // the old archive form: sizes and raw values only
  std::uint32_t version = 0;
  std::int32_t sizeX = 0;
  std::int32_t sizeY = 0;
  int method = 0;
  std::uint32_t passes = 0;  // methods 1 to 3 only
};

// Reads the header of a stored matrix; throws std::runtime_error when the file
// is not one.
StoredHeader ReadStoredHeader(const std::string& path);
// Reads a stored matrix in either form.
void ReadStored(const std::string& path, CSSEMatrix& m);

// Reads a height field in any supported format; --scale (16-bit PNG) and
// --size WxH (raw float32) come from the options.
void ReadHeightField(const std::string& path, const Options& options, CSSEMatrix& m);
// Writes one in the format the path names. Returns the largest deviation of
// what was written from m, as read back.
float WriteHeightField(const std::string& path, const Options& options, const CSSEMatrix& m);

// Largest |a - b| over the logical elements (NaN where either is NaN and the
// other is not counts as infinite).
float MaxAbsDifference(const CSSEMatrix& a, const CSSEMatrix& b);

}  // namespace orvik::tool
