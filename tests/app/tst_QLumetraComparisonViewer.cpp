// The comparison viewer opened on a small golden pair with the real explanation: it computes
// in the background, then every mode and every map choice draws the pictures it should.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "AppTestSupport.h"
#include "app/ComparisonCanvas.h"
#include "app/ErrorMapPicture.h"
#include "app/HelpText.h"
#include "app/Lumetra2Explainer.h"
#include "app/QLumetraComparisonViewer.h"
#include "image/HeatMap.h"
#include "image/Percentiles.h"

using namespace lumetra;
using namespace lumetra::testing;

namespace {

const QString kGolden = QStringLiteral(LUMETRA_TEST_DATA_DIR "/golden/");
// Generous: the explanation of a 64 x 64 pair takes a fraction of a second, but the machine
// may be busy.  Not a timing check: the wait ends as soon as the viewer is ready.
constexpr int kReadyTimeoutMs = 60000;

// The request the main window makes for a 64 x 64 pair scored with the default parameters.
ViewerRequest goldenRequest(const QString& degraded) {
    const QString original = kGolden + "scene64.ppm";
    const Comparison comparison =
        lumetra2Explainer()(RgbImage(original.toStdString()),
                            RgbImage((kGolden + degraded).toStdString()), Parameters{})
            .comparison;
    return ViewerRequest{
        original, kGolden + degraded, Parameters{}, comparison, {comparison.err()}};
}

struct Harness {
    std::unique_ptr<QLumetraComparisonViewer> viewer;
    FakeFileChooser* chooser = nullptr;
    RecordingNotifier* notifier = nullptr;

    explicit Harness(ViewerRequest request) {
        auto c = std::make_unique<FakeFileChooser>();
        auto n = std::make_unique<RecordingNotifier>();
        chooser = c.get();
        notifier = n.get();
        viewer = std::make_unique<QLumetraComparisonViewer>(std::move(request), Explainer{},
                                                            std::move(c), std::move(n));
        viewer->resize(960, 480);
        viewer->show();
    }
    bool waitReady() {
        if (!QTest::qWaitForWindowExposed(viewer.get())) return false;
        QSignalSpy ready(viewer.get(), &QLumetraComparisonViewer::ready);
        return ready.isValid() && (!viewer->computing() || ready.wait(kReadyTimeoutMs)) &&
               !viewer->computing();
    }
    ComparisonCanvas* canvas() const { return viewer->findChild<ComparisonCanvas*>("canvas"); }
    QLabel* label(const char* name) const { return viewer->findChild<QLabel*>(name); }
    QComboBox* box(const char* name) const { return viewer->findChild<QComboBox*>(name); }
    // The colour the canvas draws at the middle of image pixel `pixel` in pane `pane`, each
    // pane `paneStep` wide.
    QRgb shownAt(QPoint pixel, int pane = 0, int paneStep = 0) const {
        const QPointF middle = canvas()->transform().toViewport(QPointF(pixel) + QPointF(0.5, 0.5));
        return canvas()->grab().toImage().pixel(middle.toPoint() + QPoint(pane * paneStep, 0));
    }
};

QImage picture(const QString& file) {
    return QImage(file).convertToFormat(QImage::Format_RGB32);
}

}  // namespace

class tst_QLumetraComparisonViewer : public QObject {
    Q_OBJECT

  private slots:
    // Each test starts from a first run: nothing remembered from the one before.
    void init() { TemporarySettings::clear(); }
    void computesInBackgroundThenShowsThePair();
    void everyModeDrawsItsPictures();
    void everyMapChoiceHasAPictureAndLegend();
    void legendGrowsWhereThereIsRoom();
    void spaceAndTimerFlicker();
    void probeFollowsTheCursor();
    void saveImageWritesWhatIsShown();
    void unreadableImageIsShownNotThrown();
    void keysZoomPanAndShowTheirList();
    void probeLocksOnClickAndClearsWhenTheCursorLeaves();
    void overlayBaseSplitAndLegendFollowTheirControls();
    void heatScaleRedrawsTheMapAndIsRemembered();

