#include <cstdio>

#include "Commands.h"
#include "HeightFieldFiles.h"
#include "Progress.h"

namespace orvik::tool {

namespace {
const char* const c_help =
    "usage: orvik convert IN OUT [options]\n"
    "\n"
    "Converts a height field between a stored matrix (.ssem, archive form), a 16-bit\n"
    "grey PNG (.png), a 32-bit float TIFF (.tif) and raw float32 (.raw), and prints the\n"
    "largest error of what was written.\n"
    "\n"
    "options:\n"
    "  --method M        compression of a stored matrix: 0 raw (default), 1 JPEG passes,\n"
    "                    2 PNG passes, 3 PNG then JPEG passes, 4 validity mask\n"
    "  --passes P        passes of methods 1 to 3 (0 to 255, default 1)\n"
    "  --max-error E     tolerated error of the last pass (default 0: finest)\n"
    "  --jpeg-quality Q  quality of JPEG passes, 0 to 1 (default 0.95)\n"
    "  --invalid V       V marks pixels without data; kept exactly\n"
    "  --scale S         16-bit PNG: heights = sample / S (default 1000)\n"
    "  --size WxH        size of raw float32 input\n";
}  // namespace

int RunConvert(int argc, char** argv) {
  const Options options(argc, argv, {"method", "passes", "max-error", "jpeg-quality", "invalid", "scale", "size"},
                        {"help"});
  if (options.Has("help")) {
    std::fputs(c_help, stdout);
    return 0;
  }
  if (options.Positional().size() != 2) throw UsageError("convert takes IN and OUT");
  const std::string& in = options.Positional()[0];
  const std::string& out = options.Positional()[1];

  Progress progress("convert");
  CSSEMatrix m;
  ReadHeightField(in, options, m);
  progress.Update(0.3);

  CSSEMatrix::UxSCompressionParameters p = m.GetCompressionParameters();
  p.m_iMethod = options.GetInt("method", 0, 0, 4);
  p.m_uiNumberOfPasses = static_cast<unsigned>(options.GetInt("passes", 1, 0, 255));
  p.m_fMaxError = options.GetFloat("max-error", 0.0f);
  p.m_fJPEGQuality = options.GetFloat("jpeg-quality", 0.95f);
  if (p.m_fMaxError < 0.0f) throw UsageError("--max-error must not be negative");
  if (p.m_fJPEGQuality < 0.0f || p.m_fJPEGQuality > 1.0f) throw UsageError("--jpeg-quality must be from 0 to 1");
  if (options.Has("invalid")) {
    p.m_bUseInvalidValue = true;
    p.m_fInvalidValue = options.GetFloat("invalid", 0.0f);
  }
  m.SetCompressionParameters(p);

  const float error = WriteHeightField(out, options, m);
  progress.Update(1.0);
  std::printf("%s (%s, %d x %d) -> %s (%s): maximum error %.6g\n", in.c_str(), FormatName(FormatOf(in)),
              m.GetSizeX(), m.GetSizeY(), out.c_str(), FormatName(FormatOf(out)), error);
  return 0;
}

}  // namespace orvik::tool
