#include <gtest/gtest.h>
#include <stb/stb_image_write.h>
#include <stdlib.h>  // mkdtemp

#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "image/Error.h"
#include "image/ImageHeader.h"
#include "image/RgbImage.h"

namespace lumetra {
namespace {

namespace fs = std::filesystem;

const std::string kImages = std::string(LUMETRA_TEST_DATA_DIR) + "/images/";
const std::string kGolden = std::string(LUMETRA_TEST_DATA_DIR) + "/golden/";

Array<unsigned> plane(std::uint32_t rows, std::uint32_t cols, std::vector<unsigned> values) {
    Array<unsigned> a(rows, cols);
    std::copy(values.begin(), values.end(), a.data());
    return a;
}

// A fresh directory per test for the files it writes; removed afterwards.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "lumetra-rgbimage-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        _dir = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(_dir, ignored);
    }
    std::string path(const std::string& name) const { return (_dir / name).string(); }
    std::string write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
        return path(name);
    }
    std::string read(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

  private:
    fs::path _dir;
};

// The message an unreadable file must produce: the file and the reason.
void expectReadError(const std::string& path, const std::string& reason) {
    try {
        const RgbImage image(path);
        ADD_FAILURE() << "read " << path << " without error";
    } catch (const ImageReadError& e) {
        const std::string prefix = "cannot read image \"" + path + "\": ";
        EXPECT_EQ(std::string(e.what()).rfind(prefix, 0), 0u) << e.what();
        EXPECT_NE(std::string(e.what()).find(reason), std::string::npos)
            << "message: " << e.what() << "\nexpected reason: " << reason;
    }
}

TEST(RgbImage, DefaultIsEmptyWithMaxval255) {
    const RgbImage image;
    EXPECT_EQ(image.rows(), 0u);
    EXPECT_EQ(image.cols(), 0u);
    EXPECT_EQ(image.maxval(), 255u);
    EXPECT_EQ(image.R().size(), 0u);
    std::ostringstream dump;
    dump << image;
    EXPECT_EQ(dump.str(), "R\n\nG\n\nB\n\n");
}

TEST(RgbImage, ReadsThreeByTwoPixmapRowByRow) {
    const RgbImage image(kImages + "rgb3x2.ppm");
    EXPECT_EQ(image.rows(), 2u);
    EXPECT_EQ(image.cols(), 3u);
    EXPECT_EQ(image.maxval(), 255u);
    EXPECT_EQ(image.R(), plane(2, 3, {10, 40, 70, 100, 130, 255}));
    EXPECT_EQ(image.G(), plane(2, 3, {20, 50, 80, 110, 140, 0}));
    EXPECT_EQ(image.B(), plane(2, 3, {30, 60, 90, 120, 150, 17}));
    // The pixel (255, 0, 17) in row 1, column 2.
    EXPECT_EQ(image.R()(1, 2), 255u);
    EXPECT_EQ(image.G()(1, 2), 0u);
    EXPECT_EQ(image.B()(1, 2), 17u);
}

TEST(RgbImage, PlainAndRawPixmapsGiveTheSamePlanes) {
    for (const auto& [plain, raw] :
         {std::pair{kImages + "rgb3x2_plain.ppm", kImages + "rgb3x2.ppm"},
          std::pair{kGolden + "scene64_plain.ppm", kGolden + "scene64.ppm"}}) {
        const RgbImage a(plain), b(raw);
        EXPECT_EQ(a.R(), b.R()) << plain;
        EXPECT_EQ(a.G(), b.G()) << plain;
        EXPECT_EQ(a.B(), b.B()) << plain;
        EXPECT_EQ(a.maxval(), b.maxval()) << plain;
    }
}

TEST(RgbImage, KeepsSixteenBitSamplesUnscaled) {
    // The same samples as a 16-bit pixmap and as a 16-bit PNG.
    for (const std::string name : {"rgb3x2_16bit.ppm", "rgb3x2_16bit.png"}) {
        const RgbImage image(kImages + name);
        EXPECT_EQ(image.maxval(), 65535u) << name;
        EXPECT_EQ(image.R(), plane(2, 3, {0, 257, 300, 65534, 12345, 65535})) << name;
        EXPECT_EQ(image.G(), plane(2, 3, {1, 4096, 1000, 2, 54321, 0})) << name;
        EXPECT_EQ(image.B(), plane(2, 3, {256, 65535, 40000, 3, 7, 17})) << name;
    }
    // The golden 16-bit scene is the 8-bit one with every sample times 257.
    const RgbImage eight(kGolden + "scene64.ppm"), sixteen(kGolden + "scene64_16bit.ppm");
    EXPECT_EQ(sixteen.maxval(), 65535u);
    ASSERT_EQ(sixteen.R().size(), eight.R().size());
    for (std::size_t i = 0; i < eight.R().size(); ++i) {
        ASSERT_EQ(sixteen.R().data()[i], 257 * eight.R().data()[i]) << i;
        ASSERT_EQ(sixteen.B().data()[i], 257 * eight.B().data()[i]) << i;
    }
}

