#pragma once

// The values of one pixel of a comparison, as the viewer's probe shows them under the cursor:
// the samples of both images, the error map and, once the explanation exists, each of its
// maps at that pixel.

#include <QPoint>
#include <QString>
#include <array>
#include <optional>

#include "engine/Explanation.h"
#include "image/Array.h"
#include "image/RgbImage.h"

namespace lumetra {

// What the explanation's maps hold at one pixel.
struct ExplainedPixel {
    std::array<float, kErrorTermCount> terms{};   // by ErrorTerm
    std::array<float, kChannelCount> channels{};  // by Channel
    float blockWeight = 0.0f;                     // B^alpha
    bool inEdgeZone = false;
    float share = 0.0f;  // of the measure
};

struct PixelProbe {
    QPoint pixel;                        // x the column, y the row
    std::array<unsigned, 3> original{};  // red, green, blue, 0 .. maxval
    std::array<unsigned, 3> degraded{};
    unsigned maxval = RgbImage::kDefaultMaxval;
    float error = 0.0f;  // the error map M
    std::optional<ExplainedPixel> explained;
};

// The values at `pixel`; none outside the images.  The images and the error map are of one
// size; `maps`, when given, is the explanation of the same comparison.
std::optional<PixelProbe> probeAt(const RgbImage& original, const RgbImage& degraded,
                                  const Array<float>& errorMap, const ExplanationMaps* maps,
                                  QPoint pixel);

// The probe as one line of text for the status line: "x 20, y 10 | original 12 34 56 |
// degraded ... | error 216 | share 0.0012% | terms ... | channels ..."; samples of images
// whose largest sample value is not 255 are followed by "of <maxval>".
QString probeText(const PixelProbe& probe);

}  // namespace lumetra
