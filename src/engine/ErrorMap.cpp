#include "engine/ErrorMap.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>

#include "engine/BandIndex.h"
#include "image/Parallel.h"
#include "image/VectorMath.h"

namespace lumetra {

namespace {

// Channel weights of the base band and crown 2: the achromatic difference counts ten times
// and C1 five times as much as C2.
constexpr float kAchromaticWeight = 10.0f;
constexpr float kC1Weight = 5.0f;
// Crowns 2 and 3 weigh ten times crown 4 in the error map.
constexpr float kCrownWeight = 10.0f;
// Orientation pooling: Minkowski exponent 4.5 (see orientationPower) and the float nearest
// its reciprocal.
constexpr float kOrientationRoot = 0.22222222f;

// x^4.5 as x^4 sqrt(x) in double, rounded to float: the same float as pow(x, 4.5) but for a
// rare half-way case, at a fraction of the cost (sixteen per pixel).
float orientationPower(float x) {
    const double d = x;
    const double square = d * d;
    return static_cast<float>(square * square * std::sqrt(d));
}

// Roots of orientation sums taken at once by a crown's fold.
constexpr std::size_t kRootBlock = 1024;

// Minkowski root of an orientation sum through the float pow (within one unit in the last
// place of the double pow rounded to float).
float orientationRoot(float sum) {
    return std::pow(sum, kOrientationRoot);
}

// Channel pooling of the base band and crown 2 from the three absolute differences.
float channelPooled(float achromatic, float c1, float c2) {
    return kAchromaticWeight * achromatic + kC1Weight * c1 + c2;
}

// M from the base S0 and the three crowns' sums of powers.
float errorOf(float s0, float crown2, float crown3, float crown4) {
    const float e2 = orientationRoot(crown2);
    const float e3 = orientationRoot(crown3);
    const float e4 = orientationRoot(crown4);
    return s0 + kCrownWeight * e2 + kCrownWeight * e3 + e4;
}

// The streamed error's per-element passes.  Each is exact IEEE arithmetic element by element
// (float to double, products, a square root, roundings to float; float sums), so wider vectors
// give the same floats: the clones for AVX vectors are entered only where the processor has
// them, and are compiled without FMA, so no product is fused with a sum.

// x[i] = |ref[i] - x[i]|^4.5.
[[gnu::always_inline]] inline void differencePowers(const float* ref, float* x, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) x[i] = orientationPower(std::fabs(ref[i] - x[i]));
}
// out[i] = the channel-pooled difference of the three channels, raised to 4.5 when `raise`.
[[gnu::always_inline]] inline void pooledDifferences(const float* refA, const float* refC1,
                                                     const float* refC2, const float* a,
                                                     const float* c1, const float* c2, float* out,
                                                     std::size_t n, bool raise) {
    if (raise) {
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = orientationPower(channelPooled(std::fabs(refA[i] - a[i]),
                                                    std::fabs(refC1[i] - c1[i]),
                                                    std::fabs(refC2[i] - c2[i])));
        }
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = channelPooled(std::fabs(refA[i] - a[i]), std::fabs(refC1[i] - c1[i]),
                                   std::fabs(refC2[i] - c2[i]));
        }
    }
}
// sum[i] += x[i].
[[gnu::always_inline]] inline void addRow(float* sum, const float* x, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) sum[i] += x[i];
}

