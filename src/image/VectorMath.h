#pragma once

// Elementary functions of double precision over runs of values, several values per
// instruction (SLEEF's functions of at most one unit in the last place, dispatched at run time
// to the widest instruction set the processor has).
//
// They stand in for the scalar std::exp and std::cos where the model takes the
// function in double and rounds the result to float.  Both the scalar function and these lie
// within one unit in the last place of the exact double result, so the two floats they round
// to can differ only where the exact result lies within about two double units of a point
// half-way between two floats: one argument in about 2^28.  The callers' tests sweep the
// arguments the model feeds each function and count such cases (none found so far).
//
// They do not stand in for the float functions (powf, expf): those work in double with an
// error of about 2^-26 before their one rounding, and a more accurate double result rounded to
// float differs from theirs for some arguments in ten thousand.  The float power below is
// instead the C library's own algorithm on vectors.

#include <span>

namespace lumetra {

// The vector instructions the processor offers beyond SSE2, which every x86-64 processor has.
// Code compiled for one of them (a target attribute) is entered only where it is offered; this
// is the one place that asks the processor.
struct VectorExtensions {
    bool avx = false;   // 256-bit vectors of floats and doubles
    bool avx2 = false;  // 256-bit integer vectors and lane permutations
    bool fma = false;   // products fused with the sums that follow

    // Both AVX2 and FMA, as the C library's fused build of its float power requires.
    bool avx2AndFma() const { return avx2 && fma; }
};

// The processor's, asked once on the first call.
VectorExtensions processorVectorExtensions();

// Lanes of double precision per instruction: two (SSE2, every x86-64 processor) or four (AVX).
enum class VectorWidth { Two, Four };

// The widest width the processor runs.
VectorWidth widestVectorWidth();

// x[i] = exp(x[i]) for every i.
void expInPlace(std::span<double> x, VectorWidth width = widestVectorWidth());

// x[i] = cos(x[i]) for every i.
void cosInPlace(std::span<double> x, VectorWidth width = widestVectorWidth());

// The C library's double functions of results that are rounded to float, several at a time:
// out[i] is, to the bit, the float that std::pow, std::atan2, std::exp, std::sin or std::cos
// of the same arguments gives once rounded.  The vector function, like the C library's, lies
// within one unit in the last place of the exact result, so the two round to different floats
// only where the result lies within two double units of a point half-way between two floats.
// Results that close (about one in fifty million), and results outside the range of normal
// floats, are taken again with the C library's function: the floats are the same by
// construction, not by a count of cases.  The spans are of one length.
void powToFloat(std::span<const double> base, double exponent, std::span<float> out,
                VectorWidth width = widestVectorWidth());
void atan2ToFloat(std::span<const double> y, std::span<const double> x, std::span<float> out,
                  VectorWidth width = widestVectorWidth());
void expToFloat(std::span<const double> x, std::span<float> out,
                VectorWidth width = widestVectorWidth());
void sinToFloat(std::span<const double> x, std::span<float> out,
                VectorWidth width = widestVectorWidth());
void cosToFloat(std::span<const double> x, std::span<float> out,
                VectorWidth width = widestVectorWidth());

// The float power std::pow(float, float) over runs of values, with the very floats the C
// library returns.  GNU libc (2.28 onwards, here 2.36) computes powf in double: a base-2
// logarithm from a table of 16 intervals and a polynomial, the product with the exponent, and a
// base-2 exponential from a table of 32 entries and a polynomial, with an error of about 2^-26
// before the one rounding to float.  The vector paths run the same operations on the same
// tables and coefficients, two or four lanes at once, so that each lane goes through exactly
// the double roundings of the scalar function.  On x86-64 the library picks one of two builds
// of it when it is loaded: one for processors with FMA and AVX2, where the compiler fused each
// product with the sum that follows it, and a plain SSE2 one, where every operation rounds; the
// two paths here repeat those two builds.  Each path gives its build's float for every float
// from the masking's unit bounds up to the largest float with the slopes 0.7 and 0.85 (an
// exhaustive sweep; VectorMathTest keeps it, disabled, and a dense sample of it).
//
// Values the algorithm treats apart (bases that are not positive normal finite floats,
// exponents that are 0, infinite or not a number, results near the ends of the float range) go
// through std::pow, one by one.
enum class FloatPowPath {
    Scalar,          // std::pow for every value
    TwoLanes,        // SSE2, every operation rounded: the library's plain build
    FourLanesFused,  // AVX2 and FMA, products fused with the sums that follow: its FMA build
};

// The path this process uses, chosen on the first call: the vector path the processor runs
// (the fused one first) that gives std::pow's own float for every argument of a probe set of a
// few thousand (hard cases among them: an argument where the two builds differ, and arguments
// where the double power rounded to float differs).  The probe is the safety net: when no path
// agrees (another C library, another algorithm in another version), every value goes through
// std::pow, the same floats at the scalar speed.
FloatPowPath floatPowPath();

// y[i] = std::pow(y[i], s) for every i, through the given path.  A vector path the processor
// cannot run falls back to the scalar one.
void powInPlace(std::span<float> y, float s, FloatPowPath path = floatPowPath());

// Whether the path gives std::pow's float for every argument of the probe set.
bool agreesWithLibraryPow(FloatPowPath path);

}  // namespace lumetra
