#include "image/ImageFile.h"

// Opening an image file and handing it to the reader of its format.
//
// The format comes from the file's first bytes, never its name: "P1".."P7" is Netpbm, then the
// PNG signature, the JPEG start-of-image marker, "BM", a RIFF file of form "WEBP", the two
// TIFF byte orders ("II" or "MM" and 42, or 43 for BigTIFF), an ISO media file whose 'ftyp'
// box names the brand "avif" or "avis", and the JPEG XL codestream (0xff 0x0a) or container
// signature.  Each reader offers the same two
// calls, one that stops after the header and one that decodes the pixels, and both start with
// the same checks, so the header alone already refuses what the full read would refuse before
// touching pixel data.

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "image/AvifReader.h"
#include "image/BmpReader.h"
#include "image/Error.h"
#include "image/JpegReader.h"
#include "image/JxlReader.h"
#include "image/NetpbmReader.h"
#include "image/PngReader.h"
#include "image/TiffReader.h"
#include "image/WebpReader.h"

namespace lumetra {
namespace {

namespace fs = std::filesystem;

enum class Format { Netpbm, Png, Jpeg, Bmp, Webp, Tiff, Avif, Jxl };

constexpr unsigned char kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr unsigned char kJpegStart[] = {0xff, 0xd8, 0xff};
constexpr unsigned char kBmpStart[] = {'B', 'M'};
constexpr unsigned char kRiffStart[] = {'R', 'I', 'F', 'F'};
constexpr unsigned char kWebpForm[] = {'W', 'E', 'B', 'P'};
constexpr std::size_t kRiffFormAt = 8;
constexpr unsigned char kTiffStarts[][4] = {
    {'I', 'I', 42, 0}, {'M', 'M', 0, 42}, {'I', 'I', 43, 0}, {'M', 'M', 0, 43}};
constexpr unsigned char kJxlCodestream[] = {0xff, 0x0a};
constexpr unsigned char kJxlContainer[] = {0, 0, 0, 12, 'J', 'X', 'L', ' ', '\r', '\n', 0x87, '\n'};
// The 'ftyp' box of an ISO media file: its 4-byte size, its type, the major brand, a version
// and the compatible brands, each 4 bytes.
constexpr unsigned char kFtyp[] = {'f', 't', 'y', 'p'};
constexpr std::size_t kBoxTypeAt = 4;
constexpr std::size_t kMajorBrandAt = 8;
constexpr std::size_t kCompatibleBrandsAt = 16;
// Enough for an 'ftyp' box of a dozen brands; the AVIF brand comes within the first few.
constexpr std::size_t kMagicLength = 64;

template <std::size_t N>
bool startsWith(const unsigned char* bytes, std::size_t count, const unsigned char (&prefix)[N]) {
    return count >= N && std::memcmp(bytes, prefix, N) == 0;
}

bool isTiff(const unsigned char* bytes, std::size_t count) {
    for (const auto& start : kTiffStarts) {
        if (startsWith(bytes, count, start)) return true;
    }
    return false;
}

std::uint32_t bigEndian32(const unsigned char* bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
           std::uint32_t{bytes[2]} << 8 | bytes[3];
}

// An 'ftyp' box whose major or a compatible brand is "avif" (a still image) or "avis" (an
// image sequence), within the first `count` bytes.
bool isAvif(const unsigned char* bytes, std::size_t count) {
    if (count < kCompatibleBrandsAt || std::memcmp(bytes + kBoxTypeAt, kFtyp, sizeof kFtyp) != 0) {
        return false;
    }
    const std::size_t end = std::min<std::size_t>(count, bigEndian32(bytes));
    const auto isAvifBrand = [&](std::size_t at) {
        return std::memcmp(bytes + at, "avif", 4) == 0 || std::memcmp(bytes + at, "avis", 4) == 0;
    };
    if (isAvifBrand(kMajorBrandAt)) return true;
    for (std::size_t at = kCompatibleBrandsAt; at + 4 <= end; at += 4) {
        if (isAvifBrand(at)) return true;
    }
    return false;
}

// An open image file, its length and its format.
struct OpenImage {
    FileHandle file;
    std::uint64_t size = 0;
    Format format = Format::Netpbm;
};

OpenImage openImage(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found) failToRead(path, "no such file");
    if (error) failToRead(path, error.message());
    if (status.type() == fs::file_type::directory) failToRead(path, "is a directory");
    if (status.type() != fs::file_type::regular) failToRead(path, "not a regular file");

    OpenImage image;
    image.file.reset(std::fopen(path.c_str(), "rb"));
    if (!image.file) failToRead(path, std::generic_category().message(errno));
    std::FILE* const file = image.file.get();
    unsigned char magic[kMagicLength] = {};
    const std::size_t count = std::fread(magic, 1, kMagicLength, file);
    if (std::ferror(file)) failToRead(path, "read error");
    if (count == 0) failToRead(path, "file is empty");
    // The length of the open file, not of whatever the name points to by now.
    if (std::fseek(file, 0, SEEK_END) != 0) failToRead(path, "cannot seek in the file");
    const long size = std::ftell(file);
    if (size < 0) failToRead(path, "cannot tell the length of the file");
    image.size = static_cast<std::uint64_t>(size);
    std::rewind(file);

