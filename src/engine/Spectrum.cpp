#include "engine/Spectrum.h"

namespace lumetra {

float planeMean(const Array<float>& plane) {
    long double sum = 0.0L;
    const float* p = plane.data();
    for (std::size_t i = 0, n = plane.size(); i < n; ++i) sum += p[i];
    const unsigned count = plane.rows() * plane.cols();
    return static_cast<float>(sum / count);
}

Array<std::complex<float>> centred(const Array<std::complex<float>>& spectrum) {
    const std::uint32_t rows = spectrum.rows();
    const std::uint32_t cols = spectrum.cols();
    Array<std::complex<float>> out(rows, cols);
    for (std::uint32_t r = 0; r < rows; ++r) {
        const std::uint32_t to = (r + rows / 2) % rows;
        for (std::uint32_t c = 0; c < cols; ++c) {
            out(to, (c + cols / 2) % cols) = spectrum(r, c);
        }
    }
    return out;
}

Array<std::complex<float>> weighted(const Array<std::complex<float>>& spectrum,
                                    const Array<float>& weight) {
    Array<std::complex<float>> out(spectrum);
    std::complex<float>* s = out.data();
    const float* w = weight.data();
    for (std::size_t i = 0, n = out.size(); i < n; ++i) {
        s[i] = std::complex<float>(s[i].real() * w[i], s[i].imag() * w[i]);
    }
    return out;
}

Array<std::complex<float>> uncentredProduct(const Array<std::complex<float>>& spectrum,
                                            const Array<float>& mask) {
    const std::uint32_t rows = spectrum.rows();
    const std::uint32_t cols = spectrum.cols();
    Array<std::complex<float>> out(rows, cols);
    for (std::uint32_t r = 0; r < rows; ++r) {
        const std::uint32_t from = (r + rows / 2) % rows;
        for (std::uint32_t c = 0; c < cols; ++c) {
            const std::uint32_t fc = (c + cols / 2) % cols;
            const std::complex<float> s = spectrum(from, fc);
            const float m = mask(from, fc);
            out(r, c) = std::complex<float>(s.real() * m, s.imag() * m);
        }
    }
    return out;
}

}  // namespace lumetra
