#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>

#include "image/Array.h"
#include "image/PlanePool.h"
#include "structure/BlockPooling.h"
#include "structure/CannyBuilder.h"
#include "structure/Edges.h"
#include "structure/Morphology.h"

namespace lumetra {
namespace {

// 512 x 768 elements of four bytes: a megabyte and a half, which the pool serves.
constexpr std::uint32_t kRows = 512;
constexpr std::uint32_t kCols = 768;

// A pool whose held blocks are full of a value no stage writes (NaN bits in floats, a large
// odd int), as a previous image would leave them: a stage that reads an element of a reused
// plane before writing it gives other values than on fresh memory.
std::shared_ptr<PlanePool> dirtyPool() {
    auto pool = std::make_shared<PlanePool>();
    {
        Array<int> blocks[8];
        for (Array<int>& block : blocks) {
            block = Array<int>(kRows, kCols, pool, kUninitialised);
            std::fill_n(block.data(), block.size(), 0x7fc01235);
        }
    }
    return pool;
}

// A textured plane with a few bright rectangles (edges of every direction), values 1 .. 3.
Array<float> texturedPlane(std::shared_ptr<PlanePool> pool) {
    Array<float> plane(kRows, kCols, std::move(pool));
    std::mt19937 random(5);
    std::uniform_real_distribution<float> noise(0.0f, 0.3f);
    for (std::uint32_t r = 0; r < kRows; ++r) {
        for (std::uint32_t c = 0; c < kCols; ++c) {
            const bool inside = (r / 64 + c / 96) % 3 == 0;
            plane(r, c) = (inside ? 2.5f : 1.0f) + noise(random);
        }
    }
    return plane;
}

// Every stage of the edge and weight maps makes its result from its input's pool, and a pool
// full of another image's leftovers changes no element: the results equal those of the same
// stages on unpooled memory, to the last bit.
TEST(PooledStages, TakeTheirInputsPoolAndGiveTheBitsOfFreshMemory) {
    if (!PlanePool::serves(std::size_t{kRows} * kCols * sizeof(float))) {
        GTEST_SKIP() << "planes are not mapped here";
    }
    const std::shared_ptr<PlanePool> pool = dirtyPool();
    const Array<float> pooled = texturedPlane(pool);
    const Array<float> plain = texturedPlane(nullptr);
    ASSERT_EQ(pooled, plain);
    const std::uint64_t reusedBefore = pool->counts().reused;

    const CannyBuilder canny(1.0f, 6.0f, 25.0f);
    const Array<float> smoothed = canny.smooth(pooled);
    EXPECT_EQ(smoothed.pool(), pool);
    EXPECT_EQ(smoothed, canny.smooth(plain));
    const Array<float> ridges = CannyBuilder::ridges(smoothed);
    EXPECT_EQ(ridges.pool(), pool);
    EXPECT_EQ(ridges, CannyBuilder::ridges(canny.smooth(plain)));
    const Array<int> hysteresis = canny.hysteresis(CannyBuilder::rescale(ridges));
    EXPECT_EQ(hysteresis.pool(), pool);

    const Array<int> map = planeEdges(pooled);
    const Array<int> plainMap = planeEdges(plain);
    EXPECT_EQ(map.pool(), pool);
    EXPECT_EQ(map, plainMap);
    EXPECT_GT(std::count(map.data(), map.data() + map.size(), 255), 1000);
    const Array<int> merged = edges(pooled, pooled, pooled);
    EXPECT_EQ(merged.pool(), pool);
    EXPECT_EQ(merged, plainMap);
    const Array<int> back = unpacked(packed(map), pool);
    EXPECT_EQ(back.pool(), pool);
    EXPECT_EQ(back, plainMap);

    EXPECT_EQ(erode_dilate_h(map).pool(), pool);
    EXPECT_EQ(erode_dilate_h(map), erode_dilate_h(plainMap));
    EXPECT_EQ(erode_dilate_v(map), erode_dilate_v(plainMap));
    EXPECT_EQ(dilate_hv(map).pool(), pool);
    EXPECT_EQ(dilate_hv(map), dilate_hv(plainMap));
    EXPECT_EQ(blkproc(pooled).pool(), pool);
    EXPECT_EQ(blkproc(pooled), blkproc(plain));

    // The stages took the dirty blocks rather than mapping new ones.
    EXPECT_GT(pool->counts().reused, reusedBefore + 8);
}

}  // namespace
}  // namespace lumetra
