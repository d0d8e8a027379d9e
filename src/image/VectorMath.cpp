#include "image/VectorMath.h"

#include <immintrin.h>
#include <sleef.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>

// The functions of four lanes take and return 256-bit vectors: only code compiled for AVX may
// call them, so the loops that do are compiled for AVX alone (the target attribute) and are
// entered only when the processor has it.  sleef.h declares them only to code compiled for AVX
// throughout; the ones used are declared here as it declares them.  SLEEF's dispatchers
// (Sleef_expd2_u10, Sleef_expd4_u10, ...) pick the best variant of each width for the processor on
// their first call.

extern "C" {
__m256d Sleef_expd4_u10(__m256d);
__m256d Sleef_cosd4_u10(__m256d);
__m256d Sleef_sind4_u10(__m256d);
__m256d Sleef_powd4_u10(__m256d, __m256d);
__m256d Sleef_atan2d4_u10(__m256d, __m256d);
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

// Results made and rounded a block at a time, on the stack.
constexpr std::size_t kBlock = 128;

// y[i] = f(a[i], b[i]) for i < n (n <= kBlock) two at a time; an odd last one is padded.
template <auto F>
void binaryTwo(const double* a, const double* b, std::size_t n, double* y) {
    std::size_t i = 0;
    for (; i + kTwoLanes <= n; i += kTwoLanes) {
        _mm_storeu_pd(y + i, F(_mm_loadu_pd(a + i), _mm_loadu_pd(b + i)));
    }
    if (i < n) y[i] = _mm_cvtsd_f64(F(_mm_set1_pd(a[i]), _mm_set1_pd(b[i])));
}

// The same four at a time; the last one to three are padded with copies of the last.
template <auto F>
__attribute__((target("avx"))) void binaryFour(const double* a, const double* b, std::size_t n,
                                               double* y) {
    std::size_t i = 0;
    for (; i + kFourLanes <= n; i += kFourLanes) {
        _mm256_storeu_pd(y + i, F(_mm256_loadu_pd(a + i), _mm256_loadu_pd(b + i)));
    }
    if (i < n) {
        double ta[kFourLanes];
        double tb[kFourLanes];
        double ty[kFourLanes];
        std::fill(ta, ta + kFourLanes, a[n - 1]);
        std::fill(tb, tb + kFourLanes, b[n - 1]);
        std::copy(a + i, a + n, ta);
        std::copy(b + i, b + n, tb);
        _mm256_storeu_pd(ty, F(_mm256_loadu_pd(ta), _mm256_loadu_pd(tb)));
        std::copy(ty, ty + (n - i), y + i);
    }
}

// Unary functions through the binary loops, the second operand ignored.
template <auto F>
__m128d ignoringSecond(__m128d a, __m128d) {
    return F(a);
}
template <auto F>
__attribute__((target("avx"))) __m256d ignoringSecond4(__m256d a, __m256d) {
    return F(a);
}

// Whether rounding `y` to float could give another float than rounding a value within two
// double units of it does: y lies within a few double units of a point half-way between two
// floats (where the 29 bits a float drops from a double's significand read 2^28), or outside
// the normal floats.
bool roundingIsFragile(double y) {
    const double magnitude = std::fabs(y);
    if (!(magnitude >= FLT_MIN && magnitude <= FLT_MAX)) return true;
    constexpr std::uint64_t kDropped = (std::uint64_t{1} << 29) - 1;
    constexpr std::uint64_t kHalfWay = std::uint64_t{1} << 28;
    constexpr std::uint64_t kMargin = 8;  // double units; the two results lie within 2
    const std::uint64_t dropped = std::bit_cast<std::uint64_t>(magnitude) & kDropped;
    return dropped + kMargin >= kHalfWay && dropped <= kHalfWay + kMargin;
}

// out[i] = float(f(a[i], b[i])) for every i, with scalar(i) (the C library's function, rounded)
// wherever the vector result's rounding is fragile.
template <auto F2, auto F4, typename Scalar>
void binaryToFloat(std::span<const double> a, std::span<const double> b, std::span<float> out,
                   VectorWidth width, Scalar&& scalar) {
    double y[kBlock];
    for (std::size_t start = 0; start < out.size(); start += kBlock) {
        const std::size_t n = std::min(kBlock, out.size() - start);
        if (width == VectorWidth::Four) {
            binaryFour<F4>(a.data() + start, b.data() + start, n, y);
        } else {
            binaryTwo<F2>(a.data() + start, b.data() + start, n, y);
        }
        for (std::size_t i = 0; i < n; ++i) {
            out[start + i] = roundingIsFragile(y[i]) ? scalar(start + i) : static_cast<float>(y[i]);
        }
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

void powToFloat(std::span<const double> base, double exponent, std::span<float> out,
                VectorWidth width) {
    std::array<double, kBlock> exponents;
    exponents.fill(exponent);
    for (std::size_t start = 0; start < base.size(); start += kBlock) {
        const std::size_t n = std::min(kBlock, base.size() - start);
        const std::span<const double> x = base.subspan(start, n);
        binaryToFloat<Sleef_powd2_u10, Sleef_powd4_u10>(
            x, std::span<const double>(exponents.data(), n), out.subspan(start, n), width,
            [&](std::size_t i) { return static_cast<float>(std::pow(x[i], exponent)); });
    }
}

void atan2ToFloat(std::span<const double> y, std::span<const double> x, std::span<float> out,
                  VectorWidth width) {
    binaryToFloat<Sleef_atan2d2_u10, Sleef_atan2d4_u10>(y, x, out, width, [&](std::size_t i) {
        return static_cast<float>(std::atan2(y[i], x[i]));
    });
}

void expToFloat(std::span<const double> x, std::span<float> out, VectorWidth width) {
    binaryToFloat<ignoringSecond<Sleef_expd2_u10>, ignoringSecond4<Sleef_expd4_u10>>(
        x, x, out, width, [&](std::size_t i) { return static_cast<float>(std::exp(x[i])); });
}

void sinToFloat(std::span<const double> x, std::span<float> out, VectorWidth width) {
    binaryToFloat<ignoringSecond<Sleef_sind2_u10>, ignoringSecond4<Sleef_sind4_u10>>(
        x, x, out, width, [&](std::size_t i) { return static_cast<float>(std::sin(x[i])); });
}

void cosToFloat(std::span<const double> x, std::span<float> out, VectorWidth width) {
    binaryToFloat<ignoringSecond<Sleef_cosd2_u10>, ignoringSecond4<Sleef_cosd4_u10>>(
        x, x, out, width, [&](std::size_t i) { return static_cast<float>(std::cos(x[i])); });
}

}  // namespace lumetra
