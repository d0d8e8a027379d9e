#include "image/ImageMetadata.h"

// EXIF's orientation, read from the block's first directory alone.
//
// The block is untrusted: every read goes through Bytes, which checks the offset and length
// against the block, and only IFD0 is looked at (the Orientation tag lives there), so no
// offset is followed more than once and no loop runs longer than the directory's entry count.

#include <cstring>
#include <string>

namespace lumetra {
namespace {

constexpr std::uint8_t kExifPrefix[] = {'E', 'x', 'i', 'f', 0, 0};
constexpr std::size_t kTiffHeaderBytes = 8;
constexpr std::uint16_t kTiffMagic = 42;
constexpr std::size_t kEntryBytes = 12;
constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kShortType = 3;

// The EXIF block in its own byte order, every read bounds-checked.
class Bytes {
  public:
    Bytes(const std::uint8_t* data, std::size_t size, bool bigEndian)
        : _data(data), _size(size), _bigEndian(bigEndian) {}

    bool has(std::size_t at, std::size_t count) const { return at <= _size && count <= _size - at; }
    std::uint16_t u16(std::size_t at) const {
        const std::uint8_t* p = _data + at;
        return static_cast<std::uint16_t>(_bigEndian ? p[0] << 8 | p[1] : p[1] << 8 | p[0]);
    }
    std::uint32_t u32(std::size_t at) const {
        const std::uint8_t* p = _data + at;
        return _bigEndian ? std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 |
                                std::uint32_t{p[2]} << 8 | p[3]
                          : std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 |
                                std::uint32_t{p[1]} << 8 | p[0];
    }

  private:
    const std::uint8_t* _data;
    std::size_t _size;
    bool _bigEndian;
};

ExifOrientation failed(const std::string& why) {
    return {std::nullopt, "EXIF data: " + why + "; orientation ignored"};
}

}  // namespace

ExifOrientation readExifOrientation(const std::uint8_t* data, std::size_t size) {
    if (size >= sizeof kExifPrefix && std::memcmp(data, kExifPrefix, sizeof kExifPrefix) == 0) {
        data += sizeof kExifPrefix;
        size -= sizeof kExifPrefix;
    }
    if (size < kTiffHeaderBytes) return failed("too short for its header");
    const bool big = data[0] == 'M' && data[1] == 'M';
    if (!big && !(data[0] == 'I' && data[1] == 'I')) return failed("unknown byte order");
    const Bytes bytes(data, size, big);
    if (bytes.u16(2) != kTiffMagic) return failed("not a TIFF-structured block");
    const std::size_t directory = bytes.u32(4);
    if (!bytes.has(directory, 2)) return failed("its first directory lies outside the block");
    const std::size_t entries = bytes.u16(directory);
    if (!bytes.has(directory + 2, entries * kEntryBytes)) {
        return failed("its first directory runs past the end of the block");
    }
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t entry = directory + 2 + i * kEntryBytes;
        if (bytes.u16(entry) != kOrientationTag) continue;
        // One SHORT: the value sits in the first two bytes of the value field.
        if (bytes.u16(entry + 2) != kShortType || bytes.u32(entry + 4) != 1) {
            return failed("the Orientation tag is not one short number");
        }
        const std::uint16_t value = bytes.u16(entry + 8);
        if (value < kOrientationAsStored || value > kLargestOrientation) {
            return failed("orientation " + std::to_string(value) + " is not one of 1 to 8");
        }
        return {value, {}};
    }
    return {};
}

void takeExifOrientation(ImageMetadata& metadata, const std::uint8_t* data, std::size_t size) {
    const ExifOrientation read = readExifOrientation(data, size);
    if (read.orientation) metadata.orientation = *read.orientation;
    if (!read.problem.empty()) metadata.problems.push_back(read.problem);
}

}  // namespace lumetra
