// The comparison viewer's logic without a window: the run's shared scale, the maps of each
// choice, the pixel probe against a real explanation, the request a table row makes, and the
// bounds of the viewer's state.

#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <limits>
#include <set>

#include "AppTestSupport.h"
#include "app/Lumetra2Explainer.h"
#include "app/PixelProbe.h"
#include "app/ViewerData.h"
#include "app/ViewerMaps.h"
#include "app/ViewerState.h"
#include "image/Percentiles.h"

using namespace lumetra;
using namespace lumetra::testing;

namespace {

const QString kGolden = QStringLiteral(LUMETRA_TEST_DATA_DIR "/golden/");
constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// The golden error map values were computed independently; the README grants 1e-4 relative.
constexpr double kGoldenRelTol = 1e-4;
// The four weighted terms add up to M; four float additions round by a few ulps at most.
constexpr double kTermSumRelTol = 1e-5;

MapPercentiles withP99(float p99, float max) {
    return {0.0f, 0.0f, p99, max};
}

// A map of the given size filled with one value.
Array<float> filled(std::uint32_t rows, std::uint32_t cols, float value) {
    Array<float> map(rows, cols);
    for (std::size_t i = 0; i < map.size(); ++i) map.data()[i] = value;
    return map;
}

Explanation explainGolden(const QString& original, const QString& degraded) {
    return lumetra2Explainer()(RgbImage((kGolden + original).toStdString()),
                               RgbImage((kGolden + degraded).toStdString()), Parameters{});
}

bool relativelyNear(double actual, double expected, double tolerance) {
    return std::abs(actual - expected) <= tolerance * std::abs(expected);
}

}  // namespace

Q_DECLARE_METATYPE(std::vector<lumetra::MapPercentiles>)

class tst_ViewerModel : public QObject {
    Q_OBJECT

  private slots:
    void sharedScaleIsLargestP99_data();
    void sharedScaleIsLargestP99();
    void loadedRunScaleIsLargestP99OfScoredFiles();
    void unreadableOrResizedImageIsAMessage();
    void requestIsMadeOnlyForScoredRows();
    void titleNamesBothFilesMeasureAndScore();
    void eachChoiceShowsItsOwnMap();
    void mapsInErrorUnitsShareTheRunScale();
    void probeGivesTheMapsValuesAtThePixel_data();
    void probeGivesTheMapsValuesAtThePixel();
    void probeOutsideTheImageGivesNothing();
    void stateKeepsSettingsInTheirRange();
};

void tst_ViewerModel::sharedScaleIsLargestP99_data() {
    QTest::addColumn<std::vector<MapPercentiles>>("maps");
    QTest::addColumn<float>("expected");
    QTest::newRow("largest p99 of three")
        << std::vector{withP99(1.0f, 9.0f), withP99(3.0f, 4.0f), withP99(2.0f, 50.0f)} << 3.0f;
    QTest::newRow("NaN and infinity are passed over")
        << std::vector{withP99(kNan, kNan), withP99(kInf, kInf), withP99(0.5f, 1.0f)} << 0.5f;
    QTest::newRow("no p99 above 0: largest maximum")
        << std::vector{withP99(0.0f, 0.25f), withP99(0.0f, 0.75f)} << 0.75f;
    QTest::newRow("no error anywhere: 1") << std::vector{withP99(0.0f, 0.0f)} << 1.0f;
    QTest::newRow("no scored file: 1") << std::vector<MapPercentiles>{} << 1.0f;
}

void tst_ViewerModel::sharedScaleIsLargestP99() {
    QFETCH(std::vector<MapPercentiles>, maps);
    QFETCH(float, expected);
    QCOMPARE(sharedScaleMax(maps), expected);
}

