#include "engine/Spectrum.h"

#include <algorithm>
#include <cassert>

namespace lumetra {

namespace {

// Rows [r0, r1) and columns [c0, c1) of `plane`, or an empty plane when the range is empty.
CroppedPlane rectangleOf(const Array<float>& plane, std::uint32_t r0, std::uint32_t r1,
                         std::uint32_t c0, std::uint32_t c1) {
    CroppedPlane part;
    if (r1 <= r0 || c1 <= c0) return part;
    part.row0 = r0;
    part.col0 = c0;
    part.values = Array<float>(r1 - r0, c1 - c0);
    for (std::uint32_t r = r0; r < r1; ++r) {
        std::copy_n(&plane(r, c0), c1 - c0, &part.values(r - r0, 0));
    }
    return part;
}

// Values checked at once when looking for the first value that is not zero: a loop free of
// early exits, which vectorises.
constexpr std::uint32_t kZeroRun = 64;

// Whether every value of x[0, n) is zero, of either sign (a value that is not a number is
// not zero).
bool allZero(const float* x, std::uint32_t n) {
    bool zero = true;
    for (std::uint32_t i = 0; i < n; ++i) zero = zero & (x[i] == 0.0f);
    return zero;
}

// The first column of `row` (cols values) that is not zero; cols when there is none.
std::uint32_t firstNonZero(const float* row, std::uint32_t cols) {
    std::uint32_t c = 0;
    while (c + kZeroRun <= cols && allZero(row + c, kZeroRun)) c += kZeroRun;
    while (c < cols && row[c] == 0.0f) ++c;
    return c;
}

// One past the last column of `row` that is not zero, given one at `first`.
std::uint32_t endOfNonZero(const float* row, std::uint32_t first, std::uint32_t cols) {
    std::uint32_t end = cols;
    while (end >= first + kZeroRun && allZero(row + end - kZeroRun, kZeroRun)) end -= kZeroRun;
    while (row[end - 1] == 0.0f) --end;
    return end;
}

}  // namespace

float BandMask::at(std::uint32_t p, std::uint32_t q) const {
    if (p < row0 || p >= row0 + boxRows) return 0.0f;
    const std::uint32_t i = p - row0;
    const std::uint32_t q0 = col0 + first[i];
    if (q < q0 || q - q0 >= start[i + 1] - start[i]) return 0.0f;
    return values[start[i] + (q - q0)];
}

BandMask croppedMask(const Array<float>& mask) {
    return croppedMask(mask, 0, 0, mask.cols());
}

BandMask croppedMask(const Array<float>& window, std::uint32_t row0, std::uint32_t col0,
                     std::uint32_t cols) {
    const std::uint32_t rows = window.rows();
    const std::uint32_t windowCols = window.cols();
    // The bounding box of the values that are not zero, row by row.
    std::uint32_t r0 = rows, r1 = 0, c0 = windowCols, c1 = 0;
    for (std::uint32_t r = 0; r < rows; ++r) {
        const float* row = &window(r, 0);
        const std::uint32_t first = firstNonZero(row, windowCols);
        if (first == windowCols) continue;
        r0 = std::min(r0, r);
        r1 = r + 1;
        c0 = std::min(c0, first);
        c1 = std::max(c1, endOfNonZero(row, first, windowCols));
    }
    BandMask cropped;
    if (r1 <= r0 || c1 <= c0) return cropped;
    cropped.row0 = row0 + r0;
    cropped.col0 = col0 + c0;
    cropped.boxRows = r1 - r0;
    cropped.boxCols = c1 - c0;
    // Each row from its first value that is not zero to its last.
    cropped.start.push_back(0);
    for (std::uint32_t r = r0; r < r1; ++r) {
        const float* row = &window(r, 0);
        const std::uint32_t first = firstNonZero(row, windowCols);
        const std::uint32_t end =
            first == windowCols ? first : endOfNonZero(row, first, windowCols);
        cropped.first.push_back(first == windowCols ? 0 : first - c0);
        cropped.values.insert(cropped.values.end(), row + first, row + end);
        cropped.start.push_back(cropped.values.size());
    }
    cropped.values.shrink_to_fit();
    c0 += col0;
    c1 += col0;
    // The half-spectrum columns a centred column q lands on: its natural column c and the
    // mirror -c of the conjugate term, where they fall in the half.
    const std::uint32_t halfCols = cols / 2 + 1;
    std::uint32_t used = 0;
    for (std::uint32_t q = c0; q < c1; ++q) {
        const std::uint32_t c = (q + cols - cols / 2) % cols;
        const std::uint32_t mirror = (cols - c) % cols;
        if (c < halfCols) used = std::max(used, c + 1);
        if (mirror < halfCols) used = std::max(used, mirror + 1);
    }
    cropped.usedCols = std::max(used, 1u);
    return cropped;
}

CroppedPlane coveredPart(const Array<float>& plane, const BandMask* first, const BandMask* last) {
    std::uint32_t r0 = plane.rows(), r1 = 0, c0 = plane.cols(), c1 = 0;
    for (const BandMask* mask = first; mask != last; ++mask) {
        if (mask->boxRows == 0) continue;
        r0 = std::min(r0, mask->row0);
        r1 = std::max(r1, mask->row0 + mask->boxRows);
        c0 = std::min(c0, mask->col0);
        c1 = std::max(c1, mask->col0 + mask->boxCols);
    }
    return rectangleOf(plane, r0, r1, c0, c1);
}

Array<std::complex<float>> roundedHalfSpectrum(const std::complex<double>* half, std::uint32_t rows,
                                               std::uint32_t cols, std::uint32_t width,
                                               std::shared_ptr<PlanePool> pool) {
    const std::size_t halfCols = cols / 2 + 1;
    Array<std::complex<float>> out(rows, width, std::move(pool), kUninitialised);
    for (std::uint32_t r = 0; r < rows; ++r) {
        const std::complex<double>* in = half + r * halfCols;
        std::complex<float>* o = &out(r, 0);
        for (std::uint32_t c = 0; c < width; ++c) {
            o[c] = std::complex<float>(static_cast<float>(in[c].real()),
                                       static_cast<float>(in[c].imag()));
        }
    }
    return out;
}

void bandHalfSpectrum(const Array<std::complex<float>>& spectrum, std::uint32_t cols,
                      const CroppedPlane& sensitivity, const BandMask& mask,
                      std::complex<double>* half) {
    const std::uint32_t rows = spectrum.rows();
    const std::uint32_t halfCols = cols / 2 + 1;
    assert(spectrum.cols() >= mask.usedCols);
    const std::size_t stride = mask.usedCols;
    std::fill_n(half, rows * stride, std::complex<double>());
    const std::uint32_t hr = rows / 2;
    const std::uint32_t hc = cols / 2;
    for (std::uint32_t i = 0; i < mask.boxRows; ++i) {
        const std::uint32_t p = mask.row0 + i;
        const std::uint32_t r = (p + rows - hr) % rows;
        const std::uint32_t mirrorRow = (rows - r) % rows;
        const std::uint32_t q0 = mask.col0 + mask.first[i];
        const float* m = mask.values.data() + mask.start[i];
        const std::size_t count = mask.start[i + 1] - mask.start[i];
        // The natural column of the row's first value; it steps by one and wraps at cols.
        std::uint32_t c = (q0 + cols - hc) % cols;
        for (std::uint32_t j = 0; j < count; ++j, c = c + 1 == cols ? 0 : c + 1) {
            const float factor = m[j];
            if (factor == 0.0f) continue;
            const std::uint32_t q = q0 + j;
            const std::uint32_t mirrorCol = c == 0 ? 0 : cols - c;
            // The upper half of a real plane's spectrum mirrors the lower:
            // S(r, c) = conj S(-r, -c).
            const std::complex<float> s =
                c < halfCols ? spectrum(r, c) : std::conj(spectrum(mirrorRow, mirrorCol));
            const float w = sensitivity.at(p, q);
            const float weightedRe = s.real() * w;
            const float weightedIm = s.imag() * w;
            const double re = 0.5 * static_cast<double>(weightedRe * factor);
            const double im = 0.5 * static_cast<double>(weightedIm * factor);
            if (c < halfCols) half[r * stride + c] += std::complex<double>(re, im);
            if (mirrorCol < halfCols) {
                half[mirrorRow * stride + mirrorCol] += std::complex<double>(re, -im);
            }
        }
    }
}

}  // namespace lumetra
