#include "cli/ProgressBar.h"

#include <algorithm>
#include <ostream>

namespace lumetra {

namespace {

constexpr std::size_t kBarWidth = 30;  // cells between the brackets
constexpr char kDoneCell = '#';
constexpr char kPendingCell = '.';

}  // namespace

std::string progressLine(std::size_t done, std::size_t total) {
    const std::size_t shown = std::min(done, total);
    const std::size_t filled = total == 0 ? kBarWidth : shown * kBarWidth / total;
    return "[" + std::string(filled, kDoneCell) + std::string(kBarWidth - filled, kPendingCell) +
           "]  " + std::to_string(shown) + "/" + std::to_string(total);
}

ProgressBar::ProgressBar(std::ostream& terminal, std::size_t total, Mode mode)
    : _terminal(terminal), _total(total), _enabled(mode == Mode::Enabled) {}

ProgressBar::~ProgressBar() {
    clear();
}

void ProgressBar::update(std::size_t done) {
    _done = done;
    redraw();
}

void ProgressBar::clear() {
    if (!_enabled || _shownWidth == 0) return;
    _terminal << '\r' << std::string(_shownWidth, ' ') << '\r' << std::flush;
    _shownWidth = 0;
}

void ProgressBar::redraw() {
    if (!_enabled) return;
    const std::string line = progressLine(_done, _total);
    // Spaces cover what is left of a longer line drawn before.
    const std::size_t cover = _shownWidth > line.size() ? _shownWidth - line.size() : 0;
    _terminal << '\r' << line << std::string(cover, ' ') << std::flush;
    _shownWidth = line.size() + cover;
}

}  // namespace lumetra
