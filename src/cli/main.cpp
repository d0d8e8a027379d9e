// `lumetra`: scores degraded images against an original from the command line.
//
// main reads the command line, runs the batch and turns the errors that end the program
// into a message and an exit status; everything else lives in Options, BatchRunner and the
// writers they use.

#include <unistd.h>

#include <exception>
#include <iostream>
#include <new>
#include <string>

#include "cli/BatchRunner.h"
#include "cli/Interrupts.h"
#include "cli/Options.h"
#include "cli/TextFormat.h"
#include "image/Error.h"

namespace {

// Every message ends up here: the paths and values it quotes are the user's, so their control
// characters are escaped (printable), as the rows' paths are, and never reach the terminal.
int fail(const std::string& message, int status) {
    std::cerr << "lumetra: " << lumetra::printable(message) << '\n';
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace lumetra;

    // Before any other thread exists, so that every thread inherits the blocked signals.
    const InterruptWatch interrupts(
        "lumetra: stopping: the files in flight are finished first; interrupt again to stop at "
        "once\n");
    const ParsedCommandLine parsed = parseCommandLine(argc, argv, std::cout, std::cerr);
    if (!parsed.options) return parsed.exitStatus;

    try {
        return runBatch(*parsed.options, {std::cout, std::cerr, isatty(STDERR_FILENO) == 1},
                        interrupts);
    } catch (const ImageReadError& e) {
        // The original cannot be read.
        return fail(e.what(), kExitUsage);
    } catch (const SizeMismatchError& e) {
        // The original is too small for the model.
        return fail(e.what(), kExitUsage);
    } catch (const ArgumentError& e) {
        return fail(e.what(), kExitUsage);
    } catch (const std::bad_alloc&) {
        // Memory ran out despite the estimate, outside any one file (each file's own running
        // out fails its row): reading the original or building its engine.
        return fail(
            "out of memory while building the engine for \"" + parsed.options->original + "\"",
            kExitFailure);
    } catch (const std::exception& e) {
        // FFTW failures, the results not writable, the memory estimate above what is free.
        return fail(e.what(), kExitFailure);
    }
}
