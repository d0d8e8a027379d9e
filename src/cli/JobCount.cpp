#include "cli/JobCount.h"

#include <algorithm>

namespace lumetra {

unsigned automaticJobs(unsigned threads, std::uint64_t pixels,
                       std::optional<std::uint64_t> availableBytes, std::uint64_t bytesPerPixel) {
    const unsigned most = std::max(threads, 1u);
    if (!availableBytes) return most;
    const std::uint64_t perFile =
        std::max<std::uint64_t>(pixels, 1) * std::max<std::uint64_t>(bytesPerPixel, 1);
    const std::uint64_t fitting = *availableBytes / perFile;
    return static_cast<unsigned>(std::clamp<std::uint64_t>(fitting, 1, most));
}

}  // namespace lumetra
