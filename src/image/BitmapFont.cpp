#include "image/BitmapFont.h"

#include <cstddef>

namespace lumetra {

namespace {

struct GlyphEntry {
    char c;
    Glyph rows;
};

// Drawn on a 5 x 7 grid, one row per byte, top first; 0x1f is a full row.
constexpr GlyphEntry kGlyphs[] = {
    {'0', {0x0e, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0e}},
    {'1', {0x04, 0x0c, 0x04, 0x04, 0x04, 0x04, 0x0e}},
    {'2', {0x0e, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1f}},
    {'3', {0x1f, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0e}},
    {'4', {0x02, 0x06, 0x0a, 0x12, 0x1f, 0x02, 0x02}},
    {'5', {0x1f, 0x10, 0x1e, 0x01, 0x01, 0x11, 0x0e}},
    {'6', {0x06, 0x08, 0x10, 0x1e, 0x11, 0x11, 0x0e}},
    {'7', {0x1f, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0e, 0x11, 0x11, 0x0e, 0x11, 0x11, 0x0e}},
    {'9', {0x0e, 0x11, 0x11, 0x0f, 0x01, 0x02, 0x0c}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0c, 0x0c}},
    {'-', {0x00, 0x00, 0x00, 0x1f, 0x00, 0x00, 0x00}},
    {'+', {0x00, 0x04, 0x04, 0x1f, 0x04, 0x04, 0x00}},
    {'e', {0x00, 0x00, 0x0e, 0x11, 0x1f, 0x10, 0x0e}},
    // The letters of a log scale's title, "log k=2.5".
    {'l', {0x0c, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0e}},
    {'o', {0x00, 0x00, 0x0e, 0x11, 0x11, 0x11, 0x0e}},
    {'g', {0x00, 0x0f, 0x11, 0x11, 0x0f, 0x01, 0x0e}},
    {'k', {0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12}},
    {'=', {0x00, 0x00, 0x1f, 0x00, 0x1f, 0x00, 0x00}},
};

// The bit of the leftmost of a glyph's columns.
constexpr std::uint8_t kLeftmostBit = 1u << (kGlyphWidth - 1);

}  // namespace

Glyph glyphOf(char c) {
    for (const GlyphEntry& entry : kGlyphs) {
        if (entry.c == c) return entry.rows;
    }
    return Glyph{};
}

int textWidth(std::string_view text, int scale) {
    if (text.empty()) return 0;
    return (static_cast<int>(text.size()) * kGlyphAdvance - 1) * scale;
}

void drawText(RgbPicture& picture, int x, int y, std::string_view text, int scale, Rgb8 ink) {
    const auto width = static_cast<int>(picture.width);
    const auto height = static_cast<int>(picture.height);
    for (std::size_t k = 0; k < text.size(); ++k) {
        const Glyph glyph = glyphOf(text[k]);
        const int left = x + static_cast<int>(k) * kGlyphAdvance * scale;
        for (int row = 0; row < kGlyphHeight; ++row) {
            for (int col = 0; col < kGlyphWidth; ++col) {
                if ((glyph[static_cast<std::size_t>(row)] & (kLeftmostBit >> col)) == 0) continue;
                // One font pixel is a scale x scale square.
                for (int dy = 0; dy < scale; ++dy) {
                    for (int dx = 0; dx < scale; ++dx) {
                        const int px = left + col * scale + dx;
                        const int py = y + row * scale + dy;
                        if (px < 0 || py < 0 || px >= width || py >= height) continue;
                        picture.set(static_cast<std::uint32_t>(px), static_cast<std::uint32_t>(py),
                                    ink);
                    }
                }
            }
        }
    }
}

}  // namespace lumetra
