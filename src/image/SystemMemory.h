#pragma once

// How much memory this process may still take before the system (or its control group) runs
// out: read from /proc/meminfo and the memory controller of the process's control group.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace lumetra {

// The smaller of the memory the system can still hand out without swapping (MemAvailable of
// /proc/meminfo) and the room left under this process's control-group limit, if it has one;
// nullopt when neither is known.
std::optional<std::uint64_t> availableMemory();

// The room left under the memory limit of the control group named in `procSelfCgroup` (the
// text of /proc/self/cgroup), with the control-group file systems mounted under `root`
// (/sys/fs/cgroup): memory.max - memory.current (version 2) or memory.limit_in_bytes -
// memory.usage_in_bytes (version 1), the group's own folder first, then the root of the mount
// (what a container sees of its own group).  nullopt when there is no limit or it cannot be read.
std::optional<std::uint64_t> controlGroupRoom(const std::string& procSelfCgroup,
                                              const std::filesystem::path& root);

}  // namespace lumetra
