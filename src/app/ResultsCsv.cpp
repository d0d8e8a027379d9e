#include "app/ResultsCsv.h"

#include <cassert>
#include <limits>
#include <string>
#include <vector>

#include "args/CsvRow.h"

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

}  // namespace

QString resultsCsv(const QStringList& files,
                   const std::vector<std::optional<Comparison>>& comparisons,
                   const QStringList& failures) {
    assert(static_cast<std::size_t>(files.size()) == comparisons.size());
    assert(files.size() == failures.size());
    QString csv = csvLine({QStringLiteral("file"), QStringLiteral("measure"),
                           QStringLiteral("score"), QStringLiteral("error")});
    for (qsizetype k = 0; k < files.size(); ++k) {
        const std::optional<Comparison>& result = comparisons[static_cast<std::size_t>(k)];
        QStringList fields{files[k]};
        if (result) {
            fields << csvNumber(result->mobj()) << csvNumber(result->nobj()) << QString();
        } else {
            fields << QString() << QString() << failures[k];
        }
        csv += csvLine(fields);
    }
    return csv;
}

}  // namespace lumetra
