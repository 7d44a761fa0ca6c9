#include "orvik/foundation/Alloc.h"

#include <cstdint>
#include <cstdlib>

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

void* SafeAlignedAlloc(std::size_t size, std::size_t alignment) {
  if (alignment < sizeof(void*)) alignment = sizeof(void*);
  void* p = nullptr;
  if (posix_memalign(&p, alignment, size == 0 ? alignment : size) != 0 || !p) AfxThrowMemoryException();
  return p;
}

void SafeFree(void* p) { std::free(p); }

void SafeAlignedFree(void* p) { std::free(p); }
