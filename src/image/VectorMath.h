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

}  // namespace lumetra
