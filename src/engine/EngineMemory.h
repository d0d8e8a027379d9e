#pragma once

// What an engine and the files it scores take of memory, estimated from the image size before
// anything is built, so that a run too large for the machine is refused with a message instead
// of being killed by the system half-way.

#include <cstdint>
#include <optional>
#include <string>

namespace lumetra {

// Bytes per pixel of the original an engine holds once built (its 27 masked bands, the band
// filters, the edge map).  Measured with VmRSS around the Python engine's construction: 169 at
// 1024 x 1024 and 148 at 2048 x 2048; rounded up.
inline constexpr std::uint64_t kEngineBytesPerPixel = 160;
// Bytes per pixel at the peak of building an engine, the original image included.  Measured as
// the peak RSS of `lumetra` on a 1024 x 1024 and a 2048 x 2048 original whose degraded file is
// refused by its header, less the fixed part: 193 bytes per pixel at both sizes; rounded up.
inline constexpr std::uint64_t kEngineBuildBytesPerPixel = 200;

// Memory one file being scored takes per pixel: its image and opponent planes, its edge maps
// and spectra, the bands the decomposition has in hand and the comparison's maps (about 60
// bytes at the worst moment).  Measured: scoring two 1920 x 1080 files at once peaked 74 MB (36
// bytes per pixel) above scoring one, two 2048 x 2048 files 19 bytes per pixel above one; the
// peaks of files scored at once need not coincide, so rounded up for headroom.
inline constexpr std::uint64_t kBytesPerPixelInFlight = 96;

// The memory an engine for `pixels` pixels needs while `filesInFlight` files, each taking
// `bytesPerPixelInFlight` per pixel, are scored at once: the larger of the build's peak and the
// built engine with its files.
std::uint64_t engineMemory(std::uint64_t pixels, std::uint64_t filesInFlight,
                           std::uint64_t bytesPerPixelInFlight);

// Bytes as gigabytes to three significant digits, whatever the locale: "0.0524 GB", "68.7 GB".
std::string gigabytesText(std::uint64_t bytes);

// "needs about 68.7 GB; 21.3 GB available" when `needed` is more than `available`; empty when
// it fits or nothing is known of the free memory.
std::string memoryProblem(std::uint64_t needed, std::optional<std::uint64_t> available);

}  // namespace lumetra
