// EXIF orientation: the eight orientations against a reference made of two plain moves (a
// quarter turn clockwise and a mirror), the orientation and profile each reader reports from
// files written here, and EXIF blocks that are cut or wrong.

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "ColourTestImages.h"
#include "image/ImageFile.h"
#include "image/ImageLoading.h"
#include "image/ImageMetadata.h"
#include "image/Orientation.h"

namespace lumetra {
namespace {

namespace fs = std::filesystem;
namespace ti = testimages;

const std::string kImages = std::string(LUMETRA_TEST_DATA_DIR) + "/images/";

// A 3 x 5 image whose every sample differs, so that any misplaced pixel shows.
RgbImage numbered(std::uint32_t rows = 3, std::uint32_t cols = 5) {
    Array<unsigned> r(rows, cols), g(rows, cols), b(rows, cols);
    for (std::uint32_t y = 0; y < rows; ++y) {
        for (std::uint32_t x = 0; x < cols; ++x) {
            r(y, x) = (y * cols + x) % 256;
            g(y, x) = (100 + y * cols + x) % 256;
            b(y, x) = 255 - (y * cols + x) % 256;
        }
    }
    return RgbImage(r, g, b);
}

// A quarter turn clockwise: the first stored row becomes the right-hand column.
RgbImage turnedClockwise(const RgbImage& image) {
    const std::uint32_t h = image.rows(), w = image.cols();
    Array<unsigned> r(w, h), g(w, h), b(w, h);
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            r(x, h - 1 - y) = image.R()(y, x);
            g(x, h - 1 - y) = image.G()(y, x);
            b(x, h - 1 - y) = image.B()(y, x);
        }
    }
    return RgbImage(r, g, b, image.maxval());
}

RgbImage mirroredLeftToRight(const RgbImage& image) {
    const std::uint32_t h = image.rows(), w = image.cols();
    Array<unsigned> r(h, w), g(h, w), b(h, w);
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            r(y, w - 1 - x) = image.R()(y, x);
            g(y, w - 1 - x) = image.G()(y, x);
            b(y, w - 1 - x) = image.B()(y, x);
        }
    }
    return RgbImage(r, g, b, image.maxval());
}

// EXIF's orientations as the moves that show them: 2 mirror, 3 two turns, 4 two turns and a
// mirror, 5 a turn and a mirror (transpose), 6 a turn, 7 three turns and a mirror (transverse),
// 8 three turns.
RgbImage referenceOriented(const RgbImage& image, std::uint16_t orientation) {
    constexpr int kTurns[] = {0, 0, 0, 2, 2, 1, 1, 3, 3};
    constexpr bool kMirror[] = {false, false, true, false, true, true, false, true, false};
    RgbImage result = image;
    for (int t = 0; t < kTurns[orientation]; ++t) result = turnedClockwise(result);
    return kMirror[orientation] ? mirroredLeftToRight(result) : result;
}

void expectSamePixels(const RgbImage& got, const RgbImage& expected, const std::string& what) {
    ASSERT_EQ(got.rows(), expected.rows()) << what;
    ASSERT_EQ(got.cols(), expected.cols()) << what;
    EXPECT_EQ(got.R(), expected.R()) << what;
    EXPECT_EQ(got.G(), expected.G()) << what;
    EXPECT_EQ(got.B(), expected.B()) << what;
}

class ScratchDir : public ::testing::Test {
  protected:
    void SetUp() override {
        _dir = fs::temp_directory_path() / ("lumetra_orientation_" + std::to_string(getpid()));
        fs::create_directories(_dir);
    }
    void TearDown() override { fs::remove_all(_dir); }
    std::string path(const std::string& name) const { return (_dir / name).string(); }

  private:
    fs::path _dir;
};

TEST(Orientation, EveryOrientationMatchesTheTurnsAndMirrorsItNames) {
    // Odd x odd, odd x even and a single row: the turns' edges and a degenerate side.
    for (const auto& [rows, cols] : {std::pair{3u, 5u}, std::pair{4u, 7u}, std::pair{1u, 6u}}) {
        const RgbImage image = numbered(rows, cols);
        for (std::uint16_t o = 1; o <= 8; ++o) {
            expectSamePixels(orientedForDisplay(image, o), referenceOriented(image, o),
                             "orientation " + std::to_string(o));
        }
    }
    // EXIF's own definition of 6: the stored first row is the displayed right-hand column.
    const RgbImage six = orientedForDisplay(numbered(), 6);
    EXPECT_EQ(six.R()(0, 2), 0u);  // stored (0, 0) at the top right
    EXPECT_EQ(six.R()(4, 2), 4u);  // stored (0, 4) at the bottom right
}

