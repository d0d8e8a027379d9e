// The `lumetra` program on files with declared colour spaces and orientations, made here
// (tests/image/ColourTestImages.h): what it says on the error stream, the JSON rows' colour
// field, and --colour srgb bringing a Display P3 copy of a picture back to the picture.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "ColourTestImages.h"
#include "image/Orientation.h"

namespace lumetra {
namespace {

namespace fs = std::filesystem;
namespace ti = testimages;

struct ProgramRun {
    int status;
    std::string out;
    std::string err;
};

class ColourCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        _dir = fs::temp_directory_path() / ("lumetra_colour_cli_" + std::to_string(getpid()));
        fs::create_directories(_dir);
        // A 96 x 128 crop of a sample, as stored (no declaration), and the same colours as
        // Display P3 samples with the P3 profile in an iCCP chunk.
        const RgbImage full(std::string(LUMETRA_SAMPLES_DIR) + "/coffee.ppm");
        _srgb = ti::crop(full, 64, 32, 96, 128);
        ti::writePng(path("srgb.png"), _srgb);
        const std::vector<std::uint8_t> p3 = ti::displayP3Profile();
        ti::PngDeclarations declarations;
        declarations.icc = p3;
        ti::writePng(path("p3.png"), ti::convertedPixels(_srgb, ti::srgbProfile(), p3),
                     declarations);
    }
    void TearDown() override { fs::remove_all(_dir); }

    std::string path(const std::string& name) const { return (_dir / name).string(); }

    ProgramRun run(const std::string& arguments) const {
        const std::string out = path("out.txt"), err = path("err.txt");
        const std::string command =
            std::string(LUMETRA_BINARY) + " " + arguments + " >" + out + " 2>" + err;
        const int status = std::system(command.c_str());
        return {WEXITSTATUS(status), read(out), read(err)};
    }

