#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "image/Error.h"
#include "image/FileOutput.h"
#include "image/RgbImage.h"

namespace lumetra {
namespace {

namespace fs = std::filesystem;

class FileOutput : public testing::Test {
  protected:
    void SetUp() override {
        _dir = fs::temp_directory_path() /
               ("lumetra-file-output-" +
                std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(_dir);
        fs::create_directories(_dir);
    }
    void TearDown() override { fs::remove_all(_dir); }

    static std::string contents(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // Every name in the folder: nothing but the finished files may be left.
    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(_dir)) {
            found.push_back(entry.path().filename().string());
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    fs::path _dir;
};

TEST_F(FileOutput, ReplacesTheTargetOnlyWhenComplete) {
    const fs::path target = _dir / "map.pfm";
    writeFileAtomically(target.string(), [](std::FILE* f) { return std::fputs("old", f) >= 0; });
    writeFileAtomically(target.string(), [](std::FILE* f) { return std::fputs("new", f) >= 0; });
    EXPECT_EQ(contents(target), "new");
    EXPECT_EQ(names(), std::vector<std::string>{"map.pfm"});
}

// A write that fails half way leaves the old file as it was and no partial file beside it.
TEST_F(FileOutput, FailedWriteLeavesNothingBehind) {
    const fs::path target = _dir / "map.pfm";
    writeFileAtomically(target.string(), [](std::FILE* f) { return std::fputs("old", f) >= 0; });
    EXPECT_THROW(writeFileAtomically(target.string(),
                                     [](std::FILE* f) {
                                         std::fputs("half", f);
                                         return false;
                                     }),
                 Error);
    EXPECT_EQ(contents(target), "old");
    EXPECT_EQ(names(), std::vector<std::string>{"map.pfm"});
}

// A link planted at an output name is replaced by the file, never followed: the file it
// points to, outside the folder, keeps its bytes and its mode, and the link's place holds a
// plain file with the mode of a new one.
TEST_F(FileOutput, ReplacesALinkInsteadOfWritingThroughIt) {
    constexpr mode_t kUmask = 022;
    const fs::path outside = _dir / "outside";
    fs::create_directories(outside);
    const fs::path victim = outside / "victim.txt";
    writeFileAtomically(victim.string(), [](std::FILE* f) { return std::fputs("keep", f) >= 0; });
    fs::permissions(victim, fs::perms::owner_read | fs::perms::owner_write);
    const fs::path folder = _dir / "maps";
    fs::create_directories(folder);
    const fs::path link = folder / "map.pfm";
    fs::create_symlink(victim, link);

    const mode_t saved = umask(kUmask);
    writeFileAtomically(link.string(), [](std::FILE* f) { return std::fputs("new", f) >= 0; });
    umask(saved);

    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_TRUE(fs::is_regular_file(link));
    EXPECT_EQ(contents(link), "new");
    EXPECT_EQ(fs::status(link).permissions(), static_cast<fs::perms>(0666 & ~kUmask));
    EXPECT_EQ(contents(victim), "keep");
    EXPECT_EQ(fs::status(victim).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

// A dangling link's target is not created: the link itself becomes the file.
TEST_F(FileOutput, ReplacesADanglingLinkWithoutMakingItsTarget) {
    const fs::path missing = _dir / "elsewhere" / "made.txt";
    fs::create_directories(missing.parent_path());
    const fs::path link = _dir / "heat.png";
    fs::create_symlink(missing, link);
    writeFileAtomically(link.string(), [](std::FILE* f) { return std::fputs("new", f) >= 0; });
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_EQ(contents(link), "new");
    EXPECT_FALSE(fs::exists(fs::symlink_status(missing)));
}

// Devices are written through, named directly or through a link the user made; so are the
// descriptors' names (/dev/stdout, /proc/self/fd/N), even when they lead to a plain file (the
// standard output redirected to a file).
TEST_F(FileOutput, WritesThroughDevicesAndDescriptorNames) {
    const fs::path link = _dir / "null.pfm";
    fs::create_symlink("/dev/null", link);
    writeFileAtomically(link.string(), [](std::FILE* f) { return std::fputs("new", f) >= 0; });
    EXPECT_TRUE(fs::is_symlink(link));
    writeFileAtomically("/dev/null", [](std::FILE* f) { return std::fputs("new", f) >= 0; });

    const fs::path redirected = _dir / "redirected.txt";
    writeFileAtomically(redirected.string(),
                        [](std::FILE* f) { return std::fputs("old, longer", f) >= 0; });
    std::FILE* open = std::fopen(redirected.c_str(), "rb");
    ASSERT_NE(open, nullptr);
    const std::string name = "/proc/self/fd/" + std::to_string(fileno(open));
    writeFileAtomically(name, [](std::FILE* f) { return std::fputs("new", f) >= 0; });
    std::fclose(open);
    EXPECT_EQ(contents(redirected), "new");
    EXPECT_EQ(names(), (std::vector<std::string>{"null.pfm", "redirected.txt"}));
}

// A device that refuses the bytes fails the write with its reason, through a link too.
TEST_F(FileOutput, AFullDeviceFailsTheWrite) {
    const fs::path link = _dir / "full.pfm";
    fs::create_symlink("/dev/full", link);
    try {
        writeFileAtomically(link.string(), [](std::FILE* f) {
            return std::fputs("new", f) >= 0 && std::fflush(f) == 0;
        });
        FAIL() << "wrote to /dev/full";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("No space left on device"), std::string::npos)
            << e.what();
    }
    EXPECT_TRUE(fs::is_symlink(link));
}

// The permissions are those a plain fopen would give (0666 less the umask), not the owner-only
// ones of a temporary file; a replaced file keeps its own.
TEST_F(FileOutput, NewFileGetsTheUmaskModeAndAReplacedFileKeepsItsMode) {
    constexpr mode_t kUmask = 022;
    const mode_t saved = umask(kUmask);
    const fs::path fresh = _dir / "fresh.pfm";
    const fs::path kept = _dir / "kept.pfm";
    writeFileAtomically(fresh.string(), [](std::FILE* f) { return std::fputs("new", f) >= 0; });
    writeFileAtomically(kept.string(), [](std::FILE* f) { return std::fputs("old", f) >= 0; });
    fs::permissions(kept, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    writeFileAtomically(kept.string(), [](std::FILE* f) { return std::fputs("new", f) >= 0; });
    umask(saved);

    const auto mode = [](const fs::path& path) { return fs::status(path).permissions(); };
    EXPECT_EQ(mode(fresh), static_cast<fs::perms>(0666 & ~kUmask));
    EXPECT_EQ(mode(kept), static_cast<fs::perms>(0640));
    EXPECT_EQ(contents(kept), "new");
}

// A name as long as a file name may be leaves no room for the temporary mark: the temporary
// name is cut short, and the file is still written under its own name.
TEST_F(FileOutput, LongestFileNameIsWritten) {
    constexpr std::size_t kMaxNameBytes = 255;  // Linux NAME_MAX
    const std::string name = std::string(kMaxNameBytes - 4, 'n') + ".pfm";
    writeFileAtomically((_dir / name).string(),
                        [](std::FILE* f) { return std::fputs("new", f) >= 0; });
    EXPECT_EQ(names(), std::vector<std::string>{name});
    EXPECT_EQ(contents(_dir / name), "new");
}

TEST_F(FileOutput, MissingFolderIsAnErrorNamingThePath) {
    const std::string target = (_dir / "absent" / "map.png").string();
    try {
        writeRgbPng(target, std::vector<std::uint8_t>(3, 0), 1, 1);
        FAIL() << "wrote into a missing folder";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("cannot write \"" + target + "\": ", 0), 0u)
            << e.what();
    }
    EXPECT_TRUE(names().empty());
}

TEST_F(FileOutput, PngReadsBackAsWritten) {
    const fs::path target = _dir / "heat.png";
    const std::vector<std::uint8_t> rgb{255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30};
    writeRgbPng(target.string(), rgb, 2, 2);
    const RgbImage back(target.string());
    ASSERT_EQ(back.rows(), 2u);
    ASSERT_EQ(back.cols(), 2u);
    EXPECT_EQ(back.R()(0, 0), 255u);
    EXPECT_EQ(back.G()(0, 1), 255u);
    EXPECT_EQ(back.B()(1, 0), 255u);
    EXPECT_EQ(back.B()(1, 1), 30u);
    EXPECT_THROW(writeRgbPng((_dir / "empty.png").string(), {}, 0, 0), Error);
}

}  // namespace
}  // namespace lumetra
