#pragma once

// Names of the map files written for the degraded images: DIR/<stem><suffix>, the stem being
// the degraded file's name without its extension.  Two degraded files with the same stem
// (the same name in different folders, or one file given twice) get distinct names, and no
// map may replace a file the batch reads.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace lumetra {

// The map suffixes of --error-maps, --float-maps and --heatmaps.
inline constexpr const char* kErrorMapSuffix = ".errmap.png";
inline constexpr const char* kFloatMapSuffix = ".errmap.pfm";
inline constexpr const char* kHeatMapSuffix = ".heatmap.png";
// The report's pictures of each degraded file and of its heat map.
inline constexpr const char* kReportImageSuffix = ".degraded.png";
inline constexpr const char* kReportHeatMapSuffix = ".heat.png";

// The maps of --explain-maps, each written as DIR/<stem>.<name>.pfm, in the order they are
// written.
inline constexpr std::size_t kExplanationMapCount = 10;
inline constexpr std::array<const char*, kExplanationMapCount> kExplanationMapNames{
    "term-base",  "term-crown2", "term-crown3",  "term-crown4", "channel-A",
    "channel-C1", "channel-C2",  "block-weight", "edge-zone",   "share"};
inline constexpr const char* kExplanationMapExtension = ".pfm";

// One output path per degraded path, in the same order.  The first file of a stem gets
// DIR/<stem><suffix>; each later one gets DIR/<stem>-<n><suffix> with the smallest n >= 2
// that no other file of the batch uses or would get by its own stem.  Works on the names
// only; the filesystem is not consulted.
std::vector<std::filesystem::path> mapPaths(const std::vector<std::string>& degraded,
                                            const std::filesystem::path& dir,
                                            const std::string& suffix);

// The files a batch reads, so that no output replaces one of them.  Built once per batch:
// checking an output costs a lookup, not a pass over every input.
class InputFiles {
  public:
    explicit InputFiles(const std::vector<std::string>& paths);

    // True when writing `output` would replace one of the files: the same path once made
    // absolute and normalised (symbolic links of its folders resolved), or an existing file
    // that is one of them under another name (a hard or symbolic link).
    bool wouldReplace(const std::filesystem::path& output) const;

  private:
    std::set<std::filesystem::path> _paths;
    std::set<std::pair<std::uint64_t, std::uint64_t>> _identities;  // device and inode
};

}  // namespace lumetra
