#include "engine/BandMasking.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "engine/BandIndex.h"
#include "engine/MaskingConstants.h"
#include "image/VectorMath.h"
#include "model/InterATresholdBuilder.h"
#include "model/InterBTresholdBuilder.h"
#include "model/IntraATresholdBuilder.h"
#include "model/IntraCTresholdBuilder.h"

namespace lumetra {

namespace {

using namespace masking;

float rational(float x, const Curve& curve) {
    return InterATresholdBuilder::at(x, curve.p, curve.q, curve.r);
}
// x[i] = saturating curve of x[i] for every i, the exponentials several at a time.
void saturatingInPlace(std::span<float> x, const Curve& curve) {
    InterBTresholdBuilder::applyInPlace(x, curve.p, curve.q, curve.r);
}
float intraC(float x, const Curve& curve) {
    return IntraCTresholdBuilder::at(x, curve.p, curve.q, curve.r);
}

// Pixels are masked in chunks small enough for their thresholds to stay in cache; the loops
// over a chunk free of calls into the maths library vectorise.
constexpr std::size_t kChunk = 1024;

// t[i] = curve(t[i]) for every i: float to double, products, two square roots and the
// roundings to float, every one an exact IEEE operation, so that wider vectors give the same
// floats.  The clone for four-lane double vectors (AVX) is entered only where the processor has
// them; it is compiled without FMA, so no product can be fused with a sum.
void curveInPlace(const IntraATresholdBuilder& builder, std::span<float> t) {
    for (float& v : t) v = builder.curve(v);
}
__attribute__((target("avx"))) void curveInPlaceAvx(const IntraATresholdBuilder& builder,
                                                    std::span<float> t) {
    for (float& v : t) v = builder.curve(v);
}

// The values of a chunk that masking divides, gathered to the front: their gains (the power and
// the curve turn them into thresholds), the values themselves and their places in the chunk.
// Eight lanes of slack: the eight-lane gathering stores whole vectors.
struct Masked {
    // Adds the masked ones of values [begin, n) of the chunk: a gain is masked unless it lies
    // below the unit bound, and a gain that is not a number is masked.
    void gather(const float* gain, const float* x, std::size_t begin, std::size_t n,
                float unitBelow) {
        for (std::size_t i = begin; i < n; ++i) {
            threshold[count] = gain[i];
            value[count] = x[i];
            index[count] = static_cast<std::uint32_t>(i);
            count += gain[i] < unitBelow ? 0 : 1;
        }
    }
    // gather(gain, x, 0, n, unitBelow), eight lanes at a time (below).
    void gatherAvx2(const float* gain, const float* x, std::size_t n, float unitBelow);

    float threshold[kChunk + 8];
    float value[kChunk + 8];
    std::uint32_t index[kChunk + 8];
    std::size_t count = 0;
};

// For each pattern of eight masked lanes, the masked lanes' numbers in order (a byte each).
constexpr std::array<std::uint64_t, 256> kLaneOrder = [] {
    std::array<std::uint64_t, 256> order{};
    for (unsigned pattern = 0; pattern < 256; ++pattern) {
        unsigned taken = 0;
        for (unsigned lane = 0; lane < 8; ++lane) {
            if ((pattern >> lane & 1) != 0) order[pattern] |= std::uint64_t{lane} << (8 * taken++);
        }
    }
    return order;
}();

// Each lane's masking decided by one comparison, the masked lanes moved to the front of the
// vector by one permutation, the whole vector stored.
__attribute__((target("avx2"))) void Masked::gatherAvx2(const float* gain, const float* x,
                                                        std::size_t n, float unitBelow) {
    const __m256 bound = _mm256_set1_ps(unitBelow);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256 g = _mm256_loadu_ps(gain + i);
        // Not below the bound, true where the gain is not a number.
        const auto pattern =
            static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(g, bound, _CMP_NLT_UQ)));
        const __m256i order =
            _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(kLaneOrder[pattern])));
        _mm256_storeu_ps(threshold + count, _mm256_permutevar8x32_ps(g, order));
        _mm256_storeu_ps(value + count, _mm256_permutevar8x32_ps(_mm256_loadu_ps(x + i), order));
        const __m256i lanes = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(i)),
                                               _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(index + count),
                            _mm256_permutevar8x32_epi32(lanes, order));
        count += static_cast<std::size_t>(__builtin_popcount(pattern));
    }
    gather(gain, x, i, n, unitBelow);
}

