#include "orvik/matrix/kernels/MatrixKernels.h"

namespace orvik::detail {

const MatrixKernels& matrixKernels(ECpuLevel level) {
  switch (level) {
    case ECpuLevel::Avx512: return g_avx512Kernels;
    case ECpuLevel::Avx2: return g_avx2Kernels;
    default: return g_sse41Kernels;
  }
}

const MatrixKernels& matrixKernels() { return matrixKernels(GetCpuLevel()); }

}  // namespace orvik::detail
