#include "app/PixelProbe.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstddef>
#include <cstdint>

#include "app/ResultFormat.h"

namespace lumetra {

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("lumetra::PixelProbe", text);
}

// Shares are shown in percent with four significant digits: one pixel of a large image holds
// a tiny share.
constexpr double kPercent = 100.0;
constexpr int kShareDigits = 4;

std::array<unsigned, 3> samplesAt(const RgbImage& image, std::uint32_t row, std::uint32_t col) {
    return {image.R()(row, col), image.G()(row, col), image.B()(row, col)};
}

QString samplesText(const std::array<unsigned, 3>& samples) {
    return QStringLiteral("%1 %2 %3").arg(samples[0]).arg(samples[1]).arg(samples[2]);
}

template <std::size_t N>
QString valuesText(const std::array<float, N>& values) {
    QStringList texts;
    for (const float v : values) texts << formatResult(v);
    return texts.join(QLatin1Char(' '));
}

}  // namespace

std::optional<PixelProbe> probeAt(const RgbImage& original, const RgbImage& degraded,
                                  const Array<float>& errorMap, const ExplanationMaps* maps,
                                  QPoint pixel) {
    if (pixel.x() < 0 || pixel.y() < 0) return std::nullopt;
    const auto row = static_cast<std::uint32_t>(pixel.y());
    const auto col = static_cast<std::uint32_t>(pixel.x());
    if (row >= errorMap.rows() || col >= errorMap.cols()) return std::nullopt;

    PixelProbe probe;
    probe.pixel = pixel;
    probe.original = samplesAt(original, row, col);
    probe.degraded = samplesAt(degraded, row, col);
    probe.maxval = original.maxval();
    probe.error = errorMap(row, col);
    if (maps) {
        ExplainedPixel explained;
        for (unsigned t = 0; t < kErrorTermCount; ++t)
            explained.terms[t] = maps->terms[t](row, col);
        for (unsigned c = 0; c < kChannelCount; ++c) {
            explained.channels[c] = maps->channels[c](row, col);
        }
        explained.blockWeight = maps->blockWeight(row, col);
        explained.inEdgeZone = maps->edgeZone(row, col) != 0.0f;
        explained.share = maps->share(row, col);
        probe.explained = explained;
    }
    return probe;
}

QString probeText(const PixelProbe& probe) {
    QStringList parts;
    parts << tr("x %1, y %2").arg(probe.pixel.x()).arg(probe.pixel.y());
    parts << tr("original %1").arg(samplesText(probe.original));
    parts << tr("degraded %1").arg(samplesText(probe.degraded));
    if (probe.maxval != RgbImage::kDefaultMaxval) parts << tr("of %1").arg(probe.maxval);
    parts << tr("error %1").arg(formatResult(probe.error));
    if (const std::optional<ExplainedPixel>& x = probe.explained) {
        parts << tr("share %1%")
                     .arg(QString::number(static_cast<double>(x->share) * kPercent, 'g',
                                          kShareDigits));
        parts << tr("terms (base, crown 2, 3, 4) %1").arg(valuesText(x->terms));
        parts << tr("channels (A, C1, C2) %1").arg(valuesText(x->channels));
        parts << tr("block weight %1").arg(formatResult(x->blockWeight));
        parts << (x->inEdgeZone ? tr("edge changed") : tr("edge unchanged"));
    }
    return parts.join(QStringLiteral(" | "));
}

}  // namespace lumetra
