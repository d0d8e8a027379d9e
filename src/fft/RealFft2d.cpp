#include "fft/RealFft2d.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
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

// A half-spectrum buffer to plan on.  FFTW_ESTIMATE neither reads nor writes the arrays it
// plans for, so the buffer is never touched: it costs address space, not memory.
struct PlanningBuffer {
    explicit PlanningBuffer(std::size_t count)
        : data(static_cast<std::complex<double>*>(
              fftw_malloc(count * sizeof(std::complex<double>)))) {
        if (data == nullptr) throw FftError("Memory limits exceeded");
    }
    ~PlanningBuffer() { fftw_free(data); }
    PlanningBuffer(const PlanningBuffer&) = delete;
    PlanningBuffer& operator=(const PlanningBuffer&) = delete;
    std::complex<double>* data;
};

fftw_complex* asFftw(std::complex<double>* p) {
    return reinterpret_cast<fftw_complex*>(p);
}

}  // namespace

RealFft2d::RealFft2d(std::uint32_t rows, std::uint32_t cols,
                     const std::vector<std::uint32_t>& inverseWidths)
    : _rows(rows), _cols(cols), _norm(1.0 / (static_cast<double>(rows) * cols)) {
    if (rows == 0 || cols == 0 ||
        std::uint64_t{rows} * (cols / 2 + 1) * 2 >
            static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
        throw FftError("FFT size " + std::to_string(rows) + " x " + std::to_string(cols) +
                       " cannot be planned");
    }
    const PlanningBuffer half(static_cast<std::size_t>(rows) * halfCols());
    const PlanningBuffer rowIn(halfCols());
    const PlanningBuffer rowOut(cols / 2 + 1);  // cols doubles fit in cols / 2 + 1 complex
    const int r = static_cast<int>(rows);
    const int c = static_cast<int>(cols);
    // In place: the real plane's rows are padded to 2 (cols / 2 + 1) doubles.
    const int paddedCols = 2 * static_cast<int>(halfCols());
    const int halfColsInt = static_cast<int>(halfCols());
    const int dims[] = {r, c};
    const int realEmbed[] = {r, paddedCols};
    const int halfEmbed[] = {r, halfColsInt};
    {
        const auto lock = lockFftwPlanner();
        _forward =
            fftw_plan_many_dft_r2c(2, dims, 1, reinterpret_cast<double*>(half.data), realEmbed, 1,
                                   0, asFftw(half.data), halfEmbed, 1, 0, fftw::effort);
        _rowInverse = fftw_plan_dft_c2r_1d(c, asFftw(rowIn.data),
                                           reinterpret_cast<double*>(rowOut.data), fftw::effort);
    }
    if (_forward == nullptr || _rowInverse == nullptr) {
        const auto lock = lockFftwPlanner();
        if (_forward != nullptr) fftw_destroy_plan(_forward);
        if (_rowInverse != nullptr) fftw_destroy_plan(_rowInverse);
        throw FftError("Unable to construct FFTW plan");
    }
    try {
        planColumnInverse(halfCols());
        for (const std::uint32_t width : inverseWidths) planColumnInverse(width);
    } catch (...) {
        const auto lock = lockFftwPlanner();
        fftw_destroy_plan(_forward);
        fftw_destroy_plan(_rowInverse);
        for (const auto& [used, plan] : _columnInverse) fftw_destroy_plan(plan);
        throw;
    }
}

RealFft2d::~RealFft2d() {
    const auto lock = lockFftwPlanner();
    fftw_destroy_plan(_forward);
    fftw_destroy_plan(_rowInverse);
    for (const auto& [used, plan] : _columnInverse) fftw_destroy_plan(plan);
}

void RealFft2d::planColumnInverse(std::uint32_t usedCols) {
    usedCols = std::clamp(usedCols, 1u, halfCols());
    if (_columnInverse.count(usedCols) != 0) return;
    const PlanningBuffer half(static_cast<std::size_t>(_rows) * usedCols);
    const int n = static_cast<int>(_rows);
    const int stride = static_cast<int>(usedCols);
    fftw_plan plan = nullptr;
    {
        const auto lock = lockFftwPlanner();
        plan = fftw_plan_many_dft(1, &n, static_cast<int>(usedCols), asFftw(half.data), nullptr,
                                  stride, 1, asFftw(half.data), nullptr, stride, 1, FFTW_BACKWARD,
                                  fftw::effort);
    }
    if (plan == nullptr) throw FftError("Unable to construct FFTW plan");
    _columnInverse.emplace(usedCols, plan);
}

