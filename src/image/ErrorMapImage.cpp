#include "image/ErrorMapImage.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "image/Error.h"
#include "image/FileOutput.h"

namespace lumetra {

namespace {

constexpr int kFullLevel = 255;

// Largest value by a strict "greater than" walk from the first element: a NaN never wins.
float largestValue(const Array<float>& map) {
    const float* v = map.data();
    float m = v[0];
    for (std::size_t i = 1, n = map.size(); i < n; ++i) {
        if (v[i] > m) m = v[i];
    }
    return m;
}

// Truncates toward zero into a 64-bit integer; NaN and negative values count as 0.
std::int64_t truncated(float value) {
    if (!(value > 0.0f)) return 0;
    if (value >= static_cast<float>(std::numeric_limits<std::int64_t>::max() / kFullLevel)) {
        return std::numeric_limits<std::int64_t>::max() / kFullLevel;
    }
    return static_cast<std::int64_t>(value);
}

std::uint8_t clampLevel(std::int64_t level) {
    return static_cast<std::uint8_t>(level < 0 ? 0 : (level > kFullLevel ? kFullLevel : level));
}

}  // namespace

std::array<unsigned char, 4> littleEndianBytes(float value) {
    std::uint32_t bits = 0;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, &value, sizeof bits);
    std::array<unsigned char, 4> bytes{};
    for (unsigned char& byte : bytes) {
        byte = static_cast<unsigned char>(bits & 0xffu);
        bits >>= 8;
    }
    return bytes;
}

Array<std::uint8_t> errorMapLevels(const Array<float>& map) {
    Array<std::uint8_t> levels(map.rows(), map.cols());
    if (map.size() == 0) return levels;

    const float m = largestValue(map);
    if (!(m > 0.0f)) return levels;  // all zero, or led by a NaN: black

    const float* v = map.data();
    std::uint8_t* out = levels.data();
    const std::int64_t scale = truncated(m);
    if (scale >= 1) {
        // Integer rule: values and scale truncated before the division.
        for (std::size_t i = 0, n = map.size(); i < n; ++i) {
            out[i] = clampLevel(truncated(v[i]) * kFullLevel / scale);
        }
    } else {
        // A faint map (largest value below 1): the same formula in floating point.
        for (std::size_t i = 0, n = map.size(); i < n; ++i) {
            const float level = v[i] > 0.0f ? v[i] * static_cast<float>(kFullLevel) / m : 0.0f;
            out[i] = clampLevel(static_cast<std::int64_t>(level));
        }
    }
    return levels;
}

void writeErrorMapPng(const std::string& path, const Array<float>& map) {
    const Array<std::uint8_t> levels = errorMapLevels(map);
    if (levels.size() == 0) throw Error("cannot write \"" + path + "\": the error map is empty");
    constexpr int kChannels = 3;
    std::vector<std::uint8_t> rgb(levels.size() * kChannels, 0);
    for (std::size_t i = 0; i < levels.size(); ++i) rgb[i * kChannels + 2] = levels.data()[i];
    writeRgbPng(path, rgb, map.cols(), map.rows());
}

void writeFloatMapPfm(const std::string& path, const Array<float>& map) {
    writeFileAtomically(path, [&](std::FILE* file) {
        // A negative scale marks little-endian samples; they are written so on any host.
        bool ok = std::fprintf(file, "Pf\n%u %u\n-1.0\n", map.cols(), map.rows()) > 0;
        std::vector<unsigned char> bytes(static_cast<std::size_t>(map.cols()) * sizeof(float));
        for (std::uint32_t r = map.rows(); r-- > 0 && ok;) {
            const float* row = map.data() + static_cast<std::size_t>(r) * map.cols();
            for (std::uint32_t c = 0; c < map.cols(); ++c) {
                const std::array<unsigned char, 4> sample = littleEndianBytes(row[c]);
                std::copy(sample.begin(), sample.end(), bytes.begin() + std::ptrdiff_t{c} * 4);
            }
            ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        }
        return ok;
    });
}

Array<float> readFloatMapPfm(const std::string& path) {
    const auto fail = [&](const std::string& reason) {
        return ImageReadError("cannot read float map \"" + path + "\": " + reason);
    };
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                               &std::fclose);
    if (!file) throw fail(std::strerror(errno));
    unsigned cols = 0;
    unsigned rows = 0;
    char scale[8] = {};
    // The header as writeFloatMapPfm writes it; %7s stops at the line break.
    if (std::fscanf(file.get(), "Pf\n%u %u\n%7s", &cols, &rows, scale) != 3 ||
        std::string(scale) != "-1.0" || std::fgetc(file.get()) != '\n') {
        throw fail("not a little-endian greyscale PFM written by lumetra");
    }
    Array<float> map(rows, cols);
    std::vector<unsigned char> bytes(static_cast<std::size_t>(cols) * sizeof(float));
    for (std::uint32_t r = rows; r-- > 0;) {
        if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
            throw fail("the file is cut short");
        }
        for (std::uint32_t c = 0; c < cols; ++c) {
            std::uint32_t bits = 0;
            for (std::size_t k = sizeof bits; k-- > 0;) {
                bits = (bits << 8) | bytes[std::size_t{c} * sizeof bits + k];
            }
            std::memcpy(&map(r, c), &bits, sizeof bits);
        }
    }
    return map;
}

}  // namespace lumetra
