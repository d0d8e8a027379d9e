#include "engine/Decomposition.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "image/Parallel.h"
#include "image/PlaneMean.h"

namespace lumetra {

Array<std::complex<float>> channelSpectrum(const AccImage& image, Channel channel,
                                           const BandFilters& filters,
                                           const std::shared_ptr<PlanePool>& pool) {
    const RealFft2d& fft = filters.fft();
    const std::array<const Array<float>*, kChannelCount> planes{&image.A(), &image.C1(),
                                                                &image.C2()};
    RealFft2d::Workspace scratch = fft.workspace(fft.halfCols(), pool);
    // The achromatic plane is divided by its mean: its bands are contrasts.
    const float divisor = channel == Channel::A ? planeMean(image.A()) : 1.0f;
    fft.forward(*planes[static_cast<unsigned>(channel)], scratch, divisor);
    return roundedHalfSpectrum(scratch.half(), image.rows(), image.cols(),
                               std::min(filters.spectrumWidth(channel), fft.halfCols()), pool);
}

namespace {

// Band k of an image: the channel's spectrum x sensitivity x band mask, transformed back into
// `out` (made the image's size first when it is not) through the workspace `ws`, which is
// widened when the band reaches further than it.
void synthesiseBand(const ChannelSpectra& image, unsigned k, const BandFilters& filters,
                    const std::shared_ptr<PlanePool>& pool, RealFft2d::Workspace& ws,
                    Array<float>& out) {
    if (out.rows() != filters.rows() || out.cols() != filters.cols()) {
        // The inverse writes it all.
        out = Array<float>(filters.rows(), filters.cols(), pool, kUninitialised);
    }
    const Channel c = channelOf(k);
    const BandMask& mask = filters.mask(k);
    if (ws.width() < mask.usedCols) {
        ws = RealFft2d::Workspace();  // the narrow one goes before the wide comes
        ws = filters.fft().workspace(mask.usedCols, pool);
    }
    bandHalfSpectrum(image[static_cast<unsigned>(c)], filters.cols(), filters.sensitivity(c), mask,
                     ws.half());
    filters.fft().inverse(ws, out, mask.usedCols);
}

// An image's bands of task t, made and masked: an orientation group's three channels (the
// unmasked A base band kept in `unmaskedBase` when `keepBase`, for inter C1 to read), or one
// A band.
void makeTaskBands(const ChannelSpectra& image, unsigned t, const BandFilters& filters,
                   const MaskSwitches& switches, bool keepBase,
                   const std::shared_ptr<PlanePool>& pool, RealFft2d::Workspace& ws,
                   TaskBands& task, Array<float>& unmaskedBase) {
    synthesiseBand(image, t, filters, pool, ws, task.a);
    const std::size_t n = task.a.size();
    if (t <= kCrown2Size) {
        synthesiseBand(image, kC1Base + t, filters, pool, ws, task.c1);
        synthesiseBand(image, kC2Base + t, filters, pool, ws, task.c2);
        if (keepBase && t == 0) unmaskedBase = task.a;
        maskOrientationGroup(switches, t, task.a.data(), task.c1.data(), task.c2.data(),
                             unmaskedBase.data(), 0, n);
    } else {
        maskAchromaticBand(switches, t, task.a.data(), 0, n);
    }
}

// The 17 tasks of decomposing N images side by side: task t makes every image's bands of the
// task, in image order, then hands them all to `take(t, bands)`; `groupsDone()` is called once
// when no task is left to read the chromatic spectra.
template <std::size_t N, typename Take, typename GroupsDone>
void decomposeSideBySide(const std::array<const ChannelSpectra*, N>& spectra,
                         const BandFilters& filters, const MaskSwitches& switches,
                         const std::shared_ptr<PlanePool>& pool, Take&& take,
                         GroupsDone&& groupsDone) {
    // Scratch of each runner of the loop below, shared by its images.  Each workspace is as
    // wide as the widest band its runner has met: narrow for the orientation groups, which
    // come first, and full only for the outer crowns.
    std::vector<RealFft2d::Workspace> scratch(kDecompositionTasks);
    std::vector<std::array<TaskBands, N>> bands(kDecompositionTasks);

    // With inter C1 every crown-2 C1 band is masked by the unmasked A base band of its image as
    // well, so the base group goes first and keeps that band.
    const bool keepBase = switches.intraC1 && switches.interC1;
    std::array<Array<float>, N> unmaskedBase;
    std::atomic<unsigned> groupsLeft{kCrown2Size + 1};
    auto run = [&](unsigned t, unsigned runner) {
        std::array<TaskBands, N>& tasks = bands[runner];
        for (std::size_t i = 0; i < N; ++i) {
            TaskBands& task = tasks[i];
            if (t > kCrown2Size) {
                // The chromatic planes of the orientation groups are done with.
                task.c1 = Array<float>();
                task.c2 = Array<float>();
            }
            makeTaskBands(*spectra[i], t, filters, switches, keepBase, pool, scratch[runner], task,
                          unmaskedBase[i]);
        }
        take(t, tasks);
        if (t <= kCrown2Size && --groupsLeft == 0) groupsDone();
    };
    if (keepBase) {
        run(0, 0);
        parallelFor(kDecompositionTasks - 1, 0, [&](unsigned i, unsigned r) { run(i + 1, r); });
    } else {
        parallelFor(kDecompositionTasks, 0, run);
    }
}

// Rows of a task made at once: the strips of its bands stay in cache.
constexpr std::uint32_t kTaskStripRows = 8;

// One runner's room for a strip of a task: the strips of both images' bands (up to three
// each), and a row buffer for the inverse's row pass.
struct TaskStripScratch {
    std::vector<float> planes;
    RealFft2d::Workspace row;

