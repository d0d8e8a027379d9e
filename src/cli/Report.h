#pragma once

// The HTML report of a run: one self-contained page, DIR/index.html, beside the pictures it
// shows.  From the top:
//   summary   the original, the viewing conditions and parameters (or profile), the tool's
//             version, the date, the command line, the counts (scored, failed, crossed a gate)
//             and the spread of the measures (min, median, max)
//   table     every file (measure, score, gate as pass or FAIL with the gates' names,
//             thumbnails, a histogram of its error map, mean and percentiles, shares in
//             percent with --explain), sorted by any column when its heading is clicked; a
//             failed file's row is marked and its message has a line of its own; beside the
//             table, the heat maps' one colour bar with its title, units and scale
//   compare   for any row, in the page: the original and the degraded image side by side or
//             as a flicker, the heat map laid over them with an opacity slider, zoom and pan
//             in step across the views, the previous or next file by key
// Nothing is fetched from the network: the styles, the script and the files' numbers are in
// the page.  It fits a 1280-pixel-wide window without a horizontal scroll bar.
//
// The page sorts on opening when its address ends in #sort=<column> (or #sort=-<column> for
// descending order), so a link can show the worst files first; #compare=<n> opens the compare
// view on the n-th file (from 1), and #keys=<k1>,<k2>,... then plays those key presses (or,
// for a word starting with '#', clicks the element of that id), so that a link, and a test,
// can show any state of it.

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "image/HeatMap.h"

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
    // The share of the measure from where the edge structure changed, with --explain.
    std::optional<float> structureShare = std::nullopt;
    // The error map's mean and histogram (shares of its values in equal bins from 0 to
    // histogramTop), when known.
    std::optional<float> mean = std::nullopt;
    std::vector<float> histogram = {};
    float histogramTop = 0.0f;
    // The top of the scale its heat map was drawn on, when each file has its own.
    std::optional<float> heatTop = std::nullopt;
};

// The heat maps' scale as the legend beside the table shows it.
struct ReportLegend {
    HeatScaleMode mode = HeatScaleMode::Shared;
    // The scale the run's maps share (its max, curve, knee and colours); with PerFile only
    // its colours count, each file's top being ReportFile::heatTop.
    HeatScale scale;
};

struct ReportRun {
    std::string original;       // the original file as given
    std::string originalImage;  // its picture in the report's folder, relative to it
    // One line per parameter, e.g. {"beta", "4"}, in the order they are shown.
    std::vector<std::pair<std::string, std::string>> parameters;
    std::vector<ReportFile> files;
    std::string version;                 // of the tool that wrote the page
    std::string date;                    // when the run ended, e.g. "2026-12-09 15:30 UTC"
    std::string commandLine;             // the command line that made the report
    std::string viewing;                 // e.g. "60 pixels per degree (standard)" or the profile's
    std::string gates;                   // the gates in words; empty when the run had none
    std::optional<ReportLegend> legend;  // none when no heat map was drawn
};

// The counts and spread of measures the summary shows.
struct ReportSummary {
    std::size_t scored = 0;   // files with a measure
    std::size_t failed = 0;   // files without one, or whose outputs failed
    std::size_t crossed = 0;  // scored files that crossed a gate
    std::optional<float> minMeasure, medianMeasure, maxMeasure;  // of the scored files
};

// The summary of the files: the median of an even count is the mean of the middle two.
ReportSummary summaryOf(const std::vector<ReportFile>& files);

// The page's text.
std::string reportHtml(const ReportRun& run);

// Writes reportHtml(run) as dir/index.html, whole or not at all.  Throws Error when it cannot
// be written.
void writeReport(const std::filesystem::path& dir, const ReportRun& run);

}  // namespace lumetra
