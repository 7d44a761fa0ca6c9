// The stream and archive forms of a matrix: version word, sizes, method byte and
// the raw body; the compressed bodies live in ssematrix_compression.cpp.
#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "orvik/foundation/Exception.h"
#include "orvik/foundation/platform/Archive.h"
#include "orvik/foundation/platform/AtomicFile.h"
#include "orvik/foundation/platform/File.h"
#include "orvik/foundation/qe/StreamBinaryFile.h"
#include "orvik/matrix/ssematrix.h"

namespace {

constexpr std::uint32_t c_uiStreamVersion = 4;
constexpr char16_t c_szArchiveTag[] = u"CSSEMatrix";
constexpr std::uint64_t c_uArchiveTagLength = 10;

constexpr int c_iColumnsPerBlock = 64;

struct alignas(16) Lanes {
  float v[4];
};

}  // namespace

void CSSEMatrix::Serialize(CbStreamWriteBinary& stream) const {
  // The method byte is what a reader sees, so the body follows the byte, not
  // the full value: 258 is written and coded as method 2.
  const unsigned int method = static_cast<std::uint8_t>(m_compressionParameters.m_iMethod);
  if (method >= 1 && method <= 3 && m_compressionParameters.m_uiNumberOfPasses > 255)
    throw CbException("ssematrix", __LINE__, "CSSEMatrix::Serialize", "more than 255 passes");
  if (method <= 4 && !HasMemory() && m_iSizeX > 0)
    throw CbException("ssematrix", __LINE__, "CSSEMatrix::Serialize", "matrix without memory");
  checkQuantisable(method);

  stream.WriteVersion(c_uiStreamVersion);
  stream.WriteInt32(m_iSizeX);
  stream.WriteInt32(m_iSizeY);
  stream.WriteUInt8(static_cast<std::uint8_t>(method));
  switch (method) {
    case 0:
      writeRawBody(stream);
      m_fMaxAbsCompressionError = 0.0f;
      break;
    case 1:
    case 2:
    case 3:
      encodeMultiPass(stream, method);
      break;
    case 4:
      encodeCCITT4(stream);
      break;
    default:  // unknown methods carry no body
      break;
  }
}

void CSSEMatrix::Serialize(CbStreamReadBinary& stream) { serialize(stream, stream.ReadAndCompareVersion(c_uiStreamVersion)); }

void CSSEMatrix::serialize(CbStreamReadBinary& stream, unsigned int version) {
  std::int32_t sizeX = 0, sizeY = 0;
  if (version >= 1) {
    sizeX = stream.ReadInt32();
    sizeY = stream.ReadInt32();
  }
  if (sizeX < 0 || sizeY < 0) throw CbException("ssematrix", __LINE__, "CSSEMatrix::serialize", "negative size");
  // A matrix without columns still allocates its line table, so an empty width
  // counts as one column against the limit.
  const std::uint64_t lines = (sizeY >> 2) + 1;
  const std::uint64_t vectors = static_cast<std::uint64_t>(sizeX) * lines;
  if (std::max<std::uint64_t>(sizeX, 1) * lines > c_uMaxStoredVectors) throw CbException("ssematrix", __LINE__, "CSSEMatrix::serialize", "size too large");
  const unsigned int method = version >= 2 ? stream.ReadUInt8() : 0;
  // Nothing is allocated for the matrix before the data that fills it is known
  // to be there: a raw body must be present in full, and the compressed bodies
  // create the matrix only once their first image has decoded at its size.
  const std::uint64_t rawBytes = vectors * sizeof(__m128);
  const std::uint64_t remaining = stream.GetRemaining();
  if (method == 0 && rawBytes > remaining)
    throw CbException("ssematrix", __LINE__, "CSSEMatrix::serialize", "raw body longer than the data");

  m_compressionParameters.m_iMethod = static_cast<std::int32_t>(method);
  switch (method) {
    case 0:
      if (remaining == UINT64_MAX && rawBytes > 0) {
        // A source that cannot tell its length: collect the body first, in
        // steps, so that a short source ends before the matrix is created.
        std::vector<unsigned char> body;
        constexpr std::size_t chunk = std::size_t(1) << 20;
        for (std::size_t done = 0; done < rawBytes;) {
          const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, rawBytes - done));
          body.resize(done + n);
          stream.ReadBuffer(body.data() + done, n);
          done += n;
        }
        ensureSize(sizeX, sizeY);
        CbStreamReadBinaryBuffer collected(body.data(), body.size());
        readRawBody(collected);
      } else {
        ensureSize(sizeX, sizeY);
        readRawBody(stream);
      }
      break;
    case 1:
    case 2:
    case 3:
      decodeMultiPass(stream, version, sizeX, sizeY);
      break;
    case 4:
      decodeCCIT4(stream, sizeX, sizeY);
      break;
    default:
      ensureSize(sizeX, sizeY);
      break;
  }
}

