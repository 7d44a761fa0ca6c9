// The AVX2 kernels; CMakeLists.txt gives this file its target flags.
#define ORVIK_KERNEL_NS avx2
#define ORVIK_KERNEL_WIDE X2
#include "orvik/matrix/kernels/MatrixKernels.simd.h"

const orvik::detail::MatrixKernels orvik::detail::g_avx2Kernels = orvik::detail::avx2::table(orvik::ECpuLevel::Avx2);