  private:
    TemporarySettings _settings;
};

void tst_QLumetraComparisonViewer::computesInBackgroundThenShowsThePair() {
    Harness h(goldenRequest("scene64__noise.ppm"));
    QVERIFY(h.viewer->computing());  // the constructor only starts the work
    QVERIFY(h.viewer->windowTitle().startsWith("scene64.ppm vs scene64__noise.ppm: measure "));
    QVERIFY(h.waitReady());
    QVERIFY(h.label("legendLabel")->pixmap().height() > 0);  // the error map's legend
    QVERIFY(h.notifier->warnings.isEmpty());
}

// With the view fitted (64 x 64 enlarged, so without smoothing) the middle of an image pixel
// on the screen shows that pixel of the right picture.
void tst_QLumetraComparisonViewer::everyModeDrawsItsPictures() {
    const ViewerRequest request = goldenRequest("scene64__noise.ppm");
    Harness h(request);
    QVERIFY(h.waitReady());
    const QImage original = picture(kGolden + "scene64.ppm");
    const QImage degraded = picture(kGolden + "scene64__noise.ppm");
    const Array<float>& err = request.comparison.err();
    const Rgb8 top = heatColour(err(32, 10), HeatScale{percentilesOf(err).p99});
    const QRgb heat = qRgb(top[0], top[1], top[2]);
    QComboBox* modes = h.box("modeBox");
    // Pixels where the noise changed the colour, so that the pictures are told apart; the
    // left one lies left of the middle of the picture, the right one right of it.
    const QPoint left(10, 32);
    const QPoint right(54, 32);
    for (const QPoint p : {left, right}) QVERIFY(original.pixel(p) != degraded.pixel(p));

    QCOMPARE(h.viewer->state().mode(), ViewMode::SideBySide);
    constexpr int kPaneGap = 4;  // the canvas's gap between side-by-side panes
    const int paneStep = (h.canvas()->width() - 2 * kPaneGap) / 3 + kPaneGap;
    QCOMPARE(h.shownAt(left, 0, paneStep), original.pixel(left));
    QCOMPARE(h.shownAt(left, 1, paneStep), degraded.pixel(left));
    QCOMPARE(h.shownAt(left, 2, paneStep), heat);

    modes->setCurrentIndex(1);
    emit modes->activated(1);
    QCOMPARE(h.viewer->state().mode(), ViewMode::Split);
    QCOMPARE(h.shownAt(left), original.pixel(left));
    QCOMPARE(h.shownAt(right), degraded.pixel(right));

    modes->setCurrentIndex(2);
    emit modes->activated(2);
    QCOMPARE(h.viewer->state().mode(), ViewMode::Flicker);
    QCOMPARE(h.shownAt(right), original.pixel(right));
    h.viewer->toggleFlicker();
    QCOMPARE(h.shownAt(right), degraded.pixel(right));

    modes->setCurrentIndex(3);
    emit modes->activated(3);
    QCOMPARE(h.viewer->state().mode(), ViewMode::Overlay);
    QSlider* opacity = h.viewer->findChild<QSlider*>("opacitySlider");
    QVERIFY(opacity->isEnabled());
    opacity->setValue(0);
    QCOMPARE(h.shownAt(left), original.pixel(left));
    opacity->setValue(100);
    QCOMPARE(h.shownAt(left), heat);
}

void tst_QLumetraComparisonViewer::everyMapChoiceHasAPictureAndLegend() {
    Harness h(goldenRequest("scene64__blocks.ppm"));
    QVERIFY(h.waitReady());
    QComboBox* maps = h.box("mapBox");
    QCOMPARE(maps->count(), static_cast<int>(kMapChoices.size()));
    for (int i = 0; i < maps->count(); ++i) {
        maps->setCurrentIndex(i);
        emit maps->activated(i);
        QCOMPARE(h.viewer->state().map(), kMapChoices[static_cast<std::size_t>(i)]);
        const QLabel* legend = h.label("legendLabel");
        if (kMapChoices[static_cast<std::size_t>(i)] == MapChoice::Classic) {
            QVERIFY(legend->text().contains("blue"));
        } else {
            QVERIFY2(legend->pixmap().height() > 0, qPrintable(maps->itemText(i)));
        }
    }
}

