#pragma once

// Recycled memory for large planes and transform workspaces.  Array, AccImage,
// RealFft2d::workspace, channelSpectrum and decompose take one when their caller has it.
//
// A block of a megabyte or more gets a mapping of its own (see PlaneAllocator.h).  A fresh
// mapping is zeroed page by page by the kernel when it is first touched, and scoring one image
// makes and frees hundreds of megabytes of such blocks: without recycling, the kernel clears
// every page of every plane of every image.  The pool keeps freed blocks and hands each to a
// later request: the smallest held block at least as large as the request and at most an
// eighth larger (so a plane never ties up a block twice its size).
//
// The pool's own peak does not rise: when no held block fits, the pool unmaps held blocks (the
// smallest first) until it has given back at least as many bytes as it is about to map, or holds
// nothing, and only then maps a new block.  So a new mapping never makes the pool's total
// larger than the larger of its total before and the bytes in use: the total stays within the
// most that was ever in use at once.  Memory taken from the system by others while the pool
// holds idle blocks is another matter: a process's peak stays put only when all its large
// planes come from the pool, or when the owner calls trim() before others make theirs.  (The
// engine has no pool yet for that reason: with the edge maps' and the error map's planes made
// elsewhere, the idle blocks raised its peak at 3840 x 2160 by about 4 %.)
//
// Thread-safe: any number of threads take and give blocks at once.  A pool outlives the
// blocks it hands out (PlaneAllocator holds it by shared_ptr); giving a block to a pool that
// no longer keeps (after release()) unmaps it.

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <unordered_map>

namespace lumetra {

class PlanePool {
  public:
    // Whether blocks of `bytes` come from the pool: those a megabyte or larger, on systems
    // where planes are mapped (not under AddressSanitizer, which must see every block).
    static bool serves(std::size_t bytes);

    // A fresh mapping of `bytes` (serves(bytes) must hold), asking for transparent huge pages,
    // and its unmapping: what the pool does when it holds nothing to reuse, and what planes
    // made without a pool do every time.  map throws std::bad_alloc when the system refuses.
    static void* map(std::size_t bytes);
    static void unmap(void* block, std::size_t bytes) noexcept;

    // What a pool did since it was made (for tests and figures).
    struct Counts {
        std::uint64_t mapped = 0;     // blocks mapped afresh
        std::uint64_t reused = 0;     // requests served by a held block (of their size or more)
        std::uint64_t unmapped = 0;   // blocks given back to the system
        std::size_t heldBytes = 0;    // bytes held for reuse now
        std::size_t mappedBytes = 0;  // bytes mapped now: held and in use
        std::size_t peakMappedBytes = 0;
    };

    PlanePool() = default;
    ~PlanePool();
    PlanePool(const PlanePool&) = delete;
    PlanePool& operator=(const PlanePool&) = delete;

    // A block of at least `bytes` (serves(bytes) must hold), page-aligned: the smallest held
    // block that fits when there is one, else a new mapping (its pages zero).  A reused
    // block keeps whatever was written to it.  Throws std::bad_alloc when the system refuses
    // the mapping.
    void* take(std::size_t bytes);

    // Returns a block that take(bytes) gave, with the same `bytes`; it is held for reuse.
    void give(void* block, std::size_t bytes) noexcept;

    // Unmaps every held block; blocks given back later are held again.
    void trim() noexcept;

    // Unmaps every held block, and from now on unmaps blocks as they are given back: for an
    // owner that is done, while blocks it handed out may still live elsewhere.
    void release() noexcept;

    Counts counts() const;

  private:
    // Unmaps held blocks, the smallest first, until `bytes` are given back or none are left.
    // Called with the lock held.
    void unmapHeld(std::size_t bytes) noexcept;

    mutable std::mutex _mutex;
    std::multimap<std::size_t, void*> _held;       // by size
    std::unordered_map<void*, std::size_t> _lent;  // the size of each block handed out
    bool _keeping = true;
    Counts _counts;
};

}  // namespace lumetra
