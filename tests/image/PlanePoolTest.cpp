#include <gtest/gtest.h>
#include <sys/mman.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "image/Array.h"
#include "image/PlanePool.h"

namespace lumetra {
namespace {

constexpr std::size_t kMegabyte = std::size_t{1} << 20;

// Pooling is off where planes are not mapped (under AddressSanitizer): nothing to test there.
#define SKIP_WITHOUT_POOLING() \
    if (!PlanePool::serves(kMegabyte)) GTEST_SKIP() << "planes are not mapped here"

TEST(PlanePool, ServesOnlyBlocksOfAMegabyteOrMore) {
    EXPECT_FALSE(PlanePool::serves(kMegabyte - 1));
    EXPECT_FALSE(PlanePool::serves(0));
}

TEST(PlanePool, HandsAFreedBlockToTheNextRequestOfItsSize) {
    SKIP_WITHOUT_POOLING();
    PlanePool pool;
    void* first = pool.take(2 * kMegabyte);
    std::memset(first, 1, 2 * kMegabyte);
    pool.give(first, 2 * kMegabyte);
    void* second = pool.take(2 * kMegabyte);
    EXPECT_EQ(second, first);
    const PlanePool::Counts counts = pool.counts();
    EXPECT_EQ(counts.mapped, 1u);
    EXPECT_EQ(counts.reused, 1u);
    EXPECT_EQ(counts.heldBytes, 0u);
    pool.give(second, 2 * kMegabyte);
}

// The smallest held block that fits: at least the request and at most an eighth larger.
// Blocks are whole 2 MB huge pages: 16 MB and 18 MB here.
TEST(PlanePool, ServesARequestWithTheSmallestHeldBlockThatFits) {
    SKIP_WITHOUT_POOLING();
    PlanePool pool;
    void* small = pool.take(16 * kMegabyte);
    void* large = pool.take(18 * kMegabyte);
    pool.give(large, 18 * kMegabyte);
    pool.give(small, 16 * kMegabyte);
    void* request = pool.take(16 * kMegabyte - 4096);
    EXPECT_EQ(request, small);
    // Given back with its request's size, it is held as the 16 MB block it is.
    pool.give(request, 16 * kMegabyte - 4096);
    EXPECT_EQ(pool.take(17 * kMegabyte), large);
    EXPECT_EQ(pool.take(15 * kMegabyte), small);
    PlanePool::Counts counts = pool.counts();
    EXPECT_EQ(counts.mapped, 2u);
    EXPECT_EQ(counts.reused, 3u);
    pool.give(small, 15 * kMegabyte);
    pool.give(large, 17 * kMegabyte);
    EXPECT_EQ(pool.counts().heldBytes, 34 * kMegabyte);
    pool.trim();
    EXPECT_EQ(pool.counts().mappedBytes, 0u);
}

// A block reused for a smaller request keeps the request's pages and gives the rest back to the
// system: resident memory follows the request, not the block.  mincore tells which pages are
// resident; the dropped ones read as zero when touched again.
TEST(PlanePool, AReusedBlockHoldsNoMoreResidentPagesThanItsRequest) {
    SKIP_WITHOUT_POOLING();
    PlanePool pool;
    constexpr std::size_t kBlock = 16 * kMegabyte;
    constexpr std::size_t kRequest = 15 * kMegabyte + 100;  // its last page partly used
    constexpr std::size_t kPage = 4096;
    auto* block = static_cast<unsigned char*>(pool.take(kBlock));
    std::memset(block, 0x5a, kBlock);
    pool.give(block, kBlock);
    ASSERT_EQ(pool.take(kRequest), block);
    std::vector<unsigned char> resident(kBlock / kPage);
    ASSERT_EQ(mincore(block, kBlock, resident.data()), 0);
    const std::size_t keptPages = (kRequest + kPage - 1) / kPage;
    const auto isResident = [](unsigned char page) { return (page & 1) != 0; };
    EXPECT_TRUE(std::all_of(resident.begin(), resident.begin() + keptPages, isResident));
    EXPECT_TRUE(std::none_of(resident.begin() + keptPages, resident.end(), isResident));
    EXPECT_EQ(block[kRequest - 1], 0x5a);    // the request's bytes are kept
    EXPECT_EQ(block[keptPages * kPage], 0);  // the dropped tail reads as fresh memory
    pool.give(block, kRequest);
}

// The same for a block made of held blocks' pages: the moved pages beyond the request go back.
TEST(PlanePool, ABlockMadeOfHeldPagesHoldsNoMoreResidentPagesThanItsRequest) {
    SKIP_WITHOUT_POOLING();
    PlanePool pool;
    constexpr std::size_t kPage = 4096;
    constexpr std::size_t kRequest = 3 * kMegabyte + kMegabyte / 2;  // a 4 MB block
    void* first = pool.take(2 * kMegabyte);
    void* second = pool.take(2 * kMegabyte);
    std::memset(first, 0x11, 2 * kMegabyte);
    std::memset(second, 0x22, 2 * kMegabyte);
    pool.give(first, 2 * kMegabyte);
    pool.give(second, 2 * kMegabyte);
    auto* block = static_cast<unsigned char*>(pool.take(kRequest));
    ASSERT_EQ(pool.counts().freshBytes, 4 * kMegabyte);  // nothing mapped afresh for it
    std::vector<unsigned char> resident(4 * kMegabyte / kPage);
    ASSERT_EQ(mincore(block, 4 * kMegabyte, resident.data()), 0);
    const std::size_t keptPages = kRequest / kPage;
    const auto isResident = [](unsigned char page) { return (page & 1) != 0; };
    EXPECT_TRUE(std::all_of(resident.begin(), resident.begin() + keptPages, isResident));
    EXPECT_TRUE(std::none_of(resident.begin() + keptPages, resident.end(), isResident));
    pool.give(block, kRequest);
}

// When no held block fits, the new block is made of the held blocks' pages (moved, with what
// was written to them) and fresh memory only for the rest: the pool's total grows by what it
// lacked, and nothing it held is unmapped.
TEST(PlanePool, MakesANewBlockOfHeldBlocksPagesAndFreshMemoryForTheRest) {
    SKIP_WITHOUT_POOLING();
    PlanePool pool;
    auto* a = static_cast<unsigned char*>(pool.take(2 * kMegabyte));
    auto* b = static_cast<unsigned char*>(pool.take(4 * kMegabyte));
    std::memset(a, 0xa1, 2 * kMegabyte);
    std::memset(b, 0xb2, 4 * kMegabyte);
    pool.give(a, 2 * kMegabyte);
    pool.give(b, 4 * kMegabyte);
    // 10 MB: the 2 MB block first, then the 4 MB one, then 4 MB of fresh zeros.
    auto* c = static_cast<unsigned char*>(pool.take(10 * kMegabyte));
    PlanePool::Counts counts = pool.counts();
    EXPECT_EQ(counts.unmapped, 0u);
    EXPECT_EQ(counts.heldBytes, 0u);
    EXPECT_EQ(counts.mappedBytes, 10 * kMegabyte);
    EXPECT_EQ(counts.freshBytes, 10 * kMegabyte);  // 6 MB for a and b, 4 MB now
    EXPECT_EQ(counts.peakMappedBytes, 10 * kMegabyte);
    EXPECT_EQ(c[0], 0xa1);
    EXPECT_EQ(c[2 * kMegabyte - 1], 0xa1);
    EXPECT_EQ(c[2 * kMegabyte], 0xb2);
    EXPECT_EQ(c[6 * kMegabyte - 1], 0xb2);
    EXPECT_EQ(c[6 * kMegabyte], 0);
    EXPECT_EQ(c[10 * kMegabyte - 1], 0);
    pool.give(c, 10 * kMegabyte);

    // 4 MB out of the held 10 MB block, which does not fit (more than an eighth larger): its
    // head serves, its tail stays held, and nothing is fresh.
    auto* d = static_cast<unsigned char*>(pool.take(4 * kMegabyte));
    counts = pool.counts();
    EXPECT_EQ(counts.freshBytes, 10 * kMegabyte);
    EXPECT_EQ(counts.heldBytes, 6 * kMegabyte);
    EXPECT_EQ(counts.mappedBytes, 10 * kMegabyte);
    EXPECT_EQ(d[0], 0xa1);
    EXPECT_EQ(d[4 * kMegabyte - 1], 0xb2);
    // The held tail serves a 6 MB request with the rest of c's contents.
    auto* e = static_cast<unsigned char*>(pool.take(6 * kMegabyte));
    EXPECT_EQ(e[0], 0xb2);
    EXPECT_EQ(e[6 * kMegabyte - 1], 0);
    EXPECT_EQ(pool.counts().reused, 1u);
    pool.give(d, 4 * kMegabyte);
    pool.give(e, 6 * kMegabyte);
}

// Random traffic of a few sizes: the pool's mapped total never exceeds the most that was in
// use at once (counting each block lent at its own size), and everything mapped is either
// held or lent.
TEST(PlanePool, NeverMapsMoreThanTheLargestUseAtOnce) {
    SKIP_WITHOUT_POOLING();
    const std::size_t sizes[] = {kMegabyte, 2 * kMegabyte, 3 * kMegabyte + 4096, 8 * kMegabyte};
    std::mt19937 random(21);
    PlanePool pool;
    std::vector<std::pair<void*, std::size_t>> live;
    std::size_t inUse = 0;
    std::size_t mostInUse = 0;
    for (int step = 0; step < 2000; ++step) {
        const bool takes = live.empty() || (live.size() < 12 && random() % 2 == 0);
        if (takes) {
            const std::size_t bytes = sizes[random() % std::size(sizes)];
            void* block = pool.take(bytes);
            live.emplace_back(block, bytes);
            inUse = pool.counts().mappedBytes - pool.counts().heldBytes;
            mostInUse = std::max(mostInUse, inUse);
        } else {
            const std::size_t i = random() % live.size();
            pool.give(live[i].first, live[i].second);
            inUse = pool.counts().mappedBytes - pool.counts().heldBytes;
            live.erase(live.begin() + static_cast<std::ptrdiff_t>(i));
        }
        const PlanePool::Counts counts = pool.counts();
        ASSERT_LE(counts.mappedBytes, mostInUse) << "at step " << step;
        ASSERT_EQ(counts.lentBytes, inUse) << "at step " << step;
        ASSERT_LE(counts.peakMappedBytes, counts.peakLentBytes) << "at step " << step;
    }
    EXPECT_GT(pool.counts().reused, 0u);
    for (const auto& [block, bytes] : live) pool.give(block, bytes);
}

TEST(PlanePool, AfterReleaseHoldsNothingAndUnmapsWhatComesBack) {
    SKIP_WITHOUT_POOLING();
    PlanePool pool;
    void* kept = pool.take(kMegabyte);
    pool.give(pool.take(2 * kMegabyte), 2 * kMegabyte);
    pool.release();
    EXPECT_EQ(pool.counts().heldBytes, 0u);
    pool.give(kept, kMegabyte);
    const PlanePool::Counts counts = pool.counts();
    EXPECT_EQ(counts.heldBytes, 0u);
    EXPECT_EQ(counts.mappedBytes, 0u);
}

// Several threads at once, as when files are scored at once by one engine: every block given
// back is accounted for, and no block is handed to two takers (each writes its own mark).
TEST(PlanePool, ServesSeveralThreadsAtOnce) {
    SKIP_WITHOUT_POOLING();
    PlanePool pool;
    constexpr int kTasks = 64;
    std::vector<int> clashes(kTasks, 0);
    tbb::parallel_for(0, kTasks, [&](int task) {
        const std::size_t bytes = (task % 3 + 1) * kMegabyte;
        auto* block = static_cast<std::uint32_t*>(pool.take(bytes));
        const std::size_t n = bytes / sizeof(std::uint32_t);
        std::fill_n(block, n, static_cast<std::uint32_t>(task));
        if (std::any_of(block, block + n,
                        [&](std::uint32_t v) { return v != std::uint32_t(task); }))
            clashes[static_cast<std::size_t>(task)] = 1;
        pool.give(block, bytes);
    });
    EXPECT_EQ(std::count(clashes.begin(), clashes.end(), 1), 0);
    const PlanePool::Counts counts = pool.counts();
    EXPECT_EQ(counts.mapped + counts.reused, std::uint64_t{kTasks});
    EXPECT_EQ(counts.mappedBytes, counts.heldBytes);
}

// An array made from a pool starts at zero even on a reused block another plane wrote, and its
// copies take their memory from the same pool; planes outliving their owner stay valid.
TEST(PlanePool, PooledArraysStartAtZeroAndCopiesKeepThePool) {
    SKIP_WITHOUT_POOLING();
    auto pool = std::make_shared<PlanePool>();
    constexpr std::uint32_t kRows = 512;
    constexpr std::uint32_t kCols = 1024;  // 2 MB of floats
    {
        Array<float> dirty(kRows, kCols, pool);
        std::fill_n(dirty.data(), dirty.size(), 7.0f);
    }
    Array<float> fresh(kRows, kCols, pool);
    EXPECT_EQ(pool->counts().reused, 1u);
    EXPECT_EQ(std::count(fresh.data(), fresh.data() + fresh.size(), 0.0f),
              static_cast<std::ptrdiff_t>(fresh.size()));

    const Array<float> copy(fresh);
    EXPECT_EQ(copy.pool(), pool);
    Array<float> plain;
    plain = std::move(fresh);
    EXPECT_EQ(plain.pool(), pool);
    EXPECT_EQ(pool->counts().mapped, 2u);

    pool->release();
    pool.reset();  // the arrays keep what they need of it
    EXPECT_EQ(copy, plain);
}

}  // namespace
}  // namespace lumetra
