#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>

#include "image/Temporaries.h"

namespace lumetra {
namespace {

namespace fs = std::filesystem;

// A process id that no process has: a child that has exited and been waited for.
pid_t goneProcess() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    return child;
}

class Temporaries : public ::testing::Test {
  protected:
    void SetUp() override {
        _dir = fs::temp_directory_path() / ("lumetra_temporaries_" + std::to_string(getpid()));
        fs::remove_all(_dir);
        fs::create_directories(_dir);
    }
    void TearDown() override { fs::remove_all(_dir); }

    // A file named `name` in the folder, last changed `age` ago.
    fs::path file(const std::string& name, std::chrono::seconds age) {
        const fs::path path = _dir / name;
        std::ofstream(path) << "x";
        fs::last_write_time(path, fs::file_time_type::clock::now() - age);
        return path;
    }

    fs::path _dir;
};

TEST_F(Temporaries, NamesCarryTheTargetTheMakerAndRandomLetters) {
    std::random_device random;
    const std::string name = temporaryName("/tmp/out/map.png", random);
    const std::string prefix = "/tmp/out/map.png.partial-" + std::to_string(getpid()) + "-";
    ASSERT_EQ(name.size(), prefix.size() + 6) << name;
    EXPECT_EQ(name.substr(0, prefix.size()), prefix);
    const std::string letters = name.substr(prefix.size());
    EXPECT_TRUE(std::all_of(letters.begin(), letters.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c));
    })) << name;
    // A name too long for the file system is cut so that the temporary's name still fits.
    const std::string longName = temporaryName("/tmp/" + std::string(300, 'n'), random);
    EXPECT_LE(fs::path(longName).filename().string().size(), 255u) << longName;
    EXPECT_NE(temporaryName("a", random), temporaryName("a", random));
}

TEST_F(Temporaries, RemovesOnlyAbandonedTemporariesOlderThanTheRun) {
    using std::chrono::seconds;
    const std::string gone = std::to_string(goneProcess());
    const std::string alive = std::to_string(getppid());
    const auto before = fs::file_time_type::clock::now() - seconds(10);
    const fs::path abandoned = file("map.png.partial-" + gone + "-abcDE1", seconds(60));
    const fs::path abandonedFolder = _dir / (".report.partial-" + gone + "-Zz9zz9");
    fs::create_directories(abandonedFolder / "inside");
    fs::last_write_time(abandonedFolder, fs::file_time_type::clock::now() - seconds(60));
    const std::set<fs::path> kept = {
        file("map.png.partial-" + alive + "-abcDE1", seconds(60)),  // its maker runs
        file("map.png.partial-" + gone + "-abcDE2", seconds(0)),    // newer than the run
        file("map.png.partial-" + gone + "-abc", seconds(60)),      // too few letters
        file("map.png.partial-x" + gone + "-abcDE1", seconds(60)),  // no process id
        file("map.png.partial-" + gone + "-abc$E1", seconds(60)),   // not a letter
        file("map.png", seconds(60)),
    };
    fs::create_symlink(abandoned, _dir / ("link.partial-" + gone + "-abcDE3"));

    const std::vector<fs::path> removed = removeAbandonedTemporaries(_dir, before);
    EXPECT_EQ(std::set<fs::path>(removed.begin(), removed.end()),
              (std::set<fs::path>{abandoned, abandonedFolder}));
    for (const fs::path& path : kept) EXPECT_TRUE(fs::exists(path)) << path;
    EXPECT_TRUE(fs::is_symlink(_dir / ("link.partial-" + gone + "-abcDE3")));
    EXPECT_TRUE(removeAbandonedTemporaries(_dir / "missing", before).empty());
}

}  // namespace
}  // namespace lumetra
