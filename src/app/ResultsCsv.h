#pragma once

// The results table as CSV: comment lines naming the original, the parameters and the viewing
// conditions, a header line, then one line per degraded file in the order of the batch.

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "engine/Comparison.h"
#include "engine/Parameters.h"

namespace lumetra {

// What the rows were computed from.
struct ResultsSource {
    QString original;
    Parameters parameters;
};

// Three comment lines, each starting with "# ":
//   # original: <path, quoted as a CSV field when it holds a comma, quote or line break>
//   # parameters: alpha=1 beta=4 co=5 a=0.000751 b=3.8 intraA=1 interA=0 ... interC2=0
//   # viewing: 60 pixels per degree
// then columns file, measure, score, error.  Numbers keep full float precision (9 significant
// digits, enough to read back the same float; the parameters in their shortest such text); a
// failed file (no comparison) leaves measure and score empty and gives its reason.  The three
// lists run in parallel: entry k of each belongs to file k.  Fields holding a comma, quote or
// line break are quoted (RFC 4180).
QString resultsCsv(const ResultsSource& source, const QStringList& files,
                   const std::vector<std::optional<Comparison>>& comparisons,
                   const QStringList& failures);

}  // namespace lumetra
