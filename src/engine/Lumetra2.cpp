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
// that several engines share); in low-memory mode it goes only up to its spectra, and its
// bands are made again for each degraded image, task by task beside the degraded image's.  For
// a degraded image, band synthesis to orientation pooling run task by task (decompose with a
// StreamedError behind its sink), so that the 27 degraded bands never exist at once; the
// threading and memory choices live in those stages, not here.  A degraded image's edge map
// and spectra need the band filters but not the original's bands: a PreparedImage makes them
// apart, while its engine is still being built.

#include <tbb/blocked_range.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <mutex>
#include <sstream>
#include <stdexcept>

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
    explicit KeptBands(BandsByTask& bands) : _bands(bands) {}
    void take(unsigned task, TaskBands& bands) override { _bands[task] = std::move(bands); }

  private:
    BandsByTask& _bands;
};

// Band differences, channel pooling and orientation pooling of every task's degraded bands as
// they come, against the original's kept bands or those made beside them, offered first to
// an observer that wants them (pooling overwrites them).
class PooledBands : public BandSink, public PairedBandSink {
  public:
    PooledBands(StreamedError& error, const BandsByTask* original, ComparisonObserver* observer)
        : _error(error),
          _original(original),
          _observer(observer != nullptr && observer->wantsDegradedBands() ? observer : nullptr) {}
    void take(unsigned task, TaskBands& bands) override { take(task, (*_original)[task], bands); }
    void take(unsigned task, const TaskBands& original, TaskBands& degraded) override {
        if (_observer != nullptr) offer(task, degraded);
        _error.add(task, original, degraded);
    }
    // Strips when nobody wants the degraded image's band planes.
    bool takesStrips() const override { return _observer == nullptr; }
    void startTask(unsigned task) override { _error.startTask(task); }
    void takeStrip(unsigned task, const TaskStrip& original, const TaskStrip& degraded,
                   std::size_t begin, std::size_t count) override {
        _error.addStrip(task, original, degraded, begin, count);
    }
    void endTask(unsigned task) override { _error.endTask(task); }

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
    const BandsByTask* _original;  // null when the original's bands come with the degraded ones
    ComparisonObserver* _observer;
    std::mutex _offerMutex;
};

// The bands by task moved into band order.
Bands inBandOrder(BandsByTask tasks) {
    Bands bands;
    for (unsigned t = 0; t < kDecompositionTasks; ++t) {
        bands[t] = std::move(tasks[t].a);
        if (t <= kCrown2Size) {
            bands[kC1Base + t] = std::move(tasks[t].c1);
            bands[kC2Base + t] = std::move(tasks[t].c2);
        }
    }
    return bands;
}

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

struct PreparedImage::Parts {
    PackedEdges edges;
    ChannelSpectra spectra;
};

namespace {

// The edge map (packed) and spectra of the opponent planes: six independent jobs.  The three
// edge maps take longest, so they are handed out first, and each is merged as soon as it is
// made.
PreparedImage::Parts edgesAndSpectra(const AccImage& opponent, const BandFilters& filters) {
    const std::array<const Array<float>*, kChannelCount> planes{&opponent.A(), &opponent.C1(),
                                                                &opponent.C2()};
    PreparedImage::Parts made;
    Array<int> edges(opponent.rows(), opponent.cols(), opponent.A().pool());
    std::mutex mergeMutex;  // the union of the maps is the same whatever order they come in
    parallelFor(2 * kChannelCount, 0, [&](unsigned job, unsigned) {
        if (job < kChannelCount) {
            const Array<int> map = planeEdges(*planes[job]);
            const std::lock_guard<std::mutex> lock(mergeMutex);
            mergeEdges(edges, map);
        } else {
            const Channel c = static_cast<Channel>(job - kChannelCount);
            made.spectra[job - kChannelCount] =
                channelSpectrum(opponent, c, filters, opponent.A().pool());
        }
    });
    // The edge map waits for the bands in a byte per pixel.
    made.edges = packed(edges);
    return made;
}

}  // namespace