// The legend is shown twice its size where the pictures are tall enough, pixel for pixel.
void tst_QLumetraComparisonViewer::legendGrowsWhereThereIsRoom() {
    Harness h(goldenRequest("scene64__blocks.ppm"));
    QVERIFY(h.waitReady());
    // Every legend has the size of a 256-row picture's, whatever the map.
    const int small = heatPicture(Array<float>(64, 64), HeatScale{}).legend.height();
    QCOMPARE(h.label("legendLabel")->pixmap().height(), small);
    h.viewer->resize(960, 2 * small + 200);
    QTRY_COMPARE(h.label("legendLabel")->pixmap().height(), 2 * small);
    h.viewer->resize(960, 480);
    QTRY_COMPARE(h.label("legendLabel")->pixmap().height(), small);
}

void tst_QLumetraComparisonViewer::spaceAndTimerFlicker() {
    Harness h(goldenRequest("scene64__blur.ppm"));
    QVERIFY(h.waitReady());
    h.viewer->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(h.viewer.get()));  // shortcuts reach active windows
    QTest::keyClick(h.viewer.get(), Qt::Key_Space);
    QCOMPARE(h.viewer->state().mode(), ViewMode::Flicker);
    QVERIFY(h.viewer->state().flickerShowsDegraded());
    QTest::keyClick(h.viewer.get(), Qt::Key_Space);
    QVERIFY(!h.viewer->state().flickerShowsDegraded());
    h.viewer->findChild<QCheckBox*>("flickerAutoBox")->setChecked(true);
    QTRY_VERIFY(h.viewer->state().flickerShowsDegraded());  // the timer switched the image
    QTRY_VERIFY(!h.viewer->state().flickerShowsDegraded());
    h.viewer->setMode(ViewMode::SideBySide);  // leaving flicker mode stops the timer
    QVERIFY(!h.viewer->findChild<QCheckBox*>("flickerAutoBox")->isChecked());
}

void tst_QLumetraComparisonViewer::probeFollowsTheCursor() {
    Harness h(goldenRequest("scene64__noise.ppm"));
    QVERIFY(h.waitReady());
    const QPoint pixel(17, 40);
    QTest::mouseMove(h.canvas(), h.canvas()->transform().toViewport(QPointF(17.5, 40.5)).toPoint());
    const QString text = h.label("probeLabel")->text();
    QVERIFY2(text.startsWith(QString("x %1, y %2 |").arg(pixel.x()).arg(pixel.y())),
             qPrintable(text));
    QVERIFY(text.contains("share") && text.contains("terms"));
}

// Ctrl+S saves what is shown, named after the file and the map: it used to save the
// black-to-blue map whatever was on screen, and proposed no name.
void tst_QLumetraComparisonViewer::saveImageWritesWhatIsShown() {
    const ViewerRequest request = goldenRequest("scene64__hue.ppm");
    const QImage classic = errorMapImage(request.comparison.err());
    Harness h(request);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("map.png");
    h.viewer->setMap(MapChoice::Classic);
    QVERIFY(h.viewer->saveImage(path));  // before the images are in, from the error map
    QCOMPARE(QImage(path).convertToFormat(QImage::Format_RGB32), classic);
    QVERIFY(!h.viewer->saveImage(dir.filePath("missing folder/map.png")));
    QCOMPARE(h.notifier->warnings.size(), 1);
    QVERIFY(h.waitReady());

    // The heat map of the choice, pixel for pixel as the canvas is given it.
    h.viewer->setMap(MapChoice::Share);
    h.chooser->imageAnswer = dir.filePath("shown");
    h.viewer->findChild<QAction*>("actionSaveImage")->trigger();
    QCOMPARE(h.chooser->proposedNames.value(0), QStringLiteral("scene64__hue_share.png"));
    const QImage share(dir.filePath("shown.png"));  // the suffix is added
    QCOMPARE(share.size(), classic.size());
    QCOMPARE(share.convertToFormat(QImage::Format_RGB32), h.viewer->shownPicture());
    QVERIFY(share.convertToFormat(QImage::Format_RGB32) != classic);

    // Overlay: the heat map over the original at the slider's opacity.
    h.viewer->setMode(ViewMode::Overlay);
    QCOMPARE(h.viewer->proposedName(), QStringLiteral("scene64__hue_share-overlay.png"));
    const QImage overlay = h.viewer->shownPicture();
    QCOMPARE(overlay.size(), classic.size());
    QVERIFY(overlay != share.convertToFormat(QImage::Format_RGB32));
    QVERIFY(overlay != picture(kGolden + "scene64.ppm"));
}

