#include <QtTest>
#include <cmath>

#include "app/ViewTransform.h"

using namespace lumetra;

namespace {

// Zoom and offset are doubles moved by a few multiplications and additions: positions of a
// 4K image agree to far better than a millionth of a pixel.
constexpr double kPixelTol = 1e-6;

const QSizeF k4k(3840.0, 2160.0);
const QSizeF kViewport(800.0, 600.0);

bool near(QPointF a, QPointF b) {
    return std::abs(a.x() - b.x()) <= kPixelTol && std::abs(a.y() - b.y()) <= kPixelTol;
}

ViewTransform transformOf(QSizeF image, QSizeF viewport) {
    ViewTransform t;
    t.setViewportSize(viewport);
    t.setImageSize(image);
    return t;
}

}  // namespace

class tst_ViewTransform : public QObject {
    Q_OBJECT

  private slots:
    void zoomKeepsImagePointUnderAnchor_data();
    void zoomKeepsImagePointUnderAnchor();
    void fitShowsWholeImageCentred_data();
    void fitShowsWholeImageCentred();
    void actualSizeAfterFitKeepsCentre();
    void panStopsAtImageEdges();
    void smallImageStaysCentred();
    void zoomIsBounded();
    void fittedViewFollowsViewportSize();
};

void tst_ViewTransform::zoomKeepsImagePointUnderAnchor_data() {
    QTest::addColumn<QSizeF>("image");
    QTest::addColumn<double>("startZoom");  // reached by zooming about the viewport centre
    QTest::addColumn<double>("factor");
    QTest::addColumn<QPointF>("anchor");
    // The image covers the viewport before and after: no bound moves the anchor's point.
    QTest::newRow("4K in at centre") << k4k << 1.0 << 2.0 << QPointF(400.0, 300.0);
    QTest::newRow("4K in at top-left corner") << k4k << 1.0 << 1.5 << QPointF(0.0, 0.0);
    QTest::newRow("4K in at bottom-right") << k4k << 1.0 << 1.19 << QPointF(800.0, 600.0);
    QTest::newRow("4K out, still covering") << k4k << 8.0 << 0.5 << QPointF(123.0, 456.0);
    QTest::newRow("odd image, fractional anchor")
        << QSizeF(97.0, 64.0) << 16.0 << 1.25 << QPointF(311.5, 17.25);
}

void tst_ViewTransform::zoomKeepsImagePointUnderAnchor() {
    QFETCH(QSizeF, image);
    QFETCH(double, startZoom);
    QFETCH(double, factor);
    QFETCH(QPointF, anchor);
    ViewTransform t = transformOf(image, kViewport);
    t.actualSize(QPointF(400.0, 300.0));
    t.zoomBy(startZoom, QPointF(400.0, 300.0));
    const QPointF before = t.toImage(anchor);
    t.zoomBy(factor, anchor);
    QCOMPARE(t.zoom(), startZoom * factor);
    QVERIFY2(near(t.toImage(anchor), before), "the point under the anchor moved");
}

void tst_ViewTransform::fitShowsWholeImageCentred_data() {
    QTest::addColumn<QSizeF>("image");
    QTest::addColumn<double>("zoom");
    QTest::addColumn<QPointF>("offset");
    // 800 / 3840 = 0.208333 is smaller than 600 / 2160: the width fits, the height is
    // 2160 * 0.208333 = 450 with (600 - 450) / 2 = 75 above and below.
    QTest::newRow("4K landscape") << k4k << 800.0 / 3840.0 << QPointF(0.0, 75.0);
    // 600 / 1200 = 0.5: 500 wide, 150 left and right.
    QTest::newRow("portrait") << QSizeF(1000.0, 1200.0) << 0.5 << QPointF(150.0, 0.0);
    // A small image is enlarged to fit: 600 / 64 = 9.375, 600 wide, 100 left and right.
    QTest::newRow("small square") << QSizeF(64.0, 64.0) << 9.375 << QPointF(100.0, 0.0);
}