void requireSize(const std::string& path, std::uint32_t rows, std::uint32_t cols,
                 std::uint32_t originalRows, std::uint32_t originalCols) {
    if (rows != originalRows || cols != originalCols) {
        throw SizeMismatchError("\"" + path + "\" is " + sizeText(cols, rows) +
                                " but the original is " + sizeText(originalCols, originalRows));
    }
}

PreparedImage::PreparedImage(const RgbImage& image, std::shared_ptr<const BandFilters> filters)
    : _filters(std::move(filters)) {
    if (image.rows() != _filters->rows() || image.cols() != _filters->cols()) {
        throw SizeMismatchError("the degraded image is " + sizeText(image.cols(), image.rows()) +
                                " but the band filters are for " +
                                sizeText(_filters->cols(), _filters->rows()));
    }
    if (image.rows() < kMinImageSide || image.cols() < kMinImageSide) {
        throw SizeMismatchError("the degraded image is " + sizeText(image.cols(), image.rows()) +
                                " but images must be at least " +
                                sizeText(kMinImageSide, kMinImageSide));
    }
    _parts = std::make_unique<Parts>(edgesAndSpectra(AccImage(image), *_filters));
}

PreparedImage::PreparedImage(PreparedImage&&) noexcept = default;
PreparedImage& PreparedImage::operator=(PreparedImage&&) noexcept = default;
PreparedImage::~PreparedImage() = default;

std::uint32_t PreparedImage::rows() const {
    return _filters->rows();
}

std::uint32_t PreparedImage::cols() const {
    return _filters->cols();
}

class Lumetra2::Arena {
  public:
    // More threads than the machine has cores would only take turns.
    explicit Arena(unsigned threads)
        : arena(std::min(static_cast<int>(threads), tbb::info::default_concurrency())) {}
    tbb::task_arena arena;
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
    : _parameters(parameters),
      _rows(original.rows()),
      _cols(original.cols()),
      _lowMemory(execution.lowMemory) {
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
        // In low-memory mode one after the other, so that the temporaries of the two never
        // exist at once.
        AccImage opponent;
        auto makeFilters = [&] {
            const double ppd = _parameters.pixelsPerDegree;
            _filters = execution.filters != nullptr
                           ? execution.filters->filters(_rows, _cols, ppd)
                           : std::make_shared<const BandFilters>(_rows, _cols, ppd, _pool.get());
        };
        auto makeEdges = [&] {
            opponent = AccImage(original, _pool.get());
            _referenceEdges = packed(edgeMapOf(opponent));
        };
        if (_lowMemory) {
            makeFilters();
            makeEdges();
        } else {
            tbb::parallel_invoke(makeFilters, makeEdges);
        }
        // The opponent planes are gone before the 27 bands are made.
        ChannelSpectra made = spectraOf(opponent, *_filters);
        opponent = AccImage();
        if (_lowMemory) {
            _spectra = std::move(made);
            return;
        }
        KeptBands kept(_reference);
        lumetra::decompose(std::move(made), *_filters, _parameters.switches(), kept, _pool.get());
    });
}

Lumetra2::Lumetra2(Lumetra2&&) noexcept = default;
Lumetra2& Lumetra2::operator=(Lumetra2&&) noexcept = default;
Lumetra2::~Lumetra2() = default;

void Lumetra2::checkSize(const std::string& path, const RgbImage& degraded) const {
    checkSize(path, degraded.rows(), degraded.cols());
}

void Lumetra2::checkSize(const std::string& path, std::uint32_t rows, std::uint32_t cols) const {
    requireSize(path, rows, cols, _rows, _cols);
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
        BandsByTask bands;
        KeptBands kept(bands);
        lumetra::decompose(spectraOf(image, *_filters), *_filters, _parameters.switches(), kept,
                           _pool.get());
        return inBandOrder(std::move(bands));
    });
}

