#pragma once

// The report of one command-line run (--report DIR): what it shows of each row, and the
// writing of its page and of the original's picture.  The degraded pictures and heat maps are
// written by the run as each file is scored.

#include <filesystem>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "cli/Report.h"
#include "cli/ResultWriter.h"
#include "image/RgbImage.h"

namespace lumetra {

// What the report shows of one row (its pictures are added by writeRunReport).
ReportFile reportFileOf(const FileResult& result);

// Writes `dir`/original.png and `dir`/index.html for the run, `images` being the degraded
// pictures' paths, one per file; pictures that were not written are left out of the page.
// Returns what went wrong, empty when nothing did.
std::string writeRunReport(const std::filesystem::path& dir, const Options& options,
                           const RgbImage& original,
                           const std::vector<std::filesystem::path>& images,
                           std::vector<ReportFile> files);

}  // namespace lumetra
