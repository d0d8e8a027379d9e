#include "image/RgbPicture.h"

#include "image/FileOutput.h"

namespace lumetra {

void writeRgbPicturePng(const std::string& path, const RgbPicture& picture) {
    writeRgbPng(path, picture.rgb, picture.width, picture.height);
}

}  // namespace lumetra
