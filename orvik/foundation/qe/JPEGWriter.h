#pragma once
// Writes an 8-bit grey image (row-major pixels) as a JPEG file.
#include "orvik/foundation/Containers.h"
#include "orvik/foundation/Stream.h"

class QeJPEGWriter {
public:
  // Keeps a reference to the pixels; they must outlive Serialize.
  QeJPEGWriter(const CbArray<unsigned char>& pixels, unsigned int width, unsigned int height);
  // 0 (smallest file) to 1 (best quality).
  void SetQuality(float quality) { m_fQuality = quality; }
  // Writes the file's bytes, nothing else. An empty or short pixel array, or an
  // encoder failure, throws CbException before anything is written.
  void Serialize(CbStreamWriteBinary& stream) const;

private:
  const CbArray<unsigned char>& m_pixels;
  unsigned int m_uiWidth;
  unsigned int m_uiHeight;
  float m_fQuality = 0.95f;
};
