#pragma once

// Band filters already made, for engines of a size and viewing condition seen before.
//
// Making the contrast sensitivity filters, the 27 band masks and the transform plans of one
// size costs about as much as scoring an image; a loop over many originals of one size (a
// Python loop, a distributed batch) would make the same filters again for every original.
// Whoever makes several engines keeps one cache and hands it to each: the filters of a size,
// seen at a number of pixels per degree, are made once and shared read-only.
//
// An explicit object, never a process-wide one: its owner decides how long filters live.  It
// keeps the filters of at most `capacity` conditions, dropping the one used longest ago (an
// engine that holds filters keeps them alive after that).  Thread-safe: engines made at once
// on several threads share one making of the same filters, and a thread that waits for it
// helps with its work instead of blocking (so waiting inside a parallel loop cannot deadlock).

#include <tbb/collaborative_call_once.h>

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>

#include "engine/BandFilters.h"

namespace lumetra {

class BandFiltersCache {
  public:
    // Enough for the sizes of one data set: each entry costs a few planes' worth of memory.
    static constexpr std::size_t kDefaultCapacity = 4;

    explicit BandFiltersCache(std::size_t capacity = kDefaultCapacity);
    BandFiltersCache(const BandFiltersCache&) = delete;
    BandFiltersCache& operator=(const BandFiltersCache&) = delete;

    // The filters for rows x cols at `pixelsPerDegree`, made on the caller's task arena when
    // not held.  Throws FftError as BandFilters does (nothing is kept then).
    std::shared_ptr<const BandFilters> filters(std::uint32_t rows, std::uint32_t cols,
                                               double pixelsPerDegree);

    // Conditions held now.
    std::size_t size() const;

  private:
    // The filters of one condition, made by the first caller that needs them.
    struct Slot {
        tbb::collaborative_once_flag once;
        std::shared_ptr<const BandFilters> filters;
    };
    struct Entry {
        std::uint32_t rows;
        std::uint32_t cols;
        double pixelsPerDegree;
        std::shared_ptr<Slot> slot;
    };

    std::size_t _capacity;
    mutable std::mutex _mutex;
    std::list<Entry> _entries;  // used most recently first
};

}  // namespace lumetra