void tst_QLumetraComparisonViewer::unreadableImageIsShownNotThrown() {
    ViewerRequest request = goldenRequest("scene64__noise.ppm");
    request.degradedFile = kGolden + "gone.ppm";
    Harness h(std::move(request));
    QVERIFY(h.waitReady());
    QVERIFY(h.label("probeLabel")->text().contains("gone.ppm"));
    h.viewer->setMode(ViewMode::Overlay);  // nothing to draw, nothing to fail
    QVERIFY(!h.canvas()->grab().isNull());
}

void tst_QLumetraComparisonViewer::keysZoomPanAndShowTheirList() {
    Harness h(goldenRequest("scene64__blur.ppm"));
    QVERIFY(h.waitReady());
    h.viewer->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(h.viewer.get()));  // shortcuts reach active windows
    const ViewTransform& view = h.canvas()->transform();

    // The zoom readout in percent: 1:1 is 100%.
    QTest::keyClick(h.viewer.get(), Qt::Key_1, Qt::ControlModifier);
    QCOMPARE(view.zoom(), 1.0);
    QCOMPARE(h.label("zoomLabel")->text(), QStringLiteral("100%"));
    QTest::keyClick(h.viewer.get(), Qt::Key_0, Qt::ControlModifier);
    QVERIFY(view.fitted());
    QCOMPARE(h.label("zoomLabel")->text(), QStringLiteral("%1%").arg(qRound(view.zoom() * 100)));

    // Zoomed in past the pane, an arrow key pans by 40 screen pixels.
    for (int k = 0; k < 4; ++k) h.canvas()->zoomIn();
    const QPointF before = view.offset();
    QTest::keyClick(h.viewer.get(), Qt::Key_Right);
    QCOMPARE(view.offset().x(), before.x() - 40.0);
    QTest::keyClick(h.viewer.get(), Qt::Key_Left);
    QCOMPARE(view.offset(), before);

    // ? or F1 shows the keys over the pictures; Esc hides them first, then closes.
    QLabel* keys = h.label("keyHelpLabel");
    QVERIFY(keys && !keys->isVisible());
    QTest::keyClick(h.viewer.get(), Qt::Key_F1);
    QVERIFY(keys->isVisible());
    QCOMPARE(keys->text(), viewerKeysText());
    QTest::keyClick(h.viewer.get(), Qt::Key_Question);
    QVERIFY(!keys->isVisible());
    QTest::keyClick(h.viewer.get(), Qt::Key_F1);
    QTest::keyClick(h.viewer.get(), Qt::Key_Escape);
    QVERIFY(!keys->isVisible() && h.viewer->isVisible());
    QTest::keyClick(h.viewer.get(), Qt::Key_Escape);
    QVERIFY(!h.viewer->isVisible());
}

