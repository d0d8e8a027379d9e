#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "cli/ProgressBar.h"

namespace lumetra {
namespace {

TEST(ProgressBar, LineFillsInProportionToTheFilesDone) {
    EXPECT_EQ(progressLine(0, 10), "[..............................]  0/10");
    EXPECT_EQ(progressLine(5, 10), "[###############...............]  5/10");
    EXPECT_EQ(progressLine(1, 3), "[##########....................]  1/3");
    EXPECT_EQ(progressLine(10, 10), "[##############################]  10/10");
    // More done than the total is shown as complete.
    EXPECT_EQ(progressLine(12, 10), "[##############################]  10/10");
}

TEST(ProgressBar, DrawsInPlaceAndClearsWhatItDrew) {
    std::ostringstream terminal;
    {
        ProgressBar bar(terminal, 10, ProgressBar::Mode::Enabled);
        bar.update(9);
        bar.update(10);
        bar.clear();
        bar.clear();  // nothing on the line: writes nothing
        bar.redraw();
    }                                                 // the destructor leaves the line empty
    const std::string line9 = progressLine(9, 10);    // 38 characters
    const std::string line10 = progressLine(10, 10);  // 39 characters
    const std::string blank = "\r" + std::string(line10.size(), ' ') + "\r";
    EXPECT_EQ(terminal.str(), "\r" + line9 + "\r" + line10 + blank + "\r" + line10 + blank);
}

TEST(ProgressBar, ShorterLineCoversTheLongerOneBeforeIt) {
    std::ostringstream terminal;
    ProgressBar bar(terminal, 100, ProgressBar::Mode::Enabled);
    bar.update(100);
    terminal.str("");
    bar.update(5);  // "5/100" is two characters shorter than "100/100"
    EXPECT_EQ(terminal.str(), "\r" + progressLine(5, 100) + "  ");
}

TEST(ProgressBar, DisabledBarWritesNothing) {
    std::ostringstream terminal;
    {
        ProgressBar bar(terminal, 10, ProgressBar::Mode::Disabled);
        bar.update(3);
        bar.clear();
        bar.redraw();
    }
    EXPECT_EQ(terminal.str(), "");
}

}  // namespace
}  // namespace lumetra
