#include "app/ResultsCsv.h"

#include <cassert>
#include <limits>

namespace lumetra {

namespace {

// Enough significant digits to read back exactly the float that was written.
constexpr int kFloatDigits = std::numeric_limits<float>::max_digits10;

QString csvNumber(float value) {
    return QString::number(static_cast<double>(value), 'g', kFloatDigits);
}

QString csvField(const QString& text) {
    const bool needsQuotes = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
                             text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
    if (!needsQuotes) return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

}  // namespace

QString resultsCsv(const QStringList& files,
                   const std::vector<std::optional<Comparison>>& comparisons,
                   const QStringList& failures) {
    assert(static_cast<std::size_t>(files.size()) == comparisons.size());
    assert(files.size() == failures.size());
    QString csv = QStringLiteral("file,measure,score,error\n");
    for (qsizetype k = 0; k < files.size(); ++k) {
        const std::optional<Comparison>& result = comparisons[static_cast<std::size_t>(k)];
        QStringList fields{csvField(files[k])};
        if (result) {
            fields << csvNumber(result->mobj()) << csvNumber(result->nobj()) << QString();
        } else {
            fields << QString() << QString() << csvField(failures[k]);
        }
        csv += fields.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return csv;
}

}  // namespace lumetra
