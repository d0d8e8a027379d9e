#include "ReferenceModel.h"

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <variant>

#include "engine/MaskingConstants.h"
#include "fft/fftw++.h"
#include "model/CsfFilter.h"
#include "model/DcpFilter.h"
#include "model/InterATresholdBuilder.h"
#include "model/InterBTresholdBuilder.h"
#include "model/IntraATresholdBuilder.h"
#include "model/IntraCTresholdBuilder.h"
#include "structure/BlockPooling.h"
#include "structure/Edges.h"
#include "structure/Morphology.h"

namespace lumetra {

namespace {

using Spectrum = Array<std::complex<float>>;

using namespace masking;

// Channel pooling: the achromatic difference counts ten times and C1 five times as much as C2.
constexpr float kAchromaticWeight = 10.0f;
constexpr float kC1Weight = 5.0f;
// Crowns 2 and 3 weigh ten times crown 4 in the error map.
constexpr float kCrownWeight = 10.0f;
// Orientation pooling: Minkowski sum with exponent 4.5, root with the float nearest 1 / 4.5.
constexpr double kOrientationExponent = 4.5;
constexpr float kOrientationRoot = 0.22222222f;

// Value of a set pixel in an edge or morphology map.
constexpr int kSet = 255;

float roundedPow(float x, double exponent) {
    return static_cast<float>(std::pow(static_cast<double>(x), exponent));
}

// Row-major mean in extended precision, rounded to float.
float meanOf(const Array<float>& plane) {
    long double sum = 0.0L;
    for (std::size_t i = 0; i < plane.size(); ++i) sum += plane.data()[i];
    return static_cast<float>(sum / static_cast<long double>(plane.size()));
}

// Natural order (zero frequency at (0, 0)) to the filters' centred grid (zero frequency at
// (rows / 2, cols / 2)): element (r, c) moves to ((r + rows / 2) mod rows, (c + cols / 2) mod
// cols), for odd sizes as for even ones.
Spectrum centred(const Spectrum& s) {
    Spectrum out(s.rows(), s.cols());
    for (std::uint32_t r = 0; r < s.rows(); ++r) {
        for (std::uint32_t c = 0; c < s.cols(); ++c) {
            out((r + s.rows() / 2) % s.rows(), (c + s.cols() / 2) % s.cols()) = s(r, c);
        }
    }
    return out;
}

// The exact inverse of centred().
Spectrum uncentred(const Spectrum& s) {
    Spectrum out(s.rows(), s.cols());
    for (std::uint32_t r = 0; r < s.rows(); ++r) {
        for (std::uint32_t c = 0; c < s.cols(); ++c) {
            out(r, c) = s((r + s.rows() / 2) % s.rows(), (c + s.cols() / 2) % s.cols());
        }
    }
    return out;
}

// Every spectral value times the real weight at its place, real and imaginary parts each one
// float product.
Spectrum weighted(const Spectrum& s, const Array<float>& w) {
    Spectrum out(s.rows(), s.cols());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const std::complex<float> v = s.data()[i];
        out.data()[i] = std::complex<float>(v.real() * w.data()[i], v.imag() * w.data()[i]);
    }
    return out;
}

unsigned channelOf(unsigned k) {
    return k <= kALast ? 0 : (k <= kC1Last ? 1 : 2);
}

float divisorOf(unsigned k) {
    const float divisors[] = {kADivisor, kC1Divisor, kC2Divisor};
    return divisors[channelOf(k)];
}

float slopeOf(unsigned k) {
    if (k == kAFirst) return kSlopeABase;
    return k < kCrown3First ? kSlopeACrown2 : kSlopeAHigh;
}

// t = t x f element by element over t's own elements: an empty (unbuilt) threshold stays empty.
void multiplyInPlace(Array<float>& t, const Array<float>& f) {
    for (std::size_t i = 0; i < t.size(); ++i) t.data()[i] = t.data()[i] * f.data()[i];
}

Array<float> rational(const Array<float>& x, const Curve& c) {
    return InterATresholdBuilder()(x, c.p, c.q, c.r);
}
Array<float> saturating(const Array<float>& x, const Curve& c) {
    return InterBTresholdBuilder()(x, c.p, c.q, c.r);
}
Array<float> intraC(const Array<float>& x, const Curve& c) {
    return IntraCTresholdBuilder()(x, c.p, c.q, c.r);
}

// |x - y| element by element.
Array<float> absDifference(const Array<float>& x, const Array<float>& y) {
    Array<float> d(x.rows(), x.cols());
    for (std::size_t i = 0; i < d.size(); ++i) d.data()[i] = std::fabs(x.data()[i] - y.data()[i]);
    return d;
}

// (d_0^4.5 + ... + d_(n-1)^4.5)^(1/4.5) element by element, powers added in order.
Array<float> orientationPooled(const Array<float>* d, unsigned n) {
    Array<float> e(d[0].rows(), d[0].cols());
    for (std::size_t i = 0; i < e.size(); ++i) {
        float sum = 0.0f;
        for (unsigned o = 0; o < n; ++o) sum += roundedPow(d[o].data()[i], kOrientationExponent);
        e.data()[i] = roundedPow(sum, kOrientationRoot);
    }
    return e;
}

// M = S0 + 10 E2 + 10 E3 + E4 from the band differences.
Array<float> errorMap(const ReferenceBands& reference, const ReferenceBands& degraded) {
    ReferenceBands d;
    for (unsigned k = 0; k < kBandCount; ++k) d[k] = absDifference(reference[k], degraded[k]);
    // Channel pooling of the base (j = 0) and crown 2 (j = 1 .. 4).
    std::array<Array<float>, kCrown2Size + 1> s;
    for (unsigned j = 0; j <= kCrown2Size; ++j) {
        s[j] = Array<float>(d[j].rows(), d[j].cols());
        for (std::size_t i = 0; i < s[j].size(); ++i) {
            s[j].data()[i] = kAchromaticWeight * d[j].data()[i] +
                             kC1Weight * d[kC1Base + j].data()[i] + d[kC2Base + j].data()[i];
        }
    }
    const Array<float> e2 = orientationPooled(&s[1], kCrown2Size);
    const Array<float> e3 = orientationPooled(&d[kCrown3First], kCrown34Size);
    const Array<float> e4 = orientationPooled(&d[kCrown4First], kCrown34Size);
    Array<float> m(s[0].rows(), s[0].cols());
    for (std::size_t i = 0; i < m.size(); ++i) {
        m.data()[i] = s[0].data()[i] + kCrownWeight * e2.data()[i] + kCrownWeight * e3.data()[i] +
                      e4.data()[i];
    }
    return m;
}

// B: block means normalised by the largest and squared.  A map without error weighs 0 in
// every block instead of 0 / 0, so that an exact copy measures 0.
Array<float> blockWeight(const Array<float>& m) {
    Array<float> b = blkproc(m);
    float mx = b.data()[0];
    for (std::size_t i = 1; i < b.size(); ++i) mx = b.data()[i] > mx ? b.data()[i] : mx;
    if (mx == 0.0f) return Array<float>(m.rows(), m.cols());
    for (std::size_t i = 0; i < b.size(); ++i) {
        const float normalised = b.data()[i] / mx;
        b.data()[i] = normalised * normalised;
    }
    return b;
}

// R: 1 outside the zone where the edge structure changed, `co` inside it.  The zone is made
// of straight runs of at least four changed pixels, grown by one pixel on every side.
Array<float> structureWeight(const Array<int>& original, const Array<int>& degraded, float co) {
    Array<int> changes(degraded.rows(), degraded.cols());
    for (std::size_t i = 0; i < changes.size(); ++i) {
        const int o = original.data()[i];
        const int d = degraded.data()[i];
        changes.data()[i] = (o == 0 && d == kSet) || (o == kSet && d == 0) ? kSet : 0;
    }
    const Array<int> horizontal = erode_dilate_h(changes);
    const Array<int> vertical = erode_dilate_v(changes);
    Array<int> runs(changes.rows(), changes.cols());
    for (std::size_t i = 0; i < runs.size(); ++i) {
        runs.data()[i] = horizontal.data()[i] != 0 || vertical.data()[i] != 0 ? kSet : 0;
    }
    const Array<int> zone = dilate_hv(runs) / kSet;
    Array<float> r(zone.rows(), zone.cols());
    for (std::size_t i = 0; i < r.size(); ++i) {
        const int w = zone.data()[i];
        r.data()[i] = static_cast<float>(w == 0 ? 1 : 0) + static_cast<float>(w) * co;
    }
    return r;
}

// Minkowski mean with exponent beta of M x R x B^alpha.
float minkowskiMeasure(const Array<float>& m, const Array<float>& r, const Array<float>& b,
                       float alpha, float beta) {
    long double sum = 0.0L;
    for (std::size_t i = 0; i < m.size(); ++i) {
        const float q = r.data()[i] * roundedPow(b.data()[i], alpha);
        sum += roundedPow(m.data()[i] * q, beta);
    }
    const long double count = static_cast<long double>(m.rows()) * m.cols();
    return static_cast<float>(std::pow(sum / count, 1.0L / static_cast<long double>(beta)));
}

// The measure on the 1..5 scale along the line b - a x; -1 for a measure that is not a
// number or lies exactly on the lower bound.
float scoreOf(float measure, float a, float b) {
    constexpr float kBest = 5.0f;
    constexpr float kWorst = 1.0f;
    constexpr float kInvalid = -1.0f;
    const float lo = (b - kBest) / a;
    const float hi = (b - kWorst) / a;
    if (measure < lo) return kBest;
    if (measure > lo && measure <= hi) return b - a * measure;
    if (measure > hi && measure > lo) return kWorst;
    return kInvalid;
}

}  // namespace

