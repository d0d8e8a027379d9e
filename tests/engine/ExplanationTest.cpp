#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "engine/BlockWeight.h"
#include "engine/ErrorMap.h"
#include "engine/Explanation.h"
#include "engine/Lumetra2.h"
#include "engine/MinkowskiMeasure.h"
#include "engine/StructureWeight.h"
#include "structure/Edges.h"

namespace lumetra {
namespace {

const std::string kGolden = std::string(LUMETRA_TEST_DATA_DIR) + "/golden/";

// Each share pixel is F / sum(F) rounded to float (at most 2^-24 relative each), so their sum
// in double is 1 within about 6e-8; 1e-6 leaves room for the double sums' own rounding.
constexpr double kShareSumTol = 1e-6;
// Each map pixel is the float sum of its four terms, within three roundings (about 2e-7
// relative) of their exact sum, and each share is rounded to float: 1e-6 is ample.
constexpr double kTermShareSumTol = 1e-6;

double sumOf(const Array<float>& map) {
    double sum = 0.0;
    for (std::size_t i = 0; i < map.size(); ++i) sum += map.data()[i];
    return sum;
}

struct ExplainedPair {
    const char* original;
    const char* degraded;
};

// A pair with structure changes (blocks), one with a colour change only (hue), one with noise.
const ExplainedPair kPairs[] = {{"scene97x64.ppm", "scene97x64__blocks.ppm"},
                                {"scene97x64.ppm", "scene97x64__hue.ppm"},
                                {"scene64.ppm", "scene64__noise.ppm"}};

class ExplainedPairs : public ::testing::TestWithParam<ExplainedPair> {
  protected:
    ExplainedPairs()
        : original(kGolden + GetParam().original), degraded(kGolden + GetParam().degraded) {}
    RgbImage original;
    RgbImage degraded;
};

// The explanation watches the ordinary comparison: measure, score and map are compare()'s.
TEST_P(ExplainedPairs, ComparisonIsCompareToTheLastBit) {
    const Lumetra2 engine(original, Parameters{});
    const Explanation explained = engine.explain(degraded);
    const Comparison plain = engine.compare(degraded);
    EXPECT_EQ(explained.comparison.mobj(), plain.mobj());
    EXPECT_EQ(explained.comparison.nobj(), plain.nobj());
    EXPECT_EQ(explained.comparison.err(), plain.err());
}

// The map is folded from exactly these floats in term order, so the sum is exact.
TEST_P(ExplainedPairs, TermsAddUpToTheErrorMap) {
    const Explanation x = Lumetra2(original, Parameters{}).explain(degraded);
    const Array<float>& error = x.comparison.err();
    const auto& t = x.maps.terms;
    for (std::size_t i = 0; i < error.size(); ++i) {
        const float sum = ((t[0].data()[i] + t[1].data()[i]) + t[2].data()[i]) + t[3].data()[i];
        ASSERT_EQ(sum, error.data()[i]) << "pixel " << i;
    }
    double shares = 0.0;
    for (float share : x.numbers.termShares) shares += share;
    EXPECT_NEAR(shares, 1.0, kTermShareSumTol);
}

// The share map is where the measure comes from: it sums to 1, and the structure share is
// in [0, 1].  A channel map never exceeds the whole map (pooling grows with every difference),
// so no channel share exceeds 1.
TEST_P(ExplainedPairs, SharesAreFractionsOfTheMeasure) {
    const Explanation x = Lumetra2(original, Parameters{}).explain(degraded);
    ASSERT_GT(x.comparison.mobj(), 0.0f);
    EXPECT_NEAR(sumOf(x.maps.share), 1.0, kShareSumTol);
    EXPECT_GE(x.numbers.structureShare, 0.0f);
    EXPECT_LE(x.numbers.structureShare, 1.0f);
    for (float share : x.numbers.channelShares) {
        EXPECT_GE(share, 0.0f);
        EXPECT_LE(share, 1.0 + kTermShareSumTol);
    }
    const MapPercentiles p = x.numbers.percentiles;
    EXPECT_LE(p.p50, p.p95);
    EXPECT_LE(p.p95, p.p99);
    EXPECT_LE(p.p99, p.max);
}

// With every channel selected the kept bands pool to the error map itself, and the channel
// maps are the same pooling of the same bands with two channels left out.
TEST_P(ExplainedPairs, ChannelMapsPoolTheComparedBands) {
    const Lumetra2 engine(original, Parameters{});
    const Bands bands = engine.decompose(AccImage(degraded));
    const Explanation x = engine.explain(degraded);
    EXPECT_EQ(pooledError(engine.reference().data(), bands.data(), 1, ChannelSelection::all()),
              x.comparison.err());
    for (const Channel c : {Channel::A, Channel::C1, Channel::C2}) {
        EXPECT_EQ(
            pooledError(engine.reference().data(), bands.data(), 1, ChannelSelection::only(c)),
            x.maps.channels[static_cast<unsigned>(c)])
            << "channel " << static_cast<unsigned>(c);
    }
}

// The weight maps are those the measure uses: B^alpha of the block weight of the map, and the
// changed-structure zone of the edge changes.
TEST_P(ExplainedPairs, WeightMapsAreThoseOfTheMeasure) {
    Parameters p;
    p.alpha = 0.5f;
    const Lumetra2 engine(original, p);
    const Explanation x = engine.explain(degraded);
    EXPECT_EQ(x.maps.blockWeight, raisedBlockWeight(blockWeight(x.comparison.err()), p.alpha));
    const Array<int> zone =
        structureZone(edgeChanges(engine.referenceEdges(), edges(AccImage(degraded))));
    for (std::size_t i = 0; i < zone.size(); ++i) {
        ASSERT_EQ(x.maps.edgeZone.data()[i], zone.data()[i] != 0 ? 1.0f : 0.0f) << "pixel " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Golden, ExplainedPairs, ::testing::ValuesIn(kPairs),
                         [](const ::testing::TestParamInfo<ExplainedPair>& info) {
                             std::string name = info.param.degraded;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

// With co = 0 the changed-structure zone weighs nothing, so none of the measure comes from it;
// the zone is not empty, so the property is not met for want of a zone.
TEST(Explanation, NoShareOfTheMeasureComesFromAZoneWeighedZero) {
    Parameters p;
    p.co = 0.0f;
    const Explanation x = Lumetra2(RgbImage(kGolden + "scene97x64.ppm"), p)
                              .explain(RgbImage(kGolden + "scene97x64__blocks.ppm"));
    ASSERT_GT(sumOf(x.maps.edgeZone), 0.0);
    EXPECT_EQ(x.numbers.structureShare, 0.0f);
    for (std::size_t i = 0; i < x.maps.share.size(); ++i) {
        if (x.maps.edgeZone.data()[i] != 0.0f) {
            ASSERT_EQ(x.maps.share.data()[i], 0.0f) << "pixel " << i;
        }
    }
}

// A perfect copy has no weighted error: every share and the share map are 0, not 0 / 0.
TEST(Explanation, PerfectCopyHasNoSharesAnywhere) {
    const RgbImage original(kGolden + "scene64.ppm");
    const Explanation x = Lumetra2(original, Parameters{}).explain(original);
    EXPECT_EQ(x.comparison.mobj(), 0.0f);
    for (float share : x.numbers.termShares) EXPECT_EQ(share, 0.0f);
    for (float share : x.numbers.channelShares) EXPECT_EQ(share, 0.0f);
    EXPECT_EQ(x.numbers.structureShare, 0.0f);
    EXPECT_EQ(x.numbers.percentiles.max, 0.0f);
    EXPECT_EQ(x.maps.share, Array<float>(original.rows(), original.cols()));
}

}  // namespace
}  // namespace lumetra