void tst_QLumetraComparisonViewer::probeLocksOnClickAndClearsWhenTheCursorLeaves() {
    Harness h(goldenRequest("scene64__noise.ppm"));
    QVERIFY(h.waitReady());
    const auto at = [&h](double x, double y) {
        return h.canvas()->transform().toViewport(QPointF(x + 0.5, y + 0.5)).toPoint();
    };
    const QString hint = h.label("probeLabel")->text();
    QTest::mouseMove(h.canvas(), at(16, 39));
    QVERIFY(h.label("probeLabel")->text().startsWith("x 16, y 39 |"));
    // The crosshair crosses the pixel: a white line (on black) down to the pane's bottom.
    const QImage shown = h.canvas()->grab().toImage();
    const QPoint centre = at(16, 39);
    const int bottom = h.canvas()->height() - 3;
    QVERIFY(shown.pixel(centre.x() - 1, bottom) == qRgb(255, 255, 255) ||
            shown.pixel(centre.x(), bottom) == qRgb(255, 255, 255) ||
            shown.pixel(centre.x() + 1, bottom) == qRgb(255, 255, 255));

    // Leaving the pictures clears the values (they used to stay as if still pointed at).
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(h.canvas(), &leave);
    QCOMPARE(h.label("probeLabel")->text(), hint);

    // A click locks: the values stay for that pixel while the cursor moves and leaves.
    QTest::mouseClick(h.canvas(), Qt::LeftButton, {}, at(20, 10));
    QCOMPARE(h.viewer->lockedPixel(), std::optional<QPoint>(QPoint(20, 10)));
    QTest::mouseMove(h.canvas(), at(30, 30));
    QApplication::sendEvent(h.canvas(), &leave);
    QString text = h.label("probeLabel")->text();
    QVERIFY2(text.startsWith("x 20, y 10 |") && text.contains("locked"), qPrintable(text));
    // Clicked again, it follows the cursor.
    QTest::mouseClick(h.canvas(), Qt::LeftButton, {}, at(30, 30));
    QVERIFY(!h.viewer->lockedPixel());
    QVERIFY(h.label("probeLabel")->text().startsWith("x 30, y 30 |"));
}

void tst_QLumetraComparisonViewer::overlayBaseSplitAndLegendFollowTheirControls() {
    Harness h(goldenRequest("scene64__noise.ppm"));
    QVERIFY(h.waitReady());
    const QImage original = picture(kGolden + "scene64.ppm");
    const QImage degraded = picture(kGolden + "scene64__noise.ppm");
    const QPoint pixel(40, 40);
    h.viewer->setMode(ViewMode::Overlay);
    h.viewer->findChild<QSlider*>("opacitySlider")->setValue(0);  // the base alone
    QCOMPARE(h.shownAt(pixel), original.pixel(pixel));
    h.viewer->findChild<QCheckBox*>("overlayDegradedBox")->setChecked(true);
    QCOMPARE(h.shownAt(pixel), degraded.pixel(pixel));
    h.viewer->findChild<QCheckBox*>("overlayGreyBox")->setChecked(true);
    const QRgb grey = h.shownAt(pixel);
    QVERIFY(qRed(grey) == qGreen(grey) && qGreen(grey) == qBlue(grey));
    QVERIFY(h.label("legendLabel")->isVisible());

    // Split and flicker show no map, and no legend.
    h.viewer->setMode(ViewMode::Split);
    QVERIFY(!h.label("legendLabel")->isVisible());
    h.viewer->setMode(ViewMode::Flicker);
    QVERIFY(!h.label("legendLabel")->isVisible());

    // Top/bottom split: the original above the divider, the degraded picture below it, on
    // the same column.
    h.viewer->setMode(ViewMode::Split);
    h.viewer->findChild<QCheckBox*>("splitTopBottomBox")->setChecked(true);
    QVERIFY(!h.viewer->state().splitLeftRight());
    QCOMPARE(h.shownAt(QPoint(50, 5)), original.pixel(50, 5));
    QCOMPARE(h.shownAt(QPoint(50, 58)), degraded.pixel(50, 58));
}

