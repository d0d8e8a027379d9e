#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <memory>
#include <new>
#include <stdexcept>

#include "AppTestSupport.h"
#include "app/BatchRun.h"
#include "image/Error.h"

using namespace lumetra;
using namespace lumetra::testing;

namespace {

// Values other than the defaults, so that the engine is seen to get these very ones.
Parameters batchParameters() {
    Parameters p;
    p.alpha = 0.5f;
    p.mapping = LinearMapping{0.000751f, 4.25f};
    p.interC1 = true;
    return p;
}
const Parameters kParameters = batchParameters();

// How the engine set-up fails in the background tests.
enum class SetupFailure {
    UnreadableOriginal,
    TooLargeForTheMemory,
    EngineError,
    OutOfMemory,
    OtherException,
    NonStd
};

// A 16000 x 16000 original, sparse: only its header is on the disk.  Its engine needs about
// 65 GB, more than a test machine has.
QString writeHugeOriginal(const QString& folder) {
    const QString path = QDir(folder).filePath("huge.ppm");
    QFile file(path);
    const QByteArray header = "P6\n16000 16000\n255\n";
    if (!file.open(QIODevice::WriteOnly) || file.write(header) != header.size() ||
        !file.resize(header.size() + qint64{16000} * 16000 * 3)) {
        return {};
    }
    return path;
}

// The system's free memory in bytes (MemAvailable), 0 when it is not reported.
qint64 availableBytes() {
    QFile meminfo("/proc/meminfo");
    if (!meminfo.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : meminfo.readAll().split('\n')) {
        if (line.startsWith("MemAvailable:")) {
            return line.simplified().split(' ').value(1).toLongLong() * 1024;
        }
    }
    return 0;
}

}  // namespace

Q_DECLARE_METATYPE(SetupFailure)

class tst_BatchRun : public QObject {
    Q_OBJECT

  private slots:
    void scoresFilesInOrderWithProgressBeforeEach();
    void failedFileIsReportedAndRunGoesOn_data();
    void failedFileIsReportedAndRunGoesOn();
    void unreadableOriginalPassesThrough();
    void cancelStopsBeforeNextFile();
    void readingSettingTurnsFilesBeforeTheyAreScored();
    void filesNoticesComeBeforeTheirResults();
    void backgroundRunReportsToReceiverThreadInOrder();
    void backgroundSetupFailureIsAbandonedNotThrown_data();
    void backgroundSetupFailureIsAbandonedNotThrown();
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

    const BatchOutcome outcome = batch.run();

    QCOMPARE(outcome.total, 3);
    QCOMPARE(outcome.done, 3);
    QCOMPARE(outcome.failures, 0);
    QVERIFY(!outcome.cancelled());
    QCOMPARE(log->builds.size(), std::size_t{1});
    QVERIFY(log->builds[0] == kParameters);
    QCOMPARE(log->scored, degraded);
    QCOMPARE(events, QStringList({"started 3", "progress 0/3", "compared 10", "progress 1/3",
                                  "compared 20", "progress 2/3", "compared 30"}));
    QCOMPARE(progress.count(), 3);
    QCOMPARE(compared.count(), 3);
    QCOMPARE(failed.count(), 0);
    const auto& third = *static_cast<const Comparison*>(compared.at(2).at(0).constData());
    QCOMPARE(third.nobj(), 3.0f);
    QCOMPARE(third.err().rows(), 4u);
}

void tst_BatchRun::readingSettingTurnsFilesBeforeTheyAreScored() {
    // A 16 x 24 file declaring EXIF orientation 6 is the 24 x 16 original turned: kept as
    // stored it differs in size and fails; with the orientation applied it is scored.
    const QString images = QStringLiteral(LUMETRA_TEST_DATA_DIR "/images/");
    const QString original = images + "rgb24x16.ppm";
    const QStringList degraded = {images + "rgb16x24_exif_orientation6.png"};
    for (const OrientationHandling orientation :
         {OrientationHandling::AsStored, OrientationHandling::Apply}) {
        auto log = std::make_shared<EngineLog>();
        BatchRun batch(original, degraded, kParameters, fakeEngine(log), nullptr,
                       ReadChoices{ColourHandling::ToSrgb, orientation});
        const BatchOutcome outcome = batch.run();
        QCOMPARE(outcome.failures, orientation == OrientationHandling::Apply ? 0 : 1);
    }
}

