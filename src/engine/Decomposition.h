#pragma once

// The band decomposition of one opponent image, run as 17 tasks shared out to threads.  Task t
// makes A band t; tasks 0 .. 4 (the base and crown 2) also make C1 band 17 + t and C2 band
// 22 + t, the orientation group whose bands mask one another.  A task synthesises its bands
// (the channel's spectrum x sensitivity x band mask, transformed back), masks them and hands
// them to a sink, which keeps or pools them.  Only the tasks in flight hold band planes.

#include <array>
#include <complex>

#include "engine/BandIndex.h"
#include "engine/BandMasking.h"
#include "engine/Spectrum.h"
#include "fft/RealFft2d.h"
#include "image/AccImage.h"
#include "image/Array.h"

namespace lumetra {

inline constexpr unsigned kDecompositionTasks = kALast + 1;

// The masked bands of one task: `a` always, `c1` and `c2` for tasks 0 .. 4.
struct TaskBands {
    Array<float> a;
    Array<float> c1;
    Array<float> c2;
};

class BandSink {
  public:
    virtual ~BandSink() = default;
    // Takes task t's bands; may be called from several threads at once for different tasks.
    // The sink may keep or overwrite the planes.
    virtual void take(unsigned task, TaskBands& bands) = 0;
    // Called when a task fails, before the failure propagates, so that no thread of the sink
    // waits for a task that will never come.
    virtual void abandon() {}
};

// The half spectra of the A plane divided by its mean, of C1 and of C2, rounded to float, each
// cut to the columns its channel's band masks reach (SpectrumWidths).
using ChannelSpectra = std::array<Array<std::complex<float>>, 3>;
using SpectrumWidths = std::array<std::uint32_t, 3>;

SpectrumWidths spectrumWidths(const std::array<BandMask, kBandCount>& masks);
ChannelSpectra channelSpectra(const AccImage& image, const RealFft2d& fft,
                              const SpectrumWidths& widths, unsigned workers);
// One of them: channel 0 A, 1 C1, 2 C2.
Array<std::complex<float>> channelSpectrum(const AccImage& image, unsigned channel,
                                           const RealFft2d& fft, std::uint32_t width);

// What the decomposition reads: the transforms, ready for every mask's width, the contrast
// sensitivity filters of A, C1 and C2 (the parts the masks cover), the 27 cropped band masks
// and the masking switches.
struct DecompositionFilters {
    const RealFft2d& fft;
    const std::array<CroppedPlane, 3>& sensitivity;
    const std::array<BandMask, kBandCount>& masks;
    MaskSwitches switches;
    unsigned workers;
};

// Decomposes the image of `spectra` (the filters' size) and hands every task's masked bands to
// `sink`.  The chromatic spectra are released as soon as the orientation groups are done.
void decompose(ChannelSpectra spectra, const DecompositionFilters& filters, BandSink& sink);

}  // namespace lumetra
