#pragma once

#include "common/growth_allocator.h"

#include <cstdint>
#include <vector>

namespace wavrell {

/// Growing a sample row gives zeros as usual, except inside a
/// TUnfilledGrowth scope on the same thread: there new samples are left as
/// they are, for a reader that writes every one of them right after.
struct TSampleRowFill {
    static bool zeros() noexcept { return !unfilled(); }
    static bool& unfilled() noexcept {
        thread_local bool on = false;
        return on;
    }
};

/// Allocator of sample rows.
template <class T>
using TSampleAllocator = TGrowthAllocator<T, TSampleRowFill>;

/// One channel's samples.
using TSampleRow = std::vector<int16_t, TSampleAllocator<int16_t>>;

/// While it lives, rows grown on this thread are not filled with zeros.
class TUnfilledGrowth {
public:
    TUnfilledGrowth() { TSampleRowFill::unfilled() = true; }
    ~TUnfilledGrowth() { TSampleRowFill::unfilled() = false; }
    TUnfilledGrowth(const TUnfilledGrowth&) = delete;
    TUnfilledGrowth& operator=(const TUnfilledGrowth&) = delete;
};

}  // namespace wavrell
