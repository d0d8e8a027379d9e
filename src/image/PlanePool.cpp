#include "image/PlanePool.h"

#include <algorithm>
#include <new>
#include <vector>

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

// Blocks are sized in whole huge pages: requests of nearly the same size (the transform
// workspaces of neighbouring band widths, a plane and a spectrum of as many bytes give or take
// a few rows) get blocks of one size and serve one another.  The part of a block beyond its
// request costs memory only where it is touched.
constexpr std::size_t kBlockGrain = std::size_t{2} << 20;

// Blocks this large ask for huge pages, which spare the system one fault and one accounting
// step per 4 KB page: a 1920 x 1080 pair takes 54 thousand page faults instead of 253 thousand
// and half the system time, a 3840 x 2160 pair 113 thousand instead of 756 thousand.  A huge
// page is resident whole once any byte of it is touched, so a block carries up to a huge page
// of its request's tail unused: below this size that could double a block (a 1 MB plane of a
// 512 x 512 image took 2 MB); the planes and spectra of large images fill their last huge page
// nearly whole (peaks 0.7 % and 0.2 % higher at those two sizes).
constexpr std::size_t kHugePagedBytes = std::size_t{4} << 20;

constexpr std::size_t kPageBytes = 4096;

std::size_t blockBytes(std::size_t bytes) {
    return (bytes + kBlockGrain - 1) / kBlockGrain * kBlockGrain;
}

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
    if (bytes >= kHugePagedBytes)
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

void PlanePool::gather(char* block, const std::vector<Piece>& pieces) noexcept {
    std::size_t offset = 0;
    for (const Piece& piece : pieces) {
#if defined(LUMETRA_MAPPED_PLANES)
        // Moves the piece's pages (their page-table entries, not their bytes) over the part of
        // the fresh mapping at `offset`, which goes.  Should the system refuse, the piece is
        // unmapped and that part stays fresh.
        if (mremap(piece.start, piece.bytes, piece.bytes, MREMAP_MAYMOVE | MREMAP_FIXED,
                   block + offset) == MAP_FAILED) {
            munmap(piece.start, piece.bytes);
        }
#else
        (void)block;
#endif
        offset += piece.bytes;
    }
}

void PlanePool::dropTail(void* block, std::size_t size, std::size_t request) noexcept {
#if defined(LUMETRA_MAPPED_PLANES)
    const std::size_t used = (request + kPageBytes - 1) / kPageBytes * kPageBytes;
    if (size > used) madvise(static_cast<char*>(block) + used, size - used, MADV_DONTNEED);
#else
    (void)block;
    (void)size;
    (void)request;
#endif
}

PlanePool::~PlanePool() {
    release();
}

void* PlanePool::take(std::size_t request) {
    const std::size_t bytes = blockBytes(request);
    std::vector<Piece> pieces;
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        const auto fit = _held.lower_bound(bytes);
        if (fit != _held.end() && fit->first - bytes <= bytes / kLargestExcessDivisor) {
            const auto [size, block] = *fit;
            _lent.emplace(block, size);  // may throw: nothing has changed yet
            _held.erase(fit);
            _counts.heldBytes -= size;
            ++_counts.reused;
            lend(size);
            dropTail(block, size, request);
            return block;
        }
        // No held block fits: the new block is made of the memory of held ones (see gather),
        // and only what they lack is fresh.  Counted before mapping, so that no other
        // thread's block can overtake this one's room; taken back below if the system refuses.
        pieces = heldPieces(bytes);
        std::size_t moved = 0;
        for (const Piece& piece : pieces) moved += piece.bytes;
        _counts.heldBytes -= moved;
        _counts.mappedBytes += bytes - moved;
        _counts.peakMappedBytes = std::max(_counts.peakMappedBytes, _counts.mappedBytes);
        _counts.freshBytes += bytes - moved;
        ++_counts.mapped;
        lend(bytes);
    }
    void* block = nullptr;
    try {
        block = map(bytes);
        gather(static_cast<char*>(block), pieces);
        dropTail(block, bytes, request);
        const std::lock_guard<std::mutex> lock(_mutex);
        _lent.emplace(block, bytes);
        return block;
    } catch (...) {
        if (block != nullptr) unmap(block, bytes);
        const std::lock_guard<std::mutex> lock(_mutex);
        std::size_t moved = 0;
        for (const Piece& piece : pieces) moved += piece.bytes;
        // The pieces went down with the block when they were moved into it; otherwise they
        // are unmapped here.  Either way they are gone, and so is the block.
        if (block == nullptr) {
            for (const Piece& piece : pieces) unmap(piece.start, piece.bytes);
        }
        _counts.mappedBytes -= bytes;
        _counts.freshBytes -= bytes - moved;
        _counts.lentBytes -= bytes;
        ++_counts.unmapped;
        throw;
    }
}

std::vector<PlanePool::Piece> PlanePool::heldPieces(std::size_t bytes) {
    std::vector<Piece> pieces;
    std::size_t gathered = 0;
    while (gathered < bytes && !_held.empty()) {
        auto smallest = _held.begin();
        const auto [size, block] = *smallest;
        const std::size_t need = bytes - gathered;
        pieces.reserve(pieces.size() + 1);  // may throw: nothing has changed for this block
        _held.erase(smallest);
        if (size > need) {
            // The head serves; the tail stays held as a block of its own.
            char* tail = static_cast<char*>(block) + need;
            try {
                _held.emplace(size - need, tail);
            } catch (...) {
                unmap(tail, size - need);
                _counts.heldBytes -= size - need;
                _counts.mappedBytes -= size - need;
                ++_counts.unmapped;
            }
            pieces.push_back({static_cast<char*>(block), need});
            gathered += need;
        } else {
            pieces.push_back({static_cast<char*>(block), size});
            gathered += size;
        }
    }
    return pieces;
}

void PlanePool::give(void* block, std::size_t bytes) noexcept {
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        const auto lent = _lent.find(block);
        if (lent != _lent.end()) {
            bytes = lent->second;  // the block's size, not its request's
            _lent.erase(lent);
            _counts.lentBytes -= bytes;
        } else {
            bytes = blockBytes(bytes);
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

void PlanePool::lend(std::size_t bytes) noexcept {
    _counts.lentBytes += bytes;
    _counts.peakLentBytes = std::max(_counts.peakLentBytes, _counts.lentBytes);
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
