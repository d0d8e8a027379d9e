#include "model/BandProfiles.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "model/RaisedCosine.h"

namespace lumetra {

namespace {

constexpr double kHalfPi = std::numbers::pi / 2.0;

// Profile values of a block of pixels that fall on a raised cosine: their arguments are
// gathered, the cosines taken together, and each value stored as float where it belongs.
constexpr std::size_t kFallBlock = 512;

class RaisedCosineFall {
  public:
    // Pixel `index` of the block takes the fall at x.
    void add(std::uint32_t index, double x) {
        _x[_count] = x;
        _index[_count] = index;
        ++_count;
    }
    // Stores every value added, in the order added, into `block` (the block's first pixel).
    void storeInto(float* block, double width, VectorWidth lanes) {
        raisedCosineInPlace(std::span<double>(_x.data(), _count), width, lanes);
        for (std::size_t k = 0; k < _count; ++k) block[_index[k]] = static_cast<float>(_x[k]);
        _count = 0;
    }

  private:
    std::array<double, kFallBlock> _x;
    std::array<std::uint32_t, kFallBlock> _index;
    std::size_t _count = 0;
};

// The smallest float at or above x (finite): a float d lies below x exactly when it lies below
// that float, so that comparisons of float distances with double ends can be taken in float.
float floatCeiling(double x) {
    const auto f = static_cast<float>(x);
    return static_cast<double>(f) < x ? std::nextafter(f, INFINITY) : f;
}

// One lobe of a fan over a block of `count` elements, four at a time: the distance from the
// lobe's centre, (t + halfTurn) + c in double rounded to float, made positive; 1 where it is
// below `inner`, and the fall's argument |d - ha + hb| handed to `fall` where it lies below
// `outer`, in the order of the elements (fanInto's plain loop, the same operations on four
// lanes, none fused; the comparisons with the float ceilings of the ends, which decide alike).
struct Lobe {
    double halfTurn;
    double c;
    double inner;
    double outer;
    double ha;
    double hb;
};

__attribute__((target("avx"))) void lobeFour(float* o, const float* t, std::size_t count,
                                             const Lobe& lobe, RaisedCosineFall& fall) {
    const __m256d halfTurn = _mm256_set1_pd(lobe.halfTurn);
    const __m256d c = _mm256_set1_pd(lobe.c);
    const __m128 inner = _mm_set1_ps(floatCeiling(lobe.inner));
    const __m128 outer = _mm_set1_ps(floatCeiling(lobe.outer));
    const __m256d ha = _mm256_set1_pd(lobe.ha);
    const __m256d hb = _mm256_set1_pd(lobe.hb);
    const __m128 floatSign = _mm_set1_ps(-0.0f);
    const __m256d doubleSign = _mm256_set1_pd(-0.0);
    const __m128 one = _mm_set1_ps(1.0f);
    alignas(32) std::array<double, 4> x;
    const std::size_t vectorEnd = count - count % 4;
    for (std::size_t i = 0; i < vectorEnd; i += 4) {
        const __m256d sum =
            _mm256_add_pd(_mm256_add_pd(_mm256_cvtps_pd(_mm_loadu_ps(t + i)), halfTurn), c);
        const __m128 d = _mm_andnot_ps(floatSign, _mm256_cvtpd_ps(sum));
        const __m128 top = _mm_cmplt_ps(d, inner);
        if (_mm_movemask_ps(top) != 0) {
            _mm_storeu_ps(o + i, _mm_blendv_ps(_mm_loadu_ps(o + i), one, top));
        }
        int falling = _mm_movemask_ps(_mm_andnot_ps(top, _mm_cmplt_ps(d, outer)));
        if (falling == 0) continue;
        const __m256d wide = _mm256_cvtps_pd(d);
        _mm256_store_pd(x.data(),
                        _mm256_andnot_pd(doubleSign, _mm256_add_pd(_mm256_sub_pd(wide, ha), hb)));
        for (; falling != 0; falling &= falling - 1) {
            const auto lane =
                static_cast<unsigned>(std::countr_zero(static_cast<unsigned>(falling)));
            fall.add(static_cast<std::uint32_t>(i + lane), x[lane]);
        }
    }
    for (std::size_t i = vectorEnd; i < count; ++i) {
        const float d = std::fabs(static_cast<float>(t[i] + lobe.halfTurn + lobe.c));
        if (d < lobe.inner) {
            o[i] = 1.0f;
        } else if (d < lobe.outer) {
            fall.add(static_cast<std::uint32_t>(i),
                     std::fabs(static_cast<double>(d) - lobe.ha + lobe.hb));
        }
    }
}

// A mesa over the first elements of a block, four at a time, as mesaInto's plain loop takes
// them (radius compared with the float ceilings of the ends, the fall's argument
// (rho - a) + b / 2 in double); returns how many it took, the block's length less its tail of
// fewer than four.
struct Mesa {
    float a;
    float b;
    double inner;
    double outer;
};

__attribute__((target("avx"))) std::size_t mesaFour(float* o, const float* rho, std::size_t count,
                                                    const Mesa& mesa, RaisedCosineFall& fall) {
    const __m128 inner = _mm_set1_ps(floatCeiling(mesa.inner));
    const __m128 outer = _mm_set1_ps(floatCeiling(mesa.outer));
    const __m256d a = _mm256_set1_pd(static_cast<double>(mesa.a));
    const __m256d halfB = _mm256_set1_pd(static_cast<double>(mesa.b) / 2.0);
    const __m128 one = _mm_set1_ps(1.0f);
    alignas(32) std::array<double, 4> x;
    const std::size_t vectorEnd = count - count % 4;
    for (std::size_t i = 0; i < vectorEnd; i += 4) {
        const __m128 r = _mm_loadu_ps(rho + i);
        const __m128 top = _mm_cmplt_ps(r, inner);
        if (_mm_movemask_ps(top) != 0) {
            _mm_storeu_ps(o + i, _mm_blendv_ps(_mm_loadu_ps(o + i), one, top));
        }
        int falling = _mm_movemask_ps(_mm_andnot_ps(top, _mm_cmplt_ps(r, outer)));
        if (falling == 0) continue;
        _mm256_store_pd(x.data(), _mm256_add_pd(_mm256_sub_pd(_mm256_cvtps_pd(r), a), halfB));
        for (; falling != 0; falling &= falling - 1) {
            const auto lane =
                static_cast<unsigned>(std::countr_zero(static_cast<unsigned>(falling)));
            fall.add(static_cast<std::uint32_t>(i + lane), x[lane]);
        }
    }
    return vectorEnd;
}

}  // namespace

// Radial low-pass over n elements: 1 where radius < a - b/2, a raised-cosine fall to 0 at
// a + b/2; elements at or beyond a + b/2 keep their value.
void mesaInto(std::span<float> profile, std::span<const float> radius, float a, float b,
              VectorWidth lanes) {
    float* o = profile.data();
    const float* rho = radius.data();
    const std::size_t n = profile.size();
    if (lanes == VectorWidth::Four && widestVectorWidth() != VectorWidth::Four) {
        lanes = VectorWidth::Two;
    }
    const double inner = static_cast<double>(a) - static_cast<double>(b) / 2.0;
    const double outer = static_cast<double>(a) + static_cast<double>(b) / 2.0;
    RaisedCosineFall fall;
    for (std::size_t start = 0; start < n; start += kFallBlock) {
        const std::size_t count = std::min(kFallBlock, n - start);
        std::size_t i = 0;
        if (lanes == VectorWidth::Four) {
            i = mesaFour(o + start, rho + start, count, {a, b, inner, outer}, fall);
        }
        for (; i < count; ++i) {
            const double x = rho[start + i];
            if (x < inner) {
                o[start + i] = 1.0f;
            } else if (x < outer) {
                fall.add(static_cast<std::uint32_t>(i), x - a + static_cast<double>(b) / 2.0);
            }
        }
        fall.storeInto(o + start, b, lanes);
    }
}

// Pair of opposite angular sectors over n elements, centred at -c -/+ pi/2, full width a,
// transition b; elements outside both lobes keep their value.
void fanInto(std::span<float> profile, std::span<const float> angle, float a, float b, float c,
             VectorWidth lanes) {
    float* o = profile.data();
    const float* t = angle.data();
    const std::size_t n = profile.size();
    if (lanes == VectorWidth::Four && widestVectorWidth() != VectorWidth::Four) {
        lanes = VectorWidth::Two;
    }
    const float ha = a / 2.0f;
    const float hb = b / 2.0f;
    const double inner = static_cast<double>(ha) - static_cast<double>(hb);
    const double outer = static_cast<double>(ha) + static_cast<double>(hb);
    // The two lobes, centred at t = -c - pi/2 and t = -c + pi/2.
    const double halfTurns[] = {kHalfPi, -kHalfPi};
    RaisedCosineFall fall;
    for (std::size_t start = 0; start < n; start += kFallBlock) {
        const std::size_t count = std::min(kFallBlock, n - start);
        // The second lobe's values are stored after the first's, as where both reach a pixel
        // the second one's value is the one kept.
        for (const double halfTurn : halfTurns) {
            if (lanes == VectorWidth::Four) {
                lobeFour(
                    o + start, t + start, count,
                    {halfTurn, c, inner, outer, static_cast<double>(ha), static_cast<double>(hb)},
                    fall);
                fall.storeInto(o + start, b, lanes);
                continue;
            }
            // Distance from the lobe's centre, (t +/- pi/2) + c in double, rounded to float;
            // 1 inside the lobe's flat top.
            std::array<float, kFallBlock> distance;
            unsigned falling = 0;  // pixels of the block on the fall
            for (std::size_t i = 0; i < count; ++i) {
                const float d = std::fabs(static_cast<float>(t[start + i] + halfTurn + c));
                distance[i] = d;
                o[start + i] = d < inner ? 1.0f : o[start + i];
                falling += d >= inner && d < outer ? 1 : 0;
            }
            // The fall, where it lies: in few of the blocks, and up to its last pixel.
            for (std::size_t i = 0; i < count && falling > 0; ++i) {
                const float d = distance[i];
                if (d >= inner && d < outer) {
                    fall.add(static_cast<std::uint32_t>(i),
                             std::fabs(static_cast<double>(d) - ha + hb));
                    --falling;
                }
            }
            fall.storeInto(o + start, b, lanes);
        }
    }
}

}  // namespace lumetra
