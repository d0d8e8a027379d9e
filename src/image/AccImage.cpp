#include "image/AccImage.h"

// Opponent colour conversion, one pixel at a time:
//  1. display response: each sample, as a fraction of the image's maximum sample value, is
//     raised to its primary's exponent (in double, rounded to float), scaled by the primary's
//     gain and lifted by the black-level offset (in double, rounded to float): the light
//     levels Lr, Lg, Lb;
//  2. opponent matrix: A, C1 and C2 are float-weighted sums of the three light levels, in
//     float.  The matrix maps the display white to zero chromatic content.

#include <cmath>
#include <utility>

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

}  // namespace

AccImage::AccImage(const RgbImage& rgb)
    : _rows(rgb.rows()), _cols(rgb.cols()), _a(_rows, _cols), _c1(_rows, _cols), _c2(_rows, _cols) {
    const double maxval = rgb.maxval();
    for (std::uint32_t r = 0; r < _rows; ++r) {
        for (std::uint32_t c = 0; c < _cols; ++c) {
            const float lr = lightLevel(rgb.R()(r, c), maxval, kRed);
            const float lg = lightLevel(rgb.G()(r, c), maxval, kGreen);
            const float lb = lightLevel(rgb.B()(r, c), maxval, kBlue);
            _a(r, c) = weigh(kToA, lr, lg, lb);
            _c1(r, c) = weigh(kToC1, lr, lg, lb);
            _c2(r, c) = weigh(kToC2, lr, lg, lb);
        }
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
