#include "engine/BandFilters.h"

#include <algorithm>
#include <vector>

#include "model/CsfFilter.h"
#include "model/DcpFilter.h"

namespace lumetra {

namespace {

// The 27 cortex band masks, each made on the window its outer radius reaches and cropped as
// soon as it is made: no full-size mask exists.  Every thread of the caller's arena shares the
// work.
std::array<BandMask, kBandCount> croppedMasks(std::uint32_t rows, std::uint32_t cols,
                                              double pixelsPerDegree,
                                              const std::shared_ptr<PlanePool>& pool) {
    std::array<BandMask, kBandCount> masks;
    DcpFilter::forEachMaskWindow(
        rows, cols, 0,
        [&](unsigned k, const DcpFilter::Window& window) {
            masks[k] = croppedMask(window.values, window.row0, window.col0, cols);
        },
        pixelsPerDegree, pool);
    return masks;
}

std::vector<std::uint32_t> usedWidths(const std::array<BandMask, kBandCount>& masks) {
    std::vector<std::uint32_t> widths;
    for (const BandMask& mask : masks) widths.push_back(mask.usedCols);
    return widths;
}

}  // namespace

BandFilters::BandFilters(std::uint32_t rows, std::uint32_t cols, double pixelsPerDegree,
                         const std::shared_ptr<PlanePool>& pool)
    : BandFilters(rows, cols, pixelsPerDegree, croppedMasks(rows, cols, pixelsPerDegree, pool)) {}

BandFilters::BandFilters(std::uint32_t rows, std::uint32_t cols, double pixelsPerDegree,
                         std::array<BandMask, kBandCount> masks)
    : _masks(std::move(masks)), _fft(rows, cols, usedWidths(_masks)) {
    const CsfFilter csf(rows, cols, 0, pixelsPerDegree);
    _sensitivity[0] = coveredPart(csf.A(), &_masks[kAFirst], &_masks[kALast] + 1);
    _sensitivity[1] = coveredPart(csf.C1(), &_masks[kC1Base], &_masks[kC1Last] + 1);
    _sensitivity[2] = coveredPart(csf.C2(), &_masks[kC2Base], &_masks[kC2Last] + 1);
    for (unsigned k = 0; k < kBandCount; ++k) {
        std::uint32_t& width = _widths[static_cast<unsigned>(channelOf(k))];
        width = std::max(width, _masks[k].usedCols);
    }
}

}  // namespace lumetra
