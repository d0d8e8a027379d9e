#pragma once

// The colour image in the form the visual model works on: one achromatic plane A and two
// chromatic opponent planes C1 and C2, in single precision, computed from an RgbImage through
// a per-primary display response and a fixed 3 x 3 opponent matrix.

#include <cstdint>
#include <memory>
#include <ostream>

#include "image/Array.h"
#include "image/PlanePool.h"
#include "image/RgbImage.h"

namespace lumetra {

class AccImage {
  public:
    // An empty image: 0 rows, 0 columns, three 0 x 0 planes.
    AccImage() = default;

    // Converts every pixel of rgb (see AccImage.cpp); samples are taken relative to
    // rgb.maxval(), so an 8-bit file and its 16-bit copy (samples x 257) give the same planes.
    // The planes' memory comes from `pool` when given.
    explicit AccImage(const RgbImage& rgb, std::shared_ptr<PlanePool> pool = nullptr);

    AccImage(const AccImage&) = default;
    AccImage& operator=(const AccImage&) = default;
    // A moved-from image is empty, like a default-constructed one.
    AccImage(AccImage&& other) noexcept;
    AccImage& operator=(AccImage&& other) noexcept;
    virtual ~AccImage() = default;

    std::uint32_t rows() const { return _rows; }
    std::uint32_t cols() const { return _cols; }

    const Array<float>& A() const { return _a; }
    const Array<float>& C1() const { return _c1; }
    const Array<float>& C2() const { return _c2; }

  private:
    std::uint32_t _rows = 0;
    std::uint32_t _cols = 0;
    Array<float> _a;
    Array<float> _c1;
    Array<float> _c2;
};

// Text dump: for A, C1 and C2 in turn the label line, the plane (fixed notation, a tab after
// every value, one line per row) and one empty line.
std::ostream& operator<<(std::ostream& out, const AccImage& image);

}  // namespace lumetra
