#include "image/AccImage.h"

// Opponent colour conversion, one pixel at a time:
//  1. display response: each sample, as a fraction of the image's maximum sample value, is
//     raised to its primary's exponent (in double, rounded to float), scaled by the primary's
//     gain and lifted by the black-level offset (in double, rounded to float): the light
//     levels Lr, Lg, Lb;
//  2. opponent matrix: A, C1 and C2 are float-weighted sums of the three light levels, in
//     float.  The matrix maps the display white to zero chromatic content.

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace lumetra {
namespace {

// Display response of one primary: light = gain * (sample / maxval)^exponent + offset.
// The exponents are single-precision constants, widened to double for pow().
struct Primary {
    float exponent;
    double gain;
};
constexpr Primary kRed{2.1649f, 18.18};
constexpr Primary kGreen{2.195f, 58.542};
constexpr Primary kBlue{2.1812f, 9.2465};
// Light level of a black sample, the same for all three primaries.
constexpr double kBlackLevel = 0.13;

// Rows of the opponent matrix: the weights of Lr, Lg and Lb.
struct OpponentWeights {
    float r;
    float g;
    float b;
};
constexpr OpponentWeights kToA{1.0484486f, 0.9930606f, 0.859793f};
constexpr OpponentWeights kToC1{0.41652554f, -0.089902215f, -0.25082278f};
constexpr OpponentWeights kToC2{-0.48084357f, -0.41898727f, 3.5607173f};

float lightLevel(unsigned sample, double maxval, const Primary& primary) {
    const double fraction = static_cast<double>(sample) / maxval;
    const float response =
        static_cast<float>(std::pow(fraction, static_cast<double>(primary.exponent)));
    return static_cast<float>(static_cast<double>(response) * primary.gain + kBlackLevel);
}

float weigh(const OpponentWeights& w, float lr, float lg, float lb) {
    return w.r * lr + w.g * lg + w.b * lb;
}

// Light levels of every sample value 0 .. maxval of one primary: samples are integers, so a
// table computed once per image replaces three powers per pixel with three lookups.
std::vector<float> lightTable(unsigned maxval, const Primary& primary) {
    std::vector<float> table(static_cast<std::size_t>(maxval) + 1);
    for (unsigned v = 0; v <= maxval; ++v) table[v] = lightLevel(v, maxval, primary);
    return table;
}

}  // namespace

AccImage::AccImage(const RgbImage& rgb, std::shared_ptr<PlanePool> pool)
    : _rows(rgb.rows()),
      _cols(rgb.cols()),
      _a(_rows, _cols, pool, kUninitialised),  // every pixel is converted below
      _c1(_rows, _cols, pool, kUninitialised),
      _c2(_rows, _cols, std::move(pool), kUninitialised) {
    if (_rows == 0 || _cols == 0) return;
    const std::vector<float> red = lightTable(rgb.maxval(), kRed);
    const std::vector<float> green = lightTable(rgb.maxval(), kGreen);
    const std::vector<float> blue = lightTable(rgb.maxval(), kBlue);
    // Samples above maxval only come from a hand-built image that broke its contract: they
    // take the level of maxval rather than reading outside the table.
    const unsigned top = rgb.maxval();
    const unsigned* rs = rgb.R().data();
    const unsigned* gs = rgb.G().data();
    const unsigned* bs = rgb.B().data();
    for (std::size_t i = 0, n = _a.size(); i < n; ++i) {
        const float lr = red[std::min(rs[i], top)];
        const float lg = green[std::min(gs[i], top)];
        const float lb = blue[std::min(bs[i], top)];
        _a.data()[i] = weigh(kToA, lr, lg, lb);
        _c1.data()[i] = weigh(kToC1, lr, lg, lb);
        _c2.data()[i] = weigh(kToC2, lr, lg, lb);
    }
}

AccImage::AccImage(AccImage&& other) noexcept
    : _rows(std::exchange(other._rows, 0u)),
      _cols(std::exchange(other._cols, 0u)),
      _a(std::move(other._a)),
      _c1(std::move(other._c1)),
      _c2(std::move(other._c2)) {}

AccImage& AccImage::operator=(AccImage&& other) noexcept {
    if (this != &other) {
        _rows = std::exchange(other._rows, 0u);
        _cols = std::exchange(other._cols, 0u);
        _a = std::move(other._a);
        _c1 = std::move(other._c1);
        _c2 = std::move(other._c2);
    }
    return *this;
}

std::ostream& operator<<(std::ostream& out, const AccImage& image) {
    out << "A" << std::endl << image.A() << std::endl;
    out << "C1" << std::endl << image.C1() << std::endl;
    out << "C2" << std::endl << image.C2() << std::endl;
    return out;
}

}  // namespace lumetra
