#include <gtest/gtest.h>

#include <string>

#include "image/BitmapFont.h"

namespace lumetra {
namespace {

constexpr Rgb8 kPaper = {255, 255, 255};
constexpr Rgb8 kInk = {0, 0, 0};

// Whether font pixel (col, row) of a glyph is set, read from the rows by hand: bit 4 is the
// leftmost column.
bool isSet(const Glyph& glyph, int col, int row) {
    return ((glyph[static_cast<std::size_t>(row)] >> (kGlyphWidth - 1 - col)) & 1) != 0;
}

struct DrawCase {
    std::string name;
    std::string text;
    int scale;
};

class DrawText : public testing::TestWithParam<DrawCase> {};

TEST_P(DrawText, SetsExactlyTheGlyphPixelsAtTheirPlace) {
    const DrawCase& d = GetParam();
    constexpr int kLeft = 3;
    constexpr int kTop = 2;
    RgbPicture picture = RgbPicture::filled(40, 20, kPaper);
    drawText(picture, kLeft, kTop, d.text, d.scale, kInk);

    for (std::uint32_t y = 0; y < picture.height; ++y) {
        for (std::uint32_t x = 0; x < picture.width; ++x) {
            bool expected = false;
            const int dx = static_cast<int>(x) - kLeft;
            const int dy = static_cast<int>(y) - kTop;
            if (dx >= 0 && dy >= 0 && dy < kGlyphHeight * d.scale) {
                const int k = dx / (kGlyphAdvance * d.scale);
                const int col = (dx % (kGlyphAdvance * d.scale)) / d.scale;
                if (k < static_cast<int>(d.text.size()) && col < kGlyphWidth) {
                    expected =
                        isSet(glyphOf(d.text[static_cast<std::size_t>(k)]), col, dy / d.scale);
                }
            }
            EXPECT_EQ(picture.at(x, y), expected ? kInk : kPaper) << "x " << x << " y " << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, DrawText,
                         testing::Values(DrawCase{"Seven", "7", 1}, DrawCase{"Number", "0.5", 1},
                                         DrawCase{"ExponentDoubled", "1e+3", 2}),
                         [](const auto& info) { return info.param.name; });

TEST(DrawText, DrawsTheSevenAsDrawnByHand) {
    // The 7: a full top row, then a stroke down to the left and straight down.
    const char* const kSeven[kGlyphHeight] = {"#####", "....#", "...#.", "..#..",
                                              ".#...", ".#...", ".#..."};
    RgbPicture picture = RgbPicture::filled(kGlyphWidth, kGlyphHeight, kPaper);
    drawText(picture, 0, 0, "7", 1, kInk);
    for (int row = 0; row < kGlyphHeight; ++row) {
        for (int col = 0; col < kGlyphWidth; ++col) {
            EXPECT_EQ(picture.at(static_cast<std::uint32_t>(col), static_cast<std::uint32_t>(row)),
                      kSeven[row][col] == '#' ? kInk : kPaper)
                << "col " << col << " row " << row;
        }
    }
}

TEST(DrawText, SkipsPixelsOutsideThePicture) {
    RgbPicture picture = RgbPicture::filled(4, 4, kPaper);
    drawText(picture, -2, -3, "8", 1, kInk);
    // Font rows 3..6, columns 2..4 of the 8 land in the picture at (0..2, 0..3): its waist
    // ".###." then "#...#".
    EXPECT_EQ(picture.at(0, 0), kInk);    // font (2, 3)
    EXPECT_EQ(picture.at(2, 0), kPaper);  // font (4, 3)
    EXPECT_EQ(picture.at(0, 1), kPaper);  // font (2, 4)
    EXPECT_EQ(picture.at(2, 1), kInk);    // font (4, 4)
    EXPECT_EQ(picture.at(3, 1), kPaper);  // beyond the glyph
}

TEST(BitmapFont, HasEveryCharacterOfANumberAndNothingElse) {
    for (const char c : std::string("0123456789.-+e")) {
        EXPECT_NE(glyphOf(c), Glyph{}) << c;
    }
    EXPECT_EQ(glyphOf('x'), Glyph{});
    EXPECT_EQ(textWidth("0.5", 1), 17);  // three glyphs of 5 and two blank columns
    EXPECT_EQ(textWidth("0.5", 2), 34);
    EXPECT_EQ(textWidth("", 3), 0);
}

}  // namespace
}  // namespace lumetra
