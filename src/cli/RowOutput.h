#pragma once

// The rows of a command-line run as they go out: the writer of the chosen format on standard
// output, one diagnostic line on standard error for each file that failed, the progress bar,
// and the counts the exit status is made from.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "cli/BatchRunner.h"
#include "cli/ProgressBar.h"
#include "cli/Report.h"
#include "cli/ResultWriter.h"
#include "cli/RunPlan.h"

namespace lumetra {

class RowOutput {
  public:
    RowOutput(const Options& options, const RunPlan& plan, const Console& console);

    // The header or the opening of the document, and the progress bar at 0.
    void begin();
    // Writes the row of file i, flushed, and says on standard error why it failed.  Throws
    // Error when the row cannot be written.
    void write(std::size_t i, FileResult result);
    // Shows `done` files of the run as reported.
    void progress(std::size_t done);
    // Erases the progress bar and closes the document.  Throws Error when the rows cannot be
    // written.
    void end();
    // One line on standard error: "lumetra: " and the message, made printable.
    void diagnose(const std::string& message);

    bool anyFailed() const { return _anyFailed; }
    std::size_t crossedGates() const { return _crossedGates; }
    // What the report shows of each row written, in the order of the files (empty without
    // --report).
    std::vector<ReportFile> takeReportFiles() { return std::move(_reportFiles); }

  private:
    const Console& _console;
    std::unique_ptr<ResultWriter> _writer;
    ProgressBar _progress;
    bool _anyFailed = false;
    std::size_t _crossedGates = 0;
    std::vector<ReportFile> _reportFiles;
};

}  // namespace lumetra
