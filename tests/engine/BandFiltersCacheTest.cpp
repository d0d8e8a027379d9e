#include <gtest/gtest.h>
#include <tbb/parallel_for.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/BandFiltersCache.h"
#include "engine/Lumetra2.h"
#include "image/Error.h"
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

// An image made ready while its engine is built (edge map and spectra from the shared
// filters) scores to the bit what the engine scores from the image, at odd and even sizes.
TEST(PreparedImage, ScoresAsTheImageItself) {
    for (const std::string scene : {"scene97x64", "scene128x96"}) {
        const RgbImage original(kGolden + scene + ".ppm");
        BandFiltersCache cache;
        ExecutionOptions cached;
        cached.filters = &cache;
        const Lumetra2 engine(original, Parameters{}, cached);
        for (const std::string distortion : {"__blur", "__noise", "__hue", "__copy"}) {
            const RgbImage degraded(kGolden + scene + distortion + ".ppm");
            PreparedImage prepared(degraded, cache.filters(original.rows(), original.cols(),
                                                           Parameters{}.pixelsPerDegree));
            const Comparison direct = engine(degraded);
            const Comparison fromPrepared = engine(std::move(prepared));
            EXPECT_EQ(fromPrepared.mobj(), direct.mobj()) << scene << distortion;
            EXPECT_EQ(fromPrepared.nobj(), direct.nobj()) << scene << distortion;
            EXPECT_EQ(fromPrepared.err(), direct.err()) << scene << distortion;
        }
    }
}

// A prepared image is scored once, only by an engine of its filters: another size, another
// viewing condition or filters not shared with the engine are refused, not scored wrongly.
TEST(PreparedImage, IsRefusedWhereItWouldBeScoredWrongly) {
    const RgbImage original(kGolden + "scene97x64.ppm");
    const RgbImage degraded(kGolden + "scene97x64__noise.ppm");
    const RgbImage small(kGolden + "scene64.ppm");
    BandFiltersCache cache;
    ExecutionOptions cached;
    cached.filters = &cache;
    const Lumetra2 engine(original, Parameters{}, cached);
    const double ppd = Parameters{}.pixelsPerDegree;

    EXPECT_THROW(PreparedImage(small, cache.filters(64, 97, ppd)), SizeMismatchError);
    EXPECT_THROW(PreparedImage(RgbImage(Array<unsigned>(4, 4), Array<unsigned>(4, 4),
                                        Array<unsigned>(4, 4), 255),
                               cache.filters(4, 4, ppd)),
                 SizeMismatchError);
    EXPECT_THROW(engine(PreparedImage(small, cache.filters(64, 64, ppd))), SizeMismatchError);
    EXPECT_THROW(engine(PreparedImage(degraded, cache.filters(64, 97, ppd / 2))),
                 std::invalid_argument);
    EXPECT_THROW(engine(PreparedImage(degraded, std::make_shared<const BandFilters>(64, 97, ppd))),
                 std::invalid_argument);

    PreparedImage once(degraded, cache.filters(64, 97, ppd));
    PreparedImage moved = std::move(once);
    EXPECT_GT(engine(std::move(moved)).mobj(), 0.0f);
    EXPECT_THROW(engine(std::move(moved)), std::invalid_argument);  // scored already
}

}  // namespace
}  // namespace lumetra
