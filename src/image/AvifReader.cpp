#include "image/AvifReader.h"

// AVIF through libavif.
//
// libavif parses the container (its 'ftyp', 'meta' and property boxes) before it decodes any
// AV1 data, so the size and depth are known and checked against the pixel limit first; the
// AV1 decoder is also told the limit, so a frame larger than the container declared is
// refused by the decoder itself.  The file is read whole into memory, which libavif reads
// from.  libavif reports every failure as a result code, so no error exit is involved.

#include <avif/avif.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "image/Array.h"

namespace lumetra {
namespace {

// libavif's bit depths; 16 would fit the RGB conversion, but AV1 stores at most 12 bits.
constexpr unsigned kLargestDepth = 12;

struct AvifDecoderFree {
    void operator()(avifDecoder* decoder) const { avifDecoderDestroy(decoder); }
};

// Frees what avifRGBImageAllocatePixels allocated.
class AvifRgbPixels {
  public:
    explicit AvifRgbPixels(avifRGBImage& rgb) : _rgb(rgb) {}
    ~AvifRgbPixels() { avifRGBImageFreePixels(&_rgb); }
    AvifRgbPixels(const AvifRgbPixels&) = delete;
    AvifRgbPixels& operator=(const AvifRgbPixels&) = delete;

  private:
    avifRGBImage& _rgb;
};

std::vector<std::uint8_t> readWholeFile(const ImageSource& source) {
    std::vector<std::uint8_t> bytes(source.size);
    std::rewind(source.file);
    if (std::fread(bytes.data(), 1, bytes.size(), source.file) != bytes.size()) {
        failToRead(source.path, "read error");
    }
    return bytes;
}

// What libavif said, with its own detail when it has one ("Box[ftyp] is too small").
std::string problem(const avifDecoder& decoder, avifResult result) {
    std::string text = avifResultToString(result);
    if (decoder.diag.error[0] != '\0') text += " (" + std::string(decoder.diag.error) + ")";
    return text;
}

// A libavif decoder of source's bytes, its container parsed and checked.
class AvifRead {
  public:
    explicit AvifRead(const ImageSource& source)
        : _source(source), _bytes(readWholeFile(source)), _decoder(avifDecoderCreate()) {
        if (!_decoder) failToRead(source.path, "out of memory");
        avifDecoder& decoder = *_decoder;
        // libavif refuses an image, and the AV1 decoder a frame, of more pixels than any file
        // may have (2^28); a caller's lower limit is checked below, with the message every
        // reader gives.  Each side is held to libavif's own limit (32768), which an AV1 frame
        // (at most 65536) and every camera picture stay within: without it a file of a few
        // hundred bytes can declare a 64 x 4194304 alpha plane for a small picture, which is
        // decoded and then scaled down row by row for minutes.
        decoder.imageSizeLimit = static_cast<std::uint32_t>(kMaxImagePixels);
        decoder.imageDimensionLimit = AVIF_DEFAULT_IMAGE_DIMENSION_LIMIT;
        decoder.ignoreXMP = AVIF_TRUE;
        avifResult result = avifDecoderSetIOMemory(&decoder, _bytes.data(), _bytes.size());
        if (result == AVIF_RESULT_OK) result = avifDecoderParse(&decoder);
        if (result == AVIF_RESULT_TRUNCATED_DATA) {
            failToRead(source.path, "file ends inside the AVIF boxes");
        }
        if (result != AVIF_RESULT_OK) {
            failToRead(source.path, "malformed AVIF file: " + problem(decoder, result));
        }
        const avifImage& image = *decoder.image;
        checkDimensions(source, image.width, image.height);
        if (image.depth != 8 && image.depth != 10 && image.depth != kLargestDepth) {
            failToRead(source.path, "unsupported AVIF bit depth " + std::to_string(image.depth) +
                                        " (8, 10 or 12)");
        }
        _header = {image.height, image.width, (1u << image.depth) - 1};
    }

    const ImageHeader& header() const { return _header; }

    ImageMetadata metadata() const {
        const avifImage& image = *_decoder->image;
        ImageMetadata metadata;
        metadata.iccProfile.assign(image.icc.data, image.icc.data + image.icc.size);
        // libavif gives "unspecified" (2/2/2) when neither the container nor the AV1 data
        // describes the colours.
        metadata.cicp = Cicp{static_cast<std::uint16_t>(image.colorPrimaries),
                             static_cast<std::uint16_t>(image.transferCharacteristics),
                             static_cast<std::uint16_t>(image.matrixCoefficients)};
        metadata.orientation = exifOrientation(image);
        if (_decoder->imageCount > 1) {
            metadata.readingNote = "animated AVIF: the first of " +
                                   std::to_string(_decoder->imageCount) + " frames is read";
        }
        return metadata;
    }