TEST(RgbImage, GreymapsAndBitmapsBecomeGreyPixels) {
    const RgbImage grey(kImages + "grey3x2.pgm");
    const Array<unsigned> levels = plane(2, 3, {0, 64, 128, 192, 255, 7});
    EXPECT_EQ(grey.R(), levels);
    EXPECT_EQ(grey.G(), levels);
    EXPECT_EQ(grey.B(), levels);

    // A set bit is black; libnetpbm hands a bitmap over as maxval 255, white a clear bit.
    const RgbImage bits(kImages + "bits3x2.pbm");
    EXPECT_EQ(bits.maxval(), 255u);
    EXPECT_EQ(bits.R(), plane(2, 3, {0, 255, 0, 255, 0, 255}));
    EXPECT_EQ(bits.B(), bits.R());
}

TEST(RgbImage, ReadsPam) {
    const RgbImage image(kImages + "rgb2x1.pam");
    EXPECT_EQ(image.R(), plane(1, 2, {1, 250}));
    EXPECT_EQ(image.G(), plane(1, 2, {2, 251}));
    EXPECT_EQ(image.B(), plane(1, 2, {3, 252}));
}

// 3 x 2 pixels of `channels` interleaved 8-bit samples, distinct in every channel.
std::vector<unsigned char> samples(int channels) {
    std::vector<unsigned char> data(static_cast<std::size_t>(3 * 2 * channels));
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(7 + 37 * i);
    return data;
}

TEST(RgbImage, DecodesPngAndBmpExactly) {
    const TempDir dir;
    for (const int channels : {1, 2, 3, 4}) {  // grey, grey+alpha, RGB, RGBA
        const std::vector<unsigned char> data = samples(channels);
        const std::string png = dir.path("c" + std::to_string(channels) + ".png");
        const std::string bmp = dir.path("c" + std::to_string(channels) + ".bmp");
        ASSERT_TRUE(stbi_write_png(png.c_str(), 3, 2, channels, data.data(), 3 * channels));
        ASSERT_TRUE(stbi_write_bmp(bmp.c_str(), 3, 2, channels, data.data()));
        for (const std::string& file : {png, bmp}) {
            const RgbImage image(file);
            ASSERT_EQ(image.rows(), 2u);
            ASSERT_EQ(image.cols(), 3u);
            EXPECT_EQ(image.maxval(), 255u);
            const bool grey = channels <= 2;
            for (std::uint32_t r = 0; r < 2; ++r) {
                for (std::uint32_t c = 0; c < 3; ++c) {
                    const unsigned char* p = &data[(r * 3 + c) * channels];
                    EXPECT_EQ(image.R()(r, c), p[0]) << file << " at " << r << "," << c;
                    EXPECT_EQ(image.G()(r, c), grey ? p[0] : p[1]) << file;
                    EXPECT_EQ(image.B()(r, c), grey ? p[0] : p[2]) << file;
                }
            }
        }
    }
}

TEST(RgbImage, DecodesJpegCloseToItsSource) {
    // A flat 8 x 8 colour at quality 100: no chroma subsampling and a quantiser step of 1, so
    // only the colour conversion's rounding is left; 2 levels cover it.
    constexpr int kJpegTolerance = 2;
    constexpr int kSide = 8;
    const unsigned char colour[3] = {200, 40, 90};
    std::vector<unsigned char> data;
    for (int i = 0; i < kSide * kSide; ++i) data.insert(data.end(), colour, colour + 3);
    const TempDir dir;
    const std::string jpg = dir.path("flat.jpg");
    ASSERT_TRUE(stbi_write_jpg(jpg.c_str(), kSide, kSide, 3, data.data(), 100));
    const RgbImage image(jpg);
    EXPECT_EQ(image.maxval(), 255u);
    ASSERT_EQ(image.rows(), 8u);
    for (std::uint32_t r = 0; r < 8; ++r) {
        for (std::uint32_t c = 0; c < 8; ++c) {
            EXPECT_NEAR(image.R()(r, c), colour[0], kJpegTolerance);
            EXPECT_NEAR(image.G()(r, c), colour[1], kJpegTolerance);
            EXPECT_NEAR(image.B()(r, c), colour[2], kJpegTolerance);
        }
    }
}

