#pragma once

// What the reader tests share: the folder of the test image files, and the check that a read
// image holds exactly the samples (and maxval) of the one it should equal.

#include <gtest/gtest.h>

#include <string>

#include "image/RgbImage.h"

namespace lumetra::test {

inline const std::string kImages = std::string(LUMETRA_TEST_DATA_DIR) + "/images/";

inline void expectSamePixels(const RgbImage& read, const RgbImage& expected,
                             const std::string& name) {
    EXPECT_EQ(read.maxval(), expected.maxval()) << name;
    EXPECT_EQ(read.R(), expected.R()) << name;
    EXPECT_EQ(read.G(), expected.G()) << name;
    EXPECT_EQ(read.B(), expected.B()) << name;
}

}  // namespace lumetra::test
