#include "cli/RowOutput.h"

#include <ostream>
#include <utility>

#include "cli/RunReport.h"
#include "cli/TextFormat.h"
#include "image/Error.h"

namespace lumetra {

namespace {

constexpr const char* kDiagnosticPrefix = "lumetra: ";
constexpr const char* kCannotWriteResults = "cannot write the results to the standard output";

ProgressBar::Mode progressMode(const Options& options, const Console& console) {
    const bool shown = console.errIsTerminal && !options.quiet && options.degraded.size() > 1;
    return shown ? ProgressBar::Mode::Enabled : ProgressBar::Mode::Disabled;
}

}  // namespace

RowOutput::RowOutput(const Options& options, const RunPlan& plan, const Console& console)
    : _console(console),
      _writer(makeResultWriter(options.format, console.out, options.degraded, plan.columns)),
      _progress(console.err, options.degraded.size(), progressMode(options, console)),
      _reportFiles(plan.report ? options.degraded.size() : 0) {
    // CSV and TSV rows keep their columns: the viewing geometry goes to the diagnostics.
    const bool delimited =
        options.format == OutputFormat::Csv || options.format == OutputFormat::Tsv;
    if (plan.columns.pixelsPerDegree && delimited) {
        diagnose(viewingLine(*plan.columns.pixelsPerDegree));
    }
}

void RowOutput::begin() {
    _writer->begin();
    _progress.update(0);
}

void RowOutput::write(std::size_t i, FileResult result) {
    if (!_reportFiles.empty()) _reportFiles[i] = reportFileOf(result);
    _progress.clear();
    _writer->write(result);
    if (!_console.out) throw Error(kCannotWriteResults);
    if (!result.notice.empty()) diagnose(result.notice);
    if (!result.error.empty()) diagnose(result.error);
    _anyFailed = _anyFailed || result.failed();
    if (result.crossedGate()) ++_crossedGates;
    _progress.redraw();
}

void RowOutput::progress(std::size_t done) {
    _progress.update(done);
}

void RowOutput::end() {
    _progress.clear();
    _writer->end();
    if (!_console.out.flush()) throw Error(kCannotWriteResults);
}

void RowOutput::diagnose(const std::string& message) {
    _console.err << kDiagnosticPrefix << printable(message) << '\n' << std::flush;
}

}  // namespace lumetra