// a[i] = a[i] / T(a[i] / 250; s) over [begin, end).  Where the gain lies below the builder's
// unit bound the threshold is exactly 1 and the value stays as it is: only the others, often
// fewer than half, go through the power and the curve.  Each step is a loop over the chunk of
// its own: the gains, the gathering of the masked ones to the front, their powers (several at
// a time, image/VectorMath.h), their curves, the divisions, the quotients put back in place.
void divideByIntraA(const IntraATresholdBuilder& builder, float slope, float* a, std::size_t begin,
                    std::size_t end) {
    const float unitBelow = builder.unitBelow(slope);
    const VectorExtensions offered = processorVectorExtensions();
    float gain[kChunk];
    Masked masked;
    for (std::size_t start = begin; start < end; start += kChunk) {
        const std::size_t n = std::min(kChunk, end - start);
        float* x = a + start;
        // A division, as the model defines the scaled value: x / 250 is not x * 0.004 in float.
        for (std::size_t i = 0; i < n; ++i) gain[i] = builder.gain(x[i] / kADivisor);
        masked.count = 0;
        if (offered.avx2) {
            masked.gatherAvx2(gain, x, n, unitBelow);
        } else {
            masked.gather(gain, x, 0, n, unitBelow);
        }
        const std::span<float> thresholds(masked.threshold, masked.count);
        IntraATresholdBuilder::slopePowerInPlace(thresholds, slope);
        if (offered.avx) {
            curveInPlaceAvx(builder, thresholds);
        } else {
            curveInPlace(builder, thresholds);
        }
        for (std::size_t m = 0; m < masked.count; ++m) {
            masked.value[m] = masked.value[m] / masked.threshold[m];
        }
        for (std::size_t m = 0; m < masked.count; ++m) x[masked.index[m]] = masked.value[m];
    }
}

}  // namespace

void maskOrientationGroup(const MaskSwitches& switches, unsigned j, float* a, float* c1, float* c2,
                          const float* a0, std::size_t begin, std::size_t end) {
    if (!switches.any()) return;
    const bool base = j == 0;
    // Both chromatic thresholds read the other channel unmasked: build them first, then divide.
    float c1Threshold[kChunk];
    float c2Threshold[kChunk];
    float saturation[kChunk];  // the saturating factor of C1's crown thresholds
    for (std::size_t start = begin; start < end; start += kChunk) {
        const std::size_t n = std::min(kChunk, end - start);
        const float* x = a + start;
        float* u = c1 + start;
        float* v = c2 + start;
        if (switches.intraC2 && base) {
            for (std::size_t i = 0; i < n; ++i) {
                const float self = intraC(v[i] / kC2Divisor, kIntraC2Base);
                c2Threshold[i] = self * rational(u[i] / kC1Divisor, kC2ByC1Base);
            }
        } else if (switches.intraC2) {
            // The factor of C1 first, all of the chunk at once, then the self threshold.
            for (std::size_t i = 0; i < n; ++i) c2Threshold[i] = u[i] / kC1Divisor;
            saturatingInPlace(std::span<float>(c2Threshold, n), kC2ByC1Crown);
            for (std::size_t i = 0; i < n; ++i) {
                const float self = intraC(v[i] / kC2Divisor, kIntraC2Crown);
                c2Threshold[i] = self * c2Threshold[i];
            }
        }
        if (switches.intraC1) {
            for (std::size_t i = 0; i < n; ++i) {
                c1Threshold[i] = intraC(u[i] / kC1Divisor, base ? kIntraC1Base : kIntraC1Crown);
            }
            if (switches.interC1 && base) {
                for (std::size_t i = 0; i < n; ++i) {
                    float t = c1Threshold[i] * rational(x[i] / kADivisor, kC1BaseByA);
                    t = t * rational(v[i] / kC2Divisor, kC1BaseByC2);
                    c1Threshold[i] = t;
                }
            } else if (switches.interC1) {
                const float* y = a0 + start;
                for (std::size_t i = 0; i < n; ++i) saturation[i] = y[i] / kADivisor;
                saturatingInPlace(std::span<float>(saturation, n), kC1CrownByABaseSaturating);
                for (std::size_t i = 0; i < n; ++i) {
                    const float scaledBase = y[i] / kADivisor;
                    float t = c1Threshold[i] * rational(scaledBase, kC1CrownByABase);
                    t = t * rational(x[i] / kADivisor, kC1CrownByAOrientation);
                    t = t * saturation[i];
                    c1Threshold[i] = t;
                }
            }
        }
        if (switches.intraC2) {
            for (std::size_t i = 0; i < n; ++i) v[i] = v[i] / c2Threshold[i];
        }
        if (switches.intraC1) {
            for (std::size_t i = 0; i < n; ++i) u[i] = u[i] / c1Threshold[i];
        }
    }
    if (switches.intraA) {
        divideByIntraA(IntraATresholdBuilder(), base ? kSlopeABase : kSlopeACrown2, a, begin, end);
    }
}

void maskAchromaticBand(const MaskSwitches& switches, unsigned k, float* a, std::size_t begin,
                        std::size_t end) {
    if (!switches.intraA || k < kCrown3First || k > kALast) return;
    divideByIntraA(IntraATresholdBuilder(), kSlopeAHigh, a, begin, end);
}

}  // namespace lumetra
