#include "cli/JobCount.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

namespace lumetra {

namespace {

constexpr const char* kMemInfoPath = "/proc/meminfo";
constexpr const char* kAvailableField = "MemAvailable:";
constexpr std::uint64_t kBytesPerKibibyte = 1024;  // /proc/meminfo counts in kB = 1024 bytes

}  // namespace

unsigned automaticJobs(unsigned threads, std::uint64_t pixels,
                       std::optional<std::uint64_t> availableBytes) {
    const unsigned most = std::max(threads, 1u);
    if (!availableBytes) return most;
    const std::uint64_t perFile = std::max<std::uint64_t>(pixels, 1) * kBytesPerPixelInFlight;
    const std::uint64_t fitting = *availableBytes / perFile;
    return static_cast<unsigned>(std::clamp<std::uint64_t>(fitting, 1, most));
}

std::optional<std::uint64_t> availableMemory() {
    std::ifstream meminfo(kMemInfoPath);
    for (std::string line; std::getline(meminfo, line);) {
        std::istringstream fields(line);
        std::string name;
        std::uint64_t kibibytes = 0;
        if (fields >> name >> kibibytes && name == kAvailableField) {
            return kibibytes * kBytesPerKibibyte;
        }
    }
    return std::nullopt;
}

}  // namespace lumetra
