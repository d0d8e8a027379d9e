#include <QAction>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
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
    void formHasNoMarginsAndOneLabel();
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

void tst_QLumetraErrorMapDialog::formHasNoMarginsAndOneLabel() {
    const QLumetraErrorMapDialog dialog("a.ppm", "b.ppm", smallMap());
    const auto* layout = dialog.findChild<QHBoxLayout*>("hboxLayout");
    QVERIFY(layout);
    QCOMPARE(layout->contentsMargins(), QMargins(0, 0, 0, 0));
    QCOMPARE(layout->count(), 1);
    const auto* label = dialog.findChild<QLabel*>("label");
    QVERIFY(label);
    QCOMPARE(layout->itemAt(0)->widget(), label);
    QVERIFY(label->text().isEmpty());
    QVERIFY(dialog.width() >= 400 && dialog.height() >= 300);
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
    answers->imageAnswer = dir.filePath("saved.png");
    save->trigger();
    QVERIFY(QFile::exists(answers->imageAnswer));
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