void tst_BatchRun::filesNoticesComeBeforeTheirResults() {
    const QString images = QStringLiteral(LUMETRA_TEST_DATA_DIR "/images/");
    const QString p3 = images + "rgb24x16_display_p3.png";
    const QString turned = images + "rgb16x24_exif_orientation6.png";
    const QString original = images + "rgb24x16.ppm";
    const QStringList degraded = {p3, turned, original};
    const QString p3Profile =
        "declares colour profile ICC \"Display P3\", not sRGB; its samples are scored as stored";
    const QString p3Mismatch =
        "its colour space is ICC \"Display P3\" and the original's none (read as sRGB): the "
        "measure includes the colour change between them";
    const QString orientation6 = "declares EXIF orientation 6 (turned a quarter clockwise); ";
    struct Case {
        ReadChoices reading;
        QStringList events;
    };
    // As stored, each notice names the setting that changes it, and the P3 file's measure is
    // said to include the colour change; the turned file fails on its size after its notice.
    // Converted and turned, only the turn is said.  An sRGB file says nothing.
    const Case cases[] = {
        {ReadChoices{},
         {"started",
          "noticed 0: " + p3Profile + " (Comparison > Convert colours to sRGB converts it) | " +
              p3Mismatch,
          "compared",
          "noticed 1: " + orientation6 +
              "its pixels are scored as stored (Comparison > Apply EXIF orientation turns it)",
          "failed", "compared"}},
        {ReadChoices{ColourHandling::ToSrgb, OrientationHandling::Apply},
         {"started", "compared", "noticed 1: " + orientation6 + "turned for display", "compared",
          "compared"}},
    };
    for (const Case& c : cases) {
        BatchRun batch(original, degraded, kParameters, fakeEngine(std::make_shared<EngineLog>()),
                       nullptr, c.reading);
        QStringList events;
        connect(&batch, &BatchRun::started, this, [&](int) { events << "started"; });
        connect(&batch, &BatchRun::noticed, this, [&](int file, const QStringList& notices) {
            events << QString("noticed %1: %2").arg(file).arg(notices.join(" | "));
        });
        connect(&batch, &BatchRun::compared, this,
                [&](const Comparison&) { events << "compared"; });
        connect(&batch, &BatchRun::failed, this, [&](const QString&) { events << "failed"; });
        batch.run();
        QCOMPARE(events, c.events);
    }
    // The original's notices follow started(), as file -1.
    BatchRun fromP3(p3, {original}, kParameters, fakeEngine(std::make_shared<EngineLog>()));
    QSignalSpy noticed(&fromP3, &BatchRun::noticed);
    fromP3.run();
    QCOMPARE(noticed.count(), 2);
    QCOMPARE(noticed.at(0).at(0).toInt(), -1);
    QVERIFY(noticed.at(0).at(1).toStringList().value(0).startsWith(p3Profile));
    QCOMPARE(noticed.at(1).at(0).toInt(), 0);
    QCOMPARE(noticed.at(1).at(1).toStringList(),
             QStringList({"its colour space is none (read as sRGB) and the original's ICC "
                          "\"Display P3\": the measure includes the colour change between them"}));
}

void tst_BatchRun::failedFileIsReportedAndRunGoesOn_data() {
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<bool>("engineFaults");
    QTest::newRow("unreadable file") << false << false;
    QTest::newRow("size differs from the original") << true << false;
    QTest::newRow("engine throws a standard exception") << true << true;
}

