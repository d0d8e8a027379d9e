#include <gtest/gtest.h>

#include <array>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "args/NumberText.h"
#include "args/StringTokenizer.h"

namespace lumetra {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(NumberText, GeneralTextWritesWhatPrintfGWritesInTheCLocale) {
    // Expected strings are printf("%.*g") in the C locale.
    struct Case {
        double value;
        int digits;
        const char* expected;
    };
    const Case cases[] = {
        {1234567.0, 6, "1.23457e+06"},
        {0.5, 6, "0.5"},
        {4.0, 6, "4"},
        {0.00001234, 6, "1.234e-05"},
        {999999.5, 6, "1e+06"},
        {-1.0, 6, "-1"},
        {3.8f, 9, "3.79999995"},
        {0.000751f, 9, "0.000751000014"},
        {1e300, 9, "1e+300"},
        {-kInf, 9, "-inf"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(generalText(c.value, c.digits), c.expected) << c.value << " " << c.digits;
    }
    EXPECT_EQ(generalText(-std::numeric_limits<double>::quiet_NaN(), 6), "nan");
}

TEST(NumberText, ShortestTextReadsBackAsTheSameFloat) {
    const std::vector<std::pair<float, std::string>> cases = {
        {0.000751f, "0.000751"}, {3.8f, "3.8"},     {1.0f, "1"},   {4.0f, "4"},
        {-0.5f, "-0.5"},         {1e-10f, "1e-10"}, {kInf, "inf"},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(shortestText(value), expected);
        EXPECT_EQ(readFloat(expected), value) << expected;
    }
}

TEST(NumberText, ReadFloatTakesOnlyAWholeNumber) {
    const std::vector<std::pair<std::string, float>> numbers = {
        {"0.5", 0.5f},  {"+2", 2.0f},  {"-2.5", -2.5f},      {"1e3", 1000.0f},
        {".25", 0.25f}, {"inf", kInf}, {"-Infinity", -kInf},
    };
    for (const auto& [text, expected] : numbers) EXPECT_EQ(readFloat(text), expected) << text;
    EXPECT_TRUE(std::isnan(*readFloat("nan")));

    const std::vector<std::string> notNumbers = {
        "", "-", "+", "abc", "1e", "3,8", "1,000", " 1", "1 ", "+-1", "0x10", "1e50",
    };
    for (const std::string& text : notNumbers) EXPECT_EQ(readFloat(text), std::nullopt) << text;
}

TEST(NumberText, ReadDoubleTakesOnlyAWholeNumberWithDoublePrecision) {
    // 38.2 is not a float: the double read keeps the digits the float read would lose.
    EXPECT_EQ(readDouble("38.2"), 38.2);
    EXPECT_EQ(readDouble("+1e50"), 1e50);  // beyond float, within double
    EXPECT_EQ(readDouble("-Inf"), -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(*readDouble("NaN")));
    for (const char* text : {"", "38,2", " 1", "1 ", "+-1", "1e400", "0x10", "60px"}) {
        EXPECT_EQ(readDouble(text), std::nullopt) << text;
    }
}

TEST(NumberText, ReadUnsignedTakesOnlyAWholeDecimalNumber) {
    EXPECT_EQ(readUnsigned("3"), 3u);
    EXPECT_EQ(readUnsigned("+1024"), 1024u);
    EXPECT_EQ(readUnsigned("010"), 10u);  // decimal, not octal
    EXPECT_EQ(readUnsigned("4294967295"), 4294967295u);
    for (const char* text : {"", "-1", "x", "1.5", "4294967296", "0x10", " 2"}) {
        EXPECT_EQ(readUnsigned(text), std::nullopt) << text;
    }
    EXPECT_EQ(decimalText(1024), "1024");
}

// The first installed locale whose decimal point is a comma, switched on for LC_NUMERIC for
// the life of the object; the C locale again afterwards.
class CommaLocale {
  public:
    CommaLocale() {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8",
                                 "nl_NL.UTF-8", "it_IT.UTF-8", "es_ES.UTF-8", "ru_RU.UTF-8"}) {
            if (std::setlocale(LC_NUMERIC, name) && *std::localeconv()->decimal_point == ',') {
                _active = true;
                return;
            }
        }
        std::setlocale(LC_NUMERIC, "C");
    }
    ~CommaLocale() { std::setlocale(LC_NUMERIC, "C"); }
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    bool active() const { return _active; }

  private:
    bool _active = false;
};

TEST(NumberText, CommaLocaleChangesNothing) {
    const CommaLocale locale;
    if (!locale.active()) GTEST_SKIP() << "no locale with a decimal comma is installed";
    // The locale is in force: the C library itself now writes a comma.
    std::array<char, 8> printed{};
    std::snprintf(printed.data(), printed.size(), "%.1f", 2.5);
    ASSERT_EQ(std::string(printed.data()), "2,5");

    EXPECT_EQ(generalText(3.8f, 9), "3.79999995");
    EXPECT_EQ(shortestText(0.000751f), "0.000751");
    EXPECT_EQ(readFloat("3.8"), 3.8f);
    EXPECT_EQ(readFloat("3,8"), std::nullopt);
    EXPECT_EQ(readDouble("38.2"), 38.2);
    EXPECT_EQ(token_to_double("2.5"), 2.5);
}

}  // namespace
}  // namespace lumetra
