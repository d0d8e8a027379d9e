#include "structure/BlockPooling.h"

#include <algorithm>
#include <cstdint>

namespace lumetra {

namespace {

// Side of a pooling block, in pixels.
constexpr std::uint32_t kBlockSize = 32;
// Divisor of every block sum: the cells of a full block.
constexpr long double kBlockCells = static_cast<long double>(kBlockSize) * kBlockSize;

}  // namespace

Array<float> blkproc(const Array<float>& a) {
    const std::uint32_t rows = a.rows();
    const std::uint32_t cols = a.cols();
    Array<float> pooled(rows, cols, a.pool(), kUninitialised);  // the blocks tile the array
    // Block corners in 64 bits so that stepping past the last block cannot wrap around.
    for (std::uint64_t blockTop = 0; blockTop < rows; blockTop += kBlockSize) {
        const auto top = static_cast<std::uint32_t>(blockTop);
        const std::uint32_t bottom = top + std::min(kBlockSize, rows - top);
        for (std::uint64_t blockLeft = 0; blockLeft < cols; blockLeft += kBlockSize) {
            const auto left = static_cast<std::uint32_t>(blockLeft);
            const std::uint32_t right = left + std::min(kBlockSize, cols - left);
            // Only the block's cells inside the array are read; missing cells add nothing.
            long double sum = 0.0L;
            for (std::uint32_t r = top; r < bottom; ++r) {
                for (std::uint32_t c = left; c < right; ++c) sum += a(r, c);
            }
            const float mean = static_cast<float>(sum / kBlockCells);
            for (std::uint32_t r = top; r < bottom; ++r) {
                for (std::uint32_t c = left; c < right; ++c) pooled(r, c) = mean;
            }
        }
    }
    return pooled;
}

}  // namespace lumetra
