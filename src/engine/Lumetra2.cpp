#include "engine/Lumetra2.h"

// The whole scoring of one degraded image, step by step:
//
//   opponent planes    the image as light levels in the opponent colour space A, C1, C2
//   edge map           Canny edges of each plane, merged
//   spectra            the half spectrum of each plane (A divided by its mean)
//   band synthesis     spectrum x contrast sensitivity x each of 27 cortex band masks,
//                      transformed back to the image plane
//   masking            each band divided by thresholds built from the bands at that pixel
//   band differences   |original band - degraded band|
//   channel pooling    base and crown 2: 10 A + 5 C1 + C2
//   orientation pooling   Minkowski sum (exponent 4.5) over each crown's orientations
//   error map          M = S0 + 10 E2 + 10 E3 + E4
//   block weight       B: 32 x 32 block means of M, normalised and squared
//   edge changes       where an edge appeared or vanished
//   structure weight   R: co in the zone of straight runs of changes, 1 elsewhere
//   Minkowski measure  mean of (M R B^alpha)^beta, raised to 1 / beta
//   score              the measure mapped onto the 1 .. 5 quality scale
//
// The original goes through the same steps up to masking once, in the constructor, its
// opponent planes and edges made while the filters are (or are taken from a BandFiltersCache
// that several engines share).  For a
// degraded image, band synthesis to orientation pooling run band by band (decompose with a
// StreamedError as its sink), so that the 27 degraded bands never exist at once; the
// threading and memory choices live in those stages, not here.

#include <tbb/info.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <mutex>
#include <sstream>

#include "engine/BandFilters.h"
#include "engine/BandFiltersCache.h"
#include "engine/Decomposition.h"
#include "image/Error.h"
#include "image/Parallel.h"
#include "structure/Edges.h"

namespace lumetra {

namespace {

std::string sizeText(std::uint32_t cols, std::uint32_t rows) {
    std::ostringstream text;
    text << cols << " x " << rows;
    return text.str();
}

// Keeps every task's bands.
class KeptBands : public BandSink {
  public:
    explicit KeptBands(Bands& bands) : _bands(bands) {}
    void take(unsigned task, TaskBands& bands) override {
        _bands[task] = std::move(bands.a);
        if (task <= kCrown2Size) {
            _bands[kC1Base + task] = std::move(bands.c1);
            _bands[kC2Base + task] = std::move(bands.c2);
        }
    }

  private:
    Bands& _bands;
};

// Band differences, channel pooling and orientation pooling of every task's bands as they
// come, offered first to an observer that wants them (pooling overwrites them).
class PooledBands : public BandSink {
  public:
    PooledBands(StreamedError& error, ComparisonObserver* observer)
        : _error(error),
          _observer(observer != nullptr && observer->wantsDegradedBands() ? observer : nullptr) {}
    void take(unsigned task, TaskBands& bands) override {
        if (_observer != nullptr) offer(task, bands);
        if (task <= kCrown2Size) {
            _error.addGroup(task, bands.a, bands.c1, bands.c2);
        } else {
            _error.addBand(task, bands.a);
        }
    }

  private:
    void offer(unsigned task, const TaskBands& bands) {
        const std::lock_guard<std::mutex> lock(_offerMutex);  // the observer takes one at a time
        _observer->degradedBand(task, bands.a);
        if (task <= kCrown2Size) {
            _observer->degradedBand(kC1Base + task, bands.c1);
            _observer->degradedBand(kC2Base + task, bands.c2);
        }
    }

