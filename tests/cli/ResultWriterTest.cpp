#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/ResultWriter.h"

namespace lumetra {
namespace {

const FileResult kScored{"short.ppm", Scores{736.982361f, 3.24652624f}, ""};
const FileResult kBig{"dir/a much longer name.ppm", Scores{1234567.0f, 1.0f}, ""};
const FileResult kUnreadable{"bad.ppm", std::nullopt,
                             "cannot read image \"bad.ppm\": no such file"};

std::string writeAll(OutputFormat format, const std::vector<FileResult>& rows,
                     std::optional<double> pixelsPerDegree = {}) {
    std::vector<std::string> paths;
    for (const FileResult& row : rows) paths.push_back(row.path);
    std::ostringstream out;
    const auto writer = makeResultWriter(format, out, paths, pixelsPerDegree);
    writer->begin();
    for (const FileResult& row : rows) writer->write(row);
    writer->end();
    return out.str();
}

TEST(ResultWriter, TableAlignsColumnsToTheLongestPath) {
    // Path column 26 wide (the longest path), then two 12-wide right-aligned number columns.
    const std::string expected =
        "File name                        Measure         Score\n"
        "short.ppm                        736.982       3.24653\n"
        "dir/a much longer name.ppm   1.23457e+06             1\n"
        "bad.ppm                            error         error  "
        "cannot read image \"bad.ppm\": no such file\n";
    EXPECT_EQ(writeAll(OutputFormat::Table, {kScored, kBig, kUnreadable}), expected);
}

TEST(ResultWriter, TableCountsCodePointsAndEscapesControls) {
    const FileResult accented{"\xC3\xA9t\xC3\xA9.ppm", Scores{0.5f, 4.0f}, ""};
    const FileResult newline{"a\nb", Scores{0.5f, 4.0f}, ""};
    const std::string expected =
        "File name       Measure         Score\n"
        "\xC3\xA9t\xC3\xA9.ppm             0.5             4\n"
        "a\\nb                0.5             4\n";
    EXPECT_EQ(writeAll(OutputFormat::Table, {accented, newline}), expected);
}

TEST(ResultWriter, CsvHasHeaderFullPrecisionAndEmptyNumbersOnFailure) {
    const FileResult mapFailed{"x,y.ppm", Scores{0.0f, 3.8f}, "cannot write \"m/x.errmap.png\""};
    const std::string expected =
        "file,measure,score,error\n"
        "short.ppm,736.982361,3.24652624,\n"
        "bad.ppm,,,\"cannot read image \"\"bad.ppm\"\": no such file\"\n"
        "\"x,y.ppm\",0,3.79999995,\"cannot write \"\"m/x.errmap.png\"\"\"\n";
    EXPECT_EQ(writeAll(OutputFormat::Csv, {kScored, kUnreadable, mapFailed}), expected);
}

TEST(ResultWriter, TsvUsesTabsAndEscapes) {
    const FileResult tabbed{"a\tb.ppm", Scores{1.5f, 2.0f}, ""};
    const std::string expected =
        "file\tmeasure\tscore\terror\n"
        "a\\tb.ppm\t1.5\t2\t\n"
        "bad.ppm\t\t\tcannot read image \"bad.ppm\": no such file\n";
    EXPECT_EQ(writeAll(OutputFormat::Tsv, {tabbed, kUnreadable}), expected);
}

TEST(ResultWriter, JsonIsAnArrayOfOneObjectPerFile) {
    const FileResult notANumber{"n.ppm", Scores{std::numeric_limits<float>::quiet_NaN(), -1.0f},
                                ""};
    const std::string expected =
        "[\n"
        "  {\"file\": \"short.ppm\", \"measure\": 736.982361, \"score\": 3.24652624, "
        "\"error\": null},\n"
        "  {\"file\": \"bad.ppm\", \"measure\": null, \"score\": null, "
        "\"error\": \"cannot read image \\\"bad.ppm\\\": no such file\"},\n"
        "  {\"file\": \"n.ppm\", \"measure\": null, \"score\": -1, \"error\": null}\n"
        "]\n";
    EXPECT_EQ(writeAll(OutputFormat::Json, {kScored, kUnreadable, notANumber}), expected);
}

TEST(ResultWriter, JsonReplacesEachInvalidUtf8ByteOfAPath) {
    // A Latin-1 e acute and a three-byte sequence cut short after two bytes: three bytes that
    // start no well-formed sequence, so three U+FFFD; the valid two-byte e acute stays.
    const FileResult latin1{"caf\xE9 \xE2\x82 \xC3\xA9.ppm", Scores{0.5f, 4.0f}, ""};
    const std::string replacement = "\xEF\xBF\xBD";
    const std::string expected = "[\n  {\"file\": \"caf" + replacement + " " + replacement +
                                 replacement + " \xC3\xA9.ppm\", \"measure\": 0.5, " +
                                 "\"score\": 4, \"error\": null}\n]\n";
    EXPECT_EQ(writeAll(OutputFormat::Json, {latin1}), expected);
}

TEST(ResultWriter, EmptyJsonDocumentIsAnEmptyArray) {
    EXPECT_EQ(writeAll(OutputFormat::Json, {}), "[]\n");
}

// A viewing geometry other than the standard one (here from a 1920-pixel, 53 cm screen at
// 70 cm): a line above the table, a last field in each JSON row, nothing in CSV or TSV rows.
constexpr double kDisplayPpd = 44.260038908603065;

TEST(ResultWriter, ViewingGeometryIsShownAboveTheTableAndInEachJsonRow) {
    EXPECT_EQ(writeAll(OutputFormat::Table, {kScored}, kDisplayPpd),
              "viewing: 44.26 pixels per degree\n"
              "File name       Measure         Score\n"
              "short.ppm       736.982       3.24653\n");
    EXPECT_EQ(
        writeAll(OutputFormat::Json, {kScored, kUnreadable}, kDisplayPpd),
        "[\n"
        "  {\"file\": \"short.ppm\", \"measure\": 736.982361, \"score\": 3.24652624, "
        "\"error\": null, \"ppd\": 44.2600389},\n"
        "  {\"file\": \"bad.ppm\", \"measure\": null, \"score\": null, "
        "\"error\": \"cannot read image \\\"bad.ppm\\\": no such file\", \"ppd\": 44.2600389}\n"
        "]\n");
    for (const OutputFormat format : {OutputFormat::Csv, OutputFormat::Tsv}) {
        EXPECT_EQ(writeAll(format, {kScored, kUnreadable}, kDisplayPpd),
                  writeAll(format, {kScored, kUnreadable}));
    }
    EXPECT_EQ(viewingLine(120.0), "viewing: 120 pixels per degree");
}

TEST(FileResult, FailsWithoutScoresOrWithAnError) {
    EXPECT_FALSE(kScored.failed());
    EXPECT_TRUE(kUnreadable.failed());
    EXPECT_TRUE((FileResult{"a", Scores{1.0f, 1.0f}, "map not written"}).failed());
}

}  // namespace
}  // namespace lumetra
