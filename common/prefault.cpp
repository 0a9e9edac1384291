#include "common/prefault.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace wavrell {

void prefault(void* p, size_t bytes) {
    const uintptr_t page = uintptr_t(::sysconf(_SC_PAGESIZE));
    const uintptr_t lo = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
    const uintptr_t hi = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(page - 1);
    if (hi <= lo) return;
#ifdef MADV_HUGEPAGE
    ::madvise(reinterpret_cast<void*>(lo), hi - lo, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
    ::madvise(reinterpret_cast<void*>(lo), hi - lo, MADV_POPULATE_WRITE);
#endif
}

}  // namespace wavrell
