#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
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
    b.path = "long folder name/b & \"quoted\" and a much longer name than fits.ppm";
    a.structureShare = 0.25f;
    a.mean = 2.5f;
    a.histogram = {0.5f, 0.25f, 0.25f};
    a.histogramTop = 4.0f;
    run.files = {a, b, broken};
    run.version = "9.9.9";
    run.date = "2026-12-09 15:30 UTC";
    run.commandLine = "lumetra --report r 'orig <1>.ppm' a.ppm";
    run.viewing = "60 pixels per degree (the standard viewing geometry)";
    run.gates = "measure above 1500";
    run.legend = ReportLegend{HeatScaleMode::Log,
                              HeatScale{400.0f, ColourMap::Viridis, HeatCurve::Log, 4.0f}};
    return run;
}

// The summary's counts and spread: two scored (one crossed a gate), one failed; the median of
// two measures is their mean, (300 + 2000) / 2 = 1150, exact in float.
TEST(Report, SummaryCountsTheFilesAndSpreadsTheMeasures) {
    const ReportRun run = threeFiles();
    const ReportSummary summary = summaryOf(run.files);
    EXPECT_EQ(summary.scored, 2u);
    EXPECT_EQ(summary.failed, 1u);
    EXPECT_EQ(summary.crossed, 1u);
    EXPECT_EQ(summary.minMeasure, 300.0f);
    EXPECT_EQ(summary.medianMeasure, 1150.0f);
    EXPECT_EQ(summary.maxMeasure, 2000.0f);
    std::vector<ReportFile> odd = run.files;
    odd.push_back(odd[0]);
    odd.back().measure = 7.0f;
    EXPECT_EQ(summaryOf(odd).medianMeasure, 300.0f);
    EXPECT_FALSE(summaryOf({}).medianMeasure);

    const std::string html = reportHtml(run);
    for (const char* shown :
         {"id=\"count-scored\">2<", "id=\"count-failed\">1<", "id=\"count-crossed\">1<",
          "id=\"measure-median\">1150<", "lumetra 9.9.9, 2026-12-09 15:30 UTC",
          "lumetra --report r &#39;orig &lt;1&gt;.ppm&#39; a.ppm", "measure above 1500",
          // The gates' verdicts, the shares in percent (0.1 is 10.0 %), the structure share.
          ">pass<", "<b>FAIL</b> measure", ">10.0<", ">25.0<",
          // The log scale's knee and top in the legend.
          "k = 4", "0 to 400"}) {
        EXPECT_NE(html.find(shown), std::string::npos) << shown;
    }
}

// Whatever a file name holds, it reaches the page as text, never as markup.
TEST(Report, EscapesEveryNameItShows) {
    ReportRun run = threeFiles();
    // A name that would end the script element holding the files' numbers.
    run.files[0].path = "</script><b>x.ppm";
    const std::string html = reportHtml(run);
    EXPECT_NE(html.find("orig &lt;1&gt;.ppm"), std::string::npos);
    EXPECT_NE(html.find("b &amp; &quot;quoted&quot;"), std::string::npos);
    EXPECT_NE(html.find("cannot read &lt;it&gt;"), std::string::npos);
    EXPECT_EQ(html.find("<it>"), std::string::npos);
    EXPECT_EQ(html.find("<1>"), std::string::npos);
    EXPECT_EQ(html.find("</script><b>"), std::string::npos);
    // Nothing is fetched from elsewhere.
    EXPECT_EQ(html.find("http"), std::string::npos);
}

// The page in a real browser, in a 1280 x 800 window: every row and picture is there, the
// page needs no horizontal scroll bar, sorting by a column orders the rows by it (missing
// values last), and the compare view's buttons and keys change its state.  Needs Debian's
// chromium (scripts/install-deps puts it there); the browser runs headless, is bounded in time
// and ends by itself.
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

    // Chromium on the page opened at `fragment` with `what` (--dump-dom, --screenshot=...);
    // returns what it prints.
    std::string browse(const std::string& what, const std::string& fragment) const {
        const std::string command =
            "timeout 60 " + std::string(kBrowser) +
            " --headless --no-sandbox --disable-gpu --no-first-run --window-size=1280,800"
            " --user-data-dir=" +
            (_dir / "profile").string() + " --virtual-time-budget=5000 " + what + " 'file://" +
            (_dir / "index.html").string() + fragment + "' 2>/dev/null";
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
        std::string out;
        std::array<char, 4096> chunk{};
        for (std::size_t n; pipe && (n = fread(chunk.data(), 1, chunk.size(), pipe.get())) > 0;) {
            out.append(chunk.data(), n);
        }
        return out;
    }

    // The page's DOM once its scripts have run.
    std::string dom(const std::string& fragment) const { return browse("--dump-dom", fragment); }

    // The file of every row, top to bottom.
    static std::vector<std::string> order(const std::string& dom) {
        std::vector<std::string> files;
        const std::string rowStart = "data-file=\"";
        for (std::size_t at = dom.find(rowStart); at != std::string::npos;
             at = dom.find(rowStart, at)) {
            at += rowStart.size();
            files.push_back(dom.substr(at, dom.find('"', at) - at));
        }
        return files;
    }

    // The value of attribute `name` of the compare view's element; "(absent)" without it.
    static std::string compareState(const std::string& dom, const std::string& name) {
        const std::size_t view = dom.find("<div id=\"compare\"");
        if (view == std::string::npos) return "(no compare view)";
        const std::string tag = dom.substr(view, dom.find('>', view) - view);
        const std::size_t at = tag.find(" " + name + "=\"");
        if (at == std::string::npos) return "(absent)";
        const std::size_t start = at + name.size() + 3;
        return tag.substr(start, tag.find('"', start) - start);
    }

    static constexpr const char* kBrowser = "/usr/bin/chromium";
    fs::path _dir;
};

