#include "common/prefault.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace wavrell {

namespace {

uintptr_t page_size() {
    static const uintptr_t size = uintptr_t(::sysconf(_SC_PAGESIZE));
    return size;
}

}  // namespace

void advise_large_pages(void* p, size_t bytes) {
#ifdef MADV_HUGEPAGE
    // Only the whole pages inside the buffer: the advice is for its own.
    const uintptr_t page = page_size();
    const uintptr_t lo = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
    const uintptr_t hi = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(page - 1);
    if (hi > lo) ::madvise(reinterpret_cast<void*>(lo), hi - lo, MADV_HUGEPAGE);
#else
    (void)p, (void)bytes;
#endif
}

void fault_in(void* p, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    // Every page the piece touches, so that pieces meeting inside a page
    // leave none of it to fault on its own. Writing nothing, this changes
    // nothing of what the pages hold, whoever else uses them.
    if (bytes == 0) return;
    const uintptr_t page = page_size();
    const uintptr_t lo = reinterpret_cast<uintptr_t>(p) & ~(page - 1);
    const uintptr_t hi = (reinterpret_cast<uintptr_t>(p) + bytes + page - 1) & ~(page - 1);
    ::madvise(reinterpret_cast<void*>(lo), hi - lo, MADV_POPULATE_WRITE);
#else
    (void)p, (void)bytes;
#endif
}

void prefault(void* p, size_t bytes) {
    advise_large_pages(p, bytes);
    fault_in(p, bytes);
}

}  // namespace wavrell
