#pragma once

// The metric engine: decomposes the original image once into 27 masked perceptual bands and
// its edge map, then scores any number of degraded images of the same size against them.  In
// low-memory mode (ExecutionOptions::lowMemory) it keeps the original's three spectra instead
// of its bands and makes the bands again beside each degraded image's, with the same results.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/BandIndex.h"
#include "engine/BlockWeight.h"
#include "engine/Comparison.h"
#include "engine/Decomposition.h"  // ChannelSpectra
#include "engine/ErrorMap.h"
#include "engine/MinkowskiMeasure.h"
#include "engine/Parameters.h"
#include "engine/StructureWeight.h"
#include "engine/TaskBands.h"
#include "image/AccImage.h"
#include "image/Array.h"
#include "image/PlanePool.h"
#include "image/RgbImage.h"

namespace lumetra {

class BandFilters;
struct Explanation;

// The smallest image side the model accepts.
inline constexpr std::uint32_t kMinImageSide = 8;

// Intermediate planes of one comparison, offered to whoever asks as each is made, so that
// explanations need no second engine.  Calls of one kind come one at a time, but not always
// on the calling thread, and calls of different kinds may come at once (the degraded bands
// while the error terms are folded, the edge changes while the block weight is made): an
// observer keeps each kind in a place of its own.  Each plane is the engine's, to be copied if
// it is to be kept.  The defaults ignore everything.
class ComparisonObserver {
  public:
    virtual ~ComparisonObserver() = default;
    // The four weighted additive terms of the error map (base band with colour, crown 2 with
    // colour, crown 3, crown 4), which add up to it; offered only when asked for, since each
    // costs a plane while it is handed over.
    virtual bool wantsErrorTerms() const { return false; }
    virtual void errorTerm(ErrorTerm, const Array<float>&) {}
    // The block weight B (before the exponent alpha).
    virtual void blockWeight(const Array<float>&) {}
    // The 27 masked bands of the degraded image, one band at a time as the decomposition
    // makes them (band numbers as in BandIndex.h, in no particular order); offered only when
    // asked for, since keeping them costs 27 planes.
    virtual bool wantsDegradedBands() const { return false; }
    virtual void degradedBand(unsigned, const Array<float>&) {}
    // 255 where an edge appeared or vanished, 0 elsewhere.
    virtual void edgeChanges(const Array<int>&) {}
    // The changed-structure zone made from the edge changes: 1 inside, 0 outside.
    virtual void structureZone(const Array<int>&) {}
    // The structure weight R: co in the changed-structure zone, 1 elsewhere.
    virtual void structureWeight(const Array<float>&) {}
    // The weighted error F = (M R B^alpha)^beta of every pixel, whose mean raised to 1 / beta
    // is the measure; made only when asked for.
    virtual bool wantsWeightedError() const { return false; }
    virtual void weightedError(const Array<float>&) {}
};

// Throws SizeMismatchError naming `path` when its image, rows x cols, is not the original's
// size: "b.ppm" is 640 x 480 but the original is 512 x 512
void requireSize(const std::string& path, std::uint32_t rows, std::uint32_t cols,
                 std::uint32_t originalRows, std::uint32_t originalCols);

// A degraded image made ready to be scored: its edge map and the spectra of its opponent
// planes.  Making them needs the band filters of the image's size, not the original's bands,
// so a caller can make them while the engine that will score the image is still being built
// (with filters from a BandFiltersCache that the engine takes its filters from as well).
class PreparedImage {
  public:
    // Runs on the caller's task arena.  Throws SizeMismatchError when the image is smaller
    // than 8 x 8 or not the filters' size.
    PreparedImage(const RgbImage& image, std::shared_ptr<const BandFilters> filters);
    PreparedImage(PreparedImage&&) noexcept;
    PreparedImage& operator=(PreparedImage&&) noexcept;
    ~PreparedImage();

    std::uint32_t rows() const;
    std::uint32_t cols() const;

    struct Parts;  // what the engine made: opaque to callers

  private:
    friend class Lumetra2;
    std::shared_ptr<const BandFilters> _filters;
    std::unique_ptr<Parts> _parts;  // the edge map and spectra; empty once scored
};

class Lumetra2 {
  public:
    // Throws SizeMismatchError when the original is smaller than 8 x 8, ParameterError when
    // `parameters` does not validate and FftError when the transforms cannot be planned.
    Lumetra2(const RgbImage& original, const Parameters& parameters,
             const ExecutionOptions& execution = {});
    // The same with the parameters one by one; `threads` bounds the threads the engine uses
    // (0: those of the caller's task arena).
    Lumetra2(const RgbImage& original, float alpha, float beta, float co, float a, float b,
             bool intraA, bool interA, bool intraC1, bool interC1, bool intraC2, bool interC2,
             unsigned threads = 0);
    Lumetra2(Lumetra2&&) noexcept;
    Lumetra2& operator=(Lumetra2&&) noexcept;
    ~Lumetra2();

