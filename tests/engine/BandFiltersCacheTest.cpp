#include <gtest/gtest.h>
#include <tbb/parallel_for.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/BandFiltersCache.h"
#include "engine/Lumetra2.h"
#include "image/RgbImage.h"

namespace lumetra {
namespace {

const std::string kGolden = std::string(LUMETRA_TEST_DATA_DIR) + "/golden/";

// Small sizes keep each making quick; odd and even sides, two viewing conditions.
constexpr double kNearPpd = 30.0;
constexpr double kFarPpd = 60.0;

TEST(BandFiltersCache, MakesTheFiltersOfOneConditionOnce) {
    BandFiltersCache cache;
    const auto first = cache.filters(24, 33, kFarPpd);
    EXPECT_EQ(cache.filters(24, 33, kFarPpd), first);
    // Any other size or viewing condition is another entry.
    EXPECT_NE(cache.filters(33, 24, kFarPpd), first);
    EXPECT_NE(cache.filters(24, 33, kNearPpd), first);
    EXPECT_EQ(cache.size(), 3u);
    EXPECT_EQ(first->rows(), 24u);
    EXPECT_EQ(first->cols(), 33u);
}

TEST(BandFiltersCache, DropsTheConditionUsedLongestAgo) {
    BandFiltersCache cache(2);
    const auto a = cache.filters(16, 16, kFarPpd);
    const auto b = cache.filters(16, 17, kFarPpd);
    EXPECT_EQ(cache.filters(16, 16, kFarPpd), a);   // a is now the most recent
    const auto c = cache.filters(17, 16, kFarPpd);  // b goes
    EXPECT_EQ(cache.size(), 2u);
    EXPECT_EQ(cache.filters(16, 16, kFarPpd), a);
    EXPECT_NE(cache.filters(16, 17, kFarPpd), b);  // made again; b itself is still alive here
    EXPECT_EQ(b->cols(), 17u);
}

// Callers on many threads at once, asking for two conditions: each is made once and everyone
// gets that one.
TEST(BandFiltersCache, SharesOneMakingBetweenThreads) {
    BandFiltersCache cache;
    constexpr int kCallers = 16;
    std::vector<std::shared_ptr<const BandFilters>> got(kCallers);
    tbb::parallel_for(0, kCallers, [&](int i) {
        got[static_cast<std::size_t>(i)] =
            cache.filters(20, 20 + static_cast<std::uint32_t>(i % 2), kFarPpd);
    });
    for (int i = 2; i < kCallers; ++i) {
        EXPECT_EQ(got[static_cast<std::size_t>(i)], got[static_cast<std::size_t>(i % 2)]) << i;
    }
    EXPECT_NE(got[0], got[1]);
}

// Engines whose filters come from a cache compute what engines making their own do, to the bit,
// and two engines of one size share the filters.
TEST(BandFiltersCache, EnginesWithSharedFiltersScoreAsThoseWithTheirOwn) {
    const RgbImage original(kGolden + "scene97x64.ppm");
    const RgbImage other(kGolden + "scene97x64__blur.ppm");
    const RgbImage degraded(kGolden + "scene97x64__noise.ppm");
    BandFiltersCache cache;
    ExecutionOptions cached;
    cached.filters = &cache;
    const Lumetra2 first(original, Parameters{}, cached);
    const Lumetra2 second(other, Parameters{}, cached);
    EXPECT_EQ(cache.size(), 1u);
    for (const RgbImage* image : {&original, &other}) {
        const Lumetra2 own(*image, Parameters{});
        const Lumetra2& shared = image == &original ? first : second;
        const Comparison a = own(degraded);
        const Comparison b = shared(degraded);
        EXPECT_EQ(a.mobj(), b.mobj());
        EXPECT_EQ(a.err(), b.err());
    }
}

}  // namespace
}  // namespace lumetra
