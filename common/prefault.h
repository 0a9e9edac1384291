#pragma once

#include <cstddef>

namespace wavrell {

/// Fresh memory of many megabytes otherwise costs one page fault per 4 KiB
/// when it is first written, which on some machines (virtual ones in
/// particular) takes longer than the work that fills it. So large buffers
/// are given the advice to use large pages and are faulted in with one call
/// before they are filled. The advice changes no contents; kernels that do
/// not know it ignore it.
void prefault(void* p, size_t bytes);

/// The two halves of prefault, for a buffer faulted in piece by piece (by
/// several threads, say): the large-page advice for all of it first, then
/// each piece.
void advise_large_pages(void* p, size_t bytes);
void fault_in(void* p, size_t bytes);

}  // namespace wavrell
