#include "orvik/foundation/Alloc.h"

#include <cstdint>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

void* SafeMalloc(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (!p) AfxThrowMemoryException();
  return p;
}

void* SafeCalloc(std::size_t count, std::size_t size) {
  if (size != 0 && count > SIZE_MAX / size) AfxThrowMemoryException();
  void* p = std::calloc(count == 0 ? 1 : count, size == 0 ? 1 : size);
  if (!p) AfxThrowMemoryException();
  return p;
}

namespace {
constexpr std::size_t c_hugePage = std::size_t{2} << 20;

}  // namespace

void* SafeAlignedAlloc(std::size_t size, std::size_t alignment) {
  if (alignment < sizeof(void*)) alignment = sizeof(void*);
#if defined(__linux__)
  // Large matrices are touched page by page right after allocation, and a fault
  // per 4 KiB page can cost more than clearing the memory. Blocks of a huge page
  // or more start on a huge-page boundary and ask for huge pages over the whole
  // huge pages they contain (never beyond the block, so no memory is wasted);
  // where the kernel declines, nothing changes.
  const bool huge = size >= c_hugePage && alignment <= c_hugePage;
  if (huge) alignment = c_hugePage;
#endif
  void* p = nullptr;
  if (posix_memalign(&p, alignment, size == 0 ? alignment : size) != 0 || !p) AfxThrowMemoryException();
#if defined(__linux__)
  if (huge) madvise(p, size & ~(c_hugePage - 1), MADV_HUGEPAGE);
#endif
  return p;
}

void SafeFree(void* p) { std::free(p); }

void SafeAlignedFree(void* p) { std::free(p); }
