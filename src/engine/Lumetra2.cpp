#include "engine/Lumetra2.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "engine/BandIndex.h"
#include "engine/ErrorPooling.h"
#include "engine/Spectrum.h"
#include "fft/fftw++.h"
#include "image/Error.h"
#include "image/Parallel.h"
#include "image/PlaneMean.h"
#include "model/DcpFilter.h"
#include "model/InterATresholdBuilder.h"
#include "model/InterBTresholdBuilder.h"
#include "model/IntraATresholdBuilder.h"
#include "model/IntraCTresholdBuilder.h"
#include "structure/Edges.h"

namespace lumetra {

namespace {

// Each channel's bands are divided by these before they drive a threshold.
constexpr float kADivisor = 250.0f;
constexpr float kC1Divisor = 30.0f;
constexpr float kC2Divisor = 5.0f;

// Slopes of the achromatic masking curve: base, crown 2, crowns 3 and 4.
constexpr float kSlopeABase = 0.7f;
constexpr float kSlopeACrown2 = 1.0f;
constexpr float kSlopeAHigh = 0.85f;

std::string sizeText(std::uint32_t cols, std::uint32_t rows) {
    std::ostringstream text;
    text << cols << " x " << rows;
    return text.str();
}

// T = T x F element by element over T's own elements (an unbuilt T stays empty).
void multiplyInto(Array<float>& threshold, const Array<float>& factor) {
    float* t = threshold.data();
    const float* f = factor.data();
    for (std::size_t i = 0, n = threshold.size(); i < n; ++i) t[i] = t[i] * f[i];
}

// band = band / T element by element; an unbuilt threshold leaves the band undivided.
void divideBy(Array<float>& band, const Array<float>& threshold) {
    if (threshold.size() == 0) return;
    float* b = band.data();
    const float* t = threshold.data();
    for (std::size_t i = 0, n = band.size(); i < n; ++i) b[i] = b[i] / t[i];
}

}  // namespace

Lumetra2::Lumetra2(const RgbImage& original, float alpha, float beta, float co, float a, float b,
                   bool intraA, bool interA, bool intraC1, bool interC1, bool intraC2, bool interC2,
                   unsigned threads)
    : _alpha(alpha),
      _beta(beta),
      _co(co),
      _a(a),
      _b(b),
      _intraA(intraA),
      _interA(interA),
      _intraC1(intraC1),
      _interC1(interC1),
      _intraC2(intraC2),
      _interC2(interC2),
      _threads(threads == 0 ? defaultWorkers() : threads),
      _csf(0, 0) {
    if (original.rows() < kMinImageSide || original.cols() < kMinImageSide) {
        throw SizeMismatchError("the original is " + sizeText(original.cols(), original.rows()) +
                                " but images must be at least " +
                                sizeText(kMinImageSide, kMinImageSide));
    }
    _csf = CsfFilter(original.rows(), original.cols());
    {
        const DcpFilter bank(original.rows(), original.cols(), _threads);
        parallelFor(kBandCount, _threads,
                    [&](unsigned k, unsigned) { _dcp[k] = croppedMask(bank[k]); });
    }
    _fft = std::make_unique<const RealFft2d>(original.rows(), original.cols());
    const AccImage opponent(original);
    __decompose(opponent, _reference.data());
    _referenceEdges = edges(opponent, _threads);
}

void Lumetra2::checkSize(const std::string& path, const RgbImage& degraded) const {
    requireOriginalSize("\"" + path + "\"", degraded);
}

void Lumetra2::requireOriginalSize(const std::string& subject, const RgbImage& degraded) const {
    if (degraded.rows() != rows() || degraded.cols() != cols()) {
        throw SizeMismatchError(subject + " is " + sizeText(degraded.cols(), degraded.rows()) +
                                " but the original is " + sizeText(cols(), rows()));
    }
}

Bands Lumetra2::decompose(const AccImage& image) const {
    Bands bands;
    __decompose(image, bands.data());
    return bands;
}

void Lumetra2::__decompose(const AccImage& image, Array<float>* bands) const {
    const std::uint32_t rows = image.rows();
    const std::uint32_t cols = image.cols();
    for (unsigned k = 0; k < kBandCount; ++k) {
        if (bands[k].rows() != rows || bands[k].cols() != cols) bands[k] = Array<float>(rows, cols);
    }

    // Phase 1: each channel to the frequency domain, weighted by its contrast sensitivity,
    // split by the cortex band filters and brought back band by band.
    struct Channel {
        Array<float> plane;
        const Array<float>& sensitivity;
        unsigned first;
        unsigned last;
    };
    const float mean = planeMean(image.A());
    const Channel channels[] = {
        {image.A() / mean, _csf.A(), kAFirst, kALast},
        {image.C1(), _csf.C1(), kC1Base, kC1Last},
        {image.C2(), _csf.C2(), kC2Base, kC2Last},
    };
    const unsigned workers = std::min(_threads, kALast + 1);
    std::vector<RealFft2d::Workspace> scratch;
    for (unsigned w = 0; w < workers; ++w) scratch.push_back(_fft->workspace());
    for (const Channel& channel : channels) {
        _fft->forward(channel.plane, scratch[0]);
        const Array<std::complex<float>> spectrum =
            centredWeightedSpectrum(scratch[0].half(), rows, cols, channel.sensitivity);
        parallelFor(channel.last - channel.first + 1, workers, [&](unsigned i, unsigned w) {
            const unsigned k = channel.first + i;
            bandHalfSpectrum(spectrum, _dcp[k], scratch[w].half());
            _fft->inverse(scratch[w], bands[k]);
        });
    }
    scratch.clear();

    const bool anySwitch = _intraA || _interA || _intraC1 || _interC1 || _intraC2 || _interC2;
    if (!anySwitch) return;

    // Phases 2 and 3: masking thresholds from the unmasked bands, each scaled by its channel
    // divisor, and every band divided by its own.  The thresholds are built in an order that
    // lets each band be divided as soon as no other threshold needs it unmasked: C1 first
    // (its cross-channel factors read A and C2), then C2 (read C1), then C1 and A.
    auto scaled = [&](unsigned k) {
        const float divisor = k <= kALast ? kADivisor : (k <= kC1Last ? kC1Divisor : kC2Divisor);
        return bands[k] / divisor;
    };
    const IntraATresholdBuilder intraA;
    const IntraCTresholdBuilder intraC;
    const InterATresholdBuilder interA;
    const InterBTresholdBuilder interB;

    std::array<Array<float>, kC1Last - kC1Base + 1> c1Thresholds;
    if (_intraC1) {
        c1Thresholds[0] = intraC(scaled(kC1Base), 0.45f, 0.06f, 1.22f);
        for (unsigned j = 1; j <= kCrown2Size; ++j) {
            c1Thresholds[j] = intraC(scaled(kC1Base + j), 0.48f, 0.03f, 0.82f);
        }
    }
    if (_interC1) {
        // C1 masked by the achromatic and C2 base bands, and crown 2 by the A orientation of
        // the same number.
        const Array<float> a0 = scaled(0);
        multiplyInto(c1Thresholds[0], interA(a0, -0.287f, 0.053f, 0.241f));
        multiplyInto(c1Thresholds[0], interA(scaled(kC2Base), 0.09f, 0.1f, 0.82f));
        const Array<float> g = interA(a0, -0.057f, 0.031f, 0.258f);
        const Array<float> h = interB(a0, 1.16f, 0.16f, 0.048f);
        for (unsigned j = 1; j <= kCrown2Size; ++j) {
            Array<float>& t = c1Thresholds[j];
            multiplyInto(t, g);
            multiplyInto(t, interA(scaled(j), 0.0232f, 0.0013f, 0.1096f));
            multiplyInto(t, h);
        }
    }
    if (_intraC2) {
        // C2 is always masked by C1 as well, under the same switch.
        parallelFor(kC2Last - kC2Base + 1, _threads, [&](unsigned j, unsigned) {
            const unsigned k = kC2Base + j;
            Array<float> t = j == 0 ? intraC(scaled(k), 0.72f, 0.22f, 2.78f)
                                    : intraC(scaled(k), 0.13f, 0.05f, 0.42f);
            if (j == 0) {
                multiplyInto(t, interA(scaled(kC1Base), 0.136f, 0.004f, 0.196f));
            } else {
                multiplyInto(t, interB(scaled(kC1Base + j), 1.8f, 0.8f, 0.02f));
            }
            divideBy(bands[k], t);
        });
    }
    for (unsigned j = 0; j < c1Thresholds.size(); ++j)
        divideBy(bands[kC1Base + j], c1Thresholds[j]);
    if (_intraA) {
        parallelFor(kALast + 1, _threads, [&](unsigned k, unsigned) {
            const float slope =
                k == 0 ? kSlopeABase : (k <= kCrown2Size ? kSlopeACrown2 : kSlopeAHigh);
            divideBy(bands[k], intraA(scaled(k), slope));
        });
    }
}

Comparison Lumetra2::operator()(const RgbImage& degraded) const {
    requireOriginalSize("the degraded image", degraded);
    const AccImage opponent(degraded);
    // Edges first: their working planes are gone before the 27 bands are made.
    const Array<int> degradedEdges = edges(opponent, _threads);
    Bands bands;
    __decompose(opponent, bands.data());
    return __compare(bands.data(), degradedEdges);
}

Comparison Lumetra2::__compare(const Array<float>* bands, const Array<int>& degradedEdges) const {
    Array<float> error = pooledError(_reference.data(), bands, _threads);    // 1-4 pooled error
    const Array<float> block = blockWeight(error);                           // 5 block weight
    const Array<int> changes = edgeChanges(_referenceEdges, degradedEdges);  // 6 edge changes
    const Array<float> structure = structureWeight(changes, _co);            // 7-9 structure
    const float mobj = minkowskiMeasure(error, structure, block, _alpha, _beta);  // 10-12
    return Comparison(mobj, scoreOf(mobj, _a, _b), std::move(error));             // 13
}

float scoreOf(float mobj, float a, float b) {
    constexpr float kBest = 5.0f;
    constexpr float kWorst = 1.0f;
    constexpr float kInvalid = -1.0f;
    const float lo = (b - kBest) / a;
    const float hi = (b - kWorst) / a;
    if (mobj < lo) return kBest;
    if (mobj > lo && mobj <= hi) return b - a * mobj;
    if (mobj > hi && mobj > lo) return kWorst;
    return kInvalid;
}

}  // namespace lumetra
