#include "cli/TextFormat.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace lumetra {

namespace {

constexpr int kShortDigits = 6;  // the desktop table's precision
constexpr int kFullDigits = 9;   // FLT_DECIMAL_DIG: every float reads back exactly

// Longest "%.*g" of a double: sign, 17 digits, point, "e-308" and the terminator fit.
constexpr std::size_t kNumberBufferSize = 32;

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7f;

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

std::string formatG(double value, int digits) {
    if (std::isnan(value)) return "nan";  // never "-nan"
    std::array<char, kNumberBufferSize> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "%.*g", digits, value);
    return buffer.data();
}

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

std::string hexEscape(const char* pattern, unsigned char byte) {
    std::array<char, 8> buffer{};
    std::snprintf(buffer.data(), buffer.size(), pattern, static_cast<unsigned>(byte));
    return buffer.data();
}

}  // namespace

std::string shortNumber(double value) {
    return formatG(value, kShortDigits);
}

std::string fullNumber(float value) {
    return formatG(static_cast<double>(value), kFullDigits);
}

std::string csvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
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

std::string jsonString(std::string_view text) {
    std::string literal = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80) {
            const std::size_t length = utf8SequenceLength(text, i);
            if (length == 0) {
                literal += kReplacementCharacter;
                ++i;
            } else {
                literal += text.substr(i, length);
                i += length;
            }
            continue;
        }
        switch (byte) {
            case '"':
                literal += "\\\"";
                break;
            case '\\':
                literal += "\\\\";
                break;
            case '\b':
                literal += "\\b";
                break;
            case '\f':
                literal += "\\f";
                break;
            case '\n':
                literal += "\\n";
                break;
            case '\r':
                literal += "\\r";
                break;
            case '\t':
                literal += "\\t";
                break;
            default:
                if (byte < kFirstPrintable) {
                    literal += hexEscape("\\u%04x", byte);
                } else {
                    literal += static_cast<char>(byte);
                }
        }
        ++i;
    }
    literal += '"';
    return literal;
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
            shown += hexEscape("\\x%02x", byte);
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

}  // namespace lumetra
