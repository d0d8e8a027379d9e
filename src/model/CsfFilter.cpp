#include "model/CsfFilter.h"

// Contrast sensitivity of the three opponent channels for an image seen at a given number
// of pixels per degree (ppd).
//
// The sensitivities are computed on a quarter table of positive frequencies, starting one
// frequency step above zero, and the table is then laid over the full array by four
// (partly overlapping) mirrored placements around the centre (h, w) = (rows / 2, cols / 2).
// The lowest-frequency cell lands at (h - 1, w).
//
// Precision: tables and filters are float; every result of pow, exp, sin, cos and atan2 is
// rounded to float before further use (the function itself runs in double on the exact
// value of its arguments); literal constants have the precision the model gives them, and
// mixed float/double sub-expressions are evaluated in double.  The "1 +" of the formulas
// takes the precision of the term it is added to (float after a rounded power).  The
// per-image constants Ac, Bc and Ra and the oblique factor are kept in double; the named
// per-cell quantities rho, f, theta and f' are float.  f = ppd x rho is the double product
// rounded to float once, and the area rows x cols / ppd^2 divides the float product of the
// sizes by ppd^2 rounded to float: at the standard 60 pixels per degree both are exactly the
// float operations 60.0f x rho and rows x cols / 3600.0f (the double product of 60 and a
// float is exact).

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "image/Parallel.h"
#include "image/VectorMath.h"

namespace lumetra {
namespace {

// Distance factor Ra = 0.856 * 2.5^0.14 (scale double, base and exponent single).
constexpr double kDistanceScale = 0.856;
constexpr float kDistanceBase = 2.5f;
constexpr float kDistanceExponent = 0.14f;

// Oblique effect R(theta) = 0.11 * cos(4 theta) + 0.89.
constexpr double kObliqueAmplitude = 0.11;
constexpr double kObliqueOffset = 0.89;
constexpr float kObliqueAngleFactor = 4.0f;

// Achromatic sensitivity amplitude Ac = 0.801 * 0.9 * 0.017^-0.2.
constexpr double kAmplitudeScale = 0.801;
constexpr double kAmplitudeLuminanceFactor = 0.9;
constexpr float kAmplitudeBase = 0.017f;
constexpr float kAmplitudeExponent = -0.2f;

// Achromatic sensitivity decay Bc = 0.3 * 0.9 * 1.01^0.15.
constexpr double kDecayScale = 0.3;
constexpr double kDecayLuminanceFactor = 0.9;
constexpr float kDecayBase = 1.01f;
constexpr float kDecayExponent = 0.15f;

// High-frequency term sqrt(1 + 0.06 * exp(Bc x)), the root written as a power.
constexpr double kHighFrequencyWeight = 0.06;
constexpr float kHighFrequencyExponent = 0.5f;

// Low-frequency (area) term (1 + (3.23 * (I x^2)^-0.3)^5)^-0.2.
constexpr double kAreaTermScale = 3.23;
constexpr float kAreaTermInnerExponent = -0.3f;
constexpr float kAreaTermMiddleExponent = 5.0f;
constexpr float kAreaTermOuterExponent = -0.2f;

// First chromatic channel: (1 - 0.27 sin 2 theta) / (1 + (f / 5.52)^1.72), f in cycles/degree.
constexpr double kC1Anisotropy = 0.27;
constexpr double kC1CornerFrequency = 5.52;
constexpr float kC1Exponent = 1.72f;

// Second chromatic channel: (1 - 0.24 sin 2 theta) / (1 + (f / 4.123)^1.6454).
constexpr double kC2Anisotropy = 0.24;
constexpr double kC2CornerFrequency = 4.123;
constexpr float kC2Exponent = 1.6454f;

// sin(2 theta): the angle doubled.
constexpr float kChromaticAngleFactor = 2.0f;

// Output scales of the three filters (single precision).
constexpr float kScaleA = 250.0f;
constexpr float kScaleC1 = 33.0f;
constexpr float kScaleC2 = 5.0f;

float roundedPow(double base, double exponent) {
    return static_cast<float>(std::pow(base, exponent));
}
float roundedExp(double x) {
    return static_cast<float>(std::exp(x));
}
float roundedSin(float x) {
    return static_cast<float>(std::sin(static_cast<double>(x)));
}
float roundedCos(float x) {
    return static_cast<float>(std::cos(static_cast<double>(x)));
}
float roundedAtan2(float y, float x) {
    return static_cast<float>(std::atan2(static_cast<double>(y), static_cast<double>(x)));
}

// Constants of the achromatic sensitivity that depend on the image only through its area.
struct AchromaticModel {
    double amplitude;  // Ac, about 1.6285
    double decay;      // Bc, about 0.27040
    float area;        // I, the image area in square degrees

