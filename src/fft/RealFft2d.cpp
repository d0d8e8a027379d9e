#include "fft/RealFft2d.h"

#include <cstring>
#include <limits>
#include <string>

#include "fft/fftw++.h"
#include "image/Error.h"

namespace lumetra {

namespace {

template <typename T>
T* allocate(std::size_t count) {
    void* raw = fftw_malloc(count * sizeof(T));
    if (raw == nullptr) throw FftError("Memory limits exceeded");
    std::memset(raw, 0, count * sizeof(T));
    return static_cast<T*>(raw);
}

}  // namespace

RealFft2d::RealFft2d(std::uint32_t rows, std::uint32_t cols)
    : _rows(rows), _cols(cols), _norm(1.0 / (static_cast<double>(rows) * cols)) {
    if (rows == 0 || cols == 0 ||
        std::uint64_t{rows} * cols > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
        throw FftError("FFT size " + std::to_string(rows) + " x " + std::to_string(cols) +
                       " cannot be planned");
    }
    Workspace ws = workspace();
    const int r = static_cast<int>(rows);
    const int c = static_cast<int>(cols);
    auto* half = reinterpret_cast<fftw_complex*>(ws.half());
    const auto lock = lockFftwPlanner();
    _forward = fftw_plan_dft_r2c_2d(r, c, ws.real(), half, fftw::effort);
    _inverse = fftw_plan_dft_c2r_2d(r, c, half, ws.real(), fftw::effort);
    if (_forward == nullptr || _inverse == nullptr) {
        if (_forward != nullptr) fftw_destroy_plan(_forward);
        if (_inverse != nullptr) fftw_destroy_plan(_inverse);
        throw FftError("Unable to construct FFTW plan");
    }
}

RealFft2d::~RealFft2d() {
    const auto lock = lockFftwPlanner();
    fftw_destroy_plan(_forward);
    fftw_destroy_plan(_inverse);
}

RealFft2d::Workspace RealFft2d::workspace() const {
    Workspace ws;
    const std::size_t n = static_cast<std::size_t>(_rows) * _cols;
    ws._real.reset(allocate<double>(n));
    ws._half.reset(allocate<std::complex<double>>(static_cast<std::size_t>(_rows) * halfCols()));
    return ws;
}

void RealFft2d::forward(const Array<float>& plane, Workspace& ws) const {
    const float* p = plane.data();
    double* real = ws.real();
    for (std::size_t i = 0, n = plane.size(); i < n; ++i) real[i] = p[i];
    fftw_execute_dft_r2c(_forward, real, reinterpret_cast<fftw_complex*>(ws.half()));
}

void RealFft2d::inverse(Workspace& ws, Array<float>& out) const {
    double* real = ws.real();
    fftw_execute_dft_c2r(_inverse, reinterpret_cast<fftw_complex*>(ws.half()), real);
    float* o = out.data();
    for (std::size_t i = 0, n = out.size(); i < n; ++i) o[i] = static_cast<float>(real[i] * _norm);
}

}  // namespace lumetra