// Divides every band by the threshold its switches build from the unmasked bands.  A band
// without a threshold (its channel's intra switch clear) stays undivided; with no switch at
// all nothing is divided.
ReferenceBands referenceMasked(ReferenceBands bands, const ReferenceParameters& p) {
    ReferenceBands scaled;
    for (unsigned k = 0; k < kBandCount; ++k) scaled[k] = bands[k] / divisorOf(k);
    ReferenceBands t;  // thresholds, empty until a step builds them
    if (p.intraA) {
        for (unsigned k = kAFirst; k <= kALast; ++k) {
            t[k] = IntraATresholdBuilder()(scaled[k], slopeOf(k));
        }
    }
    if (p.intraC1) {
        t[kC1Base] = intraC(scaled[kC1Base], kIntraC1Base);
        for (unsigned k = kC1Base + 1; k <= kC1Last; ++k) t[k] = intraC(scaled[k], kIntraC1Crown);
    }
    if (p.interC1) {
        multiplyInPlace(t[kC1Base], rational(scaled[kAFirst], kC1BaseByA));
        multiplyInPlace(t[kC1Base], rational(scaled[kC2Base], kC1BaseByC2));
        const Array<float> byBase = rational(scaled[kAFirst], kC1CrownByABase);
        const Array<float> byBaseSaturating =
            saturating(scaled[kAFirst], kC1CrownByABaseSaturating);
        for (unsigned j = 1; j <= kCrown2Size; ++j) {
            multiplyInPlace(t[kC1Base + j], byBase);
            multiplyInPlace(t[kC1Base + j], rational(scaled[kAFirst + j], kC1CrownByAOrientation));
            multiplyInPlace(t[kC1Base + j], byBaseSaturating);
        }
    }
    if (p.intraC2) {
        // C2 is masked by itself and then by C1, both under the one switch.
        t[kC2Base] = intraC(scaled[kC2Base], kIntraC2Base);
        for (unsigned k = kC2Base + 1; k <= kC2Last; ++k) t[k] = intraC(scaled[k], kIntraC2Crown);
        multiplyInPlace(t[kC2Base], rational(scaled[kC1Base], kC2ByC1Base));
        for (unsigned j = 1; j <= kCrown2Size; ++j) {
            multiplyInPlace(t[kC2Base + j], saturating(scaled[kC1Base + j], kC2ByC1Crown));
        }
    }
    const bool any = p.intraA || p.interA || p.intraC1 || p.interC1 || p.intraC2 || p.interC2;
    if (!any) return bands;
    for (unsigned k = 0; k < kBandCount; ++k) {
        for (std::size_t i = 0; i < t[k].size(); ++i) {
            bands[k].data()[i] = bands[k].data()[i] / t[k].data()[i];
        }
    }
    return bands;
}

