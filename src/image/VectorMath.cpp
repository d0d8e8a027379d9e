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
#include <vector>

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

// The float power of GNU libc (sysdeps/ieee754/flt-32/e_powf.c of glibc 2.36), lane by lane.
//
// The tables and coefficients below are the C library's own, copied from glibc 2.36
// (sysdeps/ieee754/flt-32/e_powf_log2_data.c and e_exp2f_data.c, files under the
// LGPL-2.1-or-later there).  They were written for Arm's optimized-routines (Copyright (c)
// 2017-2018 Arm Ltd.), published there under the MIT licence, now MIT OR Apache-2.0 WITH
// LLVM-exception, and contributed by Arm to glibc.  The values must stay exactly these: they
// define the floats std::pow returns.
//
// For a positive normal base x = 2^k z with z in [0.69921875, 1.3984375) (0x3f330000 the float
// 0.69921875):
//   log2 x = k + log2 c + log1p(z/c - 1) / ln 2, c the centre of z's sixteenth of that range,
//   the last term a polynomial of degree 5 in r = z / c - 1 (z * (1/c) - 1),
// then t = s log2 x and 2^t = 2^(j/32) 2^u with t = j/32 + u, |u| <= 1/64, 2^u a cubic.
// The order of the operations is the library's, as are the products the FMA build fuses.
namespace libcpow {

// 1/c and log2 c of the sixteen intervals (powf_log2_data.tab: invc, logc).
constexpr std::array<double, 16> kInvC = {
    0x1.661ec79f8f3bep+0, 0x1.571ed4aaf883dp+0,
    0x1.49539f0f010bp+0,  0x1.3c995b0b80385p+0,
    0x1.30d190c8864a5p+0, 0x1.25e227b0b8eap+0,
    0x1.1bb4a4a1a343fp+0, 0x1.12358f08ae5bap+0,
    0x1.0953f419900a7p+0, 0x1p+0,
    0x1.e608cfd9a47acp-1, 0x1.ca4b31f026aap-1,
    0x1.b2036576afce6p-1, 0x1.9c2d163a1aa2dp-1,
    0x1.886e6037841edp-1, 0x1.767dcf5534862p-1,
};
constexpr std::array<double, 16> kLogC = {
    -0x1.efec65b963019p-2, -0x1.b0b6832d4fca4p-2,
    -0x1.7418b0a1fb77bp-2, -0x1.39de91a6dcf7bp-2,
    -0x1.01d9bf3f2b631p-2, -0x1.97c1d1b3b7afp-3,
    -0x1.2f9e393af3c9fp-3, -0x1.960cbbf788d5cp-4,
    -0x1.a6f9db6475fcep-5, 0x0p+0,
    0x1.338ca9f24f53dp-4,  0x1.476a9543891bap-3,
    0x1.e840b4ac4e4d2p-3,  0x1.40645f0c6651cp-2,
    0x1.88e9c2c1b9ff8p-2,  0x1.ce0a44eb17bccp-2,
};
// log1p(r) / ln 2 ~ A0 r^5 + A1 r^4 + A2 r^3 + A3 r^2 + A4 r (powf_log2_data.poly).
constexpr double kA0 = 0x1.27616c9496e0bp-2;
constexpr double kA1 = -0x1.71969a075c67ap-2;
constexpr double kA2 = 0x1.ec70a6ca7baddp-2;
constexpr double kA3 = -0x1.7154748bef6c8p-1;
constexpr double kA4 = 0x1.71547652ab82bp0;
// The start of the reduction range, 0.69921875, as a float bit pattern.
constexpr std::uint32_t kLogOffset = 0x3f330000;

// Bit patterns of 2^(i/32), less i << 47 (exp2f_data.tab): adding j << 47 to entry j % 32
// gives the double 2^(j/32).
constexpr std::array<std::uint64_t, 32> kExp2Table = {
    0x3ff0000000000000, 0x3fefd9b0d3158574, 0x3fefb5586cf9890f, 0x3fef9301d0125b51,
    0x3fef72b83c7d517b, 0x3fef54873168b9aa, 0x3fef387a6e756238, 0x3fef1e9df51fdee1,
    0x3fef06fe0a31b715, 0x3feef1a7373aa9cb, 0x3feedea64c123422, 0x3feece086061892d,
    0x3feebfdad5362a27, 0x3feeb42b569d4f82, 0x3feeab07dd485429, 0x3feea47eb03a5585,
    0x3feea09e667f3bcd, 0x3fee9f75e8ec5f74, 0x3feea11473eb0187, 0x3feea589994cce13,
    0x3feeace5422aa0db, 0x3feeb737b0cdc5e5, 0x3feec49182a3f090, 0x3feed503b23e255d,
    0x3feee89f995ad3ad, 0x3feeff76f2fb5e47, 0x3fef199bdd85529c, 0x3fef3720dcef9069,
    0x3fef5818dcfba487, 0x3fef7c97337b9b5f, 0x3fefa4afa2a490da, 0x3fefd0765b6e4540,
};
// Adding and subtracting it rounds t to a multiple of 1/32, leaving j in the low bits
// (exp2f_data.shift_scaled).
constexpr double kExp2Shift = 0x1.8p+52 / 32;
// 2^u ~ C0 u^3 + C1 u^2 + C2 u + 1 (exp2f_data.poly).
constexpr double kC0 = 0x1.c6af84b912394p-5;
constexpr double kC1 = 0x1.ebfce50fac4f3p-3;
constexpr double kC2 = 0x1.62e42ff0c52d6p-1;
// The library's main path ends where |s log2 x| reaches it: results near or beyond the ends of
// the float range.
constexpr double kExponentBound = 126.0;

constexpr std::size_t kLanes = 4;

// Whether the exponent is one the library treats apart (0, infinite, not a number).
bool exponentApart(float s) {
    const std::uint32_t is = std::bit_cast<std::uint32_t>(s);
    return 2 * is - 1 >= 2u * 0x7f800000 - 1;
}

// Lanes [0, 4) whose bit is set in `apart` take std::pow of their base instead.
void redoApart(float* out, const float* base, int apart, float s) {
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
        if ((apart >> lane & 1) != 0) out[lane] = std::pow(base[lane], s);
    }
}

