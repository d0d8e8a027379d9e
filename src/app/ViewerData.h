#pragma once

// What the comparison viewer is opened with and what it computes off the GUI thread: the two
// images as pictures, the run's shared heat-map scale, and the explanation.  Plain functions,
// so that they run in a QtConcurrent task and are tested without a window.

#include <QImage>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

#include "app/EngineFactory.h"
#include "app/ViewerMaps.h"
#include "engine/Comparison.h"
#include "engine/Explanation.h"
#include "engine/Parameters.h"
#include "image/Array.h"
#include "image/RgbImage.h"

namespace lumetra {

// One scored file of a run, with what the viewer needs of the run around it.
struct ViewerRequest {
    QString originalFile;
    QString degradedFile;
    Parameters parameters;  // the run's, so that the explanation explains the file's score
    Comparison comparison;  // the file's
    // The error maps of every scored file of the run (this one included): the heat maps share
    // the scale of their largest 99th percentile.
    std::vector<Array<float>> runMaps;
};

// The request for file `file` of a run whose files, results and parameters are given as
// the main window keeps them (entry k of `comparisons` belongs to degraded[k], empty for a
// failed file).  None for a failed or missing file.
std::optional<ViewerRequest> viewerRequest(
    const QString& original, const QStringList& degraded,
    const std::vector<std::optional<Comparison>>& comparisons, const Parameters& parameters,
    int file);

// "coffee.ppm vs coffee_blur.ppm: measure 296.1, score 3.578" (file names without folders).
QString viewerTitle(const ViewerRequest& request);

// The images of a request, read and made into pictures, and the run's shared scale.
struct ViewerImages {
    std::shared_ptr<const RgbImage> original;
    std::shared_ptr<const RgbImage> degraded;
    QImage originalPicture;
    QImage degradedPicture;
    float runMax = 1.0f;    // sharedScaleMax of the run's error maps
    QImage classicPicture;  // the error map, black to blue (errorMapImage)
    float errorMax = 0.0f;  // the error map's largest value, which is full blue
    HeatPicture errorHeat;  // the error map as a heat map on the run's scale, under
    HeatScaleMode errorHeatScale = HeatScaleMode::Shared;  // this choice of scale
    QString error;  // why the images cannot be shown; empty when they can
};

// Reads both images (their sizes must match the error map's), takes the percentiles of the
// run's maps and draws the error map both ways, the heat map on the scale `heatScale` chooses.
// Every failure becomes `error`: nothing is thrown, as befits a worker task.
ViewerImages loadViewerImages(const ViewerRequest& request,
                              HeatScaleMode heatScale = HeatScaleMode::Shared);

struct ViewerExplanation {
    std::shared_ptr<const Explanation> explanation;
    QString error;  // why there is none; empty when there is one
};

// Explains the request's comparison with `explainer`.  Nothing is thrown.
ViewerExplanation explainViewerPair(const Explainer& explainer, const RgbImage& original,
                                    const RgbImage& degraded, const Parameters& parameters);

}  // namespace lumetra
