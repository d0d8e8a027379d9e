// Pins the measures and scores of the sample photographs.  The values were produced by the
// plain engine (one transform plan per call, every plane materialised, powers through pow) so
// that faster paths can be held to it: they must agree within 1e-6 relative.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "engine/Lumetra2.h"

namespace lumetra {
namespace {

// Faster paths may round a handful of float intermediates differently; one part in a million
// of the measure leaves room for that and for nothing else.
constexpr double kPinnedRelTol = 1e-6;

struct Pinned {
    const char* degraded;
    float measure;
    float score;
};

TEST(SampleMeasures, StayPinned) {
    const Pinned pinned[] = {
        {"astronaut_jpeg90", 194.46756f, 3.65395474f},
        {"astronaut_jpeg50", 632.938538f, 3.32466316f},
        {"astronaut_jpeg20", 1450.97058f, 2.71032095f},
        {"astronaut_blur", 1782.28113f, 2.46150684f},
        {"astronaut_noise", 1846.37292f, 2.41337395f},
        {"coffee_jpeg90", 286.377808f, 3.58493018f},
        {"coffee_jpeg50", 966.978027f, 3.07379937f},
        {"coffee_jpeg20", 1711.09656f, 2.51496649f},
        {"coffee_blur", 2463.24414f, 1.95010352f},
        {"coffee_noise", 1949.20605f, 2.33614635f},
    };
    const std::string dir = std::string(LUMETRA_SAMPLES_DIR) + "/";
    for (const char* original : {"astronaut", "coffee"}) {
        const Lumetra2 engine(RgbImage(dir + original + ".ppm"), 1.0f, 4.0f, 5.0f, 0.000751f, 3.8f,
                              true, false, true, false, true, false);
        for (const Pinned& p : pinned) {
            if (std::string(p.degraded).rfind(original, 0) != 0) continue;
            SCOPED_TRACE(p.degraded);
            const Comparison result = engine(RgbImage(dir + p.degraded + ".ppm"));
            const double rel = std::fabs(result.mobj() - p.measure) / p.measure;
            EXPECT_LE(rel, kPinnedRelTol) << "measure " << result.mobj() << " pinned " << p.measure;
            EXPECT_NEAR(result.nobj(), p.score, 1e-6);
        }
    }
}

}  // namespace
}  // namespace lumetra
