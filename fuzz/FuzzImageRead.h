#pragma once

// What the image targets share: the fuzz bytes are written to a file and read through the
// entry points the programs use (readImageHeader, then RgbImage(path)), exactly as a file named
// on the command line is read.  PNG chunks get matching checksums first (see
// withPngChecksums), so that mutations reach the decoder.  The readers take a path and open it
// themselves, so a real file is the only way in that runs every line of theirs (the length check,
// the format sniffing, the FILE* reads).
//
// What counts as a fault, beyond what the sanitizers catch: an exception that is not an
// ImageReadError escaping either call, and the two calls disagreeing (the header accepting a
// file the full read refuses for a header reason is allowed; the full read accepting a file
// the header refuses, or reporting another size, is not).

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace lumetra::fuzz {

// The first bytes that send a file to one reader; inputs of another family are skipped so
// each target spends its time on its own reader.
enum class ImageFamily { Netpbm, Png, Jpeg, Bmp, Webp, Tiff, Avif, Jxl };

// Returns -1 (do not keep the input) when the bytes are not of `family`, else 0.
int readImageBytes(ImageFamily family, const std::uint8_t* data, std::size_t size);

}  // namespace lumetra::fuzz