using OrientationFiles = ScratchDir;

TEST_F(OrientationFiles, PngExifOrientationIsKeptOrAppliedAsAsked) {
    const RgbImage image = numbered();
    for (std::uint16_t o = 1; o <= 8; ++o) {
        const std::string file = path("o" + std::to_string(o) + ".png");
        ti::PngDeclarations declarations;
        declarations.exif = ti::exifBlock(o, o % 2 == 0);  // both byte orders
        ti::writePng(file, image, declarations);

        const LoadedImage kept = loadImage(file, kMaxImagePixels, {});
        EXPECT_EQ(kept.orientation, o);
        EXPECT_FALSE(kept.oriented);
        expectSamePixels(kept.image, image, "kept " + std::to_string(o));
        // Said once when it is not 1, and not at all for 1.
        ASSERT_EQ(kept.notices.size(), o == 1 ? 0u : 1u);
        if (o != 1) {
            EXPECT_EQ(kept.notices[0].kind, NoticeKind::OrientationAsStored);
        }

        const LoadedImage applied = loadImage(
            file, kMaxImagePixels, {ColourHandling::AsStored, OrientationHandling::Apply});
        expectSamePixels(applied.image, referenceOriented(image, o),
                         "applied " + std::to_string(o));
        EXPECT_EQ(applied.oriented, o != 1);
    }
}

