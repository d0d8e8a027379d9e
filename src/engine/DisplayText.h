#pragma once

// A screen and viewing distance written as text, as the command line's --display and the
// batch's take them, read into the pixels per degree of the viewing geometry.

#include <string>

namespace lumetra {

// The pixels per degree of "WIDTH_PX,WIDTH_CM,DISTANCE_CM": the screen's width in pixels and
// in centimetres and the viewing distance in centimetres ("1920,53,70" gives 44.26).  Throws
// ParameterError when the text is not three numbers, when one is not finite and greater than
// 0 ("WIDTH_CM must be a finite number greater than 0 (got 0)"), or when the parameters would
// not accept the pixels per degree it gives.
double pixelsPerDegreeOfDisplay(const std::string& text);

}  // namespace lumetra
