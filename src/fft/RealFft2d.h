#pragma once

// Two-dimensional transforms of real planes with plans made once per size: the forward
// real-to-complex transform gives the non-redundant half of the spectrum (columns 0 .. cols/2),
// and the complex-to-real inverse turns a conjugate-symmetric half spectrum back into a real
// plane.  Both run in double precision.
//
// The inverse runs as its two passes: complex transforms down the columns of the half
// spectrum, then a complex-to-real transform of every row.  A band-limited spectrum is zero
// beyond some column, and the column pass skips those columns: the inverse of a narrow band
// costs little more than half of a full one.
//
// Plans are made with FFTW_ESTIMATE and executed with FFTW's new-array functions, so one
// RealFft2d serves any number of threads at once, each with its own Workspace.

#include <fftw3.h>

#include <complex>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "image/Array.h"
#include "image/PlanePool.h"

namespace lumetra {

class RealFft2d {
  public:
    // Scratch buffers of one thread: the half spectrum and one row each way for the row pass
    // of the inverse.  The forward transform needs the whole half spectrum, rows x
    // (cols / 2 + 1), row by row (and uses it, in place, for the real plane); an inverse of
    // usedCols columns keeps its half spectrum compact, rows x usedCols, row by row.
    class Workspace {
      public:
        std::complex<double>* half() { return _half.get(); }
        // Columns of half spectrum it holds per row at most.
        std::uint32_t width() const { return _width; }

      private:
        friend class RealFft2d;
        std::uint32_t _width = 0;
        struct Free {
            void operator()(void* p) const { fftw_free(p); }
        };
        // The half spectrum: from fftw_malloc, or from a pool when the workspace has one and
        // the block is large enough for it (mapped blocks are page-aligned, as FFTW wants).
        struct FreeHalf {
            std::shared_ptr<PlanePool> pool;
            std::size_t bytes;  // value-initialised (0) with the empty pointer
            void operator()(std::complex<double>* p) const;
        };
        std::unique_ptr<std::complex<double>[], FreeHalf> _half;
        std::unique_ptr<std::complex<double>[], Free> _rowIn;
        std::unique_ptr<double[], Free> _rowOut;
    };

    // Plans the forward transform and the inverses of full half spectra and of half spectra
    // whose columns from each of `inverseWidths` on are zero (each clamped to 1 ..
    // halfCols()); nothing is planned afterwards, so one object serves any number of threads.
    // Throws FftError when FFTW cannot plan the size or memory runs out.
    RealFft2d(std::uint32_t rows, std::uint32_t cols,
              const std::vector<std::uint32_t>& inverseWidths = {});
    ~RealFft2d();
    RealFft2d(const RealFft2d&) = delete;
    RealFft2d& operator=(const RealFft2d&) = delete;

    std::uint32_t rows() const { return _rows; }
    std::uint32_t cols() const { return _cols; }
    // Columns of the half spectrum: cols / 2 + 1.
    std::uint32_t halfCols() const { return _cols / 2 + 1; }

    // Scratch for transforms of up to `width` half-spectrum columns (the forward transform
    // needs the full width, the default).
    Workspace workspace() const { return workspace(halfCols()); }
    Workspace workspace(std::uint32_t width) const { return workspace(width, nullptr); }
    // The same with its half spectrum from `pool` when it is large enough (see PlanePool.h),
    // and given back to it when the workspace goes.
    Workspace workspace(std::uint32_t width, std::shared_ptr<PlanePool> pool) const;

    // Transforms plane / divisor (each quotient rounded to float) into ws.half(),
    // unnormalised.
    void forward(const Array<float>& plane, Workspace& ws, float divisor = 1.0f) const;

    // Inverse of a conjugate-symmetric half spectrum whose columns from `usedCols` on are
    // zero, given by its first usedCols columns in ws.half() (rows x usedCols, row by row),
    // divided by rows x cols and rounded to float into `out` (rows x cols).  Overwrites
    // ws.half().  `usedCols` must be one of the constructor's widths and fit the workspace
    // (FftError otherwise); the default is
    // the full width.
    void inverse(Workspace& ws, Array<float>& out) const { inverse(ws, out, halfCols()); }
    void inverse(Workspace& ws, Array<float>& out, std::uint32_t usedCols) const;

    // The inverse in its two passes, for a caller that wants the plane a strip of rows at a
    // time: inverseColumns transforms ws.half() (as inverse takes it) down its columns, in
    // place; inverseRows then writes rows [first, first + count) of the plane to `out` (count
    // rows of cols floats), the same floats inverse writes there.  inverseRows reads ws.half()
    // without changing it, so any number of threads may take strips of one workspace at once,
    // each with its own `row` scratch (of workspace(1), say).
    void inverseColumns(Workspace& ws, std::uint32_t usedCols) const;
    void inverseRows(const Workspace& ws, std::uint32_t usedCols, std::uint32_t first,
                     std::uint32_t count, float* out, Workspace& row) const;

  private:
    // Plans the column pass of inverses `usedCols` wide, once per width.
    void planColumnInverse(std::uint32_t usedCols);

    std::uint32_t _rows;
    std::uint32_t _cols;
    double _norm;
    fftw_plan _forward = nullptr;
    fftw_plan _rowInverse = nullptr;
    // Column passes by the number of columns they transform.
    std::map<std::uint32_t, fftw_plan> _columnInverse;
};

}  // namespace lumetra
