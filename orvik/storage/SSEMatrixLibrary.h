#pragma once
// UxCSSEMatrixLibrary: many height fields under string identifiers in one file.
// An entry is coded on its own or as a difference to another entry, its
// reference, so that a series of similar fields costs little more than its
// changes. Entries come from matrix files (AddSSEMatrix) or from a library file
// opened with Init, whose bodies are read on demand; Store writes every entry
// into a new library file.
//
// Library file, in the foundation stream encoding: the string
// "SSEMatrixLibrary", a version word (2 when written), the entry count, one
// record per entry (identifier; position, from version 1; reference
// identifier, from version 2), then the entry bodies at their positions. A
// version-2 body is a matrix stream, or for an entry with a reference a mode
// byte followed by the difference matrices of that mode (see
// SSEMatrixLibrary_coding.cpp).
#include <cstdint>

#include "orvik/foundation/Containers.h"
#include "orvik/foundation/Stream.h"
#include "orvik/foundation/platform/File.h"
#include "orvik/foundation/platform/String.h"
#include "orvik/matrix/ssematrix.h"

class UxCSSEMatrixLibrary {
 public:
  struct UxSCompressionParameters : CSSEMatrix::UxSCompressionParameters {
    UxSCompressionParameters() = default;
    // The matrix part as given, no difference coding options.
    explicit UxSCompressionParameters(const CSSEMatrix::UxSCompressionParameters& p)
        : CSSEMatrix::UxSCompressionParameters(p) {}
    UxSCompressionParameters(const UxSCompressionParameters&) = default;
    UxSCompressionParameters& operator=(const UxSCompressionParameters&) = default;
    virtual ~UxSCompressionParameters() = default;

    // 0: the plain difference; 1: validity-mask difference and the difference
    // of both fields in-painted; 2: as 1, the difference split into exact PNG
    // blocks and a JPEG rest; 3: the difference to the in-painted reference,
    // invalid cells as an exact PNG marker.
    std::int32_t m_iDifferenceMode = 0;
    float m_fJPEGMaxError = 0.0f;  // mode 2: tolerated error of the JPEG part
  };

  struct SFileInfo {
    static constexpr std::uint64_t c_uNoPosition = ~std::uint64_t(0);

    std::uint64_t m_uiPosition = c_uNoPosition;  // body offset in the library file
    CString m_strFilePath;                       // matrix file of an added entry
    CString m_strReferenceID;                    // empty: coded on its own
    bool m_bUseOwnParameters = false;
    UxSCompressionParameters m_parameters;
  };

  static constexpr int c_iNumberOfSmoothingIterations = 100;
  // The largest finite float: the marker that PNG-coded difference parts keep exact.
  static constexpr float c_fDifferenceCodingPNGSpecialValue = 3.4028235e38f;

  UxCSSEMatrixLibrary();
  UxCSSEMatrixLibrary(const UxCSSEMatrixLibrary&) = delete;
  UxCSSEMatrixLibrary& operator=(const UxCSSEMatrixLibrary&) = delete;
  virtual ~UxCSSEMatrixLibrary();

  // Opens a library file and reads its entry map; the file stays open for the
  // loads. A file that cannot be read whole (bad tag, newer version, truncated
  // map, positions outside the file, repeated identifiers, references to
  // missing entries or in a cycle) gives false and an empty library.
  bool Init(const CString& path);
  // False, changing nothing, for an identifier already present, a missing file
  // or a reference that is not present.
  bool AddSSEMatrix(const CString& id, const CString& filePath, const CString& referenceId,
                    const UxSCompressionParameters& parameters);
  bool AddSSEMatrix(const CString& id, const CString& filePath,
                    const CSSEMatrix::UxSCompressionParameters& parameters);
  bool AddSSEMatrix(const CString& id, const CString& filePath);
  bool LoadSSEMatrix(const CString& id, CSSEMatrix& matrix) const;
  // Writes every entry into a new library file; the previous file at `path`
  // stays intact unless the new one is complete. False when an entry fails,
  // when writing fails, or when `path` is the file this library was opened from.
  bool Store(const CString& path) const;

  CbArray<CString> GetIDs() const;
  unsigned int GetNumberOfEntries() const { return static_cast<unsigned int>(m_entries.GetCount()); }
  const UxSCompressionParameters& GetDefaultCompressionParameters() const { return m_defaultParameters; }
  void SetDefaultCompressionParameters(const UxSCompressionParameters& p) { m_defaultParameters = p; }
  // The largest error of any entry in the last successful Store, measured
  // against what a reader of that file decodes.
  float GetMaxAbsCompressionError() const { return m_fMaxAbsCompressionError; }

 protected:
  // The library's value of an entry (its matrix file, or its body in the opened
  // library file); with encodeDecode, the entry as a reader of a library stored
  // now will see it, every reference coded as the new file holds it.
  bool loadSSEMatrix(const CString& id, CSSEMatrix& matrix, bool encodeDecode) const;

  // Reading an entry body of the opened library file, against the library's
  // value of its reference; the difference decoding; plain reading.
  bool serializeMatrix(CbStreamReadBinary& stream, CSSEMatrix& matrix, const CString& referenceId) const;
  bool serializeMatrix(CbStreamReadBinary& stream, CSSEMatrix& matrix, const CSSEMatrix& reference) const;
  static bool serializeMatrix(CbStreamReadBinary& stream, CSSEMatrix& matrix);
  // Writing an entry as Store codes it; the difference coding; plain coding.
  // `error` is the largest deviation of what a reader decodes.
  bool serializeMatrix(CbStreamWriteBinary& stream, const CSSEMatrix& matrix, const SFileInfo& info,
                       float& error) const;
  bool serializeMatrix(CbStreamWriteBinary& stream, const CSSEMatrix& matrix, const CSSEMatrix& reference,
                       const UxSCompressionParameters& parameters, float& error) const;
  static bool serializeMatrix(CbStreamWriteBinary& stream, const CSSEMatrix& matrix,
                              const CSSEMatrix::UxSCompressionParameters& parameters, float& error);

