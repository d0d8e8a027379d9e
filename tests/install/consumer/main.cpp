// Scores one degraded image against its original through the installed library and prints
// the measure with nine significant digits, enough to give a float back exactly.
//   consumer ORIGINAL DEGRADED

#include <cstdio>

#include "engine/Lumetra2.h"
#include "engine/Parameters.h"
#include "image/Error.h"
#include "image/RgbImage.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: consumer ORIGINAL DEGRADED\n");
        return 2;
    }
    try {
        const lumetra::Lumetra2 engine(lumetra::RgbImage(argv[1]), lumetra::Parameters{});
        const lumetra::Comparison comparison = engine.compare(lumetra::RgbImage(argv[2]));
        std::printf("%.9g\n", static_cast<double>(comparison.mobj()));
    } catch (const lumetra::Error& error) {
        std::fprintf(stderr, "consumer: %s\n", error.what());
        return 1;
    }
    return 0;
}
