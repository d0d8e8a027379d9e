#include "app/ErrorMapPicture.h"

#include <cstdint>

#include "image/ErrorMapImage.h"

namespace lumetra {

QImage errorMapImage(const Array<float>& map) {
    if (map.size() == 0) return QImage();
    const Array<std::uint8_t> levels = errorMapLevels(map);
    QImage image(static_cast<int>(map.cols()), static_cast<int>(map.rows()), QImage::Format_RGB32);
    if (image.isNull()) return image;  // too large to allocate
    for (std::uint32_t y = 0; y < map.rows(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)));
        for (std::uint32_t x = 0; x < map.cols(); ++x) line[x] = qRgb(0, 0, levels(y, x));
    }
    return image;
}

}  // namespace lumetra
