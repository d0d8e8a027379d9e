#include <gtest/gtest.h>
#include <stdlib.h>  // mkdtemp
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "image/SystemMemory.h"

namespace lumetra {
namespace {

namespace fs = std::filesystem;

// A control-group mount in a fresh folder: the files each case names, with their contents.
class GroupMount {
  public:
    GroupMount() {
        std::string pattern = (fs::temp_directory_path() / "lumetra-cgroup-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        _root = pattern;
    }
    ~GroupMount() {
        std::error_code ignored;
        fs::remove_all(_root, ignored);
    }
    void write(const std::string& file, const std::string& text) const {
        fs::create_directories((_root / file).parent_path());
        std::ofstream(_root / file) << text << '\n';
    }
    const fs::path& root() const { return _root; }

  private:
    fs::path _root;
};

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

struct GroupCase {
    const char* name;
    const char* procSelfCgroup;
    std::vector<std::pair<std::string, std::string>> files;
    std::optional<std::uint64_t> room;
};

class ControlGroupRoom : public testing::TestWithParam<GroupCase> {};

TEST_P(ControlGroupRoom, IsTheLimitLessTheUsage) {
    const GroupCase& c = GetParam();
    const GroupMount mount;
    for (const auto& [file, text] : c.files) mount.write(file, text);
    EXPECT_EQ(controlGroupRoom(c.procSelfCgroup, mount.root()), c.room);
}

const std::string k4GiB = std::to_string(4 * kGiB);
const std::string k1GiB = std::to_string(kGiB);

INSTANTIATE_TEST_SUITE_P(
    Cases, ControlGroupRoom,
    testing::Values(
        // Failure cases first: no group, no limit, unreadable files.
        GroupCase{"no_group_file", "", {}, std::nullopt},
        GroupCase{"v2_without_limit",
                  "0::/job\n",
                  {{"job/memory.max", "max"}, {"job/memory.current", k1GiB}},
                  std::nullopt},
        GroupCase{"v1_without_limit",
                  "4:memory:/job\n",
                  {{"memory/job/memory.limit_in_bytes", "9223372036854771712"},
                   {"memory/job/memory.usage_in_bytes", k1GiB}},
                  std::nullopt},
        // Limits.
        GroupCase{"v2_own_folder",
                  "0::/job\n",
                  {{"job/memory.max", k4GiB}, {"job/memory.current", k1GiB}},
                  3 * kGiB},
        GroupCase{"v1_own_folder",
                  "9:pids:/\n4:memory:/job\n",
                  {{"memory/job/memory.limit_in_bytes", k4GiB},
                   {"memory/job/memory.usage_in_bytes", k1GiB}},
                  3 * kGiB},
        // A container sees its own group at the root of the mount, under another name.
        GroupCase{
            "v1_container_root",
            "4:memory:/host/path/container\n",
            {{"memory/memory.limit_in_bytes", k4GiB}, {"memory/memory.usage_in_bytes", k1GiB}},
            3 * kGiB},
        GroupCase{"v2_over_its_limit",
                  "0::/job\n",
                  {{"job/memory.max", k1GiB}, {"job/memory.current", k4GiB}},
                  0},
        // Both hierarchies: the tighter one.
        GroupCase{"hybrid_tighter_wins",
                  "4:memory:/a\n0::/b\n",
                  {{"memory/a/memory.limit_in_bytes", k4GiB},
                   {"memory/a/memory.usage_in_bytes", "0"},
                   {"b/memory.max", k4GiB},
                   {"b/memory.current", k1GiB}},
                  3 * kGiB}),
    [](const testing::TestParamInfo<GroupCase>& info) { return std::string(info.param.name); });

// The lines of /proc/self/status the limits are set against, with VmSize and VmData in kB.
std::string statusText(std::uint64_t vmSizeKiB, std::uint64_t vmDataKiB) {
    return "Name:\tlumetra\nVmPeak:\t 9999999 kB\nVmSize:\t " + std::to_string(vmSizeKiB) +
           " kB\nVmRSS:\t 1000 kB\nVmData:\t " + std::to_string(vmDataKiB) +
           " kB\nVmStk:\t 132 kB\nThreads:\t1\n";
}

TEST(ResourceLimitRoom, IsEachLimitLessItsUseTheSmallerWinning) {
    constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
    const std::string status = statusText(256 * 1024, 64 * 1024);  // 256 MiB and 64 MiB used
    // No limit at all: nothing to say.
    EXPECT_EQ(resourceLimitRoom(std::nullopt, std::nullopt, status, 4), std::nullopt);
    // Address space: the limit less VmSize less the threads' reserve.
    EXPECT_EQ(resourceLimitRoom(4 * kGiB, std::nullopt, status, 2),
              4 * kGiB - 256 * kMiB - 2 * kAddressSpacePerThread);
    // Data: the limit less VmData, no thread reserve (stacks are not data).
    EXPECT_EQ(resourceLimitRoom(std::nullopt, kGiB, status, 2), kGiB - 64 * kMiB);
    // Both: the tighter one.
    EXPECT_EQ(resourceLimitRoom(4 * kGiB, kGiB, status, 2), kGiB - 64 * kMiB);
    EXPECT_EQ(resourceLimitRoom(kGiB, 4 * kGiB, status, 0), kGiB - 256 * kMiB);
    // A limit already reached or passed leaves nothing.
    EXPECT_EQ(resourceLimitRoom(200 * kMiB, std::nullopt, status, 0), 0u);
    EXPECT_EQ(resourceLimitRoom(300 * kMiB, std::nullopt, status, 8), 0u);
    // A usage that cannot be read: that limit is not judged.
    EXPECT_EQ(resourceLimitRoom(kGiB, std::nullopt, "Name:\tlumetra\n", 2), std::nullopt);
    EXPECT_EQ(resourceLimitRoom(kGiB, 2 * kGiB, "VmData:\t 1024 kB\n", 2), 2 * kGiB - kMiB);
}

// Under an address-space limit the room it leaves is part of the figure.
TEST(SystemMemory, AvailableMemoryHeedsTheAddressSpaceLimit) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' shadow memory takes terabytes of address space";
#endif
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);
    std::ifstream statusFile("/proc/self/status");
    std::stringstream status;
    status << statusFile.rdbuf();
    const std::optional<std::uint64_t> used = [&]() -> std::optional<std::uint64_t> {
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("VmSize:", 0) == 0) return std::stoull(line.substr(7)) * 1024;
        }
        return std::nullopt;
    }();
    ASSERT_TRUE(used);
    // Room for 100 MiB more than what is used and the threads' reserve; the limit is lifted
    // again before the checks, so that they allocate freely.
    const std::uint64_t reserve =
        std::uint64_t{std::max(1u, std::thread::hardware_concurrency())} * kAddressSpacePerThread;
    const std::uint64_t limit = *used + reserve + (std::uint64_t{100} << 20);
    if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < limit) GTEST_SKIP();
    struct rlimit lowered = saved;
    lowered.rlim_cur = limit;
    ASSERT_EQ(setrlimit(RLIMIT_AS, &lowered), 0);
    const std::optional<std::uint64_t> bytes = availableMemory();
    ASSERT_EQ(setrlimit(RLIMIT_AS, &saved), 0);
    ASSERT_TRUE(bytes);
    EXPECT_LE(*bytes, std::uint64_t{100} << 20);
    EXPECT_GT(*bytes, std::uint64_t{50} << 20);
}

TEST(SystemMemory, AvailableMemoryIsKnownOnLinux) {
    // Every Linux kernel since 3.14 reports MemAvailable.
    const std::optional<std::uint64_t> bytes = availableMemory();
    ASSERT_TRUE(bytes);
    EXPECT_GT(*bytes, 0u);
}

}  // namespace
}  // namespace lumetra
