#pragma once
// Allocation functions that never return null: a failure raises
// CMemoryException. All SIMD data is allocated 16-byte aligned through them.
#include <cstddef>

#include "orvik/foundation/platform/Exceptions.h"

void* SafeMalloc(std::size_t size);
void* SafeCalloc(std::size_t count, std::size_t size);
void* SafeAlignedAlloc(std::size_t size, std::size_t alignment);
void SafeFree(void* p);
void SafeAlignedFree(void* p);
