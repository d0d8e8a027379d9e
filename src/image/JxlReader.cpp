#include "image/JxlReader.h"

// JPEG XL through libjxl's decoder.
//
// The decoder is fed the whole file at once and reports events: the basic information (size,
// bit depth, orientation, animation), the colour encoding, then what the frame needs (a JPEG
// buffer for a recompressed JPEG, else an output buffer for the pixels).  The size is checked
// against the pixel limit at the first event, before the decoder reads any frame.  Every
// failure comes back as a status, so no error exit is involved.

#include <jxl/decode.h>
#include <jxl/encode.h>  // JxlColorEncodingSetToSRGB

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "image/Array.h"
#include "image/JpegReader.h"

namespace lumetra {
namespace {

constexpr unsigned k8BitMaxval = 255;
constexpr unsigned k16BitMaxval = 65535;
// The reconstructed JPEG's buffer starts at this many times the file's size and doubles; a
// JPEG larger than this many bytes per sample is not one an encoder wrote, and is refused
// rather than given gigabytes.
constexpr std::uint64_t kJpegStartRatio = 2;
constexpr std::uint64_t kSmallestJpegBuffer = 4096;
constexpr std::uint64_t kLargestJpegBytesPerSample = 4;
constexpr std::uint64_t kJpegSlack = std::uint64_t{1} << 20;

struct JxlDecoderFree {
    void operator()(JxlDecoder* decoder) const { JxlDecoderDestroy(decoder); }
};
struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::vector<std::uint8_t> readWholeFile(const ImageSource& source) {
    std::vector<std::uint8_t> bytes(source.size);
    std::rewind(source.file);
    if (std::fread(bytes.data(), 1, bytes.size(), source.file) != bytes.size()) {
        failToRead(source.path, "read error");
    }
    return bytes;
}

// A libjxl decoder of source's bytes, run up to the end of the image's header.
class JxlRead {
  public:
    explicit JxlRead(const ImageSource& source)
        : _source(source), _bytes(readWholeFile(source)), _decoder(JxlDecoderCreate(nullptr)) {
        JxlDecoder* const decoder = _decoder.get();
        if (!decoder) fail("out of memory");
        const int events = JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE |
                           JXL_DEC_JPEG_RECONSTRUCTION;
        if (JxlDecoderSubscribeEvents(decoder, events) != JXL_DEC_SUCCESS ||
            JxlDecoderSetKeepOrientation(decoder, JXL_TRUE) != JXL_DEC_SUCCESS ||
            JxlDecoderSetUnpremultiplyAlpha(decoder, JXL_TRUE) != JXL_DEC_SUCCESS ||
            JxlDecoderSetInput(decoder, _bytes.data(), _bytes.size()) != JXL_DEC_SUCCESS) {
            fail("cannot set up the JPEG XL decoder");
        }
        JxlDecoderCloseInput(decoder);

        expect(next(), JXL_DEC_BASIC_INFO, "malformed JPEG XL header");
        if (JxlDecoderGetBasicInfo(decoder, &_info) != JXL_DEC_SUCCESS) {
            fail("malformed JPEG XL header");
        }
        checkDimensions(source, _info.xsize, _info.ysize);
        if (_info.num_color_channels != 1 && _info.num_color_channels != 3) {
            fail("malformed JPEG XL header (colour channels)");
        }
        _header = {_info.ysize, _info.xsize,
                   _info.bits_per_sample <= 8 && _info.exponent_bits_per_sample == 0
                       ? k8BitMaxval
                       : k16BitMaxval};

        expect(next(), JXL_DEC_COLOR_ENCODING, "malformed JPEG XL colour encoding");
        chooseOutputColours();
    }

    const ImageHeader& header() const { return _header; }

    ImageMetadata metadata() const {
        ImageMetadata metadata;
        metadata.iccProfile = _iccProfile;
        metadata.orientation = static_cast<std::uint16_t>(_info.orientation);
        if (_info.have_animation) {
            metadata.readingNote = "animated JPEG XL: the first frame is read";
        }
        return metadata;
    }

