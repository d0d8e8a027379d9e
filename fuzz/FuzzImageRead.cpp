#include "FuzzImageRead.h"

#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "image/ColourProfile.h"
#include "image/Error.h"
#include "image/ErrorMapImage.h"
#include "image/ImageFile.h"
#include "image/ImageHeader.h"
#include "image/ImageMetadata.h"
#include "image/Orientation.h"
#include "image/RgbImage.h"

namespace lumetra::fuzz {
namespace {

bool startsWith(const std::uint8_t* data, std::size_t size, std::string_view prefix) {
    return size >= prefix.size() &&
           std::string_view(reinterpret_cast<const char*>(data), prefix.size()) == prefix;
}

bool isOfFamily(ImageFamily family, const std::uint8_t* data, std::size_t size) {
    switch (family) {
        case ImageFamily::Netpbm:
            // P1-P7 for the image readers, Pf for the float maps the command line reads back.
            return size >= 2 && data[0] == 'P' &&
                   ((data[1] >= '1' && data[1] <= '7') || data[1] == 'f');
        case ImageFamily::Png:
            return startsWith(data, size, "\x89PNG\r\n\x1a\n");
        case ImageFamily::Jpeg:
            return startsWith(data, size, "\xff\xd8\xff");
        case ImageFamily::Webp:
            return startsWith(data, size, "RIFF") && size >= 12 &&
                   std::string_view(reinterpret_cast<const char*>(data) + 8, 4) == "WEBP";
        case ImageFamily::Tiff:
            // Both byte orders, classic (42) and BigTIFF (43).
            return startsWith(data, size, std::string_view("II*\0", 4)) ||
                   startsWith(data, size, std::string_view("MM\0*", 4)) ||
                   startsWith(data, size, std::string_view("II+\0", 4)) ||
                   startsWith(data, size, std::string_view("MM\0+", 4));
        case ImageFamily::Avif:
            // An ISO media file ('ftyp' box); the reader decides on its brands.
            return size >= 8 &&
                   std::string_view(reinterpret_cast<const char*>(data) + 4, 4) == "ftyp";
        case ImageFamily::Jxl:
            // The bare codestream or the container's signature box.
            return startsWith(data, size, "\xff\x0a") ||
                   startsWith(data, size, std::string_view("\0\0\0\x0cJXL \r\n\x87\n", 12));
        case ImageFamily::Bmp:
            break;
    }
    return startsWith(data, size, "BM");
}

// A PNG with every chunk's checksum made to match its type and data, where the chunk lies
// whole in the bytes.  libpng refuses a critical chunk with a wrong checksum at once, so
// without this almost every mutation of a header or image chunk would stop there.
std::vector<std::uint8_t> withPngChecksums(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kSignature = 8, kLength = 4, kType = 4, kChecksum = 4;
    std::vector<std::uint8_t> png(data, data + size);
    for (std::size_t at = kSignature; at + kLength + kType + kChecksum <= png.size();) {
        const std::uint64_t length = std::uint64_t{png[at]} << 24 |
                                     std::uint64_t{png[at + 1]} << 16 |
                                     std::uint64_t{png[at + 2]} << 8 | png[at + 3];
        const std::size_t typeAt = at + kLength;
        if (length > png.size() - typeAt - kType - kChecksum) break;
        const std::size_t checksumAt = typeAt + kType + length;
        const uLong crc =
            crc32(crc32(0L, Z_NULL, 0), png.data() + typeAt, static_cast<uInt>(kType + length));
        for (std::size_t i = 0; i < kChecksum; ++i) {
            png[checksumAt + i] = static_cast<std::uint8_t>(crc >> (8 * (kChecksum - 1 - i)));
        }
        at = checksumAt + kChecksum;
    }
    return png;
}

// One scratch file per process, in memory where the system offers it; removed at exit.
class ScratchFile {
  public:
    ScratchFile() {
        const char* const shm = "/dev/shm";
        const std::filesystem::path folder = std::filesystem::is_directory(shm)
                                                 ? std::filesystem::path(shm)
                                                 : std::filesystem::temp_directory_path();
        std::string name = (folder / "lumetra-fuzz-XXXXXX").string();
        const int fd = mkstemp(name.data());
        if (fd < 0) std::abort();
        close(fd);
        _path = name;
    }
    ~ScratchFile() { std::remove(_path.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& write(const std::uint8_t* data, std::size_t size) const {
        std::FILE* const file = std::fopen(_path.c_str(), "wb");
        if (file == nullptr) std::abort();
        if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
        if (std::fclose(file) != 0) std::abort();
        return _path;
    }

  private:
    std::string _path;
};

}  // namespace

int readImageBytes(ImageFamily family, const std::uint8_t* data, std::size_t size) {
    if (!isOfFamily(family, data, size)) return -1;
    static const ScratchFile scratch;  // one per fuzzing process
    std::vector<std::uint8_t> fixed;
    if (family == ImageFamily::Png) {
        fixed = withPngChecksums(data, size);
        data = fixed.data();
    }
    const std::string& path = scratch.write(data, size);

    if (family == ImageFamily::Netpbm && data[1] == 'f') {
        try {
            const Array<float> map = readFloatMapPfm(path);
            if (map.size() != std::size_t{map.rows()} * map.cols()) std::abort();
        } catch (const ImageReadError&) {
        }
        return 0;
    }

    bool headerRead = false;
    ImageHeader header;
    try {
        header = readImageHeader(path);
        headerRead = true;
    } catch (const ImageReadError&) {
    }
    // A few hundred bytes can hold a legitimate image of tens of millions of pixels (an
    // arithmetic-coded JPEG codes a flat 4096 x 4096 picture in 125 bytes), whose decoding
    // under the sanitizers outlasts the 10 s limit per input.  The readers accept up to
    // RgbImage::kMaxPixels; here the pixels are decoded up to kLargestDecodedPixels, which is
    // the same code on fewer rows.  What the header refuses is always read in full.
    constexpr std::uint64_t kLargestDecodedPixels = std::uint64_t{1} << 22;
    if (headerRead && std::uint64_t{header.rows} * header.cols > kLargestDecodedPixels) return 0;
    try {
        const DecodedImage decoded = decodeImageFile(path, kMaxImagePixels);
        const RgbImage& image = decoded.pixels;
        // Whatever the full read accepts, the header read accepted with the same size.
        if (!headerRead || image.rows() != header.rows || image.cols() != header.cols ||
            image.maxval() != header.maxval) {
            std::abort();
        }
        // What the file declares goes through Little CMS and the turn for display: a profile
        // or EXIF block is untrusted bytes like the pixels.
        const ImageMetadata& metadata = decoded.metadata;
        if (metadata.orientation < kOrientationAsStored ||
            metadata.orientation > kLargestOrientation) {
            std::abort();
        }
        declaredColourSpace(metadata);
        const SrgbConversion converted = convertedToSrgb(image, metadata);
        if (converted.image.rows() != image.rows()) std::abort();
        const RgbImage turned = orientedForDisplay(image, metadata.orientation);
        if (std::uint64_t{turned.rows()} * turned.cols() !=
            std::uint64_t{image.rows()} * image.cols()) {
            std::abort();
        }
    } catch (const ImageReadError&) {
    }
    return 0;
}

}  // namespace lumetra::fuzz
