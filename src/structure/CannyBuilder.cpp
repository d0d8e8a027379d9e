#include "structure/CannyBuilder.h"

#include "image/Parallel.h"
#include "image/PlaneMean.h"
#include "image/VectorMath.h"

// Stage words used below:
//   kernel   - the odd-length Gaussian taps, built once per application;
//   smooth   - the plane plus its separable Gaussian smoothing (horizontal, then vertical);
//   stretch  - the smoothed plane mapped linearly onto 0..255;
//   gradient - magnitude and angle of the two diagonal differences of each 2 x 2 cell;
//   suppress - non-maximum suppression across the gradient, in one of four sectors;
//   rescale  - the surviving ridges scaled to a peak of 255;
//   hysteresis / __followEdge - seeds above the high threshold grown through pixels above
//              the low threshold.
// Planes are single precision throughout; the kernel's normalisation and the sector of an
// angle are worked out in double precision.

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>

#include "structure/Edges.h"

namespace lumetra {

namespace {

// Kernel length per unit of sigma: 8 sqrt(2), as a single-precision literal.
constexpr float kKernelSpanPerSigma = 11.313708f;
// 2 pi formed in single precision; the kernel's normalisation takes its root in double.
constexpr float kTwoPiSingle = 2.0f * std::numbers::pi_v<float>;
// pi for the angle arithmetic of the suppression (double).
constexpr double kPi = std::numbers::pi;
// Number of gradient sectors over half a turn.
constexpr int kSectors = 4;
// The stretched plane and the rescaled magnitudes span 0..kFullScale.
constexpr float kFullScale = 255.0f;
// Value of an edge pixel in the output map.
constexpr int kEdge = 255;

// Thresholds and smoothing of the builder behind `edges` (pixels; 0..255 magnitude scale).
constexpr float kEdgeSigma = 1.0f;
constexpr float kEdgeLow = 6.0f;
constexpr float kEdgeHigh = 25.0f;

struct Step {
    int dr;
    int dc;
};

// Step across the gradient for sectors 0..3 (rows, columns).
constexpr std::array<Step, kSectors> kSectorSteps = {{{1, 0}, {1, 1}, {0, 1}, {-1, 1}}};

// The eight neighbours in the order the hysteresis looks at them.
constexpr std::array<Step, 8> kNeighbours = {
    {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 1}, {1, -1}, {1, 0}, {1, 1}}};

// Index x mirrored into 0..n-1 about the half-sample points -1/2 and n-1/2 (-1 -> 0, n -> n-1).
// The mirrored extension has period 2n, so this equals applying the single mirror again and
// again until the index lies inside, which planes shorter than the kernel's half width need.
std::uint32_t reflect(std::int64_t x, std::uint32_t n) {
    const std::int64_t period = 2 * static_cast<std::int64_t>(n);
    std::int64_t m = x % period;
    if (m < 0) m += period;
    return static_cast<std::uint32_t>(m < n ? m : period - 1 - m);
}

// Sector 0..3 of a gradient angle in -pi..pi: the angle is folded onto 0..pi and rounded to
// the nearest quarter of pi, pi itself wrapping to 0.  A non-finite angle (only from a
// non-finite plane, whose magnitude is then not a number either) is given sector 0 instead
// of an undefined conversion.
int sectorOf(float angle) {
    float theta = angle;
    if (theta < 0.0f) theta = static_cast<float>(theta + kPi);
    const double position = kSectors * static_cast<double>(theta) / kPi + 0.5;
    if (!std::isfinite(position)) return 0;
    return static_cast<int>(position) % kSectors;
}

// The sector of a gradient (gx, gy) is sectorOf(atan2(gy, gx)).  Folded onto 0..pi,
// the direction has sector 0 within pi/8 of the horizontal, 2 within pi/8 of the vertical and
// 1 or 3 between, depending on the sign of the folded gx; the ratio |gy| / |gx| against
// tan(pi/8) and tan(3 pi/8) tells which.  Within a relative kSectorMargin of either tangent the
// rounding of the single-precision arc tangent could tip the sector, so there, on the axes
// and for values that are not finite, the arc tangent decides.
constexpr double kTanEighthPi = 0.41421356237309503;       // tan(pi / 8)
constexpr double kTanThreeEighthsPi = 2.4142135623730950;  // tan(3 pi / 8)
constexpr double kSectorMargin = 1e-4;  // far above the arc tangent's few units of 1e-7

// out[c] += tap * in[c] for c in [0, n): a product and a sum, each rounded to float, in every
// lane.  The clone for eight-lane vectors (AVX) is entered only where the processor has them;
// it is compiled without FMA, so no product is fused with its sum and both give the same floats.
void addScaledRow(float* out, const float* in, float tap, std::uint32_t n) {
    for (std::uint32_t c = 0; c < n; ++c) out[c] += tap * in[c];
}
__attribute__((target("avx"))) void addScaledRowAvx(float* out, const float* in, float tap,
                                                    std::uint32_t n) {
    for (std::uint32_t c = 0; c < n; ++c) out[c] += tap * in[c];
}

std::uint32_t clampIndex(std::int64_t x, std::uint32_t n) {
    if (x < 0) return 0;
    if (x > static_cast<std::int64_t>(n) - 1) return n - 1;
    return static_cast<std::uint32_t>(x);
}

}  // namespace

