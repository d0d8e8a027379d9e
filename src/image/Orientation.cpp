#include "image/Orientation.h"

// Each displayed pixel (y, x) is taken from one stored pixel of a stored H x W image:
//   1 (y, x)            2 (y, W-1-x)          3 (H-1-y, W-1-x)      4 (H-1-y, x)
//   5 (x, y)            6 (H-1-x, y)          7 (H-1-x, W-1-y)      8 (x, W-1-y)
// as EXIF defines them by where the stored first row and column go (6: the first row becomes
// the right-hand column, the first column the top row).

#include <utility>

namespace lumetra {
namespace {

struct Source {
    std::uint32_t row, col;
};

Source sourceOf(std::uint16_t orientation, std::uint32_t y, std::uint32_t x, std::uint32_t h,
                std::uint32_t w) {
    switch (orientation) {
        case 2:
            return {y, w - 1 - x};
        case 3:
            return {h - 1 - y, w - 1 - x};
        case 4:
            return {h - 1 - y, x};
        case 5:
            return {x, y};
        case 6:
            return {h - 1 - x, y};
        case 7:
            return {h - 1 - x, w - 1 - y};
        case 8:
            return {x, w - 1 - y};
        default:
            return {y, x};
    }
}

Array<unsigned> oriented(const Array<unsigned>& plane, std::uint16_t orientation,
                         const std::shared_ptr<PlanePool>& pool) {
    const std::uint32_t h = plane.rows(), w = plane.cols();
    const bool swapped = swapsSides(orientation);
    const std::uint32_t rows = swapped ? w : h, cols = swapped ? h : w;
    Array<unsigned> out(rows, cols, pool, kUninitialised);
    for (std::uint32_t y = 0; y < rows; ++y) {
        for (std::uint32_t x = 0; x < cols; ++x) {
            const Source s = sourceOf(orientation, y, x, h, w);
            out(y, x) = plane(s.row, s.col);
        }
    }
    return out;
}

}  // namespace

RgbImage orientedForDisplay(const RgbImage& image, std::uint16_t orientation,
                            const std::shared_ptr<PlanePool>& pool) {
    return RgbImage(oriented(image.R(), orientation, pool), oriented(image.G(), orientation, pool),
                    oriented(image.B(), orientation, pool), image.maxval());
}

}  // namespace lumetra
