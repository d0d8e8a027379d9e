#include "cli/OutputNames.h"

#include <sys/stat.h>

#include <optional>
#include <set>
#include <system_error>

namespace lumetra {

namespace {

namespace fs = std::filesystem;

// Stem of a path that names no file (empty, or a folder with a trailing slash).
constexpr const char* kUnnamedStem = "unnamed";
// The first counter given to a repeated stem: the second "x" becomes "x-2".
constexpr unsigned kFirstCounter = 2;

std::string stemOf(const std::string& path) {
    const std::string stem = fs::path(path).stem().string();
    return stem.empty() ? kUnnamedStem : stem;
}

// Absolute, with symbolic links of the existing part resolved and "." and ".." removed.
// Made absolute first: a relative path none of whose parts exist would stay relative.
fs::path normalised(const fs::path& path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    if (ec) return path.lexically_normal();
    const fs::path canonical = fs::weakly_canonical(absolute, ec);
    return ec ? absolute.lexically_normal() : canonical;
}

using FileIdentity = std::pair<std::uint64_t, std::uint64_t>;

// Device and inode of the file a path names after following symbolic links; nullopt when
// there is no such file.
std::optional<FileIdentity> identityOf(const fs::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                        static_cast<std::uint64_t>(status.st_ino)};
}

}  // namespace

std::vector<fs::path> mapPaths(const std::vector<std::string>& degraded, const fs::path& dir,
                               const std::string& suffix) {
    std::vector<std::string> stems;
    stems.reserve(degraded.size());
    for (const std::string& path : degraded) stems.push_back(stemOf(path));

    // A counter name never takes a stem that another file has by its own name.
    const std::set<std::string> ownStems(stems.begin(), stems.end());
    std::set<std::string> used;
    std::vector<fs::path> paths;
    paths.reserve(degraded.size());
    for (const std::string& stem : stems) {
        std::string name = stem;
        if (used.count(stem) != 0) {
            unsigned n = kFirstCounter;
            do {
                name = stem + "-" + std::to_string(n++);
            } while (used.count(name) != 0 || ownStems.count(name) != 0);
        }
        used.insert(name);
        paths.push_back(dir / (name + suffix));
    }
    return paths;
}

InputFiles::InputFiles(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        _paths.insert(normalised(path));
        if (const std::optional<FileIdentity> identity = identityOf(path)) {
            _identities.insert(*identity);
        }
    }
}

bool InputFiles::wouldReplace(const fs::path& output) const {
    if (_paths.count(normalised(output)) != 0) return true;
    const std::optional<FileIdentity> identity = identityOf(output);
    return identity && _identities.count(*identity) != 0;
}

}  // namespace lumetra
