#include "image/TiffReader.h"

// TIFF through libtiff.
//
// The file is read through our own callbacks on the open FILE*, and libtiff's errors and
// warnings go to handlers of this read (no process-wide hook): errors are kept for the message,
// warnings (an unknown tag, a deprecated field) leave the pixels alone and are dropped.
// Everything the model cannot read is refused from the first directory, before any pixel is
// allocated; what passes is decoded strip by strip or tile by tile into the three planes.

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
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
constexpr unsigned k16BitMaxval = 65535;
constexpr std::size_t kMessageLength = 200;
// Most samples per pixel taken (RGB with a few extra ones); more is no picture for the model.
constexpr std::uint16_t kMostSamplesPerPixel = 8;
// Tiles come in multiples of 16 pixels; one larger than the image rounded up to that is not
// written by any encoder and would only make the decode buffer large.
constexpr std::uint64_t kTileGranule = 16;
// The most one single allocation inside libtiff may take (its directory arrays, the compressed
// bytes of a strip): a hostile directory must not cost gigabytes.
constexpr tmsize_t kLargestLibtiffAllocation = tmsize_t{1} << 30;
// The most each compression can expand its input: deflate 1032 to 1 (see PngReader), LZW at
// most 4096 bytes for a code of at least 9 bits, PackBits 128 bytes for 2.
constexpr std::uint64_t kDeflateRatio = 1032;
constexpr std::uint64_t kLzwRatio = 4096 * 8 / 9 + 1;
constexpr std::uint64_t kPackBitsRatio = 64;

// What the libtiff callbacks share: the file and the first error libtiff reported.
struct TiffCall {
    std::FILE* file;
    std::uint64_t size;
    char message[kMessageLength];
};

tmsize_t readTiffBytes(thandle_t handle, void* data, tmsize_t count) {
    auto* call = static_cast<TiffCall*>(handle);
    if (count <= 0) return 0;
    return static_cast<tmsize_t>(std::fread(data, 1, static_cast<std::size_t>(count), call->file));
}

tmsize_t writeNoTiffBytes(thandle_t, void*, tmsize_t) {
    return 0;
}

toff_t seekTiff(thandle_t handle, toff_t offset, int whence) {
    auto* call = static_cast<TiffCall*>(handle);
    if (offset > static_cast<toff_t>(INT64_MAX)) return static_cast<toff_t>(-1);
    if (fseeko(call->file, static_cast<off_t>(offset), whence) != 0) {
        return static_cast<toff_t>(-1);
    }
    return static_cast<toff_t>(ftello(call->file));
}

int closeNothing(thandle_t) {
    return 0;  // the file belongs to the caller
}

toff_t tiffSize(thandle_t handle) {
    return static_cast<TiffCall*>(handle)->size;
}

int mapNothing(thandle_t, void**, toff_t*) {
    return 0;
}

void unmapNothing(thandle_t, void*, toff_t) {}

int onTiffError(TIFF*, void* data, const char*, const char* format, va_list args) {
    auto* call = static_cast<TiffCall*>(data);
    if (call->message[0] == '\0') std::vsnprintf(call->message, sizeof call->message, format, args);
    return 1;  // handled: libtiff's own handler prints nothing
}

int onTiffWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct TiffOptionsFree {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};
struct TiffClose {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

std::string photometricName(std::uint16_t photometric) {
    switch (photometric) {
        case PHOTOMETRIC_PALETTE:
            return "palette (colour map) TIFF";
        case PHOTOMETRIC_MASK:
            return "transparency mask TIFF";
        case PHOTOMETRIC_SEPARATED:
            return "separated (ink) TIFF";
        case PHOTOMETRIC_YCBCR:
            return "YCbCr TIFF";
        case PHOTOMETRIC_CIELAB:
        case PHOTOMETRIC_ICCLAB:
        case PHOTOMETRIC_ITULAB:
            return "CIE L*a*b* TIFF";
        case PHOTOMETRIC_LOGL:
        case PHOTOMETRIC_LOGLUV:
            return "LogLuv TIFF";
        default:
            return "TIFF of photometric interpretation " + std::to_string(photometric);
    }
}

std::string sampleFormatName(std::uint16_t format, std::uint16_t bits) {
    switch (format) {
        case SAMPLEFORMAT_IEEEFP:
            return "floating-point TIFF (" + std::to_string(bits) + "-bit float samples)";
        case SAMPLEFORMAT_INT:
            return "TIFF of signed " + std::to_string(bits) + "-bit samples";
        case SAMPLEFORMAT_COMPLEXINT:
        case SAMPLEFORMAT_COMPLEXIEEEFP:
            return "TIFF of complex samples";
        default:
            return "TIFF of sample format " + std::to_string(format);
    }
}

// The most bytes the compression makes of one byte of the file; 0 for one not decoded here.
std::uint64_t expansionRatio(std::uint16_t compression) {
    switch (compression) {
        case COMPRESSION_NONE:
            return 1;
        case COMPRESSION_LZW:
            return kLzwRatio;
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE:
            return kDeflateRatio;
        case COMPRESSION_PACKBITS:
            return kPackBitsRatio;
        default:
            return 0;
    }
}

std::string compressionName(std::uint16_t compression) {
    switch (compression) {
        case COMPRESSION_JPEG:
        case COMPRESSION_OJPEG:
            return "JPEG";
        case COMPRESSION_CCITTRLE:
        case COMPRESSION_CCITTFAX3:
        case COMPRESSION_CCITTFAX4:
            return "CCITT fax";
        case COMPRESSION_LZMA:
            return "LZMA";
        case COMPRESSION_ZSTD:
            return "Zstandard";
        case COMPRESSION_WEBP:
            return "WebP";
        default:
            return std::to_string(compression);
    }
}

// A libtiff read of source's first page, its directory read and checked.
class TiffRead {
  public:
    explicit TiffRead(const ImageSource& source) : _source(source), _call{} {
        _call.file = source.file;
        _call.size = source.size;
        const std::unique_ptr<TIFFOpenOptions, TiffOptionsFree> options(TIFFOpenOptionsAlloc());
        if (!options) failToRead(source.path, "out of memory");
        TIFFOpenOptionsSetErrorHandlerExtR(options.get(), onTiffError, &_call);
        TIFFOpenOptionsSetWarningHandlerExtR(options.get(), onTiffWarning, nullptr);
        TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kLargestLibtiffAllocation);
        // "m": no memory mapping, every byte comes through readTiffBytes.
        _tiff.reset(TIFFClientOpenExt(source.path.c_str(), "rm", &_call, readTiffBytes,
                                      writeNoTiffBytes, seekTiff, closeNothing, tiffSize,
                                      mapNothing, unmapNothing, options.get()));
        if (!_tiff) fail("malformed TIFF header");
        checkDirectory();
    }

    ImageHeader header() const { return {_height, _width, maxval()}; }