CannyBuilder::CannyBuilder(float sigma, float low, float high)
    : _sigma(sigma), _low(low), _high(high) {
    assert(sigma > 0.0f && sigma * kKernelSpanPerSigma < 1.0e6f);
    assert(low >= 0.0f && high >= 0.0f);
}

Array<int> CannyBuilder::operator()(const Array<float>& plane) const {
    // Smoothed and stretched onto 0..255, then thin ridges, rescaled to a peak of 255 and
    // traced between the two thresholds.
    const Array<float> levels = stretch(smooth(plane));
    return hysteresis(rescale(ridges(levels)));
}

Array<int> CannyBuilder::operator()(Array<float>&& plane) const {
    // Each stage's input is dropped as soon as its output exists.
    Array<float> levels = stretch(smooth(std::move(plane)));
    const Array<float> scaled = rescale(ridges(std::move(levels)));
    return hysteresis(scaled);
}

std::vector<float> CannyBuilder::kernel() const {
    const int n = static_cast<int>(_sigma * kKernelSpanPerSigma);
    const int length = n % 2 == 1 ? n : n + 1;
    const int half = (length - 1) / 2;
    const double norm = static_cast<double>(_sigma) * std::sqrt(static_cast<double>(kTwoPiSingle));
    std::vector<float> taps(static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i) {
        const float x = static_cast<float>(i - half) / _sigma;
        const float square = x * x;
        const float bell = static_cast<float>(std::exp(static_cast<double>(-square / 2.0f)));
        taps[static_cast<std::size_t>(i)] = static_cast<float>(static_cast<double>(bell) / norm);
    }
    return taps;
}

Array<float> CannyBuilder::smooth(const Array<float>& plane) const {
    return smooth(Array<float>(plane));
}

Array<float> CannyBuilder::smooth(Array<float>&& plane) const {
    const std::uint32_t rows = plane.rows();
    const std::uint32_t cols = plane.cols();
    if (plane.size() == 0) return plane;
    const std::vector<float> taps = kernel();
    const std::int64_t half = static_cast<std::int64_t>(taps.size() - 1) / 2;

    const auto addScaled = processorVectorExtensions().avx ? addScaledRowAvx : addScaledRow;

    // Horizontal pass: T(r, c) = sum over taps of tap(i) P(r, reflect(c + i - half)), in tap
    // order.  Each row is first laid out with its mirrored margins: the row itself, copied, and
    // the margins mirrored into it.
    Array<float> across(rows, cols, plane.pool());
    std::vector<float> padded(cols + taps.size() - 1);
    const auto margin = static_cast<std::size_t>(half);
    const std::size_t beyond = margin + cols;  // first element of the right margin
    for (std::uint32_t r = 0; r < rows; ++r) {
        const float* row = &plane(r, 0);
        for (std::size_t k = 0; k < margin; ++k) {
            padded[k] = row[reflect(static_cast<std::int64_t>(k) - half, cols)];
        }
        std::copy_n(row, cols, padded.data() + margin);
        for (std::size_t k = beyond; k < padded.size(); ++k) {
            padded[k] = row[reflect(static_cast<std::int64_t>(k) - half, cols)];
        }
        float* out = &across(r, 0);
        for (std::size_t i = 0; i < taps.size(); ++i)
            addScaled(out, padded.data() + i, taps[i], cols);
    }

    // Vertical pass onto the plane itself, which the horizontal pass is done with:
    // G(r, c) = P(r, c) + tap(0) T(..) + tap(1) T(..) + ..., added term by term in tap order.
    Array<float> smoothed = std::move(plane);
    for (std::uint32_t r = 0; r < rows; ++r) {
        float* out = &smoothed(r, 0);
        for (std::size_t i = 0; i < taps.size(); ++i) {
            const std::int64_t source =
                static_cast<std::int64_t>(r) + static_cast<std::int64_t>(i) - half;
            addScaled(out, &across(reflect(source, rows), 0), taps[i], cols);
        }
    }
    return smoothed;
}