TEST(RgbImage, TellsTheFormatFromTheContentNotTheName) {
    const TempDir dir;
    const std::vector<unsigned char> data = samples(3);
    const std::string png = dir.path("really-a-png.ppm");
    ASSERT_TRUE(stbi_write_png(png.c_str(), 3, 2, 3, data.data(), 9));
    EXPECT_EQ(RgbImage(png).R()(1, 2), data[15]);

    fs::copy_file(kImages + "rgb3x2.ppm", dir.path("really-a-pixmap.png"));
    EXPECT_EQ(RgbImage(dir.path("really-a-pixmap.png")).B()(1, 2), 17u);
}

// Where a bad file is caught: already by its header (so readImageHeader refuses it too), or
// only when the pixels are decoded.
enum class CaughtBy { Header, Decoding };

struct BadFile {
    const char* name;
    std::string bytes;
    const char* reason;
    CaughtBy caughtBy = CaughtBy::Header;
};

std::ostream& operator<<(std::ostream& out, const BadFile& bad) {
    return out << bad.name;
}

class RgbImageBadFile : public testing::TestWithParam<BadFile> {};

TEST_P(RgbImageBadFile, ThrowsNamingTheFileAndReason) {
    const TempDir dir;
    const std::string path = dir.write(GetParam().name, GetParam().bytes);
    expectReadError(path, GetParam().reason);
    if (GetParam().caughtBy == CaughtBy::Header) {
        EXPECT_THROW(readImageHeader(path), ImageReadError);
    } else {
        EXPECT_NO_THROW(readImageHeader(path));
    }
}

const std::string kRgbHeader = "P6\n3 2\n255\n";

INSTANTIATE_TEST_SUITE_P(
    Netpbm, RgbImageBadFile,
    testing::Values(
        BadFile{"empty", "", "file is empty"},
        BadFile{"unsupported", "GIF89a", "unsupported format"},
        BadFile{"header_cut_in_width", "P6\n3", "file ends inside the header"},
        BadFile{"header_cut_after_maxval", "P6\n3 2\n255", "file ends inside the header"},
        BadFile{"height_not_a_number", "P6\n3 x\n255\n", "malformed header"},
        BadFile{"width_out_of_range", "P6\n99999999999 2\n255\n", "out of range"},
        BadFile{"maxval_zero", "P6\n3 2\n0\n", "maximum sample value is 0"},
        BadFile{"maxval_too_large", "P6\n3 2\n70000\n", "above 65535"},
        BadFile{"width_zero", "P6\n0 2\n255\n", "width or height is 0"},
        BadFile{"height_zero_plain", "P3\n3 0\n255\n", "width or height is 0"},
        BadFile{"width_zero_tall", "P5\n0 200000017\n255\n", "width or height is 0"},
        BadFile{"pam_width_zero", "P7\nWIDTH 0\nHEIGHT 200000017\nDEPTH 3\nMAXVAL 255\nENDHDR\n",
                "width or height is 0"},
        BadFile{"above_2_to_28_pixels", "P6\n16385 16384\n255\n", "image too large"},
        BadFile{"pixel_count_overflows_32_bits", "P6\n2147483647 2147483647\n255\n",
                "image too large"},
        BadFile{"raw_cut_in_pixels", kRgbHeader + std::string(10, 'x'),
                "file ends inside the pixel data"},
        BadFile{"raw_without_pixels", kRgbHeader, "file ends inside the pixel data"},
        BadFile{"raw16_cut_in_pixels", "P6\n3 2\n65535\n" + std::string(35, 'x'),
                "file ends inside the pixel data"},
        BadFile{"bitmap_cut_in_pixels", "P4\n9 2\n\xff\xff\xff", "file ends inside the pixel data"},
        BadFile{"plain_cut_in_pixels", "P3\n3 2\n255\n1 2 3 4 5",
                "file ends inside the pixel data"},
        // 2^28 samples declared in 17 bytes: a plain sample takes at least one byte, so this
        // is refused before 2^28 samples are allocated.
        BadFile{"plain_2_to_28_samples_in_17_bytes", "P2 16384 16384 1\n",
                "file ends inside the pixel data"},
        BadFile{"plain_2_to_28_rows_of_one_sample", "P2 1 268435456 1\n0",
                "file ends inside the pixel data"},
        BadFile{"plain_bitmap_one_digit_short", "P1\n3 2\n10101",
                "file ends inside the pixel data"},
        // Enough bytes, but the samples run out (libnetpbm finds this in the last row).
        BadFile{"plain_samples_run_out", "P3\n2 1\n255\n1 2 3 4 5      ",
                "file ends inside the pixel data", CaughtBy::Decoding},
        BadFile{"plain_sample_above_maxval", "P3\n1 1\n255\n300 0 0\n", "exceeds the image maxval",
                CaughtBy::Decoding},
        BadFile{"plain_letter_among_samples", "P3\n2 2\n255\n1 2 3 4 5 6 x 8 9 10 11 12\n",
                "junk in file", CaughtBy::Decoding},
        BadFile{"pam_without_endhdr", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\n",
                "file ends inside the header"},
        BadFile{"pam_without_height", "P7\nWIDTH 1\nDEPTH 3\nMAXVAL 255\nENDHDR\nabc",
                "no HEIGHT line"},
        // A PAM header value belongs on its keyword's line, as libnetpbm reads it.
        BadFile{"pam_value_on_next_line",
                "P7\nWIDTH\n1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nENDHDR\nabc",
                "no value on the WIDTH line"},
        BadFile{"pam_depth_5", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 5\nMAXVAL 255\nENDHDR\nabcde",
                "unsupported PAM depth 5"},
        BadFile{"pam_cut_in_pixels", "P7\nWIDTH 2\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nENDHDR\nabcdefg",
                "file ends inside the pixel data"},
        // Four samples of ink were once read as RGB with alpha.
        BadFile{"pam_cmyk",
                "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE CMYK\nENDHDR\nabcd",
                "unsupported PAM tuple type \"CMYK\" (the model reads RGB, RGB_ALPHA"},
        BadFile{"pam_ycbcr",
                "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE  YCbCr \nENDHDR\nabc",
                "unsupported PAM tuple type \"YCbCr\""}),
    [](const testing::TestParamInfo<BadFile>& info) { return info.param.name; });

