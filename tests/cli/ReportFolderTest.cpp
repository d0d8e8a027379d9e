#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "cli/ReportFolder.h"

namespace lumetra {
namespace {

namespace fs = std::filesystem;

void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream(path) << text;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> namesIn(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

class ReportFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        _dir = fs::temp_directory_path() / ("lumetra_report_folder_" + std::to_string(getpid()));
        fs::remove_all(_dir);
        fs::create_directories(_dir);
    }
    void TearDown() override { fs::remove_all(_dir); }

    fs::path _dir;
    const InputFiles _noInputs{std::vector<std::string>{}};
};

TEST_F(ReportFolderTest, ReplacesAnEarlierReportWhole) {
    const fs::path target = _dir / "report";
    fs::create_directories(target);
    for (const char* name : {"index.html", "original.png", "gone.degraded.png", "gone.heat.png"}) {
        writeFile(target / name, "old");
    }
    {
        ReportFolder folder(target, _noInputs);
        ASSERT_EQ(folder.problem(), "");
        EXPECT_NE(folder.files(), target);
        // Until it is swapped in, the earlier report is what readers see.
        writeFile(folder.files() / "index.html", "new");
        writeFile(folder.files() / "kept.degraded.png", "new");
        EXPECT_EQ(readFile(target / "index.html"), "old");
        EXPECT_EQ(folder.swapIn(_noInputs), "");
    }
    EXPECT_EQ(namesIn(target), (std::set<std::string>{"index.html", "kept.degraded.png"}));
    EXPECT_EQ(readFile(target / "index.html"), "new");
    EXPECT_EQ(namesIn(_dir), std::set<std::string>{"report"}) << "a temporary folder stayed";
}

TEST_F(ReportFolderTest, MakesAFolderThatDoesNotExistAndLeavesNothingWhenNotSwappedIn) {
    const fs::path target = _dir / "new" / "report";
    {
        ReportFolder folder(target, _noInputs);
        ASSERT_EQ(folder.problem(), "");
        writeFile(folder.files() / "index.html", "page");
    }
    EXPECT_FALSE(fs::exists(target));
    EXPECT_TRUE(namesIn(_dir / "new").empty());
    ReportFolder folder(_dir / "new" / "report/", _noInputs);  // a trailing slash names it too
    ASSERT_EQ(folder.problem(), "");
    EXPECT_EQ(folder.swapIn(_noInputs), "");
    EXPECT_TRUE(fs::is_directory(target));
}

// What a report folder may not replace, and the start of the message that says so.
TEST_F(ReportFolderTest, RefusesAFolderWhoseFilesWouldBeLost) {
    const fs::path inputs = _dir / "inputs";
    fs::create_directories(inputs);
    writeFile(inputs / "a.degraded.png", "input");  // named like a report's picture
    const fs::path others = _dir / "others";
    fs::create_directories(others / "sub");
    writeFile(others / "index.html", "x");
    const fs::path aFile = _dir / "plain";
    writeFile(aFile, "x");
    fs::create_symlink(others, _dir / "link");
    const InputFiles readByTheRun(std::vector<std::string>{(inputs / "a.degraded.png").string()});

    const std::vector<std::pair<fs::path, std::string>> refused = {
        {inputs, "it would replace an input file"},
        {others, "it holds \"sub\", which is not part of a report"},
        {aFile, "a file of that name is in the way"},
        {_dir / "link", "it is a symbolic link"},
    };
    for (const auto& [target, reason] : refused) {
        ReportFolder folder(target, readByTheRun);
        EXPECT_NE(folder.problem().find(reason), std::string::npos)
            << target << ": " << folder.problem();
        EXPECT_TRUE(folder.files().empty());
    }
    EXPECT_EQ(readFile(inputs / "a.degraded.png"), "input");
    EXPECT_EQ(namesIn(_dir), (std::set<std::string>{"inputs", "others", "plain", "link"}));
}

TEST_F(ReportFolderTest, ChecksTheTargetAgainWhenSwappingIn) {
    const fs::path target = _dir / "report";
    ReportFolder folder(target, _noInputs);
    ASSERT_EQ(folder.problem(), "");
    fs::create_directories(target);
    writeFile(target / "notes.txt", "mine");  // put there while the run scored
    EXPECT_NE(folder.swapIn(_noInputs).find("notes.txt"), std::string::npos);
    EXPECT_EQ(readFile(target / "notes.txt"), "mine");
}

TEST(ReportFileName, KnowsTheReportsOwnFiles) {
    for (const char* name : {"index.html", "original.png", "a.degraded.png", "a-2.heat.png"}) {
        EXPECT_TRUE(isReportFileName(name)) << name;
    }
    for (const char* name : {"notes.txt", ".degraded.png", "index.htm", "a.heatmap.png"}) {
        EXPECT_FALSE(isReportFileName(name)) << name;
    }
}

}  // namespace
}  // namespace lumetra
