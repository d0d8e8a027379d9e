#pragma once

// How much memory this process may still take before the system (or its control group, or its
// own address-space and data limits) runs out: read from /proc/meminfo, the memory controller
// of the process's control group, getrlimit and /proc/self/status.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace lumetra {

// The smallest of the memory the system can still hand out without swapping (MemAvailable of
// /proc/meminfo), the room left under this process's control-group limit, if it has one, and
// the room its address-space and data limits (RLIMIT_AS, RLIMIT_DATA: ulimit -v, prlimit
// --as) leave, if it has them (resourceLimitRoom); nullopt when none is known.
std::optional<std::uint64_t> availableMemory();

// Address space the threads of a run take besides what it allocates, counted against an
// address-space limit: each thread's stack and the malloc arena glibc reserves for it (64 MiB
// on 64-bit systems), rounded up.
inline constexpr std::uint64_t kAddressSpacePerThread = std::uint64_t{80} << 20;

// The room left under the address-space limit `addressSpaceLimit` (RLIMIT_AS) and the data
// limit `dataLimit` (RLIMIT_DATA), nullopt meaning none: each limit less what the process
// already uses of it (VmSize and VmData of `procSelfStatus`, the text of /proc/self/status),
// the address-space room also less `threads` x kAddressSpacePerThread, which the threads
// reserve as they start (virtual memory, not memory in use, but a limit counts it).  The
// smaller of the two; 0 when a limit is already reached; nullopt without limits, or when the
// usage it is set against cannot be read.
std::optional<std::uint64_t> resourceLimitRoom(std::optional<std::uint64_t> addressSpaceLimit,
                                               std::optional<std::uint64_t> dataLimit,
                                               const std::string& procSelfStatus, unsigned threads);

// The room left under the memory limit of the control group named in `procSelfCgroup` (the
// text of /proc/self/cgroup), with the control-group file systems mounted under `root`
// (/sys/fs/cgroup): memory.max - memory.current (version 2) or memory.limit_in_bytes -
// memory.usage_in_bytes (version 1), the group's own folder first, then the root of the mount
// (what a container sees of its own group).  nullopt when there is no limit or it cannot be read.
std::optional<std::uint64_t> controlGroupRoom(const std::string& procSelfCgroup,
                                              const std::filesystem::path& root);

}  // namespace lumetra