BandsByTask Lumetra2::referenceTasks() const {
    return inArena([&] {
        BandsByTask bands;
        KeptBands kept(bands);
        lumetra::decompose(_spectra, *_filters, _parameters.switches(), kept, _pool.get());
        return bands;
    });
}

Bands Lumetra2::reference() const {
    return inBandOrder(_lowMemory ? referenceTasks() : _reference);
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

std::vector<Comparison> Lumetra2::compareEach(
    std::size_t count, const std::function<RgbImage(std::size_t)>& imageAt) const {
    // Each slot is filled by the task of its image; the vector is then read in order.
    std::vector<std::unique_ptr<Comparison>> slots(count);
    inArena([&] {
        tbb::parallel_for(tbb::blocked_range<std::size_t>(0, count, 1), [&](const auto& range) {
            for (std::size_t k = range.begin(); k != range.end(); ++k) {
                // Isolated: a thread waiting inside this comparison takes no other image.
                slots[k] = std::make_unique<Comparison>(
                    tbb::this_task_arena::isolate([&] { return (*this)(imageAt(k)); }));
            }
        });
    });
    std::vector<Comparison> comparisons;
    comparisons.reserve(count);
    for (std::unique_ptr<Comparison>& slot : slots) comparisons.push_back(std::move(*slot));
    return comparisons;
}

Comparison Lumetra2::operator()(PreparedImage&& degraded) const {
    if (degraded._parts == nullptr) {
        throw std::invalid_argument("the prepared image was scored already");
    }
    requireOriginalSize("the degraded image", degraded.rows(), degraded.cols());
    if (degraded._filters != _filters) {
        throw std::invalid_argument(
            "the degraded image was prepared with band filters other than the engine's");
    }
    PreparedImage::Parts parts = std::move(*degraded._parts);
    degraded._parts.reset();
    return inArena([&] { return scorePrepared(std::move(parts), nullptr); });
}

Comparison Lumetra2::scoreOpponent(AccImage opponent, ComparisonObserver* observer) const {
    return inArena([&] {
        // Edge map and spectra of the opponent planes, which are then done with.
        PreparedImage::Parts parts = edgesAndSpectra(opponent, *_filters);
        opponent = AccImage();
        return scorePrepared(std::move(parts), observer);
    });
}

Comparison Lumetra2::scorePrepared(PreparedImage::Parts parts, ComparisonObserver* observer) const {
    const Parameters& p = _parameters;
    const PackedEdges& degradedEdges = parts.edges;

    // Band synthesis, masking, band differences, channel and orientation pooling: each
    // masked band is pooled into the error map as soon as it exists.
    ErrorTermSink terms;
    if (observer != nullptr && observer->wantsErrorTerms()) {
        terms = [observer](ErrorTerm t, const Array<float>& x) { observer->errorTerm(t, x); };
    }
    // In low-memory mode the decomposition hands the tasks over one at a time, and the
    // engine's threads share each task's pooling; otherwise tasks come side by side, each
    // pooled by the thread that made it.
    const unsigned poolingWorkers = _lowMemory ? 0 : 1;
    StreamedError streamed(_rows, _cols, std::move(terms), _pool.get(), poolingWorkers);
    if (_lowMemory) {
        PooledBands pooled(streamed, nullptr, observer);
        lumetra::decompose(_spectra, std::move(parts.spectra), *_filters, p.switches(), pooled,
                           _pool.get());
    } else {
        PooledBands pooled(streamed, &_reference, observer);
        lumetra::decompose(std::move(parts.spectra), *_filters, p.switches(), pooled, _pool.get());
    }
    Array<float> error = streamed.error();

    // Block weight, and edge changes with the structure weight they give: two jobs.
    Array<float> block;
    Array<float> structure;
    parallelInvoke([&] { block = blockWeight(error); },
                   [&] {
                       const Array<int> changes =
                           edgeChanges(_referenceEdges, degradedEdges, _pool.get());
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
}

}  // namespace lumetra
