#pragma once

// How many files to score at once when the command line does not say: one per thread of the
// run, but no more than the free memory holds, since every file in flight keeps its own
// decomposition.

#include <cstdint>
#include <optional>

#include "image/SystemMemory.h"  // availableMemory()

namespace lumetra {

// Memory one file in flight takes per pixel: its image and opponent planes, its edge maps and
// spectra, the bands the decomposition has in hand and the comparison's maps (about 60 bytes
// at the worst moment).  Measured: scoring two 1920 x 1080 files at once peaked 74 MB (36 bytes
// per pixel) above scoring one; rounded up for headroom.
inline constexpr std::uint64_t kBytesPerPixelInFlight = 96;

// At least 1 and at most `threads` (1 when the thread count is unknown, 0): as many files as
// `availableBytes` holds at kBytesPerPixelInFlight for each of `pixels` pixels.  Without a
// figure for the free memory, the thread count.
unsigned automaticJobs(unsigned threads, std::uint64_t pixels,
                       std::optional<std::uint64_t> availableBytes);

}  // namespace lumetra
