#pragma once

#include <memory>
#include <new>
#include <utility>

namespace wavrell {

/// Allocator that lets a vector grow without filling the new entries with
/// zeros, for large buffers that are written in full right after they are
/// sized (filling hundreds of megabytes with zeros first costs about as
/// much as writing them). Fill::zeros() decides at each growth: true gives
/// zeros as usual (value-initialized), false leaves the entries as they are
/// (default-initialized: plain numbers unset).
template <class T, class Fill>
struct TGrowthAllocator : std::allocator<T> {
    using value_type = T;
    template <class U>
    struct rebind {
        using other = TGrowthAllocator<U, Fill>;
    };

    TGrowthAllocator() noexcept = default;
    template <class U>
    TGrowthAllocator(const TGrowthAllocator<U, Fill>&) noexcept {}

    template <class U>
    void construct(U* p) noexcept(noexcept(U())) {
        if (Fill::zeros())
            ::new (static_cast<void*>(p)) U();
        else
            ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

template <class T, class U, class Fill>
bool operator==(const TGrowthAllocator<T, Fill>&, const TGrowthAllocator<U, Fill>&) noexcept {
    return true;
}

/// Never zeros: for tables whose builders write every entry they size.
struct TNeverFill {
    static constexpr bool zeros() noexcept { return false; }
};

template <class T>
using TNoFillAllocator = TGrowthAllocator<T, TNeverFill>;

}  // namespace wavrell
