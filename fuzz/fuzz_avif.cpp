// Fuzz target: AVIF files through the program's image read (see FuzzImageRead.h).

#include <cstddef>
#include <cstdint>

#include "FuzzImageRead.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return lumetra::fuzz::readImageBytes(lumetra::fuzz::ImageFamily::Avif, data, size);
}
