#pragma once

// The batch run of `lumetra`: one engine for the original, the degraded files scored several
// at once in one task arena of --threads threads, the rows written in the order the files
// were given.

#include <iosfwd>

#include "cli/Options.h"

namespace lumetra {

// Where the run writes: rows to `out`, diagnostics and the progress bar to `err`.
struct Console {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal;  // the progress bar is drawn only on a terminal
};

// Scores options.degraded against options.original and writes one row per file.  A file
// that cannot be read, has the wrong size or whose maps cannot be written gets an error row
// and a line on `err`, and the batch goes on.  Returns kExitSuccess when every file was
// scored and written, kExitFailure otherwise.
// Throws ImageReadError or SizeMismatchError when the original cannot be read or is too
// small, ArgumentError when a map folder cannot be made, and Error when the results cannot
// be written or the engine cannot be built.
int runBatch(const Options& options, const Console& console);

}  // namespace lumetra
