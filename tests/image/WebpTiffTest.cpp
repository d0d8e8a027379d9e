// The WebP and TIFF readers, on files made by Debian's encoders (cwebp, img2webp, tiffcp,
// netpbm's pnmtotiff family; see tests/data/images/README.md): lossless files give the very
// samples of the pixmap they were made from, and what the model cannot read is refused with
// a message naming what the file is.

#include <gtest/gtest.h>
#include <unistd.h>  // getpid

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "ImageTestFiles.h"
#include "image/Error.h"
#include "image/ImageHeader.h"
#include "image/RgbImage.h"

namespace lumetra {
namespace {

namespace fs = std::filesystem;

using test::expectSamePixels;
using test::kImages;

// The reason a file is refused, from the full read and from the header alone.
std::string refusal(const std::string& path, bool byHeader) {
    try {
        if (byHeader) {
            readImageHeader(path);
        } else {
            const RgbImage image(path);
        }
    } catch (const ImageReadError& e) {
        const std::string prefix = "cannot read image \"" + path + "\": ";
        const std::string what = e.what();
        EXPECT_EQ(what.rfind(prefix, 0), 0u) << what;
        return what.substr(prefix.size());
    }
    return "(read without error)";
}

TEST(WebpTiff, LosslessFilesGiveThePixmapsSamples) {
    const RgbImage rgb(kImages + "rgb24x16.ppm");
    // Alpha is dropped as for PNG (cwebp -exact keeps the colour under transparent pixels).
    for (const char* name :
         {"rgb24x16_lossless.webp", "rgba24x16_lossless.webp", "rgb24x16_lzw.tif",
          "rgb24x16_deflate_strips.tif", "rgb24x16_tiled.tif", "rgb24x16_planar_big_endian.tif"}) {
        expectSamePixels(RgbImage(kImages + name), rgb, name);
    }
    // White-is-zero grey is turned around into the greymap's levels.
    expectSamePixels(RgbImage(kImages + "grey24x16_miniswhite.tif"),
                     RgbImage(kImages + "grey24x16.pgm"), "grey24x16_miniswhite.tif");
}

// 16-bit samples keep their value and maxval 65535, as 16-bit PNG and PPM do, in either byte
// order, strips or tiles.
TEST(WebpTiff, SixteenBitTiffKeepsItsSamples) {
    const RgbImage pixmap(kImages + "rgb3x2_16bit.ppm");
    ASSERT_EQ(pixmap.maxval(), 65535u);
    for (const char* name : {"rgb3x2_16bit.tif", "rgb3x2_16bit_tiled_big_endian.tif"}) {
        expectSamePixels(RgbImage(kImages + name), pixmap, name);
    }
}

TEST(WebpTiff, LossyWebpIsCloseToItsSource) {
    // cwebp -q 90 of a 24 x 16 photo crop (with alpha, dropped): its mean absolute error per
    // sample measures 1.9 levels; 4 leaves room for another libwebp's rounding, and a decoder
    // that swapped channels or rows would be off by tens.
    constexpr double kMeanTolerance = 4.0;
    // The first frame of an animated file (img2webp -q 50, whose second frame is the first
    // mirrored): 3.6 levels, held to 6; the second frame is 10.4 levels away from the source.
    constexpr double kAnimatedTolerance = 6.0;
    const RgbImage rgb(kImages + "rgb24x16.ppm");
    for (const std::string name : {"rgba24x16_lossy.webp", "animated24x16.webp"}) {
        const RgbImage lossy(kImages + name);
        ASSERT_EQ(lossy.rows(), rgb.rows());
        ASSERT_EQ(lossy.cols(), rgb.cols());
        EXPECT_EQ(lossy.maxval(), 255u);
        double total = 0;
        for (std::uint32_t r = 0; r < rgb.rows(); ++r) {
            for (std::uint32_t c = 0; c < rgb.cols(); ++c) {
                total += std::abs(int(lossy.R()(r, c)) - int(rgb.R()(r, c))) +
                         std::abs(int(lossy.G()(r, c)) - int(rgb.G()(r, c))) +
                         std::abs(int(lossy.B()(r, c)) - int(rgb.B()(r, c)));
            }
        }
        const double tolerance = name == "animated24x16.webp" ? kAnimatedTolerance : kMeanTolerance;
        EXPECT_LT(total / (3.0 * rgb.rows() * rgb.cols()), tolerance) << name;
    }
}

// Refused from the header already, so the batch and the size checks refuse them too.
TEST(WebpTiff, RefusesWhatTheModelCannotReadNamingIt) {
    const struct {
        const char* name;
        const char* reason;
    } refused[] = {
        {"float3x2.tif",
         "floating-point TIFF (32-bit float samples): the model reads 8 or 16-bit whole-number "
         "samples"},
        {"cmyk24x16.tif", "CMYK TIFF: the model needs RGB or grey (convert it to RGB first)"},
    };
    for (const auto& file : refused) {
        EXPECT_EQ(refusal(kImages + file.name, true), file.reason);
        EXPECT_EQ(refusal(kImages + file.name, false), file.reason);
    }
}

// A file cut short is an error, never an image with made-up pixels.  A WebP file ends with
// its bitstream, so even its last bytes matter; a TIFF file from tiffcp holds its pixels first
// and its directory after them, so a cut loses the directory (the last bytes are text tags
// that do not touch the pixels, and a file without them is still whole).
TEST(WebpTiff, RefusesCutFiles) {
    const fs::path dir =
        fs::temp_directory_path() / ("lumetra-webptiff-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const auto cutAt = [&](const std::string& name, std::size_t length) {
        std::ifstream in(kImages + name, std::ios::binary);
        const std::string bytes(std::istreambuf_iterator<char>(in), {});
        const std::string cut = (dir / ("cut_" + std::to_string(length) + "_" + name)).string();
        std::ofstream(cut, std::ios::binary) << bytes.substr(0, length);
        return cut;
    };
    for (const char* name : {"rgb24x16_lossless.webp", "rgba24x16_lossy.webp", "rgb24x16_lzw.tif",
                             "rgb24x16_tiled.tif", "rgb3x2_16bit.tif"}) {
        const std::size_t size = fs::file_size(kImages + name);
        const bool webp = std::string(name).ends_with(".webp");
        for (const std::size_t length : {std::size_t{12}, size / 3, size / 2, size - 10}) {
            if (!webp && length == size - 10) continue;
            EXPECT_THROW(RgbImage{cutAt(name, length)}, ImageReadError) << name << " at " << length;
        }
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace lumetra
