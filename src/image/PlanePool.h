#pragma once

// Recycled memory for large planes and transform workspaces.  Array, AccImage,
// RealFft2d::workspace, channelSpectrum and decompose take one when their caller has it.
//
// A block of a megabyte or more gets a mapping of its own (see PlaneAllocator.h).  A fresh
// mapping is zeroed page by page by the kernel when it is first touched, and scoring one image
// makes and frees hundreds of megabytes of such blocks: without recycling, the kernel clears
// every page of every plane of every image.  The pool keeps freed blocks and hands each to a
// later request: the smallest held block at least as large as the request and at most an
// eighth larger (so a plane never ties up a block twice its size), whose pages beyond the request
// go back to the system.  Blocks are sized in whole 2 MB huge pages, so that requests of nearly
// one size share blocks; only blocks of 4 MB or more ask for huge pages to back them.
//
// The pool's own peak does not rise, and what it once mapped it does not map again: when no
// held block fits, the new block is made of held blocks (the smallest first, of the last only
// the head that is needed) whose pages are moved into it (mremap moves page-table entries, not
// bytes), and only the rest of it is fresh memory; moved pages beyond the request go back to
// the system.  So the pool's total grows only when it holds nothing more: it stays within the
// most that was ever in use at once, and the kernel clears each page of it once, whatever the
// sizes asked for (save the pages given back beyond a request, when a later request needs them).
// Memory taken from the system by others while the pool holds idle blocks is another matter: a
// process's peak stays put only when all its large planes come from the pool, or when the owner
// calls trim() before others make theirs.  (The engine's pool therefore serves every large plane of
// scoring, down to the edge maps and the error map's weights; see Lumetra2.h.)
//
// Thread-safe: any number of threads take and give blocks at once.  A pool outlives the
// blocks it hands out (PlaneAllocator holds it by shared_ptr); giving a block to a pool that
// no longer keeps (after release()) unmaps it.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace lumetra {

class PlanePool {
  public:
    // Whether blocks of `bytes` come from the pool: those a megabyte or larger, on systems
    // where planes are mapped (not under AddressSanitizer, which must see every block).
    static bool serves(std::size_t bytes);

    // A fresh mapping of `bytes` (serves(bytes) must hold), asking for transparent huge pages
    // when it is large, and its unmapping: what the pool does when it holds nothing to reuse, and
    // what planes made without a pool do every time.  map throws std::bad_alloc when the system
    // refuses.
    static void* map(std::size_t bytes);
    static void unmap(void* block, std::size_t bytes) noexcept;

    // What a pool did since it was made (for tests and figures).
    struct Counts {
        std::uint64_t mapped = 0;     // blocks made: of fresh memory, held blocks' or both
        std::uint64_t reused = 0;     // requests served by a held block (of their size or more)
        std::uint64_t unmapped = 0;   // blocks given back to the system
        std::size_t heldBytes = 0;    // bytes held for reuse now
        std::size_t mappedBytes = 0;  // bytes mapped now: held and in use
        std::size_t peakMappedBytes = 0;
        std::size_t freshBytes = 0;     // bytes ever mapped afresh (what the kernel cleared)
        std::size_t lentBytes = 0;      // bytes of the blocks handed out and not yet given back
        std::size_t peakLentBytes = 0;  // never below peakMappedBytes (see above)
    };

    PlanePool() = default;
    ~PlanePool();
    PlanePool(const PlanePool&) = delete;
    PlanePool& operator=(const PlanePool&) = delete;

    // A block of at least `bytes` (serves(bytes) must hold), page-aligned: the smallest held
    // block that fits when there is one, else a new one of `bytes` rounded up to whole 2 MB
    // huge pages, made of held blocks' memory as far as it goes and fresh (zero) memory after.  A
    // reused block keeps whatever was written to it.  Throws std::bad_alloc when the system refuses
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
    // A page-aligned part of a held block, on its way into a new one.
    struct Piece {
        char* start;
        std::size_t bytes;
    };
    // Takes held blocks, the smallest first, until they make `bytes` or none are left; of the
    // last, only the head that is needed (its tail stays held).  Called with the lock held.
    std::vector<Piece> heldPieces(std::size_t bytes);
    // Moves the pages of `pieces` into the fresh mapping `block`, one after another from its
    // start: that part of the block holds memory that was touched before, which the kernel
    // need not clear again.
    // Gives the pages of a block beyond its request back to the system (they read as zero
    // when touched again): a plane served by a larger held block, or by a block made of held
    // blocks' pages, holds no more memory than its own size, whatever the block held before.
    static void dropTail(void* block, std::size_t size, std::size_t request) noexcept;
    static void gather(char* block, const std::vector<Piece>& pieces) noexcept;
    // Unmaps held blocks, the smallest first, until `bytes` are given back or none are left.
    // Called with the lock held.
    void unmapHeld(std::size_t bytes) noexcept;
    // Counts `bytes` more handed out.  Called with the lock held.
    void lend(std::size_t bytes) noexcept;

    mutable std::mutex _mutex;
    std::multimap<std::size_t, void*> _held;       // by size
    std::unordered_map<void*, std::size_t> _lent;  // the size of each block handed out
    bool _keeping = true;
    Counts _counts;
};

// A pool and its owner's end: the owner (an engine) shares the pool with the planes it hands
// out, which may outlive it (a comparison's error map); when the owner goes, or is assigned
// another pool, its pool is released, so that blocks coming back later are unmapped instead
// of held by a pool that nobody will ask again.
class OwnedPlanePool {
  public:
    OwnedPlanePool() : _pool(std::make_shared<PlanePool>()) {}
    ~OwnedPlanePool() {
        if (_pool) _pool->release();
    }
    OwnedPlanePool(const OwnedPlanePool&) = delete;
    OwnedPlanePool& operator=(const OwnedPlanePool&) = delete;
    OwnedPlanePool(OwnedPlanePool&&) noexcept = default;
    OwnedPlanePool& operator=(OwnedPlanePool&& other) noexcept {
        if (this != &other) {
            if (_pool) _pool->release();
            _pool = std::move(other._pool);
        }
        return *this;
    }

    // Null after a move.
    const std::shared_ptr<PlanePool>& get() const noexcept { return _pool; }

  private:
    std::shared_ptr<PlanePool> _pool;
};

}  // namespace lumetra
