#pragma once

// The colour space an image file declares, told apart from sRGB, and the conversion of its
// samples to sRGB, both through Little CMS.
//
// The model reads samples as sRGB display values.  A file may say its samples mean something
// else: an embedded ICC profile (Display P3, Adobe RGB, a camera's), or PNG's gAMA and cHRM
// chunks.  declaredColourSpace() names what the file declares and whether that is sRGB (a
// profile counts as sRGB when its colours land within half an 8-bit step of sRGB's own);
// convertedToSrgb() turns the samples into sRGB ones.

#include <memory>
#include <string>

#include "image/ImageMetadata.h"
#include "image/PlanePool.h"
#include "image/RgbImage.h"

namespace lumetra {

// What a file's samples are declared to be.
enum class ColourKind {
    Undeclared,  // no profile, no colour chunk: read as sRGB, as the model assumes
    Srgb,        // a profile or chunks equal to sRGB within half an 8-bit step
    Other,       // something else: its samples read as stored are not the colours meant
    Unusable,    // a profile Little CMS cannot read, or not of RGB or grey: read as stored
};

struct ColourSpace {
    ColourKind kind = ColourKind::Undeclared;
    // What the file declares, in a few words: "none (read as sRGB)", "sRGB (PNG sRGB chunk)",
    // "ICC \"Display P3\"", "PNG gAMA 1 with cHRM".
    std::string name = "none (read as sRGB)";
    // Two files declare the same colour space when their identities are equal: "sRGB" for every
    // kind of sRGB and for none, else a digest of the profile or the chunks' values.
    std::string identity = "sRGB";
    // Why a profile was unusable (kind Unusable); empty otherwise.
    std::string problem;
    // Why a colour space of kind Other is not converted to sRGB (CICP code points of high
    // dynamic range, or unknown ones: "transfer characteristics 16 (PQ) encode ..."); empty
    // when it is.
    std::string unconvertible;

    bool isSrgb() const { return kind == ColourKind::Undeclared || kind == ColourKind::Srgb; }
};

// The colour space `metadata` declares.  The sRGB chunk outranks an ICC profile, and a
// profile outranks gAMA and cHRM, as PNG orders them.  A gAMA of 1 / 2.2 (within 1 %) with
// sRGB's primaries or none counts as sRGB: that is what writers mean by it, and what PNG asks
// encoders of sRGB files to write next to the sRGB chunk.  Never throws.
ColourSpace declaredColourSpace(const ImageMetadata& metadata);

// The rendering intent of every conversion to sRGB.
inline constexpr const char* kSrgbIntentName = "relative colorimetric";

// An image converted to sRGB, or left as it was and why.
struct SrgbConversion {
    RgbImage image;
    bool converted = false;
    // Why a declared colour space other than sRGB could not be converted (an unusable profile,
    // a grey profile on colour samples); empty otherwise.
    std::string problem;
};

// The samples of `image`, declared as `metadata` says, converted to sRGB with relative
// colorimetric intent at float precision, into 16-bit samples (maxval 65535; colours outside
// sRGB clipped).  An image whose colour space is sRGB, undeclared or unusable is returned
// unchanged, so its numbers are exactly those read as stored.  A grey profile converts a grey
// image (R = G = B); on a colour image it is a problem.  Planes come from `pool` when given.
SrgbConversion convertedToSrgb(const RgbImage& image, const ImageMetadata& metadata,
                               const std::shared_ptr<PlanePool>& pool = nullptr);

}  // namespace lumetra