    RgbImage decode() {
        JxlDecoder* const decoder = _decoder.get();
        const JxlPixelFormat format{
            _info.num_color_channels,
            _header.maxval == k8BitMaxval ? JXL_TYPE_UINT8 : JXL_TYPE_UINT16, JXL_NATIVE_ENDIAN, 0};
        std::vector<std::uint8_t> pixels;
        std::vector<std::uint8_t> jpeg;
        std::size_t jpegWritten = 0;
        for (;;) {
            const JxlDecoderStatus status = next();
            switch (status) {
                case JXL_DEC_JPEG_RECONSTRUCTION:
                    // A JPEG holds 8-bit samples: a file that declares a deeper image and
                    // carries JPEG data too is read from its pixels, which match its header.
                    if (_header.maxval != k8BitMaxval) break;
                    jpeg.resize(std::max(_bytes.size() * kJpegStartRatio, kSmallestJpegBuffer));
                    if (JxlDecoderSetJPEGBuffer(decoder, jpeg.data(), jpeg.size()) !=
                        JXL_DEC_SUCCESS) {
                        fail("cannot decode the JPEG XL data (JPEG reconstruction)");
                    }
                    break;
                case JXL_DEC_JPEG_NEED_MORE_OUTPUT: {
                    jpegWritten = jpeg.size() - JxlDecoderReleaseJPEGBuffer(decoder);
                    if (jpeg.size() > largestJpeg()) fail("recompressed JPEG too large");
                    jpeg.resize(jpeg.size() * 2);
                    if (JxlDecoderSetJPEGBuffer(decoder, jpeg.data() + jpegWritten,
                                                jpeg.size() - jpegWritten) != JXL_DEC_SUCCESS) {
                        fail("cannot decode the JPEG XL data (JPEG reconstruction)");
                    }
                    break;
                }
                case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
                    std::size_t size = 0;
                    if (JxlDecoderImageOutBufferSize(decoder, &format, &size) != JXL_DEC_SUCCESS ||
                        size != expectedBytes(format)) {
                        fail("unexpected JPEG XL output layout");
                    }
                    pixels.resize(size);
                    if (JxlDecoderSetImageOutBuffer(decoder, &format, pixels.data(), size) !=
                        JXL_DEC_SUCCESS) {
                        fail("unexpected JPEG XL output layout");
                    }
                    break;
                }
                case JXL_DEC_FULL_IMAGE:
                    if (!jpeg.empty()) {
                        jpeg.resize(jpeg.size() - JxlDecoderReleaseJPEGBuffer(decoder));
                        return fromJpeg(jpeg);
                    }
                    if (pixels.empty()) fail("cannot decode the JPEG XL data (no image)");
                    return planes(pixels, format);
                case JXL_DEC_NEED_MORE_INPUT:
                    fail("file ends inside the pixel data");
                case JXL_DEC_SUCCESS:
                    fail("cannot decode the JPEG XL data (no frame)");
                default:
                    fail("cannot decode the JPEG XL data (corrupt codestream)");
            }
        }
    }

  private:
    [[noreturn]] void fail(const std::string& what) const { failToRead(_source.path, what); }

    JxlDecoderStatus next() { return JxlDecoderProcessInput(_decoder.get()); }

    void expect(JxlDecoderStatus status, JxlDecoderStatus wanted, const std::string& what) {
        if (status == wanted) return;
        if (status == JXL_DEC_NEED_MORE_INPUT) fail("file ends inside the header");
        fail(what);
    }

