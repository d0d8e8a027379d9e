// The windows on a 1024 x 600 screen (the offscreen platform configured by
// screen-1024x600.json): each fits the screen's free area, and no control is cut off.  The
// viewer used to open 1061 pixels wide, its opacity slider and legend beyond the edge.

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <memory>

#include "AppTestSupport.h"
#include "app/QLumetraComparisonViewer.h"
#include "app/QLumetraMainWindow.h"

using namespace lumetra;
using namespace lumetra::testing;

namespace {

const QString kGolden = QStringLiteral(LUMETRA_TEST_DATA_DIR "/golden/");

// True when `widget` is shown and lies whole inside its window.
bool wholeInWindow(const QWidget* widget) {
    const QWidget* window = widget->window();
    const QRect place(widget->mapTo(window, QPoint(0, 0)), widget->size());
    return widget->isVisible() && !widget->size().isEmpty() && window->rect().contains(place);
}

}  // namespace

class tst_SmallScreen : public QObject {
    Q_OBJECT

  private slots:
    void windowsFitAndShowEveryControl();

  private:
    TemporarySettings _settings;
};

void tst_SmallScreen::windowsFitAndShowEveryControl() {
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(available.size(), QSize(1024, 600));

    auto log = std::make_shared<EngineLog>();
    QLumetraMainWindow window(fakeEngine(log), std::make_unique<FakeFileChooser>(),
                              std::make_unique<RecordingNotifier>());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY2(available.contains(window.frameGeometry()),
             qPrintable(QString("%1 x %2").arg(window.width()).arg(window.height())));

    QSignalSpy finished(&window, &QLumetraMainWindow::batchFinished);
    QVERIFY(window.runBatch(kGolden + "scene64.ppm", {kGolden + "scene64__blur.ppm"}));
    QVERIFY(finished.wait());
    QLumetraComparisonViewer* viewer = window.openViewer(0);
    QVERIFY(viewer);
    QVERIFY(QTest::qWaitForWindowExposed(viewer));
    QTRY_VERIFY_WITH_TIMEOUT(!viewer->computing(), 60000);
    QVERIFY2(available.contains(viewer->frameGeometry()),
             qPrintable(QString("%1 x %2").arg(viewer->width()).arg(viewer->height())));
    viewer->setMode(ViewMode::Overlay);
    for (const char* name : {"opacitySlider", "legendLabel", "mapBox", "modeBox", "nextButton",
                             "actualSizeButton", "zoomLabel", "probeLabel"}) {
        const auto* control = viewer->findChild<QWidget*>(QString::fromLatin1(name));
        QVERIFY2(control && wholeInWindow(control), name);
    }
}

QTEST_MAIN(tst_SmallScreen)
#include "tst_SmallScreen.moc"
