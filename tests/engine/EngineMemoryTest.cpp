#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "engine/EngineMemory.h"

namespace lumetra {
namespace {

constexpr std::uint64_t kMegapixel = 1000 * 1000;

// Worked by hand from the figures in EngineMemory.h: 200 bytes per pixel to build, 160 held.
TEST(EngineMemory, IsTheBuildPeakOrTheHeldEngineWithItsFiles) {
    EXPECT_EQ(engineMemory(kMegapixel, 0, 96), 200 * kMegapixel);  // building
    EXPECT_EQ(engineMemory(kMegapixel, 1, 96), (160 + 96) * kMegapixel);
    EXPECT_EQ(engineMemory(kMegapixel, 4, 3 * 96), (160 + 4 * 288) * kMegapixel);
}

struct MemoryCase {
    const char* name;
    std::uint64_t needed;
    std::optional<std::uint64_t> available;
    std::string problem;
};

class MemoryProblem : public testing::TestWithParam<MemoryCase> {};

TEST_P(MemoryProblem, SaysHowMuchIsNeededAndHowMuchThereIs) {
    EXPECT_EQ(memoryProblem(GetParam().needed, GetParam().available), GetParam().problem);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MemoryProblem,
    testing::Values(MemoryCase{"short", 68'700'000'000, 21'300'000'000,
                               "needs about 68.7 GB; 21.3 GB available"},
                    MemoryCase{"short_by_one_byte", 2'000'000'001, 2'000'000'000,
                               "needs about 2 GB; 2 GB available"},
                    MemoryCase{"small_numbers", 52'400'000, 0,
                               "needs about 0.0524 GB; 0 GB available"},
                    MemoryCase{"fits_exactly", 2'000'000'000, 2'000'000'000, ""},
                    MemoryCase{"unknown_free_memory", 68'700'000'000, std::nullopt, ""}),
    [](const testing::TestParamInfo<MemoryCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumetra
