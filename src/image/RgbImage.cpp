#include "image/RgbImage.h"

// The image value type.  Reading a file is ImageFile's job: it tells the format from the
// file's first bytes and hands the file to that format's reader.

#include <stdexcept>
#include <utility>

#include "image/ImageFile.h"

namespace lumetra {
namespace {

bool sameSize(const Array<unsigned>& a, const Array<unsigned>& b) {
    return a.rows() == b.rows() && a.cols() == b.cols();
}

}  // namespace

RgbImage::RgbImage(std::string path, std::uint64_t maxPixels)
    : RgbImage(readImageFile(path, maxPixels)) {}

RgbImage::RgbImage(std::string path, std::uint64_t maxPixels, std::shared_ptr<PlanePool> pool)
    : RgbImage(readImageFile(path, maxPixels, std::move(pool))) {}

RgbImage::RgbImage(Array<unsigned> r, Array<unsigned> g, Array<unsigned> b, unsigned maxval)
    : _rows(r.rows()),
      _cols(r.cols()),
      _r(std::move(r)),
      _g(std::move(g)),
      _b(std::move(b)),
      _maxval(maxval) {
    if (!sameSize(_r, _g) || !sameSize(_r, _b)) {
        throw std::invalid_argument("RgbImage: the three planes differ in size");
    }
    if (_maxval == 0) throw std::invalid_argument("RgbImage: maxval is 0");
    for (const Array<unsigned>* plane : {&_r, &_g, &_b}) {
        const unsigned* p = plane->data();
        for (std::size_t i = 0, n = plane->size(); i < n; ++i) {
            if (p[i] > _maxval) throw std::invalid_argument("RgbImage: a sample exceeds maxval");
        }
    }
}

RgbImage::RgbImage(RgbImage&& other) noexcept
    : _rows(std::exchange(other._rows, 0u)),
      _cols(std::exchange(other._cols, 0u)),
      _r(std::move(other._r)),
      _g(std::move(other._g)),
      _b(std::move(other._b)),
      _maxval(std::exchange(other._maxval, kDefaultMaxval)) {}

RgbImage& RgbImage::operator=(RgbImage&& other) noexcept {
    if (this != &other) {
        _rows = std::exchange(other._rows, 0u);
        _cols = std::exchange(other._cols, 0u);
        _r = std::move(other._r);
        _g = std::move(other._g);
        _b = std::move(other._b);
        _maxval = std::exchange(other._maxval, kDefaultMaxval);
    }
    return *this;
}

std::ostream& operator<<(std::ostream& out, const RgbImage& image) {
    out << "R" << std::endl << image.R() << std::endl;
    out << "G" << std::endl << image.G() << std::endl;
    out << "B" << std::endl << image.B() << std::endl;
    return out;
}

}  // namespace lumetra
