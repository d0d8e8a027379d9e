#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <string>

#include "fft/fftw++.h"
#include "image/Error.h"

namespace lumetra {
namespace {

// Every buffer handed to a plan must start on this boundary (two doubles).
constexpr std::uintptr_t kAlignment = 16;

// FFTW's planner keeps global state: plan creation and destruction take this lock.
std::mutex plannerMutex;

bool isAligned(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p) % kAlignment == 0;
}

void requireAligned(const void* p, const char* name) {
    if (!isAligned(p)) {
        throw FftError(std::string("ERROR: ") + name + " array is not " +
                       std::to_string(kAlignment) + "-byte aligned");
    }
}

fftw_complex* asFftw(std::complex<double>* p) {
    return reinterpret_cast<fftw_complex*>(p);
}

// rows x cols as one transform size; FFTW takes every size as an int.
std::uint32_t transformSize(std::uint32_t rows, std::uint32_t cols) {
    const std::uint64_t size = std::uint64_t{rows} * cols;
    if (size > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
        throw FftError("FFT size " + std::to_string(rows) + " x " + std::to_string(cols) +
                       " is too large");
    }
    return static_cast<std::uint32_t>(size);
}

int checkedSign(int sign) {
    if (sign != FFTW_FORWARD && sign != FFTW_BACKWARD) {
        throw FftError("FFT sign " + std::to_string(sign) + " is neither -1 nor +1");
    }
    return sign;
}

}  // namespace

std::unique_lock<std::mutex> lockFftwPlanner() {
    return std::unique_lock<std::mutex>(plannerMutex);
}

FftwBuffer fftwBuffer(std::size_t count) {
    if (count == 0) return FftwBuffer();
    if (count > std::numeric_limits<std::size_t>::max() / sizeof(std::complex<double>)) {
        throw FftError("Memory limits exceeded");
    }
    void* const raw = fftw_malloc(count * sizeof(std::complex<double>));
    if (raw == nullptr) throw FftError("Memory limits exceeded");
    auto* const values = static_cast<std::complex<double>*>(raw);
    std::uninitialized_value_construct_n(values, count);
    return FftwBuffer(values);
}

// ---------------------------------------------------------------------------------------------
// fftw

void fftw::PlanDestroyer::operator()(fftw_plan plan) const {
    const std::lock_guard<std::mutex> lock(plannerMutex);
    fftw_destroy_plan(plan);
}

fftw::fftw(std::uint32_t size, int sign)
    : _size(size), _sign(checkedSign(sign)), _norm(1.0 / static_cast<double>(size)) {}

fftw::~fftw() = default;

void fftw::makePlan(std::complex<double>* in, std::complex<double>* out) {
    FftwBuffer scratch;
    if (in == nullptr) {
        scratch = fftwBuffer(_size);
        in = scratch.get();
    }
    requireAligned(in, "constructor input");
    if (out == nullptr) {
        out = in;
    } else {
        requireAligned(out, "constructor output");
    }
    _inPlace = out == in;
    fftw_plan plan = nullptr;
    {
        const std::lock_guard<std::mutex> lock(plannerMutex);
        plan = Plan(in, out);
    }
    if (plan == nullptr) throw FftError("Unable to construct FFTW plan");
    _plan.reset(plan);
}

void fftw::Execute(std::complex<double>* in, std::complex<double>* out) {
    fftw_execute_dft(_plan.get(), asFftw(in), asFftw(out));
}

void fftw::fftUnnormalized(std::complex<double>* in, std::complex<double>* out) {
    requireAligned(in, "input");
    if (out == nullptr) {
        out = in;
    } else {
        requireAligned(out, "output");
    }
    if ((in == out) != _inPlace) {
        throw FftError(
            "ERROR: fft constructor and call must be either both in place or out of place");
    }
    Execute(in, out);
}

void fftw::fftNormalized(std::complex<double>* in, std::complex<double>* out) {
    fftUnnormalized(in, out);
    std::complex<double>* const result = out != nullptr ? out : in;
    for (std::uint32_t i = 0; i < _size; ++i) result[i] *= _norm;
}

// ---------------------------------------------------------------------------------------------
// fft2d

fft2d::fft2d(std::uint32_t rows, std::uint32_t cols, int sign, std::complex<double>* in,
             std::complex<double>* out)
    : fftw(transformSize(rows, cols), sign), _rows(rows), _cols(cols) {
    makePlan(in, out);
}

fft2d::~fft2d() = default;

fftw_plan fft2d::Plan(std::complex<double>* in, std::complex<double>* out) {
    return fftw_plan_dft_2d(static_cast<int>(_rows), static_cast<int>(_cols), asFftw(in),
                            asFftw(out), sign(), effort);
}

// ---------------------------------------------------------------------------------------------
// fft, ifft

Array<std::complex<float>> fft(const Array<float>& x) {
    Array<std::complex<float>> spectrum(x.rows(), x.cols());
    const std::size_t n = x.size();
    if (n == 0) return spectrum;

    const FftwBuffer in = fftwBuffer(n);
    const FftwBuffer out = fftwBuffer(n);
    const float* const samples = x.data();
    for (std::size_t i = 0; i < n; ++i)
        in[i] = std::complex<double>(static_cast<double>(samples[i]), 0.0);

    fft2d plan(x.rows(), x.cols(), FFTW_FORWARD, in.get(), out.get());
    plan.fftUnnormalized(in.get(), out.get());

    std::complex<float>* const result = spectrum.data();
    for (std::size_t i = 0; i < n; ++i) {
        result[i] = std::complex<float>(static_cast<float>(out[i].real()),
                                        static_cast<float>(out[i].imag()));
    }
    return spectrum;
}

Array<float> ifft(const Array<std::complex<float>>& X) {
    Array<float> plane(X.rows(), X.cols());
    const std::size_t n = X.size();
    if (n == 0) return plane;

    const FftwBuffer in = fftwBuffer(n);
    const FftwBuffer out = fftwBuffer(n);
    const std::complex<float>* const coefficients = X.data();
    for (std::size_t i = 0; i < n; ++i) {
        in[i] = std::complex<double>(static_cast<double>(coefficients[i].real()),
                                     static_cast<double>(coefficients[i].imag()));
    }

    fft2d plan(X.rows(), X.cols(), FFTW_BACKWARD, in.get(), out.get());
    plan.fftNormalized(in.get(), out.get());

    float* const result = plane.data();
    for (std::size_t i = 0; i < n; ++i) result[i] = static_cast<float>(out[i].real());
    return plane;
}

}  // namespace lumetra