Array<float> CannyBuilder::stretch(const Array<float>& smoothed) {
    return stretch(Array<float>(smoothed));
}

Array<float> CannyBuilder::stretch(Array<float>&& smoothed) {
    float lowest = std::numeric_limits<float>::infinity();
    float highest = -std::numeric_limits<float>::infinity();
    float* g = smoothed.data();
    const std::size_t n = smoothed.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (g[i] < lowest) lowest = g[i];
        if (g[i] > highest) highest = g[i];
    }
    const float spread = highest - lowest;
    // A flat plane has no structure: all 0 rather than a division by 0.
    if (!(spread > 0.0f) || !std::isfinite(spread)) {
        std::fill_n(g, n, 0.0f);
        return std::move(smoothed);
    }
    const float scale = kFullScale / spread;
    for (std::size_t i = 0; i < n; ++i) g[i] = (g[i] - lowest) * scale;
    return std::move(smoothed);
}

namespace {

// Calls take(r, c, gx, gy) with the two diagonal differences of the 2 x 2 cell whose top-left
// corner is (r, c); the last row and column reuse themselves.
template <typename Take>
void forEachDifference(const Array<float>& levels, Take&& take) {
    const std::uint32_t rows = levels.rows();
    const std::uint32_t cols = levels.cols();
    for (std::uint32_t r = 0; r < rows; ++r) {
        const std::uint32_t below = r + 1 < rows ? r + 1 : rows - 1;
        for (std::uint32_t c = 0; c < cols; ++c) {
            const std::uint32_t right = c + 1 < cols ? c + 1 : cols - 1;
            take(r, c, levels(r, right) - levels(below, c), levels(r, c) - levels(below, right));
        }
    }
}

}  // namespace

CannyBuilder::Gradient CannyBuilder::gradient(const Array<float>& levels) {
    Gradient result{Array<float>(levels.rows(), levels.cols(), levels.pool()),
                    Array<float>(levels.rows(), levels.cols(), levels.pool())};
    forEachDifference(levels, [&](std::uint32_t r, std::uint32_t c, float gx, float gy) {
        result.magnitude(r, c) = std::sqrt(gx * gx + gy * gy);
        result.angle(r, c) = std::atan2(gy, gx);
    });
    return result;
}

namespace {

// Non-maximum suppression of `before` with the sector of every pixel given by sectorAt(r, c).
template <typename SectorAt>
Array<float> suppressed(const Array<float>& before, SectorAt&& sectorAt) {
    const std::uint32_t rows = before.rows();
    const std::uint32_t cols = before.cols();
    Array<float> ridges(before);
    for (std::uint32_t r = 0; r < rows; ++r) {
        for (std::uint32_t c = 0; c < cols; ++c) {
            const Step step = kSectorSteps[static_cast<std::size_t>(sectorAt(r, c))];
            const float centre = before(r, c);
            const float ahead = before(clampIndex(std::int64_t{r} + step.dr, rows),
                                       clampIndex(std::int64_t{c} + step.dc, cols));
            const float behind = before(clampIndex(std::int64_t{r} - step.dr, rows),
                                        clampIndex(std::int64_t{c} - step.dc, cols));
            // Ties suppress, so a pixel whose clamped neighbour is itself never survives.
            if (ahead >= centre || behind >= centre) ridges(r, c) = 0.0f;
        }
    }
    return ridges;
}

}  // namespace

Array<float> CannyBuilder::suppress(const Gradient& gradient) {
    return suppressed(gradient.magnitude, [&](std::uint32_t r, std::uint32_t c) {
        return sectorOf(gradient.angle(r, c));
    });
}

Array<float> CannyBuilder::ridges(const Array<float>& levels) {
    return ridges(Array<float>(levels));
}

