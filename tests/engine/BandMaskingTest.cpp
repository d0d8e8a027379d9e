#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>

#include "engine/BandIndex.h"
#include "engine/BandMasking.h"
#include "model/InterATresholdBuilder.h"
#include "model/InterBTresholdBuilder.h"
#include "model/IntraATresholdBuilder.h"
#include "model/IntraCTresholdBuilder.h"

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

void multiplyInto(Array<float>& t, const Array<float>& f) {
    for (std::size_t i = 0; i < t.size(); ++i) t.data()[i] = t.data()[i] * f.data()[i];
}
void divideBy(Array<float>& band, const Array<float>& t) {
    if (t.size() == 0) return;
    for (std::size_t i = 0; i < band.size(); ++i) band.data()[i] = band.data()[i] / t.data()[i];
}

// The masking written plainly over whole bands with the array builders: all thresholds from
// the unmasked bands first, then every band divided by its own.
Bands maskedPlainly(const Bands& in, const MaskSwitches& s) {
    Bands out = in;
    if (!s.any()) return out;
    auto scaled = [&](unsigned k) {
        return in[k] / (k <= kALast ? 250.0f : (k <= kC1Last ? 30.0f : 5.0f));
    };
    const IntraATresholdBuilder intraA;
    const IntraCTresholdBuilder intraC;
    const InterATresholdBuilder interA;
    const InterBTresholdBuilder interB;
    Bands t;
    if (s.intraA) {
        for (unsigned k = 0; k <= kALast; ++k) {
            t[k] = intraA(scaled(k), k == 0 ? 0.7f : (k <= kCrown2Size ? 1.0f : 0.85f));
        }
    }
    if (s.intraC1) {
        t[kC1Base] = intraC(scaled(kC1Base), 0.45f, 0.06f, 1.22f);
        for (unsigned j = 1; j <= kCrown2Size; ++j) {
            t[kC1Base + j] = intraC(scaled(kC1Base + j), 0.48f, 0.03f, 0.82f);
        }
    }
    if (s.interC1) {
        multiplyInto(t[kC1Base], interA(scaled(0), -0.287f, 0.053f, 0.241f));
        multiplyInto(t[kC1Base], interA(scaled(kC2Base), 0.09f, 0.1f, 0.82f));
        const Array<float> g = interA(scaled(0), -0.057f, 0.031f, 0.258f);
        const Array<float> h = interB(scaled(0), 1.16f, 0.16f, 0.048f);
        for (unsigned j = 1; j <= kCrown2Size; ++j) {
            multiplyInto(t[kC1Base + j], g);
            multiplyInto(t[kC1Base + j], interA(scaled(j), 0.0232f, 0.0013f, 0.1096f));
            multiplyInto(t[kC1Base + j], h);
        }
    }
    if (s.intraC2) {
        t[kC2Base] = intraC(scaled(kC2Base), 0.72f, 0.22f, 2.78f);
        multiplyInto(t[kC2Base], interA(scaled(kC1Base), 0.136f, 0.004f, 0.196f));
        for (unsigned j = 1; j <= kCrown2Size; ++j) {
            t[kC2Base + j] = intraC(scaled(kC2Base + j), 0.13f, 0.05f, 0.42f);
            multiplyInto(t[kC2Base + j], interB(scaled(kC1Base + j), 1.8f, 0.8f, 0.02f));
        }
    }
    for (unsigned k = 0; k < kBandCount; ++k) divideBy(out[k], t[k]);
    return out;
}

// Every one of the 64 switch settings, masking group by group and band by band in two
// uneven pieces, gives the plain whole-band masking to the last bit.
TEST(BandMasking, PixelByPixelEqualsThePlainMaskingForEverySwitchSetting) {
    constexpr std::uint32_t kRows = 23;  // 23 x 97 = 2231 pixels: more than two chunks
    constexpr std::uint32_t kCols = 97;
    const Bands in = randomBands(kRows, kCols);
    const std::size_t n = in[0].size();
    const std::size_t split = n / 3 + 5;
    for (unsigned bits = 0; bits < 64; ++bits) {
        const MaskSwitches s{(bits & 1) != 0, (bits & 2) != 0,  (bits & 4) != 0,
                             (bits & 8) != 0, (bits & 16) != 0, (bits & 32) != 0};
        SCOPED_TRACE(::testing::Message() << "switches " << bits);
        const Bands expected = maskedPlainly(in, s);
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

}  // namespace
}  // namespace lumetra