void tst_BatchRun::failedFileIsReportedAndRunGoesOn() {
    QFETCH(bool, fileExists);
    QFETCH(bool, engineFaults);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString original = writePpm(dir.path(), "original.ppm", 4, 6);
    const int badRows = engineFaults ? 4 : 6;  // 6 x 4 differs from the original's 4 x 6
    const int badCols = engineFaults ? 6 : 4;
    const QString bad = fileExists ? writePpm(dir.path(), "bad.ppm", badRows, badCols)
                                   : QDir(dir.path()).filePath("missing.ppm");
    const QStringList degraded = {writePpm(dir.path(), "a.ppm", 4, 6), bad,
                                  writePpm(dir.path(), "b.ppm", 4, 6)};
    auto log = std::make_shared<EngineLog>();
    log->results = {markedComparison(1.0f, 5.0f, 4, 6)};
    int calls = 0;
    if (engineFaults) {
        log->onScore = [&] {
            if (++calls == 2) throw std::logic_error("engine fault");
        };
    }

    BatchRun batch(original, degraded, kParameters, fakeEngine(log));
    QStringList events;
    connect(&batch, &BatchRun::compared, this, [&](const Comparison&) { events << "compared"; });
    connect(&batch, &BatchRun::failed, this, [&](const QString& reason) {
        events << "failed";
        QVERIFY2(reason.contains(bad), qPrintable(reason));
    });

    QCOMPARE(batch.run().failures, 1);
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

void tst_BatchRun::cancelStopsBeforeNextFile() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString original = writePpm(dir.path(), "original.ppm", 4, 6);
    const QStringList degraded = {writePpm(dir.path(), "a.ppm", 4, 6),
                                  writePpm(dir.path(), "b.ppm", 4, 6),
                                  writePpm(dir.path(), "c.ppm", 4, 6)};
    auto log = std::make_shared<EngineLog>();
    BatchRun batch(original, degraded, kParameters, fakeEngine(log));
    QSignalSpy progress(&batch, &BatchRun::progress);
    QVERIFY(progress.isValid());
    // Asked while the first result is delivered: the file in progress was the first.
    connect(&batch, &BatchRun::compared, &batch, &BatchRun::cancel);

    const BatchOutcome outcome = batch.run();

    QCOMPARE(log->scored, degraded.first(1));
    QCOMPARE(progress.count(), 1);
    QCOMPARE(outcome.total, 3);
    QCOMPARE(outcome.done, 1);
    QVERIFY(outcome.cancelled());

    // Asked before the engine is ready: nothing starts.
    BatchRun early(original, degraded, kParameters, fakeEngine(log));
    QSignalSpy started(&early, &BatchRun::started);
    QVERIFY(started.isValid());
    early.cancel();
    QCOMPARE(early.run().done, 0);
    QCOMPARE(started.count(), 0);
    QCOMPARE(log->scored.size(), 1);
}