    if (count >= 2 && magic[0] == 'P' && magic[1] >= '1' && magic[1] <= '7') {
        image.format = Format::Netpbm;
    } else if (startsWith(magic, count, kPngSignature)) {
        image.format = Format::Png;
    } else if (startsWith(magic, count, kJpegStart)) {
        image.format = Format::Jpeg;
    } else if (startsWith(magic, count, kBmpStart)) {
        image.format = Format::Bmp;
    } else if (startsWith(magic, count, kRiffStart) && count >= kRiffFormAt + sizeof kWebpForm &&
               std::memcmp(magic + kRiffFormAt, kWebpForm, sizeof kWebpForm) == 0) {
        image.format = Format::Webp;
    } else if (isTiff(magic, count)) {
        image.format = Format::Tiff;
    } else if (isAvif(magic, count)) {
        image.format = Format::Avif;
    } else if (startsWith(magic, count, kJxlCodestream) ||
               startsWith(magic, count, kJxlContainer)) {
        image.format = Format::Jxl;
    } else {
        failToRead(path,
                   "unsupported format (not a Netpbm, PNG, JPEG, BMP, WebP, TIFF, AVIF or JPEG XL "
                   "file)");
    }
    return image;
}

}  // namespace

void failToRead(const std::string& path, const std::string& reason) {
    throw ImageReadError("cannot read image \"" + path + "\": " + reason);
}

void checkDimensions(const ImageSource& source, std::uint64_t width, std::uint64_t height) {
    if (width == 0 || height == 0) failToRead(source.path, "width or height is 0");
    // Each side is checked alone first, so the product cannot overflow.
    const std::uint64_t most = source.maxPixels;
    if (width > most || height > most || width * height > most) {
        failToRead(source.path, "image too large: " + std::to_string(width) + " x " +
                                    std::to_string(height) + " pixels, at most " +
                                    std::to_string(most) + " allowed");
    }
}

std::string maxPixelsProblem(std::uint64_t maxPixels) {
    if (maxPixels >= 1 && maxPixels <= RgbImage::kMaxPixels) return {};
    return "must be a whole number from 1 to " + std::to_string(RgbImage::kMaxPixels) + " (got " +
           std::to_string(maxPixels) + ")";
}

RgbImage interleavedRgb8(const ImageSource& source, const std::uint8_t* pixels, std::uint32_t rows,
                         std::uint32_t cols) {
    constexpr unsigned k8BitMaxval = 255;
    Array<unsigned> red(rows, cols, source.pool, kUninitialised);
    Array<unsigned> green(rows, cols, source.pool, kUninitialised);
    Array<unsigned> blue(rows, cols, source.pool, kUninitialised);
    const std::uint8_t* p = pixels;
    for (std::size_t i = 0, n = red.size(); i < n; ++i, p += 3) {
        red.data()[i] = p[0];
        green.data()[i] = p[1];
        blue.data()[i] = p[2];
    }
    return RgbImage(std::move(red), std::move(green), std::move(blue), k8BitMaxval);
}

RgbImage readImageFile(const std::string& path, std::uint64_t maxPixels,
                       std::shared_ptr<PlanePool> pool) {
    return decodeImageFile(path, maxPixels, std::move(pool)).pixels;
}

DecodedImage decodeImageFile(const std::string& path, std::uint64_t maxPixels,
                             std::shared_ptr<PlanePool> pool) {
    assert(maxPixelsProblem(maxPixels).empty());
    const OpenImage image = openImage(path);
    const ImageSource source{path, image.file.get(), image.size, maxPixels, std::move(pool)};
    switch (image.format) {
        case Format::Netpbm:
            return {readNetpbm(source), {}};  // Netpbm and BMP carry no profile or orientation
        case Format::Png:
            return readPng(source);
        case Format::Jpeg:
            return readJpeg(source);
        case Format::Webp:
            return readWebp(source);
        case Format::Tiff:
            return readTiff(source);
        case Format::Avif:
            return readAvif(source);
        case Format::Jxl:
            return readJxl(source);
        case Format::Bmp:
            break;
    }
    return {readBmp(source), {}};
}

ImageHeader readImageHeader(const std::string& path, std::uint64_t maxPixels) {
    assert(maxPixelsProblem(maxPixels).empty());
    const OpenImage image = openImage(path);
    const ImageSource source{path, image.file.get(), image.size, maxPixels};
    switch (image.format) {
        case Format::Netpbm:
            return readNetpbmHeader(source);
        case Format::Png:
            return readPngHeader(source);
        case Format::Jpeg:
            return readJpegHeader(source);
        case Format::Webp:
            return readWebpHeader(source);
        case Format::Tiff:
            return readTiffHeader(source);
        case Format::Avif:
            return readAvifHeader(source);
        case Format::Jxl:
            return readJxlHeader(source);
        case Format::Bmp:
            break;
    }
    return readBmpHeader(source);
}

}  // namespace lumetra
