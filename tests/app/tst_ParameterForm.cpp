#include <QtTest>
#include <limits>

#include "app/ParameterForm.h"

using namespace lumetra;

namespace {

// The default texts, with one field's text replaced.
FieldTexts textsWith(ParameterField field, const QString& text) {
    FieldTexts texts = parameterFieldTexts(Parameters{});
    texts[fieldIndex(field)] = text;
    return texts;
}

}  // namespace

Q_DECLARE_METATYPE(lumetra::ParameterField)

class tst_ParameterForm : public QObject {
    Q_OBJECT

  private slots:
    void defaultTextsReadBackBitForBit();
    void numbersAreReadAsWritten();
    void unusableFieldGetsItsOwnProblem_data();
    void unusableFieldGetsItsOwnProblem();
    void problemsAreJoinedInFieldOrder();
    void switchesComeFromTheBase();
};

void tst_ParameterForm::defaultTextsReadBackBitForBit() {
    const FieldTexts texts = parameterFieldTexts(Parameters{});
    QCOMPARE(texts, FieldTexts({"1", "4", "5", "0.000751", "3.8", "60"}));
    const FormReading form = readParameterFields(texts, Parameters{});
    QVERIFY(form.usable());
    QVERIFY(form.message().isEmpty());
    QVERIFY(form.parameters == Parameters{});
}

// Surrounding spaces are forgiven; exponents and signs are read.
void tst_ParameterForm::numbersAreReadAsWritten() {
    const FormReading form =
        readParameterFields({" 0.5", "2.5e0", "5", "-0.001", "3.8 ", "23.7"}, Parameters{});
    QVERIFY2(form.usable(), qPrintable(form.message()));
    QCOMPARE(form.parameters.alpha, 0.5f);
    QCOMPARE(form.parameters.beta, 2.5f);
    QCOMPARE(std::get<LinearMapping>(form.parameters.mapping).a, -0.001f);
    QCOMPARE(std::get<LinearMapping>(form.parameters.mapping).b, 3.8f);
    QCOMPARE(form.parameters.pixelsPerDegree, 23.7);  // read as a double, not through float
}

void tst_ParameterForm::unusableFieldGetsItsOwnProblem_data() {
    QTest::addColumn<ParameterField>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("problem");
    // No number at all.
    QTest::newRow("empty co") << ParameterField::Co << ""
                              << "co must be a number (got \"\")";
    QTest::newRow("letters") << ParameterField::Alpha << "abc"
                             << "alpha must be a number (got \"abc\")";
    QTest::newRow("decimal comma")
        << ParameterField::Beta << "1,5"
        << "beta must be a number, with \".\" as the decimal point (got \"1,5\")";
    QTest::newRow("lone minus") << ParameterField::B << "-"
                                << "b must be a number (got \"-\")";
    QTest::newRow("beyond float") << ParameterField::B << "1e39"
                                  << "b must be a number (got \"1e39\")";
    // Numbers that Parameters refuses, in its words.
    QTest::newRow("zero beta") << ParameterField::Beta << "0"
                               << "beta must be greater than 0 (got 0)";
    QTest::newRow("negative alpha") << ParameterField::Alpha << "-2.5"
                                    << "alpha must be at least 0 (got -2.5)";
    QTest::newRow("zero a") << ParameterField::A << "0"
                            << "a must be other than 0 (got 0)";
    QTest::newRow("infinite b") << ParameterField::B << "inf"
                                << "b must be a finite number (got inf)";
    QTest::newRow("zero pixels per degree") << ParameterField::PixelsPerDegree << "0"
                                            << "pixels per degree must be greater than 0 (got 0)";
    // The rest of the values every front end refuses, with the command line's messages.
    QTest::newRow("nan alpha") << ParameterField::Alpha << "nan"
                               << "alpha must be a finite number (got nan)";
    QTest::newRow("minus infinite beta") << ParameterField::Beta << "-inf"
                                         << "beta must be a finite number (got -inf)";
    QTest::newRow("negative co") << ParameterField::Co << "-0.5"
                                 << "co must be at least 0 (got -0.5)";
    QTest::newRow("negative pixels per degree")
        << ParameterField::PixelsPerDegree << "-1"
        << "pixels per degree must be greater than 0 (got -1)";
    QTest::newRow("nan pixels per degree") << ParameterField::PixelsPerDegree << "nan"
                                           << "pixels per degree must be a finite number (got nan)";
    QTest::newRow("infinite pixels per degree")
        << ParameterField::PixelsPerDegree << "inf"
        << "pixels per degree must be a finite number (got inf)";
    QTest::newRow("pixels per degree with a comma")
        << ParameterField::PixelsPerDegree << "60,5"
        << "pixels per degree must be a number, with \".\" as the decimal point (got \"60,5\")";
}

void tst_ParameterForm::unusableFieldGetsItsOwnProblem() {
    QFETCH(ParameterField, field);
    QFETCH(QString, text);
    QFETCH(QString, problem);
    const FormReading form = readParameterFields(textsWith(field, text), Parameters{});
    QVERIFY(!form.usable());
    FieldTexts expected;
    expected[fieldIndex(field)] = problem;
    QCOMPARE(form.problems, expected);  // that field alone
    QCOMPARE(form.message(), problem);
}

void tst_ParameterForm::problemsAreJoinedInFieldOrder() {
    FieldTexts texts = parameterFieldTexts(Parameters{});
    texts[fieldIndex(ParameterField::PixelsPerDegree)] = "-1";
    texts[fieldIndex(ParameterField::Alpha)] = "";
    texts[fieldIndex(ParameterField::Co)] = "-5";
    QCOMPARE(readParameterFields(texts, Parameters{}).message(),
             QStringLiteral("alpha must be a number (got \"\"); co must be at least 0 (got -5); "
                            "pixels per degree must be greater than 0 (got -1)"));
}

void tst_ParameterForm::switchesComeFromTheBase() {
    Parameters base;
    base.intraA = false;
    base.interC1 = true;
    const FormReading form = readParameterFields(parameterFieldTexts(Parameters{}), base);
    QVERIFY(form.parameters == base);
}

QTEST_APPLESS_MAIN(tst_ParameterForm)
#include "tst_ParameterForm.moc"
