#pragma once

// The metric engine: decomposes the original image once into 27 masked perceptual bands and
// its edge map, then scores any number of degraded images of the same size against them.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/BandIndex.h"
#include "engine/BandMasking.h"
#include "engine/Comparison.h"
#include "engine/Decomposition.h"
#include "engine/Parameters.h"
#include "engine/Spectrum.h"
#include "fft/RealFft2d.h"
#include "image/AccImage.h"
#include "image/Array.h"
#include "image/RgbImage.h"

namespace lumetra {

using Bands = std::array<Array<float>, kBandCount>;

// The smallest image side the model accepts.
inline constexpr std::uint32_t kMinImageSide = 8;

class Lumetra2 {
  public:
    // Throws SizeMismatchError when the original is smaller than 8 x 8 and ParameterError when
    // `parameters` does not validate.
    Lumetra2(const RgbImage& original, const Parameters& parameters,
             const ExecutionOptions& execution = {});
    // The same with the parameters one by one; `threads` bounds the threads one decomposition
    // uses (0: every core).
    Lumetra2(const RgbImage& original, float alpha, float beta, float co, float a, float b,
             bool intraA, bool interA, bool intraC1, bool interC1, bool intraC2, bool interC2,
             unsigned threads = 0);

    // Scores one degraded image.  Const and free of hidden state: safe to call from several
    // threads at once.  Throws SizeMismatchError when the size differs from the original's.
    Comparison operator()(const RgbImage& degraded) const;
    // The same, releasing the degraded image as soon as its opponent planes exist, so that it
    // takes no memory while the bands are made.
    Comparison operator()(RgbImage&& degraded) const;

    // Throws SizeMismatchError naming `path` when `degraded` is not the original's size:
    // "b.ppm" is 640 x 480 but the original is 512 x 512
    void checkSize(const std::string& path, const RgbImage& degraded) const;

    const Parameters& parameters() const { return _parameters; }
    std::uint32_t rows() const { return _rows; }
    std::uint32_t cols() const { return _cols; }

    // The original's masked bands and edge map, as the constructor left them.
    const Bands& reference() const { return _reference; }
    const Array<int>& referenceEdges() const { return _referenceEdges; }

    // Decomposes an opponent image of the original's size into its 27 masked bands.
    Bands decompose(const AccImage& image) const;

  private:
    // Throws SizeMismatchError "<subject> is W x H but the original is W x H".
    void requireOriginalSize(const std::string& subject, const RgbImage& degraded) const;
    void __decompose(const AccImage& image, Array<float>* bands) const;
    void __decompose(ChannelSpectra spectra, Array<float>* bands) const;
    // Scores the opponent image of a degraded image of the original's size.
    Comparison __score(AccImage opponent) const;
    // Scores the pooled error map of a degraded image with its edge map.
    Comparison __compare(Array<float> error, Array<int> edges) const;
    // The edge map of `image`, and the spectra of its planes into `spectra`: six independent
    // jobs shared out to the threads.
    Array<int> edgesAndSpectra(const AccImage& image, ChannelSpectra& spectra) const;
    MaskSwitches switches() const;
    DecompositionFilters filters() const;

    Parameters _parameters;
    unsigned _threads;
    std::uint32_t _rows;
    std::uint32_t _cols;
    // The contrast sensitivity filters of A, C1 and C2, each kept only where its channel's
    // band masks reach (the chromatic bands reach only low frequencies).
    std::array<CroppedPlane, 3> _sensitivity;
    // The 27 cortex band filters, each cropped to the rectangle where it is not zero: most of
    // every mask is zero, so products are taken only there and the masks take little memory.
    std::array<BandMask, kBandCount> _dcp;
    // Half-spectrum columns each channel's masks reach: its spectrum is kept only that wide.
    SpectrumWidths _spectrumWidths{};
    // Transform plans for the image size, made once and shared by every decomposition.
    std::unique_ptr<const RealFft2d> _fft;
    Bands _reference;
    Array<int> _referenceEdges;
};

// Maps a measure onto the 1..5 quality scale with slope a and offset b; -1 for a measure
// that is not a number or lies exactly on the lower bound.
float scoreOf(float mobj, float a, float b);

}  // namespace lumetra
