#include "structure/Morphology.h"

// Each line operation is a counter machine fed one input at a time.  The output lags the
// input by a fixed delay; once the line's inputs are used up the counter keeps its value
// for the remaining outputs.  Rows are run one after the other; columns are run side by
// side, one counter per column, so both passes walk the maps in memory order.

#include <cstdint>
#include <vector>

namespace lumetra {

namespace {

constexpr int kForeground = 255;
constexpr int kBackground = 0;

// Dilation by three positions: the counter is the distance back to the last foreground
// input, capped at 3; the output for position j is known after input j + 1.
struct DilationByThree {
    static constexpr int kStart = 1;
    static constexpr std::uint32_t kDelay = 1;
    static constexpr int kCap = 3;
    static int feed(int counter, int x) { return x != 0 ? 0 : lumetra::min(counter + 1, kCap); }
    static int emit(int counter) { return counter <= kCap - 1 ? kForeground : kBackground; }
};

// Erosion by a segment of four: the counter is the length of the current run of positive
// inputs, capped at 4; the output marks the end of a run of four.
struct ErosionByFour {
    static constexpr int kStart = 0;
    static constexpr std::uint32_t kDelay = 0;
    static constexpr int kCap = 4;
    static int feed(int counter, int x) { return x <= 0 ? 0 : lumetra::min(counter + 1, kCap); }
    static int emit(int counter) { return counter == kCap ? kForeground : kBackground; }
};

// Dilation by a segment of four, undoing the erosion's shift: the counter is the distance
// back to the last foreground input, capped at 4; the output for position j is known after
// input j + 3, so a run-end at j + 3 grows back over j..j+3.
struct DilationByFour {
    static constexpr int kStart = 4;
    static constexpr std::uint32_t kDelay = 3;
    static constexpr int kCap = 4;
    static int feed(int counter, int x) { return x != 0 ? 0 : lumetra::min(counter + 1, kCap); }
    static int emit(int counter) { return counter <= kCap - 1 ? kForeground : kBackground; }
};

template <typename Machine>
Array<int> alongRows(const Array<int>& in) {
    const std::uint32_t rows = in.rows();
    const std::uint32_t cols = in.cols();
    Array<int> out(rows, cols, in.pool(), kUninitialised);  // every element is emitted
    for (std::uint32_t r = 0; r < rows; ++r) {
        int counter = Machine::kStart;
        for (std::uint64_t k = 0; k < std::uint64_t{cols} + Machine::kDelay; ++k) {
            if (k < cols) counter = Machine::feed(counter, in(r, static_cast<std::uint32_t>(k)));
            if (k >= Machine::kDelay) {
                out(r, static_cast<std::uint32_t>(k - Machine::kDelay)) = Machine::emit(counter);
            }
        }
    }
    return out;
}

template <typename Machine>
Array<int> alongColumns(const Array<int>& in) {
    const std::uint32_t rows = in.rows();
    const std::uint32_t cols = in.cols();
    Array<int> out(rows, cols, in.pool(), kUninitialised);  // every element is emitted
    std::vector<int> counters(cols, Machine::kStart);
    for (std::uint64_t k = 0; k < std::uint64_t{rows} + Machine::kDelay; ++k) {
        const auto inRow = static_cast<std::uint32_t>(k);
        const auto outRow = static_cast<std::uint32_t>(k - Machine::kDelay);
        for (std::uint32_t c = 0; c < cols; ++c) {
            if (k < rows) counters[c] = Machine::feed(counters[c], in(inRow, c));
            if (k >= Machine::kDelay) out(outRow, c) = Machine::emit(counters[c]);
        }
    }
    return out;
}

}  // namespace

Array<int> dilate_hv(const Array<int>& m) {
    return alongColumns<DilationByThree>(alongRows<DilationByThree>(m));
}

Array<int> erode_dilate_h(const Array<int>& m) {
    return alongRows<DilationByFour>(alongRows<ErosionByFour>(m));
}

Array<int> erode_dilate_v(const Array<int>& m) {
    return alongColumns<DilationByFour>(alongColumns<ErosionByFour>(m));
}

int module(int a, int b) {
    if (b == 0) return a;
    // a % -1 is 0 for every a but overflows for the most negative a.
    if (b == -1) return 0;
    const int r = a % b;
    if (r >= 0) return r;
    // Shift by |b| (for b < 0, r - b cannot overflow because |r| < |b|).
    return b > 0 ? r + b : r - b;
}

int min(int a, int b) {
    return b <= a ? b : a;
}

}  // namespace lumetra
