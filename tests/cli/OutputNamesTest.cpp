#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "cli/OutputNames.h"

namespace lumetra {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> namesOf(const std::vector<fs::path>& paths) {
    std::vector<std::string> names;
    for (const fs::path& path : paths) names.push_back(path.string());
    return names;
}

TEST(OutputNames, MapIsNamedAfterTheStemInTheFolder) {
    EXPECT_EQ(namesOf(mapPaths({"in/a.ppm", "/abs/b.jpeg.ppm", "c"}, "maps", kErrorMapSuffix)),
              (std::vector<std::string>{"maps/a.errmap.png", "maps/b.jpeg.errmap.png",
                                        "maps/c.errmap.png"}));
    EXPECT_EQ(namesOf(mapPaths({"x/.hidden", "dir/"}, "m", kFloatMapSuffix)),
              (std::vector<std::string>{"m/.hidden.errmap.pfm", "m/unnamed.errmap.pfm"}));
}

TEST(OutputNames, RepeatedStemsGetCountersInOrder) {
    // The same name in three folders, and one file given twice.
    EXPECT_EQ(namesOf(mapPaths({"a/x.ppm", "b/x.ppm", "c/x.pgm", "y.ppm", "y.ppm"}, "m",
                               kErrorMapSuffix)),
              (std::vector<std::string>{"m/x.errmap.png", "m/x-2.errmap.png", "m/x-3.errmap.png",
                                        "m/y.errmap.png", "m/y-2.errmap.png"}));
}

TEST(OutputNames, CounterNeverTakesAnotherFilesOwnName) {
    // "x-2" belongs to the file x-2.ppm, even though it comes later, so the second x is x-3;
    // the third x then skips its sibling's x-3 as well.
    EXPECT_EQ(namesOf(mapPaths({"a/x.ppm", "b/x.ppm", "x-2.ppm", "c/x.ppm"}, "m", kErrorMapSuffix)),
              (std::vector<std::string>{"m/x.errmap.png", "m/x-3.errmap.png", "m/x-2.errmap.png",
                                        "m/x-4.errmap.png"}));
}

TEST(OutputNames, EveryNameOfABatchIsDistinct) {
    std::vector<std::string> degraded;
    for (int i = 0; i < 20; ++i) {
        degraded.push_back("d" + std::to_string(i % 4) + "/s.ppm");
        degraded.push_back("s-" + std::to_string(i % 7) + ".ppm");
    }
    const std::vector<std::string> names = namesOf(mapPaths(degraded, "m", kErrorMapSuffix));
    for (std::size_t i = 0; i < names.size(); ++i) {
        for (std::size_t j = i + 1; j < names.size(); ++j) {
            EXPECT_NE(names[i], names[j]) << "files " << i << " and " << j;
        }
    }
}

class InputFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        _dir = fs::temp_directory_path() /
               ("lumetra_output_names_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(_dir);
        fs::create_directories(_dir / "sub");
        std::ofstream(_dir / "input.ppm") << "P3\n1 1\n255\n0 0 0\n";
    }
    void TearDown() override { fs::remove_all(_dir); }

    fs::path _dir;
};

TEST_F(InputFilesTest, SpotsTheSamePathSpelledDifferently) {
    const InputFiles inputs(std::vector<std::string>{(_dir / "input.ppm").string()});
    EXPECT_TRUE(inputs.wouldReplace(_dir / "input.ppm"));
    EXPECT_TRUE(inputs.wouldReplace(_dir / "sub" / ".." / "input.ppm"));
    EXPECT_TRUE(inputs.wouldReplace(_dir / "." / "input.ppm"));
    EXPECT_FALSE(inputs.wouldReplace(_dir / "input.errmap.png"));
    EXPECT_FALSE(inputs.wouldReplace(_dir / "sub" / "input.ppm"));

    // A relative input that does not exist (yet) still claims its name.
    const InputFiles relative(std::vector<std::string>{"not-there/x.ppm"});
    EXPECT_TRUE(relative.wouldReplace(fs::current_path() / "not-there" / "x.ppm"));
    EXPECT_FALSE(relative.wouldReplace(fs::current_path() / "not-there" / "y.ppm"));
}

TEST_F(InputFilesTest, SpotsLinksToAnInput) {
    fs::create_symlink(_dir / "input.ppm", _dir / "sub" / "symbolic.png");
    fs::create_hard_link(_dir / "input.ppm", _dir / "sub" / "hard.png");
    const InputFiles inputs(std::vector<std::string>{(_dir / "input.ppm").string()});
    EXPECT_TRUE(inputs.wouldReplace(_dir / "sub" / "symbolic.png"));
    EXPECT_TRUE(inputs.wouldReplace(_dir / "sub" / "hard.png"));
}

TEST_F(InputFilesTest, SpotsAnInputNamedThroughALinkedFolder) {
    fs::create_directory_symlink(_dir, _dir / "sub" / "back");
    const InputFiles inputs(
        std::vector<std::string>{(_dir / "sub" / "back" / "input.ppm").string()});
    EXPECT_TRUE(inputs.wouldReplace(_dir / "input.ppm"));
}

}  // namespace
}  // namespace lumetra
