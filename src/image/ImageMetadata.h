#pragma once

// What an image file declares about its pixels besides their values: the colour profile its
// samples are in and the way it is meant to be turned for display.  Every reader fills in what
// its format carries; nothing here changes the pixels (see ColourProfile.h and Orientation.h).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/RgbImage.h"

namespace lumetra {

// The white point and primaries of a PNG cHRM chunk, as CIE xy chromaticities.
struct Chromaticities {
    double whiteX, whiteY, redX, redY, greenX, greenY, blueX, blueY;
};

// A colour space by the code points of ITU-T H.273 (coding-independent code points), as an
// AVIF 'nclx' colour box or the AV1 sequence header carries it: colour primaries, transfer
// characteristics and matrix coefficients.  1/13/x is sRGB; 2 is "unspecified".
struct Cicp {
    std::uint16_t primaries;
    std::uint16_t transfer;
    std::uint16_t matrix;
};

// EXIF orientation: how the stored rows and columns are to be turned for display.  1 is as
// stored; 2..8 as the EXIF standard numbers them (2 mirrored left to right, 3 turned a half
// turn, 4 mirrored top to bottom, 5 transposed, 6 turned a quarter clockwise, 7 transversed,
// 8 turned a quarter counter-clockwise).
inline constexpr std::uint16_t kOrientationAsStored = 1;
inline constexpr std::uint16_t kLargestOrientation = 8;

struct ImageMetadata {
    // The embedded ICC profile, byte for byte (PNG iCCP, JPEG APP2 ICC_PROFILE reassembled,
    // WebP ICCP, TIFF InterColorProfile); empty when the file has none.
    std::vector<std::uint8_t> iccProfile;
    // PNG only: the sRGB chunk, the gAMA chunk's file gamma (0.45455 for 1 / 2.2) and cHRM.
    bool srgbChunk = false;
    std::optional<double> gamma;
    std::optional<Chromaticities> chromaticities;
    // AVIF only: the colour space by code points, which an ICC profile outranks.
    std::optional<Cicp> cicp;
    // 1..8; 1 when the file declares none.
    std::uint16_t orientation = kOrientationAsStored;
    // Metadata that was found malformed and ignored, each said in a few words ("EXIF data:
    // IFD0 runs past the end of its block; orientation ignored").  The pixels are unaffected.
    std::vector<std::string> problems;
    // How the reader read a file that holds more than one picture, when that needs saying
    // ("animated WebP: the first frame is read"); empty for most files.
    std::string readingNote;
};

// A decoded image and what its file declares.
struct DecodedImage {
    RgbImage pixels;
    ImageMetadata metadata;
};

// What a block of EXIF data says of the orientation: the value, none when the block has no
// Orientation tag, or why the block or its tag was not understood.
struct ExifOrientation {
    std::optional<std::uint16_t> orientation;
    std::string problem;  // empty when the block was read
};

// Reads the orientation from a block of EXIF data: a TIFF header ("II" or "MM", 42, the offset
// of IFD0) and the directory after it, offsets counted from the header's first byte, as JPEG's
// APP1 "Exif" segment, WebP's EXIF chunk and PNG's eXIf chunk carry it (a leading "Exif\0\0"
// is skipped).  Every offset and count is checked against the block; a block that is not well
// formed, or an orientation outside 1..8, gives a problem and no orientation.
ExifOrientation readExifOrientation(const std::uint8_t* data, std::size_t size);

// The metadata with the EXIF block's orientation taken in, or its problem noted.
void takeExifOrientation(ImageMetadata& metadata, const std::uint8_t* data, std::size_t size);

}  // namespace lumetra
