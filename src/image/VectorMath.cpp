#include "image/VectorMath.h"

#include <immintrin.h>
#include <sleef.h>

#include <algorithm>
#include <cstddef>

// The functions of four lanes take and return 256-bit vectors: only code compiled for AVX may
// call them, so the loops that do are compiled for AVX alone (the target attribute) and are
// entered only when the processor has it.  sleef.h declares them only to code compiled for AVX
// throughout; the ones used are declared here as it declares them.  SLEEF's dispatchers
// (Sleef_expd2_u10, Sleef_expd4_u10, ...) pick the best variant of each width for the processor on
// their first call.

extern "C" {
__m256d Sleef_expd4_u10(__m256d);
__m256d Sleef_cosd4_u10(__m256d);
}

namespace lumetra {

namespace {

constexpr std::size_t kTwoLanes = 2;
constexpr std::size_t kFourLanes = 4;

// x[i] = f(x[i]) two at a time; an odd last value goes through f in a vector of its own.
template <auto F>
void twoAtATime(std::span<double> x) {
    double* p = x.data();
    const std::size_t n = x.size();
    std::size_t i = 0;
    for (; i + kTwoLanes <= n; i += kTwoLanes) _mm_storeu_pd(p + i, F(_mm_loadu_pd(p + i)));
    if (i < n) p[i] = _mm_cvtsd_f64(F(_mm_set1_pd(p[i])));
}

// x[i] = f(x[i]) four at a time; the last one to three values go through f in a vector of
// their own, padded with copies of the last.
template <auto F>
__attribute__((target("avx"))) void fourAtATime(std::span<double> x) {
    double* p = x.data();
    const std::size_t n = x.size();
    std::size_t i = 0;
    for (; i + kFourLanes <= n; i += kFourLanes) {
        _mm256_storeu_pd(p + i, F(_mm256_loadu_pd(p + i)));
    }
    if (i < n) {
        double tail[kFourLanes];
        std::fill(tail, tail + kFourLanes, p[n - 1]);
        std::copy(p + i, p + n, tail);
        _mm256_storeu_pd(tail, F(_mm256_loadu_pd(tail)));
        std::copy(tail, tail + (n - i), p + i);
    }
}

}  // namespace

VectorWidth widestVectorWidth() {
    return __builtin_cpu_supports("avx") ? VectorWidth::Four : VectorWidth::Two;
}

void expInPlace(std::span<double> x, VectorWidth width) {
    if (width == VectorWidth::Four) {
        fourAtATime<Sleef_expd4_u10>(x);
    } else {
        twoAtATime<Sleef_expd2_u10>(x);
    }
}

void cosInPlace(std::span<double> x, VectorWidth width) {
    if (width == VectorWidth::Four) {
        fourAtATime<Sleef_cosd4_u10>(x);
    } else {
        twoAtATime<Sleef_cosd2_u10>(x);
    }
}

}  // namespace lumetra
