#include "engine/Decomposition.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "image/Parallel.h"
#include "image/PlaneMean.h"

namespace lumetra {

namespace {

// Channel of every band: 0 A, 1 C1, 2 C2.
unsigned channelOf(unsigned k) {
    return k <= kALast ? 0 : (k <= kC1Last ? 1 : 2);
}

}  // namespace

SpectrumWidths spectrumWidths(const std::array<BandMask, kBandCount>& masks) {
    SpectrumWidths widths{1, 1, 1};
    for (unsigned k = 0; k < kBandCount; ++k) {
        widths[channelOf(k)] = std::max(widths[channelOf(k)], masks[k].usedCols);
    }
    return widths;
}

Array<std::complex<float>> channelSpectrum(const AccImage& image, unsigned channel,
                                           const RealFft2d& fft, std::uint32_t width) {
    const std::array<const Array<float>*, 3> planes{&image.A(), &image.C1(), &image.C2()};
    RealFft2d::Workspace scratch = fft.workspace();
    fft.forward(*planes[channel], scratch, channel == 0 ? planeMean(image.A()) : 1.0f);
    return roundedHalfSpectrum(scratch.half(), image.rows(), image.cols(),
                               std::min(width, fft.halfCols()));
}

ChannelSpectra channelSpectra(const AccImage& image, const RealFft2d& fft,
                              const SpectrumWidths& widths, unsigned workers) {
    ChannelSpectra spectra;
    parallelFor(3, workers, [&](unsigned c, unsigned) {
        spectra[c] = channelSpectrum(image, c, fft, widths[c]);
    });
    return spectra;
}

void decompose(ChannelSpectra spectra, const DecompositionFilters& filters, BandSink& sink) {
    const std::uint32_t rows = filters.fft.rows();
    const std::uint32_t cols = filters.fft.cols();
    const unsigned workers = std::max(1u, std::min(filters.workers, kDecompositionTasks));
    // Each worker's workspace is as wide as the widest band it has met: narrow for the
    // orientation groups, which come first, and full only for the outer crowns.
    std::vector<RealFft2d::Workspace> scratch(workers);

    auto synthesise = [&](unsigned k, unsigned w, Array<float>& out) {
        if (out.rows() != rows || out.cols() != cols) out = Array<float>(rows, cols);
        const unsigned c = channelOf(k);
        const BandMask& mask = filters.masks[k];
        if (scratch[w].width() < mask.usedCols) {
            scratch[w] = RealFft2d::Workspace();  // the narrow one goes before the wide comes
            scratch[w] = filters.fft.workspace(mask.usedCols);
        }
        bandHalfSpectrum(spectra[c], cols, filters.sensitivity[c], mask, scratch[w].half());
        filters.fft.inverse(scratch[w], out, mask.usedCols);
    };

    // With inter C1 every crown-2 C1 band is masked by the unmasked A base band as well.
    const bool keepBase = filters.switches.intraC1 && filters.switches.interC1;
    Array<float> unmaskedBase;
    std::vector<TaskBands> bands(workers);
    std::atomic<unsigned> groupsDone{0};
    auto run = [&](unsigned t, unsigned w) {
        try {
            TaskBands& task = bands[w];
            if (t > kCrown2Size) {
                // The chromatic planes of the orientation groups are done with.
                task.c1 = Array<float>();
                task.c2 = Array<float>();
            }
            synthesise(t, w, task.a);
            const std::size_t n = task.a.size();
            if (t <= kCrown2Size) {
                synthesise(kC1Base + t, w, task.c1);
                synthesise(kC2Base + t, w, task.c2);
                if (keepBase && t == 0) unmaskedBase = task.a;
                maskOrientationGroup(filters.switches, t, task.a.data(), task.c1.data(),
                                     task.c2.data(), unmaskedBase.data(), 0, n);
            } else {
                maskAchromaticBand(filters.switches, t, task.a.data(), 0, n);
            }
            sink.take(t, task);
            if (t <= kCrown2Size && ++groupsDone == kCrown2Size + 1) {
                // No band is left to read the chromatic spectra.
                spectra[1] = Array<std::complex<float>>();
                spectra[2] = Array<std::complex<float>>();
            }
        } catch (...) {
            sink.abandon();
            throw;
        }
    };
    if (keepBase) {
        run(0, 0);
        parallelFor(kDecompositionTasks - 1, workers,
                    [&](unsigned i, unsigned w) { run(i + 1, w); });
    } else {
        parallelFor(kDecompositionTasks, workers, run);
    }
}

}  // namespace lumetra