    static std::string read(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // The measure of the one file scored against srgb.png.
    double measure(const std::string& file, const std::string& options = "") const {
        const ProgramRun r = run(path("srgb.png") + " " + path(file) + " --format json " + options);
        EXPECT_EQ(r.status, 0) << r.err;
        return nlohmann::json::parse(r.out).at(0).at("measure").get<double>();
    }

    fs::path _dir;
    RgbImage _srgb;
};

TEST_F(ColourCommand, DisplayP3IsWarnedByDefaultAndMeasuresNearZeroConverted) {
    const ProgramRun asStored = run(path("srgb.png") + " " + path("p3.png") + " --format json");
    ASSERT_EQ(asStored.status, 0) << asStored.err;
    // Once each: the profile that is not sRGB, and the original's differing colour space.
    const std::string declares = "declares colour profile ICC \"Display P3\", not sRGB";
    EXPECT_NE(asStored.err.find(declares), std::string::npos) << asStored.err;
    EXPECT_EQ(asStored.err.find(declares), asStored.err.rfind(declares)) << asStored.err;
    EXPECT_NE(asStored.err.find("the original's none (read as sRGB)"), std::string::npos)
        << asStored.err;
    const nlohmann::json row = nlohmann::json::parse(asStored.out).at(0);
    EXPECT_EQ(row.at("colour"), "ICC \"Display P3\"");
    EXPECT_EQ(row.at("orientation"), 1);

    const ProgramRun converted =
        run(path("srgb.png") + " " + path("p3.png") + " --format json --colour srgb");
    ASSERT_EQ(converted.status, 0) << converted.err;
    EXPECT_EQ(converted.err, "");  // converted: nothing to warn of
    const nlohmann::json convertedRow = nlohmann::json::parse(converted.out).at(0);
    EXPECT_EQ(convertedRow.at("colour"), "ICC \"Display P3\" -> sRGB (relative colorimetric)");

    // "Near 0": the P3 file holds 8-bit samples, so converted back each lies within about one
    // 8-bit step of the original (ColourProfileTest: 1.5 at most, a third on average).  The
    // measure may therefore be that of the original with every sample moved one step up or
    // down at random (seeded), the least change an 8-bit file can hold, with half as much
    // again for the steps the way back enlarges; and it must be far below the measure of the
    // P3 samples read as stored.
    std::mt19937 random(7);
    Array<unsigned> planes[3] = {_srgb.R(), _srgb.G(), _srgb.B()};
    for (Array<unsigned>& plane : planes) {
        for (std::size_t i = 0; i < plane.size(); ++i) {
            unsigned& v = plane.data()[i];
            v = (random() >> 31) != 0 ? (v == 255 ? 254 : v + 1) : (v == 0 ? 1 : v - 1);
        }
    }
    ti::writePng(path("onestep.png"), RgbImage(planes[0], planes[1], planes[2]));
    const double oneStep = measure("onestep.png");
    const double stored = measure("p3.png");
    const double back = measure("p3.png", "--colour srgb");
    EXPECT_LE(back, 1.5 * oneStep) << "one step " << oneStep;
    EXPECT_LE(back, stored / 3.0) << "as stored " << stored;
    // The original itself is unchanged by --colour srgb: it declares nothing.
    EXPECT_EQ(measure("srgb.png", "--colour srgb"), 0.0);

    // The table says the intent once and each file's profile in its Colour column.
    const ProgramRun table = run(path("srgb.png") + " " + path("p3.png") + " --colour srgb");
    EXPECT_NE(table.out.find("colour: every file converted to sRGB"), std::string::npos);
    EXPECT_NE(table.out.find("ICC \"Display P3\" -> sRGB (relative colorimetric)"),
              std::string::npos)
        << table.out;
}

TEST_F(ColourCommand, OrientationIsWarnedKeptOrApplied) {
    ti::PngDeclarations declarations;
    declarations.exif = ti::exifBlock(8);
    // Stored turned a quarter clockwise; orientation 8 turns it back for display.
    ti::writePng(path("turned.png"), orientedForDisplay(_srgb, 6), declarations);
    // Kept as stored, it is refused by its size from its header.
    const ProgramRun kept = run(path("srgb.png") + " " + path("turned.png"));
    EXPECT_EQ(kept.status, 1);
    EXPECT_NE(kept.err.find("is 96 x 128 but the original is 128 x 96"), std::string::npos)
        << kept.err;
    // A half turn keeps the size: scored as stored, and said once.
    declarations.exif = ti::exifBlock(3);
    ti::writePng(path("halfturn.png"), orientedForDisplay(_srgb, 3), declarations);
    const ProgramRun halfTurn = run(path("srgb.png") + " " + path("halfturn.png"));
    EXPECT_EQ(halfTurn.status, 0);
    EXPECT_NE(halfTurn.err.find("\"" + path("halfturn.png") +
                                "\": declares EXIF orientation 3 (turned a half turn); its pixels "
                                "are scored as stored (--orientation apply turns it)"),
              std::string::npos)
        << halfTurn.err;
    EXPECT_EQ(measure("halfturn.png", "--orientation apply"), 0.0);

    const ProgramRun applied =
        run(path("srgb.png") + " " + path("turned.png") + " --orientation apply --format json");
    ASSERT_EQ(applied.status, 0) << applied.err;
    const nlohmann::json row = nlohmann::json::parse(applied.out).at(0);
    EXPECT_EQ(row.at("measure"), 0.0);
    EXPECT_EQ(row.at("orientation"), 8);
}

TEST_F(ColourCommand, MalformedMetadataIsSaidAndTheFileStillScored) {
    ti::PngDeclarations declarations;
    declarations.exif = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 9};  // nine entries, none there
    ti::writePng(path("badexif.png"), _srgb, declarations);
    const ProgramRun r = run(path("srgb.png") + " " + path("badexif.png") + " --orientation apply");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("EXIF data: its first directory runs past the end of the block; "
                         "orientation ignored"),
              std::string::npos)
        << r.err;
}

}  // namespace
}  // namespace lumetra
