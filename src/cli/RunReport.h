#pragma once

// The report of one command-line run (--report DIR): what it shows of each row, and the
// writing of its page and of the original's picture.  The degraded pictures and heat maps are
// written by the run as each file is scored.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "cli/Report.h"
#include "cli/ResultWriter.h"
#include "image/RgbImage.h"

namespace lumetra {

// What the report shows of one row (its pictures are added by writeRunReport).
ReportFile reportFileOf(const FileResult& result);

// How the report's heat maps were drawn: the legend beside the table (none when no heat map
// was drawn) and, when each file has its own scale, each file's top.
struct ReportHeatMaps {
    std::optional<ReportLegend> legend;
    std::vector<std::optional<float>> tops;  // one per file, or empty
};

// Writes `dir`/original.png and `dir`/index.html for the run, `images` being the degraded
// pictures' paths, one per file; pictures that were not written are left out of the page.
// Returns what went wrong, empty when nothing did.
std::string writeRunReport(const std::filesystem::path& dir, const Options& options,
                           const RgbImage& original,
                           const std::vector<std::filesystem::path>& images,
                           std::vector<ReportFile> files, const ReportHeatMaps& heatMaps);

// The gates in words, "measure above 1500, p99 above 400"; empty without any gate.
std::string gatesText(const QualityGates& gates);

// The viewing conditions in words: "60 pixels per degree (the standard viewing geometry)",
// "44.26 pixels per degree (--display 1920,53,70)", or the profile's.
std::string viewingText(const Options& options);

}  // namespace lumetra
