#include <QAction>
#include <QImageReader>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "AppTestSupport.h"
#include "app/QLumetraErrorMapDialog.h"

using namespace lumetra;
using namespace lumetra::testing;

namespace {

// The 2 x 3 map of the examples: one full-blue pixel at x = 2, y = 1.
Array<float> smallMap() {
    Array<float> map(2, 3);
    map(1, 2) = 7.0f;
    return map;
}

}  // namespace

class tst_QLumetraErrorMapDialog : public QObject {
    Q_OBJECT

  private slots:
    void titleJoinsBothPaths();
    void largeMapScrollsInsideItsArea();
    void labelShowsTheMapUnscaled();
    void saveImageWritesPng();
    void contextMenuSavesWhereTheChooserSays();
    void unwritableImageWarns();
};

void tst_QLumetraErrorMapDialog::titleJoinsBothPaths() {
    const QLumetraErrorMapDialog dialog("a.ppm", "b.ppm", smallMap());
    QCOMPARE(dialog.windowTitle(), QStringLiteral("a.ppm - b.ppm"));
    QCOMPARE(dialog.objectName(), QStringLiteral("QLumetraErrorMapDialog"));
    QVERIFY(dialog.isWindow());
    QCOMPARE(dialog.parentWidget(), nullptr);
}

void tst_QLumetraErrorMapDialog::largeMapScrollsInsideItsArea() {
    // A map larger than the window: the picture keeps its size and the area scrolls.
    Array<float> map(900, 1200);
    map(899, 1199) = 1.0f;
    QLumetraErrorMapDialog dialog("a.ppm", "b.ppm", map);
    QVERIFY(dialog.wantedSize().width() >= 1200 && dialog.wantedSize().height() >= 900);
    dialog.resize(300, 200);
    dialog.show();
    const auto* area = dialog.findChild<QScrollArea*>("scrollArea");
    QVERIFY(area);
    QCOMPARE(area->widget(), dialog.findChild<QLabel*>("label"));
    QCOMPARE(area->widget()->size(), QSize(1200, 900));
    QTRY_VERIFY(area->horizontalScrollBar()->maximum() > 0);
    QVERIFY(area->verticalScrollBar()->maximum() > 0);
}

void tst_QLumetraErrorMapDialog::labelShowsTheMapUnscaled() {
    const QLumetraErrorMapDialog dialog("a.ppm", "b.ppm", smallMap());
    const auto* label = dialog.findChild<QLabel*>("label");
    QVERIFY(label);
    QVERIFY(!label->hasScaledContents());
    const QImage shown = label->pixmap().toImage();
    QCOMPARE(shown.size(), QSize(3, 2));
    QCOMPARE(shown.pixel(2, 1), qRgb(0, 0, 255));
    QCOMPARE(shown.pixel(1, 1), qRgb(0, 0, 0));
}

void tst_QLumetraErrorMapDialog::saveImageWritesPng() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QLumetraErrorMapDialog dialog("a.ppm", "b.ppm", smallMap());
    const QString path = dir.filePath("map.image");  // PNG whatever the suffix
    QVERIFY(dialog.saveImage(path));
    QImageReader reader(path);
    QCOMPARE(reader.format(), QByteArray("png"));
    const QImage saved = reader.read();
    QCOMPARE(saved.size(), QSize(3, 2));
    QCOMPARE(saved.pixel(2, 1), qRgb(0, 0, 255));
    QCOMPARE(saved.pixel(0, 0), qRgb(0, 0, 0));
}

void tst_QLumetraErrorMapDialog::contextMenuSavesWhereTheChooserSays() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    auto chooser = std::make_unique<FakeFileChooser>();
    FakeFileChooser* answers = chooser.get();
    auto notifier = std::make_unique<RecordingNotifier>();
    const RecordingNotifier* warnings = notifier.get();
    QLumetraErrorMapDialog dialog("a.ppm", "b.ppm", smallMap(), std::move(chooser),
                                  std::move(notifier));
    QCOMPARE(dialog.contextMenuPolicy(), Qt::ActionsContextMenu);
    auto* save = dialog.findChild<QAction*>("actionSaveImage");
    QVERIFY(save);
    QCOMPARE(save->text(), QStringLiteral("Save image…"));
    QVERIFY(dialog.actions().contains(save));

    save->trigger();  // cancelled: nothing written, nothing said
    QVERIFY(QDir(dir.path()).isEmpty());
    answers->imageAnswer = dir.filePath("saved");  // ".png" is added
    save->trigger();
    QVERIFY(QFile::exists(answers->imageAnswer + ".png"));
    QVERIFY(warnings->warnings.isEmpty());
}

void tst_QLumetraErrorMapDialog::unwritableImageWarns() {
    auto notifier = std::make_unique<RecordingNotifier>();
    const RecordingNotifier* warnings = notifier.get();
    QLumetraErrorMapDialog dialog("a.ppm", "b.ppm", smallMap(), nullptr, std::move(notifier));
    const QString path = "/nonexistent-directory/map.png";
    QVERIFY(!dialog.saveImage(path));
    QCOMPARE(warnings->warnings.size(), 1);
    QVERIFY(warnings->warnings[0].contains(path));
}

QTEST_MAIN(tst_QLumetraErrorMapDialog)
#include "tst_QLumetraErrorMapDialog.moc"
