#include "image/RgbPicture.h"

#include "image/FileOutput.h"

namespace lumetra {

RgbPicture pictureOf(const RgbImage& image) {
    constexpr std::uint64_t kTop = 255;
    const std::uint64_t maxval = image.maxval();
    RgbPicture picture{image.cols(), image.rows(), {}};
    picture.rgb.resize(std::size_t{image.cols()} * image.rows() * RgbPicture::kChannels);
    const Array<unsigned>* planes[] = {&image.R(), &image.G(), &image.B()};
    for (std::size_t i = 0, n = std::size_t{image.cols()} * image.rows(); i < n; ++i) {
        for (std::size_t c = 0; c < RgbPicture::kChannels; ++c) {
            // Integer rounding of v * 255 / maxval: exact for every maxval up to 65535.
            const std::uint64_t v = planes[c]->data()[i];
            picture.rgb[i * RgbPicture::kChannels + c] =
                static_cast<std::uint8_t>((v * kTop * 2 + maxval) / (maxval * 2));
        }
    }
    return picture;
}

void writeRgbPicturePng(const std::string& path, const RgbPicture& picture) {
    writeRgbPng(path, picture.rgb, picture.width, picture.height);
}

}  // namespace lumetra
