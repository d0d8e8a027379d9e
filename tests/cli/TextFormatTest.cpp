#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "cli/TextFormat.h"

namespace lumetra {
namespace {

TEST(TextFormat, ShortNumberHasSixSignificantDigitsLikeTheDesktopTable) {
    // Expected strings are what the desktop table shows (six significant digits, exponent
    // notation when the exponent is below -4 or at least 6).
    const std::vector<std::pair<double, std::string>> cases = {
        {1234567.0, "1.23457e+06"},
        {0.5, "0.5"},
        {4.0, "4"},
        {0.0, "0"},
        {-1.0, "-1"},
        {123456.0, "123456"},
        {999999.5, "1e+06"},
        {0.0001, "0.0001"},
        {0.00001234, "1.234e-05"},
        {3.8, "3.8"},
        {736.982361, "736.982"},
        {3.24652624, "3.24653"},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(shortNumber(value), expected) << "value " << value;
    }
}

TEST(TextFormat, NotANumberIsWrittenWithoutSign) {
    EXPECT_EQ(shortNumber(std::numeric_limits<double>::quiet_NaN()), "nan");
    EXPECT_EQ(shortNumber(-std::numeric_limits<double>::quiet_NaN()), "nan");
    EXPECT_EQ(fullNumber(-std::numeric_limits<float>::quiet_NaN()), "nan");
    EXPECT_EQ(fullNumber(std::numeric_limits<float>::infinity()), "inf");
}

TEST(TextFormat, FullNumberHasNineSignificantDigits) {
    // The golden table's numbers are floats printed the same way.
    EXPECT_EQ(fullNumber(3.8f), "3.79999995");
    EXPECT_EQ(fullNumber(736.982361f), "736.982361");
    EXPECT_EQ(fullNumber(4026.86035f), "4026.86035");
    EXPECT_EQ(fullNumber(0.0f), "0");
    EXPECT_EQ(fullNumber(-1.0f), "-1");
    EXPECT_EQ(fullNumber(1234567.0f), "1234567");
    // The float nearest 0.000751 (Python: struct.unpack('f', struct.pack('f', 0.000751))).
    EXPECT_EQ(fullNumber(0.000751f), "0.000751000014");
}

TEST(TextFormat, FullNumberReadsBackToTheSameFloat) {
    // Seeded raw bit patterns cover every exponent; the standard distributions are avoided
    // because they differ between libraries.
    std::mt19937 bits(20240501u);
    for (int i = 0; i < 10000; ++i) {
        const std::uint32_t pattern = static_cast<std::uint32_t>(bits());
        float value = 0.0f;
        std::memcpy(&value, &pattern, sizeof value);
        if (!std::isfinite(value)) continue;
        const std::string text = fullNumber(value);
        EXPECT_EQ(std::strtof(text.c_str(), nullptr), value) << text;
    }
}

TEST(TextFormat, TsvFieldEscapesSeparatorsAndBackslash) {
    EXPECT_EQ(tsvField("a\tb\nc\rd\\e"), "a\\tb\\nc\\rd\\\\e");
    EXPECT_EQ(tsvField("a,\"b\".ppm"), "a,\"b\".ppm");
}

TEST(TextFormat, JsonStringEscapesQuotesBackslashesAndControls) {
    EXPECT_EQ(jsonString("a.ppm"), "\"a.ppm\"");
    EXPECT_EQ(jsonString("say \"hi\"\\x"), "\"say \\\"hi\\\"\\\\x\"");
    EXPECT_EQ(jsonString("\n\r\t\b\f"), "\"\\n\\r\\t\\b\\f\"");
    EXPECT_EQ(jsonString(std::string("\x01\x1f", 2)), "\"\\u0001\\u001f\"");
    EXPECT_EQ(jsonString(std::string(1, '\0')), "\"\\u0000\"");
    EXPECT_EQ(jsonString("\x7f/"), "\"\x7f/\"");
}

TEST(TextFormat, JsonStringKeepsValidUtf8AndReplacesInvalidBytes) {
    const std::string replacement = "\xEF\xBF\xBD";
    // Two-, three- and four-byte sequences pass through.
    EXPECT_EQ(jsonString("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"),
              "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\"");
    // Each byte that starts no well-formed sequence becomes one U+FFFD.
    const std::vector<std::pair<std::string, int>> invalid = {
        {"\xE9", 1},              // Latin-1 e acute
        {"\xC0\xAF", 2},          // overlong '/'
        {"\xED\xA0\x80", 3},      // a UTF-16 surrogate
        {"\xF4\x90\x80\x80", 4},  // above U+10FFFF
        {"\xE2\x82", 2},          // cut short by the next character
        {"\x80", 1},              // a lone continuation byte
    };
    for (const auto& [bytes, count] : invalid) {
        std::string expected = "\"a";
        for (int i = 0; i < count; ++i) expected += replacement;
        expected += "b\"";
        EXPECT_EQ(jsonString("a" + bytes + "b"), expected) << count;
    }
}

}  // namespace
}  // namespace lumetra
