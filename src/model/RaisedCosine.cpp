#include "model/RaisedCosine.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "image/VectorMath.h"

namespace lumetra {

namespace {

constexpr double kPi = std::numbers::pi;

// Whether the plain fall could round to another float than `fall` (in [0, 1]) does.  Both
// cosines lie within a unit in the last place of the exact cosine, 2^-53 for |cos| >= 1/2 (less
// below), so they differ by at most 2^-52; 1 + cos adds a rounding of at most 2^-53 each where
// it does not cancel (where it does, it is exact), and halving is exact: the two falls lie
// within 2^-51, taken as 2^-49 for room.  In units of the last place of a fall in [2^e, 2^e+1)
// that is 2^(3 - e); a float drops the 29 low bits of a double's significand, and rounds up
// from 2^28 of them: the fall is fragile within that margin of 2^28, and below the normal
// floats.
bool fragileFall(double fall) {
    if (!(fall >= 0x1p-126)) return true;
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(fall);
    const int exponent = static_cast<int>(bits >> 52) - 1023;
    const int marginBits = 3 - exponent;
    constexpr int kDroppedBits = 29;
    if (marginBits >= kDroppedBits - 1) return true;
    const std::uint64_t margin = std::uint64_t{1} << marginBits;
    constexpr std::uint64_t kHalfWay = std::uint64_t{1} << (kDroppedBits - 1);
    const std::uint64_t dropped = bits & ((std::uint64_t{1} << kDroppedBits) - 1);
    return dropped + margin >= kHalfWay && dropped <= kHalfWay + margin;
}

// Values whose angles are kept while their cosines are taken: a buffer that stays in cache.
constexpr std::size_t kBlock = 256;

// The fall of fragileFall's test, four lanes at once with exact floating operations: a lane
// is fragile when its fall is below 2^-24 (where the margin reaches the dropped bits' half-way
// point), not a number, or lies within 2^-49 of a point half-way between two floats (the
// margin of fragileFall: 2^(3 - e) units of 2^(e - 52)).  That point is the fall's kept bits
// (the low 29 of its significand cleared) plus half a float unit, 2^(e - 24), where 2^e is the
// fall's exponent alone; the distance from it is exact, as both lie in the fall's binade and
// are multiples of its unit.  Returns the fragile lanes' bits (lane i, bit i).
__attribute__((target("avx"))) int fragileFalls(__m256d fall) {
    const __m256d exponentBits = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7ff0000000000000));
    const __m256d keptBits =
        _mm256_castsi256_pd(_mm256_set1_epi64x(~((std::int64_t{1} << 29) - 1)));
    const __m256d signBit = _mm256_set1_pd(-0.0);
    const __m256d low = _mm256_cmp_pd(fall, _mm256_set1_pd(0x1p-24), _CMP_NGE_UQ);
    const __m256d power = _mm256_and_pd(fall, exponentBits);
    const __m256d halfWay =
        _mm256_add_pd(_mm256_and_pd(fall, keptBits), _mm256_mul_pd(power, _mm256_set1_pd(0x1p-24)));
    const __m256d distance = _mm256_andnot_pd(signBit, _mm256_sub_pd(fall, halfWay));
    const __m256d near = _mm256_cmp_pd(distance, _mm256_set1_pd(0x1p-49), _CMP_LE_OQ);
    return _mm256_movemask_pd(_mm256_or_pd(low, near));
}

// raisedCosineInPlace with its loops four lanes at once: the same operations in the same
// order (kPi * x / width, (1 + cos) / 2 as a product by 1/2, exact), no products fused.
__attribute__((target("avx"))) void raisedCosineFour(std::span<double> x, double width) {
    std::array<double, kBlock> angle;
    const __m256d pi = _mm256_set1_pd(kPi);
    const __m256d divisor = _mm256_set1_pd(width);
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d half = _mm256_set1_pd(0.5);
    for (std::size_t start = 0; start < x.size(); start += kBlock) {
        const std::span<double> block = x.subspan(start, std::min(kBlock, x.size() - start));
        const std::size_t n = block.size();
        const std::size_t vectorEnd = n - n % 4;
        for (std::size_t i = 0; i < vectorEnd; i += 4) {
            const __m256d a = _mm256_div_pd(_mm256_mul_pd(pi, _mm256_loadu_pd(&block[i])), divisor);
            _mm256_storeu_pd(&angle[i], a);
            _mm256_storeu_pd(&block[i], a);
        }
        for (std::size_t i = vectorEnd; i < n; ++i) {
            angle[i] = kPi * block[i] / width;
            block[i] = angle[i];
        }
        cosInPlace(block, VectorWidth::Four);
        for (std::size_t i = 0; i < vectorEnd; i += 4) {
            const __m256d fall =
                _mm256_mul_pd(_mm256_add_pd(one, _mm256_loadu_pd(&block[i])), half);
            _mm256_storeu_pd(&block[i], fall);
            for (int fragile = fragileFalls(fall); fragile != 0; fragile &= fragile - 1) {
                const std::size_t k =
                    i + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(fragile)));
                block[k] = (1.0 + std::cos(angle[k])) / 2.0;
            }
        }
        for (std::size_t i = vectorEnd; i < n; ++i) {
            const double fall = (1.0 + block[i]) / 2.0;
            block[i] = fragileFall(fall) ? (1.0 + std::cos(angle[i])) / 2.0 : fall;
        }
    }
}

}  // namespace

double raisedCosine(double x, double width) {
    return (1.0 + std::cos(kPi * x / width)) / 2.0;
}

void raisedCosineInPlace(std::span<double> x, double width, VectorWidth lanes) {
    if (lanes == VectorWidth::Four && widestVectorWidth() == VectorWidth::Four) {
        raisedCosineFour(x, width);
        return;
    }
    std::array<double, kBlock> angle;
    for (std::size_t start = 0; start < x.size(); start += kBlock) {
        const std::span<double> block = x.subspan(start, std::min(kBlock, x.size() - start));
        for (std::size_t i = 0; i < block.size(); ++i) {
            angle[i] = kPi * block[i] / width;
            block[i] = angle[i];
        }
        cosInPlace(block);
        for (std::size_t i = 0; i < block.size(); ++i) {
            const double fall = (1.0 + block[i]) / 2.0;
            // Where the plain fall could round to another float, it is taken instead.
            block[i] = fragileFall(fall) ? (1.0 + std::cos(angle[i])) / 2.0 : fall;
        }
    }
}

}  // namespace lumetra
