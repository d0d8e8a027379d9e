#pragma once

// Everything that decomposing an image of one size into its 27 bands reads, made once per
// engine: the contrast sensitivity filters of A, C1 and C2, the 27 cortex band masks and the
// transforms, planned for every band's width.
//
// Most of every band mask is zero, so each is kept only as the rectangle where it is not (its
// products are taken only there), and each sensitivity filter only where its channel's masks
// reach.  A channel's spectrum is needed only as wide as its masks reach in the half
// spectrum: the chromatic bands reach only low frequencies.

#include <array>
#include <cstdint>

#include "engine/BandIndex.h"
#include "engine/Spectrum.h"
#include "fft/RealFft2d.h"

namespace lumetra {

// The three channels of an opponent image and of its bands.
enum class Channel : unsigned { A = 0, C1 = 1, C2 = 2 };
inline constexpr unsigned kChannelCount = 3;

// The channel of band k.
inline Channel channelOf(unsigned k) {
    return k <= kALast ? Channel::A : (k <= kC1Last ? Channel::C1 : Channel::C2);
}

class BandFilters {
  public:
    // For an image of rows x cols seen at `pixelsPerDegree` (> 0 and finite, not checked).
    // Throws FftError when the transforms cannot be planned.  The full-size planes the masks
    // are made from come from `pool` when given (the filters keep none of them).
    BandFilters(std::uint32_t rows, std::uint32_t cols, double pixelsPerDegree,
                const std::shared_ptr<PlanePool>& pool = nullptr);

    std::uint32_t rows() const { return _fft.rows(); }
    std::uint32_t cols() const { return _fft.cols(); }
    const RealFft2d& fft() const { return _fft; }
    const BandMask& mask(unsigned k) const { return _masks[k]; }
    const CroppedPlane& sensitivity(Channel c) const {
        return _sensitivity[static_cast<unsigned>(c)];
    }
    // Half-spectrum columns the channel's masks reach (at least 1).
    std::uint32_t spectrumWidth(Channel c) const { return _widths[static_cast<unsigned>(c)]; }

  private:
    BandFilters(std::uint32_t rows, std::uint32_t cols, double pixelsPerDegree,
                std::array<BandMask, kBandCount> masks);

    std::array<BandMask, kBandCount> _masks;
    std::array<CroppedPlane, kChannelCount> _sensitivity;
    std::array<std::uint32_t, kChannelCount> _widths{1, 1, 1};
    RealFft2d _fft;
};

}  // namespace lumetra
