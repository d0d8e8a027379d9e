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
                     RowColumns columns = {}) {
    std::vector<std::string> paths;
    for (const FileResult& row : rows) paths.push_back(row.path);
    std::ostringstream out;
    const auto writer = makeResultWriter(format, out, paths, columns);
    writer->begin();
    for (const FileResult& row : rows) writer->write(row);
    writer->end();
    return out.str();
}

std::string writeAll(OutputFormat format, const std::vector<FileResult>& rows,
                     std::optional<double> pixelsPerDegree) {
    RowColumns columns;
    columns.pixelsPerDegree = pixelsPerDegree;
    return writeAll(format, rows, columns);
}

std::string writeAll(OutputFormat format, const std::vector<FileResult>& rows, GateColumn gate) {
    return writeAll(format, rows, RowColumns{gate, ExplanationColumns::Omitted});
}

std::string writeAll(OutputFormat format, const std::vector<FileResult>& rows,
                     ExplanationColumns explanation) {
    return writeAll(format, rows, RowColumns{GateColumn::Omitted, explanation});
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

// With quality gates: a file that passed, one that failed two gates, one that could not be
// scored (no verdict) and one whose map failed after it was scored (verdict and error).
const FileResult kPassed{"pass.ppm", Scores{0.0f, 3.8f}, "", ""};
const FileResult kCrossed{"cross.ppm", Scores{4026.86035f, 1.0f}, "", "measure+score"};
const FileResult kNoVerdict{"bad.ppm", std::nullopt, "no such file"};
const FileResult kMapFailed{"map.ppm", Scores{736.982361f, 3.24652624f}, "cannot write \"m\"",
                            "p99"};

TEST(ResultWriter, TableMarksEachRowPassOrFailAfterTheScore) {
    // Path column 9 wide (the header), then the 12-wide number columns and "Gate" after the
    // score; the mark is padded to the widest one only when an error follows.
    const std::string expected =
        "File name       Measure         Score  Gate\n"
        "pass.ppm              0           3.8  pass\n"
        "cross.ppm       4026.86             1  FAIL measure+score\n"
        "bad.ppm           error         error                          no such file\n"
        "map.ppm         736.982       3.24653  FAIL p99                cannot write \"m\"\n";
    EXPECT_EQ(writeAll(OutputFormat::Table, {kPassed, kCrossed, kNoVerdict, kMapFailed},
                       GateColumn::Shown),
              expected);
}

TEST(ResultWriter, MachineFormatsEndWithAGateColumn) {
    const std::vector<FileResult> rows = {kPassed, kCrossed, kNoVerdict, kMapFailed};
    EXPECT_EQ(writeAll(OutputFormat::Csv, rows, GateColumn::Shown),
              "file,measure,score,error,gate\n"
              "pass.ppm,0,3.79999995,,\n"
              "cross.ppm,4026.86035,1,,measure+score\n"
              "bad.ppm,,,no such file,\n"
              "map.ppm,736.982361,3.24652624,\"cannot write \"\"m\"\"\",p99\n");
    EXPECT_EQ(writeAll(OutputFormat::Tsv, rows, GateColumn::Shown),
              "file\tmeasure\tscore\terror\tgate\n"
              "pass.ppm\t0\t3.79999995\t\t\n"
              "cross.ppm\t4026.86035\t1\t\tmeasure+score\n"
              "bad.ppm\t\t\tno such file\t\n"
              "map.ppm\t736.982361\t3.24652624\tcannot write \"m\"\tp99\n");
    // JSON tells a passed file ("") from one without a verdict (null).
    EXPECT_EQ(writeAll(OutputFormat::Json, rows, GateColumn::Shown),
              "[\n"
              "  {\"file\": \"pass.ppm\", \"measure\": 0, \"score\": 3.79999995, \"error\": null, "
              "\"gate\": \"\"},\n"
              "  {\"file\": \"cross.ppm\", \"measure\": 4026.86035, \"score\": 1, \"error\": null, "
              "\"gate\": \"measure+score\"},\n"
              "  {\"file\": \"bad.ppm\", \"measure\": null, \"score\": null, "
              "\"error\": \"no such file\", \"gate\": null},\n"
              "  {\"file\": \"map.ppm\", \"measure\": 736.982361, \"score\": 3.24652624, "
              "\"error\": \"cannot write \\\"m\\\"\", \"gate\": \"p99\"}\n"
              "]\n");
}

TEST(ResultWriter, GateVerdictsAreNotShownWithoutTheGateColumn) {
    // A verdict never leaks into the output of a run without gates.
    const std::vector<FileResult> rows = {kPassed, kCrossed};
    EXPECT_EQ(writeAll(OutputFormat::Csv, rows),
              "file,measure,score,error\n"
              "pass.ppm,0,3.79999995,\n"
              "cross.ppm,4026.86035,1,\n");
    EXPECT_EQ(writeAll(OutputFormat::Table, rows).find("FAIL"), std::string::npos);
}

TEST(FileResult, CrossesAGateOnlyWithAFailedGateNamed) {
    EXPECT_FALSE(kScored.crossedGate());     // no gates given
    EXPECT_FALSE(kPassed.crossedGate());     // passed
    EXPECT_FALSE(kNoVerdict.crossedGate());  // not scored
    EXPECT_TRUE(kCrossed.crossedGate());
    EXPECT_FALSE(kCrossed.failed());  // a crossed gate is not a failure of the file
}

// Binary fractions, so every format's text is known by hand.
const FileResult kExplained{
    "e.ppm", Scores{2.5f, 3.0f}, "", std::nullopt,
    ExplanationNumbers{
        {0.5f, 0.25f, 0.125f, 0.125f}, {0.75f, 0.5f, 0.25f}, 0.0625f, {1.0f, 2.0f, 3.0f, 4.5f}}};

TEST(ResultWriter, CsvAndTsvExplanationColumnsFollowTheOthersAndStayEmptyOnFailure) {
    const std::string header =
        "file,measure,score,error,term_base,term_crown2,term_crown3,term_crown4,channel_A,"
        "channel_C1,channel_C2,structure_share,p50,p95,p99,max\n";
    EXPECT_EQ(writeAll(OutputFormat::Csv, {kExplained, kUnreadable}, ExplanationColumns::Included),
              header +
                  "e.ppm,2.5,3,,0.5,0.25,0.125,0.125,0.75,0.5,0.25,0.0625,1,2,3,4.5\n"
                  "bad.ppm,,,\"cannot read image \"\"bad.ppm\"\": no such file\",,,,,,,,,,,,\n");
    const std::string tsv = writeAll(OutputFormat::Tsv, {kExplained}, ExplanationColumns::Included);
    EXPECT_EQ(tsv.substr(tsv.find('\n') + 1),
              "e.ppm\t2.5\t3\t\t0.5\t0.25\t0.125\t0.125\t0.75\t0.5\t0.25\t0.0625\t1\t2\t3\t4.5\n");
}

TEST(ResultWriter, JsonExplanationIsANestedObjectOrNullOnFailure) {
    const std::string expected =
        "[\n"
        "  {\"file\": \"e.ppm\", \"measure\": 2.5, \"score\": 3, \"error\": null, "
        "\"explanation\": {\"terms\": {\"base\": 0.5, \"crown2\": 0.25, \"crown3\": 0.125, "
        "\"crown4\": 0.125}, \"channels\": {\"A\": 0.75, \"C1\": 0.5, \"C2\": 0.25}, "
        "\"structure_share\": 0.0625, \"percentiles\": {\"p50\": 1, \"p95\": 2, \"p99\": 3, "
        "\"max\": 4.5}}},\n"
        "  {\"file\": \"bad.ppm\", \"measure\": null, \"score\": null, "
        "\"error\": \"cannot read image \\\"bad.ppm\\\": no such file\", \"explanation\": "
        "null}\n"
        "]\n";
    EXPECT_EQ(writeAll(OutputFormat::Json, {kExplained, kUnreadable}, ExplanationColumns::Included),
              expected);
}

TEST(ResultWriter, TableExplanationIsOneCompactColumn) {
    const std::string expected =
        "File name       Measure         Score  Explanation\n"
        "e.ppm               2.5             3  base/c2/c3/c4 50/25/12.5/12.5%  A/C1/C2 "
        "75/50/25%  "
        "edges 6.25%  p50/p95/p99/max 1/2/3/4.5\n";
    EXPECT_EQ(writeAll(OutputFormat::Table, {kExplained}, ExplanationColumns::Included), expected);
}

// Numbers that come with a row are printed only when the columns were asked for.
TEST(ResultWriter, WithoutExplanationColumnsRowsAreUnchanged) {
    FileResult plain = kExplained;
    plain.explanation.reset();
    for (const OutputFormat format :
         {OutputFormat::Table, OutputFormat::Csv, OutputFormat::Tsv, OutputFormat::Json}) {
        EXPECT_EQ(writeAll(format, {kExplained}), writeAll(format, {plain}));
    }
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
