#pragma once
#include "orvik/storage/SSEMatrixLibrary.h"
#include "support/fields.h"
#include "support/storage.h"

// The library with its coding steps opened to the tests.
class Lib : public UxCSSEMatrixLibrary {
 public:
  using UxCSSEMatrixLibrary::applyMask;
  using UxCSSEMatrixLibrary::assembleMatrix;
  using UxCSSEMatrixLibrary::createAndSerializeDifferenceMask;
  using UxCSSEMatrixLibrary::createHighEntropyMask;
  using UxCSSEMatrixLibrary::createMask;
  using UxCSSEMatrixLibrary::enforceMatrixSize;
  using UxCSSEMatrixLibrary::extrapolate;
  using UxCSSEMatrixLibrary::loadSSEMatrix;
  using UxCSSEMatrixLibrary::serializeMatrix;
  using UxCSSEMatrixLibrary::smooth;
  using UxCSSEMatrixLibrary::smoothBlock;
};
