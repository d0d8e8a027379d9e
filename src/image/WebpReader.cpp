#include "image/WebpReader.h"

// WebP through libwebp's decoder.
//
// libwebp decodes from memory, so the file is read whole; the header (the RIFF chunks up to the
// bitstream's own header) is read from the first bytes alone, and the size is checked against
// the pixel limit before the file is read whole or a pixel allocated.  The decoder writes RGB
// into a buffer of ours and reports every failure as a status, so no error exit is involved.
// An animated file goes through libwebp's animation decoder instead, which composes the first
// frame onto the canvas the file declares (the header's size).

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "image/Array.h"
#include "image/ImageMetadata.h"

namespace lumetra {
namespace {

constexpr unsigned k8BitMaxval = 255;
constexpr std::size_t kRgbChannels = 3;
// Enough for the RIFF header, a VP8X chunk and the header of the bitstream after it; a file
// with large metadata chunks before the bitstream is read further (see readFeatures).
constexpr std::size_t kHeaderBytes = 4096;
// A RIFF file's length field has 32 bits.
constexpr std::uint64_t kLargestRiffFile = (std::uint64_t{1} << 32) + 8;

std::vector<std::uint8_t> readBytes(const ImageSource& source, std::uint64_t count) {
    std::vector<std::uint8_t> bytes(count);
    std::rewind(source.file);
    if (std::fread(bytes.data(), 1, bytes.size(), source.file) != bytes.size()) {
        failToRead(source.path, "read error");
    }
    return bytes;
}

// The features of the file: first from its first bytes, then, when libwebp needs more
// (metadata chunks ahead of the bitstream), from the whole file.
WebPBitstreamFeatures readFeatures(const ImageSource& source) {
    if (source.size > kLargestRiffFile) failToRead(source.path, "file too large for a WebP file");
    WebPBitstreamFeatures features{};
    std::vector<std::uint8_t> bytes =
        readBytes(source, std::min<std::uint64_t>(source.size, kHeaderBytes));
    VP8StatusCode status = WebPGetFeatures(bytes.data(), bytes.size(), &features);
    if (status == VP8_STATUS_NOT_ENOUGH_DATA && bytes.size() < source.size) {
        bytes = readBytes(source, source.size);
        status = WebPGetFeatures(bytes.data(), bytes.size(), &features);
    }
    if (status == VP8_STATUS_NOT_ENOUGH_DATA)
        failToRead(source.path, "file ends inside the header");
    if (status != VP8_STATUS_OK) failToRead(source.path, "malformed WebP header");
    checkDimensions(source, static_cast<std::uint64_t>(std::max(features.width, 0)),
                    static_cast<std::uint64_t>(std::max(features.height, 0)));
    return features;
}

// The ICCP and EXIF chunks of an extended (VP8X) file.  RIFF chunks are a four-letter name, a
// little-endian 32-bit length and the data, padded to an even length; every length is checked
// against the bytes left, and a chunk that runs past the end ends the walk with a problem.
ImageMetadata metadataOfChunks(const std::vector<std::uint8_t>& bytes) {
    constexpr std::size_t kRiffHeader = 12, kChunkHeader = 8;
    ImageMetadata metadata;
    std::size_t at = kRiffHeader;
    while (at + kChunkHeader <= bytes.size()) {
        const std::uint8_t* chunk = bytes.data() + at;
        const std::uint64_t length = std::uint64_t{chunk[4]} | std::uint64_t{chunk[5]} << 8 |
                                     std::uint64_t{chunk[6]} << 16 | std::uint64_t{chunk[7]} << 24;
        const std::size_t dataAt = at + kChunkHeader;
        if (length > bytes.size() - dataAt) {
            const std::string name(reinterpret_cast<const char*>(chunk), 4);
            if (name == "ICCP" || name == "EXIF") {
                metadata.problems.push_back("WebP " + name +
                                            " chunk runs past the end of the file; ignored");
            }
            break;
        }
        const std::uint8_t* data = bytes.data() + dataAt;
        if (std::memcmp(chunk, "ICCP", 4) == 0 && metadata.iccProfile.empty()) {
            metadata.iccProfile.assign(data, data + length);
        } else if (std::memcmp(chunk, "EXIF", 4) == 0) {
            takeExifOrientation(metadata, data, length);
        }
        at = dataAt + length + (length & 1);
    }
    return metadata;
}

std::string decodeProblem(VP8StatusCode status) {
    switch (status) {
        case VP8_STATUS_NOT_ENOUGH_DATA:
            return "file ends inside the pixel data";
        case VP8_STATUS_OUT_OF_MEMORY:
            return "out of memory";
        case VP8_STATUS_UNSUPPORTED_FEATURE:
            return "cannot decode the WebP data (a feature libwebp does not support)";
        default:
            return "cannot decode the WebP data (corrupt bitstream)";
    }
}

// Frees what the decoder allocated for itself (none with an external buffer, but its
// contract asks for the call on every path).
class WebpOutputGuard {
  public:
    explicit WebpOutputGuard(WebPDecBuffer& buffer) : _buffer(buffer) {}
    ~WebpOutputGuard() { WebPFreeDecBuffer(&_buffer); }
    WebpOutputGuard(const WebpOutputGuard&) = delete;
    WebpOutputGuard& operator=(const WebpOutputGuard&) = delete;

