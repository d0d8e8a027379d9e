#include "image/BmpReader.h"

// BMP: the headers are parsed here, the pixels decoded by stb_image.
//
// stb_image decodes whatever a BMP header claims and fills what the file does not hold with
// made-up pixels; it also reads a compression code of 2^31 or more as a negative number and so
// as "uncompressed".  So before stb_image sees a byte, the headers are checked here: a known
// header size, one plane, a bit depth stb_image decodes, no compression but bit fields, the
// pixel limit, and a raster that fits in the file (the product of row stride and height taken
// without overflow).  What passes is decoded exactly as before.

#include <stb/stb_image.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "image/Array.h"

namespace lumetra {
namespace {

constexpr unsigned k8BitMaxval = 255;
constexpr int kRgbChannels = 3;

constexpr std::uint64_t kFileHeaderSize = 14;
// Info header sizes: the old OS/2 core header, then the Windows 3, 3 with masks, 4 and 5 ones.
constexpr std::uint64_t kCoreHeaderSize = 12;
constexpr std::uint64_t kKnownInfoSizes[] = {kCoreHeaderSize, 40, 56, 108, 124};
// Compression codes that leave the raster a plain array of pixels.
constexpr std::uint64_t kUncompressed = 0;
constexpr std::uint64_t kBitfields = 3;
// The info header fields read here end at this offset in the file (the compression code).
constexpr std::uint64_t kFieldsEnd = kFileHeaderSize + 20;
constexpr std::size_t kPrefixLength = kFieldsEnd;

struct BmpHeader {
    std::uint64_t width = 0;
    std::uint64_t height = 0;  // without the sign that marks a top-down raster
    std::uint64_t bitsPerPixel = 0;
    std::uint64_t infoSize = 0;
    std::uint64_t rasterOffset = 0;
    std::uint64_t stride = 0;  // bytes per row of the raster
};

std::uint64_t le16(const unsigned char* b) {
    return std::uint64_t{b[0]} | std::uint64_t{b[1]} << 8;
}
std::uint64_t le32(const unsigned char* b) {
    return le16(b) | le16(b + 2) << 16;
}
std::int64_t signed32(const unsigned char* b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(le32(b)));
}

bool isKnownInfoSize(std::uint64_t size) {
    for (const std::uint64_t known : kKnownInfoSizes) {
        if (size == known) return true;
    }
    return false;
}

bool isDecodedDepth(std::uint64_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

BmpHeader parseAndCheckHeader(const ImageSource& source) {
    const std::string& path = source.path;
    unsigned char b[kPrefixLength] = {};
    const std::size_t count = std::fread(b, 1, kPrefixLength, source.file);
    std::rewind(source.file);
    if (count < kFileHeaderSize + 4) failToRead(path, "file ends inside the header");
    const std::uint64_t infoSize = le32(b + kFileHeaderSize);
    if (!isKnownInfoSize(infoSize)) {
        failToRead(path, "unsupported BMP header size " + std::to_string(infoSize));
    }
    if (source.size < kFileHeaderSize + infoSize) failToRead(path, "file ends inside the header");

    BmpHeader header;
    std::uint64_t planes = 0, compression = kUncompressed;
    if (infoSize == kCoreHeaderSize) {
        header.width = le16(b + 18);
        header.height = le16(b + 20);
        planes = le16(b + 22);
        header.bitsPerPixel = le16(b + 24);
    } else {
        const std::int64_t width = signed32(b + 18);
        const std::int64_t height = signed32(b + 22);  // negative: the rows run top-down
        if (width < 0) failToRead(path, "malformed BMP header (negative width)");
        header.width = static_cast<std::uint64_t>(width);
        header.height = static_cast<std::uint64_t>(height < 0 ? -height : height);
        planes = le16(b + 26);
        header.bitsPerPixel = le16(b + 28);
        compression = le32(b + 30);
    }
    if (planes != 1) failToRead(path, "malformed BMP header (planes is not 1)");
    if (!isDecodedDepth(header.bitsPerPixel)) {
        failToRead(path, "unsupported BMP bit depth " + std::to_string(header.bitsPerPixel));
    }
    if (compression != kUncompressed && compression != kBitfields) {
        failToRead(path, "unsupported BMP compression " + std::to_string(compression));
    }
    if (compression == kBitfields && header.bitsPerPixel != 16 && header.bitsPerPixel != 32) {
        failToRead(path, "malformed BMP header (bit fields need 16 or 32 bits per pixel)");
    }
    checkDimensions(source, header.width, header.height);

    // Rows are padded to whole 4-byte words.  width < 2^28 and at most 32 bits per pixel keep
    // the stride below 2^34; stride * height may not fit, so it is compared by division.
    const std::uint64_t rasterOffset = le32(b + 10);
    const std::uint64_t stride = (header.width * header.bitsPerPixel + 31) / 32 * 4;
    if (rasterOffset < kFileHeaderSize + infoSize) {
        failToRead(path, "malformed BMP header (the pixels start inside the header)");
    }
    if (rasterOffset > source.size || (source.size - rasterOffset) / stride < header.height) {
        failToRead(path, "file ends inside the pixel data");
    }
    header.infoSize = infoSize;
    header.rasterOffset = rasterOffset;
    header.stride = stride;
    return header;
}

// The palette entries stb_image loads for a BMP of at most 8 bits per pixel: as many as fit
// between the headers and the raster (3 bytes each after the core header, 4 after the
// others), counted as stb_image counts them; 0 or fewer, or more than 256, it refuses itself.
std::int64_t stbPaletteSize(const BmpHeader& header) {
    const auto offset = static_cast<std::int64_t>(header.rasterOffset);
    // After the core header stb_image counts from 24 bytes past the file header, not 12.
    if (header.infoSize == kCoreHeaderSize) {
        return (offset - static_cast<std::int64_t>(kFileHeaderSize) - 24) / 3;
    }
    return (offset - static_cast<std::int64_t>(kFileHeaderSize + header.infoSize)) / 4;
}

// stb_image looks pixel indices up in a 256-entry palette on its stack without comparing them
// to the number of entries the file holds: an index past the file's palette took whatever the
// stack held (three reads, three different pictures).  So every index of a palette image is
// checked against the palette before stb_image decodes it.  The header check has already
// made sure the whole raster lies inside bytes.
void checkPaletteIndices(const ImageSource& source, const BmpHeader& header,
                         const std::vector<unsigned char>& bytes) {
    if (header.bitsPerPixel > 8) return;
    const std::int64_t entries = stbPaletteSize(header);
    if (entries <= 0 || entries > 256) {
        failToRead(source.path, "malformed BMP header (the palette holds " +
                                    std::to_string(entries < 0 ? 0 : entries) + " colours)");
    }
    const std::uint64_t bits = header.bitsPerPixel;
    const unsigned mask = (1u << bits) - 1;
    for (std::uint64_t r = 0; r < header.height; ++r) {
        const unsigned char* row = bytes.data() + header.rasterOffset + r * header.stride;
        for (std::uint64_t c = 0; c < header.width; ++c) {
            const std::uint64_t bit = c * bits;
            // Pixels fill each byte from its most significant bits down.
            const unsigned index = row[bit / 8] >> (8 - bits - bit % 8) & mask;
            if (index >= static_cast<std::uint64_t>(entries)) {
                failToRead(source.path, "BMP pixel index " + std::to_string(index) +
                                            " past the palette of " + std::to_string(entries) +
                                            " colours");
            }
        }
    }
}

struct StbFree {
    void operator()(void* data) const { stbi_image_free(data); }
};

}  // namespace

ImageHeader readBmpHeader(const ImageSource& source) {
    const BmpHeader header = parseAndCheckHeader(source);
    return {static_cast<std::uint32_t>(header.height), static_cast<std::uint32_t>(header.width),
            k8BitMaxval};
}

RgbImage readBmp(const ImageSource& source) {
    const BmpHeader header = parseAndCheckHeader(source);
    // The header check bounds the file by the pixel limit only through its raster; a file
    // with a huge tail is refused rather than read whole into memory.
    if (source.size > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
        failToRead(source.path, "file too large");
    }
    std::vector<unsigned char> bytes(source.size);
    if (std::fread(bytes.data(), 1, bytes.size(), source.file) != bytes.size()) {
        failToRead(source.path, "read error");
    }
    checkPaletteIndices(source, header, bytes);
    int width = 0, height = 0, channels = 0;
    const std::unique_ptr<stbi_uc, StbFree> data(stbi_load_from_memory(
        bytes.data(), static_cast<int>(bytes.size()), &width, &height, &channels, kRgbChannels));
    if (!data) {
        const char* const reason = stbi_failure_reason();
        failToRead(source.path,
                   std::string("cannot decode the BMP data") +
                       (reason != nullptr ? std::string(" (") + reason + ")" : std::string()));
    }
    const auto rows = static_cast<std::uint32_t>(height), cols = static_cast<std::uint32_t>(width);
    return interleavedRgb8(source, data.get(), rows, cols);
}

}  // namespace lumetra
