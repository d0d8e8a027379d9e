#include "image/PngReader.h"

// PNG through libpng.
//
// libpng reports errors through a callback that must not return; it longjmp()s to the
// png_jmpbuf() of the read.  Every libpng call therefore runs inside runPngStep(), whose
// setjmp() frame holds only trivial locals, and everything the calls read or write lives in a
// plain PngCall outside that frame, so a longjmp() skips no C++ destructor.  PngGuard frees the
// libpng structures on every path.  The file is read through our own callback, so a file that
// ends early is told apart from a corrupt one and named as such, with the part it ends in.

#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "image/Array.h"
#include "image/ImageMetadata.h"

namespace lumetra {
namespace {

constexpr unsigned k8BitMaxval = 255;
constexpr unsigned k16BitMaxval = 65535;
constexpr int kSixteenBits = 16;
constexpr std::size_t kRgbChannels = 3;
// libpng's own width and height limits (a million) are lifted: RgbImage::kMaxPixels decides.
constexpr png_uint_32 kLargestPngDimension = 0x7fffffff;
constexpr std::size_t kMessageLength = 200;
// The most deflate can expand its input: a length-258 match coded in two bits, so 1032 bytes
// out per byte in.  The image data, one filter byte and the stored samples per row, cannot be
// longer than this many times the file.
constexpr std::uint64_t kLargestDeflateRatio = 1032;
// gAMA and cHRM hold their numbers times 100000.
constexpr double kPngFixedPointUnit = 100000.0;

enum class PngPhase { Header, Pixels };

// Everything the libpng calls share, kept outside the setjmp() frame: plain data only.
struct PngCall {
    std::FILE* file;
    png_structp png;
    png_infop info;
    PngPhase phase;
    bool endOfFile;  // the read callback found the file shorter than libpng asked for
    char message[kMessageLength];
    png_uint_32 width;
    png_uint_32 height;
    int bitDepth;
    png_bytepp rows;  // one pointer per row into the caller's interleaved buffer
    // The first warning about a colour or EXIF chunk (libpng drops such a chunk and goes on).
    char metadataWarning[kMessageLength];
};

void onPngError(png_structp png, png_const_charp message) {
    auto* call = static_cast<PngCall*>(png_get_error_ptr(png));
    std::snprintf(call->message, sizeof call->message, "%s", message);
    png_longjmp(png, 1);
}

// Warnings (an unknown ancillary chunk, a bad CRC in one that is then dropped) do not change
// the pixels; libpng would print them, so they are dropped here, except the first about a
// chunk that declares colours or orientation ("iCCP: ..."), which the metadata's problems say.
void onPngWarning(png_structp png, png_const_charp message) {
    auto* call = static_cast<PngCall*>(png_get_error_ptr(png));
    constexpr const char* kMetadataChunks[] = {"iCCP", "sRGB", "gAMA", "cHRM", "eXIf"};
    constexpr std::size_t kChunkNameLength = 4;
    if (call->metadataWarning[0] != '\0') return;
    for (const char* chunk : kMetadataChunks) {
        if (std::strncmp(message, chunk, kChunkNameLength) == 0) {
            std::snprintf(call->metadataWarning, sizeof call->metadataWarning, "%s", message);
        }
    }
}

void readPngBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* call = static_cast<PngCall*>(png_get_io_ptr(png));
    if (std::fread(data, 1, length, call->file) != length) {
        call->endOfFile = std::feof(call->file) != 0;
        png_error(png, call->endOfFile ? "file ends early" : "read error");
    }
}

void readInfoStep(PngCall& call) {
    png_set_read_fn(call.png, &call, readPngBytes);
    png_set_user_limits(call.png, kLargestPngDimension, kLargestPngDimension);
    png_read_info(call.png, call.info);
    call.width = png_get_image_width(call.png, call.info);
    call.height = png_get_image_height(call.png, call.info);
    call.bitDepth = png_get_bit_depth(call.png, call.info);
}

// Asks libpng for 8 or 16-bit RGB without alpha, whatever the stored colour type.
void setTransformsStep(PngCall& call) {
    const int colourType = png_get_color_type(call.png, call.info);
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(call.png);
    if (colourType == PNG_COLOR_TYPE_GRAY && call.bitDepth < 8) {
        png_set_expand_gray_1_2_4_to_8(call.png);
    }
    if ((colourType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(call.png);
    png_set_strip_alpha(call.png);
    png_set_interlace_handling(call.png);
    png_read_update_info(call.png, call.info);
}

void readPixelsStep(PngCall& call) {
    png_read_image(call.png, call.rows);
    png_read_end(call.png, nullptr);  // reads on to IEND, so a cut after the pixels shows
}

// Runs one step with libpng's error exit leading back here.  Returns false when libpng
// reported an error.  Only trivially destructible locals live in this frame.
bool runPngStep(void (*step)(PngCall&), PngCall& call) {
    if (setjmp(png_jmpbuf(call.png)) != 0) return false;
    step(call);
    return true;
}

// Frees the libpng structures on every path.
class PngGuard {
  public:
    explicit PngGuard(PngCall& call) : _call(call) {}
    ~PngGuard() { png_destroy_read_struct(&_call.png, &_call.info, nullptr); }
    PngGuard(const PngGuard&) = delete;
    PngGuard& operator=(const PngGuard&) = delete;

  private:
    PngCall& _call;
};

[[noreturn]] void failPng(const ImageSource& source, const PngCall& call) {
    if (call.endOfFile) {
        failToRead(source.path, call.phase == PngPhase::Header ? "file ends inside the header"
                                                               : "file ends inside the pixel data");
    }
    failToRead(source.path,
               std::string(call.phase == PngPhase::Header ? "malformed PNG header ("
                                                          : "cannot decode the PNG data (") +
                   call.message + ")");
}

// A libpng read of source, its header read and checked; the guard frees it.
class PngRead {
  public:
    explicit PngRead(const ImageSource& source) : _source(source), _call{}, _guard(_call) {
        _call.file = source.file;
        _call.phase = PngPhase::Header;
        _call.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &_call, onPngError, onPngWarning);
        if (_call.png == nullptr) failToRead(source.path, "out of memory");
        _call.info = png_create_info_struct(_call.png);
        if (_call.info == nullptr) failToRead(source.path, "out of memory");
        if (!runPngStep(readInfoStep, _call)) failPng(source, _call);
        checkDimensions(source, _call.width, _call.height);
        // A header that declares far more pixels than the file could hold, however well they
        // compress, is refused before the pixels are allocated (a 150-byte file must not cost
        // gigabytes).  Interlacing only adds filter bytes, so the plain layout is the least.
        const std::uint64_t storedRowBytes = png_get_rowbytes(_call.png, _call.info);
        if ((storedRowBytes + 1) * _call.height > source.size * kLargestDeflateRatio) {
            failToRead(source.path, "file ends inside the pixel data");
        }
    }

    ImageHeader header() const {
        return {_call.height, _call.width,
                _call.bitDepth == kSixteenBits ? k16BitMaxval : k8BitMaxval};
    }

    DecodedImage decode() {
        if (!runPngStep(setTransformsStep, _call)) failPng(_source, _call);
        const std::size_t bytesPerSample = _call.bitDepth == kSixteenBits ? 2 : 1;
        const std::size_t rowBytes = _call.width * kRgbChannels * bytesPerSample;
        if (png_get_rowbytes(_call.png, _call.info) != rowBytes) {
            failToRead(_source.path, "unexpected PNG row layout");
        }
        std::vector<png_byte> pixels(rowBytes * _call.height);
        std::vector<png_bytep> rows(_call.height);
        for (std::size_t r = 0; r < rows.size(); ++r) rows[r] = pixels.data() + r * rowBytes;
        _call.rows = rows.data();
        _call.phase = PngPhase::Pixels;
        if (!runPngStep(readPixelsStep, _call)) failPng(_source, _call);
        return {toPlanes(pixels.data(), bytesPerSample), metadata()};
    }

  private:
    // What the chunks before the image data declare.  An eXIf chunk after the image data is not
    // read (the pixels' read skips such chunks).
    ImageMetadata metadata() const {
        ImageMetadata metadata;
        png_structp png = _call.png;
        png_infop info = _call.info;
        png_charp name = nullptr;
        int compression = 0;
        png_bytep profile = nullptr;
        png_uint_32 profileLength = 0;
        if (png_get_iCCP(png, info, &name, &compression, &profile, &profileLength) != 0 &&
            profile != nullptr) {
            metadata.iccProfile.assign(profile, profile + profileLength);
        }
        int intent = 0;
        metadata.srgbChunk = png_get_sRGB(png, info, &intent) != 0;
        png_fixed_point gamma = 0;
        if (png_get_gAMA_fixed(png, info, &gamma) != 0 && gamma > 0) {
            metadata.gamma = gamma / kPngFixedPointUnit;
        }
        png_fixed_point c[8] = {};
        if (png_get_cHRM_fixed(png, info, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6], &c[7]) !=
            0) {
            const auto at = [&](int i) { return c[i] / kPngFixedPointUnit; };
            metadata.chromaticities =
                Chromaticities{at(0), at(1), at(2), at(3), at(4), at(5), at(6), at(7)};
        }
        png_uint_32 exifLength = 0;
        png_bytep exif = nullptr;
        if (png_get_eXIf_1(png, info, &exifLength, &exif) != 0 && exif != nullptr) {
            takeExifOrientation(metadata, exif, exifLength);
        }
        if (_call.metadataWarning[0] != '\0') {
            metadata.problems.push_back(std::string("PNG ") + _call.metadataWarning +
                                        "; the chunk is ignored");
        }
        return metadata;
    }

    // Interleaved RGB samples (16-bit ones big-endian, as PNG stores them) into three planes.
    RgbImage toPlanes(const png_byte* p, std::size_t bytesPerSample) const {
        const std::uint32_t rows = _call.height, cols = _call.width;
        Array<unsigned> red(rows, cols, _source.pool), green(rows, cols, _source.pool),
            blue(rows, cols, _source.pool);
        unsigned* const planes[kRgbChannels] = {red.data(), green.data(), blue.data()};
        const std::size_t count = std::size_t{rows} * cols;
        for (std::size_t i = 0; i < count; ++i) {
            for (unsigned* plane : planes) {
                plane[i] = bytesPerSample == 2 ? unsigned{p[0]} << 8 | p[1] : unsigned{p[0]};
                p += bytesPerSample;
            }
        }
        const unsigned maxval = bytesPerSample == 2 ? k16BitMaxval : k8BitMaxval;
        return RgbImage(std::move(red), std::move(green), std::move(blue), maxval);
    }

    const ImageSource& _source;
    PngCall _call;
    PngGuard _guard;
};

}  // namespace

ImageHeader readPngHeader(const ImageSource& source) {
    return PngRead(source).header();
}

DecodedImage readPng(const ImageSource& source) {
    return PngRead(source).decode();
}

}  // namespace lumetra
