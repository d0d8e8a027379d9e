#include "args/NumberText.h"

#include <array>
#include <charconv>
#include <cmath>
#include <system_error>

namespace lumetra {

namespace {

// Longest "%.*g" text of a double: sign, 17 digits, point, "e-308" and room to spare.
constexpr std::size_t kNumberBufferSize = 32;

// The text after a leading '+', which from_chars does not take; a sign after it ("+-1")
// stays and so makes the text unreadable, as it should.
std::string_view withoutPlus(std::string_view text) {
    if (!text.empty() && text.front() == '+' && text.size() > 1 && text[1] != '-' &&
        text[1] != '+') {
        text.remove_prefix(1);
    }
    return text;
}

template <typename T, typename... Format>
std::optional<T> readWhole(std::string_view text, Format... format) {
    text = withoutPlus(text);
    T value{};
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, format...);
    if (error != std::errc() || stop != end) return std::nullopt;
    return value;
}

}  // namespace

std::string generalText(double value, int digits) {
    if (std::isnan(value)) return "nan";  // never "-nan"
    std::array<char, kNumberBufferSize> buffer{};
    const auto end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                   std::chars_format::general, digits)
                         .ptr;
    return std::string(buffer.data(), end);
}

std::string decimalText(unsigned long long value) {
    std::array<char, kNumberBufferSize> buffer{};
    const auto end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value).ptr;
    return std::string(buffer.data(), end);
}

std::string shortestText(float value) {
    if (std::isnan(value)) return "nan";
    std::array<char, kNumberBufferSize> buffer{};
    const auto end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value).ptr;
    return std::string(buffer.data(), end);
}

std::optional<float> readFloat(std::string_view text) {
    return readWhole<float>(text, std::chars_format::general);
}

std::optional<double> readDouble(std::string_view text) {
    return readWhole<double>(text, std::chars_format::general);
}

std::optional<unsigned> readUnsigned(std::string_view text) {
    return readWhole<unsigned>(text);
}

}  // namespace lumetra
