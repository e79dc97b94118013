// UninitializedAllocator: the standard allocator, except that a vector's resize() leaves plain
// data uninitialized instead of writing zeros, for buffers that are filled right after (and
// whose pages are then first touched by the threads that fill them).
#pragma once

#include <memory>
#include <new>
#include <utility>

namespace Trelis {

template <typename T>
class UninitializedAllocator : public std::allocator<T> {
public:
    template <typename U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };

    UninitializedAllocator() noexcept = default;
    template <typename U>
    UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}

    template <typename U>
    void construct(U* at) {
        ::new (static_cast<void*>(at)) U;
    }
    template <typename U, typename... Args>
    void construct(U* at, Args&&... args) {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
};

}  // namespace Trelis
