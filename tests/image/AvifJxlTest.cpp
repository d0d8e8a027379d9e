// The AVIF and JPEG XL readers, on files made by Debian's encoders (avifenc, cjxl; see
// tests/data/images/README.md): lossless files give the very samples they were made from,
// 10 and 12-bit AVIF samples keep their depth, lossy files stay close to their source (which a
// reader ignoring the file's YUV matrix would not), and cut, corrupt or oversized files are
// refused with an ImageReadError.

#include <gtest/gtest.h>
#include <unistd.h>  // getpid

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "ImageTestFiles.h"
#include "image/Error.h"
#include "image/ImageFile.h"
#include "image/ImageHeader.h"
#include "image/ImageLoading.h"
#include "image/RgbImage.h"

namespace lumetra {
namespace {

namespace fs = std::filesystem;

using test::expectSamePixels;
using test::kImages;

// The largest difference between two images' samples, each taken as a fraction of its maxval.
double largestDifference(const RgbImage& a, const RgbImage& b) {
    double largest = 0;
    for (const auto& [pa, pb] : {std::pair{&a.R(), &b.R()}, {&a.G(), &b.G()}, {&a.B(), &b.B()}}) {
        for (std::size_t i = 0; i < pa->size(); ++i) {
            largest = std::max(largest, std::abs(double(pa->data()[i]) / a.maxval() -
                                                 double(pb->data()[i]) / b.maxval()));
        }
    }
    return largest;
}

// The mean absolute difference per sample, in 8-bit levels.
double meanDifference(const RgbImage& a, const RgbImage& b) {
    double total = 0;
    for (const auto& [pa, pb] : {std::pair{&a.R(), &b.R()}, {&a.G(), &b.G()}, {&a.B(), &b.B()}}) {
        for (std::size_t i = 0; i < pa->size(); ++i) {
            total +=
                std::abs(double(pa->data()[i]) / a.maxval() - double(pb->data()[i]) / b.maxval());
        }
    }
    return 255 * total / (3.0 * a.rows() * a.cols());
}

// A folder of this test's own files, removed at the end.
class Scratch {
  public:
    Scratch() : _dir(fs::temp_directory_path() / ("lumetra-avifjxl-" + std::to_string(getpid()))) {
        fs::create_directories(_dir);
    }
    ~Scratch() { fs::remove_all(_dir); }
    std::string write(const std::string& name, const std::string& bytes) const {
        const std::string path = (_dir / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

  private:
    fs::path _dir;
};

std::string bytesOf(const std::string& name) {
    std::ifstream in(kImages + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(AvifJxl, LosslessFilesGiveTheSourcesSamples) {
    const RgbImage rgb(kImages + "rgb24x16.ppm");
    // Alpha is dropped as for PNG; the animated file's first frame is rgb24x16 itself.
    for (const char* name :
         {"rgb24x16_lossless.avif", "rgba24x16_lossless.avif", "rgb24x16_lossless.jxl",
          "rgba24x16_lossless.jxl", "animated24x16.jxl"}) {
        expectSamePixels(RgbImage(kImages + name), rgb, name);
    }
    expectSamePixels(RgbImage(kImages + "grey24x16_lossless.jxl"),
                     RgbImage(kImages + "grey24x16.pgm"), "grey24x16_lossless.jxl");
    // 16-bit samples keep their value and maxval 65535, as 16-bit PNG does.
    expectSamePixels(RgbImage(kImages + "rgb3x2_16bit_lossless.jxl"),
                     RgbImage(kImages + "rgb3x2_16bit.ppm"), "rgb3x2_16bit_lossless.jxl");
    // A recompressed JPEG gives what the JPEG it was made from gives, sample for sample.
    expectSamePixels(RgbImage(kImages + "rgb24x16_from_jpeg.jxl"),
                     RgbImage(kImages + "rgb24x16.jpg"), "rgb24x16_from_jpeg.jxl");
}

// avifenc -l -d 10 or 12 scales each 8-bit (or 16-bit) sample onto the larger range and codes
// the result losslessly.  The reader keeps those samples with maxval 1023 or 4095, as 16-bit
// PNG keeps its own: each is the source's sample scaled, to within the half step of rounding.
TEST(AvifJxl, TenAndTwelveBitAvifKeepTheirDepth) {
    const RgbImage rgb(kImages + "rgb24x16.ppm");
    const struct {
        const char* name;
        const char* source;
        unsigned maxval;
    } files[] = {{"rgb24x16_10bit_lossless.avif", "rgb24x16.ppm", 1023},
                 {"rgb24x16_12bit_lossless.avif", "rgb24x16.ppm", 4095},
                 {"rgb3x2_12bit_lossless.avif", "rgb3x2_16bit.ppm", 4095}};
    for (const auto& file : files) {
        const RgbImage read(kImages + file.name);
        const RgbImage source(kImages + file.source);
        ASSERT_EQ(read.maxval(), file.maxval) << file.name;
        ASSERT_EQ(read.rows(), source.rows());
        ASSERT_EQ(read.cols(), source.cols());
        EXPECT_LE(largestDifference(read, source), 0.5 / file.maxval + 1e-9) << file.name;
    }
}

// Lossy files: the mean absolute difference from the source, in 8-bit levels.  Measured with
// Debian 12's libavif 0.11 and libjxl 0.7: 4:2:0 1.8, 10-bit 4:2:2 1.5, grey 4:0:0 1.3, JPEG
// XL 2.4 and the animated AVIF's first frame 2.1; the bound of 5 leaves room for other
// decoder versions' rounding, while YUV decoded with the wrong matrix, swapped channels or
// rows are off by tens of levels.
TEST(AvifJxl, LossyFilesStayCloseToTheirSource) {
    constexpr double kMeanTolerance = 5.0;
    const RgbImage rgb(kImages + "rgb24x16.ppm");
    const RgbImage grey(kImages + "grey24x16.pgm");
    const struct {
        const char* name;
        const RgbImage& source;
        unsigned maxval;
    } files[] = {{"rgb24x16_420.avif", rgb, 255},
                 {"rgb24x16_10bit_422.avif", rgb, 1023},
                 {"grey24x16_400.avif", grey, 255},
                 {"rgb24x16_lossy.jxl", rgb, 255},
                 {"animated24x16.avif", rgb, 255}};
    for (const auto& file : files) {
        const RgbImage read(kImages + file.name);
        ASSERT_EQ(read.rows(), file.source.rows()) << file.name;
        ASSERT_EQ(read.cols(), file.source.cols()) << file.name;
        EXPECT_EQ(read.maxval(), file.maxval) << file.name;
        EXPECT_LT(meanDifference(read, file.source), kMeanTolerance) << file.name;
    }
    // Grey comes as R = G = B.
    const RgbImage greyAvif(kImages + "grey24x16_400.avif");
    EXPECT_EQ(greyAvif.R(), greyAvif.G());
    EXPECT_EQ(greyAvif.R(), greyAvif.B());
}

// Float samples come as 16-bit ones, clipped to 0..1 and rounded (to within one level, as the
// decoder rounds).  The file's PFM source lists its bottom row first.
TEST(AvifJxl, FloatJpegXlComesAsSixteenBitSamples) {
    const RgbImage read(kImages + "float3x2_lossless.jxl");
    ASSERT_EQ(read.maxval(), 65535u);
    ASSERT_EQ(read.rows(), 2u);
    ASSERT_EQ(read.cols(), 3u);
    const double pixels[2][3][3] = {{{1, 1, 1}, {0, 0, 0}, {0.2, 0.4, 0.6}},
                                    {{0, 0.5, 1}, {1.5, -0.25, 0.25}, {0.125, 0.75, 0.999}}};
    const Array<unsigned>* planes[] = {&read.R(), &read.G(), &read.B()};
    for (std::uint32_t r = 0; r < 2; ++r) {
        for (std::uint32_t c = 0; c < 3; ++c) {
            for (int p = 0; p < 3; ++p) {
                const double expected = std::round(std::clamp(pixels[r][c][p], 0.0, 1.0) * 65535);
                EXPECT_NEAR((*planes[p])(r, c), expected, 1.0) << r << "," << c << "," << p;
            }
        }
    }
}

// Animated files are read as their first frame, and the decoded file's reading note says so,
// word for word as the command line prints it once per file; a still file has no note.
TEST(AvifJxl, AnimatedFilesSayTheFirstFrameIsRead) {
    const std::pair<const char*, const char*> expected[] = {
        {"animated24x16.avif", "animated AVIF: the first of 2 frames is read"},
        {"animated24x16.jxl", "animated JPEG XL: the first frame is read"},
        {"animated24x16.webp", "animated WebP: the first frame is read"},
        {"rgb24x16_lossless.avif", ""},
        {"rgb24x16_lossless.jxl", ""},
        {"rgb24x16_lossless.webp", ""},
        {"rgb24x16_lzw.tif", ""},
    };
    for (const auto& [name, note] : expected) {
        EXPECT_EQ(decodeImageFile(kImages + name, kMaxImagePixels, nullptr).metadata.readingNote,
                  note)
            << name;
    }
}

// The profile's bytes as the file holds them, and the rotation and mirror boxes as the EXIF
// orientation that does the same: a quarter turn clockwise (irot 3) is 6, a quarter turn
// anticlockwise then top and bottom exchanged (irot 1, imir 0) is the transpose, 5.
TEST(AvifJxl, MetadataKeepsProfileAndOrientation) {
    const ImageMetadata icc =
        decodeImageFile(kImages + "rgb24x16_icc200.avif", kMaxImagePixels, nullptr).metadata;
    ASSERT_EQ(icc.iccProfile.size(), 200u);
    for (std::size_t i = 0; i < icc.iccProfile.size(); ++i) EXPECT_EQ(icc.iccProfile[i], i);
    EXPECT_EQ(icc.orientation, 1);
    EXPECT_EQ(decodeImageFile(kImages + "rgb24x16_irot3.avif", kMaxImagePixels, nullptr)
                  .metadata.orientation,
              6);
    EXPECT_EQ(decodeImageFile(kImages + "rgb24x16_irot1_imir0.avif", kMaxImagePixels, nullptr)
                  .metadata.orientation,
              5);
    const ImageMetadata plain =
        decodeImageFile(kImages + "rgb24x16_lossless.jxl", kMaxImagePixels, nullptr).metadata;
    EXPECT_TRUE(plain.iccProfile.empty());  // sRGB, declared by name
    EXPECT_EQ(plain.orientation, 1);
    // The pixels stay as stored: a rotated file keeps the stored size.
    EXPECT_EQ(readImageHeader(kImages + "rgb24x16_irot3.avif").cols, 24u);
}

// An AVIF whose 'ispe' box declares 60000 x 60000 pixels (3.6 * 10^9, above the 2^28 limit)
// is refused from its header and by the full read before a pixel is allocated; so is the real
// 24 x 16 one under a caller's limit of 100 pixels.
TEST(AvifJxl, OversizedHeadersAreRefusedBeforeDecoding) {
    const Scratch scratch;
    std::string bytes = bytesOf("rgb24x16_lossless.avif");
    const std::size_t ispe = bytes.find("ispe");
    ASSERT_NE(ispe, std::string::npos);
    for (const std::size_t at : {ispe + 8, ispe + 12}) {
        bytes.replace(at, 4, std::string("\0\0\xea\x60", 4));  // 60000, big-endian
    }
    const std::string huge = scratch.write("huge.avif", bytes);
    EXPECT_THROW(readImageHeader(huge), ImageReadError);
    EXPECT_THROW(RgbImage{huge}, ImageReadError);
    for (const char* name : {"rgb24x16_lossless.avif", "rgb24x16_lossless.jxl"}) {
        try {
            readImageHeader(kImages + name, 100);
            ADD_FAILURE() << name << " read under a limit of 100 pixels";
        } catch (const ImageReadError& e) {
            EXPECT_NE(std::string(e.what()).find("image too large: 24 x 16 pixels, at most 100"),
                      std::string::npos)
                << e.what();
        }
    }
}

// Cut files are refused (where the cut reaches the frame that is read); so is any file with one
// byte changed, or read as an image of the header's size (a changed byte in the middle of lossy
// data can decode to other pixels, which no decoder can tell), never a crash or another exception.
TEST(AvifJxl, CutAndCorruptFilesGiveAnErrorNotACrash) {
    const Scratch scratch;
    for (const char* name : {"rgb24x16_lossless.avif", "rgb24x16_10bit_422.avif",
                             "animated24x16.avif", "rgb24x16_lossless.jxl", "rgb24x16_lossy.jxl",
                             "rgb24x16_from_jpeg.jxl", "animated24x16.jxl"}) {
        const std::string bytes = bytesOf(name);
        for (const std::size_t length :
             {std::size_t{12}, bytes.size() / 3, bytes.size() / 2, bytes.size() - 10}) {
            // The animated JPEG XL's last bytes belong to its second frame: without them the
            // first frame, the one read, is still whole.
            if (std::string(name) == "animated24x16.jxl" && length == bytes.size() - 10) continue;
            const std::string cut = scratch.write("cut", bytes.substr(0, length));
            EXPECT_THROW(RgbImage{cut}, ImageReadError) << name << " cut at " << length;
        }
        for (std::size_t at = 0; at < bytes.size(); at += 7) {
            std::string changed = bytes;
            changed[at] = static_cast<char>(changed[at] ^ 0x5a);
            const std::string path = scratch.write("changed", changed);
            try {
                const ImageHeader header = readImageHeader(path);
                const RgbImage image(path);
                EXPECT_EQ(image.rows(), header.rows) << name << " changed at " << at;
                EXPECT_EQ(image.cols(), header.cols) << name << " changed at " << at;
            } catch (const ImageReadError&) {
            }
        }
    }
}

TEST(AvifJxl, ColoursDeclaredByCodePointsAloneAreSaidAndConvertedLikeAProfile) {
    // Both files hold the P3 PNG's samples losslessly, declared by code points only.
    const std::string p3Png = kImages + "rgb24x16_display_p3.png";
    const std::string p3Cicp = kImages + "rgb24x16_cicp12_13_0.avif";
    const std::string pq = kImages + "rgb24x16_cicp9_16_0.avif";
    const ReadChoices asStored{};
    const ReadChoices toSrgb{ColourHandling::ToSrgb, OrientationHandling::AsStored};

    const LoadedImage stored = loadImage(p3Cicp, kMaxImagePixels, asStored);
    expectSamePixels(stored.image, RgbImage(p3Png), "rgb24x16_cicp12_13_0.avif");
    EXPECT_EQ(stored.colour.name, "CICP 12/13/0 (Display P3 primaries, sRGB transfer)");
    ASSERT_EQ(stored.notices.size(), 1u);
    EXPECT_EQ(stored.notices[0].kind, NoticeKind::ColourAsStored);
    // Converted, it lands where the P3 PNG's ICC profile takes the same samples.
    const LoadedImage converted = loadImage(p3Cicp, kMaxImagePixels, toSrgb);
    ASSERT_TRUE(converted.converted);
    EXPECT_TRUE(converted.notices.empty());
    constexpr double kProfileRoundingTol = 4.0 / 65535.0;  // as in ColourProfileTest
    EXPECT_LE(largestDifference(converted.image, loadImage(p3Png, kMaxImagePixels, toSrgb).image),
              kProfileRoundingTol);

    // PQ is said as stored, without offering a conversion, and refused when asked for.
    const LoadedImage pqStored = loadImage(pq, kMaxImagePixels, asStored);
    ASSERT_EQ(pqStored.notices.size(), 1u);
    EXPECT_EQ(pqStored.notices[0].kind, NoticeKind::ColourUnconvertible);
    const LoadedImage pqAsked = loadImage(pq, kMaxImagePixels, toSrgb);
    EXPECT_FALSE(pqAsked.converted);
    expectSamePixels(pqAsked.image, RgbImage(p3Png), "rgb24x16_cicp9_16_0.avif");
    ASSERT_EQ(pqAsked.notices.size(), 1u);
    EXPECT_EQ(pqAsked.notices[0].text,
              "CICP 9/16/0 (BT.2020 primaries, PQ) is not converted to sRGB: transfer "
              "characteristics 16 (PQ) encode high-dynamic-range light, which has no one "
              "rendering in sRGB; the samples are read as stored");

    // avifenc's default code points (1/13/x): read as before, as a file declaring nothing.
    const LoadedImage srgb = loadImage(kImages + "rgb24x16_lossless.avif", kMaxImagePixels, toSrgb);
    EXPECT_EQ(srgb.colour.kind, ColourKind::Undeclared);
    EXPECT_FALSE(srgb.converted);
    EXPECT_TRUE(srgb.notices.empty());
}

}  // namespace
}  // namespace lumetra
