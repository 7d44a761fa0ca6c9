// The coding of library entries: a matrix on its own (the stream form of the
// matrix), or its difference to a reference in one of four modes. A difference
// body is a mode byte followed by
//   0: matrix D, the entry minus the reference;
//   1: float invalid value; matrix X, 1.0 where exactly one of the two holds the
//      invalid value (validity mask, method 4); matrix E, the difference of both
//      fields in-painted;
//   2: float invalid value; matrix X as in 1; matrix P (PNG), the difference to
//      the in-painted reference exact in the blocks a JPEG would spoil and the
//      marker elsewhere; matrix Q (JPEG), the smooth rest;
//   3: float invalid value; matrix D, the difference to the in-painted
//      reference with the marker where the entry holds the invalid value (PNG,
//      marker exact).
// The reference is first brought to the entry's size about its centre.
#include <algorithm>
#include <cmath>

#include "orvik/storage/SSEMatrixLibrary.h"

namespace {

using Parameters = CSSEMatrix::UxSCompressionParameters;

float maxAbsDifference(const CSSEMatrix& a, const CSSEMatrix& b) {
  if (a.IsEmpty()) return 0.0f;
  CSSEMatrix difference(a);
  difference.SubMatrix(b);
  float maximum = 0.0f, minimum = 0.0f;
  difference.CalcMinMaxValues(&maximum, &minimum);
  if (maximum < minimum) return 0.0f;  // nothing but NaN
  return std::max(std::fabs(minimum), std::fabs(maximum));
}

// The PNG parameters of a part whose cells holding `marker` stay exact.
Parameters withExactMarker(const Parameters& given, float marker) {
  Parameters p = given;
  p.m_iMethod = 2;
  p.m_bUseInvalidValue = true;
  p.m_fInvalidValue = marker;
  return p;
}

}  // namespace

CSSEMatrix UxCSSEMatrixLibrary::inpainted(const CSSEMatrix& matrix, const CSSEMatrix& mask) {
  CSSEMatrix result(matrix);
  smooth(result, mask, c_iNumberOfSmoothingIterations, true);
  return result;
}

bool UxCSSEMatrixLibrary::serializeMatrix(CbStreamWriteBinary& stream, const CSSEMatrix& matrix,
                                          const CSSEMatrix::UxSCompressionParameters& parameters,
                                          float& error) {
  try {
    CSSEMatrix copy(matrix);
    copy.SetCompressionParameters(parameters);
    copy.Serialize(stream);
    error = copy.GetMaxAbsCompressionError();
    return true;
  } catch (...) {
    return false;
  }
}

bool UxCSSEMatrixLibrary::serializeMatrix(CbStreamReadBinary& stream, CSSEMatrix& matrix) {
  try {
    matrix.Serialize(stream);
    return true;
  } catch (...) {
    return false;
  }
}

bool UxCSSEMatrixLibrary::codePlain(CbStreamWriteBinary& stream, const CSSEMatrix& matrix,
                                    const CSSEMatrix::UxSCompressionParameters& parameters, float& error,
                                    CSSEMatrix& decoded) {
  CbStreamWriteBinaryBuffer body;
  float estimate = 0.0f;
  if (!serializeMatrix(body, matrix, parameters, estimate)) return false;
  CbStreamReadBinaryBuffer in(body.GetArray());
  if (!serializeMatrix(in, decoded)) return false;
  stream.WriteBuffer(body.GetData(), body.GetCount());
  error = maxAbsDifference(matrix, decoded);
  return true;
}

bool UxCSSEMatrixLibrary::serializeMatrix(CbStreamWriteBinary& stream, const CSSEMatrix& matrix,
                                          const CSSEMatrix& reference,
                                          const UxSCompressionParameters& parameters, float& error) const {
  CSSEMatrix decoded;
  return codeDifference(stream, matrix, reference, parameters, error, decoded);
}

