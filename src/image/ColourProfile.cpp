#include "image/ColourProfile.h"

// Little CMS, used for two things: telling whether a declared colour space is sRGB, and
// converting samples to sRGB.
//
// Each call makes its own Little CMS context, whose error handler keeps the first message in
// that context's user data, so nothing is shared between threads and nothing is printed.
// Every handle (context, profile, tone curve, transform) is held by a unique_ptr with the
// library's own release function.
//
// "Is it sRGB" is answered by what the profile does, not by its name: the profile's transform
// to sRGB is run on a grid of colours, and a profile that moves none of them by more than half
// an 8-bit step counts as sRGB (v2 and v4 sRGB profiles, compact ones, ones under other names).

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace lumetra {
namespace {

constexpr std::size_t kMessageLength = 200;
constexpr std::size_t kLongestName = 60;
// sRGB's white point (D65) and primaries as CIE xy, from IEC 61966-2-1.
constexpr double kSrgbWhite[2] = {0.3127, 0.3290};
constexpr double kSrgbPrimaries[3][2] = {{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}};
// sRGB's tone curve as Little CMS's parametric type 4: Y = (aX + b)^g above d, cX below.
constexpr double kSrgbCurve[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
constexpr int kParametricType4 = 4;
// A gAMA this close to 1 / 2.2 and a cHRM this close to sRGB's count as sRGB.
constexpr double kSrgbFileGamma = 1.0 / 2.2;
constexpr double kGammaRelativeTolerance = 0.01;
constexpr double kChromaticityTolerance = 0.01;
// A profile is sRGB when it moves no colour of the grid by more than half an 8-bit step: it
// would then change no 8-bit sample after rounding.
constexpr double kSrgbTolerance = 0.5 / 255.0;
constexpr int kGridSteps = 9;  // 9 x 9 x 9 colours, corners and midpoints included
constexpr double kLargest16Bit = 65535.0;

// Keeps the first error Little CMS reports in the context's user data.
void onLcmsError(cmsContext context, cmsUInt32Number, const char* text) {
    auto* message = static_cast<std::string*>(cmsGetContextUserData(context));
    if (message != nullptr && message->empty() && text != nullptr) *message = text;
}

struct ContextDelete {
    void operator()(cmsContext context) const { cmsDeleteContext(context); }
};
struct ProfileClose {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
struct TransformDelete {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
struct ToneCurveFree {
    void operator()(cmsToneCurve* curve) const { cmsFreeToneCurve(curve); }
};
using Profile = std::unique_ptr<void, ProfileClose>;
using Transform = std::unique_ptr<void, TransformDelete>;
using ToneCurve = std::unique_ptr<cmsToneCurve, ToneCurveFree>;

// One Little CMS context and the first error reported in it.  Not movable: the context holds
// the message's address.
class Lcms {
  public:
    Lcms() : _context(cmsCreateContext(nullptr, &_message)) {
        if (_context) cmsSetLogErrorHandlerTHR(_context.get(), onLcmsError);
    }
    Lcms(const Lcms&) = delete;
    Lcms& operator=(const Lcms&) = delete;

    cmsContext get() const { return _context.get(); }
    bool ok() const { return _context != nullptr; }
    // " (the message)" when Little CMS said something, else empty.
    std::string said() const { return _message.empty() ? "" : " (" + _message + ")"; }

    Profile srgb() const { return Profile(cmsCreate_sRGBProfileTHR(get())); }

    Transform toSrgb(const Profile& from, cmsUInt32Number format) const {
        const Profile srgbProfile = srgb();
        if (!srgbProfile) return nullptr;
        const cmsUInt32Number outFormat = TYPE_RGB_FLT;
        return Transform(cmsCreateTransformTHR(get(), from.get(), format, srgbProfile.get(),
                                               outFormat, INTENT_RELATIVE_COLORIMETRIC,
                                               cmsFLAGS_NOCACHE));
    }

  private:
    std::string _message;
    std::unique_ptr<_cmsContext_struct, ContextDelete> _context;
};

bool near(double a, double b, double tolerance) {
    return std::fabs(a - b) <= tolerance;
}

bool hasSrgbChromaticities(const Chromaticities& c) {
    const double got[4][2] = {
        {c.whiteX, c.whiteY}, {c.redX, c.redY}, {c.greenX, c.greenY}, {c.blueX, c.blueY}};
    const double* want[4] = {kSrgbWhite, kSrgbPrimaries[0], kSrgbPrimaries[1], kSrgbPrimaries[2]};
    for (int i = 0; i < 4; ++i) {
        if (!near(got[i][0], want[i][0], kChromaticityTolerance) ||
            !near(got[i][1], want[i][1], kChromaticityTolerance)) {
            return false;
        }
    }
    return true;
}

// A profile made of PNG's gAMA and cHRM: cHRM's white and primaries (sRGB's without it), a
// power curve of 1 / gAMA (sRGB's curve without it).
Profile profileOfChunks(const Lcms& lcms, const ImageMetadata& metadata) {
    const Chromaticities c = metadata.chromaticities.value_or(Chromaticities{
        kSrgbWhite[0], kSrgbWhite[1], kSrgbPrimaries[0][0], kSrgbPrimaries[0][1],
        kSrgbPrimaries[1][0], kSrgbPrimaries[1][1], kSrgbPrimaries[2][0], kSrgbPrimaries[2][1]});
    const cmsCIExyY white{c.whiteX, c.whiteY, 1.0};
    const cmsCIExyYTRIPLE primaries{
        {c.redX, c.redY, 1.0}, {c.greenX, c.greenY, 1.0}, {c.blueX, c.blueY, 1.0}};
    const ToneCurve curve(
        metadata.gamma ? cmsBuildGamma(lcms.get(), 1.0 / *metadata.gamma)
                       : cmsBuildParametricToneCurve(lcms.get(), kParametricType4, kSrgbCurve));
    if (!curve) return nullptr;
    cmsToneCurve* curves[3] = {curve.get(), curve.get(), curve.get()};
    return Profile(cmsCreateRGBProfileTHR(lcms.get(), &white, &primaries, curves));
}

// "gAMA 0.45455", "cHRM", "gAMA 1 with cHRM".
std::string chunksName(const ImageMetadata& metadata) {
    std::string name;
    if (metadata.gamma) {
        char number[32];
        std::snprintf(number, sizeof number, "%.5g", *metadata.gamma);
        name = std::string("gAMA ") + number;
    }
    if (metadata.chromaticities) name += name.empty() ? "cHRM" : " with cHRM";
    return name;
}

// The profile's English description, printable characters only, shortened.
std::string descriptionOf(const Profile& profile) {
    char text[kMessageLength] = {};
    cmsGetProfileInfoASCII(profile.get(), cmsInfoDescription, "en", "US", text, sizeof text);
    std::string name;
    for (const char* p = text; *p != '\0' && name.size() < kLongestName; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        name += c >= ' ' && c < 0x7f ? static_cast<char>(c) : '?';
    }
    return name.empty() ? "unnamed" : name;
}

// The input format a profile's data takes: RGB or grey floats, or 0 for any other.
cmsUInt32Number floatFormatOf(const Profile& profile) {
    switch (cmsGetColorSpace(profile.get())) {
        case cmsSigRgbData:
            return TYPE_RGB_FLT;
        case cmsSigGrayData:
            return TYPE_GRAY_FLT;
        default:
            return 0;
    }
}

// Whether the profile's transform to sRGB moves no colour of the grid (grey ramp for a grey
// profile) by more than kSrgbTolerance.
bool actsAsSrgb(const Lcms& lcms, const Profile& profile) {
    const cmsUInt32Number format = floatFormatOf(profile);
    const Transform transform = lcms.toSrgb(profile, format);
    if (!transform) return false;
    const bool grey = format == TYPE_GRAY_FLT;
    std::vector<float> in, out;
    constexpr float kStep = 1.0f / (kGridSteps - 1);
    for (int r = 0; r < kGridSteps; ++r) {
        for (int g = 0; g < (grey ? 1 : kGridSteps); ++g) {
            for (int b = 0; b < (grey ? 1 : kGridSteps); ++b) {
                in.push_back(static_cast<float>(r) * kStep);
                if (!grey) {
                    in.push_back(static_cast<float>(g) * kStep);
                    in.push_back(static_cast<float>(b) * kStep);
                }
            }
        }
    }
    const std::size_t colours = grey ? in.size() : in.size() / 3;
    out.resize(colours * 3);
    cmsDoTransform(transform.get(), in.data(), out.data(), static_cast<cmsUInt32Number>(colours));
    for (std::size_t i = 0; i < out.size(); ++i) {
        const float expected = grey ? in[i / 3] : in[i];
        if (!near(out[i], expected, kSrgbTolerance)) return false;
    }
    return true;
}

// The profile the metadata declares, with its name and identity; null profile when the
// declaration is sRGB by chunk or undeclared.
struct Declared {
    ColourSpace space;
    Profile profile;
};

Declared declare(const Lcms& lcms, const ImageMetadata& metadata) {
    Declared declared;
    ColourSpace& space = declared.space;
    if (metadata.srgbChunk) {
        space.kind = ColourKind::Srgb;
        space.name = "sRGB (PNG sRGB chunk)";
        return declared;
    }
    if (!metadata.iccProfile.empty()) {
        const auto size = static_cast<cmsUInt32Number>(metadata.iccProfile.size());
        declared.profile.reset(
            cmsOpenProfileFromMemTHR(lcms.get(), metadata.iccProfile.data(), size));
        if (!declared.profile) {
            space.kind = ColourKind::Unusable;
            space.name = "unreadable ICC profile";
            space.problem =
                "the ICC profile cannot be read" + lcms.said() + "; the samples are read as stored";
            space.identity = "unusable";
            return declared;
        }
        const std::string description = descriptionOf(declared.profile);
        if (floatFormatOf(declared.profile) == 0) {
            space.kind = ColourKind::Unusable;
            space.name = "ICC \"" + description + "\"";
            space.problem = "the ICC profile \"" + description +
                            "\" is not for RGB or grey samples; the samples are read as stored";
            space.identity = "unusable";
            declared.profile.reset();
            return declared;
        }
        if (!lcms.toSrgb(declared.profile, floatFormatOf(declared.profile))) {
            space.kind = ColourKind::Unusable;
            space.name = "ICC \"" + description + "\"";
            space.problem = "the ICC profile \"" + description + "\" cannot be converted to sRGB" +
                            lcms.said() + "; the samples are read as stored";
            space.identity = "unusable";
            declared.profile.reset();
            return declared;
        }
        if (actsAsSrgb(lcms, declared.profile)) {
            space.kind = ColourKind::Srgb;
            space.name = "sRGB (ICC \"" + description + "\")";
            return declared;
        }
        space.kind = ColourKind::Other;
        space.name = "ICC \"" + description + "\"";
        // The profile's MD5 (Little CMS leaves out the header fields that do not change the
        // colours): two files with the same profile declare the same space.
        cmsMD5computeID(declared.profile.get());
        cmsUInt8Number id[16] = {};
        cmsGetHeaderProfileID(declared.profile.get(), id);
        space.identity = "icc:";
        for (const cmsUInt8Number byte : id) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02x", byte);
            space.identity += hex;
        }
        return declared;
    }
    if (!metadata.gamma && !metadata.chromaticities) return declared;  // undeclared

    const std::string chunks = chunksName(metadata);
    const bool gammaIsSrgbs = !metadata.gamma || near(*metadata.gamma, kSrgbFileGamma,
                                                      kSrgbFileGamma * kGammaRelativeTolerance);
    const bool primariesAreSrgbs =
        !metadata.chromaticities || hasSrgbChromaticities(*metadata.chromaticities);
    declared.profile = profileOfChunks(lcms, metadata);
    if ((gammaIsSrgbs && primariesAreSrgbs) ||
        (declared.profile && actsAsSrgb(lcms, declared.profile))) {
        space.kind = ColourKind::Srgb;
        space.name = "sRGB (PNG " + chunks + ")";
        declared.profile.reset();
        return declared;
    }
    if (!declared.profile) {
        space.kind = ColourKind::Unusable;
        space.name = "PNG " + chunks;
        space.problem = "the PNG " + chunks + " chunks describe no usable colour space" +
                        lcms.said() + "; the samples are read as stored";
        space.identity = "unusable";
        return declared;
    }
    space.kind = ColourKind::Other;
    space.name = "PNG " + chunks;
    space.identity = "png:" + chunks;
    if (metadata.chromaticities) {
        const Chromaticities& c = *metadata.chromaticities;
        for (double v :
             {c.whiteX, c.whiteY, c.redX, c.redY, c.greenX, c.greenY, c.blueX, c.blueY}) {
            char number[32];
            std::snprintf(number, sizeof number, ",%.5f", v);
            space.identity += number;
        }
    }
    return declared;
}

bool isGrey(const RgbImage& image) {
    const unsigned *r = image.R().data(), *g = image.G().data(), *b = image.B().data();
    for (std::size_t i = 0, n = image.R().size(); i < n; ++i) {
        if (r[i] != g[i] || r[i] != b[i]) return false;
    }
    return true;
}

}  // namespace

ColourSpace declaredColourSpace(const ImageMetadata& metadata) {
    const Lcms lcms;
    if (!lcms.ok()) {
        ColourSpace space;
        space.kind = ColourKind::Unusable;
        space.name = "unchecked";
        space.identity = "unusable";
        space.problem = "Little CMS could not start; the samples are read as stored";
        return space;
    }
    return declare(lcms, metadata).space;
}

SrgbConversion convertedToSrgb(const RgbImage& image, const ImageMetadata& metadata,
                               const std::shared_ptr<PlanePool>& pool) {
    const Lcms lcms;
    if (!lcms.ok()) return {image, false, "Little CMS could not start; not converted"};
    const Declared declared = declare(lcms, metadata);
    if (declared.space.kind != ColourKind::Other) return {image, false, declared.space.problem};
    const cmsUInt32Number format = floatFormatOf(declared.profile);
    const bool grey = format == TYPE_GRAY_FLT;
    if (grey && !isGrey(image)) {
        return {image, false,
                "the grey ICC profile " + declared.space.name +
                    " comes with colour samples; the samples are read as stored"};
    }
    const Transform transform = lcms.toSrgb(declared.profile, format);
    if (!transform) {
        return {image, false,
                "no conversion from " + declared.space.name + " to sRGB" + lcms.said() +
                    "; the samples are read as stored"};
    }

    const std::uint32_t rows = image.rows(), cols = image.cols();
    const auto scale = static_cast<float>(1.0 / image.maxval());
    Array<unsigned> red(rows, cols, pool, kUninitialised), green(rows, cols, pool, kUninitialised),
        blue(rows, cols, pool, kUninitialised);
    unsigned* const planes[3] = {red.data(), green.data(), blue.data()};
    const std::size_t channelsIn = grey ? 1 : 3;
    std::vector<float> in(std::size_t{cols} * channelsIn), out(std::size_t{cols} * 3);
    for (std::uint32_t r = 0; r < rows; ++r) {
        const std::size_t first = std::size_t{r} * cols;
        for (std::uint32_t c = 0; c < cols; ++c) {
            in[c * channelsIn] = static_cast<float>(image.R().data()[first + c]) * scale;
            if (!grey) {
                in[c * 3 + 1] = static_cast<float>(image.G().data()[first + c]) * scale;
                in[c * 3 + 2] = static_cast<float>(image.B().data()[first + c]) * scale;
            }
        }
        cmsDoTransform(transform.get(), in.data(), out.data(), cols);
        for (std::uint32_t c = 0; c < cols; ++c) {
            for (std::size_t k = 0; k < 3; ++k) {
                const double value = std::clamp(static_cast<double>(out[c * 3 + k]), 0.0, 1.0);
                planes[k][first + c] = static_cast<unsigned>(std::lround(value * kLargest16Bit));
            }
        }
    }
    return {RgbImage(std::move(red), std::move(green), std::move(blue), 65535), true, {}};
}

}  // namespace lumetra
