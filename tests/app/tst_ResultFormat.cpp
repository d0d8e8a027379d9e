#include <QtTest>
#include <limits>
#include <optional>
#include <vector>

#include "app/ResultFormat.h"
#include "app/ResultsCsv.h"
#include "engine/Comparison.h"
#include "image/Array.h"

using lumetra::Array;
using lumetra::Comparison;
using lumetra::Parameters;
using lumetra::ResultRow;
using lumetra::ResultsSource;
using lumetra::RowKind;

namespace {

Comparison scored(float mobj, float nobj) {
    return Comparison(mobj, nobj, Array<float>(1, 1));
}

float inf() {
    return std::numeric_limits<float>::infinity();
}

// The lines of a CSV after its comment lines.
QStringList dataLines(const QString& csv) {
    QStringList lines = csv.split('\n', Qt::SkipEmptyParts);
    while (!lines.isEmpty() && lines.front().startsWith('#')) lines.removeFirst();
    return lines;
}

}  // namespace

class tst_ResultFormat : public QObject {
    Q_OBJECT

  private slots:
    void tableNumbersHaveSixSignificantDigits_data();
    void tableNumbersHaveSixSignificantDigits();
    void scoredRowShowsNameMeasureAndScore();
    void nonFiniteMeasureIsAWarning_data();
    void nonFiniteMeasureIsAWarning();
    void failedRowGivesItsReasonByFileName();
    void csvStartsWithTheSourceAsComments();
    void csvKeepsFullFloatPrecision();
    void csvGivesReasonOfFailedRows();
    void csvFailsRowsWhoseMeasureIsNotFinite();
    void csvQuotesAwkwardFields();
};

void tst_ResultFormat::tableNumbersHaveSixSignificantDigits_data() {
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("large measure") << 1234567.0f << "1.23457e+06";
    QTest::newRow("half") << 0.5f << "0.5";
    QTest::newRow("integer score") << 4.0f << "4";
    QTest::newRow("default a") << 0.000751f << "0.000751";
    QTest::newRow("below 1e-4") << 0.00001f << "1e-05";
    QTest::newRow("just below 1e6") << 123456.0f << "123456";
    QTest::newRow("no score") << -1.0f << "-1";
    QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << "nan";
}

void tst_ResultFormat::tableNumbersHaveSixSignificantDigits() {
    QFETCH(float, value);
    QFETCH(QString, text);
    QCOMPARE(lumetra::formatResult(value), text);
}

void tst_ResultFormat::scoredRowShowsNameMeasureAndScore() {
    const ResultRow row = lumetra::comparisonRow("/data/set/b.ppm", scored(1234567.0f, 4.0f));
    QCOMPARE(row.cells, QStringList({"b.ppm", "1.23457e+06", "4", ""}));
    QCOMPARE(row.toolTip, QStringLiteral("/data/set/b.ppm"));
    QVERIFY(row.kind == RowKind::Scored);
    QCOMPARE(row.measureKey, 1234567.0);
    QCOMPARE(row.scoreKey, 4.0);
}

void tst_ResultFormat::nonFiniteMeasureIsAWarning_data() {
    QTest::addColumn<float>("measure");
    QTest::addColumn<float>("score");
    QTest::addColumn<QString>("shown");
    // The scores scoring gives them: inf clamps to 1, not a number is the sentinel -1.
    QTest::newRow("infinite") << std::numeric_limits<float>::infinity() << 1.0f << "inf";
    QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << -1.0f << "nan";
}

void tst_ResultFormat::nonFiniteMeasureIsAWarning() {
    QFETCH(float, measure);
    QFETCH(float, score);
    QFETCH(QString, shown);
    const ResultRow row = lumetra::comparisonRow("/d/b.ppm", scored(measure, score));
    QVERIFY(row.kind == RowKind::Warning);
    QCOMPARE(row.cells.mid(0, 3), QStringList({"b.ppm", shown, ""}));
    QVERIFY2(row.cells[3].contains("not a finite number (" + shown + ")"),
             qPrintable(row.cells[3]));
    QCOMPARE(row.toolTip, "/d/b.ppm\n" + row.cells[3]);
    // It sorts after every finite measure and below every score.
    QVERIFY(row.measureKey > std::numeric_limits<double>::max());
    QVERIFY(row.scoreKey < -std::numeric_limits<double>::max());
}

