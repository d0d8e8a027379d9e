#include "app/ResultFormat.h"

#include <QObject>

namespace lumetra {

namespace {

// Significant digits of the table's numbers.
constexpr int kTableDigits = 6;

}  // namespace

QString formatResult(float value) {
    return QString::number(static_cast<double>(value), 'g', kTableDigits);
}

QStringList comparisonCells(const QString& file, const Comparison& comparison) {
    return {file, formatResult(comparison.mobj()), formatResult(comparison.nobj())};
}

QStringList failureCells(const QString& file) {
    return {file, QObject::tr("error"), QString()};
}

}  // namespace lumetra
