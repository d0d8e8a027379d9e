#pragma once

// Conversions between NumPy arrays and the core's image types, for the Python binding.
//
// An image argument is either a path (str, bytes or os.PathLike), read as the command line
// reads it, or an array of uint8 or uint16 samples shaped H x W x 3 (RGB), H x W x 4 (alpha
// dropped), H x W or H x W x 1 (grey: R = G = B) or H x W x 2 (grey and alpha), the same
// layouts a file may have.  Any other array layout (strides, byte order) is converted.  Every
// function here needs the GIL and gives it up only around its own long loops and file reads.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>

#include "image/Array.h"
#include "image/ImageLoading.h"
#include "image/RgbImage.h"

namespace lumetra::python {

// The file name an image argument gives, or none when it is not a path.  Throws
// pybind11::value_error for a name holding a NUL byte, which no file can have.
std::optional<std::string> pathOf(pybind11::handle image);

// The image an argument holds: a path is read from its file (ImageReadError when it cannot be
// read), an array converted.  `maxval` is the largest sample value of an array: by default
// 255 for uint8 and 65535 for uint16.  Throws pybind11::type_error for anything other than a
// path or an array of uint8 or uint16 samples, and pybind11::value_error for an array of
// another shape, a maxval outside 1 .. the dtype's largest value, a maxval given with a path,
// or a sample above maxval.  A file of more than maxPixels pixels is refused from its header
// (ImageReadError "image too large").
// A file is read with `choices` (its colour space and orientation, see image/ImageLoading.h),
// and what the file declares that the user should know is logged once as a warning of the
// "lumetra" logger.
RgbImage imageOf(pybind11::handle image, std::optional<long long> maxval,
                 std::uint64_t maxPixels = RgbImage::kMaxPixels, ReadChoices choices = {});

// The image file at path read with `choices`, its notices logged as imageOf logs them.  Needs
// the GIL; gives it up while reading.
RgbImage loadLogged(const std::string& path, std::uint64_t maxPixels, ReadChoices choices);

// The choices named by the keywords colour ("as-stored" or "srgb") and orientation
// ("as-stored" or "apply").  Throws pybind11::value_error naming the keyword otherwise.
ReadChoices readChoicesOf(const std::string& colour, const std::string& orientation);

// The samples of `image` as an H x W x 3 array: uint8 when maxval is at most 255, else uint16.
pybind11::array samplesOf(const RgbImage& image);

// `plane` as an H x W float32 array that owns it: no copy is made.
pybind11::array_t<float> arrayOf(Array<float>&& plane);

}  // namespace lumetra::python
