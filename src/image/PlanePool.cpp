#include "image/PlanePool.h"

#include <algorithm>
#include <new>

// Under AddressSanitizer every block comes from the heap, where the sanitizer watches it.
#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__)
#define LUMETRA_MAPPED_PLANES 1
#include <sys/mman.h>
#endif

namespace lumetra {

namespace {

// Blocks of at least this many bytes get mappings of their own.
constexpr std::size_t kMappedBytes = std::size_t{1} << 20;

// A held block serves a request it exceeds by at most this part of the request: planes and
// integer maps of one size share blocks, a plane never ties up a transform workspace.
constexpr std::size_t kLargestExcessDivisor = 8;

}  // namespace

bool PlanePool::serves(std::size_t bytes) {
#if defined(LUMETRA_MAPPED_PLANES)
    return bytes >= kMappedBytes;
#else
    (void)bytes;
    return false;
#endif
}

void* PlanePool::map(std::size_t bytes) {
#if defined(LUMETRA_MAPPED_PLANES)
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    madvise(p, bytes, MADV_HUGEPAGE);  // a hint: refusal changes nothing
    return p;
#else
    (void)bytes;
    throw std::bad_alloc();
#endif
}

void PlanePool::unmap(void* block, std::size_t bytes) noexcept {
#if defined(LUMETRA_MAPPED_PLANES)
    munmap(block, bytes);
#else
    (void)block;
    (void)bytes;
#endif
}

PlanePool::~PlanePool() {
    release();
}

void* PlanePool::take(std::size_t bytes) {
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        const auto fit = _held.lower_bound(bytes);
        if (fit != _held.end() && fit->first - bytes <= bytes / kLargestExcessDivisor) {
            const auto [size, block] = *fit;
            _lent.emplace(block, size);  // may throw: nothing has changed yet
            _held.erase(fit);
            _counts.heldBytes -= size;
            ++_counts.reused;
            return block;
        }
        // Make room first: the new mapping must not come on top of idle blocks.
        unmapHeld(bytes);
        // Counted before mapping, so that no other thread's mapping can overtake this one's
        // room; taken back below if the system refuses.
        _counts.mappedBytes += bytes;
        _counts.peakMappedBytes = std::max(_counts.peakMappedBytes, _counts.mappedBytes);
        ++_counts.mapped;
    }
    void* block = nullptr;
    try {
        block = map(bytes);
        const std::lock_guard<std::mutex> lock(_mutex);
        _lent.emplace(block, bytes);
        return block;
    } catch (...) {
        if (block != nullptr) unmap(block, bytes);
        const std::lock_guard<std::mutex> lock(_mutex);
        _counts.mappedBytes -= bytes;
        --_counts.mapped;
        throw;
    }
}

void PlanePool::give(void* block, std::size_t bytes) noexcept {
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        const auto lent = _lent.find(block);
        if (lent != _lent.end()) {
            bytes = lent->second;  // a reused block may be larger than its request
            _lent.erase(lent);
        }
        if (_keeping) {
            try {
                _held.emplace(bytes, block);
                _counts.heldBytes += bytes;
                return;
            } catch (...) {
                // No room for the note: the block goes back to the system below.
            }
        }
        _counts.mappedBytes -= bytes;
        ++_counts.unmapped;
    }
    unmap(block, bytes);
}

void PlanePool::trim() noexcept {
    const std::lock_guard<std::mutex> lock(_mutex);
    unmapHeld(_counts.heldBytes);
}

void PlanePool::release() noexcept {
    const std::lock_guard<std::mutex> lock(_mutex);
    _keeping = false;
    unmapHeld(_counts.heldBytes);
}

PlanePool::Counts PlanePool::counts() const {
    const std::lock_guard<std::mutex> lock(_mutex);
    return _counts;
}

void PlanePool::unmapHeld(std::size_t bytes) noexcept {
    std::size_t freed = 0;
    while (freed < bytes && !_held.empty()) {
        const auto [size, block] = *_held.begin();
        _held.erase(_held.begin());
        unmap(block, size);
        freed += size;
        _counts.heldBytes -= size;
        _counts.mappedBytes -= size;
        ++_counts.unmapped;
    }
}

}  // namespace lumetra
