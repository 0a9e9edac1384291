#pragma once

#include <memory>
#include <new>
#include <utility>

namespace wavrell {

/// Allocator for large tables that are written in full right after they
/// are sized: growing the vector leaves new entries default-initialized
/// (plain numbers unset) instead of filling them with zeros first, a pass
/// over many megabytes that would cost about as much as filling them.
template <class T>
struct TNoFillAllocator : std::allocator<T> {
    using value_type = T;
    template <class U>
    struct rebind {
        using other = TNoFillAllocator<U>;
    };

    TNoFillAllocator() noexcept = default;
    template <class U>
    TNoFillAllocator(const TNoFillAllocator<U>&) noexcept {}

    template <class U>
    void construct(U* p) noexcept(noexcept(U())) {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

template <class T, class U>
bool operator==(const TNoFillAllocator<T>&, const TNoFillAllocator<U>&) noexcept {
    return true;
}

}  // namespace wavrell