// The JPEG APP1 and APP2 segments, written with libjpeg: an EXIF block, and the profile cut
// into `parts` numbered parts (in the order given by `order`, 1-based numbers).
void writeJpeg(const std::string& file, const RgbImage& image,
               const std::vector<std::uint8_t>& exif, const std::vector<std::uint8_t>& icc,
               const std::vector<int>& order) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    std::FILE* out = std::fopen(file.c_str(), "wb");
    jpeg_stdio_dest(&info, out);
    info.image_width = image.cols();
    info.image_height = image.rows();
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_start_compress(&info, TRUE);
    if (!exif.empty()) {
        std::vector<std::uint8_t> segment = {'E', 'x', 'i', 'f', 0, 0};
        segment.insert(segment.end(), exif.begin(), exif.end());
        jpeg_write_marker(&info, JPEG_APP0 + 1, segment.data(), unsigned(segment.size()));
    }
    const std::size_t parts = order.size();
    for (const int number : order) {
        const std::size_t from = icc.size() * (number - 1) / parts,
                          to = icc.size() * number / parts;
        std::vector<std::uint8_t> segment = {'I', 'C', 'C', '_', 'P', 'R',
                                             'O', 'F', 'I', 'L', 'E', 0};
        segment.push_back(std::uint8_t(number));
        segment.push_back(std::uint8_t(parts));
        segment.insert(segment.end(), icc.begin() + from, icc.begin() + to);
        jpeg_write_marker(&info, JPEG_APP0 + 2, segment.data(), unsigned(segment.size()));
    }
    std::vector<JSAMPLE> row(image.cols() * 3);
    for (std::uint32_t y = 0; y < image.rows(); ++y) {
        for (std::uint32_t x = 0; x < image.cols(); ++x) {
            row[3 * x] = JSAMPLE(image.R()(y, x));
            row[3 * x + 1] = JSAMPLE(image.G()(y, x));
            row[3 * x + 2] = JSAMPLE(image.B()(y, x));
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(out);
}

TEST_F(OrientationFiles, JpegReassemblesItsProfileAndReadsItsExif) {
    const RgbImage image = numbered(16, 24);
    const std::vector<std::uint8_t> p3 = ti::displayP3Profile();
    const std::string file = path("p3.jpg");
    // Parts written out of order are put back in their numbered order.
    writeJpeg(file, image, ti::exifBlock(6, true), p3, {2, 3, 1});
    const DecodedImage decoded = decodeImageFile(file, kMaxImagePixels);
    EXPECT_EQ(decoded.metadata.iccProfile, p3);
    EXPECT_EQ(decoded.metadata.orientation, 6);
    EXPECT_TRUE(decoded.metadata.problems.empty());

    // A part numbered twice and one missing: no profile, a problem, the pixels still read.
    for (const std::vector<int>& order : {std::vector<int>{1, 1, 3}, std::vector<int>{1, 3}}) {
        writeJpeg(file, image, {}, p3, order.size() == 2 ? std::vector<int>{1, 2, 2} : order);
        const DecodedImage bad = decodeImageFile(file, kMaxImagePixels);
        EXPECT_TRUE(bad.metadata.iccProfile.empty());
        ASSERT_EQ(bad.metadata.problems.size(), 1u);
        EXPECT_NE(bad.metadata.problems[0].find("ICC profile segment"), std::string::npos);
        EXPECT_EQ(bad.pixels.rows(), 16u);
    }
}

TEST_F(OrientationFiles, TiffAndWebpReportTheirProfileAndOrientation) {
    const std::vector<std::uint8_t> p3 = ti::displayP3Profile();
    const RgbImage image = numbered(4, 6);

    const std::string tif = path("p3.tif");
    {
        TIFF* tiff = TIFFOpen(tif.c_str(), "w");
        ASSERT_NE(tiff, nullptr);
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 6);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 4);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_LEFTBOT);  // 8
        TIFFSetField(tiff, TIFFTAG_ICCPROFILE, std::uint32_t(p3.size()), p3.data());
        std::vector<std::uint8_t> row(6 * 3);
        for (std::uint32_t y = 0; y < 4; ++y) {
            for (std::uint32_t x = 0; x < 6; ++x) {
                row[3 * x] = std::uint8_t(image.R()(y, x));
                row[3 * x + 1] = std::uint8_t(image.G()(y, x));
                row[3 * x + 2] = std::uint8_t(image.B()(y, x));
            }
            TIFFWriteScanline(tiff, row.data(), y, 0);
        }
        TIFFClose(tiff);
    }
    const LoadedImage fromTiff =
        loadImage(tif, kMaxImagePixels, {ColourHandling::AsStored, OrientationHandling::Apply});
    EXPECT_EQ(fromTiff.orientation, 8);
    EXPECT_EQ(fromTiff.colour.name, "ICC \"Display P3\"");
    expectSamePixels(fromTiff.image, referenceOriented(image, 8), "TIFF orientation 8");

    // A lossless WebP made extended: VP8X (flags: ICC 0x20, EXIF 0x08), ICCP, the bitstream,
    // EXIF.  RIFF chunks are padded to even lengths.
    std::ifstream in(kImages + "rgb24x16_lossless.webp", std::ios::binary);
    const std::vector<std::uint8_t> simple((std::istreambuf_iterator<char>(in)), {});
    const auto chunk = [](const char* name, const std::vector<std::uint8_t>& data) {
        std::vector<std::uint8_t> bytes(name, name + 4);
        for (int i = 0; i < 4; ++i) bytes.push_back(std::uint8_t(data.size() >> (8 * i)));
        bytes.insert(bytes.end(), data.begin(), data.end());
        if (data.size() % 2 == 1) bytes.push_back(0);
        return bytes;
    };
    std::vector<std::uint8_t> body = {'W', 'E', 'B', 'P'};
    const std::vector<std::uint8_t> vp8x = {0x28, 0, 0, 0, 23, 0, 0, 15, 0, 0};
    for (const auto& part : {chunk("VP8X", vp8x), chunk("ICCP", p3)}) {
        body.insert(body.end(), part.begin(), part.end());
    }
    body.insert(body.end(), simple.begin() + 12, simple.end());
    const std::vector<std::uint8_t> exif = chunk("EXIF", ti::exifBlock(3));
    body.insert(body.end(), exif.begin(), exif.end());
    std::vector<std::uint8_t> riff = {'R', 'I', 'F', 'F'};
    for (int i = 0; i < 4; ++i) riff.push_back(std::uint8_t(body.size() >> (8 * i)));
    riff.insert(riff.end(), body.begin(), body.end());
    const std::string webp = path("p3.webp");
    std::ofstream(webp, std::ios::binary)
        .write(reinterpret_cast<const char*>(riff.data()), std::streamsize(riff.size()));
    const DecodedImage fromWebp = decodeImageFile(webp, kMaxImagePixels);
    EXPECT_EQ(fromWebp.metadata.iccProfile, p3);
    EXPECT_EQ(fromWebp.metadata.orientation, 3);
    expectSamePixels(fromWebp.pixels, RgbImage(kImages + "rgb24x16.ppm"), "extended WebP");
}

