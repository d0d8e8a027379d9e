#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "engine/BandIndex.h"
#include "engine/ErrorPooling.h"

namespace lumetra {
namespace {

using Bands = std::array<Array<float>, kBandCount>;

Bands randomBands(std::uint32_t rows, std::uint32_t cols, std::uint32_t seed) {
    std::mt19937 random(seed);
    Bands bands;
    for (Array<float>& band : bands) {
        band = Array<float>(rows, cols);
        for (std::size_t i = 0; i < band.size(); ++i) {
            band.data()[i] = static_cast<float>(random() % 2001) / 100.0f - 10.0f;
        }
    }
    return bands;
}

// Hands the degraded bands to `error` the way a decomposition's tasks do: task t is A band t,
// with C1 band 17 + t and C2 band 22 + t for t <= 4.
void add(StreamedError& error, const Bands& degraded, unsigned task) {
    Array<float> a = degraded[task];
    if (task <= kCrown2Size) {
        error.addGroup(task, a, degraded[kC1Base + task], degraded[kC2Base + task]);
    } else {
        error.addBand(task, a);
    }
}

// Three threads take the 17 tasks in increasing order, as a decomposition's workers do, and
// finish them in whatever order they happen to; the map still equals the one pooled from all
// 27 bands at once, to the last bit.
TEST(StreamedError, EqualsThePoolingOfAllBandsAtOnce) {
    const Bands reference = randomBands(37, 70, 1);
    const Bands degraded = randomBands(37, 70, 2);
    const Array<float> expected = pooledError(reference.data(), degraded.data(), 1);

    StreamedError streamed(reference.data());
    std::atomic<unsigned> next{0};
    auto work = [&] {
        for (unsigned t = next++; t <= kALast; t = next++) add(streamed, degraded, t);
    };
    std::thread second(work);
    std::thread third(work);
    work();
    second.join();
    third.join();
    EXPECT_EQ(streamed.error(), expected);
}

TEST(StreamedError, AbandonReleasesABandWaitingForItsTurn) {
    const Bands bands = randomBands(8, 8, 3);
    StreamedError streamed(bands.data());
    // Band 6 waits for band 5, which never comes.
    std::thread waiting([&] { add(streamed, bands, 6); });
    streamed.abandon();
    waiting.join();
    SUCCEED();
}

}  // namespace
}  // namespace lumetra
