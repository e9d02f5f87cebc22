// Record arrays.

#include "trace_io/arrays.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

void ArrayFree::operator()(void* p) const { std::free(p); }

namespace {

// Record arrays are written once from start to end: on 2 MiB pages, the
// kernel takes one fault where it would take 512, and the array's memory is
// the same. Only the whole huge pages inside the array are advised; where
// the kernel has no such pages, the advice is ignored.
constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
void advise_huge_pages(void* p, size_t bytes) {
#ifdef MADV_HUGEPAGE
  if (p == nullptr || bytes < 2 * kHugePage) return;
  uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + kHugePage - 1) & ~(kHugePage - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kHugePage - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}

}  // namespace

void* allocate_bytes(size_t count, size_t size) {
  if (size != 0 && count > SIZE_MAX / size) return nullptr;
  size_t bytes = count * size;
  void* p = std::malloc(bytes == 0 ? 1 : bytes);
  advise_huge_pages(p, bytes);
  return p;
}

void* reallocate_bytes(void* p, size_t count, size_t size) {
  if (size != 0 && count > SIZE_MAX / size) return nullptr;
  size_t bytes = count * size;
  void* q = std::realloc(p, bytes == 0 ? 1 : bytes);
  advise_huge_pages(q, bytes);
  return q;
}