// The lanes whose bases are not positive normal finite floats, as a vector of all-ones lanes:
// those with bits - 2^23 outside [0, 0x7f000000) read as signed integers.
__m128i basesApart(__m128i ix) {
    const __m128i shifted = _mm_sub_epi32(ix, _mm_set1_epi32(0x00800000));
    return _mm_or_si128(_mm_cmplt_epi32(shifted, _mm_setzero_si128()),
                        _mm_cmpgt_epi32(shifted, _mm_set1_epi32(0x7effffff)));
}

// The reduction of four bases: the interval of each, its exponent k and z = x / 2^k.
struct Reduced {
    __m128i interval;
    __m128i k;
    __m128 z;
};

Reduced reduce(__m128i ix) {
    const __m128i tmp = _mm_sub_epi32(ix, _mm_set1_epi32(static_cast<int>(kLogOffset)));
    const __m128i top = _mm_and_si128(tmp, _mm_set1_epi32(static_cast<int>(0xff800000u)));
    return {_mm_and_si128(_mm_srli_epi32(tmp, 23 - 4), _mm_set1_epi32(15)), _mm_srai_epi32(top, 23),
            _mm_castsi128_ps(_mm_sub_epi32(ix, top))};
}

// Powers of a vector of lanes, and a bit for each lane whose exponent product lies outside the
// main path's range (those lanes take std::pow instead).
struct TwoPowers {
    __m128d value;
    int apart;
};
struct FourPowers {
    __m128 value;
    int apart;
};

// Two lanes of the plain build: z and k as doubles, the table entries gathered one by one.
TwoPowers twoPowers(__m128d z, __m128d k, const std::int32_t* interval, __m128d s) {
    const __m128d invc = _mm_set_pd(kInvC[interval[1]], kInvC[interval[0]]);
    const __m128d logc = _mm_set_pd(kLogC[interval[1]], kLogC[interval[0]]);
    const __m128d r = _mm_sub_pd(_mm_mul_pd(z, invc), _mm_set1_pd(1.0));
    const __m128d y0 = _mm_add_pd(logc, k);
    const __m128d r2 = _mm_mul_pd(r, r);
    __m128d y = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(kA0), r), _mm_set1_pd(kA1));
    const __m128d p = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(kA2), r), _mm_set1_pd(kA3));
    const __m128d r4 = _mm_mul_pd(r2, r2);
    __m128d q = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(kA4), r), y0);
    q = _mm_add_pd(_mm_mul_pd(p, r2), q);
    y = _mm_add_pd(_mm_mul_pd(y, r4), q);
    const __m128d t = _mm_mul_pd(s, y);
    const __m128d magnitude = _mm_andnot_pd(_mm_set1_pd(-0.0), t);
    const int apart = _mm_movemask_pd(_mm_cmpnlt_pd(magnitude, _mm_set1_pd(kExponentBound)));

    __m128d kd = _mm_add_pd(t, _mm_set1_pd(kExp2Shift));
    const __m128i ki = _mm_castpd_si128(kd);
    kd = _mm_sub_pd(kd, _mm_set1_pd(kExp2Shift));
    const __m128d u = _mm_sub_pd(t, kd);
    alignas(16) std::uint64_t j[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(j), ki);
    const __m128i entry = _mm_set_epi64x(static_cast<long long>(kExp2Table[j[1] % 32]),
                                         static_cast<long long>(kExp2Table[j[0] % 32]));
    const __m128d scale = _mm_castsi128_pd(_mm_add_epi64(entry, _mm_slli_epi64(ki, 47)));
    const __m128d z3 = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(kC0), u), _mm_set1_pd(kC1));
    const __m128d u2 = _mm_mul_pd(u, u);
    __m128d e = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(kC2), u), _mm_set1_pd(1.0));
    e = _mm_add_pd(_mm_mul_pd(z3, u2), e);
    return {_mm_mul_pd(e, scale), apart};
}

