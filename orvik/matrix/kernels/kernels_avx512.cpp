// The AVX-512 kernels; CMakeLists.txt gives this file its target flags.
#define ORVIK_KERNEL_NS avx512
#define ORVIK_KERNEL_WIDE X4
#include "orvik/matrix/kernels/MatrixKernels.simd.h"

const orvik::detail::MatrixKernels orvik::detail::g_avx512Kernels = orvik::detail::avx512::table(orvik::ECpuLevel::Avx512);
