#pragma once

// The folder of a run's report (--report DIR), which always shows exactly one run.
//
// The run writes its report into a hidden folder of its own beside DIR (a temporary, named as
// image/Temporaries.h says) and, once the page is written, swaps that folder in for DIR whole:
// a reader sees the earlier report or the new one, never a mix, and two runs writing one
// report at once each swap in a whole report of their own (the later one stays).  The swap
// holds a lock on DIR's parent folder, so the check of what DIR holds and the swap are one
// step for every run.  DIR is refused when it holds anything a report does not (a folder of
// inputs or of other files would be lost in the swap), when an input of the run is in it, and
// when it is a link.

#include <filesystem>
#include <string>

#include "cli/OutputNames.h"

namespace lumetra {

class ReportFolder {
  public:
    // Checks `target` and makes the folder the run writes into.  What prevents a report is
    // kept in problem(); nothing is made then.
    ReportFolder(std::filesystem::path target, const InputFiles& inputs);
    ReportFolder(const ReportFolder&) = delete;
    ReportFolder& operator=(const ReportFolder&) = delete;
    // Removes the run's folder unless it was swapped in.
    ~ReportFolder();

    // Why there will be no report ("cannot make the folder "r": …", "not writing the report
    // into "r": …"); empty when there will be one.
    const std::string& problem() const { return _problem; }
    // The folder the run writes the report's files into (empty when there is a problem).
    const std::filesystem::path& files() const { return _staging; }
    const std::filesystem::path& target() const { return _target; }

    // Puts the run's folder in the place of the target, removing the earlier report; the
    // target is checked again first, `inputs` being the run's.  Returns what went wrong, empty
    // when nothing did.
    std::string swapIn(const InputFiles& inputs);

  private:
    std::filesystem::path _target;
    std::filesystem::path _staging;
    std::string _problem;
};

// True when a file of that name is one a report holds: index.html, original.png, or a
// degraded image's picture or heat map.
bool isReportFileName(const std::string& name);

}  // namespace lumetra