// A run whose other file has four times this one's error: on the shared scale this file's
// map sits in the lower colours; per file it spans them all; log lifts its small values.  The
// pixel drawn is the table's colour at heatFraction of its value, exactly (both round the
// same fraction to the same entry), and the legend is the one drawn for that scale, which
// names k for the log curve.  A viewer opened afterwards (a restart: the settings are read
// anew) draws on the scale chosen last.
void tst_QLumetraComparisonViewer::heatScaleRedrawsTheMapAndIsRemembered() {
    ViewerRequest request = goldenRequest("scene64__noise.ppm");
    const Array<float>& err = request.comparison.err();
    Array<float> worse = err;
    for (std::uint32_t r = 0; r < worse.rows(); ++r) {
        for (std::uint32_t c = 0; c < worse.cols(); ++c) worse(r, c) *= 4.0f;
    }
    request.runMaps.push_back(worse);
    const MapPercentiles own = percentilesOf(err);
    const float runMax = 4.0f * own.p99;
    // A pixel well inside this map's own scale, where the three curves part.
    QPoint pixel(-1, -1);
    for (std::uint32_t r = 0; r < err.rows() && pixel.x() < 0; ++r) {
        for (std::uint32_t c = 0; c < err.cols() && pixel.x() < 0; ++c) {
            if (err(r, c) > 0.3f * own.p99 && err(r, c) < 0.7f * own.p99) {
                pixel = QPoint(static_cast<int>(c), static_cast<int>(r));
            }
        }
    }
    QVERIFY(pixel.x() >= 0);
    const float value =
        err(static_cast<std::uint32_t>(pixel.y()), static_cast<std::uint32_t>(pixel.x()));
    const auto expected = [value](const HeatScale& scale) {
        const Rgb8 c = colourOfFraction(ColourMap::Viridis, heatFraction(value, scale));
        return qRgb(c[0], c[1], c[2]);
    };
    const HeatScale shared{runMax};
    const HeatScale perFile =
        heatScaleFor(HeatScaleMode::PerFile, runMax, own.p99, own.max, ColourMap::Viridis);
    const HeatScale log =
        heatScaleFor(HeatScaleMode::Log, runMax, own.p99, own.max, ColourMap::Viridis);
    QCOMPARE(perFile.max, own.p99);
    QCOMPARE(log.knee, runMax * kLogKneeFraction);
    // The three choices must draw the pixel differently, or the test proves nothing.
    QVERIFY(expected(shared) != expected(perFile) && expected(shared) != expected(log) &&
            expected(perFile) != expected(log));
    // The legend shown is the one drawn for the scale, at one or two times its size.
    const auto legendOf = [](const Harness& h, QSize size) {
        return h.label("legendLabel")
            ->pixmap()
            .toImage()
            .convertToFormat(QImage::Format_RGB32)
            .scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    };
    const auto drawsOn = [&](const Harness& h, const HeatScale& scale) {
        const QImage legend = heatPicture(err, scale).legend;
        return h.viewer->shownPicture().pixel(pixel) == expected(scale) &&
               legendOf(h, legend.size()) == legend;
    };
    {
        Harness h(request);
        QVERIFY(h.waitReady());
        QCOMPARE(h.viewer->state().heatScale(), HeatScaleMode::Shared);  // the default
        QVERIFY(drawsOn(h, shared));
        QComboBox* scales = h.box("heatScaleBox");
        QCOMPARE(scales->count(), 3);
        scales->setCurrentIndex(1);
        emit scales->activated(1);
        QCOMPARE(h.viewer->state().heatScale(), HeatScaleMode::PerFile);
        QVERIFY(drawsOn(h, perFile));
        // The canvas shows what Save writes.
        constexpr int kPaneGap = 4;
        const int paneStep = (h.canvas()->width() - 2 * kPaneGap) / 3 + kPaneGap;
        QCOMPARE(h.shownAt(pixel, 2, paneStep), expected(perFile));
        scales->setCurrentIndex(2);
        emit scales->activated(2);
        QVERIFY(drawsOn(h, log));
        // The log legend carries a title line (its k) and the curve's labels.
        QVERIFY(heatPicture(err, log).legend != heatPicture(err, shared).legend);
        h.viewer->close();
    }
    Harness again(request);
    QVERIFY(again.waitReady());
    QCOMPARE(again.viewer->state().heatScale(), HeatScaleMode::Log);
    QCOMPARE(again.box("heatScaleBox")->currentIndex(), 2);
    QVERIFY(drawsOn(again, log));
}

QTEST_MAIN(tst_QLumetraComparisonViewer)
#include "tst_QLumetraComparisonViewer.moc"