  private:
    WebPDecBuffer& _buffer;
};

struct WebpAnimationFree {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

// The first frame of an animated file, as shown: composed onto its canvas, alpha dropped.
RgbImage readFirstFrame(const ImageSource& source, const WebPBitstreamFeatures& features,
                        const std::vector<std::uint8_t>& bytes) {
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) failToRead(source.path, "libwebp version mismatch");
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    const WebPData data{bytes.data(), bytes.size()};
    const std::unique_ptr<WebPAnimDecoder, WebpAnimationFree> decoder(
        WebPAnimDecoderNew(&data, &options));
    if (!decoder) failToRead(source.path, "cannot decode the WebP data (corrupt animation)");
    WebPAnimInfo info;
    if (!WebPAnimDecoderGetInfo(decoder.get(), &info) ||
        info.canvas_width != static_cast<std::uint32_t>(features.width) ||
        info.canvas_height != static_cast<std::uint32_t>(features.height)) {
        failToRead(source.path, "unexpected WebP output layout");
    }
    std::uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) || canvas == nullptr) {
        failToRead(source.path, "cannot decode the WebP data (corrupt first frame)");
    }
    const std::size_t pixels = std::size_t{info.canvas_width} * info.canvas_height;
    std::vector<std::uint8_t> rgb(pixels * kRgbChannels);
    for (std::size_t i = 0; i < pixels; ++i) {
        std::copy_n(canvas + 4 * i, kRgbChannels, rgb.data() + kRgbChannels * i);
    }
    return interleavedRgb8(source, rgb.data(), info.canvas_height, info.canvas_width);
}

constexpr const char* kAnimatedNote = "animated WebP: the first frame is read";

// A WebP file read whole, its features read and checked.
class WebpRead {
  public:
    explicit WebpRead(const ImageSource& source)
        : _source(source),
          _features(readFeatures(source)),
          _bytes(readBytes(source, source.size)) {}

    // The chunks' profile and orientation; for an animation, that its first frame is read.
    ImageMetadata metadata() const {
        ImageMetadata metadata = metadataOfChunks(_bytes);
        if (_features.has_animation) metadata.readingNote = kAnimatedNote;
        return metadata;
    }

    RgbImage decode() const {
        if (_features.has_animation) return readFirstFrame(_source, _features, _bytes);
        const auto rows = static_cast<std::uint32_t>(_features.height);
        const auto cols = static_cast<std::uint32_t>(_features.width);
        const std::size_t rowBytes = std::size_t{cols} * kRgbChannels;
        std::vector<std::uint8_t> pixels(rowBytes * rows);

        WebPDecoderConfig config;
        if (!WebPInitDecoderConfig(&config)) failToRead(_source.path, "libwebp version mismatch");
        const WebpOutputGuard guard(config.output);
        config.output.colorspace = MODE_RGB;  // alpha, if any, is dropped
        config.output.is_external_memory = 1;
        config.output.u.RGBA.rgba = pixels.data();
        config.output.u.RGBA.stride = static_cast<int>(rowBytes);
        config.output.u.RGBA.size = pixels.size();
        const VP8StatusCode status = WebPDecode(_bytes.data(), _bytes.size(), &config);
        if (status != VP8_STATUS_OK) failToRead(_source.path, decodeProblem(status));
        if (config.output.width != _features.width || config.output.height != _features.height) {
            failToRead(_source.path, "unexpected WebP output layout");
        }
        return interleavedRgb8(_source, pixels.data(), rows, cols);
    }

  private:
    const ImageSource& _source;
    WebPBitstreamFeatures _features;
    std::vector<std::uint8_t> _bytes;
};

}  // namespace

ImageHeader readWebpHeader(const ImageSource& source) {
    const WebPBitstreamFeatures features = readFeatures(source);
    return {static_cast<std::uint32_t>(features.height), static_cast<std::uint32_t>(features.width),
            k8BitMaxval};
}

DecodedImage readWebp(const ImageSource& source) {
    const WebpRead read(source);
    return decodedBy(read);
}

}  // namespace lumetra