void differencePowersPlain(const float* ref, float* x, std::size_t n) {
    differencePowers(ref, x, n);
}
void pooledDifferencesPlain(const float* refA, const float* refC1, const float* refC2,
                            const float* a, const float* c1, const float* c2, float* out,
                            std::size_t n, bool raise) {
    pooledDifferences(refA, refC1, refC2, a, c1, c2, out, n, raise);
}
void addRowPlain(float* sum, const float* x, std::size_t n) {
    addRow(sum, x, n);
}
__attribute__((target("avx"))) void differencePowersAvx(const float* ref, float* x, std::size_t n) {
    differencePowers(ref, x, n);
}
__attribute__((target("avx"))) void pooledDifferencesAvx(const float* refA, const float* refC1,
                                                         const float* refC2, const float* a,
                                                         const float* c1, const float* c2,
                                                         float* out, std::size_t n, bool raise) {
    pooledDifferences(refA, refC1, refC2, a, c1, c2, out, n, raise);
}
__attribute__((target("avx"))) void addRowAvx(float* sum, const float* x, std::size_t n) {
    addRow(sum, x, n);
}

}  // namespace

struct ErrorRowPasses {
    void (*differencePowers)(const float*, float*, std::size_t);
    void (*pooledDifferences)(const float*, const float*, const float*, const float*, const float*,
                              const float*, float*, std::size_t, bool);
    void (*add)(float*, const float*, std::size_t);
};

namespace {

constexpr ErrorRowPasses kAvxRows{differencePowersAvx, pooledDifferencesAvx, addRowAvx};
constexpr ErrorRowPasses kPlainRows{differencePowersPlain, pooledDifferencesPlain, addRowPlain};

// The widest rows the processor runs.
const ErrorRowPasses* widestRows() {
    return processorVectorExtensions().avx ? &kAvxRows : &kPlainRows;
}

// Every pixel stands alone: whole-plane passes are cut into strips of rows done in parallel.
constexpr std::size_t kStripPixels = 1 << 16;

template <typename Fn>
void inStrips(std::size_t n, unsigned workers, Fn&& fn) {
    const unsigned strips = static_cast<unsigned>((n + kStripPixels - 1) / kStripPixels);
    parallelFor(strips, workers, [&](unsigned strip, unsigned) {
        fn(strip * kStripPixels, std::min(n, (strip + 1) * kStripPixels));
    });
}

}  // namespace

BandPlanes planesOf(const Array<float>* bands) {
    BandPlanes planes{};
    for (unsigned k = 0; k < kBandCount; ++k) planes[k] = &bands[k];
    return planes;
}

BandPlanes planesOf(const BandsByTask& bands) {
    BandPlanes planes{};
    for (unsigned k = 0; k < kBandCount; ++k) planes[k] = &bandOf(bands, k);
    return planes;
}

Array<float> pooledError(const Array<float>* reference, const Array<float>* degraded,
                         unsigned workers, ChannelSelection selected) {
    return pooledError(planesOf(reference), planesOf(degraded), workers, selected);
}

Array<float> pooledError(const BandPlanes& reference, const BandPlanes& degraded, unsigned workers,
                         ChannelSelection selected) {
    const std::uint32_t rows = reference[0]->rows();
    const std::uint32_t cols = reference[0]->cols();
    Array<float> error(rows, cols, reference[0]->pool(), kUninitialised);

    std::array<const float*, kBandCount> ref{};
    std::array<const float*, kBandCount> deg{};
    for (unsigned k = 0; k < kBandCount; ++k) {
        ref[k] = reference[k]->data();
        // A band of a channel left out is compared with itself: its difference is exactly 0
        // (bands are finite), and the selected ones go through the same arithmetic as ever.
        deg[k] = selected.counts(channelOf(k)) ? degraded[k]->data() : ref[k];
    }
    auto difference = [&](unsigned k, std::size_t i) { return std::fabs(ref[k][i] - deg[k][i]); };
    auto pooled = [&](unsigned j, std::size_t i) {
        return channelPooled(difference(j, i), difference(kC1Base + j, i),
                             difference(kC2Base + j, i));
    };

    float* m = error.data();
    inStrips(error.size(), workers, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            const float s0 = pooled(0, i);
            float crown2 = 0.0f;
            for (unsigned j = 1; j <= kCrown2Size; ++j) crown2 += orientationPower(pooled(j, i));
            float crown3 = 0.0f;
            for (unsigned k = kCrown3First; k < kCrown3First + kCrown34Size; ++k) {
                crown3 += orientationPower(difference(k, i));
            }
            float crown4 = 0.0f;
            for (unsigned k = kCrown4First; k < kCrown4First + kCrown34Size; ++k) {
                crown4 += orientationPower(difference(k, i));
            }
            m[i] = errorOf(s0, crown2, crown3, crown4);
        }
    });
    return error;
}

