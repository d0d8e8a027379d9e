#include "app/ViewerData.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <exception>
#include <new>
#include <string>

#include "app/ErrorMapPicture.h"
#include "app/ResultFormat.h"
#include "app/ViewerMaps.h"
#include "image/Error.h"
#include "image/Percentiles.h"
#include "image/RgbPicture.h"

namespace lumetra {

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("lumetra::ViewerData", text);
}

// Runs `work`, turning whatever it throws into a message for the window.
template <typename Work>
QString messageOf(Work&& work) {
    try {
        work();
    } catch (const std::bad_alloc&) {
        return tr("Not enough memory to show this comparison.");
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    }
    return QString();
}

}  // namespace

std::optional<ViewerRequest> viewerRequest(
    const QString& original, const QStringList& degraded,
    const std::vector<std::optional<Comparison>>& comparisons, const Parameters& parameters,
    int file) {
    if (file < 0 || static_cast<std::size_t>(file) >= comparisons.size() ||
        file >= degraded.size()) {
        return std::nullopt;
    }
    const std::optional<Comparison>& comparison = comparisons[static_cast<std::size_t>(file)];
    if (!comparison) return std::nullopt;
    ViewerRequest request{original, degraded[file], parameters, *comparison, {}};
    for (const std::optional<Comparison>& scored : comparisons) {
        if (scored) request.runMaps.push_back(scored->err());
    }
    return request;
}

QString viewerTitle(const ViewerRequest& request) {
    return tr("%1 vs %2: measure %3, score %4")
        .arg(QFileInfo(request.originalFile).fileName(), QFileInfo(request.degradedFile).fileName(),
             formatResult(request.comparison.mobj()), formatResult(request.comparison.nobj()));
}

ViewerImages loadViewerImages(const ViewerRequest& request, HeatScaleMode heatScale) {
    ViewerImages images;
    images.error = messageOf([&] {
        images.original =
            std::make_shared<const RgbImage>(request.originalFile.toLocal8Bit().toStdString());
        images.degraded =
            std::make_shared<const RgbImage>(request.degradedFile.toLocal8Bit().toStdString());
        const Array<float>& map = request.comparison.err();
        for (const auto& image : {images.original, images.degraded}) {
            if (image->rows() != map.rows() || image->cols() != map.cols()) {
                throw SizeMismatchError(
                    "the images no longer have the size of the compared ones (changed on disk?)");
            }
        }
        images.originalPicture = qImageOf(pictureOf(*images.original));
        images.degradedPicture = qImageOf(pictureOf(*images.degraded));
        if (images.originalPicture.isNull() || images.degradedPicture.isNull()) {
            throw std::bad_alloc();
        }
        std::vector<MapPercentiles> percentiles;
        percentiles.reserve(request.runMaps.size());
        for (const Array<float>& runMap : request.runMaps) {
            percentiles.push_back(percentilesOf(runMap));
        }
        images.runMax = sharedScaleMax(percentiles);
        images.classicPicture = errorMapImage(map);
        images.errorMax = percentilesOf(map).max;
        images.errorHeat =
            heatPicture(map, scaleOf(MapChoice::Error, heatScale, images.runMax, map));
        images.errorHeatScale = heatScale;
    });
    return images;
}

ViewerExplanation explainViewerPair(const Explainer& explainer, const RgbImage& original,
                                    const RgbImage& degraded, const Parameters& parameters) {
    ViewerExplanation result;
    result.error = messageOf([&] {
        result.explanation =
            std::make_shared<const Explanation>(explainer(original, degraded, parameters));
    });
    return result;
}

}  // namespace lumetra