void powTwoLanes(std::span<float> values, float s) {
    const __m128d sd = _mm_set1_pd(s);
    float* p = values.data();
    const std::size_t n = values.size();
    alignas(16) float base[kLanes];
    for (std::size_t i = 0; i < n; i += kLanes) {
        const std::size_t count = std::min(kLanes, n - i);
        std::fill(base, base + kLanes, 1.0f);
        std::copy(p + i, p + i + count, base);
        const __m128i ix = _mm_castps_si128(_mm_load_ps(base));
        const Reduced reduced = reduce(ix);
        alignas(16) std::int32_t interval[kLanes];
        _mm_store_si128(reinterpret_cast<__m128i*>(interval), reduced.interval);
        const TwoPowers low =
            twoPowers(_mm_cvtps_pd(reduced.z), _mm_cvtepi32_pd(reduced.k), interval, sd);
        const TwoPowers high =
            twoPowers(_mm_cvtps_pd(_mm_movehl_ps(reduced.z, reduced.z)),
                      _mm_cvtepi32_pd(_mm_srli_si128(reduced.k, 8)), interval + 2, sd);
        alignas(16) float out[kLanes];
        _mm_store_ps(out, _mm_movelh_ps(_mm_cvtpd_ps(low.value), _mm_cvtpd_ps(high.value)));
        redoApart(out, base,
                  _mm_movemask_ps(_mm_castsi128_ps(basesApart(ix))) | low.apart | high.apart << 2,
                  s);
        std::copy(out, out + count, p + i);
    }
}

// Four lanes of the FMA build: every product followed by a sum is one fused operation, as the
// compiler made it there.
__attribute__((target("avx2,fma"))) FourPowers fourPowersFused(__m128i ix, __m256d s) {
    const Reduced reduced = reduce(ix);
    const __m256d z = _mm256_cvtps_pd(reduced.z);
    // The masked gathers, all lanes on, say what the plain ones leave undefined.
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    const __m256d invc =
        _mm256_mask_i32gather_pd(_mm256_setzero_pd(), kInvC.data(), reduced.interval, all, 8);
    const __m256d logc =
        _mm256_mask_i32gather_pd(_mm256_setzero_pd(), kLogC.data(), reduced.interval, all, 8);
    const __m256d r = _mm256_fmadd_pd(z, invc, _mm256_set1_pd(-1.0));
    const __m256d y0 = _mm256_add_pd(logc, _mm256_cvtepi32_pd(reduced.k));
    const __m256d r2 = _mm256_mul_pd(r, r);
    __m256d y = _mm256_fmadd_pd(_mm256_set1_pd(kA0), r, _mm256_set1_pd(kA1));
    const __m256d p = _mm256_fmadd_pd(_mm256_set1_pd(kA2), r, _mm256_set1_pd(kA3));
    const __m256d r4 = _mm256_mul_pd(r2, r2);
    __m256d q = _mm256_fmadd_pd(_mm256_set1_pd(kA4), r, y0);
    q = _mm256_fmadd_pd(p, r2, q);
    y = _mm256_fmadd_pd(y, r4, q);
    const __m256d t = _mm256_mul_pd(s, y);
    const __m256d magnitude = _mm256_andnot_pd(_mm256_set1_pd(-0.0), t);
    const int apart =
        _mm256_movemask_pd(_mm256_cmp_pd(magnitude, _mm256_set1_pd(kExponentBound), _CMP_NLT_UQ)) |
        _mm_movemask_ps(_mm_castsi128_ps(basesApart(ix)));

    __m256d kd = _mm256_add_pd(t, _mm256_set1_pd(kExp2Shift));
    const __m256i ki = _mm256_castpd_si256(kd);
    kd = _mm256_sub_pd(kd, _mm256_set1_pd(kExp2Shift));
    const __m256d u = _mm256_sub_pd(t, kd);
    const __m256i entry = _mm256_mask_i64gather_epi64(
        _mm256_setzero_si256(), reinterpret_cast<const long long*>(kExp2Table.data()),
        _mm256_and_si256(ki, _mm256_set1_epi64x(31)), _mm256_set1_epi64x(-1), 8);
    const __m256d scale = _mm256_castsi256_pd(_mm256_add_epi64(entry, _mm256_slli_epi64(ki, 47)));
    const __m256d z3 = _mm256_fmadd_pd(_mm256_set1_pd(kC0), u, _mm256_set1_pd(kC1));
    const __m256d u2 = _mm256_mul_pd(u, u);
    __m256d e = _mm256_fmadd_pd(_mm256_set1_pd(kC2), u, _mm256_set1_pd(1.0));
    e = _mm256_fmadd_pd(z3, u2, e);
    return {_mm256_cvtpd_ps(_mm256_mul_pd(e, scale)), apart};
}