namespace {

// A sector not yet known: the ratio of the differences lies too near a sector edge (or a
// difference is 0, tiny or not finite), and the arc tangent decides.
constexpr int kUndecided = kSectors;

// The bounds beyond the margins as factors of |gx| that |gy| is compared with: below the
// first, sector 0; between the second and third, sector 1 or 3; above the fourth, sector 2.
// Products and bounds in float are within a few units of 1e-7 of the exact ones, far inside
// the margin, so every sector decided here is the arc tangent's.
constexpr float kSector0Below = static_cast<float>(kTanEighthPi * (1.0 - kSectorMargin));
constexpr float kSector13Above = static_cast<float>(kTanEighthPi * (1.0 + kSectorMargin));
constexpr float kSector13Below = static_cast<float>(kTanThreeEighthsPi * (1.0 - kSectorMargin));
constexpr float kSector2Above = static_cast<float>(kTanThreeEighthsPi * (1.0 + kSectorMargin));

// The sector of the gradient (gx, gy) where the comparisons decide it, else kUndecided.
// Differences below the least normal float (whose products with the bounds lose precision)
// or not finite (whose products say nothing) are left undecided.
int sectorByComparison(float gx, float gy) {
    const float ax = std::fabs(gx);
    const float ay = std::fabs(gy);
    constexpr float kLeast = std::numeric_limits<float>::min();
    constexpr float kLargest = std::numeric_limits<float>::max();
    if (!(ax >= kLeast && ay >= kLeast && ax <= kLargest && ay <= kLargest)) return kUndecided;
    if (ay < ax * kSector0Below) return 0;
    if (ay > ax * kSector2Above) return 2;
    // Folding a downward gradient (gy < 0) onto 0..pi turns gx round as well.
    if (ay > ax * kSector13Above && ay < ax * kSector13Below)
        return (gx > 0.0f) == (gy > 0.0f) ? 1 : 3;
    return kUndecided;
}

// sectorByComparison of four cells at once, as 32-bit lanes.
__m128i sectorsByComparison(__m128 gx, __m128 gy) {
    const __m128 magnitudeBits = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    const __m128 ax = _mm_and_ps(gx, magnitudeBits);
    const __m128 ay = _mm_and_ps(gy, magnitudeBits);
    const __m128 least = _mm_set1_ps(std::numeric_limits<float>::min());
    const __m128 largest = _mm_set1_ps(std::numeric_limits<float>::max());
    const __m128 usable =
        _mm_and_ps(_mm_and_ps(_mm_cmpge_ps(ax, least), _mm_cmpge_ps(ay, least)),
                   _mm_and_ps(_mm_cmple_ps(ax, largest), _mm_cmple_ps(ay, largest)));
    const __m128 is0 = _mm_cmplt_ps(ay, _mm_mul_ps(ax, _mm_set1_ps(kSector0Below)));
    const __m128 is2 = _mm_cmpgt_ps(ay, _mm_mul_ps(ax, _mm_set1_ps(kSector2Above)));
    const __m128 is13 = _mm_and_ps(_mm_cmpgt_ps(ay, _mm_mul_ps(ax, _mm_set1_ps(kSector13Above))),
                                   _mm_cmplt_ps(ay, _mm_mul_ps(ax, _mm_set1_ps(kSector13Below))));
    const __m128 zero = _mm_setzero_ps();
    const __m128i turned =
        _mm_castps_si128(_mm_xor_ps(_mm_cmpgt_ps(gx, zero), _mm_cmpgt_ps(gy, zero)));
    // 1 where gx and gy have the same sign (pointing right once folded), 3 where they differ.
    const __m128i code13 =
        _mm_or_si128(_mm_set1_epi32(1), _mm_and_si128(turned, _mm_set1_epi32(2)));
    auto select = [](__m128 mask, __m128i yes, __m128i no) {
        const __m128i m = _mm_castps_si128(mask);
        return _mm_or_si128(_mm_and_si128(m, yes), _mm_andnot_si128(m, no));
    };
    __m128i sector = _mm_set1_epi32(kUndecided);
    sector = select(is13, code13, sector);
    sector = select(is2, _mm_set1_epi32(2), sector);
    sector = select(is0, _mm_setzero_si128(), sector);
    return select(usable, sector, _mm_set1_epi32(kUndecided));
}

// The magnitudes and sectors of the cells of row r (top-left corners), as forEachDifference
// and sectorOf(atan2(gy, gx)) give them: the sector from the comparisons where they decide
// it, from the arc tangent elsewhere.  Four cells at a time, the last few one by one.
void gradientRow(const Array<float>& levels, std::uint32_t r, float* magnitude,
                 std::uint8_t* sector) {
    const std::uint32_t cols = levels.cols();
    const float* top = &levels(r, 0);
    const float* bottom = &levels(r + 1 < levels.rows() ? r + 1 : r, 0);
    constexpr std::uint32_t kLanes = 4;
    std::uint32_t c = 0;
    for (; c + kLanes < cols; c += kLanes) {
        const __m128 gx = _mm_sub_ps(_mm_loadu_ps(top + c + 1), _mm_loadu_ps(bottom + c));
        const __m128 gy = _mm_sub_ps(_mm_loadu_ps(top + c), _mm_loadu_ps(bottom + c + 1));
        _mm_storeu_ps(magnitude + c,
                      _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(gx, gx), _mm_mul_ps(gy, gy))));
        const __m128i words = sectorsByComparison(gx, gy);
        const __m128i halves = _mm_packs_epi32(words, words);
        const __m128i bytes = _mm_packus_epi16(halves, halves);
        const std::int32_t four = _mm_cvtsi128_si32(bytes);
        std::memcpy(sector + c, &four, kLanes);
    }
    for (; c < cols; ++c) {
        const std::uint32_t right = c + 1 < cols ? c + 1 : cols - 1;
        const float gx = top[right] - bottom[c];
        const float gy = top[c] - bottom[right];
        magnitude[c] = std::sqrt(gx * gx + gy * gy);
        sector[c] = static_cast<std::uint8_t>(sectorByComparison(gx, gy));
    }
    for (c = 0; c < cols; ++c) {
        if (sector[c] == kUndecided) {
            const std::uint32_t right = c + 1 < cols ? c + 1 : cols - 1;
            const float gx = top[right] - bottom[c];
            const float gy = top[c] - bottom[right];
            sector[c] = static_cast<std::uint8_t>(sectorOf(std::atan2(gy, gx)));
        }
    }
}

