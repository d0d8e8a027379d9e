#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "args/CsvRow.h"

namespace lumetra {
namespace {

TEST(CsvRow, FieldIsQuotedOnlyWhenRfc4180RequiresIt) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain/path.ppm", "plain/path.ppm"},
        {"", ""},
        {"a,b.ppm", "\"a,b.ppm\""},
        {"say \"hi\".ppm", "\"say \"\"hi\"\".ppm\""},
        {"\"", "\"\"\"\""},  // a lone quote: doubled, then quoted
        {"line\nbreak", "\"line\nbreak\""},
        {"carriage\rreturn", "\"carriage\rreturn\""},
        {"tab\there", "tab\there"},  // a tab is no separator in CSV
        {"caf\xC3\xA9.ppm", "caf\xC3\xA9.ppm"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(csvField(text), expected) << text;
}

TEST(CsvRow, RowJoinsQuotedFieldsWithCommasAndEndsWithLineFeed) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"file", "measure", "score", "error"}, "file,measure,score,error\n"},
        {{"x,y.ppm", "0", "3.79999995", ""}, "\"x,y.ppm\",0,3.79999995,\n"},
        {{"bad.ppm", "", "", "cannot read \"bad.ppm\""},
         "bad.ppm,,,\"cannot read \"\"bad.ppm\"\"\"\n"},
        {{"a\nb"}, "\"a\nb\"\n"},
        {{}, "\n"},
    };
    for (const auto& [fields, expected] : cases) EXPECT_EQ(csvRow(fields), expected);
}

}  // namespace
}  // namespace lumetra
