#pragma once

// The results table as CSV: a header line, then one line per degraded file in table order.

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "engine/Comparison.h"

namespace lumetra {

// Columns file, measure, score, error.  Numbers keep full float precision (9 significant
// digits, enough to read back the same float); a failed file (no comparison) leaves measure
// and score empty and gives its reason.  The three lists run in parallel: entry k of each
// belongs to row k.  Fields holding a comma, quote or line break are quoted (RFC 4180).
QString resultsCsv(const QStringList& files,
                   const std::vector<std::optional<Comparison>>& comparisons,
                   const QStringList& failures);

}  // namespace lumetra
