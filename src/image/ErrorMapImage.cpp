#include "image/ErrorMapImage.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "image/Error.h"
#include "image/FileOutput.h"
#include "image/RgbImage.h"

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
    // The header exactly as writeFloatMapPfm writes it, numbers in plain decimal without a
    // sign, so that no reading of a hostile header (an overflowing number) is left to scanf.
    const auto expect = [&](const char* text) {
        for (const char* c = text; *c != '\0'; ++c) {
            if (std::fgetc(file.get()) != static_cast<unsigned char>(*c)) {
                throw fail("not a little-endian greyscale PFM written by lumetra");
            }
        }
    };
    const auto dimension = [&](int end) {
        std::uint64_t value = 0;
        int digits = 0;
        int c = std::fgetc(file.get());
        for (; c >= '0' && c <= '9'; c = std::fgetc(file.get()), ++digits) {
            value = value * 10 + static_cast<std::uint64_t>(c - '0');
            if (value > RgbImage::kMaxPixels) throw fail("map too large");
        }
        if (digits == 0 || c != end)
            throw fail("not a little-endian greyscale PFM written by lumetra");
        // Refused here, before any loop: a width of 0 would let a huge height through the
        // size checks and cost one read per row.
        if (value == 0) throw fail("width or height is 0");
        return static_cast<std::uint32_t>(value);
    };
    expect("Pf\n");
    const std::uint32_t cols = dimension(' ');
    const std::uint32_t rows = dimension('\n');
    expect("-1.0\n");
    // Both checks come before the map is allocated: the pixel limit of the image readers,
    // and a file long enough for its samples.
    const std::uint64_t samples = std::uint64_t{rows} * cols;
    if (samples > RgbImage::kMaxPixels) throw fail("map too large");
    const long start = std::ftell(file.get());
    if (start < 0 || std::fseek(file.get(), 0, SEEK_END) != 0) throw fail("cannot seek");
    const long end = std::ftell(file.get());
    if (end < start || static_cast<std::uint64_t>(end - start) < samples * sizeof(float)) {
        throw fail("the file is cut short");
    }
    if (std::fseek(file.get(), start, SEEK_SET) != 0) throw fail("cannot seek");
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
