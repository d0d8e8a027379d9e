#pragma once

// A tiny bitmap font for the labels of heat-map legends, so that numbers can be drawn into a
// picture without a text library.  Each glyph is 5 pixels wide and 7 high, drawn for this
// project: the digits, '.', '-', '+' and 'e' (all a number in scientific notation needs), and
// 'l', 'o', 'g', 'k', '=' and the space of a log scale's title.

#include <array>
#include <cstdint>
#include <string_view>

#include "image/ColourMap.h"
#include "image/RgbPicture.h"

namespace lumetra {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;
// Columns from one glyph's left edge to the next one's: the glyph and one blank column.
inline constexpr int kGlyphAdvance = kGlyphWidth + 1;

// One row per entry, top first; bit 4 is the leftmost column, bit 0 the rightmost.
using Glyph = std::array<std::uint8_t, kGlyphHeight>;

// The glyph of a character; a blank glyph for a character the font does not have.
Glyph glyphOf(char c);

// Width in pixels of `text` drawn at `scale` (each font pixel a scale x scale square),
// without the blank column after the last glyph.
int textWidth(std::string_view text, int scale);

// Draws `text` into the picture with its top-left corner at (x, y), setting the pixels of
// the glyphs to `ink` and leaving the others as they are.  Pixels outside the picture are
// skipped.
void drawText(RgbPicture& picture, int x, int y, std::string_view text, int scale, Rgb8 ink);

}  // namespace lumetra