void RealFft2d::Workspace::FreeHalf::operator()(std::complex<double>* p) const {
    if (pool) {
        pool->give(p, bytes);
    } else {
        fftw_free(p);
    }
}

RealFft2d::Workspace RealFft2d::workspace(std::uint32_t width,
                                          std::shared_ptr<PlanePool> pool) const {
    Workspace ws;
    ws._width = std::clamp(width, 1u, halfCols());
    // The half spectrum is left as it comes: forward fills every real value the transform
    // reads, and an inverse's caller fills every column it uses.
    const std::size_t halfBytes =
        static_cast<std::size_t>(_rows) * ws._width * sizeof(std::complex<double>);
    if (pool && PlanePool::serves(halfBytes)) {
        void* block = nullptr;
        try {
            block = pool->take(halfBytes);
        } catch (const std::bad_alloc&) {
            throw FftError("Memory limits exceeded");
        }
        ws._half = std::unique_ptr<std::complex<double>[], Workspace::FreeHalf>(
            static_cast<std::complex<double>*>(block),
            Workspace::FreeHalf{std::move(pool), halfBytes});
    } else {
        ws._half.reset(static_cast<std::complex<double>*>(fftw_malloc(halfBytes)));
        if (!ws._half) throw FftError("Memory limits exceeded");
    }
    ws._rowIn.reset(allocate<std::complex<double>>(halfCols()));
    ws._rowOut.reset(allocate<double>(_cols));
    return ws;
}

void RealFft2d::forward(const Array<float>& plane, Workspace& ws, float divisor) const {
    if (ws.width() < halfCols()) throw FftError("workspace too narrow for a forward transform");
    auto* real = reinterpret_cast<double*>(ws.half());
    const std::size_t padded = 2 * static_cast<std::size_t>(halfCols());
    for (std::uint32_t r = 0; r < _rows; ++r) {
        const float* p = &plane(r, 0);
        double* row = real + r * padded;
        for (std::uint32_t c = 0; c < _cols; ++c) row[c] = static_cast<double>(p[c] / divisor);
    }
    fftw_execute_dft_r2c(_forward, real, asFftw(ws.half()));
}

void RealFft2d::inverse(Workspace& ws, Array<float>& out, std::uint32_t usedCols) const {
    inverseColumns(ws, usedCols);
    inverseRows(ws, usedCols, 0, _rows, out.data(), ws);
}

void RealFft2d::inverseColumns(Workspace& ws, std::uint32_t usedCols) const {
    usedCols = std::clamp(usedCols, 1u, halfCols());
    if (ws.width() < usedCols) throw FftError("workspace too narrow for the inverse transform");
    const auto column = _columnInverse.find(usedCols);
    if (column == _columnInverse.end()) {
        throw FftError("inverse transform of " + std::to_string(usedCols) +
                       " columns was not prepared");
    }
    fftw_execute_dft(column->second, asFftw(ws.half()), asFftw(ws.half()));
}

void RealFft2d::inverseRows(const Workspace& ws, std::uint32_t usedCols, std::uint32_t first,
                            std::uint32_t count, float* out, Workspace& row) const {
    usedCols = std::clamp(usedCols, 1u, halfCols());
    if (ws.width() < usedCols) throw FftError("workspace too narrow for the inverse transform");
    if (first > _rows || count > _rows - first) throw FftError("rows beyond the transform's");
    // Row by row: the used columns into a row buffer whose other columns are zero, then the
    // complex-to-real transform, which may overwrite its input.
    const std::size_t stride = usedCols;
    std::complex<double>* rowIn = row._rowIn.get();
    double* rowOut = row._rowOut.get();
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::complex<double>* source = ws._half.get() + (first + i) * stride;
        std::copy_n(source, usedCols, rowIn);
        std::fill(rowIn + usedCols, rowIn + halfCols(), std::complex<double>());
        fftw_execute_dft_c2r(_rowInverse, asFftw(rowIn), rowOut);
        float* o = out + std::size_t{i} * _cols;
        for (std::uint32_t c = 0; c < _cols; ++c) o[c] = static_cast<float>(rowOut[c] * _norm);
    }
}

}  // namespace lumetra
