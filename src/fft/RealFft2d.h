#pragma once

// Two-dimensional transforms of real planes with plans made once per size: the forward
// real-to-complex transform gives the non-redundant half of the spectrum (columns 0 .. cols/2),
// and the complex-to-real inverse turns a conjugate-symmetric half spectrum back into a real
// plane.  Both run in double precision.
//
// Plans are made with FFTW_ESTIMATE when the object is built and executed with FFTW's
// new-array functions, so one RealFft2d serves any number of threads at once, each with its
// own Workspace.

#include <fftw3.h>

#include <complex>
#include <cstdint>
#include <memory>

#include "image/Array.h"

namespace lumetra {

class RealFft2d {
  public:
    // Scratch buffers of one transform: the real plane and the half spectrum.
    class Workspace {
      public:
        double* real() { return _real.get(); }
        std::complex<double>* half() { return _half.get(); }

      private:
        friend class RealFft2d;
        struct Free {
            void operator()(void* p) const { fftw_free(p); }
        };
        std::unique_ptr<double[], Free> _real;
        std::unique_ptr<std::complex<double>[], Free> _half;
    };

    // Throws FftError when FFTW cannot plan the size or memory runs out.
    RealFft2d(std::uint32_t rows, std::uint32_t cols);
    ~RealFft2d();
    RealFft2d(const RealFft2d&) = delete;
    RealFft2d& operator=(const RealFft2d&) = delete;

    std::uint32_t rows() const { return _rows; }
    std::uint32_t cols() const { return _cols; }
    // Columns of the half spectrum: cols / 2 + 1.
    std::uint32_t halfCols() const { return _cols / 2 + 1; }

    Workspace workspace() const;

    // Transforms `plane` (rows x cols) into ws.half(), unnormalised.
    void forward(const Array<float>& plane, Workspace& ws) const;

    // Inverse of the conjugate-symmetric half spectrum in ws.half() (which it overwrites),
    // divided by rows x cols and rounded to float into `out` (rows x cols).
    void inverse(Workspace& ws, Array<float>& out) const;

  private:
    std::uint32_t _rows;
    std::uint32_t _cols;
    double _norm;
    fftw_plan _forward = nullptr;
    fftw_plan _inverse = nullptr;
};

}  // namespace lumetra
