#pragma once

// The cortex band filter bank: 27 real frequency-domain masks that split a channel's
// spectrum into radial crowns and, within each crown, orientation sectors.  The crowns' edges
// are fixed in cycles per degree, so where they fall in cycles per pixel follows the pixels
// per degree the image is seen at.  The masks are laid out for a spectrum whose zero
// frequency sits at (rows / 2, cols / 2).

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>

#include "image/Array.h"
#include "model/ViewingGeometry.h"

namespace lumetra {

class DcpFilter {
  public:
    static constexpr unsigned kBandCount = 27;

    // Builds all 27 masks for an image of rows x cols; (0, 0) gives 27 empty masks.
    // Up to `workers` threads of the caller's task arena share the work (0: all of them);
    // the masks do not depend on it.  `pixelsPerDegree` is > 0 and finite (not checked).
    DcpFilter(std::uint32_t rows, std::uint32_t cols, unsigned workers = 1,
              double pixelsPerDegree = kDefaultPixelsPerDegree);

    // Builds the 27 masks one after another without keeping them: each is handed to
    // take(i, mask) as soon as it is made, so at most a few full masks exist at once.  take
    // may be called from `workers` threads at once, for different masks.  The masks and the
    // planes they are made from come from `pool` when given.
    using MaskSink = std::function<void(unsigned, Array<float>)>;
    static void forEachMask(std::uint32_t rows, std::uint32_t cols, unsigned workers,
                            const MaskSink& take, double pixelsPerDegree = kDefaultPixelsPerDegree,
                            const std::shared_ptr<PlanePool>& pool = nullptr);

    // A mask on a rectangle of the grid that holds every element of it that is not zero (all
    // outside it are zero): element (row0 + i, col0 + j) of the mask is values(i, j).
    struct Window {
        std::uint32_t row0 = 0;
        std::uint32_t col0 = 0;
        Array<float> values;
    };
    // Builds the 27 masks as forEachMask does, each only on the rectangle of the grid that the
    // disc of its outer radius reaches, with the very values the whole mask has there: no
    // full-size mask or profile is made, only the radius and angle of every element (two
    // full-size planes, from `pool` when given, as are the windows).  The masks of one crown
    // share its ring, made once on their window: one more plane of that size while the crown's
    // masks are made.  Each window is handed to take(i, window) as soon as it is made, the
    // largest crowns first and the bases last; take may be called from `workers` threads at
    // once, for different masks.  rows and cols are not 0.
    using WindowSink = std::function<void(unsigned, Window)>;
    static void forEachMaskWindow(std::uint32_t rows, std::uint32_t cols, unsigned workers,
                                  const WindowSink& take,
                                  double pixelsPerDegree = kDefaultPixelsPerDegree,
                                  const std::shared_ptr<PlanePool>& pool = nullptr);

    std::uint32_t rows() const { return _rows; }
    std::uint32_t cols() const { return _cols; }

    // Mask i, 0 <= i < 27 (not checked): 0..16 A, 17..21 C1, 22..26 C2.
    const Array<float>& operator[](unsigned i) const { return _bands[i]; }

    const Array<float>& ABase() const { return _bands[0]; }
    const Array<float>& ASub21() const { return _bands[1]; }
    const Array<float>& ASub22() const { return _bands[2]; }
    const Array<float>& ASub23() const { return _bands[3]; }
    const Array<float>& ASub24() const { return _bands[4]; }
    const Array<float>& ASub31() const { return _bands[5]; }
    const Array<float>& ASub32() const { return _bands[6]; }
    const Array<float>& ASub33() const { return _bands[7]; }
    const Array<float>& ASub34() const { return _bands[8]; }
    const Array<float>& ASub35() const { return _bands[9]; }
    const Array<float>& ASub36() const { return _bands[10]; }
    const Array<float>& ASub41() const { return _bands[11]; }
    const Array<float>& ASub42() const { return _bands[12]; }
    const Array<float>& ASub43() const { return _bands[13]; }
    const Array<float>& ASub44() const { return _bands[14]; }
    const Array<float>& ASub45() const { return _bands[15]; }
    const Array<float>& ASub46() const { return _bands[16]; }
    const Array<float>& C1Base() const { return _bands[17]; }
    const Array<float>& C1Sub21() const { return _bands[18]; }
    const Array<float>& C1Sub22() const { return _bands[19]; }
    const Array<float>& C1Sub23() const { return _bands[20]; }
    const Array<float>& C1Sub24() const { return _bands[21]; }
    const Array<float>& C2Base() const { return _bands[22]; }
    const Array<float>& C2Sub21() const { return _bands[23]; }
    const Array<float>& C2Sub22() const { return _bands[24]; }
    const Array<float>& C2Sub23() const { return _bands[25]; }
    const Array<float>& C2Sub24() const { return _bands[26]; }

    // Printed name of band i ("A Base", "A 21", ..., "C2 24").
    static const char* name(unsigned i);

  private:
    struct ShapeOnly {};
    // Rows and columns only, no masks: for forEachMask.
    DcpFilter(std::uint32_t rows, std::uint32_t cols, double pixelsPerDegree, ShapeOnly)
        : _rows(rows), _cols(cols), _pixelsPerDegree(pixelsPerDegree) {}
    void buildMasks(unsigned workers, const MaskSink& take,
                    const std::shared_ptr<PlanePool>& pool = nullptr) const;

    std::uint32_t _rows;
    std::uint32_t _cols;
    double _pixelsPerDegree;
    std::array<Array<float>, kBandCount> _bands;
};

// Diagnostic dump: every mask preceded by its name line, in band order.
std::ostream& operator<<(std::ostream& out, const DcpFilter& dcp);

}  // namespace lumetra