    RgbImage decode() {
        TIFF* const tiff = _tiff.get();
        const bool planar = _planar == PLANARCONFIG_SEPARATE;
        const std::uint64_t blockSamples = planar ? 1 : _samplesPerPixel;
        const std::uint64_t sampleBytes = _bits / 8;
        const std::uint64_t blockRowBytes = _blockWidth * blockSamples * sampleBytes;
        std::vector<std::uint8_t> block(blockRowBytes * _blockHeight);
        const auto blockSize = static_cast<tmsize_t>(block.size());

        Array<unsigned> red(_height, _width, _source.pool), green(_height, _width, _source.pool),
            blue(_height, _width, _source.pool);
        Array<unsigned>* const planes[] = {&red, &green, &blue};
        const unsigned top = maxval();
        const bool whiteIsZero = _photometric == PHOTOMETRIC_MINISWHITE;
        const std::uint16_t planesRead = planar ? _colours : 1;
        for (std::uint16_t plane = 0; plane < planesRead; ++plane) {
            for (std::uint32_t y0 = 0; y0 < _height; y0 += _blockHeight) {
                for (std::uint32_t x0 = 0; x0 < _width; x0 += _blockWidth) {
                    const tmsize_t got =
                        _tiled ? TIFFReadEncodedTile(tiff, TIFFComputeTile(tiff, x0, y0, 0, plane),
                                                     block.data(), blockSize)
                               : TIFFReadEncodedStrip(tiff, TIFFComputeStrip(tiff, y0, plane),
                                                      block.data(), blockSize);
                    if (got < 0) fail("cannot decode the TIFF data");
                    const std::uint32_t rows = std::min<std::uint32_t>(_blockHeight, _height - y0);
                    const std::uint32_t cols = std::min<std::uint32_t>(_blockWidth, _width - x0);
                    if (static_cast<std::uint64_t>(got) < rows * blockRowBytes) {
                        failToRead(_source.path, "file ends inside the pixel data");
                    }
                    for (std::uint32_t y = 0; y < rows; ++y) {
                        const std::uint8_t* row = block.data() + y * blockRowBytes;
                        for (std::uint32_t x = 0; x < cols; ++x) {
                            const std::uint8_t* pixel = row + x * blockSamples * sampleBytes;
                            for (std::uint16_t c = 0; c < _colours; ++c) {
                                if (planar && c != plane) continue;
                                const std::uint8_t* at = pixel + (planar ? 0 : c * sampleBytes);
                                unsigned value = at[0];
                                if (sampleBytes == 2) {
                                    std::uint16_t wide = 0;
                                    std::memcpy(&wide, at, sizeof wide);  // libtiff's native order
                                    value = wide;
                                }
                                if (whiteIsZero) value = top - value;
                                const std::uint32_t r = y0 + y, col = x0 + x;
                                if (_colours == 1) {
                                    red(r, col) = green(r, col) = blue(r, col) = value;
                                } else {
                                    (*planes[c])(r, col) = value;
                                }
                            }
                        }
                    }
                }
            }
        }
        return RgbImage(std::move(red), std::move(green), std::move(blue), top);
    }

