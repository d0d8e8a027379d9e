// The window's exports appear whole or not at all: a write that fails leaves no file of its
// own behind and says which file failed.

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include "app/FileSaving.h"

using lumetra::saveBytes;
using lumetra::savePng;

class tst_FileSaving : public QObject {
    Q_OBJECT

  private slots:
    void failedSaveNamesTheFileAndLeavesNothing_data();
    void failedSaveNamesTheFileAndLeavesNothing();
    void savedPngReadsBack();
};

namespace {

// The entries of `folder`, hidden ones included.
QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot |
                                  QDir::System);
}

bool isCharacterDevice(const char* path) {
    struct stat status {};
    return stat(path, &status) == 0 && S_ISCHR(status.st_mode);
}

}  // namespace

void tst_FileSaving::failedSaveNamesTheFileAndLeavesNothing_data() {
    QTest::addColumn<QString>("target");  // inside a fresh folder
    QTest::addColumn<QString>("reason");
    // A link to the full device stands for a full disk; the device itself is never the target.
    QTest::newRow("full disk") << "full.csv"
                               << "No space left on device";
    QTest::newRow("missing folder") << "missing/results.csv"
                                    << "No such file or directory";
    QTest::newRow("folder in the way") << "folder"
                                       << "Is a directory";
}

void tst_FileSaving::failedSaveNamesTheFileAndLeavesNothing() {
    QFETCH(QString, target);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QFile::link("/dev/full", dir.filePath("full.csv")));
    QVERIFY(QDir(dir.path()).mkdir("folder"));
    const QStringList before = entries(dir.path());
    const QString path = dir.filePath(target);

    for (const QString& problem : {saveBytes(path, QByteArray(4096, 'x')),
                                   savePng(path, QImage(8, 8, QImage::Format_RGB32))}) {
        QVERIFY2(problem.contains("\"" + path + "\"") && problem.contains(reason),
                 qPrintable(problem));
    }
    QCOMPARE(entries(dir.path()), before);
    QVERIFY(isCharacterDevice("/dev/full"));
}

void tst_FileSaving::savedPngReadsBack() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QImage image(5, 3, QImage::Format_RGB32);
    image.fill(qRgb(10, 200, 30));
    const QString path = dir.filePath("map.png");
    QCOMPARE(savePng(path, image), QString());
    QCOMPARE(QImage(path).convertToFormat(QImage::Format_RGB32), image);
    QCOMPARE(entries(dir.path()), QStringList({"map.png"}));
}

QTEST_MAIN(tst_FileSaving)
#include "tst_FileSaving.moc"
