#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "engine/BandIndex.h"
#include "engine/ErrorMap.h"

namespace lumetra {
namespace {

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

// Task t's bands of `bands`: A band t, with C1 band 17 + t and C2 band 22 + t for t <= 4.
TaskBands taskOf(const Bands& bands, unsigned task) {
    if (task > kCrown2Size) return TaskBands{bands[task], {}, {}};
    return TaskBands{bands[task], bands[kC1Base + task], bands[kC2Base + task]};
}

// Hands both images' bands to `error` the way a decomposition's tasks do.
void add(StreamedError& error, const Bands& reference, const Bands& degraded, unsigned task) {
    TaskBands bands = taskOf(degraded, task);
    error.add(task, taskOf(reference, task), bands);
}

// Bands may reach the streamed map in any order, from any thread; whatever the order, every
// sum and fold is taken in the order of the whole-band pooling, so the map equals it to the
// last bit.  Orders: as handed out, reversed, and seeded shuffles.
TEST(StreamedError, EqualsThePoolingOfAllBandsAtOnceInAnyArrivalOrder) {
    const Bands reference = randomBands(37, 70, 1);
    const Bands degraded = randomBands(37, 70, 2);
    const Array<float> expected = pooledError(reference.data(), degraded.data(), 1);

    std::vector<unsigned> order(kALast + 1);
    for (unsigned t = 0; t <= kALast; ++t) order[t] = t;
    std::vector<std::vector<unsigned>> orders{order, {order.rbegin(), order.rend()}};
    std::mt19937 random(5);
    for (int i = 0; i < 6; ++i) {
        for (std::size_t k = order.size() - 1; k > 0; --k)
            std::swap(order[k], order[random() % (k + 1)]);
        orders.push_back(order);
    }
    for (const std::vector<unsigned>& arrival : orders) {
        StreamedError streamed(37, 70);
        for (const unsigned t : arrival) add(streamed, reference, degraded, t);
        EXPECT_EQ(streamed.error(), expected) << "arrival starting with task " << arrival[0];
    }
}

// The weighted terms are handed over once each, in term order, and add up to the map: the map
// is folded from exactly these floats.
TEST(StreamedError, HandsOverWeightedTermsThatAddUpToTheMap) {
    const Bands reference = randomBands(16, 21, 3);
    const Bands degraded = randomBands(16, 21, 4);
    std::vector<ErrorTerm> seen;
    Array<float> sum(16, 21);
    StreamedError streamed(16, 21, [&](ErrorTerm term, const Array<float>& weighted) {
        seen.push_back(term);
        for (std::size_t i = 0; i < sum.size(); ++i) sum.data()[i] += weighted.data()[i];
    });
    for (unsigned t = kALast + 1; t-- > 0;) add(streamed, reference, degraded, t);
    EXPECT_EQ(seen, (std::vector<ErrorTerm>{ErrorTerm::Base, ErrorTerm::Crown2, ErrorTerm::Crown3,
                                            ErrorTerm::Crown4}));
    EXPECT_EQ(streamed.error(), sum);
}

// A degraded decomposition that differs from the reference in one channel's bands only: that
// channel alone pools to the whole map, and either other channel alone to a map of zeros.
// Every channel in turn, so that a band counted for the wrong channel shows.
TEST(PooledError, ChannelSelectionCountsOnlyTheSelectedChannelsDifferences) {
    const Bands reference = randomBands(9, 14, 6);
    const Bands other = randomBands(9, 14, 7);
    const Array<float> zero(9, 14);
    for (const Channel changed : {Channel::A, Channel::C1, Channel::C2}) {
        SCOPED_TRACE(static_cast<unsigned>(changed));
        Bands degraded = reference;
        for (unsigned k = 0; k < kBandCount; ++k) {
            if (channelOf(k) == changed) degraded[k] = other[k];
        }
        const Array<float> whole = pooledError(reference.data(), degraded.data(), 1);
        ASSERT_NE(whole, zero);
        for (const Channel selected : {Channel::A, Channel::C1, Channel::C2}) {
            const Array<float> alone =
                pooledError(reference.data(), degraded.data(), 1, ChannelSelection::only(selected));
            EXPECT_EQ(alone, selected == changed ? whole : zero)
                << "channel " << static_cast<unsigned>(selected) << " alone";
        }
    }
}

// One pixel worked by hand: every band equal but the C1 base, which differs by 2.  The map is
// the channel-pooled base 5 x 2 = 10 (no crown differs, and 0 pooled over orientations is 0).
TEST(PooledError, OneChromaticBaseDifferenceIsItsChannelWeight) {
    Bands reference;
    for (Array<float>& band : reference) band = Array<float>(1, 1);
    Bands degraded = reference;
    degraded[kC1Base](0, 0) = 2.0f;
    EXPECT_EQ(pooledError(reference.data(), degraded.data(), 1)(0, 0), 10.0f);
    EXPECT_EQ(pooledError(reference.data(), degraded.data(), 1,
                          ChannelSelection::only(Channel::C1))(0, 0),
              10.0f);
    EXPECT_EQ(
        pooledError(reference.data(), degraded.data(), 1, ChannelSelection::only(Channel::A))(0, 0),
        0.0f);
}

}  // namespace
}  // namespace lumetra
