#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <utility>

#include "engine/BandFilters.h"
#include "model/DcpFilter.h"

namespace lumetra {
namespace {

// The filters make each band mask on a window of the grid and crop it there; the plain path
// crops the whole-plane mask of the bank.  The two must agree to the bit: the same rectangle,
// the same values and the same half-spectrum width (which sets the transforms' widths).  Odd
// and even sizes; 23.7 pixels per degree (crown 4 past the corners), 60 and 137.5.
class BandFiltersMasks
    : public testing::TestWithParam<std::tuple<std::pair<std::uint32_t, std::uint32_t>, double>> {};

INSTANTIATE_TEST_SUITE_P(SizesAndPixelsPerDegree, BandFiltersMasks,
                         testing::Combine(testing::Values(std::pair{8u, 8u}, std::pair{33u, 47u},
                                                          std::pair{97u, 64u},
                                                          std::pair{256u, 201u}),
                                          testing::Values(23.7, 60.0, 137.5)));

TEST_P(BandFiltersMasks, AreTheCroppedMasksOfTheWholeBank) {
    const auto [size, ppd] = GetParam();
    const auto [rows, cols] = size;
    const BandFilters filters(rows, cols, ppd);
    const DcpFilter bank(rows, cols, 1, ppd);
    for (unsigned k = 0; k < kBandCount; ++k) {
        const BandMask plain = croppedMask(bank[k]);
        const BandMask& made = filters.mask(k);
        EXPECT_EQ(made.row0, plain.row0) << DcpFilter::name(k);
        EXPECT_EQ(made.col0, plain.col0) << DcpFilter::name(k);
        EXPECT_EQ(made.usedCols, plain.usedCols) << DcpFilter::name(k);
        EXPECT_EQ(made.boxRows, plain.boxRows) << DcpFilter::name(k);
        EXPECT_EQ(made.boxCols, plain.boxCols) << DcpFilter::name(k);
        EXPECT_EQ(made.first, plain.first) << DcpFilter::name(k);
        EXPECT_EQ(made.start, plain.start) << DcpFilter::name(k);
        EXPECT_EQ(made.values, plain.values) << DcpFilter::name(k);
    }
}

}  // namespace
}  // namespace lumetra
