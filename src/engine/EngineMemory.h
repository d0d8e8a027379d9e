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

// The same three figures for an engine in low-memory mode (ExecutionOptions::lowMemory), which
// keeps the original's spectra (about 6 bytes per pixel) instead of its 27 bands (108), and
// whose files in flight also make the original's bands, one task at a time.
// Held: the band filters (27 masks kept as row spans 8.7, sensitivity 4.6), the spectra 6.3
// and the edge map 1, counted from their sizes at 1920 x 1080 and 3840 x 2160 (the same per
// pixel); rounded up.
inline constexpr std::uint64_t kLowMemoryEngineBytesPerPixel = 24;
// Build: the peak RSS of `lumetra --low-memory` on an original whose degraded file is refused
// by its header, less the fixed part (a 64 x 64 run): 60.7 bytes per pixel at 1920 x 1080 and
// 60.6 at 3840 x 2160, the original image and its opponent planes and edge maps being made
// (the masks are made on their windows, DcpFilter::forEachMaskWindow); rounded up.
inline constexpr std::uint64_t kLowMemoryEngineBuildBytesPerPixel = 64;
// In flight: bench/EngineReport --low-memory at 3840 x 2160 on two threads peaked at 86 bytes
// per pixel while scoring, of which 24 are its two test images and about 21 the engine: about
// 41 for the file, whose tasks are made a strip of rows at a time (92 and 47 when they were
// made as planes).  Kept at the figure for planes, whose multiple for an explained file
// (RunPlan.cpp) must also hold the original's 27 bands made again for its channel maps.
inline constexpr std::uint64_t kLowMemoryBytesPerPixelInFlight = 80;

// The memory an engine for `pixels` pixels needs while `filesInFlight` files, each taking
// `bytesPerPixelInFlight` per pixel, are scored at once: the larger of the build's peak and the
// built engine with its files.  `lowMemory`: the engine is in low-memory mode (the figures
// above for it, with `bytesPerPixelInFlight` of a low-memory file).
std::uint64_t engineMemory(std::uint64_t pixels, std::uint64_t filesInFlight,
                           std::uint64_t bytesPerPixelInFlight, bool lowMemory = false);

// `bytes` in gigabytes, three significant digits, whatever the caller's locale: "2.1 GB".
std::string gigabyteText(std::uint64_t bytes);

// "needs about 68.7 GB; 21.3 GB available" when `needed` is more than `available`; empty when
// it fits or nothing is known of the free memory.
std::string memoryProblem(std::uint64_t needed, std::optional<std::uint64_t> available);

}  // namespace lumetra