__attribute__((target("avx2,fma"))) void powFourLanesFused(std::span<float> values, float s) {
    const __m256d sd = _mm256_set1_pd(s);
    float* p = values.data();
    const std::size_t n = values.size();
    std::size_t i = 0;
    for (; i + kLanes <= n; i += kLanes) {
        const __m128 x = _mm_loadu_ps(p + i);
        const FourPowers powers = fourPowersFused(_mm_castps_si128(x), sd);
        _mm_storeu_ps(p + i, powers.value);
        if (powers.apart != 0) {
            alignas(16) float base[kLanes];
            _mm_store_ps(base, x);
            redoApart(p + i, base, powers.apart, s);
        }
    }
    if (i < n) {
        alignas(16) float base[kLanes];
        std::fill(base, base + kLanes, 1.0f);
        std::copy(p + i, p + n, base);
        const FourPowers powers = fourPowersFused(_mm_castps_si128(_mm_load_ps(base)), sd);
        alignas(16) float out[kLanes];
        _mm_store_ps(out, powers.value);
        redoApart(out, base, powers.apart, s);
        std::copy(out, out + (n - i), p + i);
    }
}

bool runsFourLanesFused() {
    return processorVectorExtensions().avx2AndFma();
}

// Arguments that tell a power with the library's floats from one without: bases over the whole
// float range for several exponents, and bases whose powers the two builds of the library,
// or the double power rounded to float, round differently.
struct Probe {
    float exponent;
    std::vector<std::uint32_t> hardBases;  // bit patterns
};

const std::array<Probe, 4>& probes() {
    // Hard cases for the masking's slopes: bases whose double power rounded to float is not
    // the library's float (one in about twenty thousand), a sample from 0.8 to 1000 and above,
    // and for 0.85 the one base of the masking's range where the library's two builds differ
    // (0x1.58c3d8p+74: 0x1.33a134p+63 fused, 0x1.33a132p+63 plain), so that the probe tells
    // the builds apart.
    static const std::array<Probe, 4> kProbes = {{
        {0.7f, {0x3f4e6bde, 0x3f6bbecd, 0x3f8ba61f, 0x3fba0118, 0x3fe0d290, 0x40011ce1, 0x401fd1b5,
                0x40472f8e, 0x4074159d, 0x40991dfc, 0x40b8d214, 0x40d5a969, 0x40fb540b, 0x41292dbc,
                0x414dfa7e, 0x416ff1f9, 0x418cba10, 0x41b17bee, 0x41dd469b, 0x4200de54, 0x4222da3f,
                0x42417984, 0x4262d879, 0x428fd31e, 0x42b5c686, 0x42d804aa, 0x42f4f4f0, 0x43126d54,
                0x433f0cdd, 0x4365a822, 0x4389d458, 0x43a718de, 0x43c67d22, 0x43f4cd1a, 0x441cc380,
                0x443e0cac, 0x445d9c09, 0x4476ff37, 0x728ed452, 0x739ff72f, 0x74d1072f, 0x75ee994a,
                0x770bdd31, 0x7832387a, 0x794c6a0a, 0x7a7455fd, 0x7b8e3ef7, 0x7cb95965, 0x7dde911d,
                0x7ef78d6b, 0x7f62ab01}},
        {0.85f, {0x3f567e8b, 0x3f7290a5, 0x3f99bcee, 0x3fbf9d5b, 0x3fe30fc4, 0x40012b96, 0x40257ab2,
                 0x404d8131, 0x4072dad0, 0x4092092c, 0x40b7e7ed, 0x40e22586, 0x41073894, 0x4127e61b,
                 0x414a06dc, 0x4175d4a7, 0x419aaf4a, 0x41b95682, 0x41d795a6, 0x4207af9d, 0x422eb35c,
                 0x424e6243, 0x426a0482, 0x42998243, 0x42c110d0, 0x42e14d73, 0x42fe6822, 0x4326d822,
                 0x434fd64f, 0x43719007, 0x43903a49, 0x43bc4568, 0x43e4273f, 0x44063b9b, 0x4423ee8e,
                 0x444cf497, 0x44756eae, 0x64ac61ec}},
        {-0.7f, {}},
        {2.5f, {}},
    }};
    return kProbes;
}