// Non-maximum suppression of the magnitude row `centre` given the rows above and below it
// (the row itself at the plane's top and bottom, as the clamped neighbours are) and its
// sectors, into `out`.  Inside the row all four sectors' neighbours are read and the one of
// the pixel's sector chosen, four pixels at a time; the first and last columns clamp their
// neighbours.
void suppressRow(const float* above, const float* centre, const float* below,
                 const std::uint8_t* sector, std::uint32_t cols, float* out) {
    auto clampedAt = [&](std::uint32_t c) {
        const Step step = kSectorSteps[sector[c]];
        auto at = [&](int dr, int dc) {
            const float* row = dr < 0 ? above : (dr > 0 ? below : centre);
            return row[clampIndex(std::int64_t{c} + dc, cols)];
        };
        const float ahead = at(step.dr, step.dc);
        const float behind = at(-step.dr, -step.dc);
        out[c] = ahead >= centre[c] || behind >= centre[c] ? 0.0f : centre[c];
    };
    auto inside = [&](std::uint32_t c) {
        const std::uint8_t s = sector[c];
        // Ahead and behind along the step of each sector: (1, 0), (1, 1), (0, 1), (-1, 1).
        const float ahead =
            s == 0 ? below[c] : (s == 1 ? below[c + 1] : (s == 2 ? centre[c + 1] : above[c + 1]));
        const float behind =
            s == 0 ? above[c] : (s == 1 ? above[c - 1] : (s == 2 ? centre[c - 1] : below[c - 1]));
        out[c] = ahead >= centre[c] || behind >= centre[c] ? 0.0f : centre[c];
    };
    clampedAt(0);
    constexpr std::uint32_t kLanes = 4;
    std::uint32_t c = 1;
    for (; c + kLanes < cols; c += kLanes) {
        std::int32_t four = 0;
        std::memcpy(&four, sector + c, kLanes);
        const __m128i bytes = _mm_cvtsi32_si128(four);
        const __m128i words =
            _mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, _mm_setzero_si128()), _mm_setzero_si128());
        const __m128 is0 = _mm_castsi128_ps(_mm_cmpeq_epi32(words, _mm_setzero_si128()));
        const __m128 is1 = _mm_castsi128_ps(_mm_cmpeq_epi32(words, _mm_set1_epi32(1)));
        const __m128 is2 = _mm_castsi128_ps(_mm_cmpeq_epi32(words, _mm_set1_epi32(2)));
        auto pick = [&](__m128 for0, __m128 for1, __m128 for2, __m128 for3) {
            __m128 v = for3;
            v = _mm_or_ps(_mm_and_ps(is2, for2), _mm_andnot_ps(is2, v));
            v = _mm_or_ps(_mm_and_ps(is1, for1), _mm_andnot_ps(is1, v));
            return _mm_or_ps(_mm_and_ps(is0, for0), _mm_andnot_ps(is0, v));
        };
        const __m128 ahead = pick(_mm_loadu_ps(below + c), _mm_loadu_ps(below + c + 1),
                                  _mm_loadu_ps(centre + c + 1), _mm_loadu_ps(above + c + 1));
        const __m128 behind = pick(_mm_loadu_ps(above + c), _mm_loadu_ps(above + c - 1),
                                   _mm_loadu_ps(centre + c - 1), _mm_loadu_ps(below + c - 1));
        const __m128 middle = _mm_loadu_ps(centre + c);
        const __m128 suppressed =
            _mm_or_ps(_mm_cmpge_ps(ahead, middle), _mm_cmpge_ps(behind, middle));
        _mm_storeu_ps(out + c, _mm_andnot_ps(suppressed, middle));
    }
    for (; c + 1 < cols; ++c) inside(c);
    if (cols > 1) clampedAt(cols - 1);
}

}  // namespace

