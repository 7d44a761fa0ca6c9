#include "orvik/foundation/CpuLevel.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace orvik {
namespace {

ECpuLevel detect() {
  __builtin_cpu_init();
  // The wide kernels use the byte, double-word and vector-length extensions
  // beside the foundation; every processor with AVX-512 in use has them.
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl"))
    return ECpuLevel::Avx512;
  if (__builtin_cpu_supports("avx2")) return ECpuLevel::Avx2;
  return ECpuLevel::Sse41;
}

ECpuLevel lowered(ECpuLevel level) {
  const ECpuLevel supported = GetSupportedCpuLevel();
  return static_cast<int>(level) < static_cast<int>(supported) ? level : supported;
}

// The level asked for by ORVIK_CPU; the supported one when it is unset or
// names no level.
ECpuLevel fromEnvironment() {
  const char* name = std::getenv("ORVIK_CPU");
  if (name)
    for (ECpuLevel level : {ECpuLevel::Sse41, ECpuLevel::Avx2, ECpuLevel::Avx512})
      if (std::strcmp(name, CpuLevelName(level)) == 0) return lowered(level);
  return GetSupportedCpuLevel();
}

std::atomic<int>& current() {
  static std::atomic<int> level{static_cast<int>(fromEnvironment())};
  return level;
}

}  // namespace

ECpuLevel GetSupportedCpuLevel() {
  static const ECpuLevel supported = detect();
  return supported;
}

ECpuLevel GetCpuLevel() { return static_cast<ECpuLevel>(current().load(std::memory_order_relaxed)); }

ECpuLevel SetCpuLevel(ECpuLevel level) {
  const ECpuLevel effective = lowered(level);
  current().store(static_cast<int>(effective), std::memory_order_relaxed);
  return effective;
}

const char* CpuLevelName(ECpuLevel level) {
  switch (level) {
    case ECpuLevel::Avx512: return "avx512";
    case ECpuLevel::Avx2: return "avx2";
    default: return "sse4.1";
  }
}

}  // namespace orvik
