// The SSE4.1 kernels, the reference: built with the flags of the whole library.
#define ORVIK_KERNEL_NS sse41
#define ORVIK_KERNEL_WIDE X1
#include "orvik/matrix/kernels/MatrixKernels.simd.h"

const orvik::detail::MatrixKernels orvik::detail::g_sse41Kernels = orvik::detail::sse41::table(orvik::ECpuLevel::Sse41);