  void serializePositionMap(CbStreamReadBinary& stream, CbMap<CString, SFileInfo>& entries) const;
  void serializePositionMap(CbStreamWriteBinary& stream, const CbMap<CString, SFileInfo>& entries) const;

  // --- Masks and in-painting (SSEMatrixLibrary_masks.cpp) ---
  // A mask holds 1.0 for a marked cell and 0.0 elsewhere; readers take any
  // non-zero value as marked. Operations on two matrices return false, doing
  // nothing, when their sizes differ; a result of another size is re-created.
  // Only the logical cells are read and written.
  static void createMask(const CSSEMatrix& source, CSSEMatrix& mask, float value);  // 1.0 where equal
  static bool applyMask(CSSEMatrix& matrix, const CSSEMatrix& mask, float value);   // value where marked
  // primary, or fallback where primary equals special.
  static bool assembleMatrix(const CSSEMatrix& fallback, const CSSEMatrix& primary, CSSEMatrix& result,
                             float special);
  // Crops or enlarges about the centre; new cells take *fill or, without it,
  // values grown from the border by in-painting.
  static bool enforceMatrixSize(CSSEMatrix& matrix, int sizeX, int sizeY, const float* fill);
  // Carries the last unmarked value along the rows (alongX) or columns of the
  // region into the marked cells after it, unmarking them in `mask`.
  static bool extrapolate(CSSEMatrix& matrix, CSSEMatrix& mask, bool alongX, bool forward, int x0, int x1,
                          int y0, int y1);
  // In-painting of the marked cells of the region x0 <= x < x1, y0 <= y < y1
  // (clamped to the matrix): initial values by extrapolation or the mean of the
  // unmarked cells, then Jacobi iterations of the four-neighbour mean.
  static bool smooth(CSSEMatrix& matrix, const CSSEMatrix& mask, unsigned int iterations,
                     bool extrapolateFirst, int x0, int x1, int y0, int y1);
  static bool smooth(CSSEMatrix& matrix, const CSSEMatrix& mask, unsigned int iterations,
                     bool extrapolateFirst);
  // In-painting limited to 8 x 8 blocks; fully marked blocks take the mean of
  // all unmarked cells.
  static bool smoothBlock(CSSEMatrix& matrix, const CSSEMatrix& mask);
  // Marks the unmarked cells of every 8 x 8 block in which coding with
  // `parameters` (given a fixed range here) errs by more than threshold.
  static bool createHighEntropyMask(const CSSEMatrix& matrix, CSSEMatrix& highErrorMask,
                                    const CSSEMatrix& mask, CSSEMatrix::UxSCompressionParameters& parameters,
                                    float threshold);
  // The invalid value and the mask of cells whose validity differs between
  // current and reference (a validity-mask matrix); reading brings the
  // reference to the stored size and rebuilds both masks.
  bool createAndSerializeDifferenceMask(CbStreamWriteBinary& stream, const CSSEMatrix& current,
                                        const CSSEMatrix& reference, CSSEMatrix& currentMask,
                                        CSSEMatrix& referenceMask, float invalidValue) const;
  bool createAndSerializeDifferenceMask(CbStreamReadBinary& stream, CSSEMatrix& reference,
                                        CSSEMatrix& currentMask, CSSEMatrix& referenceMask,
                                        float& invalidValue) const;

 private:
  class CChainWalk;

  const UxSCompressionParameters& parametersOf(const SFileInfo& info) const {
    return info.m_bUseOwnParameters ? info.m_parameters : m_defaultParameters;
  }
  // Throws CbException for a map a stored library never holds.
  void checkEntries(const CbMap<CString, SFileInfo>& entries, std::uint64_t bodiesStart,
                    std::uint64_t length) const;
  // Plain and difference coding that also hand back what a reader decodes and
  // measure the error against it.
  static bool codePlain(CbStreamWriteBinary& stream, const CSSEMatrix& matrix,
                        const CSSEMatrix::UxSCompressionParameters& parameters, float& error,
                        CSSEMatrix& decoded);
  bool codeDifference(CbStreamWriteBinary& stream, const CSSEMatrix& current, const CSSEMatrix& reference,
                      const UxSCompressionParameters& parameters, float& error, CSSEMatrix& decoded) const;
  // A copy of the matrix with its masked cells in-painted as the difference coding does it.
  static CSSEMatrix inpainted(const CSSEMatrix& matrix, const CSSEMatrix& mask);
  // The library's value of one entry given the value of its reference (read
  // only for a body of the opened file that is coded against it).
  bool readEntry(const SFileInfo& info, const CSSEMatrix* reference, CSSEMatrix& matrix) const;

  UxSCompressionParameters m_defaultParameters;
  CbMap<CString, SFileInfo> m_entries{128};
  std::uint32_t m_uiFileVersion = 0;
  mutable CFile m_file;  // loads move its position
  CString m_strFilePath;
  mutable float m_fMaxAbsCompressionError = 0.0f;
};
