#include "engine/Spectrum.h"

#include <algorithm>
#include <cstring>

namespace lumetra {

BandMask croppedMask(const Array<float>& mask) {
    std::uint32_t r0 = mask.rows(), r1 = 0, c0 = mask.cols(), c1 = 0;
    for (std::uint32_t r = 0; r < mask.rows(); ++r) {
        for (std::uint32_t c = 0; c < mask.cols(); ++c) {
            if (mask(r, c) != 0.0f) {
                r0 = std::min(r0, r);
                r1 = std::max(r1, r + 1);
                c0 = std::min(c0, c);
                c1 = std::max(c1, c + 1);
            }
        }
    }
    BandMask cropped;
    if (r1 <= r0 || c1 <= c0) return cropped;
    cropped.row0 = r0;
    cropped.col0 = c0;
    cropped.values = Array<float>(r1 - r0, c1 - c0);
    for (std::uint32_t r = r0; r < r1; ++r) {
        std::copy_n(&mask(r, c0), c1 - c0, &cropped.values(r - r0, 0));
    }
    return cropped;
}

Array<std::complex<float>> centredWeightedSpectrum(const std::complex<double>* half,
                                                   std::uint32_t rows, std::uint32_t cols,
                                                   const Array<float>& sensitivity) {
    const std::uint32_t halfCols = cols / 2 + 1;
    const std::uint32_t hr = rows / 2;
    const std::uint32_t hc = cols / 2;
    Array<std::complex<float>> out(rows, cols);
    for (std::uint32_t p = 0; p < rows; ++p) {
        const std::uint32_t r = (p + rows - hr) % rows;
        const std::uint32_t mirrorRow = (rows - r) % rows;
        for (std::uint32_t q = 0; q < cols; ++q) {
            const std::uint32_t c = (q + cols - hc) % cols;
            // The upper half of a real plane's spectrum mirrors the lower: S(r, c) = conj S(-r,
            // -c).
            std::complex<double> s;
            if (c < halfCols) {
                s = half[static_cast<std::size_t>(r) * halfCols + c];
            } else {
                s = std::conj(half[static_cast<std::size_t>(mirrorRow) * halfCols + (cols - c)]);
            }
            const float w = sensitivity(p, q);
            out(p, q) = std::complex<float>(static_cast<float>(s.real()) * w,
                                            static_cast<float>(s.imag()) * w);
        }
    }
    return out;
}

void bandHalfSpectrum(const Array<std::complex<float>>& weighted, const BandMask& mask,
                      std::complex<double>* half) {
    const std::uint32_t rows = weighted.rows();
    const std::uint32_t cols = weighted.cols();
    const std::uint32_t halfCols = cols / 2 + 1;
    std::memset(static_cast<void*>(half), 0,
                sizeof(std::complex<double>) * static_cast<std::size_t>(rows) * halfCols);
    const std::uint32_t hr = rows / 2;
    const std::uint32_t hc = cols / 2;
    const Array<float>& m = mask.values;
    for (std::uint32_t i = 0; i < m.rows(); ++i) {
        const std::uint32_t p = mask.row0 + i;
        const std::uint32_t r = (p + rows - hr) % rows;
        const std::uint32_t mirrorRow = (rows - r) % rows;
        for (std::uint32_t j = 0; j < m.cols(); ++j) {
            const float factor = m(i, j);
            if (factor == 0.0f) continue;
            const std::uint32_t q = mask.col0 + j;
            const std::complex<float> w = weighted(p, q);
            const double re = 0.5 * static_cast<double>(w.real() * factor);
            const double im = 0.5 * static_cast<double>(w.imag() * factor);
            const std::uint32_t c = (q + cols - hc) % cols;
            if (c < halfCols)
                half[static_cast<std::size_t>(r) * halfCols + c] += std::complex<double>(re, im);
            const std::uint32_t mirrorCol = (cols - c) % cols;
            if (mirrorCol < halfCols) {
                half[static_cast<std::size_t>(mirrorRow) * halfCols + mirrorCol] +=
                    std::complex<double>(re, -im);
            }
        }
    }
}

}  // namespace lumetra
