#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/BlockWeight.h"
#include "engine/ErrorMap.h"
#include "engine/Lumetra2.h"
#include "engine/MinkowskiMeasure.h"
#include "engine/StructureWeight.h"
#include "image/Error.h"
#include "structure/Edges.h"

namespace lumetra {
namespace {

const std::string kGolden = std::string(LUMETRA_TEST_DATA_DIR) + "/golden/";
const std::string kSamples = std::string(LUMETRA_SAMPLES_DIR) + "/";

// The reference values were computed independently; a conforming engine reproduces every
// measure within 1e-4 relative and every score within 1e-4.
constexpr double kMeasureRelTol = 1e-4;
constexpr double kScoreAbsTol = 1e-4;

Lumetra2 engineFor(const RgbImage& original, const Parameters& p = {}) {
    return Lumetra2(original, p);
}

struct GoldenRow {
    std::string original, degraded, options;
    double measure, score;
};

std::vector<GoldenRow> goldenRows() {
    std::ifstream in(kGolden + "expected.tsv");
    std::vector<GoldenRow> rows;
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
        if (fields.size() != 5) continue;
        rows.push_back(
            {fields[0], fields[1], fields[2], std::stod(fields[3]), std::stod(fields[4])});
    }
    return rows;
}

Parameters parametersFor(const std::string& options) {
    Parameters p;
    if (options == "no masking") {
        p.intraA = p.intraC1 = p.intraC2 = false;
    } else if (options == "alpha 0 beta 2 co 1") {
        p.alpha = 0.0f;
        p.beta = 2.0f;
        p.co = 1.0f;
    }
    return p;
}

class GoldenPairs : public ::testing::TestWithParam<GoldenRow> {};

TEST_P(GoldenPairs, ReproduceIndependentMeasureAndScore) {
    const GoldenRow& row = GetParam();
    const Lumetra2 engine = engineFor(RgbImage(kGolden + row.original), parametersFor(row.options));
    const Comparison result = engine(RgbImage(kGolden + row.degraded));
    if (row.measure == 0.0) {
        EXPECT_EQ(result.mobj(), 0.0f);
    } else {
        const double rel = std::fabs(result.mobj() - row.measure) / row.measure;
        EXPECT_LE(rel, kMeasureRelTol)
            << "measure " << result.mobj() << " expected " << row.measure;
    }
    EXPECT_NEAR(result.nobj(), row.score, kScoreAbsTol);
}

std::string goldenName(const ::testing::TestParamInfo<GoldenRow>& info) {
    std::string name =
        info.param.degraded + "_" + info.param.options + "_" + std::to_string(info.index);
    for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Golden, GoldenPairs, ::testing::ValuesIn(goldenRows()), goldenName);

struct MapFacts {
    std::string original, degraded;
    double sum, max, at10x20, at33x50;
};

TEST(Lumetra2, ErrorMapsMatchIndependentValues) {
    // Sum in float64 over the map; the map values are single precision.
    constexpr double kMapRelTol = 1e-4;
    const MapFacts cases[] = {
        {"scene64.ppm", "scene64__noise.ppm", 776225.179, 441.263824, 216.398346, 180.912445},
        {"scene97x64.ppm", "scene97x64__blocks.ppm", 1768310.72, 659.360962, 171.900711,
         278.344086},
    };
    for (const MapFacts& f : cases) {
        SCOPED_TRACE(f.degraded);
        const Lumetra2 engine = engineFor(RgbImage(kGolden + f.original));
        const Comparison result = engine(RgbImage(kGolden + f.degraded));
        const Array<float>& m = result.err();
        double sum = 0.0;
        float max = m.data()[0];
        for (std::size_t i = 0; i < m.size(); ++i) {
            sum += m.data()[i];
            max = std::max(max, m.data()[i]);
        }
        EXPECT_NEAR(sum, f.sum, f.sum * kMapRelTol);
        EXPECT_NEAR(max, f.max, f.max * kMapRelTol);
        EXPECT_NEAR(m(10, 20), f.at10x20, f.at10x20 * kMapRelTol);
        EXPECT_NEAR(m(33, 50), f.at33x50, f.at33x50 * kMapRelTol);
    }
}

TEST(Lumetra2, PerfectCopyMeasuresZeroWithAZeroErrorMap) {
    const RgbImage original(kSamples + "coffee.ppm");
    const Comparison result = engineFor(original)(original);
    EXPECT_EQ(result.mobj(), 0.0f);
    EXPECT_FLOAT_EQ(result.nobj(), 3.8f);
    for (std::size_t i = 0; i < result.err().size(); ++i) ASSERT_EQ(result.err().data()[i], 0.0f);
}

TEST(Lumetra2, MeasureGrowsAsJpegQualityFalls) {
    for (const std::string name : {"astronaut", "coffee"}) {
        SCOPED_TRACE(name);
        const Lumetra2 engine = engineFor(RgbImage(kSamples + name + ".ppm"));
        const float q90 = engine(RgbImage(kSamples + name + "_jpeg90.ppm")).mobj();
        const float q50 = engine(RgbImage(kSamples + name + "_jpeg50.ppm")).mobj();
        const float q20 = engine(RgbImage(kSamples + name + "_jpeg20.ppm")).mobj();
        EXPECT_GT(q90, 0.0f);
        EXPECT_LT(q90, q50);
        EXPECT_LT(q50, q20);
    }
}

TEST(Lumetra2, InterSwitchesAffectOnlyTheirBands) {
    const RgbImage original(kGolden + "scene64.ppm");
    const Bands base = engineFor(original).reference();

    Parameters interAC2;
    interAC2.interA = interAC2.interC2 = true;
    const Bands unchanged = engineFor(original, interAC2).reference();
    for (unsigned k = 0; k < kBandCount; ++k) EXPECT_EQ(unchanged[k], base[k]) << "band " << k;

    Parameters interC1;
    interC1.interC1 = true;
    const Bands masked = engineFor(original, interC1).reference();
    for (unsigned k = 0; k < kBandCount; ++k) {
        if (k >= 17 && k <= 21) {
            EXPECT_NE(masked[k], base[k]) << "band " << k;
        } else {
            EXPECT_EQ(masked[k], base[k]) << "band " << k;
        }
    }
}

// The scoring pools the degraded bands as they are made; the error map is the one pooled
// from the complete decomposition, to the last bit, under every switch setting that changes
// the order in which the decomposition works (inter C1 masks by the A base band first).
TEST(Lumetra2, StreamedErrorMapEqualsThePoolingOfTheWholeDecomposition) {
    const RgbImage original(kGolden + "scene97x64.ppm");
    const RgbImage degraded(kGolden + "scene97x64__blocks.ppm");
    Parameters interC1;
    interC1.interC1 = true;
    Parameters none;
    none.intraA = none.intraC1 = none.intraC2 = false;
    Parameters onlyInterA = none;
    onlyInterA.interA = true;
    for (const Parameters& p : {Parameters{}, interC1, none, onlyInterA}) {
        for (unsigned threads : {1u, 3u}) {
            const LinearMapping line;
            const Lumetra2 engine(original, p.alpha, p.beta, p.co, line.a, line.b, p.intraA,
                                  p.interA, p.intraC1, p.interC1, p.intraC2, p.interC2, threads);
            const Bands bands = engine.decompose(AccImage(degraded));
            const Array<float> expected = pooledError(engine.reference().data(), bands.data(), 1);
            EXPECT_EQ(engine(degraded).err(), expected) << threads << " threads";
        }
    }
}

TEST(Lumetra2, DecomposingTheOriginalAgainGivesTheReference) {
    const RgbImage original(kGolden + "scene97x64.ppm");
    const Lumetra2 engine = engineFor(original);
    const Bands again = engine.decompose(AccImage(original));
    for (unsigned k = 0; k < kBandCount; ++k) EXPECT_EQ(again[k], engine.reference()[k]) << k;
}

TEST(Lumetra2, WithoutSwitchesBandsStayUnmasked) {
    const RgbImage original(kGolden + "scene64.ppm");
    Parameters none;
    none.intraA = none.intraC1 = none.intraC2 = false;
    const Bands unmasked = engineFor(original, none).reference();
    const Bands masked = engineFor(original).reference();
    // Intra thresholds exceed 1 for the achromatic bands, so masking shrinks them.
    double unmaskedEnergy = 0.0, maskedEnergy = 0.0;
    for (std::size_t i = 0; i < unmasked[5].size(); ++i) {
        unmaskedEnergy += std::fabs(unmasked[5].data()[i]);
        maskedEnergy += std::fabs(masked[5].data()[i]);
    }
    EXPECT_LT(maskedEnergy, unmaskedEnergy);
}

TEST(Lumetra2, ScoresFromSeveralThreadsAtOnceAsItDoesAlone) {
    // One engine shared by four threads, each scoring every golden degradation; the engine
    // itself runs its bands on two threads, so plans and scratch space are shared too.
    const std::string names[] = {"noise", "blur", "blocks", "hue"};
    const Lumetra2 engine(RgbImage(kGolden + "scene97x64.ppm"), Parameters{}, ExecutionOptions{2});
    std::vector<RgbImage> images;
    std::vector<float> alone;
    for (const std::string& name : names) {
        images.emplace_back(kGolden + "scene97x64__" + name + ".ppm");
        alone.push_back(engine(images.back()).mobj());
    }
    std::vector<std::vector<float>> together(4, std::vector<float>(images.size()));
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < together.size(); ++t) {
        threads.emplace_back([&, t] {
            for (std::size_t i = 0; i < images.size(); ++i) {
                together[t][(i + t) % images.size()] =
                    engine(images[(i + t) % images.size()]).mobj();
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (const std::vector<float>& run : together) EXPECT_EQ(run, alone);
}

// Keeps every plane a comparison offers.
struct KeptPlanes : ComparisonObserver {
    bool wantsErrorTerms() const override { return true; }
    bool wantsWeightedError() const override { return true; }
    void errorTerm(ErrorTerm, const Array<float>& x) override { terms.push_back(x); }
    void blockWeight(const Array<float>& x) override { block = x; }
    void edgeChanges(const Array<int>& x) override { changes = x; }
    void structureWeight(const Array<float>& x) override { structure = x; }
    void weightedError(const Array<float>& x) override { weighted = x; }
    std::vector<Array<float>> terms;
    Array<float> block, structure, weighted;
    Array<int> changes;
};

// What an observer is shown explains the number: the four terms add up to the error map, the
// weights are those of the plain stages applied to that map, and the mean of the weighted
// error raised to 1 / beta is the measure.  Watching changes nothing.
TEST(Lumetra2, ObservedPlanesExplainTheMeasure) {
    Parameters p;
    p.alpha = 0.5f;
    p.beta = 3.0f;
    const Lumetra2 engine(RgbImage(kGolden + "scene97x64.ppm"), p);
    const RgbImage degraded(kGolden + "scene97x64__blocks.ppm");
    KeptPlanes kept;
    const Comparison watched = engine.compare(degraded, &kept);
    const Comparison plain = engine(degraded);
    EXPECT_EQ(watched.mobj(), plain.mobj());
    EXPECT_EQ(watched.err(), plain.err());

    // Each map value is the sum of its four terms, folded in term order: exactly equal.
    ASSERT_EQ(kept.terms.size(), 4u);
    const Array<float>& error = watched.err();
    for (std::size_t i = 0; i < error.size(); ++i) {
        const float sum =
            ((kept.terms[0].data()[i] + kept.terms[1].data()[i]) + kept.terms[2].data()[i]) +
            kept.terms[3].data()[i];
        ASSERT_EQ(sum, error.data()[i]) << "pixel " << i;
    }
    EXPECT_EQ(kept.block, blockWeight(error));
    EXPECT_EQ(kept.changes, edgeChanges(engine.referenceEdges(), edges(AccImage(degraded))));
    EXPECT_EQ(kept.structure, structureWeight(kept.changes, p.co));

    // The measure is the float of a long double mean of these floats.
    long double sum = 0.0L;
    for (std::size_t i = 0; i < kept.weighted.size(); ++i) sum += kept.weighted.data()[i];
    const float measure = static_cast<float>(
        std::pow(sum / static_cast<long double>(kept.weighted.size()), 1.0L / p.beta));
    EXPECT_EQ(measure, watched.mobj());
}

// Bounding the engine's threads changes where work runs, never what it computes.
TEST(Lumetra2, GivesTheSameBitsOnOneThreadAsOnEveryCore) {
    const RgbImage original(kGolden + "scene64.ppm");
    const RgbImage degraded(kGolden + "scene64__noise.ppm");
    const Comparison one = Lumetra2(original, Parameters{}, ExecutionOptions{1})(degraded);
    const Comparison every = Lumetra2(original, Parameters{})(degraded);
    EXPECT_EQ(one.mobj(), every.mobj());
    EXPECT_EQ(one.err(), every.err());
}

TEST(Lumetra2, RefusesParametersThatDoNotValidate) {
    Parameters p;
    p.beta = 0.0f;
    EXPECT_THROW(Lumetra2(RgbImage(kGolden + "scene64.ppm"), p), ParameterError);
}

TEST(Lumetra2, RejectsMismatchedAndTinyImages) {
    const Lumetra2 engine = engineFor(RgbImage(kGolden + "scene64.ppm"));
    const RgbImage other(kGolden + "scene97x64.ppm");
    try {
        engine.checkSize("b.ppm", other);
        FAIL() << "size mismatch accepted";
    } catch (const SizeMismatchError& e) {
        EXPECT_STREQ(e.what(), "\"b.ppm\" is 97 x 64 but the original is 64 x 64");
    }
    EXPECT_THROW(engine(other), SizeMismatchError);

    const Array<unsigned> tiny(7, 9);
    EXPECT_THROW(engineFor(RgbImage(tiny, tiny, tiny)), SizeMismatchError);
    const Array<unsigned> smallest(8, 8);
    EXPECT_NO_THROW(engineFor(RgbImage(smallest, smallest, smallest)));
}

}  // namespace
}  // namespace lumetra
