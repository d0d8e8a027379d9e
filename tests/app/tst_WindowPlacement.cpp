#include <QtTest>

#include "app/FileNames.h"
#include "app/WindowPlacement.h"

using namespace lumetra;

// The window placement and the file dialogs' names: both plain functions of the desktop
// program, tested without windows.
class tst_WindowPlacement : public QObject {
    Q_OBJECT

  private slots:
    void windowsFitTheFreeArea_data();
    void windowsFitTheFreeArea();
    void windowsCascadeAndWrap();
    void defaultSuffixIsAddedOnlyWithoutOne_data();
    void defaultSuffixIsAddedOnlyWithoutOne();
    void filterListsEveryFormatRead();
    void dialogsStartInTheFolderLastUsed();
};

void tst_WindowPlacement::windowsFitTheFreeArea_data() {
    QTest::addColumn<QSize>("wanted");
    QTest::addColumn<QSize>("fitted");
    // A 1920 x 1080 free area: a window takes at most 85 % of each side.
    QTest::newRow("small map keeps its size") << QSize(256, 256) << QSize(256, 256);
    QTest::newRow("4k map") << QSize(3840, 2160) << QSize(1632, 918);
    QTest::newRow("tall map, width kept") << QSize(400, 5000) << QSize(400, 918);
}

void tst_WindowPlacement::windowsFitTheFreeArea() {
    QFETCH(QSize, wanted);
    QFETCH(QSize, fitted);
    QCOMPARE(fittedWindowSize(wanted, QRect(0, 0, 1920, 1080)), fitted);
}

void tst_WindowPlacement::windowsCascadeAndWrap() {
    // A free area below a 40-pixel panel.
    const QRect available(0, 40, 800, 560);
    WindowCascade cascade;
    const QRect first = cascade.next(QSize(3000, 2000), available);
    QCOMPARE(first, QRect(QPoint(0, 40), QSize(680, 476)));
    const QRect second = cascade.next(QSize(3000, 2000), available);
    QCOMPARE(second.topLeft(), QPoint(32, 72));
    QVERIFY(available.contains(second));
    // Windows go on stepping while they fit, then start again at the corner.
    QRect last = second;
    int opened = 2;
    while (last.topLeft() != available.topLeft()) {
        last = cascade.next(QSize(3000, 2000), available);
        QVERIFY(available.contains(last));
        ++opened;
    }
    QCOMPARE(opened, 4);  // 476 + 2 steps of 32 fit in 560, 3 steps do not
    // A small window steps on from there.
    QCOMPARE(cascade.next(QSize(100, 100), available), QRect(32, 72, 100, 100));
}

void tst_WindowPlacement::defaultSuffixIsAddedOnlyWithoutOne_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("completed");
    QTest::newRow("no suffix") << "/out/results"
                               << "/out/results.csv";
    QTest::newRow("csv kept") << "/out/results.csv"
                              << "/out/results.csv";
    QTest::newRow("other suffix kept") << "/out/results.txt"
                                       << "/out/results.txt";
    QTest::newRow("trailing dot") << "/out/results."
                                  << "/out/results.csv";
    QTest::newRow("dotted folder") << "/out.d/results"
                                   << "/out.d/results.csv";
}

void tst_WindowPlacement::defaultSuffixIsAddedOnlyWithoutOne() {
    QFETCH(QString, path);
    QFETCH(QString, completed);
    QCOMPARE(withDefaultSuffix(path, "csv"), completed);
}

void tst_WindowPlacement::filterListsEveryFormatRead() {
    const QString filter = imageNameFilter();
    for (const char* pattern :
         {"*.ppm", "*.pgm", "*.pbm", "*.pnm", "*.pam", "*.png", "*.jpg", "*.jpeg", "*.bmp",
          "*.webp", "*.tif", "*.tiff", "*.avif", "*.jxl"}) {
        QVERIFY2(filter.section(";;", 0, 0).contains(QLatin1String(pattern)), pattern);
    }
    QCOMPARE(filter.count(QStringLiteral("*.ppm")), 1);
}

void tst_WindowPlacement::dialogsStartInTheFolderLastUsed() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir("images"));
    const QString ini = dir.filePath("settings.ini");
    {
        QSettings settings(ini, QSettings::IniFormat);
        QCOMPARE(startFolder(settings), QDir::homePath());  // nothing chosen yet
        rememberFolder(settings, dir.filePath("images/a.ppm"));
    }
    // The next run reads it back.
    QSettings settings(ini, QSettings::IniFormat);
    QCOMPARE(startFolder(settings), dir.filePath("images"));
    // Profiles and exports keep folders of their own: loading a profile leaves the images'.
    QVERIFY(QDir(dir.path()).mkdir("profiles"));
    QCOMPARE(startFolder(settings, FolderKind::Profiles), QDir::homePath());
    rememberFolder(settings, dir.filePath("profiles/p.json"), FolderKind::Profiles);
    QCOMPARE(startFolder(settings, FolderKind::Profiles), dir.filePath("profiles"));
    QCOMPARE(startFolder(settings, FolderKind::Images), dir.filePath("images"));
    QCOMPARE(startFolder(settings, FolderKind::Exports), QDir::homePath());
    // A folder removed since falls back to home.
    QVERIFY(QDir(dir.filePath("images")).removeRecursively());
    QCOMPARE(startFolder(settings), QDir::homePath());
}

QTEST_APPLESS_MAIN(tst_WindowPlacement)
#include "tst_WindowPlacement.moc"