    // S(x): achromatic sensitivity at x cycles per degree.  x enters in double everywhere
    // except in the area term, which is evaluated from its float value.
    double sensitivity(float x) const {
        const double xd = x;
        const float decayTerm = roundedExp(-decay * xd);
        const float growthTerm = roundedExp(decay * xd);
        const float highFrequencyTerm =
            roundedPow(1.0 + kHighFrequencyWeight * growthTerm, kHighFrequencyExponent);
        const float areaInner = roundedPow(area * (x * x), kAreaTermInnerExponent);
        const float areaMiddle = roundedPow(kAreaTermScale * areaInner, kAreaTermMiddleExponent);
        const float areaTerm = roundedPow(1.0f + areaMiddle, kAreaTermOuterExponent);
        return amplitude * xd * decayTerm * highFrequencyTerm * areaTerm;
    }

    // S of every x, the same values as sensitivity(x), each function taken on a whole row of
    // arguments at once.
    std::vector<double> sensitivities(std::span<const float> x) const {
        const std::size_t n = x.size();
        std::vector<double> argument(n);
        std::vector<float> decayTerm(n);
        std::vector<float> growthTerm(n);
        std::vector<float> highFrequencyTerm(n);
        std::vector<float> areaTerm(n);  // the inner, middle and outer power in turn
        for (std::size_t i = 0; i < n; ++i) argument[i] = -decay * static_cast<double>(x[i]);
        expToFloat(argument, decayTerm);
        for (std::size_t i = 0; i < n; ++i) argument[i] = decay * static_cast<double>(x[i]);
        expToFloat(argument, growthTerm);
        for (std::size_t i = 0; i < n; ++i) {
            argument[i] = 1.0 + kHighFrequencyWeight * growthTerm[i];
        }
        powToFloat(argument, kHighFrequencyExponent, highFrequencyTerm);
        for (std::size_t i = 0; i < n; ++i) argument[i] = area * (x[i] * x[i]);
        powToFloat(argument, kAreaTermInnerExponent, areaTerm);
        for (std::size_t i = 0; i < n; ++i) argument[i] = kAreaTermScale * areaTerm[i];
        powToFloat(argument, kAreaTermMiddleExponent, areaTerm);
        for (std::size_t i = 0; i < n; ++i) argument[i] = 1.0f + areaTerm[i];
        powToFloat(argument, kAreaTermOuterExponent, areaTerm);
        std::vector<double> s(n);
        for (std::size_t i = 0; i < n; ++i) {
            s[i] = amplitude * static_cast<double>(x[i]) * decayTerm[i] * highFrequencyTerm[i] *
                   areaTerm[i];
        }
        return s;
    }
};

// The three quarter tables and what their rows are made from.
struct QuarterTables {
    Array<float> a;
    Array<float> c1;
    Array<float> c2;
    float rowStep;  // frequency steps in cycles per pixel; the tables start one step above zero
    float colStep;
    double pixelsPerDegree;
    double distanceFactor;
    AchromaticModel achromatic;

