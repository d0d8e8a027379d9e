#include "app/ResultFormat.h"

#include <QFileInfo>
#include <QObject>
#include <cmath>
#include <limits>

namespace lumetra {

namespace {

// Significant digits of the table's numbers.
constexpr int kTableDigits = 6;

// Sort keys of a row without a finite result: the worst measure, the worst score.
constexpr double kWorstMeasure = std::numeric_limits<double>::infinity();
constexpr double kWorstScore = -std::numeric_limits<double>::infinity();

QString fileName(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() ? path : name;
}

QString toolTip(const QString& path, const QString& note) {
    return note.isEmpty() ? path : path + QLatin1Char('\n') + note;
}

}  // namespace

QString formatResult(float value) {
    return QString::number(static_cast<double>(value), 'g', kTableDigits);
}

ResultRow comparisonRow(const QString& path, const Comparison& comparison) {
    const float measure = comparison.mobj();
    const float score = comparison.nobj();
    if (std::isfinite(measure)) {
        return {{fileName(path), formatResult(measure), formatResult(score), QString()},
                path,
                measure,
                score,
                RowKind::Scored};
    }
    const QString note =
        QObject::tr(
            "Warning: the measure is not a finite number (%1), so there is no score; "
            "check the parameters")
            .arg(formatResult(measure));
    return {{fileName(path), formatResult(measure), QString(), note},
            toolTip(path, note),
            kWorstMeasure,
            kWorstScore,
            RowKind::Warning};
}

ResultRow failureRow(const QString& path, const QString& reason) {
    const QString note = QString(reason).replace(path, fileName(path));
    return {{fileName(path), QObject::tr("error"), QString(), note},
            toolTip(path, reason),
            kWorstMeasure,
            kWorstScore,
            RowKind::Failed};
}

ResultRow withNotices(ResultRow row, const QStringList& notices) {
    if (notices.isEmpty()) return row;
    const QString joined = notices.join(QStringLiteral("; "));
    QString& note = row.cells[static_cast<int>(ResultColumn::Note)];
    note = note.isEmpty() ? joined : note + QStringLiteral("; ") + joined;
    row.toolTip += QLatin1Char('\n') + notices.join(QLatin1Char('\n'));
    if (row.kind == RowKind::Scored) row.kind = RowKind::Warning;
    return row;
}

}  // namespace lumetra
