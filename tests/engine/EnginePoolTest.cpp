#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/Lumetra2.h"
#include "image/PlanePool.h"

namespace lumetra {
namespace {

const std::string kSamples = std::string(LUMETRA_SAMPLES_DIR) + "/";

// A sample with every pixel doubled both ways: 512 x 512, so that every plane of the engine
// is a megabyte or more and comes from its pool.
RgbImage doubled(const std::string& name) {
    const RgbImage small(kSamples + name);
    const std::uint32_t rows = 2 * small.rows();
    const std::uint32_t cols = 2 * small.cols();
    Array<unsigned> r(rows, cols), g(rows, cols), b(rows, cols);
    for (std::uint32_t y = 0; y < rows; ++y) {
        for (std::uint32_t x = 0; x < cols; ++x) {
            r(y, x) = small.R()(y / 2, x / 2);
            g(y, x) = small.G()(y / 2, x / 2);
            b(y, x) = small.B()(y / 2, x / 2);
        }
    }
    return RgbImage(std::move(r), std::move(g), std::move(b), small.maxval());
}

// The pool's block for a megabyte: whole 2 MB huge pages.
constexpr std::size_t kBlockBytes = std::size_t{2} << 20;

bool pooling() {
    return PlanePool::serves(std::size_t{512} * 512 * sizeof(float));
}

// The weights of a comparison, to compare them bit for bit.
struct Weights : ComparisonObserver {
    void blockWeight(const Array<float>& b) override { block = b; }
    void structureWeight(const Array<float>& r) override { structure = r; }
    Array<float> block;
    Array<float> structure;
};

// An engine that scored another image first hands the second image planes full of the first
// one's values: the comparison must not see them.  Its measure, error map and weights equal
// those of a fresh engine (whose planes are fresh, zeroed mappings) to the last bit.
TEST(EnginePool, AReusedPlaneChangesNoBitOfTheComparison) {
    if (!pooling()) GTEST_SKIP() << "planes are not mapped here";
    const RgbImage original = doubled("astronaut.ppm");
    const RgbImage first = doubled("astronaut_noise.ppm");
    const RgbImage second = doubled("astronaut_jpeg20.ppm");

    const Lumetra2 fresh(original, Parameters{}, ExecutionOptions{1});
    Weights freshWeights;
    const Comparison expected = fresh.compare(second, &freshWeights);

    for (const unsigned threads : {1u, 2u}) {
        const Lumetra2 used(original, Parameters{}, ExecutionOptions{threads});
        (void)used(first);
        const std::uint64_t reusedBefore = used.planePool()->counts().reused;
        Weights weights;
        const Comparison again = used.compare(second, &weights);
        EXPECT_GT(used.planePool()->counts().reused, reusedBefore) << threads << " threads";
        EXPECT_EQ(again.mobj(), expected.mobj()) << threads << " threads";
        EXPECT_EQ(again.err(), expected.err()) << threads << " threads";
        EXPECT_EQ(weights.block, freshWeights.block) << threads << " threads";
        EXPECT_EQ(weights.structure, freshWeights.structure) << threads << " threads";
    }
}

// The second image finds all the memory it needs in the pool: the kernel clears nothing for
// it.  The error map it returns is the pool's
// too.  Over the whole run the pool never maps more than was lent out at once.
TEST(EnginePool, TheSecondImageTakesNoFreshMemoryAndThePeakStaysWithinTheMostInUse) {
    if (!pooling()) GTEST_SKIP() << "planes are not mapped here";
    const Lumetra2 engine(doubled("astronaut.ppm"), Parameters{}, ExecutionOptions{1});
    const std::shared_ptr<PlanePool>& pool = engine.planePool();
    const RgbImage first = doubled("astronaut_blur.ppm");
    const RgbImage second = doubled("astronaut_jpeg50.ppm");

    {
        // Dropped before the second image, whose error map may then take its block.
        const Comparison one = engine(first);
        EXPECT_EQ(one.err().pool(), pool);
    }
    const PlanePool::Counts afterOne = pool->counts();
    const Comparison two = engine(second);
    const PlanePool::Counts afterTwo = pool->counts();

    // The opponent planes, bands, spectra, workspaces, edge and weight maps: dozens of blocks
    // served again.
    EXPECT_GT(afterTwo.reused - afterOne.reused, 20u);
    EXPECT_EQ(afterTwo.freshBytes, afterOne.freshBytes);
    EXPECT_LE(afterTwo.peakMappedBytes, afterTwo.peakLentBytes);
    EXPECT_EQ(afterTwo.mappedBytes, afterTwo.lentBytes + afterTwo.heldBytes);
}

// Files scored at once by one engine share its pool: the results are those of one file at a
// time, and the pool's peak still stays within the most that was in use at once.
TEST(EnginePool, SharedByThreadsScoringAtOnceItKeepsResultsAndPeak) {
    if (!pooling()) GTEST_SKIP() << "planes are not mapped here";
    const Lumetra2 engine(doubled("astronaut.ppm"), Parameters{}, ExecutionOptions{2});
    const std::vector<RgbImage> images{doubled("astronaut_noise.ppm"),
                                       doubled("astronaut_jpeg90.ppm")};
    std::vector<float> alone;
    for (const RgbImage& image : images) alone.push_back(engine(image).mobj());
    std::vector<std::vector<float>> together(2, std::vector<float>(images.size()));
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < together.size(); ++t) {
        threads.emplace_back([&, t] {
            for (std::size_t i = 0; i < images.size(); ++i) {
                const std::size_t k = (i + t) % images.size();
                together[t][k] = engine(images[k]).mobj();
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (const std::vector<float>& run : together) EXPECT_EQ(run, alone);
    const PlanePool::Counts counts = engine.planePool()->counts();
    EXPECT_LE(counts.peakMappedBytes, counts.peakLentBytes);
    // With every comparison gone, all that is lent is what the engine keeps: the original's
    // 27 bands, a megabyte each in a block of 2 MB (whole huge pages).  Its edge map is kept a
    // byte per pixel, outside the pool.
    EXPECT_EQ(counts.lentBytes, kBandCount * kBlockBytes);
}

// An engine's end releases its pool: the idle planes go back to the system at once, and an
// error map that outlives the engine is unmapped when it goes, not held.
TEST(EnginePool, PlanesOutlivingTheEngineAreUnmappedWhenFreed) {
    if (!pooling()) GTEST_SKIP() << "planes are not mapped here";
    std::shared_ptr<PlanePool> pool;
    std::unique_ptr<Comparison> kept;  // (an optional here sets off GCC's uninitialised warning)
    {
        const Lumetra2 engine(doubled("astronaut.ppm"), Parameters{}, ExecutionOptions{1});
        pool = engine.planePool();
        kept = std::make_unique<Comparison>(engine(doubled("astronaut_blur.ppm")));
        EXPECT_GT(pool->counts().heldBytes, 0u);
    }
    const std::size_t mapBytes = kBlockBytes;  // the error map's
    PlanePool::Counts counts = pool->counts();
    EXPECT_EQ(counts.heldBytes, 0u);
    EXPECT_EQ(counts.mappedBytes, mapBytes);
    kept.reset();
    counts = pool->counts();
    EXPECT_EQ(counts.mappedBytes, 0u);
    EXPECT_EQ(counts.lentBytes, 0u);

    // Moving another engine onto one releases the pool it had.
    Lumetra2 engine(doubled("astronaut.ppm"), Parameters{}, ExecutionOptions{1});
    const std::shared_ptr<PlanePool> replaced = engine.planePool();
    (void)engine(doubled("astronaut_blur.ppm"));
    engine = Lumetra2(doubled("coffee.ppm"), Parameters{}, ExecutionOptions{1});
    EXPECT_EQ(replaced->counts().mappedBytes, 0u);
    EXPECT_NE(engine.planePool(), replaced);
}

}  // namespace
}  // namespace lumetra
