#include "app/ViewerMaps.h"

#include <QCoreApplication>
#include <QSettings>
#include <cmath>
#include <cstdint>

#include "image/RgbPicture.h"

namespace lumetra {

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("lumetra::ViewerMaps", text);
}

// The legend is drawn beside a one-column map of this many rows, so that it has the height
// and lettering of a small picture's legend whatever the size of the map shown: a 4K map's
// own legend would be 2160 pixels high.
constexpr std::uint32_t kLegendRows = 256;

// Where the viewer's heat-map scale is remembered, beside its other settings.
constexpr QLatin1StringView kHeatScaleSetting("viewer/heatScale");

}  // namespace

QString mapChoiceName(MapChoice choice) {
    switch (choice) {
        case MapChoice::Classic:
            return tr("Error map, black to blue (brighter is more visible)");
        case MapChoice::Error:
            return tr("Error map (brighter is more visible)");
        case MapChoice::TermBase:
            return tr("Term: base band with colour");
        case MapChoice::TermCrown2:
            return tr("Term: crown 2 with colour");
        case MapChoice::TermCrown3:
            return tr("Term: crown 3");
        case MapChoice::TermCrown4:
            return tr("Term: crown 4");
        case MapChoice::ChannelA:
            return tr("Channel: achromatic");
        case MapChoice::ChannelC1:
            return tr("Channel: C1 (red-green)");
        case MapChoice::ChannelC2:
            return tr("Channel: C2 (blue-yellow)");
        case MapChoice::BlockWeight:
            return tr("Block weight");
        case MapChoice::EdgeZone:
            return tr("Edge-change zone");
        case MapChoice::Share:
            return tr("Share of the measure");
    }
    return QString();
}

QString mapFileKey(MapChoice choice) {
    switch (choice) {
        case MapChoice::Classic:
            return QStringLiteral("error-map");
        case MapChoice::Error:
            return QStringLiteral("heat-map");
        case MapChoice::TermBase:
            return QStringLiteral("term-base");
        case MapChoice::TermCrown2:
            return QStringLiteral("term-crown2");
        case MapChoice::TermCrown3:
            return QStringLiteral("term-crown3");
        case MapChoice::TermCrown4:
            return QStringLiteral("term-crown4");
        case MapChoice::ChannelA:
            return QStringLiteral("channel-A");
        case MapChoice::ChannelC1:
            return QStringLiteral("channel-C1");
        case MapChoice::ChannelC2:
            return QStringLiteral("channel-C2");
        case MapChoice::BlockWeight:
            return QStringLiteral("block-weight");
        case MapChoice::EdgeZone:
            return QStringLiteral("edge-zone");
        case MapChoice::Share:
            return QStringLiteral("share");
    }
    return QString();
}

bool needsExplanation(MapChoice choice) {
    return choice != MapChoice::Classic && choice != MapChoice::Error;
}

const Array<float>& mapOf(MapChoice choice, const Array<float>& errorMap,
                          const ExplanationMaps& maps) {
    const auto term = [&maps](ErrorTerm t) -> const Array<float>& {
        return maps.terms[static_cast<unsigned>(t)];
    };
    const auto channel = [&maps](Channel c) -> const Array<float>& {
        return maps.channels[static_cast<unsigned>(c)];
    };
    switch (choice) {
        case MapChoice::Classic:
        case MapChoice::Error:
            return errorMap;
        case MapChoice::TermBase:
            return term(ErrorTerm::Base);
        case MapChoice::TermCrown2:
            return term(ErrorTerm::Crown2);
        case MapChoice::TermCrown3:
            return term(ErrorTerm::Crown3);
        case MapChoice::TermCrown4:
            return term(ErrorTerm::Crown4);
        case MapChoice::ChannelA:
            return channel(Channel::A);
        case MapChoice::ChannelC1:
            return channel(Channel::C1);
        case MapChoice::ChannelC2:
            return channel(Channel::C2);
        case MapChoice::BlockWeight:
            return maps.blockWeight;
        case MapChoice::EdgeZone:
            return maps.edgeZone;
        case MapChoice::Share:
            return maps.share;
    }
    return errorMap;
}

float sharedScaleMax(const std::vector<MapPercentiles>& maps) {
    std::vector<float> p99s;
    std::vector<float> maxima;
    for (const MapPercentiles& p : maps) {
        p99s.push_back(p.p99);
        maxima.push_back(p.max);
    }
    return sharedHeatScale(p99s, maxima);
}

QString heatScaleName(HeatScaleMode mode) {
    switch (mode) {
        case HeatScaleMode::Shared:
            return tr("Shared");
        case HeatScaleMode::PerFile:
            return tr("Per file");
        case HeatScaleMode::Log:
            return tr("Log");
    }
    return QString();
}

QString heatScaleKey(HeatScaleMode mode) {
    switch (mode) {
        case HeatScaleMode::Shared:
            return QStringLiteral("shared");
        case HeatScaleMode::PerFile:
            return QStringLiteral("per-file");
        case HeatScaleMode::Log:
            return QStringLiteral("log");
    }
    return QString();
}

HeatScaleMode heatScaleOfKey(const QString& key) {
    for (const HeatScaleMode mode : kHeatScaleModes) {
        if (heatScaleKey(mode) == key) return mode;
    }
    return HeatScaleMode::Shared;
}

HeatScaleMode rememberedHeatScale() {
    return heatScaleOfKey(QSettings().value(kHeatScaleSetting).toString());
}

void rememberHeatScale(HeatScaleMode mode) {
    QSettings().setValue(kHeatScaleSetting, heatScaleKey(mode));
}

HeatScale scaleOf(MapChoice choice, HeatScaleMode mode, float runMax, const Array<float>& map) {
    const bool ownUnits = choice == MapChoice::BlockWeight || choice == MapChoice::EdgeZone ||
                          choice == MapChoice::Share;
    // The map's percentiles are taken only where the scale needs them: a 4K map's take time.
    if (!ownUnits && mode != HeatScaleMode::PerFile) {
        return heatScaleFor(mode, runMax, 0.0f, 0.0f, ColourMap::Viridis);
    }
    const MapPercentiles own = percentilesOf(map);
    const float top = ownUnits ? sharedScaleMax({own}) : runMax;
    return heatScaleFor(mode, top, own.p99, own.max, ColourMap::Viridis);
}

HeatPicture heatPicture(const Array<float>& map, const HeatScale& scale) {
    const QImage whole = qImageOf(heatMap(map, scale));
    const QImage legendBeside = qImageOf(heatMap(Array<float>(kLegendRows, 1), scale));
    if (whole.isNull() || legendBeside.isNull()) return {};
    const int cols = static_cast<int>(map.cols());
    const int rows = static_cast<int>(map.rows());
    return {whole.copy(0, 0, cols, rows),
            legendBeside.copy(1, 0, legendBeside.width() - 1, legendBeside.height())};
}

QImage qImageOf(const RgbPicture& picture) {
    QImage image(static_cast<int>(picture.width), static_cast<int>(picture.height),
                 QImage::Format_RGB32);
    if (image.isNull()) return image;
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)));
        for (std::uint32_t x = 0; x < picture.width; ++x) {
            const Rgb8 c = picture.at(x, y);
            line[x] = qRgb(c[0], c[1], c[2]);
        }
    }
    return image;
}

}  // namespace lumetra
