#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/Report.h"
#include "image/FileOutput.h"

namespace lumetra {
namespace {

namespace fs = std::filesystem;

ReportRun threeFiles() {
    ReportRun run;
    run.original = "orig <1>.ppm";
    run.originalImage = "original.png";
    run.parameters = {{"beta", "4"}, {"pixels per degree", "60"}};
    ReportFile a{"a.ppm",
                 300.0f,
                 3.57f,
                 "",
                 "",
                 std::array<float, 4>{1, 2, 3, 4},
                 std::array<float, 4>{0.1f, 0.2f, 0.3f, 0.4f},
                 std::array<float, 3>{1, 0.5f, 0.2f},
                 "a.png",
                 "a.heatmap.png"};
    ReportFile b = a;
    b.path = "b & \"quoted\".ppm";
    b.measure = 2000.0f;
    b.score = 2.3f;
    b.gate = "measure";
    b.image = "b.png";
    b.heatMap = "b.heatmap.png";
    ReportFile broken{"broken.ppm", std::nullopt,
                      std::nullopt, "cannot read <it>",
                      "",           std::nullopt,
                      std::nullopt, std::nullopt,
                      "",           ""};
    run.files = {a, b, broken};
    return run;
}

// Whatever a file name holds, it reaches the page as text, never as markup.
TEST(Report, EscapesEveryNameItShows) {
    const std::string html = reportHtml(threeFiles());
    EXPECT_NE(html.find("orig &lt;1&gt;.ppm"), std::string::npos);
    EXPECT_NE(html.find("b &amp; &quot;quoted&quot;.ppm"), std::string::npos);
    EXPECT_NE(html.find("cannot read &lt;it&gt;"), std::string::npos);
    EXPECT_EQ(html.find("<it>"), std::string::npos);
    EXPECT_EQ(html.find("<1>"), std::string::npos);
    // Nothing is fetched from elsewhere.
    EXPECT_EQ(html.find("http"), std::string::npos);
}

// The page in a real browser: every row and picture is there, and sorting by a column orders
// the rows by it, missing values last.  Needs Debian's chromium (scripts/install-deps puts it
// there); the browser runs headless, is bounded in time and ends by itself.
class ReportInBrowser : public testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(kBrowser)) GTEST_SKIP() << kBrowser << " is not installed";
        _dir =
            fs::temp_directory_path() /
            ("lumetra-report-" + std::to_string(testing::UnitTest::GetInstance()->random_seed()));
        fs::remove_all(_dir);
        fs::create_directories(_dir);
        const ReportRun run = threeFiles();
        const std::vector<std::uint8_t> pixels(4 * 3 * 3, 128);
        for (const char* name :
             {"original.png", "a.png", "a.heatmap.png", "b.png", "b.heatmap.png"}) {
            writeRgbPng((_dir / name).string(), pixels, 4, 3);
        }
        writeReport(_dir, run);
    }
    void TearDown() override { fs::remove_all(_dir); }

    // The page's DOM once its scripts have run, opened at `fragment`.
    std::string dom(const std::string& fragment) const {
        const std::string command =
            "timeout 60 " + std::string(kBrowser) +
            " --headless --no-sandbox --disable-gpu --no-first-run --user-data-dir=" +
            (_dir / "profile").string() + " --virtual-time-budget=5000 --dump-dom 'file://" +
            (_dir / "index.html").string() + fragment + "' 2>/dev/null";
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
        std::string out;
        std::array<char, 4096> chunk{};
        for (std::size_t n; pipe && (n = fread(chunk.data(), 1, chunk.size(), pipe.get())) > 0;) {
            out.append(chunk.data(), n);
        }
        return out;
    }

    // The file column of every row, top to bottom.
    static std::vector<std::string> order(const std::string& dom) {
        std::vector<std::string> files;
        const std::string rowStart = "<tr><td data-key=\"";
        for (std::size_t at = dom.find(rowStart); at != std::string::npos;
             at = dom.find(rowStart, at)) {
            at += rowStart.size();
            files.push_back(dom.substr(at, dom.find('"', at) - at));
        }
        return files;
    }

    static constexpr const char* kBrowser = "/usr/bin/chromium";
    fs::path _dir;
};

TEST_F(ReportInBrowser, ShowsEveryRowAndPictureAndSortsByAnyColumn) {
    const std::string unsorted = dom("");
    ASSERT_NE(unsorted.find("</table>"), std::string::npos) << "no page from the browser";
    const std::string b = "b &amp; &quot;quoted&quot;.ppm";
    EXPECT_EQ(order(unsorted), (std::vector<std::string>{"a.ppm", b, "broken.ppm"}));
    EXPECT_NE(unsorted.find("data-images-loaded=\"5\""), std::string::npos)
        << "not every picture loaded";

    EXPECT_EQ(order(dom("#sort=-measure")), (std::vector<std::string>{b, "a.ppm", "broken.ppm"}));
    EXPECT_EQ(order(dom("#sort=score")), (std::vector<std::string>{b, "a.ppm", "broken.ppm"}));
    EXPECT_EQ(order(dom("#sort=-file")), (std::vector<std::string>{"broken.ppm", b, "a.ppm"}));
}

}  // namespace
}  // namespace lumetra