void tst_ViewTransform::fitShowsWholeImageCentred() {
    QFETCH(QSizeF, image);
    QFETCH(double, zoom);
    QFETCH(QPointF, offset);
    ViewTransform t = transformOf(image, kViewport);
    t.zoomBy(2.0, QPointF(10.0, 10.0));
    t.fit();
    QVERIFY(t.fitted());
    QCOMPARE(t.zoom(), zoom);
    QVERIFY2(near(t.offset(), offset), "the fitted image is not centred");
    QCOMPARE(t.visibleImageRect(), QRectF(QPointF(0.0, 0.0), image));
}

void tst_ViewTransform::actualSizeAfterFitKeepsCentre() {
    ViewTransform t = transformOf(k4k, kViewport);
    const QPointF centre(400.0, 300.0);
    QVERIFY(near(t.toImage(centre), QPointF(1920.0, 1080.0)));
    t.actualSize(centre);
    QCOMPARE(t.zoom(), 1.0);
    QVERIFY(!t.fitted());
    QVERIFY2(near(t.toImage(centre), QPointF(1920.0, 1080.0)), "1:1 moved the centre");
    QCOMPARE(t.visibleImageRect(), QRectF(1520.0, 780.0, 800.0, 600.0));
}

void tst_ViewTransform::panStopsAtImageEdges() {
    ViewTransform t = transformOf(k4k, kViewport);
    t.actualSize(QPointF(400.0, 300.0));
    t.panBy(QPointF(100000.0, 100000.0));  // drag far right and down: the top-left shows
    QCOMPARE(t.offset(), QPointF(0.0, 0.0));
    t.panBy(QPointF(-100000.0, -100000.0));  // the bottom-right corner meets the viewport's
    QCOMPARE(t.offset(), QPointF(800.0 - 3840.0, 600.0 - 2160.0));
    QCOMPARE(t.visibleImageRect(), QRectF(3040.0, 1560.0, 800.0, 600.0));
    t.panBy(QPointF(-12.0, 7.0));  // within the bounds a drag moves the image as far
    QCOMPARE(t.offset(), QPointF(800.0 - 3840.0, 600.0 - 2160.0 + 7.0));
}

void tst_ViewTransform::smallImageStaysCentred() {
    ViewTransform t = transformOf(QSizeF(64.0, 48.0), kViewport);
    t.actualSize(QPointF(0.0, 0.0));
    QCOMPARE(t.offset(), QPointF((800.0 - 64.0) / 2.0, (600.0 - 48.0) / 2.0));
    t.panBy(QPointF(50.0, -50.0));
    QCOMPARE(t.offset(), QPointF((800.0 - 64.0) / 2.0, (600.0 - 48.0) / 2.0));
}

void tst_ViewTransform::zoomIsBounded() {
    ViewTransform t = transformOf(k4k, kViewport);
    t.zoomBy(1e9, QPointF(400.0, 300.0));
    QCOMPARE(t.zoom(), ViewTransform::kMaxZoom);
    t.zoomBy(1e-9, QPointF(400.0, 300.0));
    QCOMPARE(t.zoom(), t.fitZoom());  // no smaller than the whole image
    // An image smaller than the viewport is never shown below 1:1.
    ViewTransform small = transformOf(QSizeF(64.0, 64.0), kViewport);
    small.zoomBy(1e-9, QPointF(0.0, 0.0));
    QCOMPARE(small.zoom(), 1.0);
}

void tst_ViewTransform::fittedViewFollowsViewportSize() {
    ViewTransform t = transformOf(k4k, kViewport);
    t.setViewportSize(QSizeF(1920.0, 1080.0));
    QCOMPARE(t.zoom(), 0.5);
    t.zoomBy(4.0, QPointF(960.0, 540.0));  // zoomed by hand: a resize keeps the zoom
    t.setViewportSize(QSizeF(1000.0, 1000.0));
    QCOMPARE(t.zoom(), 2.0);
}

QTEST_APPLESS_MAIN(tst_ViewTransform)
#include "tst_ViewTransform.moc"
