#include <gtest/gtest.h>
#include <stdlib.h>  // mkdtemp

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

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

TEST(SystemMemory, AvailableMemoryIsKnownOnLinux) {
    // Every Linux kernel since 3.14 reports MemAvailable.
    const std::optional<std::uint64_t> bytes = availableMemory();
    ASSERT_TRUE(bytes);
    EXPECT_GT(*bytes, 0u);
}

}  // namespace
}  // namespace lumetra
