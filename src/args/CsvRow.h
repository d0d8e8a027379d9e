#pragma once

// Rows of comma-separated values as RFC 4180 has them, written in one place for the command
// line's csv output and the desktop program's export.

#include <string>
#include <string_view>
#include <vector>

namespace lumetra {

// A field quoted when it holds a comma, a double quote, CR or LF, with every double quote
// doubled; otherwise unchanged.
std::string csvField(std::string_view text);

// The fields, each as csvField writes it, joined by commas and ended by LF.
std::string csvRow(const std::vector<std::string>& fields);

}  // namespace lumetra
