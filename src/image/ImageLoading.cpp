#include "image/ImageLoading.h"

#include <utility>

#include "image/ImageFile.h"
#include "image/Orientation.h"

namespace lumetra {

std::string orientationName(std::uint16_t orientation) {
    constexpr const char* kMeanings[] = {"",
                                         "as stored",
                                         "mirrored left to right",
                                         "turned a half turn",
                                         "mirrored top to bottom",
                                         "transposed",
                                         "turned a quarter clockwise",
                                         "transversed",
                                         "turned a quarter counter-clockwise"};
    const char* meaning = orientation >= kOrientationAsStored && orientation <= kLargestOrientation
                              ? kMeanings[orientation]
                              : "unknown";
    return std::to_string(orientation) + " (" + meaning + ")";
}

LoadedImage loadImage(const std::string& path, std::uint64_t maxPixels, ReadChoices choices,
                      const std::shared_ptr<PlanePool>& pool) {
    DecodedImage decoded = decodeImageFile(path, maxPixels, pool);
    const ImageMetadata& metadata = decoded.metadata;
    LoadedImage loaded{std::move(decoded.pixels),
                       declaredColourSpace(metadata),
                       false,
                       metadata.orientation,
                       false,
                       {}};
    if (!metadata.readingNote.empty()) {
        loaded.notices.push_back({NoticeKind::FirstFrame, metadata.readingNote});
    }
    for (const std::string& problem : metadata.problems) {
        loaded.notices.push_back({NoticeKind::MalformedMetadata, problem});
    }
    if (!loaded.colour.problem.empty()) {
        loaded.notices.push_back({NoticeKind::MalformedMetadata, loaded.colour.problem});
    }

    if (choices.colour == ColourHandling::ToSrgb) {
        SrgbConversion conversion = convertedToSrgb(loaded.image, metadata, pool);
        loaded.converted = conversion.converted;
        if (conversion.converted) loaded.image = std::move(conversion.image);
        if (!conversion.problem.empty() && conversion.problem != loaded.colour.problem) {
            loaded.notices.push_back({NoticeKind::MalformedMetadata, conversion.problem});
        }
    } else if (loaded.colour.kind == ColourKind::Other) {
        const std::string notice = "declares colour profile " + loaded.colour.name +
                                   ", not sRGB; its samples are scored as stored";
        if (loaded.colour.unconvertible.empty()) {
            loaded.notices.push_back({NoticeKind::ColourAsStored, notice});
        } else {
            loaded.notices.push_back(
                {NoticeKind::ColourUnconvertible,
                 notice + " (no conversion to sRGB: " + loaded.colour.unconvertible + ")"});
        }
    }

    if (loaded.orientation != kOrientationAsStored) {
        const std::string name = orientationName(loaded.orientation);
        if (choices.orientation == OrientationHandling::Apply) {
            loaded.image = orientedForDisplay(loaded.image, loaded.orientation, pool);
            loaded.oriented = true;
            loaded.notices.push_back(
                {NoticeKind::OrientationApplied,
                 "declares EXIF orientation " + name + "; turned for display"});
        } else {
            loaded.notices.push_back(
                {NoticeKind::OrientationAsStored,
                 "declares EXIF orientation " + name + "; its pixels are scored as stored"});
        }
    }
    return loaded;
}

bool mayHaveSize(const ImageHeader& header, OrientationHandling orientation, std::uint32_t rows,
                 std::uint32_t cols) {
    if (header.rows == rows && header.cols == cols) return true;
    return orientation == OrientationHandling::Apply && header.rows == cols && header.cols == rows;
}

std::string colourMismatch(const ColourSpace& original, const ColourSpace& degraded,
                           ColourHandling colour) {
    if (colour == ColourHandling::ToSrgb || original.identity == degraded.identity) return {};
    return "its colour space is " + degraded.name + " and the original's " + original.name +
           ": the measure includes the colour change between them";
}

std::string colourSummary(const std::string& declared, bool converted) {
    if (!converted) return declared;
    return declared + " -> sRGB (" + kSrgbIntentName + ")";
}

}  // namespace lumetra
