#include "orvik/foundation/Alloc.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <vector>

#if defined(__linux__)
#include <malloc.h>
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

#if defined(__linux__)
// Freed large blocks (the fields of big matrices) kept for the next request
// of about their size. An operation that replaces a matrix with a fresh
// result of the same size, or a loop that makes one and drops it, then reuses
// memory that is already mapped instead of having every page of a new block
// faulted in and cleared by the system. At most c_keptBytes are kept; a block
// serves requests down to seven eighths of its size.
class BlockRecycler {
 public:
  void* take(std::size_t size, std::size_t alignment) {
    if (size < c_smallest) return nullptr;
    const std::lock_guard<std::mutex> lock(m_mutex);
    for (std::size_t i = 0; i < m_blocks.size(); ++i) {
      const Block b = m_blocks[i];
      if (b.size >= size && b.size - size <= size / 8 && reinterpret_cast<std::uintptr_t>(b.p) % alignment == 0) {
        m_blocks[i] = m_blocks.back();
        m_blocks.pop_back();
        m_bytes -= b.size;
        return b.p;
      }
    }
    return nullptr;
  }
  // False when p is not kept and must be freed.
  bool keep(void* p) {
    const std::size_t size = malloc_usable_size(p);
    if (size < c_smallest || size > c_keptBytes) return false;
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bytes + size > c_keptBytes) return false;
    try {
      m_blocks.push_back({p, size});
    } catch (...) {
      return false;
    }
    m_bytes += size;
    return true;
  }

 private:
  static constexpr std::size_t c_smallest = std::size_t{256} << 10;
  static constexpr std::size_t c_keptBytes = std::size_t{64} << 20;
  struct Block {
    void* p;
    std::size_t size;
  };
  std::mutex m_mutex;
  std::vector<Block> m_blocks;
  std::size_t m_bytes = 0;
};

// Never destroyed: matrices with static storage free their memory after
// every function-local static has gone.
BlockRecycler& recycler() {
  static BlockRecycler* const instance = new BlockRecycler;
  return *instance;
}
#endif

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
#if defined(__linux__)
  if ((p = recycler().take(size, alignment))) return p;
#endif
  if (posix_memalign(&p, alignment, size == 0 ? alignment : size) != 0 || !p) AfxThrowMemoryException();
#if defined(__linux__)
  if (huge) madvise(p, size & ~(c_hugePage - 1), MADV_HUGEPAGE);
#endif
  return p;
}

void SafeFree(void* p) { std::free(p); }

void SafeAlignedFree(void* p) {
#if defined(__linux__)
  if (p && recycler().keep(p)) return;
#endif
  std::free(p);
}