TEST_F(ReportInBrowser, ShowsEveryRowAndPictureAndSortsByAnyColumn) {
    const std::string unsorted = dom("");
    ASSERT_NE(unsorted.find("</table>"), std::string::npos) << "no page from the browser";
    const std::string b =
        "long folder name/b &amp; &quot;quoted&quot; and a much longer name than fits.ppm";
    EXPECT_EQ(order(unsorted), (std::vector<std::string>{"a.ppm", b, "broken.ppm"}));
    // The original twice (summary and compare view) and the four thumbnails.
    EXPECT_NE(unsorted.find("data-images-loaded=\"6\""), std::string::npos)
        << "not every picture loaded";
    EXPECT_NE(unsorted.find("data-horizontal-scroll=\"no\""), std::string::npos)
        << "the page is wider than a 1280-pixel window";
    // The summary as the browser shows it: 2 scored, 1 failed, 1 crossed, median 1150.
    for (const char* shown : {"id=\"count-scored\">2<", "id=\"count-failed\">1<",
                              "id=\"count-crossed\">1<", "id=\"measure-median\">1150<"}) {
        EXPECT_NE(unsorted.find(shown), std::string::npos) << shown;
    }

    EXPECT_EQ(order(dom("#sort=-measure")), (std::vector<std::string>{b, "a.ppm", "broken.ppm"}));
    EXPECT_EQ(order(dom("#sort=score")), (std::vector<std::string>{b, "a.ppm", "broken.ppm"}));
    // The failed file's message row stays right under its row, wherever sorting puts it.
    const std::string descending = dom("#sort=-file");
    EXPECT_EQ(order(descending), (std::vector<std::string>{b, "broken.ppm", "a.ppm"}));
    const std::size_t broken = descending.find("data-file=\"broken.ppm\"");
    const std::size_t message = descending.find("class=\"message\"");
    ASSERT_NE(message, std::string::npos);
    EXPECT_LT(broken, message);
    EXPECT_LT(message, descending.find("data-file=\"a.ppm"));
}

// Each row opens the compare view; buttons and keys switch its mode, overlay and file, and the
// views share one zoom.
TEST_F(ReportInBrowser, CompareViewTogglesByButtonAndKey) {
    EXPECT_EQ(compareState(dom(""), "hidden"), "");  // a bare attribute: present, no value

    const std::string opened = dom("#compare=1");
    EXPECT_EQ(compareState(opened, "hidden"), "(absent)");
    EXPECT_EQ(compareState(opened, "data-index"), "0");
    EXPECT_EQ(compareState(opened, "data-mode"), "side");
    EXPECT_EQ(compareState(opened, "data-overlay"), "off");

    // Keys: heat map on, flicker, swap to the original, next file.
    const std::string keyed = dom("#compare=1&keys=h,f,space,ArrowRight");
    EXPECT_EQ(compareState(keyed, "data-overlay"), "on");
    EXPECT_EQ(compareState(keyed, "data-mode"), "flicker");
    EXPECT_EQ(compareState(keyed, "data-showing"), "original");
    EXPECT_EQ(compareState(keyed, "data-index"), "1");

    // Buttons: the same by clicks; previous from the first file wraps to the last.
    const std::string clicked = dom("#compare=1&keys=%23cmp-overlay,%23cmp-flicker,%23cmp-prev");
    EXPECT_EQ(compareState(clicked, "data-overlay"), "on");
    EXPECT_EQ(compareState(clicked, "data-mode"), "flicker");
    EXPECT_EQ(compareState(clicked, "data-index"), "2");

    // Zoom: one step out divides the shared zoom by 1.5 (the 4 x 3 test picture fits at the
    // largest zoom, so a step in could not show); Escape closes the view.
    const double fitted = std::stod(compareState(opened, "data-zoom"));
    const double zoomed = std::stod(compareState(dom("#compare=1&keys=-"), "data-zoom"));
    EXPECT_NEAR(zoomed / fitted, 1.0 / 1.5, 1e-9);  // a few roundings of doubles
    EXPECT_EQ(compareState(dom("#compare=1&keys=Escape"), "hidden"), "");
}

// A screenshot at 1280 x 800 is what a user's window shows: the browser makes one.
TEST_F(ReportInBrowser, ScreenshotAt1280By800) {
    const fs::path shot = _dir / "shot.png";
    browse("--screenshot=" + shot.string(), "");
    ASSERT_TRUE(fs::exists(shot));
    // The PNG's size, from its header: width and height are the big-endian words at 16 and 20.
    std::ifstream in(shot, std::ios::binary);
    std::array<unsigned char, 24> header{};
    in.read(reinterpret_cast<char*>(header.data()), header.size());
    const auto word = [&](std::size_t at) {
        return (header[at] << 24) | (header[at + 1] << 16) | (header[at + 2] << 8) | header[at + 3];
    };
    EXPECT_EQ(word(16), 1280);
    EXPECT_EQ(word(20), 800);
}

}  // namespace
}  // namespace lumetra