namespace {

// Crown 2's sequence holds the base and its four orientations; crowns 3 and 4 six each.
constexpr std::array<unsigned, 3> kCrownLength{kCrown2Size + 1, kCrown34Size, kCrown34Size};
constexpr std::array<float, 3> kCrownFoldWeight{kCrownWeight, kCrownWeight, 1.0f};
constexpr std::array<ErrorTerm, 3> kCrownTerm{ErrorTerm::Crown2, ErrorTerm::Crown3,
                                              ErrorTerm::Crown4};

}  // namespace

StreamedError::StreamedError(std::uint32_t rows, std::uint32_t cols, ErrorTermSink terms,
                             std::shared_ptr<PlanePool> pool, unsigned workers)
    : _terms(std::move(terms)),
      _workers(workers),
      _rows(widestRows()),
      // Unset until the base group writes S0 into every element, which comes before any fold
      // reads the map.
      _error(rows, cols, std::move(pool), kUninitialised) {}

template <typename Apply>
bool StreamedError::arrive(Sequence& sequence, unsigned position, unsigned length,
                           Array<float>& plane, Apply&& apply) {
    const std::lock_guard<std::mutex> lock(sequence.mutex);
    if (position != sequence.next) {
        sequence.parked.emplace(position, std::move(plane));
        return false;
    }
    apply(plane);
    ++sequence.next;
    for (auto due = sequence.parked.find(sequence.next); due != sequence.parked.end();
         due = sequence.parked.find(sequence.next)) {
        apply(due->second);
        sequence.parked.erase(due);
        ++sequence.next;
    }
    return sequence.next == length;
}

void StreamedError::addInto(Array<float>& sum, const Array<float>& x) const {
    if (sum.size() == 0) sum = Array<float>(_error.rows(), _error.cols(), _error.pool());
    float* s = sum.data();
    const float* p = x.data();
    inStrips(sum.size(), _workers, [&](std::size_t begin, std::size_t end) {
        _rows->add(s + begin, p + begin, end - begin);
    });
}

void StreamedError::addToCrown(unsigned crown, unsigned position, Array<float>& plane) {
    Array<float>& sum = _sums[crown];
    const bool complete =
        arrive(_additions[crown], position, kCrownLength[crown], plane, [&](const Array<float>& x) {
            if (x.size() != 0) addInto(sum, x);
        });
    if (!complete) return;
    Array<float> none;
    arrive(_folds, crown, kCrownLength.size(), none, [&](const Array<float>&) {
        // Parked folds arrive here too, one crown at a time and in crown order.
        fold(_folds.next);
    });
}

void StreamedError::fold(unsigned crown) {
    if (crown == 0 && _terms) _terms(ErrorTerm::Base, _error);
    const float weight = kCrownFoldWeight[crown];
    float* m = _error.data();
    const float* s = _sums[crown].data();
    const std::size_t n = _error.size();
    // The weighted term, a plane of its own when it is handed over; M + term adds the same
    // floats either way.  The roots are taken a block at a time on vectors (the C library's
    // float power's own floats).
    Array<float> whole;
    if (_terms) whole = Array<float>(_error.rows(), _error.cols(), _error.pool(), kUninitialised);
    inStrips(n, _workers, [&](std::size_t begin, std::size_t end) {
        std::array<float, kRootBlock> block;
        for (std::size_t start = begin; start < end; start += kRootBlock) {
            const std::size_t count = std::min(kRootBlock, end - start);
            float* term = _terms ? whole.data() + start : block.data();
            std::copy_n(s + start, count, term);
            powInPlace(std::span<float>(term, count), kOrientationRoot);
            for (std::size_t i = 0; i < count; ++i) {
                term[i] = weight * term[i];
                m[start + i] = m[start + i] + term[i];
            }
        }
    });
    _sums[crown] = Array<float>();
    if (_terms) _terms(kCrownTerm[crown], whole);
}