// The bases probed with exponent s: patterns from 2^-126 up to the largest float in a prime
// stride, so that mantissas and intervals vary, a few outside the main path (0, subnormal,
// negative, infinite, not a number), and the hard cases.
std::vector<float> probeBases(const Probe& probe) {
    constexpr std::uint32_t kFirst = 0x00800000;
    constexpr std::uint32_t kLast = 0x7f7fffff;
    constexpr std::uint32_t kStride = 0x000f4243;  // prime: about 2100 bases
    std::vector<float> bases = {0.0f, 1e-40f, -2.0f, HUGE_VALF, NAN, 1.0f};
    for (std::uint32_t bits = kFirst; bits <= kLast - kStride; bits += kStride) {
        bases.push_back(std::bit_cast<float>(bits));
    }
    bases.push_back(std::bit_cast<float>(kLast));
    for (const std::uint32_t bits : probe.hardBases) bases.push_back(std::bit_cast<float>(bits));
    return bases;
}

}  // namespace libcpow

}  // namespace

VectorExtensions processorVectorExtensions() {
    static const VectorExtensions kOffered{
        .avx = __builtin_cpu_supports("avx") != 0,
        .avx2 = __builtin_cpu_supports("avx2") != 0,
        .fma = __builtin_cpu_supports("fma") != 0,
    };
    return kOffered;
}

VectorWidth widestVectorWidth() {
    return processorVectorExtensions().avx ? VectorWidth::Four : VectorWidth::Two;
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

void powInPlace(std::span<float> y, float s, FloatPowPath path) {
    if (path == FloatPowPath::FourLanesFused && !libcpow::runsFourLanesFused()) {
        path = FloatPowPath::Scalar;
    }
    if (path == FloatPowPath::Scalar || libcpow::exponentApart(s)) {
        for (float& v : y) v = std::pow(v, s);
    } else if (path == FloatPowPath::TwoLanes) {
        libcpow::powTwoLanes(y, s);
    } else {
        libcpow::powFourLanesFused(y, s);
    }
}

bool agreesWithLibraryPow(FloatPowPath path) {
    for (const libcpow::Probe& probe : libcpow::probes()) {
        const std::vector<float> bases = libcpow::probeBases(probe);
        std::vector<float> powers = bases;
        powInPlace(powers, probe.exponent, path);
        for (std::size_t i = 0; i < bases.size(); ++i) {
            const float expected = std::pow(bases[i], probe.exponent);
            // Bit patterns: NaN compares unequal to itself; any NaN will do.
            if (std::bit_cast<std::uint32_t>(powers[i]) != std::bit_cast<std::uint32_t>(expected) &&
                !(std::isnan(powers[i]) && std::isnan(expected))) {
                return false;
            }
        }
    }
    return true;
}

FloatPowPath floatPowPath() {
    static const FloatPowPath path = [] {
        if (libcpow::runsFourLanesFused() && agreesWithLibraryPow(FloatPowPath::FourLanesFused)) {
            return FloatPowPath::FourLanesFused;
        }
        if (agreesWithLibraryPow(FloatPowPath::TwoLanes)) return FloatPowPath::TwoLanes;
        return FloatPowPath::Scalar;
    }();
    return path;
}

}  // namespace lumetra
