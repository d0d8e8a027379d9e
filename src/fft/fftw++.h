#pragma once

// Two-dimensional discrete Fourier transforms of planes, in double precision through FFTW 3.
//
// fft() and ifft() are all the model calls.  Each call widens the plane into two fftw_malloc
// buffers, makes one FFTW_ESTIMATE plan (an fft2d), runs it and destroys it before returning,
// so no plan or buffer outlives a call.  Spectra are in FFTW's natural order: the zero
// frequency sits at element (0, 0) and indices above half the size are negative frequencies.
//
// Threads: FFTW's planner is not thread-safe, so plan creation and destruction in this file run
// under one mutex; executing a plan (fftw_execute_dft) needs no lock, and fft()/ifft() may be
// called from several threads at once.
//
// Failures (misaligned buffers, a plan FFTW refuses, memory) throw FftError; nothing here
// prints or exits.

#include <fftw3.h>

#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <type_traits>

#include "image/Array.h"

namespace lumetra {

// Forward transform of the real plane x, unnormalised: element (u, v) is the sum over (r, c) of
// x(r, c) * exp(-2 pi i (r u / rows + c v / cols)), rounded to single precision.
Array<std::complex<float>> fft(const Array<float>& x);

// Inverse transform of the spectrum X divided by rows * cols, real part rounded to single
// precision; the imaginary parts are dropped.  ifft(fft(x)) gives back x.
Array<float> ifft(const Array<std::complex<float>>& X);

// FFTW's planner keeps global state: whoever creates or destroys a plan holds this lock.
std::unique_lock<std::mutex> lockFftwPlanner();

// Owner of a buffer from fftw_malloc.
struct FftwFree {
    void operator()(std::complex<double>* buffer) const { fftw_free(buffer); }
};
using FftwBuffer = std::unique_ptr<std::complex<double>[], FftwFree>;

// count zero values from fftw_malloc (aligned for FFTW's SIMD code).  Throws FftError
// "Memory limits exceeded" when the allocation fails.  count 0 gives an empty pointer.
FftwBuffer fftwBuffer(std::size_t count);

// A complex-to-complex FFTW plan for one size, sign and in-place setting.  Buffers handed to
// it must start on a 16-byte boundary.  The plan is destroyed with the object.
class fftw {
  public:
    // Planner flags of every plan: FFTW_ESTIMATE plans without trial runs, never writes to the
    // buffers while planning and gives the same result on every run.  No wisdom is used.
    static constexpr unsigned effort = FFTW_ESTIMATE;

    virtual ~fftw();
    fftw(const fftw&) = delete;
    fftw& operator=(const fftw&) = delete;

    // Runs the plan on in and out (buffers of the planned size and alignment), unscaled.
    virtual void Execute(std::complex<double>* in, std::complex<double>* out);

    // Checks the buffers (see fftUnnormalized), runs the plan and multiplies every output value
    // by norm() = 1 / size().
    virtual void fftNormalized(std::complex<double>* in, std::complex<double>* out);

    // Checks that in and out (null out: in place) are 16-byte aligned and in place exactly when
    // the plan is, throwing FftError otherwise, then runs the plan without scaling.
    void fftUnnormalized(std::complex<double>* in, std::complex<double>* out);

    std::uint32_t size() const { return _size; }
    int sign() const { return _sign; }
    double norm() const { return _norm; }
    bool inPlace() const { return _inPlace; }

  protected:
    // size complex values per transform; sign FFTW_FORWARD (-1) or FFTW_BACKWARD (+1).
    fftw(std::uint32_t size, int sign);

    // Makes the plan through Plan(); a derived class calls it once its own members are set.
    // A null in plans on a zero-filled scratch buffer of size() values; a null out means in
    // place.  Throws FftError for a misaligned buffer or when FFTW returns no plan.
    void makePlan(std::complex<double>* in, std::complex<double>* out);

    // Creates the FFTW plan for the given buffers.  Called with the planner lock held.
    virtual fftw_plan Plan(std::complex<double>* in, std::complex<double>* out) = 0;

  private:
    struct PlanDestroyer {
        void operator()(fftw_plan plan) const;
    };

    std::uint32_t _size;
    int _sign;
    double _norm;
    bool _inPlace = false;
    std::unique_ptr<std::remove_pointer_t<fftw_plan>, PlanDestroyer> _plan;
};

// A row-major two-dimensional plan of rows x cols values, matching the layout of Array.
class fft2d : public fftw {
  public:
    // Plans for in and out as described at fftw::makePlan.  Throws FftError when rows x cols
    // does not fit FFTW's int sizes, for a sign other than -1 or +1, a misaligned buffer or a
    // plan FFTW refuses (an empty size among them).
    fft2d(std::uint32_t rows, std::uint32_t cols, int sign, std::complex<double>* in,
          std::complex<double>* out);
    ~fft2d() override;

    std::uint32_t rows() const { return _rows; }
    std::uint32_t cols() const { return _cols; }

  protected:
    fftw_plan Plan(std::complex<double>* in, std::complex<double>* out) override;

  private:
    std::uint32_t _rows;
    std::uint32_t _cols;
};

}  // namespace lumetra
