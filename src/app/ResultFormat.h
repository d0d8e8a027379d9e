#pragma once

// Texts of the results table: one row per degraded file, columns "File name", "Measure" and
// "Score".  Pure functions, so the formatting is tested without a window.

#include <QString>
#include <QStringList>

#include "engine/Comparison.h"

namespace lumetra {

// A measure or a score as the table shows it: widened to double, format 'g' with six
// significant digits (exponent notation below 1e-4 and from 1e6 on): 1234567 -> "1.23457e+06".
QString formatResult(float value);

// The cells of a scored file: the path as given, the measure, the score.
QStringList comparisonCells(const QString& file, const Comparison& comparison);

// The cells of a file that could not be scored: the path, "error", and an empty score.
QStringList failureCells(const QString& file);

}  // namespace lumetra
