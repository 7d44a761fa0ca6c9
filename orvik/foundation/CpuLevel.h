#pragma once
// The instruction-set level the library's hot kernels run at. Every kernel has
// an SSE4.1 form, the reference; wider forms give the same results bit for bit
// and are chosen once at run time from the processor's features. The
// environment variable ORVIK_CPU (sse4.1, avx2 or avx512) lowers the level at
// the first use; SetCpuLevel changes it later, for tests and comparisons.
namespace orvik {

enum class ECpuLevel { Sse41 = 0, Avx2 = 1, Avx512 = 2 };

// The level in effect.
ECpuLevel GetCpuLevel();
// The highest level this processor (and the operating system) supports.
ECpuLevel GetSupportedCpuLevel();
// Sets the level, lowered to the supported one; returns the level in effect.
// Not meant to be called while another thread runs a kernel.
ECpuLevel SetCpuLevel(ECpuLevel level);
// "sse4.1", "avx2", "avx512".
const char* CpuLevelName(ECpuLevel level);

}  // namespace orvik