void StreamedError::add(unsigned task, const TaskBands& original, TaskBands& degraded) {
    if (task <= kCrown2Size) {
        addGroup(task, original, degraded.a, degraded.c1, degraded.c2);
    } else {
        addBand(task, original.a, degraded.a);
    }
}

void StreamedError::addGroup(unsigned j, const TaskBands& original, Array<float>& a,
                             const Array<float>& c1, const Array<float>& c2) {
    const float* refA = original.a.data();
    const float* refC1 = original.c1.data();
    const float* refC2 = original.c2.data();
    const float* u = c1.data();
    const float* v = c2.data();
    // The base's channel-pooled difference is S0 and goes straight into the map; each crown-2
    // orientation's is raised to the orientation exponent for the crown's sum.
    float* x = j == 0 ? _error.data() : a.data();
    const float* degA = a.data();
    inStrips(a.size(), _workers, [&](std::size_t begin, std::size_t end) {
        _rows->pooledDifferences(refA + begin, refC1 + begin, refC2 + begin, degA + begin,
                                 u + begin, v + begin, x + begin, end - begin, j != 0);
    });
    if (j == 0) {
        Array<float> base;  // S0 is in the map: the crown's first step only marks it done
        addToCrown(0, 0, base);
    } else {
        addToCrown(0, j, a);
    }
}

namespace {

// Task t's crown (0: crown 2, with the base as its first step) and its position there.
std::pair<unsigned, unsigned> crownStep(unsigned task) {
    if (task <= kCrown2Size) return {0, task};
    if (task < kCrown4First) return {1, task - kCrown3First};
    return {2, task - kCrown4First};
}

}  // namespace

void StreamedError::startTask(unsigned task) {
    // The crown's sum exists before its strips are added from several threads.  The base's
    // pooled difference goes into the map itself.
    const unsigned crown = crownStep(task).first;
    if (task > 0 && _sums[crown].size() == 0) {
        _sums[crown] = Array<float>(_error.rows(), _error.cols(), _error.pool());
    }
}

void StreamedError::addStrip(unsigned task, const TaskStrip& original, const TaskStrip& degraded,
                             std::size_t begin, std::size_t count) {
    // As add: the base's channel-pooled difference straight into the map; a crown-2
    // orientation's, raised, or a crown band's raised difference into the degraded A strip and
    // then into the crown's sum.
    if (task <= kCrown2Size) {
        float* x = task == 0 ? _error.data() + begin : degraded.a;
        _rows->pooledDifferences(original.a, original.c1, original.c2, degraded.a, degraded.c1,
                                 degraded.c2, x, count, task != 0);
    } else {
        _rows->differencePowers(original.a, degraded.a, count);
    }
    if (task > 0) _rows->add(_sums[crownStep(task).first].data() + begin, degraded.a, count);
}

void StreamedError::endTask(unsigned task) {
    // Its pixels are in: the crown's sequence only marks it done.
    Array<float> added;
    const auto [crown, position] = crownStep(task);
    addToCrown(crown, position, added);
}

void StreamedError::addBand(unsigned k, const Array<float>& original, Array<float>& a) {
    const float* ref = original.data();
    float* x = a.data();
    inStrips(a.size(), _workers, [&](std::size_t begin, std::size_t end) {
        _rows->differencePowers(ref + begin, x + begin, end - begin);
    });
    const auto [crown, position] = crownStep(k);
    addToCrown(crown, position, a);
}

Array<float> StreamedError::error() {
    return std::move(_error);
}

}  // namespace lumetra
