#pragma once

// Dense row-major two-dimensional array: the one container of the model.
// Planes, filters, spectra, thresholds, edge masks and error maps are all Arrays.
// Value semantics: copies are deep, moves steal the buffer.
//
// An array made from other arrays takes its memory from the pool of the array it is made from
// (see PlanePool.h): a copy keeps its original's pool, and every stage that makes a plane of
// the size of its input (the edge detector, the morphology, the pooling and weight stages)
// asks the input's pool.  So the planes of one comparison all come from the engine's pool
// once its opponent planes do, and no stage needs to be told about it.

#include <cstdint>
#include <memory>
#include <ostream>
#include <type_traits>
#include <utility>
#include <vector>

#include "image/PlaneAllocator.h"

namespace lumetra {

// Asks an Array constructor to leave its elements as the memory holds them: for a plane whose
// every element is written before any is read.  Spares the pass that would zero it (and, on a
// fresh mapping, the page faults of that pass).
struct Uninitialised {};
inline constexpr Uninitialised kUninitialised{};

template <typename T>
class Array {
  public:
    Array() = default;

    // rows x cols elements, every one value-initialised (0, 0.0f, 0 + 0i).
    Array(std::uint32_t rows, std::uint32_t cols)
        : _rows(rows), _cols(cols), _data(static_cast<std::size_t>(rows) * cols, T()) {}

    // The same with its memory from `pool` (see PlanePool.h); copies of it take theirs from
    // the same pool.  A null pool is no pool.
    Array(std::uint32_t rows, std::uint32_t cols, std::shared_ptr<PlanePool> pool)
        : _rows(rows),
          _cols(cols),
          _data(static_cast<std::size_t>(rows) * cols, T(), PlaneAllocator<T>(std::move(pool))) {}

    // The same with every element left unset (default-initialised: indeterminate for numbers,
    // and a reused pool block keeps what was written to it).  Only for planes whose every
    // element is written before it is read.
    Array(std::uint32_t rows, std::uint32_t cols, std::shared_ptr<PlanePool> pool, Uninitialised)
        : _rows(rows),
          _cols(cols),
          _data(static_cast<std::size_t>(rows) * cols, PlaneAllocator<T>(std::move(pool))) {}

    Array(const Array&) = default;
    Array& operator=(const Array&) = default;

    Array(Array&& other) noexcept
        : _rows(std::exchange(other._rows, 0u)),
          _cols(std::exchange(other._cols, 0u)),
          _data(std::move(other._data)) {
        other._data.clear();
    }

    Array& operator=(Array&& other) noexcept {
        if (this != &other) {
            _rows = std::exchange(other._rows, 0u);
            _cols = std::exchange(other._cols, 0u);
            _data = std::move(other._data);
            other._data.clear();
        }
        return *this;
    }

    ~Array() = default;

    std::uint32_t rows() const { return _rows; }
    std::uint32_t cols() const { return _cols; }
    std::size_t size() const { return _data.size(); }

    // Element (r, c) at position r * cols + c; indices are not checked.
    T& operator()(std::uint32_t r, std::uint32_t c) {
        return _data[static_cast<std::size_t>(r) * _cols + c];
    }
    const T& operator()(std::uint32_t r, std::uint32_t c) const {
        return _data[static_cast<std::size_t>(r) * _cols + c];
    }

    // The pool the array's memory comes from (null: none).
    std::shared_ptr<PlanePool> pool() const { return _data.get_allocator().pool(); }

    T* data() { return _data.data(); }
    const T* data() const { return _data.data(); }

    // Mirrors the array left to right in place; the rows keep their order.
    Array& fliplr() {
        Array scratch(_rows, _cols, pool(), kUninitialised);
        for (std::uint32_t r = 0; r < _rows; ++r) {
            for (std::uint32_t c = 0; c < _cols; ++c) {
                scratch(r, c) = (*this)(r, _cols - 1 - c);
            }
        }
        *this = std::move(scratch);
        return *this;
    }

    friend bool operator==(const Array& a, const Array& b) {
        return a._rows == b._rows && a._cols == b._cols && a._data == b._data;
    }

  private:
    std::uint32_t _rows = 0;
    std::uint32_t _cols = 0;
    std::vector<T, PlaneAllocator<T>> _data;
};

// A copy of a with every element divided by s (integer division truncates toward zero).
template <typename T>
Array<T> operator/(const Array<T>& a, const T& s) {
    Array<T> result(a);
    T* p = result.data();
    for (std::size_t i = 0, n = result.size(); i < n; ++i) {
        p[i] = p[i] / s;
    }
    return result;
}

// Element-wise product over all elements of a; b must hold at least as many elements.
template <typename T>
Array<T> operator*(const Array<T>& a, const Array<T>& b) {
    Array<T> result(a);
    T* p = result.data();
    const T* q = b.data();
    for (std::size_t i = 0, n = result.size(); i < n; ++i) {
        p[i] = p[i] * q[i];
    }
    return result;
}

// Text dump: fixed notation, a tab after every element, one line per row.
template <typename T>
std::ostream& operator<<(std::ostream& out, const Array<T>& a) {
    out << std::fixed;
    for (std::uint32_t r = 0; r < a.rows(); ++r) {
        for (std::uint32_t c = 0; c < a.cols(); ++c) {
            if constexpr (std::is_same_v<T, float>) {
                out << static_cast<double>(a(r, c)) << '\t';
            } else {
                out << a(r, c) << '\t';
            }
        }
        out << std::endl;
    }
    return out;
}

}  // namespace lumetra
