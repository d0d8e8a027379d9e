#pragma once

// What the image readers share: the opened file, the one error every reader throws, and the
// size checks every format makes before it allocates pixels.  Used by RgbImage and the format
// readers (NetpbmReader, PngReader, JpegReader, BmpReader, WebpReader, TiffReader, AvifReader,
// JxlReader), not by the rest of the system.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "image/ImageHeader.h"
#include "image/ImageMetadata.h"
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
    // Most pixels the caller accepts (at most RgbImage::kMaxPixels); checked from the header,
    // before any pixel is allocated.
    std::uint64_t maxPixels;
    // Where the sample planes' memory comes from (null: no pool).
    std::shared_ptr<PlanePool> pool = nullptr;
};

// Throws ImageReadError('cannot read image "<path>": <reason>').
[[noreturn]] void failToRead(const std::string& path, const std::string& reason);

// Refuses an empty image and one with more than source.maxPixels pixels.
void checkDimensions(const ImageSource& source, std::uint64_t width, std::uint64_t height);

// The image of rows x cols pixels of three interleaved 8-bit samples (R, G, B) at `pixels`,
// its planes from source.pool: what decoders that hand out RGB bytes give.
RgbImage interleavedRgb8(const ImageSource& source, const std::uint8_t* pixels, std::uint32_t rows,
                         std::uint32_t cols);

// What a format's reader gives, in the order the readers need: first what the file declares
// (ImageMetadata, the reading note among it), then the pixels.  `read` is a reader's object of
// the file, its header read and checked: metadata() gives the file's metadata, decode() its
// pixels (RgbImage).
template <typename Read>
DecodedImage decodedBy(Read& read) {
    ImageMetadata metadata = read.metadata();
    return {read.decode(), std::move(metadata)};
}

// Reads the image at path with the reader its first bytes call for, refusing one of more than
// maxPixels pixels before decoding it.  The sample planes come from `pool` when given.
RgbImage readImageFile(const std::string& path, std::uint64_t maxPixels,
                       std::shared_ptr<PlanePool> pool = nullptr);

// The same with what the file declares besides its pixels (ImageMetadata.h).  A reader of a
// format that carries a colour profile or an orientation fills in DecodedImage::metadata;
// Netpbm and BMP give it empty.
DecodedImage decodeImageFile(const std::string& path, std::uint64_t maxPixels,
                             std::shared_ptr<PlanePool> pool = nullptr);

}  // namespace lumetra
