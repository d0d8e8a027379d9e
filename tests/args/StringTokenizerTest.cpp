#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "args/StringTokenizer.h"

namespace lumetra {
namespace {

struct Normalisation {
    const char* name;
    std::string text;
    std::string delim;
    std::string normalised;           // remainingString() right after construction
    std::vector<std::string> tokens;  // what nextToken() hands out, in order
};

class StringTokenizerNormalisation : public ::testing::TestWithParam<Normalisation> {};

TEST_P(StringTokenizerNormalisation, CollapsesRunsTrimsEndsAndSplits) {
    const Normalisation& c = GetParam();
    StringTokenizer tokenizer(c.text, c.delim);
    EXPECT_EQ(tokenizer.remainingString(), c.normalised);
    EXPECT_EQ(tokenizer.countTokens(), static_cast<int>(c.tokens.size()));

    std::vector<std::string> tokens;
    while (tokenizer.hasMoreTokens()) tokens.push_back(tokenizer.nextToken());
    EXPECT_EQ(tokens, c.tokens);
    EXPECT_EQ(tokenizer.countTokens(), 0);
    EXPECT_EQ(tokenizer.nextToken(), "");
}

INSTANTIATE_TEST_SUITE_P(
    StringTokenizer, StringTokenizerNormalisation,
    ::testing::Values(
        Normalisation{"HyphenRunsAndEnds", "--a--b-c-", "-", "a-b-c", {"a", "b", "c"}},
        Normalisation{"DoubleSpace", "a  b", " ", "a b", {"a", "b"}},
        Normalisation{"NoDelimiter", "abc", "-", "abc", {"abc"}},
        Normalisation{"OnlyDelimiters", "---", "-", "", {}},
        // A multi-character delimiter is matched whole; its characters alone stay in tokens.
        Normalisation{"MultiCharRun", "x<>y<><>z", "<>", "x<>y<>z", {"x", "y", "z"}},
        Normalisation{"MultiCharLoneHalves", "a<b>c<>d", "<>", "a<b>c<>d", {"a<b>c", "d"}},
        Normalisation{"MultiCharLeadingRun", "<><>x<", "<>", "x<", {"x<"}},
        Normalisation{"TextIsDelimiter", "<>", "<>", "", {}},
        // The trailing test must not wrap around when the delimiter is longer than the text.
        Normalisation{"DelimiterLongerThanText", "a", "ab", "a", {"a"}}),
    [](const ::testing::TestParamInfo<Normalisation>& info) { return info.param.name; });

TEST(StringTokenizer, EmptyTextOrDelimiterGivesNoTokens) {
    const std::pair<std::string, std::string> cases[] = {{"", "-"}, {"a-b", ""}, {"", ""}};
    for (const auto& [text, delim] : cases) {
        StringTokenizer tokenizer(text, delim);
        EXPECT_FALSE(tokenizer.hasMoreTokens()) << '"' << text << "\" / \"" << delim << '"';
        EXPECT_EQ(tokenizer.countTokens(), 0);
        EXPECT_EQ(tokenizer.remainingString(), "");
        EXPECT_EQ(tokenizer.nextToken(), "");
        EXPECT_EQ(tokenizer.nextToken("-"), "");
    }
}

TEST(StringTokenizer, NextTokenWithOtherDelimiterDoesNotNormalise) {
    StringTokenizer tokenizer("a,,b", " ");
    EXPECT_EQ(tokenizer.nextToken(","), "a");
    EXPECT_EQ(tokenizer.remainingString(), ",b");
    EXPECT_EQ(tokenizer.nextToken(","), "");
    EXPECT_EQ(tokenizer.remainingString(), "b");
}

TEST(StringTokenizer, NextTokenWithOtherDelimiterKeepsOwnDelimiter) {
    StringTokenizer tokenizer("k=v w", " ");
    EXPECT_EQ(tokenizer.nextToken("="), "k");
    EXPECT_EQ(tokenizer.countTokens(), 2);
    EXPECT_EQ(tokenizer.nextToken(), "v");
    EXPECT_EQ(tokenizer.nextToken(), "w");
}

TEST(StringTokenizer, EmptyOtherDelimiterTakesTheRestAsOneToken) {
    StringTokenizer tokenizer("a b", " ");
    EXPECT_EQ(tokenizer.nextToken(""), "a b");
    EXPECT_FALSE(tokenizer.hasMoreTokens());
}

TEST(StringTokenizer, FilterNextTokenDeletesEveryOccurrenceInOneToken) {
    StringTokenizer tokenizer("a_b_c x_y", " ");
    EXPECT_EQ(tokenizer.filterNextToken("_"), "abc");
    EXPECT_EQ(tokenizer.remainingString(), "x_y");

    EXPECT_EQ(StringTokenizer("a__b__", " ").filterNextToken("__"), "ab");
    // The search resumes at the deletion point, so an occurrence formed across it survives.
    EXPECT_EQ(StringTokenizer("aabb", " ").filterNextToken("ab"), "ab");
}

TEST(StringTokenizer, EmptyFilterReturnsTokenUnchanged) {
    StringTokenizer tokenizer("a_b c", " ");
    EXPECT_EQ(tokenizer.filterNextToken(""), "a_b");
    EXPECT_EQ(tokenizer.nextToken(), "c");
}

TEST(StringTokenizer, NumberTokensReadLikeAtoiAndAtof) {
    StringTokenizer ints("12abc,abc,-7, +42,2147483647,99999999999,-99999999999", ",");
    const int expectedInts[] = {12, 0, -7, 42, INT_MAX, INT_MAX, INT_MIN};
    for (const int expected : expectedInts) EXPECT_EQ(ints.nextIntToken(), expected);
    EXPECT_EQ(ints.nextIntToken(), 0);  // no token left

    // Every value is a short binary fraction, so the conversion is exact.
    StringTokenizer floats("2.5e1x abc -0.125 3", " ");
    const double expectedFloats[] = {25.0, 0.0, -0.125, 3.0};
    for (const double expected : expectedFloats) EXPECT_EQ(floats.nextFloatToken(), expected);
    EXPECT_EQ(floats.nextFloatToken(), 0.0);
}

TEST(StringTokenizer, NumberTokensReadLikeAtofAtTheEdges) {
    // strtod's readings of forms from_chars does not take by itself: white space, '+', hex
    // and numbers beyond the range of double (infinity above it, zero below it).
    const std::vector<std::pair<std::string, double>> cases = {
        {"  \t-1.5", -1.5},
        {"+4", 4.0},
        {"+-4", 0.0},
        {"0x1.8p1", 3.0},
        {"-0x10", -16.0},
        {"0xg", 0.0},
        {"1e999", HUGE_VAL},
        {"-1e999", -HUGE_VAL},
        {"1e-999", 0.0},
        {"-", 0.0},
        {"1e99999", HUGE_VAL},
        {"1e-99999", 0.0},
        // An exponent that starts "+-" is none: the number ends before the 'p' (found by
        // fuzz_tokenizer: "0x1p+-2" was read as 0.25).
        {"0x1p+-2", 1.0},
        {"-0x1.8P+-1x", -1.5},
        {"0x1p-+2", 1.0},
        {"1e+-2", 1.0},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(token_to_double(text), expected) << text;
    // After "0x" without a hex number strtod reads the 0 before the x, with the token's sign
    // (found by fuzz_tokenizer: "0x-999" was read as -0x999 and "0xnanf" as a NaN).
    const std::vector<std::pair<std::string, bool>> zeros = {
        {"0x-999", false}, {"-0x-1", true},  {"-0xg", true}, {"0x.p1", false},
        {"0xnanf", false}, {"-0xinf", true}, {"-x", false}};
    for (const auto& [text, negative] : zeros) {
        EXPECT_EQ(token_to_double(text), 0.0) << text;
        EXPECT_EQ(std::signbit(token_to_double(text)), negative) << text;
    }
    EXPECT_EQ(token_to_int(" +17x"), 17);
    EXPECT_EQ(token_to_int("-2147483648"), std::numeric_limits<int>::min());
    EXPECT_EQ(token_to_int("-+3"), 0);
}

}  // namespace
}  // namespace lumetra
