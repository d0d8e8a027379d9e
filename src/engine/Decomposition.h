#pragma once

// The band decomposition of one opponent image, run as 17 tasks on the caller's task arena.
// Task t makes A band t; tasks 0 .. 4 (the base and crown 2) also make C1 band 17 + t and C2
// band 22 + t, the orientation group whose bands mask one another.  A task synthesises its
// bands (the channel's spectrum x sensitivity x band mask, transformed back), masks them and
// hands them to a sink, which keeps or pools them.  Only the tasks in flight hold band planes.

#include <array>
#include <complex>
#include <memory>

#include "engine/BandFilters.h"
#include "engine/BandMasking.h"
#include "image/AccImage.h"
#include "image/Array.h"
#include "image/PlanePool.h"

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
    // Takes task t's bands; may be called from several threads at once for different tasks,
    // in any order.  The sink may keep, take over or overwrite the planes.
    virtual void take(unsigned task, TaskBands& bands) = 0;
};

// The half spectra of the A plane divided by its mean, of C1 and of C2, rounded to float, each
// cut to the columns its channel's band masks reach.
using ChannelSpectra = std::array<Array<std::complex<float>>, kChannelCount>;

// The spectrum of one channel of `image` (the filters' size).  Its planes and workspace come
// from `pool` when given.
Array<std::complex<float>> channelSpectrum(const AccImage& image, Channel channel,
                                           const BandFilters& filters,
                                           const std::shared_ptr<PlanePool>& pool = nullptr);

// Decomposes the image of `spectra` (the filters' size) and hands every task's masked bands to
// `sink`.  The chromatic spectra are released as soon as the orientation groups are done.
// The band planes and transform workspaces come from `pool` when given.
void decompose(ChannelSpectra spectra, const BandFilters& filters, const MaskSwitches& switches,
               BandSink& sink, const std::shared_ptr<PlanePool>& pool = nullptr);

}  // namespace lumetra