// The scale comes from every scored file of the run, not from the file shown.
void tst_ViewerModel::loadedRunScaleIsLargestP99OfScoredFiles() {
    const Comparison shown(1.0f, 4.0f, filled(64, 64, 2.0f));
    Array<float> worse = filled(64, 64, 1.0f);
    for (std::uint32_t c = 0; c < 64; ++c) worse(0, c) = 100.0f;  // 1.6% of the pixels
    const std::vector<std::optional<Comparison>> run = {Comparison(1.0f, 4.0f, worse), std::nullopt,
                                                        shown};
    const std::optional<ViewerRequest> request =
        viewerRequest(kGolden + "scene64.ppm",
                      {kGolden + "a.ppm", kGolden + "b.ppm", kGolden + "scene64__noise.ppm"}, run,
                      Parameters{}, 2);
    QVERIFY(request);
    const ViewerImages images = loadViewerImages(*request);
    QVERIFY2(images.error.isEmpty(), qPrintable(images.error));
    QCOMPARE(images.runMax, percentilesOf(worse).p99);
    QVERIFY(images.runMax > 2.0f);  // the worse file's 99th percentile lies in its top row
    QCOMPARE(images.originalPicture.size(), QSize(64, 64));
    QCOMPARE(images.errorMax, 2.0f);
}

void tst_ViewerModel::unreadableOrResizedImageIsAMessage() {
    const Comparison comparison(1.0f, 4.0f, filled(64, 64, 1.0f));
    const ViewerRequest missing{
        kGolden + "scene64.ppm", kGolden + "no such file.ppm", Parameters{}, comparison, {}};
    QVERIFY(loadViewerImages(missing).error.contains("no such file.ppm"));
    const ViewerRequest resized{
        kGolden + "scene64.ppm", kGolden + "scene97x64.ppm", Parameters{}, comparison, {}};
    const ViewerImages images = loadViewerImages(resized);
    QVERIFY(images.error.contains("size"));
    QVERIFY(images.originalPicture.isNull());
}

void tst_ViewerModel::requestIsMadeOnlyForScoredRows() {
    const std::vector<std::optional<Comparison>> run = {std::nullopt,
                                                        markedComparison(5.0f, 3.0f, 8, 8, 1)};
    const QStringList files = {"failed.ppm", "scored.ppm"};
    QVERIFY(!viewerRequest("o.ppm", files, run, Parameters{}, 0));  // a failed file
    QVERIFY(!viewerRequest("o.ppm", files, run, Parameters{}, 2));  // no such row
    QVERIFY(!viewerRequest("o.ppm", files, run, Parameters{}, -1));
    Parameters changed;
    changed.beta = 2.0f;
    const std::optional<ViewerRequest> request = viewerRequest("o.ppm", files, run, changed, 1);
    QVERIFY(request);
    QCOMPARE(request->degradedFile, QString("scored.ppm"));
    QCOMPARE(request->parameters, changed);
    QCOMPARE(request->comparison.err(), run[1]->err());
    QCOMPARE(request->runMaps.size(), std::size_t{1});
}

void tst_ViewerModel::titleNamesBothFilesMeasureAndScore() {
    const ViewerRequest request{"/data/set/coffee.ppm",
                                "/data/set/out/coffee_blur.ppm",
                                Parameters{},
                                Comparison(296.125f, 3.57762f, Array<float>()),
                                {}};
    QCOMPARE(viewerTitle(request),
             QString("coffee.ppm vs coffee_blur.ppm: measure 296.125, score 3.57762"));
}

// Each plane of the explanation holds its own value: a choice showing another's plane, or
// two choices showing one plane, is caught.
void tst_ViewerModel::eachChoiceShowsItsOwnMap() {
    ExplanationMaps maps;
    float value = 1.0f;
    for (Array<float>& term : maps.terms) term = filled(2, 3, value++);
    for (Array<float>& channel : maps.channels) channel = filled(2, 3, value++);
    maps.blockWeight = filled(2, 3, value++);
    maps.edgeZone = filled(2, 3, value++);
    maps.share = filled(2, 3, value++);
    const Array<float> errorMap = filled(2, 3, 0.0f);

    QCOMPARE(mapOf(MapChoice::TermBase, errorMap, maps)(0, 0), 1.0f);
    QCOMPARE(mapOf(MapChoice::TermCrown4, errorMap, maps)(0, 0), 4.0f);
    QCOMPARE(mapOf(MapChoice::ChannelA, errorMap, maps)(0, 0), 5.0f);
    QCOMPARE(mapOf(MapChoice::ChannelC2, errorMap, maps)(0, 0), 7.0f);
    QCOMPARE(mapOf(MapChoice::Share, errorMap, maps)(0, 0), 10.0f);
    // The two error-map pictures come with the comparison; every other map needs the
    // explanation.
    QVERIFY(!needsExplanation(MapChoice::Classic));
    QVERIFY(!needsExplanation(MapChoice::Error));
    QVERIFY(needsExplanation(MapChoice::TermBase));
    QVERIFY(needsExplanation(MapChoice::Share));
    std::set<float> shown;
    for (const MapChoice choice : kMapChoices) {
        if (needsExplanation(choice)) shown.insert(mapOf(choice, errorMap, maps)(1, 2));
        QVERIFY(!mapChoiceName(choice).isEmpty());
    }
    QCOMPARE(shown.size(), std::size_t{10});
    QCOMPARE(&mapOf(MapChoice::Classic, errorMap, maps), &errorMap);
    QCOMPARE(&mapOf(MapChoice::Error, errorMap, maps), &errorMap);
}

