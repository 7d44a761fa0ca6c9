#include "orvik/foundation/qe/JPEGWriter.h"

#include "orvik/foundation/codecs/ImageCodecs.h"

QeJPEGWriter::QeJPEGWriter(const CbArray<unsigned char>& pixels, unsigned int width, unsigned int height)
    : m_pixels(pixels), m_uiWidth(width), m_uiHeight(height) {}

void QeJPEGWriter::Serialize(CbStreamWriteBinary& stream) const {
  if (static_cast<std::uint64_t>(m_uiWidth) * m_uiHeight > m_pixels.GetCount())
    throw CbException("JPEGWriter", __LINE__, "QeJPEGWriter::Serialize", "fewer pixels than the image size");
  const CbArray<unsigned char> file =
      orvik::detail::EncodeJpegGray8(m_pixels.GetData(), m_uiWidth, m_uiHeight, m_fQuality);
  stream.WriteBuffer(file.GetData(), file.GetCount());
}