TEST(RgbImage, ThrowsForMissingFilesAndDirectories) {
    const TempDir dir;
    expectReadError(dir.path("missing.ppm"), "no such file");
    fs::create_directory(dir.path("folder.ppm"));
    expectReadError(dir.path("folder.ppm"), "is a directory");
}

// The CRC-32 of PNG chunks (ISO 3309, reflected polynomial 0xedb88320), bit by bit.
std::uint32_t pngCrc(const std::string& bytes) {
    std::uint32_t crc = 0xffffffffu;
    for (const char byte : bytes) {
        crc ^= static_cast<unsigned char>(byte);
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xffffffffu;
}

// A 16 x 16 RGB image with distinct samples, written as PNG, JPEG and BMP into dir.
void writeSixteenSquare(const TempDir& dir) {
    constexpr int kSide = 16;
    std::vector<unsigned char> data(kSide * kSide * 3);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 11);
    ASSERT_TRUE(stbi_write_png(dir.path("cut.png").c_str(), kSide, kSide, 3, data.data(), 48));
    ASSERT_TRUE(stbi_write_jpg(dir.path("cut.jpg").c_str(), kSide, kSide, 3, data.data(), 90));
    ASSERT_TRUE(stbi_write_bmp(dir.path("cut.bmp").c_str(), kSide, kSide, 3, data.data()));
}

// Halfway between the first byte of pixel data (after the JPEG start-of-scan marker, the PNG
// IDAT chunk type, the BMP headers) and the end of the file.
std::size_t middleOfThePixels(const std::string& bytes) {
    std::size_t start = bytes.find("\xff\xda");
    if (start == std::string::npos) start = bytes.find("IDAT");
    if (start == std::string::npos) start = 54;  // 14-byte file header, 40-byte info header
    return (start + bytes.size()) / 2;
}

TEST(RgbImage, ThrowsForCutPngJpegAndBmp) {
    const TempDir dir;
    writeSixteenSquare(dir);
    // 20 bytes stop inside every format's header; dropping the last 3 bytes cuts the PNG in
    // its end chunk, the JPEG in its end marker and the BMP in its last row.
    for (const std::string name : {"cut.png", "cut.jpg", "cut.bmp"}) {
        const std::string whole = dir.read(name);
        expectReadError(dir.write("head-" + name, whole.substr(0, 20)),
                        "file ends inside the header");
        expectReadError(dir.write("tail-" + name, whole.substr(0, whole.size() - 3)),
                        "file ends inside the pixel data");
        expectReadError(dir.write("half-" + name, whole.substr(0, middleOfThePixels(whole))),
                        "file ends inside the pixel data");
    }
}

