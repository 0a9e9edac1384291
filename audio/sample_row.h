#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace wavrell {

/// Allocator of sample rows. Growing a row gives zeros as usual, except
/// inside a TUnfilledGrowth scope on the same thread: there new samples are
/// left as they are, for a reader that writes every one of them right
/// after (filling hundreds of megabytes with zeros first costs as much as
/// decoding them).
template <class T>
struct TSampleAllocator : std::allocator<T> {
    using value_type = T;
    template <class U>
    struct rebind {
        using other = TSampleAllocator<U>;
    };

    TSampleAllocator() noexcept = default;
    template <class U>
    TSampleAllocator(const TSampleAllocator<U>&) noexcept {}

    template <class U>
    void construct(U* p) noexcept(noexcept(U())) {
        if (unfilled_growth())
            ::new (static_cast<void*>(p)) U;
        else
            ::new (static_cast<void*>(p)) U();
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    static bool& unfilled_growth() noexcept {
        thread_local bool on = false;
        return on;
    }
};

template <class T, class U>
bool operator==(const TSampleAllocator<T>&, const TSampleAllocator<U>&) noexcept {
    return true;
}

/// One channel's samples.
using TSampleRow = std::vector<int16_t, TSampleAllocator<int16_t>>;

/// While it lives, rows grown on this thread are not filled with zeros.
class TUnfilledGrowth {
public:
    TUnfilledGrowth() { TSampleAllocator<int16_t>::unfilled_growth() = true; }
    ~TUnfilledGrowth() { TSampleAllocator<int16_t>::unfilled_growth() = false; }
    TUnfilledGrowth(const TUnfilledGrowth&) = delete;
    TUnfilledGrowth& operator=(const TUnfilledGrowth&) = delete;
};

}  // namespace wavrell
