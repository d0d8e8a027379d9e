#include "image/SystemMemory.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace lumetra {

namespace {

namespace fs = std::filesystem;

constexpr const char* kMemInfoPath = "/proc/meminfo";
constexpr const char* kAvailableField = "MemAvailable:";
constexpr std::uint64_t kBytesPerKibibyte = 1024;  // /proc/meminfo counts in kB = 1024 bytes
constexpr const char* kOwnGroupPath = "/proc/self/cgroup";
constexpr const char* kControlGroupRoot = "/sys/fs/cgroup";
// A version 1 group without a limit reports one near 2^63 rounded to pages; anything from 2^60
// bytes (an exbibyte) up is no limit.
constexpr std::uint64_t kNoLimitFrom = std::uint64_t{1} << 60;

// The first number in the file at `path`; nullopt when there is none ("max", no file).
std::optional<std::uint64_t> numberIn(const fs::path& path) {
    std::ifstream file(path);
    std::uint64_t value = 0;
    if (file >> value) return value;
    return std::nullopt;
}

// limit - usage of one group folder, when it has a limit.
std::optional<std::uint64_t> roomIn(const fs::path& folder, const char* limitName,
                                    const char* usageName) {
    const std::optional<std::uint64_t> limit = numberIn(folder / limitName);
    const std::optional<std::uint64_t> usage = numberIn(folder / usageName);
    if (!limit || !usage || *limit >= kNoLimitFrom) return std::nullopt;
    return *limit > *usage ? *limit - *usage : 0;
}

// The group's own folder when the mount shows it, else the mount's root (inside a container,
// the root is the container's own group).
std::optional<std::uint64_t> roomOfGroup(const fs::path& mount, const std::string& group,
                                         const char* limitName, const char* usageName) {
    const fs::path own = mount / fs::path(group).relative_path();
    if (fs::exists(own / limitName)) return roomIn(own, limitName, usageName);
    return roomIn(mount, limitName, usageName);
}

std::optional<std::uint64_t> smaller(std::optional<std::uint64_t> a,
                                     std::optional<std::uint64_t> b) {
    if (!a) return b;
    if (!b) return a;
    return std::min(*a, *b);
}

}  // namespace

std::optional<std::uint64_t> controlGroupRoom(const std::string& procSelfCgroup,
                                              const fs::path& root) {
    // Lines "ID:CONTROLLERS:PATH": version 2 is "0::PATH", version 1's memory controller
    // "N:memory:PATH".
    std::optional<std::uint64_t> room;
    std::istringstream lines(procSelfCgroup);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t first = line.find(':');
        const std::size_t second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string group = line.substr(second + 1);
        if (controllers.empty() && line.compare(0, first, "0") == 0) {
            room = smaller(room, roomOfGroup(root, group, "memory.max", "memory.current"));
        } else if (controllers == "memory") {
            room = smaller(room, roomOfGroup(root / "memory", group, "memory.limit_in_bytes",
                                             "memory.usage_in_bytes"));
        }
    }
    return room;
}

std::optional<std::uint64_t> availableMemory() {
    std::optional<std::uint64_t> available;
    std::ifstream meminfo(kMemInfoPath);
    for (std::string line; std::getline(meminfo, line);) {
        std::istringstream fields(line);
        std::string name;
        std::uint64_t kibibytes = 0;
        if (fields >> name >> kibibytes && name == kAvailableField) {
            available = kibibytes * kBytesPerKibibyte;
            break;
        }
    }
    std::ifstream groups(kOwnGroupPath);
    std::stringstream text;
    text << groups.rdbuf();
    return smaller(available, controlGroupRoom(text.str(), kControlGroupRoot));
}

}  // namespace lumetra
