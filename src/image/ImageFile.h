#pragma once

// What the image readers share: the opened file, the one error every reader throws, and the
// size checks every format makes before it allocates pixels.  Used by RgbImage and the format
// readers (NetpbmReader, PngReader, JpegReader, BmpReader), not by the rest of the system.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "image/ImageHeader.h"
#include "image/RgbImage.h"

namespace lumetra {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// An image file opened for reading, positioned at its first byte.
struct ImageSource {
    const std::string& path;
    std::FILE* file;
    std::uint64_t size;  // bytes in the file
};

// Throws ImageReadError('cannot read image "<path>": <reason>').
[[noreturn]] void failToRead(const std::string& path, const std::string& reason);

// Refuses an empty image and one with more than RgbImage::kMaxPixels pixels.
void checkDimensions(const std::string& path, std::uint64_t width, std::uint64_t height);

// Reads the image at path with the reader its first bytes call for.
RgbImage readImageFile(const std::string& path);

}  // namespace lumetra
