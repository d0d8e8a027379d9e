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
// float differs from theirs for some arguments in ten thousand.

#include <span>

namespace lumetra {

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

}  // namespace lumetra
