#include <gtest/gtest.h>

#include "cli/JobCount.h"

namespace lumetra {
namespace {

constexpr std::uint64_t kFullHd = 1920 * 1080;
constexpr std::uint64_t kFullHdFile = kFullHd * kBytesPerPixelInFlight;  // about 199 MB

TEST(JobCount, OneFilePerThreadWhenMemoryIsPlenty) {
    EXPECT_EQ(automaticJobs(8, kFullHd, 100 * kFullHdFile), 8u);
    EXPECT_EQ(automaticJobs(8, kFullHd, std::nullopt), 8u);  // unknown: trust the threads
}

TEST(JobCount, AsManyFilesAsTheFreeMemoryHolds) {
    EXPECT_EQ(automaticJobs(8, kFullHd, 3 * kFullHdFile), 3u);
    EXPECT_EQ(automaticJobs(8, kFullHd, 3 * kFullHdFile - 1), 2u);
}

TEST(JobCount, AlwaysAtLeastOneJob) {
    EXPECT_EQ(automaticJobs(8, kFullHd, 0), 1u);
    EXPECT_EQ(automaticJobs(0, kFullHd, 100 * kFullHdFile), 1u);  // thread count unknown
    EXPECT_EQ(automaticJobs(4, 0, 0), 1u);
}

}  // namespace
}  // namespace lumetra
