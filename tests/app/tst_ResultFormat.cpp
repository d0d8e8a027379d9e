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

namespace {

Comparison scored(float mobj, float nobj) {
    return Comparison(mobj, nobj, Array<float>(1, 1));
}

}  // namespace

class tst_ResultFormat : public QObject {
    Q_OBJECT

  private slots:
    void tableNumbersHaveSixSignificantDigits_data();
    void tableNumbersHaveSixSignificantDigits();
    void scoredRowShowsPathMeasureAndScore();
    void failedRowShowsError();
    void csvKeepsFullFloatPrecision();
    void csvGivesReasonOfFailedRows();
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

void tst_ResultFormat::scoredRowShowsPathMeasureAndScore() {
    const QStringList cells = lumetra::comparisonCells("/data/b.ppm", scored(1234567.0f, 4.0f));
    QCOMPARE(cells, QStringList({"/data/b.ppm", "1.23457e+06", "4"}));
}

void tst_ResultFormat::failedRowShowsError() {
    QCOMPARE(lumetra::failureCells("/data/c.ppm"), QStringList({"/data/c.ppm", "error", ""}));
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
        lumetra::resultsCsv(files, results, QStringList(files.size(), QString()))
            .split('\n', Qt::SkipEmptyParts);
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
    const QString csv = lumetra::resultsCsv({"a.ppm", "b.ppm"}, results, {"", "b is broken"});
    QCOMPARE(csv, QStringLiteral("file,measure,score,error\n"
                                 "a.ppm,0.5,4,\n"
                                 "b.ppm,,,b is broken\n"));
}

void tst_ResultFormat::csvQuotesAwkwardFields() {
    std::vector<std::optional<Comparison>> results(1);
    const QString csv =
        lumetra::resultsCsv({"/x/a,b.ppm"}, results, {"cannot read image \"/x/a,b.ppm\": gone"});
    QCOMPARE(csv.section('\n', 1, 1),
             QStringLiteral("\"/x/a,b.ppm\",,,\"cannot read image \"\"/x/a,b.ppm\"\": gone\""));
}

QTEST_APPLESS_MAIN(tst_ResultFormat)
#include "tst_ResultFormat.moc"
