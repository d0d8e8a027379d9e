#pragma once

// Rows of the results table: one per degraded file, columns "File name", "Measure", "Score"
// and "Note".  Pure functions, so the formatting is tested without a window.

#include <QString>
#include <QStringList>

#include "engine/Comparison.h"

namespace lumetra {

// What a row reports: a score, a result that is not a finite number, or a file that failed.
enum class RowKind { Scored, Warning, Failed };

// The table's columns.
enum class ResultColumn : int { File = 0, Measure = 1, Score = 2, Note = 3 };
inline constexpr int kResultColumnCount = 4;

struct ResultRow {
    // File name (without its folder), measure, score, note.
    QStringList cells;
    // The full path, then the note on a line of its own when there is one.
    QString toolTip;
    // What the measure and score columns sort by: a row without a finite result sorts as the
    // worst, above every measure (lower is better) and below every score (higher is better).
    double measureKey = 0.0;
    double scoreKey = 0.0;
    RowKind kind = RowKind::Scored;
};

// A measure or a score as the table shows it: widened to double, format 'g' with six
// significant digits (exponent notation below 1e-4 and from 1e6 on): 1234567 -> "1.23457e+06".
QString formatResult(float value);

// The row of a scored file.  A measure that is not a finite number (parameters at the edge of
// their range can give one) is a warning, not a score: the measure cell shows the value, the
// score cell is empty (the score of such a measure is a clamp or a sentinel) and the note
// says why.
ResultRow comparisonRow(const QString& path, const Comparison& comparison);

// The row of a file that could not be scored: "error" in the measure cell and the reason in
// the note, naming the file by its name alone (the tooltip keeps the full path).
ResultRow failureRow(const QString& path, const QString& reason);

// `row` with what its file calls for saying (BatchRun::noticed): each notice on a line of its
// own in the tooltip and, joined by "; ", in the note after any note it had; a scored row
// becomes a warning (its icon), its numbers and their order unchanged.
ResultRow withNotices(ResultRow row, const QStringList& notices);

}  // namespace lumetra
