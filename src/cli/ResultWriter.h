#pragma once

// Writes the result rows of a batch in one of the output formats, one row at a time and
// flushed at once, so every row printed survives whatever happens to the run afterwards.

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/Options.h"

namespace lumetra {

struct Scores {
    float measure;
    float score;
};

// The outcome of one degraded file.  A file that could not be scored has no scores; one
// that was scored but whose maps could not be written has both scores and an error.
struct FileResult {
    std::string path;
    std::optional<Scores> scores;
    std::string error;

    bool failed() const { return !scores || !error.empty(); }
};

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

// A writer of `format` onto `out`.  The table sizes its path column from `paths`, every
// path the batch will print, so rows can go out as they come and still line up.  When
// `pixelsPerDegree` is given, the table prints viewingLine() above its header and each JSON
// row ends with a "ppd" field; CSV and TSV rows stay as they are.
std::unique_ptr<ResultWriter> makeResultWriter(OutputFormat format, std::ostream& out,
                                               const std::vector<std::string>& paths,
                                               std::optional<double> pixelsPerDegree = {});

// "viewing: 44.2599 pixels per degree" (six significant digits).
std::string viewingLine(double pixelsPerDegree);

}  // namespace lumetra
