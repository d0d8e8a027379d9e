#pragma once

// A picture for people to look at: 8-bit red, green and blue per pixel, row by row without
// padding.  Heat maps are built as one, so that the command line, the desktop window and a
// report show the same pixels.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image/ColourMap.h"
#include "image/RgbImage.h"

namespace lumetra {

struct RgbPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgb;  // width * height * 3 bytes

    static constexpr std::size_t kChannels = 3;

    // A width x height picture filled with one colour.
    static RgbPicture filled(std::uint32_t width, std::uint32_t height, Rgb8 colour) {
        RgbPicture picture{width, height, {}};
        picture.rgb.reserve(std::size_t{width} * height * kChannels);
        for (std::size_t i = 0, n = std::size_t{width} * height; i < n; ++i) {
            picture.rgb.insert(picture.rgb.end(), colour.begin(), colour.end());
        }
        return picture;
    }

    // The colour at column x, row y; indices are not checked.
    Rgb8 at(std::uint32_t x, std::uint32_t y) const {
        const std::size_t i = (std::size_t{y} * width + x) * kChannels;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
    void set(std::uint32_t x, std::uint32_t y, Rgb8 colour) {
        const std::size_t i = (std::size_t{y} * width + x) * kChannels;
        rgb[i] = colour[0];
        rgb[i + 1] = colour[1];
        rgb[i + 2] = colour[2];
    }

    friend bool operator==(const RgbPicture&, const RgbPicture&) = default;
};

// The image as people see it on an 8-bit screen: each sample scaled from 0 .. maxval onto
// 0 .. 255 and rounded to the nearest level.
RgbPicture pictureOf(const RgbImage& image);

// Writes the picture as an 8-bit RGB PNG, atomically (image/FileOutput.h).  Throws Error
// when the file cannot be written or the picture is empty.
void writeRgbPicturePng(const std::string& path, const RgbPicture& picture);

}  // namespace lumetra