TEST(ExifOrientation, CutAndWrongBlocksGiveAProblemNeverAValue) {
    // The whole block, in either byte order and with the "Exif\0\0" prefix or without.
    for (bool big : {false, true}) {
        for (bool prefix : {false, true}) {
            const std::vector<std::uint8_t> block = ti::exifBlock(5, big, prefix);
            const ExifOrientation whole = readExifOrientation(block.data(), block.size());
            EXPECT_EQ(whole.orientation, std::optional<std::uint16_t>(5));
            EXPECT_TRUE(whole.problem.empty()) << whole.problem;
            // Every cut before the end of the Orientation entry is a problem, not a value.
            const std::size_t entryEnd = block.size() - 4;
            for (std::size_t size = 0; size < entryEnd; ++size) {
                const ExifOrientation cut = readExifOrientation(block.data(), size);
                EXPECT_FALSE(cut.orientation) << size;
                EXPECT_FALSE(cut.problem.empty()) << size;
            }
        }
    }
    // An orientation outside 1..8, and an Orientation tag of the wrong type.
    std::vector<std::uint8_t> nine = ti::exifBlock(9);
    EXPECT_NE(readExifOrientation(nine.data(), nine.size()).problem.find("not one of 1 to 8"),
              std::string::npos);
    std::vector<std::uint8_t> wrongType = ti::exifBlock(6);
    wrongType[12] = 4;  // LONG
    EXPECT_FALSE(readExifOrientation(wrongType.data(), wrongType.size()).orientation);
    // An entry count that runs far past the block.
    std::vector<std::uint8_t> tooMany = ti::exifBlock(6);
    tooMany[8] = 0xff;
    tooMany[9] = 0xff;
    EXPECT_NE(readExifOrientation(tooMany.data(), tooMany.size()).problem.find("runs past"),
              std::string::npos);
    // Random bytes after a valid header: a value only ever in 1..8 (seeded, raw output).
    std::mt19937 random(22);
    for (int trial = 0; trial < 2000; ++trial) {
        std::vector<std::uint8_t> block = ti::exifBlock(6);
        for (std::size_t i = 4; i < block.size(); ++i) block[i] = std::uint8_t(random() >> 24);
        const ExifOrientation read = readExifOrientation(block.data(), block.size());
        if (read.orientation) {
            EXPECT_GE(*read.orientation, 1);
            EXPECT_LE(*read.orientation, 8);
        }
    }
}

TEST_F(OrientationFiles, MalformedPngMetadataIsIgnoredWithAProblem) {
    const RgbImage image = numbered();
    // A P3 profile whose every tag's data is of an unknown type: libpng keeps the chunk (its
    // header and tag table are sound), Little CMS cannot use it, and the pixels are read as
    // stored either way.
    std::vector<std::uint8_t> broken = ti::displayP3Profile();
    const auto u32 = [&](std::size_t at) {
        return std::size_t{broken[at]} << 24 | std::size_t{broken[at + 1]} << 16 |
               std::size_t{broken[at + 2]} << 8 | broken[at + 3];
    };
    constexpr std::size_t kTagCountAt = 128, kTagEntry = 12;
    for (std::size_t t = 0; t < u32(kTagCountAt); ++t) {
        const std::size_t data = u32(kTagCountAt + 4 + t * kTagEntry + 4);
        for (std::size_t i = 0; i < 4; ++i) broken[data + i] = 'z';
    }
    ti::PngDeclarations declarations;
    declarations.icc = broken;
    declarations.exif = {'I', 'I', 42, 0, 0xff, 0xff, 0, 0};  // IFD0 past the end
    ti::writePng(path("broken.png"), image, declarations);
    for (ColourHandling colour : {ColourHandling::AsStored, ColourHandling::ToSrgb}) {
        const LoadedImage loaded = loadImage(path("broken.png"), kMaxImagePixels, {colour});
        expectSamePixels(loaded.image, image, "broken metadata");
        EXPECT_FALSE(loaded.converted);
        EXPECT_EQ(loaded.orientation, 1);
        EXPECT_EQ(loaded.colour.kind, ColourKind::Unusable);
        bool exifNoted = false, profileNoted = false;
        for (const LoadNotice& notice : loaded.notices) {
            exifNoted = exifNoted || notice.text.find("EXIF data") != std::string::npos;
            profileNoted = profileNoted || notice.text.find("cannot be") != std::string::npos;
        }
        EXPECT_TRUE(exifNoted);
        EXPECT_TRUE(profileNoted);
    }
}

}  // namespace
}  // namespace lumetra
