// `lumetra`: scores degraded images against an original from the command line.
//
// main reads the command line, runs the batch and turns the errors that end the program
// into a message and an exit status; everything else lives in Options, BatchRunner and the
// writers they use.

#include <unistd.h>

#include <exception>
#include <iostream>

#include "cli/BatchRunner.h"
#include "cli/Interrupts.h"
#include "cli/Options.h"
#include "image/Error.h"

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
        std::cerr << "lumetra: " << e.what() << '\n';
        return kExitUsage;
    } catch (const SizeMismatchError& e) {
        // The original is too small for the model.
        std::cerr << "lumetra: " << e.what() << '\n';
        return kExitUsage;
    } catch (const ArgumentError& e) {
        std::cerr << "lumetra: " << e.what() << '\n';
        return kExitUsage;
    } catch (const std::exception& e) {
        // FFTW failures, the results not writable, memory exhausted.
        std::cerr << "lumetra: " << e.what() << '\n';
        return kExitFailure;
    }
}
