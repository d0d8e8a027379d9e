#pragma once

// Memory for image planes.  A plane of a megabyte or more gets a mapping of its own, asking
// for transparent huge pages: it goes back to the system the moment it is freed (the planes of
// one image come and go band by band; from the general heap they would stay behind as
// fragments and swell the peak), and it is brought in 2 MB at a time instead of 4 kB, which
// saves most of the page faults of a fresh plane.  Smaller blocks come from the heap.
//
// An allocator made with a PlanePool takes its large blocks from the pool and gives them back
// to it, so that a plane freed by one image serves the next instead of being mapped (and
// cleared by the kernel) again.  Copies of a container keep its pool, and so do moves.

#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "image/PlanePool.h"

namespace lumetra {

template <typename T>
class PlaneAllocator {
  public:
    using value_type = T;
    using propagate_on_container_copy_assignment = std::true_type;
    using propagate_on_container_move_assignment = std::true_type;
    using propagate_on_container_swap = std::true_type;
    using is_always_equal = std::false_type;

    PlaneAllocator() noexcept = default;
    explicit PlaneAllocator(std::shared_ptr<PlanePool> pool) noexcept : _pool(std::move(pool)) {}
    template <typename U>
    PlaneAllocator(const PlaneAllocator<U>& other) noexcept : _pool(other.pool()) {}

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        const std::size_t bytes = n * sizeof(T);
        if (PlanePool::serves(bytes)) {
            return static_cast<T*>(_pool ? _pool->take(bytes) : PlanePool::map(bytes));
        }
        return std::allocator<T>().allocate(n);
    }

    void deallocate(T* p, std::size_t n) noexcept {
        const std::size_t bytes = n * sizeof(T);
        if (PlanePool::serves(bytes)) {
            if (_pool) {
                _pool->give(p, bytes);
            } else {
                PlanePool::unmap(p, bytes);
            }
            return;
        }
        std::allocator<T>().deallocate(p, n);
    }

    // An element made without a value is default-initialised, not value-initialised: a
    // container of numbers sized without a value is left unset (Array's kUninitialised).
    // Containers that want zeros pass T() as the value.
    template <typename U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    const std::shared_ptr<PlanePool>& pool() const noexcept { return _pool; }

    template <typename U>
    bool operator==(const PlaneAllocator<U>& other) const noexcept {
        return _pool == other.pool();
    }
    template <typename U>
    bool operator!=(const PlaneAllocator<U>& other) const noexcept {
        return !(*this == other);
    }

  private:
    std::shared_ptr<PlanePool> _pool;  // null: map and unmap every large block
};

}  // namespace lumetra
