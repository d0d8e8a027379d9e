#include "model/RaisedCosine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "image/VectorMath.h"

namespace lumetra {

namespace {

constexpr double kPi = std::numbers::pi;

// Beyond this angle the cosine nears -1 and 1 + cos cancels: an error of one unit in the last
// place of the cosine grows without bound relative to the fall, which the float it is
// rounded to then shows.  There the scalar cosine is taken, as the plain function takes it.
// Below it, 1 + cos lies within [0.5, 2] and the two cosines round to the same float but for
// a value half-way between two floats give or take a few units of 2^-53.
constexpr double kLargestVectorAngle = 2.0 * kPi / 3.0;

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
            const double cosine = angle[i] > kLargestVectorAngle ? std::cos(angle[i]) : block[i];
            block[i] = (1.0 + cosine) / 2.0;
        }
    }
}

}  // namespace lumetra
