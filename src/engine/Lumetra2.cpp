#include "engine/Lumetra2.h"

#include <algorithm>
#include <mutex>
#include <sstream>
#include <vector>

#include "engine/BandIndex.h"
#include "engine/ErrorPooling.h"
#include "engine/Spectrum.h"
#include "image/Error.h"
#include "image/Parallel.h"
#include "model/CsfFilter.h"
#include "model/DcpFilter.h"
#include "structure/Edges.h"

namespace lumetra {

namespace {

std::string sizeText(std::uint32_t cols, std::uint32_t rows) {
    std::ostringstream text;
    text << cols << " x " << rows;
    return text.str();
}

// Keeps every task's bands in the caller's 27 arrays.
class KeptBands : public BandSink {
  public:
    explicit KeptBands(Array<float>* bands) : _bands(bands) {}
    void take(unsigned task, TaskBands& bands) override {
        _bands[task] = std::move(bands.a);
        if (task <= kCrown2Size) {
            _bands[kC1Base + task] = std::move(bands.c1);
            _bands[kC2Base + task] = std::move(bands.c2);
        }
    }

  private:
    Array<float>* _bands;
};

// Pools every task's bands into the error map as they come.
class PooledBands : public BandSink {
  public:
    explicit PooledBands(StreamedError& error) : _error(error) {}
    void take(unsigned task, TaskBands& bands) override {
        if (task <= kCrown2Size) {
            _error.addGroup(task, bands.a, bands.c1, bands.c2);
        } else {
            _error.addBand(task, bands.a);
        }
    }
    void abandon() override { _error.abandon(); }

  private:
    StreamedError& _error;
};

}  // namespace

Lumetra2::Lumetra2(const RgbImage& original, float alpha, float beta, float co, float a, float b,
                   bool intraA, bool interA, bool intraC1, bool interC1, bool intraC2, bool interC2,
                   unsigned threads)
    : Lumetra2(
          original,
          Parameters{alpha, beta, co, a, b, intraA, interA, intraC1, interC1, intraC2, interC2},
          ExecutionOptions{threads}) {}

Lumetra2::Lumetra2(const RgbImage& original, const Parameters& parameters,
                   const ExecutionOptions& execution)
    : _parameters(parameters),
      _threads(execution.threads == 0 ? defaultWorkers() : execution.threads),
      _rows(original.rows()),
      _cols(original.cols()) {
    _parameters.validate();
    if (original.rows() < kMinImageSide || original.cols() < kMinImageSide) {
        throw SizeMismatchError("the original is " + sizeText(original.cols(), original.rows()) +
                                " but images must be at least " +
                                sizeText(kMinImageSide, kMinImageSide));
    }
    // Each band mask is cropped as soon as it is made: the full masks never exist together.
    DcpFilter::forEachMask(
        original.rows(), original.cols(), _threads,
        [&](unsigned k, const Array<float>& mask) { _dcp[k] = croppedMask(mask); });
    {
        const CsfFilter csf(original.rows(), original.cols(), _threads);
        _sensitivity[0] = coveredPart(csf.A(), &_dcp[kAFirst], &_dcp[kALast] + 1);
        _sensitivity[1] = coveredPart(csf.C1(), &_dcp[kC1Base], &_dcp[kC1Last] + 1);
        _sensitivity[2] = coveredPart(csf.C2(), &_dcp[kC2Base], &_dcp[kC2Last] + 1);
    }
    _spectrumWidths = spectrumWidths(_dcp);
    auto fft = std::make_unique<RealFft2d>(original.rows(), original.cols());
    for (const BandMask& mask : _dcp) fft->prepareInverse(mask.usedCols);
    _fft = std::move(fft);
    ChannelSpectra spectra;
    {
        // The opponent planes are gone, and the edges' working planes too, before the 27
        // bands are made.
        const AccImage opponent(original);
        _referenceEdges = edgesAndSpectra(opponent, spectra);
    }
    __decompose(std::move(spectra), _reference.data());
}

Array<int> Lumetra2::edgesAndSpectra(const AccImage& image, ChannelSpectra& spectra) const {
    // The three edge maps take longest, so they are handed out first; each is merged and
    // dropped as soon as it is made.
    const std::array<const Array<float>*, 3> planes{&image.A(), &image.C1(), &image.C2()};
    Array<int> merged(image.rows(), image.cols());
    std::mutex mergeMutex;
    parallelFor(6, _threads, [&](unsigned job, unsigned) {
        if (job < 3) {
            const Array<int> map = planeEdges(*planes[job]);
            const std::lock_guard<std::mutex> lock(mergeMutex);
            mergeEdges(merged, map);
        } else {
            spectra[job - 3] = channelSpectrum(image, job - 3, *_fft, _spectrumWidths[job - 3]);
        }
    });
    return merged;
}

MaskSwitches Lumetra2::switches() const {
    return _parameters.switches();
}

DecompositionFilters Lumetra2::filters() const {
    return DecompositionFilters{*_fft, _sensitivity, _dcp, switches(), _threads};
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
    __decompose(channelSpectra(image, *_fft, _spectrumWidths, _threads), bands);
}

void Lumetra2::__decompose(ChannelSpectra spectra, Array<float>* bands) const {
    KeptBands kept(bands);
    lumetra::decompose(std::move(spectra), filters(), kept);
}

Comparison Lumetra2::operator()(const RgbImage& degraded) const {
    requireOriginalSize("the degraded image", degraded);
    return __score(AccImage(degraded));
}

Comparison Lumetra2::operator()(RgbImage&& degraded) const {
    requireOriginalSize("the degraded image", degraded);
    AccImage opponent(degraded);
    { const RgbImage released(std::move(degraded)); }
    return __score(std::move(opponent));
}

Comparison Lumetra2::__score(AccImage opponent) const {
    ChannelSpectra spectra;
    // The edge map waits for the bands in a byte per pixel.
    const PackedEdges degradedEdges = packed(edgesAndSpectra(opponent, spectra));
    opponent = AccImage();  // its planes are not needed once the spectra exist
    // The degraded bands, each pooled into the error map as soon as it is masked.
    StreamedError streamed(_reference.data());
    PooledBands pooled(streamed);
    lumetra::decompose(std::move(spectra), filters(), pooled);
    return __compare(streamed.error(), unpacked(degradedEdges));
}

Comparison Lumetra2::__compare(Array<float> error, Array<int> degradedEdges) const {
    // The block weight and the structure weight do not depend on each other: two jobs.
    Array<float> block;
    Array<float> structure;
    parallelFor(2, _threads, [&](unsigned job, unsigned) {
        if (job == 0) {
            block = blockWeight(error);  // 5 block weight
        } else {
            const Array<int> changes =
                edgeChanges(_referenceEdges, degradedEdges);  // 6 edge changes
            degradedEdges = Array<int>();
            structure = structureWeight(changes, _parameters.co);  // 7-9 structure
        }
    });
    const float mobj =
        minkowskiMeasure(error, structure, block, _parameters.alpha, _parameters.beta);  // 10-12
    return Comparison(mobj, scoreOf(mobj, _parameters.a, _parameters.b), std::move(error));  // 13
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
