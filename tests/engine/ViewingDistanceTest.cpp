// The viewing geometry on real photographs: an artefact seen from farther away (more pixels
// per degree) lies at higher frequencies in cycles per degree, where the eye is less
// sensitive, so its measure must fall as the pixels per degree rise.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "engine/Lumetra2.h"
#include "engine/Parameters.h"

namespace lumetra {
namespace {

const std::string kSamples = std::string(LUMETRA_SAMPLES_DIR) + "/";

// Half, standard and double viewing distance.
constexpr std::array<double, 3> kPixelsPerDegree{30.0, 60.0, 120.0};

// Each original with its five degraded copies: blur, JPEG at quality 90, 50 and 20, noise.
// Every one of the ten pairs holds to the rule.
const char* const kDegradations[] = {"_blur", "_jpeg90", "_jpeg50", "_jpeg20", "_noise"};

class FartherViewing : public ::testing::TestWithParam<const char*> {};

TEST_P(FartherViewing, MeasureFallsAsPixelsPerDegreeRise) {
    const std::string name = GetParam();
    const RgbImage original(kSamples + name + ".ppm");
    // One engine per viewing geometry, each comparing all five copies.
    std::vector<Lumetra2> engines;
    for (const double pixelsPerDegree : kPixelsPerDegree) {
        Parameters p;
        p.pixelsPerDegree = pixelsPerDegree;
        engines.emplace_back(original, p);
    }
    for (const char* degradation : kDegradations) {
        SCOPED_TRACE(name + degradation);
        const RgbImage degraded(kSamples + name + degradation + ".ppm");
        std::array<float, kPixelsPerDegree.size()> measures{};
        for (std::size_t i = 0; i < engines.size(); ++i) measures[i] = engines[i](degraded).mobj();
        for (std::size_t i = 0; i + 1 < measures.size(); ++i) {
            EXPECT_LT(measures[i + 1], measures[i])
                << kPixelsPerDegree[i] << " ppd: " << measures[i] << ", " << kPixelsPerDegree[i + 1]
                << " ppd: " << measures[i + 1];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, FartherViewing, ::testing::Values("astronaut", "coffee"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace lumetra