Array<float> CannyBuilder::ridges(Array<float>&& levels) {
    // Row by row: the gradient of row r + 1 is made before row r is suppressed, so three rows
    // of magnitudes and sectors are all that is kept.  The same floats as
    // suppress(gradient(levels)).
    const Array<float> plane = std::move(levels);
    const std::uint32_t rows = plane.rows();
    const std::uint32_t cols = plane.cols();
    // suppressRow writes every element of its row.
    Array<float> result(rows, cols, plane.pool(), kUninitialised);
    if (plane.size() == 0) return result;
    constexpr std::uint32_t kKept = 3;
    std::vector<float> magnitude(static_cast<std::size_t>(kKept) * cols);
    std::vector<std::uint8_t> sector(static_cast<std::size_t>(kKept) * cols);
    auto magnitudeRow = [&](std::uint32_t r) { return magnitude.data() + (r % kKept) * cols; };
    auto sectorRow = [&](std::uint32_t r) { return sector.data() + (r % kKept) * cols; };
    gradientRow(plane, 0, magnitudeRow(0), sectorRow(0));
    for (std::uint32_t r = 0; r < rows; ++r) {
        if (r + 1 < rows) gradientRow(plane, r + 1, magnitudeRow(r + 1), sectorRow(r + 1));
        const float* centre = magnitudeRow(r);
        const float* above = r > 0 ? magnitudeRow(r - 1) : centre;
        const float* below = r + 1 < rows ? magnitudeRow(r + 1) : centre;
        suppressRow(above, centre, below, sectorRow(r), cols, &result(r, 0));
    }
    return result;
}

Array<float> CannyBuilder::rescale(const Array<float>& ridges) {
    return rescale(Array<float>(ridges));
}

Array<float> CannyBuilder::rescale(Array<float>&& ridges) {
    float peak = 0.0f;
    float* m = ridges.data();
    const std::size_t n = ridges.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (m[i] > peak) peak = m[i];
    }
    // No ridge at all: every magnitude 0 instead of 0 x infinity.
    if (!(peak > 0.0f)) {
        std::fill_n(m, n, 0.0f);
        return std::move(ridges);
    }
    const float factor = kFullScale / peak;
    for (std::size_t i = 0; i < n; ++i) m[i] = m[i] * factor;
    return std::move(ridges);
}

