#pragma once

// The band decomposition of one opponent image, run as 17 tasks on the caller's task arena.
// Task t makes A band t; tasks 0 .. 4 (the base and crown 2) also make C1 band 17 + t and C2
// band 22 + t, the orientation group whose bands mask one another.  A task synthesises its
// bands (the channel's spectrum x sensitivity x band mask, transformed back), masks them and
// hands them to a sink, which keeps or pools them.  Only the tasks in flight hold band planes.
// Two images can be decomposed side by side, each task making both images' bands, so that
// neither image's 27 bands need be kept.

#include <array>
#include <complex>
#include <memory>

#include "engine/BandFilters.h"
#include "engine/BandMasking.h"
#include "engine/TaskBands.h"
#include "image/AccImage.h"
#include "image/Array.h"
#include "image/PlanePool.h"

namespace lumetra {

class BandSink {
  public:
    virtual ~BandSink() = default;
    // Takes task t's bands; may be called from several threads at once for different tasks,
    // in any order.  The sink may keep, take over or overwrite the planes.
    virtual void take(unsigned task, TaskBands& bands) = 0;
};

// Takes the bands of one task of two images decomposed side by side.
class PairedBandSink {
  public:
    virtual ~PairedBandSink() = default;
    // Takes task t's bands of the original and of the degraded image; called like
    // BandSink::take.  The sink reads the original's bands, and may keep, take over or
    // overwrite the degraded image's.
    virtual void take(unsigned task, const TaskBands& original, TaskBands& degraded) = 0;

    // Whether the sink takes the tasks a strip of rows at a time instead, through the three
    // calls below: then their band planes never exist.  For task t, startTask(t) comes first,
    // then takeStrip for every strip of rows, from several threads at once, then endTask(t); the
    // tasks come in order.  takeStrip reads the original's strip, and may overwrite the
    // degraded image's; `begin` is the strips' first pixel in the plane.
    virtual bool takesStrips() const { return false; }
    virtual void startTask(unsigned /*task*/) {}
    virtual void takeStrip(unsigned /*task*/, const TaskStrip& /*original*/,
                           const TaskStrip& /*degraded*/, std::size_t /*begin*/,
                           std::size_t /*count*/) {}
    virtual void endTask(unsigned /*task*/) {}
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

// Decomposes the images of `original` and `degraded` side by side: each task makes both
// images' bands, through the same steps as decompose(), and hands them to `sink` together.
// For the least memory the tasks run one at a time, in task order, so that only one task's
// bands exist at once.  A sink that takes strips (PairedBandSink::takesStrips) gets each task a
// strip of rows at a time, from every thread, and the task's band planes never exist; any
// other gets sink.take in task order from one thread at a time (the sink may share its own
// work out to the threads), one thread per image having made and masked its bands.
// `original` is only read (an engine keeps it); the degraded chromatic spectra are released
// as soon as the orientation groups are done.
void decompose(const ChannelSpectra& original, ChannelSpectra degraded, const BandFilters& filters,
               const MaskSwitches& switches, PairedBandSink& sink,
               const std::shared_ptr<PlanePool>& pool = nullptr);

}  // namespace lumetra
