#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>

#include "engine/Explanation.h"
#include "engine/Lumetra2.h"

// Low-memory mode makes the original's bands again for every degraded image instead of
// keeping them; it must give the default mode's results to the last bit, whatever the image
// size, the thread count and the masking switches (inter C1 keeps each image's unmasked base
// band for the crown-2 C1 masking).

namespace lumetra {
namespace {

const std::string kSamples = std::string(LUMETRA_SAMPLES_DIR) + "/";

// Smooth random colour gradients with random speckles, so that every band and edge map has
// something in it.
RgbImage randomImage(std::uint32_t rows, std::uint32_t cols, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::array<Array<unsigned>, 3> planes;
    for (unsigned c = 0; c < 3; ++c) {
        planes[c] = Array<unsigned>(rows, cols);
        const unsigned slope = 1 + random() % 5;
        for (std::uint32_t r = 0; r < rows; ++r) {
            for (std::uint32_t x = 0; x < cols; ++x) {
                const unsigned speckle = random() % 8 == 0 ? random() % 80 : 0;
                planes[c](r, x) = std::min(255u, (slope * (r + 2 * x) + speckle + 40 * c) % 256);
            }
        }
    }
    return RgbImage(planes[0], planes[1], planes[2]);
}

// The same image with a noisy block: some bands and edges change, others do not.
RgbImage degradedImage(const RgbImage& original, std::uint32_t seed) {
    std::mt19937 random(seed);
    Array<unsigned> r = original.R(), g = original.G(), b = original.B();
    for (std::uint32_t y = original.rows() / 4; y < original.rows() / 2; ++y) {
        for (std::uint32_t x = original.cols() / 3; x < original.cols(); ++x) {
            r(y, x) = random() % 256;
            g(y, x) = (g(y, x) + 30) % 256;
        }
    }
    return RgbImage(r, g, b);
}

Parameters withSwitches(bool interC1, bool intra) {
    Parameters p;
    p.interC1 = interC1;
    p.intraA = p.intraC1 = p.intraC2 = intra;
    p.interA = p.interC2 = interC1;
    return p;
}

void expectSameComparison(const Comparison& low, const Comparison& full) {
    EXPECT_EQ(low.mobj(), full.mobj());
    EXPECT_EQ(low.nobj(), full.nobj());
    EXPECT_EQ(low.err(), full.err());
}

TEST(LowMemory, GivesTheDefaultModesBitsForAnySizeThreadCountAndSwitches) {
    const std::uint32_t sizes[][2] = {{37, 50}, {64, 64}, {41, 29}};
    const Parameters settings[] = {withSwitches(false, true), withSwitches(true, true),
                                   withSwitches(false, false), withSwitches(true, false)};
    std::uint32_t seed = 1;
    for (const auto& size : sizes) {
        const RgbImage original = randomImage(size[0], size[1], seed++);
        const RgbImage degraded = degradedImage(original, seed++);
        for (const Parameters& p : settings) {
            const Comparison full = Lumetra2(original, p, ExecutionOptions{1})(degraded);
            for (const unsigned threads : {1u, 2u, 0u}) {
                SCOPED_TRACE(std::to_string(size[0]) + " x " + std::to_string(size[1]) +
                             ", inter C1 " + std::to_string(p.interC1) + ", intra " +
                             std::to_string(p.intraA) + ", threads " + std::to_string(threads));
                const Lumetra2 low(original, p, ExecutionOptions{threads, nullptr, true});
                EXPECT_TRUE(low.lowMemory());
                expectSameComparison(low(degraded), full);
                // The original against itself scores 0 everywhere in both modes.
                expectSameComparison(low(original), Lumetra2(original, p)(original));
            }
        }
    }
}

// A real pair, with the bands the engine hands out and the explanation, which in low-memory
// mode makes the original's bands again for its channel maps.
TEST(LowMemory, GivesTheDefaultModesBandsAndExplanationOfASamplePair) {
    const RgbImage original(kSamples + "astronaut.ppm");
    const RgbImage degraded(kSamples + "astronaut_jpeg20.ppm");
    const Parameters p = withSwitches(true, true);
    const Lumetra2 full(original, p, ExecutionOptions{2});
    const Lumetra2 low(original, p, ExecutionOptions{2, nullptr, true});
    EXPECT_EQ(low.referenceEdges(), full.referenceEdges());
    const Bands lowBands = low.reference(), fullBands = full.reference();
    for (unsigned k = 0; k < kBandCount; ++k) EXPECT_EQ(lowBands[k], fullBands[k]) << "band " << k;

    const Explanation a = low.explain(degraded), b = full.explain(degraded);
    expectSameComparison(a.comparison, b.comparison);
    for (unsigned t = 0; t < kErrorTermCount; ++t) EXPECT_EQ(a.maps.terms[t], b.maps.terms[t]);
    for (unsigned c = 0; c < kChannelCount; ++c) {
        EXPECT_EQ(a.maps.channels[c], b.maps.channels[c]) << "channel " << c;
        EXPECT_EQ(a.numbers.channelShares[c], b.numbers.channelShares[c]) << "channel " << c;
    }
    EXPECT_EQ(a.maps.share, b.maps.share);
    EXPECT_EQ(a.numbers.termShares, b.numbers.termShares);
    EXPECT_EQ(a.numbers.structureShare, b.numbers.structureShare);
}

}  // namespace
}  // namespace lumetra
