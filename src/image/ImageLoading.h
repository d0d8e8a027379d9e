#pragma once

// Reading an image file the way a front end asks for it: the pixels as stored (the default,
// which every stored result relies on), or converted to sRGB and turned for display, with what
// the file declares and what the user should be told about it.  The command line, Python and
// the desktop program all read their files through loadImage().

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/ColourProfile.h"
#include "image/ImageHeader.h"
#include "image/PlanePool.h"
#include "image/RgbImage.h"

namespace lumetra {

// What is done with a file's declared colour space.
enum class ColourHandling {
    AsStored,  // samples read as sRGB display values whatever the file declares (default)
    ToSrgb,    // samples converted from the declared space to sRGB (ColourProfile.h)
};

// What is done with a file's EXIF orientation.
enum class OrientationHandling {
    AsStored,  // pixels kept in stored order (default)
    Apply,     // pixels turned the way the file says it is meant to be shown
};

struct ReadChoices {
    ColourHandling colour = ColourHandling::AsStored;
    OrientationHandling orientation = OrientationHandling::AsStored;
};

// What a front end should tell the user about a file, once.  The kind lets it add how to
// change the behaviour in its own terms (an option's name, a setting).
enum class NoticeKind {
    ColourAsStored,       // a colour space other than sRGB, scored as stored
    ColourUnconvertible,  // the same, of a space that is never converted (HDR, unknown CICP)
    OrientationAsStored,  // an orientation other than 1, kept as stored
    OrientationApplied,   // an orientation other than 1, applied
    MalformedMetadata,    // a profile or EXIF block that was ignored
    FirstFrame,           // an animated file, read as its first frame
};

struct LoadNotice {
    NoticeKind kind;
    std::string text;  // without the file's name: "declares colour profile ICC \"P3\" ..."
};

struct LoadedImage {
    RgbImage image;
    ColourSpace colour;         // what the file declares
    bool converted = false;     // the samples were converted to sRGB
    std::uint16_t orientation;  // what the file declares, 1..8
    bool oriented = false;      // the pixels were turned for display
    std::vector<LoadNotice> notices;
};

// Reads the image at path (as RgbImage does: recognised by content, refused over maxPixels
// before decoding, ImageReadError naming the file and the reason) and handles its colour space
// and orientation as `choices` says.  Planes come from `pool` when given.
LoadedImage loadImage(const std::string& path, std::uint64_t maxPixels, ReadChoices choices,
                      const std::shared_ptr<PlanePool>& pool = nullptr);

// The size loadImage gives an image whose header reads `header`, when its orientation is not
// yet known: either way round under OrientationHandling::Apply.
bool mayHaveSize(const ImageHeader& header, OrientationHandling orientation, std::uint32_t rows,
                 std::uint32_t cols);

// "its colour space is none (read as sRGB) and the original's ICC \"Display P3\": the measure
// includes the colour change between them" when an original and a degraded file declare
// different colour spaces and are scored as stored; empty otherwise (and always when both are
// converted to sRGB).
std::string colourMismatch(const ColourSpace& original, const ColourSpace& degraded,
                           ColourHandling colour);

// The colour summary of a result: the declared space's name as stored ("ICC \"Display P3\""),
// "ICC \"Display P3\" -> sRGB (relative colorimetric)" when converted.
std::string colourSummary(const std::string& declared, bool converted);

// The name of an orientation for people: "6 (turned a quarter clockwise)".
std::string orientationName(std::uint16_t orientation);

}  // namespace lumetra
