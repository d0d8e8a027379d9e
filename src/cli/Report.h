#pragma once

// The HTML report of a run: one self-contained page, DIR/index.html, beside the pictures it
// shows.  It holds the original, the parameters and viewing conditions, and a table of every
// file (measure, score, gate, percentiles, term and channel shares) that sorts by any column
// when its heading is clicked, with a thumbnail of each degraded image and of its heat map,
// each opening at full size.  Nothing is fetched from the network: the styles and the sorting
// script are in the page.
//
// The page sorts on opening when its address ends in #sort=<column> (or #sort=-<column> for
// descending order), so a link can show the worst files first.

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lumetra {

struct ReportFile {
    std::string path;  // the degraded file as given
    std::optional<float> measure;
    std::optional<float> score;
    std::string error;  // why the file failed, empty when it did not
    std::string gate;   // the gates it failed, empty when none
    // p50, p95, p99 and max of the error map, when known.
    std::optional<std::array<float, 4>> percentiles;
    // Shares of the four terms and of the three channels, when the run explained its scores.
    std::optional<std::array<float, 4>> termShares;
    std::optional<std::array<float, 3>> channelShares;
    // Pictures in the report's folder, relative to it; empty when there is none.
    std::string image;
    std::string heatMap;
};

struct ReportRun {
    std::string original;       // the original file as given
    std::string originalImage;  // its picture in the report's folder, relative to it
    // One line per parameter, e.g. {"beta", "4"}, in the order they are shown.
    std::vector<std::pair<std::string, std::string>> parameters;
    std::vector<ReportFile> files;
};

// The page's text.
std::string reportHtml(const ReportRun& run);

// Writes reportHtml(run) as dir/index.html, whole or not at all.  Throws Error when it cannot
// be written.
void writeReport(const std::filesystem::path& dir, const ReportRun& run);

}  // namespace lumetra
