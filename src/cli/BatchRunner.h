#pragma once

// The batch run of `lumetra`: one engine for the original, the degraded files scored several
// at once in one task arena of --threads threads, the rows written in the order the files
// were given.

#include <iosfwd>

#include "cli/Interrupts.h"
#include "cli/Options.h"

namespace lumetra {

// Where the run writes: rows to `out`, diagnostics and the progress bar to `err`.
struct Console {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal;  // the progress bar is drawn only on a terminal
};

// Scores options.degraded against options.original and writes one row per file, until `stop`
// is requested (then 128 + its signal is returned once the files in flight are done).  A file
// that cannot be read, has the wrong size or whose maps cannot be written (a map folder that
// cannot be made included) gets an error row and a line on `err`, and the batch goes on.
// Scored files are judged by options.gates.  Returns kExitFailure when any file failed,
// otherwise kExitGate when any crossed a gate (with a line on `err` counting them), otherwise
// kExitSuccess.
// Throws ImageReadError or SizeMismatchError when the original cannot be read or is too
// small, and Error when the results cannot be written or the engine cannot be built.
int runBatch(const Options& options, const Console& console, const StopRequest& stop);

}  // namespace lumetra