bool UxCSSEMatrixLibrary::codeDifference(CbStreamWriteBinary& stream, const CSSEMatrix& current,
                                         const CSSEMatrix& reference,
                                         const UxSCompressionParameters& parameters, float& error,
                                         CSSEMatrix& decoded) const {
  const auto mode = static_cast<std::uint8_t>(parameters.m_iDifferenceMode);
  if (mode > 3) return false;
  const float invalid = parameters.m_fInvalidValue;
  const float marker = c_fDifferenceCodingPNGSpecialValue;
  const Parameters& matrixPart = parameters;
  try {
    // Modes 1 and 2 pad a smaller reference with the invalid value, as their
    // decoding does: new border cells are cells without data on both sides.
    CSSEMatrix resized(reference);
    if (!enforceMatrixSize(resized, current.GetSizeX(), current.GetSizeY(),
                           mode == 1 || mode == 2 ? &invalid : nullptr))
      return false;
    CbStreamWriteBinaryBuffer body;
    body.WriteUInt8(mode);
    float partError = 0.0f;
    CSSEMatrix currentMask, referenceMask;
    switch (mode) {
      case 0: {
        CSSEMatrix difference(current);
        difference.SubMatrix(resized);
        if (!serializeMatrix(body, difference, matrixPart, partError)) return false;
        break;
      }
      case 1: {
        if (!createAndSerializeDifferenceMask(body, current, resized, currentMask, referenceMask, invalid))
          return false;
        CSSEMatrix difference = inpainted(current, currentMask);
        difference.SubMatrix(inpainted(resized, referenceMask));
        if (!serializeMatrix(body, difference, matrixPart, partError)) return false;
        break;
      }
      case 2: {
        if (!createAndSerializeDifferenceMask(body, current, resized, currentMask, referenceMask, invalid))
          return false;
        CSSEMatrix difference(current);
        difference.SubMatrix(inpainted(resized, referenceMask));
        Parameters jpeg = matrixPart;
        jpeg.m_iMethod = 1;
        jpeg.m_bUseInvalidValue = false;
        jpeg.m_fMaxError = parameters.m_fJPEGMaxError;
        CSSEMatrix highError;
        if (!createHighEntropyMask(difference, highError, currentMask, jpeg, parameters.m_fMaxError))
          return false;
        // Exact part: the difference where the JPEG errs too much, the marker elsewhere.
        CSSEMatrix exact(difference), lowError;
        createMask(highError, lowError, 0.0f);
        applyMask(exact, lowError, marker);
        // JPEG part: everything the exact part or the missing data covers is
        // in-painted per block, so that the JPEG codes a smooth field.
        CSSEMatrix covered(currentMask);
        applyMask(covered, highError, 1.0f);
        CSSEMatrix rest(difference);
        if (!smoothBlock(rest, covered)) return false;
        if (!serializeMatrix(body, exact, withExactMarker(matrixPart, marker), partError) ||
            !serializeMatrix(body, rest, jpeg, partError))
          return false;
        break;
      }
      case 3: {
        body.WriteFloat(invalid);
        createMask(current, currentMask, invalid);
        createMask(resized, referenceMask, invalid);
        CSSEMatrix difference(current);
        difference.SubMatrix(inpainted(resized, referenceMask));
        applyMask(difference, currentMask, marker);
        if (!serializeMatrix(body, difference, withExactMarker(matrixPart, marker), partError)) return false;
        break;
      }
    }
    // The error is that of what a reader decodes from these bytes with this
    // reference, not the sum of the parts' errors.
    CbStreamReadBinaryBuffer in(body.GetArray());
    if (!serializeMatrix(in, decoded, reference)) return false;
    stream.WriteBuffer(body.GetData(), body.GetCount());
    error = maxAbsDifference(current, decoded);
    return true;
  } catch (...) {
    return false;
  }
}

bool UxCSSEMatrixLibrary::serializeMatrix(CbStreamReadBinary& stream, CSSEMatrix& matrix,
                                          const CSSEMatrix& reference) const {
  const float marker = c_fDifferenceCodingPNGSpecialValue;
  try {
    CSSEMatrix resized(reference), result;
    const std::uint8_t mode = stream.ReadUInt8();
    switch (mode) {
      case 0: {
        CSSEMatrix difference;
        if (!serializeMatrix(stream, difference) ||
            !enforceMatrixSize(resized, difference.GetSizeX(), difference.GetSizeY(), nullptr))
          return false;
        resized.AddMatrix(difference);
        result.takeMemoryFrom(resized);
        break;
      }
      case 1:
      case 2: {
        float invalid = 0.0f;
        CSSEMatrix currentMask, referenceMask, difference;
        if (!createAndSerializeDifferenceMask(stream, resized, currentMask, referenceMask, invalid))
          return false;
        if (mode == 1) {
          if (!serializeMatrix(stream, difference)) return false;
        } else {
          CSSEMatrix exact, rest;
          if (!serializeMatrix(stream, exact) || !serializeMatrix(stream, rest) ||
              !assembleMatrix(rest, exact, difference, marker))
            return false;
        }
        if (difference.GetSizeX() != resized.GetSizeX() || difference.GetSizeY() != resized.GetSizeY())
          return false;
        CSSEMatrix sum = inpainted(resized, referenceMask);
        sum.AddMatrix(difference);
        applyMask(sum, currentMask, invalid);
        result.takeMemoryFrom(sum);
        break;
      }
      case 3: {
        const float invalid = stream.ReadFloat();
        CSSEMatrix difference, referenceMask, missing;
        if (!serializeMatrix(stream, difference) ||
            !enforceMatrixSize(resized, difference.GetSizeX(), difference.GetSizeY(), nullptr))
          return false;
        createMask(resized, referenceMask, invalid);
        createMask(difference, missing, marker);
        CSSEMatrix sum = inpainted(resized, referenceMask);
        sum.AddMatrix(difference);
        applyMask(sum, missing, invalid);
        result.takeMemoryFrom(sum);
        break;
      }
      default:
        return false;
    }
    matrix.takeMemoryFrom(result);
    return true;
  } catch (...) {
    return false;
  }
}