    RgbImage decode() {
        avifDecoder& decoder = *_decoder;
        const avifResult result = avifDecoderNextImage(&decoder);
        if (result == AVIF_RESULT_TRUNCATED_DATA) fail("file ends inside the pixel data");
        if (result != AVIF_RESULT_OK)
            fail("cannot decode the AVIF data: " + problem(decoder, result));
        const avifImage& image = *decoder.image;
        // The AV1 data must agree with the container the header was read from.
        if (image.width != _header.cols || image.height != _header.rows ||
            (1u << image.depth) - 1 != _header.maxval) {
            fail("the AV1 data's size or depth differs from the container's");
        }
        if (image.yuvPlanes[AVIF_CHAN_Y] == nullptr) fail("cannot decode the AVIF data (no image)");

        avifRGBImage rgb;
        avifRGBImageSetDefaults(&rgb, &image);
        // Always with alpha, which is dropped below: colours stored premultiplied by alpha are
        // divided back first, so that they are the colours a PNG would hold.  (Debian 12's
        // libavif 0.11 also converts a lossless file with alpha to other colours than it
        // stores when asked for three channels; the tests hold the four-channel path to the
        // source's samples.)
        rgb.format = AVIF_RGB_FORMAT_RGBA;
        rgb.alphaPremultiplied = AVIF_FALSE;
        rgb.depth = image.depth;
        avifRGBImageAllocatePixels(&rgb);
        const AvifRgbPixels freePixels(rgb);
        if (rgb.pixels == nullptr) fail("out of memory");
        const avifResult converted = avifImageYUVToRGB(&image, &rgb);
        if (converted != AVIF_RESULT_OK) {
            fail(std::string("cannot convert the AVIF data to RGB: ") +
                 avifResultToString(converted));
        }
        return planes(rgb, 4);
    }

  private:
    [[noreturn]] void fail(const std::string& what) const { failToRead(_source.path, what); }

    // The rotation ('irot', anticlockwise quarter turns) then the mirror ('imir', 0 top and
    // bottom exchanged, 1 left and right) as the one EXIF orientation that does the same.
    static std::uint16_t exifOrientation(const avifImage& image) {
        const bool rotated = (image.transformFlags & AVIF_TRANSFORM_IROT) != 0;
        const bool mirrored = (image.transformFlags & AVIF_TRANSFORM_IMIR) != 0;
        const unsigned turns = rotated ? image.irot.angle % 4 : 0;
        constexpr std::uint16_t kTurnedOnly[] = {1, 8, 3, 6};
        constexpr std::uint16_t kTurnedThenFlippedUpDown[] = {4, 5, 2, 7};
        constexpr std::uint16_t kTurnedThenFlippedLeftRight[] = {2, 7, 4, 5};
        if (!mirrored) return kTurnedOnly[turns];
        return image.imir.mode == 0 ? kTurnedThenFlippedUpDown[turns]
                                    : kTurnedThenFlippedLeftRight[turns];
    }

    // Interleaved samples of `channels` per pixel (the first three R, G, B) into three planes.
    RgbImage planes(const avifRGBImage& rgb, unsigned channels) const {
        const std::uint32_t rows = _header.rows, cols = _header.cols;
        Array<unsigned> red(rows, cols, _source.pool, kUninitialised);
        Array<unsigned> green(rows, cols, _source.pool, kUninitialised);
        Array<unsigned> blue(rows, cols, _source.pool, kUninitialised);
        const bool wide = rgb.depth > 8;
        for (std::uint32_t y = 0; y < rows; ++y) {
            const std::uint8_t* const row = rgb.pixels + std::size_t{y} * rgb.rowBytes;
            for (std::uint32_t x = 0; x < cols; ++x) {
                const std::size_t at = std::size_t{x} * channels;
                if (wide) {
                    // libavif's own uint16_t samples, in the machine's order.
                    const auto* samples = reinterpret_cast<const std::uint16_t*>(row);
                    red(y, x) = samples[at];
                    green(y, x) = samples[at + 1];
                    blue(y, x) = samples[at + 2];
                } else {
                    red(y, x) = row[at];
                    green(y, x) = row[at + 1];
                    blue(y, x) = row[at + 2];
                }
            }
        }
        return RgbImage(std::move(red), std::move(green), std::move(blue), _header.maxval);
    }

    const ImageSource& _source;
    std::vector<std::uint8_t> _bytes;  // read by the decoder until it is destroyed
    std::unique_ptr<avifDecoder, AvifDecoderFree> _decoder;
    ImageHeader _header;
};

}  // namespace

ImageHeader readAvifHeader(const ImageSource& source) {
    return AvifRead(source).header();
}

DecodedImage readAvif(const ImageSource& source) {
    AvifRead read(source);
    return decodedBy(read);
}

}  // namespace lumetra
