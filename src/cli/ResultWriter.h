#pragma once

// Writes the result rows of a batch in one of the output formats, one row at a time and
// flushed at once, so every row printed survives whatever happens to the run afterwards.

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "engine/Explanation.h"

namespace lumetra {

struct Scores {
    float measure;
    float score;
};

// The outcome of one degraded file.  A file that could not be scored has no scores; one
// that was scored but whose maps could not be written has both scores and an error.  The
// explanation numbers come with the scores when they were asked for.
struct FileResult {
    std::string path;
    std::optional<Scores> scores;
    std::string error;
    // The quality gates' verdict on a scored file: the names of the gates it failed joined by
    // "+" ("measure+p99"), empty when it passed them all; none when no gate was given or the
    // file was not scored.
    std::optional<std::string> gate = std::nullopt;
    std::optional<ExplanationNumbers> explanation = std::nullopt;
    // The error map's percentiles, for the report; no writer prints them.
    std::optional<MapPercentiles> percentiles = std::nullopt;
    // What the file's reader says of how it read it ("animated WebP: the first of 3 frames is
    // read"), said on the error stream with the row; no writer prints it.
    std::string notice = {};

    bool failed() const { return !scores || !error.empty(); }
    bool crossedGate() const { return gate && !gate->empty(); }
};

// Whether the rows carry the quality gates' verdict: only when a gate was given, so that the
// output of a run without gates stays as it has always been.
enum class GateColumn { Omitted, Shown };

class ResultWriter {
  public:
    virtual ~ResultWriter() = default;

    // The header (table, CSV, TSV) or the opening of the document (JSON).
    virtual void begin() = 0;
    // One row, flushed.
    virtual void write(const FileResult& result) = 0;
    // The closing of the document (JSON); nothing for the others.
    virtual void end() = 0;
};

// Whether the rows carry the explanation numbers (--explain).  With them, JSON rows get an
// "explanation" object (null for a file that was not scored), CSV and TSV rows the columns
// term_base ... max after the others (empty for a file that was not scored), and table rows
// an Explanation column in the compact form of explanationText.
enum class ExplanationColumns { Omitted, Included };

// The columns a run's rows carry besides file, measure, score and error.
struct RowColumns {
    GateColumn gate = GateColumn::Omitted;
    ExplanationColumns explanation = ExplanationColumns::Omitted;
    // Given when the viewing geometry was set on the command line.
    std::optional<double> pixelsPerDegree = std::nullopt;
};

// A writer of `format` onto `out`.  The table sizes its path column from `paths`, every
// path the batch will print, so rows can go out as they come and still line up.
// With the gate column shown, CSV, TSV and JSON get a last field "gate": the failed gates'
// names, empty for a file that passed (JSON: "" passed, null for a file without a verdict).
// The table gets a "Gate" column after the score: "pass", or "FAIL " and the failed gates'
// names ("FAIL measure+score"); empty for a file that was not scored.  In CSV, TSV and JSON
// the explanation columns come before the gate; the table shows the gate first.  With the
// pixels per degree given, the table prints viewingLine() above its header and each JSON row
// ends with a "ppd" field; CSV and TSV rows stay as they are.
std::unique_ptr<ResultWriter> makeResultWriter(OutputFormat format, std::ostream& out,
                                               const std::vector<std::string>& paths,
                                               RowColumns columns = {});

// The table's compact explanation, labels with their values: the term and channel shares and
// the structure share in percent (three digits), the error map's percentiles (six digits):
// "base/c2/c3/c4 12.3/45.6/30/12.1%  A/C1/C2 80.1/15.2/9.04%  edges 3.2%
//  p50/p95/p99/max 1.2/4.5/7.8/9.1" (on one line).
std::string explanationText(const ExplanationNumbers& numbers);

// "viewing: 44.2599 pixels per degree" (six significant digits).
std::string viewingLine(double pixelsPerDegree);

}  // namespace lumetra
