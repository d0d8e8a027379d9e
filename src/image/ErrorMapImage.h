#pragma once

// How an error map is shown: one blue level (0..255) per pixel, black where the model sees
// no difference and full blue at the largest value.  The desktop window and the command
// line's PNG output share this rendering.

#include <array>
#include <cstdint>
#include <string>

#include "image/Array.h"

namespace lumetra {

// Blue level of every pixel of the map, row by row.
// The largest value m is found by a strict "greater than" walk from the first element, so a
// NaN never becomes the maximum.  When m >= 1 the levels follow the integer rule
// (trunc(v) * 255) / trunc(m); a faint map (0 < m < 1) uses the same formula in floating
// point, v * 255 / m, so it stays visible; an all-zero, empty or NaN-led map is black.
Array<std::uint8_t> errorMapLevels(const Array<float>& map);

// Writes the rendering as an 8-bit RGB PNG (red and green 0, blue the level).
// Throws Error when the file cannot be written.
void writeErrorMapPng(const std::string& path, const Array<float>& map);

// The four bytes of an IEEE-754 float, least significant first, whatever the host's order.
std::array<unsigned char, 4> littleEndianBytes(float value);

// Writes the raw values as a little-endian greyscale Portable Float Map ("Pf"), bottom row
// first as the format requires.  Throws Error when the file cannot be written.
void writeFloatMapPfm(const std::string& path, const Array<float>& map);

// Reads back a map written by writeFloatMapPfm: the header "Pf\n<cols> <rows>\n-1.0\n" and
// little-endian samples, bottom row first.  Throws ImageReadError naming the file when it
// cannot be read, has another header, declares more than RgbImage::kMaxPixels samples or is
// cut short; the last two are found before the map is allocated.
Array<float> readFloatMapPfm(const std::string& path);

}  // namespace lumetra