    float* strip(unsigned image, unsigned channel, std::size_t stripPixels) {
        return planes.data() + (image * kChannelCount + channel) * stripPixels;
    }
};

// Task t of the original and the degraded image, handed to `sink` a strip of rows at a time:
// each of the task's bands (an orientation group's three, or one A band) goes through its
// column pass into a workspace of its own, then, strip by strip, its rows are transformed,
// masked and handed over, so that the task's planes never exist.  The same floats as
// makeTaskBands: the row pass, the masking and the pooling take every pixel alone.  The A base
// band (t == 0) is kept unmasked in `unmaskedBase` when `keepBase`, for inter C1 to read.
void decomposeTaskInStrips(const std::array<const ChannelSpectra*, 2>& spectra, unsigned t,
                           const BandFilters& filters, const MaskSwitches& switches, bool keepBase,
                           const std::shared_ptr<PlanePool>& pool, PairedBandSink& sink,
                           std::array<Array<float>, 2>& unmaskedBase) {
    constexpr unsigned kImages = 2;
    const RealFft2d& fft = filters.fft();
    const bool group = t <= kCrown2Size;
    const unsigned channels = group ? kChannelCount : 1;
    const std::array<unsigned, kChannelCount> bands{t, kC1Base + t, kC2Base + t};
    std::array<std::array<RealFft2d::Workspace, kChannelCount>, kImages> columns;
    parallelFor(kImages * channels, 0, [&](unsigned job, unsigned) {
        const unsigned image = job / channels;
        const unsigned k = bands[job % channels];
        const Channel c = channelOf(k);
        const BandMask& mask = filters.mask(k);
        RealFft2d::Workspace ws = fft.workspace(mask.usedCols, pool);
        bandHalfSpectrum((*spectra[image])[static_cast<unsigned>(c)], filters.cols(),
                         filters.sensitivity(c), mask, ws.half());
        fft.inverseColumns(ws, mask.usedCols);
        columns[image][job % channels] = std::move(ws);
    });
    const std::uint32_t rows = filters.rows();
    const std::uint32_t cols = filters.cols();
    if (keepBase && t == 0) {
        for (Array<float>& base : unmaskedBase) {
            base = Array<float>(rows, cols, pool, kUninitialised);  // every strip writes its rows
        }
    }
    const std::size_t stripPixels = std::size_t{kTaskStripRows} * cols;
    std::vector<TaskStripScratch> scratch(defaultWorkers());
    sink.startTask(t);
    const unsigned strips = (rows + kTaskStripRows - 1) / kTaskStripRows;
    parallelFor(strips, 0, [&](unsigned s, unsigned runner) {
        TaskStripScratch& own = scratch[runner];
        if (own.planes.empty()) {
            own.planes.resize(kImages * kChannelCount * stripPixels);
            own.row = fft.workspace(1);
        }
        const std::uint32_t first = s * kTaskStripRows;
        const std::uint32_t count = std::min(kTaskStripRows, rows - first);
        const std::size_t begin = std::size_t{first} * cols;
        const std::size_t n = std::size_t{count} * cols;
        std::array<TaskStrip, kImages> taken;
        for (unsigned image = 0; image < kImages; ++image) {
            for (unsigned c = 0; c < channels; ++c) {
                fft.inverseRows(columns[image][c], filters.mask(bands[c]).usedCols, first, count,
                                own.strip(image, c, stripPixels), own.row);
            }
            TaskStrip& strip = taken[image];
            if (!group) {
                strip = {own.strip(image, 0, stripPixels), nullptr, nullptr};
                maskAchromaticBand(switches, t, strip.a, 0, n);
                continue;
            }
            strip = {own.strip(image, 0, stripPixels), own.strip(image, 1, stripPixels),
                     own.strip(image, 2, stripPixels)};
            Array<float>& base = unmaskedBase[image];
            if (keepBase && t == 0) std::copy_n(strip.a, n, base.data() + begin);
            const float* a0 = base.size() != 0 ? base.data() + begin : nullptr;
            maskOrientationGroup(switches, t, strip.a, strip.c1, strip.c2, a0, 0, n);
        }
        sink.takeStrip(t, taken[0], taken[1], begin, n);
    });
    sink.endTask(t);
}

// No band is left to read the chromatic spectra.
void releaseChromatic(ChannelSpectra& spectra) {
    spectra[1] = Array<std::complex<float>>();
    spectra[2] = Array<std::complex<float>>();
}

}  // namespace

void decompose(ChannelSpectra spectra, const BandFilters& filters, const MaskSwitches& switches,
               BandSink& sink, const std::shared_ptr<PlanePool>& pool) {
    decomposeSideBySide<1>(
        {&spectra}, filters, switches, pool,
        [&](unsigned t, std::array<TaskBands, 1>& bands) { sink.take(t, bands[0]); },
        [&] { releaseChromatic(spectra); });
}

void decompose(const ChannelSpectra& original, ChannelSpectra degraded, const BandFilters& filters,
               const MaskSwitches& switches, PairedBandSink& sink,
               const std::shared_ptr<PlanePool>& pool) {
    // One task at a time, in task order: a strip of rows at a time when the sink takes strips,
    // else one runner per image making and masking the image's bands of the task (six planes
    // for an orientation group, two for a crown band), whatever the number of threads.  Each
    // band goes through the steps of decomposeSideBySide, each pixel through the same
    // arithmetic.
    constexpr unsigned kImages = 2;
    const std::array<const ChannelSpectra*, kImages> spectra{&original, &degraded};
    std::array<RealFft2d::Workspace, kImages> scratch;  // each runner's
    std::array<TaskBands, kImages> bands;
    const bool keepBase = switches.intraC1 && switches.interC1;
    std::array<Array<float>, kImages> unmaskedBase;

    for (unsigned t = 0; t < kDecompositionTasks; ++t) {
        if (sink.takesStrips()) {
            decomposeTaskInStrips(spectra, t, filters, switches, keepBase, pool, sink,
                                  unmaskedBase);
        } else {
            parallelFor(kImages, 0, [&](unsigned i, unsigned runner) {
                makeTaskBands(*spectra[i], t, filters, switches, keepBase, pool, scratch[runner],
                              bands[i], unmaskedBase[i]);
            });
            sink.take(t, bands[0], bands[1]);
        }
        if (t == kCrown2Size) {
            // The chromatic planes, spectra and unmasked base bands are done with.
            for (unsigned i = 0; i < kImages; ++i) {
                bands[i].c1 = Array<float>();
                bands[i].c2 = Array<float>();
                unmaskedBase[i] = Array<float>();
            }
            releaseChromatic(degraded);
        }
    }
}

}  // namespace lumetra