void CSSEMatrix::ensureSize(int sizeX, int sizeY) {
  if (sizeX != m_iSizeX || sizeY != m_iSizeY || !HasMemory()) Create(sizeX, sizeY);
}

// The raw body runs column by column, each column top to bottom over the SSE
// lines, spare lanes included. Columns go in blocks: gathering one column alone
// would touch every line once per vector, a page apart, while a block reads a
// run of vectors from each line and goes to the stream as one write.
void CSSEMatrix::writeRawBody(CbStreamWriteBinary& stream) const {
  if (m_iSizeX == 0) return;
  const int lines = m_iSSESizeY;
  std::vector<Lanes> block(static_cast<std::size_t>(std::min(m_iSizeX, c_iColumnsPerBlock)) * lines);
  for (int x0 = 0; x0 < m_iSizeX; x0 += c_iColumnsPerBlock) {
    const int columns = std::min(c_iColumnsPerBlock, m_iSizeX - x0);
    for (int g = 0; g < lines; ++g) {
      const float* line = reinterpret_cast<const float*>(m_ppLines[g] + x0);
      for (int k = 0; k < columns; ++k) _mm_store_ps(block[k * lines + g].v, _mm_load_ps(line + 4 * k));
    }
    stream.WriteBuffer(block.data(), static_cast<std::size_t>(columns) * lines * sizeof(Lanes));
  }
}

void CSSEMatrix::readRawBody(CbStreamReadBinary& stream) {
  if (m_iSizeX == 0) return;
  const int lines = m_iSSESizeY;
  std::vector<Lanes> block(static_cast<std::size_t>(std::min(m_iSizeX, c_iColumnsPerBlock)) * lines);
  for (int x0 = 0; x0 < m_iSizeX; x0 += c_iColumnsPerBlock) {
    const int columns = std::min(c_iColumnsPerBlock, m_iSizeX - x0);
    stream.ReadBuffer(block.data(), static_cast<std::size_t>(columns) * lines * sizeof(Lanes));
    for (int g = 0; g < lines; ++g) {
      float* line = reinterpret_cast<float*>(m_ppLines[g] + x0);
      for (int k = 0; k < columns; ++k) _mm_store_ps(line + 4 * k, _mm_load_ps(block[k * lines + g].v));
    }
  }
}

void CSSEMatrix::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    AfxWriteStringLength(ar, c_uArchiveTagLength, true);
    ar.Write(c_szArchiveTag, c_uArchiveTagLength * sizeof(char16_t));
    QeStreamWriteBinaryFile stream(ar);
    Serialize(stream);
    return;
  }
  ar.Flush();
  const std::uint64_t start = ar.GetFile()->GetPosition();
  CString tag;
  ar >> tag;
  if (tag == CString("CSSEMatrix")) {
    QeStreamReadBinaryFile stream(ar);
    serialize(stream, stream.ReadAndCompareVersion(c_uiStreamVersion));
    return;
  }
  // No tag: the older form, a bare version-1 body from the start.
  ar.Flush();
  ar.GetFile()->Seek(static_cast<std::int64_t>(start), CFile::begin);
  QeStreamReadBinaryFile stream(ar);
  serialize(stream, 1);
}

bool CSSEMatrix::Load(CString path) {
  CFile file;
  CFileException error;
  if (!file.Open(path, CFile::modeRead, &error)) return false;
  CArchive ar(&file, CArchive::load, 4096);
  Serialize(ar);
  ar.Close();
  file.Close();
  return true;
}

// A file that cannot be created is reported as false, as callers expect; any
// later failure throws CFileException and keeps the previous file, so true
// always means the whole matrix is on disk.
bool CSSEMatrix::Store(CString path) {
  std::optional<CAtomicFile> file;
  try {
    file.emplace(path);
  } catch (const CFileException&) {
    return false;
  }
  CArchive ar(&*file, CArchive::store, 4096);
  Serialize(ar);
  ar.Close();
  file->Commit();
  return true;
}