    // Keeps the file's own ICC profile, and asks for pixels in the file's own colour space
    // where the decoder has a choice (a file coded in its internal colour space); there it
    // would otherwise give linear light, which is not what a screen shows.
    void chooseOutputColours() {
        JxlDecoder* const decoder = _decoder.get();
        JxlColorEncoding declared{};
        const bool named =
            JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL,
                                               &declared) == JXL_DEC_SUCCESS;
        std::size_t iccSize = 0;
        if (!named &&
            JxlDecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL,
                                        &iccSize) == JXL_DEC_SUCCESS) {
            _iccProfile.resize(iccSize);
            if (JxlDecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL,
                                               _iccProfile.data(), iccSize) != JXL_DEC_SUCCESS) {
                _iccProfile.clear();
            }
        }
        if (_info.uses_original_profile) return;
        const bool grey = _info.num_color_channels == 1;
        JxlColorEncoding wanted{};
        const bool usable = named && (declared.color_space == JXL_COLOR_SPACE_RGB ||
                                      declared.color_space == JXL_COLOR_SPACE_GRAY);
        if (usable && (declared.color_space == JXL_COLOR_SPACE_GRAY) == grey) {
            wanted = declared;
        } else {
            JxlColorEncodingSetToSRGB(&wanted, grey ? JXL_TRUE : JXL_FALSE);
        }
        if (JxlDecoderSetPreferredColorProfile(decoder, &wanted) != JXL_DEC_SUCCESS) {
            fail("cannot decode the JPEG XL data (colour encoding)");
        }
    }

    std::size_t expectedBytes(const JxlPixelFormat& format) const {
        const std::size_t sampleBytes = format.data_type == JXL_TYPE_UINT8 ? 1 : 2;
        return std::size_t{_header.rows} * _header.cols * format.num_channels * sampleBytes;
    }

    std::uint64_t largestJpeg() const {
        return std::uint64_t{_header.rows} * _header.cols * 3 * kLargestJpegBytesPerSample +
               kJpegSlack;
    }

    // The JPEG the file was made from, read by the JPEG reader as if it were the file.
    RgbImage fromJpeg(std::vector<std::uint8_t>& jpeg) const {
        const std::unique_ptr<std::FILE, FileClose> file(fmemopen(jpeg.data(), jpeg.size(), "rb"));
        if (!file) fail("out of memory");
        const ImageSource inner{_source.path, file.get(), jpeg.size(), _source.maxPixels,
                                _source.pool};
        RgbImage image = readJpeg(inner).pixels;
        if (image.rows() != _header.rows || image.cols() != _header.cols) {
            fail("the recompressed JPEG's size differs from the JPEG XL header's");
        }
        return image;
    }

    // Interleaved samples (one or three per pixel, 8 or 16-bit in the machine's order) into
    // three planes.
    RgbImage planes(const std::vector<std::uint8_t>& pixels, const JxlPixelFormat& format) const {
        const std::uint32_t rows = _header.rows, cols = _header.cols;
        Array<unsigned> red(rows, cols, _source.pool, kUninitialised);
        Array<unsigned> green(rows, cols, _source.pool, kUninitialised);
        Array<unsigned> blue(rows, cols, _source.pool, kUninitialised);
        const std::size_t channels = format.num_channels;
        const bool wide = format.data_type == JXL_TYPE_UINT16;
        const auto sample = [&](std::size_t i) -> unsigned {
            if (!wide) return pixels[i];
            std::uint16_t value = 0;
            std::memcpy(&value, pixels.data() + 2 * i, sizeof value);
            return value;
        };
        for (std::size_t i = 0, n = red.size(); i < n; ++i) {
            const std::size_t at = i * channels;
            red.data()[i] = sample(at);
            green.data()[i] = sample(channels == 1 ? at : at + 1);
            blue.data()[i] = sample(channels == 1 ? at : at + 2);
        }
        return RgbImage(std::move(red), std::move(green), std::move(blue), _header.maxval);
    }

    const ImageSource& _source;
    std::vector<std::uint8_t> _bytes;  // read by the decoder until it is destroyed
    std::unique_ptr<JxlDecoder, JxlDecoderFree> _decoder;
    JxlBasicInfo _info{};
    ImageHeader _header;
    std::vector<std::uint8_t> _iccProfile;
};

}  // namespace

ImageHeader readJxlHeader(const ImageSource& source) {
    return JxlRead(source).header();
}

DecodedImage readJxl(const ImageSource& source) {
    JxlRead read(source);
    return decodedBy(read);
}

}  // namespace lumetra