// The window's way of running a batch: signals sent from the worker thread, received queued.
void tst_BatchRun::backgroundRunReportsToReceiverThreadInOrder() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString original = writePpm(dir.path(), "original.ppm", 4, 6);
    const QStringList degraded = {writePpm(dir.path(), "a.ppm", 4, 6),
                                  QDir(dir.path()).filePath("missing.ppm")};
    auto log = std::make_shared<EngineLog>();
    log->results = {markedComparison(7.0f, 2.0f, 4, 6)};
    QThread* scoringThread = nullptr;
    log->onScore = [&] { scoringThread = QThread::currentThread(); };

    BatchRun batch(original, degraded, kParameters, fakeEngine(log));
    QStringList events;
    QList<QThread*> receivingThreads;
    const auto record = [&](const QString& event) {
        events << event;
        receivingThreads << QThread::currentThread();
    };
    const auto queued = Qt::QueuedConnection;
    connect(
        &batch, &BatchRun::started, this, [&](int n) { record(QString("started %1").arg(n)); },
        queued);
    connect(
        &batch, &BatchRun::progress, this,
        [&](int i, int n) { record(QString("progress %1/%2").arg(i).arg(n)); }, queued);
    connect(
        &batch, &BatchRun::compared, this,
        [&](const Comparison& c) { record(QString("compared %1").arg(c.mobj())); }, queued);
    connect(
        &batch, &BatchRun::failed, this, [&](const QString&) { record("failed"); }, queued);
    connect(
        &batch, &BatchRun::finished, this,
        [&](const BatchOutcome& o) {
            record(QString("finished %1/%2 %3").arg(o.done).arg(o.total).arg(o.failures));
        },
        queued);
    connect(
        &batch, &BatchRun::abandoned, this, [&](const QString& r) { record(r); }, queued);

    QVERIFY(batch.start());
    QTRY_VERIFY(!events.isEmpty() && events.last().startsWith("finished"));

    QCOMPARE(events, QStringList({"started 2", "progress 0/2", "compared 7", "progress 1/2",
                                  "failed", "finished 2/2 1"}));
    QVERIFY(scoringThread != nullptr);
    QVERIFY(scoringThread != QThread::currentThread());
    QCOMPARE(receivingThreads, QList<QThread*>(events.size(), QThread::currentThread()));
}

void tst_BatchRun::backgroundSetupFailureIsAbandonedNotThrown_data() {
    QTest::addColumn<SetupFailure>("failure");
    QTest::addColumn<QString>("expectedReason");  // a part of the reason
    QTest::newRow("unreadable original") << SetupFailure::UnreadableOriginal << "missing.ppm";
    QTest::newRow("too large for the memory")
        << SetupFailure::TooLargeForTheMemory << "(16000 x 16000 pixels) needs about ";
    QTest::newRow("engine error") << SetupFailure::EngineError << "the original is too small";
    QTest::newRow("out of memory") << SetupFailure::OutOfMemory << "Not enough memory.";
    QTest::newRow("other standard exception")
        << SetupFailure::OtherException << "plan size overflow";
    QTest::newRow("exception of no standard type") << SetupFailure::NonStd << "unknown error";
}

void tst_BatchRun::backgroundSetupFailureIsAbandonedNotThrown() {
    QFETCH(SetupFailure, failure);
    QFETCH(QString, expectedReason);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (failure == SetupFailure::TooLargeForTheMemory &&
        (availableBytes() == 0 || availableBytes() > 60'000'000'000)) {
        QSKIP("the machine has room for the engine");
    }
    QString original = failure == SetupFailure::UnreadableOriginal
                           ? QDir(dir.path()).filePath("missing.ppm")
                           : writePpm(dir.path(), "original.ppm", 4, 6);
    if (failure == SetupFailure::TooLargeForTheMemory) original = writeHugeOriginal(dir.path());
    auto log = std::make_shared<EngineLog>();
    log->failBuild = failure == SetupFailure::EngineError;
    log->onBuild = [failure] {
        if (failure == SetupFailure::OutOfMemory) throw std::bad_alloc();
        if (failure == SetupFailure::OtherException) throw std::length_error("plan size overflow");
        if (failure == SetupFailure::NonStd) throw 42;
    };

    BatchRun batch(original, {writePpm(dir.path(), "a.ppm", 4, 6)}, kParameters, fakeEngine(log));
    QStringList events;
    connect(&batch, &BatchRun::started, this, [&](int) { events << "started"; });
    connect(&batch, &BatchRun::finished, this, [&](const BatchOutcome&) { events << "finished"; });
    connect(&batch, &BatchRun::abandoned, this, [&](const QString& reason) {
        events << "abandoned";
        QVERIFY2(reason.contains(expectedReason), qPrintable(reason));
    });

    QVERIFY(batch.start());
    QTRY_COMPARE(events, QStringList({"abandoned"}));
    QVERIFY(log->scored.isEmpty());
}

QTEST_GUILESS_MAIN(tst_BatchRun)
#include "tst_BatchRun.moc"
