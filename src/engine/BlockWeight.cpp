#include "engine/BlockWeight.h"

#include "structure/BlockPooling.h"

namespace lumetra {

Array<float> blockWeight(const Array<float>& error) {
    Array<float> block = blkproc(error);
    if (block.size() == 0) return block;
    float* b = block.data();
    float mx = b[0];
    for (std::size_t i = 1, n = block.size(); i < n; ++i) {
        if (b[i] > mx) mx = b[i];
    }
    if (mx == 0.0f) {
        // No error anywhere: every block weighs 0 rather than 0 / 0.
        return Array<float>(error.rows(), error.cols(), error.pool());
    }
    for (std::size_t i = 0, n = block.size(); i < n; ++i) {
        const float normalised = b[i] / mx;
        b[i] = normalised * normalised;
    }
    return block;
}

}  // namespace lumetra
