#pragma once

// Test files with declared colour spaces and orientations, made in the tests themselves: a
// Display P3 ICC profile built by Little CMS from P3's primaries, D65 white and sRGB's tone
// curve; pixels converted between profiles by Little CMS; PNGs written by libpng with iCCP,
// sRGB, gAMA and eXIf chunks; EXIF blocks holding one Orientation tag.

#include <lcms2.h>
#include <png.h>

#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "image/Array.h"
#include "image/RgbImage.h"

namespace lumetra::testimages {

struct ProfileClose {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileClose>;
struct TransformDelete {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
struct CurveFree {
    void operator()(cmsToneCurve* curve) const { cmsFreeToneCurve(curve); }
};
struct MluFree {
    void operator()(cmsMLU* mlu) const { cmsMLUfree(mlu); }
};

inline std::vector<std::uint8_t> bytesOf(const Profile& profile) {
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile.get(), nullptr, &size);
    std::vector<std::uint8_t> bytes(size);
    if (!cmsSaveProfileToMem(profile.get(), bytes.data(), &size)) {
        throw std::runtime_error("cannot save the profile");
    }
    return bytes;
}

// Display P3: P3's primaries (SMPTE EG 432-1), D65 white, sRGB's tone curve.
inline std::vector<std::uint8_t> displayP3Profile() {
    const cmsCIExyY white{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
    const double srgbCurve[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    const std::unique_ptr<cmsToneCurve, CurveFree> curve(
        cmsBuildParametricToneCurve(nullptr, 4, srgbCurve));
    cmsToneCurve* curves[3] = {curve.get(), curve.get(), curve.get()};
    const Profile profile(cmsCreateRGBProfile(&white, &primaries, curves));
    const std::unique_ptr<cmsMLU, MluFree> description(cmsMLUalloc(nullptr, 1));
    cmsMLUsetASCII(description.get(), "en", "US", "Display P3");
    cmsWriteTag(profile.get(), cmsSigProfileDescriptionTag, description.get());
    return bytesOf(profile);
}

inline std::vector<std::uint8_t> srgbProfile() {
    return bytesOf(Profile(cmsCreate_sRGBProfile()));
}

// The 8-bit image's samples converted from the `from` profile to the `to` profile (relative
// colorimetric, float), rounded to 8 bits.
inline RgbImage convertedPixels(const RgbImage& image, const std::vector<std::uint8_t>& from,
                                const std::vector<std::uint8_t>& to) {
    const Profile in(cmsOpenProfileFromMem(from.data(), static_cast<cmsUInt32Number>(from.size())));
    const Profile out(cmsOpenProfileFromMem(to.data(), static_cast<cmsUInt32Number>(to.size())));
    const std::unique_ptr<void, TransformDelete> transform(
        cmsCreateTransform(in.get(), TYPE_RGB_FLT, out.get(), TYPE_RGB_FLT,
                           INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE));
    Array<unsigned> r(image.rows(), image.cols()), g(image.rows(), image.cols()),
        b(image.rows(), image.cols());
    for (std::uint32_t y = 0; y < image.rows(); ++y) {
        for (std::uint32_t x = 0; x < image.cols(); ++x) {
            const float rgb[3] = {image.R()(y, x) / 255.0f, image.G()(y, x) / 255.0f,
                                  image.B()(y, x) / 255.0f};
            float result[3];
            cmsDoTransform(transform.get(), rgb, result, 1);
            unsigned* planes[3] = {&r(y, x), &g(y, x), &b(y, x)};
            for (int k = 0; k < 3; ++k) {
                const double v = std::fmin(std::fmax(result[k], 0.0f), 1.0f);
                *planes[k] = static_cast<unsigned>(std::lround(v * 255.0));
            }
        }
    }
    return RgbImage(std::move(r), std::move(g), std::move(b), 255);
}

// A block of EXIF data with IFD0 holding one Orientation tag of `value`.
inline std::vector<std::uint8_t> exifBlock(std::uint16_t value, bool bigEndian = false,
                                           bool withExifPrefix = false) {
    std::vector<std::uint8_t> block;
    if (withExifPrefix) block = {'E', 'x', 'i', 'f', 0, 0};
    const auto u16 = [&](unsigned v) {
        if (bigEndian) {
            block.push_back(static_cast<std::uint8_t>(v >> 8));
            block.push_back(static_cast<std::uint8_t>(v));
        } else {
            block.push_back(static_cast<std::uint8_t>(v));
            block.push_back(static_cast<std::uint8_t>(v >> 8));
        }
    };
    const auto u32 = [&](unsigned v) {
        if (bigEndian) {
            u16(v >> 16);
            u16(v & 0xffff);
        } else {
            u16(v & 0xffff);
            u16(v >> 16);
        }
    };
    block.push_back(bigEndian ? 'M' : 'I');
    block.push_back(bigEndian ? 'M' : 'I');
    u16(42);
    u32(8);       // IFD0 right after the header
    u16(1);       // one entry
    u16(0x0112);  // Orientation
    u16(3);       // SHORT
    u32(1);       // one value
    u16(value);
    u16(0);  // the value field's other two bytes
    u32(0);  // no next directory
    return block;
}

// What a test PNG declares besides its pixels.
struct PngDeclarations {
    std::vector<std::uint8_t> icc;
    std::vector<std::uint8_t> exif;
    std::optional<double> gamma;
    bool srgb = false;
};

struct PngWrite {
    std::FILE* file;
    png_structp png;
    png_infop info;
    const PngDeclarations* declarations;
    std::uint32_t rows, cols;
    png_bytepp rowPointers;
};

inline void onPngWriteError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

inline void onPngWriteWarning(png_structp, png_const_charp) {}

// Only trivially destructible locals in the setjmp() frame.
inline bool writePngSteps(PngWrite& w) {
    if (setjmp(png_jmpbuf(w.png)) != 0) return false;
    png_init_io(w.png, w.file);
    png_set_IHDR(w.png, w.info, w.cols, w.rows, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    const PngDeclarations& d = *w.declarations;
    if (!d.icc.empty()) {
        png_set_iCCP(w.png, w.info, "profile", PNG_COMPRESSION_TYPE_BASE, d.icc.data(),
                     static_cast<png_uint_32>(d.icc.size()));
    }
    if (d.srgb) png_set_sRGB(w.png, w.info, PNG_sRGB_INTENT_PERCEPTUAL);
    if (d.gamma) png_set_gAMA(w.png, w.info, *d.gamma);
    if (!d.exif.empty()) {
        png_set_eXIf_1(w.png, w.info, static_cast<png_uint_32>(d.exif.size()),
                       const_cast<png_bytep>(d.exif.data()));
    }
    png_write_info(w.png, w.info);
    png_write_image(w.png, w.rowPointers);
    png_write_end(w.png, nullptr);
    return true;
}

// Writes the 8-bit image as an RGB PNG declaring what `declarations` says.  libpng checks an
// iCCP profile's header before it writes it; a profile it refuses is not written.
inline void writePng(const std::string& path, const RgbImage& image,
                     const PngDeclarations& declarations = {}) {
    std::vector<png_byte> pixels(std::size_t{image.rows()} * image.cols() * 3);
    std::vector<png_bytep> rows(image.rows());
    for (std::uint32_t y = 0; y < image.rows(); ++y) {
        rows[y] = pixels.data() + std::size_t{y} * image.cols() * 3;
        for (std::uint32_t x = 0; x < image.cols(); ++x) {
            rows[y][3 * x] = static_cast<png_byte>(image.R()(y, x));
            rows[y][3 * x + 1] = static_cast<png_byte>(image.G()(y, x));
            rows[y][3 * x + 2] = static_cast<png_byte>(image.B()(y, x));
        }
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw std::runtime_error("cannot write " + path);
    PngWrite w{file, nullptr, nullptr, &declarations, image.rows(), image.cols(), rows.data()};
    w.png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, onPngWriteError, onPngWriteWarning);
    w.info = png_create_info_struct(w.png);
    // Benign errors (an iCCP profile libpng doubts) are warnings, as when reading.
    png_set_benign_errors(w.png, 1);
    const bool ok = writePngSteps(w);
    png_destroy_write_struct(&w.png, &w.info);
    std::fclose(file);
    if (!ok) throw std::runtime_error("libpng could not write " + path);
}

// A rows x cols crop of the image at (top, left).
inline RgbImage crop(const RgbImage& image, std::uint32_t top, std::uint32_t left,
                     std::uint32_t rows, std::uint32_t cols) {
    Array<unsigned> r(rows, cols), g(rows, cols), b(rows, cols);
    for (std::uint32_t y = 0; y < rows; ++y) {
        for (std::uint32_t x = 0; x < cols; ++x) {
            r(y, x) = image.R()(top + y, left + x);
            g(y, x) = image.G()(top + y, left + x);
            b(y, x) = image.B()(top + y, left + x);
        }
    }
    return RgbImage(std::move(r), std::move(g), std::move(b), image.maxval());
}

}  // namespace lumetra::testimages
