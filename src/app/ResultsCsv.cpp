#include "app/ResultsCsv.h"

#include <QLocale>
#include <cassert>
#include <limits>
#include <string>
#include <variant>
#include <vector>

#include "app/ParameterForm.h"
#include "args/CsvRow.h"
#include "engine/Comparison.h"

namespace lumetra {

namespace {

// Enough significant digits to read back exactly the float that was written.
constexpr int kFloatDigits = std::numeric_limits<float>::max_digits10;

QString csvNumber(float value) {
    return QString::number(static_cast<double>(value), 'g', kFloatDigits);
}

// The fields in UTF-8 as one CSV line, quoted by the core's csvRow like the command line's.
QString csvLine(const QStringList& fields) {
    std::vector<std::string> utf8;
    utf8.reserve(static_cast<std::size_t>(fields.size()));
    for (const QString& field : fields) utf8.push_back(field.toStdString());
    return QString::fromStdString(csvRow(utf8));
}

QString flag(bool on) {
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

// The score mapping's coefficients: "a=0.000751 b=3.8" for the line, "logistic b1=.. b2=..
// b3=.. b4=.." for a curve.
QString mappingFields(const Parameters& p) {
    if (std::holds_alternative<LinearMapping>(p.mapping)) {
        const FieldTexts t = parameterFieldTexts(p);
        return QStringLiteral("a=%1 b=%2")
            .arg(t[fieldIndex(ParameterField::A)], t[fieldIndex(ParameterField::B)]);
    }
    const LogisticMapping& curve = std::get<LogisticMapping>(p.mapping);
    const auto text = [](double v) {
        return QString::number(v, 'g', QLocale::FloatingPointShortest);
    };
    return QStringLiteral("logistic b1=%1 b2=%2 b3=%3 b4=%4")
        .arg(text(curve.b1), text(curve.b2), text(curve.b3), text(curve.b4));
}

// The comment lines before the header.
QString sourceComments(const ResultsSource& source) {
    const Parameters& p = source.parameters;
    const QString original = QString::fromStdString(csvField(source.original.toStdString()));
    const FieldTexts t = parameterFieldTexts(p);
    const QString parameters =
        QStringLiteral("alpha=%1 beta=%2 co=%3 ").arg(t[0], t[1], t[2]) + mappingFields(p) +
        QStringLiteral(" intraA=%1 interA=%2 intraC1=%3 interC1=%4 intraC2=%5 interC2=%6")
            .arg(flag(p.intraA), flag(p.interA), flag(p.intraC1), flag(p.interC1), flag(p.intraC2),
                 flag(p.interC2));
    return QStringLiteral("# original: %1\n# parameters: %2\n# viewing: %3 pixels per degree\n")
        .arg(original, parameters, t[5]);
}

}  // namespace

QString resultsCsv(const ResultsSource& source, const QStringList& files,
                   const std::vector<std::optional<Comparison>>& comparisons,
                   const QStringList& failures) {
    assert(static_cast<std::size_t>(files.size()) == comparisons.size());
    assert(files.size() == failures.size());
    QString csv = sourceComments(source);
    csv += csvLine({QStringLiteral("file"), QStringLiteral("measure"), QStringLiteral("score"),
                    QStringLiteral("error")});
    for (qsizetype k = 0; k < files.size(); ++k) {
        const std::optional<Comparison>& result = comparisons[static_cast<std::size_t>(k)];
        QStringList fields{files[k]};
        const std::string measureFault = result ? measureProblem(*result) : std::string();
        if (result && measureFault.empty()) {
            fields << csvNumber(result->mobj()) << csvNumber(result->nobj()) << QString();
        } else if (result) {
            // A measure that is not a finite number is no result: a failed row, with the
            // command line's reason.
            fields << QString() << QString() << QString::fromStdString(measureFault);
        } else {
            fields << QString() << QString() << failures[k];
        }
        csv += csvLine(fields);
    }
    return csv;
}

}  // namespace lumetra
