#pragma once

// Memory for image planes.  A plane of a megabyte or more gets a mapping of its own, asking
// for transparent huge pages: it goes back to the system the moment it is freed (the planes of
// one image come and go band by band; from the general heap they would stay behind as
// fragments and swell the peak), and it is brought in 2 MB at a time instead of 4 kB, which
// saves most of the page faults of a fresh plane.  Smaller blocks come from the heap.

#include <cstddef>
#include <memory>
#include <new>

// Under AddressSanitizer every block comes from the heap, where the sanitizer watches it.
#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__)
#define LUMETRA_MAPPED_PLANES 1
#include <sys/mman.h>
#endif

namespace lumetra {

template <typename T>
class PlaneAllocator {
  public:
    using value_type = T;

    PlaneAllocator() noexcept = default;
    template <typename U>
    PlaneAllocator(const PlaneAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
#if defined(LUMETRA_MAPPED_PLANES)
        if (n >= kMappedElements) {
            if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
            void* p = mmap(nullptr, n * sizeof(T), PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (p == MAP_FAILED) throw std::bad_alloc();
            madvise(p, n * sizeof(T), MADV_HUGEPAGE);  // a hint: refusal changes nothing
            return static_cast<T*>(p);
        }
#endif
        return std::allocator<T>().allocate(n);
    }

    void deallocate(T* p, std::size_t n) noexcept {
#if defined(LUMETRA_MAPPED_PLANES)
        if (n >= kMappedElements) {
            munmap(p, n * sizeof(T));
            return;
        }
#endif
        std::allocator<T>().deallocate(p, n);
    }

    template <typename U>
    bool operator==(const PlaneAllocator<U>&) const noexcept {
        return true;
    }

  private:
    static constexpr std::size_t kMappedBytes = std::size_t{1} << 20;
    static constexpr std::size_t kMappedElements = (kMappedBytes + sizeof(T) - 1) / sizeof(T);
};

}  // namespace lumetra
