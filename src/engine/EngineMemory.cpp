#include "engine/EngineMemory.h"

#include <algorithm>
#include <charconv>

namespace lumetra {

namespace {

constexpr double kBytesPerGigabyte = 1e9;
// Three significant digits: "0.0524 GB", "2.1 GB", "68.7 GB".
constexpr int kGigabyteDigits = 3;

}  // namespace

std::uint64_t engineMemory(std::uint64_t pixels, std::uint64_t filesInFlight,
                           std::uint64_t bytesPerPixelInFlight, bool lowMemory) {
    const std::uint64_t engine = lowMemory ? kLowMemoryEngineBytesPerPixel : kEngineBytesPerPixel;
    const std::uint64_t build =
        lowMemory ? kLowMemoryEngineBuildBytesPerPixel : kEngineBuildBytesPerPixel;
    const std::uint64_t held = engine + filesInFlight * bytesPerPixelInFlight;
    return pixels * std::max(build, held);
}

std::string gigabyteText(std::uint64_t bytes) {
    char text[32];
    const double value = static_cast<double>(bytes) / kBytesPerGigabyte;
    const auto end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, kGigabyteDigits)
            .ptr;
    return std::string(text, end) + " GB";
}

std::string memoryProblem(std::uint64_t needed, std::optional<std::uint64_t> available) {
    if (!available || needed <= *available) return {};
    return "needs about " + gigabyteText(needed) + "; " + gigabyteText(*available) + " available";
}

}  // namespace lumetra
