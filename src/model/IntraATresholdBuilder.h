#pragma once

#include <cmath>
#include <span>

#include "image/Array.h"
#include "image/VectorMath.h"

namespace lumetra {

// Self-masking threshold of an achromatic band: the power-law contrast masking curve
// T = (1 + (k1 (k2 |x|)^s)^4)^(1/4), element by element, with k1 = 6^(-7/3), k2 = 6^(10/3).
// T is 1 at x = 0 and grows like k1 (k2 |x|)^s, so s is the slope of the curve in log-log
// terms.
//
// Float arithmetic throughout; each power runs in double on float arguments and is rounded to
// float.  The threshold of one value is powerLaw then curve: kept apart so that a loop over the
// second, free of calls, vectorises, and the first has a form over runs of gains
// (slopePowerInPlace) with the very floats of the scalar one.
class IntraATresholdBuilder {
  public:
    IntraATresholdBuilder();

    Array<float> operator()(const Array<float>& band, float s) const;

    // (k2 |x|)^s: exact for the unit slope; otherwise the float pow, which works in double
    // internally and lands within one unit in the last place of the double pow rounded to
    // float (the same value for all but a few in ten thousand arguments) at a third of its
    // cost.  This is the builder's hot spot: one call per pixel of every achromatic band.
    float powerLaw(float x, float s) const { return slopePower(gain(x), s); }
    float gain(float x) const { return _k2 * std::fabs(x); }
    static float slopePower(float y, float s) { return s == 1.0f ? y : std::pow(y, s); }
    // y[i] = slopePower(y[i], s) for every i, several at a time: the C library's float pow
    // repeated on vectors where this process found it gives the library's floats, std::pow
    // otherwise (image/VectorMath.h, powInPlace): the same floats either way.
    static void slopePowerInPlace(std::span<float> y, float s) {
        if (s != 1.0f) powInPlace(y, s);
    }

    // A gain below which the threshold is exactly 1 (0 when s <= 0): there (k1 y^s)^4 stays
    // under half of 2^-24, so 1 + (k1 y^s)^4 rounds to 1 in float whatever the roundings on
    // the way.  Masking skips the curve for such values.
    float unitBelow(float s) const;

    // (1 + (k1 p)^4)^(1/4) of a power-law value p.  The fourth power and root are two
    // squarings in double (the first one exact) and two square roots: after the rounding to
    // float the same values as pow(y, 4.0) and pow(y, 0.25), far cheaper.
    float curve(float powerLaw) const {
        const double y = _k1 * powerLaw;
        const double square = y * y;
        const float fourth = static_cast<float>(square * square);
        return static_cast<float>(std::sqrt(std::sqrt(static_cast<double>(fourth + 1.0f))));
    }

    float at(float x, float s) const { return curve(powerLaw(x, s)); }

  private:
    float _k1;  // 6^(-7/3), 0.0152867
    float _k2;  // 6^(10/3), 392.498
};

}  // namespace lumetra