void tst_ViewerModel::mapsInErrorUnitsShareTheRunScale() {
    const Array<float> share = filled(4, 4, 0.0625f);  // sixteen equal shares
    for (const MapChoice choice : {MapChoice::Error, MapChoice::TermCrown3, MapChoice::ChannelC1}) {
        QCOMPARE(scaleOf(choice, HeatScaleMode::Shared, 42.0f, share).max, 42.0f);
    }
    QCOMPARE(scaleOf(MapChoice::Share, HeatScaleMode::Shared, 42.0f, share).max, 0.0625f);
    QCOMPARE(scaleOf(MapChoice::EdgeZone, HeatScaleMode::Shared, 42.0f, filled(4, 4, 0.0f)).max,
             1.0f);

    // Per file: the error map's own top, not the run's; log: the run's top through the curve
    // with the knee at a hundredth of it.  Maps of their own units keep their own top.
    const HeatScale own = scaleOf(MapChoice::Error, HeatScaleMode::PerFile, 42.0f, share);
    QCOMPARE(own.max, 0.0625f);
    QCOMPARE(own.curve, HeatCurve::Linear);
    const HeatScale log = scaleOf(MapChoice::TermBase, HeatScaleMode::Log, 42.0f, share);
    QCOMPARE(log.max, 42.0f);
    QCOMPARE(log.curve, HeatCurve::Log);
    QCOMPARE(log.knee, 42.0f * kLogKneeFraction);
    const HeatScale shareLog = scaleOf(MapChoice::Share, HeatScaleMode::Log, 42.0f, share);
    QCOMPARE(shareLog.max, 0.0625f);
    QCOMPARE(shareLog.curve, HeatCurve::Log);

    // The remembered names are the command line's; anything else reads as the default.
    for (const HeatScaleMode mode : kHeatScaleModes) {
        QCOMPARE(heatScaleOfKey(heatScaleKey(mode)), mode);
        QVERIFY(!heatScaleName(mode).isEmpty());
    }
    QCOMPARE(heatScaleKey(HeatScaleMode::PerFile), QStringLiteral("per-file"));
    QCOMPARE(heatScaleOfKey(QStringLiteral("2")), HeatScaleMode::Shared);
}

void tst_ViewerModel::probeGivesTheMapsValuesAtThePixel_data() {
    QTest::addColumn<QString>("original");
    QTest::addColumn<QString>("degraded");
    QTest::addColumn<QPoint>("pixel");
    QTest::addColumn<double>("golden");  // M(row, column) from the golden README
    // Non-square images catch a swapped row and column.
    QTest::newRow("97x64 blocks, row 10 column 20")
        << QStringLiteral("scene97x64.ppm") << QStringLiteral("scene97x64__blocks.ppm")
        << QPoint(20, 10) << 171.900711;
    QTest::newRow("97x64 blocks, row 33 column 50")
        << QStringLiteral("scene97x64.ppm") << QStringLiteral("scene97x64__blocks.ppm")
        << QPoint(50, 33) << 278.344086;
    QTest::newRow("64 noise, row 10 column 20")
        << QStringLiteral("scene64.ppm") << QStringLiteral("scene64__noise.ppm") << QPoint(20, 10)
        << 216.398346;
}

