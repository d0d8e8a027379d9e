#include "cli/TextFormat.h"

#include <array>
#include <charconv>
#include <nlohmann/json.hpp>

#include "args/NumberText.h"

namespace lumetra {

namespace {

constexpr int kShortDigits = 6;  // the desktop table's precision
constexpr int kFullDigits = 9;   // FLT_DECIMAL_DIG: every float reads back exactly

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7f;

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence starting at text[i] (Unicode's table of
// well-formed byte sequences: no overlong forms, no surrogates, nothing above U+10FFFF),
// or 0 when there is none.
std::size_t utf8SequenceLength(std::string_view text, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = at(i);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char secondLow = 0x80;
    unsigned char secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) secondLow = 0xA0;
        if (lead == 0xED) secondHigh = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) secondLow = 0x90;
        if (lead == 0xF4) secondHigh = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    if (at(i + 1) < secondLow || at(i + 1) > secondHigh) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (!isContinuation(at(i + k))) return 0;
    }
    return length;
}

// `prefix` and the byte as two lower-case hexadecimal digits: ("\\x", 0x1b) -> "\\x1b".
std::string hexEscape(std::string_view prefix, unsigned char byte) {
    constexpr int kHexBase = 16;
    std::array<char, 2> digits{'0', '0'};
    const char* end =
        std::to_chars(digits.data(), digits.data() + digits.size(), byte, kHexBase).ptr;
    // A byte below 16 has one digit; it goes after the leading zero.
    if (end == digits.data() + 1) std::swap(digits[0], digits[1]);
    return std::string(prefix) + std::string(digits.data(), digits.size());
}

// The text with every byte that starts no well-formed UTF-8 sequence replaced by U+FFFD, one
// replacement per byte.
std::string validUtf8(std::string_view text) {
    std::string valid;
    valid.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8SequenceLength(text, i);
        if (length == 0) {
            valid += kReplacementCharacter;
            ++i;
        } else {
            valid += text.substr(i, length);
            i += length;
        }
    }
    return valid;
}

}  // namespace

std::string shortNumber(double value) {
    return generalText(value, kShortDigits);
}

std::string fullNumber(float value) {
    return generalText(static_cast<double>(value), kFullDigits);
}

std::string tsvField(std::string_view text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\t':
                escaped += "\\t";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\r':
                escaped += "\\r";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

// nlohmann's own replacement of invalid UTF-8 takes a cut-short sequence as one character;
// the bytes are replaced one by one first, so that each gets its U+FFFD, and the dump's
// handler then never finds anything to replace.
std::string jsonString(std::string_view text) {
    constexpr int kCompact = -1;  // no indentation, no line breaks
    constexpr char kIndentChar = ' ';
    constexpr bool kEnsureAscii = false;  // UTF-8 stays as it is
    return nlohmann::json(validUtf8(text))
        .dump(kCompact, kIndentChar, kEnsureAscii, nlohmann::json::error_handler_t::replace);
}

std::string printable(std::string_view text) {
    std::string shown;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= kFirstPrintable && byte != kDelete) {
            shown += c;
        } else if (c == '\n') {
            shown += "\\n";
        } else if (c == '\t') {
            shown += "\\t";
        } else if (c == '\r') {
            shown += "\\r";
        } else {
            shown += hexEscape("\\x", byte);
        }
    }
    return shown;
}

std::size_t displayWidth(std::string_view text) {
    std::size_t width = 0;
    for (char c : text) {
        if (!isContinuation(static_cast<unsigned char>(c))) ++width;
    }
    return width;
}

void appendProblem(std::string& problems, const std::string& problem) {
    if (problem.empty()) return;
    if (!problems.empty()) problems += "; ";
    problems += problem;
}

}  // namespace lumetra