Array<int> CannyBuilder::hysteresis(const Array<float>& magnitude) const {
    assert(magnitude.rows() <= static_cast<std::uint32_t>(std::numeric_limits<int>::max()) &&
           magnitude.cols() <= static_cast<std::uint32_t>(std::numeric_limits<int>::max()));
    // Marks a byte per pixel while the chains are followed (a quarter of the memory an int map
    // would keep in cache), widened to the map at the end.
    const float* m = magnitude.data();
    const std::size_t n = magnitude.size();
    std::vector<std::uint8_t> marks(n);
    const auto cols = static_cast<std::size_t>(magnitude.cols());
    // One work list for every seed: a plane has thousands of seeds.
    std::vector<Pixel> pending;
    for (std::size_t i = 0; i < n; ++i) {
        if (marks[i] == 0 && m[i] > _high) {
            __followEdge(marks.data(), magnitude,
                         {static_cast<int>(i / cols), static_cast<int>(i % cols)}, pending);
        }
    }
    Array<int> map(magnitude.rows(), magnitude.cols(), magnitude.pool(), kUninitialised);
    int* out = map.data();
    for (std::size_t i = 0; i < n; ++i) out[i] = marks[i];
    return map;
}

void CannyBuilder::__followEdge(std::uint8_t* marks, const Array<float>& magnitude, Pixel seed,
                                std::vector<Pixel>& pending) const {
    const int rows = static_cast<int>(magnitude.rows());
    const int cols = static_cast<int>(magnitude.cols());
    const float* m = magnitude.data();
    const auto at = [cols](int r, int c) {
        return static_cast<std::size_t>(r) * static_cast<std::size_t>(cols) +
               static_cast<std::size_t>(c);
    };
    // Pixels marked but whose neighbours are still to be looked at.  Marking on entry keeps
    // every pixel on the list at most once; the set reached does not depend on the order.
    pending.push_back(seed);
    marks[at(seed.row, seed.col)] = kEdge;
    while (!pending.empty()) {
        const Pixel pixel = pending.back();
        pending.pop_back();
        // Away from the border every neighbour exists: no bounds to check.
        const bool inside =
            pixel.row > 0 && pixel.row < rows - 1 && pixel.col > 0 && pixel.col < cols - 1;
        for (const Step& step : kNeighbours) {
            const int r = pixel.row + step.dr;
            const int c = pixel.col + step.dc;
            if (!inside && (r < 0 || r >= rows || c < 0 || c >= cols)) continue;
            const std::size_t j = at(r, c);
            if (marks[j] == 0 && m[j] > _low) {
                marks[j] = kEdge;
                pending.push_back({r, c});
            }
        }
    }
}

Array<int> planeEdges(const Array<float>& plane) {
    const float mean = planeMean(plane);
    if (mean == 0.0f) return Array<int>();
    return CannyBuilder(kEdgeSigma, kEdgeLow, kEdgeHigh)(plane / mean);
}

PackedEdges packed(const Array<int>& map) {
    PackedEdges bytes{map.rows(), map.cols(), std::vector<std::uint8_t>(map.size())};
    for (std::size_t i = 0, n = map.size(); i < n; ++i) {
        assert(map.data()[i] == 0 || map.data()[i] == kEdge);
        bytes.values[i] = static_cast<std::uint8_t>(map.data()[i]);
    }
    return bytes;
}

Array<int> unpacked(const PackedEdges& map, std::shared_ptr<PlanePool> pool) {
    Array<int> out(map.rows, map.cols, std::move(pool), kUninitialised);
    for (std::size_t i = 0, n = out.size(); i < n; ++i) out.data()[i] = map.values[i];
    return out;
}

void mergeEdges(Array<int>& merged, const Array<int>& map) {
    if (map.size() == 0) return;
    assert(map.rows() == merged.rows() && map.cols() == merged.cols());
    for (std::size_t i = 0, n = merged.size(); i < n; ++i) {
        if (map.data()[i] == kEdge) merged.data()[i] = kEdge;
    }
}

Array<int> edges(const Array<float>& a, const Array<float>& c1, const Array<float>& c2,
                 unsigned workers) {
    assert(c1.rows() == a.rows() && c1.cols() == a.cols());
    assert(c2.rows() == a.rows() && c2.cols() == a.cols());
    if (a.size() == 0) return Array<int>(a.rows(), a.cols(), a.pool());
    const std::array<const Array<float>*, 3> planes = {&a, &c1, &c2};
    // The three maps are independent; they are made in parallel and merged in order.
    std::array<Array<int>, 3> maps;
    parallelFor(3, workers, [&](unsigned p, unsigned) { maps[p] = planeEdges(*planes[p]); });
    Array<int> merged(a.rows(), a.cols(), a.pool());
    for (const Array<int>& map : maps) mergeEdges(merged, map);
    return merged;
}

}  // namespace lumetra
