#pragma once

// A one-line progress bar on a terminal stream, redrawn in place with a carriage return.
// Whoever writes other text to the same terminal clears the bar first and redraws it after,
// so the bar never runs into a row or a message.

#include <cstddef>
#include <iosfwd>
#include <string>

namespace lumetra {

// The bar's text for `done` of `total` files: "[#####.....]  5/10".
std::string progressLine(std::size_t done, std::size_t total);

class ProgressBar {
  public:
    // A disabled bar writes nothing at all.
    enum class Mode { Enabled, Disabled };

    ProgressBar(std::ostream& terminal, std::size_t total, Mode mode);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Shows `done` of the total.
    void update(std::size_t done);
    // Erases the bar and leaves the cursor at the start of the line.
    void clear();
    // Draws the bar again after a clear().
    void redraw();

  private:
    std::ostream& _terminal;
    std::size_t _total;
    bool _enabled;
    std::size_t _done = 0;
    std::size_t _shownWidth = 0;  // characters on the line now; 0 when cleared
};

}  // namespace lumetra