TEST(RgbImage, RefusesPngWithWrongChecksumOrTooManyPixels) {
    const TempDir dir;
    writeSixteenSquare(dir);
    const std::string png = dir.read("cut.png");

    // Width and height in the header chunk (bytes 16 to 23, big-endian) set to 16385 x 16384,
    // 2^28 + 16384 pixels, with the chunk's checksum (bytes 29 to 32) made to match.
    const auto withSize = [&png](const std::string& bigEndianSize) {
        std::string resized = png;
        resized.replace(16, 8, bigEndianSize);
        const std::uint32_t crc = pngCrc(resized.substr(12, 17));  // chunk type and data
        for (int i = 0; i < 4; ++i) resized[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
        return resized;
    };
    expectReadError(
        dir.write("huge.png", withSize(std::string("\x00\x00\x40\x01\x00\x00\x40\x00", 8))),
        "image too large");
    EXPECT_THROW(readImageHeader(dir.path("huge.png")), ImageReadError);

    // 16384 x 16384, within the pixel limit, but more rows than this small file could inflate
    // to at deflate's best ratio: refused from the header, before gigabytes are allocated
    // (a 150-byte file once cost 1.8 GB and 9 s; found while fuzzing).
    expectReadError(
        dir.write("bomb.png", withSize(std::string("\x00\x00\x40\x00\x00\x00\x40\x00", 8))),
        "file ends inside the pixel data");
    EXPECT_THROW(readImageHeader(dir.path("bomb.png")), ImageReadError);

    // The same change without the checksum is a damaged header.
    std::string unsummed = png;
    unsummed[23] = 17;
    expectReadError(dir.write("unsummed.png", unsummed), "CRC error");
}

// Little-endian BMP headers for hand-made files: the 14-byte file header and a 40-byte info
// header, with the raster right after them.
std::string bmpHeaders(std::int32_t width, std::int32_t height, std::uint16_t bitsPerPixel,
                       std::uint32_t compression, std::uint32_t fileSize,
                       std::uint32_t paletteBytes = 0) {
    const auto le = [](std::uint64_t value, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
        return out;
    };
    return "BM" + le(fileSize, 4) + le(0, 4) + le(54 + paletteBytes, 4) + le(40, 4) +
           le(static_cast<std::uint32_t>(width), 4) + le(static_cast<std::uint32_t>(height), 4) +
           le(1, 2) + le(bitsPerPixel, 2) + le(compression, 4) + std::string(20, '\0');
}

// A BMP raster with the given header and enough bytes for 2 x 2 pixels at 24 bits (16 bytes).
std::string bmpFile(std::int32_t width, std::int32_t height, std::uint16_t bits,
                    std::uint32_t compression) {
    constexpr std::uint32_t kRaster = 16;
    return bmpHeaders(width, height, bits, compression, 54 + kRaster) + std::string(kRaster, 'x');
}

INSTANTIATE_TEST_SUITE_P(
    Bmp, RgbImageBadFile,
    testing::Values(
        // RLE rasters have no fixed length and are not decoded.
        BadFile{"rle8", bmpFile(2, 2, 8, 1), "unsupported BMP compression 1"},
        // A code of 2^31 or more once passed for uncompressed and was decoded from nothing.
        BadFile{"compression_2_to_31", bmpFile(2, 2, 24, 0x80000000u),
                "unsupported BMP compression 2147483648"},
        BadFile{"bitfields_at_24_bits", bmpFile(2, 2, 24, 3), "bit fields need 16 or 32"},
        BadFile{"bit_depth_7", bmpFile(2, 2, 7, 0), "unsupported BMP bit depth 7"},
        BadFile{"negative_width", bmpFile(-2, 2, 24, 0), "negative width"},
        BadFile{"width_zero", bmpFile(0, 200000017, 24, 0), "width or height is 0"},
        BadFile{"height_zero", bmpFile(2, 0, 24, 0), "width or height is 0"},
        BadFile{"top_down_one_row_short", bmpFile(2, -3, 24, 0), "file ends inside the pixel data"},
        // 16384 x 16384 at 32 bits per pixel declared in 70 bytes.
        BadFile{"raster_far_beyond_the_file", bmpFile(16384, 16384, 32, 0),
                "file ends inside the pixel data"},
        BadFile{"more_than_2_to_28_pixels", bmpFile(65536, 65536, 32, 0), "image too large"}),
    [](const testing::TestParamInfo<BadFile>& info) { return info.param.name; });

// A 4 x 1 BMP at `bits` per pixel with a palette of two colours (red, green) and one row
// holding `row` (4 bytes, already padded).
std::string paletteBmp(std::uint16_t bits, const std::string& row) {
    const std::string palette("\0\0\xff\0\0\xff\0\0", 8);
    return bmpHeaders(4, 1, bits, 0, 54 + 8 + 4, 8) + palette + row;
}

// stb_image looked indices past the file's palette up in its own uninitialised stack: three
// reads gave three pictures.  Such files are refused before decoding, at every palette depth;
// indices inside the palette decode to its colours.
TEST(RgbImage, RefusesBmpIndicesPastThePalette) {
    const TempDir dir;
    expectReadError(dir.write("i8.bmp", paletteBmp(8, std::string("\0\1\xc8\1", 4))),
                    "BMP pixel index 200 past the palette of 2 colours");
    expectReadError(dir.write("i4.bmp", paletteBmp(4, std::string("\x01\x20\0\0", 4))),
                    "BMP pixel index 2 past the palette of 2 colours");
    const RgbImage fourBits(dir.write("ok4.bmp", paletteBmp(4, std::string("\x01\x10\0\0", 4))));
    EXPECT_EQ(fourBits.R(), plane(1, 4, {255, 0, 0, 255}));
    EXPECT_EQ(fourBits.G(), plane(1, 4, {0, 255, 255, 0}));
    const RgbImage oneBit(dir.write("ok1.bmp", paletteBmp(1, std::string("\xa0\0\0\0", 4))));
    EXPECT_EQ(oneBit.G(), plane(1, 4, {255, 0, 255, 0}));
    // A palette image with no room for a palette between its headers and its raster.
    expectReadError(dir.write("nopal.bmp", bmpFile(2, 2, 8, 0)), "the palette holds 0 colours");
    // The fuzz regression input: indices 200 and 255 under a palette of 2.
    expectReadError(std::string(LUMETRA_FUZZ_DIR) + "/regressions/bmp/bmp_index_past_palette.bmp",
                    "past the palette of 2 colours");
}

TEST(RgbImage, ReadsTopDownBmp) {
    // 2 x 2 at 24 bits, rows padded to 8 bytes; a negative height puts the first row on top.
    const std::string raster = std::string("\x01\x02\x03\x04\x05\x06\0\0", 8) +
                               std::string("\x07\x08\x09\x0a\x0b\x0c\0\0", 8);
    const TempDir dir;
    const RgbImage image(dir.write("top.bmp", bmpHeaders(2, -2, 24, 0, 70) + raster));
    // BMP stores blue, green, red.
    EXPECT_EQ(image.R(), plane(2, 2, {3, 6, 9, 12}));
    EXPECT_EQ(image.G(), plane(2, 2, {2, 5, 8, 11}));
    EXPECT_EQ(image.B(), plane(2, 2, {1, 4, 7, 10}));
}

// Damaged files kept as regression inputs (see tests/data/images/README.md).
struct DamagedFile {
    const char* name;
    const char* reason;
    CaughtBy caughtBy;
};

class RgbImageDamagedFile : public testing::TestWithParam<DamagedFile> {};

TEST_P(RgbImageDamagedFile, ThrowsNamingTheReason) {
    const std::string path = kImages + GetParam().name;
    expectReadError(path, GetParam().reason);
    if (GetParam().caughtBy == CaughtBy::Header) {
        EXPECT_THROW(readImageHeader(path), ImageReadError);
    } else {
        EXPECT_NO_THROW(readImageHeader(path));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Regression, RgbImageDamagedFile,
    testing::Values(
        DamagedFile{"jpeg_bad_huffman16.jpg", "malformed JPEG header", CaughtBy::Header},
        DamagedFile{"bmp_compression_2to31.bmp", "unsupported BMP compression", CaughtBy::Header},
        // libjpeg converts neither to RGB; its own message spoke of a conversion request.
        DamagedFile{"cmyk8x8.jpg", "the JPEG file is CMYK; the model needs RGB", CaughtBy::Header},
        DamagedFile{"ycck8x8.jpg", "the JPEG file is YCCK; the model needs RGB", CaughtBy::Header},
        // The header is complete and sane; the scan holds no data at all, far fewer bits than
        // 16384 x 16384 pixels need.
        DamagedFile{"jpeg_16384_empty_scan.jpg", "file ends inside the pixel data",
                    CaughtBy::Header},
        // Its first 16 rows decode; the other 16368 would have cost 2.3 GB before the data
        // ran out (found while fuzzing).
        DamagedFile{"jpeg_16384_tall_strip.jpg", "file ends inside the pixel data",
                    CaughtBy::Header}),
    [](const testing::TestParamInfo<DamagedFile>& info) {
        std::string name = info.param.name;
        for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

TEST(RgbImage, ReadsPamWithAlphaDroppingIt) {
    const RgbImage rgba(kImages + "rgba2x1.pam");
    EXPECT_EQ(rgba.maxval(), 255u);
    EXPECT_EQ(rgba.R(), plane(1, 2, {1, 250}));
    EXPECT_EQ(rgba.G(), plane(1, 2, {2, 251}));
    EXPECT_EQ(rgba.B(), plane(1, 2, {3, 252}));

    const RgbImage greyAlpha(kImages + "greya2x1.pam");
    EXPECT_EQ(greyAlpha.R(), plane(1, 2, {9, 200}));
    EXPECT_EQ(greyAlpha.G(), greyAlpha.R());
    EXPECT_EQ(greyAlpha.B(), greyAlpha.R());
}

TEST(RgbImage, KeepsSixteenBitGreyPngSamplesWithoutAlpha) {
    const RgbImage image(kImages + "greya3x2_16bit.png");
    EXPECT_EQ(image.maxval(), 65535u);
    const Array<unsigned> levels = plane(2, 3, {0, 1, 256, 4097, 65534, 65535});
    EXPECT_EQ(image.R(), levels);
    EXPECT_EQ(image.G(), levels);
    EXPECT_EQ(image.B(), levels);
}

// Every readable test image: the header alone gives the size and maxval that decoding gives.
class RgbImageHeader : public testing::TestWithParam<std::string> {};

TEST_P(RgbImageHeader, MatchesTheDecodedImage) {
    const TempDir dir;
    writeSixteenSquare(dir);
    const std::string path =
        GetParam().find('/') == std::string::npos ? dir.path(GetParam()) : GetParam();
    const ImageHeader header = readImageHeader(path);
    const RgbImage image(path);
    EXPECT_EQ(header.rows, image.rows());
    EXPECT_EQ(header.cols, image.cols());
    EXPECT_EQ(header.maxval, image.maxval());
}

INSTANTIATE_TEST_SUITE_P(
    AllFormats, RgbImageHeader,
    testing::Values(kImages + "rgb3x2.ppm", kImages + "rgb3x2_plain.ppm",
                    kImages + "rgb3x2_16bit.ppm", kImages + "rgb3x2_16bit.png",
                    kImages + "grey3x2.pgm", kImages + "bits3x2.pbm", kImages + "rgb2x1.pam",
                    kImages + "rgba2x1.pam", kImages + "greya3x2_16bit.png",
                    kGolden + "scene97x64.ppm", kImages + "rgb24x16_lossless.webp",
                    kImages + "rgba24x16_lossy.webp", kImages + "rgb24x16_tiled.tif",
                    kImages + "rgb3x2_16bit.tif", kImages + "rgb24x16_lossless.avif",
                    kImages + "rgb24x16_10bit_422.avif", kImages + "animated24x16.avif",
                    kImages + "rgb24x16_lossy.jxl", kImages + "rgb3x2_16bit_lossless.jxl",
                    kImages + "rgb24x16_from_jpeg.jxl", kImages + "animated24x16.webp", "cut.png",
                    "cut.jpg", "cut.bmp"));

// A caller's pixel limit (a service taking untrusted files): one pixel short of the image is
// refused by the header and by the full read alike, with the limit in the message; the
// image's own pixel count is accepted.
TEST_P(RgbImageHeader, CallersPixelLimitRefusesFromTheHeader) {
    const TempDir dir;
    writeSixteenSquare(dir);
    const std::string path =
        GetParam().find('/') == std::string::npos ? dir.path(GetParam()) : GetParam();
    const ImageHeader size = readImageHeader(path);
    const std::uint64_t pixels = std::uint64_t{size.rows} * size.cols;
    const std::string tooLarge = "image too large: " + std::to_string(size.cols) + " x " +
                                 std::to_string(size.rows) + " pixels, at most " +
                                 std::to_string(pixels - 1) + " allowed";
    const auto expectRefused = [&](auto&& read) {
        try {
            read();
            ADD_FAILURE() << path << " read under a limit of " << pixels - 1 << " pixels";
        } catch (const ImageReadError& e) {
            EXPECT_EQ(std::string(e.what()), "cannot read image \"" + path + "\": " + tooLarge);
        }
    };
    expectRefused([&] { return readImageHeader(path, pixels - 1); });
    expectRefused([&] { return RgbImage(path, pixels - 1); });
    EXPECT_EQ(readImageHeader(path, pixels).rows, size.rows);
    EXPECT_EQ(RgbImage(path, pixels).cols(), size.cols);
}

TEST(RgbImage, PixelLimitMustBeFromOneToTheLargest) {
    EXPECT_EQ(maxPixelsProblem(0), "must be a whole number from 1 to 268435456 (got 0)");
    EXPECT_EQ(maxPixelsProblem(RgbImage::kMaxPixels + 1),
              "must be a whole number from 1 to 268435456 (got 268435457)");
    EXPECT_EQ(maxPixelsProblem(1), "");
    EXPECT_EQ(maxPixelsProblem(RgbImage::kMaxPixels), "");
}

TEST(RgbImage, HeaderIsReadWithoutTouchingThePixels) {
    const TempDir dir;
    writeSixteenSquare(dir);
    // The second half of each file's pixel data overwritten: garbage, the header intact.
    for (const std::string name : {"cut.png", "cut.jpg", "cut.bmp"}) {
        std::string bytes = dir.read(name);
        const std::size_t half = middleOfThePixels(bytes);
        bytes.replace(half, bytes.size() - half, bytes.size() - half, '\xff');
        const std::string path = dir.write("garbage-" + name, bytes);
        const ImageHeader header = readImageHeader(path);
        EXPECT_EQ(header.rows, 16u) << name;
        EXPECT_EQ(header.cols, 16u) << name;
        EXPECT_EQ(header.maxval, 255u) << name;
    }
    // A raw pixmap's header is 11 bytes; a header-only read of a large declared image needs
    // only the file's length, not its pixels.
    const std::string large = "P6\n4096 2048\n255\n";
    const std::string path = dir.write("large.ppm", large);
    fs::resize_file(path, large.size() + std::uint64_t{4096} * 2048 * 3);
    const ImageHeader header = readImageHeader(path);
    EXPECT_EQ(header.rows, 2048u);
    EXPECT_EQ(header.cols, 4096u);
}

TEST(RgbImage, ReportsNetpbmErrorsOnlyThroughTheException) {
    const TempDir dir;
    const std::string bad = dir.write("bad.ppm", "P3\n1 1\n255\n300 0 0\n");
    testing::internal::CaptureStderr();
    EXPECT_THROW(RgbImage{bad}, ImageReadError);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(RgbImage, ReadsFromSeveralThreadsAtOnce) {
    constexpr int kThreads = 4;
    constexpr int kReadsPerThread = 25;
    const TempDir dir;
    const std::string bad = dir.write("bad.ppm", "P3\n3 2\n255\n1 2 3 4 5");
    const RgbImage expected(kImages + "rgb3x2.ppm");
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kReadsPerThread; ++i) {
                if (!(RgbImage(kImages + "rgb3x2_plain.ppm").R() == expected.R())) ++wrong;
                try {
                    const RgbImage image(bad);
                    ++wrong;
                } catch (const ImageReadError& e) {
                    if (std::string(e.what()).find("pixel data") == std::string::npos) ++wrong;
                }
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(RgbImage, BuildsFromPlanesAndChecksThem) {
    const RgbImage image(plane(1, 2, {1, 2}), plane(1, 2, {3, 4}), plane(1, 2, {5, 1023}), 1023);
    EXPECT_EQ(image.rows(), 1u);
    EXPECT_EQ(image.cols(), 2u);
    EXPECT_EQ(image.maxval(), 1023u);
    EXPECT_EQ(image.B()(0, 1), 1023u);
    EXPECT_EQ(RgbImage(plane(1, 1, {0}), plane(1, 1, {0}), plane(1, 1, {0})).maxval(), 255u);

    EXPECT_THROW(RgbImage(plane(1, 2, {1, 2}), plane(2, 1, {3, 4}), plane(1, 2, {5, 6})),
                 std::invalid_argument);
    EXPECT_THROW(RgbImage(plane(1, 1, {0}), plane(1, 1, {0}), plane(1, 1, {0}), 0),
                 std::invalid_argument);
    EXPECT_THROW(RgbImage(plane(1, 1, {256}), plane(1, 1, {0}), plane(1, 1, {0})),
                 std::invalid_argument);
}

TEST(RgbImage, DumpsEachPlaneUnderItsLabel) {
    const RgbImage image(plane(2, 2, {1, 2, 3, 4}), plane(2, 2, {5, 6, 7, 8}),
                         plane(2, 2, {9, 10, 11, 12}));
    std::ostringstream dump;
    dump << image;
    EXPECT_EQ(dump.str(), "R\n1\t2\t\n3\t4\t\n\nG\n5\t6\t\n7\t8\t\n\nB\n9\t10\t\n11\t12\t\n\n");
}

TEST(RgbImage, MovedFromImageIsEmpty) {
    RgbImage source(kImages + "rgb3x2_16bit.ppm");
    const RgbImage target(std::move(source));
    EXPECT_EQ(target.rows(), 2u);
    EXPECT_EQ(source.rows(), 0u);  // NOLINT(bugprone-use-after-move): documented empty state
    EXPECT_EQ(source.R().size(), 0u);
    EXPECT_EQ(source.maxval(), 255u);
}

}  // namespace
}  // namespace lumetra