ReferenceBands referenceBands(const AccImage& image, const ReferenceParameters& p) {
    const CsfFilter csf(image.rows(), image.cols(), 1, p.pixelsPerDegree);
    const DcpFilter dcp(image.rows(), image.cols(), 1, p.pixelsPerDegree);
    // Each channel's centred spectrum weighted by its contrast sensitivity.  A is taken
    // relative to its mean, the chromatic planes as they are.
    const std::array<Spectrum, 3> spectra{
        weighted(centred(fft(image.A() / meanOf(image.A()))), csf.A()),
        weighted(centred(fft(image.C1())), csf.C1()),
        weighted(centred(fft(image.C2())), csf.C2()),
    };
    // Band k: the channel's weighted spectrum through cortex mask k, back to the image plane.
    ReferenceBands bands;
    for (unsigned k = 0; k < kBandCount; ++k) {
        bands[k] = ifft(uncentred(weighted(spectra[channelOf(k)], dcp[k])));
    }
    return referenceMasked(std::move(bands), p);
}

ReferenceComparison referenceCompare(const RgbImage& original, const RgbImage& degraded,
                                     const ReferenceParameters& p) {
    const AccImage originalPlanes(original);
    const AccImage degradedPlanes(degraded);
    // Band differences pooled over channels and orientations into the error map.
    const Array<float> m =
        errorMap(referenceBands(originalPlanes, p), referenceBands(degradedPlanes, p));
    // Weighted by its block means and by where the edge structure changed.
    const Array<float> block = blockWeight(m);
    const Array<float> structure =
        structureWeight(edges(originalPlanes), edges(degradedPlanes), p.co);
    const float measure = minkowskiMeasure(m, structure, block, p.alpha, p.beta);
    return ReferenceComparison{measure,
                               scoreOf(measure, std::get<LinearMapping>(p.mapping).a,
                                       std::get<LinearMapping>(p.mapping).b),
                               m};
}

}  // namespace lumetra