    // Row q of the tables, cell by cell: the plain evaluation.
    void plainRow(std::uint32_t q) {
        const float u = static_cast<float>(q + 1) * rowStep;  // vertical frequency
        for (std::uint32_t p = 0; p < a.cols(); ++p) {
            const float v = static_cast<float>(p + 1) * colStep;  // horizontal frequency
            const float rho = std::sqrt(u * u + v * v);
            // cycles per degree
            const auto f = static_cast<float>(pixelsPerDegree * static_cast<double>(rho));
            const float theta = roundedAtan2(v, u);

            // Oblique effect: diagonal frequencies are seen as if they were higher.
            const double oblique =
                kObliqueAmplitude * roundedCos(kObliqueAngleFactor * theta) + kObliqueOffset;
            const float shifted = static_cast<float>(f / (distanceFactor * oblique));
            a(q, p) = static_cast<float>(
                std::min(achromatic.sensitivity(shifted), achromatic.sensitivity(f)));

            const float doubleAngleSin = roundedSin(kChromaticAngleFactor * theta);
            const double fd = f;
            c1(q, p) =
                static_cast<float>((1.0 - kC1Anisotropy * doubleAngleSin) /
                                   (1.0f + roundedPow(fd / kC1CornerFrequency, kC1Exponent)));
            c2(q, p) =
                static_cast<float>((1.0 - kC2Anisotropy * doubleAngleSin) /
                                   (1.0f + roundedPow(fd / kC2CornerFrequency, kC2Exponent)));
        }
    }