    // The InterColorProfile and Orientation tags of the first directory.
    ImageMetadata metadata() const {
        ImageMetadata metadata;
        TIFF* const tiff = _tiff.get();
        std::uint32_t length = 0;
        void* profile = nullptr;
        if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &length, &profile) && profile != nullptr) {
            const auto* bytes = static_cast<const std::uint8_t*>(profile);
            metadata.iccProfile.assign(bytes, bytes + length);
        }
        std::uint16_t orientation = kOrientationAsStored;
        if (TIFFGetField(tiff, TIFFTAG_ORIENTATION, &orientation)) {
            if (orientation >= kOrientationAsStored && orientation <= kLargestOrientation) {
                metadata.orientation = orientation;
            } else {
                metadata.problems.push_back("TIFF orientation " + std::to_string(orientation) +
                                            " is not one of 1 to 8; ignored");
            }
        }
        return metadata;
    }

  private:
    // what, with libtiff's message after it; libtiff starts most messages with the file's
    // name, which the error already gives.
    [[noreturn]] void fail(const std::string& what) const {
        std::string message = _call.message;
        const std::string named = _source.path + ": ";
        if (message.rfind(named, 0) == 0) message.erase(0, named.size());
        failToRead(_source.path, message.empty() ? what : what + " (" + message + ")");
    }

    unsigned maxval() const { return _bits == 16 ? k16BitMaxval : k8BitMaxval; }

    void checkDirectory() {
        TIFF* const tiff = _tiff.get();
        const std::string& path = _source.path;
        std::uint32_t width = 0, height = 0;
        if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) ||
            !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height)) {
            fail("malformed TIFF header (no image size)");
        }
        std::uint16_t sampleFormat = SAMPLEFORMAT_UINT, compression = COMPRESSION_NONE;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &_bits);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &_samplesPerPixel);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &_planar);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
        if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &_photometric)) {
            fail("malformed TIFF header (no photometric interpretation)");
        }

        if (sampleFormat != SAMPLEFORMAT_UINT) {
            failToRead(path, sampleFormatName(sampleFormat, _bits) +
                                 ": the model reads 8 or 16-bit whole-number samples");
        }
        if (_photometric == PHOTOMETRIC_SEPARATED) {
            std::uint16_t inks = INKSET_CMYK;
            TIFFGetFieldDefaulted(tiff, TIFFTAG_INKSET, &inks);
            failToRead(path,
                       std::string(inks == INKSET_CMYK ? "CMYK TIFF" : "separated (ink) TIFF") +
                           ": the model needs RGB or grey (convert it to RGB first)");
        }
        if (_photometric != PHOTOMETRIC_RGB && _photometric != PHOTOMETRIC_MINISBLACK &&
            _photometric != PHOTOMETRIC_MINISWHITE) {
            failToRead(path, photometricName(_photometric) + ": the model reads RGB or grey TIFFs");
        }
        if (_bits != 8 && _bits != 16) {
            failToRead(path, "unsupported TIFF bit depth " + std::to_string(_bits) + " (8 or 16)");
        }
        _colours = _photometric == PHOTOMETRIC_RGB ? 3 : 1;
        if (_samplesPerPixel < _colours || _samplesPerPixel > kMostSamplesPerPixel) {
            failToRead(path, "unsupported TIFF of " + std::to_string(_samplesPerPixel) +
                                 " samples per pixel");
        }
        if (_planar != PLANARCONFIG_CONTIG && _planar != PLANARCONFIG_SEPARATE) {
            fail("malformed TIFF header (planar configuration)");
        }
        const std::uint64_t ratio = expansionRatio(compression);
        if (ratio == 0) {
            failToRead(path, "unsupported TIFF compression " + compressionName(compression) +
                                 " (none, LZW, Deflate or PackBits)");
        }
        checkDimensions(_source, width, height);
        _width = width;
        _height = height;

        _tiled = TIFFIsTiled(tiff) != 0;
        if (_tiled) {
            std::uint32_t tileWidth = 0, tileHeight = 0;
            TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
            TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight);
            const auto roundedUp = [](std::uint64_t n) {
                return (n + kTileGranule - 1) / kTileGranule * kTileGranule;
            };
            if (tileWidth == 0 || tileHeight == 0 || tileWidth > roundedUp(width) ||
                tileHeight > roundedUp(height)) {
                fail("malformed TIFF header (tile size)");
            }
            _blockWidth = tileWidth;
            _blockHeight = tileHeight;
        } else {
            std::uint32_t rowsPerStrip = height;
            TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
            _blockWidth = width;
            _blockHeight = std::clamp<std::uint32_t>(rowsPerStrip, 1, height);
        }

        // The decoded samples cannot be more than the file expands to at the most, however
        // well they compress: a small file declaring a huge image is refused before the
        // pixels are allocated.  Width and height are at most 2^28 each and their product too,
        // so this fits in 64 bits.
        const std::uint64_t samples = std::uint64_t{_width} * _height * _samplesPerPixel;
        if (samples * (_bits / 8) > _source.size * ratio) {
            failToRead(path, "file ends inside the pixel data");
        }
    }

    const ImageSource& _source;
    TiffCall _call;
    std::unique_ptr<TIFF, TiffClose> _tiff;
    std::uint32_t _width = 0, _height = 0;
    std::uint32_t _blockWidth = 0, _blockHeight = 0;
    std::uint16_t _bits = 0, _samplesPerPixel = 0, _planar = PLANARCONFIG_CONTIG;
    std::uint16_t _photometric = 0, _colours = 0;
    bool _tiled = false;
};

}  // namespace

ImageHeader readTiffHeader(const ImageSource& source) {
    return TiffRead(source).header();
}

DecodedImage readTiff(const ImageSource& source) {
    TiffRead read(source);
    return decodedBy(read);
}

}  // namespace lumetra
