#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "ReferenceModel.h"
#include "engine/BandIndex.h"
#include "engine/BandMasking.h"
#include "engine/Parameters.h"
#include "model/IntraATresholdBuilder.h"

namespace lumetra {
namespace {

using Bands = std::array<Array<float>, kBandCount>;

// Band values of the size the model produces: A bands within a few hundred (the base well
// above), chromatic ones within tens, with exact zeros mixed in.
Bands randomBands(std::uint32_t rows, std::uint32_t cols) {
    std::mt19937 random(2024);
    Bands bands;
    for (unsigned k = 0; k < kBandCount; ++k) {
        const float scale = k == 0 ? 2000.0f : (k <= kALast ? 300.0f : 40.0f);
        bands[k] = Array<float>(rows, cols);
        for (std::size_t i = 0; i < bands[k].size(); ++i) {
            const std::uint32_t draw = random() % 4001;
            bands[k].data()[i] =
                draw % 13 == 0 ? 0.0f : (static_cast<float>(draw) / 2000.0f - 1.0f) * scale;
        }
    }
    return bands;
}

// Every one of the 64 switch settings, masking group by group and band by band in two
// uneven pieces, gives the reference path's whole-band masking to the last bit.
TEST(BandMasking, PixelByPixelEqualsThePlainMaskingForEverySwitchSetting) {
    constexpr std::uint32_t kRows = 23;  // 23 x 97 = 2231 pixels: more than two chunks
    constexpr std::uint32_t kCols = 97;
    const Bands in = randomBands(kRows, kCols);
    const std::size_t n = in[0].size();
    const std::size_t split = n / 3 + 5;
    for (unsigned bits = 0; bits < 64; ++bits) {
        Parameters p;
        p.intraA = (bits & 1) != 0;
        p.interA = (bits & 2) != 0;
        p.intraC1 = (bits & 4) != 0;
        p.interC1 = (bits & 8) != 0;
        p.intraC2 = (bits & 16) != 0;
        p.interC2 = (bits & 32) != 0;
        const MaskSwitches s = p.switches();
        SCOPED_TRACE(::testing::Message() << "switches " << bits);
        const Bands expected = referenceMasked(in, p);
        Bands actual = in;
        const Array<float> unmaskedBase = in[0];
        for (unsigned j = 0; j <= kCrown2Size; ++j) {
            for (const auto& [begin, end] :
                 {std::pair{std::size_t{0}, split}, std::pair{split, n}}) {
                maskOrientationGroup(s, j, actual[j].data(), actual[kC1Base + j].data(),
                                     actual[kC2Base + j].data(), unmaskedBase.data(), begin, end);
            }
        }
        for (unsigned k = kCrown3First; k <= kALast; ++k) {
            maskAchromaticBand(s, k, actual[k].data(), 0, split);
            maskAchromaticBand(s, k, actual[k].data(), split, n);
        }
        for (unsigned k = 0; k < kBandCount; ++k) ASSERT_EQ(actual[k], expected[k]) << "band " << k;
    }
}

// Achromatic values the power treats apart or that sit at the unit bound (subnormal, huge,
// infinite, not a number, both signs) mask to the same bits as in the plain path.
TEST(BandMasking, OddAchromaticValuesMaskAsThePlainMaskingDoes) {
    constexpr std::uint32_t kRows = 9;
    constexpr std::uint32_t kCols = 131;
    Bands in = randomBands(kRows, kCols);
    constexpr float kInf = std::numeric_limits<float>::infinity();
    // Values whose gains k2 |x| / 250 lie at the unit bounds of the slopes 0.7 and 0.85.
    const IntraATresholdBuilder builder;
    const float atBase = builder.unitBelow(0.7f) / builder.gain(1.0f) * 250.0f;
    const float atHigh = builder.unitBelow(0.85f) / builder.gain(1.0f) * 250.0f;
    const std::array<float, 12> odd = {1e-40f,
                                       -1e-40f,
                                       3e38f,
                                       -3e38f,
                                       kInf,
                                       -kInf,
                                       std::numeric_limits<float>::quiet_NaN(),
                                       -0.0f,
                                       atBase,
                                       std::nextafter(atBase, 0.0f),
                                       atHigh,
                                       std::nextafter(atHigh, 0.0f)};
    for (unsigned k = 0; k <= kALast; ++k) {
        for (std::size_t i = 0; i < in[k].size(); i += 7)
            in[k].data()[i] = odd[(i / 7 + k) % odd.size()];
    }
    Parameters p;
    p.intraA = true;
    p.interA = p.intraC1 = p.interC1 = p.intraC2 = p.interC2 = false;
    const Bands expected = referenceMasked(in, p);
    Bands actual = in;
    const std::size_t n = in[0].size();
    const Array<float> unmaskedBase = in[0];
    for (unsigned j = 0; j <= kCrown2Size; ++j) {
        maskOrientationGroup(p.switches(), j, actual[j].data(), actual[kC1Base + j].data(),
                             actual[kC2Base + j].data(), unmaskedBase.data(), 0, n);
    }
    for (unsigned k = kCrown3First; k <= kALast; ++k)
        maskAchromaticBand(p.switches(), k, actual[k].data(), 0, n);
    for (unsigned k = 0; k <= kALast; ++k) {
        for (std::size_t i = 0; i < n; ++i) {
            ASSERT_EQ(std::bit_cast<std::uint32_t>(actual[k].data()[i]),
                      std::bit_cast<std::uint32_t>(expected[k].data()[i]))
                << "band " << k << " value " << in[k].data()[i];
        }
    }
}

}  // namespace
}  // namespace lumetra