    // The same values, each function taken on the whole row at once.
    void vectorRow(std::uint32_t q) {
        const float u = static_cast<float>(q + 1) * rowStep;
        const std::size_t n = a.cols();
        std::vector<double> argument(n);
        std::vector<float> f(n);
        std::vector<float> theta(n);
        for (std::size_t p = 0; p < n; ++p) {
            const float v = static_cast<float>(p + 1) * colStep;
            const float rho = std::sqrt(u * u + v * v);
            f[p] = static_cast<float>(pixelsPerDegree * static_cast<double>(rho));
            argument[p] = v;
        }
        atan2ToFloat(argument, std::vector<double>(n, static_cast<double>(u)), theta);

        std::vector<float> value(n);  // a cosine, then a sine, then a power
        for (std::size_t p = 0; p < n; ++p) argument[p] = kObliqueAngleFactor * theta[p];
        cosToFloat(argument, value);
        std::vector<float> shifted(n);
        for (std::size_t p = 0; p < n; ++p) {
            const double oblique = kObliqueAmplitude * value[p] + kObliqueOffset;
            shifted[p] = static_cast<float>(f[p] / (distanceFactor * oblique));
        }
        const std::vector<double> ofShifted = achromatic.sensitivities(shifted);
        const std::vector<double> ofF = achromatic.sensitivities(f);
        float* rowA = &a(q, 0);
        for (std::size_t p = 0; p < n; ++p) {
            rowA[p] = static_cast<float>(std::min(ofShifted[p], ofF[p]));
        }

        std::vector<float> doubleAngleSin(n);
        for (std::size_t p = 0; p < n; ++p) argument[p] = kChromaticAngleFactor * theta[p];
        sinToFloat(argument, doubleAngleSin);
        const auto chromatic = [&](float* row, double anisotropy, double corner, float exponent) {
            for (std::size_t p = 0; p < n; ++p) argument[p] = static_cast<double>(f[p]) / corner;
            powToFloat(argument, exponent, value);
            for (std::size_t p = 0; p < n; ++p) {
                row[p] =
                    static_cast<float>((1.0 - anisotropy * doubleAngleSin[p]) / (1.0f + value[p]));
            }
        };
        chromatic(&c1(q, 0), kC1Anisotropy, kC1CornerFrequency, kC1Exponent);
        chromatic(&c2(q, 0), kC2Anisotropy, kC2CornerFrequency, kC2Exponent);
    }
};

// Table index of a signed offset from the centre, as the four placements leave it.
std::uint32_t tableIndex(std::int64_t index) {
    return static_cast<std::uint32_t>(index);
}

// Writes scale * table(q, p) into every cell of filter.  With h = rows / 2 and w = cols / 2
// (integer division) the four mirrored placements of the quarter table leave:
//   columns c <= w:     p = w - c;      columns c >= w + 1: p = c - w + 1;
//   rows, left part:    q = h - r for r <= h - 2, else r - h + 1;
//   rows, right part:   q = h - r for r <= h,     else r - h + 1.
// For odd sizes the table has one extra row (column) that these formulas reach.
void layOut(const Array<float>& table, float scale, Array<float>& filter) {
    const std::int64_t rows = filter.rows();
    const std::int64_t cols = filter.cols();
    const std::int64_t h = rows / 2;
    const std::int64_t w = cols / 2;
    for (std::int64_t r = 0; r < rows; ++r) {
        const std::uint32_t qLeft = tableIndex(r <= h - 2 ? h - r : r - h + 1);
        const std::uint32_t qRight = tableIndex(r <= h ? h - r : r - h + 1);
        float* row = filter.data() + r * cols;
        for (std::int64_t c = 0; c <= w && c < cols; ++c) {
            row[c] = table(qLeft, tableIndex(w - c)) * scale;
        }
        for (std::int64_t c = w + 1; c < cols; ++c) {
            row[c] = table(qRight, tableIndex(c - w + 1)) * scale;
        }
    }
}

}  // namespace

CsfFilter::CsfFilter(std::uint32_t rows, std::uint32_t cols, unsigned workers,
                     double pixelsPerDegree)
    : CsfFilter(rows, cols, workers, pixelsPerDegree, Evaluation::Vector) {}

CsfFilter CsfFilter::plain(std::uint32_t rows, std::uint32_t cols, unsigned workers,
                           double pixelsPerDegree) {
    return CsfFilter(rows, cols, workers, pixelsPerDegree, Evaluation::Plain);
}

CsfFilter::CsfFilter(std::uint32_t rows, std::uint32_t cols, unsigned workers,
                     double pixelsPerDegree, Evaluation evaluation)
    : _rows(rows), _cols(cols), _filterA(rows, cols), _filterC1(rows, cols), _filterC2(rows, cols) {
    if (rows == 0 || cols == 0) return;

    // Quarter table: R / 2 + 1 rows and C / 2 + 1 columns, plus the row (column) an odd
    // size reaches beyond that.
    const std::uint32_t tableRows = rows / 2 + 1 + rows % 2;
    const std::uint32_t tableCols = cols / 2 + 1 + cols % 2;

    // Frequency steps in cycles per pixel; the tables start one step above zero.
    const float rowStep = 1.0f / static_cast<float>(rows);
    const float colStep = 1.0f / static_cast<float>(cols);

    // Square pixels per square degree, rounded to float for the float area.
    const auto pixelsPerSquareDegree = static_cast<float>(pixelsPerDegree * pixelsPerDegree);
    const AchromaticModel achromatic{
        kAmplitudeScale * kAmplitudeLuminanceFactor *
            roundedPow(kAmplitudeBase, kAmplitudeExponent),
        kDecayScale * kDecayLuminanceFactor * roundedPow(kDecayBase, kDecayExponent),
        static_cast<float>(cols) * static_cast<float>(rows) / pixelsPerSquareDegree};
    const double distanceFactor = kDistanceScale * roundedPow(kDistanceBase, kDistanceExponent);

    QuarterTables tables{Array<float>(tableRows, tableCols),
                         Array<float>(tableRows, tableCols),
                         Array<float>(tableRows, tableCols),
                         rowStep,
                         colStep,
                         pixelsPerDegree,
                         distanceFactor,
                         achromatic};
    // Every table element stands alone: the rows are shared out to the workers.
    parallelFor(tableRows, workers, [&](unsigned q, unsigned) {
        if (evaluation == Evaluation::Plain) {
            tables.plainRow(q);
        } else {
            tables.vectorRow(q);
        }
    });
    Array<float>& tableA = tables.a;
    float maxA = 0.0f;
    for (std::size_t i = 0, n = tableA.size(); i < n; ++i) maxA = std::max(maxA, tableA.data()[i]);

    // Only the achromatic table is normalised, so that its peak becomes exactly 1.
    for (std::size_t i = 0, n = tableA.size(); i < n; ++i) tableA.data()[i] /= maxA;

    layOut(tableA, kScaleA, _filterA);
    layOut(tables.c1, kScaleC1, _filterC1);
    layOut(tables.c2, kScaleC2, _filterC2);
}

std::ostream& operator<<(std::ostream& out, const CsfFilter& csf) {
    out << "A" << std::endl << csf.A() << std::endl;
    out << "C1" << std::endl << csf.C1() << std::endl;
    out << "C2" << std::endl << csf.C2() << std::endl;
    return out;
}

}  // namespace lumetra