void tst_ViewerModel::probeGivesTheMapsValuesAtThePixel() {
    QFETCH(QString, original);
    QFETCH(QString, degraded);
    QFETCH(QPoint, pixel);
    QFETCH(double, golden);
    const RgbImage o((kGolden + original).toStdString());
    const RgbImage d((kGolden + degraded).toStdString());
    const Explanation x = explainGolden(original, degraded);
    const auto row = static_cast<std::uint32_t>(pixel.y());
    const auto col = static_cast<std::uint32_t>(pixel.x());

    const std::optional<PixelProbe> probe = probeAt(o, d, x.comparison.err(), &x.maps, pixel);
    QVERIFY(probe && probe->explained);
    QCOMPARE(probe->pixel, pixel);
    QVERIFY2(relativelyNear(probe->error, golden, kGoldenRelTol),
             qPrintable(QString("error %1, golden %2").arg(probe->error).arg(golden)));
    QCOMPARE(probe->original, (std::array{o.R()(row, col), o.G()(row, col), o.B()(row, col)}));
    QCOMPARE(probe->degraded, (std::array{d.R()(row, col), d.G()(row, col), d.B()(row, col)}));
    const ExplainedPixel& e = *probe->explained;
    double termSum = 0.0;
    for (unsigned t = 0; t < kErrorTermCount; ++t) {
        QCOMPARE(e.terms[t], x.maps.terms[t](row, col));
        termSum += static_cast<double>(e.terms[t]);
    }
    QVERIFY2(relativelyNear(termSum, probe->error, kTermSumRelTol),
             qPrintable(QString("terms add up to %1, error %2").arg(termSum).arg(probe->error)));
    for (unsigned c = 0; c < kChannelCount; ++c)
        QCOMPARE(e.channels[c], x.maps.channels[c](row, col));
    QCOMPARE(e.blockWeight, x.maps.blockWeight(row, col));
    QCOMPARE(e.share, x.maps.share(row, col));
    QCOMPARE(e.inEdgeZone, x.maps.edgeZone(row, col) == 1.0f);

    const QString text = probeText(*probe);
    QVERIFY(text.startsWith(QString("x %1, y %2 |").arg(col).arg(row)));
    QVERIFY(text.contains(QString("error %1").arg(probe->error, 0, 'g', 6)));
}

void tst_ViewerModel::probeOutsideTheImageGivesNothing() {
    const RgbImage o((kGolden + "scene97x64.ppm").toStdString());
    const Array<float> map = filled(64, 97, 3.0f);
    for (const QPoint outside : {QPoint(97, 0), QPoint(0, 64), QPoint(-1, 5), QPoint(5, -1)}) {
        QVERIFY(!probeAt(o, o, map, nullptr, outside));
    }
    const std::optional<PixelProbe> corner = probeAt(o, o, map, nullptr, QPoint(96, 63));
    QVERIFY(corner);
    QCOMPARE(corner->error, 3.0f);
    QVERIFY(!corner->explained);  // no explanation yet: the maps' values are not claimed
    QVERIFY(!probeText(*corner).contains("share"));
    QVERIFY(!probeText(*corner).contains(" of "));  // 8-bit samples need no maxval

    const RgbImage deep((kGolden + "scene64_16bit.ppm").toStdString());
    const std::optional<PixelProbe> sixteen =
        probeAt(deep, deep, filled(64, 64, 0.0f), nullptr, QPoint(3, 5));
    QVERIFY(sixteen);
    QCOMPARE(sixteen->original[0], deep.R()(5, 3));
    QVERIFY(probeText(*sixteen).contains(" | of 65535 | "));
}

void tst_ViewerModel::stateKeepsSettingsInTheirRange() {
    ViewerState s;
    s.setSplitFraction(-0.5);
    QCOMPARE(s.splitFraction(), 0.0);
    s.setSplitFraction(1.5);
    QCOMPARE(s.splitFraction(), 1.0);
    s.setSplitFraction(std::nan(""));
    QCOMPARE(s.splitFraction(), 1.0);
    s.setFlickerIntervalMs(0);
    QCOMPARE(s.flickerIntervalMs(), ViewerState::kMinFlickerIntervalMs);
    s.setFlickerIntervalMs(1000000);
    QCOMPARE(s.flickerIntervalMs(), ViewerState::kMaxFlickerIntervalMs);
    s.setOverlayOpacity(2.0);
    QCOMPARE(s.overlayOpacity(), 1.0);
    QVERIFY(!s.flickerShowsDegraded());
    s.toggleFlicker();
    QVERIFY(s.flickerShowsDegraded());
    s.toggleFlicker();
    QVERIFY(!s.flickerShowsDegraded());
}

QTEST_GUILESS_MAIN(tst_ViewerModel)
#include "tst_ViewerModel.moc"