    // Scores one degraded image, offering its intermediate planes to `observer` when given.
    // Const and free of hidden state: safe to call from several threads at once.  Throws
    // SizeMismatchError when the size differs from the original's.
    Comparison compare(const RgbImage& degraded, ComparisonObserver* observer = nullptr) const;
    Comparison operator()(const RgbImage& degraded) const { return compare(degraded); }
    // The same, releasing the degraded image as soon as its opponent planes exist, so that it
    // takes no memory while the bands are made.
    Comparison operator()(RgbImage&& degraded) const;

    // Scores `count` degraded images, the k-th made by imageAt(k) when its turn comes, side by
    // side on the engine's threads: each comparison runs isolated, so that no more are under
    // way (and hold their planes) than there are threads.  The comparisons are those of
    // compare(), in the order of k.  The first exception thrown by imageAt or a comparison
    // stops the others and is rethrown.
    std::vector<Comparison> compareEach(std::size_t count,
                                        const std::function<RgbImage(std::size_t)>& imageAt) const;

    // The same for an image made ready while the engine was built.  Throws SizeMismatchError
    // like compare(), and std::invalid_argument when it was made with filters other than the
    // engine's (another viewing condition, or filters not shared through one cache).
    Comparison operator()(PreparedImage&& degraded) const;

    // The same comparison with what explains its measure: the terms and channels of the error
    // map, the weights and where the measure comes from (see Explanation.h).  Costs the 27
    // degraded bands and a dozen planes more than compare(); its comparison is compare()'s to
    // the last bit.  In low-memory mode it makes the original's 27 bands as well, while it
    // runs.  Throws SizeMismatchError like compare().
    Explanation explain(const RgbImage& degraded) const;

    // Throws SizeMismatchError naming `path` when `degraded` is not the original's size:
    // "b.ppm" is 640 x 480 but the original is 512 x 512
    void checkSize(const std::string& path, const RgbImage& degraded) const;
    // The same for a size known before the image is decoded (from its file's header).
    void checkSize(const std::string& path, std::uint32_t rows, std::uint32_t cols) const;

    const Parameters& parameters() const { return _parameters; }
    std::uint32_t rows() const { return _rows; }
    std::uint32_t cols() const { return _cols; }

    // The original's 27 masked bands: a copy of those the engine keeps, or in low-memory mode
    // made again from its spectra (the same to the last bit).
    Bands reference() const;
    // The original's edge map, as the constructor left it.
    Array<int> referenceEdges() const { return unpacked(_referenceEdges); }
    bool lowMemory() const { return _lowMemory; }

    // Decomposes an opponent image of the original's size into its 27 masked bands.
    Bands decompose(const AccImage& image) const;

    // The pool every large plane of the engine comes from: the planes its band filters are
    // made from (unless they come from a BandFiltersCache), the original's bands, and every
    // plane and transform workspace of every comparison, the error map it returns included;
    // the command line reads the degraded files into it too.
    // A plane freed by one comparison serves the next (or one running beside it on another
    // thread) instead of being mapped and cleared by the kernel again.  Between comparisons
    // the pool holds the freed planes, at most as many bytes as were ever in use at once
    // (see PlanePool.h): an idle engine keeps the memory of its busiest moment, as it would
    // have to take it again for the next image.  trim() on it gives the idle part back; when
    // the engine goes, the pool is released, and planes that outlive it (error maps) are
    // unmapped when freed.
    const std::shared_ptr<PlanePool>& planePool() const { return _pool.get(); }

  private:
    class Arena;

    // Runs `work` on the engine's own arena when it has one, else on the caller's.
    template <typename Work>
    auto inArena(Work&& work) const;
    // Throws SizeMismatchError "<subject> is W x H but the original is W x H".
    void requireOriginalSize(const std::string& subject, std::uint32_t rows,
                             std::uint32_t cols) const;
    Comparison scoreOpponent(AccImage opponent, ComparisonObserver* observer) const;
    // Scoring from the degraded image's edge map and spectra on.
    Comparison scorePrepared(PreparedImage::Parts parts, ComparisonObserver* observer) const;
    // The original's bands by task, made again from its spectra in low-memory mode.
    BandsByTask referenceTasks() const;

    Parameters _parameters;
    std::uint32_t _rows;
    std::uint32_t _cols;
    std::unique_ptr<Arena> _arena;                // only when the caller bounded the threads
    std::shared_ptr<const BandFilters> _filters;  // shared read-only with other engines
    OwnedPlanePool _pool;  // before the planes it serves, which return to it when they go
    bool _lowMemory;
    BandsByTask _reference;       // the original's masked bands; empty in low-memory mode
    ChannelSpectra _spectra;      // the original's spectra, only in low-memory mode
    PackedEdges _referenceEdges;  // a byte per pixel
};

}  // namespace lumetra
