#include <gtest/gtest.h>
#include <stdlib.h>  // mkdtemp

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>

#include "image/Error.h"
#include "image/ErrorMapImage.h"

namespace lumetra {
namespace {

namespace fs = std::filesystem;

using Bytes = std::array<unsigned char, 4>;

struct FloatBytes {
    float value;
    Bytes bytes;  // IEEE-754 single, least significant byte first
};

class LittleEndianBytes : public testing::TestWithParam<FloatBytes> {};

TEST_P(LittleEndianBytes, PutTheLeastSignificantByteFirst) {
    EXPECT_EQ(littleEndianBytes(GetParam().value), GetParam().bytes);
}

// Bit patterns worked out by hand: 1 = 0x3f800000, -2.5 = 0xc0200000, 0.1f = 0x3dcccccd,
// and the smallest subnormal 0x00000001.
INSTANTIATE_TEST_SUITE_P(KnownFloats, LittleEndianBytes,
                         testing::Values(FloatBytes{1.0f, {0x00, 0x00, 0x80, 0x3f}},
                                         FloatBytes{-2.5f, {0x00, 0x00, 0x20, 0xc0}},
                                         FloatBytes{0.1f, {0xcd, 0xcc, 0xcc, 0x3d}},
                                         FloatBytes{1.401298464e-45f, {0x01, 0x00, 0x00, 0x00}}));

class PfmFile : public testing::Test {
  protected:
    PfmFile() {
        std::string pattern = (fs::temp_directory_path() / "lumetra-pfm-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        _dir = pattern;
    }
    ~PfmFile() override {
        std::error_code ignored;
        fs::remove_all(_dir, ignored);
    }
    std::string path(const std::string& name) const { return (_dir / name).string(); }

  private:
    fs::path _dir;
};

TEST_F(PfmFile, WritesBottomRowFirstInLittleEndian) {
    Array<float> map(2, 1);
    map(0, 0) = 1.0f;   // top row
    map(1, 0) = -2.5f;  // bottom row, written first
    writeFloatMapPfm(path("map.pfm"), map);
    std::ifstream in(path("map.pfm"), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(bytes, std::string("Pf\n1 2\n-1.0\n") + std::string("\x00\x00\x20\xc0", 4) +
                         std::string("\x00\x00\x80\x3f", 4));
}

TEST_F(PfmFile, ThrowsWhenTheFileCannotBeWritten) {
    const Array<float> map(2, 2);
    EXPECT_THROW(writeFloatMapPfm(path("no-such-dir/map.pfm"), map), Error);
    // /dev/full takes the open but fails every write, which shows on the flush or the close.
    if (fs::exists("/dev/full")) {
        EXPECT_THROW(writeFloatMapPfm("/dev/full", map), Error);
    }
}

TEST_F(PfmFile, ReadsBackWhatWasWrittenBitForBit) {
    // Odd x even so that a row/column mix-up or a flipped row order shows.
    Array<float> map(3, 2);
    const float values[] = {0.0f,    -2.5f, 1.401298464e-45f,
                            3.4e38f, 0.1f,  std::numeric_limits<float>::quiet_NaN()};
    for (std::size_t i = 0; i < map.size(); ++i) map.data()[i] = values[i];
    writeFloatMapPfm(path("m.pfm"), map);
    const Array<float> back = readFloatMapPfm(path("m.pfm"));
    ASSERT_EQ(back.rows(), 3u);
    ASSERT_EQ(back.cols(), 2u);
    for (std::size_t i = 0; i < map.size(); ++i) {
        EXPECT_EQ(littleEndianBytes(back.data()[i]), littleEndianBytes(map.data()[i])) << i;
    }
}

TEST_F(PfmFile, RefusesAForeignOrShortFile) {
    std::ofstream(path("colour.pfm"), std::ios::binary) << "PF\n1 1\n-1.0\n123456789012";
    EXPECT_THROW(readFloatMapPfm(path("colour.pfm")), ImageReadError);
    std::ofstream(path("short.pfm"), std::ios::binary) << "Pf\n2 2\n-1.0\n1234";
    EXPECT_THROW(readFloatMapPfm(path("short.pfm")), ImageReadError);
    EXPECT_THROW(readFloatMapPfm(path("missing.pfm")), ImageReadError);
}

TEST_F(PfmFile, RefusesOversizedOrMalformedHeadersBeforeAllocating) {
    // Each header would ask for gigabytes, or overflow a scanf-read number, if believed; the
    // file holds a few samples only.  Found by fuzz_netpbm.
    const std::string samples(16, '\0');
    const std::string headers[] = {
        "Pf\n65536 65536\n-1.0\n",             // 2^32 samples: above the pixel limit
        "Pf\n16384 16384\n-1.0\n",             // at the pixel limit, but the file is 16 bytes
        "Pf\n99999999999999999999 1\n-1.0\n",  // beyond 64 bits
        "Pf8777\n\n3 -1.0\n",                  // what scanf's "Pf\n%u" let through
        "Pf\n 2 2\n-1.0\n",                    // no digits before the space
    };
    for (const std::string& header : headers) {
        std::ofstream(path("header.pfm"), std::ios::binary) << header << samples;
        EXPECT_THROW(readFloatMapPfm(path("header.pfm")), ImageReadError) << header;
    }
}

// A width or height of 0 is refused from the header, by name: with a width of 0 the size checks
// let any height through, and the 31-byte file below (fuzz/regressions/netpbm/pfm_zero_width_tall)
// once took 20 to 30 s, one read for each of its 200,000,017 rows, before failing otherwise.
TEST_F(PfmFile, RefusesAZeroWidthOrHeightAtOnce) {
    const std::string samples(11, '\0');
    for (const std::string header : {"Pf\n0 200000017\n-1.0\n", "Pf\n200000017 0\n-1.0\n"}) {
        std::ofstream(path("zero.pfm"), std::ios::binary) << header << samples;
        try {
            readFloatMapPfm(path("zero.pfm"));
            ADD_FAILURE() << "read " << header;
        } catch (const ImageReadError& e) {
            EXPECT_NE(std::string(e.what()).find("width or height is 0"), std::string::npos)
                << e.what();
        }
    }
}

}  // namespace
}  // namespace lumetra
