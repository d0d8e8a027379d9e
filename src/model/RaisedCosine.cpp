#include "model/RaisedCosine.h"

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

}  // namespace

double raisedCosine(double x, double width) {
    return (1.0 + std::cos(kPi * x / width)) / 2.0;
}

void raisedCosineInPlace(std::span<double> x, double width) {
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
