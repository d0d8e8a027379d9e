#pragma once

// The error map: band differences pooled over channels and orientations.

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "engine/BandFilters.h"
#include "engine/TaskBands.h"
#include "image/Array.h"

namespace lumetra {

// Which channels' band differences count in an error map; the others' differences count as 0.
// An error map of one channel alone says how much of the error that channel's differences
// make, but such maps do not add up to the whole map (pooling is not linear).
class ChannelSelection {
  public:
    static constexpr ChannelSelection all() { return ChannelSelection(kEveryChannel); }
    static constexpr ChannelSelection only(Channel c) { return ChannelSelection(bit(c)); }
    constexpr bool counts(Channel c) const { return (_channels & bit(c)) != 0; }

  private:
    static constexpr unsigned kEveryChannel = (1u << kChannelCount) - 1;
    static constexpr unsigned bit(Channel c) { return 1u << static_cast<unsigned>(c); }
    explicit constexpr ChannelSelection(unsigned channels) : _channels(channels) {}
    unsigned _channels;
};

// The 27 bands of an image wherever they are kept, by band number.
using BandPlanes = std::array<const Array<float>*, kBandCount>;
// The planes of 27 bands kept in band order, or kept by task.
BandPlanes planesOf(const Array<float>* bands);
BandPlanes planesOf(const BandsByTask& bands);

// Error map M: absolute band differences pooled over channels (weights 10, 5, 1 for A, C1, C2
// in the base and crown 2) and over orientations (Minkowski sum with exponent 4.5), then
// M = S0 + 10 E2 + 10 E3 + E4.  Sized by the reference bands; `workers` threads share it.
// Only the differences of the `selected` channels count; with every channel (the default) this
// is the engine's error map to the last bit.
Array<float> pooledError(const BandPlanes& reference, const BandPlanes& degraded, unsigned workers,
                         ChannelSelection selected = ChannelSelection::all());
// The same for bands kept in band order.
Array<float> pooledError(const Array<float>* reference, const Array<float>* degraded,
                         unsigned workers, ChannelSelection selected = ChannelSelection::all());

// The four additive terms of the error map, each already multiplied by its weight.
enum class ErrorTerm { Base, Crown2, Crown3, Crown4 };

// Receives the weighted terms of an error map as they are folded into it, in the order of
// ErrorTerm, one call at a time.  The plane is the engine's: copy what is to be kept.
using ErrorTermSink = std::function<void(ErrorTerm term, const Array<float>& weighted)>;

// The per-pixel passes over a map's rows, of one vector width (ErrorMap.cpp).
struct ErrorRowPasses;

// The same error map built task by task, as a decomposition hands over the masked bands of
// both images (TaskBands.h): each orientation group or band is pooled as soon as it exists, so
// neither image's 27 bands need exist at once, and each crown's sum is folded into the map (and
// freed) as soon as the crown is complete.  Sums and folds are taken in pooledError's order
// whatever order the bands arrive in, so the map is the same to the last bit: a band that arrives
// before the ones it must follow is parked and added by whichever thread adds its predecessor.  No
// thread ever waits for another band.
class StreamedError {
  public:
    // A map of rows x cols pixels, its planes from `pool` when given.  `terms`, when given,
    // receives the weighted terms (at the cost of one plane while a term is handed over).
    // `workers` threads of the caller's arena share the pixels of each addition (0: all of
    // them): 1 (the default) when additions come from several threads at once, more when
    // they come one at a time; the map is the same either way.
    StreamedError(std::uint32_t rows, std::uint32_t cols, ErrorTermSink terms = nullptr,
                  std::shared_ptr<PlanePool> pool = nullptr, unsigned workers = 1);

    // Adds task t's bands: orientation group t (0: base, 1 .. 4: crown 2) or A band t of crown
    // 3 or 4 (5 .. 16), the original's and the degraded image's.  Only reads `original`; may
    // take the degraded A band over (then it is left empty) or overwrite it.  May run on
    // several threads at once for different tasks, in any order.
    void add(unsigned task, const TaskBands& original, TaskBands& degraded);

    // Task t a strip of pixels at a time: startTask(t), then addStrip for pixels [begin, begin +
    // count) of both images' masked bands (reads `original`, overwrites the degraded A strip)
    // for every strip, from any number of threads at once, then endTask(t).  The tasks come in
    // order, none through add; each pixel takes the same steps as in add.
    void startTask(unsigned task);
    void addStrip(unsigned task, const TaskStrip& original, const TaskStrip& degraded,
                  std::size_t begin, std::size_t count);
    void endTask(unsigned task);

    // M = S0 + 10 E2 + 10 E3 + E4, once all 17 groups and bands are in.
    Array<float> error();

  private:
    void addGroup(unsigned j, const TaskBands& original, Array<float>& a, const Array<float>& c1,
                  const Array<float>& c2);
    void addBand(unsigned k, const Array<float>& original, Array<float>& a);
    // One sequence of steps taken in position order: the additions to a crown's sum (crown 2
    // starts with the base, which its fold needs complete), or the folds of the crowns.
    struct Sequence {
        std::mutex mutex;
        unsigned next = 0;
        std::map<unsigned, Array<float>> parked;
    };
    // Takes `plane` as position `position` of `sequence` and applies, in order, every step
    // that is now due; returns true for the call that completed the sequence of `length`.
    template <typename Apply>
    bool arrive(Sequence& sequence, unsigned position, unsigned length, Array<float>& plane,
                Apply&& apply);
    void addToCrown(unsigned crown, unsigned position, Array<float>& plane);
    // sum += x, the sum made on the crown's first addition.
    void addInto(Array<float>& sum, const Array<float>& x) const;
    // M = M + weight E of complete crown `crown` (0: crown 2), whose sum is then freed.
    void fold(unsigned crown);

    ErrorTermSink _terms;
    unsigned _workers;
    const ErrorRowPasses* _rows;        // the processor's widest, chosen once for the map
    Array<float> _error;                // S0, then with each crown folded in
    std::array<Array<float>, 3> _sums;  // crowns 2, 3 and 4
    std::array<Sequence, 3> _additions;
    Sequence _folds;
};

}  // namespace lumetra