    StreamedError& _error;
    ComparisonObserver* _observer;
    std::mutex _offerMutex;
};

// The merged edge map of the three opponent planes.
Array<int> edgeMapOf(const AccImage& opponent) {
    const std::array<const Array<float>*, kChannelCount> planes{&opponent.A(), &opponent.C1(),
                                                                &opponent.C2()};
    Array<int> merged(opponent.rows(), opponent.cols(), opponent.A().pool());
    std::mutex mergeMutex;  // the union of the maps is the same whatever order they come in
    parallelFor(kChannelCount, 0, [&](unsigned c, unsigned) {
        const Array<int> map = planeEdges(*planes[c]);
        const std::lock_guard<std::mutex> lock(mergeMutex);
        mergeEdges(merged, map);
    });
    return merged;
}

// The spectra of the three opponent planes.
ChannelSpectra spectraOf(const AccImage& opponent, const BandFilters& filters) {
    ChannelSpectra made;
    parallelFor(kChannelCount, 0, [&](unsigned c, unsigned) {
        made[c] = channelSpectrum(opponent, static_cast<Channel>(c), filters, opponent.A().pool());
    });
    return made;
}

}  // namespace

class Lumetra2::Arena {
  public:
    // More threads than the machine has cores would only take turns.
    explicit Arena(unsigned threads)
        : arena(std::min(static_cast<int>(threads), tbb::info::default_concurrency())) {}
    tbb::task_arena arena;
};

struct Lumetra2::EdgesAndSpectra {
    Array<int> edges;
    ChannelSpectra spectra;
};

template <typename Work>
auto Lumetra2::inArena(Work&& work) const {
    if (_arena) return _arena->arena.execute(std::forward<Work>(work));
    return work();
}

Lumetra2::Lumetra2(const RgbImage& original, float alpha, float beta, float co, float a, float b,
                   bool intraA, bool interA, bool intraC1, bool interC1, bool intraC2, bool interC2,
                   unsigned threads)
    : Lumetra2(original,
               Parameters{alpha, beta, co, LinearMapping{a, b}, intraA, interA, intraC1, interC1,
                          intraC2, interC2},
               ExecutionOptions{threads}) {}

Lumetra2::Lumetra2(const RgbImage& original, const Parameters& parameters,
                   const ExecutionOptions& execution)
    : _parameters(parameters), _rows(original.rows()), _cols(original.cols()) {
    _parameters.validate();
    if (_rows < kMinImageSide || _cols < kMinImageSide) {
        throw SizeMismatchError("the original is " + sizeText(_cols, _rows) +
                                " but images must be at least " +
                                sizeText(kMinImageSide, kMinImageSide));
    }
    if (execution.threads > 0) _arena = std::make_unique<Arena>(execution.threads);
    inArena([&] {
        // Contrast sensitivity, band masks and transforms for this size (made, or shared with
        // engines made before), and meanwhile the opponent planes and edge map of the
        // original, which need no filters.
        AccImage opponent;
        tbb::parallel_invoke(
            [&] {
                const double ppd = _parameters.pixelsPerDegree;
                _filters =
                    execution.filters != nullptr
                        ? execution.filters->filters(_rows, _cols, ppd)
                        : std::make_shared<const BandFilters>(_rows, _cols, ppd, _pool.get());
            },
            [&] {
                opponent = AccImage(original, _pool.get());
                _referenceEdges = edgeMapOf(opponent);
            });
        // The opponent planes are gone before the 27 bands are made.
        ChannelSpectra made = spectraOf(opponent, *_filters);
        opponent = AccImage();
        KeptBands kept(_reference);
        lumetra::decompose(std::move(made), *_filters, _parameters.switches(), kept, _pool.get());
    });
}

Lumetra2::Lumetra2(Lumetra2&&) noexcept = default;
Lumetra2& Lumetra2::operator=(Lumetra2&&) noexcept = default;
Lumetra2::~Lumetra2() = default;

Lumetra2::EdgesAndSpectra Lumetra2::edgesAndSpectra(const AccImage& opponent) const {
    // Six independent jobs; the three edge maps take longest, so they are handed out first,
    // and each is merged as soon as it is made.
    const std::array<const Array<float>*, kChannelCount> planes{&opponent.A(), &opponent.C1(),
                                                                &opponent.C2()};
    EdgesAndSpectra made;
    made.edges = Array<int>(opponent.rows(), opponent.cols(), _pool.get());
    std::mutex mergeMutex;  // the union of the maps is the same whatever order they come in
    parallelFor(2 * kChannelCount, 0, [&](unsigned job, unsigned) {
        if (job < kChannelCount) {
            const Array<int> map = planeEdges(*planes[job]);
            const std::lock_guard<std::mutex> lock(mergeMutex);
            mergeEdges(made.edges, map);
        } else {
            const Channel c = static_cast<Channel>(job - kChannelCount);
            made.spectra[job - kChannelCount] =
                channelSpectrum(opponent, c, *_filters, _pool.get());
        }
    });
    return made;
}

void Lumetra2::checkSize(const std::string& path, const RgbImage& degraded) const {
    checkSize(path, degraded.rows(), degraded.cols());
}

void Lumetra2::checkSize(const std::string& path, std::uint32_t rows, std::uint32_t cols) const {
    requireOriginalSize("\"" + path + "\"", rows, cols);
}

void Lumetra2::requireOriginalSize(const std::string& subject, std::uint32_t rows,
                                   std::uint32_t cols) const {
    if (rows != _rows || cols != _cols) {
        throw SizeMismatchError(subject + " is " + sizeText(cols, rows) + " but the original is " +
                                sizeText(_cols, _rows));
    }
}

Bands Lumetra2::decompose(const AccImage& image) const {
    return inArena([&] {
        Bands bands;
        KeptBands kept(bands);
        lumetra::decompose(spectraOf(image, *_filters), *_filters, _parameters.switches(), kept,
                           _pool.get());
        return bands;
    });
}

Comparison Lumetra2::compare(const RgbImage& degraded, ComparisonObserver* observer) const {
    requireOriginalSize("the degraded image", degraded.rows(), degraded.cols());
    return scoreOpponent(AccImage(degraded, _pool.get()), observer);
}

Comparison Lumetra2::operator()(RgbImage&& degraded) const {
    requireOriginalSize("the degraded image", degraded.rows(), degraded.cols());
    AccImage opponent(degraded, _pool.get());
    { const RgbImage released(std::move(degraded)); }
    return scoreOpponent(std::move(opponent), nullptr);
}

Comparison Lumetra2::scoreOpponent(AccImage opponent, ComparisonObserver* observer) const {
    return inArena([&] {
        const Parameters& p = _parameters;

        // Edge map and spectra of the opponent planes, which are then done with.  The edge
        // map waits for the bands in a byte per pixel.
        EdgesAndSpectra made = edgesAndSpectra(opponent);
        opponent = AccImage();
        const PackedEdges degradedEdges = packed(made.edges);
        made.edges = Array<int>();

        // Band synthesis, masking, band differences, channel and orientation pooling: each
        // masked band is pooled into the error map as soon as it exists.
        ErrorTermSink terms;
        if (observer != nullptr && observer->wantsErrorTerms()) {
            terms = [observer](ErrorTerm t, const Array<float>& x) { observer->errorTerm(t, x); };
        }
        StreamedError streamed(_reference.data(), std::move(terms));
        PooledBands pooled(streamed, observer);
        lumetra::decompose(std::move(made.spectra), *_filters, p.switches(), pooled, _pool.get());
        Array<float> error = streamed.error();

        // Block weight, and edge changes with the structure weight they give: two jobs.
        Array<float> block;
        Array<float> structure;
        parallelInvoke([&] { block = blockWeight(error); },
                       [&] {
                           const Array<int> changes =
                               edgeChanges(_referenceEdges, unpacked(degradedEdges, _pool.get()));
                           if (observer != nullptr) observer->edgeChanges(changes);
                           const Array<int> zone = structureZone(changes);
                           if (observer != nullptr) observer->structureZone(zone);
                           structure = zoneWeight(zone, p.co);
                       });
        if (observer != nullptr) {
            observer->blockWeight(block);
            observer->structureWeight(structure);
            if (observer->wantsWeightedError()) {
                observer->weightedError(weightedError(error, structure, block, p.alpha, p.beta));
            }
        }

        // Minkowski measure and score.
        const float measure = minkowskiMeasure(error, structure, block, p.alpha, p.beta);
        return Comparison(measure, scoreOf(measure, p.mapping), std::move(error));
    });
}

}  // namespace lumetra
