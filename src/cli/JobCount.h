#pragma once

// How many files to score at once when the command line does not say: one per thread of the
// run, but no more than the free memory holds, since every file in flight keeps its own
// decomposition.

#include <cstdint>
#include <optional>

#include "engine/EngineMemory.h"  // kBytesPerPixelInFlight
#include "image/SystemMemory.h"   // availableMemory()

namespace lumetra {

// At least 1 and at most `threads` (1 when the thread count is unknown, 0): as many files as
// `availableBytes` holds at `bytesPerPixel` for each of `pixels` pixels.  Without a figure for
// the free memory, the thread count.
unsigned automaticJobs(unsigned threads, std::uint64_t pixels,
                       std::optional<std::uint64_t> availableBytes,
                       std::uint64_t bytesPerPixel = kBytesPerPixelInFlight);

}  // namespace lumetra
