#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "AppTestSupport.h"
#include "app/BatchRun.h"
#include "image/Error.h"

using namespace lumetra;
using namespace lumetra::testing;

namespace {

const MeasureParameters kParameters{1.0f,  4.0f, 5.0f,  0.000751f, 3.8f, true,
                                    false, true, false, true,      false};

}  // namespace

class tst_BatchRun : public QObject {
    Q_OBJECT

  private slots:
    void scoresFilesInOrderWithProgressBeforeEach();
    void failedFileIsReportedAndRunGoesOn_data();
    void failedFileIsReportedAndRunGoesOn();
    void unreadableOriginalPassesThrough();
};

void tst_BatchRun::scoresFilesInOrderWithProgressBeforeEach() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString original = writePpm(dir.path(), "original.ppm", 4, 6);
    const QStringList degraded = {writePpm(dir.path(), "c.ppm", 4, 6),
                                  writePpm(dir.path(), "a.ppm", 4, 6),
                                  writePpm(dir.path(), "b.ppm", 4, 6)};
    auto log = std::make_shared<EngineLog>();
    log->results = {markedComparison(10.0f, 1.0f, 4, 6), markedComparison(20.0f, 2.0f, 4, 6),
                    markedComparison(30.0f, 3.0f, 4, 6)};

    BatchRun batch(original, degraded, kParameters, fakeEngine(log));
    QSignalSpy progress(&batch, &BatchRun::progress);
    QSignalSpy compared(&batch, &BatchRun::compared);
    QSignalSpy failed(&batch, &BatchRun::failed);
    QVERIFY(progress.isValid() && compared.isValid() && failed.isValid());
    QStringList events;
    connect(&batch, &BatchRun::started, this,
            [&](int n) { events << QString("started %1").arg(n); });
    connect(&batch, &BatchRun::progress, this,
            [&](int i, int n) { events << QString("progress %1/%2").arg(i).arg(n); });
    connect(&batch, &BatchRun::compared, this,
            [&](const Comparison& c) { events << QString("compared %1").arg(c.mobj()); });
    int pumped = 0;

    QCOMPARE(batch.run([&] { events << QString("between %1").arg(++pumped); }), 0);

    QCOMPARE(log->builds.size(), std::size_t{1});
    QCOMPARE(log->scored, degraded);
    QCOMPARE(events,
             QStringList({"started 3", "progress 0/3", "between 1", "compared 10", "progress 1/3",
                          "between 2", "compared 20", "progress 2/3", "between 3", "compared 30"}));
    QCOMPARE(progress.count(), 3);
    QCOMPARE(compared.count(), 3);
    QCOMPARE(failed.count(), 0);
    const auto& third = *static_cast<const Comparison*>(compared.at(2).at(0).constData());
    QCOMPARE(third.nobj(), 3.0f);
    QCOMPARE(third.err().rows(), 4u);
}

void tst_BatchRun::failedFileIsReportedAndRunGoesOn_data() {
    QTest::addColumn<bool>("fileExists");
    QTest::newRow("unreadable file") << false;
    QTest::newRow("size differs from the original") << true;
}

void tst_BatchRun::failedFileIsReportedAndRunGoesOn() {
    QFETCH(bool, fileExists);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString original = writePpm(dir.path(), "original.ppm", 4, 6);
    const QString bad = fileExists ? writePpm(dir.path(), "bad.ppm", 6, 4)
                                   : QDir(dir.path()).filePath("missing.ppm");
    const QStringList degraded = {writePpm(dir.path(), "a.ppm", 4, 6), bad,
                                  writePpm(dir.path(), "b.ppm", 4, 6)};
    auto log = std::make_shared<EngineLog>();
    log->results = {markedComparison(1.0f, 5.0f, 4, 6)};

    BatchRun batch(original, degraded, kParameters, fakeEngine(log));
    QStringList events;
    connect(&batch, &BatchRun::compared, this, [&](const Comparison&) { events << "compared"; });
    connect(&batch, &BatchRun::failed, this, [&](const QString& reason) {
        events << "failed";
        QVERIFY2(reason.contains(bad), qPrintable(reason));
    });

    QCOMPARE(batch.run(), 1);
    QCOMPARE(events, QStringList({"compared", "failed", "compared"}));
}

void tst_BatchRun::unreadableOriginalPassesThrough() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    auto log = std::make_shared<EngineLog>();
    BatchRun batch(QDir(dir.path()).filePath("missing.ppm"), {}, kParameters, fakeEngine(log));
    QSignalSpy started(&batch, &BatchRun::started);
    QVERIFY(started.isValid());
    QVERIFY_THROWS_EXCEPTION(ImageReadError, batch.run());
    QCOMPARE(started.count(), 0);
    QVERIFY(log->builds.empty());
}

QTEST_GUILESS_MAIN(tst_BatchRun)
#include "tst_BatchRun.moc"