void tst_ResultFormat::failedRowGivesItsReasonByFileName() {
    const QString path = "/very/long/folder/c.ppm";
    const QString reason = "cannot read image \"" + path + "\": no such file";
    const ResultRow row = lumetra::failureRow(path, reason);
    QCOMPARE(row.cells,
             QStringList({"c.ppm", "error", "", "cannot read image \"c.ppm\": no such file"}));
    QCOMPARE(row.toolTip, path + "\n" + reason);
    QVERIFY(row.kind == RowKind::Failed);
    QCOMPARE(row.measureKey, lumetra::comparisonRow(path, scored(inf(), 1.0f)).measureKey);
}

void tst_ResultFormat::csvKeepsFullFloatPrecision() {
    // 0.1f and 1/3 need all nine digits to come back as the same float.
    const float measures[] = {0.1f, 1.0f / 3.0f, 1234567.0f, 3.8f};
    QStringList files;
    std::vector<std::optional<Comparison>> results;
    for (float m : measures) {
        files << QStringLiteral("f%1.ppm").arg(files.size());
        results.emplace_back(scored(m, -m));
    }
    const QStringList lines =
        dataLines(lumetra::resultsCsv({}, files, results, QStringList(files.size(), QString())));
    QCOMPARE(lines.size(), files.size() + 1);
    QCOMPARE(lines[0], QStringLiteral("file,measure,score,error"));
    QCOMPARE(lines[1], QStringLiteral("f0.ppm,0.100000001,-0.100000001,"));
    for (qsizetype k = 0; k < files.size(); ++k) {
        const QStringList fields = lines[k + 1].split(',');
        QCOMPARE(fields.size(), 4);
        QVERIFY2(fields[1].toFloat() == measures[k], qPrintable(fields[1]));
        QVERIFY2(fields[2].toFloat() == -measures[k], qPrintable(fields[2]));
    }
}

void tst_ResultFormat::csvGivesReasonOfFailedRows() {
    std::vector<std::optional<Comparison>> results;
    results.emplace_back(scored(0.5f, 4.0f));
    results.emplace_back(std::nullopt);
    const QString csv = lumetra::resultsCsv({}, {"a.ppm", "b.ppm"}, results, {"", "b is broken"});
    QCOMPARE(dataLines(csv),
             QStringList({"file,measure,score,error", "a.ppm,0.5,4,", "b.ppm,,,b is broken"}));
}

void tst_ResultFormat::csvFailsRowsWhoseMeasureIsNotFinite() {
    std::vector<std::optional<Comparison>> results;
    results.emplace_back(scored(std::numeric_limits<float>::quiet_NaN(), -1.0f));
    results.emplace_back(scored(std::numeric_limits<float>::infinity(), 1.0f));
    const QStringList lines =
        dataLines(lumetra::resultsCsv({}, {"a.ppm", "b.ppm"}, results, {"", ""}));
    QCOMPARE(lines.size(), 3);
    // No measure and no score: the row fails with the reason the command line gives.
    QVERIFY2(lines[1].startsWith("a.ppm,,,the measure is not a finite number (nan); "),
             qPrintable(lines[1]));
    QVERIFY2(lines[2].startsWith("b.ppm,,,the measure is not a finite number (inf); "),
             qPrintable(lines[2]));
}

void tst_ResultFormat::csvQuotesAwkwardFields() {
    std::vector<std::optional<Comparison>> results(1);
    const QString csv = lumetra::resultsCsv({}, {"/x/a,b.ppm"}, results,
                                            {"cannot read image \"/x/a,b.ppm\": gone"});
    QCOMPARE(dataLines(csv).value(1),
             QStringLiteral("\"/x/a,b.ppm\",,,\"cannot read image \"\"/x/a,b.ppm\"\": gone\""));
}

void tst_ResultFormat::csvStartsWithTheSourceAsComments() {
    Parameters p;
    p.beta = 2.5f;
    p.interC1 = true;
    p.pixelsPerDegree = 23.7;
    const QString csv = lumetra::resultsCsv({"/data/a,original.ppm", p}, {}, {}, {});
    QCOMPARE(csv, QStringLiteral("# original: \"/data/a,original.ppm\"\n"
                                 "# parameters: alpha=1 beta=2.5 co=5 a=0.000751 b=3.8 intraA=1 "
                                 "interA=0 intraC1=1 interC1=1 intraC2=1 interC2=0\n"
                                 "# viewing: 23.7 pixels per degree\n"
                                 "file,measure,score,error\n"));
}

QTEST_APPLESS_MAIN(tst_ResultFormat)
#include "tst_ResultFormat.moc"
