#pragma once

// Names of the temporary files and folders the programs make beside their outputs, and the
// removal of those a killed run left behind.
//
// A temporary is named after what it becomes, then ".partial-", the process id of its maker
// and six random letters: "heat.png.partial-4711-Xa9zQk".  A run stopped in an orderly way
// removes its own; one killed outright (SIGKILL, a power cut) cannot, and the next run into
// the same folder recognises them by that form: the process that made them is gone and they
// are older than the run.  Nothing else is ever removed.

#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace lumetra {

// A fresh temporary name for `target`: the target's path with its file name cut so that the
// mark, the process id and the letters still fit in a file name, then those.
std::string temporaryName(const std::string& target, std::random_device& random);

// Removes from `folder` (not below it) every file or folder whose name has a temporary's form,
// whose maker no longer runs and which last changed before `before`.  Returns the paths
// removed; a folder that cannot be read or an entry that cannot be removed is passed over.
std::vector<std::filesystem::path> removeAbandonedTemporaries(
    const std::filesystem::path& folder, std::filesystem::file_time_type before);

}  // namespace lumetra
