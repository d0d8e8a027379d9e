// `lumetra`: scores degraded images against an original from the command line.
//
// main reads the command line, runs the batch and turns the errors that end the program
// into a message and an exit status; everything else lives in Options, BatchRunner and the
// writers they use.

#include <unistd.h>

#include <exception>
#include <iostream>

#include "cli/BatchRunner.h"
#include "cli/Options.h"
#include "image/Error.h"

int main(int argc, char** argv) {
    using namespace lumetra;

    const ParsedCommandLine parsed = parseCommandLine(argc, argv, std::cout, std::cerr);
    if (!parsed.options) return parsed.exitStatus;

    try {
        return runBatch(*parsed.options, {std::cout, std::cerr, isatty(STDERR_FILENO) == 1});
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
