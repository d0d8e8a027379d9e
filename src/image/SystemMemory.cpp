#include "image/SystemMemory.h"

#include <sys/resource.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <thread>

namespace lumetra {

namespace {

namespace fs = std::filesystem;

constexpr const char* kMemInfoPath = "/proc/meminfo";
constexpr const char* kAvailableField = "MemAvailable:";
constexpr std::uint64_t kBytesPerKibibyte = 1024;  // /proc/meminfo counts in kB = 1024 bytes
constexpr const char* kOwnGroupPath = "/proc/self/cgroup";
constexpr const char* kOwnStatusPath = "/proc/self/status";
constexpr const char* kAddressSpaceField = "VmSize:";  // in kB
constexpr const char* kDataField = "VmData:";          // in kB
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

// The value, in kB, of the field `name` of /proc/self/status text, in bytes.
std::optional<std::uint64_t> statusField(const std::string& status, const char* name) {
    std::istringstream lines(status);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string field;
        std::uint64_t kibibytes = 0;
        if (fields >> field >> kibibytes && field == name) return kibibytes * kBytesPerKibibyte;
    }
    return std::nullopt;
}

// limit - used - reserved, 0 when that is not positive; nullopt without a limit or a usage.
std::optional<std::uint64_t> roomUnder(std::optional<std::uint64_t> limit,
                                       std::optional<std::uint64_t> used, std::uint64_t reserved) {
    if (!limit || !used) return std::nullopt;
    const std::uint64_t taken = *used + reserved;
    return *limit > taken ? *limit - taken : 0;
}

// The soft limit of `resource`; nullopt when there is none (RLIM_INFINITY) or it cannot be read.
std::optional<std::uint64_t> softLimit(int resource) {
    struct rlimit limit {};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
    return static_cast<std::uint64_t>(limit.rlim_cur);
}

std::string fileText(const char* path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace

std::optional<std::uint64_t> resourceLimitRoom(std::optional<std::uint64_t> addressSpaceLimit,
                                               std::optional<std::uint64_t> dataLimit,
                                               const std::string& procSelfStatus,
                                               unsigned threads) {
    const std::uint64_t threadReserve = std::uint64_t{threads} * kAddressSpacePerThread;
    return smaller(roomUnder(addressSpaceLimit, statusField(procSelfStatus, kAddressSpaceField),
                             threadReserve),
                   roomUnder(dataLimit, statusField(procSelfStatus, kDataField), 0));
}

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
    available = smaller(available, controlGroupRoom(fileText(kOwnGroupPath), kControlGroupRoot));
    const std::optional<std::uint64_t> addressSpace = softLimit(RLIMIT_AS);
    const std::optional<std::uint64_t> data = softLimit(RLIMIT_DATA);
    if (!addressSpace && !data) return available;
    // Every thread the machine has may be started (the run's task arena has at most as many).
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    return smaller(available,
                   resourceLimitRoom(addressSpace, data, fileText(kOwnStatusPath), threads));
}

}  // namespace lumetra
